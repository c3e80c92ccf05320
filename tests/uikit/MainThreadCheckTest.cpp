// Main-thread checks at the views' entry points: off the main thread a call is logged and
// abandoned in release builds, and aborts where checks abort (debug and sanitizer builds).

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/NSLog.h"
#include "foundation/NSMainThreadCheck.h"
#include "uikit/UILabel.h"
#include "uikit/UIView.h"

namespace {

void onBackgroundThread(const std::function<void()>& work) {
    std::thread(work).join();
}

struct Case {
    const char* function;
    std::function<void(const Ref<UILabel>&)> call;
    std::function<bool(const Ref<UILabel>&)> applied;
};

const std::vector<Case>& cases() {
    static const std::vector<Case> table = {
        {"addSubview", [](const Ref<UILabel>& v) { v->addSubview(make<UIView>()); },
         [](const Ref<UILabel>& v) { return v->subviews().size() == 1; }},
        {"setFrame", [](const Ref<UILabel>& v) { v->setFrame(CGRectMake(1, 2, 30, 40)); },
         [](const Ref<UILabel>& v) { return v->frame().size.width == 30; }},
        {"setHidden", [](const Ref<UILabel>& v) { v->setHidden(true); },
         [](const Ref<UILabel>& v) { return v->isHidden(); }},
        {"setText", [](const Ref<UILabel>& v) { v->setText(std::string("moved")); },
         [](const Ref<UILabel>& v) { return v->text() == std::optional<std::string>("moved"); }},
    };
    return table;
}

TEST(MainThreadCheck, BackgroundCallIsLoggedAndAbandonedMainThreadCallIsNot) {
    if (NSMainThreadChecksAbort()) GTEST_SKIP() << "checks abort in this build (see the death test)";
    std::vector<std::string> lines;
    NSLogSink previous = NSLogSetSink([&](const std::string& line) { lines.push_back(line); });
    for (const Case& c : cases()) {
        SCOPED_TRACE(c.function);
        lines.clear();
        auto view = make<UILabel>();
        onBackgroundThread([&] { c.call(view); });
        EXPECT_FALSE(c.applied(view));
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_NE(lines[0].find(std::string(c.function) + " called off the main thread"), std::string::npos)
            << lines[0];
        c.call(view);
        EXPECT_TRUE(c.applied(view));
        EXPECT_EQ(lines.size(), 1u);
    }
    NSLogSetSink(previous);
}

TEST(MainThreadCheckDeathTest, BackgroundCallAbortsWhereChecksAbort) {
    if (!NSMainThreadChecksAbort()) GTEST_SKIP() << "checks log and abandon in this build";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (const Case& c : cases()) {
        auto view = make<UILabel>();
        EXPECT_DEATH(onBackgroundThread([&] { c.call(view); }),
                     std::string(c.function) + " called off the main thread");
    }
}

}  // namespace
