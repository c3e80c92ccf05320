#pragma once
// The root of the report schema: one report is one log entry. It gathers the header records,
// the body records, the imprint and id tracking, the signed-in profile, the delayed-send policy
// in force and the experiment groups. Each record follows the shape of TATRecord.h.
//
// Setting an optional part to none (nullptr, std::nullopt) and unsetting it give the same bytes:
// a field without a value is not written.

#include "sdk/analytics/records/TATBodyRecords.h"
#include "sdk/analytics/records/TATHeaderRecords.h"
#include "sdk/analytics/records/TATImprintRecords.h"
#include "sdk/analytics/records/TATRecord.h"

class TATLatent final : public TATRecord<TATLatent> {
  public:
    static constexpr char kClassName[] = "TATLatent";
    static constexpr char kStructName[] = "Latent";

    TATLatent() = default;
    TATLatent(std::int32_t latency, std::int64_t interval);
    explicit TATLatent(NSCoder& coder);

    // Seconds of delay chosen for a delayed send.
    std::int32_t latency() const { return latency_; }
    void setLatency(std::int32_t latency) {
        latency_ = latency;
        latencyIsSet_ = true;
    }
    bool latencyIsSet() const { return latencyIsSet_; }
    void unsetLatency() { latencyIsSet_ = false; }

    // Milliseconds since the last upload; 0 when that is not greater than 0.
    std::int64_t interval() const { return interval_; }
    void setInterval(std::int64_t interval) {
        interval_ = interval;
        intervalIsSet_ = true;
    }
    bool intervalIsSet() const { return intervalIsSet_; }
    void unsetInterval() { intervalIsSet_ = false; }

  private:
    friend class TATRecord<TATLatent>;
    template <class V>
    static void fields(V&& visit) {
        visit(1, "latency", true, &TATLatent::latency_, &TATLatent::latencyIsSet_);
        visit(2, "interval", true, &TATLatent::interval_, &TATLatent::intervalIsSet_);
    }

    std::int32_t latency_ = 0;
    std::int64_t interval_ = 0;
    bool latencyIsSet_ = false;
    bool intervalIsSet_ = false;
};
extern template class TATRecord<TATLatent>;

class TATControlPolicy final : public TATRecord<TATControlPolicy> {
  public:
    static constexpr char kClassName[] = "TATControlPolicy";
    static constexpr char kStructName[] = "ControlPolicy";

    TATControlPolicy() = default;
    explicit TATControlPolicy(Ref<TATLatent> latent);
    explicit TATControlPolicy(NSCoder& coder);

    const Ref<TATLatent>& latent() const { return latent_; }
    void setLatent(Ref<TATLatent> latent) {
        latent_ = std::move(latent);
        latentIsSet_ = true;
    }
    bool latentIsSet() const { return latentIsSet_; }
    void unsetLatent() {
        latent_.reset();
        latentIsSet_ = false;
    }

  private:
    friend class TATRecord<TATControlPolicy>;
    template <class V>
    static void fields(V&& visit) {
        visit(1, "latent", false, &TATControlPolicy::latent_, &TATControlPolicy::latentIsSet_);
    }

    Ref<TATLatent> latent_;
    bool latentIsSet_ = false;
};
extern template class TATRecord<TATControlPolicy>;

class TATActiveUser final : public TATRecord<TATActiveUser> {
  public:
    static constexpr char kClassName[] = "TATActiveUser";
    static constexpr char kStructName[] = "ActiveUser";

    TATActiveUser() = default;
    TATActiveUser(std::optional<std::string> provider, std::optional<std::string> puid);
    explicit TATActiveUser(NSCoder& coder);

    const std::optional<std::string>& provider() const { return provider_; }
    void setProvider(std::optional<std::string> provider) {
        provider_ = std::move(provider);
        providerIsSet_ = true;
    }
    bool providerIsSet() const { return providerIsSet_; }
    void unsetProvider() {
        provider_.reset();
        providerIsSet_ = false;
    }

    const std::optional<std::string>& puid() const { return puid_; }
    void setPuid(std::optional<std::string> puid) {
        puid_ = std::move(puid);
        puidIsSet_ = true;
    }
    bool puidIsSet() const { return puidIsSet_; }
    void unsetPuid() {
        puid_.reset();
        puidIsSet_ = false;
    }

  private:
    friend class TATRecord<TATActiveUser>;
    template <class V>
    static void fields(V&& visit) {
        visit(1, "provider", true, &TATActiveUser::provider_, &TATActiveUser::providerIsSet_);
        visit(2, "puid", true, &TATActiveUser::puid_, &TATActiveUser::puidIsSet_);
    }

