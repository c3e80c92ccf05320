#include "uikit/UIWebView.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>

#include "foundation/NSMainThreadCheck.h"
#include "foundation/NSRunLoop.h"
#include "foundation/NSString.h"
#include "graphics/NSStringDrawing.h"
#include "graphics/UIColor.h"
#include "graphics/UIFont.h"
#include "graphics/UIGraphics.h"
#include "network/NSURLConnection.h"
#include "network/NSURLResponse.h"
#include "uikit/UILabel.h"
#include "uikit/UITapGestureRecognizer.h"

namespace {

UIWebView::ContentHeightRule& heightRule() {
    static UIWebView::ContentHeightRule rule;
    return rule;
}

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
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
            std::string tag = lower(html.substr(i + 1, end - i - 1));
            bool closing = !tag.empty() && tag[0] == '/';
            std::string name;
            for (std::size_t k = closing ? 1 : 0;
                 k < tag.size() && std::isalnum(static_cast<unsigned char>(tag[k])); ++k)
                name += tag[k];
            i = end + 1;
            if (!closing && (name == "script" || name == "style")) {
                std::size_t close = lower(html).find("</" + name, i);
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

}  // namespace

// Collects a connection's reply for the web view that started it.
class UIWebView::Loader : public NSObject, public NSURLConnectionDataDelegate {
  public:
    Loader(Weak<UIWebView> view, std::uint64_t serial, Ref<NSURL> url)
        : view_(std::move(view)), serial_(serial), url_(std::move(url)) {}
    std::string className() const override { return "UIWebViewLoader"; }

    void connectionDidReceiveResponse(const Ref<NSURLConnection>&,
                                      const Ref<NSURLResponse>& response) override {
        response_ = response;
        data_ = NSData();
    }
    void connectionDidReceiveData(const Ref<NSURLConnection>&, const NSData& data) override {
        data_.appendData(data);
    }
    void connectionDidFinishLoading(const Ref<NSURLConnection>&) override {
        auto view = current();
        if (!view) return;
        Document document;
        document.data = data_;
        if (response_) {
            document.MIMEType = response_->MIMEType();
            document.textEncodingName = response_->textEncodingName();
            document.baseURL = response_->URL();
        }
        if (!document.baseURL) document.baseURL = url_;
        view->show(document, true);
    }
    void connectionDidFailWithError(const Ref<NSURLConnection>&, const Ref<NSError>& error) override {
        if (auto view = current()) view->fail(error);
    }

