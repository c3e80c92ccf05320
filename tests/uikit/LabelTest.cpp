// Labels: sizes from the deterministic measurer (0.5 em per Latin character, 1 em per CJK
// character, line height 1.2 em), line limits, truncation, shrink-to-fit and the text views.

#include <gtest/gtest.h>

#include "foundation/NSKeyValueObserving.h"
#include "graphics/NSAttributedString.h"
#include "tests/uikit/UIKitTestSupport.h"
#include "uikit/UILabel.h"

namespace {

class LabelTest : public uikittest::UIKitTest {
  protected:
    void SetUp() override {
        UIKitTest::SetUp();
        ASSERT_TRUE(TextMeasurer::usesDeterministic());
        label = make<UILabel>(CGRectMake(0, 0, 100, 40));
        label->setFont(UIFont::systemFontOfSize(10));
    }
    Ref<UILabel> label;
};

TEST_F(LabelTest, Defaults) {
    auto fresh = make<UILabel>();
    EXPECT_FALSE(fresh->text());
    EXPECT_EQ(fresh->attributedText(), nullptr);
    EXPECT_DOUBLE_EQ(fresh->font()->pointSize(), 17);
    EXPECT_TRUE(fresh->textColor()->isEqual(*UIColor::blackColor()));
    EXPECT_EQ(fresh->numberOfLines(), 1);
    EXPECT_EQ(fresh->lineBreakMode(), NSLineBreakByTruncatingTail);
    EXPECT_FALSE(fresh->isUserInteractionEnabled());
    fresh->setFont(nullptr);
    EXPECT_DOUBLE_EQ(fresh->font()->pointSize(), 17);
}

TEST_F(LabelTest, SizesRoundUpToWholePoints) {
    label->setText(std::string("abc"));  // 3 × 5 = 15 wide, 12 high
    EXPECT_EQ(label->sizeThatFits(CGSizeMake(100, 100)), CGSizeMake(15, 12));
    EXPECT_EQ(label->intrinsicContentSize(), CGSizeMake(15, 12));
    label->setFont(UIFont::systemFontOfSize(15));  // 22.5 × 18
    EXPECT_EQ(label->intrinsicContentSize(), CGSizeMake(23, 18));
    label->setText(std::string("汽车改装"));  // four wide characters
    EXPECT_EQ(label->intrinsicContentSize(), CGSizeMake(60, 18));
}

TEST_F(LabelTest, EmptyOrNilTextHasNoSize) {
    EXPECT_EQ(label->sizeThatFits(CGSizeMake(100, 100)), CGSizeZero);
    label->setText(std::string());
    EXPECT_EQ(label->intrinsicContentSize(), CGSizeZero);
    EXPECT_EQ(label->textRectForBounds(label->bounds(), 1).size, CGSizeZero);
}

TEST_F(LabelTest, OneLineIgnoresTheWidthButManyLinesWrap) {
    label->setText(std::string("aaaa bbbb cccc"));  // 12 letters and 2 spaces: 65 wide
    EXPECT_EQ(label->sizeThatFits(CGSizeMake(30, 0)), CGSizeMake(65, 12));
    label->setNumberOfLines(0);
    EXPECT_EQ(label->sizeThatFits(CGSizeMake(30, 0)), CGSizeMake(20, 36));
    label->setNumberOfLines(2);
    EXPECT_EQ(label->sizeThatFits(CGSizeMake(30, 0)).height, 24);
    label->setPreferredMaxLayoutWidth(45);
    EXPECT_EQ(label->intrinsicContentSize(), CGSizeMake(43, 24));  // "aaaa bbbb" is 42.5 wide
}

TEST_F(LabelTest, TextRectStaysInsideTheBounds) {
    label->setText(std::string("a very long line of text that cannot fit"));
    CGRect rect = label->textRectForBounds(CGRectMake(5, 5, 60, 40), 1);
    EXPECT_EQ(rect.origin, CGPointMake(5, 5));
    EXPECT_LE(rect.size.width, 60);
    EXPECT_DOUBLE_EQ(rect.size.height, 12);
}

TEST_F(LabelTest, TailTruncationShowsAnEllipsis) {
    label->setFrame(CGRectMake(0, 0, 40, 20));
    label->setText(std::string("abcdefghijklmnop"));
    TextLayout layout = label->currentLayout();
    ASSERT_EQ(layout.lines.size(), 1u);
    EXPECT_TRUE(layout.truncated);
    const std::string& shown = layout.lines[0].text;
    ASSERT_GE(shown.size(), 3u);
    EXPECT_EQ(shown.substr(shown.size() - 3), "…");
    EXPECT_EQ(shown.rfind("abc", 0), 0u);
    label->setLineBreakMode(NSLineBreakByClipping);
    EXPECT_EQ(label->currentLayout().lines[0].text.find("…"), std::string::npos);
}

TEST_F(LabelTest, ShrinkToFitScalesTheFontDownToItsLimit) {
    label->setFrame(CGRectMake(0, 0, 50, 20));
    label->setText(std::string("abcdefghij"));  // 50 wide at 10 points: fits
    label->setAdjustsFontSizeToFitWidth(true);
    EXPECT_DOUBLE_EQ(label->fontForDrawing()->pointSize(), 10);
    label->setText(std::string("abcdefghijklmnopqrst"));  // 100 wide: needs half the size
    EXPECT_NEAR(label->fontForDrawing()->pointSize(), 5, 0.01);
    label->setMinimumScaleFactor(0.8);
    EXPECT_NEAR(label->fontForDrawing()->pointSize(), 8, 0.01);
    EXPECT_NEAR(label->minimumFontSize(), 8, 1e-9);
    label->setAdjustsFontSizeToFitWidth(false);
    EXPECT_DOUBLE_EQ(label->fontForDrawing()->pointSize(), 10);
}

TEST_F(LabelTest, AttributedTextAndTextAreOneContent) {
    auto attributed = make<NSAttributedString>(
        "改装", Dictionary{{NSFontAttributeName, Value(UIFont::systemFontOfSize(20))}});
    label->setAttributedText(attributed);
    EXPECT_EQ(label->text(), std::optional<std::string>("改装"));
    EXPECT_EQ(label->intrinsicContentSize(), CGSizeMake(40, 24));  // the attributed font wins
    label->setText(std::string("ab"));
    EXPECT_EQ(label->intrinsicContentSize(), CGSizeMake(10, 12));
    auto built = label->attributedText();
    ASSERT_TRUE(built);
    EXPECT_EQ(built->string(), "ab");
    EXPECT_TRUE(built->attributeAtIndex(NSFontAttributeName, 0).objectAs<UIFont>()->isEqual(*label->font()));
    label->setAttributedText(nullptr);
    EXPECT_FALSE(label->text());
}

TEST_F(LabelTest, TextChangesAreObservable) {
    std::vector<Value> seen;
    auto token = KVO::observe(*label, "text", NSKeyValueObservingOptionNew,
                              [&](const Ref<NSObject>&, const Dictionary& change) {
                                  seen.push_back(change[NSKeyValueChangeNewKey]);
                              });
    label->setText(std::string("x"));
    label->setText(std::nullopt);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(*seen[0].string(), "x");
    EXPECT_TRUE(seen[1].isNull() || seen[1].isNil());
}

TEST_F(LabelTest, SizeToFitKeepsTheOrigin) {
    label->setFrame(CGRectMake(7, 9, 300, 300));
    label->setText(std::string("abcd"));
    label->sizeToFit();
    EXPECT_RECT(label->frame(), 7, 9, 20, 12);
}

TEST_F(LabelTest, ChangesAskForRedisplay) {
    label->displayNow();
    EXPECT_FALSE(label->needsDisplay());
    label->setTextColor(UIColor::redColor());
    EXPECT_TRUE(label->needsDisplay());
}

}  // namespace
