#pragma once
// The "MyUser" scene families, registered by AccountScenes::registerAll.

namespace MyUserStoryboard {

// Login, sign-up, password recovery, phone binding and password change.
void registerSignInScenes();

}  // namespace MyUserStoryboard
