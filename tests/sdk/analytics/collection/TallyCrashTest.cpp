// Crash capture: an uncaught exception or a fatal signal in a child process leaves an error
// record in the cache file, which the next launch loads.

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <stdexcept>

#include "TallyTestSupport.h"
#include "sdk/analytics/collection/Tally.h"
#include "sdk/analytics/collection/TallyCrashNote.h"
#include "sdk/analytics/collection/TallyInternal.h"
#include "sdk/analytics/collection/TallySession.h"
#include "sdk/analytics/collection/TallyUncaughtExceptionHandler.h"

namespace {

class TallyCrashTest : public tallytest::TallyTest {
  protected:
    void SetUp() override {
        GTEST_FLAG_SET(death_test_style, "fast");
        TallyTest::SetUp();
        TallySession::sharedInstance()->appActivate(nullptr);
        testsupport::drainMainRunLoop();
    }
    // The crashed process's record, loaded as the next launch would.
    std::optional<std::string> recordedContext() {
        detail::TallyResetForTesting();
        NSUserDefaults::resetStandardUserDefaults();
        auto core = TallyInternal::sharedInstance();
        core->loadCache();
        if (core->errors().empty()) return std::nullopt;
        return std::dynamic_pointer_cast<TANError>(core->errors()[0])->context;
    }
};

[[noreturn]] void crashWithException() {
    detail::tallySetCrashSettleSecondsForTesting(0);
    Tally::setCrashReportEnabled(true);
    try {
        throw std::runtime_error("gearbox exploded");
    } catch (...) {
        std::terminate();
    }
}

TEST_F(TallyCrashTest, AnUncaughtExceptionLeavesARecord) {
    std::string session = TallyInternal::sharedInstance()->sessionID();
    EXPECT_EXIT(crashWithException(), testing::KilledBySignal(SIGABRT), "");
    auto context = recordedContext();
    ASSERT_TRUE(context);
    EXPECT_EQ(context->rfind("gearbox exploded\n(null)\n((\n\t", 0), 0u) << *context;
    EXPECT_NE(context->find("\n)\n\ndSYM UUID: "), std::string::npos);
    EXPECT_NE(context->find("CPU Type: x86_64\n"), std::string::npos);
    EXPECT_NE(context->find("Binary Image: test_analytics_collection\n"), std::string::npos);
    EXPECT_NE(context->find("Slide Address: 0x"), std::string::npos);
    EXPECT_NE(context->find("Base Address: 0x"), std::string::npos);
    EXPECT_EQ(*TallyConfig::configureWithKey("TAAppVersion").string(), "1.0");
    // The crash ended the running session too.
    auto core = TallyInternal::sharedInstance();
    ASSERT_EQ(core->terminates().size(), 1u);
    EXPECT_EQ(core->terminates()[0]->session_id, session);
}

[[noreturn]] void crashWithSignal(int signal) {
    detail::tallySetCrashSettleSecondsForTesting(0);
    Tally::setCrashReportEnabled(true);
    std::raise(signal);
    std::abort();
}

TEST_F(TallyCrashTest, AFatalSignalLeavesARecord) {
    std::string session = TallyInternal::sharedInstance()->sessionID();
    EXPECT_EXIT(crashWithSignal(SIGSEGV), testing::KilledBySignal(SIGSEGV), "");
    auto context = recordedContext();
    ASSERT_TRUE(context);
    EXPECT_EQ(context->rfind("Application received signal SIGSEGV\n(null)\n((\n\t0   ", 0), 0u) << *context;
    EXPECT_NE(context->find("\n)\n\ndSYM UUID: "), std::string::npos);
    EXPECT_NE(context->find("Binary Image: test_analytics_collection\n"), std::string::npos);
    EXPECT_NE(context->find("CPU Type: x86_64\n"), std::string::npos);
    auto core = TallyInternal::sharedInstance();
    EXPECT_EQ(core->errors()[0]->session_id, session);
    // The crash ended the running session too, and the note is used once.
    ASSERT_EQ(core->terminates().size(), 1u);
    EXPECT_EQ(core->terminates()[0]->session_id, session);
    EXPECT_FALSE(std::filesystem::exists(detail::tallyCrashNotePath()));
}

// Notes as a crash may leave them, cut short, or damaged on disk.
TEST_F(TallyCrashTest, CrashNotesAreFinishedAtTheNextStartOrDropped) {
    const std::string head = "tally-crash-note 1\nversion:3:1.0\nsession:3:abc\nlaunch:4:10.0\n";
    const std::string whole = head + "image.image_name:4:demo\nsignal:2:11\ntime:2:70\nstack\n0   a\n1   b";
    const std::string expected =
        "Application received signal SIGSEGV\n(null)\n((\n\t0   a\n\t1   b\n)\n\ndSYM UUID: (null)\n"
        "CPU Type: (null)\nSlide Address: (null)\nBinary Image: demo\nBase Address: (null)\n";
    struct Case {
        std::string note;
        bool recorded;
    } cases[] = {
        {whole, true},
        {whole + "\n", true},
        {"", false},
        {"tally-crash-note 2\n" + whole.substr(19), false},
        {head, false},                                      // cut before the signal
        {head.substr(0, head.size() - 3), false},           // cut inside a field
        {head + "signal:9999999999:1\nstack\n", false},     // a length past the end
        {head + "signal:2:1x\nstack\n", false},             // not a number
        {head + "signal:1:0\nstack\n", false},              // no such signal
        {head + "signal:2:11\nstack\n", false},             // no description of the executable
        {std::string(whole).replace(27, 3, "2.0"), false},  // the app was updated since
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.note);
        TallyInternal::resetForTesting();
        ASSERT_TRUE(NSData::fromString(c.note).writeToFile(detail::tallyCrashNotePath()));
        auto core = TallyInternal::sharedInstance();
        core->loadCache();
        EXPECT_FALSE(std::filesystem::exists(detail::tallyCrashNotePath()));
        ASSERT_EQ(core->errors().size(), c.recorded ? 1u : 0u);
        if (!c.recorded) continue;
        EXPECT_EQ(std::dynamic_pointer_cast<TANError>(core->errors()[0])->context, expected);
        EXPECT_EQ(core->errors()[0]->session_id, "abc");
        ASSERT_EQ(core->terminates().size(), 1u);
        EXPECT_EQ(std::dynamic_pointer_cast<TANTerminate>(core->terminates()[0])->duration, 60);
    }
}

