#pragma once
// What the benchmarks that measure a case in a process of its own share: the program runs itself
// again with the case's arguments, the child reports its peak resident size on its standard
// output, and the parent reads that within a time bound.

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/support/PeakMemory.h"

extern char** environ;

namespace benchsupport {

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// Runs this program as `args`, answering what it printed; " (ended badly)" is appended when it did
// not exit with 0 within `seconds` (it is then killed).
inline std::string runSelf(std::vector<std::string> args, double seconds) {
    int out[2];
    if (::pipe(out) != 0) return "";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    const bool spawned = posix_spawn(&pid, "/proc/self/exe", &actions, nullptr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    std::string text;
    if (!spawned) {
        ::close(out[0]);
        return "";
    }
    // The child's output is small; read it as it comes, then reap the child (killed if late).
    std::thread reader([&] {
        char buffer[4096];
        ssize_t n;
        while ((n = ::read(out[0], buffer, sizeof buffer)) > 0) text.append(buffer, std::size_t(n));
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    reader.join();
    ::close(out[0]);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? text : text + " (ended badly)";
}

}  // namespace benchsupport
