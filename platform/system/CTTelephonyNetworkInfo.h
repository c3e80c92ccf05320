#pragma once
// Telephony: the subscriber's carrier and the radio technology.
//
// This machine has no SIM and no radio, so the device answers as a phone without a SIM card: a
// carrier object whose names and codes are all nil, and no radio technology. Tests install a
// carrier to see the other branch. Objects read the installed carrier when they are asked, so a
// change is seen by objects made before it. Thread-safe.

#include <optional>
#include <string>

#include "foundation/NSObject.h"

// What a carrier reports; every field may be nil.
struct CTCarrierInfo {
    std::optional<std::string> carrierName;
    std::optional<std::string> mobileCountryCode;
    std::optional<std::string> mobileNetworkCode;
    std::optional<std::string> isoCountryCode;
    bool allowsVOIP = false;
};

class CTCarrier : public NSObject {
  public:
    explicit CTCarrier(CTCarrierInfo info = {}) : info_(std::move(info)) {}
    std::string className() const override { return "CTCarrier"; }
    std::string description() const override;

    const std::optional<std::string>& carrierName() const { return info_.carrierName; }
    const std::optional<std::string>& mobileCountryCode() const { return info_.mobileCountryCode; }
    const std::optional<std::string>& mobileNetworkCode() const { return info_.mobileNetworkCode; }
    const std::optional<std::string>& isoCountryCode() const { return info_.isoCountryCode; }
    bool allowsVOIP() const { return info_.allowsVOIP; }

  private:
    CTCarrierInfo info_;
};

inline constexpr char CTRadioAccessTechnologyLTE[] = "CTRadioAccessTechnologyLTE";
inline constexpr char CTRadioAccessTechnologyWCDMA[] = "CTRadioAccessTechnologyWCDMA";
inline constexpr char CTRadioAccessTechnologyEdge[] = "CTRadioAccessTechnologyEdge";

class CTTelephonyNetworkInfo : public NSObject {
  public:
    std::string className() const override { return "CTTelephonyNetworkInfo"; }

    // Never nil: without a SIM the carrier's fields are nil.
    Ref<CTCarrier> subscriberCellularProvider() const;
    // nil when there is no radio connection.
    std::optional<std::string> currentRadioAccessTechnology() const;
};
