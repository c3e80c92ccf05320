#include "studio/MainViewController.h"

#include "app/QVNAccountScreens.h"
#include "app/QVNMessageCommunicator.h"
#include "app/QVNTAAnalyticsHelper.h"
#include "app/QVNUserManager.h"
#include "app/UIColor+Extensions.h"
#include "foundation/NSLog.h"
#include "foundation/NSMainThreadCheck.h"
#include "foundation/NSObject+Perform.h"
#include "foundation/NSUserDefaults.h"
#include "sdk/analytics/collection/Tally.h"
#include "studio/HomeStandInPages.h"
#include "studio/QVNTransitionAnimator.h"
#include "uikit/UIApplication.h"
#include "uikit/UIScreen.h"
#include "uikit/UIStoryboard.h"
#include "uikit/UIWindow.h"

namespace {

// The pages, with their storyboards, titles and analytics events.
constexpr char kInformationTitle[] = "汽车资讯";
constexpr char kRizUrTitle[] = "分享问题";
constexpr char kVideosTitle[] = "最新视频";
constexpr char kActivityTitle[] = "参与改装";

Ref<UIViewController> instantiate(const std::string& storyboardName, const std::string& identifier) {
    Ref<UIStoryboard> storyboard = UIStoryboard::storyboardWithName(storyboardName, nullptr);
    if (!storyboard) {
        NSLog("MainViewController: no storyboard \"%@\"", storyboardName);
        return nullptr;
    }
    return storyboard->instantiateViewControllerWithIdentifier(identifier);
}

}  // namespace

// ---- the screen ---------------------------------------------------------------------------------

void MainViewController::viewDidLoad() {
    UIViewController::viewDidLoad();
    topButtons_.clear();
    if (auto news = btnNews.lock()) topButtons_.push_back(news);
    if (auto rizur = btnRizur.lock()) topButtons_.push_back(rizur);

    Weak<MainViewController> weak = selfAs<MainViewController>();
    leftSwipe_ = make<UISwipeGestureRecognizer>(self(), [weak](const Ref<UIGestureRecognizer>& sender) {
        if (auto self = weak.lock()) self->nextVc(sender);
    });
    leftSwipe_->setDirection(UISwipeGestureRecognizerDirectionLeft);
    rightSwipe_ = make<UISwipeGestureRecognizer>(self(), [weak](const Ref<UIGestureRecognizer>& sender) {
        if (auto self = weak.lock()) self->previousVc(sender);
    });
    rightSwipe_->setDirection(UISwipeGestureRecognizerDirectionRight);
    view()->addGestureRecognizer(leftSwipe_);
    view()->addGestureRecognizer(rightSwipe_);

    Ref<UIView> header = headerContainer.lock();
    if (!header) return;
    auto indicator = make<UIImageView>(HomeStandInPages::imageNamed("top03"));
    header->addSubview(indicator);
    indicator->setTranslatesAutoresizingMaskIntoConstraints(false);
    auto bottom = NSLayoutConstraint::constraintWithItem(
        indicator, NSLayoutAttributeBottom, NSLayoutRelationEqual, header, NSLayoutAttributeBottom, 1.0, 1.0);
    auto left = NSLayoutConstraint::constraintWithItem(
        indicator, NSLayoutAttributeLeft, NSLayoutRelationEqual, header, NSLayoutAttributeLeft, 1.0, 0.0);
    auto height =
        NSLayoutConstraint::constraintWithItem(indicator, NSLayoutAttributeHeight, NSLayoutRelationEqual,
                                               header, NSLayoutAttributeHeight, 0.13, 0.0);
    // Twice the header's width: the strip's picture has its mark in the middle.
    auto width = NSLayoutConstraint::constraintWithItem(
        indicator, NSLayoutAttributeWidth, NSLayoutRelationEqual, header, NSLayoutAttributeWidth, 2.0, 0.0);
    header->addConstraints({bottom, left, height, width});
    buttonIndicator = indicator;
    buttonIndicatorLeftConstraint = left;
}

