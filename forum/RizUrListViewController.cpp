#include "forum/RizUrListViewController.h"

#include "app/QVNTAAnalyticsHelper.h"
#include "controls/PullRefreshAutoNormalFooter.h"
#include "controls/PullRefreshNormalHeader.h"
#include "controls/UIScrollView+PullRefresh.h"
#include "forum/ForumResources.h"
#include "forum/ForumSupport.h"
#include "forum/QVNRizUrBrandCell.h"
#include "forum/QuestionDetailController.h"
#include "foundation/NSMainThreadCheck.h"
#include "foundation/NSNotificationCenter.h"
#include "graphics/UIColor.h"
#include "graphics/UIFont.h"
#include "sdk/analytics/collection/Tally.h"
#include "uikit/UIImageView.h"
#include "uikit/UIPanGestureRecognizer.h"
#include "uikit/UIScreen.h"
#include "uikit/UIStoryboard.h"
#include "uikit/UITapGestureRecognizer.h"

using namespace detail::forum;

namespace {

constexpr char kPageName[] = "RizUrListViewController";
constexpr char kAllBrands[] = "所有";
constexpr char kBrandTitle[] = "品牌";

long integerOf(const std::optional<NSNumber>& number) {
    return number ? number->integerValue() : 0;
}

}  // namespace

RizUrListViewController::RizUrListViewController() {
    showBrandTableView_ = false;
}

std::vector<Ref<QVNMyCarBrand>>& RizUrListViewController::carBrands() {
    if (!carBrandsMade_) {
        auto all = make<QVNMyCarBrand>();
        all->brand_id = NSNumber::numberWithInt(0);
        all->brand_name = std::string(kAllBrands);
        carBrands_.push_back(all);
        carBrandsMade_ = true;
    }
    return carBrands_;
}

const Ref<VHProgressHUD>& RizUrListViewController::hud() {
    if (!hud_) {
        hud_ = VHProgressHUD::showHUDAddedTo(view(), true);
        hud_->setMode(VHProgressHUDModeText);
    }
    return hud_;
}

// ---- set-up and showing ---------------------------------------------------------------------------

void RizUrListViewController::viewDidLoad() {
    UIViewController::viewDidLoad();
    setupBackgroundMaskView();
    page_ = 0;
    Weak<RizUrListViewController> weak = selfAs<RizUrListViewController>();
    QVNMyCarBrand::getCarBrandsCompletion(
        [weak](const std::optional<std::vector<Ref<QVNMyCarBrand>>>& brands, const Ref<NSError>& error) {
            auto self = weak.lock();
            if (!self || error || !brands) return;
            auto& list = self->carBrands();
            list.insert(list.end(), brands->begin(), brands->end());
        });
    if (Ref<UITableView> table = tableView.lock()) {
        UIScrollView_PullRefresh::setHeader(table, PullRefreshNormalHeader::headerWithRefreshingBlock([weak] {
                                                if (auto self = weak.lock()) self->firstPageRefresh();
                                            }));
        UIScrollView_PullRefresh::setFooter(table,
                                            PullRefreshAutoNormalFooter::footerWithRefreshingBlock([weak] {
                                                if (auto self = weak.lock()) self->nextPageLoad();
                                            }));
    }
}

void RizUrListViewController::viewWillAppear(bool animated) {
    QVNTAAnalyticsHelper::beginLogPageView(*this);
    if (Ref<UIView> frame = seachView.lock()) {
        frame->layer()->setBorderWidth(0.5);
        frame->layer()->setBorderColor(UIColor::grayColor()->CGColor());
        frame->layer()->setCornerRadius(5);
    }
    if (!OneView_) {
        if (Ref<UITableView> table = tableView.lock())
            if (auto header = UIScrollView_PullRefresh::header(*table)) header->beginRefreshing();
        OneView_ = true;
    }
    if (!observing_) {
        // One registration is enough: the handler only clears a flag.
        Weak<RizUrListViewController> weak = selfAs<RizUrListViewController>();
        NSNotificationCenter::defaultCenter()->addObserver(
            self(), "refreshView",
            [weak](const Ref<NSNotification>&) {
                if (auto self = weak.lock()) self->refreshView();
            },
            std::string("RefreshView"));
        observing_ = true;
    }
    UIViewController::viewWillAppear(animated);
    Tally::beginLogPageView(std::string(kPageName));
}

void RizUrListViewController::viewWillDisappear(bool animated) {
    QVNTAAnalyticsHelper::endLogPageView(*this);
    UIViewController::viewWillDisappear(animated);
    Tally::endLogPageView(std::string(kPageName));
}

