#include "uikit/UIApplication.h"

#include <algorithm>
#include <cfloat>
#include <cstdio>
#include <mutex>
#include <utility>

#include "foundation/NSMainThreadCheck.h"
#include "foundation/NSNotificationCenter.h"
#include "foundation/NSRunLoop.h"
#include "graphics/NSValue+Geometry.h"
#include "system/SystemOtherApps.h"
#include "uikit/UIScreen.h"

namespace {

// The shared application; other threads read it (background-task bookkeeping), so it is guarded.
std::mutex& sharedSlotMutex() {
    static auto* mutex = new std::mutex();
    return *mutex;
}
Ref<UIApplication>& sharedSlot() {
    static Ref<UIApplication> application;
    return application;
}
UIApplication::StoryboardLoader& storyboardLoader() {
    static UIApplication::StoryboardLoader loader;
    return loader;
}
UIApplication::EventDispatcher& eventDispatcher() {
    static UIApplication::EventDispatcher dispatcher;
    return dispatcher;
}
UIApplication::ActionSender& actionSender() {
    static UIApplication::ActionSender sender;
    return sender;
}
std::map<std::string, UIApplication::ApplicationFactory>& applicationClasses() {
    static std::map<std::string, UIApplication::ApplicationFactory> classes;
    return classes;
}
std::map<std::string, UIApplication::DelegateFactory>& delegateClasses() {
    static std::map<std::string, UIApplication::DelegateFactory> classes;
    return classes;
}

}  // namespace

UIApplication::UIApplication() = default;
UIApplication::~UIApplication() = default;

Ref<UIApplication> UIApplication::sharedApplication() {
    std::lock_guard lock(sharedSlotMutex());
    auto& slot = sharedSlot();
    if (!slot) slot = make<UIApplication>();
    return slot;
}

void UIApplication::setSharedApplication(const Ref<UIApplication>& application) {
    Ref<UIApplication> previous;  // let go outside the lock: its teardown may ask for the slot
    std::lock_guard lock(sharedSlotMutex());
    previous = std::move(sharedSlot());
    sharedSlot() = application;
}

// ---- windows ----------------------------------------------------------------------------------

std::vector<Ref<UIWindow>> UIApplication::windows() const {
    auto windows = UIWindow::allWindows();
    std::stable_sort(windows.begin(), windows.end(), [](const Ref<UIWindow>& a, const Ref<UIWindow>& b) {
        if (a->windowLevel() != b->windowLevel()) return a->windowLevel() < b->windowLevel();
        return a->orderingSerial() < b->orderingSerial();
    });
    return windows;
}

void UIApplication::setKeyWindowInternal(const Ref<UIWindow>& window) {
    NS_ASSERT_MAIN_THREAD();
    keyWindow_ = window;
}

// ---- launching --------------------------------------------------------------------------------

void UIApplication::setMainStoryboardLoader(StoryboardLoader loader) {
    storyboardLoader() = std::move(loader);
}

bool UIApplication::finishLaunching(const Dictionary& launchOptions) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    if (launched_) return true;
    launched_ = true;
    state_ = UIApplicationStateInactive;
    if (storyboardLoader()) {
        if (auto window = storyboardLoader()(*this)) {
            if (delegate_) delegate_->setWindow(window);
        }
    }
    bool result = true;
    if (delegate_) {
        if (auto answer = delegate_->applicationWillFinishLaunchingWithOptions(*this, launchOptions))
            result = *answer;
        if (auto answer = delegate_->applicationDidFinishLaunchingWithOptions(*this, launchOptions)) {
            result = result && *answer;
        }
        if (auto window = delegate_->window()) window->makeKeyAndVisible();
    }
    Dictionary info;
    for (auto& [key, value] : launchOptions) info.setObject(key, value);
    post(UIApplicationDidFinishLaunchingNotification,
         launchOptions.empty() ? std::nullopt : std::optional<Dictionary>(info));
    simulateDidBecomeActive();
    return result;
}

// ---- life cycle -------------------------------------------------------------------------------

void UIApplication::post(const char* name, std::optional<Dictionary> userInfo) {
    NSNotificationCenter::defaultCenter()->postNotificationName(name, self(), std::move(userInfo));
}

