#include "uikit/UIScreen.h"

#include <cstdio>
#include <cstdlib>

#include "graphics/UIGraphics.h"

namespace {

// "375x667@2" (the scale part optional); false for anything else.
bool parseScreenSpec(const char* text, CGSize& size, CGFloat& scale) {
    if (!text || !*text) return false;
    double w = 0, h = 0, s = 0;
    char tail = 0;
    int n = std::sscanf(text, "%lfx%lf@%lf%c", &w, &h, &s, &tail);
    if (n == 2) s = scale;
    if ((n != 2 && n != 3) || w <= 0 || h <= 0 || s <= 0) return false;
    size = {w, h};
    scale = s;
    return true;
}

}  // namespace

UIScreen::UIScreen() {
    resetToConfiguration();
}

Ref<UIScreen> UIScreen::mainScreen() {
    static const Ref<UIScreen> screen = make<UIScreen>();
    return screen;
}

void UIScreen::resetToConfiguration() {
    CGSize size{375, 667};
    CGFloat scale = 2;
    parseScreenSpec(std::getenv("APP_SCREEN"), size, scale);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        size_ = size;
        scale_ = scale;
    }
    UIGraphicsSetDefaultScreenScale(scale);
}

CGRect UIScreen::bounds() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return {{0, 0}, size_};
}

CGRect UIScreen::applicationFrame() const {
    CGRect b = bounds();
    return {{0, 20}, {b.size.width, b.size.height - 20}};
}

CGFloat UIScreen::scale() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return scale_;
}

CGRect UIScreen::nativeBounds() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return {{0, 0}, {size_.width * scale_, size_.height * scale_}};
}

Ref<UIScreenMode> UIScreen::currentMode() const {
    CGRect native = nativeBounds();
    return make<UIScreenMode>(native.size);
}

CGFloat UIScreen::brightness() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return brightness_;
}

void UIScreen::setBrightness(CGFloat brightness) {
    std::lock_guard<std::mutex> lock(mutex_);
    brightness_ = brightness < 0 ? 0 : brightness > 1 ? 1 : brightness;
}

void UIScreen::setBoundsSize(CGSize size) {
    if (size.width <= 0 || size.height <= 0) return;
    std::lock_guard<std::mutex> lock(mutex_);
    size_ = size;
}

void UIScreen::setScale(CGFloat scale) {
    if (scale <= 0) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        scale_ = scale;
    }
    UIGraphicsSetDefaultScreenScale(scale);
}
