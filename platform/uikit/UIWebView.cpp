#include "uikit/UIWebView.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstring>
#include <string_view>

#include "dispatch/Dispatch.h"
#include "foundation/NSMainThreadCheck.h"
#include "foundation/NSRunLoop.h"
#include "foundation/NSString.h"
#include "graphics/UIColor.h"
#include "network/NSURLConnection.h"
#include "network/NSURLResponse.h"
#include "uikit/UIScreen.h"
#include "uikit/UITapGestureRecognizer.h"
#include "web/WebDocument.h"
#include "web/WebPageSource.h"
#include "web/WebTextDecoding.h"

namespace {

UIWebView::ResourceLimits& limitsInForce() {
    static UIWebView::ResourceLimits limits;
    return limits;
}

// A plain-text document shows as preformatted text.
std::string pageOfPlainText(const std::string& text) {
    std::string out = "<html><body><pre>";
    detail::appendEscapedHTML(out, text, false);
    return out + "</pre></body></html>";
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

}  // namespace

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
}

void UIWebView::didInit() {
    ensureParts();
}

void UIWebView::ensureParts() {
    if (scrollView_ || weak_from_this().expired()) return;
    Weak<UIWebView> weak = std::static_pointer_cast<UIWebView>(shared_from_this());
    scrollView_ = make<UIScrollView>(bounds());
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
    // The text is decoded as a browser decodes it: the bytes' own mark, the given charset, what
    // the page declares in itself (plain text declares nothing), UTF-8.
    const std::string_view bytes(reinterpret_cast<const char*>(document.data.bytes()),
                                 document.data.length());
    std::string encoding;
    shownHTML_ = document.MIMEType && lower(*document.MIMEType) == "text/plain"
                     ? detail::decodeTextBytes(bytes, document.textEncodingName, &encoding)
                     : detail::decodeHTMLBytes(bytes, document.textEncodingName, &encoding);
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
    resources_ = make<detail::WebResourceLoader>(limitsInForce(), files_,
                                                 [weak, serial](detail::WebResourceLoader::Kind kind) {
                                                     auto view = weak.lock();
                                                     if (view && view->loadSerial_ == serial)
                                                         view->resourceEnded(kind);
                                                 });
    resources_->setDocumentEncoding(encoding);
    if (!fetchResources) resources_->cancel();
    stylesheetsChanged_ = false;
    imagesChanged_ = false;
    buildDocument();
    layoutDocument();
    auto scroll = scrollView();
    // A new page shows from its top.
    scroll->setContentOffset(scroll->minimumContentOffset());
    if (!fetchResources) return;
    requestResources();
    if (resources_->idle()) finishLoad();
}

void UIWebView::buildDocument() {
    Weak<detail::WebResourceLoader> weak = resources_;
    WebDocument::Resources resources;
    resources.stylesheet = [weak](const std::string& url) -> std::optional<std::string> {
        auto loader = weak.lock();
        return loader ? loader->stylesheet(url) : std::nullopt;
    };
    resources.image = [weak](const std::string& url) -> Ref<CGImage> {
        auto loader = weak.lock();
        return loader ? loader->image(url) : nullptr;
    };
    resources.imageSize = [weak](const std::string& url) -> std::optional<CGSize> {
        auto loader = weak.lock();
        auto size = loader ? loader->imageSize(url) : std::nullopt;
        if (!size) return std::nullopt;
        return CGSizeMake(CGFloat(size->first), CGFloat(size->second));
    };
    const bool plain = shownMIMEType_ && lower(*shownMIMEType_) == "text/plain";
    document_ = WebDocument::create(plain ? pageOfPlainText(shownHTML_) : shownHTML_,
                                    baseURL_ ? baseURL_->absoluteString() : std::string(), resources);
    laidOutWidth_ = -1;
}

void UIWebView::layoutDocument() {
    if (!document_) return;
    const CGFloat width = bounds().size.width;
    laidOutSize_ = document_->layout(width);
    laidOutWidth_ = width;
    scrollView()->setContentSize(laidOutSize_);
    placePage();
}

void UIWebView::placePage() {
    if (!pageView_) return;
    const CGSize view = bounds().size;
    pageView_->setHidden(!document_);
    pageView_->setFrame(CGRectMake(0, 0, std::max(laidOutSize_.width, view.width),
                                   std::max(laidOutSize_.height, view.height)));
}

