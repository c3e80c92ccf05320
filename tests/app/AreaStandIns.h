#pragma once
// Stand-ins for the screens one area opens in another, registered by the tests under the scene
// the real screen has: each keeps only what it is handed, for the test to read.

#include <optional>
#include <string>

#include "app/QVNAccountScreens.h"
#include "app/QVNCarScreens.h"
#include "uikit/UIStoryboard.h"
#include "uikit/UIViewController.h"

namespace standins {

// "MyUser"/"LoginViewController".
class LoginStandIn : public UIViewController, public QVNAccountScreens::LoginHandOver {
  public:
    std::string className() const override { return "LoginViewController"; }
    void setIsFromRizUr(bool from) override { fromRizUr = from; }
    bool fromRizUr = false;
};

// "MyUser"/"UserInfoViewController".
class ProfileStandIn : public UIViewController, public QVNAccountScreens::UserInfoHandOver {
  public:
    std::string className() const override { return "UserInfoViewController"; }
    void setUid(const std::optional<NSNumber>& id) override { uid = id; }
    void setUser(const Ref<QVNUser>& u) override { user = u; }
    std::optional<NSNumber> uid;
    Ref<QVNUser> user;
};

// The car studio, the initial scene of "Car".
class StudioStandIn : public UIViewController, public QVNCarScreens::CarStudioEntry {
  public:
    std::string className() const override { return "CarViewController"; }
    void setActivity(const Ref<QVNActivity>& a) override { activity = a; }
    void setTuningList(const Ref<QVNTuningList>& list) override { tuningList = list; }
    Ref<QVNActivity> activity;
    Ref<QVNTuningList> tuningList;
};

// Registers the login and profile stand-ins under "MyUser".
inline void registerAccountStandIns() {
    UIStoryboard::registerScene(QVNAccountScreens::kStoryboard, QVNAccountScreens::kLoginIdentifier,
                                [](UIStoryboard&) -> Ref<UIViewController> { return make<LoginStandIn>(); });
    UIStoryboard::registerScene(
        QVNAccountScreens::kStoryboard, "UserInfoViewController",
        [](UIStoryboard&) -> Ref<UIViewController> { return make<ProfileStandIn>(); });
}

}  // namespace standins
