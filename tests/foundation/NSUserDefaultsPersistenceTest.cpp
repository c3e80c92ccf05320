// User defaults that nobody synchronizes: written a moment after a change (on the manual clock
// here), on the application's termination, and when the process returns from main (checked by
// running a writer program and reading its file afterwards). And the temporary files of writes:
// a writer killed mid-write leaves one, which the next defaults object removes, never one that a
// live writer (another process, or another thread) is still writing.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "dispatch/Dispatch.h"
#include "foundation/FoundationTesting.h"
#include "foundation/NSBundle.h"
#include "foundation/NSNotificationCenter.h"
#include "foundation/NSSandbox.h"
#include "foundation/NSUserDefaults.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/MainLoop.h"
#include "tests/support/TestSupport.h"

namespace {

constexpr char kBundleIdentifier[] = "com.example.cartuning";

class UserDefaultsPersistence : public ::testing::Test {
  protected:
    testsupport::TemporaryDirectory dir;

    void SetUp() override {
        ASSERT_TRUE(NSSandbox::setRoot(dir.path()));
        foundation_testing::resetBundles();
        NSBundle::setMainBundlePath(dir.file("resources"));
        NSBundle::setInfoValue("CFBundleIdentifier", std::string(kBundleIdentifier));
        NSUserDefaults::resetStandardUserDefaults();
    }
    void TearDown() override {
        NSUserDefaults::resetStandardUserDefaults();
        foundation_testing::resetBundles();
    }

    std::string preferencesFile() const {
        return dir.file("Library/Preferences/com.example.cartuning.plist");
    }
    // What a new process would read: a defaults object made afresh from the file.
    Ref<NSUserDefaults> fromFile() { return make<NSUserDefaults>(std::string(kBundleIdentifier)); }

