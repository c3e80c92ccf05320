// The car on show: one picture layer per part, stacked by layer number, laid out for a view angle,
// zoom and suspension setting; and the test of a touch against a layer's visible pixels.

#include "foundation/NSMainThreadCheck.h"
#include "studio/CarViewController.h"
#include "studio/CarViewControllerInternal.h"
#include "studio/UIImage+ColorAtPixel.h"
#include "uikit/UITapGestureRecognizer.h"

using namespace detail::carstudio;

void CarViewController::setUpCarContainer(const Ref<QVNCar>& car) {
    NS_ASSERT_MAIN_THREAD();
    auto container = carContainer_.lock();
    if (!container) {
        container = make<UIView>();
        if (auto showcase = showcaseView.lock()) showcase->addSubview(container);
        carContainer_ = container;
        Weak<CarViewController> weak = weakStudio();
        auto doubleTap =
            make<UITapGestureRecognizer>(strongSelf(), [weak](const Ref<UIGestureRecognizer>& g) {
                if (auto self = weak.lock()) self->doubleTappedOnCarCantainer(g);
            });
        doubleTap->setNumberOfTapsRequired(2);
        container->addGestureRecognizer(doubleTap);
    }
    for (const auto& layer : carContainerSubviews_) layer->removeFromSuperview();
    carContainerSubviews_.clear();
    if (!car) return;
    const auto& parts = car->parts();
    for (std::size_t i = 0; i < parts.size(); ++i) {
        auto layer = make<UIImageView>(CGRectZero);
        container->addSubview(layer);
        carContainerSubviews_.push_back(layer);
    }
    for (const auto& part : parts) {
        long z = part->zForLayer();
        if (z < 0 || z >= static_cast<long>(carContainerSubviews_.size())) continue;
        carContainerSubviews_[z]->setAssociatedObject(&kLayerPartKey, Value(part), AssociationPolicy::Weak);
    }
}

Ref<QVNPart> CarViewController::getPartWithImageView(const Ref<UIImageView>& layer) {
    if (!layer) return nullptr;
    return layer->associatedObject(&kLayerPartKey).objectAs<QVNPart>();
}

void CarViewController::setCurrentAngle(long angle) {
    NS_ASSERT_MAIN_THREAD();
    if (angle < 1)
        angle = 25;
    else if (angle > 25)
        angle = 1;
    currentAngle_ = angle;
    refreshShowcaseWithAngle(angle);
}

void CarViewController::refreshShowcaseWithAngle(long angle) {
    NS_ASSERT_MAIN_THREAD();
    const std::string key = angleKey(angle);
    const Ref<QVNCar>& car = selectedCar_;
    const double s = car && car->suspensionSwitch() ? car->suspension() : 0;
    double c = 0;
    auto constraint = cstConsole.lock();
    if (constraint && constraint->constant() == 0) {
        auto console = consoleView.lock();
        auto handle = btnConsole.lock();
        c = (console ? console->bounds().size.height : 0) - (handle ? handle->bounds().size.height : 0);
    }
    auto showcase = showcaseView.lock();
    CGSize area = showcase ? showcase->bounds().size : CGSizeZero;
    CGSize picture = car ? car->showcaseSize() : CGSizeZero;
    const double k = showcaseScale_;
    auto container = carContainer_.lock();
    if (container) {
        container->setFrame(
            CGRect{{(area.width - picture.width * k) / 2, (area.height - c - (s + picture.height) * k) / 2},
                   {picture.width * k, (s + picture.height) * k}});
    }
    if (!car) return;
    for (const auto& part : car->parts()) {
        long z = part->zForLayer();
        if (z < 0 || z >= static_cast<long>(carContainerSubviews_.size())) continue;
        const Ref<UIImageView>& layer = carContainerSubviews_[z];
        auto attachments = layer->subviews();
        for (const auto& attachment : attachments) attachment->removeFromSuperview();
        Ref<UIImage> image = part->imageForAngle(key);
        const double d = part->suspensible() ? s : 0;
        layer->setImage(image);
        if (image) {
            CGPoint origin = part->imageOriginForAngle(key);
            CGSize size = image->size();
            layer->setFrame(CGRect{{origin.x * k, (d + origin.y) * k}, {size.width * k, size.height * k}});
        } else {
            layer->setFrame(CGRectZero);
        }
        const auto& option = part->selectedOption();
        if (option && option->hasAttach()) {
            if (Ref<UIImage> attach = part->attathForAngle(key)) {
                CGPoint origin = part->attachOriginForAngle(key);
                CGRect frame = layer->frame();
                CGSize size = attach->size();
                auto view = make<UIImageView>(attach);
                view->setFrame(CGRect{{origin.x * k - frame.origin.x, (d + origin.y) * k - frame.origin.y},
                                      {size.width * k, size.height * k}});
                layer->addSubview(view);
            }
        }
    }
}

bool CarViewController::isAlphaVisibleAtPoint(CGPoint point, const Ref<UIImageView>& layer) {
    if (!layer) return false;
    const Ref<UIImage>& image = layer->image();
    CGSize bounds = layer->bounds().size;
    if (!image || bounds.width == 0 || bounds.height == 0) return false;
    CGSize size = image->size();
    CGPoint q{point.x * size.width / bounds.width, point.y * size.height / bounds.height};
    Ref<UIColor> colour = UIImage_ColorAtPixel::colorAtPixel(image, q);
    CGFloat r = 0, g = 0, b = 0, a = 0;
    if (!colour || !colour->getRed(&r, &g, &b, &a)) return false;
    return a > 0.4;
}

void CarViewController::upSuspensionButtonTapped(const Ref<NSObject>&) {
    NS_ASSERT_MAIN_THREAD();
    if (selectedCar_) selectedCar_->setSuspensionSwitch(false);
    refreshShowcaseWithAngle(currentAngle_);
}

void CarViewController::downSuspensionButtonTapped(const Ref<NSObject>&) {
    NS_ASSERT_MAIN_THREAD();
    if (selectedCar_) selectedCar_->setSuspensionSwitch(true);
    refreshShowcaseWithAngle(currentAngle_);
}
