#pragma once
// QVNUser: the account record, its fields named as the server's JSON keys. It is archived by
// property (every field that is not nil, under its own name) and lives, for the signed-in user,
// in the archive file of QVNUserManager.
//
// The account calls (sign-up, logins, profile and avatar updates, profile fetch, password reset
// and change, phone binding) are class methods that go through the server API client; they are
// defined beside that client, in QVNUser+Account.cpp.

#include <functional>
#include <optional>
#include <string>

#include "app/RMRecord.h"
#include "foundation/NSError.h"
#include "foundation/NSKeyedArchiver.h"

class UIImage;

class QVNUser : public NSObject, public NSCoding {
    RM_RECORD(QVNUser, NSObject)

    QVNUser() = default;
    // initWithAttributes: the reply's values for user_id, user_nickname, user_sign, user_logo,
    // user_sex, user_permit, user_status, user_time, isFriend, user_token, user_email and
    // user_phone (user_username is never filled from a reply). A missing key leaves the field
    // empty; a value of another kind than the field holds counts as missing (numbers given as
    // text are read as numbers, and the reverse, as the JSON mapping does).
    explicit QVNUser(const Dictionary& attributes);
    // initWithCoder:
    explicit QVNUser(NSCoder& coder);

    void encodeWithCoder(NSCoder& coder) const override;

    std::optional<NSNumber> user_id;
    std::optional<std::string> user_username;
    std::optional<std::string> user_nickname;
    std::optional<std::string> user_sign;
    std::optional<std::string> user_logo;  // avatar URL
    std::optional<NSNumber> user_sex;      // 1 male, 0 female
    std::optional<NSNumber> user_permit;
    std::optional<NSNumber> user_status;
    std::optional<std::string> user_time;
    std::optional<NSNumber> isFriend;  // 1 friend
    std::optional<std::string> user_token;
    std::optional<std::string> user_email;
    std::optional<std::string> user_phone;

    // ----- Archive files in the Caches folder (key defaults to "QVNUser") -----
    // key + ".arc"; YES when written.
    static bool saveSingleModel(const Value& object, const std::optional<std::string>& key);
    // The unarchived object, or nil.
    static Value readSingleModelForKey(const std::optional<std::string>& key);
    // "Array" + key + ".arc".
    static bool saveListModel(const Value& array, const std::optional<std::string>& key);
    static Value readListModelForKey(const std::optional<std::string>& key);

    // ----- Account calls (QVNUser+Account.cpp) -----
    // Completion argument orders differ between calls, as the server client hands them out.
    using UserCompletion = std::function<void(const Ref<NSError>& error, const Ref<QVNUser>& user)>;
    using FetchCompletion = std::function<void(const Ref<QVNUser>& user, const Ref<NSError>& error)>;
    using ErrorCompletion = std::function<void(const Ref<NSError>& error)>;

    // POST "user/register.do": completion(error, user); the user is not stored.
    static void registerWithUserPhone(const std::string& phone, const std::string& nickName,
                                      const std::string& password, long code, UserCompletion comletion);
    // GET "user/login.do": stores the user, then completion(nil, user).
    static void loginWithUserName(const std::string& userName, const std::string& password,
                                  UserCompletion completion);
    // POST "user/loginbyweibo.do" (tag "10001") or "user/loginbywechat.do" (tag "10002").
    static void loginWithToken(const std::string& token, const std::string& buttonTag,
                               UserCompletion completion);
    // GET "user/update.do": completion(error), then stores the given user.
    static void updateUserInfo(const Ref<QVNUser>& user, ErrorCompletion completion);
    // Picture POST to "user/updateavatar.do?token=%@": the given user's user_logo is replaced,
    // the user stored.
    static void updateUserAvatar(const Ref<QVNUser>& user, const Ref<UIImage>& image,
                                 ErrorCompletion completion);
    // GET "user/getuser.do": completion(user, error); 10003 signs out after the completion.
    static void getUserWithUserId(const Value& userId, FetchCompletion completion);
    // POST "user/findpassword.do".
    static void findPasswordWithIdentifyCode(long code, const std::string& phoneNumber,
                                             const std::string& password, ErrorCompletion comletion);
    // GET "user/updatepassword.do".
    static void changePasswordWithOldPassword(const std::string& oldPassword, const std::string& newPassword,
                                              ErrorCompletion completion);
    // POST "user/bindphone.do" with the given token: stores the reply's user.
    static void verifyPhoneWithCode(const std::optional<std::string>& token, const std::string& phoneNumber,
                                    unsigned long code, ErrorCompletion completion);
};
