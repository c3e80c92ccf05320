#pragma once
// The information area's stretch of the road: the information tab with its news list and the
// carousel turning, an article with its comments and a reply, the search of news and of questions,
// the event tab, the tuning-list event's page and its join button, which opens the car studio: the
// screenshot taken there and the car's tuning list entered into the event from the save box; then
// the event's gallery of entries, a vote, and the entry's car tried in the car studio.

#include "graphics/UIImage.h"
#include "studio/MainViewController.h"
#include "uikit/UINavigationController.h"

namespace demo {

// Signed in already. Stops the run (demo::Stop) on a failure.
void driveInformation(const Ref<MainViewController>& home, const Ref<UINavigationController>& navigation);

}  // namespace demo
