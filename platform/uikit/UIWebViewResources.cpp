#include "uikit/UIWebViewResources.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

#include <fcntl.h>
#include <linux/magic.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/timerfd.h>
#include <sys/vfs.h>
#include <unistd.h>

#include "dispatch/Dispatch.h"
#include "foundation/NSBundle.h"
#include "foundation/NSRunLoop.h"
#include "foundation/NSString.h"
#include "foundation/NSURL.h"
#include "graphics/CGImageSource.h"
#include "network/NSURLConnection.h"
#include "network/NSURLRequest.h"
#include "network/NSURLResponse.h"
#include "web/WebPictureDecoding.h"
#include "web/WebTextDecoding.h"

namespace detail {

namespace {

using SteadyClock = std::chrono::steady_clock;

void onMainThread(std::function<void()> block) {
    NSRunLoop::mainRunLoop()->performBlock(std::move(block));
}

// What the pictures of every web view may hold while they decode, estimated from their headers:
// a decode starts when its estimate fits beside those running (or when none runs), the others
// wait in the order they came. No thread waits: a decode that ends starts the next that fits.
class DecodeBudget {
  public:
    static constexpr std::uint64_t kBytesAtOnce = 256ull << 20;

    static DecodeBudget& shared() {
        // Never destroyed: decodes may still end on worker threads as the process exits.
        static auto* budget = new DecodeBudget;
        return *budget;
    }

    void run(std::uint64_t bytes, std::function<void()> decode) {
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (!waiting_.empty() || !fits(bytes)) {
                waiting_.push_back({bytes, std::move(decode)});
                return;
            }
            inUse_ += bytes;
        }
        launch(bytes, std::move(decode));
    }

  private:
    struct Waiting {
        std::uint64_t bytes;
        std::function<void()> decode;
    };
    bool fits(std::uint64_t bytes) const { return inUse_ == 0 || inUse_ + bytes <= kBytesAtOnce; }
    void launch(std::uint64_t bytes, std::function<void()> decode) {
        dispatch_async(dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_DEFAULT),
                       [this, bytes, decode = std::move(decode)] {
                           decode();
                           release(bytes);
                       });
    }
    void release(std::uint64_t bytes) {
        std::vector<Waiting> admitted;
        {
            std::lock_guard<std::mutex> guard(lock_);
            inUse_ -= bytes;
            while (!waiting_.empty() && fits(waiting_.front().bytes)) {
                inUse_ += waiting_.front().bytes;
                admitted.push_back(std::move(waiting_.front()));
                waiting_.pop_front();
            }
        }
        for (auto& next : admitted) launch(next.bytes, std::move(next.decode));
    }

    std::mutex lock_;
    std::uint64_t inUse_ = 0;
    std::deque<Waiting> waiting_;
};

// One http or https fetch: collects the body within the bounds and hands it over. Its deadline is
// the loader's alarm.
class Fetch : public NSObject, public NSURLConnectionDataDelegate {
  public:
    Fetch(Weak<WebResourceLoader> loader, std::uint64_t fetch, std::size_t cap)
        : loader_(std::move(loader)), fetch_(fetch), cap_(cap) {}
    std::string className() const override { return "UIWebViewResourceFetch"; }

    void connectionDidReceiveResponse(const Ref<NSURLConnection>& connection,
                                      const Ref<NSURLResponse>& response) override {
        auto http = std::dynamic_pointer_cast<NSHTTPURLResponse>(response);
        if (http && http->statusCode() >= 400) return stop(connection);
        data_ = NSData();
        if (response) charset_ = response->textEncodingName();
        if (response && response->expectedContentLength() > static_cast<long long>(cap_))
            return stop(connection);
    }
    void connectionDidReceiveData(const Ref<NSURLConnection>& connection, const NSData& data) override {
        if (ended_) return;
        if (data_.length() + data.length() > cap_) return stop(connection);
        data_.appendData(data);
    }
    void connectionDidFinishLoading(const Ref<NSURLConnection>&) override {
        if (ended_) return;
        ended_ = true;
        hand(std::move(data_));
    }
    void connectionDidFailWithError(const Ref<NSURLConnection>&, const Ref<NSError>&) override {
        if (ended_) return;
        ended_ = true;
        hand(std::nullopt);
    }

