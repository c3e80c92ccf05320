#pragma once
// The application: the shared instance, its delegate, its windows, the status bar, URLs to and
// from other apps, background tasks and the life cycle.
//
// Starting: UIApplicationMain makes the application (UIApplication or a registered subclass)
// and the delegate, loads the main storyboard through the loader hook when one is set (the
// storyboard registry installs it; it answers the window, which goes to the delegate), calls the
// delegate's launch methods, shows the delegate's window (makeKeyAndVisible), becomes active and
// runs the main run loop. finishLaunching() does the same without running the loop, for tests
// and tools.
//
// Life cycle: nothing here happens by itself; tests and the app shell call the simulate...
// entry points, which move applicationState, call the delegate and post the notifications
// (delegate first, then the notification, as the platform does).
//
// Other apps: openURL / canOpenURL are recorded (tests read them). Without a handler set by a
// test, both go to the device's registry of other apps (system/SystemOtherApps), which also routes
// the other apps' answers back in: UIApplicationMain installs our app's entry point there. A
// settable set of schemes counts as openable besides. openURLFromOtherApp is how a test or the app shell
// delivers a URL as another app would: it calls the delegate's
// application:openURL:sourceApplication:annotation:, or handleOpenURL: when that is absent.
//
// Events: sendEvent hands the event to the dispatcher set by the touch layer
// (setEventDispatcher); without one the event is dropped.
//
// Background tasks may be begun and ended from any thread (the task table has a lock); the rest
// belongs to the main thread.

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "foundation/NSURL.h"
#include "foundation/Value.h"
#include "uikit/UIResponder.h"
#include "uikit/UIWindow.h"

class UIApplication;

// ---- notifications and keys -------------------------------------------------------------------
inline constexpr char UIApplicationDidFinishLaunchingNotification[] =
    "UIApplicationDidFinishLaunchingNotification";
inline constexpr char UIApplicationDidBecomeActiveNotification[] = "UIApplicationDidBecomeActiveNotification";
inline constexpr char UIApplicationWillResignActiveNotification[] =
    "UIApplicationWillResignActiveNotification";
inline constexpr char UIApplicationDidEnterBackgroundNotification[] =
    "UIApplicationDidEnterBackgroundNotification";
inline constexpr char UIApplicationWillEnterForegroundNotification[] =
    "UIApplicationWillEnterForegroundNotification";
inline constexpr char UIApplicationWillTerminateNotification[] = "UIApplicationWillTerminateNotification";
inline constexpr char UIApplicationDidReceiveMemoryWarningNotification[] =
    "UIApplicationDidReceiveMemoryWarningNotification";
inline constexpr char UIApplicationWillChangeStatusBarOrientationNotification[] =
    "UIApplicationWillChangeStatusBarOrientationNotification";
inline constexpr char UIApplicationDidChangeStatusBarOrientationNotification[] =
    "UIApplicationDidChangeStatusBarOrientationNotification";
inline constexpr char UIApplicationWillChangeStatusBarFrameNotification[] =
    "UIApplicationWillChangeStatusBarFrameNotification";
inline constexpr char UIApplicationDidChangeStatusBarFrameNotification[] =
    "UIApplicationDidChangeStatusBarFrameNotification";
inline constexpr char UIApplicationStatusBarOrientationUserInfoKey[] =
    "UIApplicationStatusBarOrientationUserInfoKey";
inline constexpr char UIApplicationStatusBarFrameUserInfoKey[] = "UIApplicationStatusBarFrameUserInfoKey";

inline constexpr char UIApplicationLaunchOptionsURLKey[] = "UIApplicationLaunchOptionsURLKey";
inline constexpr char UIApplicationLaunchOptionsSourceApplicationKey[] =
    "UIApplicationLaunchOptionsSourceApplicationKey";
inline constexpr char UIApplicationLaunchOptionsAnnotationKey[] = "UIApplicationLaunchOptionsAnnotationKey";
inline constexpr char UIApplicationLaunchOptionsRemoteNotificationKey[] =
    "UIApplicationLaunchOptionsRemoteNotificationKey";

