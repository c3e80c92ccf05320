#include "uikit/UIWebView.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <string_view>

#include <cairo.h>

#include "dispatch/Dispatch.h"
#include "foundation/NSMainThreadCheck.h"
#include "foundation/NSRunLoop.h"
#include "foundation/NSString.h"
#include "graphics/UIColor.h"
#include "network/NSURLConnection.h"
#include "network/NSURLResponse.h"
#include "uikit/UIScreen.h"
#include "uikit/UITapGestureRecognizer.h"
#include "uikit/WebPageProcess.h"

namespace {

UIWebView::ResourceLimits& limitsInForce() {
    static UIWebView::ResourceLimits limits;
    return limits;
}

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

char asciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

// Where `needle` (lower case) first stands in `text` from `from` on, whatever its case; the text is
// not copied, so a page of many scripts or styles costs one pass.
std::size_t findIgnoringCase(std::string_view text, std::string_view needle, std::size_t from) {
    if (needle.empty() || from > text.size()) return std::string::npos;
    for (std::size_t at = text.find(needle[0], from);
         at != std::string::npos && at + needle.size() <= text.size(); at = text.find(needle[0], at + 1)) {
        std::size_t k = 1;
        while (k < needle.size() && asciiLower(text[at + k]) == needle[k]) ++k;
        if (k == needle.size()) return at;
    }
    return std::string::npos;
}

// The text of an HTML document: elements removed (script and style with their content), block
// ends as line breaks, runs of white space as one space, a few entities decoded.
std::string textOfHTML(const std::string& html) {
    static const char* blocks[] = {"p",  "div", "br", "li", "tr",    "h1", "h2",
                                   "h3", "h4",  "h5", "h6", "table", "ul", "ol"};
    std::string out;
    bool space = false;
    auto put = [&](char c) {
        if (c == '\n') {
            while (!out.empty() && out.back() == ' ') out.pop_back();
            if (!out.empty() && out.back() != '\n') out += '\n';
            space = false;
            return;
        }
        if (std::isspace(static_cast<unsigned char>(c))) {
            space = !out.empty() && out.back() != '\n';
            return;
        }
        if (space) out += ' ';
        space = false;
        out += c;
    };
    std::size_t i = 0;
    while (i < html.size()) {
        char c = html[i];
        if (c == '<') {
            std::size_t end = html.find('>', i);
            if (end == std::string::npos) break;
            // Only the name is looked at: the tag (attributes and all) is not copied.
            std::size_t k = i + 1;
            const bool closing = k < end && html[k] == '/';
            if (closing) ++k;
            // Longer names than any looked for are none of them.
            char nameBytes[8];
            std::size_t length = 0;
            for (; k < end && std::isalnum(static_cast<unsigned char>(html[k])); ++k, ++length)
                if (length < sizeof nameBytes) nameBytes[length] = asciiLower(html[k]);
            const std::string_view name(nameBytes, length <= sizeof nameBytes ? length : 0);
            i = end + 1;
            if (!closing && (name == "script" || name == "style")) {
                std::size_t close = findIgnoringCase(html, name == "script" ? "</script" : "</style", i);
                if (close == std::string::npos) break;
                i = html.find('>', close);
                i = i == std::string::npos ? html.size() : i + 1;
                continue;
            }
            for (const char* b : blocks) {
                if (name == b) {
                    put('\n');
                    break;
                }
            }
            continue;
        }
        if (c == '&') {
            static const std::pair<const char*, const char*> entities[] = {{"&nbsp;", " "},  {"&amp;", "&"},
                                                                           {"&lt;", "<"},    {"&gt;", ">"},
                                                                           {"&quot;", "\""}, {"&#39;", "'"}};
            bool matched = false;
            for (auto& [name, value] : entities) {
                if (html.compare(i, std::strlen(name), name) == 0) {
                    for (const char* v = value; *v; ++v) put(*v);
                    i += std::strlen(name);
                    matched = true;
                    break;
                }
            }
            if (matched) continue;
        }
        put(c);
        ++i;
    }
    while (!out.empty() && (out.back() == ' ' || out.back() == '\n')) out.pop_back();
    return out;
}

double steadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

constexpr double kFrameSeconds = 1.0 / 60;
// What one rendering of a window may wait for its web views' pixels, all of them together.
constexpr double kRenderingWaitSeconds = 1.0;

// How long a web view drawn now may still wait for its pixels: a rendering's views share one
// second between them (a window of stalled pages is not a second per page); outside a rendering,
// each drawing has its own.
double renderingWaitLeft() {
    static std::uint64_t rendering = 0;
    static double deadline = 0;
    const std::uint64_t current = detail::currentRenderingSerial();
    const double now = steadySeconds();
    if (current == 0) return kRenderingWaitSeconds;
    if (current != rendering) {
        rendering = current;
        deadline = now + kRenderingWaitSeconds;
    }
    return std::max(0.0, deadline - now);
}

}  // namespace

// What the view knows of the page its process holds, and what it asked of it.
struct UIWebView::Page {
    std::shared_ptr<detail::WebPageProcess> process;
    // The load whose page this is (a later load's serial is not this one's).
    std::uint64_t loadSerial = 0;
    bool fetchResources = true;
    std::uint64_t loadID = 0;  // the Load waiting for Loaded
    bool shown = false;        // the process has read the document
    bool gone = false;         // the process ended: the view shows white
    // The document until its process answers the Load: a process that dies before that never
    // began the page's work, and the page is given a new one, once.
    std::optional<Document> unanswered;
    bool restarted = false;
    // Nothing is laid out yet: the page waits for its stylesheets.
    bool awaitingStylesheets = false;
    // Loads and Refreshes sent; pixels belong to the layout they were painted for.
    std::uint64_t layoutSerial = 0;
    std::uint64_t loadLayout = 0;
    std::uint64_t refreshID = 0;  // the Refresh waiting for LaidOut
    std::uint64_t refreshLayout = 0;
    int refreshes = 0;
    bool relayoutWanted = false;
    // When the last Refresh was sent (steady seconds): layouts come at most once a frame.
    double lastRefreshAt = -1;
    std::unique_ptr<detail::RealTimeAlarm> refreshAlarm;
    // What the page shows changed without a new layout (a picture came in or was decoded): pixels
    // painted before are of the page as it was.
    std::uint64_t contentSerial = 0;
    // Pictures the process holds still to decode, as it last said; the Decode on its way.
    std::uint32_t toDecode = 0;
    std::uint64_t decodeID = 0;
    detail::webpage::Layout layout;
    // Stylesheets and pictures handed over, by the command's id, until their Ack.
    std::map<std::uint64_t, std::pair<detail::WebResourceLoader::Kind, std::string>> handedOver;
    // Link questions, by the command's id: the load they were asked on.
    std::map<std::uint64_t, std::uint64_t> links;
    struct Paint {
        std::uint64_t id = 0;
        CGRect area;
        double scale = 1;
        std::uint64_t layout = 0;
        std::uint64_t content = 0;
    };
    std::deque<Paint> paints;
    struct Piece {
        std::int32_t x = 0, y = 0, width = 0, height = 0;
        double scale = 1;
        std::uint64_t layout = 0;
        std::uint64_t content = 0;
        std::shared_ptr<cairo_surface_t> surface;
    };
    // The newest last; a few screens at most.
    std::deque<Piece> pieces;
    static constexpr std::size_t kMostPieces = 3;
    // The scale the window last rendered the page at.
    double drawScale = 0;

