#include "uikit/UIWebViewResources.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "dispatch/Dispatch.h"
#include "foundation/NSRunLoop.h"
#include "foundation/NSURL.h"
#include "graphics/CGImageSource.h"
#include "network/NSURLConnection.h"
#include "network/NSURLRequest.h"
#include "network/NSURLResponse.h"
#include "uikit/WebTextDecoding.h"

namespace detail {

namespace {

using SteadyClock = std::chrono::steady_clock;

void onMainThread(std::function<void()> block) {
    NSRunLoop::mainRunLoop()->performBlock(std::move(block));
}

// One http or https fetch: collects the body within the bounds and hands it over.
class Fetch : public NSObject, public NSURLConnectionDataDelegate {
  public:
    Fetch(Weak<WebResourceLoader> loader, std::uint64_t fetch, WebResourceLoader::Kind kind,
          const WebResourceLimits& limits)
        : loader_(std::move(loader)),
          fetch_(fetch),
          kind_(kind),
          limits_(limits),
          cap_(kind == WebResourceLoader::Kind::Image ? limits.maxImageBytes : limits.maxStylesheetBytes),
          deadline_(SteadyClock::now() + std::chrono::duration_cast<SteadyClock::duration>(
                                             std::chrono::duration<double>(limits.deadlineSeconds))) {}
    std::string className() const override { return "UIWebViewResourceFetch"; }

    void connectionDidReceiveResponse(const Ref<NSURLConnection>& connection,
                                      const Ref<NSURLResponse>& response) override {
        auto http = std::dynamic_pointer_cast<NSHTTPURLResponse>(response);
        if (http && http->statusCode() >= 400) return stop(connection);
        data_ = NSData();
        if (response) charset_ = response->textEncodingName();
        if (response && response->expectedContentLength() > static_cast<long long>(cap_))
            return stop(connection);
        if (late()) stop(connection);
    }
    void connectionDidReceiveData(const Ref<NSURLConnection>& connection, const NSData& data) override {
        if (ended_) return;
        if (data_.length() + data.length() > cap_ || late()) return stop(connection);
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
    bool late() const { return SteadyClock::now() > deadline_; }
    void stop(const Ref<NSURLConnection>& connection) {
        if (ended_) return;
        ended_ = true;
        if (connection) connection->cancel();
        hand(std::nullopt);
    }
    void hand(std::optional<NSData> bytes) {
        auto loader = loader_.lock();
        if (!loader) return;
        if (kind_ == WebResourceLoader::Kind::Stylesheet || !bytes) {
            loader->finishBytes(fetch_, std::move(bytes), charset_);
            return;
        }
        decodeElsewhere(loader_, fetch_, std::move(*bytes), limits_);
    }

  public:
    // Decodes on a worker queue and hands the picture back on the main thread.
    static void decodeElsewhere(Weak<WebResourceLoader> loader, std::uint64_t fetch, NSData bytes,
                                const WebResourceLimits& limits) {
        dispatch_async(dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_DEFAULT),
                       [loader, fetch, bytes = std::move(bytes), limits]() mutable {
                           Ref<CGImage> image = decodeWebPicture(bytes, limits);
                           bytes = NSData();
                           const std::uint64_t pixels =
                               image ? std::uint64_t(image->width()) * image->height() : 0;
                           onMainThread([loader, fetch, image, pixels] {
                               if (auto l = loader.lock()) l->finishImage(fetch, image, pixels);
                           });
                       });
    }

  private:
    Weak<WebResourceLoader> loader_;
    std::uint64_t fetch_;
    WebResourceLoader::Kind kind_;
    WebResourceLimits limits_;
    std::size_t cap_;
    SteadyClock::time_point deadline_;
    NSData data_;
    std::optional<std::string> charset_;
    bool ended_ = false;
};

std::optional<long long> numberOf(const Dictionary& properties, const char* key) {
    const Value& value = properties[key];
    if (!value.isSomething()) return std::nullopt;
    double number = value.doubleValue();
    if (!(number >= 1) || number > 1e9) return std::nullopt;
    return static_cast<long long>(number);
}

}  // namespace

std::optional<NSData> readFileUpTo(const std::string& path, std::size_t cap, bool* more) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return std::nullopt;
    std::vector<std::uint8_t> bytes;
    std::uint8_t buffer[64 * 1024];
    bool over = false;
    while (true) {
        std::size_t n = std::fread(buffer, 1, sizeof buffer, file);
        if (n == 0) break;
        if (bytes.size() + n > cap) {
            bytes.insert(bytes.end(), buffer, buffer + (cap - bytes.size()));
            over = true;
            break;
        }
        bytes.insert(bytes.end(), buffer, buffer + n);
    }
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) return std::nullopt;
    if (more) *more = over;
    return NSData(std::move(bytes));
}

