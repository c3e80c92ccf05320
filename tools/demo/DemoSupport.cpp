#include "tools/demo/DemoSupport.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>

#include "foundation/NSDate.h"
#include "foundation/NSMainThreadCheck.h"
#include "foundation/NSRunLoop.h"
#include "uikit/UIApplication.h"
#include "uikit/UILabel.h"
#include "uikit/UIScreen.h"
#include "uikit/UITestDriver.h"
#include "uikit/UIWebView.h"
#include "uikit/UIWindowRenderer.h"

namespace demo {

std::string outputDirectory;

namespace {
int shots = 0;
}

void runFor(double seconds) {
    NS_ASSERT_MAIN_THREAD();
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
        NSRunLoop::mainRunLoop()->runMode(NSDefaultRunLoopMode, NSDate::dateWithTimeIntervalSinceNow(0.02));
    }
}

bool runUntil(const std::function<bool()>& condition, double seconds) {
    NS_ASSERT_MAIN_THREAD_OR(return false);
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        NSRunLoop::mainRunLoop()->runMode(NSDefaultRunLoopMode, NSDate::dateWithTimeIntervalSinceNow(0.02));
    }
    return true;
}

Ref<UIWindow> keyWindow() {
    auto application = UIApplication::sharedApplication();
    return application ? application->keyWindow() : nullptr;
}

std::string nextPicturePath(const std::string& name) {
    char file[256];
    std::snprintf(file, sizeof file, "%02d-%s.png", ++shots, name.c_str());
    return outputDirectory + "/" + file;
}

namespace {

// Every label on screen that does not show all of its text (a "…", or lines left out) gets a line
// "text cut in <picture>: ...": the app measures text with the font that draws it, so a label
// sized by its text never loses any. Hidden and transparent views, and labels off the screen, show
// nothing and are skipped.
void reportCutText(const Ref<UIView>& view, const std::string& picture) {
    if (!view || view->isHidden() || view->alpha() <= 0.01) return;
    if (auto label = std::dynamic_pointer_cast<UILabel>(view)) {
        TextLayout layout = label->currentLayout();
        CGRect frame = label->convertRectToView(label->bounds(), nullptr);
        if (layout.truncated && CGRectIntersectsRect(frame, UIScreen::mainScreen()->bounds())) {
            std::string shown;
            for (const TextLine& line : layout.lines) shown += (shown.empty() ? "" : " / ") + line.text;
            std::printf("text cut in %s: \"%s\" shows \"%s\" in %s\n", picture.c_str(),
                        text(label->text()).c_str(), shown.c_str(), NSStringFromCGRect(frame).c_str());
        }
    }
    for (const auto& subview : view->subviews()) reportCutText(subview, picture);
}

}  // namespace

void screenshot(const std::string& name) {
    NS_ASSERT_MAIN_THREAD();
    runFor(0.1);
    if (!keyWindow()) return;
    std::string path = nextPicturePath(name);
    // The whole screen, so alerts and HUDs above the key window are in the picture.
    bool ok = UIWindowRenderer::writePNG(UIWindowRenderer::imageOfScreen(), path);
    std::printf("%s %s\n", ok ? "screen" : "FAILED", path.c_str());
    const std::string picture = path.substr(path.find_last_of('/') + 1);
    for (const auto& window : UIApplication::sharedApplication()->windows()) reportCutText(window, picture);
    std::fflush(stdout);
}

int fail(const std::string& why) {
    std::printf("demo stopped: %s\n", why.c_str());
    return 1;
}

void require(bool holds, const std::string& why) {
    if (!holds) throw Stop{why};
}

void waitFor(const std::function<bool()>& condition, const std::string& why, double seconds) {
    require(runUntil(condition, seconds), why);
}

std::string text(const std::optional<std::string>& value) {
    return value.value_or("?");
}

Ref<UIButton> buttonTitled(const Ref<UIView>& parent, const std::string& title) {
    if (parent) {
        for (const auto& view : parent->subviews()) {
            auto button = std::dynamic_pointer_cast<UIButton>(view);
            if (button && button->titleForState(UIControlStateNormal) == title) return button;
        }
    }
    throw Stop{"no button \"" + title + "\" on the screen"};
}

bool appeared(const Ref<UIViewController>& screen) {
    return screen && screen->appearanceState() == UIViewControllerAppearanceState::Appeared;
}

Ref<UIControl> controlWithAction(const Ref<UIView>& root, const Ref<NSObject>& target,
                                 const std::string& selector) {
    if (auto control = std::dynamic_pointer_cast<UIControl>(root)) {
        if (auto actions = control->actionsForTarget(target, UIControlEventTouchUpInside))
            for (const std::string& action : *actions)
                if (action == selector) return control;
    }
    for (const Ref<UIView>& sub : root->subviews())
        if (auto found = controlWithAction(sub, target, selector)) return found;
    return nullptr;
}

void tapControlWithAction(const Ref<UIView>& root, const Ref<NSObject>& target, const std::string& selector) {
    Ref<UIControl> control = controlWithAction(root, target, selector);
    require(control != nullptr, "no control on the screen sends " + selector);
    UITestDriver::tap(control);
}

// The shown button with that title anywhere under the view; nullptr when there is none.
static Ref<UIButton> findButton(const Ref<UIView>& root, const std::string& title) {
    if (!root) return nullptr;
    auto button = std::dynamic_pointer_cast<UIButton>(root);
    if (button && !button->isHidden() &&
        button->titleForState(UIControlStateNormal) == std::optional<std::string>(title))
        return button;
    for (const auto& sub : root->subviews())
        if (auto found = findButton(sub, title)) return found;
    return nullptr;
}

