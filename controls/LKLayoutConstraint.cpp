#include "controls/LKLayoutConstraint.h"

#include "controls/NSLayoutConstraint+LKDebugAdditions.h"

Ref<LKLayoutConstraint> LKLayoutConstraint::constraintWithItem(const Ref<NSObject>& firstItem,
                                                               NSLayoutAttribute firstAttribute,
                                                               NSLayoutRelation relation,
                                                               const Ref<NSObject>& secondItem,
                                                               NSLayoutAttribute secondAttribute,
                                                               CGFloat multiplier, CGFloat constant) {
    // The compact descriptions apply to every constraint of the process once the builder is used.
    NSLayoutConstraint_LKDebugAdditions::install();
    return make<LKLayoutConstraint>(firstItem, firstAttribute, relation, secondItem, secondAttribute,
                                    multiplier, constant);
}