void MainViewController::viewWillAppear(bool animated) {
    QVNTAAnalyticsHelper::beginLogPageView(*this);
    if (auto navigation = navigationController()) navigation->setNavigationBarHidden(true, false);
    checkread();
    UIViewController::viewWillAppear(animated);
    Tally::beginLogPageView(std::string("MainViewController"));
}

void MainViewController::viewDidAppear(bool animated) {
    UIViewController::viewDidAppear(animated);
    if (!current_) {
        Ref<UIButton> news = btnNews.lock();
        childViewButtonTapped(news);
        showNewsViewController(news);
    } else if (Ref<UIView> container = viewContainer.lock()) {
        // Back from a pushed or presented screen: the same page object returns where it was. It
        // was out of the hierarchy meanwhile, so a turn of the interface (the landscape studio and
        // back) did not reach it: it takes the container's size again.
        current_->view()->setFrame(container->bounds());
        container->addSubview(current_->view());
        addChildViewController(current_);
        current_->didMoveToParentViewController(selfAs<UIViewController>());
    }

    Ref<NSUserDefaults> defaults = NSUserDefaults::standardUserDefaults();
    if (!defaults->boolForKey(kFirstLaunchKey)) {
        // Stored before the guide shows: leaving within the second means it is never seen.
        defaults->setBool(kFirstLaunchKey, true);
        Weak<MainViewController> weak = selfAs<MainViewController>();
        performSelectorAfterDelay(
            self(), "addLanchView", Value(),
            [weak] {
                if (auto self = weak.lock()) self->addLanchView();
            },
            1.0);
    }
}

void MainViewController::viewWillDisappear(bool animated) {
    UIViewController::viewWillDisappear(animated);
    if (current_) {
        current_->willMoveToParentViewController(nullptr);
        current_->view()->removeFromSuperview();
        current_->removeFromParentViewController();
    }
    QVNTAAnalyticsHelper::endLogPageView(*this);
    Tally::endLogPageView(std::string("MainViewController"));
}

// ---- pages --------------------------------------------------------------------------------------

Ref<UIButton> MainViewController::button(const Ref<NSObject>& sender) const {
    return std::dynamic_pointer_cast<UIButton>(sender);
}

void MainViewController::markTab(const Ref<NSObject>& sender, const std::string& title) {
    Ref<UIButton> tapped = button(sender);
    if (tapped) tapped->setTitleColor(UIColor_Extensions::QVNRedColor(), UIControlStateNormal);
    for (const Ref<UIButton>& other : topButtons_) {
        if (other != tapped) other->setTitleColor(UIColor::whiteColor(), UIControlStateNormal);
    }
    if (auto label = labTitle.lock()) label->setText(title);
}

void MainViewController::showNewsViewController(const Ref<NSObject>& sender) {
    NS_ASSERT_MAIN_THREAD();
    Tally::event(std::string("TuningNewsParent"));
    markTab(sender, kInformationTitle);
    auto tab = [this] {
        return std::dynamic_pointer_cast<QVNInformationScreens::InformationTab>(information_);
    };
    if (!information_) {
        information_ = instantiate(QVNInformationStoryboard, QVNInformationRootIdentifier);
        if (auto made = tab()) made->setDelegate(selfAs<MainViewController>());
    }
    if (!information_) return;
    addChild(information_, current_);
    // A stand-in page in its place has nothing to refresh.
    if (auto shown = tab()) shown->refreshFirstViewController();
}

void MainViewController::showRizUrListViewController(const Ref<NSObject>& sender) {
    NS_ASSERT_MAIN_THREAD();
    Tally::event(std::string("RizUrParent"));
    markTab(sender, kRizUrTitle);
    if (!rizUr_) rizUr_ = instantiate("MyRizUr", "RizUrListViewController");
    if (rizUr_) addChild(rizUr_, current_);
}

void MainViewController::showVideosViewController(const Ref<NSObject>& sender) {
    NS_ASSERT_MAIN_THREAD();
    markTab(sender, kVideosTitle);
    if (!videos_) videos_ = instantiate("MyVideo", "VideosViewController");
    if (videos_) addChild(videos_, current_);
}

