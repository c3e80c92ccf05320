#include "information/NewsListViewController.h"

#include <mutex>

#include "app/QVNBrandCell.h"
#include "app/UIColor+Extensions.h"
#include "app/WebViewController.h"
#include "controls/PullRefreshAutoNormalFooter.h"
#include "controls/PullRefreshNormalHeader.h"
#include "controls/UIScrollView+PullRefresh.h"
#include "controls/VHProgressHUD.h"
#include "dispatch/Dispatch.h"
#include "foundation/NSLog.h"
#include "foundation/NSMainThreadCheck.h"
#include "foundation/NSRunLoop.h"
#include "foundation/NSString.h"
#include "foundation/NSURL.h"
#include "graphics/UIFont.h"
#include "images/UIImageView+WebCache.h"
#include "information/InformationScreens.h"
#include "uikit/UIAlertView.h"
#include "uikit/UIImageView.h"
#include "uikit/UIPanGestureRecognizer.h"
#include "uikit/UIScreen.h"
#include "uikit/UIStoryboard.h"
#include "uikit/UIStoryboardSegue.h"
#include "uikit/UITapGestureRecognizer.h"

namespace {

// The carousel is this share of the page's width high; the car page's filter bar is below it.
constexpr double kCarouselShare = 0.3515625;
constexpr CGFloat kFilterBarHeight = 36.0;
constexpr CGFloat kBrandListWidth = 100, kCarListWidth = 200, kPickListHeight = 200;
constexpr char kBrandsFailedTitle[] = "品牌获取失败";
constexpr char kOKTitle[] = "确定";
constexpr char kSearchPlaceholder[] = "搜索";

Ref<NewsListViewController> ownerOf(const Ref<NSObject>& owner) {
    return std::dynamic_pointer_cast<NewsListViewController>(owner);
}

// The carousel with its page control, as both header nibs lay it out.
Ref<UIScrollView> addCarousel(const Ref<UIView>& header, CGFloat width, CGFloat height,
                              const Ref<NewsListViewController>& owner) {
    auto carousel = make<UIScrollView>(CGRectMake(0, 0, width, height));
    carousel->setBackgroundColor(UIColor::colorWithWhite(0.93, 1));
    header->addSubview(carousel);
    auto dots = make<UIPageControl>(CGRectMake(0, height - 20, width, 20));
    dots->setCurrentPageIndicatorTintColor(UIColor_Extensions::QVNRedColor());
    dots->setPageIndicatorTintColor(UIColor::colorWithWhite(1, 0.8));
    dots->setUserInteractionEnabled(false);
    header->addSubview(dots);
    if (owner) {
        carousel->setDelegate(owner);
        owner->scrollView = carousel;
        owner->pageControl = dots;
    }
    return carousel;
}

Ref<UIButton> filterButton(CGRect frame, const std::string& title) {
    auto button = UIButton::buttonWithType(UIButtonTypeCustom);
    button->setFrame(frame);
    button->setTitle(title, UIControlStateNormal);
    button->setTitleColor(UIColor_Extensions::QVNBlackColor(), UIControlStateNormal);
    button->setTitleColor(UIColor_Extensions::QVNDeepAccentColor(), UIControlStateSelected);
    button->setTitleColor(UIColor::lightGrayColor(), UIControlStateDisabled);
    button->titleLabel()->setFont(UIFont::systemFontOfSize(14));
    return button;
}

// The two header nibs. Sizes follow the screen the nib is loaded on, as the header's
// constraints would.
void registerHeaderNibs() {
    static std::once_flag once;
    std::call_once(once, [] {
        UINib::registerNib(
            NewsListViewController::kHeaderNibName, [](const Ref<NSObject>& owner, const Dictionary&) {
                auto screen = ownerOf(owner);
                const CGFloat W = UIScreen::mainScreen()->bounds().size.width;
                const CGFloat H = W * kCarouselShare;
                auto header = make<UIView>(CGRectMake(0, 0, W, H + kFilterBarHeight));
                header->setBackgroundColor(UIColor::whiteColor());
                addCarousel(header, W, H, screen);
                auto bar = make<UIView>(CGRectMake(0, H, W, kFilterBarHeight));
                bar->setBackgroundColor(UIColor::colorWithWhite(0.96, 1));
                header->addSubview(bar);
                auto brand = filterButton(CGRectMake(0, H, kBrandListWidth, kFilterBarHeight),
                                          NewsListViewController::kAllBrandsTitle);
                header->addSubview(brand);
                auto car = filterButton(CGRectMake(kBrandListWidth, H, kBrandListWidth, kFilterBarHeight),
                                        NewsListViewController::kCarTitle);
                header->addSubview(car);
                const CGFloat fieldX = 2 * kBrandListWidth + 8;
                auto field =
                    make<UITextField>(CGRectMake(fieldX, H + 4, std::max<CGFloat>(W - fieldX - 8, 40), 28));
                field->setPlaceholder(std::string(kSearchPlaceholder));
                field->setBorderStyle(UITextBorderStyleRoundedRect);
                field->setFont(UIFont::systemFontOfSize(14));
                field->setReturnKeyType(UIReturnKeySearch);
                header->addSubview(field);
                if (screen) {
                    Weak<NewsListViewController> weak = screen;
                    brand->addTarget(
                        screen,
                        [weak](const Ref<NSObject>& sender, const Ref<UIEvent>&) {
                            if (auto self = weak.lock()) self->selectBrand(sender);
                        },
                        "selectBrand:", UIControlEventTouchUpInside);
                    car->addTarget(
                        screen,
                        [weak](const Ref<NSObject>& sender, const Ref<UIEvent>&) {
                            if (auto self = weak.lock()) self->selectCar(sender);
                        },
                        "selectCar:", UIControlEventTouchUpInside);
                    field->setDelegate(screen);
                    screen->brandButton = brand;
                    screen->carModelButton = car;
                    screen->textField = field;
                }
                return std::vector<Ref<NSObject>>{header};
            });
        UINib::registerNib(NewsListViewController::kBrandHeaderNibName,
                           [](const Ref<NSObject>& owner, const Dictionary&) {
                               const CGFloat W = UIScreen::mainScreen()->bounds().size.width;
                               const CGFloat H = W * kCarouselShare;
                               auto header = make<UIView>(CGRectMake(0, 0, W, H));
                               addCarousel(header, W, H, ownerOf(owner));
                               return std::vector<Ref<NSObject>>{header};
                           });
    });
}

void endRefreshing(const Weak<PullRefreshComponent>& control) {
    if (auto strong = control.lock()) strong->endRefreshing();
}

}  // namespace

