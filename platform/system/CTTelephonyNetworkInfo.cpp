#include "system/CTTelephonyNetworkInfo.h"
#include "system/SystemTesting.h"

#include <mutex>

namespace {

struct TelephonyState {
    std::mutex mutex;
    std::optional<CTCarrierInfo> carrier;
    std::optional<std::string> technology;
};

TelephonyState& telephony() {
    static TelephonyState s;
    return s;
}

std::string orNil(const std::optional<std::string>& text) {
    return text ? *text : "(null)";
}

}  // namespace

std::string CTCarrier::description() const {
    return "CTCarrier (" + NSObject::description() + ") {\n\tCarrier name: [" + orNil(info_.carrierName) +
           "]\n\tMobile Country Code: [" + orNil(info_.mobileCountryCode) + "]\n\tMobile Network Code:[" +
           orNil(info_.mobileNetworkCode) + "]\n\tISO Country Code:[" + orNil(info_.isoCountryCode) +
           "]\n\tAllows VOIP? [" + (info_.allowsVOIP ? "YES" : "NO") + "]\n}";
}

Ref<CTCarrier> CTTelephonyNetworkInfo::subscriberCellularProvider() const {
    std::lock_guard lock(telephony().mutex);
    return make<CTCarrier>(telephony().carrier.value_or(CTCarrierInfo{}));
}

std::optional<std::string> CTTelephonyNetworkInfo::currentRadioAccessTechnology() const {
    std::lock_guard lock(telephony().mutex);
    return telephony().technology;
}

namespace system_testing {

void setCarrier(std::optional<CTCarrierInfo> carrier) {
    std::lock_guard lock(telephony().mutex);
    telephony().carrier = std::move(carrier);
}

void setRadioAccessTechnology(std::optional<std::string> technology) {
    std::lock_guard lock(telephony().mutex);
    telephony().technology = std::move(technology);
}

}  // namespace system_testing
