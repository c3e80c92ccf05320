#include "uikit/UIAlertTestDriver.h"

#include <algorithm>

#include "foundation/NSMainThreadCheck.h"
#include "uikit/UIActionSheet.h"
#include "uikit/UIAlertView.h"

namespace {

struct Registry {
    std::vector<Ref<NSObject>> visible;
    // The history: what each alert looked like when last seen, and the alert while it lives (the
    // history does not keep alerts, or what their handlers hold, alive).
    std::vector<std::pair<UIVisibleAlert, Weak<NSObject>>> shown;
};

Registry& registry() {
    static Registry instance;
    return instance;
}

UIVisibleAlert describe(const Ref<NSObject>& object) {
    UIVisibleAlert alert;
    alert.object = object;
    if (auto view = asKind<UIAlertView>(object)) {
        alert.kind = UIAlertKind::AlertView;
        alert.title = view->title();
        alert.message = view->message();
        alert.buttonTitles = view->buttonTitles();
        alert.cancelButtonIndex = view->cancelButtonIndex();
        alert.tag = view->tag();
    } else if (auto sheet = asKind<UIActionSheet>(object)) {
        alert.kind = UIAlertKind::ActionSheet;
        alert.title = sheet->title();
        alert.buttonTitles = sheet->buttonTitles();
        alert.cancelButtonIndex = sheet->cancelButtonIndex();
        alert.destructiveButtonIndex = sheet->destructiveButtonIndex();
        alert.tag = sheet->tag();
        alert.shownInView = sheet->shownInView();
    } else if (auto controller = asKind<UIAlertController>(object)) {
        alert.kind = UIAlertKind::AlertController;
        alert.title = controller->title();
        alert.message = controller->message();
        alert.preferredStyle = controller->preferredStyle();
        const auto& actions = controller->actions();
        for (std::size_t i = 0; i < actions.size(); ++i) {
            alert.buttonTitles.push_back(actions[i]->title().value_or(""));
            if (actions[i]->style() == UIAlertActionStyleCancel)
                alert.cancelButtonIndex = static_cast<long>(i);
            if (actions[i]->style() == UIAlertActionStyleDestructive && alert.destructiveButtonIndex < 0) {
                alert.destructiveButtonIndex = static_cast<long>(i);
            }
        }
    }
    return alert;
}

}  // namespace

std::vector<UIVisibleAlert> UIAlertTestDriver::visibleAlerts() {
    std::vector<UIVisibleAlert> alerts;
    for (auto& object : registry().visible) alerts.push_back(describe(object));
    return alerts;
}

std::optional<UIVisibleAlert> UIAlertTestDriver::frontmostAlert() {
    auto& visible = registry().visible;
    if (visible.empty()) return std::nullopt;
    return describe(visible.back());
}

std::vector<UIVisibleAlert> UIAlertTestDriver::shownAlerts() {
    std::vector<UIVisibleAlert> alerts;
    for (auto& [snapshot, weak] : registry().shown) {
        if (auto object = weak.lock()) snapshot = describe(object);
        UIVisibleAlert alert = snapshot;
        alert.object = weak.lock();
        alerts.push_back(std::move(alert));
    }
    return alerts;
}

bool UIAlertTestDriver::tapAlertButton(long index) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    auto& visible = registry().visible;
    if (visible.empty()) return false;
    Ref<NSObject> front = visible.back();
    if (auto view = asKind<UIAlertView>(front)) return view->pressButtonAtIndex(index);
    if (auto sheet = asKind<UIActionSheet>(front)) return sheet->pressButtonAtIndex(index);
    if (auto controller = asKind<UIAlertController>(front)) return controller->pressActionAtIndex(index);
    return false;
}

bool UIAlertTestDriver::tapAlertButton(const std::string& title) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    auto front = frontmostAlert();
    if (!front) return false;
    const auto& titles = front->buttonTitles;
    auto it = std::find(titles.begin(), titles.end(), title);
    if (it == titles.end()) return false;
    return tapAlertButton(static_cast<long>(it - titles.begin()));
}

void UIAlertTestDriver::reset() {
    auto& r = registry();
    auto visible = std::move(r.visible);  // released outside the registry's vectors
    auto shown = std::move(r.shown);
    r.visible.clear();
    r.shown.clear();
}

void UIAlertTestDriver::alertDidShow(const Ref<NSObject>& alert) {
    if (!alert) return;
    auto& r = registry();
    if (std::find(r.visible.begin(), r.visible.end(), alert) != r.visible.end()) return;
    r.visible.push_back(alert);
    UIVisibleAlert snapshot = describe(alert);
    snapshot.object = nullptr;
    r.shown.emplace_back(std::move(snapshot), alert);
}

void UIAlertTestDriver::alertDidHide(const NSObject* alert) {
    auto& visible = registry().visible;
    auto it = std::find_if(visible.begin(), visible.end(),
                           [alert](const Ref<NSObject>& o) { return o.get() == alert; });
    if (it == visible.end()) return;
    Ref<NSObject> keep = *it;  // stays alive until this call returns
    visible.erase(it);
    for (auto& [snapshot, weak] : registry().shown) {
        if (weak.lock() == keep) {
            snapshot = describe(keep);
            snapshot.object = nullptr;
        }
    }
}