NewsListViewController::~NewsListViewController() {
    if (timer_) timer_->invalidate();
}

void NewsListViewController::registerScene() {
    registerHeaderNibs();
    UIStoryboard::registerScene(
        InformationScreens::kInformationStoryboard, InformationScreens::kNewsListIdentifier,
        [](UIStoryboard&) -> Ref<UIViewController> {
            auto list = make<NewsListViewController>();
            list->declareSegue(kShowDetailSegue, UIStoryboardSegueKind::Show,
                               InformationScreens::kNewsDetailIdentifier,
                               std::string(InformationScreens::kInformationStoryboard));
            UIStoryboardSegueDeclaration advertisement;
            advertisement.identifier = kShowAdvertisementSegue;
            advertisement.kind = UIStoryboardSegueKind::Show;
            advertisement.destinationFactory = [] { return make<WebViewController>(); };
            list->declareSegue(std::move(advertisement));
            return list;
        });
}

// ---- lazily made parts ----------------------------------------------------------------------------

const Ref<UIView>& NewsListViewController::headerFromNib(Ref<UIView>& slot, const char* nibName) {
    if (slot) return slot;
    registerHeaderNibs();
    if (auto nib = UINib::nibWithNibName(nibName, nullptr)) {
        auto objects = nib->instantiateWithOwner(self());
        if (!objects.empty()) slot = std::dynamic_pointer_cast<UIView>(objects.front());
    }
    return slot;
}

const Ref<UIView>& NewsListViewController::carHeaderView() {
    return headerFromNib(carHeaderView_, kHeaderNibName);
}

const Ref<UIView>& NewsListViewController::brandHeaderView() {
    return headerFromNib(brandHeaderView_, kBrandHeaderNibName);
}

