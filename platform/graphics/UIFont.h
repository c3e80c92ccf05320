#pragma once
// Fonts: a family, a weight, an italic flag and a point size.
//
// Two families exist: the system family (".System UI", faces ".SystemUI-Regular",
// ".SystemUI-Bold", ".SystemUI-Italic" and one per weight, e.g. ".SystemUI-Semibold") and
// "Courier" ("Courier", "Courier-Bold", "Courier-Oblique", "Courier-BoldOblique"), which is
// monospaced. fontWithName knows exactly these names and answers nil for any other, as the
// platform does for a font it does not have. The metrics (line height, ascender...) come from the
// current text measurer (TextMeasurer.h), so they follow the deterministic or real measurer in
// force. Fonts are immutable and may be shared between threads.

#include <string>
#include <vector>

#include "foundation/NSObject.h"
#include "graphics/CGGeometry.h"

using UIFontWeight = CGFloat;
inline constexpr UIFontWeight UIFontWeightUltraLight = -0.8;
inline constexpr UIFontWeight UIFontWeightThin = -0.6;
inline constexpr UIFontWeight UIFontWeightLight = -0.4;
inline constexpr UIFontWeight UIFontWeightRegular = 0.0;
inline constexpr UIFontWeight UIFontWeightMedium = 0.23;
inline constexpr UIFontWeight UIFontWeightSemibold = 0.3;
inline constexpr UIFontWeight UIFontWeightBold = 0.4;
inline constexpr UIFontWeight UIFontWeightHeavy = 0.56;
inline constexpr UIFontWeight UIFontWeightBlack = 0.62;

using UIFontTextStyle = std::string;
extern const UIFontTextStyle UIFontTextStyleLargeTitle;   // 34
extern const UIFontTextStyle UIFontTextStyleTitle1;       // 28
extern const UIFontTextStyle UIFontTextStyleTitle2;       // 22
extern const UIFontTextStyle UIFontTextStyleTitle3;       // 20
extern const UIFontTextStyle UIFontTextStyleHeadline;     // 17, semibold
extern const UIFontTextStyle UIFontTextStyleBody;         // 17
extern const UIFontTextStyle UIFontTextStyleCallout;      // 16
extern const UIFontTextStyle UIFontTextStyleSubheadline;  // 15
extern const UIFontTextStyle UIFontTextStyleFootnote;     // 13
extern const UIFontTextStyle UIFontTextStyleCaption1;     // 12
extern const UIFontTextStyle UIFontTextStyleCaption2;     // 11

class UIFont : public NSObject {
  public:
    enum class Family { System, Courier };
    UIFont(Family family, CGFloat pointSize, UIFontWeight weight, bool italic);

    static Ref<UIFont> systemFontOfSize(CGFloat size);
    static Ref<UIFont> boldSystemFontOfSize(CGFloat size);
    static Ref<UIFont> italicSystemFontOfSize(CGFloat size);
    static Ref<UIFont> systemFontOfSize(CGFloat size, UIFontWeight weight);
    // nullptr for a name outside the list above.
    static Ref<UIFont> fontWithName(const std::string& name, CGFloat size);
    // The body size of the style (list above); an unknown style gives the body font.
    static Ref<UIFont> preferredFontForTextStyle(const UIFontTextStyle& style);
    static std::vector<std::string> familyNames();
    static std::vector<std::string> fontNamesForFamilyName(const std::string& family);
    static CGFloat systemFontSize() { return 14; }
    static CGFloat smallSystemFontSize() { return 12; }
    static CGFloat labelFontSize() { return 17; }
    static CGFloat buttonFontSize() { return 18; }

    Ref<UIFont> fontWithSize(CGFloat size) const;

    std::string fontName() const;
    std::string familyName() const;
    CGFloat pointSize() const { return pointSize_; }
    UIFontWeight weight() const { return weight_; }
    Family family() const { return family_; }
    bool isBold() const { return weight_ >= UIFontWeightSemibold; }
    bool isItalic() const { return italic_; }
    bool isMonospaced() const { return family_ == Family::Courier; }

    // From the current measurer. lineHeight = ascender - descender + leading.
    CGFloat lineHeight() const;
    CGFloat ascender() const;
    CGFloat descender() const;  // negative
    CGFloat leading() const;
    CGFloat capHeight() const;
    CGFloat xHeight() const;

    std::string className() const override { return "UIFont"; }
    // "<UIFont: 0x...> font-family: \".System UI\"; font-weight: bold; font-style: normal;
    // font-size: 17.00pt"
    std::string description() const override;
    // Same face and size.
    bool isEqual(const NSObject& other) const override;
    std::size_t hash() const override;

  private:
    Family family_;
    CGFloat pointSize_;
    UIFontWeight weight_;
    bool italic_;
};
