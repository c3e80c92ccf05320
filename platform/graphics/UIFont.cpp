#include "graphics/UIFont.h"

#include <cmath>
#include <cstdio>
#include <functional>

#include "graphics/TextMeasurer.h"

const UIFontTextStyle UIFontTextStyleLargeTitle = "UICTFontTextStyleTitle0";
const UIFontTextStyle UIFontTextStyleTitle1 = "UICTFontTextStyleTitle1";
const UIFontTextStyle UIFontTextStyleTitle2 = "UICTFontTextStyleTitle2";
const UIFontTextStyle UIFontTextStyleTitle3 = "UICTFontTextStyleTitle3";
const UIFontTextStyle UIFontTextStyleHeadline = "UICTFontTextStyleHeadline";
const UIFontTextStyle UIFontTextStyleBody = "UICTFontTextStyleBody";
const UIFontTextStyle UIFontTextStyleCallout = "UICTFontTextStyleCallout";
const UIFontTextStyle UIFontTextStyleSubheadline = "UICTFontTextStyleSubhead";
const UIFontTextStyle UIFontTextStyleFootnote = "UICTFontTextStyleFootnote";
const UIFontTextStyle UIFontTextStyleCaption1 = "UICTFontTextStyleCaption1";
const UIFontTextStyle UIFontTextStyleCaption2 = "UICTFontTextStyleCaption2";

namespace {

const char* const kSystemFamily = ".System UI";

struct WeightName {
    const char* suffix;
    UIFontWeight weight;
};
constexpr WeightName kWeights[] = {
    {"Ultralight", UIFontWeightUltraLight},
    {"Thin", UIFontWeightThin},
    {"Light", UIFontWeightLight},
    {"Regular", UIFontWeightRegular},
    {"Medium", UIFontWeightMedium},
    {"Semibold", UIFontWeightSemibold},
    {"Bold", UIFontWeightBold},
    {"Heavy", UIFontWeightHeavy},
    {"Black", UIFontWeightBlack},
};

// The named weight closest to w.
const WeightName& nearestWeight(UIFontWeight w) {
    const WeightName* best = &kWeights[3];
    for (const auto& entry : kWeights) {
        if (std::fabs(entry.weight - w) < std::fabs(best->weight - w)) best = &entry;
    }
    return *best;
}

CGFloat validSize(CGFloat size) {
    return (std::isfinite(size) && size > 0) ? size : 12;
}

}  // namespace

UIFont::UIFont(Family family, CGFloat pointSize, UIFontWeight weight, bool italic)
    : family_(family), pointSize_(validSize(pointSize)), weight_(weight), italic_(italic) {}

Ref<UIFont> UIFont::systemFontOfSize(CGFloat size) {
    return make<UIFont>(Family::System, size, UIFontWeightRegular, false);
}

Ref<UIFont> UIFont::boldSystemFontOfSize(CGFloat size) {
    return make<UIFont>(Family::System, size, UIFontWeightBold, false);
}

Ref<UIFont> UIFont::italicSystemFontOfSize(CGFloat size) {
    return make<UIFont>(Family::System, size, UIFontWeightRegular, true);
}

Ref<UIFont> UIFont::systemFontOfSize(CGFloat size, UIFontWeight weight) {
    return make<UIFont>(Family::System, size, nearestWeight(weight).weight, false);
}

Ref<UIFont> UIFont::fontWithName(const std::string& name, CGFloat size) {
    if (name == "Courier") return make<UIFont>(Family::Courier, size, UIFontWeightRegular, false);
    if (name == "Courier-Bold") return make<UIFont>(Family::Courier, size, UIFontWeightBold, false);
    if (name == "Courier-Oblique") return make<UIFont>(Family::Courier, size, UIFontWeightRegular, true);
    if (name == "Courier-BoldOblique") return make<UIFont>(Family::Courier, size, UIFontWeightBold, true);
    const std::string prefix = ".SystemUI-";
    if (name.rfind(prefix, 0) == 0) {
        std::string suffix = name.substr(prefix.size());
        if (suffix == "Italic") return italicSystemFontOfSize(size);
        for (const auto& entry : kWeights) {
            if (suffix == entry.suffix) return make<UIFont>(Family::System, size, entry.weight, false);
        }
    }
    return nullptr;
}

