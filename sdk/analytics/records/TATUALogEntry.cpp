#include "sdk/analytics/records/TATUALogEntry.h"

template class TATRecord<TATLatent>;
template class TATRecord<TATControlPolicy>;
template class TATRecord<TATActiveUser>;
template class TATRecord<TATUALogEntry>;

namespace {
const NSCodableClass<TATLatent> registerLatent(TATLatent::kClassName);
const NSCodableClass<TATControlPolicy> registerControlPolicy(TATControlPolicy::kClassName);
const NSCodableClass<TATActiveUser> registerActiveUser(TATActiveUser::kClassName);
const NSCodableClass<TATUALogEntry> registerUALogEntry(TATUALogEntry::kClassName);
}  // namespace

TATLatent::TATLatent(std::int32_t latency, std::int64_t interval) {
    setLatency(latency);
    setInterval(interval);
}

TATLatent::TATLatent(NSCoder& coder) {
    decodeWithCoder(coder);
}

TATControlPolicy::TATControlPolicy(Ref<TATLatent> latent) {
    setLatent(std::move(latent));
}

TATControlPolicy::TATControlPolicy(NSCoder& coder) {
    decodeWithCoder(coder);
}

TATActiveUser::TATActiveUser(std::optional<std::string> provider, std::optional<std::string> puid) {
    setProvider(std::move(provider));
    setPuid(std::move(puid));
}

TATActiveUser::TATActiveUser(NSCoder& coder) {
    decodeWithCoder(coder);
}

TATUALogEntry::TATUALogEntry(Ref<TATClientStats> client_stats, Ref<TATAppInfo> app_info,
                             Ref<TATDeviceInfo> device_info, Ref<TATMiscInfo> misc_info,
                             Ref<TATActivateMsg> activate_msg,
                             std::optional<TATList<TATInstantMsg>> instant_msgs,
                             std::optional<TATList<TATSession>> sessions, Ref<TATImprint> imprint,
                             Ref<TATIdTracking> id_tracking, Ref<TATActiveUser> active_user,
                             Ref<TATControlPolicy> control_policy, std::optional<Dictionary> group_info) {
    setClient_stats(std::move(client_stats));
    setApp_info(std::move(app_info));
    setDevice_info(std::move(device_info));
    setMisc_info(std::move(misc_info));
    setActivate_msg(std::move(activate_msg));
    setInstant_msgs(std::move(instant_msgs));
    setSessions(std::move(sessions));
    setImprint(std::move(imprint));
    setId_tracking(std::move(id_tracking));
    setActive_user(std::move(active_user));
    setControl_policy(std::move(control_policy));
    setGroup_info(std::move(group_info));
}

TATUALogEntry::TATUALogEntry(NSCoder& coder) {
    decodeWithCoder(coder);
}