    std::optional<std::string> provider_;
    std::optional<std::string> puid_;
    bool providerIsSet_ = false;
    bool puidIsSet_ = false;
};
extern template class TATRecord<TATActiveUser>;

class TATUALogEntry final : public TATRecord<TATUALogEntry> {
  public:
    static constexpr char kClassName[] = "TATUALogEntry";
    static constexpr char kStructName[] = "UALogEntry";

    TATUALogEntry() = default;
    TATUALogEntry(Ref<TATClientStats> client_stats, Ref<TATAppInfo> app_info, Ref<TATDeviceInfo> device_info,
                  Ref<TATMiscInfo> misc_info, Ref<TATActivateMsg> activate_msg,
                  std::optional<TATList<TATInstantMsg>> instant_msgs,
                  std::optional<TATList<TATSession>> sessions, Ref<TATImprint> imprint,
                  Ref<TATIdTracking> id_tracking, Ref<TATActiveUser> active_user,
                  Ref<TATControlPolicy> control_policy, std::optional<Dictionary> group_info);
    explicit TATUALogEntry(NSCoder& coder);

    const Ref<TATClientStats>& client_stats() const { return client_stats_; }
    void setClient_stats(Ref<TATClientStats> client_stats) {
        client_stats_ = std::move(client_stats);
        client_statsIsSet_ = true;
    }
    bool client_statsIsSet() const { return client_statsIsSet_; }
    void unsetClient_stats() {
        client_stats_.reset();
        client_statsIsSet_ = false;
    }

    const Ref<TATAppInfo>& app_info() const { return app_info_; }
    void setApp_info(Ref<TATAppInfo> app_info) {
        app_info_ = std::move(app_info);
        app_infoIsSet_ = true;
    }
    bool app_infoIsSet() const { return app_infoIsSet_; }
    void unsetApp_info() {
        app_info_.reset();
        app_infoIsSet_ = false;
    }

    const Ref<TATDeviceInfo>& device_info() const { return device_info_; }
    void setDevice_info(Ref<TATDeviceInfo> device_info) {
        device_info_ = std::move(device_info);
        device_infoIsSet_ = true;
    }
    bool device_infoIsSet() const { return device_infoIsSet_; }
    void unsetDevice_info() {
        device_info_.reset();
        device_infoIsSet_ = false;
    }

    const Ref<TATMiscInfo>& misc_info() const { return misc_info_; }
    void setMisc_info(Ref<TATMiscInfo> misc_info) {
        misc_info_ = std::move(misc_info);
        misc_infoIsSet_ = true;
    }
    bool misc_infoIsSet() const { return misc_infoIsSet_; }
    void unsetMisc_info() {
        misc_info_.reset();
        misc_infoIsSet_ = false;
    }

    const Ref<TATActivateMsg>& activate_msg() const { return activate_msg_; }
    void setActivate_msg(Ref<TATActivateMsg> activate_msg) {
        activate_msg_ = std::move(activate_msg);
        activate_msgIsSet_ = true;
    }
    bool activate_msgIsSet() const { return activate_msgIsSet_; }
    void unsetActivate_msg() {
        activate_msg_.reset();
        activate_msgIsSet_ = false;
    }

    const std::optional<TATList<TATInstantMsg>>& instant_msgs() const { return instant_msgs_; }
    std::optional<TATList<TATInstantMsg>>& instant_msgs() { return instant_msgs_; }
    void setInstant_msgs(std::optional<TATList<TATInstantMsg>> instant_msgs) {
        instant_msgs_ = std::move(instant_msgs);
        instant_msgsIsSet_ = true;
    }
    bool instant_msgsIsSet() const { return instant_msgsIsSet_; }
    void unsetInstant_msgs() {
        instant_msgs_.reset();
        instant_msgsIsSet_ = false;
    }

    const std::optional<TATList<TATSession>>& sessions() const { return sessions_; }
    std::optional<TATList<TATSession>>& sessions() { return sessions_; }
    void setSessions(std::optional<TATList<TATSession>> sessions) {
        sessions_ = std::move(sessions);
        sessionsIsSet_ = true;
    }
    bool sessionsIsSet() const { return sessionsIsSet_; }
    void unsetSessions() {
        sessions_.reset();
        sessionsIsSet_ = false;
    }

    const Ref<TATImprint>& imprint() const { return imprint_; }
    void setImprint(Ref<TATImprint> imprint) {
        imprint_ = std::move(imprint);
        imprintIsSet_ = true;
    }
    bool imprintIsSet() const { return imprintIsSet_; }
    void unsetImprint() {
        imprint_.reset();
        imprintIsSet_ = false;
    }

