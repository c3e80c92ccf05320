#pragma once
// QVNUserInfo: a small profile record (nickname, signature, gender, avatar) with its own keyed
// coding. Kept for archives that hold one; the app itself reads and writes the full QVNUser.

#include <optional>
#include <string>

#include "foundation/NSKeyedArchiver.h"
#include "foundation/NSObject.h"

class QVNUserInfo : public NSObject, public NSCoding {
  public:
    QVNUserInfo() = default;
    // initWithCoder: reads the four keys back through the setters.
    explicit QVNUserInfo(NSCoder& coder);

    // Writes "userNickname", "userGender" (a Boolean), "userSign" and "userLogo", in that order.
    void encodeWithCoder(NSCoder& coder) const override;

    const std::optional<std::string>& userNickname() const { return userNickname_; }
    void setUserNickname(std::optional<std::string> value) { userNickname_ = std::move(value); }
    const std::optional<std::string>& userSign() const { return userSign_; }
    void setUserSign(std::optional<std::string> value) { userSign_ = std::move(value); }
    bool userGender() const { return userGender_; }
    void setUserGender(bool value) { userGender_ = value; }
    const std::optional<std::string>& userLogo() const { return userLogo_; }
    void setUserLogo(std::optional<std::string> value) { userLogo_ = std::move(value); }

    std::string className() const override { return "QVNUserInfo"; }

  private:
    std::optional<std::string> userNickname_;
    std::optional<std::string> userSign_;
    bool userGender_ = false;
    std::optional<std::string> userLogo_;
};
