#pragma once
// UINavigationController(AutoRotate): every navigation controller of the app answers the rotation
// questions with the answer of the last controller of its stack, so that a screen that must stay
// portrait (the home screen, the web page) keeps its whole stack portrait. An empty stack answers
// NO and an empty mask (0).
//
// The category takes effect for every instance once install() has run (the app installs it at
// start-up, before the first screen); the functions below are the answers themselves.

#include "uikit/UINavigationController.h"

namespace UINavigationController_AutoRotate {

// Installs the answers below as the navigation controllers' rotation hooks. Idempotent.
void install();

bool shouldAutorotate(const UINavigationController& navigationController);
UIInterfaceOrientationMask supportedInterfaceOrientations(const UINavigationController& navigationController);
UIInterfaceOrientation
preferredInterfaceOrientationForPresentation(const UINavigationController& navigationController);
bool shouldAutorotateToInterfaceOrientation(const UINavigationController& navigationController,
                                            UIInterfaceOrientation orientation);

}  // namespace UINavigationController_AutoRotate
