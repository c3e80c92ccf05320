#pragma once
// The console lines written while a capture lives (from any thread); the previous sink is put
// back when it goes.

#include <mutex>
#include <string>
#include <vector>

#include "foundation/NSLog.h"

namespace testsupport {

class LogCapture {
  public:
    LogCapture() {
        previous_ = NSLogSetSink([this](const std::string& line) {
            std::lock_guard<std::mutex> guard(lock_);
            lines_.push_back(line);
        });
    }
    ~LogCapture() { NSLogSetSink(previous_); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<std::string> lines() const {
        std::lock_guard<std::mutex> guard(lock_);
        return lines_;
    }
    // The lines holding the text.
    int count(const std::string& text) const {
        int n = 0;
        for (const auto& line : lines()) n += line.find(text) != std::string::npos;
        return n;
    }
    bool contains(const std::string& text) const { return count(text) > 0; }
    void clear() {
        std::lock_guard<std::mutex> guard(lock_);
        lines_.clear();
    }

  private:
    mutable std::mutex lock_;
    std::vector<std::string> lines_;
    NSLogSink previous_;
};

}  // namespace testsupport