const Ref<QVNNewsCommunicator>& NewsListViewController::communicator() {
    if (!communicator_) communicator_ = make<QVNNewsCommunicator>();
    return communicator_;
}

// ---- the screen ---------------------------------------------------------------------------------

void NewsListViewController::viewDidLoad() {
    UITableViewController::viewDidLoad();
    Ref<UITableView> table = tableView();
    headVeiwheight_ = view()->bounds().size.width * kCarouselShare;

    Ref<UIView> header = category_ == 2 ? brandHeaderView() : carHeaderView();
    if (header) {
        CGRect frame = header->frame();
        frame.size.height = headVeiwheight_ + (category_ == 2 ? 0 : kFilterBarHeight);
        header->setFrame(frame);
        table->setTableHeaderView(header);
    }
    if (category_ != 2 && header) buildPickLists(header);
    if (category_ == 2) setupMainTableView();

    if (auto carousel = scrollView.lock()) {
        CGRect frame = carousel->frame();
        frame.size.width = table->frame().size.width;
        carousel->setFrame(frame);
    }
    fetchAdvertisementsFromAPI();
    if (auto car = carModelButton.lock()) car->setEnabled(false);
}

void NewsListViewController::buildPickLists(const Ref<UIView>& header) {
    Ref<UITableView> table = tableView();
    const CGRect screen = UIScreen::mainScreen()->bounds();
    const CGFloat below = CGRectGetMaxY(header->frame());
    const CGFloat left = header->frame().origin.x;

    Weak<NewsListViewController> weak = selfAs<NewsListViewController>();
    auto mask = make<UIView>(
        CGRectMake(0, below, screen.size.width, std::max<CGFloat>(screen.size.height - below, 0)));
    mask->setBackgroundColor(UIColor::colorWithWhite(0.5, 0.5));
    auto closeAll = [weak](const Ref<UIGestureRecognizer>&) {
        if (auto self = weak.lock()) self->backgroundMaskViewTapped();
    };
    auto tap = make<UITapGestureRecognizer>(self(), closeAll);
    tap->setDelegate(selfAs<NewsListViewController>());
    mask->addGestureRecognizer(tap);
    auto pan = make<UIPanGestureRecognizer>(self(), closeAll);
    pan->setDelegate(selfAs<NewsListViewController>());
    mask->addGestureRecognizer(pan);
    mask->setHidden(true);
    table->addSubview(mask);
    backgroundMaskView_ = mask;

    auto brands = make<QVNBrandTableView>(CGRectMake(left, below, kBrandListWidth, kPickListHeight));
    brands->setDelegate(selfAs<NewsListViewController>());
    brands->registerNib(QVNBrandCell::nib(), kBrandCellIdentifier);
    // Made visible: the first reset of the filters hides it.
    brands->setHidden(false);
    table->addSubview(brands);
    brandTableView_ = brands;

    auto cars =
        make<QVNCarTableView>(CGRectMake(left + kBrandListWidth, below, kCarListWidth, kPickListHeight));
    cars->setDelegate(selfAs<NewsListViewController>());
    cars->setHidden(true);
    table->addSubview(cars);
    carTableView_ = cars;
}

void NewsListViewController::viewWillAppear(bool animated) {
    UITableViewController::viewWillAppear(animated);
    addTimer();
}

void NewsListViewController::viewWillDisappear(bool animated) {
    UITableViewController::viewWillDisappear(animated);
    // Nothing turns the carousel of a page nobody sees.
    removeTimer();
}

bool NewsListViewController::onScreen() const {
    const auto state = appearanceState();
    return state == UIViewControllerAppearanceState::Appearing ||
           state == UIViewControllerAppearanceState::Appeared;
}

// ---- the list -----------------------------------------------------------------------------------

std::optional<NSNumber> NewsListViewController::lastNewsId() const {
    if (!dataProvider_ || dataProvider_->news().empty()) return std::nullopt;
    return dataProvider_->news().back()->news_id;
}

void NewsListViewController::ensureDataProvider() {
    if (dataProvider_) return;
    dataProvider_ = make<QVNNewsDataProvider>(
        tableView(), [](const Ref<QVNNewsCell>& cell, const Ref<QVNNews>& news) { cell->setNews(news); });
}