  private:
    void stop(const Ref<NSURLConnection>& connection) {
        if (ended_) return;
        ended_ = true;
        if (connection) connection->cancel();
        hand(std::nullopt);
    }
    void hand(std::optional<NSData> bytes) {
        if (auto loader = loader_.lock()) loader->finishBytes(fetch_, std::move(bytes), charset_);
    }

    Weak<WebResourceLoader> loader_;
    std::uint64_t fetch_;
    std::size_t cap_;
    NSData data_;
    std::optional<std::string> charset_;
    bool ended_ = false;
};

// Decodes on a worker queue, when the process's decoding budget has room for what the picture's
// header says it needs, and hands the picture back on the main thread. A picture past its own
// bound fails at once, without waiting for room.
void decodeElsewhere(Weak<WebResourceLoader> loader, std::uint64_t fetch, NSData bytes,
                     const WebResourceLimits& limits, const WebPictureFit& fit) {
    auto handBack = [loader, fetch](WebResourceLoader::Decoded decoded) {
        onMainThread([loader, fetch, decoded = std::move(decoded)]() mutable {
            if (auto l = loader.lock()) l->finishImage(fetch, std::move(decoded));
        });
    };
    dispatch_async(dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_DEFAULT),
                   [loader, handBack, bytes = std::move(bytes), limits, fit]() mutable {
                       const auto needed = webPictureDecodeBytes(bytes, limits, fit);
                       if (!needed || *needed > limits.maxPictureDecodeBytes) return handBack({});
                       DecodeBudget::shared().run(*needed, [loader, handBack, bytes, limits, fit]() mutable {
                           WebResourceLoader::Decoded decoded;
                           // A page gone while its picture waited would see nothing of it.
                           if (!loader.expired())
                               decoded.image = decodeWebPicture(bytes, limits, fit, &decoded.naturalWidth,
                                                                &decoded.naturalHeight);
                           bytes = NSData();
                           handBack(std::move(decoded));
                       });
                   });
}

SteadyClock::duration secondsOf(double seconds) {
    // Past a year is as good as never, and keeps the sum with now() from overflowing.
    seconds = seconds > 0 ? std::min(seconds, 365.0 * 24 * 3600) : 0.0;
    return std::chrono::duration_cast<SteadyClock::duration>(std::chrono::duration<double>(seconds));
}

std::optional<std::string> realPath(const std::string& path) {
    if (path.empty() || path.find('\0') != std::string::npos) return std::nullopt;
    char* real = ::realpath(path.c_str(), nullptr);
    if (!real) return std::nullopt;
    std::string out(real);
    std::free(real);
    return out;
}

// The real path of `path` (symlinks and ".." resolved) when it lies inside the real `folder`.
std::optional<std::string> realPathInside(const std::string& path, const std::string& folder) {
    auto root = realPath(folder);
    auto real = realPath(path);
    if (!root || !real) return std::nullopt;
    if (root->back() != '/') *root += '/';
    if (real->size() <= root->size() || real->compare(0, root->size(), *root) != 0) return std::nullopt;
    return real;
}

// The file systems that show kernel state as files (/proc and what is mounted under /sys): what
// they hold is the process's or the machine's, never a page's, and some never end.
bool kernelFileSystem(unsigned long type) {
    switch (type) {
        case PROC_SUPER_MAGIC:
        case SYSFS_MAGIC:
        case DEBUGFS_MAGIC:
        case TRACEFS_MAGIC:
        case SECURITYFS_MAGIC:
        case CGROUP_SUPER_MAGIC:
        case CGROUP2_SUPER_MAGIC:
        case BPF_FS_MAGIC:
        case EFIVARFS_MAGIC:
        case PSTOREFS_MAGIC:
            return true;
        default:
            return false;
    }
}

class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
};

}  // namespace

WebFileAccess WebFileAccess::forPage(const Ref<NSURL>& pageURL) {
    if (pageURL) {
        const auto scheme = pageURL->scheme();
        if (scheme && (NSString::caseInsensitiveCompare(*scheme, "http") == NSOrderedSame ||
                       NSString::caseInsensitiveCompare(*scheme, "https") == NSOrderedSame))
            return {};
    }
    return bundleOnly();
}

WebFileAccess WebFileAccess::bundleOnly() {
    return WebFileAccess{NSBundle::mainBundle()->resourcePath()};
}

bool WebFileAccess::allows(const Ref<NSURL>& fileURL) const {
    if (!folder || !fileURL || !fileURL->isFileURL()) return false;
    return realPathInside(fileURL->path(), *folder).has_value();
}