    // Whether a piece of the current layout at the scale covers the area.
    const Piece* covering(CGRect area, double scale) const {
        // The device pixels as a paint of the area would round them.
        const auto wanted = detail::webpage::pixelAreaOf(
            {0, area.origin.x, area.origin.y, area.size.width, area.size.height, scale});
        for (auto it = pieces.rbegin(); it != pieces.rend(); ++it) {
            if (it->layout != layoutSerial || it->content != contentSerial ||
                std::abs(it->scale - scale) > 1e-6)
                continue;
            if (it->x <= wanted.x && it->y <= wanted.y &&
                std::int64_t(it->x) + it->width >= wanted.x + wanted.width &&
                std::int64_t(it->y) + it->height >= wanted.y + wanted.height)
                return &*it;
        }
        return nullptr;
    }
    // A paint on its way that will cover the area; its id, else 0.
    std::uint64_t paintCovering(CGRect area, double scale) const {
        for (const Paint& paint : paints)
            if (paint.layout == layoutSerial && paint.content == contentSerial &&
                std::abs(paint.scale - scale) < 1e-6 && CGRectContainsRect(paint.area, area))
                return paint.id;
        return 0;
    }
    // Forgets what was asked of the process and what it sent: it is gone, or a new page begins.
    void forgetRequests() {
        shown = false;
        awaitingStylesheets = false;
        loadID = 0;
        refreshID = 0;
        relayoutWanted = false;
        refreshAlarm.reset();
        toDecode = 0;
        decodeID = 0;
        handedOver.clear();
        links.clear();
        paints.clear();
        pieces.clear();
    }
    // Whether a paint of the current layout is on its way (what it brings is looked at again).
    bool painting() const {
        return std::any_of(paints.begin(), paints.end(),
                           [&](const Paint& paint) { return paint.layout == layoutSerial; });
    }
};

// Collects a connection's reply for the web view that started it.
class UIWebView::Loader : public NSObject, public NSURLConnectionDataDelegate {
  public:
    Loader(Weak<UIWebView> view, std::uint64_t serial, Ref<NSURL> url, std::size_t cap)
        : view_(std::move(view)), serial_(serial), url_(std::move(url)), cap_(cap) {}
    std::string className() const override { return "UIWebViewLoader"; }

    // What came so far as a document; nullopt before a response.
    std::optional<Document> partial() const {
        if (!response_) return std::nullopt;
        return document();
    }

    void connectionDidReceiveResponse(const Ref<NSURLConnection>&,
                                      const Ref<NSURLResponse>& response) override {
        response_ = response;
        data_ = NSData();
        checkDeadline();
    }
    void connectionDidReceiveData(const Ref<NSURLConnection>& connection, const NSData& data) override {
        if (full_) return;
        const std::size_t room = cap_ - data_.length();
        if (data.length() <= room) {
            data_.appendData(data);
            checkDeadline();
            return;
        }
        // An endless or huge body: the page is what came up to the cap.
        data_.appendData(NSData(data.bytes(), room));
        full_ = true;
        if (connection) connection->cancel();
        connectionDidFinishLoading(connection);
    }
    void connectionDidFinishLoading(const Ref<NSURLConnection>&) override {
        if (checkDeadline()) return;
        if (auto view = current()) view->show(document(), true);
    }
    void connectionDidFailWithError(const Ref<NSURLConnection>&, const Ref<NSError>& error) override {
        if (checkDeadline()) return;
        if (auto view = current()) view->fail(error);
    }

  private:
    // Past the page's deadline the load ends as timed out; true when it did.
    bool checkDeadline() {
        auto view = current();
        if (!view || !view->awaitingDocument_ || steadySeconds() <= view->documentDeadline_) return false;
        view->documentTimedOut();
        return true;
    }
    Document document() const {
        Document document;
        document.data = data_;
        if (response_) {
            document.MIMEType = response_->MIMEType();
            document.textEncodingName = response_->textEncodingName();
            document.baseURL = response_->URL();
        }
        if (!document.baseURL) document.baseURL = url_;
        return document;
    }
    Ref<UIWebView> current() const {
        auto view = view_.lock();
        return view && view->loadSerial_ == serial_ ? view : nullptr;
    }
    Weak<UIWebView> view_;
    std::uint64_t serial_;
    Ref<NSURL> url_;
    Ref<NSURLResponse> response_;
    NSData data_;
    std::size_t cap_;
    bool full_ = false;
};

// The view that draws the page: it keeps no picture of its own (the page may be far taller than
// any picture should be); its layer draws the part the window renders, when it renders.
class UIWebViewPageLayer : public CALayer {
  public:
    std::string className() const override { return "UIWebViewPageLayer"; }
    void drawInContext(const CGContextRef& context) override;
};

class UIWebViewPage : public UIView {
  public:
    explicit UIWebViewPage(Weak<UIWebView> owner) : UIView(CGRectZero), owner_(std::move(owner)) {}
    std::string className() const override { return "UIWebViewPage"; }
    Ref<CALayer> makeLayer() const override { return make<UIWebViewPageLayer>(); }
    Ref<UIWebView> owner() const { return owner_.lock(); }

  private:
    Weak<UIWebView> owner_;
};

// The scroll view of a web view: a move of the visible area asks for its pixels.
class UIWebViewScrollView : public UIScrollView {
  public:
    UIWebViewScrollView(CGRect frame, Weak<UIWebView> owner)
        : UIScrollView(frame), owner_(std::move(owner)) {}

