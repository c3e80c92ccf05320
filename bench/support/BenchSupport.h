#pragma once
// Helpers shared by the benchmark programs: timing a run, the median of several, and the
// reference loop of plain libcurl GETs that the URL-loading benchmarks compare against.

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace benchsupport {

inline double secondsFor(bool (*run)()) {
    auto start = std::chrono::steady_clock::now();
    run();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
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
