#pragma once
// How tests drive the graphics layer. Nothing here is part of the product; product code never
// calls it.

#include <string>

namespace graphics_testing {

// The folder UIImage::imageNamed() reads; an empty path returns to the environment's. Also
// empties the named-image cache.
void setResourcesDirectory(const std::string& path);

}  // namespace graphics_testing
