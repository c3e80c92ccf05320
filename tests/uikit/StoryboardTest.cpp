#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "foundation/NSIndexPath.h"
#include "foundation/NSLog.h"
#include "tests/uikit/ViewControllerTestSupport.h"
#include "uikit/UIButton.h"
#include "uikit/UIStoryboard.h"

using namespace uikittest;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

class CountingSegue : public UIStoryboardSegue {
  public:
    using UIStoryboardSegue::UIStoryboardSegue;
    void perform() override { ++performed; }
    static inline int performed = 0;
};

// A list screen whose segues hand the destination what it needs in prepareForSegue.
class ListScreen : public RecordingController {
  public:
    using RecordingController::RecordingController;
    void prepareForSegue(const Ref<UIStoryboardSegue>& segue, const Ref<NSObject>& sender) override {
        add("prepareForSegue(" + segue->identifier().value_or("nil") + ")");
        // The segue holds this screen: keep its parts, not the segue itself.
        prepared = true;
        preparedIdentifier = segue->identifier();
        preparedSource = segue->sourceViewController();
        preparedDestination = segue->destinationViewController();
        preparedWasCustom = isKindOf<CountingSegue>(segue);
        preparedSender = sender;
        destinationLoadedAtPrepare = segue->destinationViewController()->isViewLoaded();
    }
    bool shouldPerformSegueWithIdentifier(const std::string& identifier, const Ref<NSObject>&) override {
        return allowSegues;
    }
    bool prepared = false;
    std::optional<std::string> preparedIdentifier;
    Weak<UIViewController> preparedSource;
    Ref<UIViewController> preparedDestination;
    bool preparedWasCustom = false;
    Ref<NSObject> preparedSender;
    bool destinationLoadedAtPrepare = true;
    bool allowSegues = true;
    Weak<UIButton> detailButton;  // an outlet
};

class CapturingLog {
  public:
    CapturingLog() {
        previous_ = NSLogSetSink([this](const std::string& line) { lines.push_back(line); });
    }
    ~CapturingLog() { NSLogSetSink(previous_); }
    bool contains(const std::string& text) const {
        for (auto& line : lines) {
            if (line.find(text) != std::string::npos) return true;
        }
        return false;
    }
    std::vector<std::string> lines;

  private:
    NSLogSink previous_;
};

class StoryboardTest : public ControllerTest {
  protected:
    void SetUp() override {
        ControllerTest::SetUp();
        CountingSegue::performed = 0;
        CallLog shared = log;
        UIStoryboard::registerStoryboard("Test", std::string("List"));
        UIStoryboard::registerScene("Test", "List", [shared](UIStoryboard&) {
            auto list = make<ListScreen>("list", shared);
            list->setViewLoader([](UIViewController& owner) {
                auto& screen = static_cast<ListScreen&>(owner);
                auto view = make<UIView>(CGRectMake(0, 0, 375, 667));
                auto button = make<UIButton>();
                view->addSubview(button);
                screen.detailButton = button;
                UIStoryboard::bindSegueToControl(owner.selfAs<UIViewController>(), button, "showDetail");
                return view;
            });
            list->declareSegue("showDetail", UIStoryboardSegueKind::Show, "Detail");
            list->declareSegue("presentDetail", UIStoryboardSegueKind::Present, "Detail");
            list->declareSegue("showLogin", UIStoryboardSegueKind::Show, "Login", std::string("TestUser"));
            UIStoryboardSegueDeclaration custom;
            custom.identifier = "custom";
            custom.kind = UIStoryboardSegueKind::Custom;
            custom.destinationFactory = [shared] { return make<RecordingController>("made", shared); };
            custom.segueFactory = [](const std::string& identifier, const Ref<UIViewController>& source,
                                     const Ref<UIViewController>& destination) -> Ref<UIStoryboardSegue> {
                return make<CountingSegue>(identifier, source, destination);
            };
            list->declareSegue(custom);
            list->declareSegue("broken", UIStoryboardSegueKind::Show, "NoSuchScene");
            return list;
        });
        UIStoryboard::registerScene("Test", "Detail", [shared](UIStoryboard&) {
            return make<RecordingController>("detail", shared);
        });
        UIStoryboard::registerScene("Test", "Navigation", [](UIStoryboard& storyboard) {
            return make<UINavigationController>(storyboard.instantiateViewControllerWithIdentifier("List"));
        });
        UIStoryboard::registerScene("TestUser", "Login", [shared](UIStoryboard&) {
            return make<RecordingController>("login", shared);
        });
    }
    void TearDown() override {
        UIStoryboard::unregisterStoryboard("Test");
        UIStoryboard::unregisterStoryboard("TestUser");
        ControllerTest::TearDown();
    }
    Ref<ListScreen> instantiateList() {
        return std::dynamic_pointer_cast<ListScreen>(UIStoryboard::storyboardWithName("Test", nullptr)
                                                         ->instantiateViewControllerWithIdentifier("List"));
    }
    // The list inside a navigation controller in a visible window.
    Ref<ListScreen> showNavigatedList() {
        auto navigation = std::dynamic_pointer_cast<UINavigationController>(
            UIStoryboard::storyboardWithName("Test", nullptr)
                ->instantiateViewControllerWithIdentifier("Navigation"));
        showInWindow(navigation);
        clearLog();
        return std::dynamic_pointer_cast<ListScreen>(navigation->topViewController());
    }
};

}  // namespace

