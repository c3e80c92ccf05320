// The account calls of QVNUser: each goes through one wrapper of QVNAPIClient and hands its
// outcome to the caller's completion, storing the signed-in user where the call signs one in or
// changes it. The token-needing calls read the store's token at call time; a parameter without a
// value (no signed-in user, a field the user lacks) is left out of the request.
//
// Two fixed errors stand for what the server did not say: every refused login is 10001
// "用户名或密码错误" (whatever the server's code and text), and a transport failure of most
// calls is 10000 "服务器出错". Completions are optional and run on the main queue.

#include "app/QVNAPIClient.h"
#include "app/QVNUser.h"
#include "app/QVNUserManager.h"
#include "foundation/NSString.h"
#include "net/HKURLRequestSerialization.h"
#include "uikit/UIAlertView.h"

namespace {

constexpr char kServerFailureText[] = "服务器出错";
constexpr char kLoginFailureText[] = "用户名或密码错误";
constexpr char kInvalidTokenText[] = "帐号失效请重新登录";

Ref<NSError> transportError() {
    return NSError::errorWithDomain(kServerFailureText, QVNResultCodeTransportFailure,
                                    Dictionary{{QVNAPIErrorMessageKey, kServerFailureText}});
}

Ref<NSError> loginError() {
    return NSError::errorWithDomain(kLoginFailureText, QVNResultCodeLoginRefused,
                                    Dictionary{{QVNAPIErrorMessageKey, kLoginFailureText}});
}

// A parameters dictionary of the entries that have a value, in the given order.
Dictionary parameters(std::initializer_list<std::pair<const char*, Value>> entries) {
    Dictionary params = Dictionary::mutableDictionary();
    for (const auto& [name, value] : entries) {
        if (value.isSomething()) params.setObject(name, value);
    }
    return params;
}

Value tokenValue(const std::optional<std::string>& token) {
    return token ? Value(*token) : Value();
}

Value numberValue(const std::optional<NSNumber>& number) {
    return number ? Value(*number) : Value();
}

Ref<QVNUser> replyUser(const Value& reply) {
    return make<QVNUser>(reply.isDictionary() ? *reply.dictionary() : Dictionary());
}

void save(const Ref<QVNUser>& user) {
    QVNUserManager::shareObject()->saveUser(user);
}

// The success and failure blocks of the login calls: the user is stored before the completion.
void signIn(bool post, const std::string& path, const Dictionary& params,
            QVNUser::UserCompletion completion) {
    auto success = [completion](const Value& reply, const Ref<NSError>& error) {
        if (error) {
            if (completion) completion(loginError(), nullptr);
            return;
        }
        Ref<QVNUser> user = replyUser(reply);
        save(user);
        if (completion) completion(nullptr, user);
    };
    auto failure = [completion](const Ref<NSError>&) {
        if (completion) completion(transportError(), nullptr);
    };
    if (post) {
        QVNAPIClient::postWithURL(path, Value(params), success, failure);
    } else {
        QVNAPIClient::getWithURL(path, Value(params), success, failure);
    }
}

// Calls that answer only an error: the server's, or T for a transport failure.
void errorOnly(bool post, const std::string& path, const Dictionary& params,
               QVNUser::ErrorCompletion completion) {
    auto success = [completion](const Value&, const Ref<NSError>& error) {
        if (completion) completion(error);
    };
    auto failure = [completion](const Ref<NSError>&) {
        if (completion) completion(transportError());
    };
    if (post) {
        QVNAPIClient::postWithURL(path, Value(params), success, failure);
    } else {
        QVNAPIClient::getWithURL(path, Value(params), success, failure);
    }
}

}  // namespace

void QVNUser::registerWithUserPhone(const std::string& phone, const std::string& nickName,
                                    const std::string& password, long code, UserCompletion comletion) {
    QVNAPIClient::postWithURL(
        "user/register.do",
        Value(parameters(
            {{"username", phone}, {"nickname", nickName}, {"password", password}, {"code", code}})),
        [comletion](const Value& reply, const Ref<NSError>& error) {
            if (!comletion) return;
            if (error) {
                comletion(error, nullptr);
            } else {
                comletion(nullptr, replyUser(reply));
            }
        },
        [comletion](const Ref<NSError>&) {
            if (comletion) comletion(transportError(), nullptr);
        });
}

void QVNUser::loginWithUserName(const std::string& userName, const std::string& password,
                                UserCompletion completion) {
    signIn(false, "user/login.do", parameters({{"username", userName}, {"password", password}}),
           std::move(completion));
}

