#pragma once
// The storyboard "Car" and the nib "ModifyEntranceView": the studio's scene built in code.
//
// The scene (initial controller CarViewController) lays its views out for the landscape screen
// (the longer side of the main screen across): the showcase area over the whole view, the console
// at the bottom (its handle on top, the brand/part row, then the car/preset/option row), the
// buttons along the top and the right edge, and the colour panel (wheel, preset colours, whole-car
// and reset buttons) on the right. It connects every outlet weakly, every action, the gesture
// recognizers of the showcase and the wheel, and declares the three segues to the tuning-list
// scenes of this storyboard ("TuningListTableViewController", "TuningDetailViewController",
// "TuningListSaveViewController"), which the tuning-list code registers.
//
// The console is placed by constraints, so that moving cstConsole's constant and laying out slides
// it: cstConsole reads view.bottom = console.bottom + constant (0 shown, negative slid down).

#include <string>

#include "graphics/UIColor.h"

// Registers the scene and the nib (again: the same registrations replace the earlier).
void CarStoryboardRegister();

// The colour of the titles on the studio's dark console and buttons; the names under the row
// thumbnails take it too, so that they read on the console.
Ref<UIColor> CarConsoleTitleColor();

// Console geometry (points).
inline constexpr double kCarConsoleHeight = 166;
inline constexpr double kCarConsoleHandleHeight = 24;
inline constexpr double kCarFirstRowHeight = 64;
inline constexpr double kCarSecondRowHeight = 78;
// The colour preset buttons of the colour panel, as (red, green, blue) on 0-255.
inline constexpr int kCarPresetColours[][3] = {
    {200, 30, 30}, {240, 120, 20}, {240, 200, 30},  {60, 160, 60},   {30, 150, 200},
    {40, 70, 180}, {120, 60, 170}, {230, 90, 150},  {250, 250, 250}, {128, 128, 128},
    {30, 30, 30},  {150, 110, 70}, {190, 190, 200}, {0, 128, 128},   {128, 0, 32}};
