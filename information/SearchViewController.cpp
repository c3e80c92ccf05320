#include "information/SearchViewController.h"

#include <algorithm>

#include "app/NSObject+RMKeyValue.h"
#include "app/QVNBaseURL.h"
#include "app/QVNQuestionScreens.h"
#include "app/QVNTAAnalyticsHelper.h"
#include "controls/PullRefreshAutoNormalFooter.h"
#include "controls/PullRefreshNormalHeader.h"
#include "controls/UIScrollView+PullRefresh.h"
#include "controls/VHProgressHUD.h"
#include "foundation/NSMainThreadCheck.h"
#include "graphics/UIColor.h"
#include "graphics/UIFont.h"
#include "information/ArticleArtwork.h"
#include "information/InformationScreens.h"
#include "information/VideoDetailViewController.h"
#include "net/HKHTTPRequestOperationManager.h"
#include "uikit/UINavigationController.h"
#include "uikit/UIStoryboard.h"

using detail::search::QuestionRow;

namespace {

constexpr char kSearchPath[] = "search/search.do";
constexpr CGFloat kRowHeight = 85;

// A scene of another storyboard, or nullptr when it is not there (its area is not in this build).
Ref<UIViewController> sceneOf(const std::string& storyboardName, const std::string& identifier) {
    if (!UIStoryboard::hasStoryboardNamed(storyboardName)) return nullptr;
    auto identifiers = UIStoryboard::sceneIdentifiers(storyboardName);
    if (std::find(identifiers.begin(), identifiers.end(), identifier) == identifiers.end()) return nullptr;
    Ref<UIStoryboard> storyboard = UIStoryboard::storyboardWithName(storyboardName, nullptr);
    return storyboard ? storyboard->instantiateViewControllerWithIdentifier(identifier) : nullptr;
}

void showTextHUD(const Ref<UIView>& view, const std::string& text) {
    if (!view) return;
    // A new HUD per message, gone from the view once hidden.
    Ref<VHProgressHUD> hud = VHProgressHUD::showHUDAddedTo(view, true);
    hud->setMode(VHProgressHUDModeText);
    hud->setLabelText(text);
    hud->setRemoveFromSuperViewOnHide(true);
    hud->hide(true, 1.0);
}

template <class T>
void appendRecords(Array& list, const Value& rows) {
    Value mapped = NSObject_RMKeyValue::objectArrayWithKeyValuesArray<T>(rows);
    if (const Array* records = mapped.array())
        for (const Value& record : *records)
            if (record.objectAs<T>()) list.addObject(record);
}

}  // namespace

Array& SearchViewController::resultList() {
    if (!resultList_) resultList_ = Array::mutableArray();
    return *resultList_;
}

std::string SearchViewController::fieldText() const {
    Ref<UITextField> field = searchField.lock();
    return field ? field->text() : std::string();
}

// ---- the screen -----------------------------------------------------------------------------------------

void SearchViewController::viewDidLoad() {
    UIViewController::viewDidLoad();
    if (Ref<UITextField> field = searchField.lock()) field->setDelegate(selfAs<SearchViewController>());
    if (Ref<UITableView> table = tableView.lock()) {
        table->setDelegate(selfAs<SearchViewController>());
        table->setDataSource(selfAs<SearchViewController>());
    }
}

void SearchViewController::viewWillAppear(bool animated) {
    UIViewController::viewWillAppear(animated);
    QVNTAAnalyticsHelper::beginLogPageView(*this);
    if (Ref<UITableView> table = tableView.lock()) {
        table->setDelegate(selfAs<SearchViewController>());
        table->setRowHeight(kRowHeight);
    }
}

void SearchViewController::viewWillDisappear(bool animated) {
    UIViewController::viewWillDisappear(animated);
    QVNTAAnalyticsHelper::endLogPageView(*this);
}

void SearchViewController::cancelBtnClick(const Ref<NSObject>&) {
    if (auto navigation = navigationController()) navigation->popViewControllerAnimated(true);
}

// ---- the type drop-down ---------------------------------------------------------------------------------

