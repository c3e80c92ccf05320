#include "graphics/NSParagraphStyle.h"

#include <functional>

Ref<NSParagraphStyle> NSParagraphStyle::defaultParagraphStyle() {
    static const Ref<NSParagraphStyle> style = make<NSParagraphStyle>();
    return style;
}

void NSParagraphStyle::copyFrom(const NSParagraphStyle& other) {
    lineBreakMode_ = other.lineBreakMode_;
    alignment_ = other.alignment_;
    lineSpacing_ = other.lineSpacing_;
    paragraphSpacing_ = other.paragraphSpacing_;
    minimumLineHeight_ = other.minimumLineHeight_;
    maximumLineHeight_ = other.maximumLineHeight_;
}

Ref<NSParagraphStyle> NSParagraphStyle::copy() const {
    auto style = make<NSParagraphStyle>();
    style->copyFrom(*this);
    return style;
}

Ref<NSMutableParagraphStyle> NSParagraphStyle::mutableCopy() const {
    auto style = make<NSMutableParagraphStyle>();
    style->copyFrom(*this);
    return style;
}

bool NSParagraphStyle::isEqual(const NSObject& other) const {
    auto o = dynamic_cast<const NSParagraphStyle*>(&other);
    return o && o->lineBreakMode_ == lineBreakMode_ && o->alignment_ == alignment_ &&
           o->lineSpacing_ == lineSpacing_ && o->paragraphSpacing_ == paragraphSpacing_ &&
           o->minimumLineHeight_ == minimumLineHeight_ && o->maximumLineHeight_ == maximumLineHeight_;
}

std::size_t NSParagraphStyle::hash() const {
    return std::hash<int>()(lineBreakMode_) * 31 + std::hash<int>()(alignment_) * 7 +
           std::hash<CGFloat>()(lineSpacing_);
}