void MainViewController::showActivityViewController(const Ref<NSObject>& sender) {
    NS_ASSERT_MAIN_THREAD();
    markTab(sender, kActivityTitle);
    if (!activities_) activities_ = instantiate("MyActivity", "ActivityListViewController");
    if (activities_) addChild(activities_, current_);
}

void MainViewController::addChild(const Ref<UIViewController>& newChild,
                                  const Ref<UIViewController>& childToRemove) {
    NS_ASSERT_MAIN_THREAD();
    if (!newChild || newChild == childToRemove) return;
    if (switching_) {
        // A fade is running: the latest page asked for follows it.
        pending_ = newChild;
        return;
    }
    Ref<UIView> container = viewContainer.lock();
    if (!container) return;
    Ref<UIViewController> self = selfAs<UIViewController>();
    newChild->view()->setFrame(container->bounds());
    if (childToRemove) childToRemove->willMoveToParentViewController(nullptr);
    addChildViewController(newChild);
    if (!childToRemove) {
        container->addSubview(newChild->view());
        newChild->didMoveToParentViewController(self);
        current_ = newChild;
        return;
    }
    newChild->view()->setAlpha(0);
    switching_ = true;
    Weak<MainViewController> weak = selfAs<MainViewController>();
    transitionFromViewController(
        childToRemove, newChild, 0.1, UIViewAnimationOptionLayoutSubviews,
        [newChild] { newChild->view()->setAlpha(1); },
        [weak, childToRemove, newChild](bool) {
            childToRemove->removeFromParentViewController();
            auto strong = weak.lock();
            newChild->didMoveToParentViewController(strong);
            if (!strong) return;
            strong->current_ = newChild;
            strong->switching_ = false;
            Ref<UIViewController> next = std::move(strong->pending_);
            strong->pending_ = nullptr;
            if (next && next != strong->current_) strong->addChild(next, strong->current_);
        });
}

void MainViewController::childViewButtonTapped(const Ref<NSObject>& sender) {
    NS_ASSERT_MAIN_THREAD();
    Ref<UIButton> tapped = button(sender);
    Ref<NSLayoutConstraint> left = buttonIndicatorLeftConstraint.lock();
    Ref<UIView> header = headerContainer.lock();
    if (!tapped || !left || !header) return;
    CGFloat superviewX = tapped->superview() ? tapped->superview()->frame().origin.x : 0;
    CGFloat offset = UIScreen::mainScreen()->bounds().size.width - superviewX - tapped->center().x;
    UIView::animateWithDuration(0.2, [left, header, offset] {
        left->setConstant(-offset);
        header->layoutIfNeeded();
    });
}

void MainViewController::nextVc(const Ref<NSObject>&) {
    NS_ASSERT_MAIN_THREAD();
    if (current_ && current_ == information_) {
        Ref<UIButton> rizur = btnRizur.lock();
        childViewButtonTapped(rizur);
        showRizUrListViewController(rizur);
    } else if (current_ && current_ == rizUr_) {
        Ref<UIButton> news = btnNews.lock();
        childViewButtonTapped(news);
        showNewsViewController(news);
    }
}

void MainViewController::previousVc(const Ref<NSObject>& sender) {
    nextVc(sender);
}

void MainViewController::informationRootViewControllerDidScrollToNext() {
    Ref<UIButton> rizur = btnRizur.lock();
    showRizUrListViewController(rizur);
    childViewButtonTapped(rizur);
}

// ---- other screens ------------------------------------------------------------------------------

void MainViewController::pushScene(const std::string& storyboard, const std::string& identifier,
                                   const std::function<void(const Ref<UIViewController>&)>& prepare) {
    Ref<UIViewController> screen = instantiate(storyboard, identifier);
    Ref<UINavigationController> navigation = navigationController();
    if (!screen || !navigation) return;
    if (prepare) prepare(screen);
    navigation->pushViewController(screen, true);
}