void NewsListViewController::setupMainTableView() {
    NS_ASSERT_MAIN_THREAD();
    Ref<UITableView> table = tableView();
    table->setRowHeight(QVNNewsCell::rowHeight());
    dataProvider_ = nullptr;
    ensureDataProvider();
    const unsigned long generation = ++listGeneration_;
    Weak<NewsListViewController> weak = selfAs<NewsListViewController>();

    Ref<PullRefreshNormalHeader> header = PullRefreshNormalHeader::headerWithRefreshingBlock([weak] {
        auto self = weak.lock();
        if (!self) return;
        const unsigned long asked = ++self->listGeneration_;
        Weak<PullRefreshComponent> control = UIScrollView_PullRefresh::header(*self->tableView());
        self->communicator()->getNewsForCategory(self->category_, std::nullopt,
                                                 [weak, asked, control](const NewsPage& news) {
                                                     auto self = weak.lock();
                                                     if (!self || self->listGeneration_ != asked)
                                                         return endRefreshing(control);
                                                     self->shownGeneration_ = asked;
                                                     self->configureHeaderOfMainTableViewForNews(news);
                                                     if (self->advertisements_.empty())
                                                         self->fetchAdvertisementsFromAPI();
                                                 });
    });
    UIScrollView_PullRefresh::setHeader(table, header);

    Ref<PullRefreshAutoNormalFooter> footer = PullRefreshAutoNormalFooter::footerWithRefreshingBlock([weak] {
        auto self = weak.lock();
        if (!self) return;
        const unsigned long asked = self->listGeneration_;
        Weak<PullRefreshComponent> control = UIScrollView_PullRefresh::footer(*self->tableView());
        if (self->shownGeneration_ != asked) return endRefreshing(control);
        self->communicator()->getNewsForCategory(self->category_, self->lastNewsId(),
                                                 [weak, asked, control](const NewsPage& news) {
                                                     auto self = weak.lock();
                                                     if (!self || self->listGeneration_ != asked)
                                                         return endRefreshing(control);
                                                     self->configureFooterOfMainTableViewForNews(news);
                                                 });
    });
    if (auto label = footer->stateLabel()) label->setHidden(true);
    UIScrollView_PullRefresh::setFooter(table, footer);

    communicator()->getNewsForCategory(category_, std::nullopt, [weak, generation](const NewsPage& news) {
        auto self = weak.lock();
        if (!self || self->listGeneration_ != generation) return;
        self->shownGeneration_ = generation;
        self->configureHeaderOfMainTableViewForNews(news);
    });
}

void NewsListViewController::configureHeaderOfMainTableViewForNews(const NewsPage& news) {
    Ref<UITableView> table = tableView();
    ensureDataProvider();
    dataProvider_->removeAllNews();
    if (news) {
        dataProvider_->addNews(*news);
        if (auto footer = UIScrollView_PullRefresh::footer(*table)) footer->resetNoMoreData();
    }
    table->reloadData();
    if (auto header = UIScrollView_PullRefresh::header(*table)) header->endRefreshing();
}

void NewsListViewController::configureFooterOfMainTableViewForNews(const NewsPage& news) {
    Ref<UITableView> table = tableView();
    auto footer = UIScrollView_PullRefresh::footer(*table);
    if (news && !news->empty()) {
        ensureDataProvider();
        dataProvider_->addNews(*news);
        table->reloadData();
        if (footer) footer->endRefreshing();
    } else if (footer) {
        footer->endRefreshingWithNoMoreData();
    }
}

