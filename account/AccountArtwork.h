#pragma once
// The pictures the account screens name ("touxiang.jpg", "dot_05", "tijiaobigup"...) are
// resources beside the code: they are read from the resources folder, and a drawn stand-in of a
// fitting size takes the place of one that is missing, so the screens always show something.
//
// Main thread only.

#include <string>

#include "graphics/UIImage.h"

namespace AccountArtwork {

// imageNamed, else the drawn stand-in for the names the account screens use (nullptr for any
// other missing name). Drawn pictures are made once.
Ref<UIImage> imageNamed(const std::string& name);

}  // namespace AccountArtwork
