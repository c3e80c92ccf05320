#pragma once
// The screen scale a cache key implies: a key whose file name ends in "@2x." and a three- or
// four-letter extension names a double-resolution picture. Stateless; any thread.

#include <optional>
#include <string>

#include "graphics/UIImage.h"

// A new image over the same bitmap (each frame, for an animated image) with scale 2 when the key
// says "@2x", else 1, keeping the orientation. nullptr for a null image; a nil key counts as "".
Ref<UIImage> WIImageWithScaleFromKey(const std::optional<std::string>& key, const Ref<UIImage>& image);

namespace detail {
// The scale a key implies: 2.0 when "@2x." starts within the five UTF-16 units that begin eight
// units before the key's end, else 1.0.
double wiScaleFromKey(const std::string& key);
}  // namespace detail
