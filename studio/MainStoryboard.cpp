#include "studio/MainStoryboard.h"

#include <algorithm>

#include "app/QVNMainStoryboard.h"
#include "app/UIColor+Extensions.h"
#include "graphics/UIFont.h"
#include "studio/CameraStoryboard.h"
#include "studio/HomeStandInPages.h"
#include "studio/MainViewController.h"
#include "studio/QVNTuningListCell.h"
#include "studio/QVNTuningListDetailCell.h"
#include "studio/TuningDetailViewController.h"
#include "studio/TuningListSaveViewController.h"
#include "studio/TuningListTableViewController.h"
#include "uikit/UIScreen.h"
#include "uikit/UIStoryboard.h"

namespace {

Ref<UIButton> tabButton(const std::string& title, CGRect frame) {
    auto button = UIButton::buttonWithType(UIButtonTypeCustom);
    button->setFrame(frame);
    button->setTitle(title, UIControlStateNormal);
    button->setTitleColor(UIColor::whiteColor(), UIControlStateNormal);
    button->titleLabel()->setFont(UIFont::systemFontOfSize(15));
    return button;
}

Ref<UIButton> roundButton(const std::string& title, const Ref<UIColor>& colour) {
    auto button = UIButton::buttonWithType(UIButtonTypeCustom);
    button->setTitle(title, UIControlStateNormal);
    button->setTitleColor(UIColor::whiteColor(), UIControlStateNormal);
    button->setBackgroundColor(colour);
    button->titleLabel()->setFont(UIFont::boldSystemFontOfSize(16));
    button->layer()->setCornerRadius(36);
    return button;
}

// A member action of a screen, held weakly by the control.
template <class Screen>
void connect(UIViewController& owner, const Ref<UIControl>& control,
             void (Screen::*action)(const Ref<NSObject>&), const std::string& selector,
             UIControlEvents events = UIControlEventTouchUpInside) {
    control->addTarget(owner.selfAs<Screen>(), action, selector, events);
}

// The search button opens the information area's search screen, pushed over the home screen. The
// scene belongs to that area: without it (a build without the area) the button does nothing.
void connectSearch(UIViewController& owner, const Ref<UIButton>& button) {
    static constexpr char kStoryboard[] = "MyInformation";
    static constexpr char kIdentifier[] = "SearchViewController";
    Weak<UIViewController> weak = owner.selfAs<UIViewController>();
    button->addTarget(
        owner.selfAs<UIViewController>(),
        [weak](const Ref<NSObject>&, const Ref<UIEvent>&) {
            auto home = weak.lock();
            auto navigation = home ? home->navigationController() : nullptr;
            if (!navigation || !UIStoryboard::hasStoryboardNamed(kStoryboard)) return;
            auto scenes = UIStoryboard::sceneIdentifiers(kStoryboard);
            if (std::find(scenes.begin(), scenes.end(), kIdentifier) == scenes.end()) return;
            auto storyboard = UIStoryboard::storyboardWithName(kStoryboard, nullptr);
            if (auto search =
                    storyboard ? storyboard->instantiateViewControllerWithIdentifier(kIdentifier) : nullptr)
                navigation->pushViewController(search, true);
        },
        "showSearch:", UIControlEventTouchUpInside);
}

// ---- the home screen ----------------------------------------------------------------------------

Ref<UIView> buildHomeView(UIViewController& owner) {
    auto& screen = static_cast<MainViewController&>(owner);
    CGRect bounds = UIScreen::mainScreen()->bounds();
    CGFloat width = bounds.size.width;
    auto root = make<UIView>(bounds);
    root->setBackgroundColor(UIColor::whiteColor());
    root->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);

    constexpr CGFloat kHeaderHeight = 100;
    auto header = make<UIView>(CGRectMake(0, 0, width, kHeaderHeight));
    header->setAutoresizingMask(UIViewAutoresizingFlexibleWidth);
    header->setClipsToBounds(true);
    root->addSubview(header);
    screen.headerContainer = header;

    auto headerImage = make<UIImageView>(header->bounds());
    headerImage->setBackgroundColor(UIColor_Extensions::QVNBlackColor());
    headerImage->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    header->addSubview(headerImage);
    screen.HeaderImage = headerImage;