void RizUrListViewController::refreshView() {
    OneView_ = false;
}

void RizUrListViewController::afterDelay(double seconds, std::function<void()> block) {
    detail::forum::afterDelay(seconds, std::move(block));
}

// ---- loading --------------------------------------------------------------------------------------

void RizUrListViewController::endHeaderRefreshing() {
    if (Ref<UITableView> table = tableView.lock())
        if (auto header = UIScrollView_PullRefresh::header(*table)) header->endRefreshing();
}

void RizUrListViewController::replaceRows(const QVNQuestion::List& rows) {
    questions_ = rows;
    questionFrames_.clear();
    for (const auto& question : rows) {
        auto frame = make<QVNRizUrFrame>();
        frame->setQuestion(question);
        questionFrames_.push_back(frame);
    }
    if (Ref<UITableView> table = tableView.lock()) {
        table->reloadData();
        if (auto footer = UIScrollView_PullRefresh::footer(*table)) footer->resetNoMoreData();
    }
}

void RizUrListViewController::firstPageRefresh() {
    Weak<RizUrListViewController> weak = selfAs<RizUrListViewController>();
    if (integerOf(brandId_) != 0) {
        QVNQuestion::getQuestionsWithKeyword(text_, 0, integerOf(brandId_),
                                             [weak](const auto& list, const Ref<NSError>& error) {
                                                 if (auto self = weak.lock()) self->searchResult(list, error);
                                             });
        searchKeyword_ = text_ && !text_->empty() ? text_ : std::nullopt;
    } else {
        QVNQuestion::getQuestionsWithKeyword(std::nullopt, 0, 0,
                                             [weak](const auto& list, const Ref<NSError>& error) {
                                                 if (auto self = weak.lock()) self->plainResult(list, error);
                                             });
        searchKeyword_.reset();
    }
}

void RizUrListViewController::plainResult(const std::optional<QVNQuestion::List>& list,
                                          const Ref<NSError>& error) {
    if (!error) {
        replaceRows(list.value_or(QVNQuestion::List{}));
        if (!list || list->empty()) showTextHUD(view(), "没有数据", 1.5);
    }
    endHeaderRefreshing();
}

void RizUrListViewController::searchResult(const std::optional<QVNQuestion::List>& list,
                                           const Ref<NSError>& error) {
    if (error) {
        if (isInvalidToken(error)) showInvalidTokenAlert(true);
    } else if (!list || list->empty()) {
        const CGRect bounds = view()->bounds();
        questionLab_ =
            make<UILabel>(CGRectMake((bounds.size.width - 150) * 0.5, bounds.size.height - 120, 150, 40));
        questionLab_->setText(std::string("暂无品牌信息"));
        questionLab_->setTextColor(UIColor::whiteColor());
        questionLab_->setTextAlignment(NSTextAlignmentCenter);
        questionLab_->setFont(UIFont::systemFontOfSize(13));
        questionLab_->setBackgroundColor(UIColor::grayColor());
        questionLab_->layer()->setCornerRadius(20);
        questionLab_->setClipsToBounds(true);
        view()->addSubview(questionLab_);
        Weak<RizUrListViewController> weak = selfAs<RizUrListViewController>();
        afterDelay(0, [weak] {
            if (auto self = weak.lock()) self->letTheLabDismiss();
        });
    } else {
        replaceRows(*list);
        if (integerOf(brandId_) != 0 || searchKeyword_)
            page_ = questions_.size() > 9 ? static_cast<long>(questions_.size()) / 10 : 0;
    }
    endHeaderRefreshing();
}

void RizUrListViewController::letTheLabDismiss() {
    brandId_.reset();
    // The filter is gone, so the button says so too.
    if (Ref<UIButton> button = brandButton.lock())
        button->setTitle(std::string(kBrandTitle), UIControlStateNormal);
    if (Ref<UITableView> table = tableView.lock())
        if (auto header = UIScrollView_PullRefresh::header(*table)) header->beginRefreshing();
    Weak<RizUrListViewController> weak = selfAs<RizUrListViewController>();
    afterDelay(2.5, [weak] {
        if (auto self = weak.lock()) self->LetTheLabDismiss();
    });
}

void RizUrListViewController::LetTheLabDismiss() {
    if (!questionLab_) return;
    questionLab_->setHidden(true);
    questionLab_->removeFromSuperview();
}

