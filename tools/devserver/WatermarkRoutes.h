#pragma once
// The watermark camera's list on the stand-in server: "watermark/getwatermarklist.do" below the
// API root, with "type" 1 (front view) or 2 (side view), answering the watermarks of that kind
// ("pic", "type", "wid") whose pictures the server itself serves. Another or a missing type is
// refused with 10002.
//
// Thread-safe: the pictures are stored once, when the routes are added.

#include <string>

#include "tools/devserver/DevServer.h"

namespace devserver {

// The path of the list, relative to the API root.
inline constexpr char kWatermarkListPath[] = "watermark/getwatermarklist.do";

// Stores the sample watermark pictures and installs the list route.
void addWatermarkRoutes(DevServer& server);

}  // namespace devserver