  protected:
    void contentOffsetDidChange(CGPoint oldOffset) override {
        UIScrollView::contentOffsetDidChange(oldOffset);
        if (auto web = owner_.lock()) web->visibleAreaMoved();
    }

  private:
    Weak<UIWebView> owner_;
};

void UIWebViewPageLayer::drawInContext(const CGContextRef& context) {
    auto page = dynamic_cast<UIWebViewPage*>(owningView());
    if (!page) return;
    if (auto web = page->owner()) web->drawPage(context, bounds());
}

UIWebView::UIWebView() : UIWebView(CGRectZero) {}

UIWebView::UIWebView(CGRect frame) : UIView(frame) {
    setBackgroundColor(UIColor::whiteColor());
}

UIWebView::~UIWebView() {
    documentAlarm_.reset();
    if (connection_) connection_->cancel();
    if (resources_) resources_->cancel();
    // A view gone ends its page's process.
    if (page_ && page_->process) page_->process->end();
}

void UIWebView::didInit() {
    ensureParts();
    // A page's process is started ahead for the first load.
    detail::WebPageProcess::prepareSpare();
}

void UIWebView::ensureParts() {
    if (scrollView_ || weak_from_this().expired()) return;
    Weak<UIWebView> weak = std::static_pointer_cast<UIWebView>(shared_from_this());
    scrollView_ = make<UIWebViewScrollView>(bounds(), weak);
    scrollView_->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    scrollView_->setContentSize(CGSizeMake(bounds().size.width, 0));
    addSubview(scrollView_);
    pageView_ = make<UIWebViewPage>(weak);
    pageView_->setUserInteractionEnabled(false);
    pageView_->setHidden(true);
    scrollView_->addSubview(pageView_);
    tap_ = make<UITapGestureRecognizer>(nullptr, [weak](const Ref<UIGestureRecognizer>& recognizer) {
        auto view = weak.lock();
        if (!view) return;
        ++view->contentTaps_;
        if (recognizer && view->pageView_) view->contentTapped(recognizer->locationInView(view->pageView_));
    });
    tap_->setCancelsTouchesInView(false);
    addGestureRecognizer(tap_);
}

Ref<UIScrollView> UIWebView::scrollView() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    ensureParts();
    return scrollView_;
}

Ref<UITapGestureRecognizer> UIWebView::contentTapRecognizer() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    ensureParts();
    return tap_;
}

// ---- loading ------------------------------------------------------------------------------------

void UIWebView::loadRequest(const Ref<NSURLRequest>& request) {
    NS_ASSERT_MAIN_THREAD();
    if (!request) return;
    lastGivenDocument_.reset();
    pendingHistoryIndex_.reset();
    beginLoad(request, UIWebViewNavigationTypeOther, std::nullopt, true);
}

void UIWebView::loadHTMLString(const std::string& html, const Ref<NSURL>& baseURL) {
    NS_ASSERT_MAIN_THREAD();
    Document document;
    document.data = NSData(reinterpret_cast<const std::uint8_t*>(html.data()), html.size());
    document.MIMEType = "text/html";
    document.textEncodingName = "utf-8";
    document.baseURL = baseURL;
    lastGivenDocument_ = document;
    pendingHistoryIndex_.reset();
    auto url = baseURL ? baseURL : NSURL::URLWithString("about:blank");
    beginLoad(NSURLRequest::requestWithURL(url), UIWebViewNavigationTypeOther, document, false);
}

void UIWebView::loadData(const NSData& data, const std::optional<std::string>& MIMEType,
                         const std::optional<std::string>& textEncodingName, const Ref<NSURL>& baseURL) {
    NS_ASSERT_MAIN_THREAD();
    Document document{data, MIMEType, textEncodingName, baseURL};
    lastGivenDocument_ = document;
    pendingHistoryIndex_.reset();
    auto url = baseURL ? baseURL : NSURL::URLWithString("about:blank");
    beginLoad(NSURLRequest::requestWithURL(url), UIWebViewNavigationTypeOther, document, false);
}

void UIWebView::reload() {
    NS_ASSERT_MAIN_THREAD();
    if (!request_) return;
    pendingHistoryIndex_ = historyIndex_;
    beginLoad(request_, UIWebViewNavigationTypeReload, lastGivenDocument_, !lastGivenDocument_);
}

bool UIWebView::canGoBack() const {
    return historyIndex_ > 0;
}

bool UIWebView::canGoForward() const {
    return historyIndex_ >= 0 && historyIndex_ + 1 < static_cast<std::ptrdiff_t>(history_.size());
}

void UIWebView::goBack() {
    NS_ASSERT_MAIN_THREAD();
    if (!canGoBack()) return;
    lastGivenDocument_.reset();
    pendingHistoryIndex_ = historyIndex_ - 1;
    beginLoad(history_[historyIndex_ - 1], UIWebViewNavigationTypeBackForward, std::nullopt, true);
}

void UIWebView::goForward() {
    NS_ASSERT_MAIN_THREAD();
    if (!canGoForward()) return;
    lastGivenDocument_.reset();
    pendingHistoryIndex_ = historyIndex_ + 1;
    beginLoad(history_[historyIndex_ + 1], UIWebViewNavigationTypeBackForward, std::nullopt, true);
}

void UIWebView::stopLoading() {
    NS_ASSERT_MAIN_THREAD();
    cancelLoad(true);
    ++loadSerial_;
}

void UIWebView::cancelLoad(bool report) {
    if (connection_) connection_->cancel();
    connection_ = nullptr;
    loader_ = nullptr;
    awaitingDocument_ = false;
    documentAlarm_.reset();
    // The page shown keeps what it has; what it still waits for is not fetched.
    if (resources_) resources_->cancel();
    const bool wasStarted = loading_ && started_;
    loading_ = false;
    started_ = false;
    if (!report || !wasStarted) return;
    Weak<UIWebView> weak = std::static_pointer_cast<UIWebView>(shared_from_this());
    auto error = NSError::errorWithDomain(NSURLErrorDomain, NSURLErrorCancelled);
    NSRunLoop::mainRunLoop()->performBlock([weak, error] {
        auto view = weak.lock();
        if (!view) return;
        if (auto d = view->delegate()) d->webViewDidFailLoadWithError(*view, error);
    });
}

