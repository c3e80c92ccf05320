#include "studio/TuningListTableViewController.h"

#include "app/QVNAPIClient.h"
#include "app/QVNUserManager.h"
#include "foundation/NSMainThreadCheck.h"
#include "studio/QVNTuningListCell.h"
#include "studio/TuningDetailViewController.h"
#include "uikit/UIAlertView.h"
#include "uikit/UITapGestureRecognizer.h"
#include "uikit/UITouch.h"

namespace {

Ref<QVNTuningList> listOf(const Value& item) {
    return std::dynamic_pointer_cast<QVNTuningList>(item.object());
}

}  // namespace

const Ref<VHProgressHUD>& TuningListTableViewController::hud() {
    if (!hud_) {
        hud_ = make<VHProgressHUD>(view());
        view()->addSubview(hud_);
    }
    return hud_;
}

void TuningListTableViewController::setSelectedTuningList(const Ref<QVNTuningList>& list) {
    NS_ASSERT_MAIN_THREAD();
    selectedTuningList_ = list;
    if (list) list->selected = true;
}

UIInterfaceOrientationMask TuningListTableViewController::supportedInterfaceOrientations() const {
    return UIInterfaceOrientationMaskLandscape;
}

UIInterfaceOrientation TuningListTableViewController::preferredInterfaceOrientationForPresentation() const {
    return UIInterfaceOrientationLandscapeLeft;
}

void TuningListTableViewController::setButtonsEnabled(bool enabled) {
    if (auto button = deleteButton.lock()) button->setEnabled(enabled);
    if (auto button = checkButton.lock()) button->setEnabled(enabled);
}

void TuningListTableViewController::viewDidLoad() {
    UIViewController::viewDidLoad();
    view()->setBackgroundColor(UIColor::clearColor());
    setButtonsEnabled(false);
    if (auto table = tableView.lock()) {
        table->setBackgroundColor(UIColor::clearColor());
        table->setSeparatorStyle(UITableViewCellSeparatorStyleNone);
        table->setDelegate(selfAs<TuningListTableViewController>());
    }
    Weak<TuningListTableViewController> weak = selfAs<TuningListTableViewController>();
    auto tap = make<UITapGestureRecognizer>(self(), [weak](const Ref<UIGestureRecognizer>& sender) {
        if (auto self = weak.lock()) self->cancel(sender);
    });
    tap->setCancelsTouchesInView(false);
    tap->setDelegate(selfAs<TuningListTableViewController>());
    view()->addGestureRecognizer(tap);

    hud()->setMode(VHProgressHUDModeText);
    QVNTuningList::getTuninglistWithCompletion(
        [weak](const std::optional<Array>& lists, const Ref<NSError>& error) {
            if (auto self = weak.lock()) self->listsArrived(lists, error);
        });
}

void TuningListTableViewController::listsArrived(const std::optional<Array>& lists,
                                                 const Ref<NSError>& error) {
    const Ref<VHProgressHUD>& box = hud();
    if (lists && !lists->empty()) {
        tuningsDataSource_ =
            make<ArrayDataSource>(lists, kCellIdentifier, [](const Ref<UIView>& cell, const Value& item) {
                if (auto row = std::dynamic_pointer_cast<QVNTuningListCell>(cell))
                    row->setTuningList(listOf(item));
            });
        setButtonsEnabled(true);
        setSelectedTuningList(listOf(tuningsDataSource_->items().firstObject()));
        if (auto table = tableView.lock()) {
            table->setDataSource(tuningsDataSource_);
            table->reloadData();
        }
    } else if (lists) {
        box->setLabelText(std::string("你还没有清单"));
        box->show(true);
    } else if (error && error->code() == QVNResultCodeInvalidToken) {
        auto alert = make<UIAlertView>(std::string("帐户已失效请重新登录"), std::nullopt, nullptr,
                                       std::string("确定"));
        alert->show();
        QVNUserManager::shareObject()->logOut();
    } else {
        box->setLabelText(std::string("读取失败"));
        box->show(true);
    }
    box->hide(true, 1.5);
}

void TuningListTableViewController::tableViewDidSelectRowAtIndexPath(UITableView& table,
                                                                     const Ref<NSIndexPath>& indexPath) {
    if (!tuningsDataSource_) return;
    Ref<QVNTuningList> tapped = listOf(tuningsDataSource_->itemAtIndexPath(indexPath));
    if (!tapped || tapped == selectedTuningList_) return;
    if (selectedTuningList_) selectedTuningList_->selected = false;
    setSelectedTuningList(tapped);
    table.reloadData();
}

void TuningListTableViewController::deleteTuningList(const Ref<NSObject>&) {
    NS_ASSERT_MAIN_THREAD();
    Ref<QVNTuningList> doomed = selectedTuningList_;
    if (!doomed) return;
    Weak<TuningListTableViewController> weak = selfAs<TuningListTableViewController>();
    QVNTuningList::deleteTuningList(doomed, [weak, doomed](const Ref<NSError>& error) {
        auto self = weak.lock();
        if (!self) return;
        const Ref<VHProgressHUD>& box = self->hud();
        box->show(true);
        if (error) {
            box->setLabelText(std::string("删除失败"));
            box->hide(true, 1.0);
            return;
        }
        box->setLabelText(std::string("删除成功"));
        box->setMode(VHProgressHUDModeText);
        box->hide(true, 1.0);
        if (!self->tuningsDataSource_) return;
        Array& items = self->tuningsDataSource_->items();
        items.removeObject(Value(doomed));
        self->setSelectedTuningList(items.empty() ? nullptr : listOf(items.lastObject()));
        if (items.empty()) self->setButtonsEnabled(false);
        if (auto table = self->tableView.lock()) table->reloadData();
    });
}

void TuningListTableViewController::showTuningListDetail(const Ref<NSObject>& sender) {
    NS_ASSERT_MAIN_THREAD();
    performSegueWithIdentifier(kDetailSegue, sender);
}

void TuningListTableViewController::prepareForSegue(const Ref<UIStoryboardSegue>& segue,
                                                    const Ref<NSObject>&) {
    if (segue->identifier() != std::optional<std::string>(kDetailSegue)) return;
    auto detail = std::dynamic_pointer_cast<TuningDetailViewController>(segue->destinationViewController());
    if (!detail) return;
    detail->setTuningList(selectedTuningList_);
    detail->setActivity(activity_);
    detail->setDelegate(selfAs<TuningListTableViewController>());
}

void TuningListTableViewController::didReadTuningList(const Ref<QVNTuningList>& tuningList) {
    // The detail above is still on its way out: closing from below takes both screens in one go,
    // where a dismissal asked of this screen would only reach the detail.
    Ref<UIViewController> presenter = presentingViewController();
    if (presenter) {
        presenter->dismissViewControllerAnimated(true);
    } else {
        dismissViewControllerAnimated(true);
    }
    if (auto delegate = delegate_.lock()) delegate->didSelectTuningList(tuningList);
}

void TuningListTableViewController::cancel(const Ref<NSObject>&) {
    dismissViewControllerAnimated(true);
}

std::optional<bool>
TuningListTableViewController::gestureRecognizerShouldReceiveTouch(UIGestureRecognizer&,
                                                                   const Ref<UITouch>& touch) {
    return touch && touch->view() == view();
}