void RizUrListViewController::nextPageLoad() {
    Ref<UITableView> table = tableView.lock();
    auto footer = table ? UIScrollView_PullRefresh::footer(*table) : nullptr;
    long brand = integerOf(brandId_);
    std::optional<std::string> keyword = brand != 0 ? text_ : searchKeyword_;
    bool search = brand != 0 || (keyword && !keyword->empty());
    if (!search && questions_.empty()) {
        // Nothing to page after: stop at once instead of spinning for ever.
        if (footer) footer->endRefreshingWithNoMoreData();
        return;
    }
    if (search && page_ == 0) {
        // A short search page was the last one: asking for page 0 would only repeat the first.
        if (footer) footer->endRefreshingWithNoMoreData();
        return;
    }
    Weak<RizUrListViewController> weak = selfAs<RizUrListViewController>();
    QVNQuestion::getMoreQuestionsWithQuestion(
        questions_.empty() ? nullptr : questions_.back(),
        [weak, search](const std::optional<QVNQuestion::List>& list, const Ref<NSError>& error) {
            auto self = weak.lock();
            if (!self) return;
            Ref<UITableView> table = self->tableView.lock();
            auto footer = table ? UIScrollView_PullRefresh::footer(*table) : nullptr;
            if (error || !list || list->empty()) {
                if (footer) footer->endRefreshingWithNoMoreData();
                return;
            }
            for (const auto& question : *list) {
                self->questions_.push_back(question);
                auto frame = make<QVNRizUrFrame>();
                frame->setQuestion(question);
                self->questionFrames_.push_back(frame);
            }
            if (table) table->reloadData();
            if (footer) footer->endRefreshing();
            if (search) self->page_ = self->questions_.size() > 9 ? self->page_ + 1 : 0;
        },
        keyword, page_, brand);
}

// ---- keyword ----------------------------------------------------------------------------------------

void RizUrListViewController::textFieldDidEndEditing(UITextField& textField) {
    text_ = textField.text();
}

std::optional<bool> RizUrListViewController::textFieldShouldReturn(UITextField& textField) {
    text_ = textField.text();
    if (!brandId_) brandId_ = NSNumber::numberWithInt(0);
    std::optional<std::string> keyword = textField.text();
    Weak<RizUrListViewController> weak = selfAs<RizUrListViewController>();
    QVNQuestion::getQuestionsWithKeyword(
        keyword, 0, integerOf(brandId_),
        [weak, keyword](const std::optional<QVNQuestion::List>& list, const Ref<NSError>& error) {
            auto self = weak.lock();
            if (!self) return;
            if (!error) {
                if (list && !list->empty()) {
                    self->searchKeyword_ = keyword && !keyword->empty() ? keyword : std::nullopt;
                    self->replaceRows(*list);
                    if (self->searchKeyword_ || integerOf(self->brandId_) != 0)
                        self->page_ = list->size() > 9 ? static_cast<long>(list->size()) / 10 : 0;
                } else {
                    self->brandId_ = NSNumber::numberWithInt(0);
                    showTextHUD(self->view(), "没有数据", 1.0);
                    self->afterDelay(1.0, [weak] {
                        auto self = weak.lock();
                        Ref<UITableView> table = self ? self->tableView.lock() : nullptr;
                        if (table)
                            if (auto header = UIScrollView_PullRefresh::header(*table))
                                header->beginRefreshing();
                    });
                }
            }
            self->endHeaderRefreshing();
        });
    textbool_ = textField.text();
    textField.resignFirstResponder();
    return true;
}

void RizUrListViewController::scrollViewDidScroll(UIScrollView&) {
    if (isViewLoaded()) view()->endEditing(true);
}

// ---- the brand list -----------------------------------------------------------------------------------

void RizUrListViewController::setupBackgroundMaskView() {
    if (backgroundMaskView_) return;
    Ref<UIView> top = topView.lock();
    CGFloat y = top ? CGRectGetMaxY(top->frame()) : 0;
    CGRect screen = UIScreen::mainScreen()->bounds();
    backgroundMaskView_ = make<UIView>(CGRectMake(0, y, screen.size.width, screen.size.height - y));
    backgroundMaskView_->setBackgroundColor(UIColor::colorWithWhite(0.5, 0.5));
    Weak<RizUrListViewController> weak = selfAs<RizUrListViewController>();
    auto close = [weak](const Ref<UIGestureRecognizer>&) {
        if (auto self = weak.lock()) self->backgroundMaskViewTapped();
    };
    backgroundMaskView_->addGestureRecognizer(make<UITapGestureRecognizer>(self(), close));
    backgroundMaskView_->addGestureRecognizer(make<UIPanGestureRecognizer>(self(), close));
    view()->addSubview(backgroundMaskView_);
    backgroundMaskView_->setHidden(true);
}