TEST_F(TallyCrashTest, AFloatingPointSignalToo) {
    EXPECT_EXIT(crashWithSignal(SIGFPE), testing::KilledBySignal(SIGFPE), "");
    auto context = recordedContext();
    ASSERT_TRUE(context);
    EXPECT_EQ(context->rfind("Application received signal SIGFPE\n", 0), 0u);
}

[[noreturn]] void crashAfterSwitchingOff() {
    detail::tallySetCrashSettleSecondsForTesting(0);
    Tally::setCrashReportEnabled(true);
    Tally::setCrashReportEnabled(false);
    std::raise(SIGBUS);
    std::abort();
}

TEST_F(TallyCrashTest, NoRecordWhileReportingIsOff) {
    EXPECT_EXIT(crashAfterSwitchingOff(), testing::KilledBySignal(SIGBUS), "");
    EXPECT_FALSE(recordedContext());
    EXPECT_TRUE(TallyInternal::sharedInstance()->terminates().empty());
}

TEST_F(TallyCrashTest, WithoutAnImageDescriptionNothingIsRecorded) {
    TallyApp::setLogEnabled(true);
    auto core = TallyInternal::sharedInstance();
    core->error(std::string("no image"));
    EXPECT_TRUE(log_.contains("Read binary image info failed!"));
    EXPECT_TRUE(core->errors().empty());
    EXPECT_FALSE(TallySession::sharedInstance()->appCrashed());
}

TEST_F(TallyCrashTest, TheExecutableIsDescribedFromItsImage) {
    auto info = detail::tallyMainImageDescription();
    ASSERT_TRUE(info);
    EXPECT_EQ(*(*info)["image_name"].string(), "test_analytics_collection");
    EXPECT_EQ((*info)["image_base_address"].string()->size(), 18u);
    EXPECT_EQ((*info)["slide_address"].string()->size(), 18u);
    EXPECT_EQ(*(*info)["cpu_arch"].string(), "x86_64");
    if ((*info)["binary_uuid"].isString()) {
        const std::string& id = *(*info)["binary_uuid"].string();
        ASSERT_EQ(id.size(), 36u);
        EXPECT_EQ(id[8], '-');
        EXPECT_EQ(id[23], '-');
    }
    EXPECT_EQ(*TallyUncaughtExceptionHandler::signals()["11"].string(), "SIGSEGV");
    EXPECT_EQ(TallyUncaughtExceptionHandler::signalName(SIGTRAP), std::optional<std::string>("SIGTRAP"));
}

TEST_F(TallyCrashTest, BacktracesAreSymbolised) {
    auto exception = make<TallyCrashException>("n", "r");
    void* here = __builtin_return_address(0);
    exception->setCallStackReturnAddresses({here, here});
    EXPECT_EQ(TallyUncaughtExceptionHandler::backtrace(*exception).size(), 2u);
    EXPECT_TRUE(TallyUncaughtExceptionHandler::backtrace(*make<TallyCrashException>("n", "r")).empty());
}

}  // namespace