TEST_F(StoryboardTest, UnknownStoryboardIsNil) {
    CapturingLog captured;
    EXPECT_EQ(UIStoryboard::storyboardWithName("NoSuchStoryboard", nullptr), nullptr);
    EXPECT_TRUE(captured.contains("NoSuchStoryboard"));
}

TEST_F(StoryboardTest, InitialControllerComesFromItsFactoryEachTimeAnew) {
    auto storyboard = UIStoryboard::storyboardWithName("Test", NSBundle::mainBundle());
    ASSERT_NE(storyboard, nullptr);
    EXPECT_EQ(storyboard->name(), "Test");
    auto first = storyboard->instantiateInitialViewController();
    auto second = storyboard->instantiateInitialViewController();
    ASSERT_TRUE(isKindOf<ListScreen>(first));
    EXPECT_NE(first, second);
    EXPECT_EQ(first->storyboard(), storyboard);
    EXPECT_FALSE(first->isViewLoaded());  // the view is built on first access only
}

TEST_F(StoryboardTest, UnknownSceneIsNilAndLogged) {
    CapturingLog captured;
    auto storyboard = UIStoryboard::storyboardWithName("Test", nullptr);
    EXPECT_EQ(storyboard->instantiateViewControllerWithIdentifier("Nowhere"), nullptr);
    EXPECT_TRUE(captured.contains("Nowhere"));
}

TEST_F(StoryboardTest, StoryboardWithoutInitialSceneAnswersNil) {
    CapturingLog captured;
    auto storyboard = UIStoryboard::storyboardWithName("TestUser", nullptr);
    ASSERT_NE(storyboard, nullptr);
    EXPECT_EQ(storyboard->instantiateInitialViewController(), nullptr);
    EXPECT_NE(storyboard->instantiateViewControllerWithIdentifier("Login"), nullptr);
}

TEST_F(StoryboardTest, RegistryListsAndForgetsScenes) {
    EXPECT_TRUE(UIStoryboard::hasStoryboardNamed("Test"));
    EXPECT_THAT(UIStoryboard::sceneIdentifiers("Test"), ElementsAre("Detail", "List", "Navigation"));
    EXPECT_THAT(UIStoryboard::sceneIdentifiers("Nothing"), IsEmpty());
    UIStoryboard::registerScene("Test", "Detail", [](UIStoryboard&) { return make<UIViewController>(); });
    auto replaced =
        UIStoryboard::storyboardWithName("Test", nullptr)->instantiateViewControllerWithIdentifier("Detail");
    EXPECT_FALSE(isKindOf<RecordingController>(replaced));
    UIStoryboard::unregisterStoryboard("Test");
    EXPECT_FALSE(UIStoryboard::hasStoryboardNamed("Test"));
}

