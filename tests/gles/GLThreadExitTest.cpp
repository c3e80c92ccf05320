// GL threads that end while the process exits. The end of a process cannot be watched from
// inside it, so the program runs a disabled test of its own in child processes and checks how
// each ended.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "gles/EAGLContext.h"
#include "gles/GLThreadQueue.h"
#include "tests/support/ChildProcess.h"

namespace {

// The queue's thread makes a context of its own current and draws with it.
void drawOn(GLThreadQueue& queue) {
    queue.sync([] {
        auto context = EAGLContext::contextWithAPI(kEAGLRenderingAPIOpenGLES2, nullptr);
        ASSERT_NE(context, nullptr);
        EAGLContext::setCurrentContext(context);
        glClear(GL_COLOR_BUFFER_BIT);
        glFinish();
    });
}

// Queues whose threads made a context current and drew, let go on other threads (and one on
// its own thread) at the very moment the process ends the ordinary way.
TEST(GLThreadExitChild, DISABLED_ThreadsEndingAsTheProcessExits) {
    std::vector<std::unique_ptr<GLThreadQueue>> queues;
    for (int i = 0; i < 6; ++i) {
        queues.emplace_back(new GLThreadQueue("exit.test"));
        drawOn(*queues.back());
    }
    GLThreadQueue* own = queues.back().release();
    own->async([own] { delete own; });  // ends on its own thread
    queues.pop_back();
    for (auto& queue : queues) std::thread([q = queue.release()] { delete q; }).detach();
    std::fflush(nullptr);
    std::exit(::testing::Test::HasFailure() ? 1 : 0);
}

// A queue the exiting thread itself ends, after the graphics library's exit handler has run:
// its thread may no longer release anything, and the exit waits for it.
GLThreadQueue* queueEndedAtExit = nullptr;

TEST(GLThreadExitChild, DISABLED_TheExitingThreadEndsAQueue) {
    // Registered before the first GL use, so that it runs after the library's own handler.
    std::atexit([] { delete queueEndedAtExit; });
    queueEndedAtExit = new GLThreadQueue("exit.test.own");
    drawOn(*queueEndedAtExit);
    std::fflush(nullptr);
    std::exit(::testing::Test::HasFailure() ? 1 : 0);
}

TEST(GLThreadExit, ThreadsEndingDuringTheProcessesExitLeaveItClean) {
    struct Case {
        const char* child;
        int runs;
    } cases[] = {{"ThreadsEndingAsTheProcessExits", 25}, {"TheExitingThreadEndsAQueue", 5}};
    for (const auto& c : cases) {
        for (int run = 0; run < c.runs; ++run) {
            SCOPED_TRACE(std::string(c.child) + ", run " + std::to_string(run));
            auto result = testsupport::runChild(
                {"/proc/self/exe", std::string("--gtest_filter=GLThreadExitChild.DISABLED_") + c.child,
                 "--gtest_also_run_disabled_tests"});
            ASSERT_TRUE(result.started);
            ASSERT_FALSE(result.timedOut) << "the child did not end";
            ASSERT_EQ(result.signal, 0) << "ended by a signal";
            ASSERT_EQ(result.exitCode, 0);
        }
    }
}

}  // namespace
