#pragma once
// UIApplication(mainWindow): the app's own window, found while ignoring an overlay window.

#include "uikit/UIApplication.h"
#include "uikit/UIWindow.h"

namespace UIApplication_mainWindow {
// The first of the application's windows, in their order, that is not `ignoring` and is not
// hidden; nullptr when there is none.
Ref<UIWindow> mainApplicationWindowIgnoringWindow(const Ref<UIApplication>& application,
                                                  const Ref<UIWindow>& ignoring);
}  // namespace UIApplication_mainWindow
