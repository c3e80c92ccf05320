#pragma once
// The console log. Lines go to a sink: standard error by default, replaceable by tests that
// check what a library logs.

#include <functional>
#include <string>
#include <string_view>

#include "foundation/NSString.h"

using NSLogSink = std::function<void(const std::string& line)>;

// Installs a sink (an empty one restores standard error); returns the previous sink.
NSLogSink NSLogSetSink(NSLogSink sink);
// Writes one finished line (no formatting).
void NSLogLine(const std::string& line);

// Formats like NSString::stringWithFormat ("%@", "%d", ...) and writes the line.
template <class... Args>
void NSLog(std::string_view format, const Args&... args) {
    NSLogLine(NSString::stringWithFormat(format, args...));
}
