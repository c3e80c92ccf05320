#pragma once
// The record of the host app as registered with the Weibo SDK: its app key, bundle identifier and
// the device aid. currentApp() builds a new record each time from the registration, the main
// bundle and the aid kept so far (it never starts an aid fetch).

#include <optional>
#include <string>

#include "foundation/NSObject.h"

class WeiboSDK3rdApp : public NSObject {
  public:
    std::string className() const override { return "WeiboSDK3rdApp"; }

    static Ref<WeiboSDK3rdApp> currentApp();

    // Nil before registration.
    const std::optional<std::string>& appKey() const { return appKey_; }
    void setAppKey(std::optional<std::string> key) { appKey_ = std::move(key); }
    const std::optional<std::string>& bundleID() const { return bundleID_; }
    void setBundleID(std::optional<std::string> id) { bundleID_ = std::move(id); }
    const std::optional<std::string>& aid() const { return aid_; }
    void setAid(std::optional<std::string> aid) { aid_ = std::move(aid); }

  private:
    std::optional<std::string> appKey_;
    std::optional<std::string> bundleID_;
    std::optional<std::string> aid_;
};
