#pragma once
// Web views: pages read, styled, laid out, decoded and painted by a process of their own (the
// program web-page-process, uikit/WebPageProcess.h), with their stylesheets and pictures; no
// script. A web view loads what it is given (through the URL loading system for http and https,
// from disk for file URLs), hands the bytes to its page's process, keeps the document it shows for
// assertions (shownHTML, shownData, shownMIMEType, baseURL), and tells its delegate as a browser
// would. The page's process opens nothing: it gets bytes, the view's width and the screen's scale.
//
// Every load (loadRequest, loadHTMLString, loadData, reload, goBack, goForward, a tapped link)
// begins on a later turn of the main run loop: the delegate is asked
// webViewShouldStartLoadWithRequest (refusal ends it there), then told webViewDidStartLoad while
// isLoading is true. When the document is in (a later turn again) it goes to the page's process and
// is shown as soon as the process has read it (shownHTML is its text as the process decoded it),
// and the stylesheets and pictures it asks for are fetched (uikit/UIWebViewResources.h gives the
// bounds: time-outs, byte caps, how many at once, stylesheets in all, pictures' bytes in all) and
// handed over; once every one of them is taken in or has failed, webViewDidFinishLoad follows with
// the scroll view's content size from the laid-out page, or webViewDidFailLoadWithError if the
// document itself failed. A page that asks for nothing finishes on the turn it is shown. A page that
// links stylesheets is laid out once they are in (or failed), not before. A picture that fails keeps
// the box the page gives it (its process is not told of it); a picture in a box the page fixes, or
// a background, is painted in as it comes, and others lay the page out again, at most once a frame
// (real time). Pictures are decoded by the process as they are painted, those shown first, the rest
// while the page is idle, also after the load finished; each shows as it is decoded. A new load or
// stopLoading cancels the one in progress, stylesheets and pictures included (a cancelled load reports
// didFailLoadWithError with NSURLErrorCancelled (-999), as the platform does, when it had started). An HTTP
// error status still shows its page and finishes normally. A document past its byte cap
// (ResourceLimits::maxDocumentBytes) shows what came up to there. A document still coming past its
// deadline (ResourceLimits::documentDeadlineSeconds from the start of the load, real time, whether
// it trickles or has gone silent) fails with NSURLErrorTimedOut and shows what came, laid out,
// without fetching its stylesheets and pictures.
//
// The page's process: each web view has one (a spare is kept started ahead, so a load does not
// wait for a start); releasing the view ends it. When it dies, is ended for passing its memory
// bound or its CPU bound on one command, leaves a command unanswered past its real-time bound, or
// sends a malformed message, the load in progress fails once (never also finishes) with
// UIWebViewPageProcessErrorDomain and the code below, the view shows white, and the next load
// starts a new process. A process that dies before it answered the load's document (the spare
// killed as the load began) did none of the page's work: the page is given a new process, once,
// and the delegate hears nothing of it. No page work runs on the main thread.
//
// Local files: a file URL is read only when it names a regular file (no device, pipe, socket or
// kernel file of /proc or /sys), within the same byte cap and time bounds as over http; a file
// that may not be read fails as a missing one (NSURLErrorFileDoesNotExist). A page whose own URL
// is http or https (its request's, after redirects, or the base URL it was given as a string or
// data) reaches no local file: its file URLs fail at once, whatever its <base> says, and a tapped
// file link on it does nothing (the delegate is not asked). Any other page (a file, or a string or
// data without a base) reaches only files inside the main bundle's resources folder, symlinks and
// ".." resolved; a tapped file link outside it does nothing either. Loading a file URL by
// loadRequest is the app's own choice and reads the file wherever it is.
//
// Drawing: the page is laid out at the view's width (CSS px are points; a new width lays it out
// again and updates the content size when the process answers) and painted by the process, at the
// scale the window renders at, for a view inside the scroll view. The view keeps the pixels of the
// visible area and a little around it (a few screens at most, dropped when the page changes),
// asks for them after each layout, when the visible area moves and when what the page shows
// changed (one paint on its way at a time), and draws what it has; when the window is rendered and
// the pixels for the visible area at that scale are not in, it waits for them (the only wait on
// the main thread): at most a second for one rendering, shared by all the web views it draws. The canvas is
// the page's own background, else white; a view that is not opaque paints no white, so its background colour
// (or, when clear, what is behind it) shows through where the page paints nothing.
//
// A tap on a link (the web view's own tap recogniser) asks the page's process which link is there,
// then the delegate with UIWebViewNavigationTypeLinkClicked, and loads the link's URL if it is
// allowed (file links as above). A script link (javascript:, vbscript:) is no link: no script runs
// here, and nothing is asked or loaded.
//
// stringByEvaluatingJavaScriptFromString answers what a test scripted for that script (or a
// handler), else ""; every script is recorded. The web view has a tap recogniser of its own on
// itself (as the platform's content has), so a recogniser added beside it competes with it unless
// a delegate lets them recognise together. History: each finished load of a request (not of
// strings or data) is a page; goBack and goForward load the neighbours. Main thread only.

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "foundation/NSData.h"
#include "foundation/NSError.h"
#include "foundation/NSURL.h"
#include "network/NSURLRequest.h"
#include "uikit/UIScrollView.h"
#include "uikit/UIView.h"
#include "uikit/UIWebViewResources.h"
#include "web/WebPageProtocol.h"