Ref<CGImage> decodeWebPicture(const NSData& bytes, const WebResourceLimits& limits) {
    auto source = CGImageSourceCreateWithData(bytes);
    if (!source || CGImageSourceGetCount(source) == 0) return nullptr;
    auto properties = CGImageSourceCopyPropertiesAtIndex(source, 0);
    if (!properties) return nullptr;
    auto width = numberOf(*properties, kCGImagePropertyPixelWidth);
    auto height = numberOf(*properties, kCGImagePropertyPixelHeight);
    if (!width || !height) return nullptr;
    const std::uint64_t pixels = std::uint64_t(*width) * std::uint64_t(*height);
    // A JPEG decoder can shrink by eight as it reads; other formats decode at full size first.
    const bool jpeg = CGImageSourceGetType(source) == std::optional<std::string>(kUTTypeJPEG);
    const std::uint64_t decodedPixels = jpeg && pixels > limits.maxImagePixels ? pixels / 64 : pixels;
    if (decodedPixels > limits.maxImagePixels) return nullptr;
    const long long longSide = std::max(*width, *height);
    Dictionary options = Dictionary::mutableDictionary();
    options.setObject(kCGImageSourceCreateThumbnailFromImageAlways, true);
    options.setObject(kCGImageSourceCreateThumbnailWithTransform, true);
    options.setObject(kCGImageSourceThumbnailMaxPixelSize,
                      static_cast<double>(std::min<long long>(longSide, std::max(1, limits.maxDecodedSide))));
    return CGImageSourceCreateThumbnailAtIndex(source, 0, options);
}

WebResourceLoader::WebResourceLoader(WebResourceLimits limits, std::function<void(Kind)> changed)
    : limits_(limits), changed_(std::move(changed)) {}

WebResourceLoader::~WebResourceLoader() {
    cancel();
}

void WebResourceLoader::cancel() {
    cancelled_ = true;
    waiting_.clear();
    for (auto& [url, entry] : entries_) {
        if (entry.connection) entry.connection->cancel();
        entry.connection = nullptr;
        entry.delegate = nullptr;
        entry.fetch = 0;
    }
    running_ = 0;
}

void WebResourceLoader::request(Kind kind, const std::string& url) {
    if (cancelled_ || url.empty() || entries_.count(url)) return;
    Entry& entry = entries_[url];
    entry.kind = kind;
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

std::size_t WebResourceLoader::pending(Kind kind) const {
    std::size_t count = 0;
    for (const auto& [url, entry] : entries_)
        if (entry.kind == kind && !entry.done) ++count;
    return count;
}

void WebResourceLoader::startWaiting() {
    while (!cancelled_ && running_ < std::max(1, limits_.maxConcurrent) && !waiting_.empty()) {
        std::string url = waiting_.front();
        waiting_.pop_front();
        auto it = entries_.find(url);
        if (it == entries_.end() || it->second.done) continue;
        start(url, it->second);
    }
}

void WebResourceLoader::start(const std::string& url, Entry& entry) {
    Ref<NSURL> address = NSURL::URLWithString(url);
    const std::uint64_t fetch = nextFetch_++;
    Weak<WebResourceLoader> weak = std::static_pointer_cast<WebResourceLoader>(shared_from_this());
    if (address && address->isFileURL()) {
        entry.fetch = fetch;
        ++running_;
        const Kind kind = entry.kind;
        const std::size_t cap = kind == Kind::Image ? limits_.maxImageBytes : limits_.maxStylesheetBytes;
        const WebResourceLimits limits = limits_;
        const std::string path = address->path();
        dispatch_async(dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_DEFAULT),
                       [weak, fetch, kind, cap, limits, path] {
                           bool more = false;
                           std::optional<NSData> bytes = readFileUpTo(path, cap, &more);
                           if (more) bytes.reset();
                           if (kind == Kind::Image && bytes) {
                               Fetch::decodeElsewhere(weak, fetch, std::move(*bytes), limits);
                               return;
                           }
                           onMainThread([weak, fetch, bytes] {
                               if (auto loader = weak.lock()) loader->finishBytes(fetch, bytes);
                           });
                       });
        return;
    }
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
    auto delegate = make<Fetch>(weak, fetch, entry.kind, limits_);
    entry.delegate = delegate;
    entry.connection = make<NSURLConnection>(request, delegate, false);
    entry.connection->scheduleInRunLoop(NSRunLoop::mainRunLoop(), NSRunLoopCommonModes);
    entry.connection->start();
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
    if (!entry) return;
    if (bytes && entry->kind == Kind::Stylesheet)
        entry->text = decodeStyleSheetBytes(
            std::string_view(reinterpret_cast<const char*>(bytes->bytes()), bytes->length()), charset,
            documentEncoding_);
    end(*entry);
}

void WebResourceLoader::finishImage(std::uint64_t fetch, Ref<CGImage> image, std::uint64_t pixels) {
    Entry* entry = entryForFetch(fetch);
    if (!entry) return;
    if (image && decodedPixels_ + pixels <= limits_.maxDecodedPixelsInAll) {
        decodedPixels_ += pixels;
        entry->image = std::move(image);
    }
    end(*entry);
}

void WebResourceLoader::end(Entry& entry) {
    if (entry.fetch != 0) --running_;
    entry.fetch = 0;
    entry.done = true;
    entry.connection = nullptr;
    entry.delegate = nullptr;
    const Kind kind = entry.kind;
    Weak<WebResourceLoader> weak = std::static_pointer_cast<WebResourceLoader>(shared_from_this());
    onMainThread([weak, kind] {
        auto loader = weak.lock();
        if (loader && !loader->cancelled_ && loader->changed_) loader->changed_(kind);
    });
    startWaiting();
}

}  // namespace detail