Ref<UIFont> UIFont::preferredFontForTextStyle(const UIFontTextStyle& style) {
    struct Entry {
        const UIFontTextStyle* style;
        CGFloat size;
        UIFontWeight weight;
    };
    const Entry entries[] = {
        {&UIFontTextStyleLargeTitle, 34, UIFontWeightRegular},
        {&UIFontTextStyleTitle1, 28, UIFontWeightRegular},
        {&UIFontTextStyleTitle2, 22, UIFontWeightRegular},
        {&UIFontTextStyleTitle3, 20, UIFontWeightRegular},
        {&UIFontTextStyleHeadline, 17, UIFontWeightSemibold},
        {&UIFontTextStyleBody, 17, UIFontWeightRegular},
        {&UIFontTextStyleCallout, 16, UIFontWeightRegular},
        {&UIFontTextStyleSubheadline, 15, UIFontWeightRegular},
        {&UIFontTextStyleFootnote, 13, UIFontWeightRegular},
        {&UIFontTextStyleCaption1, 12, UIFontWeightRegular},
        {&UIFontTextStyleCaption2, 11, UIFontWeightRegular},
    };
    for (const auto& e : entries) {
        if (*e.style == style) return make<UIFont>(Family::System, e.size, e.weight, false);
    }
    return systemFontOfSize(17);
}

std::vector<std::string> UIFont::familyNames() {
    return {kSystemFamily, "Courier"};
}

std::vector<std::string> UIFont::fontNamesForFamilyName(const std::string& family) {
    if (family == "Courier") return {"Courier", "Courier-Bold", "Courier-Oblique", "Courier-BoldOblique"};
    if (family == kSystemFamily) {
        std::vector<std::string> names;
        for (const auto& entry : kWeights) names.push_back(std::string(".SystemUI-") + entry.suffix);
        names.push_back(".SystemUI-Italic");
        return names;
    }
    return {};
}

Ref<UIFont> UIFont::fontWithSize(CGFloat size) const {
    return make<UIFont>(family_, size, weight_, italic_);
}

std::string UIFont::fontName() const {
    if (family_ == Family::Courier) {
        if (isBold()) return italic_ ? "Courier-BoldOblique" : "Courier-Bold";
        return italic_ ? "Courier-Oblique" : "Courier";
    }
    if (italic_ && weight_ == UIFontWeightRegular) return ".SystemUI-Italic";
    return std::string(".SystemUI-") + nearestWeight(weight_).suffix;
}

std::string UIFont::familyName() const {
    return family_ == Family::Courier ? "Courier" : kSystemFamily;
}

CGFloat UIFont::lineHeight() const {
    auto m = TextMeasurer::current().metrics(*this);
    return m.ascender - m.descender + m.leading;
}
CGFloat UIFont::ascender() const {
    return TextMeasurer::current().metrics(*this).ascender;
}
CGFloat UIFont::descender() const {
    return TextMeasurer::current().metrics(*this).descender;
}
CGFloat UIFont::leading() const {
    return TextMeasurer::current().metrics(*this).leading;
}
CGFloat UIFont::capHeight() const {
    return TextMeasurer::current().metrics(*this).capHeight;
}
CGFloat UIFont::xHeight() const {
    return TextMeasurer::current().metrics(*this).xHeight;
}

std::string UIFont::description() const {
    char buffer[256];
    std::snprintf(buffer, sizeof buffer,
                  "<UIFont: %p> font-family: \"%s\"; font-weight: %s; font-style: %s; font-size: %.2fpt",
                  static_cast<const void*>(this), familyName().c_str(), isBold() ? "bold" : "normal",
                  italic_ ? "italic" : "normal", pointSize_);
    return buffer;
}

bool UIFont::isEqual(const NSObject& other) const {
    auto o = dynamic_cast<const UIFont*>(&other);
    return o && o->family_ == family_ && o->pointSize_ == pointSize_ && o->weight_ == weight_ &&
           o->italic_ == italic_;
}

std::size_t UIFont::hash() const {
    return std::hash<CGFloat>()(pointSize_) * 31 + std::hash<CGFloat>()(weight_) * 7 + (italic_ ? 1 : 0) +
           (family_ == Family::Courier ? 2 : 0);
}
