#pragma once
// Running a helper program from a test and waiting for it, bounded: a child that outlives its
// time-out is killed and reported, so a hung child fails the test instead of hanging it. The
// child inherits the environment (the sanitizer options among it).

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace testsupport {

struct ChildResult {
    bool started = false;
    bool timedOut = false;
    int exitCode = -1;  // when it exited
    int signal = 0;     // when a signal ended it

    bool succeeded() const { return started && !timedOut && signal == 0 && exitCode == 0; }
};

// `extraEnvironment` ("NAME=value" entries) comes before the inherited environment, so it wins.
inline ChildResult runChild(const std::vector<std::string>& arguments, double timeoutSeconds = 60,
                            const std::vector<std::string>& extraEnvironment = {}) {
    ChildResult result;
    if (arguments.empty()) return result;
    std::vector<char*> argv;
    for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const auto& e : extraEnvironment) envp.push_back(const_cast<char*>(e.c_str()));
    for (char** e = environ; *e; ++e) envp.push_back(*e);
    envp.push_back(nullptr);
    pid_t pid = 0;
    if (::posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), envp.data()) != 0) return result;
    result.started = true;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
    int status = 0;
    for (;;) {
        pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) break;
        if (done < 0 && errno != EINTR) return result;
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            result.timedOut = true;
            return result;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    return result;
}

}  // namespace testsupport
