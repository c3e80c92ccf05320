#include "app/QVNUserManager.h"

#include "app/CoreArchive.h"
#include "app/NSString+ArcFile.h"
#include "foundation/NSString.h"

Ref<QVNUserManager> QVNUserManager::shareObject() {
    static const Ref<QVNUserManager> instance = make<QVNUserManager>();
    return instance;
}

std::string QVNUserManager::currentUserFilePath() {
    return NSString::stringWithFormat("%@/%@", NSString_ArcFile::cachesFolder(),
                                      NSString::stringWithFormat("%@.arc", QVNUserInfoKey));
}

bool QVNUserManager::hasCurrentUser() const {
    return currentUser() != nullptr;
}

Ref<QVNUser> QVNUserManager::currentUser() const {
    // The unarchiver answers nil for a damaged or truncated file; anything but a user is no user.
    return CoreArchive::unarchiveObjectWithFile(currentUserFilePath()).objectAs<QVNUser>();
}

std::optional<std::string> QVNUserManager::currentUserToken() const {
    if (!hasCurrentUser()) return std::nullopt;
    Ref<QVNUser> user = currentUser();
    return user ? user->user_token : std::nullopt;
}

void QVNUserManager::saveUser(const Ref<QVNUser>& user) {
    CoreArchive::archiveRootObject(Value(user), currentUserFilePath());
}

void QVNUserManager::logOut() {
    CoreArchive::removeRootObjectWithFile(currentUserFilePath());
}
