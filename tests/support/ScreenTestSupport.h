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
#include <map>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "controls/VHProgressHUD.h"
#include "graphics/CGContext.h"
#include "graphics/CGImage.h"
#include "graphics/UIGraphics.h"
#include "tests/support/MainLoop.h"
#include "uikit/UIAlertTestDriver.h"
#include "uikit/UIApplication.h"
#include "uikit/UIButton.h"
#include "uikit/UINavigationController.h"
#include "uikit/UIScreen.h"
#include "uikit/UIWindow.h"
#include "uikit/UIWindowRenderer.h"

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

// How the writing on a part of the screen reads, as a person sees it: within `rect` of `view` (in
// the view's points; when null, a titled button's title, else the view's bounds) on the screen's
// render, the commonest colour is the ground and the pixel that stands out most from it the writing.
struct Reading {
    RenderedPixels::RGB ground, writing;
    double contrast = 1;
    long pixels = 0;  // the pixels looked at: 0 when the view is not on screen
};

inline Reading readingOf(const Ref<UIView>& view, CGRect rect = CGRectNull) {
    Reading reading;
    if (!view || !view->window()) return reading;
    if (CGRectIsNull(rect)) {
        // A titled button is read over its title, not its edges, where the screen behind shows.
        auto button = std::dynamic_pointer_cast<UIButton>(view);
        if (button && button->currentTitle() && button->titleLabel()) {
            button->layoutIfNeeded();
            rect = button->titleLabel()->frame();
        } else {
            rect = view->bounds();
        }
    }
    const Ref<UIWindow> window = view->window();
    CGRect onScreen = view->convertRectToView(rect, window);
    onScreen.origin.x += window->frame().origin.x;
    onScreen.origin.y += window->frame().origin.y;
    const CGFloat scale = UIScreen::mainScreen()->scale();
    const RenderedPixels screen(UIWindowRenderer::imageOfScreen(scale));
    const long x0 = std::max(0L, std::lround(CGRectGetMinX(onScreen) * scale));
    const long y0 = std::max(0L, std::lround(CGRectGetMinY(onScreen) * scale));
    const long x1 = std::min(screen.width(), std::lround(CGRectGetMaxX(onScreen) * scale));
    const long y1 = std::min(screen.height(), std::lround(CGRectGetMaxY(onScreen) * scale));
    std::map<long, long> counts;
    auto key = [](RenderedPixels::RGB c) { return (long(c.red) << 16) | (long(c.green) << 8) | c.blue; };
    for (long y = y0; y < y1; ++y)
        for (long x = x0; x < x1; ++x) ++counts[key(screen.at(x, y))];
    if (counts.empty()) return reading;
    const long ground = std::max_element(counts.begin(), counts.end(), [](const auto& a, const auto& b) {
                            return a.second < b.second;
                        })->first;
    reading.ground = {int(ground >> 16), int((ground >> 8) & 0xFF), int(ground & 0xFF)};
    reading.writing = reading.ground;
    for (const auto& [colour, count] : counts) {
        RenderedPixels::RGB c{int(colour >> 16), int((colour >> 8) & 0xFF), int(colour & 0xFF)};
        const double ratio = contrastRatio(c, reading.ground);
        if (ratio > reading.contrast) reading.contrast = ratio, reading.writing = c;
        reading.pixels += count;
    }
    return reading;
}

inline bool isWhiteish(RenderedPixels::RGB c) {
    return c.red >= 225 && c.green >= 225 && c.blue >= 225;
}

// Success when the view shows writing within `rect` (see readingOf) that reads on its ground as
// small text must: a contrast of 4.5 : 1 at least; and, when `white`, the writing is white.
inline ::testing::AssertionResult reads(const Ref<UIView>& view, CGRect rect = CGRectNull,
                                        bool white = false) {
    const Reading reading = readingOf(view, rect);
    auto colour = [](RenderedPixels::RGB c) {
        return std::to_string(c.red) + "," + std::to_string(c.green) + "," + std::to_string(c.blue);
    };
    if (reading.pixels == 0) return ::testing::AssertionFailure() << "not on screen";
    if (white && !isWhiteish(reading.writing))
        return ::testing::AssertionFailure() << "no white writing on " << colour(reading.ground)
                                             << " (at most " << colour(reading.writing) << ")";
    if (reading.contrast < 4.5)
        return ::testing::AssertionFailure() << colour(reading.writing) << " on " << colour(reading.ground)
                                             << " reads at " << reading.contrast << " : 1";
    return ::testing::AssertionSuccess() << "contrast " << reading.contrast;
}

inline ::testing::AssertionResult readsWhite(const Ref<UIView>& view, CGRect rect = CGRectNull) {
    return reads(view, rect, true);
}

// The first button under `view` (itself included) whose title is `title`, depth first.
inline Ref<UIButton> buttonTitled(const Ref<UIView>& view, const std::string& title) {
    if (!view) return nullptr;
    if (auto button = std::dynamic_pointer_cast<UIButton>(view);
        button && button->titleForState(UIControlStateNormal) == std::optional<std::string>(title))
        return button;
    for (const auto& child : view->subviews())
        if (auto found = buttonTitled(child, title)) return found;
    return nullptr;
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
