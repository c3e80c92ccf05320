#pragma once
// The "MyUser" scene families, registered by AccountScenes::registerAll.

namespace MyUserStoryboard {

// Login, sign-up, password recovery, phone binding and password change.
void registerSignInScenes();
// The "my" page, profiles, profile editing and feedback.
void registerUserScenes();
// The message centre, the paged inbox, mail threads, friends and the user search.
void registerSocialScenes();

}  // namespace MyUserStoryboard
