#pragma once
// The platform constraint the builder makes: an ordinary layout constraint that also carries a
// debug key (any object), which the debug descriptions print in place of the address.

#include "foundation/Value.h"
#include "uikit/NSLayoutConstraint.h"

class LKLayoutConstraint : public NSLayoutConstraint {
  public:
    using NSLayoutConstraint::NSLayoutConstraint;
    std::string className() const override { return "LKLayoutConstraint"; }

    // constraintWithItem:attribute:relatedBy:toItem:attribute:multiplier:constant:, answering a
    // constraint of this class.
    static Ref<LKLayoutConstraint>
    constraintWithItem(const Ref<NSObject>& firstItem, NSLayoutAttribute firstAttribute,
                       NSLayoutRelation relation, const Ref<NSObject>& secondItem,
                       NSLayoutAttribute secondAttribute, CGFloat multiplier, CGFloat constant);

    const Value& lk_key() const { return key_; }
    void setMas_key(const Value& key) { key_ = key; }

  private:
    Value key_;
};
