#pragma once
// What the other areas hand to the account area's screens before they push them. The screens live
// in the storyboard "MyUser" and are reached by identifier; an area that opens one cannot see its
// class, so the login and profile screens adopt these small interfaces and the opener sets what
// it has through them. A screen that does not adopt one simply receives nothing.
//
// Main thread only.

#include <optional>

#include "app/QVNUser.h"
#include "foundation/Value.h"

namespace QVNAccountScreens {

inline constexpr char kStoryboard[] = "MyUser";
inline constexpr char kLoginIdentifier[] = "LoginViewController";
inline constexpr char kUserInfoIdentifier[] = "UserInfoViewController";
inline constexpr char kUserPageIdentifier[] = "UserViewController";

// The login screen: told that the Q&A forum opened it (it only keeps the flag).
class LoginHandOver {
  public:
    virtual ~LoginHandOver() = default;
    virtual void setIsFromRizUr(bool isFromRizUr) = 0;
};

// The profile screen: another user's by id (it fetches the profile itself), or the signed-in
// user's own.
class UserInfoHandOver {
  public:
    virtual ~UserInfoHandOver() = default;
    virtual void setUid(const std::optional<NSNumber>& uid) = 0;
    virtual void setUser(const Ref<QVNUser>& user) = 0;
};

// The signed-in user's own page: told whom it shows before it is pushed.
class UserPageHandOver {
  public:
    virtual ~UserPageHandOver() = default;
    virtual void setUser(const Ref<QVNUser>& user) = 0;
};

}  // namespace QVNAccountScreens
