#include "graphics/CGGradient.h"

#include <algorithm>
#include <cmath>

CGGradient::CGGradient(CGColorSpaceRef space, std::vector<Stop> stops)
    : space_(std::move(space)), stops_(std::move(stops)) {
    std::stable_sort(stops_.begin(), stops_.end(),
                     [](const Stop& a, const Stop& b) { return a.location < b.location; });
}

namespace {

CGFloat locationAt(const CGFloat* locations, std::size_t i, std::size_t count) {
    if (locations) {
        CGFloat v = locations[i];
        return std::isnan(v) ? 0 : std::clamp(v, 0.0, 1.0);
    }
    return count > 1 ? CGFloat(i) / CGFloat(count - 1) : 0;
}

}  // namespace

CGGradientRef CGGradientCreateWithColorComponents(const CGColorSpaceRef& space, const CGFloat* components,
                                                  const CGFloat* locations, std::size_t count) {
    if (!space || !components || count == 0) return nullptr;
    std::size_t n = CGColorSpaceModelComponentCount(space->model());
    if (n == 0) return nullptr;
    std::vector<CGGradient::Stop> stops;
    stops.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        CGColor color(space, std::vector<CGFloat>(components + i * (n + 1), components + (i + 1) * (n + 1)));
        auto rgba = color.rgba();
        for (auto& v : rgba) v = std::isnan(v) ? 0 : std::clamp(v, 0.0, 1.0);
        stops.push_back({locationAt(locations, i, count), rgba});
    }
    return make<CGGradient>(space, std::move(stops));
}

CGGradientRef CGGradientCreateWithColors(const CGColorSpaceRef& space, const std::vector<CGColorRef>& colors,
                                         const CGFloat* locations) {
    if (colors.empty()) return nullptr;
    std::vector<CGGradient::Stop> stops;
    stops.reserve(colors.size());
    for (std::size_t i = 0; i < colors.size(); ++i) {
        if (!colors[i]) return nullptr;
        stops.push_back({locationAt(locations, i, colors.size()), colors[i]->rgba()});
    }
    return make<CGGradient>(space ? space : colors.front()->colorSpace(), std::move(stops));
}