    const Ref<TATIdTracking>& id_tracking() const { return id_tracking_; }
    void setId_tracking(Ref<TATIdTracking> id_tracking) {
        id_tracking_ = std::move(id_tracking);
        id_trackingIsSet_ = true;
    }
    bool id_trackingIsSet() const { return id_trackingIsSet_; }
    void unsetId_tracking() {
        id_tracking_.reset();
        id_trackingIsSet_ = false;
    }

    const Ref<TATActiveUser>& active_user() const { return active_user_; }
    void setActive_user(Ref<TATActiveUser> active_user) {
        active_user_ = std::move(active_user);
        active_userIsSet_ = true;
    }
    bool active_userIsSet() const { return active_userIsSet_; }
    void unsetActive_user() {
        active_user_.reset();
        active_userIsSet_ = false;
    }

    const Ref<TATControlPolicy>& control_policy() const { return control_policy_; }
    void setControl_policy(Ref<TATControlPolicy> control_policy) {
        control_policy_ = std::move(control_policy);
        control_policyIsSet_ = true;
    }
    bool control_policyIsSet() const { return control_policyIsSet_; }
    void unsetControl_policy() {
        control_policy_.reset();
        control_policyIsSet_ = false;
    }

    // Experiment key to group number. Each value is sent as an i32 (the low 32 bits of the
    // number held) and read back as a number.
    const std::optional<Dictionary>& group_info() const { return group_info_; }
    void setGroup_info(std::optional<Dictionary> group_info) {
        group_info_ = std::move(group_info);
        group_infoIsSet_ = true;
    }
    bool group_infoIsSet() const { return group_infoIsSet_; }
    void unsetGroup_info() {
        group_info_.reset();
        group_infoIsSet_ = false;
    }

  private:
    friend class TATRecord<TATUALogEntry>;
    template <class V>
    static void fields(V&& visit) {
        visit(1, "client_stats", true, &TATUALogEntry::client_stats_, &TATUALogEntry::client_statsIsSet_);
        visit(2, "app_info", true, &TATUALogEntry::app_info_, &TATUALogEntry::app_infoIsSet_);
        visit(3, "device_info", true, &TATUALogEntry::device_info_, &TATUALogEntry::device_infoIsSet_);
        visit(4, "misc_info", true, &TATUALogEntry::misc_info_, &TATUALogEntry::misc_infoIsSet_);
        visit(5, "activate_msg", false, &TATUALogEntry::activate_msg_, &TATUALogEntry::activate_msgIsSet_);
        visit(6, "instant_msgs", false, &TATUALogEntry::instant_msgs_, &TATUALogEntry::instant_msgsIsSet_);
        visit(7, "sessions", false, &TATUALogEntry::sessions_, &TATUALogEntry::sessionsIsSet_);
        visit(8, "imprint", false, &TATUALogEntry::imprint_, &TATUALogEntry::imprintIsSet_);
        visit(9, "id_tracking", false, &TATUALogEntry::id_tracking_, &TATUALogEntry::id_trackingIsSet_);
        visit(10, "active_user", false, &TATUALogEntry::active_user_, &TATUALogEntry::active_userIsSet_);
        visit(11, "control_policy", false, &TATUALogEntry::control_policy_,
              &TATUALogEntry::control_policyIsSet_);
        visit(12, "group_info", false, &TATUALogEntry::group_info_, &TATUALogEntry::group_infoIsSet_);
    }

    Ref<TATClientStats> client_stats_;
    Ref<TATAppInfo> app_info_;
    Ref<TATDeviceInfo> device_info_;
    Ref<TATMiscInfo> misc_info_;
    Ref<TATActivateMsg> activate_msg_;
    std::optional<TATList<TATInstantMsg>> instant_msgs_;
    std::optional<TATList<TATSession>> sessions_;
    Ref<TATImprint> imprint_;
    Ref<TATIdTracking> id_tracking_;
    Ref<TATActiveUser> active_user_;
    Ref<TATControlPolicy> control_policy_;
    std::optional<Dictionary> group_info_;
    bool client_statsIsSet_ = false;
    bool app_infoIsSet_ = false;
    bool device_infoIsSet_ = false;
    bool misc_infoIsSet_ = false;
    bool activate_msgIsSet_ = false;
    bool instant_msgsIsSet_ = false;
    bool sessionsIsSet_ = false;
    bool imprintIsSet_ = false;
    bool id_trackingIsSet_ = false;
    bool active_userIsSet_ = false;
    bool control_policyIsSet_ = false;
    bool group_infoIsSet_ = false;
};
extern template class TATRecord<TATUALogEntry>;