void NewsListViewController::configureMainTableViewWithBrandId(const std::optional<NSNumber>& brandId,
                                                               const std::optional<NSNumber>& carId,
                                                               const std::optional<std::string>& keyword) {
    NS_ASSERT_MAIN_THREAD();
    Ref<UITableView> table = tableView();
    ensureDataProvider();
    const unsigned long generation = ++listGeneration_;
    Weak<NewsListViewController> weak = selfAs<NewsListViewController>();
    communicator()->getModifyNewsByNewsId(
        std::nullopt, brandId, carId, keyword, [weak, generation](const NewsPage& news) {
            auto self = weak.lock();
            if (!self || self->listGeneration_ != generation) return;
            self->shownGeneration_ = generation;
            self->dataProvider_->removeAllNews();
            if (news) {
                self->dataProvider_->addNews(*news);
            } else {
                Ref<VHProgressHUD> hud = VHProgressHUD::showHUDAddedTo(self->view(), true);
                hud->setMode(VHProgressHUDModeText);
                hud->setLabelText(std::string(kNoResultsText));
                dispatch_after(
                    dispatch_time(DISPATCH_TIME_NOW, static_cast<std::int64_t>(1.0 * NSEC_PER_SEC)),
                    dispatch_get_main_queue(), [weak, hud, generation] {
                        hud->hide(true);
                        auto self = weak.lock();
                        // Another filter picked meanwhile stays.
                        if (self && self->listGeneration_ == generation) self->setupMainTableView();
                    });
            }
            self->tableView()->reloadData();
        });

    // A filtered list is not pulled to refresh; its pages keep the filter.
    UIScrollView_PullRefresh::setHeader(table, nullptr);
    Ref<PullRefreshAutoNormalFooter> footer =
        PullRefreshAutoNormalFooter::footerWithRefreshingBlock([weak, brandId, carId, keyword] {
            auto self = weak.lock();
            if (!self) return;
            const unsigned long asked = self->listGeneration_;
            Weak<PullRefreshComponent> control = UIScrollView_PullRefresh::footer(*self->tableView());
            // Its first page is not in yet: a next page would follow the list being replaced.
            if (self->shownGeneration_ != asked) return endRefreshing(control);
            self->communicator()->getModifyNewsByNewsId(self->lastNewsId(), brandId, carId, keyword,
                                                        [weak, asked, control](const NewsPage& news) {
                                                            auto self = weak.lock();
                                                            if (!self || self->listGeneration_ != asked)
                                                                return endRefreshing(control);
                                                            self->configureFooterOfMainTableViewForNews(news);
                                                        });
        });
    UIScrollView_PullRefresh::setFooter(table, footer);
}

// ---- filters ------------------------------------------------------------------------------------

bool NewsListViewController::isAllBrands(const Ref<QVNBrand>& brand) const {
    return brand && brand == allBrands_;
}

void NewsListViewController::showMaskAndList(const Ref<UIView>& list) {
    Ref<UITableView> table = tableView();
    if (backgroundMaskView_) {
        backgroundMaskView_->setHidden(false);
        table->bringSubviewToFront(backgroundMaskView_);
    }
    if (list) {
        list->setHidden(false);
        table->bringSubviewToFront(list);
    }
}

void NewsListViewController::selectBrand(const Ref<NSObject>&) {
    NS_ASSERT_MAIN_THREAD();
    Ref<UITableView> table = tableView();
    if (brandTableView_) table->bringSubviewToFront(brandTableView_);
    if (carTableView_) table->bringSubviewToFront(carTableView_);
    if (auto car = carModelButton.lock()) car->setEnabled(false);
    Ref<UIButton> brand = brandButton.lock();
    if (brand) brand->setSelected(!brand->isSelected());

    if (brandsDataSource_ && brandsDataSource_->items().count() > 1) {
        if (brand && !brand->isSelected()) {
            backgroundMaskViewTapped();
            return;
        }
        if (brand)
            brand->setTitle(selectedBrand_ && selectedBrand_->brand_name ? *selectedBrand_->brand_name
                                                                         : std::string(kAllBrandsTitle),
                            UIControlStateSelected);
        showMaskAndList(brandTableView_);
        return;
    }

    showMaskAndList(brandTableView_);
    Weak<NewsListViewController> weak = selfAs<NewsListViewController>();
    QVNBrand::getBrandsAndCars([weak](const std::optional<Array>& brands) {
        auto self = weak.lock();
        if (!self) return;
        if (!brands) {
            make<UIAlertView>(std::string(kBrandsFailedTitle), std::nullopt, nullptr, std::string(kOKTitle))
                ->show();
            return;
        }
        auto all = make<QVNBrand>();
        all->brand_name = std::string(kAllBrandsTitle);
        all->cars = std::nullopt;
        Array items = Array::mutableArray(brands->count() + 1);
        items.addObject(Value(Ref<NSObject>(all)));
        items.addObjectsFromArray(*brands);
        self->allBrands_ = all;
        self->brandsDataSource_ = make<ArrayDataSource>(
            items, kBrandCellIdentifier, [](const Ref<UIView>& cell, const Value& item) {
                if (auto brandCell = std::dynamic_pointer_cast<QVNBrandCell>(cell))
                    brandCell->setBrand(item.objectAs<QVNBrand>());
            });
        if (self->brandTableView_) {
            self->brandTableView_->setDataSource(self->brandsDataSource_);
            self->brandsDataSource_->setTableView(self->brandTableView_);
            self->brandTableView_->reloadData();
        }
    });
}