void QVNUser::loginWithToken(const std::string& token, const std::string& buttonTag,
                             UserCompletion completion) {
    if (buttonTag == "10001") {
        signIn(true, "user/loginbyweibo.do", parameters({{"access_token", token}}), std::move(completion));
    } else if (buttonTag == "10002") {
        signIn(true, "user/loginbywechat.do", parameters({{"code", token}}), std::move(completion));
    }
    // Any other tag names no endpoint; the login screen never passes one.
}

void QVNUser::updateUserInfo(const Ref<QVNUser>& user, ErrorCompletion completion) {
    Dictionary params;
    if (user) {
        params = parameters({{"token", tokenValue(user->user_token)},
                             {"nickname", tokenValue(user->user_nickname)},
                             {"sign", tokenValue(user->user_sign)},
                             {"sex", numberValue(user->user_sex)}});
    }
    QVNAPIClient::getWithURL(
        "user/update.do", Value(params),
        [user, completion](const Value&, const Ref<NSError>& error) {
            if (error) {
                if (completion) completion(error);
                return;
            }
            // The completion first: a caller reading currentUser at once still sees the old profile.
            if (completion) completion(nullptr);
            if (user) save(user);
        },
        [completion](const Ref<NSError>& error) {
            if (completion) completion(error);
        });
}

void QVNUser::updateUserAvatar(const Ref<QVNUser>& user, const Ref<UIImage>& image,
                               ErrorCompletion completion) {
    // The store's token goes into the path as a query value; escaping keeps a token with
    // reserved characters from breaking the URL (tokens the server hands out are unchanged).
    std::optional<std::string> token = QVNUserManager::shareObject()->currentUserToken();
    std::string path = NSString::stringWithFormat(
        "user/updateavatar.do?token=%@", HKEscapedQueryValue(token.value_or(""), NSUTF8StringEncoding));
    QVNAPIClient::postWithURLImage(
        path, image,
        [user, completion](const Value& reply, const Ref<NSError>& error) {
            if (error) {
                if (completion) completion(error);
                return;
            }
            if (user) {
                user->user_logo = reply["user_logo"].optionalString();
                save(user);
            }
            if (completion) completion(nullptr);
        },
        [completion](const Ref<NSError>& error) {
            if (completion) completion(error);
        });
}

void QVNUser::getUserWithUserId(const Value& userId, FetchCompletion completion) {
    std::optional<std::string> token = QVNUserManager::shareObject()->currentUserToken();
    QVNAPIClient::getWithURL(
        "user/getuser.do", Value(parameters({{"token", tokenValue(token)}, {"user_id", userId}})),
        [completion](const Value& reply, const Ref<NSError>& error) {
            if (!error) {
                if (completion) completion(replyUser(reply), nullptr);
                return;
            }
            if (completion) completion(nullptr, error);
            if (error->code() == QVNResultCodeInvalidToken) {
                auto alert = make<UIAlertView>(std::string(kInvalidTokenText), std::nullopt, nullptr,
                                               std::string("确定"));
                QVNUserManager::shareObject()->logOut();
                alert->show();
            }
        },
        [completion](const Ref<NSError>& error) {
            if (completion) completion(nullptr, error);
        });
}

void QVNUser::findPasswordWithIdentifyCode(long code, const std::string& phoneNumber,
                                           const std::string& password, ErrorCompletion comletion) {
    errorOnly(true, "user/findpassword.do",
              parameters({{"tel", phoneNumber}, {"code", code}, {"password", password}}),
              std::move(comletion));
}

void QVNUser::changePasswordWithOldPassword(const std::string& oldPassword, const std::string& newPassword,
                                            ErrorCompletion completion) {
    std::optional<std::string> token = QVNUserManager::shareObject()->currentUserToken();
    errorOnly(false, "user/updatepassword.do",
              parameters({{"user_token", tokenValue(token)},
                          {"old_password", oldPassword},
                          {"new_password", newPassword}}),
              std::move(completion));
}

void QVNUser::verifyPhoneWithCode(const std::optional<std::string>& token, const std::string& phoneNumber,
                                  unsigned long code, ErrorCompletion completion) {
    QVNAPIClient::postWithURL(
        "user/bindphone.do",
        Value(parameters({{"user_token", tokenValue(token)}, {"phone", phoneNumber}, {"code", code}})),
        [completion](const Value& reply, const Ref<NSError>& error) {
            if (error) {
                if (completion) completion(error);
                return;
            }
            save(replyUser(reply));
            if (completion) completion(nullptr);
        },
        [completion](const Ref<NSError>&) {
            if (completion) completion(transportError());
        });
}