    // Waits (bounded, real time) until the process has written more than `count` files.
    static bool waitForWritesBeyond(std::uint64_t count, double seconds = 20) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (detail::userDefaultsWriteCount() <= count) {
            if (std::chrono::steady_clock::now() >= deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }
    // The temporary files of writes in the preferences folder.
    std::vector<std::string> temporaryFiles() const {
        std::vector<std::string> found;
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(dir.file("Library/Preferences"), ec)) {
            if (entry.path().filename().string().find(".plist.tmp-") != std::string::npos)
                found.push_back(entry.path().string());
        }
        return found;
    }
    // Whether a writer holds the file's lock. A file seen before its writer locks it is one any
    // defaults object may still take for abandoned and remove (its writer then starts over with
    // another), so a test that means a live writer's file must wait for the lock.
    static bool isHeld(const std::string& path) {
        int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) return false;
        bool held = false;
        if (::flock(fd, LOCK_SH | LOCK_NB) == 0) {
            ::flock(fd, LOCK_UN);
        } else {
            held = errno == EWOULDBLOCK;
        }
        ::close(fd);
        return held;
    }
    // Waits (bounded, real time) until a writer holds a temporary file; its path, or empty.
    std::string waitForAHeldTemporaryFile(double seconds = 20) const {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (std::chrono::steady_clock::now() < deadline) {
            for (const auto& found : temporaryFiles()) {
                if (isHeld(found)) return found;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return {};
    }
    static std::uint64_t inode(const std::string& path) {
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0 ? static_cast<std::uint64_t>(st.st_ino) : 0;
    }
};

// ---------------------------------------------------------------------------------------------
TEST_F(UserDefaultsPersistence, ValuesSetWithoutSynchronizeSurviveTheProcess) {
    auto run = testsupport::runChild({USER_DEFAULTS_WRITER, dir.path(), kBundleIdentifier, "WEIBOSDKAID",
                                      "01AbCdEf", "firstLanch", "YES"});
    ASSERT_TRUE(run.succeeded()) << "exit " << run.exitCode << " signal " << run.signal
                                 << (run.timedOut ? " (timed out)" : "");
    auto next = fromFile();
    EXPECT_EQ(next->stringForKey("WEIBOSDKAID"), "01AbCdEf");
    EXPECT_TRUE(next->boolForKey("firstLanch"));

    // A second run changes one value and keeps the other.
    run = testsupport::runChild({USER_DEFAULTS_WRITER, dir.path(), kBundleIdentifier, "WEIBOSDKAID", "02"});
    ASSERT_TRUE(run.succeeded());
    next = fromFile();
    EXPECT_EQ(next->stringForKey("WEIBOSDKAID"), "02");
    EXPECT_TRUE(next->boolForKey("firstLanch"));
}

TEST_F(UserDefaultsPersistence, ChangesFromManyThreadsRightUpToTheExitAreAllKept) {
    constexpr int kPerThread = 150;
    auto run = testsupport::runChild(
        {USER_DEFAULTS_WRITER, "--threads", dir.path(), kBundleIdentifier, std::to_string(kPerThread)});
    ASSERT_TRUE(run.succeeded()) << "exit " << run.exitCode << " signal " << run.signal;
    auto next = fromFile();
    int missing = 0;
    for (int t = 0; t < 4; ++t) {
        for (int i = 0; i < kPerThread; ++i) {
            Value v = next->objectForKey("t" + std::to_string(t) + "." + std::to_string(i));
            if (!v.isNumber() || v.integerValue() != i) ++missing;
        }
    }
    EXPECT_EQ(missing, 0);
}

// ---------------------------------------------------------------------------------------------
TEST_F(UserDefaultsPersistence, AChangeIsWrittenAShortDelayLater) {
    testsupport::ManualClock clock;
    auto defaults = NSUserDefaults::standardUserDefaults();
    std::uint64_t before = detail::userDefaultsWriteCount();
    defaults->setObject("NewFeatureVersionKey", "12");
    clock.advance(NSUserDefaults::kSaveDelay - 0.1);
    EXPECT_EQ(detail::userDefaultsWriteCount(), before);
    EXPECT_FALSE(std::filesystem::exists(preferencesFile()));

    clock.advance(0.2);
    ASSERT_TRUE(waitForWritesBeyond(before));
    EXPECT_EQ(fromFile()->stringForKey("NewFeatureVersionKey"), "12");
}

TEST_F(UserDefaultsPersistence, ChangesWithinTheDelayShareOneWriteAndALaterChangeGetsItsOwn) {
    testsupport::ManualClock clock;
    auto defaults = NSUserDefaults::standardUserDefaults();
    std::uint64_t before = detail::userDefaultsWriteCount();
    defaults->setInteger("umSerialNum", 1);
    clock.advance(NSUserDefaults::kSaveDelay / 2);
    for (int i = 2; i <= 50; ++i) defaults->setInteger("umSerialNum", i);
    defaults->setObject("channel", "App Store");
    clock.advance(NSUserDefaults::kSaveDelay / 2);
    ASSERT_TRUE(waitForWritesBeyond(before));
    // One write, made at the first change's deadline, carrying every change since; nothing else
    // is waiting to be written.
    EXPECT_EQ(detail::userDefaultsWriteCount(), before + 1);
    EXPECT_LT(dispatch_timers_next_due(), 0);
    auto onDisk = fromFile();
    EXPECT_EQ(onDisk->integerForKey("umSerialNum"), 50);
    EXPECT_EQ(onDisk->stringForKey("channel"), "App Store");

    defaults->setInteger("umSerialNum", 51);
    clock.advance(NSUserDefaults::kSaveDelay);
    ASSERT_TRUE(waitForWritesBeyond(before + 1));
    EXPECT_EQ(fromFile()->integerForKey("umSerialNum"), 51);
}

// Holds the first defaults write until released, at its start or once its temporary file is
// filled (later writes pass); released and removed when it goes.
class WriteGate {
  public:
    enum class At { Start, TemporaryFileFilled };
    explicit WriteGate(At at = At::Start) : at_(at), state_(std::make_shared<State>()) {
        auto hold = [state = state_](const std::string&) {
            std::unique_lock<std::mutex> lock(state->mutex);
            if (state->writing) return;
            state->writing = true;
            state->changed.notify_all();
            state->changed.wait_for(lock, std::chrono::seconds(20), [&] { return state->released; });
        };
        if (at_ == At::Start) {
            detail::setUserDefaultsWillWriteHook(hold);
        } else {
            detail::setUserDefaultsTemporaryFileHook(hold);
        }
    }
    ~WriteGate() {
        release();
        if (at_ == At::Start) {
            detail::setUserDefaultsWillWriteHook(nullptr);
        } else {
            detail::setUserDefaultsTemporaryFileHook(nullptr);
        }
    }
    bool waitForAWrite() {
        std::unique_lock<std::mutex> lock(state_->mutex);
        return state_->changed.wait_for(lock, std::chrono::seconds(20), [&] { return state_->writing; });
    }
    void release() {
        std::lock_guard<std::mutex> lock(state_->mutex);
        state_->released = true;
        state_->changed.notify_all();
    }

  private:
    struct State {
        std::mutex mutex;
        std::condition_variable changed;
        bool writing = false;
        bool released = false;
    };
    At at_;
    std::shared_ptr<State> state_;
};

TEST_F(UserDefaultsPersistence, AChangeMadeWhileAWriteRunsGetsAWriteOfItsOwn) {
    testsupport::ManualClock clock;
    auto defaults = NSUserDefaults::standardUserDefaults();
    std::uint64_t before = detail::userDefaultsWriteCount();
    {
        WriteGate gate;
        defaults->setObject("aid", "first");
        clock.advance(NSUserDefaults::kSaveDelay);
        ASSERT_TRUE(gate.waitForAWrite());
        // The write under way took its snapshot already: this change needs another one.
        defaults->setObject("aid", "second");
        EXPECT_GE(dispatch_timers_next_due(), 0);
    }
    ASSERT_TRUE(waitForWritesBeyond(before));
    clock.advance(NSUserDefaults::kSaveDelay);
    ASSERT_TRUE(waitForWritesBeyond(before + 1));
    EXPECT_EQ(fromFile()->stringForKey("aid"), "second");
}

TEST_F(UserDefaultsPersistence, ChangesRacingTheDelayedWritesAreAllWritten) {
    testsupport::ManualClock clock;
    auto defaults = NSUserDefaults::standardUserDefaults();
    // A writer keeps changing values while the clock moves the delayed writes along; when it stops,
    // its last values reach the file without a synchronize.
    std::atomic<bool> stop{false};
    std::atomic<int> last{0};
    std::thread writer([&] {
        for (int i = 1; !stop.load(); ++i) {
            defaults->setInteger("counter", i);
            defaults->setObject("payload", std::string(static_cast<std::size_t>(i % 512), 'x'));
            last = i;
        }
    });
    // Each step waits (bounded) for the writer to have moved on, so changes really fall between
    // and into the writes.
    auto writerMovesOn = [&] {
        int seen = last.load();
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (last.load() == seen && std::chrono::steady_clock::now() < until) std::this_thread::yield();
        return last.load() != seen;
    };
    for (int step = 0; step < 40; ++step) {
        if (!writerMovesOn()) {
            ADD_FAILURE() << "the writer stopped changing values";
            break;
        }
        clock.advance(NSUserDefaults::kSaveDelay / 4);
    }
    stop = true;
    writer.join();
    clock.advance(NSUserDefaults::kSaveDelay);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (fromFile()->integerForKey("counter") != last.load() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_EQ(fromFile()->integerForKey("counter"), last.load());
}

TEST_F(UserDefaultsPersistence, TerminationWritesPendingChangesAtOnce) {
    testsupport::ManualClock clock;  // the delayed write never comes due
    auto defaults = NSUserDefaults::standardUserDefaults();
    auto suite = make<NSUserDefaults>(std::string("group.shared"));
    defaults->setObject("PullRefreshHeaderLastUpdatedTimeKey", NSDate::dateWithTimeIntervalSince1970(1000));
    suite->setObject("SharedUDID", "abc");
    NSNotificationCenter::defaultCenter()->postNotificationName("UIApplicationWillTerminateNotification");
    EXPECT_EQ(fromFile()->objectForKey("PullRefreshHeaderLastUpdatedTimeKey"),
              Value(NSDate::dateWithTimeIntervalSince1970(1000)));
    EXPECT_EQ(make<NSUserDefaults>(std::string("group.shared"))->stringForKey("SharedUDID"), "abc");
}

// A write that fails leaves the changes waiting: the next synchronize writes them.
TEST_F(UserDefaultsPersistence, AFailedWriteIsTriedAgainWithTheChangesKept) {
    testsupport::ManualClock clock;  // no delayed write in between
    auto defaults = NSUserDefaults::standardUserDefaults();
    // A file where the preferences folder should be: nothing can be written under it.
    std::filesystem::remove_all(dir.file("Library/Preferences"));
    std::filesystem::create_directories(dir.file("Library"));
    { std::ofstream(dir.file("Library/Preferences")) << "in the way"; }
    ASSERT_TRUE(std::filesystem::is_regular_file(dir.file("Library/Preferences")));
    defaults->setObject("k", "kept");
    EXPECT_FALSE(defaults->synchronize());
    std::filesystem::remove(dir.file("Library/Preferences"));
    EXPECT_TRUE(defaults->synchronize());
    EXPECT_EQ(fromFile()->stringForKey("k"), "kept");
}

// A defaults object that goes with changes nobody synchronized writes them as it goes.
TEST_F(UserDefaultsPersistence, AnObjectGoingWritesItsChanges) {
    testsupport::ManualClock clock;  // the delayed write never comes due
    {
        auto suite = make<NSUserDefaults>(std::string("group.shared"));
        suite->setObject("SharedUDID", "abc");
    }
    EXPECT_EQ(make<NSUserDefaults>(std::string("group.shared"))->stringForKey("SharedUDID"), "abc");
}

TEST_F(UserDefaultsPersistence, AWriteReplacesTheFileWholeAndLeavesNothingBehind) {
    auto defaults = NSUserDefaults::standardUserDefaults();
    defaults->setObject("k", "first");
    ASSERT_TRUE(defaults->synchronize());
    std::uint64_t first = inode(preferencesFile());
    ASSERT_NE(first, 0u);
    defaults->setObject("k", "second");
    ASSERT_TRUE(defaults->synchronize());
    // A new file renamed over the old (never the old one rewritten in place, which a crash could
    // leave half written).
    EXPECT_NE(inode(preferencesFile()), first);
    int entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.file("Library/Preferences"))) {
        ++entries;
        EXPECT_EQ(entry.path().string(), preferencesFile());
    }
    EXPECT_EQ(entries, 1);
    EXPECT_EQ(fromFile()->stringForKey("k"), "second");
}

// ---------------------------------------------------------------------------------------------
// A process killed while writing leaves its temporary file; the next defaults object to be made,
// or one made earlier at its next write, removes it.
TEST_F(UserDefaultsPersistence, AWriterKilledMidWriteLeavesATemporaryFileThatIsThenRemoved) {
    for (bool atNextWrite : {false, true}) {
        SCOPED_TRACE(atNextWrite ? "by an object made before, at its next write" : "by a new object");
        testsupport::ManualClock clock;  // no delayed write of the object made before
        auto before = make<NSUserDefaults>(std::string("group.shared"));
        auto run = testsupport::runChild(
            {USER_DEFAULTS_WRITER, "--die-mid-write", dir.path(), kBundleIdentifier, "aid", "lost"});
        ASSERT_TRUE(run.started);
        EXPECT_EQ(run.signal, SIGKILL);
        auto left = temporaryFiles();
        ASSERT_EQ(left.size(), 1u);
        EXPECT_GT(std::filesystem::file_size(left[0]), 0u);  // as large as the defaults
        if (atNextWrite) {
            before->setObject("SharedUDID", "abc");
            ASSERT_TRUE(before->synchronize());
        } else {
            // The dead writer's value never reached the file.
            EXPECT_TRUE(fromFile()->objectForKey("aid").isNil());
        }
        EXPECT_TRUE(temporaryFiles().empty());
    }
}

// What a defaults object removes from its folder: temporary files of writes that nobody holds,
// nothing else.
TEST_F(UserDefaultsPersistence, OnlyTemporaryFilesNoWriterHoldsAreRemoved) {
    const std::string folder = dir.file("Library/Preferences");
    std::filesystem::create_directories(folder);
    struct Case {
        const char* name;
        bool heldByAWriter;
        bool removed;
    } cases[] = {
        {"com.example.cartuning.plist.tmp-0123456789abcdef", false, true},
        {"group.shared.plist.tmp-FEDCBA9876543210", false, true},
        {"com.example.cartuning.plist.tmp-00000000000000aa", true, false},
        {"com.example.cartuning.plist.tmp-0123", false, false},              // not a write's name
        {"com.example.cartuning.plist.tmp-0123456789abcdeg", false, false},  // not hexadecimal
        {"notes.txt.tmp-0123456789abcdef", false, false},                    // not a defaults file
        {"com.example.cartuning.plist.bak", false, false},
        {"other.plist", false, false},
    };
    std::vector<int> held;
    for (const auto& c : cases) {
        const std::string path = folder + "/" + c.name;
        { std::ofstream(path) << "<plist>"; }
        if (c.heldByAWriter) {
            int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
            ASSERT_GE(fd, 0);
            ASSERT_EQ(::flock(fd, LOCK_EX), 0);
            held.push_back(fd);
        }
    }
    // A folder and a link under a write's name are no files of a writer either.
    std::filesystem::create_directory(folder + "/a.plist.tmp-1111111111111111");
    std::filesystem::create_symlink(folder + "/other.plist", folder + "/b.plist.tmp-2222222222222222");

    fromFile();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(std::filesystem::exists(folder + "/" + c.name), !c.removed);
    }
    EXPECT_TRUE(std::filesystem::is_directory(folder + "/a.plist.tmp-1111111111111111"));
    EXPECT_TRUE(std::filesystem::is_symlink(folder + "/b.plist.tmp-2222222222222222"));
    EXPECT_TRUE(std::filesystem::exists(folder + "/other.plist"));
    // Once its writer lets go, the held one goes too.
    for (int fd : held) ::close(fd);
    fromFile();
    EXPECT_FALSE(std::filesystem::exists(folder + "/com.example.cartuning.plist.tmp-00000000000000aa"));
}