void SearchViewController::newsBtnClick(const Ref<NSObject>&) {
    Ref<UIButton> type = newsBtn.lock();
    if (!type) return;
    selectedBtn_ = type;
    type->setSelected(!type->isSelected());
    if (!type->isSelected()) {
        closeDropDown();
        return;
    }
    const CGRect anchor = type->frame();
    auto make = [&](long tag, const char* background, const char* title, CGFloat y) {
        auto button = UIButton::buttonWithType(UIButtonTypeCustom);
        button->setTag(tag);
        button->setBackgroundImage(detail::article::imageNamed(background), UIControlStateNormal);
        button->setTitle(std::string(title), UIControlStateNormal);
        button->setFrame(CGRectMake(anchor.origin.x + 10, y, 60, 32));
        button->titleLabel()->setFont(UIFont::systemFontOfSize(12));
        button->setTitleColor(UIColor::grayColor(), UIControlStateNormal);
        button->addTarget(selfAs<SearchViewController>(), &SearchViewController::btnClick,
                          "btnClick:", UIControlEventTouchUpInside);
        view()->addSubview(button);
        return button;
    };
    closeDropDown();
    const CGFloat bottom = CGRectGetMaxY(anchor);
    btn1_ = make(1, "shaixuantankuang1", kNewsTitle, bottom);
    btn2_ = make(2, "shaixuantankuang3", kQuestionTitle, bottom + 32);
}

void SearchViewController::closeDropDown() {
    if (btn1_) btn1_->removeFromSuperview();
    if (btn2_) btn2_->removeFromSuperview();
    btn1_ = nullptr;
    btn2_ = nullptr;
}

void SearchViewController::btnClick(const Ref<NSObject>& sender) {
    if (Ref<UITableView> table = tableView.lock()) table->reloadData();
    auto tapped = std::dynamic_pointer_cast<UIButton>(sender);
    Ref<UIButton> type = newsBtn.lock();
    if (type && tapped) {
        type->setTitle(tapped->titleForState(UIControlStateNormal), UIControlStateNormal);
        type->setTitleColor(UIColor::grayColor(), UIControlStateNormal);
    }
    closeDropDown();
    if (type) type->setSelected(false);
}

// ---- searching ------------------------------------------------------------------------------------------

std::optional<bool> SearchViewController::textFieldShouldReturn(UITextField&) {
    Ref<UIButton> typeButton = newsBtn.lock();
    std::optional<std::string> title =
        typeButton ? typeButton->titleForState(UIControlStateNormal) : std::nullopt;
    std::optional<long> type;
    if (title == std::optional<std::string>(kNewsTitle)) type = 1;
    if (title == std::optional<std::string>(kQuestionTitle)) type = 2;
    if (type) typeIndex_ = *type;
    // A new search pages from its own start.
    page_ = 0;
    resultList().removeAllObjects();
    loadSearchResultWith(type, fieldText(), 0);
    Ref<UITableView> table = tableView.lock();
    if (table) {
        table->reloadData();
        Weak<SearchViewController> weak = selfAs<SearchViewController>();
        UIScrollView_PullRefresh::setFooter(
            table, PullRefreshAutoNormalFooter::footerWithRefreshingBlock([weak, type] {
                auto self = weak.lock();
                if (!self) return;
                self->page_ += 1;
                self->loadSearchResultWith(type, self->fieldText(), self->page_);
            }));
        UIScrollView_PullRefresh::setHeader(table,
                                            PullRefreshNormalHeader::headerWithRefreshingBlock([weak, type] {
                                                auto self = weak.lock();
                                                if (!self) return;
                                                // The first page again: load-more goes on from it.
                                                self->page_ = 0;
                                                self->loadSearchResultWith(type, self->fieldText(), 0);
                                            }));
    }
    view()->endEditing(true);
    return true;
}

void SearchViewController::loadSearchResultWith(std::optional<long> type, const std::string& keyword,
                                                long page) {
    NS_ASSERT_MAIN_THREAD();
    if (page == 0) {
        ++searchSerial_;
        resultList().removeAllObjects();
        if (Ref<UITableView> table = tableView.lock()) table->reloadData();
    }
    const unsigned long serial = searchSerial_;
    Dictionary params = Dictionary::mutableDictionary();
    params.setObject("keyword", keyword);
    params.setObject("page", page);
    if (type == 2) {
        // The server's question search is its type 4, over every brand.
        params.setObject("cars_brand", 0);
        params.setObject("type", 4);
    } else if (type) {
        params.setObject("type", *type);
    }
    Weak<SearchViewController> weak = selfAs<SearchViewController>();
    auto failed = [weak, serial, page] {
        auto self = weak.lock();
        if (!self || serial != self->searchSerial_) return;
        showTextHUD(self->view(), "搜索失败");
        // The page is asked again by the next load-more instead of being skipped.
        if (page > 0 && page == self->page_) self->page_ -= 1;
        self->endRefreshing();
    };
    HKHTTPRequestOperationManager::manager()->GET(
        QVNBaseURL::sharedURL() + kSearchPath, Value(params),
        [weak, serial, type, failed](const Ref<HKHTTPRequestOperation>&, const Value& reply) {
            auto self = weak.lock();
            if (!self || serial != self->searchSerial_) return;
            const Dictionary* dict = reply.dictionary();
            if (!dict ||
                dict->objectForKey("errmsg").optionalString() != std::optional<std::string>("success"))
                return failed();
            const Value& rows = dict->objectForKey("data");
            if (type == 1) appendRecords<QVNNews>(self->resultList(), rows);
            if (type == 2) appendRecords<QuestionRow>(self->resultList(), rows);
            if (self->resultList().empty()) showTextHUD(self->view(), "没有数据");
            if (Ref<UITableView> table = self->tableView.lock()) table->reloadData();
            self->endRefreshing();
        },
        [failed](const Ref<HKHTTPRequestOperation>&, const Ref<NSError>&) { failed(); });
}