void MainViewController::showMyViewController(const Ref<NSObject>&) {
    NS_ASSERT_MAIN_THREAD();
    Ref<QVNUser> user = QVNUserManager::shareObject()->currentUser();
    if (user) {
        pushScene("MyUser", "UserViewController", [user](const Ref<UIViewController>& screen) {
            if (auto page = std::dynamic_pointer_cast<QVNAccountScreens::UserPageHandOver>(screen))
                page->setUser(user);
        });
    } else {
        pushScene("MyUser", "LoginViewController");
    }
}

void MainViewController::modifyEntranceButtonTapped(const Ref<NSObject>&) {
    NS_ASSERT_MAIN_THREAD();
    Tally::event(std::string("TuningCars"));
    if (auto application = UIApplication::sharedApplication()) {
        if (auto window = application->keyWindow()) window->setBackgroundColor(UIColor::whiteColor());
    }
    if (!QVNUserManager::shareObject()->hasCurrentUser()) {
        pushScene("MyUser", "LoginViewController");
        return;
    }
    Ref<UIStoryboard> storyboard = UIStoryboard::storyboardWithName("Car", nullptr);
    Ref<UIViewController> studio = storyboard ? storyboard->instantiateInitialViewController() : nullptr;
    if (!studio) {
        NSLog("MainViewController: the studio storyboard \"Car\" has no first screen");
        return;
    }
    studio->setTransitioningDelegate(selfAs<MainViewController>());
    presentViewController(studio, true, [] {});
}

void MainViewController::showCustomCameraVC(const Ref<NSObject>&) {
    NS_ASSERT_MAIN_THREAD();
    Tally::event(std::string("ShowCamera"));
    pushScene("Main", "QVNCustomCameryViewController");
}

Ref<UIViewControllerAnimatedTransitioning> MainViewController::animationControllerForPresentedController(
    const Ref<UIViewController>&, const Ref<UIViewController>&, const Ref<UIViewController>&) {
    return make<QVNTransitionAnimator>();
}

// ---- unread dot and guide -----------------------------------------------------------------------

const Ref<UIImageView>& MainViewController::dotImage() {
    if (!dotImage_) {
        Ref<UIButton> my = btnMy.lock();
        CGFloat width = my ? my->frame().size.width : 0;
        dotImage_ = make<UIImageView>(CGRectMake(width - 10, 0, 10, 10));
        dotImage_->setImage(HomeStandInPages::imageNamed("dot_05"));
        if (my) my->addSubview(dotImage_);
    }
    return dotImage_;
}

void MainViewController::checkread() {
    NS_ASSERT_MAIN_THREAD();
    Weak<MainViewController> weak = selfAs<MainViewController>();
    QVNMessageCommunicator::checkReadWithUerToken(
        QVNUserManager::shareObject()->currentUserToken(),
        [weak](const std::optional<std::string>& text, const Ref<NSError>&) {
            auto self = weak.lock();
            if (!self) return;
            if (text && *text == "1") {
                if (auto my = self->btnMy.lock()) my->addSubview(self->dotImage());
            } else {
                self->dotImage()->removeFromSuperview();
            }
        });
}

void MainViewController::addLanchView() {
    NS_ASSERT_MAIN_THREAD();
    const Ref<UIView>& root = view();
    imageView_ = make<UIImageView>(HomeStandInPages::imageNamed("gongnengjieshao.png"));
    imageView_->setFrame(root->frame());
    imageView_->setBackgroundColor(UIColor::clearColor());
    imageView_->setUserInteractionEnabled(true);
    root->addSubview(imageView_);

    CGSize size = root->frame().size;
    auto close = UIButton::buttonWithType(UIButtonTypeCustom);
    close->setFrame(CGRectMake(size.width / 5 * 3, size.height * 0.5, 97, 30));
    close->setImage(HomeStandInPages::imageNamed("wozhidaole.png"), UIControlStateNormal);
    close->addTarget(selfAs<MainViewController>(), &MainViewController::removeLanchView, "removeLanchView",
                     UIControlEventTouchUpInside);
    imageView_->addSubview(close);
}

void MainViewController::removeLanchView() {
    NS_ASSERT_MAIN_THREAD();
    if (imageView_) imageView_->removeFromSuperview();
    imageView_ = nullptr;
}
