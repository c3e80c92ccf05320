#pragma once
// The answers WeChat gives to the app's own requests.
//
// errCode is 0 on success; the other values are the WXErrCode constants. A denied sign-in gives
// WXErrCodeAuthDeny (-4) and no code.

#include <cstdint>
#include <optional>
#include <string>

#include "foundation/NSObject.h"

enum WXErrCode : std::int32_t {
    WXSuccess = 0,
    WXErrCodeCommon = -1,
    WXErrCodeUserCancel = -2,
    WXErrCodeSentFail = -3,
    WXErrCodeAuthDeny = -4,
    WXErrCodeUnsupport = -5,
};

class BaseResp : public NSObject {
  public:
    std::string className() const override { return "BaseResp"; }

    std::int32_t errCode() const { return errCode_; }
    void setErrCode(std::int32_t errCode) { errCode_ = errCode; }
    // WeChat's own words for a failure; empty when it gave none.
    const std::string& errStr() const { return errStr_; }
    void setErrStr(std::string errStr) { errStr_ = std::move(errStr); }
    // The answer kind's code as the transfer carries it (0 for the base class).
    std::int32_t type() const { return type_; }
    void setType(std::int32_t type) { type_ = type; }

  private:
    std::int32_t errCode_ = WXSuccess;
    std::string errStr_;
    std::int32_t type_ = 0;
};

// The answer to SendAuthReq.
class SendAuthResp : public BaseResp {
  public:
    std::string className() const override { return "SendAuthResp"; }

    // The authorization code; nil when the sign-in failed.
    const std::optional<std::string>& code() const { return code_; }
    void setCode(std::optional<std::string> code) { code_ = std::move(code); }
    // The request's state, handed back unchanged.
    const std::optional<std::string>& state() const { return state_; }
    void setState(std::optional<std::string> state) { state_ = std::move(state); }
    const std::optional<std::string>& lang() const { return lang_; }
    void setLang(std::optional<std::string> lang) { lang_ = std::move(lang); }
    const std::optional<std::string>& country() const { return country_; }
    void setCountry(std::optional<std::string> country) { country_ = std::move(country); }

  private:
    std::optional<std::string> code_;
    std::optional<std::string> state_;
    std::optional<std::string> lang_;
    std::optional<std::string> country_;
};

// The answer to SendMessageToWXReq.
class SendMessageToWXResp : public BaseResp {
  public:
    std::string className() const override { return "SendMessageToWXResp"; }

    const std::optional<std::string>& lang() const { return lang_; }
    void setLang(std::optional<std::string> lang) { lang_ = std::move(lang); }
    const std::optional<std::string>& country() const { return country_; }
    void setCountry(std::optional<std::string> country) { country_ = std::move(country); }

  private:
    std::optional<std::string> lang_;
    std::optional<std::string> country_;
};
