#pragma once
// Helpers shared by the benchmark programs: timing a run, the CPU time threads spent on it, the
// median of several, and the reference loop of plain libcurl GETs that the URL-loading
// benchmarks compare against.

#include <curl/curl.h>
#include <dirent.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <fstream>
#include <string>
#include <vector>

namespace benchsupport {

inline double secondsFor(bool (*run)()) {
    auto start = std::chrono::steady_clock::now();
    run();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The CPU time of the calling thread so far, in seconds.
inline double threadCPUSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// The CPU time so far, in seconds, of this process's threads with the given name (the name a
// thread gave itself, as the system shows it: at most 15 characters).
inline double namedThreadsCPUSeconds(const std::string& name) {
    double total = 0;
    DIR* tasks = opendir("/proc/self/task");
    if (!tasks) return 0;
    while (dirent* entry = readdir(tasks)) {
        if (entry->d_name[0] == '.') continue;
        const std::string dir = std::string("/proc/self/task/") + entry->d_name;
        std::string comm;
        std::getline(std::ifstream(dir + "/comm"), comm);
        if (comm != name) continue;
        // The first field: nanoseconds spent on a CPU.
        unsigned long long nanos = 0;
        std::ifstream(dir + "/schedstat") >> nanos;
        total += static_cast<double>(nanos) * 1e-9;
    }
    closedir(tasks);
    return total;
}

inline double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// `count` GETs of `url`, one after another on one reused easy handle (one keep-alive connection).
// The handle is made on the first call and kept for the process; every call must use one URL.
inline bool plainCurlGETs(const std::string& url, int count) {
    static std::string handleURL = url;
    static CURL* easy = [] {
        CURL* e = curl_easy_init();
        curl_easy_setopt(e, CURLOPT_URL, handleURL.c_str());
        curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(
            e, CURLOPT_WRITEFUNCTION,
            +[](char* p, std::size_t size, std::size_t n, void* out) -> std::size_t {
                static_cast<std::string*>(out)->append(p, size * n);
                return size * n;
            });
        return e;
    }();
    std::string body;
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &body);
    bool ok = true;
    for (int i = 0; i < count; ++i) {
        body.clear();
        ok = curl_easy_perform(easy) == CURLE_OK && ok;
    }
    return ok;
}

}  // namespace benchsupport
