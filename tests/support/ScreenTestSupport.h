#pragma once
// Shared pieces of the screen tests of the app's areas: an application whose key window holds a
// navigation controller over a plain root (as the app's, which hides its bar: the screens draw
// their own), a wait that lets the manual clock move while the stand-in server answers on real
// time, what the HUDs and alerts show, and plain pictures. Header only: the programs that include it
// link the UI layers.

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>

#include "controls/VHProgressHUD.h"
#include "graphics/CGContext.h"
#include "graphics/CGImage.h"
#include "graphics/UIGraphics.h"
#include "tests/support/MainLoop.h"
#include "uikit/UIAlertTestDriver.h"
#include "uikit/UIApplication.h"
#include "uikit/UINavigationController.h"
#include "uikit/UIScreen.h"
#include "uikit/UIWindow.h"

namespace testsupport {

// Waits on real time for the server while letting the manual clock move in small steps, for work
// the controls schedule on the platform clock (a refresh control runs its block after its
// animation).
inline bool waitAdvancing(ManualClock& clock, const std::function<bool()>& condition, double seconds = 10) {
    for (int step = 0; step < static_cast<int>(seconds / 0.02); ++step) {
        if (condition()) return true;
        clock.advance(0.01);
        if (pumpMainRunLoopUntil(condition, 0.01)) return true;
    }
    return condition();
}

// Lets chained main-queue work and short animations finish: the manual clock moves `steps` times
// by `step` seconds, the main run loop drained before each move and after the last.
inline void settleInSteps(ManualClock& clock, int steps = 20, double step = 0.05) {
    for (int i = 0; i < steps; ++i) {
        drainMainRunLoop();
        clock.advance(step);
    }
    drainMainRunLoop();
}

// The text of the topmost HUD showing over the view (nullopt when none shows).
inline std::optional<std::string> hudText(const Ref<UIView>& view) {
    for (auto it = view->subviews().rbegin(); it != view->subviews().rend(); ++it) {
        auto hud = std::dynamic_pointer_cast<VHProgressHUD>(*it);
        if (hud && !hud->isHidden() && hud->alpha() > 0) return hud->labelText();
    }
    return std::nullopt;
}

inline bool hudShowing(const Ref<VHProgressHUD>& hud) {
    return hud && hud->superview() && !hud->isHidden() && hud->alpha() > 0;
}

// The title and message of the frontmost alert (nullopt when none shows).
inline std::optional<std::string> alertTitle() {
    auto alert = UIAlertTestDriver::frontmostAlert();
    return alert ? alert->title : std::nullopt;
}
inline std::optional<std::string> alertMessage() {
    auto alert = UIAlertTestDriver::frontmostAlert();
    return alert ? alert->message : std::nullopt;
}

// An opaque picture of one colour, at scale 1.
inline Ref<UIImage> solidImage(CGSize size, CGFloat red, CGFloat green, CGFloat blue) {
    UIGraphicsBeginImageContextWithOptions(size, true, 1);
    CGContextSetRGBFillColor(UIGraphicsGetCurrentContext(), red, green, blue, 1);
    CGContextFillRect(UIGraphicsGetCurrentContext(), CGRectMake(0, 0, size.width, size.height));
    Ref<UIImage> image = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    return image;
}

// The pixels of a rendered picture, read as a person sees them: (red, green, blue) on 0-255 at a
// pixel of the picture (premultiplied, so an opaque render reads as drawn); black outside it.
class RenderedPixels {
  public:
    struct RGB {
        int red = 0, green = 0, blue = 0;
    };
    explicit RenderedPixels(const Ref<UIImage>& image) {
        if (!image || !image->CGImage()) return;
        width_ = static_cast<long>(image->CGImage()->width());
        height_ = static_cast<long>(image->CGImage()->height());
        bgra_ = detail::pixelsAsPremultipliedBGRA(*image->CGImage());
    }
    long width() const { return width_; }
    long height() const { return height_; }
    RGB at(long x, long y) const {
        if (x < 0 || y < 0 || x >= width_ || y >= height_) return {};
        const auto* p = bgra_.bytes() + (static_cast<std::size_t>(y) * width_ + x) * 4;
        return {p[2], p[1], p[0]};
    }
    // Whether some pixel of the rectangle (in pixels, clipped to the picture) is within `tolerance`
    // of the colour on every channel.
    bool anyNear(CGRect rect, RGB colour, int tolerance) const {
        for (long y = static_cast<long>(rect.origin.y); y < static_cast<long>(CGRectGetMaxY(rect)); ++y)
            for (long x = static_cast<long>(rect.origin.x); x < static_cast<long>(CGRectGetMaxX(rect)); ++x) {
                if (x < 0 || y < 0 || x >= width_ || y >= height_) continue;
                RGB p = at(x, y);
                if (std::abs(p.red - colour.red) <= tolerance &&
                    std::abs(p.green - colour.green) <= tolerance &&
                    std::abs(p.blue - colour.blue) <= tolerance)
                    return true;
            }
        return false;
    }

  private:
    long width_ = 0, height_ = 0;
    NSData bgra_;
};

// A colour's (red, green, blue) on 0-255, as drawn opaque.
inline RenderedPixels::RGB rgbOf(const Ref<UIColor>& colour) {
    CGFloat r = 0, g = 0, b = 0, a = 0;
    if (!colour || !colour->getRed(&r, &g, &b, &a)) return {};
    auto channel = [](CGFloat v) { return static_cast<int>(std::lround(v * 255)); };
    return {channel(r), channel(g), channel(b)};
}

// The contrast of two colours as people read text: (lighter + 0.05) / (darker + 0.05) of their
// relative luminances; 4.5 is the least for small text.
inline double contrastRatio(RenderedPixels::RGB a, RenderedPixels::RGB b) {
    auto luminance = [](RenderedPixels::RGB c) {
        auto linear = [](int v) {
            double s = v / 255.0;
            return s <= 0.03928 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * linear(c.red) + 0.7152 * linear(c.green) + 0.0722 * linear(c.blue);
    };
    double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The application and its key window with a navigation controller, for a fixture to hold.
class NavigationWindow {
  protected:
    // Makes the shared application and shows the window, the navigation controller over `root`.
    void openWindow(bool barHidden = true) {
        application = make<UIApplication>();
        UIApplication::setSharedApplication(application);
        window = make<UIWindow>(UIScreen::mainScreen()->bounds());
        root = make<UIViewController>();
        navigation = make<UINavigationController>(root);
        if (barHidden) navigation->setNavigationBarHidden(true, false);
        window->setRootViewController(navigation);
        window->makeKeyAndVisible();
    }
    // Dismisses what is presented, hides the window and lets the screens go, then the application.
    void closeWindow() {
        if (navigation && navigation->presentedViewController())
            navigation->dismissViewControllerAnimated(false);
        drainMainRunLoop();
        if (window) window->setHidden(true);
        navigation = nullptr;
        root = nullptr;
        window = nullptr;
        drainMainRunLoop();
        UIApplication::setSharedApplication(nullptr);
        application = nullptr;
    }

    Ref<UIApplication> application;
    Ref<UIWindow> window;
    Ref<UIViewController> root;
    Ref<UINavigationController> navigation;
};

}  // namespace testsupport
