// The forum's pure pieces: the list and answer row layouts against their numbers (one and many
// lines, none to several pictures), the crop rectangle, the emoji test, HTML escaping, picture
// lists and video durations.

#include <gtest/gtest.h>

#include <cfloat>

#include "forum/ForumSupport.h"
#include "forum/NSDate+TimeInterval.h"
#include "forum/QVNRizUrCell.h"
#include "forum/QVNRizUrDetailFrame.h"
#include "forum/QVNRizUrFrame.h"
#include "graphics/UIFont.h"
#include "uikit/UIScreen.h"

namespace {

class NarrowScreen : public ::testing::Test {
  protected:
    void SetUp() override { UIScreen::mainScreen()->setBoundsSize(CGSizeMake(320, 568)); }
    void TearDown() override { UIScreen::mainScreen()->resetToConfiguration(); }

    static CGFloat textHeight(const std::string& text, CGFloat width) {
        return QVNRizUrFrame::sizeWithString(text, UIFont::systemFontOfSize(15), CGSizeMake(width, FLT_MAX))
            .height;
    }
};

void expectRect(CGRect r, CGFloat x, CGFloat y, CGFloat w, CGFloat h) {
    EXPECT_DOUBLE_EQ(r.origin.x, x);
    EXPECT_DOUBLE_EQ(r.origin.y, y);
    EXPECT_DOUBLE_EQ(r.size.width, w);
    EXPECT_DOUBLE_EQ(r.size.height, h);
}

Ref<QVNQuestion> question(const std::string& title, const std::optional<std::string>& pictures) {
    auto q = make<QVNQuestion>();
    q->question_title = title;
    q->question_pic = pictures;
    return q;
}

TEST_F(NarrowScreen, ListRowsFollowTheirNumbers) {
    const std::string oneLine = "轮毂";
    const std::string manyLines(40, 'x');
    struct Case {
        std::string title;
        std::optional<std::string> pictures;
        bool tall;
    };
    for (const Case& c :
         {Case{oneLine, std::nullopt, false}, Case{oneLine, std::string(""), false},
          Case{oneLine, std::string("a"), true}, Case{oneLine, std::string("a;b"), true},
          Case{oneLine, std::string("a;b;c"), true}, Case{manyLines, std::string("a;b;c;d;e"), true},
          Case{manyLines, std::nullopt, false}}) {
        auto frame = make<QVNRizUrFrame>();
        frame->setQuestion(question(c.title, c.pictures));
        CGFloat h = textHeight(c.title, 254);
        expectRect(frame->userNameImageF, 8, 20, 40, 40);
        expectRect(frame->userNameF, 56, 20, 150, 21);
        expectRect(frame->dateTimeF, 56, 46, 120, 15);
        expectRect(frame->likeF, 215, 40, 50, 22);
        expectRect(frame->commentF, 265, 40, 50, 22);
        EXPECT_DOUBLE_EQ(frame->titleF.origin.y, 69);
        EXPECT_DOUBLE_EQ(frame->titleF.size.height, h);
        expectRect(frame->leftImageF, 56, 69 + h + 8, 82, 62);
        expectRect(frame->centerImageF, 142, 69 + h + 8, 82, 62);
        expectRect(frame->rightImageF, 228, 69 + h + 8, 82, 62);
        EXPECT_DOUBLE_EQ(frame->cellHeight, c.tall ? 147 + h : 77 + h) << c.title;
    }
    EXPECT_GT(textHeight(manyLines, 254), textHeight(oneLine, 254));
}

Ref<QVNQuestionComment> answer(const std::string& text, const std::optional<std::string>& pictures) {
    auto a = make<QVNQuestionComment>();
    a->re_content = text;
    a->pic_url = pictures;
    return a;
}

TEST_F(NarrowScreen, AnswerRowsScaleWidePicturesAndStackThem) {
    const std::string text = "回答";
    CGFloat h = textHeight(text, 254);
    auto noPictures = make<QVNRizUrDetailFrame>();
    noPictures->setComment(answer(text, std::nullopt), {});
    EXPECT_TRUE(noPictures->imageArray.empty());
    EXPECT_DOUBLE_EQ(noPictures->cellHeight, 69 + h + 8);
    expectRect(noPictures->likeF, 215, 40, 50, 22);

    auto two = make<QVNRizUrDetailFrame>();
    two->setComment(answer(text, std::string("wide;small")),
                    {{"wide", CGSizeMake(600, 300)}, {"small", CGSizeMake(200, 100)}});
    ASSERT_EQ(two->imageArray.size(), 2u);
    expectRect(two->imageArray[0], 56, 69 + h + 8, 254, 127);
    expectRect(two->imageArray[1], 56, 69 + h + 8 + 127 + 8, 200, 100);
    EXPECT_DOUBLE_EQ(two->cellHeight, CGRectGetMaxY(two->imageArray[1]) + 8);

    // A picture that could not be fetched keeps its place with no size.
    auto missing = make<QVNRizUrDetailFrame>();
    missing->setComment(answer(text, std::string("gone;small")), {{"small", CGSizeMake(200, 100)}});
    expectRect(missing->imageArray[0], 56, 69 + h + 8, 0, 0);
    EXPECT_DOUBLE_EQ(missing->imageArray[1].origin.y, 69 + h + 8 + 8);

    // Only the five pictures a row shows are laid out.
    auto seven = make<QVNRizUrDetailFrame>();
    QVNRizUrDetailFrame::PictureSizes sizes;
    for (char c = 'a'; c <= 'g'; ++c) sizes[std::string(1, c)] = CGSizeMake(100, 50);
    seven->setComment(answer(text, std::string("a;b;c;d;e;f;g")), sizes);
    EXPECT_EQ(seven->imageArray.size(), 5u);
    EXPECT_DOUBLE_EQ(seven->cellHeight, 69 + h + 8 + 5 * 58);
}

TEST(QVNRizUrCellCrop, TheCropIsTheLargestCentredPartWithTheViewsProportions) {
    CGRect wide = QVNRizUrCell::comparisonOfRect(CGSizeMake(400, 100), CGSizeMake(200, 100));
    expectRect(wide, 100, 0, 200, 100);
    CGRect tall = QVNRizUrCell::comparisonOfRect(CGSizeMake(100, 400), CGSizeMake(100, 100));
    expectRect(tall, 0, 150, 100, 100);
}

TEST(ForumText, TheEmojiTestFollowsItsRules) {
    struct Case {
        std::u16string units;
        bool emoji;
    };
    for (const Case& c :
         {Case{u"\U0001F600", true}, Case{u"\u00A9", true}, Case{u"\u00A9\uFE0F", false},
          Case{u"#\u20E3", true}, Case{u"1\uFE0F\u20E3", false}, Case{u"\u2B50", true}, Case{u"\u3030", true},
          Case{u"普通的字abc", false}, Case{u"\u2100", true}, Case{u"\U0001F780", false}, Case{u"", false}}) {
        EXPECT_EQ(detail::forum::stringContainsEmoji(NSString::fromUTF16(c.units)), c.emoji)
            << NSString::fromUTF16(c.units);
    }
}

TEST(ForumText, EscapingAndPictureLists) {
    EXPECT_EQ(detail::forum::escapeHTML("<b>\"a\" & 'b'</b>"),
              "&lt;b&gt;&quot;a&quot; &amp; &#39;b&#39;&lt;/b&gt;");
    EXPECT_TRUE(detail::forum::splitPictures(std::nullopt).empty());
    EXPECT_TRUE(detail::forum::splitPictures(std::string("")).empty());
    EXPECT_EQ(detail::forum::splitPictures(std::string("a;b")), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(detail::forum::splitPictures(std::string("a;")), (std::vector<std::string>{"a", ""}));
}

TEST(ForumText, DurationsRoundBeforeSplitting) {
    struct Case {
        double seconds;
        const char* text;
    };
    for (const Case& c : {Case{75, "1:15"}, Case{3725, "1:02:05"}, Case{59.6, "1:00"}, Case{4.9, "0:05"},
                          Case{0, "0:00"}, Case{90000, "25:00:00"}, Case{-3, "0:00"}}) {
        EXPECT_EQ(NSDate_TimeInterval::timeDescriptionOfTimeInterval(c.seconds), c.text) << c.seconds;
    }
}

}  // namespace
