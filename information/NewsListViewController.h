#pragma once
// One page of the information tab: an advertisement carousel over a paged list of news of one
// category (1 car information, 2 brand information). The tab makes two from
// "MyInformation"/"NewsListViewController" and sets the category before the view loads. The car
// page adds a filter bar (brand, car, keyword) with drop-down pick lists for brand and car; the
// car page's list first loads when the tab sends refreshNewsLists, the brand page's at once.
//
// Lists: the pull-down header reloads the first page (and the carousel while it has no entries);
// the load-more footer asks for the page after the last article. A filtered list has no pull-down
// header, and its footer keeps the filter; a filter that finds nothing shows "无搜索结果" for a
// second and goes back to the unfiltered list. Only the answer to the latest list asked for is
// shown: a late answer to an older one (an unfiltered page arriving after a filter was picked) is
// dropped, and load-more waits until the first page of the latest list is in.
//
// Carousel: one picture per entry, a tap opens the entry's link in the web page screen (links
// shorter than five characters take no taps, links that do not make a URL open nothing). While
// the page shows and has entries, a timer moves to the next entry every 2.0 s, wrapping from the
// last to the first; dragging the carousel pauses it. Without entries no timer runs; it stops when
// the page disappears and starts again when it appears.
//
// A row opens the article ("showDetail": the scene "MyInformation"/"NewsDetail" through
// InformationScreens::NewsDetailHandOver); while that scene is not registered nothing opens.
//
// Main thread only.

#include <optional>
#include <string>
#include <vector>

#include "app/ArrayDataSource.h"
#include "app/QVNBrand.h"
#include "app/QVNBrandTableView.h"
#include "app/QVNCarTableView.h"
#include "app/QVNCatalogueCar.h"
#include "foundation/NSTimer.h"
#include "information/QVNNewsCommunicator.h"
#include "information/QVNNewsDataProvider.h"
#include "uikit/UIButton.h"
#include "uikit/UIGestureRecognizer.h"
#include "uikit/UIPageControl.h"
#include "uikit/UIScrollView.h"
#include "uikit/UITableViewController.h"
#include "uikit/UITextField.h"