  private:
    Ref<UIWebView> current() const {
        auto view = view_.lock();
        return view && view->loadSerial_ == serial_ ? view : nullptr;
    }
    Weak<UIWebView> view_;
    std::uint64_t serial_;
    Ref<NSURL> url_;
    Ref<NSURLResponse> response_;
    NSData data_;
};

UIWebView::UIWebView() : UIWebView(CGRectZero) {}

UIWebView::UIWebView(CGRect frame) : UIView(frame) {
    setBackgroundColor(UIColor::whiteColor());
}

UIWebView::~UIWebView() {
    if (connection_) connection_->cancel();
}

void UIWebView::didInit() {
    ensureParts();
}

void UIWebView::ensureParts() {
    if (scrollView_ || weak_from_this().expired()) return;
    scrollView_ = make<UIScrollView>(bounds());
    scrollView_->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    scrollView_->setContentSize(CGSizeMake(bounds().size.width, 0));
    addSubview(scrollView_);
    Weak<UIWebView> weak = std::static_pointer_cast<UIWebView>(shared_from_this());
    tap_ = make<UITapGestureRecognizer>(nullptr, [weak](const Ref<UIGestureRecognizer>&) {
        if (auto view = weak.lock()) ++view->contentTaps_;
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
                          std::optional<Document> document, bool addToHistory) {
    ensureParts();
    cancelLoad(true);
    request_ = request;
    const std::uint64_t serial = ++loadSerial_;
    Weak<UIWebView> weak = std::static_pointer_cast<UIWebView>(shared_from_this());
    auto runLoop = NSRunLoop::mainRunLoop();
    runLoop->performBlock([weak, serial, request, type, document, addToHistory] {
        auto view = weak.lock();
        if (!view || view->loadSerial_ != serial) return;
        if (auto d = view->delegate()) {
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
        const Ref<NSURL>& url = request->URL();
        if (url && url->isFileURL()) {
            NSRunLoop::mainRunLoop()->performBlock([weak, serial, url] {
                auto v = weak.lock();
                if (!v || v->loadSerial_ != serial) return;
                auto data = NSData::dataWithContentsOfFile(url->path());
                if (!data) {
                    v->fail(NSError::errorWithDomain(NSURLErrorDomain, NSURLErrorFileDoesNotExist));
                    return;
                }
                const std::string ext = lower(url->pathExtension());
                std::optional<std::string> mime;
                if (ext == "html" || ext == "htm") mime = "text/html";
                if (ext == "txt") mime = "text/plain";
                v->show(Document{*data, mime, std::nullopt, url}, true);
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
        view->loader_ = make<Loader>(weak, serial, url);
        view->connection_ = make<NSURLConnection>(request, view->loader_, false);
        view->connection_->scheduleInRunLoop(NSRunLoop::mainRunLoop(), NSRunLoopCommonModes);
        view->connection_->start();
    });
}

void UIWebView::show(const Document& document, bool addToHistory) {
    auto keepAlive = weak_from_this().lock();
    connection_ = nullptr;
    loader_ = nullptr;
    shownData_ = document.data;
    shownMIMEType_ = document.MIMEType;
    baseURL_ = document.baseURL;
    NSStringEncoding encoding = NSUTF8StringEncoding;
    if (document.textEncodingName) {
        if (auto e = NSString::encodingForIANACharSetName(*document.textEncodingName)) encoding = *e;
    }
    auto text = NSString::initWithData(document.data, encoding);
    if (!text) text = NSString::initWithData(document.data, NSUTF8StringEncoding);
    shownHTML_ =
        text ? *text
             : std::string(reinterpret_cast<const char*>(document.data.bytes()), document.data.length());
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
    loading_ = false;
    started_ = false;
    ++finishedLoads_;
    const CGFloat width = bounds().size.width;
    const CGFloat height =
        heightRule() ? heightRule()(shownHTML_, width) : defaultContentHeight(shownHTML_, width);
    auto scroll = scrollView();
    scroll->setContentSize(CGSizeMake(width, height));
    showPageText(width, height);
    // A new page shows from its top.
    scroll->setContentOffset(scroll->minimumContentOffset());
    setNeedsDisplay();
    if (auto d = delegate()) d->webViewDidFinishLoad(*this);
}

void UIWebView::showPageText(CGFloat width, CGFloat height) {
    if (!pageLabel_) {
        pageLabel_ = make<UILabel>(CGRectZero);
        pageLabel_->setNumberOfLines(0);
        pageLabel_->setFont(UIFont::systemFontOfSize(16));
        pageLabel_->setTextColor(UIColor::darkGrayColor());
        pageLabel_->setUserInteractionEnabled(false);
        scrollView()->addSubview(pageLabel_);
    }
    pageLabel_->setText(textOfHTML(shownHTML_));
    pageLabel_->setFrame(
        CGRectMake(8, 8, std::max<CGFloat>(0, width - 16), std::max<CGFloat>(0, height - 16)));
}

void UIWebView::fail(const Ref<NSError>& error) {
    auto keepAlive = weak_from_this().lock();
    connection_ = nullptr;
    loader_ = nullptr;
    pendingHistoryIndex_.reset();
    loading_ = false;
    started_ = false;
    if (auto d = delegate()) d->webViewDidFailLoadWithError(*this, error);
}

// ---- what is shown ------------------------------------------------------------------------------

std::string UIWebView::shownText() const {
    return textOfHTML(shownHTML_);
}

void UIWebView::setContentHeightRule(ContentHeightRule rule) {
    heightRule() = std::move(rule);
}

CGFloat UIWebView::defaultContentHeight(const std::string& html, CGFloat width) {
    const std::string text = textOfHTML(html);
    if (text.empty()) return 16;
    CGSize size = NSStringDrawing::sizeWithFont(text, UIFont::systemFontOfSize(16),
                                                CGSizeMake(std::max<CGFloat>(1, width - 16), 1e9));
    return size.height + 16;
}

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
}

void UIWebView::drawRect(CGRect rect) {
    // The page itself is not drawn; the background (UIView's) is all there is.
}
