#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/NSLog.h"
#include "tests/support/TestSupport.h"
#include "uikit/NSLayoutConstraint.h"
#include "uikit/UIView.h"

namespace {

using C = NSLayoutConstraint;

class SizedView : public UIView {
  public:
    explicit SizedView(CGSize content) : content_(content) {}
    CGSize intrinsicContentSize() const override { return content_; }

  private:
    CGSize content_;
};

class QuietLog {
  public:
    QuietLog() {
        previous_ = NSLogSetSink([this](const std::string& line) { lines.push_back(line); });
    }
    ~QuietLog() { NSLogSetSink(previous_); }
    std::vector<std::string> lines;

  private:
    NSLogSink previous_;
};

class VisualFormatTest : public ::testing::Test {
  protected:
    Ref<UIView> root = make<UIView>(CGRectMake(0, 0, 320, 480));

    template <class V = UIView, class... Args>
    Ref<V> add(const Ref<UIView>& parent, Args&&... args) {
        auto v = make<V>(std::forward<Args>(args)...);
        v->setTranslatesAutoresizingMaskIntoConstraints(false);
        parent->addSubview(v);
        return v;
    }

    std::vector<Ref<NSLayoutConstraint>> format(const std::string& text, const Dictionary& views,
                                                const Dictionary& metrics = {},
                                                NSLayoutFormatOptions options = 0) {
        std::string error;
        auto result = C::constraintsWithVisualFormat(text, options, metrics, views, &error);
        EXPECT_TRUE(error.empty()) << text << ": " << error;
        return result;
    }

