#pragma once
// What every stretch of the scripted run shares: pumping the main run loop, waiting for a
// condition, writing numbered pictures of the screen, and stopping the run with a reason.
// Each area of the app keeps its own stretch of the road in a file of its own beside main.cpp.
//
// Main thread only.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "uikit/UIButton.h"
#include "uikit/UITableView.h"
#include "uikit/UIView.h"
#include "uikit/UIViewController.h"
#include "uikit/UIWindow.h"

namespace demo {

// Where the pictures go; set once by main.
extern std::string outputDirectory;

// The road cannot go on: main prints why and exits 1.
struct Stop {
    std::string why;
};

// Runs the main run loop for a while (real time).
void runFor(double seconds);
// Runs the main run loop until the condition holds (true) or the time is up (false).
bool runUntil(const std::function<bool()>& condition, double seconds = 20);
Ref<UIWindow> keyWindow();
// Writes the whole screen (every window, alerts included) as the next numbered PNG and prints
// its path, then a "text cut in <picture>: ..." line for each label on it that does not show all
// of its text.
void screenshot(const std::string& name);
// The next numbered path for a picture named `name` (for pictures the app itself makes).
std::string nextPicturePath(const std::string& name);
int fail(const std::string& why);
void require(bool holds, const std::string& why);
// Pumps the main run loop until the condition holds, or stops the run with `why`.
void waitFor(const std::function<bool()>& condition, const std::string& why, double seconds = 20);
std::string text(const std::optional<std::string>& value);
// The button with that title among the view's subviews (stops the run when there is none).
Ref<UIButton> buttonTitled(const Ref<UIView>& parent, const std::string& title);
bool appeared(const Ref<UIViewController>& screen);
// The control in the tree whose touch-up action for the target is `selector`.
Ref<UIControl> controlWithAction(const Ref<UIView>& root, const Ref<NSObject>& target,
                                 const std::string& selector);
// Taps the control in the tree whose touch-up action for the target is `selector` (stops the run
// when there is none).
void tapControlWithAction(const Ref<UIView>& root, const Ref<NSObject>& target, const std::string& selector);
// Taps the screen's own back (or close) button: the control sending the screen one of its
// back actions, or a button titled "返回" (stops the run when there is none).
void tapBack(const Ref<UIViewController>& screen);
// A finger drawn across the view that comes to rest before lifting, so nothing flies on.
void dragAndHold(const Ref<UIView>& view, CGPoint from, CGPoint to);
// Drags the list until the row shows whole, then taps the row near its top edge, where its
// title is (its middle may hold pictures that open on a tap of their own).
void tapRow(const Ref<UITableView>& table, long row, long section = 0);
// Taps a bare spot of the view: a point where the touch lands on the view itself, not on one of
// its subviews (stops the run when the view shows no such spot).
void tapBareSpot(const Ref<UIView>& view);

// Every web page under the root has finished loading, its pictures and stylesheets included.
bool pagesFinished(const Ref<UIView>& root);

template <typename T>
Ref<T> presentedOver(const Ref<UIViewController>& screen) {
    return screen ? std::dynamic_pointer_cast<T>(screen->presentedViewController()) : nullptr;
}

}  // namespace demo
