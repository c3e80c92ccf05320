#pragma once
// How tests drive the GPU pipeline's core. Nothing here is part of the product; product code
// never calls it.

#include "gles/OpenGLES.h"

namespace gpu_core_testing {

// Lowers the maximum texture size GPXContext reports, to exercise the limiting paths at small
// sizes; 0 returns to the device's value.
void setMaximumTextureSizeOverride(GLint size);

}  // namespace gpu_core_testing
