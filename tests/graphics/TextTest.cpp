#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <thread>
#include <vector>

#include "graphics/NSAttributedString.h"
#include "graphics/NSStringDrawing.h"
#include "graphics/TextMeasurer.h"
#include "graphics/UIFont.h"
#include "tests/support/TestSupport.h"

namespace {

Dictionary fontAttrs(CGFloat size, bool bold = false) {
    Dictionary d;
    d.setObject(NSFontAttributeName,
                bold ? UIFont::boldSystemFontOfSize(size) : UIFont::systemFontOfSize(size));
    return d;
}

const CGFloat kFloatMax = std::numeric_limits<float>::max();

// Every test starts and ends on the deterministic measurer.
class TextTest : public ::testing::Test {
  protected:
    void SetUp() override { TextMeasurer::useDeterministic(true); }
    void TearDown() override { TextMeasurer::useDeterministic(true); }
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// Fonts

TEST_F(TextTest, SystemFontsAndNames) {
    auto f = UIFont::systemFontOfSize(15);
    EXPECT_EQ(f->pointSize(), 15);
    EXPECT_EQ(f->fontName(), ".SystemUI-Regular");
    EXPECT_EQ(f->familyName(), ".System UI");
    EXPECT_FALSE(f->isBold());
    auto b = UIFont::boldSystemFontOfSize(16);
    EXPECT_TRUE(b->isBold());
    EXPECT_EQ(b->fontName(), ".SystemUI-Bold");
    EXPECT_TRUE(UIFont::fontWithName(b->fontName(), 16)->isEqual(*b));
    EXPECT_TRUE(UIFont::fontWithName(f->fontName(), 15)->isEqual(*f));
    EXPECT_EQ(UIFont::systemFontOfSize(12, UIFontWeightSemibold)->fontName(), ".SystemUI-Semibold");
    EXPECT_EQ(UIFont::systemFontOfSize(12, 0.29)->weight(), UIFontWeightSemibold);
    EXPECT_FALSE(f->isEqual(*f->fontWithSize(16)));
    EXPECT_EQ(f->hash(), UIFont::systemFontOfSize(15)->hash());
}

TEST_F(TextTest, NamedFontsAndUnknownNames) {
    auto courier = UIFont::fontWithName("Courier-Bold", 14);
    ASSERT_TRUE(courier);
    EXPECT_EQ(courier->fontName(), "Courier-Bold");
    EXPECT_EQ(courier->familyName(), "Courier");
    EXPECT_TRUE(courier->isBold());
    EXPECT_TRUE(courier->isMonospaced());
    EXPECT_FALSE(UIFont::fontWithName("NoSuchFont", 12));
    EXPECT_FALSE(UIFont::fontWithName("", 12));
    EXPECT_FALSE(UIFont::fontWithName(".SystemUI-Nothing", 12));
    EXPECT_EQ(UIFont::fontNamesForFamilyName("Courier").size(), 4u);
    EXPECT_TRUE(UIFont::fontNamesForFamilyName("None").empty());
}

TEST_F(TextTest, PreferredFontsHaveFixedSizes) {
    EXPECT_EQ(UIFont::preferredFontForTextStyle(UIFontTextStyleSubheadline)->pointSize(), 15);
    EXPECT_EQ(UIFont::preferredFontForTextStyle(UIFontTextStyleBody)->pointSize(), 17);
    EXPECT_EQ(UIFont::preferredFontForTextStyle(UIFontTextStyleCaption1)->pointSize(), 12);
    EXPECT_TRUE(UIFont::preferredFontForTextStyle(UIFontTextStyleHeadline)->isBold());
    EXPECT_EQ(UIFont::preferredFontForTextStyle("unknown")->pointSize(), 17);
}

TEST_F(TextTest, BadSizesBecomeTwelve) {
    EXPECT_EQ(UIFont::systemFontOfSize(0)->pointSize(), 12);
    EXPECT_EQ(UIFont::systemFontOfSize(-3)->pointSize(), 12);
    EXPECT_EQ(UIFont::systemFontOfSize(NAN)->pointSize(), 12);
}

TEST_F(TextTest, DeterministicMetrics) {
    auto f = UIFont::systemFontOfSize(20);
    EXPECT_DOUBLE_EQ(f->lineHeight(), 24);
    EXPECT_DOUBLE_EQ(f->ascender(), 19);
    EXPECT_DOUBLE_EQ(f->descender(), -5);
    EXPECT_DOUBLE_EQ(f->leading(), 0);
    EXPECT_DOUBLE_EQ(f->capHeight(), 14);
    EXPECT_NE(f->description().find("font-size: 20.00pt"), std::string::npos);
}

// ---------------------------------------------------------------------------------------------
// Deterministic measurement

TEST_F(TextTest, OneLineSizes) {
    // Latin 0.5 em, space 0.25 em, CJK 1 em.
    EXPECT_EQ(NSStringDrawing::sizeWithAttributes("abc", fontAttrs(10)), CGSizeMake(15, 12));
    EXPECT_EQ(NSStringDrawing::sizeWithAttributes("a b", fontAttrs(10)), CGSizeMake(12.5, 12));
    EXPECT_EQ(NSStringDrawing::sizeWithAttributes("上传中...", fontAttrs(10)), CGSizeMake(45, 12));
    EXPECT_EQ(NSStringDrawing::sizeWithAttributes("", fontAttrs(10)), CGSizeMake(0, 0));
    CGSize fallback = NSStringDrawing::sizeWithAttributes("ab", Dictionary());  // 12 pt by default
    EXPECT_DOUBLE_EQ(fallback.width, 12);
    EXPECT_NEAR(fallback.height, 14.4, 1e-9);
    EXPECT_EQ(NSStringDrawing::sizeWithAttributes("ｅ", fontAttrs(10)).width, 10);        // full-width letter
    EXPECT_EQ(NSStringDrawing::sizeWithAttributes("e\xCC\x81", fontAttrs(10)).width, 5);  // combining accent
}

TEST_F(TextTest, LineBreaksMakeLines) {
    CGSize s = NSStringDrawing::sizeWithAttributes("ab\ncdef\r\ng", fontAttrs(10));
    EXPECT_EQ(s, CGSizeMake(20, 36));
    EXPECT_EQ(NSStringDrawing::sizeWithAttributes("ab\n", fontAttrs(10)).height, 12);  // no empty last line
    EXPECT_EQ(NSStringDrawing::sizeWithAttributes("ab\n\n", fontAttrs(10)).height, 24);
}

TEST_F(TextTest, SizeWithFontRoundsUp) {
    EXPECT_EQ(NSStringDrawing::sizeWithFont("a b", UIFont::systemFontOfSize(10)), CGSizeMake(13, 12));
    EXPECT_EQ(NSStringDrawing::sizeWithFont("abc", UIFont::systemFontOfSize(15)), CGSizeMake(23, 18));
}

TEST_F(TextTest, WrapsAtWordsWithHangingSpaces) {
    auto r = NSStringDrawing::boundingRectWithSize("hello world foo", CGSizeMake(30, kFloatMax),
                                                   NSStringDrawingUsesLineFragmentOrigin, fontAttrs(10));
    // "hello" 25, "world" 25, "foo" 15: each on its own line.
    EXPECT_EQ(r, CGRectMake(0, 0, 25, 36));
    auto wider = NSStringDrawing::boundingRectWithSize("hello world foo", CGSizeMake(52.5, kFloatMax),
                                                       NSStringDrawingUsesLineFragmentOrigin, fontAttrs(10));
    EXPECT_EQ(wider.size, CGSizeMake(52.5, 24));  // "hello world" exactly fits
}

TEST_F(TextTest, LongWordsBreakBetweenCharacters) {
    auto r = NSStringDrawing::boundingRectWithSize("abcdefghij", CGSizeMake(22, 0),
                                                   NSStringDrawingUsesLineFragmentOrigin, fontAttrs(10));
    EXPECT_EQ(r.size, CGSizeMake(20, 36));  // 4 + 4 + 2 letters
}

TEST_F(TextTest, CJKBreaksAnywhere) {
    // Ten ideographs of 15 points in 100 points: 6 per line.
    auto r = NSStringDrawing::boundingRectWithSize("暂无品牌信息暂无品牌", CGSizeMake(100, kFloatMax),
                                                   NSStringDrawingUsesLineFragmentOrigin, fontAttrs(15));
    EXPECT_EQ(r.size, CGSizeMake(90, 36));
    // Mixed: a Latin word stays whole next to CJK.
    TextLayoutRequest q;
    q.runs.push_back(TextRun{"中文abc中", UIFont::systemFontOfSize(10), nullptr, 0});
    q.maxWidth = 32;
    TextLayout layout = TextMeasurer::deterministic().layout(q);
    ASSERT_EQ(layout.lines.size(), 2u);
    EXPECT_EQ(layout.lines[0].text, "中文");
    EXPECT_EQ(layout.lines[1].text, "abc中");
}

TEST_F(TextTest, CharacterWrapping) {
    TextLayoutRequest q;
    q.runs.push_back(TextRun{"ab cd", UIFont::systemFontOfSize(10), nullptr, 0});
    q.maxWidth = 13;
    q.lineBreakMode = NSLineBreakByCharWrapping;
    TextLayout layout = TextMeasurer::deterministic().layout(q);
    ASSERT_EQ(layout.lines.size(), 2u);
    EXPECT_EQ(layout.lines[0].text, "ab");
    EXPECT_EQ(layout.lines[1].text, "cd");
}

TEST_F(TextTest, HeightLimitKeepsWholeLinesButAtLeastOne) {
    auto attrs = fontAttrs(10);
    auto r = NSStringDrawing::boundingRectWithSize("aa bb cc dd", CGSizeMake(10, 30),
                                                   NSStringDrawingUsesLineFragmentOrigin, attrs);
    EXPECT_EQ(r.size.height, 24);
    auto tiny = NSStringDrawing::boundingRectWithSize("aa bb", CGSizeMake(10, 1),
                                                      NSStringDrawingUsesLineFragmentOrigin, attrs);
    EXPECT_EQ(tiny.size.height, 12);
}

TEST_F(TextTest, TruncatesTheLastVisibleLine) {
    // The progress HUD's measurement: 200 x 300 with options 35.
    auto attrs = fontAttrs(10);
    std::string text(100, 'x');  // 500 points of letters
    auto r =
        NSStringDrawing::boundingRectWithSize(text, CGSizeMake(100, 30), NSStringDrawingOptions(35), attrs);
    EXPECT_EQ(r.size.height, 24);
    TextLayoutRequest q;
    q.runs.push_back(TextRun{"hello world again", UIFont::systemFontOfSize(10), nullptr, 0});
    q.maxWidth = 30;
    q.maxLines = 2;
    q.truncateLastLine = true;
    q.lineBreakMode = NSLineBreakByTruncatingTail;
    TextLayout layout = TextMeasurer::deterministic().layout(q);
    ASSERT_EQ(layout.lines.size(), 2u);
    EXPECT_TRUE(layout.truncated);
    // The last line runs on unwrapped and is cut: "world" (25) and the ellipsis (5) fill 30.
    EXPECT_EQ(layout.lines[1].text, "world\xE2\x80\xA6");
    EXPECT_EQ(layout.lines[1].width, 30);
}

TEST_F(TextTest, SingleLineTruncationModes) {
    TextLayoutRequest q;
    q.runs.push_back(TextRun{"abcdefgh", UIFont::systemFontOfSize(10), nullptr, 0});
    q.wraps = false;
    q.maxWidth = 25;
    q.lineBreakMode = NSLineBreakByTruncatingTail;
    EXPECT_EQ(TextMeasurer::deterministic().layout(q).lines[0].text, "abcd\xE2\x80\xA6");
    q.lineBreakMode = NSLineBreakByTruncatingHead;
    EXPECT_EQ(TextMeasurer::deterministic().layout(q).lines[0].text, "\xE2\x80\xA6"
                                                                     "efgh");
    q.lineBreakMode = NSLineBreakByTruncatingMiddle;
    EXPECT_EQ(TextMeasurer::deterministic().layout(q).lines[0].text, "ab\xE2\x80\xA6gh");
    q.lineBreakMode = NSLineBreakByClipping;
    auto clipped = TextMeasurer::deterministic().layout(q);
    EXPECT_EQ(clipped.lines[0].text, "abcde");
    EXPECT_EQ(clipped.size.width, 25);
    q.lineBreakMode = NSLineBreakByTruncatingTail;
    q.maxWidth = 2;  // no room even for the ellipsis
    EXPECT_EQ(TextMeasurer::deterministic().layout(q).lines[0].text, "\xE2\x80\xA6");
}

TEST_F(TextTest, LineSpacingAndKern) {
    auto style = make<NSMutableParagraphStyle>();
    style->setLineSpacing(4);
    auto attrs = fontAttrs(10);
    attrs.setObject(NSParagraphStyleAttributeName, style);
    EXPECT_EQ(NSStringDrawing::sizeWithAttributes("a\nb\nc", attrs).height, 36 + 8);
    auto kerned = fontAttrs(10);
    kerned.setObject(NSKernAttributeName, 1.5);
    EXPECT_EQ(NSStringDrawing::sizeWithAttributes("abc", kerned).width, 15 + 4.5);
}

TEST_F(TextTest, WithoutLineFragmentOriginTheRectStartsAtTheBaseline) {
    auto r = NSStringDrawing::boundingRectWithSize("abc def", CGSizeMake(10, 10), 0, fontAttrs(10));
    EXPECT_EQ(r, CGRectMake(0, -9.5, 32.5, 12));
}

TEST_F(TextTest, OlderConstrainedMeasurement) {
    auto font = UIFont::systemFontOfSize(10);
    EXPECT_EQ(NSStringDrawing::sizeWithFont("hello world", font, CGSizeMake(30, 1000)), CGSizeMake(25, 24));
    EXPECT_EQ(NSStringDrawing::sizeWithFont("hello world", font, 30, NSLineBreakByTruncatingTail),
              CGSizeMake(30, 12));
}

TEST_F(TextTest, CourierIsMonospaced) {
    Dictionary d;
    d.setObject(NSFontAttributeName, UIFont::fontWithName("Courier-Bold", 10));
    EXPECT_EQ(NSStringDrawing::sizeWithAttributes("i 中", d).width, 18);
}

TEST_F(TextTest, MalformedUTF8IsMeasuredNotRejected) {
    std::string bad = "a\xFF\xC3(b\xE2\x82";
    CGSize s = NSStringDrawing::sizeWithAttributes(bad, fontAttrs(10));
    EXPECT_GT(s.width, 0);
    TextMeasurer::useDeterministic(false);
    CGSize real = NSStringDrawing::sizeWithAttributes(bad, fontAttrs(10));
    EXPECT_GT(real.width, 0);
}

// ---------------------------------------------------------------------------------------------
// Attributed strings

TEST_F(TextTest, AttributedStringCountsUTF16) {
    NSAttributedString s("a😀中", fontAttrs(10));
    EXPECT_EQ(s.length(), 4u);
    EXPECT_EQ(s.string(), "a😀中");
    NSRange range;
    auto attrs = s.attributesAtIndex(3, &range);
    EXPECT_TRUE(attrs[NSFontAttributeName].objectAs<UIFont>());
    EXPECT_EQ(range, NSMakeRange(0, 4));
    EXPECT_TRUE(s.attributesAtIndex(4, &range).empty());
    EXPECT_EQ(s.attributedSubstringFromRange(NSMakeRange(1, 2))->string(), "😀");
}

TEST_F(TextTest, MutableAttributedStringRuns) {
    NSMutableAttributedString s("hello world");
    s.addAttribute(NSFontAttributeName, UIFont::systemFontOfSize(17), NSMakeRange(0, s.length()));
    s.addAttribute(NSKernAttributeName, 2, NSMakeRange(6, 5));
    NSRange range;
    EXPECT_TRUE(s.attributeAtIndex(NSKernAttributeName, 0, &range).isNil());
    EXPECT_EQ(range, NSMakeRange(0, 6));
    EXPECT_EQ(s.attributeAtIndex(NSKernAttributeName, 7, &range).intValue(), 2);
    EXPECT_EQ(range, NSMakeRange(6, 5));
    s.attributeAtIndex(NSFontAttributeName, 0, &range);
    EXPECT_EQ(range, NSMakeRange(0, 11));                         // spans both runs
    s.removeAttribute(NSKernAttributeName, NSMakeRange(0, 100));  // clamped
    s.attributesAtIndex(0, &range);
    EXPECT_EQ(range, NSMakeRange(0, 11));  // runs merged again
    s.appendAttributedString(NSAttributedString("!"));
    EXPECT_EQ(s.string(), "hello world!");
    EXPECT_TRUE(s.attributesAtIndex(11).empty());
    s.replaceCharactersInRange(NSMakeRange(0, 5), "bye");
    EXPECT_EQ(s.string(), "bye world!");
    EXPECT_TRUE(s.attributeAtIndex(NSFontAttributeName, 0).objectAs<UIFont>());
    s.deleteCharactersInRange(NSMakeRange(3, 100));
    EXPECT_EQ(s.string(), "bye");
    s.appendAttributedString(s);  // itself
    EXPECT_EQ(s.string(), "byebye");
    auto copy = s.copy();
    EXPECT_TRUE(copy->isEqual(s));
    s.addAttribute(NSKernAttributeName, 1, NSMakeRange(0, 1));
    EXPECT_FALSE(copy->isEqual(s));
}

TEST_F(TextTest, AttributedMeasurementUsesEachRunsFont) {
    NSMutableAttributedString s("ab", fontAttrs(10));
    s.appendAttributedString(NSAttributedString("cd", fontAttrs(20)));
    CGSize size = NSStringDrawing::size(s);
    EXPECT_EQ(size, CGSizeMake(10 + 20, 24));
    // The title measurement: 17 points over the whole length, bounded by a width.
    NSMutableAttributedString title("中文标题中文标题");
    title.addAttribute(NSFontAttributeName, UIFont::systemFontOfSize(17), NSMakeRange(0, title.length()));
    CGRect r = NSStringDrawing::boundingRectWithSize(
        title, CGSizeMake(304, std::numeric_limits<double>::max()), NSStringDrawingUsesLineFragmentOrigin);
    EXPECT_EQ(r.size, CGSizeMake(136, 20.4));
}

TEST_F(TextTest, ParagraphStyleCopies) {
    auto style = make<NSMutableParagraphStyle>();
    style->setLineBreakMode(NSLineBreakByTruncatingTail);
    style->setAlignment(NSTextAlignmentCenter);
    style->setLineSpacing(-3);
    EXPECT_EQ(style->lineSpacing(), 0);
    auto copy = style->copy();
    EXPECT_TRUE(copy->isEqual(*style));
    EXPECT_EQ(copy->className(), "NSParagraphStyle");
    EXPECT_EQ(NSParagraphStyle::defaultParagraphStyle()->lineBreakMode(), NSLineBreakByWordWrapping);
}

// ---------------------------------------------------------------------------------------------
// The real measurer

TEST_F(TextTest, RealMeasurerMeasuresWithTheInstalledFont) {
    TextMeasurer::useDeterministic(false);
    EXPECT_FALSE(TextMeasurer::current().isDeterministic());
    auto font = UIFont::systemFontOfSize(20);
    EXPECT_GT(font->lineHeight(), 20);
    EXPECT_LT(font->lineHeight(), 32);
    EXPECT_LT(font->descender(), 0);
    CGSize latin = NSStringDrawing::sizeWithAttributes("abcd", fontAttrs(20));
    CGSize cjk = NSStringDrawing::sizeWithAttributes("中文中文", fontAttrs(20));
    EXPECT_GT(latin.width, 20);
    EXPECT_NEAR(cjk.width, 80, 4);  // ideographs are one em
    EXPECT_GT(cjk.width, latin.width);
    EXPECT_NEAR(latin.height, font->lineHeight(), 0.5);
    // Bold is wider or equal, never narrower.
    EXPECT_GE(NSStringDrawing::sizeWithAttributes("abcd", fontAttrs(20, true)).width, latin.width);
}

TEST_F(TextTest, RealMeasurerWrapsCJKAndWords) {
    TextMeasurer::useDeterministic(false);
    TextLayoutRequest q;
    q.runs.push_back(TextRun{"中文中文中文中文", UIFont::systemFontOfSize(10), nullptr, 0});
    q.maxWidth = 35;
    TextLayout layout = TextMeasurer::real().layout(q);
    ASSERT_EQ(layout.lines.size(), 3u);
    EXPECT_EQ(layout.lines[0].text, "中文中");
    TextLayoutRequest w;
    w.runs.push_back(TextRun{"hello world", UIFont::systemFontOfSize(10), nullptr, 0});
    w.maxWidth = 40;
    TextLayout words = TextMeasurer::real().layout(w);
    ASSERT_EQ(words.lines.size(), 2u);
    EXPECT_EQ(words.lines[0].text, "hello");
    EXPECT_EQ(words.lines[1].text, "world");
    EXPECT_LE(words.size.width, 40);
}

TEST_F(TextTest, RealMeasurerTruncatesAndLimits) {
    TextLayoutRequest q;
    q.runs.push_back(TextRun{"one two three four five six", UIFont::systemFontOfSize(10), nullptr, 0});
    q.maxWidth = 40;
    q.maxLines = 2;
    q.truncateLastLine = true;
    q.lineBreakMode = NSLineBreakByTruncatingTail;
    TextLayout layout = TextMeasurer::real().layout(q);
    ASSERT_EQ(layout.lines.size(), 2u);
    EXPECT_TRUE(layout.truncated);
    EXPECT_LE(layout.size.width, 40.5);
    TextLayoutRequest empty;
    EXPECT_TRUE(TextMeasurer::real().layout(empty).lines.empty());
}

// ---------------------------------------------------------------------------------------------
// Hostile input and threads

TEST_F(TextTest, MutatedTextNeverBreaksLayout) {
    const std::string seed = "上传中... Hello world\n暂无品牌信息 a😀b\r\nCafe\xCC\x81 \t end";
    for (unsigned i = 0; i < 300; ++i) {
        std::string text = testsupport::mutate(seed, i);
        for (const TextMeasurer* m : {&TextMeasurer::deterministic(), &TextMeasurer::real()}) {
            if (!m->isDeterministic() && i % 10 != 0) continue;  // the real one is slower: a sample
            TextLayoutRequest q;
            q.runs.push_back(TextRun{text, UIFont::systemFontOfSize(1 + i % 30), nullptr, CGFloat(i % 3)});
            q.maxWidth = (i % 4 == 0) ? TextLayoutRequest::kUnlimited : 1 + (i * 7) % 120;
            q.maxHeight = (i % 5 == 0) ? 10 : TextLayoutRequest::kUnlimited;
            q.maxLines = int(i % 4);
            q.wraps = i % 6 != 0;
            q.truncateLastLine = i % 2 == 0;
            q.lineBreakMode = NSLineBreakMode(i % 6);
            TextLayout layout = m->layout(q);
            EXPECT_TRUE(std::isfinite(layout.size.width) && layout.size.width >= 0) << i;
            EXPECT_TRUE(std::isfinite(layout.size.height) && layout.size.height >= 0) << i;
            if (q.maxLines > 0) {
                EXPECT_LE(layout.lines.size(), std::size_t(q.maxLines)) << i;
            }
        }
    }
}

TEST_F(TextTest, AttributedStringSurvivesRandomEdits) {
    NSMutableAttributedString s("start 中文 😀", fontAttrs(12));
    unsigned state = 12345;
    auto next = [&] { return state = state * 1103515245u + 12345u, (state >> 8) % 40; };
    for (int i = 0; i < 500; ++i) {
        NSRange r = NSMakeRange(next(), next());
        switch (next() % 6) {
            case 0:
                s.addAttribute(NSKernAttributeName, int(next()), r);
                break;
            case 1:
                s.removeAttribute(NSFontAttributeName, r);
                break;
            case 2:
                s.replaceCharactersInRange(r, testsupport::mutate("x😀y", unsigned(i)));
                break;
            case 3:
                s.deleteCharactersInRange(r);
                break;
            case 4:
                s.appendAttributedString(NSAttributedString("尾", fontAttrs(10)));
                break;
            default:
                s.setAttributes(fontAttrs(9), r);
                break;
        }
        // Runs always cover the whole text exactly.
        std::size_t covered = 0;
        s.enumerateAttributesInRange(NSMakeRange(0, s.length()), [&](const Dictionary&, NSRange range,
                                                                     bool*) { covered += range.length; });
        ASSERT_EQ(covered, s.length()) << i;
        EXPECT_EQ(detail::utf8ToUTF16(s.string()).size(), s.length());
    }
    NSStringDrawing::size(s);
}

TEST_F(TextTest, RealMeasurerFromManyThreads) {
    std::vector<std::thread> threads;
    std::atomic<int> bad{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 20; ++i) {
                TextLayoutRequest q;
                q.runs.push_back(TextRun{"线程 thread " + std::to_string(t * 100 + i),
                                         UIFont::systemFontOfSize(12 + t), nullptr, 0});
                q.maxWidth = 60;
                if (TextMeasurer::real().layout(q).size.width <= 0) ++bad;
                if (UIFont::systemFontOfSize(10)->lineHeight() <= 0) ++bad;
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(bad.load(), 0);
}