void NewsListViewController::selectCar(const Ref<NSObject>&) {
    NS_ASSERT_MAIN_THREAD();
    if (auto brand = brandButton.lock()) brand->setEnabled(false);
    Ref<UIButton> car = carModelButton.lock();
    if (car) car->setSelected(!car->isSelected());
    if (car && car->isSelected()) {
        car->setTitle(selectedCar_ && selectedCar_->cars_name ? *selectedCar_->cars_name
                                                              : std::string(kCarTitle),
                      UIControlStateSelected);
        showMaskAndList(carTableView_);
        if (carTableView_) carTableView_->reloadData();
    } else {
        backgroundMaskViewTapped();
    }
}

void NewsListViewController::backgroundMaskViewTapped() {
    NS_ASSERT_MAIN_THREAD();
    if (isViewLoaded()) view()->endEditing(true);
    if (auto brand = brandButton.lock()) {
        brand->setEnabled(true);
        brand->setSelected(false);
    }
    Ref<UIButton> car = carModelButton.lock();
    if (car) car->setSelected(false);
    if (carTableView_) carTableView_->setHidden(true);
    if (brandTableView_) brandTableView_->setHidden(true);
    if (backgroundMaskView_) backgroundMaskView_->setHidden(true);
    if (car && selectedBrand_ && !isAllBrands(selectedBrand_)) car->setEnabled(true);
}

void NewsListViewController::resetSubViews() {
    backgroundMaskViewTapped();
    if (auto brand = brandButton.lock()) brand->setTitle(std::string(kAllBrandsTitle), UIControlStateNormal);
    if (auto car = carModelButton.lock()) {
        car->setEnabled(false);
        car->setTitle(std::string(kCarTitle), UIControlStateNormal);
    }
    selectedCar_ = nullptr;
    selectedBrand_ = nullptr;
    if (auto field = textField.lock()) field->setText(std::string());
}

void NewsListViewController::refreshNewsLists() {
    NS_ASSERT_MAIN_THREAD();
    // The tab may ask before anything showed the page.
    (void)view();
    resetSubViews();
    setupMainTableView();
}

void NewsListViewController::resetCarModelButton() {
    if (auto car = carModelButton.lock()) {
        car->setEnabled(true);
        car->setTitle(std::string(kCarTitle), UIControlStateNormal);
    }
}

void NewsListViewController::tableViewDidSelectRowAtIndexPath(UITableView& table,
                                                              const Ref<NSIndexPath>& indexPath) {
    NS_ASSERT_MAIN_THREAD();
    if (brandTableView_ && &table == brandTableView_.get()) {
        auto brand =
            brandsDataSource_ ? brandsDataSource_->itemAtIndexPath(indexPath).objectAs<QVNBrand>() : nullptr;
        if (!brand) return;
        selectedCar_ = nullptr;
        selectedBrand_ = brand;
        if (carTableView_) carTableView_->setCars(brand->cars);
        if (auto button = brandButton.lock()) button->setTitle(brand->brand_name, UIControlStateNormal);
        backgroundMaskViewTapped();
        resetCarModelButton();
        if (isAllBrands(brand))
            refreshNewsLists();
        else
            configureMainTableViewWithBrandId(brand->brand_id, std::nullopt, std::nullopt);
        if (auto field = textField.lock()) field->setText(std::string());
        return;
    }
    if (carTableView_ && &table == carTableView_.get()) {
        auto cars = selectedBrand_ ? selectedBrand_->carList() : std::vector<Ref<QVNCatalogueCar>>{};
        const long row = indexPath ? indexPath->row() : -1;
        if (row < 0 || row >= static_cast<long>(cars.size())) return;
        selectedCar_ = cars[row];
        if (auto button = carModelButton.lock())
            button->setTitle(selectedCar_->cars_name, UIControlStateNormal);
        backgroundMaskViewTapped();
        configureMainTableViewWithBrandId(std::nullopt, selectedCar_->cars_id, std::nullopt);
        if (auto field = textField.lock()) field->setText(std::string());
        return;
    }
    table.deselectRowAtIndexPath(indexPath, true);
    if (dataProvider_ && dataProvider_->newsForIndexPath(indexPath))
        performSegueWithIdentifier(kShowDetailSegue, indexPath);
}

