#include "account/AccountScenes.h"

#include "account/MyUserStoryboard.h"

namespace AccountScenes {

void registerAll() {
    // Registering a scene again replaces it with the same, so a second call changes nothing.
    MyUserStoryboard::registerSignInScenes();
    MyUserStoryboard::registerUserScenes();
    MyUserStoryboard::registerSocialScenes();
}

}  // namespace AccountScenes
