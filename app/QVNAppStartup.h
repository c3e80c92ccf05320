#pragma once
// What the process does before UIApplicationMain: the application delegate's class under its
// name, the main storyboard's scenes and the loader that makes the window from it, the
// rotation rule of every navigation stack, the log form of every dictionary and array, and text
// measured with the font that draws it (the real measurer, not the fixed-width stand-in unit
// tests predict sizes with). The executable and the tests that launch the app call prepare();
// it is idempotent.

namespace QVNAppStartup {

void prepare();

}  // namespace QVNAppStartup