// The keyboard's notifications; tests post them (the keyboard itself does not exist here). Frames
// are NSValue boxes of CGRect (NSValue+Geometry.h), the duration a number of seconds and the
// curve a UIViewAnimationCurve number.
inline constexpr char UIKeyboardWillShowNotification[] = "UIKeyboardWillShowNotification";
inline constexpr char UIKeyboardDidShowNotification[] = "UIKeyboardDidShowNotification";
inline constexpr char UIKeyboardWillHideNotification[] = "UIKeyboardWillHideNotification";
inline constexpr char UIKeyboardDidHideNotification[] = "UIKeyboardDidHideNotification";
inline constexpr char UIKeyboardWillChangeFrameNotification[] = "UIKeyboardWillChangeFrameNotification";
inline constexpr char UIKeyboardDidChangeFrameNotification[] = "UIKeyboardDidChangeFrameNotification";
inline constexpr char UIKeyboardFrameBeginUserInfoKey[] = "UIKeyboardFrameBeginUserInfoKey";
inline constexpr char UIKeyboardFrameEndUserInfoKey[] = "UIKeyboardFrameEndUserInfoKey";
inline constexpr char UIKeyboardAnimationDurationUserInfoKey[] = "UIKeyboardAnimationDurationUserInfoKey";
inline constexpr char UIKeyboardAnimationCurveUserInfoKey[] = "UIKeyboardAnimationCurveUserInfoKey";

// ---- enumerations -----------------------------------------------------------------------------
enum UIApplicationState : long {
    UIApplicationStateActive = 0,
    UIApplicationStateInactive = 1,
    UIApplicationStateBackground = 2,
};

enum UIInterfaceOrientation : long {
    UIInterfaceOrientationUnknown = 0,
    UIInterfaceOrientationPortrait = 1,
    UIInterfaceOrientationPortraitUpsideDown = 2,
    UIInterfaceOrientationLandscapeLeft = 4,
    UIInterfaceOrientationLandscapeRight = 3,
};
using UIInterfaceOrientationMask = unsigned long;
inline constexpr UIInterfaceOrientationMask UIInterfaceOrientationMaskPortrait =
    1u << UIInterfaceOrientationPortrait;
inline constexpr UIInterfaceOrientationMask UIInterfaceOrientationMaskLandscapeLeft =
    1u << UIInterfaceOrientationLandscapeLeft;
inline constexpr UIInterfaceOrientationMask UIInterfaceOrientationMaskLandscapeRight =
    1u << UIInterfaceOrientationLandscapeRight;
inline constexpr UIInterfaceOrientationMask UIInterfaceOrientationMaskPortraitUpsideDown =
    1u << UIInterfaceOrientationPortraitUpsideDown;
inline constexpr UIInterfaceOrientationMask UIInterfaceOrientationMaskLandscape =
    UIInterfaceOrientationMaskLandscapeLeft | UIInterfaceOrientationMaskLandscapeRight;
inline constexpr UIInterfaceOrientationMask UIInterfaceOrientationMaskAll =
    UIInterfaceOrientationMaskPortrait | UIInterfaceOrientationMaskLandscape |
    UIInterfaceOrientationMaskPortraitUpsideDown;
inline constexpr UIInterfaceOrientationMask UIInterfaceOrientationMaskAllButUpsideDown =
    UIInterfaceOrientationMaskPortrait | UIInterfaceOrientationMaskLandscape;

enum UIStatusBarStyle : long {
    UIStatusBarStyleDefault = 0,
    UIStatusBarStyleLightContent = 1,
};
enum UIStatusBarAnimation : long {
    UIStatusBarAnimationNone = 0,
    UIStatusBarAnimationFade = 1,
    UIStatusBarAnimationSlide = 2,
};

