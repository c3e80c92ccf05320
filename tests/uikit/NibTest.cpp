#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "foundation/NSLog.h"
#include "tests/uikit/UIKitTestSupport.h"
#include "uikit/UILabel.h"
#include "uikit/UINib.h"
#include "uikit/UIViewController.h"

using ::testing::IsEmpty;

namespace {

// A header view whose nib connects a label outlet and whose owner gets an outlet too.
class HeaderView : public UIView {
  public:
    using UIView::UIView;
    std::string className() const override { return "HeaderView"; }
    Weak<UILabel> titleLabel;
};

class OwnerScreen : public UIViewController {
  public:
    Weak<HeaderView> header;
};

class NibTest : public uikittest::UIKitTest {
  protected:
    void SetUp() override {
        UIKitTest::SetUp();
        UINib::registerNib("TestHeaderView", [this](const Ref<NSObject>& owner, const Dictionary& options) {
            ++instantiations;
            lastOptions = options;
            auto header = make<HeaderView>(CGRectMake(0, 0, 320, 120));
            auto label = make<UILabel>();
            header->addSubview(label);
            header->titleLabel = label;
            if (auto screen = asKind<OwnerScreen>(owner)) screen->header = header;
            auto footer = make<UIView>(CGRectMake(0, 0, 320, 40));
            return std::vector<Ref<NSObject>>{header, footer};
        });
    }
    void TearDown() override {
        UINib::unregisterNib("TestHeaderView");
        UIKitTest::TearDown();
    }
    int instantiations = 0;
    Dictionary lastOptions;
};

class CapturingLog {
  public:
    CapturingLog() {
        previous_ = NSLogSetSink([this](const std::string& line) { lines.push_back(line); });
    }
    ~CapturingLog() { NSLogSetSink(previous_); }
    std::vector<std::string> lines;

  private:
    NSLogSink previous_;
};

}  // namespace

TEST_F(NibTest, RegisteredNibGivesItsTopLevelObjectsInOrder) {
    auto nib = UINib::nibWithNibName("TestHeaderView", NSBundle::mainBundle());
    ASSERT_NE(nib, nullptr);
    EXPECT_EQ(nib->name(), "TestHeaderView");
    auto objects = nib->instantiateWithOwner(nullptr);
    ASSERT_EQ(objects.size(), 2u);
    auto header = asKind<HeaderView>(objects.front());
    ASSERT_NE(header, nullptr);
    EXPECT_RECT(asKind<UIView>(objects.back())->frame(), 0, 0, 320, 40);
    ASSERT_NE(header->titleLabel.lock(), nullptr);
    EXPECT_EQ(header->titleLabel.lock()->superview(), header);
}

TEST_F(NibTest, EveryInstantiationMakesNewObjects) {
    auto nib = UINib::nibWithNibName("TestHeaderView", nullptr);
    auto first = nib->instantiateWithOwner(nullptr);
    auto second = nib->instantiateWithOwner(nullptr);
    EXPECT_NE(first.front(), second.front());
    EXPECT_EQ(instantiations, 2);
}

TEST_F(NibTest, OwnerOutletsAndOptionsReachTheFactory) {
    auto owner = make<OwnerScreen>();
    Dictionary options{{"key", Value("value")}};
    auto objects = loadNibNamed("TestHeaderView", owner, options);
    ASSERT_FALSE(objects.empty());
    EXPECT_EQ(owner->header.lock(), objects.front());
    EXPECT_EQ(lastOptions["key"].stringValue(), "value");
}

TEST_F(NibTest, BundleFormLoadsTheSameNib) {
    auto objects =
        NSBundle_UINibLoadingAdditions::loadNibNamed(NSBundle::mainBundle(), "TestHeaderView", nullptr);
    EXPECT_EQ(objects.size(), 2u);
}

TEST_F(NibTest, OutletsAreWeak) {
    Weak<UILabel> label;
    {
        auto objects = loadNibNamed("TestHeaderView", nullptr);
        label = asKind<HeaderView>(objects.front())->titleLabel;
        EXPECT_NE(label.lock(), nullptr);
    }
    EXPECT_EQ(label.lock(), nullptr);  // the label lived only in the header's tree
}

TEST_F(NibTest, UnknownNibIsNilAndLoadsNothing) {
    CapturingLog captured;
    EXPECT_EQ(UINib::nibWithNibName("NoSuchNib", nullptr), nullptr);
    EXPECT_THAT(loadNibNamed("NoSuchNib", nullptr), IsEmpty());
    ASSERT_EQ(captured.lines.size(), 1u);
    EXPECT_NE(captured.lines.front().find("NoSuchNib"), std::string::npos);
}

TEST_F(NibTest, NibForgottenAfterItWasLookedUpLoadsNothing) {
    CapturingLog captured;
    auto nib = UINib::nibWithNibName("TestHeaderView", nullptr);
    UINib::unregisterNib("TestHeaderView");
    EXPECT_FALSE(UINib::hasNibNamed("TestHeaderView"));
    EXPECT_THAT(nib->instantiateWithOwner(nullptr), IsEmpty());
    EXPECT_FALSE(captured.lines.empty());
}

TEST_F(NibTest, LaterRegistrationReplacesTheEarlier) {
    UINib::registerNib("TestHeaderView", [](const Ref<NSObject>&, const Dictionary&) {
        return std::vector<Ref<NSObject>>{make<UILabel>()};
    });
    auto objects = loadNibNamed("TestHeaderView", nullptr);
    ASSERT_EQ(objects.size(), 1u);
    EXPECT_TRUE(isKindOf<UILabel>(objects.front()));
}

TEST_F(NibTest, ControllerLoadsItsViewFromTheNibNamedAfterIt) {
    class NamedScreen : public UIViewController {
      public:
        std::string className() const override { return "NamedScreen"; }
    };
    UINib::registerNib("NamedScreen", [](const Ref<NSObject>& owner, const Dictionary&) {
        auto view = make<UIView>(CGRectMake(0, 0, 11, 22));
        if (auto controller = asKind<UIViewController>(owner)) controller->setView(view);
        return std::vector<Ref<NSObject>>{view};
    });
    auto screen = make<NamedScreen>();
    EXPECT_RECT(screen->view()->frame(), 0, 0, 11, 22);
    UINib::unregisterNib("NamedScreen");
}

TEST_F(NibTest, RegistryIsSafeAcrossThreads) {
    std::atomic<int> found{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &found] {
            for (int i = 0; i < 200; ++i) {
                const std::string name = "ThreadNib" + std::to_string(t) + "_" + std::to_string(i % 10);
                UINib::registerNib(name, [](const Ref<NSObject>&, const Dictionary&) {
                    return std::vector<Ref<NSObject>>{make<NSObject>()};
                });
                if (UINib::nibWithNibName(name, nullptr)) ++found;
                UINib::unregisterNib(name);
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(found.load(), 800);
}