void UIApplication::simulateWillResignActive() {
    NS_ASSERT_MAIN_THREAD();
    if (state_ != UIApplicationStateActive) return;
    if (delegate_) delegate_->applicationWillResignActive(*this);
    post(UIApplicationWillResignActiveNotification);
    state_ = UIApplicationStateInactive;
}

void UIApplication::simulateDidBecomeActive() {
    NS_ASSERT_MAIN_THREAD();
    if (state_ == UIApplicationStateActive) return;
    state_ = UIApplicationStateActive;
    if (delegate_) delegate_->applicationDidBecomeActive(*this);
    post(UIApplicationDidBecomeActiveNotification);
}

void UIApplication::simulateDidEnterBackground() {
    NS_ASSERT_MAIN_THREAD();
    if (state_ == UIApplicationStateBackground) return;
    simulateWillResignActive();
    state_ = UIApplicationStateBackground;
    if (delegate_) delegate_->applicationDidEnterBackground(*this);
    post(UIApplicationDidEnterBackgroundNotification);
}

void UIApplication::simulateWillEnterForeground() {
    NS_ASSERT_MAIN_THREAD();
    if (state_ != UIApplicationStateBackground) return;
    state_ = UIApplicationStateInactive;
    if (delegate_) delegate_->applicationWillEnterForeground(*this);
    post(UIApplicationWillEnterForegroundNotification);
    simulateDidBecomeActive();
}

void UIApplication::simulateWillTerminate() {
    NS_ASSERT_MAIN_THREAD();
    if (delegate_) delegate_->applicationWillTerminate(*this);
    post(UIApplicationWillTerminateNotification);
}

void UIApplication::simulateMemoryWarning() {
    NS_ASSERT_MAIN_THREAD();
    if (delegate_) delegate_->applicationDidReceiveMemoryWarning(*this);
    post(UIApplicationDidReceiveMemoryWarningNotification);
}

// ---- other apps -------------------------------------------------------------------------------

bool UIApplication::canOpenURL(const Ref<NSURL>& url) {
    if (!url) return false;
    {
        std::lock_guard lock(urlMutex_);
        canOpenQueries_.push_back(url);
    }
    auto scheme = url->scheme();
    if (!scheme) return false;
    return isOpenableScheme(*scheme) || SystemOtherApps::canOpenURL(url);
}

bool UIApplication::isOpenableScheme(const std::string& scheme) const {
    std::string lower = scheme;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    std::lock_guard lock(urlMutex_);
    return openableSchemes_.count(lower) > 0 || openableSchemes_.count(scheme) > 0;
}

bool UIApplication::openURL(const Ref<NSURL>& url) {
    if (!url) return false;
    OpenURLHandler handler;
    {
        std::lock_guard lock(urlMutex_);
        openedURLs_.push_back(url);
        handler = openURLHandler_;
    }
    if (handler) return handler(url);
    auto scheme = url->scheme();
    if (!scheme) return false;
    // The device routes the URL to whichever app claims its scheme (or to the system).
    bool delivered = SystemOtherApps::openURL(url);
    return delivered || isOpenableScheme(*scheme);
}

std::vector<Ref<NSURL>> UIApplication::openedURLs() const {
    std::lock_guard lock(urlMutex_);
    return openedURLs_;
}

std::vector<Ref<NSURL>> UIApplication::canOpenURLQueries() const {
    std::lock_guard lock(urlMutex_);
    return canOpenQueries_;
}

void UIApplication::setOpenableURLSchemes(std::set<std::string> schemes) {
    std::lock_guard lock(urlMutex_);
    openableSchemes_ = std::move(schemes);
}

std::set<std::string> UIApplication::openableURLSchemes() const {
    std::lock_guard lock(urlMutex_);
    return openableSchemes_;
}

void UIApplication::setOpenURLHandler(OpenURLHandler handler) {
    std::lock_guard lock(urlMutex_);
    openURLHandler_ = std::move(handler);
}

void UIApplication::clearRecordedURLs() {
    std::lock_guard lock(urlMutex_);
    openedURLs_.clear();
    canOpenQueries_.clear();
}