void UIWebView::beginLoad(const Ref<NSURLRequest>& request, UIWebViewNavigationType type,
                          std::optional<Document> document, bool addToHistory, bool asked) {
    ensureParts();
    cancelLoad(true);
    request_ = request;
    const std::uint64_t serial = ++loadSerial_;
    Weak<UIWebView> weak = std::static_pointer_cast<UIWebView>(shared_from_this());
    auto runLoop = NSRunLoop::mainRunLoop();
    runLoop->performBlock([weak, serial, request, type, document, addToHistory, asked] {
        auto view = weak.lock();
        if (!view || view->loadSerial_ != serial) return;
        if (auto d = view->delegate(); d && !asked) {
            if (!d->webViewShouldStartLoadWithRequest(*view, request, type).value_or(true)) return;
        }
        if (view->loadSerial_ != serial) return;
        view->loading_ = true;
        view->started_ = true;
        if (auto d = view->delegate()) d->webViewDidStartLoad(*view);
        if (view->loadSerial_ != serial) return;
        if (document) {
            NSRunLoop::mainRunLoop()->performBlock([weak, serial, document, addToHistory] {
                auto v = weak.lock();
                if (v && v->loadSerial_ == serial) v->show(*document, addToHistory);
            });
            return;
        }
        view->startDocumentClock();
        const Ref<NSURL>& url = request->URL();
        if (url && url->isFileURL()) {
            const auto& limits = limitsInForce();
            detail::FileReadOptions options;
            options.silenceSeconds = request->timeoutInterval() > 0 ? request->timeoutInterval() : 60;
            options.deadlineSeconds = limits.documentDeadlineSeconds;
            // A link is the page's doing, not the app's: it reaches only what the page may.
            if (type == UIWebViewNavigationTypeLinkClicked)
                options.insideFolder = detail::WebFileAccess::bundleOnly().folder;
            const std::string path = url->path();
            const std::size_t cap = limits.maxDocumentBytes;
            // Off the main thread: a file may be slow to read.
            dispatch_async(dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_DEFAULT), [weak, serial, url,
                                                                                        path, cap, options] {
                bool timedOut = false;
                auto data = detail::readFileUpTo(path, cap, nullptr, options, &timedOut);
                NSRunLoop::mainRunLoop()->performBlock([weak, serial, url, data, timedOut] {
                    auto v = weak.lock();
                    if (!v || v->loadSerial_ != serial || !v->awaitingDocument_) return;
                    if (!data) {
                        v->fail(NSError::errorWithDomain(
                            NSURLErrorDomain, timedOut ? NSURLErrorTimedOut : NSURLErrorFileDoesNotExist));
                        return;
                    }
                    const std::string ext = lower(url->pathExtension());
                    std::optional<std::string> mime;
                    if (ext == "html" || ext == "htm") mime = "text/html";
                    if (ext == "txt") mime = "text/plain";
                    v->show(Document{*data, mime, std::nullopt, url}, true);
                });
            });
            return;
        }
        if (!NSURLConnection::canHandleRequest(request)) {
            NSRunLoop::mainRunLoop()->performBlock([weak, serial] {
                auto v = weak.lock();
                if (v && v->loadSerial_ == serial) {
                    v->fail(NSError::errorWithDomain(NSURLErrorDomain, NSURLErrorUnsupportedURL));
                }
            });
            return;
        }
        view->loader_ = make<Loader>(weak, serial, url, limitsInForce().maxDocumentBytes);
        view->connection_ = make<NSURLConnection>(request, view->loader_, false);
        view->connection_->scheduleInRunLoop(NSRunLoop::mainRunLoop(), NSRunLoopCommonModes);
        view->connection_->start();
    });
}

void UIWebView::startDocumentClock() {
    awaitingDocument_ = true;
    const double seconds = limitsInForce().documentDeadlineSeconds;
    documentDeadline_ = steadySeconds() + seconds;
    const std::uint64_t serial = loadSerial_;
    Weak<UIWebView> weak = std::static_pointer_cast<UIWebView>(shared_from_this());
    // The connection's callbacks see the deadline only while bytes come; a page that falls
    // silent after trickling is ended by the alarm.
    documentAlarm_ = std::make_unique<detail::RealTimeAlarm>(seconds, [weak, serial] {
        auto view = weak.lock();
        if (view && view->loadSerial_ == serial && view->awaitingDocument_) view->documentTimedOut();
    });
}

void UIWebView::documentTimedOut() {
    auto keepAlive = weak_from_this().lock();
    awaitingDocument_ = false;
    documentAlarm_.reset();
    std::optional<Document> partial = loader_ ? loader_->partial() : std::nullopt;
    if (connection_) connection_->cancel();
    connection_ = nullptr;
    loader_ = nullptr;
    if (partial) show(*partial, true, false);
    fail(NSError::errorWithDomain(NSURLErrorDomain, NSURLErrorTimedOut));
}

// ---- the page, in its process -------------------------------------------------------------------

namespace {

detail::webpage::Viewport viewportOf(UIView& view) {
    detail::webpage::Viewport viewport;
    viewport.scale = std::clamp<double>(view.contentScaleFactor(), 1, detail::webpage::kMaxScale);
    viewport.width = std::clamp<double>(view.bounds().size.width, 0, detail::webpage::kMaxContentSide);
    // A view not sized yet stands for the screen it will be shown on: pictures are sized for it.
    const double width = viewport.width > 0 ? viewport.width : UIScreen::mainScreen()->bounds().size.width;
    viewport.screenPixels = std::clamp(std::ceil(width * viewport.scale), 1.0, 1e6);
    return viewport;
}

long errorCodeFor(detail::WebPageProcessEnd reason) {
    switch (reason) {
        case detail::WebPageProcessEnd::CouldNotStart:
            return UIWebViewPageProcessErrorCouldNotStart;
        case detail::WebPageProcessEnd::Crashed:
            return UIWebViewPageProcessErrorCrashed;
        case detail::WebPageProcessEnd::MemoryLimit:
            return UIWebViewPageProcessErrorMemoryLimit;
        case detail::WebPageProcessEnd::CPULimit:
            return UIWebViewPageProcessErrorCPULimit;
        case detail::WebPageProcessEnd::Malformed:
            return UIWebViewPageProcessErrorMalformedMessage;
        case detail::WebPageProcessEnd::Unresponsive:
            return UIWebViewPageProcessErrorUnresponsive;
    }
    return UIWebViewPageProcessErrorCrashed;
}

}  // namespace