// A write under way, in another process sharing the sandbox or on another thread of this one,
// keeps its temporary file while other defaults objects are made and write; its write then lands.
TEST_F(UserDefaultsPersistence, ALiveWritersTemporaryFileIsLeftAloneAndItsWriteLands) {
    auto othersMakeAndWrite = [&](const std::string& temporary) {
        fromFile();
        auto suite = make<NSUserDefaults>(std::string("group.shared"));
        suite->setObject("SharedUDID", "abc");
        EXPECT_TRUE(suite->synchronize());
        EXPECT_TRUE(std::filesystem::exists(temporary));
    };
    {
        SCOPED_TRACE("another process");
        const std::string release = dir.file("release");
        testsupport::ChildResult run;
        std::thread child([&] {
            run = testsupport::runChild({USER_DEFAULTS_WRITER, "--hold-mid-write", release, dir.path(),
                                         kBundleIdentifier, "aid", "from the other process"});
        });
        const std::string temporary = waitForAHeldTemporaryFile();
        EXPECT_FALSE(temporary.empty()) << "the other process never started its write";
        if (!temporary.empty()) othersMakeAndWrite(temporary);
        { std::ofstream(release) << "go"; }
        child.join();
        EXPECT_TRUE(run.succeeded()) << "exit " << run.exitCode << " signal " << run.signal;
        EXPECT_EQ(fromFile()->stringForKey("aid"), "from the other process");
        EXPECT_TRUE(temporaryFiles().empty());
    }
    {
        SCOPED_TRACE("another thread");
        testsupport::ManualClock clock;  // only the write below
        auto defaults = NSUserDefaults::standardUserDefaults();
        defaults->setObject("aid", "from another thread");
        std::atomic<bool> written{false};
        {
            WriteGate gate(WriteGate::At::TemporaryFileFilled);
            std::thread writer([&] { written = defaults->synchronize(); });
            if (gate.waitForAWrite()) {
                auto found = temporaryFiles();
                EXPECT_EQ(found.size(), 1u);
                if (!found.empty()) othersMakeAndWrite(found.front());
            } else {
                ADD_FAILURE() << "the write never filled its temporary file";
            }
            gate.release();
            writer.join();
        }
        EXPECT_TRUE(written.load());
        EXPECT_EQ(fromFile()->stringForKey("aid"), "from another thread");
        EXPECT_TRUE(temporaryFiles().empty());
    }
}

}  // namespace