std::optional<bool> NewsListViewController::textFieldShouldReturn(UITextField& field) {
    std::optional<NSNumber> brandId;
    if (selectedBrand_ && !isAllBrands(selectedBrand_)) brandId = selectedBrand_->brand_id;
    std::optional<NSNumber> carId;
    if (selectedCar_) carId = selectedCar_->cars_id;
    configureMainTableViewWithBrandId(brandId, carId, field.text());
    view()->endEditing(true);
    if (backgroundMaskView_) backgroundMaskView_->setHidden(true);
    return true;
}

void NewsListViewController::textFieldDidBeginEditing(UITextField&) {
    if (!backgroundMaskView_) return;
    if (!backgroundMaskView_->isHidden()) {
        backgroundMaskViewTapped();
    } else {
        // A tap on the mask ends the editing.
        showMaskAndList(nullptr);
    }
}

// ---- the carousel -------------------------------------------------------------------------------

void NewsListViewController::fetchAdvertisementsFromAPI() {
    Weak<NewsListViewController> weak = selfAs<NewsListViewController>();
    communicator()->getAdvertisementsWithCompletion(
        [weak](const std::optional<std::vector<Ref<QVNAdvertisement>>>& advertisements) {
            auto self = weak.lock();
            if (!self || !advertisements) return;
            self->advertisements_ = *advertisements;
            self->setupTopScrollViewWithAdvertisements(self->advertisements_);
        });
}

void NewsListViewController::setupTopScrollViewWithAdvertisements(
    const std::vector<Ref<QVNAdvertisement>>& advertisements) {
    NS_ASSERT_MAIN_THREAD();
    Ref<UIScrollView> carousel = scrollView.lock();
    if (!carousel) return;
    for (const Ref<UIView>& old : adViews_) old->removeFromSuperview();
    adViews_.clear();

    const CGFloat W = carousel->frame().size.width;
    const CGFloat H = headVeiwheight_;
    Weak<NewsListViewController> weak = selfAs<NewsListViewController>();
    for (std::size_t i = 0; i < advertisements.size(); ++i) {
        const Ref<QVNAdvertisement>& ad = advertisements[i];
        auto picture = make<UIImageView>(CGRectMake(W * i, 0, W, H));
        // Server text: an address that does not parse leaves the placeholder.
        Ref<NSURL> url = ad && ad->ad_pic ? NSURL::URLWithString(*ad->ad_pic) : nullptr;
        UIImageView_WebCache::wi_setImageWithURL(picture, url, UIImage::imageNamed(kAdPlaceholderImageName));
        picture->setContentMode(UIViewContentModeScaleAspectFit);
        picture->setUserInteractionEnabled(true);
        carousel->addSubview(picture);
        adViews_.push_back(picture);

        auto button = UIButton::buttonWithType(UIButtonTypeCustom);
        button->setFrame(picture->bounds());
        button->setTag(kAdButtonTagBase + static_cast<long>(i));
        button->addTarget(
            self(),
            [weak](const Ref<NSObject>& sender, const Ref<UIEvent>&) {
                if (auto self = weak.lock()) self->jumpToAdDetailVC(sender);
            },
            "jumpToAdDetailVC:", UIControlEventTouchUpInside);
        button->setUserInteractionEnabled(ad && ad->ad_link && NSString::length(*ad->ad_link) >= 5);
        picture->addSubview(button);
    }
    carousel->setContentSize(CGSizeMake(W * advertisements.size(), 0));
    carousel->setShowsHorizontalScrollIndicator(false);
    carousel->setPagingEnabled(true);
    if (auto dots = pageControl.lock()) dots->setNumberOfPages(static_cast<long>(advertisements.size()));
    addTimer();
}