    auto my = tabButton("我的", CGRectMake(8, 24, 52, 32));
    header->addSubview(my);
    screen.btnMy = my;
    auto title = make<UILabel>(CGRectMake(70, 24, width - 140, 32));
    title->setTextAlignment(NSTextAlignmentCenter);
    title->setTextColor(UIColor::whiteColor());
    title->setFont(UIFont::boldSystemFontOfSize(18));
    header->addSubview(title);
    screen.labTitle = title;
    auto search = tabButton("搜索", CGRectMake(width - 60, 24, 52, 32));
    header->addSubview(search);
    screen.btnSearch = search;

    const CGFloat tabWidth = width / 4;
    auto news = tabButton("资讯", CGRectMake(0, 60, tabWidth, 36));
    auto rizur = tabButton("问答", CGRectMake(tabWidth, 60, tabWidth, 36));
    auto videos = tabButton("视频", CGRectMake(tabWidth * 2, 60, tabWidth, 36));
    auto activity = tabButton("活动", CGRectMake(tabWidth * 3, 60, tabWidth, 36));
    for (const auto& tab : {news, rizur, videos, activity}) header->addSubview(tab);
    screen.btnNews = news;
    screen.btnRizur = rizur;
    screen.btnVideos = videos;
    screen.btnActivity = activity;

    auto container = make<UIView>(CGRectMake(0, kHeaderHeight, width, bounds.size.height - kHeaderHeight));
    container->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    root->addSubview(container);
    screen.viewContainer = container;

    auto camera = roundButton("相机", UIColor::colorWithWhite(0.25, 1));
    camera->setFrame(CGRectMake(16, bounds.size.height - 96, 72, 72));
    camera->setAutoresizingMask(UIViewAutoresizingFlexibleTopMargin);
    root->addSubview(camera);

    auto studio = roundButton("改装", UIColor_Extensions::QVNDeepAccentColor());
    root->addSubview(studio);
    studio->setTranslatesAutoresizingMaskIntoConstraints(false);
    auto bottom = NSLayoutConstraint::constraintWithItem(
        studio, NSLayoutAttributeBottom, NSLayoutRelationEqual, root, NSLayoutAttributeBottom, 1.0, -24.0);
    root->addConstraints({
        bottom,
        NSLayoutConstraint::constraintWithItem(studio, NSLayoutAttributeRight, NSLayoutRelationEqual, root,
                                               NSLayoutAttributeRight, 1.0, -16.0),
        NSLayoutConstraint::constraintWithItem(studio, NSLayoutAttributeWidth, NSLayoutRelationEqual, nullptr,
                                               NSLayoutAttributeNotAnAttribute, 1.0, 72.0),
        NSLayoutConstraint::constraintWithItem(studio, NSLayoutAttributeHeight, NSLayoutRelationEqual,
                                               nullptr, NSLayoutAttributeNotAnAttribute, 1.0, 72.0),
    });
    screen.modifyEntranceButton = studio;
    screen.modifyEntranceButtonConstraint = bottom;

    // The tabs slide the strip, then switch the page.
    using M = MainViewController;
    connect<M>(owner, news, &M::childViewButtonTapped, "childViewButtonTapped:");
    connect<M>(owner, news, &M::showNewsViewController, "showNewsViewController:");
    connect<M>(owner, rizur, &M::childViewButtonTapped, "childViewButtonTapped:");
    connect<M>(owner, rizur, &M::showRizUrListViewController, "showRizUrListViewController:");
    connect<M>(owner, videos, &M::childViewButtonTapped, "childViewButtonTapped:");
    connect<M>(owner, videos, &M::showVideosViewController, "showVideosViewController:");
    connect<M>(owner, activity, &M::childViewButtonTapped, "childViewButtonTapped:");
    connect<M>(owner, activity, &M::showActivityViewController, "showActivityViewController:");
    connect<M>(owner, my, &M::showMyViewController, "showMyViewController:");
    connect<M>(owner, studio, &M::modifyEntranceButtonTapped, "modifyEntranceButtonTapped:");
    connect<M>(owner, studio, &M::modifyEntranceButtonPanning,
               "modifyEntranceButtonPanning:", UIControlEventTouchDragInside);
    connect<M>(owner, camera, &M::showCustomCameraVC, "showCustomCameraVC:");
    connectSearch(owner, search);
    return root;
}

// ---- the tuning-list screens ----------------------------------------------------------------------

