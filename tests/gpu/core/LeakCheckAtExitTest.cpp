// The leak check that ends a test program, with a thread still holding thread-local state of a
// library opened at run time, as the GL thread holds the graphics driver's. The heap decides where
// such a block lands; one that starts 16 bytes into a page once made the checker die reading it.
// The end of a program cannot be watched from inside it, so the program runs disabled tests of its
// own in child processes and checks how each ended.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/ChildProcess.h"

namespace {

constexpr int kCheckerDied = 77;  // the child's exit status when the sanitizer itself gives up

using Touch = void* const* (*)(void*);

// One try on a new thread: true when the thread's block of the library's state landed 16 bytes into
// a page; the thread then stays, parked until the process ends, holding the only pointer to a heap
// object in that block. Otherwise the thread ends.
bool placeOnANewThread(Touch touch) {
    auto landed = std::make_shared<std::promise<bool>>();
    auto answer = landed->get_future();
    std::thread thread([touch, landed] {
        // Blocks the size of the library's state mostly come one after another from this thread's
        // cache: take them until the next one should start 16 bytes into a page. The list is made
        // at once, so that growing it takes nothing of that size in between.
        constexpr std::size_t size = 3 * sizeof(void*);
        constexpr int most = 10000;
        std::vector<void*> taken;
        taken.reserve(most + 2);
        taken.push_back(std::malloc(size));
        taken.push_back(std::malloc(size));
        const auto stride =
            reinterpret_cast<std::uintptr_t>(taken[1]) - reinterpret_cast<std::uintptr_t>(taken[0]);
        for (int i = 0; i < most; ++i) {
            taken.push_back(std::malloc(size));
            if ((reinterpret_cast<std::uintptr_t>(taken.back()) + stride) % 4096 == 16) break;
        }
        const bool atPageStart = reinterpret_cast<std::uintptr_t>(touch(nullptr)) % 4096 == 16;
        for (void* block : taken) std::free(block);
        if (!atPageStart) {
            landed->set_value(false);
            return;
        }
        touch(new int(7));
        landed->set_value(true);
        std::mutex never;
        std::condition_variable parked;
        std::unique_lock lock(never);
        parked.wait(lock, [] { return false; });
    });
    const bool placed = answer.get();
    if (placed) {
        thread.detach();
    } else {
        thread.join();
    }
    return placed;
}

// Leaves a thread parked with its block of the library's state 16 bytes into a page; with `leak`,
// a thread that has ended also leaves a heap object nothing points to.
void parkThreadWithStateAtAPageStart(bool leak) {
    void* library = ::dlopen(APP_TLS_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << ::dlerror();
    auto touch = reinterpret_cast<Touch>(::dlsym(library, "touchModuleState"));
    ASSERT_NE(touch, nullptr);
    bool placed = false;
    for (int attempt = 0; attempt < 200 && !placed; ++attempt) placed = placeOnANewThread(touch);
    // Without this placement the case proves nothing.
    ASSERT_TRUE(placed);
    if (leak) {
        std::thread([] {
            int* volatile lost = new int[5];
            (void)lost;
        }).join();
    }
}

TEST(LeakCheckAtExitChild, DISABLED_ThreadLocalStateAtAPageStart) {
    parkThreadWithStateAtAPageStart(false);
}

TEST(LeakCheckAtExitChild, DISABLED_ThreadLocalStateAtAPageStartAndALeak) {
    parkThreadWithStateAtAPageStart(true);
}

TEST(LeakCheckAtExit, FindsLeaksAndNothingElsePastAThreadsRunTimeLibraryState) {
#ifndef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "the leak check runs under the address sanitizer only";
#endif
    const char* options = std::getenv("ASAN_OPTIONS");
    const std::string exitStatus =
        "ASAN_OPTIONS=" + std::string(options ? options : "") + ":exitcode=" + std::to_string(kCheckerDied);
    struct Case {
        const char* child;
        int exitCode;  // 1: the program found a leak
    } cases[] = {{"ThreadLocalStateAtAPageStart", 0}, {"ThreadLocalStateAtAPageStartAndALeak", 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.child);
        auto result = testsupport::runChild(
            {"/proc/self/exe", std::string("--gtest_filter=LeakCheckAtExitChild.DISABLED_") + c.child,
             "--gtest_also_run_disabled_tests"},
            60, {exitStatus});
        ASSERT_TRUE(result.started);
        ASSERT_FALSE(result.timedOut);
        EXPECT_EQ(result.signal, 0);
        EXPECT_NE(result.exitCode, kCheckerDied) << "the leak checker died";
        EXPECT_EQ(result.exitCode, c.exitCode);
    }
}

}  // namespace
