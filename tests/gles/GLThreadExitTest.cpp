// GL threads that end while the process exits. The end of a process cannot be watched from
// inside it, so the program runs a disabled test of its own in child processes and checks how
// each ended.

#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "gles/EAGLContext.h"
#include "gles/GLThreadQueue.h"

extern char** environ;

namespace {

// Queues whose threads made a context current and drew, let go on other threads (and one on
// its own thread) at the very moment the process ends the ordinary way.
TEST(GLThreadExitChild, DISABLED_ThreadsEndingAsTheProcessExits) {
    std::vector<std::unique_ptr<GLThreadQueue>> queues;
    for (int i = 0; i < 6; ++i) {
        auto queue = std::make_unique<GLThreadQueue>("exit.test");
        queue->sync([] {
            auto context = EAGLContext::contextWithAPI(kEAGLRenderingAPIOpenGLES2, nullptr);
            ASSERT_NE(context, nullptr);
            EAGLContext::setCurrentContext(context);
            glClear(GL_COLOR_BUFFER_BIT);
            glFinish();
        });
        queues.push_back(std::move(queue));
    }
    GLThreadQueue* own = queues.back().release();
    own->async([own] { delete own; });  // ends on its own thread
    queues.pop_back();
    for (auto& queue : queues) std::thread([q = queue.release()] { delete q; }).detach();
    std::fflush(nullptr);
    std::exit(::testing::Test::HasFailure() ? 1 : 0);
}

TEST(GLThreadExit, ThreadsEndingDuringTheProcessesExitLeaveItClean) {
    std::string self = "/proc/self/exe";
    std::string filter = "--gtest_filter=GLThreadExitChild.DISABLED_ThreadsEndingAsTheProcessExits";
    std::string disabled = "--gtest_also_run_disabled_tests";
    char* argv[] = {self.data(), filter.data(), disabled.data(), nullptr};
    for (int run = 0; run < 25; ++run) {
        pid_t child = -1;
        ASSERT_EQ(posix_spawn(&child, self.c_str(), nullptr, nullptr, argv, environ), 0);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        int status = 0;
        while (waitpid(child, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                kill(child, SIGKILL);
                waitpid(child, &status, 0);
                FAIL() << "run " << run << ": the child did not end";
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ASSERT_TRUE(WIFEXITED(status)) << "run " << run << ": ended by signal " << WTERMSIG(status);
        ASSERT_EQ(WEXITSTATUS(status), 0) << "run " << run;
    }
}

}  // namespace