Ref<UIView> panelOn(const Ref<UIView>& root, CGRect frame, UIViewAutoresizing mask) {
    auto panel = make<UIView>(frame);
    panel->setAutoresizingMask(mask);
    // Opaque: the studio's buttons and the car behind would show through the panel's text.
    panel->setBackgroundColor(UIColor::colorWithRed(11 / 255.0, 35 / 255.0, 44 / 255.0, 1));
    panel->layer()->setCornerRadius(8);
    root->addSubview(panel);
    return panel;
}

Ref<UILabel> panelTitle(const Ref<UIView>& panel, const std::string& text) {
    auto title = make<UILabel>(CGRectMake(0, 8, panel->bounds().size.width, 30));
    title->setAutoresizingMask(UIViewAutoresizingFlexibleWidth);
    title->setText(text);
    title->setTextAlignment(NSTextAlignmentCenter);
    title->setTextColor(UIColor::whiteColor());
    title->setFont(UIFont::boldSystemFontOfSize(17));
    panel->addSubview(title);
    return title;
}

Ref<UIButton> panelButton(const std::string& title, CGRect frame) {
    auto button = UIButton::buttonWithType(UIButtonTypeCustom);
    button->setFrame(frame);
    button->setTitle(title, UIControlStateNormal);
    button->setTitleColor(UIColor::whiteColor(), UIControlStateNormal);
    button->setTitleColor(UIColor::grayColor(), UIControlStateDisabled);
    button->setBackgroundColor(UIColor::colorWithWhite(1, 0.15));
    button->setAutoresizingMask(UIViewAutoresizingFlexibleTopMargin);
    return button;
}

Ref<UIView> screenRoot() {
    auto root = make<UIView>(UIScreen::mainScreen()->bounds());
    root->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    return root;
}

Ref<UIView> buildListView(UIViewController& owner) {
    auto& screen = static_cast<TuningListTableViewController&>(owner);
    auto root = screenRoot();
    CGSize size = root->bounds().size;
    auto panel = panelOn(root, CGRectMake(size.width - 300, 16, 284, size.height - 32),
                         UIViewAutoresizingFlexibleLeftMargin | UIViewAutoresizingFlexibleHeight);
    panelTitle(panel, "我的清单");
    CGSize box = panel->bounds().size;
    auto table = make<UITableView>(CGRectMake(8, 44, box.width - 16, box.height - 104));
    table->setAutoresizingMask(UIViewAutoresizingFlexibleHeight | UIViewAutoresizingFlexibleWidth);
    table->setRowHeight(44);
    table->registerClass(
        [](const std::string& identifier) -> Ref<UITableViewCell> {
            auto cell = make<QVNTuningListCell>(UITableViewCellStyleDefault, identifier);
            cell->awakeFromNib();
            return cell;
        },
        TuningListTableViewController::kCellIdentifier);
    panel->addSubview(table);
    screen.tableView = table;

    CGFloat half = (box.width - 24) / 2;
    auto remove = panelButton("删除", CGRectMake(8, box.height - 52, half, 40));
    auto check = panelButton("查看", CGRectMake(16 + half, box.height - 52, half, 40));
    panel->addSubview(remove);
    panel->addSubview(check);
    screen.deleteButton = remove;
    screen.checkButton = check;
    using L = TuningListTableViewController;
    connect<L>(owner, remove, &L::deleteTuningList, "deleteTuningList:");
    connect<L>(owner, check, &L::showTuningListDetail, "showTuningListDetail:");
    return root;
}

Ref<UIView> buildDetailView(UIViewController& owner) {
    auto& screen = static_cast<TuningDetailViewController&>(owner);
    auto root = screenRoot();
    CGSize size = root->bounds().size;
    auto panel = panelOn(root, CGRectMake(size.width - 300, 16, 284, size.height - 32),
                         UIViewAutoresizingFlexibleLeftMargin | UIViewAutoresizingFlexibleHeight);
    panelTitle(panel, "清单详情");
    CGSize box = panel->bounds().size;
    auto table = make<UITableView>(CGRectMake(8, 44, box.width - 16, box.height - 104));
    table->setAutoresizingMask(UIViewAutoresizingFlexibleHeight | UIViewAutoresizingFlexibleWidth);
    table->setRowHeight(36);
    table->registerClass(
        [](const std::string& identifier) -> Ref<UITableViewCell> {
            auto cell = make<QVNTuningListDetailCell>(UITableViewCellStyleDefault, identifier);
            cell->awakeFromNib();
            return cell;
        },
        TuningDetailViewController::kCellIdentifier);
    panel->addSubview(table);
    screen.tableView = table;

    auto right = UIButton::buttonWithType(UIButtonTypeCustom);
    right->setFrame(CGRectMake(box.width - 88, box.height - 48, 80, 32));
    right->setAutoresizingMask(UIViewAutoresizingFlexibleTopMargin | UIViewAutoresizingFlexibleLeftMargin);
    panel->addSubview(right);
    screen.rightFirstButton = right;
    return root;
}

