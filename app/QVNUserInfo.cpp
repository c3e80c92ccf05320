#include "app/QVNUserInfo.h"

static const NSCodableClass<QVNUserInfo> qvnUserInfoCoding("QVNUserInfo");

QVNUserInfo::QVNUserInfo(NSCoder& coder) {
    setUserNickname(coder.decodeObjectForKey("userNickname").optionalString());
    setUserGender(coder.decodeBoolForKey("userGender"));
    setUserSign(coder.decodeObjectForKey("userSign").optionalString());
    setUserLogo(coder.decodeObjectForKey("userLogo").optionalString());
}

void QVNUserInfo::encodeWithCoder(NSCoder& coder) const {
    coder.encodeObject(Value(userNickname_), "userNickname");
    coder.encodeBool(userGender_, "userGender");
    coder.encodeObject(Value(userSign_), "userSign");
    coder.encodeObject(Value(userLogo_), "userLogo");
}
