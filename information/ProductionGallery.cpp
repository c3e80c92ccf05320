#include "information/ProductionGallery.h"

#include "app/QVNAPIClient.h"
#include "app/QVNAccountScreens.h"
#include "app/QVNCarScreens.h"
#include "app/QVNTuningList.h"
#include "app/QVNUserManager.h"
#include "app/UIColor+Extensions.h"
#include "controls/PullRefreshAutoNormalFooter.h"
#include "controls/PullRefreshNormalHeader.h"
#include "controls/UIScrollView+PullRefresh.h"
#include "foundation/NSMainThreadCheck.h"
#include "graphics/UIColor.h"
#include "graphics/UIFont.h"
#include "information/QVNProductionCell.h"
#include "uikit/UIApplication.h"
#include "uikit/UIButton.h"
#include "uikit/UILabel.h"
#include "uikit/UINavigationController.h"
#include "uikit/UIStoryboard.h"
#include "uikit/UISwipeGestureRecognizer.h"

namespace detail {

namespace {

constexpr long kResultAlreadyVoted = 43001;

Array itemsOf(const std::optional<QVNProduction::List>& productions) {
    Array items = Array::mutableArray();
    if (productions)
        for (const auto& production : *productions) items.addObject(Value(production));
    return items;
}

Ref<UIViewController> sceneOf(const std::string& storyboardName,
                              const std::optional<std::string>& identifier) {
    if (!UIStoryboard::hasStoryboardNamed(storyboardName)) return nullptr;
    Ref<UIStoryboard> storyboard = UIStoryboard::storyboardWithName(storyboardName, nullptr);
    if (!storyboard) return nullptr;
    if (!identifier) return storyboard->instantiateInitialViewController();
    return storyboard->instantiateViewControllerWithIdentifier(*identifier);
}

}  // namespace

const Ref<VHProgressHUD>& ProductionGallery::hud() {
    if (!hud_) {
        hud_ = make<VHProgressHUD>(view());
        view()->addSubview(hud_);
    }
    return hud_;
}

void ProductionGallery::viewDidLoad() {
    UIViewController::viewDidLoad();
    setupGesture();
    setupCollectionView();
}

void ProductionGallery::viewWillAppear(bool animated) {
    UIViewController::viewWillAppear(animated);
    if (auto navigation = navigationController()) navigation->setNavigationBarHidden(true, animated);
}

UIInterfaceOrientationMask ProductionGallery::supportedInterfaceOrientations() const {
    return UIInterfaceOrientationMaskPortrait;
}

UIInterfaceOrientation ProductionGallery::preferredInterfaceOrientationForPresentation() const {
    return UIInterfaceOrientationPortrait;
}

void ProductionGallery::setupGesture() {
    NS_ASSERT_MAIN_THREAD();
    Weak<ProductionGallery> weak = selfAs<ProductionGallery>();
    auto swipe = make<UISwipeGestureRecognizer>(self(), [weak](const Ref<UIGestureRecognizer>& sender) {
        if (auto self = weak.lock()) self->popController(sender);
    });
    swipe->setDirection(UISwipeGestureRecognizerDirectionRight);
    swipe->setDelegate(selfAs<ProductionGallery>());
    view()->addGestureRecognizer(swipe);
}

std::optional<bool>
ProductionGallery::gestureRecognizerShouldRecognizeSimultaneouslyWithGestureRecognizer(UIGestureRecognizer&,
                                                                                       UIGestureRecognizer&) {
    return true;
}

void ProductionGallery::popController(const Ref<NSObject>&) {
    if (auto navigation = navigationController()) navigation->popViewControllerAnimated(true);
}

CGFloat ProductionGallery::titleBarTop() {
    return UIApplication::sharedApplication()->statusBarFrame().size.height;
}

void ProductionGallery::addTitleBar() {
    const Ref<UIView>& root = view();
    const CGFloat W = root->bounds().size.width;
    const CGFloat top = titleBarTop();
    if (top > 0) {
        auto backdrop = make<UIView>(CGRectMake(0, 0, W, top));
        backdrop->setBackgroundColor(UIColor_Extensions::QVNBlackColor());
        backdrop->setAutoresizingMask(UIViewAutoresizingFlexibleWidth);
        root->addSubview(backdrop);
    }
    auto bar = make<UIView>(CGRectMake(0, top, W, kTitleBarHeight));
    bar->setBackgroundColor(UIColor_Extensions::QVNBlackColor());
    bar->setAutoresizingMask(UIViewAutoresizingFlexibleWidth);
    auto title = make<UILabel>(CGRectMake(60, 0, W - 120, kTitleBarHeight));
    title->setFont(UIFont::boldSystemFontOfSize(17));
    title->setTextColor(UIColor::whiteColor());
    title->setTextAlignment(NSTextAlignmentCenter);
    title->setText(activity_ ? activity_->event_title : std::nullopt);
    bar->addSubview(title);
    auto back = UIButton::buttonWithType(UIButtonTypeCustom);
    back->setFrame(CGRectMake(4, 0, 56, kTitleBarHeight));
    back->setTitle(std::string("返回"), UIControlStateNormal);
    back->setTitleColor(UIColor::whiteColor(), UIControlStateNormal);
    back->titleLabel()->setFont(UIFont::systemFontOfSize(15));
    back->addTarget(selfAs<ProductionGallery>(), &ProductionGallery::popController,
                    "popController:", UIControlEventTouchUpInside);
    bar->addSubview(back);
    root->addSubview(bar);
}

Ref<ArrayDataSource>
ProductionGallery::makeDataSource(const std::optional<QVNProduction::List>& productions) {
    Weak<ProductionGallery> weak = selfAs<ProductionGallery>();
    // The handlers hold the gallery weakly: a card outliving it sends nothing.
    auto voteHandler = [weak](const Ref<QVNProduction>& production) {
        if (auto self = weak.lock()) self->voteForProduction(production);
    };
    auto tryCarHandler = [weak](const Ref<QVNProduction>& production) {
        if (auto self = weak.lock()) self->tryCarOfProduction(production);
    };
    return make<ArrayDataSource>(itemsOf(productions), productionCellIdentifier(),
                                 [voteHandler, tryCarHandler](const Ref<UIView>& view, const Value& item) {
                                     auto production = item.objectAs<QVNProduction>();
                                     if (auto cell = asKind<QVNProductionCell>(view)) {
                                         cell->setProduction(production);
                                         cell->setLookCarBlock(tryCarHandler);
                                         cell->setVoteBlock(voteHandler);
                                     } else if (auto second = asKind<QVNProductionSecondcell>(view)) {
                                         second->setProduction(production);
                                         second->setLookCarBlock(tryCarHandler);
                                         second->setVoteBlock(voteHandler);
                                     }
                                 });
}

void ProductionGallery::setupCollectionView() {
    NS_ASSERT_MAIN_THREAD();
    prepareCollectionView();
    Ref<UICollectionView> grid = collectionView.lock();
    productionsDataSource_ = makeDataSource(std::nullopt);
    if (grid) grid->setDataSource(productionsDataSource_);

    Weak<ProductionGallery> weak = selfAs<ProductionGallery>();
    Weak<ArrayDataSource> askedFor = productionsDataSource_;
    QVNProduction::fetchProductionsForActivity(
        activity_, [weak, askedFor](const std::optional<QVNProduction::List>& productions) {
            auto self = weak.lock();
            if (!self || !productions) return;
            // A refresh that came first has already put a first page in place.
            if (self->productionsDataSource_ != askedFor.lock()) return;
            self->productionsDataSource_->addItems(itemsOf(productions));
            if (auto grid = self->collectionView.lock()) grid->reloadData();
        });
    setupCollectionViewRefresh();
}

void ProductionGallery::setupCollectionViewRefresh() {
    Ref<UICollectionView> grid = collectionView.lock();
    if (!grid) return;
    Weak<ProductionGallery> weak = selfAs<ProductionGallery>();
    UIScrollView_PullRefresh::setHeader(grid, PullRefreshNormalHeader::headerWithRefreshingBlock([weak] {
                                            if (auto self = weak.lock()) self->loadNewProductions();
                                        }));
    UIScrollView_PullRefresh::setFooter(grid, PullRefreshAutoNormalFooter::footerWithRefreshingBlock([weak] {
                                            if (auto self = weak.lock()) self->loadMoreProductions();
                                        }));
}

void ProductionGallery::loadNewProductions() {
    NS_ASSERT_MAIN_THREAD();
    Weak<ProductionGallery> weak = selfAs<ProductionGallery>();
    QVNProduction::fetchProductionsForActivity(
        activity_, [weak](const std::optional<QVNProduction::List>& productions) {
            auto self = weak.lock();
            if (!self) return;
            Ref<UICollectionView> grid = self->collectionView.lock();
            self->productionsDataSource_ = self->makeDataSource(productions);
            if (grid) {
                grid->setDataSource(self->productionsDataSource_);
                grid->reloadData();
                if (auto header = UIScrollView_PullRefresh::header(*grid)) header->endRefreshing();
                if (auto footer = UIScrollView_PullRefresh::footer(*grid)) footer->resetNoMoreData();
            }
        });
}

void ProductionGallery::loadMoreProductions() {
    NS_ASSERT_MAIN_THREAD();
    Ref<UICollectionView> grid = collectionView.lock();
    auto footer = grid ? UIScrollView_PullRefresh::footer(*grid) : nullptr;
    Ref<QVNProduction> last = productionsDataSource_
                                  ? productionsDataSource_->items().lastObject().objectAs<QVNProduction>()
                                  : nullptr;
    if (!last) {
        // Nothing to page after: no request, and the footer stops rather than spin.
        if (footer) footer->endRefreshingWithNoMoreData();
        return;
    }
    Weak<ProductionGallery> weak = selfAs<ProductionGallery>();
    Weak<ArrayDataSource> askedFor = productionsDataSource_;
    QVNProduction::fetchMoreProductionsWithLastProduction(
        last, [weak, askedFor](const std::optional<QVNProduction::List>& productions) {
            auto self = weak.lock();
            if (!self) return;
            Ref<UICollectionView> grid = self->collectionView.lock();
            auto footer = grid ? UIScrollView_PullRefresh::footer(*grid) : nullptr;
            if (self->productionsDataSource_ != askedFor.lock()) {
                // The list was refreshed meanwhile: this page follows an entry no longer held.
                if (footer && footer->isRefreshing()) footer->endRefreshing();
                return;
            }
            if (!productions) {
                if (footer) footer->endRefreshingWithNoMoreData();
                return;
            }
            self->productionsDataSource_->addItems(itemsOf(productions));
            if (grid) grid->reloadData();
            if (footer) footer->endRefreshing();
        });
}

std::vector<Ref<QVNProduction>> ProductionGallery::productions() const {
    std::vector<Ref<QVNProduction>> all;
    if (!productionsDataSource_) return all;
    for (const Value& item : productionsDataSource_->items())
        if (auto production = item.objectAs<QVNProduction>()) all.push_back(production);
    return all;
}

void ProductionGallery::voteForProduction(const Ref<QVNProduction>& production) {
    NS_ASSERT_MAIN_THREAD();
    if (!production) return;
    if (!QVNUserManager::shareObject()->hasCurrentUser()) {
        alterAndGotoLogin();
        return;
    }
    Weak<ProductionGallery> weak = selfAs<ProductionGallery>();
    production->voteWithCompletion([weak, production](const Ref<NSError>& error) {
        auto self = weak.lock();
        if (!self) return;
        if (error) {
            self->handleReplyError(error);
            return;
        }
        const Ref<VHProgressHUD>& hud = self->hud();
        hud->setMode(VHProgressHUDModeSpinner);
        hud->setLabelText(std::string("投票成功"));
        hud->show(true);
        hud->hide(true, 2.0);
        production->addVoteCount();
        // The entry may have left the list (a refresh replaced it): then no card shows it.
        if (!self->productionsDataSource_) return;
        std::size_t row = self->productionsDataSource_->items().indexOfObject(Value(production));
        if (row == NSNotFound) return;
        if (auto grid = self->collectionView.lock())
            grid->reloadItemsAtIndexPaths({NSIndexPath::indexPathForItem(static_cast<long>(row), 0)});
    });
}

void ProductionGallery::tryCarOfProduction(const Ref<QVNProduction>& production) {
    NS_ASSERT_MAIN_THREAD();
    if (!production) return;
    if (!QVNUserManager::shareObject()->hasCurrentUser()) {
        alterAndGotoLogin();
        return;
    }
    Weak<ProductionGallery> weak = selfAs<ProductionGallery>();
    QVNTuningList::getTuninglistByTuningListId(production->list_id, [weak](const Ref<QVNTuningList>& list) {
        auto self = weak.lock();
        if (!self) return;
        if (!list) {
            self->showText(std::string("体验失败"), 1.5);
            return;
        }
        Ref<UIViewController> studio = sceneOf(QVNCarScreens::kStoryboard, std::nullopt);
        auto entry = std::dynamic_pointer_cast<QVNCarScreens::CarStudioEntry>(studio);
        // Without the studio there is nothing to open the list in.
        if (!entry) return;
        entry->setTuningList(list);
        self->presentViewController(studio, true);
    });
}

void ProductionGallery::showText(const std::optional<std::string>& text, double hideAfter) {
    Ref<VHProgressHUD> message = VHProgressHUD::showHUDAddedTo(view(), true);
    message->setMode(VHProgressHUDModeText);
    if (text) message->setLabelText(*text);
    message->setRemoveFromSuperViewOnHide(true);
    message->hide(true, hideAfter);
}

void ProductionGallery::handleReplyError(const Ref<NSError>& error) {
    NS_ASSERT_MAIN_THREAD();
    const long code = error && error->domain() == QVNAPIErrorDomain ? error->code() : 0;
    if (code == QVNResultCodeInvalidToken) {
        auto alert =
            make<UIAlertView>(std::string("帐号失效请重新登录"), std::nullopt, nullptr, std::string("确定"));
        alert->show();
        QVNUserManager::shareObject()->logOut();
        showText(std::nullopt, 1.0);
    } else if (code == kResultAlreadyVoted) {
        showText(std::string("您已投票"), 1.0);
    } else {
        showText(std::string("投票失败"), 1.0);
    }
}

void ProductionGallery::alterAndGotoLogin() {
    auto alert = make<UIAlertView>(std::nullopt, std::string("请先登录"), selfAs<ProductionGallery>(),
                                   std::string("确定"));
    alert->show();
}

void ProductionGallery::alertViewClickedButtonAtIndex(const Ref<UIAlertView>&, long buttonIndex) {
    if (buttonIndex != 0) return;
    Ref<UIViewController> login =
        sceneOf(QVNAccountScreens::kStoryboard, std::string(QVNAccountScreens::kLoginIdentifier));
    Ref<UINavigationController> navigation = navigationController();
    if (login && navigation) navigation->pushViewController(login, true);
}

}  // namespace detail
