#pragma once
// QVNUserManager: the signed-in user store. The current user is one keyed archive in the Caches
// folder, QVNUserInfoKey.arc, written on login and on profile changes and read again on every
// access: nothing is held in memory, so each read answers a new QVNUser object and changes made
// to it are lost unless saveUser stores them. Signing out archives nil into the file (the file
// stays). A file that is missing, damaged, truncated or holds anything but a user reads as
// signed out.
//
// Used from the main thread; two writers simply replace each other in call order. Writes are
// atomic (a reader never sees half a file); a failed write is not reported.

#include <optional>
#include <string>

#include "app/QVNUser.h"
#include "foundation/NSObject.h"

// The key that names the current-user archive file ("%@.arc").
inline constexpr char QVNUserInfoKey[] = "QVNUserInfoKey";

class QVNUserManager : public NSObject {
  public:
    // The one instance, created on first call.
    static Ref<QVNUserManager> shareObject();

    bool hasCurrentUser() const;
    Ref<QVNUser> currentUser() const;
    // The current user's user_token; nullopt when signed out.
    std::optional<std::string> currentUserToken() const;
    // Archives the user into the file, replacing what was there (nil signs out).
    void saveUser(const Ref<QVNUser>& user);
    // Archives nil into the file.
    void logOut();

    // Caches folder + "/QVNUserInfoKey.arc".
    static std::string currentUserFilePath();

    std::string className() const override { return "QVNUserManager"; }
};
