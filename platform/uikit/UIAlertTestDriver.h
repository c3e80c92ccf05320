#pragma once
// The user's side of alerts, action sheets and alert controllers, for tests and the demo: what is
// showing, and pressing its buttons.
//
//   auto alert = UIAlertTestDriver::frontmostAlert();        // std::nullopt when none shows
//   EXPECT_EQ(alert->title, "请先登录");
//   EXPECT_EQ(alert->buttonTitles, std::vector<std::string>{"确定"});
//   UIAlertTestDriver::tapAlertButton("确定");                // or by index
//
// visibleAlerts() lists what shows now, back to front (the last shown is the frontmost);
// shownAlerts() everything shown since the last reset, in order, also after it closed (its object
// is nullptr once the alert is gone: the history keeps no alert alive). Entries are read when
// asked, so they reflect the alert's current titles. Button titles are in index order:
// for alert views the cancel button first, for action sheets destructive, others, cancel, for
// alert controllers the actions in the order added.
//
// tapAlertButton presses a button of the frontmost alert as a user would; what follows is the
// alert's own behaviour (UIAlertView.h, UIActionSheet.h, UIAlertController.h): delegates of alert
// views and action sheets hear the click within the call, an alert controller's handler runs on
// the next turn of the main run loop. False when nothing shows or the button does not exist.
//
// Main thread only.

#include <optional>
#include <string>
#include <vector>

#include "foundation/NSObject.h"
#include "uikit/UIAlertController.h"

class UIView;

enum class UIAlertKind {
    AlertView,
    ActionSheet,
    AlertController,
};

struct UIVisibleAlert {
    UIAlertKind kind = UIAlertKind::AlertView;
    std::optional<std::string> title;
    std::optional<std::string> message;
    std::vector<std::string> buttonTitles;
    long cancelButtonIndex = -1;
    long destructiveButtonIndex = -1;
    long tag = 0;
    // Alert controllers: Alert or ActionSheet.
    UIAlertControllerStyle preferredStyle = UIAlertControllerStyleAlert;
    // Action sheets: the view they were shown in.
    Ref<UIView> shownInView;
    // The UIAlertView, UIActionSheet or UIAlertController itself.
    Ref<NSObject> object;
};

class UIAlertTestDriver {
  public:
    static std::vector<UIVisibleAlert> visibleAlerts();
    static std::optional<UIVisibleAlert> frontmostAlert();
    static std::vector<UIVisibleAlert> shownAlerts();
    static bool tapAlertButton(long index);
    // The first button with that title.
    static bool tapAlertButton(const std::string& title);
    // Forgets the history and the visible list, telling nobody (between tests).
    static void reset();

    // ---- for the alert classes ----------------------------------------------------------------
    static void alertDidShow(const Ref<NSObject>& alert);
    static void alertDidHide(const NSObject* alert);
};
