#pragma once
// What every account screen has in common: a light status bar, portrait only (without
// autorotation unless a screen allows it), the keyboard put away when the background is
// touched, and the two ways of going back.
//
// Main thread only.

#include <set>

#include "uikit/UIViewController.h"

class UITouch;

class AccountScreen : public UIViewController {
  public:
    UIStatusBarStyle preferredStatusBarStyle() const override { return UIStatusBarStyleLightContent; }
    UIInterfaceOrientationMask supportedInterfaceOrientations() const override {
        return UIInterfaceOrientationMaskPortrait;
    }
    UIInterfaceOrientation preferredInterfaceOrientationForPresentation() const override {
        return UIInterfaceOrientationPortrait;
    }
    void touchesBegan(const std::set<Ref<UITouch>>& touches, const Ref<UIEvent>& event) override;

    // Pops the navigation controller when there is one, else dismisses the screen (animated).
    void leave();
    // Pops the navigation controller (animated).
    void popScreen();
    // A right swipe on the view that calls the action (the back gesture of several screens).
    void addBackSwipe(std::function<void()> action);
};