using UIBackgroundTaskIdentifier = unsigned long;
inline constexpr UIBackgroundTaskIdentifier UIBackgroundTaskInvalid = 0;

// ---- the delegate -----------------------------------------------------------------------------
// The application delegate protocol. Every method is optional. Those with a result answer
// std::nullopt when not implemented (the platform then behaves as without the method).
class UIApplicationDelegate {
  public:
    virtual ~UIApplicationDelegate() = default;

    virtual std::optional<bool> applicationWillFinishLaunchingWithOptions(UIApplication& application,
                                                                          const Dictionary& launchOptions) {
        return std::nullopt;
    }
    virtual std::optional<bool> applicationDidFinishLaunchingWithOptions(UIApplication& application,
                                                                         const Dictionary& launchOptions) {
        return std::nullopt;
    }
    virtual void applicationWillResignActive(UIApplication& application) {}
    virtual void applicationDidEnterBackground(UIApplication& application) {}
    virtual void applicationWillEnterForeground(UIApplication& application) {}
    virtual void applicationDidBecomeActive(UIApplication& application) {}
    virtual void applicationWillTerminate(UIApplication& application) {}
    virtual void applicationDidReceiveMemoryWarning(UIApplication& application) {}
    // application:openURL:sourceApplication:annotation:
    virtual std::optional<bool> applicationOpenURL(UIApplication& application, const Ref<NSURL>& url,
                                                   const std::optional<std::string>& sourceApplication,
                                                   const Value& annotation) {
        return std::nullopt;
    }
    // application:handleOpenURL: (the older entry)
    virtual std::optional<bool> applicationHandleOpenURL(UIApplication& application, const Ref<NSURL>& url) {
        return std::nullopt;
    }
    virtual void applicationDidChangeStatusBarOrientation(UIApplication& application,
                                                          UIInterfaceOrientation oldOrientation) {}
    // application:supportedInterfaceOrientationsForWindow:
    virtual std::optional<UIInterfaceOrientationMask>
    applicationSupportedInterfaceOrientationsForWindow(UIApplication& application,
                                                       const Ref<UIWindow>& window) {
        return std::nullopt;
    }

    // The delegate's window property (the storyboard loader sets it); nullptr when it has none.
    virtual Ref<UIWindow> window() const { return nullptr; }
    virtual void setWindow(const Ref<UIWindow>& window) {}
};

// ---- the application --------------------------------------------------------------------------
class UIApplication : public UIResponder {
  public:
    UIApplication();
    ~UIApplication() override;
    std::string className() const override { return "UIApplication"; }

    // The application UIApplicationMain made; a plain one is made on first use when none was.
    static Ref<UIApplication> sharedApplication();
    // Replaces (or, with nullptr, forgets) the shared application. For tests and tools.
    static void setSharedApplication(const Ref<UIApplication>& application);

    const Ref<UIApplicationDelegate>& delegate() const { return delegate_; }
    void setDelegate(const Ref<UIApplicationDelegate>& delegate) { delegate_ = delegate; }

    // ---- windows ------------------------------------------------------------------------------
    Ref<UIWindow> keyWindow() const { return keyWindow_.lock(); }
    // Every window, back to front: by level, then by the order in which they were shown.
    std::vector<Ref<UIWindow>> windows() const;
    // For UIWindow.
    void setKeyWindowInternal(const Ref<UIWindow>& window);

    // ---- launching ----------------------------------------------------------------------------
    // Loads the main storyboard (the loader answers the initial window), tells the delegate it
    // launched, shows its window and becomes active. What didFinishLaunching answered.
    bool finishLaunching(const Dictionary& launchOptions = Dictionary());
    using StoryboardLoader = std::function<Ref<UIWindow>(UIApplication& application)>;
    static void setMainStoryboardLoader(StoryboardLoader loader);
    bool isLaunched() const { return launched_; }
    UIApplicationState applicationState() const { return state_; }

