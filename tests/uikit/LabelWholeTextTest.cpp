// Labels sized by their own text under the real measurer, the one that draws: whatever the font,
// a label made as big as its text asks shows all of it, with no "…", no dropped line and no
// glyph cut, for strings that mix Chinese with Latin letters, digits and signs. One-line labels
// are sized by sizeToFit and by their intrinsic size; wrapped ones by sizeThatFits, by the
// preferred layout width and by a measured bounding rectangle placed at a fractional origin, as
// list rows place them.

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <string>
#include <vector>

#include "graphics/NSAttributedString.h"
#include "graphics/NSStringDrawing.h"
#include "tests/support/LabelPictures.h"
#include "tests/uikit/UIKitTestSupport.h"
#include "uikit/UILabel.h"

namespace {

const std::vector<std::string> kTexts = {
    "改装 GT 宽体效果",         "@车友小王:多少钱一套?",     "ET45→ET40, 轮毂 18×8.5J 会顶吗",
    "碳纤维(Carbon)前唇 ¥1999", "A/B 对比: 原厂 vs. 改装后", "手机拍的改装照片 #2",
};

struct FontCase {
    const char* name;
    Ref<UIFont> (*make)();
    CGFloat kern;
};

const std::vector<FontCase> kFonts = {
    {"system 15", [] { return UIFont::systemFontOfSize(15); }, 0},
    {"system 12", [] { return UIFont::systemFontOfSize(12); }, 0},
    {"bold 17", [] { return UIFont::boldSystemFontOfSize(17); }, 0},
    {"italic 13", [] { return UIFont::italicSystemFontOfSize(13); }, 0},
    {"Courier-Bold 14", [] { return UIFont::fontWithName("Courier-Bold", 14); }, 0},
    {"system 16, kern 1.5", [] { return UIFont::systemFontOfSize(16); }, 1.5},
};

class LabelWholeTextTest : public uikittest::UIKitTest {
  protected:
    void SetUp() override {
        UIKitTest::SetUp();
        TextMeasurer::useDeterministic(false);
    }

    static Ref<UILabel> labelFor(const std::string& text, const FontCase& font, long lines) {
        auto label = make<UILabel>(CGRectMake(3.5, 2.25, 10, 10));
        if (font.kern != 0) {
            label->setAttributedText(
                make<NSAttributedString>(text, Dictionary{{NSFontAttributeName, Value(font.make())},
                                                          {NSKernAttributeName, font.kern}}));
        } else {
            label->setFont(font.make());
            label->setText(text);
        }
        label->setNumberOfLines(lines);
        return label;
    }

    // The label draws every character: one layout of what it shows, nothing truncated, and the
    // characters of its lines are those of its text (line ends drop only spaces).
    static ::testing::AssertionResult showsWholeText(const Ref<UILabel>& label, std::size_t lines = 0) {
        TextLayout layout = label->currentLayout();
        std::string shown;
        for (const TextLine& line : layout.lines) shown += line.text;
        auto squeeze = [](std::string s) {
            s.erase(std::remove(s.begin(), s.end(), ' '), s.end());
            return s;
        };
        if (layout.truncated || squeeze(shown) != squeeze(*label->text()) ||
            (lines > 0 && layout.lines.size() != lines)) {
            return ::testing::AssertionFailure()
                   << "a label of " << NSStringFromCGRect(label->frame()) << " shows \"" << shown << "\" in "
                   << layout.lines.size() << " lines" << (layout.truncated ? ", truncated" : "");
        }
        return ::testing::AssertionSuccess();
    }
};

TEST_F(LabelWholeTextTest, OneLineLabelsSizedByTheirTextShowItAll) {
    for (const FontCase& font : kFonts) {
        for (const std::string& text : kTexts) {
            SCOPED_TRACE(std::string(font.name) + ": " + text);
            auto label = labelFor(text, font, 1);
            label->sizeToFit();
            EXPECT_TRUE(showsWholeText(label, 1));
            EXPECT_TRUE(testsupport::drawsWholeText(label));

            auto intrinsic = labelFor(text, font, 1);
            CGSize size = intrinsic->intrinsicContentSize();
            EXPECT_EQ(size, label->frame().size);
            intrinsic->setFrame(CGRect{{56.3, 40.7}, size});
            EXPECT_TRUE(showsWholeText(intrinsic, 1));
        }
    }
}

TEST_F(LabelWholeTextTest, WrappedLabelsSizedByTheirTextShowEveryLine) {
    for (const FontCase& font : kFonts) {
        for (const std::string& text : kTexts) {
            for (CGFloat width : {70.0, 96.5, 150.0}) {
                SCOPED_TRACE(std::string(font.name) + ", " + std::to_string(width) + " wide: " + text);
                auto label = labelFor(text, font, 0);
                CGSize size = label->sizeThatFits(CGSizeMake(width, FLT_MAX));
                label->setFrame(CGRect{{8.5, 61.25}, size});
                EXPECT_TRUE(showsWholeText(label));
                EXPECT_TRUE(testsupport::drawsWholeText(label)) << "(sizeThatFits)";

                auto preferred = labelFor(text, font, 0);
                preferred->setPreferredMaxLayoutWidth(width);
                preferred->setFrame(CGRect{{0, 0}, preferred->intrinsicContentSize()});
                EXPECT_TRUE(showsWholeText(preferred));

                // As a list row sizes its title: the unrounded bounding rectangle of the text in the
                // row's font, the label placed beside an avatar.
                auto measured = labelFor(text, font, 0);
                CGRect box = NSStringDrawing::boundingRectWithSize(*measured->attributedText(),
                                                                   CGSizeMake(width, FLT_MAX),
                                                                   NSStringDrawingUsesLineFragmentOrigin);
                measured->setFrame(CGRectMake(56.1 + 0.7, 37.3, box.size.width, box.size.height));
                EXPECT_TRUE(showsWholeText(measured));
                EXPECT_TRUE(testsupport::drawsWholeText(measured)) << "(bounding rectangle)";
            }
        }
    }
}

}  // namespace