TEST_F(StoryboardTest, OutletsAndControlSeguesConnectWhenTheViewLoads) {
    auto list = instantiateList();
    EXPECT_EQ(list->detailButton.lock(), nullptr);
    list->view();
    auto button = list->detailButton.lock();
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->superview(), list->view());
}

TEST_F(StoryboardTest, ChildrenMadeByASceneFactoryKnowTheirStoryboard) {
    auto navigation = UIStoryboard::storyboardWithName("Test", nullptr)
                          ->instantiateViewControllerWithIdentifier("Navigation");
    ASSERT_EQ(navigation->childViewControllers().size(), 1u);
    EXPECT_NE(navigation->childViewControllers().front()->storyboard(), nullptr);
}

TEST_F(StoryboardTest, ShowSeguePushesInANavigationControllerAfterPrepare) {
    auto list = showNavigatedList();
    auto sender = NSIndexPath::indexPathForRow(3, 0);
    list->performSegueWithIdentifier("showDetail", sender);
    ASSERT_TRUE(list->prepared);
    EXPECT_EQ(list->preparedIdentifier, "showDetail");
    EXPECT_EQ(list->preparedSource.lock(), list);
    EXPECT_EQ(list->preparedSender, sender);
    EXPECT_FALSE(list->destinationLoadedAtPrepare);
    auto detail = list->preparedDestination;
    EXPECT_EQ(list->navigationController()->topViewController(), detail);
    EXPECT_EQ(calls().front(), "list.prepareForSegue(showDetail)");
    EXPECT_EQ(calls()[1], "detail.willMoveToParent(UINavigationController)");
    clock->advance(0.4);
    EXPECT_EQ(detail->appearanceState(), UIViewControllerAppearanceState::Appeared);
}

TEST_F(StoryboardTest, ShowSeguePresentsOutsideANavigationController) {
    auto list = instantiateList();
    showInWindow(list);
    list->performSegueWithIdentifier("showDetail", nullptr);
    ASSERT_TRUE(list->prepared);
    EXPECT_EQ(list->presentedViewController(), list->preparedDestination);
}

TEST_F(StoryboardTest, PresentSeguePresentsEvenInsideANavigationController) {
    auto list = showNavigatedList();
    list->performSegueWithIdentifier("presentDetail", nullptr);
    EXPECT_EQ(list->navigationController()->viewControllers().size(), 1u);
    EXPECT_EQ(list->presentedViewController(), list->preparedDestination);
}

TEST_F(StoryboardTest, SegueToAnotherStoryboard) {
    auto list = showNavigatedList();
    list->performSegueWithIdentifier("showLogin", nullptr);
    auto top =
        std::dynamic_pointer_cast<RecordingController>(list->navigationController()->topViewController());
    ASSERT_NE(top, nullptr);
    EXPECT_EQ(top->name(), "login");
    EXPECT_EQ(top->storyboard()->name(), "TestUser");
}

TEST_F(StoryboardTest, CustomSeguePerformsItself) {
    auto list = showNavigatedList();
    list->performSegueWithIdentifier("custom", nullptr);
    EXPECT_EQ(CountingSegue::performed, 1);
    EXPECT_TRUE(list->preparedWasCustom);
    EXPECT_EQ(list->navigationController()->viewControllers().size(), 1u);
}

TEST_F(StoryboardTest, UnknownOrBrokenSeguesAreLoggedAndDoNothing) {
    CapturingLog captured;
    auto list = showNavigatedList();
    list->performSegueWithIdentifier("noSuchSegue", nullptr);
    EXPECT_TRUE(captured.contains("noSuchSegue"));
    list->performSegueWithIdentifier("broken", nullptr);
    EXPECT_TRUE(captured.contains("NoSuchScene"));
    EXPECT_FALSE(list->prepared);
    EXPECT_EQ(list->navigationController()->viewControllers().size(), 1u);
}