    std::string failure(const std::string& text, const Dictionary& views, const Dictionary& metrics = {},
                        NSLayoutFormatOptions options = 0) {
        std::string error;
        auto result = C::constraintsWithVisualFormat(text, options, metrics, views, &error);
        EXPECT_TRUE(result.empty()) << text;
        EXPECT_FALSE(error.empty()) << text;
        return error;
    }
};

void expectFrame(const Ref<UIView>& view, CGRect expected) {
    CGRect f = view->frame();
    EXPECT_NEAR(f.origin.x, expected.origin.x, 1e-6);
    EXPECT_NEAR(f.origin.y, expected.origin.y, 1e-6);
    EXPECT_NEAR(f.size.width, expected.size.width, 1e-6);
    EXPECT_NEAR(f.size.height, expected.size.height, 1e-6);
}

// A centred column of an image and two labels, each centred on the image, flush at the top and
// bottom of their container, which is centred in the background.
TEST_F(VisualFormatTest, CentredColumnOfPadlockTitleAndMessage) {
    auto centre = add(root);
    auto padlock = add<SizedView>(centre, CGSizeMake(60, 80));
    auto title = add<SizedView>(centre, CGSizeMake(200, 21));
    auto message = add<SizedView>(centre, CGSizeMake(250, 34));
    Dictionary views{{"padlock", padlock}, {"title", title}, {"message", message}};
    auto chain = format("V:|[padlock]-[title]-[message]|", views);
    ASSERT_EQ(chain.size(), 4u);
    EXPECT_EQ(chain[0]->firstItem(), padlock);
    EXPECT_EQ(chain[0]->firstAttribute(), NSLayoutAttributeTop);
    EXPECT_EQ(chain[0]->secondItem(), centre);
    EXPECT_EQ(chain[1]->firstItem(), title);
    EXPECT_EQ(chain[1]->secondAttribute(), NSLayoutAttributeBottom);
    EXPECT_EQ(chain[1]->constant(), 8);
    EXPECT_EQ(chain[3]->firstItem(), centre);
    EXPECT_EQ(chain[3]->firstAttribute(), NSLayoutAttributeBottom);
    centre->addConstraints(chain);
    centre->addConstraints({C::constraintWithItem(padlock, NSLayoutAttributeCenterX, NSLayoutRelationEqual,
                                                  centre, NSLayoutAttributeCenterX, 1, 0),
                            C::constraintWithItem(title, NSLayoutAttributeCenterX, NSLayoutRelationEqual,
                                                  padlock, NSLayoutAttributeCenterX, 1, 0),
                            C::constraintWithItem(message, NSLayoutAttributeCenterX, NSLayoutRelationEqual,
                                                  padlock, NSLayoutAttributeCenterX, 1, 0)});
    root->addConstraints({C::constraintWithItem(centre, NSLayoutAttributeCenterX, NSLayoutRelationEqual, root,
                                                NSLayoutAttributeCenterX, 1, 0),
                          C::constraintWithItem(centre, NSLayoutAttributeCenterY, NSLayoutRelationEqual, root,
                                                NSLayoutAttributeCenterY, 1, 0)});
    root->layoutIfNeeded();
    double height = 80 + 8 + 21 + 8 + 34;
    EXPECT_DOUBLE_EQ(centre->frame().size.height, height);
    EXPECT_DOUBLE_EQ(centre->frame().origin.y, (480 - height) / 2);
    EXPECT_DOUBLE_EQ(CGRectGetMidX(centre->frame()), 160);
    EXPECT_DOUBLE_EQ(padlock->frame().origin.y, 0);
    EXPECT_DOUBLE_EQ(title->frame().origin.y, 88);
    EXPECT_DOUBLE_EQ(message->frame().origin.y, 117);
    EXPECT_DOUBLE_EQ(title->frame().size.width, 200);
    EXPECT_DOUBLE_EQ(CGRectGetMidX(title->frame()), CGRectGetMidX(padlock->frame()));
    EXPECT_DOUBLE_EQ(CGRectGetMidX(message->frame()), CGRectGetMidX(padlock->frame()));
}

TEST_F(VisualFormatTest, OverlayPinnedTopToBottomWithZeroSpacing) {
    auto entrance = add(root);
    auto vertical = format("V:|-0-[entrance]-0-|", Dictionary{{"entrance", entrance}});
    ASSERT_EQ(vertical.size(), 2u);
    root->addConstraints(vertical);
    auto left = C::constraintWithItem(entrance, NSLayoutAttributeLeft, NSLayoutRelationEqual, root,
                                      NSLayoutAttributeLeft, 1, 0);
    root->addConstraints({left, C::constraintWithItem(entrance, NSLayoutAttributeWidth, NSLayoutRelationEqual,
                                                      root, NSLayoutAttributeWidth, 1, 0)});
    root->layoutIfNeeded();
    expectFrame(entrance, CGRectMake(0, 0, 320, 480));
    // Sliding it out by its width moves it off screen.
    left->setConstant(root->frame().size.width);
    root->layoutIfNeeded();
    expectFrame(entrance, CGRectMake(320, 0, 320, 480));
}

TEST_F(VisualFormatTest, RowWithStandardSpacingAndEqualWidths) {
    auto a = add(root), b = add(root);
    Dictionary views{{"a", a}, {"b", b}};
    root->addConstraints(format("H:|-[a]-[b(==a)]-|", views));
    root->addConstraints(format("V:|-(30)-[a(40)]", views));
    root->addConstraints(format("V:|-30-[b(==a)]", views));
    root->layoutIfNeeded();
    expectFrame(a, CGRectMake(20, 30, 136, 40));
    expectFrame(b, CGRectMake(164, 30, 136, 40));
}

TEST_F(VisualFormatTest, MetricsAndPriorities) {
    auto a = add(root);
    Dictionary views{{"a", a}};
    Dictionary metrics{{"margin", 15}, {"w", 50.5}, {"low", 250}};
    auto row = format("H:|-margin-[a(>=w,==400@low)]", views, metrics);
    ASSERT_EQ(row.size(), 3u);
    EXPECT_EQ(row[1]->relation(), NSLayoutRelationGreaterThanOrEqual);
    EXPECT_EQ(row[2]->priority(), 250);
    root->addConstraints(row);
    root->addConstraints(format("V:|-(>=10@750)-[a(10)]-(<=1000)-|", views));
    root->layoutIfNeeded();
    EXPECT_DOUBLE_EQ(a->frame().origin.x, 15);
    EXPECT_DOUBLE_EQ(a->frame().size.width, 400);
    EXPECT_DOUBLE_EQ(a->frame().size.height, 10);
    EXPECT_GE(a->frame().origin.y, 10);
}

TEST_F(VisualFormatTest, AlignmentOptions) {
    auto a = add<SizedView>(root, CGSizeMake(40, 20));
    auto b = add<SizedView>(root, CGSizeMake(40, 60));
    Dictionary views{{"a", a}, {"b", b}};
    auto row = format("H:|[a]-10-[b]", views, {}, NSLayoutFormatAlignAllCenterY);
    ASSERT_EQ(row.size(), 3u);
    EXPECT_EQ(row[2]->firstAttribute(), NSLayoutAttributeCenterY);
    root->addConstraints(row);
    root->addConstraints(format("V:|-100-[b]", views));
    root->layoutIfNeeded();
    expectFrame(b, CGRectMake(50, 100, 40, 60));
    expectFrame(a, CGRectMake(0, 120, 40, 20));
}

TEST_F(VisualFormatTest, RightToLeftDirection) {
    auto a = add(root), b = add(root);
    Dictionary views{{"a", a}, {"b", b}};
    root->addConstraints(format("H:|-10-[a(20)]-5-[b(30)]", views, {}, NSLayoutFormatDirectionRightToLeft));
    root->addConstraints(format("V:|[a(5)]", views));
    root->addConstraints(format("V:|[b(5)]", views));
    root->layoutIfNeeded();
    expectFrame(a, CGRectMake(290, 0, 20, 5));
    expectFrame(b, CGRectMake(255, 0, 30, 5));
    // Left to right uses left and right.
    auto ltr = format("H:|-[a]", views, {}, NSLayoutFormatDirectionLeftToRight);
    ASSERT_EQ(ltr.size(), 1u);
    EXPECT_EQ(ltr[0]->firstAttribute(), NSLayoutAttributeLeft);
    EXPECT_EQ(ltr[0]->constant(), 20);
}

TEST_F(VisualFormatTest, ResultsAreNotInstalled) {
    auto a = add(root);
    auto result = format("H:|[a]|", Dictionary{{"a", a}});
    ASSERT_EQ(result.size(), 2u);
    EXPECT_FALSE(result[0]->isActive());
    NSLayoutConstraint::activateConstraints(result);
    EXPECT_TRUE(result[0]->isActive());
    EXPECT_EQ(result[0]->installedView(), root);
}

TEST_F(VisualFormatTest, ResolutionFailures) {
    auto a = add(root);
    auto loose = make<UIView>();
    Dictionary views{{"a", a}, {"loose", loose}, {"text", "not a view"}};
    EXPECT_NE(failure("H:|[b]", views).find("b is not a key in the views dictionary"), std::string::npos);
    EXPECT_NE(failure("H:|[text]", views).find("text is not a key"), std::string::npos);
    EXPECT_NE(failure("H:|-m-[a]", views).find("m is not a key in the metrics dictionary"),
              std::string::npos);
    EXPECT_NE(failure("H:|-m-[a]", views, Dictionary{{"m", "ten"}}).find("not a number"), std::string::npos);
    EXPECT_NE(failure("H:|[loose]", views).find("doesn't have a superview"), std::string::npos);
    EXPECT_NE(failure("H:[a(10@0)]", views).find("priority"), std::string::npos);
    EXPECT_NE(failure("H:[a(10@1001)]", views).find("priority"), std::string::npos);
    EXPECT_NE(failure("H:[a][loose]", views, {}, NSLayoutFormatAlignAllLeft).find("horizontal edge"),
              std::string::npos);
    EXPECT_NE(failure("V:[a][loose]", views, {}, NSLayoutFormatAlignAllTop).find("vertical edge"),
              std::string::npos);
    failure("H:[a]", views, {}, NSLayoutFormatAlignAllTop | NSLayoutFormatAlignAllLeft);
    failure("H:[a]", views, {}, 1ul << NSLayoutAttributeWidth);
    failure("H:[a]", views, {}, 3ul << 16);
    // Without a superview bar a loose view is fine.
    EXPECT_EQ(format("H:[loose(10)]", views).size(), 1u);
}

TEST_F(VisualFormatTest, MalformedFormatsAreLoggedWithTheirPosition) {
    auto a = add(root);
    QuietLog log;
    auto result = C::constraintsWithVisualFormat("H:|-[a]-(8-|", 0, {}, Dictionary{{"a", a}});
    EXPECT_TRUE(result.empty());
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_NE(log.lines[0].find("Unable to parse constraint format"), std::string::npos);
    EXPECT_NE(log.lines[0].find("H:|-[a]-(8-|\n"), std::string::npos);
    EXPECT_NE(log.lines[0].find("\n          ^"), std::string::npos) << log.lines[0];
}

TEST_F(VisualFormatTest, MutatedFormatsNeverCrash) {
    auto a = add(root), b = add(root);
    Dictionary views{{"a", a}, {"b", b}};
    Dictionary metrics{{"m", 5}, {"p", 750}};
    const std::string seeds[] = {"V:|-m-[a(>=20@p)]-(m@p)-[b(==a)]-|", "H:|[a]-[b]|",
                                 "[a(b)]-(-3,>=m)-[b(<=40)]"};
    QuietLog log;
    for (unsigned seed = 0; seed < 3000; ++seed) {
        std::string text = testsupport::mutate(seeds[seed % 3], seed);
        auto result = C::constraintsWithVisualFormat(text, seed % 7 == 0 ? NSLayoutFormatAlignAllTop : 0,
                                                     metrics, views);
        for (const auto& c : result) {
            ASSERT_TRUE(c);
            EXPECT_TRUE(c->firstItem() == a || c->firstItem() == b || c->firstItem() == root);
        }
        root->addConstraints(result);
        root->layoutIfNeeded();
        root->removeConstraints(result);
    }
}

}  // namespace