bool UIApplication::openURLFromOtherApp(const Ref<NSURL>& url,
                                        const std::optional<std::string>& sourceApplication,
                                        const Value& annotation) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    if (!delegate_ || !url) return false;
    if (auto answer = delegate_->applicationOpenURL(*this, url, sourceApplication, annotation))
        return *answer;
    if (auto answer = delegate_->applicationHandleOpenURL(*this, url)) return *answer;
    return false;
}

// ---- status bar -------------------------------------------------------------------------------

void UIApplication::setStatusBarHidden(bool hidden) {
    NS_ASSERT_MAIN_THREAD();
    if (hidden == statusBarHidden_) return;
    CGRect old = statusBarFrame();
    statusBarHidden_ = hidden;
    Dictionary info{
        {UIApplicationStatusBarFrameUserInfoKey, NSValue_Geometry::valueWithCGRect(statusBarFrame())}};
    post(UIApplicationWillChangeStatusBarFrameNotification, info);
    Dictionary didInfo{{UIApplicationStatusBarFrameUserInfoKey, NSValue_Geometry::valueWithCGRect(old)}};
    post(UIApplicationDidChangeStatusBarFrameNotification, didInfo);
}

void UIApplication::setStatusBarHidden(bool hidden, UIStatusBarAnimation animation) {
    NS_ASSERT_MAIN_THREAD();
    setStatusBarHidden(hidden);
}

CGRect UIApplication::statusBarFrame() const {
    if (statusBarHidden_) return CGRectZero;
    CGRect screen = UIScreen::mainScreen()->bounds();
    const bool landscape = statusBarOrientation_ == UIInterfaceOrientationLandscapeLeft ||
                           statusBarOrientation_ == UIInterfaceOrientationLandscapeRight;
    return {{0, 0}, {landscape ? screen.size.height : screen.size.width, 20}};
}

void UIApplication::setStatusBarOrientation(UIInterfaceOrientation orientation) {
    NS_ASSERT_MAIN_THREAD();
    if (orientation == statusBarOrientation_) return;
    UIInterfaceOrientation old = statusBarOrientation_;
    post(UIApplicationWillChangeStatusBarOrientationNotification,
         Dictionary{{UIApplicationStatusBarOrientationUserInfoKey, Value(long(orientation))}});
    statusBarOrientation_ = orientation;
    if (delegate_) delegate_->applicationDidChangeStatusBarOrientation(*this, old);
    post(UIApplicationDidChangeStatusBarOrientationNotification,
         Dictionary{{UIApplicationStatusBarOrientationUserInfoKey, Value(long(old))}});
}

void UIApplication::setStatusBarOrientation(UIInterfaceOrientation orientation, bool animated) {
    NS_ASSERT_MAIN_THREAD();
    setStatusBarOrientation(orientation);
}

// ---- background tasks -------------------------------------------------------------------------

UIBackgroundTaskIdentifier
UIApplication::beginBackgroundTaskWithExpirationHandler(std::function<void()> handler) {
    return beginBackgroundTaskWithName(std::nullopt, std::move(handler));
}

UIBackgroundTaskIdentifier UIApplication::beginBackgroundTaskWithName(const std::optional<std::string>& name,
                                                                      std::function<void()> handler) {
    std::lock_guard<std::mutex> lock(tasksMutex_);
    UIBackgroundTaskIdentifier id = nextTask_++;
    tasks_[id] = BackgroundTask{name, std::move(handler)};
    return id;
}

void UIApplication::endBackgroundTask(UIBackgroundTaskIdentifier identifier) {
    std::function<void()> dropped;
    {
        std::lock_guard<std::mutex> lock(tasksMutex_);
        auto it = tasks_.find(identifier);
        if (it == tasks_.end()) return;
        dropped = std::move(it->second.handler);  // destroyed outside the lock
        tasks_.erase(it);
    }
}

double UIApplication::backgroundTimeRemaining() const {
    return state_ == UIApplicationStateBackground ? 180.0 : DBL_MAX;
}

std::vector<UIBackgroundTaskIdentifier> UIApplication::runningBackgroundTasks() const {
    std::lock_guard<std::mutex> lock(tasksMutex_);
    std::vector<UIBackgroundTaskIdentifier> ids;
    for (auto& [id, task] : tasks_) ids.push_back(id);
    return ids;
}

