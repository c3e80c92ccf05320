#include <gtest/gtest.h>

#include <cmath>

#include "foundation/NSLog.h"
#include "uikit/NSLayoutConstraint.h"
#include "uikit/UIView+Layout.h"
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

Ref<NSLayoutConstraint> rel(const Ref<UIView>& a, NSLayoutAttribute aa, const Ref<UIView>& b,
                            NSLayoutAttribute ba, CGFloat constant = 0) {
    return C::constraintWithItem(a, aa, NSLayoutRelationEqual, b, ba, 1, constant);
}

Ref<NSLayoutConstraint> fixed(const Ref<UIView>& a, NSLayoutAttribute aa, CGFloat constant,
                              NSLayoutRelation relation = NSLayoutRelationEqual) {
    return C::constraintWithItem(a, aa, relation, nullptr, NSLayoutAttributeNotAnAttribute, 1, constant);
}

// A table cell's content view: a name and a comment label stacked with margins, the way a
// comment row lays itself out.
class CellContent : public ::testing::Test {
  protected:
    void SetUp() override {
        cell->addSubview(content);
        content->setTranslatesAutoresizingMaskIntoConstraints(false);
        for (const auto& label : {name, comment}) {
            label->setTranslatesAutoresizingMaskIntoConstraints(false);
            content->addSubview(label);
            content->addConstraints(
                {rel(label, NSLayoutAttributeLeading, content, NSLayoutAttributeLeading, 15),
                 C::constraintWithItem(content, NSLayoutAttributeTrailing, NSLayoutRelationGreaterThanOrEqual,
                                       label, NSLayoutAttributeTrailing, 1, 15)});
        }
        content->addConstraints(
            {rel(name, NSLayoutAttributeTop, content, NSLayoutAttributeTop, 8),
             rel(comment, NSLayoutAttributeTop, name, NSLayoutAttributeBottom, 4),
             rel(content, NSLayoutAttributeBottom, comment, NSLayoutAttributeBottom, 8.5)});
    }

    CGFloat heightAtWidth(CGFloat width) {
        // The measuring step adds a temporary width constraint and removes it again.
        auto temporary = fixed(content, NSLayoutAttributeWidth, width);
        content->addConstraint(temporary);
        CGSize size = content->systemLayoutSizeFittingSize(UILayoutFittingCompressedSize);
        content->removeConstraint(temporary);
        EXPECT_DOUBLE_EQ(size.width, width);
        return size.height;
    }

    Ref<UIView> cell = make<UIView>(CGRectMake(0, 0, 320, 44));
    Ref<UIView> content = make<UIView>(CGRectMake(0, 0, 320, 44));
    Ref<SizedView> name = make<SizedView>(CGSizeMake(80, 17));
    Ref<SizedView> comment = make<SizedView>(CGSizeMake(200, 6));
};

TEST_F(CellContent, HeightFromStackedLabelsAtTheGivenWidth) {
    EXPECT_DOUBLE_EQ(heightAtWidth(286), 8 + 17 + 4 + 6 + 8.5);
    EXPECT_DOUBLE_EQ(heightAtWidth(274), 43.5);
    // Measuring changes no frame and leaves no constraint behind.
    EXPECT_EQ(content->frame(), CGRectMake(0, 0, 320, 44));
    EXPECT_EQ(content->constraints().size(), 7u);
}

TEST_F(CellContent, HuggingContentKeepsTheHeightEvenWhenExpanded) {
    CGSize size = content->systemLayoutSizeFittingSize(UILayoutFittingExpandedSize);
    EXPECT_DOUBLE_EQ(size.height, 43.5);
    EXPECT_DOUBLE_EQ(size.width, UILayoutFittingExpandedSize.width);
}

TEST(FittingSize, ExpandedSizeGrowsUpToTheLimits) {
    auto box = make<UIView>(CGRectMake(0, 0, 10, 10));
    auto inner = make<UIView>();
    inner->setTranslatesAutoresizingMaskIntoConstraints(false);
    box->addSubview(inner);
    box->addConstraints({rel(inner, NSLayoutAttributeTop, box, NSLayoutAttributeTop),
                         rel(inner, NSLayoutAttributeLeft, box, NSLayoutAttributeLeft),
                         rel(box, NSLayoutAttributeBottom, inner, NSLayoutAttributeBottom),
                         rel(box, NSLayoutAttributeRight, inner, NSLayoutAttributeRight),
                         fixed(inner, NSLayoutAttributeHeight, 300, NSLayoutRelationLessThanOrEqual),
                         fixed(inner, NSLayoutAttributeWidth, 20, NSLayoutRelationGreaterThanOrEqual)});
    EXPECT_EQ(box->systemLayoutSizeFittingSize(UILayoutFittingExpandedSize),
              CGSizeMake(UILayoutFittingExpandedSize.width, 300));
    EXPECT_EQ(box->systemLayoutSizeFittingSize(UILayoutFittingCompressedSize), CGSizeMake(20, 0));
}