void UIWebView::show(const Document& document, bool addToHistory, bool fetchResources) {
    auto keepAlive = weak_from_this().lock();
    connection_ = nullptr;
    loader_ = nullptr;
    awaitingDocument_ = false;
    documentAlarm_.reset();
    files_ = detail::WebFileAccess::forPage(document.baseURL);
    shownData_ = document.data;
    shownMIMEType_ = document.MIMEType;
    baseURL_ = document.baseURL;
    if (addToHistory && request_) {
        if (pendingHistoryIndex_) {
            historyIndex_ = *pendingHistoryIndex_;
        } else {
            if (historyIndex_ + 1 < static_cast<std::ptrdiff_t>(history_.size())) {
                history_.erase(history_.begin() + (historyIndex_ + 1), history_.end());
            }
            history_.push_back(request_);
            historyIndex_ = static_cast<std::ptrdiff_t>(history_.size()) - 1;
        }
    }
    pendingHistoryIndex_.reset();

    // The new page replaces the old one at once and fetches what it asks for.
    if (resources_) resources_->cancel();
    const std::uint64_t serial = loadSerial_;
    Weak<UIWebView> weak = std::static_pointer_cast<UIWebView>(shared_from_this());
    resources_ = make<detail::WebResourceLoader>(
        limitsInForce(), files_,
        [weak, serial](detail::WebResourceLoader::Kind kind, const std::string& url,
                       std::optional<NSData> bytes, const std::optional<std::string>& charset) {
            auto view = weak.lock();
            if (view && view->loadSerial_ == serial) view->sendResource(kind, url, std::move(bytes), charset);
        });
    if (!fetchResources) resources_->cancel();
    stylesheetsChanged_ = false;
    imagesChanged_ = false;

    if (!page_) page_ = std::make_unique<Page>();
    Page& page = *page_;
    // A process still at work on the page before (a heavy one may hold it for seconds) is let go:
    // the new page starts at once in a fresh one, and never pays for the old one's bounds.
    if (page.process && !page.process->hasEnded() && page.process->waitingCommands() > 0) {
        page.process->end();
        page.process = nullptr;
    }
    page.loadSerial = serial;
    page.fetchResources = fetchResources;
    page.restarted = false;
    startPage(document);
}

void UIWebView::startPage(const Document& document) {
    Page& page = *page_;
    Weak<UIWebView> weak = std::static_pointer_cast<UIWebView>(shared_from_this());
    if (!page.process || page.process->hasEnded()) {
        page.process = detail::WebPageProcess::take();
        page.process->setHandlers({[weak](detail::webpage::Reply& reply) {
                                       if (auto view = weak.lock()) view->handleReply(reply);
                                   },
                                   [weak](detail::WebPageProcessEnd reason, const std::string& why) {
                                       if (auto view = weak.lock()) view->pageEnded(reason, why);
                                   }});
    }
    page.forgetRequests();
    page.gone = false;
    page.lastRefreshAt = -1;
    page.refreshes = 0;
    page.layout = {};
    page.unanswered = document;

    detail::webpage::LoadCommand load;
    load.document = document.data.toString();
    load.MIMEType = document.MIMEType.value_or("");
    load.textEncodingName = document.textEncodingName.value_or("");
    load.baseURL = document.baseURL ? document.baseURL->absoluteString() : std::string();
    load.viewport = viewportOf(*this);
    load.pictureLimits = limitsInForce();
    // The stylesheets it links will be handed over: nothing is laid out before them.
    load.stylesheetsFirst = page.fetchResources;
    laidOutWidth_ = bounds().size.width;
    page.loadID = page.process->send(std::move(load));
    page.loadLayout = ++page.layoutSerial;
    placePage();
    // A new page shows from its top: its first screen is asked for with it, sparing a round trip.
    const CGSize view = bounds().size;
    requestPaint(CGRectMake(0, 0, view.width, view.height), paintScale(), true);
}

void UIWebView::handleReply(detail::webpage::Reply& reply) {
    if (!page_) return;
    auto keepAlive = weak_from_this().lock();
    Page& page = *page_;
    using namespace detail::webpage;
    if (auto* loaded = std::get_if<LoadedReply>(&reply)) {
        // An earlier document's, replaced since.
        if (loaded->id != page.loadID) return;
        page.loadID = 0;
        page.unanswered.reset();
        page.shown = true;
        shownHTML_ = std::move(loaded->text);
        page.awaitingStylesheets = loaded->layout.awaitingStylesheets;
        page.toDecode = loaded->layout.picturesToDecode;
        applyLayout(loaded->layout, page.loadLayout);
        auto scroll = scrollView();
        // A new page shows from its top.
        scroll->setContentOffset(scroll->minimumContentOffset());
        requestResources();
        // A page waiting for stylesheets none of which is still coming is laid out now.
        if (page.awaitingStylesheets && resources_ &&
            resources_->pending(detail::WebResourceLoader::Kind::Stylesheet) == 0)
            stylesheetsChanged_ = true;
        paintVisibleArea();
        // The view changed width while the process read the page.
        if (bounds().size.width != laidOutWidth_) page.relayoutWanted = true;
        if (page.relayoutWanted || stylesheetsChanged_) refreshPage();
        finishIfDone();
    } else if (auto* laidOut = std::get_if<LaidOutReply>(&reply)) {
        if (laidOut->id != page.refreshID) return;
        page.refreshID = 0;
        page.awaitingStylesheets = laidOut->layout.awaitingStylesheets;
        page.toDecode = laidOut->layout.picturesToDecode;
        applyLayout(laidOut->layout, page.refreshLayout);
        requestResources();
        paintVisibleArea();
        // What ended meanwhile is laid out now; else the page may be done.
        refreshPage();
        finishIfDone();
    } else if (auto* ack = std::get_if<AckReply>(&reply)) {
        auto it = page.handedOver.find(ack->id);
        if (it == page.handedOver.end()) return;
        const auto [kind, url] = it->second;
        page.handedOver.erase(it);
        if (kind == detail::WebResourceLoader::Kind::Image) page.toDecode = ack->picturesToDecode;
        if (resources_) resources_->delivered(url);
        // A picture in a box the page fixes (or a background) needs only a new paint.
        const bool relayout = kind == detail::WebResourceLoader::Kind::Stylesheet || ack->relayout;
        if (kind == detail::WebResourceLoader::Kind::Image && ack->ok && !ack->relayout) contentChanged();
        resourceEnded(kind, relayout);
    } else if (auto* decoded = std::get_if<DecodedReply>(&reply)) {
        if (decoded->id != page.decodeID) return;
        page.decodeID = 0;
        // A process that decodes nothing and keeps as much waiting is asked no more until the
        // page changes.
        const bool progressed = decoded->repaint || decoded->picturesToDecode < page.toDecode;
        page.toDecode = progressed ? decoded->picturesToDecode : 0;
        if (decoded->repaint) contentChanged();
    } else if (auto* pixels = std::get_if<PixelsReply>(&reply)) {
        auto it = std::find_if(page.paints.begin(), page.paints.end(),
                               [&](const Page::Paint& p) { return p.id == pixels->id; });
        if (it == page.paints.end()) return;
        const std::uint64_t layout = it->layout;
        const std::uint64_t content = it->content;
        page.paints.erase(it);
        if (layout == page.layoutSerial) page.toDecode = pixels->picturesToDecode;
        if (layout != page.layoutSerial || pixels->width <= 0 || pixels->height <= 0) {
            paintVisibleArea();
            return;
        }
        // The piece is drawn from the reply's own pixels, which it keeps (rows of cairo's ARGB32
        // are exactly width * 4 bytes, as the reply's are).
        auto kept = std::make_shared<std::string>(std::move(pixels->pixels));
        cairo_surface_t* surface = cairo_image_surface_create_for_data(
            reinterpret_cast<unsigned char*>(kept->data()), CAIRO_FORMAT_ARGB32, pixels->width,
            pixels->height, pixels->width * 4);
        if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
            cairo_surface_destroy(surface);
            return;
        }
        Page::Piece piece;
        piece.x = pixels->x;
        piece.y = pixels->y;
        piece.width = pixels->width;
        piece.height = pixels->height;
        piece.scale = pixels->scale;
        piece.layout = layout;
        piece.content = content;
        piece.surface = std::shared_ptr<cairo_surface_t>(surface, [kept](cairo_surface_t* s) {
            cairo_surface_finish(s);
            cairo_surface_destroy(s);
        });
        page.pieces.push_back(std::move(piece));
        while (page.pieces.size() > Page::kMostPieces) page.pieces.pop_front();
        // What changed while it was painted is painted next.
        paintVisibleArea();
    } else if (auto* link = std::get_if<LinkReply>(&reply)) {
        auto it = page.links.find(link->id);
        if (it == page.links.end()) return;
        const std::uint64_t serial = it->second;
        page.links.erase(it);
        linkFound(serial, link->url);
    }
    if (page_ && page_->process) decodeIfIdle();
}

