#include "uikit/UIWindowRenderer.h"

#include <algorithm>

#include "graphics/UIGraphics.h"
#include "uikit/UIAlertTestDriver.h"
#include "uikit/UIApplication.h"
#include "uikit/UILabel.h"
#include "uikit/UIScreen.h"
#include "uikit/UIWindow.h"

namespace {

constexpr CGFloat kAlertWidth = 270;
constexpr CGFloat kSheetMargin = 8;
constexpr CGFloat kButtonHeight = 44;
constexpr CGFloat kTextInset = 16;

Ref<UIColor> buttonColor(const UIVisibleAlert& alert, long index) {
    if (index == alert.destructiveButtonIndex) return UIColor::colorWithRed(1, 0.23, 0.19, 1);
    return UIColor::colorWithRed(0, 0.48, 1, 1);
}

Ref<UILabel> addLabel(const Ref<UIView>& panel, const std::string& text, const Ref<UIFont>& font,
                      const Ref<UIColor>& color, CGRect frame) {
    auto label = make<UILabel>(frame);
    label->setText(text);
    label->setFont(font);
    label->setTextColor(color);
    label->setTextAlignment(NSTextAlignmentCenter);
    label->setNumberOfLines(0);
    panel->addSubview(label);
    return label;
}

void addHairline(const Ref<UIView>& panel, CGRect frame) {
    auto line = make<UIView>(frame);
    line->setBackgroundColor(UIColor::colorWithWhite(0.8, 1));
    panel->addSubview(line);
}

// What the phone shows for a visible alert: the screen dimmed, and a rounded panel with the title,
// the message and the buttons (two side by side, otherwise stacked). Action sheets sit at the
// bottom with their buttons stacked. The views exist only for the picture.
Ref<UIView> alertOverlay(const UIVisibleAlert& alert, CGRect screen) {
    const bool sheet =
        alert.kind == UIAlertKind::ActionSheet || (alert.kind == UIAlertKind::AlertController &&
                                                   alert.preferredStyle == UIAlertControllerStyleActionSheet);
    auto overlay = make<UIView>(screen);
    overlay->setBackgroundColor(UIColor::colorWithWhite(0, 0.4));
    const CGFloat width = sheet ? std::max<CGFloat>(0, screen.size.width - 2 * kSheetMargin)
                                : std::min(kAlertWidth, screen.size.width);
    auto panel = make<UIView>(CGRectMake(0, 0, width, 0));
    panel->setBackgroundColor(UIColor::colorWithWhite(0.97, 1));
    panel->layer()->setCornerRadius(13);
    panel->setClipsToBounds(true);

    const CGFloat textWidth = std::max<CGFloat>(0, width - 2 * kTextInset);
    CGFloat y = 20;
    auto addText = [&](const std::optional<std::string>& text, const Ref<UIFont>& font) {
        if (!text || text->empty()) return;
        auto label =
            addLabel(panel, *text, font, UIColor::blackColor(), CGRectMake(kTextInset, y, textWidth, 0));
        const CGSize fit = label->sizeThatFits(CGSizeMake(textWidth, 10000));
        label->setFrame(CGRectMake(kTextInset, y, textWidth, fit.height));
        y += fit.height + 4;
    };
    addText(alert.title, UIFont::boldSystemFontOfSize(sheet ? 13 : 17));
    addText(alert.message, UIFont::systemFontOfSize(13));
    y = y > 20 ? y + 16 : 0;

    const auto& titles = alert.buttonTitles;
    const bool sideBySide = !sheet && titles.size() == 2;
    for (std::size_t i = 0; i < titles.size(); ++i) {
        const long index = static_cast<long>(i);
        auto font = index == alert.cancelButtonIndex ? UIFont::boldSystemFontOfSize(17)
                                                     : UIFont::systemFontOfSize(17);
        CGRect frame = sideBySide ? CGRectMake(width / 2 * i, y, width / 2, kButtonHeight)
                                  : CGRectMake(0, y + kButtonHeight * i, width, kButtonHeight);
        addHairline(panel, CGRectMake(frame.origin.x, frame.origin.y, frame.size.width, 0.5));
        if (sideBySide && i == 1) addHairline(panel, CGRectMake(frame.origin.x, y, 0.5, kButtonHeight));
        addLabel(panel, titles[i], font, buttonColor(alert, index), frame);
    }
    const CGFloat rows = sideBySide ? 1 : static_cast<CGFloat>(titles.size());
    const CGFloat height = y + kButtonHeight * rows;
    const CGFloat x = screen.origin.x + (screen.size.width - width) / 2;
    const CGFloat top = sheet ? CGRectGetMaxY(screen) - kSheetMargin - height
                              : screen.origin.y + (screen.size.height - height) / 2;
    panel->setFrame(CGRectMake(x, top, width, height));
    overlay->addSubview(panel);
    return overlay;
}

void renderWindow(const CGContextRef& context, const Ref<UIWindow>& window) {
    CGContextSaveGState(context);
    CGContextConcatCTM(context, window->layer()->transformToSuperlayer());
    window->layer()->renderInContext(context);
    CGContextRestoreGState(context);
}

}  // namespace

Ref<UIImage> UIWindowRenderer::imageOfView(const Ref<UIView>& view, CGFloat scale, bool opaque) {
    if (!view) return nullptr;
    CGRect bounds = view->bounds();
    if (bounds.size.width <= 0 || bounds.size.height <= 0) return nullptr;
    UIGraphicsBeginImageContextWithOptions(bounds.size, opaque, scale);
    if (CGContextRef context = UIGraphicsGetCurrentContext()) {
        CGContextTranslateCTM(context, -bounds.origin.x, -bounds.origin.y);
        view->layer()->renderInContext(context);
    }
    return detail::endImageContextWithImage();
}

Ref<UIImage> UIWindowRenderer::imageOfScreen(CGFloat scale) {
    CGRect screen = UIScreen::mainScreen()->bounds();
    UIGraphicsBeginImageContextWithOptions(screen.size, true, scale);
    if (CGContextRef context = UIGraphicsGetCurrentContext()) {
        CGContextSetFillColorWithColor(context, UIColor::blackColor()->CGColor());
        CGContextFillRect(context, screen);
        // Windows come back to front by level (ties in the order they were ordered in); the
        // alerts, which have no windows here, show at the alert level, above the windows of that
        // level that were already up.
        auto windows = UIApplication::sharedApplication()->windows();
        auto aboveAlerts = std::find_if(windows.begin(), windows.end(), [](const Ref<UIWindow>& window) {
            return window->windowLevel() > UIWindowLevelAlert;
        });
        for (auto it = windows.begin(); it != aboveAlerts; ++it) {
            if (!(*it)->isHidden()) renderWindow(context, *it);
        }
        for (const UIVisibleAlert& alert : UIAlertTestDriver::visibleAlerts()) {
            alertOverlay(alert, screen)->layer()->renderInContext(context);
        }
        for (auto it = aboveAlerts; it != windows.end(); ++it) {
            if (!(*it)->isHidden()) renderWindow(context, *it);
        }
    }
    return detail::endImageContextWithImage();
}

bool UIWindowRenderer::writePNG(const Ref<UIImage>& image, const std::string& path) {
    auto png = UIImagePNGRepresentation(image);
    if (!png) return false;
    return png->writeToFile(path);
}
