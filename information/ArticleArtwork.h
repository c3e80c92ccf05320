#pragma once
// The pictures the article and search screens name ("dianzan_up", "touxiangmorentu",
// "tupianlogo", "shaixuantankuang1"...). They are resources beside the code: a picture present in
// the bundle wins; for a missing one a plain drawn stand-in of the size the screens place it at
// takes its place, so the screens always have something to show. Main thread only.

#include <string>

#include "graphics/UIImage.h"

namespace detail::article {

// imageNamed, else the drawn stand-in (nullptr for a name the screens do not use).
Ref<UIImage> imageNamed(const std::string& name);

}  // namespace detail::article
