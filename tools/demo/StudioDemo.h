#pragma once
// What other stretches of the road use of the studio's: waiting until a studio that was just
// opened shows its car, with the loading overlay gone, and leaving it.

#include "studio/CarViewController.h"

namespace demo {

// Stops the run (demo::Stop) when the studio does not get there.
void waitForStudioReady(const Ref<CarViewController>& studio);
// Leaves the studio by its own back button, as many taps as its state asks for.
void closeStudio(const Ref<CarViewController>& studio);

}  // namespace demo
