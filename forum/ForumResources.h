#pragma once
// The forum's pictures by name ("dianzan_up", "add_05", "PKAssetPicker.Bundle/Images/...").
// They are resources beside the code: a picture present in the bundle wins; for a missing one a
// plain drawn stand-in of the size the screens place it at takes its place, so the screens always
// have something to show. Main thread only.

#include <string>

#include "graphics/UIImage.h"

namespace detail::forum {

Ref<UIImage> imageNamed(const std::string& name);

}  // namespace detail::forum