Ref<UIView> buildSaveView(UIViewController& owner) {
    auto& screen = static_cast<TuningListSaveViewController&>(owner);
    auto root = screenRoot();
    CGSize size = root->bounds().size;
    CGRect frame = CGRectMake((size.width - 320) / 2, (size.height - 170) / 2, 320, 170);
    auto popUp = panelOn(root, frame,
                         UIViewAutoresizingFlexibleLeftMargin | UIViewAutoresizingFlexibleRightMargin |
                             UIViewAutoresizingFlexibleTopMargin | UIViewAutoresizingFlexibleBottomMargin);
    screen.popUpView = popUp;
    panelTitle(popUp, "保存清单");
    auto field = make<UITextField>(CGRectMake(20, 50, 280, 40));
    field->setBorderStyle(UITextBorderStyleRoundedRect);
    field->setBackgroundColor(UIColor::whiteColor());
    field->setPlaceholder(std::string("清单名称"));
    popUp->addSubview(field);
    screen.nameTextField = field;
    auto cancel = panelButton("取消", CGRectMake(20, 110, 130, 40));
    auto store = panelButton("确定", CGRectMake(170, 110, 130, 40));
    store->setBackgroundColor(UIColor_Extensions::QVNRedColor());
    // White would hardly read on the light accent: the panel's dark colour does.
    store->setTitleColor(UIColor::colorWithRed(11 / 255.0, 35 / 255.0, 44 / 255.0, 1), UIControlStateNormal);
    popUp->addSubview(cancel);
    popUp->addSubview(store);
    screen.cancelButton = cancel;
    screen.configureButton = store;
    using S = TuningListSaveViewController;
    connect<S>(owner, store, &S::configureButtonDidTouch, "configureButtonDidTouch:");
    connect<S>(owner, cancel, &S::cancelButtonDidTouch, "cancelButtonDidTouch:");
    return root;
}

}  // namespace

namespace MainStoryboard {

void registerHomeScene() {
    UIStoryboard::registerScene(QVNMainStoryboard::kName, QVNMainStoryboard::kHomeIdentifier,
                                [](UIStoryboard&) -> Ref<UIViewController> {
                                    auto home = make<MainViewController>();
                                    home->setViewLoader(buildHomeView);
                                    return home;
                                });
}

void registerTuningListScenes() {
    UIStoryboard::registerScene(
        kCarStoryboard, kTuningListIdentifier, [](UIStoryboard&) -> Ref<UIViewController> {
            auto list = make<TuningListTableViewController>();
            // Over the studio: its picture stays visible around the panel.
            list->setModalPresentationStyle(UIModalPresentationOverFullScreen);
            list->setViewLoader(buildListView);
            list->declareSegue(TuningListTableViewController::kDetailSegue, UIStoryboardSegueKind::Present,
                               kTuningDetailIdentifier, std::string(kCarStoryboard));
            return list;
        });
    UIStoryboard::registerScene(
        kCarStoryboard, kTuningDetailIdentifier, [](UIStoryboard&) -> Ref<UIViewController> {
            auto detail = make<TuningDetailViewController>();
            detail->setModalPresentationStyle(UIModalPresentationOverFullScreen);
            detail->setViewLoader(buildDetailView);
            detail->declareSegue(TuningDetailViewController::kSaveSegue, UIStoryboardSegueKind::Present,
                                 kTuningSaveIdentifier, std::string(kCarStoryboard));
            return detail;
        });
    UIStoryboard::registerScene(kCarStoryboard, kTuningSaveIdentifier,
                                [](UIStoryboard&) -> Ref<UIViewController> {
                                    auto box = make<TuningListSaveViewController>();
                                    box->setViewLoader(buildSaveView);
                                    return box;
                                });
}

void registerScenes() {
    registerHomeScene();
    registerTuningListScenes();
    CameraStoryboard::registerScenes();
    HomeStandInPages::registerScenes();
}

}  // namespace MainStoryboard
