#include "information/ActivityDetailViewController.h"

#include "app/QVNAccountScreens.h"
#include "app/QVNCarScreens.h"
#include "app/QVNTextRules.h"
#include "app/QVNUserManager.h"
#include "foundation/NSMainThreadCheck.h"
#include "foundation/NSString.h"
#include "graphics/UIColor.h"
#include "graphics/UIFont.h"
#include "uikit/UIAlertView.h"
#include "uikit/UILabel.h"
#include "uikit/UINavigationController.h"
#include "uikit/UIScreen.h"
#include "uikit/UIStoryboard.h"
#include "uikit/UISwipeGestureRecognizer.h"

namespace {

constexpr CGFloat kBarHeight = 64;
constexpr CGFloat kButtonRowHeight = 60;

Ref<UIButton> bottomButton(CGRect frame, const std::string& title, const std::string& image) {
    auto button = UIButton::buttonWithType(UIButtonTypeCustom);
    button->setFrame(frame);
    button->setTitle(title, UIControlStateNormal);
    button->setTitleColor(UIColor::whiteColor(), UIControlStateNormal);
    button->setBackgroundColor(UIColor::colorWithRed(171 / 255.0, 3 / 255.0, 0, 1));
    button->setBackgroundImage(UIImage::imageNamed(image), UIControlStateNormal);
    button->setAutoresizingMask(UIViewAutoresizingFlexibleTopMargin);
    return button;
}

}  // namespace

std::string ActivityDetailViewController::pageHTML(const Ref<QVNActivity>& activity, CGFloat screenWidth) {
    std::string html = "<html>";
    html += "<head>";
    html += NSString::stringWithFormat("</head><style>img{max-width:%dpx}</style>",
                                       static_cast<int>(screenWidth - 16));
    html += "<body>";
    // The title and the time are plain text from the server: markup in them must show as text.
    std::string title = activity ? activity->event_title.value_or("") : "";
    std::string time = activity ? activity->addtime.value_or("") : "";
    html += "<div class=\"title\">" + QVNTextRules::escapeHTML(title) + "</div>";
    html += "<div class=\"time\">" + QVNTextRules::escapeHTML(time) + "</div>";
    if (activity && activity->event_content) html += *activity->event_content;
    html += "</body>";
    html += "</html>";
    return html;
}

void ActivityDetailViewController::loadView() {
    const CGRect bounds = UIScreen::mainScreen()->bounds();
    const CGFloat W = bounds.size.width;
    const CGFloat H = bounds.size.height;
    auto root = make<UIView>(bounds);
    root->setBackgroundColor(UIColor::whiteColor());

    auto bar = make<UIView>(CGRectMake(0, 0, W, kBarHeight));
    bar->setBackgroundColor(UIColor::colorWithRed(171 / 255.0, 3 / 255.0, 0, 1));
    bar->setAutoresizingMask(UIViewAutoresizingFlexibleWidth);
    auto title = make<UILabel>(CGRectMake(60, 20, W - 120, 44));
    title->setText(std::string("活动详情"));
    title->setTextColor(UIColor::whiteColor());
    title->setFont(UIFont::boldSystemFontOfSize(17));
    title->setTextAlignment(NSTextAlignmentCenter);
    bar->addSubview(title);
    auto back = UIButton::buttonWithType(UIButtonTypeCustom);
    back->setFrame(CGRectMake(8, 20, 44, 44));
    back->setTitle(std::string("返回"), UIControlStateNormal);
    back->setTitleColor(UIColor::whiteColor(), UIControlStateNormal);
    Ref<ActivityDetailViewController> self = selfAs<ActivityDetailViewController>();
    back->addTarget(self, &ActivityDetailViewController::fanhiAction,
                    "fanhiAction:", UIControlEventTouchUpInside);
    bar->addSubview(back);
    auto share = UIButton::buttonWithType(UIButtonTypeCustom);
    share->setFrame(CGRectMake(W - 52, 20, 44, 44));
    share->setTitle(std::string("分享"), UIControlStateNormal);
    bar->addSubview(share);
    root->addSubview(bar);

    auto web = make<UIWebView>(CGRectMake(0, kBarHeight, W, H - kBarHeight - kButtonRowHeight));
    web->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    web->setBackgroundColor(UIColor::whiteColor());
    root->addSubview(web);

    const CGFloat half = (W - 30) / 2;
    auto join = bottomButton(CGRectMake(10, H - kButtonRowHeight + 10, half, 40), "我要参与", "woyaocanyu");
    join->addTarget(self, &ActivityDetailViewController::joinButtonDidTouch,
                    "joinButtonDidTouch:", UIControlEventTouchUpInside);
    root->addSubview(join);
    auto show = bottomButton(CGRectMake(20 + half, H - kButtonRowHeight + 10, half, 40), "作品欣赏",
                             "zuopinxinshang");
    show->addTarget(self, &ActivityDetailViewController::appreciateButtonDidTouch,
                    "appreciateButtonDidTouch:", UIControlEventTouchUpInside);
    root->addSubview(show);

    webView = web;
    joinButton = join;
    shareBtn = share;
    showBtn = show;
    setView(root);
}