TEST_F(CellContent, RequiredHorizontalFittingPriorityFixesTheWidth) {
    CGSize size = content->systemLayoutSizeFittingSize(CGSizeMake(250, 0), UILayoutPriorityRequired,
                                                       UILayoutPriorityFittingSizeLevel);
    EXPECT_DOUBLE_EQ(size.width, 250);
    EXPECT_DOUBLE_EQ(size.height, 43.5);
    // Too narrow for the content: the widest label plus margins wins over the target.
    size = content->systemLayoutSizeFittingSize(CGSizeMake(100, 0));
    EXPECT_DOUBLE_EQ(size.width, 230);
}

TEST_F(CellContent, ConstraintsAboveTheMeasuredViewDoNotCount) {
    // A pin from the cell to its content view does not take part in the content's fitting size.
    cell->addConstraint(rel(content, NSLayoutAttributeHeight, cell, NSLayoutAttributeHeight));
    EXPECT_DOUBLE_EQ(heightAtWidth(286), 43.5);
}

TEST_F(CellContent, ConflictsDuringMeasuringDoNotCrash) {
    NSLogSink previous = NSLogSetSink([](const std::string&) {});
    content->addConstraint(fixed(content, NSLayoutAttributeHeight, 10));
    EXPECT_DOUBLE_EQ(heightAtWidth(286), 10);
    NSLogSetSink(previous);
}

TEST(FittingSize, ViewWithoutConstraintsAnswersItsBoundsOrContent) {
    auto plain = make<UIView>(CGRectMake(0, 0, 33, 44));
    // Installing the engine happens with the first constraint; make one so the hook is in place.
    C::constraintWithItem(plain, NSLayoutAttributeWidth, NSLayoutRelationEqual, nullptr,
                          NSLayoutAttributeNotAnAttribute, 1, 1);
    EXPECT_EQ(plain->systemLayoutSizeFittingSize(UILayoutFittingCompressedSize), CGSizeMake(33, 44));
    auto label = make<SizedView>(CGSizeMake(70, 20));
    EXPECT_EQ(label->systemLayoutSizeFittingSize(UILayoutFittingCompressedSize), CGSizeMake(70, 20));
    auto halfSized = make<SizedView>(CGSizeMake(UIViewNoIntrinsicMetric, 20));
    EXPECT_EQ(halfSized->systemLayoutSizeFittingSize(UILayoutFittingCompressedSize), CGSizeMake(0, 20));
}

TEST(FittingSize, MeasurerGetsTheConstrainedWidth) {
    auto content = make<UIView>(CGRectMake(0, 0, 320, 44));
    content->setTranslatesAutoresizingMaskIntoConstraints(false);
    CGSize asked{};
    UIView_Layout::setFittingMeasurer(content, [&](UIView&, CGSize proposed) {
        asked = proposed;
        return CGSizeMake(proposed.width, std::ceil(1000 / proposed.width));
    });
    auto width = fixed(content, NSLayoutAttributeWidth, 286);
    content->addConstraint(width);
    CGSize size = content->systemLayoutSizeFittingSize(UILayoutFittingCompressedSize);
    content->removeConstraint(width);
    EXPECT_EQ(asked, CGSizeMake(286, 0));
    EXPECT_EQ(size, CGSizeMake(286, 4));
    // Without any constraint it is asked with the target.
    size = content->systemLayoutSizeFittingSize(CGSizeMake(100, 7));
    EXPECT_EQ(asked, CGSizeMake(100, 7));
    UIView_Layout::setFittingMeasurer(content, {});
    EXPECT_EQ(content->systemLayoutSizeFittingSize(CGSizeMake(100, 7)), CGSizeMake(320, 44));
}

TEST(FittingSize, AutoresizingSubviewsStretchWithTheMeasuredView) {
    auto content = make<UIView>(CGRectMake(0, 0, 100, 50));
    auto strip = make<UIView>(CGRectMake(10, 10, 80, 30));
    strip->setAutoresizingMask(UIViewAutoresizingFlexibleWidth);
    content->addSubview(strip);
    auto badge = make<SizedView>(CGSizeMake(UIViewNoIntrinsicMetric, 20));
    badge->setTranslatesAutoresizingMaskIntoConstraints(false);
    content->addSubview(badge);
    content->addConstraints({rel(badge, NSLayoutAttributeTop, strip, NSLayoutAttributeBottom, 5),
                             rel(badge, NSLayoutAttributeLeft, content, NSLayoutAttributeLeft),
                             rel(content, NSLayoutAttributeBottom, badge, NSLayoutAttributeBottom),
                             rel(badge, NSLayoutAttributeWidth, strip, NSLayoutAttributeWidth),
                             fixed(badge, NSLayoutAttributeWidth, 150, NSLayoutRelationLessThanOrEqual)});
    // The strip keeps its 10-point margins as the content widens: 80 + (W - 100) <= 150.
    CGSize size = content->systemLayoutSizeFittingSize(CGSizeMake(200, 0));
    EXPECT_DOUBLE_EQ(size.width, 170);
    EXPECT_DOUBLE_EQ(size.height, 10 + 30 + 5 + 20);
    size = content->systemLayoutSizeFittingSize(CGSizeMake(120, 0));
    EXPECT_DOUBLE_EQ(size.width, 120);
    EXPECT_EQ(strip->frame(), CGRectMake(10, 10, 80, 30));
}

}  // namespace
