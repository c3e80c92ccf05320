#pragma once
// What a web view's page needs besides its own text: its stylesheets and pictures, fetched for one
// page and handed, as bytes, to the page's process, which reads and decodes them. Private to the
// web view.
//
// http and https go through the URL loading system (a connection whose callbacks come on the main
// run loop); file URLs are read from disk on a worker queue, as the page's file access allows: a
// page whose own URL is http or https reads no file at all (its file URLs fail at once, whatever
// its <base> says), any other page (a file, a string or data without a base, about:blank) reads
// only files inside the app's bundle resources folder, once symlinks and ".." are resolved. Only
// regular files are read (no device, pipe, socket or kernel file of /proc or /sys), within the
// same byte caps, silence time-out and deadline as over http. Every fetch ends: a reply silent
// for the time-out fails (the connection's own time-out, real time), a fetch still running at its
// deadline fails (a real-time alarm from its first request, across every redirect), a body past
// its byte cap fails, an HTTP status of 400 or more fails, and other schemes fail at once. At most
// maxConcurrent fetches run at once, the rest wait in the order asked; stylesheets past their
// count in all are not fetched (they fail). Pictures are not counted but bounded by their bytes
// in all (maxPictureBytesInAll, which the page's process holds to as well): a picture whose bytes
// would pass it fails, and after that no picture is fetched. Each resource is fetched
// once: the page's process keeps a picture's bytes and decodes it again larger when it must.
//
// A fetch that ends (bytes or failed) is handed over through `deliver` (main thread, possibly
// inside request() for what fails at once; the loader keeps nothing of its bytes), and the
// resource ends when the web view says its page's process took it in (delivered()). cancel() (and
// the destructor) stop every fetch; nothing is handed over after it. Whatever ends (a fetch, a
// failure, the process taking it in) costs the same however many resources the page asked for.
// Main thread only, except the work it sends to worker queues.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>

#include "foundation/NSData.h"
#include "foundation/NSObject.h"
#include "foundation/NSURL.h"
#include "web/WebPictureDecoding.h"

class NSURLConnection;

namespace detail {

// The fetch bounds; the picture bounds (WebPictureLimits) go to the page's process.
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
    int maxStylesheets = 64;
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
    // A fetch that ended: its bytes (nullopt: it failed) and the charset its reply named.
    using Deliver = std::function<void(Kind kind, const std::string& url, std::optional<NSData> bytes,
                                       const std::optional<std::string>& charset)>;
    WebResourceLoader(WebResourceLimits limits, WebFileAccess files, Deliver deliver);
    ~WebResourceLoader() override;
    std::string className() const override { return "UIWebViewResourceLoader"; }

    // Asks for a resource by absolute URL; a URL asked before is not fetched again.
    void request(Kind kind, const std::string& url);
    // The page's process took in what was delivered for the URL: the resource ends.
    void delivered(const std::string& url);
    // Resources asked for that have not ended.
    std::size_t pending(Kind kind) const { return pending_[index(kind)]; }
    bool idle() const { return pending(Kind::Stylesheet) == 0 && pending(Kind::Image) == 0; }
    void cancel();

    // ---- for the fetches -------------------------------------------------------------------------
    // The fetch's bytes (nullopt: it failed). `charset`: the one the reply named, if any. A fetch
    // number that is unknown or already ended does nothing.
    void finishBytes(std::uint64_t fetch, std::optional<NSData> bytes,
                     const std::optional<std::string>& charset = std::nullopt);

  private:
    struct Entry {
        Kind kind;
        bool done = false;
        bool handedOver = false;  // delivered, waiting for the process to take it in
        std::uint64_t fetch = 0;  // the running fetch's number, 0 when none
        Ref<NSURLConnection> connection;
        Ref<NSObject> delegate;
        std::unique_ptr<RealTimeAlarm> deadline;
    };
    // An entry with its URL. The map's nodes stay where they are as it grows, so the running
    // fetches and the waiting queue point at them rather than look their URLs up again.
    using Resource = std::pair<const std::string, Entry>;

    static std::size_t index(Kind kind) { return kind == Kind::Stylesheet ? 0 : 1; }
    void startWaiting();
    void start(Resource& resource);
    // The fetch is over: its bytes (or its failure) go to the page.
    void hand(Resource& resource, std::optional<NSData> bytes, const std::optional<std::string>& charset);
    void stopFetch(Entry& entry);
    // Past the fetch's deadline: it fails.
    void timedOut(std::uint64_t fetch);
    Resource* resourceForFetch(std::uint64_t fetch) const;

    WebResourceLimits limits_;
    WebFileAccess files_;
    Deliver deliver_;
    // A page may ask for a hundred thousand resources, and each one that ends is looked up,
    // counted and followed by the next one waiting: none of that walks the others.
    std::unordered_map<std::string, Entry> entries_;
    std::unordered_map<std::uint64_t, Resource*> fetches_;  // the running ones, by number
    std::deque<Resource*> waiting_;
    std::size_t pending_[2] = {0, 0};  // by kind: asked for and not ended
    int stylesheetsAsked_ = 0;
    std::uint64_t pictureBytes_ = 0;
    std::uint64_t nextFetch_ = 1;
    bool cancelled_ = false;
    bool startingWaiting_ = false;
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
