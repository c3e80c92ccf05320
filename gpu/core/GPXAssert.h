#pragma once
// How the GPU pipeline reports a broken precondition (an over-released framebuffer, an empty
// picture, a shader that does not link): the message is logged and the operation abandoned; a
// debug build stops as well. Tests install a handler to see the reports instead.

#include <functional>
#include <string>

namespace detail {
using GPXAssertionHandler = std::function<void(const std::string& message)>;
// Replaces the handler (an empty one restores the default); returns the previous one.
GPXAssertionHandler setGPXAssertionHandler(GPXAssertionHandler handler);
void gpxAssertionFailure(const std::string& message);
}  // namespace detail