class UIWebView;
class UITapGestureRecognizer;
class NSURLConnection;
namespace detail {
class WebPageProcess;
enum class WebPageProcessEnd;
}  // namespace detail

enum UIWebViewNavigationType : long {
    UIWebViewNavigationTypeLinkClicked = 0,
    UIWebViewNavigationTypeFormSubmitted = 1,
    UIWebViewNavigationTypeBackForward = 2,
    UIWebViewNavigationTypeReload = 3,
    UIWebViewNavigationTypeFormResubmitted = 4,
    UIWebViewNavigationTypeOther = 5,
};

using UIDataDetectorTypes = unsigned long;
inline constexpr UIDataDetectorTypes UIDataDetectorTypeNone = 0;
inline constexpr UIDataDetectorTypes UIDataDetectorTypePhoneNumber = 1u << 0;
inline constexpr UIDataDetectorTypes UIDataDetectorTypeLink = 1u << 1;
inline constexpr UIDataDetectorTypes UIDataDetectorTypeAll = ~0ul;

// How a load fails when its page's process ends (NSError domain and codes).
inline constexpr char UIWebViewPageProcessErrorDomain[] = "UIWebViewPageProcessErrorDomain";
enum : long {
    // The program is missing, could not be run, or ended before it was ready.
    UIWebViewPageProcessErrorCouldNotStart = 1,
    // It died (killed, or a crash).
    UIWebViewPageProcessErrorCrashed = 2,
    // It passed its memory bound, or ran out of memory itself (exit status 3).
    UIWebViewPageProcessErrorMemoryLimit = 3,
    // It worked past its CPU bound on one command.
    UIWebViewPageProcessErrorCPULimit = 4,
    // It sent a malformed or unexpected message.
    UIWebViewPageProcessErrorMalformedMessage = 5,
    // It left a command unanswered past its real-time bound (stopped, or silent mid-message).
    UIWebViewPageProcessErrorUnresponsive = 6,
};

// The delegate protocol; every method is optional.
class UIWebViewDelegate {
  public:
    virtual ~UIWebViewDelegate() = default;
    virtual std::optional<bool> webViewShouldStartLoadWithRequest(UIWebView& webView,
                                                                  const Ref<NSURLRequest>& request,
                                                                  UIWebViewNavigationType navigationType) {
        return std::nullopt;
    }
    virtual void webViewDidStartLoad(UIWebView& webView) {}
    virtual void webViewDidFinishLoad(UIWebView& webView) {}
    virtual void webViewDidFailLoadWithError(UIWebView& webView, const Ref<NSError>& error) {}
};

class UIWebView : public UIView {
  public:
    UIWebView();
    explicit UIWebView(CGRect frame);
    ~UIWebView() override;
    std::string className() const override { return "UIWebView"; }
    // Makes the scroll view and the tap recogniser; subclasses with a didInit call it.
    void didInit();

    Ref<UIWebViewDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(const Ref<UIWebViewDelegate>& delegate) { delegate_ = delegate; }