void SearchViewController::endRefreshing() {
    Ref<UITableView> table = tableView.lock();
    if (!table) return;
    if (auto header = UIScrollView_PullRefresh::header(*table)) header->endRefreshing();
    if (auto footer = UIScrollView_PullRefresh::footer(*table)) footer->endRefreshing();
}

// ---- the table ------------------------------------------------------------------------------------------

long SearchViewController::tableViewNumberOfRowsInSection(UITableView&, long) {
    return static_cast<long>(resultList().count());
}

Ref<UITableViewCell> SearchViewController::tableViewCellForRowAtIndexPath(UITableView& table,
                                                                          const Ref<NSIndexPath>& indexPath) {
    Ref<QVNSearchCell> cell = QVNSearchCell::cellWithTableView(table);
    if (!cell)
        return make<UITableViewCell>(UITableViewCellStyleDefault, std::string(QVNSearchCell::kIdentifier));
    const long row = indexPath->row();
    if (row < 0 || row >= static_cast<long>(resultList().count())) return cell;
    const Value& item = resultList()[row];
    if (typeIndex_ == 2) {
        if (auto question = item.objectAs<QuestionRow>()) cell->setQuestion(question);
    } else if (typeIndex_ == 1) {
        if (auto news = item.objectAs<QVNNews>()) cell->setResult(news);
    }
    return cell;
}

void SearchViewController::tableViewDidSelectRowAtIndexPath(UITableView&, const Ref<NSIndexPath>& indexPath) {
    if (typeIndex_ == 1)
        pushToNewsDetailViewWithIndexPath(indexPath);
    else if (typeIndex_ == 2)
        pushToQuestionDetailViewWithIndexPath(indexPath);
}

void SearchViewController::scrollViewWillBeginDragging(UIScrollView&) {
    view()->endEditing(true);
}

void SearchViewController::pushToNewsDetailViewWithIndexPath(const Ref<NSIndexPath>& indexPath) {
    const long row = indexPath ? indexPath->row() : -1;
    if (row < 0 || row >= static_cast<long>(resultList().count())) return;
    auto news = resultList()[row].objectAs<QVNNews>();
    Ref<UIViewController> detail =
        sceneOf(InformationScreens::kInformationStoryboard, InformationScreens::kNewsDetailIdentifier);
    Ref<UINavigationController> navigation = navigationController();
    if (!news || !detail || !navigation) return;
    if (auto handOver = std::dynamic_pointer_cast<InformationScreens::NewsDetailHandOver>(detail))
        handOver->setNews(news);
    navigation->pushViewController(detail, true);
}

void SearchViewController::pushToQuestionDetailViewWithIndexPath(const Ref<NSIndexPath>& indexPath) {
    const long row = indexPath ? indexPath->row() : -1;
    if (row < 0 || row >= static_cast<long>(resultList().count())) return;
    auto question = resultList()[row].objectAs<QuestionRow>();
    Ref<UIViewController> detail =
        sceneOf(QVNQuestionScreens::kStoryboard, QVNQuestionScreens::kQuestionDetailIdentifier);
    Ref<UINavigationController> navigation = navigationController();
    if (!question || !detail || !navigation) return;
    if (auto handOver = std::dynamic_pointer_cast<QVNQuestionScreens::QuestionDetailHandOver>(detail))
        handOver->setQuestionId(question->question_id);
    navigation->pushViewController(detail, true);
}

void SearchViewController::pushToDetailViewController() {
    Ref<UITableView> table = tableView.lock();
    Ref<NSIndexPath> selected = table ? table->indexPathForSelectedRow() : nullptr;
    const long row = selected ? selected->row() : -1;
    if (row < 0 || row >= static_cast<long>(resultList().count())) return;
    auto video = resultList()[row].objectAs<QVNVideo>();
    Ref<UIStoryboard> own = storyboard();
    auto detail = std::dynamic_pointer_cast<VideoDetailViewController>(
        own ? sceneOf(own->name(), "VideoDetailViewController") : nullptr);
    Ref<UINavigationController> navigation = navigationController();
    if (!video || !detail || !navigation) return;
    handOverVideo(*detail, *video);
    navigation->pushViewController(detail, true);
}