void UIWebView::contentChanged() {
    if (!page_) return;
    ++page_->contentSerial;
    paintVisibleArea();
}

void UIWebView::decodeIfIdle() {
    Page& page = *page_;
    // The rest of the pictures are decoded while the page has nothing else to do: whatever the
    // view asks for next waits behind one picture at most.
    if (!page.shown || page.awaitingStylesheets || page.toDecode == 0 || page.decodeID ||
        page.process->waitingCommands() > 0)
        return;
    page.decodeID = page.process->send(detail::webpage::DecodeCommand{});
}

void UIWebView::applyLayout(const detail::webpage::Layout& layout, std::uint64_t serial) {
    Page& page = *page_;
    page.layout = layout;
    // Pixels painted for an earlier layout are of another page.
    std::erase_if(page.pieces, [&](const Page::Piece& piece) { return piece.layout < serial; });
    laidOutSize_ = CGSizeMake(layout.contentWidth, layout.contentHeight);
    scrollView()->setContentSize(laidOutSize_);
    placePage();
}

void UIWebView::pageEnded(detail::WebPageProcessEnd reason, const std::string& why) {
    if (!page_) return;
    auto keepAlive = weak_from_this().lock();
    Page& page = *page_;
    const bool servedTheLoad = loading_ && !awaitingDocument_ && page.loadSerial == loadSerial_;
    // A process that died before it answered the Load (killed as the load began, or gone before it
    // read it) did none of the page's work: the page gets a new one, once, and the user sees
    // nothing of it. Its bounds are the page's doing, and end the load.
    const bool beforeTheWork =
        reason == detail::WebPageProcessEnd::Crashed || reason == detail::WebPageProcessEnd::CouldNotStart;
    if (servedTheLoad && page.unanswered && !page.restarted && beforeTheWork) {
        page.restarted = true;
        page.process = nullptr;
        const Document document = std::move(*page.unanswered);
        startPage(document);
        return;
    }
    page.process = nullptr;
    page.forgetRequests();
    page.gone = true;
    page.unanswered.reset();
    // What the page still waited for has nowhere to go.
    if (resources_) resources_->cancel();
    stylesheetsChanged_ = false;
    imagesChanged_ = false;
    placePage();
    if (!servedTheLoad) return;
    Dictionary info = Dictionary::mutableDictionary();
    info.setObject(NSLocalizedDescriptionKey, why);
    fail(NSError::errorWithDomain(UIWebViewPageProcessErrorDomain, errorCodeFor(reason), info));
}

void UIWebView::placePage() {
    if (!pageView_) return;
    const CGSize view = bounds().size;
    pageView_->setHidden(!page_ || (!page_->shown && !page_->gone));
    pageView_->setFrame(CGRectMake(0, 0, std::max(laidOutSize_.width, view.width),
                                   std::max(laidOutSize_.height, view.height)));
}

void UIWebView::requestResources() {
    if (!page_ || !page_->shown || !page_->fetchResources || !resources_) return;
    // The page's process sizes each picture for the screen; the app fetches each once.
    for (const std::string& url : page_->layout.stylesheets)
        resources_->request(detail::WebResourceLoader::Kind::Stylesheet, url);
    for (const auto& picture : page_->layout.pictures)
        resources_->request(detail::WebResourceLoader::Kind::Image, picture.url);
}

void UIWebView::sendResource(detail::WebResourceLoader::Kind kind, const std::string& url,
                             std::optional<NSData> bytes, const std::optional<std::string>& charset) {
    if (!page_ || !page_->process) return;
    std::uint64_t id = 0;
    if (kind == detail::WebResourceLoader::Kind::Stylesheet) {
        detail::webpage::StylesheetCommand command;
        command.url = url;
        command.ok = bytes.has_value();
        if (bytes) command.bytes = bytes->toString();
        command.charset = charset.value_or("");
        bytes.reset();
        id = page_->process->send(std::move(command));
    } else {
        // A picture that failed changes nothing the page shows (its box stays as it was laid
        // out): its process is not told, and it ends here.
        if (!bytes) {
            if (resources_) resources_->delivered(url);
            resourceEnded(kind, false);
            return;
        }
        detail::webpage::PictureCommand command;
        command.url = url;
        command.ok = true;
        command.bytes = bytes->toString();
        bytes.reset();
        id = page_->process->send(std::move(command));
    }
    if (id) page_->handedOver[id] = {kind, url};
}

