#pragma once
// What the studio's topic files share: the state shared by every studio screen (main thread
// only), the keys of what row buttons and layers carry, and the segue receivers.

#include <cstdio>
#include <map>
#include <optional>
#include <string>

#include "studio/CarViewController.h"
#include "uikit/UILabel.h"

namespace detail::carstudio {

// The overlay's step counter (0 at start).
extern int modifyEntranceStep;
// The remaining steps of the running timed turn, -1 when none runs.
extern long timedTurnSteps;
// The zoom at the start of the running pinch.
extern double pinchStartScale;

const std::map<std::string, CarViewController::SegueReceiver>& segueReceivers();

// Keys of associated objects, one per selector that reads them.
inline const char kBrandKey = 0;
inline const char kCarKey = 0;
inline const char kPartKey = 0;
inline const char kPartButtonKey = 0;
inline const char kModificatorKey = 0;
inline const char kOptionKey = 0;
inline const char kLayerPartKey = 0;

// The name under a row thumbnail (a car, a preset, an option): centred, in the system font of
// `fontSize`, at most `lines` lines, in the console's title colour.
Ref<UILabel> rowLabel(CGRect frame, CGFloat fontSize, long lines, const std::optional<std::string>& text);

// "01" ... "25": the key of a view angle's frame in every sprite sheet.
inline std::string angleKey(long angle) {
    char text[24];
    std::snprintf(text, sizeof text, "%02ld", angle);
    return text;
}

}  // namespace detail::carstudio
