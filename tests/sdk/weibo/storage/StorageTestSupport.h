#pragma once
// Shared helpers of the SQLite layer's tests: a log capture.

#include <mutex>
#include <string>
#include <vector>

#include "foundation/NSLog.h"

namespace weibostoragetest {

class LogCapture {
  public:
    LogCapture() {
        previous_ = NSLogSetSink([this](const std::string& line) {
            std::lock_guard<std::mutex> guard(lock_);
            lines_.push_back(line);
        });
    }
    ~LogCapture() { NSLogSetSink(previous_); }
    std::vector<std::string> lines() const {
        std::lock_guard<std::mutex> guard(lock_);
        return lines_;
    }
    int count(const std::string& text) const {
        int n = 0;
        for (const auto& line : lines()) n += line.find(text) != std::string::npos;
        return n;
    }
    bool contains(const std::string& text) const { return count(text) > 0; }

  private:
    mutable std::mutex lock_;
    std::vector<std::string> lines_;
    NSLogSink previous_;
};

}  // namespace weibostoragetest
