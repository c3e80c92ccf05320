#pragma once
// The work of a page's process, apart from its socket: one page at a time, read, styled, laid out,
// its pictures decoded and its areas painted, as the web view's commands ask (see
// WebPageProtocol.h). Each command gets exactly one reply.
//
// Everything a command brings is the page's, so hostile: the engine's own bounds apply to the
// page and its stylesheets, pictures are decoded within the Load's WebPictureLimits (one picture's
// decode, the decoded pixels and the encoded bytes of all of them together, the picture pixel
// bound), and pictures written into the page as data: URLs are read here, within the same
// budgets, and never asked of the web view. A picture the page later shows clearly larger is
// decoded again from the bytes kept, a few times at most; past the pixel budget the smaller
// decode stays. When the engine fails on a page (anything thrown but std::bad_alloc, which is the
// process's to end on), the page answers as an empty one.
//
// One thread at a time.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "foundation/NSData.h"
#include "graphics/CGImage.h"
#include "web/WebPageProtocol.h"

class WebDocument;

namespace detail::webpage {

class WebPageService {
  public:
    // How many times one picture is decoded again for a larger box.
    static constexpr int kMostRedecodes = 3;
    // How many pictures one page may write into itself as data: URLs; past them they fail, so
    // that a page of many tiny pictures does not spend its time decoding them.
    static constexpr std::size_t kMostDataPictures = 1000;

    WebPageService();
    ~WebPageService();
    WebPageService(const WebPageService&) = delete;
    WebPageService& operator=(const WebPageService&) = delete;

    Reply handle(const Command& command);

    // ---- for tests ------------------------------------------------------------------------------
    // Decoded pixels and encoded bytes the page's pictures hold against their budgets.
    std::uint64_t decodedPixelsInAll() const { return decodedPixels_; }
    std::uint64_t pictureBytesInAll() const { return pictureBytes_; }
    // A picture's decode by URL (fetched or data:), null when it has none.
    Ref<CGImage> pictureFor(const std::string& url) const;
    // How many times a picture was decoded again for a larger box.
    int redecodesOf(const std::string& url) const;

  private:
    struct Picture {
        NSData bytes;  // kept to decode again, empty once it failed
        Ref<CGImage> image;
        long long naturalWidth = 0, naturalHeight = 0;
        long long decodedSide = 0;
        WebPictureFit fit;
        int redecodes = 0;
        bool failed = false;
    };

    LoadedReply load(const LoadCommand& command);
    AckReply stylesheet(const StylesheetCommand& command);
    AckReply picture(const PictureCommand& command);
    LaidOutReply refresh(const RefreshCommand& command);
    PixelsReply paint(const PaintCommand& command);
    LinkReply linkAt(const LinkAtCommand& command);
    DecodedReply decode(const DecodeCommand& command);

    void build();
    // Lays the page out at the viewport, decodes larger what now shows larger, and describes it.
    Layout layOut();
    Layout describe(double width, double height, const std::map<std::string, WebPictureFit>& fits);
    // The fits the last layout shows each picture at, by URL.
    std::map<std::string, WebPictureFit> pictureFits() const;
    // Takes the picture's bytes against the byte budget and decodes them at its fit; whether it
    // decoded.
    bool accept(Picture& picture, NSData bytes);
    // Decodes the kept bytes again when the fit asks for clearly more than the decode has; whether
    // the decode changed.
    bool decodeLarger(Picture& picture);
    bool decode(Picture& picture);
    Ref<CGImage> image(const std::string& url);
    std::optional<std::string> stylesheetText(const std::string& url) const;
    WebPictureFit defaultFit() const;
    // The screen's width in device pixels: what a picture shown at its own size is decoded for.
    double screenPixels() const;
    void reset();

    std::unique_ptr<WebDocument> document_;
    std::string html_;  // what the engine reads: the page's text, or a plain text's page
    std::string baseURL_;
    std::string encoding_;
    Viewport viewport_;
    WebPictureLimits limits_;
    // nullopt: the stylesheet failed.
    std::map<std::string, std::optional<std::string>> stylesheets_;
    std::map<std::string, Picture> pictures_;
    // What every picture the page showed so far is shown at, the largest over its layouts: a
    // picture that comes is decoded for it.
    std::map<std::string, WebPictureFit> fits_;
    std::uint64_t decodedPixels_ = 0;
    std::uint64_t pictureBytes_ = 0;
    // data: pictures the page showed for the first time in the layout under way.
    std::set<std::string> newDataPictures_;
    std::size_t dataPictures_ = 0;
};

}  // namespace detail::webpage
