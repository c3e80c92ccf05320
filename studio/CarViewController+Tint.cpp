// The colour panel: a colour picked on the wheel or from a preset button tints the selected part,
// or the whole car when no part is selected.

#include "controls/VHProgressHUD.h"
#include "foundation/NSMainThreadCheck.h"
#include "studio/CarViewController.h"
#include "studio/CarViewControllerInternal.h"
#include "studio/UIImage+ColorAtPixel.h"

namespace {

// Tints the target of a colour and shows the result; the whole-car case flashes a HUD.
void applyColour(CarViewController& studio, const Ref<UIColor>& colour, double hudSeconds) {
    if (Ref<QVNPart> part = studio.selectedPart()) {
        part->setTintColor(colour);
    } else {
        auto flash = VHProgressHUD::showHUDAddedTo(studio.view(), true);
        flash->hide(true, hudSeconds);
        if (const auto& car = studio.selectedCar()) car->tintColor(colour);
    }
    studio.refreshShowcaseWithAngle(studio.currentAngle());
}

}  // namespace

Ref<UIImageView> CarViewController::colorPickerIndicator() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    auto indicator = colorPickerIndicator_.lock();
    if (!indicator) {
        indicator = make<UIImageView>(UIImage::imageNamed("shizi"));
        indicator->setFrame(CGRect{{0, 0}, {15, 15}});
        if (auto wheel = colorWheel.lock()) wheel->addSubview(indicator);
        colorPickerIndicator_ = indicator;
    }
    return indicator;
}

void CarViewController::pickColor(const Ref<UIGestureRecognizer>& recognizer) {
    NS_ASSERT_MAIN_THREAD();
    auto wheel = colorWheel.lock();
    if (!recognizer || !wheel) return;
    CGPoint p = recognizer->locationInView(wheel);
    colorPickerIndicator()->setCenter(p);
    const Ref<UIImage>& picture = wheel->image();
    CGSize image = picture ? picture->size() : CGSizeZero;
    CGSize bounds = wheel->bounds().size;
    if (bounds.width == 0 || bounds.height == 0) return;
    Ref<UIColor> colour = UIImage_ColorAtPixel::colorAtPixel(
        picture, CGPoint{p.x * image.width / bounds.width, p.y * image.height / bounds.height});
    applyColour(*this, colour, 0.001);
}

void CarViewController::colorPickerPreinstallButtonTapped(const Ref<NSObject>& sender) {
    NS_ASSERT_MAIN_THREAD();
    auto button = asKind<UIView>(sender);
    applyColour(*this, button ? button->backgroundColor() : nullptr, 0.2);
}

void CarViewController::colorPickerCarButtonTapped(const Ref<NSObject>&) {
    NS_ASSERT_MAIN_THREAD();
    setSelectedPart(nullptr);
}

void CarViewController::colorPickerResetButtonTapped(const Ref<NSObject>&) {
    NS_ASSERT_MAIN_THREAD();
    if (selectedCar_) {
        selectedCar_->tintColor(nullptr);
        for (const auto& part : selectedCar_->parts()) {
            part->setTintColor(nullptr);
            for (const auto& option : part->options()) option->setTintColor(nullptr);
        }
    }
    refreshShowcaseWithAngle(currentAngle_);
}