void RizUrListViewController::backgroundMaskViewTapped() {
    view()->endEditing(true);
    if (brandTableView_) brandTableView_->removeFromSuperview();
    showBrandTableView_ = false;
    if (Ref<UIButton> button = brandButton.lock()) {
        button->setEnabled(true);
        button->setSelected(false);
    }
    if (brandTableView_) brandTableView_->setHidden(true);
    if (backgroundMaskView_) backgroundMaskView_->setHidden(true);
}

void RizUrListViewController::buttonClick(const Ref<NSObject>&) {
    NS_ASSERT_MAIN_THREAD();
    if (backgroundMaskView_) backgroundMaskView_->setHidden(false);
    showBrandTableView_ = !showBrandTableView_;
    view()->endEditing(true);
    if (!showBrandTableView_) {
        if (brandTableView_) brandTableView_->removeFromSuperview();
        if (backgroundMaskView_) backgroundMaskView_->setHidden(true);
        brandTableView_ = nullptr;
        return;
    }
    Ref<UIView> top = topView.lock();
    CGRect anchor = top ? top->frame() : CGRectZero;
    brandTableView_ = make<UITableView>(CGRectMake(anchor.origin.x, CGRectGetMaxY(anchor), 100, 200),
                                        UITableViewStylePlain);
    brandTableView_->setBackgroundView(make<UIImageView>(imageNamed("zixunpinpaikuang")));
    brandTableView_->setBackgroundColor(UIColor::clearColor());
    brandTableView_->setSeparatorStyle(UITableViewCellSeparatorStyleNone);
    brandTableView_->setDataSource(selfAs<RizUrListViewController>());
    brandTableView_->setDelegate(selfAs<RizUrListViewController>());
    view()->addSubview(brandTableView_);
    brandTableView_->setHidden(false);
    brandTableView_->registerNib(QVNRizUrBrandCell::nib(), kBrandCellIdentifier);
    brandTableView_->reloadData();
}

void RizUrListViewController::chooseBrand(long row) {
    showBrandTableView_ = false;
    Weak<RizUrListViewController> weak = selfAs<RizUrListViewController>();
    afterDelay(0.15, [weak, row] {
        auto self = weak.lock();
        if (!self || row < 0 || row >= static_cast<long>(self->carBrands().size())) return;
        Ref<QVNMyCarBrand> brand = self->carBrands()[row];
        if (brand->brand_name == std::optional<std::string>(kAllBrands))
            brand->brand_name = std::string(kBrandTitle);
        if (Ref<UIButton> button = self->brandButton.lock())
            button->setTitle(brand->brand_name, UIControlStateNormal);
        self->brandId_ = brand->brand_id;
        if (self->brandTableView_) self->brandTableView_->removeFromSuperview();
        if (self->backgroundMaskView_) self->backgroundMaskView_->setHidden(true);
        if (Ref<UITableView> table = self->tableView.lock())
            if (auto header = UIScrollView_PullRefresh::header(*table)) header->beginRefreshing();
    });
}

// ---- tables ------------------------------------------------------------------------------------------

long RizUrListViewController::tableViewNumberOfRowsInSection(UITableView& table, long) {
    return isBrandTable(table) ? static_cast<long>(carBrands().size()) : static_cast<long>(questions_.size());
}

Ref<UITableViewCell>
RizUrListViewController::tableViewCellForRowAtIndexPath(UITableView& table,
                                                        const Ref<NSIndexPath>& indexPath) {
    if (isBrandTable(table)) {
        auto cell = std::dynamic_pointer_cast<QVNRizUrBrandCell>(
            table.dequeueReusableCellWithIdentifier(kBrandCellIdentifier, indexPath));
        if (cell && indexPath->row() < static_cast<long>(carBrands().size()))
            cell->setCarBrand(carBrands()[indexPath->row()]);
        return cell;
    }
    auto cell = std::dynamic_pointer_cast<QVNRizUrCell>(table.cellForRowAtIndexPath(indexPath));
    if (!cell)
        cell =
            std::dynamic_pointer_cast<QVNRizUrCell>(table.dequeueReusableCellWithIdentifier(kCellIdentifier));
    if (!cell) {
        cell = make<QVNRizUrCell>(UITableViewCellStyleDefault, std::string(kCellIdentifier));
        cell->setSelectionStyle(UITableViewCellSelectionStyleNone);
    }
    configureCell(cell, indexPath);
    return cell;
}