void NewsListViewController::addTimer() {
    // No entries, nothing to turn; off screen, nobody to turn it for.
    if (advertisements_.empty() || !onScreen()) return;
    removeTimer();
    timer_ = NSTimer::timerWithTimeInterval(kCarouselInterval, selfAs<NewsListViewController>(),
                                            &NewsListViewController::nextImage, Value(), true);
    // Common modes: it keeps turning while the list is scrolled.
    NSRunLoop::currentRunLoop()->addTimer(timer_, NSRunLoopCommonModes);
}

void NewsListViewController::removeTimer() {
    if (!timer_) return;
    timer_->invalidate();
    timer_ = nullptr;
}

void NewsListViewController::nextImage() {
    Ref<UIScrollView> carousel = scrollView.lock();
    Ref<UIPageControl> dots = pageControl.lock();
    const long pages = static_cast<long>(advertisements_.size());
    if (!carousel || !dots || pages == 0) return;
    const long current = dots->currentPage();
    const long next = current >= pages - 1 ? 0 : current + 1;
    carousel->setContentOffset(CGPointMake(next * carousel->frame().size.width, 0), true);
}

void NewsListViewController::scrollViewDidScroll(UIScrollView& scroll) {
    Ref<UIScrollView> carousel = scrollView.lock();
    if (!carousel || &scroll != carousel.get()) return;
    const CGFloat W = scroll.frame().size.width;
    if (W <= 0) return;
    if (auto dots = pageControl.lock())
        dots->setCurrentPage(static_cast<long>((scroll.contentOffset().x + W / 2) / W));
}

void NewsListViewController::scrollViewWillBeginDragging(UIScrollView& scroll) {
    Ref<UIScrollView> carousel = scrollView.lock();
    if (carousel && &scroll == carousel.get()) removeTimer();
}

void NewsListViewController::scrollViewDidEndDragging(UIScrollView& scroll, bool) {
    Ref<UIScrollView> carousel = scrollView.lock();
    if (carousel && &scroll == carousel.get()) addTimer();
}

void NewsListViewController::jumpToAdDetailVC(const Ref<NSObject>& sender) {
    NS_ASSERT_MAIN_THREAD();
    auto button = std::dynamic_pointer_cast<UIView>(sender);
    if (!button) return;
    const long index = button->tag() - kAdButtonTagBase;
    if (index < 0 || index >= static_cast<long>(advertisements_.size()) || !advertisements_[index]) return;
    adLink_ = advertisements_[index]->ad_link;
    // Server text: a link that makes no URL opens nothing.
    Ref<NSURL> url = adLink_ ? NSURL::URLWithString(*adLink_) : nullptr;
    if (!url) {
        NSLog("NewsListViewController: advertisement link \"%@\" is not an address", adLink_.value_or(""));
        return;
    }
    performSegueWithIdentifier(kShowAdvertisementSegue, url);
}

void NewsListViewController::prepareForSegue(const Ref<UIStoryboardSegue>& segue,
                                             const Ref<NSObject>& sender) {
    const auto& identifier = segue->identifier();
    if (identifier == std::optional<std::string>(kShowDetailSegue)) {
        auto detail = std::dynamic_pointer_cast<InformationScreens::NewsDetailHandOver>(
            segue->destinationViewController());
        if (!detail) return;
        detail->setTitleTextPass(category_ == 1 ? kCarDetailTitle : kBrandDetailTitle);
        auto indexPath = std::dynamic_pointer_cast<NSIndexPath>(sender);
        if (dataProvider_ && indexPath) detail->setNews(dataProvider_->newsForIndexPath(indexPath));
    } else if (identifier == std::optional<std::string>(kShowAdvertisementSegue)) {
        auto page = std::dynamic_pointer_cast<WebViewController>(segue->destinationViewController());
        if (page) page->setAdvertisementURL(std::dynamic_pointer_cast<NSURL>(sender));
    }
}