void UIWebView::requestResources() {
    if (!document_ || !resources_) return;
    for (const std::string& url : document_->stylesheetURLs())
        resources_->request(detail::WebResourceLoader::Kind::Stylesheet, url);
    // Each picture is decoded as large as the page shows it on this screen, no larger: its box
    // where the page sizes it, else the view's width.
    const double scale = std::max<CGFloat>(1, contentScaleFactor());
    // A view not sized yet stands for the screen it will be shown on.
    const CGFloat width =
        bounds().size.width > 0 ? bounds().size.width : UIScreen::mainScreen()->bounds().size.width;
    const double screen = std::max(1.0, std::ceil(width * scale));
    const auto& boxes = document_->pictureBoxes();
    for (const std::string& url : document_->imageURLs()) {
        detail::WebPictureFit fit;
        auto box = boxes.find(url);
        if (box == boxes.end()) {
            fit.screen = screen;
        } else {
            fit.width = std::ceil(box->second.width * scale);
            fit.height = std::ceil(box->second.height * scale);
            if (box->second.ownSize || (fit.width <= 0 && fit.height <= 0)) fit.screen = screen;
        }
        resources_->request(detail::WebResourceLoader::Kind::Image, url, fit);
    }
}

void UIWebView::resourceEnded(detail::WebResourceLoader::Kind kind) {
    if (kind == detail::WebResourceLoader::Kind::Stylesheet)
        stylesheetsChanged_ = true;
    else
        imagesChanged_ = true;
    if (refreshScheduled_) return;
    // Resources that end together cost one new layout.
    refreshScheduled_ = true;
    const std::uint64_t serial = loadSerial_;
    Weak<UIWebView> weak = std::static_pointer_cast<UIWebView>(shared_from_this());
    NSRunLoop::mainRunLoop()->performBlock([weak, serial] {
        auto view = weak.lock();
        if (!view) return;
        view->refreshScheduled_ = false;
        if (view->loadSerial_ == serial) view->refreshPage();
    });
}

void UIWebView::refreshPage() {
    if (!document_ || !resources_) return;
    auto keepAlive = weak_from_this().lock();
    // Stylesheets change how the page reads (and may import more): it is made again once the
    // ones asked for so far are all in.
    if (stylesheetsChanged_ && resources_->pending(detail::WebResourceLoader::Kind::Stylesheet) == 0) {
        stylesheetsChanged_ = false;
        imagesChanged_ = false;
        buildDocument();
        layoutDocument();
    } else if (imagesChanged_) {
        imagesChanged_ = false;
        layoutDocument();
    }
    requestResources();
    if (loading_ && resources_->idle() && !stylesheetsChanged_) finishLoad();
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

void UIWebView::drawPage(const CGContextRef& context, CGRect rect) {
    if (!document_ || !context) return;
    const CGRect visible = CGRectIntersection(CGContextGetClipBoundingBox(context), rect);
    if (CGRectIsNull(visible) || CGRectIsEmpty(visible)) return;
    // The page's own canvas is the page's to paint; without one an opaque view shows white.
    const bool white = !document_->canvasColor() && isOpaque();
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
            document_->draw(cr, visible);
        }
        cairo_restore(cr);
    });
}

// ---- links --------------------------------------------------------------------------------------

void UIWebView::contentTapped(CGPoint pointInPage) {
    if (!document_) return;
    std::optional<std::string> link = document_->linkAt(pointInPage);
    if (!link) return;
    Ref<NSURL> url = baseURL_ ? NSURL::URLWithString(*link, baseURL_) : NSURL::URLWithString(*link);
    if (!url) return;
    // A file the page may not reach is no link at all: nothing is asked, nothing loads.
    if (url->isFileURL() && !files_.allows(url)) return;
    auto request = NSURLRequest::requestWithURL(url);
    // The page in progress goes on unless the delegate lets the link load.
    const std::uint64_t serial = loadSerial_;
    Weak<UIWebView> weak = std::static_pointer_cast<UIWebView>(shared_from_this());
    NSRunLoop::mainRunLoop()->performBlock([weak, serial, request] {
        auto view = weak.lock();
        if (!view || view->loadSerial_ != serial) return;
        if (auto d = view->delegate()) {
            if (!d->webViewShouldStartLoadWithRequest(*view, request, UIWebViewNavigationTypeLinkClicked)
                     .value_or(true))
                return;
        }
        if (view->loadSerial_ != serial) return;
        view->lastGivenDocument_.reset();
        view->pendingHistoryIndex_.reset();
        view->beginLoad(request, UIWebViewNavigationTypeLinkClicked, std::nullopt, true, true);
    });
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
    // A new width lays the page out again, and may show its pictures larger.
    if (document_ && bounds().size.width != laidOutWidth_) {
        layoutDocument();
        requestResources();
    } else
        placePage();
}