TEST_F(StoryboardTest, ControlSegueAsksShouldPerformFirst) {
    auto list = showNavigatedList();
    auto button = list->detailButton.lock();
    ASSERT_NE(button, nullptr);
    list->allowSegues = false;
    button->sendActionsForControlEvents(UIControlEventTouchUpInside);
    EXPECT_FALSE(list->prepared);
    list->allowSegues = true;
    button->sendActionsForControlEvents(UIControlEventTouchUpInside);
    ASSERT_TRUE(list->prepared);
    EXPECT_EQ(list->preparedSender, button);
    EXPECT_EQ(list->navigationController()->viewControllers().size(), 2u);
}

TEST_F(StoryboardTest, TriggeredSegueThatIsNotDeclaredIsRefused) {
    auto list = instantiateList();
    EXPECT_FALSE(UIStoryboard::triggerSegue(list, "unknown", nullptr));
    EXPECT_FALSE(UIStoryboard::triggerSegue(nullptr, "showDetail", nullptr));
}

TEST_F(StoryboardTest, SegueWithPerformHandler) {
    auto source = controller("source");
    auto destination = controller("destination");
    int ran = 0;
    auto segue = UIStoryboardSegue::segueWithIdentifier("handled", source, destination, [&] { ++ran; });
    segue->perform();
    EXPECT_EQ(ran, 1);
    EXPECT_EQ(segue->destinationViewController(), destination);
}

namespace {

class KeepingDelegate : public UIApplicationDelegate {
  public:
    explicit KeepingDelegate(CallLog log) : log_(std::move(log)) {}
    std::optional<bool> applicationDidFinishLaunchingWithOptions(UIApplication&, const Dictionary&) override {
        log_->push_back("delegate.didFinishLaunching");
        return true;
    }
    Ref<UIWindow> window() const override { return window_; }
    void setWindow(const Ref<UIWindow>& window) override { window_ = window; }

  private:
    CallLog log_;
    Ref<UIWindow> window_;
};

}  // namespace

TEST_F(StoryboardTest, MainStoryboardMakesTheWindowAndShowsItAfterLaunching) {
    NSBundle::setInfoValue("UIMainStoryboardFile", "Test");
    UIStoryboardInstallMainStoryboardLoader();
    auto app = UIApplication::sharedApplication();
    auto delegate = std::make_shared<KeepingDelegate>(log);
    app->setDelegate(delegate);
    app->finishLaunching();
    auto mainWindow = delegate->window();
    ASSERT_NE(mainWindow, nullptr);
    EXPECT_TRUE(mainWindow->isKeyWindow());
    EXPECT_TRUE(isKindOf<ListScreen>(mainWindow->rootViewController()));
    EXPECT_RECT(mainWindow->frame(), 0, 0, 375, 667);
    // The initial screen's view loads only after the delegate's launch method.
    EXPECT_THAT(calls(), ElementsAre("delegate.didFinishLaunching", "list.viewDidLoad", "list.viewWillAppear",
                                     "list.viewDidAppear"));
    mainWindow->setHidden(true);
    UIApplication::setMainStoryboardLoader(nullptr);
    NSBundle::setInfoValue("UIMainStoryboardFile", Value());
}

TEST_F(StoryboardTest, MainStoryboardWindowShowsAtOnceWithoutADelegateWindow) {
    NSBundle::setInfoValue("UIMainStoryboardFile", "Test");
    UIStoryboardInstallMainStoryboardLoader();
    auto app = UIApplication::sharedApplication();
    app->finishLaunching();
    auto key = app->keyWindow();
    ASSERT_NE(key, nullptr);
    EXPECT_TRUE(isKindOf<ListScreen>(key->rootViewController()));
    key->setHidden(true);
    UIApplication::setMainStoryboardLoader(nullptr);
    NSBundle::setInfoValue("UIMainStoryboardFile", Value());
}

TEST_F(StoryboardTest, MainStoryboardWithAnUnknownNameMakesNoWindow) {
    NSBundle::setInfoValue("UIMainStoryboardFile", "NotRegisteredAnywhere");
    UIStoryboardInstallMainStoryboardLoader();
    auto app = UIApplication::sharedApplication();
    app->finishLaunching();
    EXPECT_EQ(app->keyWindow(), nullptr);
    UIApplication::setMainStoryboardLoader(nullptr);
    NSBundle::setInfoValue("UIMainStoryboardFile", Value());
}