    // ---- life cycle (tests and the app shell) -------------------------------------------------
    void simulateWillResignActive();
    void simulateDidBecomeActive();
    // Resigns active first when active.
    void simulateDidEnterBackground();
    // Then becomes active.
    void simulateWillEnterForeground();
    void simulateWillTerminate();
    void simulateMemoryWarning();

    // ---- other apps ---------------------------------------------------------------------------
    // Records the URL; answers the handler's answer, or, without one, hands the URL to the app
    // claiming its scheme and answers whether anything receives it.
    bool openURL(const Ref<NSURL>& url);
    // Records the question; true when the URL's scheme is in the openable set or an app claims it.
    bool canOpenURL(const Ref<NSURL>& url);
    // The URL records and settings below may be used from any thread (the social SDKs send from
    // whichever thread their caller is on); the getters answer copies.
    std::vector<Ref<NSURL>> openedURLs() const;
    std::vector<Ref<NSURL>> canOpenURLQueries() const;
    void setOpenableURLSchemes(std::set<std::string> schemes);
    std::set<std::string> openableURLSchemes() const;
    using OpenURLHandler = std::function<bool(const Ref<NSURL>& url)>;
    void setOpenURLHandler(OpenURLHandler handler);
    void clearRecordedURLs();
    // Delivers a URL as another app would. False without a delegate method or when it refuses.
    bool openURLFromOtherApp(const Ref<NSURL>& url, const std::optional<std::string>& sourceApplication,
                             const Value& annotation = Value());

    // ---- indicators and the status bar ---------------------------------------------------------
    bool isNetworkActivityIndicatorVisible() const { return networkActivityIndicatorVisible_; }
    void setNetworkActivityIndicatorVisible(bool visible) { networkActivityIndicatorVisible_ = visible; }
    bool isStatusBarHidden() const { return statusBarHidden_; }
    void setStatusBarHidden(bool hidden);
    void setStatusBarHidden(bool hidden, UIStatusBarAnimation animation);
    // (0, 0, screen width, 20); CGRectZero while hidden.
    CGRect statusBarFrame() const;
    UIInterfaceOrientation statusBarOrientation() const { return statusBarOrientation_; }
    // Posts the will and did change notifications (and tells the delegate) when it changes.
    void setStatusBarOrientation(UIInterfaceOrientation orientation);
    void setStatusBarOrientation(UIInterfaceOrientation orientation, bool animated);
    double statusBarOrientationAnimationDuration() const { return 0.4; }
    UIStatusBarStyle statusBarStyle() const { return statusBarStyle_; }
    void setStatusBarStyle(UIStatusBarStyle style) { statusBarStyle_ = style; }
    void setStatusBarStyle(UIStatusBarStyle style, bool animated) { statusBarStyle_ = style; }
    // Counted, for tests.
    void setNeedsStatusBarAppearanceUpdate() { ++statusBarAppearanceUpdates_; }
    int statusBarAppearanceUpdateCount() const { return statusBarAppearanceUpdates_; }
    long applicationIconBadgeNumber() const { return badgeNumber_; }
    void setApplicationIconBadgeNumber(long number) { badgeNumber_ = number; }
    bool isIdleTimerDisabled() const { return idleTimerDisabled_; }
    void setIdleTimerDisabled(bool disabled) { idleTimerDisabled_ = disabled; }
    bool isIgnoringInteractionEvents() const { return ignoringInteraction_ > 0; }
    void beginIgnoringInteractionEvents() { ++ignoringInteraction_; }
    void endIgnoringInteractionEvents() {
        if (ignoringInteraction_ > 0) --ignoringInteraction_;
    }

