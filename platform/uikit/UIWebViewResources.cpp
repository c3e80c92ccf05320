#include "uikit/UIWebViewResources.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
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
#include "network/NSURLConnection.h"
#include "network/NSURLRequest.h"
#include "network/NSURLResponse.h"

namespace detail {

namespace {

using SteadyClock = std::chrono::steady_clock;

void onMainThread(std::function<void()> block) {
    NSRunLoop::mainRunLoop()->performBlock(std::move(block));
}

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

WebResourceLoader::WebResourceLoader(WebResourceLimits limits, WebFileAccess files, Deliver deliver)
    : limits_(limits), files_(std::move(files)), deliver_(std::move(deliver)) {}

WebResourceLoader::~WebResourceLoader() {
    cancel();
}

void WebResourceLoader::cancel() {
    cancelled_ = true;
    waiting_.clear();
    // Only the running fetches hold anything to stop.
    auto running = std::move(fetches_);
    fetches_.clear();
    for (auto& [fetch, resource] : running) stopFetch(resource->second);
}

void WebResourceLoader::stopFetch(Entry& entry) {
    if (entry.fetch != 0) fetches_.erase(entry.fetch);
    entry.fetch = 0;
    entry.deadline.reset();
    if (entry.connection) entry.connection->cancel();
    entry.connection = nullptr;
    entry.delegate = nullptr;
}

void WebResourceLoader::request(Kind kind, const std::string& url) {
    if (cancelled_ || url.empty()) return;
    auto [it, added] = entries_.try_emplace(url);
    if (!added) return;
    Resource& resource = *it;
    resource.second.kind = kind;
    ++pending_[index(kind)];
    // A page from the network never reaches a local file: it fails at once, waiting for nothing.
    if (!files_.folder) {
        Ref<NSURL> address = NSURL::URLWithString(url);
        if (address && address->isFileURL()) return hand(resource, std::nullopt, std::nullopt);
    }
    if (kind == Kind::Stylesheet) {
        if (stylesheetsAsked_ >= limits_.maxStylesheets) return hand(resource, std::nullopt, std::nullopt);
        ++stylesheetsAsked_;
    } else if (pictureBytes_ >= limits_.maxPictureBytesInAll) {
        return hand(resource, std::nullopt, std::nullopt);
    }
    waiting_.push_back(&resource);
    startWaiting();
}

void WebResourceLoader::delivered(const std::string& url) {
    auto it = entries_.find(url);
    if (cancelled_ || it == entries_.end() || !it->second.handedOver) return;
    Entry& entry = it->second;
    entry.handedOver = false;
    entry.done = true;
    --pending_[index(entry.kind)];
}

void WebResourceLoader::startWaiting() {
    // What fails without a fetch is handed over from inside this loop, and each hand-over asks
    // for the next one: the loop already running takes it, rather than a call within a call for
    // each of a hundred thousand pictures past their bytes in all.
    if (startingWaiting_) return;
    const std::size_t most = static_cast<std::size_t>(std::max(1, limits_.maxConcurrent));
    if (cancelled_ || fetches_.size() >= most || waiting_.empty()) return;
    startingWaiting_ = true;
    auto keepAlive = shared_from_this();
    while (!cancelled_ && fetches_.size() < most && !waiting_.empty()) {
        Resource& resource = *waiting_.front();
        waiting_.pop_front();
        const Entry& entry = resource.second;
        if (entry.done || entry.handedOver || entry.fetch != 0) continue;
        // Pictures that waited while others filled the bytes in all fail without a fetch.
        if (entry.kind == Kind::Image && pictureBytes_ >= limits_.maxPictureBytesInAll) {
            hand(resource, std::nullopt, std::nullopt);
            continue;
        }
        start(resource);
    }
    startingWaiting_ = false;
}

void WebResourceLoader::start(Resource& resource) {
    const std::string& url = resource.first;
    Entry& entry = resource.second;
    Ref<NSURL> address = NSURL::URLWithString(url);
    const std::uint64_t fetch = nextFetch_++;
    Weak<WebResourceLoader> weak = std::static_pointer_cast<WebResourceLoader>(shared_from_this());
    const std::size_t cap = entry.kind == Kind::Image ? limits_.maxImageBytes : limits_.maxStylesheetBytes;
    if (address && address->isFileURL()) {
        entry.fetch = fetch;
        fetches_.emplace(fetch, &resource);
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
            hand(resource, std::nullopt, std::nullopt);
            return;
        }
        entry.fetch = fetch;
        fetches_.emplace(fetch, &resource);
        auto delegate = make<Fetch>(weak, fetch, cap);
        entry.delegate = delegate;
        entry.connection = make<NSURLConnection>(request, delegate, false);
        entry.connection->scheduleInRunLoop(NSRunLoop::mainRunLoop(), NSRunLoopCommonModes);
        entry.connection->start();
    }
    // The connection's callbacks come only while something arrives: a server that answers
    // slowly, trickles or redirects again and again is ended by the clock, from the first request.
    // A fetch that already ended (a connection may fail within start) needs no alarm.
    if (entry.fetch != fetch) return;
    entry.deadline = std::make_unique<RealTimeAlarm>(limits_.deadlineSeconds, [weak, fetch] {
        if (auto loader = weak.lock()) loader->timedOut(fetch);
    });
}

void WebResourceLoader::timedOut(std::uint64_t fetch) {
    if (Resource* resource = resourceForFetch(fetch)) hand(*resource, std::nullopt, std::nullopt);
}

WebResourceLoader::Resource* WebResourceLoader::resourceForFetch(std::uint64_t fetch) const {
    if (cancelled_ || fetch == 0) return nullptr;
    auto it = fetches_.find(fetch);
    return it == fetches_.end() ? nullptr : it->second;
}

void WebResourceLoader::finishBytes(std::uint64_t fetch, std::optional<NSData> bytes,
                                    const std::optional<std::string>& charset) {
    if (Resource* resource = resourceForFetch(fetch)) hand(*resource, std::move(bytes), charset);
}

void WebResourceLoader::hand(Resource& resource, std::optional<NSData> bytes,
                             const std::optional<std::string>& charset) {
    Entry& entry = resource.second;
    stopFetch(entry);
    if (bytes && entry.kind == Kind::Image) {
        // The page's pictures together stay within their bytes; the one that would pass fails.
        if (pictureBytes_ + bytes->length() > limits_.maxPictureBytesInAll) {
            pictureBytes_ = limits_.maxPictureBytesInAll;
            bytes.reset();
        } else {
            pictureBytes_ += bytes->length();
        }
    }
    entry.handedOver = true;
    // The handler may cancel this loader or let it go: it stays until the hand-over is done, and
    // its entries (the URL is one's key) are never removed.
    auto keepAlive = shared_from_this();
    if (deliver_) deliver_(entry.kind, resource.first, std::move(bytes), charset);
    startWaiting();
}

}  // namespace detail
