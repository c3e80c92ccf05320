#pragma once
// What the process does before UIApplicationMain: the application delegate's class under its
// name, the main storyboard's scenes and the loader that makes the window from it, and the
// rotation rule of every navigation stack, and the log form
// of every dictionary and array. The executable and the tests that launch the app call
// prepare(); it is idempotent.

namespace QVNAppStartup {

void prepare();

}  // namespace QVNAppStartup
