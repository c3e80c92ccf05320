#pragma once
// The refresh controls' resources: "PullRefresh.bundle" in the app's resources folder, holding
// "arrow.png" (with an "arrow@2x.png" twin): a grey arrow pointing down, 15 x 40 points. The
// normal header shows it unturned at rest and turned half a turn while a release would refresh;
// the pull-up footer the other way round.
//
// writeBundle() draws the artwork and writes the bundle into a resources folder (for the app's
// resources and for tests); the controls only read it, by name through UIImage::imageNamed, first
// as "PullRefresh.bundle/arrow.png", then under "Frameworks/PullRefresh.framework/". A missing
// picture leaves the arrow empty and the controls work with text alone.

#include <string>

#include "graphics/UIImage.h"

namespace PullRefreshResources {

inline constexpr char kArrowPath[] = "PullRefresh.bundle/arrow.png";
inline constexpr char kFrameworkArrowPath[] = "Frameworks/PullRefresh.framework/PullRefresh.bundle/arrow.png";

// The arrow's artwork at a scale (1 or 2).
Ref<UIImage> drawArrow(CGFloat scale);
// Writes "<resourcesDirectory>/PullRefresh.bundle" with both arrow pictures. False when a file
// could not be written.
bool writeBundle(const std::string& resourcesDirectory);
// The arrow from the resources folder (either place); nullptr when missing.
Ref<UIImage> arrowImage();

}  // namespace PullRefreshResources
