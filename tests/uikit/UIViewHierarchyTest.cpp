#include <gtest/gtest.h>

#include "uikit/UIView.h"
#include "uikit/UIWindow.h"

TEST(UIViewHierarchy, AddSubviewSetsSuperviewAndLayer) {
    auto parent = make<UIView>(CGRectMake(0, 0, 100, 100));
    auto child = make<UIView>(CGRectMake(10, 10, 20, 20));
    parent->addSubview(child);
    EXPECT_EQ(child->superview(), parent);
    ASSERT_EQ(parent->subviews().size(), 1u);
    EXPECT_EQ(child->layer()->superlayer(), parent->layer());
    EXPECT_EQ(child->frame(), CGRectMake(10, 10, 20, 20));
}
