#include "controls/LKViewAttribute.h"

#include <cstdint>

LKViewAttribute::LKViewAttribute(const Ref<UIView>& view, NSLayoutAttribute layoutAttribute)
    : LKViewAttribute(view, view, layoutAttribute) {}

LKViewAttribute::LKViewAttribute(const Ref<UIView>& view, const Ref<NSObject>& item,
                                 NSLayoutAttribute layoutAttribute)
    : view_(view), item_(item), layoutAttribute_(layoutAttribute) {}

bool LKViewAttribute::isSizeAttribute() const {
    return layoutAttribute_ == NSLayoutAttributeWidth || layoutAttribute_ == NSLayoutAttributeHeight;
}

bool LKViewAttribute::isEqual(const NSObject& other) const {
    auto attribute = dynamic_cast<const LKViewAttribute*>(&other);
    if (!attribute) return this == &other;
    return view().get() == attribute->view().get() && layoutAttribute_ == attribute->layoutAttribute_;
}

std::size_t LKViewAttribute::hash() const {
    auto view = this->view();
    std::uint64_t viewHash = view ? static_cast<std::uint64_t>(view->hash()) : 0;
    std::uint64_t rotated = (viewHash << 32) | (viewHash >> 32);
    return static_cast<std::size_t>(rotated ^ static_cast<std::uint64_t>(layoutAttribute_));
}