void UIWebView::resourceEnded(detail::WebResourceLoader::Kind kind, bool relayout) {
    if (kind == detail::WebResourceLoader::Kind::Stylesheet)
        stylesheetsChanged_ = true;
    else if (relayout)
        imagesChanged_ = true;
    if (refreshScheduled_) return;
    // Resources that end together cost one new layout (or none), and one look at whether the page
    // is done; called while the loader hands a resource over, it waits for a turn of its own.
    refreshScheduled_ = true;
    const std::uint64_t serial = loadSerial_;
    Weak<UIWebView> weak = std::static_pointer_cast<UIWebView>(shared_from_this());
    NSRunLoop::mainRunLoop()->performBlock([weak, serial] {
        auto view = weak.lock();
        if (!view) return;
        view->refreshScheduled_ = false;
        if (view->loadSerial_ != serial) return;
        view->refreshPage();
        view->finishIfDone();
    });
}

void UIWebView::refreshPage() {
    if (!page_ || !page_->shown || !page_->process) return;
    Page& page = *page_;
    // One layout at a time: what comes meanwhile is laid out when it is in.
    if (page.refreshID || page.refreshAlarm) return;
    bool rebuild = false, send = page.relayoutWanted;
    // Stylesheets change how the page reads (and may import more): it is made again once the
    // ones asked for so far are all in.
    if (stylesheetsChanged_ && resources_ &&
        resources_->pending(detail::WebResourceLoader::Kind::Stylesheet) == 0) {
        stylesheetsChanged_ = false;
        imagesChanged_ = false;
        rebuild = send = true;
    } else if (imagesChanged_) {
        imagesChanged_ = false;
        send = true;
    }
    if (!send) return;
    // At most one layout a frame, however many pictures come: what comes sooner waits for the
    // frame's end (real time, as the pictures come).
    const double now = steadySeconds();
    if (!rebuild && page.lastRefreshAt >= 0 && now - page.lastRefreshAt < kFrameSeconds) {
        page.relayoutWanted = true;
        const std::uint64_t serial = loadSerial_;
        Weak<UIWebView> weak = std::static_pointer_cast<UIWebView>(shared_from_this());
        page.refreshAlarm = std::make_unique<detail::RealTimeAlarm>(
            kFrameSeconds - (now - page.lastRefreshAt), [weak, serial] {
                auto view = weak.lock();
                if (!view || !view->page_) return;
                auto keepAlive = view;
                view->page_->refreshAlarm.reset();
                if (view->loadSerial_ != serial) return;
                view->refreshPage();
                view->finishIfDone();
            });
        return;
    }
    page.lastRefreshAt = now;
    page.relayoutWanted = false;
    detail::webpage::RefreshCommand command;
    command.rebuild = rebuild;
    command.viewport = viewportOf(*this);
    laidOutWidth_ = bounds().size.width;
    page.refreshID = page.process->send(std::move(command));
    if (page.refreshID) ++page.refreshes;
    page.refreshLayout = ++page.layoutSerial;
}

void UIWebView::finishIfDone() {
    if (!loading_ || !page_ || !page_->shown || !page_->fetchResources || page_->refreshID ||
        page_->refreshAlarm || page_->awaitingStylesheets)
        return;
    if (page_->loadSerial != loadSerial_ || !resources_ || !resources_->idle()) return;
    if (stylesheetsChanged_ || imagesChanged_ || page_->relayoutWanted) return;
    finishLoad();
}

void UIWebView::finishLoad() {
    loading_ = false;
    started_ = false;
    ++finishedLoads_;
    if (auto d = delegate()) d->webViewDidFinishLoad(*this);
}

void UIWebView::fail(const Ref<NSError>& error) {
    auto keepAlive = weak_from_this().lock();
    connection_ = nullptr;
    loader_ = nullptr;
    awaitingDocument_ = false;
    documentAlarm_.reset();
    pendingHistoryIndex_.reset();
    loading_ = false;
    started_ = false;
    if (auto d = delegate()) d->webViewDidFailLoadWithError(*this, error);
}

// ---- what is shown ------------------------------------------------------------------------------

std::string UIWebView::shownText() const {
    return textOfHTML(shownHTML_);
}

UIWebView::ResourceLimits UIWebView::resourceLimits() {
    return limitsInForce();
}

void UIWebView::setResourceLimits(const ResourceLimits& limits) {
    limitsInForce() = limits;
}

void UIWebView::resetResourceLimits() {
    limitsInForce() = ResourceLimits();
}

int UIWebView::pageProcessID() const {
    return page_ && page_->process ? int(page_->process->pid()) : 0;
}

int UIWebView::pageRelayouts() const {
    return page_ ? page_->refreshes : 0;
}

double UIWebView::paintScale() const {
    if (page_ && page_->drawScale > 0) return page_->drawScale;
    return std::clamp<double>(contentScaleFactor(), 1, detail::webpage::kMaxScale);
}

std::uint64_t UIWebView::requestPaint(CGRect area, double scale, bool beforeShown) {
    if (!page_ || !page_->process || (!page_->shown && !beforeShown)) return 0;
    Page& page = *page_;
    if (!beforeShown) area = CGRectIntersection(area, pageView_ ? pageView_->frame() : CGRectZero);
    if (CGRectIsNull(area) || CGRectIsEmpty(area)) return 0;
    if (std::uint64_t id = page.paintCovering(area, scale)) return id;
    // Within what one message may carry: sides to the pixel bound, the whole to a quarter of the
    // message bound.
    using namespace detail::webpage;
    const double side = (kMaxPixelSide - 2) / scale;
    area.size.width = std::min<double>(area.size.width, side);
    area.size.height = std::min<double>(area.size.height, side);
    const double most = double(kMaxMessageBytes) / 16 / (scale * scale);
    if (area.size.width * area.size.height > most) area.size.height = std::max(1.0, most / area.size.width);
    PaintCommand command;
    command.x = area.origin.x;
    command.y = area.origin.y;
    command.width = area.size.width;
    command.height = area.size.height;
    command.scale = scale;
    const std::uint64_t id = page.process->send(command);
    if (id) page.paints.push_back({id, area, scale, page.layoutSerial, page.contentSerial});
    return id;
}