void ActivityDetailViewController::viewDidLoad() {
    UIViewController::viewDidLoad();
    if (auto share = shareBtn.lock()) share->setHidden(true);
    Weak<ActivityDetailViewController> weak = selfAs<ActivityDetailViewController>();
    auto swipe = make<UISwipeGestureRecognizer>(self(), [weak](const Ref<UIGestureRecognizer>& sender) {
        if (auto self = weak.lock()) self->fanhiAction(sender);
    });
    swipe->setDirection(UISwipeGestureRecognizerDirectionRight);
    view()->addGestureRecognizer(swipe);
    setupWebView();
}

void ActivityDetailViewController::viewWillAppear(bool animated) {
    UIViewController::viewWillAppear(animated);
    if (auto navigation = navigationController()) navigation->setNavigationBarHidden(true, animated);
    setButtonUserInter();
}

void ActivityDetailViewController::setupWebView() {
    if (auto web = webView.lock())
        web->loadHTMLString(pageHTML(activity_, UIScreen::mainScreen()->bounds().size.width), nullptr);
}

void ActivityDetailViewController::setButtonUserInter() {
    if (!activity_ || !activity_->isClosed()) return;
    if (auto join = joinButton.lock()) {
        join->setUserInteractionEnabled(false);
        join->setBackgroundImage(UIImage::imageNamed("woyaocanyugray"), UIControlStateNormal);
        join->setBackgroundColor(UIColor::grayColor());
    }
    if (auto show = showBtn.lock()) {
        show->setUserInteractionEnabled(false);
        show->setBackgroundImage(UIImage::imageNamed("zuopinxinshanggray"), UIControlStateNormal);
        show->setBackgroundColor(UIColor::grayColor());
    }
}

void ActivityDetailViewController::fanhiAction(const Ref<NSObject>&) {
    if (auto navigation = navigationController()) navigation->popViewControllerAnimated(true);
}

// ---- the entries ----------------------------------------------------------------------------------

void ActivityDetailViewController::appreciateButtonDidTouch(const Ref<NSObject>&) {
    NS_ASSERT_MAIN_THREAD();
    // The greyed button takes no touches; a call from code is held to the same rule.
    if (activity_ && activity_->isClosed()) return;
    // A gallery that is not built into this storyboard opens nothing (the segue is logged).
    performSegueWithIdentifier(kShowProductionSegue, self());
}

void ActivityDetailViewController::prepareForSegue(const Ref<UIStoryboardSegue>& segue,
                                                   const Ref<NSObject>&) {
    if (!segue || segue->identifier() != std::optional<std::string>(kShowProductionSegue)) return;
    if (auto handOver = std::dynamic_pointer_cast<InformationScreens::ActivityHandOver>(
            segue->destinationViewController()))
        handOver->setActivity(activity_);
}

// ---- joining --------------------------------------------------------------------------------------

void ActivityDetailViewController::joinButtonDidTouch(const Ref<NSObject>&) {
    NS_ASSERT_MAIN_THREAD();
    if (!activity_ || activity_->isClosed()) return;
    // The joined test comes first: it holds even for a signed-out reader of a cached event.
    if (activity_->is_join && activity_->is_join->integerValue() == 1) {
        make<UIAlertView>(std::string("已参与该活动"), std::nullopt, nullptr, std::nullopt,
                          std::vector<std::string>{"确定"})
            ->show();
        return;
    }
    if (!QVNUserManager::shareObject()->hasCurrentUser()) return pushLogin();
    if (!activity_->isPhotoEvent()) return presentCarStudio();
    pushJoinScreen();
}

void ActivityDetailViewController::pushLogin() {
    Ref<UINavigationController> navigation = navigationController();
    Ref<UIStoryboard> board = UIStoryboard::storyboardWithName(QVNAccountScreens::kStoryboard, nullptr);
    if (!navigation || !board) return;
    if (Ref<UIViewController> login =
            board->instantiateViewControllerWithIdentifier(QVNAccountScreens::kLoginIdentifier))
        navigation->pushViewController(login, true);
}

void ActivityDetailViewController::presentCarStudio() {
    Ref<UIStoryboard> board = UIStoryboard::storyboardWithName(QVNCarScreens::kStoryboard, nullptr);
    Ref<UIViewController> studio = board ? board->instantiateInitialViewController() : nullptr;
    if (!studio) return;
    if (auto entry = std::dynamic_pointer_cast<QVNCarScreens::CarStudioEntry>(studio))
        entry->setActivity(activity_);
    presentViewController(studio, true);
}

void ActivityDetailViewController::pushJoinScreen() {
    Ref<UIStoryboard> board =
        storyboard() ? storyboard()
                     : UIStoryboard::storyboardWithName(InformationScreens::kActivityStoryboard, nullptr);
    Ref<UINavigationController> navigation = navigationController();
    if (!board || !navigation) return;
    Ref<UIViewController> join =
        board->instantiateViewControllerWithIdentifier(InformationScreens::kJoinActivityIdentifier);
    if (!join) return;
    if (auto handOver = std::dynamic_pointer_cast<InformationScreens::ActivityHandOver>(join))
        handOver->setActivity(activity_);
    navigation->pushViewController(join, true);
}