std::optional<std::string> UIApplication::backgroundTaskName(UIBackgroundTaskIdentifier identifier) const {
    std::lock_guard<std::mutex> lock(tasksMutex_);
    auto it = tasks_.find(identifier);
    return it == tasks_.end() ? std::nullopt : it->second.name;
}

void UIApplication::expireBackgroundTasks() {
    std::vector<std::function<void()>> handlers;
    {
        std::lock_guard<std::mutex> lock(tasksMutex_);
        for (auto& [id, task] : tasks_) handlers.push_back(task.handler);
    }
    for (auto& handler : handlers) {
        if (handler) handler();
    }
}

// ---- events -----------------------------------------------------------------------------------

void UIApplication::sendEvent(const Ref<UIEvent>& event) {
    NS_ASSERT_MAIN_THREAD();
    if (eventDispatcher()) eventDispatcher()(*this, event);
}

UIApplication::EventDispatcher UIApplication::setEventDispatcher(EventDispatcher dispatcher) {
    return std::exchange(eventDispatcher(), std::move(dispatcher));
}

void UIApplication::setActionSender(ActionSender sender) {
    actionSender() = std::move(sender);
}

bool UIApplication::sendAction(const std::string& action, const Ref<NSObject>& target,
                               const Ref<NSObject>& sender, const Ref<UIEvent>& event) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    if (actionSender()) return actionSender()(action, target, sender, event);
    return false;
}

Ref<UIResponder> UIApplication::nextResponder() const {
    return std::dynamic_pointer_cast<UIResponder>(delegate_);
}

// ---- classes ----------------------------------------------------------------------------------

void UIApplication::registerApplicationClass(const std::string& name, ApplicationFactory factory) {
    applicationClasses()[name] = std::move(factory);
}

void UIApplication::registerDelegateClass(const std::string& name, DelegateFactory factory) {
    delegateClasses()[name] = std::move(factory);
}

UIApplication::ApplicationFactory UIApplication::applicationClassNamed(const std::string& name) {
    auto it = applicationClasses().find(name);
    return it == applicationClasses().end() ? nullptr : it->second;
}

UIApplication::DelegateFactory UIApplication::delegateClassNamed(const std::string& name) {
    auto it = delegateClasses().find(name);
    return it == delegateClasses().end() ? nullptr : it->second;
}

// ---- UIApplicationMain ------------------------------------------------------------------------

int UIApplicationMain(int argc, char** argv, UIApplication::ApplicationFactory makeApplication,
                      UIApplication::DelegateFactory makeDelegate) {
    Ref<UIApplication> application = makeApplication ? makeApplication() : make<UIApplication>();
    if (!application) application = make<UIApplication>();
    UIApplication::setSharedApplication(application);
    // URLs other apps open in ours arrive through the application, as on the device.
    SystemOtherApps::setOwnAppURLHandler([](const Ref<NSURL>& url, const std::string& source) {
        return UIApplication::sharedApplication()->openURLFromOtherApp(url, source, Value());
    });
    if (makeDelegate) application->setDelegate(makeDelegate());
    application->finishLaunching();
    NSRunLoop::mainRunLoop()->run();
    return 0;
}

int UIApplicationMain(int argc, char** argv, const std::optional<std::string>& principalClassName,
                      const std::optional<std::string>& delegateClassName) {
    UIApplication::ApplicationFactory makeApplication;
    if (principalClassName) {
        makeApplication = UIApplication::applicationClassNamed(*principalClassName);
        if (!makeApplication) {
            std::fprintf(stderr, "UIApplicationMain: unknown application class %s\n",
                         principalClassName->c_str());
            return 1;
        }
    }
    UIApplication::DelegateFactory makeDelegate;
    if (delegateClassName) {
        makeDelegate = UIApplication::delegateClassNamed(*delegateClassName);
        if (!makeDelegate) {
            std::fprintf(stderr, "UIApplicationMain: unknown delegate class %s\n",
                         delegateClassName->c_str());
            return 1;
        }
    }
    return UIApplicationMain(argc, argv, std::move(makeApplication), std::move(makeDelegate));
}