void UIWebView::paintVisibleArea() {
    if (!page_ || !page_->shown || page_->awaitingStylesheets || !scrollView_) return;
    const double scale = paintScale();
    const CGRect visible = scrollView_->bounds();
    // One paint of the page at a time: what changes meanwhile is looked at when it is in, so a
    // stream of pictures costs as many paints as the process has time for, not one each.
    if (CGRectIsEmpty(visible) || page_->covering(visible, scale) || page_->painting()) return;
    // A little around it, so that a small move needs nothing new.
    requestPaint(CGRectInset(visible, 0, -visible.size.height / 4), scale);
}

void UIWebView::visibleAreaMoved() {
    if (paintScheduled_ || !page_ || !page_->shown) return;
    paintScheduled_ = true;
    Weak<UIWebView> weak = std::static_pointer_cast<UIWebView>(shared_from_this());
    NSRunLoop::mainRunLoop()->performBlock([weak] {
        auto view = weak.lock();
        if (!view) return;
        view->paintScheduled_ = false;
        view->paintVisibleArea();
    });
}

void UIWebView::drawPage(const CGContextRef& context, CGRect rect) {
    if (!context || !page_) return;
    const CGRect visible = CGRectIntersection(CGContextGetClipBoundingBox(context), rect);
    if (CGRectIsNull(visible) || CGRectIsEmpty(visible)) return;
    Page& page = *page_;
    const CGAffineTransform ctm = CGContextGetCTM(context);
    double scale = std::sqrt(std::abs(ctm.a * ctm.d - ctm.b * ctm.c));
    // Scales a hair off a whole number are that number (a window rendered at 2 is 2).
    if (std::abs(scale - std::round(scale)) < 1e-6) scale = std::round(scale);
    scale = std::clamp(scale, 0.01, detail::webpage::kMaxScale);
    if (!page.gone && page.shown) {
        page.drawScale = scale;
        if (!page.covering(visible, scale)) {
            // The window is rendered now: the pixels it needs are worth a short wait (and no more).
            const std::uint64_t id = requestPaint(visible, scale);
            auto process = page.process;
            const double wait = renderingWaitLeft();
            if (id && process && wait > 0) process->waitForReply(id, wait);
        }
    }
    // The page's own canvas is the page's to paint; without one an opaque view shows white.
    const bool white = isOpaque() && (page.gone || !page.layout.hasCanvas);
    context->drawWithCairo(visible, [&](cairo_t* cr, bool coverageOnly) {
        cairo_save(cr);
        cairo_rectangle(cr, visible.origin.x, visible.origin.y, visible.size.width, visible.size.height);
        cairo_clip(cr);
        if (coverageOnly) {
            cairo_set_source_rgb(cr, 0, 0, 0);
            cairo_paint(cr);
        } else {
            if (white) {
                cairo_set_source_rgb(cr, 1, 1, 1);
                cairo_paint(cr);
            }
            if (!page.gone) {
                // What it has of the newest layout it has, oldest first, so the newest shows where
                // they overlap.
                std::uint64_t newest = 0;
                for (const auto& piece : page.pieces)
                    if (std::abs(piece.scale - scale) <= 1e-6) newest = std::max(newest, piece.layout);
                for (const auto& piece : page.pieces) {
                    if (piece.layout != newest || std::abs(piece.scale - scale) > 1e-6) continue;
                    cairo_save(cr);
                    cairo_scale(cr, 1 / piece.scale, 1 / piece.scale);
                    cairo_set_source_surface(cr, piece.surface.get(), piece.x, piece.y);
                    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
                    cairo_paint(cr);
                    cairo_restore(cr);
                }
            }
        }
        cairo_restore(cr);
    });
}

// ---- links --------------------------------------------------------------------------------------

void UIWebView::contentTapped(CGPoint pointInPage) {
    if (!page_ || !page_->shown || !page_->process) return;
    detail::webpage::LinkAtCommand command;
    command.x = std::clamp<double>(pointInPage.x, -detail::webpage::kMaxContentSide,
                                   detail::webpage::kMaxContentSide);
    command.y = std::clamp<double>(pointInPage.y, -detail::webpage::kMaxContentSide,
                                   detail::webpage::kMaxContentSide);
    if (const std::uint64_t id = page_->process->send(command)) page_->links[id] = loadSerial_;
}

void UIWebView::linkFound(std::uint64_t serial, const std::string& link) {
    // The page in progress goes on unless the delegate lets the link load.
    if (serial != loadSerial_ || link.empty()) return;
    Ref<NSURL> url = baseURL_ ? NSURL::URLWithString(link, baseURL_) : NSURL::URLWithString(link);
    if (!url) return;
    // The page's process says which link is there, and is trusted with nothing: a script link
    // runs nothing here (no script does), so it is no link at all.
    if (const auto scheme = url->scheme();
        scheme && (NSString::caseInsensitiveCompare(*scheme, "javascript") == NSOrderedSame ||
                   NSString::caseInsensitiveCompare(*scheme, "vbscript") == NSOrderedSame))
        return;
    // A file the page may not reach is no link at all: nothing is asked, nothing loads.
    if (url->isFileURL() && !files_.allows(url)) return;
    auto request = NSURLRequest::requestWithURL(url);
    auto keepAlive = weak_from_this().lock();
    if (auto d = delegate()) {
        if (!d->webViewShouldStartLoadWithRequest(*this, request, UIWebViewNavigationTypeLinkClicked)
                 .value_or(true))
            return;
    }
    if (loadSerial_ != serial) return;
    lastGivenDocument_.reset();
    pendingHistoryIndex_.reset();
    beginLoad(request, UIWebViewNavigationTypeLinkClicked, std::nullopt, true, true);
}

// ---- script -------------------------------------------------------------------------------------

std::string UIWebView::stringByEvaluatingJavaScriptFromString(const std::string& script) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    scripts_.push_back(script);
    if (scriptHandler_) {
        if (auto answer = scriptHandler_(script)) return *answer;
    }
    auto it = scriptAnswers_.find(script);
    return it == scriptAnswers_.end() ? std::string() : it->second;
}

void UIWebView::setJavaScriptAnswer(const std::string& script, const std::string& answer) {
    NS_ASSERT_MAIN_THREAD();
    scriptAnswers_[script] = answer;
}

void UIWebView::layoutSubviews() {
    UIView::layoutSubviews();
    ensureParts();
    // A new width lays the page out again (its process answers on a later turn).
    if (page_ && page_->shown && bounds().size.width != laidOutWidth_) {
        laidOutWidth_ = bounds().size.width;
        page_->relayoutWanted = true;
        refreshPage();
    }
    placePage();
}