std::optional<NSData> readFileUpTo(const std::string& path, std::size_t cap, bool* more,
                                   const FileReadOptions& options, bool* timedOut) {
    if (more) *more = false;
    if (timedOut) *timedOut = false;
    if (path.empty() || path.find('\0') != std::string::npos) return std::nullopt;
    std::string target = path;
    int flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
    if (options.insideFolder) {
        auto inside = realPathInside(path, *options.insideFolder);
        if (!inside) return std::nullopt;
        target = *inside;
        // Resolved already: a symlink put in its place since is not followed out.
        flags |= O_NOFOLLOW;
    }
    struct stat status {};
    // A device or a pipe is not even opened: opening some has effects of its own.
    if (::stat(target.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
    FileDescriptor file(::open(target.c_str(), flags));
    if (file.get() < 0) return std::nullopt;
    // What was opened is what counts (the path may have changed since the look).
    struct statfs system {};
    if (::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
    if (::fstatfs(file.get(), &system) != 0 || kernelFileSystem(static_cast<unsigned long>(system.f_type)))
        return std::nullopt;

    const auto begin = SteadyClock::now();
    const auto deadline = begin + secondsOf(options.deadlineSeconds);
    const auto silence = secondsOf(options.silenceSeconds);
    auto lastBytes = begin;
    std::vector<std::uint8_t> bytes;
    std::vector<std::uint8_t> buffer(64 * 1024);
    bool over = false;
    while (true) {
        // One byte past the cap tells whether there is more.
        const std::size_t want = std::min(buffer.size(), cap - bytes.size() + 1);
        const ssize_t n = ::read(file.get(), buffer.data(), want);
        const auto now = SteadyClock::now();
        if (n < 0 && errno != EINTR && errno != EAGAIN) return std::nullopt;
        if (n > 0) lastBytes = now;
        if (now > deadline || now - lastBytes > silence) {
            if (timedOut) *timedOut = true;
            return std::nullopt;
        }
        if (n < 0) {
            if (errno == EAGAIN) {
                pollfd wait{file.get(), POLLIN, 0};
                ::poll(&wait, 1, 50);
            }
            continue;
        }
        if (n == 0) break;
        const std::size_t got = static_cast<std::size_t>(n);
        if (bytes.size() + got > cap) {
            bytes.insert(bytes.end(), buffer.begin(), buffer.begin() + std::ptrdiff_t(cap - bytes.size()));
            over = true;
            break;
        }
        bytes.insert(bytes.end(), buffer.begin(), buffer.begin() + std::ptrdiff_t(got));
    }
    if (more) *more = over;
    return NSData(std::move(bytes));
}

RealTimeAlarm::RealTimeAlarm(double seconds, std::function<void()> handler) {
    fd_ = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (fd_ < 0) return;
    // A zero time would disarm the timer: the earliest is a nanosecond.
    const double span = seconds > 1e-9 ? std::min(seconds, 365.0 * 24 * 3600) : 1e-9;
    itimerspec when{};
    when.it_value.tv_sec = static_cast<time_t>(span);
    when.it_value.tv_nsec = static_cast<long>((span - std::floor(span)) * 1e9);
    if (when.it_value.tv_sec == 0 && when.it_value.tv_nsec == 0) when.it_value.tv_nsec = 1;
    if (::timerfd_settime(fd_, 0, &when, nullptr) != 0) return;
    const int fd = fd_;
    token_ = NSRunLoop::mainRunLoop()->addFileDescriptorSource(
        fd, POLLIN,
        [fd, handler = std::move(handler)](short) {
            std::uint64_t expirations = 0;
            if (::read(fd, &expirations, sizeof expirations) != sizeof expirations) return;
            // The handler may destroy the alarm: nothing of it is used after.
            handler();
        },
        {NSRunLoopCommonModes});
}

RealTimeAlarm::~RealTimeAlarm() {
    if (token_) NSRunLoop::mainRunLoop()->removeFileDescriptorSource(token_);
    if (fd_ >= 0) ::close(fd_);
}

WebResourceLoader::WebResourceLoader(WebResourceLimits limits, WebFileAccess files,
                                     std::function<void(Kind)> changed)
    : limits_(limits), files_(std::move(files)), changed_(std::move(changed)) {}

WebResourceLoader::~WebResourceLoader() {
    cancel();
}

void WebResourceLoader::cancel() {
    cancelled_ = true;
    waiting_.clear();
    for (auto& [url, entry] : entries_) stopFetch(entry);
    running_ = 0;
}

void WebResourceLoader::stopFetch(Entry& entry) {
    entry.deadline.reset();
    if (entry.connection) entry.connection->cancel();
    entry.connection = nullptr;
    entry.delegate = nullptr;
    entry.fetch = 0;
    entry.decoding = false;
}

void WebResourceLoader::request(Kind kind, const std::string& url, const WebPictureFit& fit) {
    if (cancelled_ || url.empty()) return;
    if (auto found = entries_.find(url); found != entries_.end()) {
        Entry& entry = found->second;
        if (entry.kind != Kind::Image || kind != Kind::Image) return;
        entry.fit = entry.fit.joined(fit);
        // A decode still to come takes the new fit; one under way is looked at again when it ends.
        if (entry.done && queueLargerDecode(url, entry)) startWaiting();
        return;
    }
    Entry& entry = entries_[url];
    entry.kind = kind;
    entry.fit = fit;
    // A page from the network never reaches a local file: it fails at once, waiting for nothing.
    if (!files_.folder) {
        Ref<NSURL> address = NSURL::URLWithString(url);
        if (address && address->isFileURL()) {
            end(entry);
            return;
        }
    }
    int& asked = kind == Kind::Image ? imagesAsked_ : stylesheetsAsked_;
    const int most = kind == Kind::Image ? limits_.maxImages : limits_.maxStylesheets;
    if (asked >= most) {
        end(entry);
        return;
    }
    ++asked;
    waiting_.push_back(url);
    startWaiting();
}

std::optional<std::string> WebResourceLoader::stylesheet(const std::string& url) const {
    auto it = entries_.find(url);
    return it == entries_.end() ? std::nullopt : it->second.text;
}

Ref<CGImage> WebResourceLoader::image(const std::string& url) const {
    auto it = entries_.find(url);
    return it == entries_.end() ? nullptr : it->second.image;
}

std::optional<std::pair<long long, long long>> WebResourceLoader::imageSize(const std::string& url) const {
    auto it = entries_.find(url);
    if (it == entries_.end() || !it->second.image) return std::nullopt;
    return std::make_pair(it->second.naturalWidth, it->second.naturalHeight);
}

std::size_t WebResourceLoader::pending(Kind kind) const {
    std::size_t count = 0;
    for (const auto& [url, entry] : entries_)
        if (entry.kind == kind && !entry.done) ++count;
    return count;
}

bool WebResourceLoader::queueLargerDecode(const std::string& url, Entry& entry) {
    if (!entry.image || entry.redecodes >= kMostRedecodes) return false;
    // A few pixels more are not worth a fetch (and the capped natural size rounds).
    const long long side = entry.fit.side(entry.naturalWidth, entry.naturalHeight, limits_.maxDecodedSide);
    if (side <= entry.decodedSide + std::max<long long>(2, entry.decodedSide / 16)) return false;
    ++entry.redecodes;
    entry.done = false;
    waiting_.push_back(url);
    return true;
}

void WebResourceLoader::startWaiting() {
    while (!cancelled_ && running_ < std::max(1, limits_.maxConcurrent) && !waiting_.empty()) {
        std::string url = waiting_.front();
        waiting_.pop_front();
        auto it = entries_.find(url);
        if (it == entries_.end() || it->second.done || it->second.fetch != 0) continue;
        start(url, it->second);
    }
}

void WebResourceLoader::start(const std::string& url, Entry& entry) {
    Ref<NSURL> address = NSURL::URLWithString(url);
    const std::uint64_t fetch = nextFetch_++;
    Weak<WebResourceLoader> weak = std::static_pointer_cast<WebResourceLoader>(shared_from_this());
    const std::size_t cap = entry.kind == Kind::Image ? limits_.maxImageBytes : limits_.maxStylesheetBytes;
    if (address && address->isFileURL()) {
        entry.fetch = fetch;
        ++running_;
        const std::string path = address->path();
        FileReadOptions options;
        options.silenceSeconds = limits_.timeoutSeconds;
        options.deadlineSeconds = limits_.deadlineSeconds;
        options.insideFolder = files_.folder;
        dispatch_async(dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_DEFAULT),
                       [weak, fetch, cap, path, options] {
                           bool more = false;
                           std::optional<NSData> bytes = readFileUpTo(path, cap, &more, options);
                           if (more) bytes.reset();
                           onMainThread([weak, fetch, bytes = std::move(bytes)]() mutable {
                               if (auto loader = weak.lock()) loader->finishBytes(fetch, std::move(bytes));
                           });
                       });
    } else {
        Ref<NSURLRequest> request =
            address ? NSURLRequest::requestWithURL(address, NSURLRequestUseProtocolCachePolicy,
                                                   limits_.timeoutSeconds)
                    : nullptr;
        if (!request || !NSURLConnection::canHandleRequest(request)) {
            end(entry);
            return;
        }
        entry.fetch = fetch;
        ++running_;
        auto delegate = make<Fetch>(weak, fetch, cap);
        entry.delegate = delegate;
        entry.connection = make<NSURLConnection>(request, delegate, false);
        entry.connection->scheduleInRunLoop(NSRunLoop::mainRunLoop(), NSRunLoopCommonModes);
        entry.connection->start();
    }
    // The connection's callbacks come only while something arrives: a server that answers
    // slowly, trickles or redirects again and again is ended by the clock, from the first request.
    entry.deadline = std::make_unique<RealTimeAlarm>(limits_.deadlineSeconds, [weak, fetch] {
        if (auto loader = weak.lock()) loader->timedOut(fetch);
    });
}

void WebResourceLoader::timedOut(std::uint64_t fetch) {
    Entry* entry = entryForFetch(fetch);
    if (!entry || entry->decoding) return;
    end(*entry);
}

WebResourceLoader::Entry* WebResourceLoader::entryForFetch(std::uint64_t fetch) {
    if (cancelled_ || fetch == 0) return nullptr;
    for (auto& [url, entry] : entries_)
        if (entry.fetch == fetch) return &entry;
    return nullptr;
}

void WebResourceLoader::finishBytes(std::uint64_t fetch, std::optional<NSData> bytes,
                                    const std::optional<std::string>& charset) {
    Entry* entry = entryForFetch(fetch);
    if (!entry || entry->decoding) return;
    if (bytes && entry->kind == Kind::Image) {
        // The fetch is over; decoding waits its turn within the budget, not the deadline.
        entry->deadline.reset();
        entry->decoding = true;
        entry->connection = nullptr;
        entry->delegate = nullptr;
        decodeElsewhere(std::static_pointer_cast<WebResourceLoader>(shared_from_this()), fetch,
                        std::move(*bytes), limits_, entry->fit);
        return;
    }
    if (bytes && entry->kind == Kind::Stylesheet)
        entry->text = decodeStyleSheetBytes(
            std::string_view(reinterpret_cast<const char*>(bytes->bytes()), bytes->length()), charset,
            documentEncoding_);
    end(*entry);
}

void WebResourceLoader::finishImage(std::uint64_t fetch, Decoded decoded) {
    Entry* entry = entryForFetch(fetch);
    if (!entry) return;
    if (decoded.image) {
        const auto pixelsOf = [](const Ref<CGImage>& image) {
            return image ? std::uint64_t(image->width()) * image->height() : 0;
        };
        const std::uint64_t before = pixelsOf(entry->image), after = pixelsOf(decoded.image);
        // A larger decode replaces the smaller one within the page's bound, or the smaller stays.
        if (decodedPixels_ - before + after <= limits_.maxDecodedPixelsInAll) {
            decodedPixels_ = decodedPixels_ - before + after;
            entry->decodedSide = std::max<long long>(decoded.image->width(), decoded.image->height());
            entry->naturalWidth = decoded.naturalWidth;
            entry->naturalHeight = decoded.naturalHeight;
            entry->image = std::move(decoded.image);
        }
    }
    end(*entry);
}

void WebResourceLoader::end(Entry& entry) {
    if (entry.fetch != 0) --running_;
    stopFetch(entry);
    entry.done = true;
    const Kind kind = entry.kind;
    Weak<WebResourceLoader> weak = std::static_pointer_cast<WebResourceLoader>(shared_from_this());
    onMainThread([weak, kind] {
        auto loader = weak.lock();
        if (loader && !loader->cancelled_ && loader->changed_) loader->changed_(kind);
    });
    // A fit that grew while the picture was fetched or decoded asks for another decode.
    if (entry.kind == Kind::Image && entry.image) {
        for (auto& [url, e] : entries_)
            if (&e == &entry) queueLargerDecode(url, entry);
    }
    startWaiting();
}

}  // namespace detail
