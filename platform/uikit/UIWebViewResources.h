#pragma once
// What a web view's page needs besides its own text: its stylesheets and pictures, fetched for one
// page and kept for it. Private to the web view.
//
// http and https go through the URL loading system (a connection whose callbacks come on the main
// run loop); file URLs are read from disk on a worker queue, as the page's file access allows: a
// page whose own URL is http or https reads no file at all (its file URLs fail at once, whatever
// its <base> says), any other page (a file, a string or data without a base, about:blank) reads
// only files inside the app's bundle resources folder, once symlinks and ".." are resolved. Only
// regular files are read (no device, pipe, socket or kernel file of /proc or /sys), within the
// same byte caps, silence time-out and deadline as over http. Pictures are decoded on a worker
// queue by the platform's image source, no larger than the page shows them: the size is read from
// the header first, pictures past the pixel bound are refused (a JPEG may still be decoded at an
// eighth of its size), and the rest come as a thumbnail that covers the box the page lays the
// picture out in at the screen's scale (WebPictureFit), else the view's width in pixels, never
// longer than the decode bound on its longer side. A page that gives a picture no size lays it out
// at its natural size from the header, capped by the decode bound. A picture asked for again with
// a larger box is fetched and decoded again, a bounded number of times, and shows its smaller
// decode meanwhile. A picture whose header says decoding it would hold more than its byte bound (a
// progressive JPEG keeps every coefficient whatever the scale) is refused undecoded, and the
// decodes of all web views wait their turn within one budget. Every fetch ends: a reply silent
// for the time-out fails (the connection's own time-out, real time), a fetch still running at its
// deadline fails (a real-time alarm from its first request, across every redirect; decoding is
// not counted), a body past its byte cap fails, an HTTP status of 400 or more fails, and other
// schemes fail at once. At most maxConcurrent fetches run at once, the rest wait in the order
// asked; stylesheets and pictures past their counts in all are not fetched (they fail).
//
// A failed resource answers nullopt / null, as one not in yet does.
// `changed` runs on the main thread after each resource that ends (in or failed), never inside a
// call of this class. cancel() (and the destructor) stop every fetch; nothing is told after it.
// Main thread only, except the work it sends to worker queues.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "foundation/NSObject.h"
#include "foundation/NSURL.h"
#include "graphics/CGImage.h"
#include "web/WebPictureDecoding.h"

class NSURLConnection;

namespace detail {

// The fetch bounds; the picture bounds (WebPictureLimits) are the page's process's.
struct WebResourceLimits : WebPictureLimits {
    // The page itself: bytes past this are not read (the page is what came up to there).
    std::size_t maxDocumentBytes = 16u << 20;
    // The page itself, from the start of its load: past this it fails as timed out and shows
    // what came (without its stylesheets and pictures). Real time.
    double documentDeadlineSeconds = 60;
    double timeoutSeconds = 15;   // silence before a fetch gives up
    double deadlineSeconds = 30;  // a fetch in all
    std::size_t maxStylesheetBytes = 2u << 20;
    std::size_t maxImageBytes = 16u << 20;
    int maxConcurrent = 6;
    int maxStylesheets = 32;
    int maxImages = 100;
};

// Which local files a page may read, from the page's own URL.
struct WebFileAccess {
    // Files must lie inside this folder; nullopt: no file at all.
    std::optional<std::string> folder;

    // None for an http or https page; the main bundle's resources folder for any other (or none).
    static WebFileAccess forPage(const Ref<NSURL>& pageURL);
    // The main bundle's resources folder.
    static WebFileAccess bundleOnly();
    // Whether the file URL names a file this access lets a page read (the file system decides at
    // the read; this is the look before, for links). Any thread.
    bool allows(const Ref<NSURL>& fileURL) const;
};

// Calls its handler once, on the main thread, after a span of real time: the network's time,
// which a test's manual platform clock does not stop (timers and dispatch_after follow that
// clock). A kernel timer watched by the main run loop in the common modes. Destroying the alarm
// first (on the main thread) calls nothing; the handler may destroy it. Made and destroyed on
// the main thread.
class RealTimeAlarm {
  public:
    RealTimeAlarm(double seconds, std::function<void()> handler);
    ~RealTimeAlarm();
    RealTimeAlarm(const RealTimeAlarm&) = delete;
    RealTimeAlarm& operator=(const RealTimeAlarm&) = delete;

