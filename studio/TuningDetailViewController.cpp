#include "studio/TuningDetailViewController.h"

#include "foundation/NSMainThreadCheck.h"
#include "foundation/NSString.h"
#include "studio/QVNTuningListDetailCell.h"
#include "studio/TuningListSaveViewController.h"
#include "uikit/UITapGestureRecognizer.h"
#include "uikit/UITouch.h"

const std::vector<std::pair<std::string, std::string>>& TuningDetailViewController::slots() {
    static const std::vector<std::pair<std::string, std::string>> table = {
        {"qianbaowei", "前包围: %@"}, {"yinqinggai", "引擎盖: %@"}, {"lunke", "轮壳: %@"},
        {"yeziban", "叶子板: %@"},    {"cequn", "侧裙: %@"},        {"houbaowei", "后包围: %@"},
        {"weiyi", "尾翼: %@"},
    };
    return table;
}

std::vector<std::string> TuningDetailViewController::rowTexts(const std::optional<Dictionary>& optionGroup) {
    std::vector<std::string> rows;
    for (const auto& [key, format] : slots()) {
        const Value* option = optionGroup ? optionGroup->find(key) : nullptr;
        if (!option || !option->isSomething()) {
            rows.emplace_back();
            continue;
        }
        std::string name = option->string() ? *option->string() : option->stringValue();
        rows.push_back(NSString::stringWithFormat(format, name));
    }
    return rows;
}

UIInterfaceOrientationMask TuningDetailViewController::supportedInterfaceOrientations() const {
    return UIInterfaceOrientationMaskLandscape;
}

UIInterfaceOrientation TuningDetailViewController::preferredInterfaceOrientationForPresentation() const {
    return UIInterfaceOrientationLandscapeLeft;
}

void TuningDetailViewController::viewDidLoad() {
    UIViewController::viewDidLoad();
    view()->setBackgroundColor(UIColor::clearColor());
    Array rows = Array::mutableArray();
    for (std::string& text : rowTexts(tuningList_ ? tuningList_->optionGroup : std::nullopt)) {
        rows.addObject(Value(std::move(text)));
    }
    partDataSource_ =
        make<ArrayDataSource>(rows, kCellIdentifier, [](const Ref<UIView>& cell, const Value& item) {
            auto row = std::dynamic_pointer_cast<QVNTuningListDetailCell>(cell);
            const std::string* text = item.string();
            if (row)
                row->setTuningDetail(text && !text->empty() ? std::optional<std::string>(*text)
                                                            : std::nullopt);
        });
    if (auto table = tableView.lock()) {
        table->setBackgroundColor(UIColor::clearColor());
        table->setSeparatorStyle(UITableViewCellSeparatorStyleNone);
        table->setDataSource(partDataSource_);
        table->setDelegate(selfAs<TuningDetailViewController>());
        table->reloadData();
    }

    Weak<TuningDetailViewController> weak = selfAs<TuningDetailViewController>();
    auto tap = make<UITapGestureRecognizer>(self(), [weak](const Ref<UIGestureRecognizer>& sender) {
        if (auto self = weak.lock()) self->cancel(sender);
    });
    tap->setCancelsTouchesInView(false);
    tap->setDelegate(selfAs<TuningDetailViewController>());
    view()->addGestureRecognizer(tap);

    if (auto button = rightFirstButton.lock()) {
        bool stored = tuningList_ && tuningList_->tuninglist_id.has_value();
        button->setImage(HomeStandInPages::imageNamed(stored ? "duquqingdan_up.png" : "baocun_up"),
                         UIControlStateNormal);
        button->setImage(HomeStandInPages::imageNamed(stored ? "duquqingdan_down.png" : "baocun_down"),
                         UIControlStateSelected);
        if (stored) {
            button->addTarget(selfAs<TuningDetailViewController>(),
                              &TuningDetailViewController::readTuningList,
                              "readTuningList:", UIControlEventTouchUpInside);
        } else {
            button->addTarget(selfAs<TuningDetailViewController>(),
                              &TuningDetailViewController::saveTuningList,
                              "saveTuningList:", UIControlEventTouchUpInside);
        }
    }
}

void TuningDetailViewController::readTuningList(const Ref<NSObject>&) {
    NS_ASSERT_MAIN_THREAD();
    dismissViewControllerAnimated(true);
    if (auto delegate = delegate_.lock()) delegate->didReadTuningList(tuningList_);
}

void TuningDetailViewController::saveTuningList(const Ref<NSObject>& sender) {
    NS_ASSERT_MAIN_THREAD();
    performSegueWithIdentifier(kSaveSegue, sender);
}

void TuningDetailViewController::prepareForSegue(const Ref<UIStoryboardSegue>& segue, const Ref<NSObject>&) {
    if (segue->identifier() != std::optional<std::string>(kSaveSegue)) return;
    auto box = std::dynamic_pointer_cast<TuningListSaveViewController>(segue->destinationViewController());
    if (!box) return;
    box->setTuningList(tuningList_);
    box->setModalPresentationStyle(UIModalPresentationCustom);
}

void TuningDetailViewController::cancel(const Ref<NSObject>&) {
    dismissViewControllerAnimated(true);
}

std::optional<bool>
TuningDetailViewController::gestureRecognizerShouldReceiveTouch(UIGestureRecognizer&,
                                                                const Ref<UITouch>& touch) {
    return touch && touch->view() == view();
}
