// The screenshot of the whole window at angle 24, the tuning list built from the car on show, and
// the three tuning-list screens with the checks in front of them.

#include <array>

#include "app/QVNUserManager.h"
#include "dispatch/Dispatch.h"
#include "foundation/NSMainThreadCheck.h"
#include "graphics/UIGraphics.h"
#include "studio/CarViewController.h"
#include "studio/CarViewControllerInternal.h"
#include "uikit/UIApplication.h"
#include "uikit/UIScreen.h"
#include "uikit/UIStoryboardSegue.h"
#include "uikit/UIWindow.h"

namespace {

// The parts whose chosen option a tuning list names.
constexpr std::array<const char*, 7> kListedSelectors = {"lunke",      "qianbaowei", "houbaowei", "cequn",
                                                         "yinqinggai", "yeziban",    "weiyi"};

bool isListed(const std::string& selector) {
    for (const char* s : kListedSelectors)
        if (selector == s) return true;
    return false;
}

}  // namespace

void CarViewController::screenShot(const Ref<NSObject>&) {
    NS_ASSERT_MAIN_THREAD();
    view()->setUserInteractionEnabled(false);
    currentAngle_ = 24;
    showcaseScale_ = 1.0;
    setShowcaseState(CarShowcaseStatePlain);
    refreshShowcaseWithAngle(24);
    Weak<CarViewController> weak = weakStudio();
    dispatch_after(
        dispatch_time(DISPATCH_TIME_NOW, static_cast<std::int64_t>(0.5 * NSEC_PER_SEC)),
        dispatch_get_main_queue(), [weak] {
            auto self = weak.lock();
            if (!self) return;
            self->screenShotImage_ = self->screenImageWithSize(UIScreen::mainScreen()->bounds().size);
            self->presentSimpleAlert(std::nullopt, std::string("截图成功,你可以进行参与活动"), "确定", false);
            self->view()->setUserInteractionEnabled(true);
        });
}

Ref<UIImage> CarViewController::screenImageWithSize(CGSize size) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    UIGraphicsBeginImageContextWithOptions(size, false, 1.0);
    auto application = UIApplication::sharedApplication();
    Ref<UIWindow> window;
    if (application && application->delegate()) window = application->delegate()->window();
    if (window) {
        if (CGContextRef context = UIGraphicsGetCurrentContext()) window->layer()->renderInContext(context);
    }
    Ref<UIImage> image = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    return image;
}

std::vector<NSNumber> CarViewController::colorsWithPartTintColor(const Ref<UIColor>& color) {
    CGFloat r = 0, g = 0, b = 0, a = 0;
    if (color && !color->getRed(&r, &g, &b, &a)) {
        CGFloat white = 0;
        if (color->getWhite(&white, &a)) r = g = b = white;
    }
    return {NSNumber::numberWithDouble(r * 255), NSNumber::numberWithDouble(g * 255),
            NSNumber::numberWithDouble(b * 255)};
}

Ref<QVNTuningList> CarViewController::createTuningListWithCarId(const std::optional<NSNumber>& carId) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    auto list = make<QVNTuningList>();
    list->car_id = carId;
    Dictionary group = Dictionary::mutableDictionary();
    if (selectedCar_) {
        for (const auto& part : selectedCar_->parts()) {
            const std::string selector = part->selector().value_or("");
            if (!isListed(selector) || !part->selectedOption()) continue;
            group.setObject(selector, Value(part->selectedOption()->name()));
        }
        for (const auto& part : selectedCar_->parts()) {
            if (!part->tintColor()) continue;
            auto rgb = colorsWithPartTintColor(part->tintColor());
            group.setObject(part->selector().value_or("") + "_color",
                            Value(Dictionary{{"r", Value(rgb[0])},
                                             {"g", Value(rgb[1])},
                                             {"b", Value(rgb[2])},
                                             {"isColor", Value(1)}}));
        }
    }
    list->optionGroup = group.copy();
    return list;
}

void CarViewController::readTuningList(const Ref<NSObject>&) {
    NS_ASSERT_MAIN_THREAD();
    if (!QVNUserManager::shareObject()->currentUser()) {
        presentSimpleAlert(std::string("请先登录"), std::nullopt, "确定", false);
        return;
    }
    performSegueWithIdentifier(CarSegueShowTuningLists, nullptr);
}

void CarViewController::showTuningListDetail(const Ref<NSObject>&) {
    NS_ASSERT_MAIN_THREAD();
    if (!QVNUserManager::shareObject()->currentUser()) {
        presentSimpleAlert(std::string("请先登录"), std::nullopt, "确定", false);
        return;
    }
    performSegueWithIdentifier(CarSegueShowTuningListDetail, screenShotImage_);
}

void CarViewController::joinEventButtonDidTouch(const Ref<NSObject>&) {
    NS_ASSERT_MAIN_THREAD();
    if (!screenShotImage_) {
        presentSimpleAlert(std::string("请先点击截图按钮"), std::nullopt, "确定", false);
        return;
    }
    performSegueWithIdentifier(CarSegueShowSaveTuningList, nullptr);
}

void CarViewController::prepareForSegue(const Ref<UIStoryboardSegue>& segue, const Ref<NSObject>& sender) {
    UIViewController::prepareForSegue(segue, sender);
    if (!segue || !segue->identifier()) return;
    const std::string& identifier = *segue->identifier();
    CarStudioHandOver handOver;
    handOver.identifier = identifier;
    handOver.activity = activity_;
    if (identifier == CarSegueShowTuningListDetail || identifier == CarSegueShowSaveTuningList) {
        handOver.tuningList = createTuningListWithCarId(selectedCar_ ? selectedCar_->cars_id : std::nullopt);
        handOver.screenShotImage = screenShotImage_;
    } else if (identifier == CarSegueShowTuningLists) {
        handOver.studio = weakStudio();
    } else {
        return;
    }
    const Ref<UIViewController>& destination = segue->destinationViewController();
    if (!destination) return;
    destination->setTransitioningDelegate(Ref<UIViewControllerTransitioningDelegate>(
        strongSelf(), static_cast<UIViewControllerTransitioningDelegate*>(this)));
    destination->setModalPresentationStyle(UIModalPresentationCustom);
    const auto& receivers = detail::carstudio::segueReceivers();
    if (auto it = receivers.find(identifier); it != receivers.end()) it->second(destination, handOver);
}