  private:
    int fd_ = -1;
    std::uint64_t token_ = 0;
};

class WebResourceLoader : public NSObject {
  public:
    enum class Kind { Stylesheet, Image };
    WebResourceLoader(WebResourceLimits limits, WebFileAccess files, std::function<void(Kind)> changed);
    ~WebResourceLoader() override;
    std::string className() const override { return "UIWebViewResourceLoader"; }

    // Asks for a resource by absolute URL; a URL asked before is not fetched again, except a
    // picture asked for with a fit that needs a larger decode than it has (a bounded number of
    // times; it shows the decode it has meanwhile).
    void request(Kind kind, const std::string& url, const WebPictureFit& fit = {});
    std::optional<std::string> stylesheet(const std::string& url) const;
    Ref<CGImage> image(const std::string& url) const;
    // A picture's natural size from its header, its longer side capped by the decode bound;
    // nullopt while it has no decode.
    std::optional<std::pair<long long, long long>> imageSize(const std::string& url) const;
    // Resources asked for that have not ended.
    std::size_t pending(Kind kind) const;
    bool idle() const { return pending(Kind::Stylesheet) == 0 && pending(Kind::Image) == 0; }
    void cancel();
    // The encoding of the page, which its stylesheets that declare none are decoded by.
    void setDocumentEncoding(std::string encoding) { documentEncoding_ = std::move(encoding); }

    // ---- for the fetches -------------------------------------------------------------------------
    // The fetch's bytes (nullopt: it failed); a picture's go on to be decoded. `charset`: the one
    // the reply named, if any.
    void finishBytes(std::uint64_t fetch, std::optional<NSData> bytes,
                     const std::optional<std::string>& charset = std::nullopt);
    // A picture decoded (null: it could not be), with its natural size.
    struct Decoded {
        Ref<CGImage> image;
        long long naturalWidth = 0, naturalHeight = 0;
    };
    void finishImage(std::uint64_t fetch, Decoded decoded);

  private:
    struct Entry {
        Kind kind;
        bool done = false;
        std::optional<std::string> text;
        Ref<CGImage> image;
        // What the page shows the picture at, its natural size (capped) and the longer side it
        // was decoded at; how many times it was fetched again for a larger one.
        WebPictureFit fit;
        long long naturalWidth = 0, naturalHeight = 0;
        long long decodedSide = 0;
        int redecodes = 0;
        std::uint64_t fetch = 0;  // the running fetch's number, 0 when none
        bool decoding = false;    // its bytes are in: the deadline no longer runs
        Ref<NSURLConnection> connection;
        Ref<NSObject> delegate;
        std::unique_ptr<RealTimeAlarm> deadline;
    };
    void startWaiting();
    void start(const std::string& url, Entry& entry);
    void end(Entry& entry);
    void stopFetch(Entry& entry);
    // Past the fetch's deadline: it fails.
    void timedOut(std::uint64_t fetch);
    // Queues the picture to be fetched and decoded again when its fit asks for a larger decode
    // than it has and it may have one; whether it did.
    bool queueLargerDecode(const std::string& url, Entry& entry);
    // How many times one picture may be fetched and decoded again for a larger box.
    static constexpr int kMostRedecodes = 3;
    Entry* entryForFetch(std::uint64_t fetch);

    WebResourceLimits limits_;
    WebFileAccess files_;
    std::function<void(Kind)> changed_;
    std::map<std::string, Entry> entries_;
    std::deque<std::string> waiting_;
    int running_ = 0;
    int stylesheetsAsked_ = 0;
    int imagesAsked_ = 0;
    std::uint64_t nextFetch_ = 1;
    std::uint64_t decodedPixels_ = 0;
    bool cancelled_ = false;
    std::optional<std::string> documentEncoding_;
};

// The bounds of a file read besides its byte cap.
struct FileReadOptions {
    // A read that waits this long for bytes, or a file still coming past the deadline (from the
    // start of the read), ends the read as timed out.
    double silenceSeconds = 15;
    double deadlineSeconds = 30;
    // The file, its symlinks and ".." resolved, must lie inside this folder (itself resolved).
    std::optional<std::string> insideFolder;
};

// A regular file's first `cap` bytes; nullopt when it cannot be read, is no regular file (a
// device, pipe, socket, a kernel file of /proc or /sys), lies outside the folder asked for or
// took longer than the bounds (then `timedOut` is set). `more` tells whether the file held more
// than the cap. Never blocks on a pipe or device. Any thread.
std::optional<NSData> readFileUpTo(const std::string& path, std::size_t cap, bool* more = nullptr,
                                   const FileReadOptions& options = {}, bool* timedOut = nullptr);

}  // namespace detail