void RizUrListViewController::configureCell(const Ref<QVNRizUrCell>& cell,
                                            const Ref<NSIndexPath>& indexPath) {
    long row = indexPath->row();
    if (row < 0 || row >= static_cast<long>(questionFrames_.size())) return;
    cell->setRizurFrame(questionFrames_[row]);
    Weak<RizUrListViewController> weak = selfAs<RizUrListViewController>();
    auto questionAt = [weak](const Ref<QVNRizUrCell>& cell) -> Ref<QVNQuestion> {
        auto self = weak.lock();
        Ref<UITableView> table = self ? self->tableView.lock() : nullptr;
        if (!table) return nullptr;
        Ref<NSIndexPath> path = table->indexPathForCell(cell);
        if (!path || path->row() >= static_cast<long>(self->questions_.size())) return nullptr;
        return self->questions_[path->row()];
    };
    cell->likeBlock = [weak, questionAt](const Ref<QVNRizUrCell>& cell) {
        auto self = weak.lock();
        if (auto question = questionAt(cell); self && question)
            self->handleclickQuestionLikeBtnWithQuestion(question);
    };
    Ref<QVNQuestion> configured = questions_[row];
    Weak<QVNQuestion> weakQuestion = configured;
    cell->replyBlock = [weak, weakQuestion](const Ref<QVNRizUrCell>&) {
        auto self = weak.lock();
        if (auto question = weakQuestion.lock(); self && question) self->openQuestion(question);
    };
    cell->tapUserImageBlock = [weak, questionAt](const Ref<QVNRizUrCell>& cell) {
        auto self = weak.lock();
        auto question = questionAt(cell);
        if (self && question) pushProfile(self->navigationController(), question->uid);
    };
}

std::optional<CGFloat>
RizUrListViewController::tableViewHeightForRowAtIndexPath(UITableView& table,
                                                          const Ref<NSIndexPath>& indexPath) {
    if (isBrandTable(table)) return 44;
    long row = indexPath->row();
    if (row < 0 || row >= static_cast<long>(questionFrames_.size())) return 0;
    return questionFrames_[row]->cellHeight;
}

void RizUrListViewController::tableViewDidSelectRowAtIndexPath(UITableView& table,
                                                               const Ref<NSIndexPath>& indexPath) {
    if (isBrandTable(table)) {
        chooseBrand(indexPath->row());
        return;
    }
    if (indexPath->row() < static_cast<long>(questions_.size())) openQuestion(questions_[indexPath->row()]);
}

void RizUrListViewController::openQuestion(const Ref<QVNQuestion>& question) {
    Ref<UIStoryboard> board =
        storyboard() ? storyboard() : UIStoryboard::storyboardWithName(kStoryboard, nullptr);
    auto detail =
        board ? std::dynamic_pointer_cast<QuestionDetailController>(
                    board->instantiateViewControllerWithIdentifier(QuestionDetailController::kIdentifier))
              : nullptr;
    if (!detail || !navigationController()) return;
    detail->setQuestionId(question->question_id);
    navigationController()->pushViewController(detail, true);
}

long RizUrListViewController::rowOf(const Ref<QVNQuestion>& question) const {
    for (std::size_t i = 0; i < questions_.size(); ++i)
        if (questions_[i] == question) return static_cast<long>(i);
    return -1;
}

void RizUrListViewController::handleclickQuestionLikeBtnWithQuestion(const Ref<QVNQuestion>& question) {
    if (!currentUser()) {
        pushLogin(navigationController(), false);
        return;
    }
    Weak<RizUrListViewController> weak = selfAs<RizUrListViewController>();
    Weak<QVNQuestion> weakQuestion = question;
    auto reloadRow = [weak, weakQuestion] {
        auto self = weak.lock();
        auto question = weakQuestion.lock();
        Ref<UITableView> table = self ? self->tableView.lock() : nullptr;
        long row = self && question ? self->rowOf(question) : -1;
        if (table && row >= 0)
            table->reloadRowsAtIndexPaths({NSIndexPath::indexPathForRow(row, 0)},
                                          UITableViewRowAnimationNone);
    };
    question->likeQuestion(reloadRow);
    reloadRow();
}

void RizUrListViewController::submitQuestion(const Ref<NSObject>&) {
    if (!currentUser()) {
        pushLogin(navigationController(), true);
        return;
    }
    Ref<UIStoryboard> board =
        storyboard() ? storyboard() : UIStoryboard::storyboardWithName(kStoryboard, nullptr);
    Ref<UIViewController> publish =
        board ? board->instantiateViewControllerWithIdentifier("PublishQuestionViewController") : nullptr;
    if (publish && navigationController()) navigationController()->pushViewController(publish, true);
}