class NewsListViewController : public UITableViewController,
                               public UITextFieldDelegate,
                               public UIGestureRecognizerDelegate {
  public:
    std::string className() const override { return "NewsListViewController"; }
    ~NewsListViewController() override;

    // Registers the scene "MyInformation"/"NewsListViewController" with its segues.
    static void registerScene();

    static constexpr char kHeaderNibName[] = "NewListHeaderView";
    static constexpr char kBrandHeaderNibName[] = "NewListHeaderView2";
    static constexpr char kShowDetailSegue[] = "showDetail";
    static constexpr char kShowAdvertisementSegue[] = "showAdvertisement";
    static constexpr char kAllBrandsTitle[] = "所有";
    static constexpr char kCarTitle[] = "车型";
    static constexpr char kNoResultsText[] = "无搜索结果";
    static constexpr char kCarDetailTitle[] = "资讯详情";
    static constexpr char kBrandDetailTitle[] = "品牌详情";
    static constexpr char kBrandCellIdentifier[] = "brandCell";
    static constexpr char kAdPlaceholderImageName[] = "tupianlogo";
    static constexpr double kCarouselInterval = 2.0;
    static constexpr long kAdButtonTagBase = 100;

    // ---- state --------------------------------------------------------------------------------
    long category() const { return category_; }
    void setCategory(long category) { category_ = category; }

    // Outlets of the header nibs.
    Weak<UIPageControl> pageControl;
    Weak<UIScrollView> scrollView;
    Weak<UIButton> brandButton;
    Weak<UIButton> carModelButton;
    Weak<UITextField> textField;

    // Loaded on first use with this controller as owner.
    const Ref<UIView>& carHeaderView();
    const Ref<UIView>& brandHeaderView();
    const Ref<QVNNewsCommunicator>& communicator();
    const Ref<QVNNewsDataProvider>& dataProvider() const { return dataProvider_; }
    const Ref<UIView>& backgroundMaskView() const { return backgroundMaskView_; }
    const Ref<QVNBrandTableView>& brandTableView() const { return brandTableView_; }
    const Ref<QVNCarTableView>& carTableView() const { return carTableView_; }
    const Ref<QVNBrand>& selectedBrand() const { return selectedBrand_; }
    const Ref<QVNCatalogueCar>& selectedCar() const { return selectedCar_; }
    double headVeiwheight() const { return headVeiwheight_; }
    const std::vector<Ref<QVNAdvertisement>>& advertisements() const { return advertisements_; }
    const std::optional<std::string>& adLink() const { return adLink_; }
    // The running carousel timer, nullptr when none runs.
    const Ref<NSTimer>& timer() const { return timer_; }
    const Ref<ArrayDataSource>& brandsDataSource() const { return brandsDataSource_; }

    // ---- the screen ---------------------------------------------------------------------------
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;
    void prepareForSegue(const Ref<UIStoryboardSegue>& segue, const Ref<NSObject>& sender) override;

    // ---- actions and steps --------------------------------------------------------------------
    // Back to no filter, then the list again from the first page.
    void refreshNewsLists();
    void selectBrand(const Ref<NSObject>& sender);
    void selectCar(const Ref<NSObject>& sender);
    void setupMainTableView();
    void configureMainTableViewWithBrandId(const std::optional<NSNumber>& brandId,
                                           const std::optional<NSNumber>& carId,
                                           const std::optional<std::string>& keyword);
    void configureHeaderOfMainTableViewForNews(const std::optional<std::vector<Ref<QVNNews>>>& news);
    void configureFooterOfMainTableViewForNews(const std::optional<std::vector<Ref<QVNNews>>>& news);
    void fetchAdvertisementsFromAPI();
    void setupTopScrollViewWithAdvertisements(const std::vector<Ref<QVNAdvertisement>>& advertisements);
    void addTimer();
    void removeTimer();
    void nextImage();
    void backgroundMaskViewTapped();
    void resetSubViews();
    void resetCarModelButton();
    void jumpToAdDetailVC(const Ref<NSObject>& sender);

    // ---- table, text field, scroll view and gesture delegates ----------------------------------
    void tableViewDidSelectRowAtIndexPath(UITableView& tableView, const Ref<NSIndexPath>& indexPath) override;
    std::optional<bool> textFieldShouldReturn(UITextField& textField) override;
    void textFieldDidBeginEditing(UITextField& textField) override;
    void scrollViewDidScroll(UIScrollView& scrollView) override;
    void scrollViewWillBeginDragging(UIScrollView& scrollView) override;
    void scrollViewDidEndDragging(UIScrollView& scrollView, bool willDecelerate) override;
    std::optional<bool> gestureRecognizerShouldReceiveTouch(UIGestureRecognizer& recognizer,
                                                            const Ref<UITouch>& touch) override {
        return true;
    }

  private:
    using NewsPage = std::optional<std::vector<Ref<QVNNews>>>;
    const Ref<UIView>& headerFromNib(Ref<UIView>& slot, const char* nibName);
    void buildPickLists(const Ref<UIView>& header);
    void showMaskAndList(const Ref<UIView>& list);
    bool isAllBrands(const Ref<QVNBrand>& brand) const;
    bool onScreen() const;
    std::optional<NSNumber> lastNewsId() const;
    void ensureDataProvider();

    long category_ = 1;
    Ref<UIView> carHeaderView_;
    Ref<UIView> brandHeaderView_;
    Ref<QVNNewsCommunicator> communicator_;
    Ref<QVNNewsDataProvider> dataProvider_;
    Ref<UIView> backgroundMaskView_;
    Ref<QVNBrandTableView> brandTableView_;
    Ref<QVNCarTableView> carTableView_;
    Ref<QVNBrand> selectedBrand_;
    Ref<QVNCatalogueCar> selectedCar_;
    // The leading "所有" entry of the brand list.
    Ref<QVNBrand> allBrands_;
    double headVeiwheight_ = 0;
    std::vector<Ref<QVNAdvertisement>> advertisements_;
    std::vector<Ref<UIView>> adViews_;
    std::optional<std::string> adLink_;
    Ref<NSTimer> timer_;
    Ref<ArrayDataSource> brandsDataSource_;
    // Bumped by every new list (unfiltered or filtered): answers to an older one are dropped.
    unsigned long listGeneration_ = 0;
    // The list whose first page is shown; load-more waits for it.
    unsigned long shownGeneration_ = 0;
};
