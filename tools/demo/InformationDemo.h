#pragma once
// The information area's stretch of the road: the information tab with its news list and the
// carousel turning, an article with its comments and a reply, the search of news and of questions,
// the event tab, an event's page and its gallery of entries, a vote, and an entry's car tried in the
// car studio (the entry is the tuning list saved in the studio's stretch, entered into the
// tuning-list event).

#include "graphics/UIImage.h"
#include "studio/MainViewController.h"
#include "uikit/UINavigationController.h"

namespace demo {

// Signed in already. Stops the run (demo::Stop) on a failure.
// The studio's picture is the entry's picture.
void driveInformation(const Ref<MainViewController>& home, const Ref<UINavigationController>& navigation,
                      const Ref<UIImage>& studioPicture);

}  // namespace demo
