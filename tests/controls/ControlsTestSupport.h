#pragma once
// Shared helpers for the controls tests: console capture and view-tree builders.

#include <string>
#include <vector>

#include "foundation/NSLog.h"
#include "uikit/UIView.h"

namespace controlstest {

// Captures the console while alive.
class LogCapture {
  public:
    LogCapture() {
        previous_ = NSLogSetSink([this](const std::string& line) { lines.push_back(line); });
    }
    ~LogCapture() { NSLogSetSink(previous_); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;
    bool contains(const std::string& text) const {
        for (const auto& l : lines) {
            if (l.find(text) != std::string::npos) return true;
        }
        return false;
    }
    std::vector<std::string> lines;

  private:
    NSLogSink previous_;
};

inline Ref<UIView> viewIn(const Ref<UIView>& parent, CGRect frame = CGRectMake(0, 0, 10, 10)) {
    auto view = make<UIView>(frame);
    if (parent) parent->addSubview(view);
    return view;
}

}  // namespace controlstest