    // ---- loading ------------------------------------------------------------------------------
    void loadRequest(const Ref<NSURLRequest>& request);
    // A nil base URL is allowed (the request is then "about:blank").
    void loadHTMLString(const std::string& html, const Ref<NSURL>& baseURL);
    void loadData(const NSData& data, const std::optional<std::string>& MIMEType,
                  const std::optional<std::string>& textEncodingName, const Ref<NSURL>& baseURL);
    void reload();
    void stopLoading();
    bool canGoBack() const;
    bool canGoForward() const;
    void goBack();
    void goForward();
    bool isLoading() const { return loading_; }
    // The request of the document shown or being loaded; nullptr before any load.
    Ref<NSURLRequest> request() const { return request_; }

    // ---- what is shown ------------------------------------------------------------------------
    // The document as text (decoded by its encoding; UTF-8 when unknown), its bytes, its MIME type
    // and the base URL relative links would resolve against.
    const std::string& shownHTML() const { return shownHTML_; }
    const NSData& shownData() const { return shownData_; }
    const std::optional<std::string>& shownMIMEType() const { return shownMIMEType_; }
    const Ref<NSURL>& baseURL() const { return baseURL_; }
    // The document's text without markup (scripts and styles removed, white space collapsed,
    // block ends as line breaks).
    std::string shownText() const;
    // How many documents have finished loading.
    int finishedLoadCount() const { return finishedLoads_; }

    // ---- page resources -----------------------------------------------------------------------
    // The bounds every page's stylesheets and pictures are fetched within (tests shorten them);
    // a page uses those in force when it is shown.
    using ResourceLimits = detail::WebResourceLimits;
    static ResourceLimits resourceLimits();
    static void setResourceLimits(const ResourceLimits& limits);
    static void resetResourceLimits();

    // ---- script -------------------------------------------------------------------------------
    std::string stringByEvaluatingJavaScriptFromString(const std::string& script);
    void setJavaScriptAnswer(const std::string& script, const std::string& answer);
    using JavaScriptHandler = std::function<std::optional<std::string>(const std::string& script)>;
    void setJavaScriptHandler(JavaScriptHandler handler) { scriptHandler_ = std::move(handler); }
    const std::vector<std::string>& evaluatedScripts() const { return scripts_; }

    // ---- settings -----------------------------------------------------------------------------
    Ref<UIScrollView> scrollView();
    bool scalesPageToFit() const { return scalesPageToFit_; }
    void setScalesPageToFit(bool scales) { scalesPageToFit_ = scales; }
    UIDataDetectorTypes dataDetectorTypes() const { return dataDetectorTypes_; }
    void setDataDetectorTypes(UIDataDetectorTypes types) { dataDetectorTypes_ = types; }
    bool allowsInlineMediaPlayback() const { return allowsInlineMediaPlayback_; }
    void setAllowsInlineMediaPlayback(bool allows) { allowsInlineMediaPlayback_ = allows; }
    bool mediaPlaybackRequiresUserAction() const { return mediaPlaybackRequiresUserAction_; }
    void setMediaPlaybackRequiresUserAction(bool on) { mediaPlaybackRequiresUserAction_ = on; }
    bool keyboardDisplayRequiresUserAction() const { return keyboardDisplayRequiresUserAction_; }
    void setKeyboardDisplayRequiresUserAction(bool on) { keyboardDisplayRequiresUserAction_ = on; }
    // The web view's own tap recogniser.
    Ref<UITapGestureRecognizer> contentTapRecognizer();
    int contentTapCount() const { return contentTaps_; }

    void layoutSubviews() override;

    // ---- for the page's view ------------------------------------------------------------------
    // Draws the visible part of `rect` (document coordinates, the context's user space).
    void drawPage(const CGContextRef& context, CGRect rect);
    // The visible area moved: its pixels are asked for.
    void visibleAreaMoved();

    // The pid of this view's page's process, 0 when it has none (for tests).
    int pageProcessID() const;
    // How many times the page shown was laid out again by its process since it was handed over
    // (for tests: stylesheets, pictures and new widths each may cost one).
    int pageRelayouts() const;

