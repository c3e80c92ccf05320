#pragma once
// The screen: its size in points and its scale. There is one, the main screen, configured from
// the environment (APP_SCREEN="375x667@2": width x height in points, @ scale) or by the setters
// below; 375 x 667 at scale 2 by default. Setting the scale also sets the scale that image
// contexts use for a scale of 0.
//
// The screen may be read from any thread; its values are changed by tests and start-up code.

#include <mutex>
#include <vector>

#include "foundation/NSObject.h"
#include "graphics/CGGeometry.h"

// A display mode: its size in pixels.
class UIScreenMode : public NSObject {
  public:
    explicit UIScreenMode(CGSize size) : size_(size) {}
    std::string className() const override { return "UIScreenMode"; }
    CGSize size() const { return size_; }
    CGFloat pixelAspectRatio() const { return 1; }

  private:
    CGSize size_;
};

class UIScreen : public NSObject {
  public:
    UIScreen();
    std::string className() const override { return "UIScreen"; }

    static Ref<UIScreen> mainScreen();
    static std::vector<Ref<UIScreen>> screens() { return {mainScreen()}; }

    // (0, 0, width, height) in points.
    CGRect bounds() const;
    // The bounds less the status bar's 20 points at the top.
    CGRect applicationFrame() const;
    CGFloat scale() const;
    CGFloat nativeScale() const { return scale(); }
    CGRect nativeBounds() const;
    // The size in pixels.
    Ref<UIScreenMode> currentMode() const;
    CGFloat brightness() const;
    void setBrightness(CGFloat brightness);

    // Configuration (tests, start-up).
    void setBoundsSize(CGSize size);
    void setScale(CGFloat scale);
    // Back to the environment's (or the default) configuration.
    void resetToConfiguration();

  private:
    mutable std::mutex mutex_;
    CGSize size_{375, 667};
    CGFloat scale_ = 2;
    CGFloat brightness_ = 0.5;
};
