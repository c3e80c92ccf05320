// The account endpoints: sign-up and sign-in, verification codes, passwords, profile, avatar.
//
// Every handler answers the envelope; a missing or malformed parameter gives kResultBadRequest
// rather than a guess, so a client fault shows in tests. Routes accept any method: the app
// sends some of them both ways.

#include "tools/devserver/DevServerState.h"

namespace devserver::detail {

namespace {

bool isPhone(const std::string& s) {
    return s.size() == 11 && s.find_first_not_of("0123456789") == std::string::npos;
}

std::optional<long> parseInteger(const std::string& s) {
    if (s.empty() || s.size() > 18) return std::nullopt;
    std::size_t start = s[0] == '-' ? 1 : 0;
    if (start == s.size() || s.find_first_not_of("0123456789", start) != std::string::npos)
        return std::nullopt;
    return std::stol(s);
}

Reply missing(const char* name) {
    return Reply::failure(kResultBadRequest, std::string("缺少参数 ") + name);
}
Reply invalidToken() {
    return Reply::failure(kResultInvalidToken, "登录已失效,请重新登录");
}
Reply badPhone() {
    return Reply::failure(kResultBadPhone, "手机号格式错误");
}
Reply serviceFailure() {
    return Reply::failure(kResultCodeServiceFailure, "验证码平台错误");
}
Reply wrongCode() {
    return Reply::failure(kResultWrongCode, "验证码错误");
}

Reply userReply(const SampleUser& user, const std::string& token, int isFriend = 0) {
    return Reply::success(DevServer::userFields(user, token, isFriend));
}

// The picture new accounts start with.
constexpr char kDefaultAvatar[] = "avatar-default";

std::string defaultAvatarURL(State& state) {
    if (!state.pictures.count(kDefaultAvatar))
        state.storePicture(makeSamplePNG(64, 64, 0x999999), kDefaultAvatar);
    return state.pictureURL(kDefaultAvatar);
}

// Sign-in through another service: each distinct credential is one account, made on first use.
// An empty credential or one starting with "invalid" is refused.
Reply thirdPartyLogin(State& state, const Request& request, const char* field, const std::string& service,
                      const std::string& nicknameStem) {
    auto credential = request.param(field);
    if (!credential || credential->empty() || credential->rfind("invalid", 0) == 0)
        return Reply::failure(kResultWrongPassword, "登录失败");
    std::lock_guard lock(state.mutex);
    std::string key = service + ":" + *credential;
    SampleUser* user = nullptr;
    auto it = state.thirdPartyAccounts.find(key);
    if (it != state.thirdPartyAccounts.end()) user = state.findUser(it->second);
    if (!user) {
        SampleUser fresh;
        fresh.user_time = nowText();
        fresh.user_logo = defaultAvatarURL(state);
        user = &state.addUser(fresh);
        user->user_username = service + "_" + std::to_string(user->user_id);
        user->user_nickname = nicknameStem + std::to_string(user->user_id);
        state.thirdPartyAccounts[key] = user->user_id;
    }
    return userReply(*user, state.issueToken(user->user_id));
}

}  // namespace

void addAccountRoutes(RouteRegistry& registry, State& state) {
    registry.add("", "user/login.do", [&state](const Request& request) {
        auto username = request.param("username");
        auto password = request.param("password");
        if (!username) return missing("username");
        if (!password) return missing("password");
        std::lock_guard lock(state.mutex);
        SampleUser* user = state.findUserByUsername(*username);
        if (!user) user = state.findUserByPhone(*username);
        if (!user || user->password != *password)
            return Reply::failure(kResultWrongPassword, "用户名或密码错误");
        return userReply(*user, state.issueToken(user->user_id));
    });

    registry.add("", "user/register.do", [&state](const Request& request) {
        auto phone = request.param("username");
        auto nickname = request.param("nickname");
        auto password = request.param("password");
        if (!phone) return missing("username");
        if (!nickname || nickname->empty()) return missing("nickname");
        if (!password || password->empty()) return missing("password");
        if (!isPhone(*phone)) return badPhone();
        std::lock_guard lock(state.mutex);
        if (state.verificationServiceFailing) return serviceFailure();
        if (state.findUserByUsername(*phone) || state.findUserByPhone(*phone))
            return Reply::failure(kResultAlreadyRegistered, "该手机号已注册");
        if (state.findUserByNickname(*nickname))
            return Reply::failure(kResultNicknameTaken, "该昵称已被使用");
        // The code is used up only by a sign-up that goes through.
        if (!state.takeVerificationCode(*phone, request.param("code"))) return wrongCode();
        SampleUser fresh;
        fresh.user_username = *phone;
        fresh.user_phone = *phone;
        fresh.password = *password;
        fresh.user_nickname = *nickname;
        fresh.user_time = nowText();
        fresh.user_logo = defaultAvatarURL(state);
        SampleUser& user = state.addUser(fresh);
        state.addNotice(user.user_id, 3, "欢迎来到改装社区，" + user.user_nickname, 0, 0);
        return userReply(user, state.issueToken(user.user_id));
    });

    registry.add("", "user/loginbyweibo.do", [&state](const Request& request) {
        return thirdPartyLogin(state, request, "access_token", "weibo", "微博用户");
    });
    registry.add("", "user/loginbywechat.do", [&state](const Request& request) {
        return thirdPartyLogin(state, request, "code", "wechat", "微信用户");
    });

    registry.add("", "user/getverifycode.do", [&state](const Request& request) {
        auto tel = request.param("tel");
        if (!tel || !isPhone(*tel)) return badPhone();
        std::lock_guard lock(state.mutex);
        if (state.verificationServiceFailing) return serviceFailure();
        // No SMS leaves the stand-in: tests and the demo read the code through the control.
        state.issueVerificationCode(*tel);
        return Reply::success();
    });

    registry.get(kVerificationCodeControlPath, [&state](const Request& request) {
        auto tel = request.queryParam("tel");
        std::lock_guard lock(state.mutex);
        auto it = tel ? state.verificationCodes.find(*tel) : state.verificationCodes.end();
        if (it == state.verificationCodes.end() || std::chrono::steady_clock::now() >= it->second.expires)
            return Reply::failure(kResultNotFound, "没有有效的验证码");
        Dictionary fields = Dictionary::mutableDictionary();
        fields.setObject("code", it->second.code);
        return Reply::success(fields);
    });

    registry.add("", "user/findpassword.do", [&state](const Request& request) {
        auto tel = request.param("tel");
        auto password = request.param("password");
        if (!tel || !isPhone(*tel)) return badPhone();
        std::lock_guard lock(state.mutex);
        if (state.verificationServiceFailing) return serviceFailure();
        if (!password || password->empty()) return missing("password");
        SampleUser* user = state.findUserByPhone(*tel);
        // No account holds that phone: the app shows its sign-in alert for this code.
        if (!user) return Reply::failure(kResultInvalidToken, "该手机号未注册");
        if (!state.takeVerificationCode(*tel, request.param("code"))) return wrongCode();
        user->password = *password;
        return Reply::success();
    });

    registry.add("", "user/bindphone.do", [&state](const Request& request) {
        auto token = request.param("user_token");
        auto phone = request.param("phone");
        std::lock_guard lock(state.mutex);
        SampleUser* user = token ? state.userForToken(*token) : nullptr;
        if (!user) return invalidToken();
        if (!phone || !isPhone(*phone)) return badPhone();
        if (state.verificationServiceFailing) return serviceFailure();
        SampleUser* holder = state.findUserByPhone(*phone);
        if (holder && holder->user_id != user->user_id)
            return Reply::failure(kResultAlreadyRegistered, "该手机号已被绑定");
        if (!state.takeVerificationCode(*phone, request.param("code"))) return wrongCode();
        user->user_phone = *phone;
        return userReply(*user, *token);
    });

    registry.add("", "user/updatepassword.do", [&state](const Request& request) {
        auto token = request.param("user_token");
        std::lock_guard lock(state.mutex);
        SampleUser* user = token ? state.userForToken(*token) : nullptr;
        if (!user) return invalidToken();
        auto oldPassword = request.param("old_password");
        auto newPassword = request.param("new_password");
        if (!oldPassword) return missing("old_password");
        if (!newPassword || newPassword->empty()) return missing("new_password");
        if (*oldPassword != user->password) return Reply::failure(kResultWrongPassword, "原密码错误");
        user->password = *newPassword;
        return Reply::success();
    });

    registry.add("", "user/update.do", [&state](const Request& request) {
        auto token = request.param("token");
        std::lock_guard lock(state.mutex);
        SampleUser* user = token ? state.userForToken(*token) : nullptr;
        if (!user) return invalidToken();
        auto nickname = request.param("nickname");
        auto sign = request.param("sign");
        auto sex = request.param("sex");
        std::optional<int> sexValue;
        if (sex) {
            if (*sex == "1" || *sex == "true")
                sexValue = 1;
            else if (*sex == "0" || *sex == "false")
                sexValue = 0;
            else
                return Reply::failure(kResultBadRequest, "性别无效");
        }
        if (nickname && !nickname->empty()) {
            SampleUser* holder = state.findUserByNickname(*nickname);
            if (holder && holder->user_id != user->user_id)
                return Reply::failure(kResultNicknameTaken, "该昵称已被使用");
            user->user_nickname = *nickname;
        }
        if (sign) user->user_sign = *sign;
        if (sexValue) user->user_sex = *sexValue;
        return Reply::success();
    });

    registry.add("", "user/updateavatar.do", [&state](const Request& request) {
        auto token = request.queryParam("token");
        if (!token) token = request.param("token");
        std::lock_guard lock(state.mutex);
        SampleUser* user = token ? state.userForToken(*token) : nullptr;
        if (!user) return invalidToken();
        const MultipartPart* file = request.part("file");
        if (!file) return Reply::failure(kResultBadRequest, "缺少图片");
        if (sniffImageType(file->content).empty()) return Reply::failure(kResultBadRequest, "不是图片");
        std::string id = state.storePicture(file->content, "");
        user->user_logo = state.pictureURL(id);
        Dictionary fields = Dictionary::mutableDictionary();
        fields.setObject("user_logo", user->user_logo);
        return Reply::success(fields);
    });

    registry.add("", "user/getuser.do", [&state](const Request& request) {
        auto token = request.param("token");
        std::lock_guard lock(state.mutex);
        SampleUser* me = token ? state.userForToken(*token) : nullptr;
        if (!me) return invalidToken();
        auto idText = request.param("user_id");
        if (!idText) return missing("user_id");
        auto id = parseInteger(*idText);
        if (!id) return Reply::failure(kResultBadRequest, "user_id 无效");
        SampleUser* user = state.findUser(*id);
        if (!user) return Reply::failure(kResultNotFound, "用户不存在");
        bool self = user->user_id == me->user_id;
        int isFriend = state.friends.count({me->user_id, user->user_id}) ? 1 : 0;
        return userReply(*user, self ? *token : std::string(), isFriend);
    });

    registry.add("", "user/searchuser.do", [&state](const Request& request) {
        auto token = request.param("user_token");
        std::lock_guard lock(state.mutex);
        SampleUser* me = token ? state.userForToken(*token) : nullptr;
        if (!me) return invalidToken();
        std::string keyword = request.param("keyword").value_or("");
        Array rows = Array::mutableArray();
        for (const auto& user : state.users) {
            if (user.user_id == me->user_id) continue;
            if (!keyword.empty() && user.user_nickname.find(keyword) == std::string::npos) continue;
            Dictionary row = Dictionary::mutableDictionary();
            row.setObject("user_nickname", user.user_nickname);
            row.setObject("user_id", user.user_id);
            row.setObject("user_logo", user.user_logo);
            row.setObject("isFriend", state.friends.count({me->user_id, user.user_id}) ? 1 : 0);
            rows.addObject(row);
        }
        Dictionary fields = Dictionary::mutableDictionary();
        fields.setObject("data", rows);
        return Reply::success(fields);
    });
}

}  // namespace devserver::detail