  private:
    // A document to show: its bytes, type, encoding and base URL.
    struct Document {
        NSData data;
        std::optional<std::string> MIMEType;
        std::optional<std::string> textEncodingName;
        Ref<NSURL> baseURL;
    };
    class Loader;
    friend class Loader;
    void ensureParts();
    // Asks, starts and then shows (or fetches) on later turns.
    // (`asked`: the delegate has already allowed it.)
    void beginLoad(const Ref<NSURLRequest>& request, UIWebViewNavigationType type,
                   std::optional<Document> document, bool addToHistory, bool asked = false);
    // (`fetchResources` false: laid out as it is, its stylesheets and pictures not fetched, and
    // not finished; the caller ends the load.)
    void show(const Document& document, bool addToHistory, bool fetchResources = true);
    // Hands the document to the page's process (a new one when it has none).
    void startPage(const Document& document);
    void fail(const Ref<NSError>& error);
    // The document's deadline for the load in progress: from now on, real time.
    void startDocumentClock();
    // Past the deadline: shows what came, fails as timed out.
    void documentTimedOut();
    void cancelLoad(bool report);
    // The shown page, in its process: laid out, its resources asked for and handed over, finished.
    void handleReply(detail::webpage::Reply& reply);
    void pageEnded(detail::WebPageProcessEnd reason, const std::string& why);
    void applyLayout(const detail::webpage::Layout& layout, std::uint64_t serial);
    void placePage();
    void requestResources();
    void sendResource(detail::WebResourceLoader::Kind kind, const std::string& url,
                      std::optional<NSData> bytes, const std::optional<std::string>& charset);
    // (`relayout`: it changes how the page lays out.)
    void resourceEnded(detail::WebResourceLoader::Kind kind, bool relayout);
    // The page shows differently without a new layout: the visible area is painted again.
    void contentChanged();
    // Asks the process to decode a picture still waiting, when it has nothing else to do.
    void decodeIfIdle();
    void refreshPage();
    void finishIfDone();
    void finishLoad();
    void contentTapped(CGPoint pointInPage);
    void linkFound(std::uint64_t serial, const std::string& link);
    // Asks for the pixels of an area (document coordinates) at a scale; the command's id, or 0.
    // (`beforeShown`: for the page whose Load is on its way, before its size is known.)
    std::uint64_t requestPaint(CGRect area, double scale, bool beforeShown = false);
    // The scale the window renders the page at, as far as known.
    double paintScale() const;
    // Asks for the visible area's pixels if they are not in.
    void paintVisibleArea();

    Weak<UIWebViewDelegate> delegate_;
    Ref<UIScrollView> scrollView_;
    Ref<UITapGestureRecognizer> tap_;
    // Draws the page, inside the scroll view, over the content (at least the view's size).
    Ref<UIView> pageView_;
    // The page in its process: what the view asked of it and has of it.
    struct Page;
    std::unique_ptr<Page> page_;
    Ref<detail::WebResourceLoader> resources_;
    CGFloat laidOutWidth_ = -1;
    CGSize laidOutSize_{0, 0};
    bool stylesheetsChanged_ = false;
    bool imagesChanged_ = false;
    bool refreshScheduled_ = false;
    bool paintScheduled_ = false;
    int contentTaps_ = 0;
    Ref<NSURLRequest> request_;
    bool loading_ = false;
    bool started_ = false;  // didStartLoad told for the load in progress
    std::uint64_t loadSerial_ = 0;
    Ref<NSURLConnection> connection_;
    Ref<Loader> loader_;
    // Between the start of a load and its document shown (or failed).
    bool awaitingDocument_ = false;
    double documentDeadline_ = 0;  // steady seconds
    std::unique_ptr<detail::RealTimeAlarm> documentAlarm_;
    // What the shown page may read from disk.
    detail::WebFileAccess files_;

    std::string shownHTML_;
    NSData shownData_;
    std::optional<std::string> shownMIMEType_;
    Ref<NSURL> baseURL_;
    int finishedLoads_ = 0;
    std::vector<Ref<NSURLRequest>> history_;
    std::ptrdiff_t historyIndex_ = -1;
    std::optional<std::ptrdiff_t> pendingHistoryIndex_;
    // The last document given as a string or data, for reload.
    std::optional<Document> lastGivenDocument_;

    std::map<std::string, std::string> scriptAnswers_;
    JavaScriptHandler scriptHandler_;
    std::vector<std::string> scripts_;

    bool scalesPageToFit_ = false;
    UIDataDetectorTypes dataDetectorTypes_ = UIDataDetectorTypePhoneNumber;
    bool allowsInlineMediaPlayback_ = false;
    bool mediaPlaybackRequiresUserAction_ = true;
    bool keyboardDisplayRequiresUserAction_ = true;
};