    // ---- background tasks (any thread) ---------------------------------------------------------
    UIBackgroundTaskIdentifier beginBackgroundTaskWithExpirationHandler(std::function<void()> handler);
    UIBackgroundTaskIdentifier beginBackgroundTaskWithName(const std::optional<std::string>& name,
                                                           std::function<void()> handler);
    // Ending an unknown or invalid identifier does nothing.
    void endBackgroundTask(UIBackgroundTaskIdentifier identifier);
    // 180 s while in the background; the largest double in the foreground.
    double backgroundTimeRemaining() const;
    // Test hooks: the running tasks, and expiry (each running task's handler is called on the
    // calling thread; the task stays running until ended).
    std::vector<UIBackgroundTaskIdentifier> runningBackgroundTasks() const;
    std::optional<std::string> backgroundTaskName(UIBackgroundTaskIdentifier identifier) const;
    void expireBackgroundTasks();

    // ---- events -------------------------------------------------------------------------------
    virtual void sendEvent(const Ref<UIEvent>& event);
    using EventDispatcher = std::function<void(UIApplication& application, const Ref<UIEvent>& event)>;
    // Returns the dispatcher it replaces, so a stand-in can put the touch layer's back.
    static EventDispatcher setEventDispatcher(EventDispatcher dispatcher);
    // Sends an action along the responder chain (controls use it). The sender is passed on.
    using ActionSender = std::function<bool(const std::string& action, const Ref<NSObject>& target,
                                            const Ref<NSObject>& sender, const Ref<UIEvent>& event)>;
    static void setActionSender(ActionSender sender);
    bool sendAction(const std::string& action, const Ref<NSObject>& target, const Ref<NSObject>& sender,
                    const Ref<UIEvent>& event);

    // The delegate, when it is a responder.
    Ref<UIResponder> nextResponder() const override;

    // ---- class registry for UIApplicationMain --------------------------------------------------
    using ApplicationFactory = std::function<Ref<UIApplication>()>;
    using DelegateFactory = std::function<Ref<UIApplicationDelegate>()>;
    static void registerApplicationClass(const std::string& name, ApplicationFactory factory);
    static void registerDelegateClass(const std::string& name, DelegateFactory factory);
    static ApplicationFactory applicationClassNamed(const std::string& name);
    static DelegateFactory delegateClassNamed(const std::string& name);

  private:
    struct BackgroundTask {
        std::optional<std::string> name;
        std::function<void()> handler;
    };
    void post(const char* name, std::optional<Dictionary> userInfo = std::nullopt);

    Ref<UIApplicationDelegate> delegate_;
    Weak<UIWindow> keyWindow_;
    UIApplicationState state_ = UIApplicationStateInactive;
    bool launched_ = false;
    mutable std::mutex urlMutex_;
    std::vector<Ref<NSURL>> openedURLs_;
    std::vector<Ref<NSURL>> canOpenQueries_;
    bool isOpenableScheme(const std::string& scheme) const;
    std::set<std::string> openableSchemes_{"http", "https", "tel", "mailto", "sms"};
    OpenURLHandler openURLHandler_;
    bool networkActivityIndicatorVisible_ = false;
    bool statusBarHidden_ = false;
    UIInterfaceOrientation statusBarOrientation_ = UIInterfaceOrientationPortrait;
    UIStatusBarStyle statusBarStyle_ = UIStatusBarStyleDefault;
    int statusBarAppearanceUpdates_ = 0;
    long badgeNumber_ = 0;
    bool idleTimerDisabled_ = false;
    int ignoringInteraction_ = 0;

    mutable std::mutex tasksMutex_;  // guards what follows
    std::map<UIBackgroundTaskIdentifier, BackgroundTask> tasks_;
    UIBackgroundTaskIdentifier nextTask_ = 1;
};

// Makes the application and the delegate, launches and runs the main run loop; answers 0 when
// the loop is stopped. A principal class name of nullopt means UIApplication; unknown class names
// (not registered) are fatal: a message and 1 is answered without running.
int UIApplicationMain(int argc, char** argv, const std::optional<std::string>& principalClassName,
                      const std::optional<std::string>& delegateClassName);
int UIApplicationMain(int argc, char** argv, UIApplication::ApplicationFactory makeApplication,
                      UIApplication::DelegateFactory makeDelegate);
