#include "controls/NSArray+LKAdditions.h"

namespace NSArray_LKAdditions {

namespace {
using Entry = std::vector<Ref<LKConstraint>> (*)(const Ref<UIView>&, const UIView_LKAdditions::MakerBlock&);

std::vector<Ref<LKConstraint>> each(const std::vector<Ref<UIView>>& views,
                                    const UIView_LKAdditions::MakerBlock& block, Entry entry) {
    std::vector<Ref<LKConstraint>> all;
    for (const auto& view : views) {
        auto installed = entry(view, block);
        all.insert(all.end(), installed.begin(), installed.end());
    }
    return all;
}
}  // namespace

std::vector<Ref<LKConstraint>> lk_makeConstraints(const std::vector<Ref<UIView>>& views,
                                                  const UIView_LKAdditions::MakerBlock& block) {
    return each(views, block, &UIView_LKAdditions::lk_makeConstraints);
}

std::vector<Ref<LKConstraint>> lk_updateConstraints(const std::vector<Ref<UIView>>& views,
                                                    const UIView_LKAdditions::MakerBlock& block) {
    return each(views, block, &UIView_LKAdditions::lk_updateConstraints);
}

std::vector<Ref<LKConstraint>> lk_remakeConstraints(const std::vector<Ref<UIView>>& views,
                                                    const UIView_LKAdditions::MakerBlock& block) {
    return each(views, block, &UIView_LKAdditions::lk_remakeConstraints);
}

}  // namespace NSArray_LKAdditions