void tapBack(const Ref<UIViewController>& screen) {
    require(screen != nullptr, "there is no screen to leave");
    static const char* const kBackActions[] = {
        "fanhuiAction:",   "fanhuiaction:", "fanhiAction:",         "goBack:",
        "goBackAction:",   "back:",         "backButton:",          "popController:",
        "dismiss",         "dismissSelf:",  "dismissButtonTapped:", "backButtonDidTouch:",
        "cancelBtnClick:",
    };
    Ref<UIControl> control;
    for (const char* action : kBackActions)
        if ((control = controlWithAction(screen->view(), screen, action))) break;
    // A back button whose action goes elsewhere: the one titled so.
    if (!control) control = findButton(screen->view(), "返回");
    require(control != nullptr, "no back button on " + screen->className());
    // Let a screen that is still moving (a keyboard leaving) come to rest: moving views take no
    // touches.
    runFor(0.6);
    // A user waits for a message that covers the button (a HUD leaving on its own) to go.
    Ref<UIView> hit;
    auto reaches = [&] {
        Ref<UIView> root = UITestDriver::rootFor(control);
        CGRect b = control->bounds();
        CGPoint centre = control->convertPointToView(CGPointMake(CGRectGetMidX(b), CGRectGetMidY(b)), root);
        hit = root ? root->hitTest(centre, nullptr) : nullptr;
        return hit && hit->isDescendantOfView(control.get());
    };
    require(runUntil(reaches, 5),
            std::string("the back button is under ") + (hit ? hit->className() : "nothing"));
    UITestDriver::tap(control);
}

void dragAndHold(const Ref<UIView>& view, CGPoint from, CGPoint to) {
    Ref<UIView> root = UITestDriver::rootFor(view);
    require(root != nullptr, "the view to drag is not on screen");
    const CGPoint a = view->convertPointToView(from, root);
    const CGPoint b = view->convertPointToView(to, root);
    constexpr int kSteps = 12;
    UITestDriver::touchDown(root, a);
    for (int i = 1; i <= kSteps; ++i)
        UITestDriver::touchMove(root,
                                CGPointMake(a.x + (b.x - a.x) * i / kSteps, a.y + (b.y - a.y) * i / kSteps));
    for (int i = 0; i < 3; ++i) UITestDriver::touchMove(root, b);
    UITestDriver::touchUp(root, b);
}

void tapRow(const Ref<UITableView>& table, long row, long section) {
    require(table != nullptr, "there is no list to tap a row of");
    Ref<NSIndexPath> path = NSIndexPath::indexPathForRow(row, section);
    for (int attempt = 0;; ++attempt) {
        table->layoutIfNeeded();
        const CGRect rect = table->rectForRowAtIndexPath(path);
        const CGRect shown = table->bounds();
        const bool above = rect.origin.y < shown.origin.y;
        const bool below = CGRectGetMaxY(rect) > CGRectGetMaxY(shown);
        if (!above && !below) break;
        require(attempt < 30, "the row did not come into view");
        const CGFloat step =
            std::min(shown.size.height / 2, std::fabs(below ? CGRectGetMaxY(rect) - CGRectGetMaxY(shown)
                                                            : shown.origin.y - rect.origin.y) +
                                                20);
        const CGPoint middle = CGPointMake(CGRectGetMidX(shown), CGRectGetMidY(shown));
        dragAndHold(table, CGPointMake(middle.x, middle.y + (below ? step / 2 : -step / 2)),
                    CGPointMake(middle.x, middle.y + (below ? -step / 2 : step / 2)));
        runFor(0.6);
    }
    Ref<UITableViewCell> cell = table->cellForRowAtIndexPath(path);
    require(cell != nullptr, "the row is not on screen");
    CGRect b = cell->bounds();
    UITestDriver::tapAt(cell, CGPointMake(CGRectGetMidX(b), std::min<CGFloat>(12, b.size.height / 2)));
}

void tapBareSpot(const Ref<UIView>& view) {
    Ref<UIView> root = UITestDriver::rootFor(view);
    require(root != nullptr, "the view to tap is not on screen");
    const CGRect b = view->bounds();
    // A coarse grid from the edges inwards: bare spots are usually along a box's margins.
    constexpr int kSteps = 16;
    for (int i = 0; i <= kSteps; ++i) {
        for (int j = 0; j <= kSteps; ++j) {
            const CGPoint local = CGPointMake(b.origin.x + 3 + (b.size.width - 6) * i / kSteps,
                                              b.origin.y + 3 + (b.size.height - 6) * j / kSteps);
            const CGPoint point = view->convertPointToView(local, root);
            if (root->hitTest(point, nullptr) == view) {
                UITestDriver::tapAt(view, local);
                return;
            }
        }
    }
    throw Stop{"no bare spot on " + view->className() + " to tap"};
}

bool pagesFinished(const Ref<UIView>& root) {
    if (!root) return true;
    if (auto web = std::dynamic_pointer_cast<UIWebView>(root))
        if (web->finishedLoadCount() == 0 || web->isLoading()) return false;
    for (const auto& sub : root->subviews())
        if (!pagesFinished(sub)) return false;
    return true;
}

}  // namespace demo
