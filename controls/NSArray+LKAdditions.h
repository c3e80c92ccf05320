#pragma once
// NSArray(LKAdditions): the builder's entry points for several views at once. The block runs once
// per view, with that view's maker, in order; the result is every view's result, concatenated.

#include <vector>

#include "controls/UIView+LKAdditions.h"

namespace NSArray_LKAdditions {
std::vector<Ref<LKConstraint>> lk_makeConstraints(const std::vector<Ref<UIView>>& views,
                                                  const UIView_LKAdditions::MakerBlock& block);
std::vector<Ref<LKConstraint>> lk_updateConstraints(const std::vector<Ref<UIView>>& views,
                                                    const UIView_LKAdditions::MakerBlock& block);
std::vector<Ref<LKConstraint>> lk_remakeConstraints(const std::vector<Ref<UIView>>& views,
                                                    const UIView_LKAdditions::MakerBlock& block);
}  // namespace NSArray_LKAdditions
