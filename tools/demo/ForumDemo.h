#pragma once
// The Q&A forum's stretch of the road: the photo library filled with generated pictures in two
// albums, the home screen's Q&A page, a question with its answers, an answer with a photo picked
// in the multi-photo picker, and a new question with three picked photos, which then heads the
// list.

#include "studio/MainViewController.h"
#include "uikit/UINavigationController.h"

namespace demo {

// Signed in already. Stops the run (demo::Stop) on a failure.
void driveForum(const Ref<MainViewController>& home, const Ref<UINavigationController>& navigation);

}  // namespace demo
