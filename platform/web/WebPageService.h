#pragma once
// The work of a page's process, apart from its socket: one page at a time, read, styled, laid out,
// its pictures decoded and its areas painted, as the web view's commands ask (see
// WebPageProtocol.h). Each command gets exactly one reply, and each is one bounded piece of work.
//
// Pictures. A picture that comes (fetched, or written into the page as a data: URL, read when a
// layout first asks for it) is taken against the bytes of all the page's pictures and its header
// read: the page lays it out at its natural size at once, decoded or not. It is decoded later, at
// the fit the page's layouts show it at: by a paint that meets it (within the paint's own
// decoding budget, at least one picture), or by a Decode (one picture: those the latest paints
// met first, then the rest in the page's order). A picture shown clearly larger after it was
// decoded waits to be decoded again from the bytes kept, a few times at most. Decoded pictures
// share one budget of pixels: a decode that would pass it lets go of the decodes painted least
// recently (before the picture itself was last painted, and none the latest paint met; a
// picture no paint met lets go of none); a picture that still cannot fit is not decoded and
// rests, as does one let go, until a paint meets it again. A picture whose bytes are no picture,
// or past its own bounds (what decoding it would hold, its pixels; see WebPictureDecoding.h),
// fails: its box stays empty.
//
// Stylesheets. With LoadCommand::stylesheetsFirst, a page that links stylesheets is neither
// built nor laid out by its Load: a scan of its tags lists the sheets, and the Refresh that
// rebuilds once they are in builds and lays it out once.
//
// Everything a command brings is the page's, so hostile: the engine's own bounds apply to the
// page and its stylesheets, and the Load's WebPictureLimits to its pictures. When the engine
// fails on a page (anything thrown but std::bad_alloc, which is the process's to end on), the
// page answers as an empty one.
//
// One thread at a time.

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "foundation/NSData.h"
#include "graphics/CGImage.h"
#include "web/WebPageProtocol.h"
#include "web/WebPictureDecoding.h"

class WebDocument;

namespace detail::webpage {

class WebPageService {
  public:
    // How many times one picture is decoded again for a larger box.
    static constexpr int kMostRedecodes = 3;
    // The CPU time a paint may spend decoding the pictures it meets; past it (and once it has
    // decoded one), the pictures it meets are drawn empty and wait for a Decode.
    static constexpr std::chrono::milliseconds kPaintDecodeBudget{100};
    // The stylesheets a Load that waits for them finds at most.
    static constexpr std::size_t kMostLinkedStylesheets = 4096;

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
    // Pictures waiting to be decoded, as the replies say.
    std::uint32_t picturesToDecode() const;
    // A paint's decoding budget other than kPaintDecodeBudget (zero: one picture per paint).
    void setPaintDecodeBudget(std::chrono::nanoseconds budget) { paintDecodeBudget_ = budget; }

  private:
    static constexpr std::uint64_t kUnordered = ~std::uint64_t(0);

    struct Picture {
        const std::string* url = nullptr;  // its key in pictures_
        NSData bytes;                      // kept to decode (again); empty once it failed
        std::optional<WebPictureHeader> header;
        Ref<CGImage> image;
        long long decodedSide = 0;
        WebPictureFit fit;
        bool fitKnown = false;  // a layout has shown it (else the fit is the screen's)
        // Its place in the page's order: first listed by a layout (or come unlisted) first.
        std::uint64_t order = kUnordered;
        // The latest paint that met it (its serial) and when (the meeting's stamp); 0: none.
        std::uint64_t metPaint = 0, painted = 0;
        int redecodes = 0;
        bool failed = false;
        bool waiting = false;  // in waiting_ (and met_ once a paint met it)
        bool listed = false;   // a layout of the page lists it
    };
    // Waiting pictures the paints met: the latest paint first, then as that paint met them.
    using MetKey = std::pair<std::uint64_t, std::uint64_t>;
    // Decoded pictures, least recently painted first (never painted: 0), then in the page's order.
    using PaintedKey = std::pair<std::uint64_t, std::uint64_t>;

    LoadedReply load(const LoadCommand& command);
    AckReply stylesheet(const StylesheetCommand& command);
    AckReply picture(const PictureCommand& command);
    LaidOutReply refresh(const RefreshCommand& command);
    PixelsReply paint(const PaintCommand& command);
    LinkReply linkAt(const LinkAtCommand& command);
    DecodedReply decode(const DecodeCommand& command);

    void build();
    // Lays the page out at the viewport, puts what it now shows clearly larger in line to be
    // decoded again, and describes it.
    Layout layOut();
    Layout describe(double width, double height);
    // What a page that waits for its stylesheets says of itself.
    Layout awaiting(const std::vector<std::string>& stylesheets) const;
    // How large the last layout shows a picture.
    WebPictureFit fitOf(const std::string& url) const;
    // Whether a picture that came changes how the page lays out.
    bool needsLayout(const std::string& url) const;

    // The picture known by a URL; a data: URL the page asks for the first time is read here.
    Picture* known(const std::string& url);
    Picture& entry(const std::string& url);
    // Takes the picture's bytes against the byte budget and reads its header; whether it did.
    bool take(Picture& picture, NSData bytes);
    // Lets go of what a picture had (it comes again).
    void clear(Picture& picture);
    // The picture as the document sees it: while painting, met by the paint and decoded within
    // its budget.
    Ref<CGImage> image(const std::string& url);
    void meet(Picture& picture);
    // Decodes a waiting picture, letting go of decodes painted before `before`; whether the page
    // now shows it differently.
    bool decodeNow(Picture& picture, std::uint64_t before);
    // Lets go of decodes painted before `before` (not `self`) until `pixels` more fit.
    bool makeRoom(std::uint64_t pixels, std::uint64_t before, const Picture* self);
    void letGo(Picture& picture);
    // Drops the picture's decode from the budget and from what the document draws.
    void forgetImage(Picture& picture);
    void queue(Picture& picture);
    void unqueue(Picture& picture);
    MetKey metKey(const Picture& picture) const { return {~picture.metPaint, picture.painted}; }
    PaintedKey paintedKey(const Picture& picture) const { return {picture.painted, picture.order}; }

    std::optional<std::string> stylesheetText(const std::string& url) const;
    WebPictureFit defaultFit() const;
    // The screen's width in device pixels: what a picture shown at its own size is decoded for.
    double screenPixels() const;
    void reset();

    std::unique_ptr<WebDocument> document_;
    bool laidOut_ = false;  // the document has been laid out since it was built
    std::string html_;      // what the engine reads: the page's text, or a plain text's page
    std::string baseURL_;
    std::string encoding_;
    Viewport viewport_;
    WebPictureLimits limits_;
    // nullopt: the stylesheet failed.
    std::map<std::string, std::optional<std::string>> stylesheets_;
    std::map<std::string, Picture> pictures_;
    std::map<std::uint64_t, Picture*> waiting_;  // by the page's order
    std::map<MetKey, Picture*> met_;
    std::map<PaintedKey, Picture*> decoded_;
    std::uint64_t nextOrder_ = 0;
    std::uint64_t decodedPixels_ = 0;
    std::uint64_t pictureBytes_ = 0;
    // Paints: how many so far, the stamp of the latest one's first meeting, the last stamp given.
    std::uint64_t paints_ = 0, paintFrom_ = 1, meetings_ = 0;
    bool painting_ = false;
    bool paintDecoded_ = false;  // the paint under way has run a decode
    std::chrono::nanoseconds paintDecodeSpent_{0};
    std::chrono::nanoseconds paintDecodeBudget_ = kPaintDecodeBudget;
};

}  // namespace detail::webpage
