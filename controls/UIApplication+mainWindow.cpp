#include "controls/UIApplication+mainWindow.h"

namespace UIApplication_mainWindow {

Ref<UIWindow> mainApplicationWindowIgnoringWindow(const Ref<UIApplication>& application,
                                                  const Ref<UIWindow>& ignoring) {
    if (!application) return nullptr;
    for (const auto& window : application->windows()) {
        if (window != ignoring && !window->isHidden()) return window;
    }
    return nullptr;
}

}  // namespace UIApplication_mainWindow
