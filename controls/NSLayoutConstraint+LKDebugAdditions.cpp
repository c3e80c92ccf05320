#include "controls/NSLayoutConstraint+LKDebugAdditions.h"

#include <cmath>
#include <mutex>

#include "controls/LKLayoutConstraint.h"
#include "controls/UIView+LKAdditions.h"
#include "foundation/NSString.h"
#include "foundation/Value.h"

namespace NSLayoutConstraint_LKDebugAdditions {

const std::map<long, std::string>& layoutRelationDescriptionsByValue() {
    static const std::map<long, std::string> table{
        {NSLayoutRelationEqual, "=="},
        {NSLayoutRelationGreaterThanOrEqual, ">="},
        {NSLayoutRelationLessThanOrEqual, "<="},
    };
    return table;
}

const std::map<long, std::string>& layoutAttributeDescriptionsByValue() {
    static const std::map<long, std::string> table{
        {NSLayoutAttributeTop, "top"},
        {NSLayoutAttributeLeft, "left"},
        {NSLayoutAttributeBottom, "bottom"},
        {NSLayoutAttributeRight, "right"},
        {NSLayoutAttributeLeading, "leading"},
        {NSLayoutAttributeTrailing, "trailing"},
        {NSLayoutAttributeWidth, "width"},
        {NSLayoutAttributeHeight, "height"},
        {NSLayoutAttributeCenterX, "centerX"},
        {NSLayoutAttributeCenterY, "centerY"},
        {NSLayoutAttributeBaseline, "baseline"},
        {NSLayoutAttributeLeftMargin, "leftMargin"},
        {NSLayoutAttributeRightMargin, "rightMargin"},
        {NSLayoutAttributeTopMargin, "topMargin"},
        {NSLayoutAttributeBottomMargin, "bottomMargin"},
        {NSLayoutAttributeLeadingMargin, "leadingMargin"},
        {NSLayoutAttributeTrailingMargin, "trailingMargin"},
        {NSLayoutAttributeCenterXWithinMargins, "centerXWithinMargins"},
        {NSLayoutAttributeCenterYWithinMargins, "centerYWithinMargins"},
    };
    return table;
}

const std::map<float, std::string>& layoutPriorityDescriptionsByValue() {
    static const std::map<float, std::string> table{
        {UILayoutPriorityDefaultHigh, "high"},
        {UILayoutPriorityDefaultLow, "low"},
        {500.0f, "medium"},
        {UILayoutPriorityRequired, "required"},
        {UILayoutPriorityFittingSizeLevel, "fitting size"},
    };
    return table;
}

namespace {

// The debug key of the objects that have one; nil for the rest.
Value debugKeyOf(const NSObject* object) {
    if (auto view = dynamic_cast<const UIView*>(object)) return UIView_LKAdditions::lk_key(*view);
    if (auto constraint = dynamic_cast<const LKLayoutConstraint*>(object)) return constraint->lk_key();
    return Value();
}

// The platform's "%@" of a name-table lookup: the name, or "(null)" without an entry.
template <class Table, class Key>
std::string nameOrNull(const Table& table, Key key) {
    auto it = table.find(key);
    return it == table.end() ? std::string("(null)") : it->second;
}

}  // namespace

std::string descriptionForObject(const NSObject* object) {
    if (!object) return "(null):0x0";
    Value key = debugKeyOf(object);
    if (!key.isNil()) return NSString::stringWithFormat("%@:%@", object->className(), key);
    return NSString::stringWithFormat("%@:%p", object->className(), static_cast<const void*>(object));
}

std::string descriptionForObject(const Ref<NSObject>& object) {
    return descriptionForObject(object.get());
}

std::string description(const NSLayoutConstraint& constraint) {
    std::string text = "<";
    text += descriptionForObject(&constraint);

    text += " " + descriptionForObject(constraint.firstItem());
    if (constraint.firstAttribute() != NSLayoutAttributeNotAnAttribute) {
        text += "." + nameOrNull(layoutAttributeDescriptionsByValue(),
                                 static_cast<long>(constraint.firstAttribute()));
    }

    text += " " + nameOrNull(layoutRelationDescriptionsByValue(), static_cast<long>(constraint.relation()));

    if (auto second = constraint.secondItem()) text += " " + descriptionForObject(second);
    if (constraint.secondAttribute() != NSLayoutAttributeNotAnAttribute) {
        text += "." + nameOrNull(layoutAttributeDescriptionsByValue(),
                                 static_cast<long>(constraint.secondAttribute()));
    }

    if (constraint.multiplier() != 1) text += NSString::stringWithFormat(" * %g", constraint.multiplier());

    CGFloat constant = constraint.constant();
    if (constraint.secondAttribute() == NSLayoutAttributeNotAnAttribute) {
        text += NSString::stringWithFormat(" %g", constant);
    } else if (constant != 0) {
        text += NSString::stringWithFormat(" %@ %g", constant < 0 ? "-" : "+", std::fabs(constant));
    }

    float priority = constraint.priority();
    if (priority != UILayoutPriorityRequired) {
        const auto& names = layoutPriorityDescriptionsByValue();
        auto it = names.find(priority);
        text += " ^" + (it != names.end() ? it->second : Value(static_cast<double>(priority)).description());
    }

    text += ">";
    return text;
}

void install() {
    static std::once_flag once;
    std::call_once(once, [] {
        NSLayoutConstraint::setDescriptionHook(
            [](const NSLayoutConstraint& constraint) -> std::optional<std::string> {
                return description(constraint);
            });
    });
}

}  // namespace NSLayoutConstraint_LKDebugAdditions
