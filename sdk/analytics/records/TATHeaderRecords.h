#pragma once
// The records that head every report: the application, the device and its screen, locale,
// position and network, the counters of earlier uploads, and the traffic counters a session
// carries. Each follows the record shape of TATRecord.h: per field a getter, a setter that
// sets the presence flag, a flag query and an unsetter.

#include "sdk/analytics/records/TATRecord.h"

class TATAppInfo final : public TATRecord<TATAppInfo> {
  public:
    static constexpr char kClassName[] = "TATAppInfo";
    static constexpr char kStructName[] = "AppInfo";

    TATAppInfo() = default;
    TATAppInfo(std::optional<std::string> key, std::optional<std::string> version, std::int32_t version_index,
               std::optional<std::string> package_name, std::int32_t sdk_type,
               std::optional<std::string> sdk_version, std::optional<std::string> channel,
               std::optional<std::string> wrapper_type, std::optional<std::string> wrapper_version,
               std::int32_t vertical_type);
    explicit TATAppInfo(NSCoder& coder);

    const std::optional<std::string>& key() const { return key_; }
    void setKey(std::optional<std::string> key) {
        key_ = std::move(key);
        keyIsSet_ = true;
    }
    bool keyIsSet() const { return keyIsSet_; }
    void unsetKey() {
        key_.reset();
        keyIsSet_ = false;
    }

    const std::optional<std::string>& version() const { return version_; }
    void setVersion(std::optional<std::string> version) {
        version_ = std::move(version);
        versionIsSet_ = true;
    }
    bool versionIsSet() const { return versionIsSet_; }
    void unsetVersion() {
        version_.reset();
        versionIsSet_ = false;
    }

    std::int32_t version_index() const { return version_index_; }
    void setVersion_index(std::int32_t version_index) {
        version_index_ = version_index;
        version_indexIsSet_ = true;
    }
    bool version_indexIsSet() const { return version_indexIsSet_; }
    void unsetVersion_index() { version_indexIsSet_ = false; }

    const std::optional<std::string>& package_name() const { return package_name_; }
    void setPackage_name(std::optional<std::string> package_name) {
        package_name_ = std::move(package_name);
        package_nameIsSet_ = true;
    }
    bool package_nameIsSet() const { return package_nameIsSet_; }
    void unsetPackage_name() {
        package_name_.reset();
        package_nameIsSet_ = false;
    }

    // Kind of analytics library; the report assembly sends 1.
    std::int32_t sdk_type() const { return sdk_type_; }
    void setSdk_type(std::int32_t sdk_type) {
        sdk_type_ = sdk_type;
        sdk_typeIsSet_ = true;
    }
    bool sdk_typeIsSet() const { return sdk_typeIsSet_; }
    void unsetSdk_type() { sdk_typeIsSet_ = false; }

    const std::optional<std::string>& sdk_version() const { return sdk_version_; }
    void setSdk_version(std::optional<std::string> sdk_version) {
        sdk_version_ = std::move(sdk_version);
        sdk_versionIsSet_ = true;
    }
    bool sdk_versionIsSet() const { return sdk_versionIsSet_; }
    void unsetSdk_version() {
        sdk_version_.reset();
        sdk_versionIsSet_ = false;
    }

    const std::optional<std::string>& channel() const { return channel_; }
    void setChannel(std::optional<std::string> channel) {
        channel_ = std::move(channel);
        channelIsSet_ = true;
    }
    bool channelIsSet() const { return channelIsSet_; }
    void unsetChannel() {
        channel_.reset();
        channelIsSet_ = false;
    }

    const std::optional<std::string>& wrapper_type() const { return wrapper_type_; }
    void setWrapper_type(std::optional<std::string> wrapper_type) {
        wrapper_type_ = std::move(wrapper_type);
        wrapper_typeIsSet_ = true;
    }
    bool wrapper_typeIsSet() const { return wrapper_typeIsSet_; }
    void unsetWrapper_type() {
        wrapper_type_.reset();
        wrapper_typeIsSet_ = false;
    }

    const std::optional<std::string>& wrapper_version() const { return wrapper_version_; }
    void setWrapper_version(std::optional<std::string> wrapper_version) {
        wrapper_version_ = std::move(wrapper_version);
        wrapper_versionIsSet_ = true;
    }
    bool wrapper_versionIsSet() const { return wrapper_versionIsSet_; }
    void unsetWrapper_version() {
        wrapper_version_.reset();
        wrapper_versionIsSet_ = false;
    }

    std::int32_t vertical_type() const { return vertical_type_; }
    void setVertical_type(std::int32_t vertical_type) {
        vertical_type_ = vertical_type;
        vertical_typeIsSet_ = true;
    }
    bool vertical_typeIsSet() const { return vertical_typeIsSet_; }
    void unsetVertical_type() { vertical_typeIsSet_ = false; }

  private:
    friend class TATRecord<TATAppInfo>;
    template <class V>
    static void fields(V&& visit) {
        visit(1, "key", true, &TATAppInfo::key_, &TATAppInfo::keyIsSet_);
        visit(2, "version", false, &TATAppInfo::version_, &TATAppInfo::versionIsSet_);
        visit(3, "version_index", false, &TATAppInfo::version_index_, &TATAppInfo::version_indexIsSet_);
        visit(4, "package_name", false, &TATAppInfo::package_name_, &TATAppInfo::package_nameIsSet_);
        visit(5, "sdk_type", true, &TATAppInfo::sdk_type_, &TATAppInfo::sdk_typeIsSet_);
        visit(6, "sdk_version", true, &TATAppInfo::sdk_version_, &TATAppInfo::sdk_versionIsSet_);
        visit(7, "channel", true, &TATAppInfo::channel_, &TATAppInfo::channelIsSet_);
        visit(8, "wrapper_type", false, &TATAppInfo::wrapper_type_, &TATAppInfo::wrapper_typeIsSet_);
        visit(9, "wrapper_version", false, &TATAppInfo::wrapper_version_, &TATAppInfo::wrapper_versionIsSet_);
        visit(10, "vertical_type", false, &TATAppInfo::vertical_type_, &TATAppInfo::vertical_typeIsSet_);
    }

    std::optional<std::string> key_;
    std::optional<std::string> version_;
    std::int32_t version_index_ = 0;
    std::optional<std::string> package_name_;
    std::int32_t sdk_type_ = 0;
    std::optional<std::string> sdk_version_;
    std::optional<std::string> channel_;
    std::optional<std::string> wrapper_type_;
    std::optional<std::string> wrapper_version_;
    std::int32_t vertical_type_ = 0;
    bool keyIsSet_ = false;
    bool versionIsSet_ = false;
    bool version_indexIsSet_ = false;
    bool package_nameIsSet_ = false;
    bool sdk_typeIsSet_ = false;
    bool sdk_versionIsSet_ = false;
    bool channelIsSet_ = false;
    bool wrapper_typeIsSet_ = false;
    bool wrapper_versionIsSet_ = false;
    bool vertical_typeIsSet_ = false;
};
extern template class TATRecord<TATAppInfo>;

class TATResolution final : public TATRecord<TATResolution> {
  public:
    static constexpr char kClassName[] = "TATResolution";
    static constexpr char kStructName[] = "Resolution";

    TATResolution() = default;
    TATResolution(std::int32_t height, std::int32_t width);
    explicit TATResolution(NSCoder& coder);

    std::int32_t height() const { return height_; }
    void setHeight(std::int32_t height) {
        height_ = height;
        heightIsSet_ = true;
    }
    bool heightIsSet() const { return heightIsSet_; }
    void unsetHeight() { heightIsSet_ = false; }

    std::int32_t width() const { return width_; }
    void setWidth(std::int32_t width) {
        width_ = width;
        widthIsSet_ = true;
    }
    bool widthIsSet() const { return widthIsSet_; }
    void unsetWidth() { widthIsSet_ = false; }

  private:
    friend class TATRecord<TATResolution>;
    template <class V>
    static void fields(V&& visit) {
        visit(1, "height", true, &TATResolution::height_, &TATResolution::heightIsSet_);
        visit(2, "width", true, &TATResolution::width_, &TATResolution::widthIsSet_);
    }

    std::int32_t height_ = 0;
    std::int32_t width_ = 0;
    bool heightIsSet_ = false;
    bool widthIsSet_ = false;
};
extern template class TATRecord<TATResolution>;

class TATDeviceInfo final : public TATRecord<TATDeviceInfo> {
  public:
    static constexpr char kClassName[] = "TATDeviceInfo";
    static constexpr char kStructName[] = "DeviceInfo";

    TATDeviceInfo() = default;
    TATDeviceInfo(std::optional<std::string> device_id, std::optional<std::string> idmd5,
                  std::optional<std::string> mac_address, std::optional<std::string> open_udid,
                  std::optional<std::string> model, std::optional<std::string> cpu,
                  std::optional<std::string> os, std::optional<std::string> os_version,
                  Ref<TATResolution> resolution, bool is_jailbroken, std::optional<std::string> device_board,
                  std::optional<std::string> device_brand, std::int64_t device_manutime,
                  std::optional<std::string> device_manufacturer, std::optional<std::string> device_manuid,
                  std::optional<std::string> device_name);
    explicit TATDeviceInfo(NSCoder& coder);

    const std::optional<std::string>& device_id() const { return device_id_; }
    void setDevice_id(std::optional<std::string> device_id) {
        device_id_ = std::move(device_id);
        device_idIsSet_ = true;
    }
    bool device_idIsSet() const { return device_idIsSet_; }
    void unsetDevice_id() {
        device_id_.reset();
        device_idIsSet_ = false;
    }

    const std::optional<std::string>& idmd5() const { return idmd5_; }
    void setIdmd5(std::optional<std::string> idmd5) {
        idmd5_ = std::move(idmd5);
        idmd5IsSet_ = true;
    }
    bool idmd5IsSet() const { return idmd5IsSet_; }
    void unsetIdmd5() {
        idmd5_.reset();
        idmd5IsSet_ = false;
    }

    const std::optional<std::string>& mac_address() const { return mac_address_; }
    void setMac_address(std::optional<std::string> mac_address) {
        mac_address_ = std::move(mac_address);
        mac_addressIsSet_ = true;
    }
    bool mac_addressIsSet() const { return mac_addressIsSet_; }
    void unsetMac_address() {
        mac_address_.reset();
        mac_addressIsSet_ = false;
    }

    const std::optional<std::string>& open_udid() const { return open_udid_; }
    void setOpen_udid(std::optional<std::string> open_udid) {
        open_udid_ = std::move(open_udid);
        open_udidIsSet_ = true;
    }
    bool open_udidIsSet() const { return open_udidIsSet_; }
    void unsetOpen_udid() {
        open_udid_.reset();
        open_udidIsSet_ = false;
    }

    const std::optional<std::string>& model() const { return model_; }
    void setModel(std::optional<std::string> model) {
        model_ = std::move(model);
        modelIsSet_ = true;
    }
    bool modelIsSet() const { return modelIsSet_; }
    void unsetModel() {
        model_.reset();
        modelIsSet_ = false;
    }

    const std::optional<std::string>& cpu() const { return cpu_; }
    void setCpu(std::optional<std::string> cpu) {
        cpu_ = std::move(cpu);
        cpuIsSet_ = true;
    }
    bool cpuIsSet() const { return cpuIsSet_; }
    void unsetCpu() {
        cpu_.reset();
        cpuIsSet_ = false;
    }

    const std::optional<std::string>& os() const { return os_; }
    void setOs(std::optional<std::string> os) {
        os_ = std::move(os);
        osIsSet_ = true;
    }
    bool osIsSet() const { return osIsSet_; }
    void unsetOs() {
        os_.reset();
        osIsSet_ = false;
    }

    const std::optional<std::string>& os_version() const { return os_version_; }
    void setOs_version(std::optional<std::string> os_version) {
        os_version_ = std::move(os_version);
        os_versionIsSet_ = true;
    }
    bool os_versionIsSet() const { return os_versionIsSet_; }
    void unsetOs_version() {
        os_version_.reset();
        os_versionIsSet_ = false;
    }

    const Ref<TATResolution>& resolution() const { return resolution_; }
    void setResolution(Ref<TATResolution> resolution) {
        resolution_ = std::move(resolution);
        resolutionIsSet_ = true;
    }
    bool resolutionIsSet() const { return resolutionIsSet_; }
    void unsetResolution() {
        resolution_.reset();
        resolutionIsSet_ = false;
    }

    bool is_jailbroken() const { return is_jailbroken_; }
    void setIs_jailbroken(bool is_jailbroken) {
        is_jailbroken_ = is_jailbroken;
        is_jailbrokenIsSet_ = true;
    }
    bool is_jailbrokenIsSet() const { return is_jailbrokenIsSet_; }
    void unsetIs_jailbroken() { is_jailbrokenIsSet_ = false; }

    const std::optional<std::string>& device_board() const { return device_board_; }
    void setDevice_board(std::optional<std::string> device_board) {
        device_board_ = std::move(device_board);
        device_boardIsSet_ = true;
    }
    bool device_boardIsSet() const { return device_boardIsSet_; }
    void unsetDevice_board() {
        device_board_.reset();
        device_boardIsSet_ = false;
    }

    const std::optional<std::string>& device_brand() const { return device_brand_; }
    void setDevice_brand(std::optional<std::string> device_brand) {
        device_brand_ = std::move(device_brand);
        device_brandIsSet_ = true;
    }
    bool device_brandIsSet() const { return device_brandIsSet_; }
    void unsetDevice_brand() {
        device_brand_.reset();
        device_brandIsSet_ = false;
    }

    std::int64_t device_manutime() const { return device_manutime_; }
    void setDevice_manutime(std::int64_t device_manutime) {
        device_manutime_ = device_manutime;
        device_manutimeIsSet_ = true;
    }
    bool device_manutimeIsSet() const { return device_manutimeIsSet_; }
    void unsetDevice_manutime() { device_manutimeIsSet_ = false; }

    const std::optional<std::string>& device_manufacturer() const { return device_manufacturer_; }
    void setDevice_manufacturer(std::optional<std::string> device_manufacturer) {
        device_manufacturer_ = std::move(device_manufacturer);
        device_manufacturerIsSet_ = true;
    }
    bool device_manufacturerIsSet() const { return device_manufacturerIsSet_; }
    void unsetDevice_manufacturer() {
        device_manufacturer_.reset();
        device_manufacturerIsSet_ = false;
    }

    const std::optional<std::string>& device_manuid() const { return device_manuid_; }
    void setDevice_manuid(std::optional<std::string> device_manuid) {
        device_manuid_ = std::move(device_manuid);
        device_manuidIsSet_ = true;
    }
    bool device_manuidIsSet() const { return device_manuidIsSet_; }
    void unsetDevice_manuid() {
        device_manuid_.reset();
        device_manuidIsSet_ = false;
    }

    const std::optional<std::string>& device_name() const { return device_name_; }
    void setDevice_name(std::optional<std::string> device_name) {
        device_name_ = std::move(device_name);
        device_nameIsSet_ = true;
    }
    bool device_nameIsSet() const { return device_nameIsSet_; }
    void unsetDevice_name() {
        device_name_.reset();
        device_nameIsSet_ = false;
    }

  private:
    friend class TATRecord<TATDeviceInfo>;
    template <class V>
    static void fields(V&& visit) {
        visit(1, "device_id", false, &TATDeviceInfo::device_id_, &TATDeviceInfo::device_idIsSet_);
        visit(2, "idmd5", false, &TATDeviceInfo::idmd5_, &TATDeviceInfo::idmd5IsSet_);
        visit(3, "mac_address", false, &TATDeviceInfo::mac_address_, &TATDeviceInfo::mac_addressIsSet_);
        visit(4, "open_udid", false, &TATDeviceInfo::open_udid_, &TATDeviceInfo::open_udidIsSet_);
        visit(5, "model", false, &TATDeviceInfo::model_, &TATDeviceInfo::modelIsSet_);
        visit(6, "cpu", false, &TATDeviceInfo::cpu_, &TATDeviceInfo::cpuIsSet_);
        visit(7, "os", false, &TATDeviceInfo::os_, &TATDeviceInfo::osIsSet_);
        visit(8, "os_version", false, &TATDeviceInfo::os_version_, &TATDeviceInfo::os_versionIsSet_);
        visit(9, "resolution", false, &TATDeviceInfo::resolution_, &TATDeviceInfo::resolutionIsSet_);
        visit(10, "is_jailbroken", false, &TATDeviceInfo::is_jailbroken_,
              &TATDeviceInfo::is_jailbrokenIsSet_);
        visit(12, "device_board", false, &TATDeviceInfo::device_board_, &TATDeviceInfo::device_boardIsSet_);
        visit(13, "device_brand", false, &TATDeviceInfo::device_brand_, &TATDeviceInfo::device_brandIsSet_);
        visit(14, "device_manutime", false, &TATDeviceInfo::device_manutime_,
              &TATDeviceInfo::device_manutimeIsSet_);
        visit(15, "device_manufacturer", false, &TATDeviceInfo::device_manufacturer_,
              &TATDeviceInfo::device_manufacturerIsSet_);
        visit(16, "device_manuid", false, &TATDeviceInfo::device_manuid_,
              &TATDeviceInfo::device_manuidIsSet_);
        visit(17, "device_name", false, &TATDeviceInfo::device_name_, &TATDeviceInfo::device_nameIsSet_);
    }

    std::optional<std::string> device_id_;
    std::optional<std::string> idmd5_;
    std::optional<std::string> mac_address_;
    std::optional<std::string> open_udid_;
    std::optional<std::string> model_;
    std::optional<std::string> cpu_;
    std::optional<std::string> os_;
    std::optional<std::string> os_version_;
    Ref<TATResolution> resolution_;
    bool is_jailbroken_ = false;
    std::optional<std::string> device_board_;
    std::optional<std::string> device_brand_;
    std::int64_t device_manutime_ = 0;
    std::optional<std::string> device_manufacturer_;
    std::optional<std::string> device_manuid_;
    std::optional<std::string> device_name_;
    bool device_idIsSet_ = false;
    bool idmd5IsSet_ = false;
    bool mac_addressIsSet_ = false;
    bool open_udidIsSet_ = false;
    bool modelIsSet_ = false;
    bool cpuIsSet_ = false;
    bool osIsSet_ = false;
    bool os_versionIsSet_ = false;
    bool resolutionIsSet_ = false;
    bool is_jailbrokenIsSet_ = false;
    bool device_boardIsSet_ = false;
    bool device_brandIsSet_ = false;
    bool device_manutimeIsSet_ = false;
    bool device_manufacturerIsSet_ = false;
    bool device_manuidIsSet_ = false;
    bool device_nameIsSet_ = false;
};
extern template class TATRecord<TATDeviceInfo>;

class TATTraffic final : public TATRecord<TATTraffic> {
  public:
    static constexpr char kClassName[] = "TATTraffic";
    static constexpr char kStructName[] = "Traffic";

    TATTraffic() = default;
    TATTraffic(std::int32_t upload_traffic, std::int32_t download_traffic);
    explicit TATTraffic(NSCoder& coder);

    std::int32_t upload_traffic() const { return upload_traffic_; }
    void setUpload_traffic(std::int32_t upload_traffic) {
        upload_traffic_ = upload_traffic;
        upload_trafficIsSet_ = true;
    }
    bool upload_trafficIsSet() const { return upload_trafficIsSet_; }
    void unsetUpload_traffic() { upload_trafficIsSet_ = false; }

    std::int32_t download_traffic() const { return download_traffic_; }
    void setDownload_traffic(std::int32_t download_traffic) {
        download_traffic_ = download_traffic;
        download_trafficIsSet_ = true;
    }
    bool download_trafficIsSet() const { return download_trafficIsSet_; }
    void unsetDownload_traffic() { download_trafficIsSet_ = false; }

  private:
    friend class TATRecord<TATTraffic>;
    template <class V>
    static void fields(V&& visit) {
        visit(1, "upload_traffic", true, &TATTraffic::upload_traffic_, &TATTraffic::upload_trafficIsSet_);
        visit(2, "download_traffic", true, &TATTraffic::download_traffic_,
              &TATTraffic::download_trafficIsSet_);
    }

    std::int32_t upload_traffic_ = 0;
    std::int32_t download_traffic_ = 0;
    bool upload_trafficIsSet_ = false;
    bool download_trafficIsSet_ = false;
};
extern template class TATRecord<TATTraffic>;

// The one record whose plain initialiser is not empty: both request counters start at 0 and set,
// so a fresh record passes validate and writes them.
class TATClientStats final : public TATRecord<TATClientStats> {
  public:
    static constexpr char kClassName[] = "TATClientStats";
    static constexpr char kStructName[] = "ClientStats";

    TATClientStats();
    TATClientStats(std::int32_t successful_requests, std::int32_t failed_requests,
                   std::int32_t last_request_spent_ms);
    explicit TATClientStats(NSCoder& coder);

    std::int32_t successful_requests() const { return successful_requests_; }
    void setSuccessful_requests(std::int32_t successful_requests) {
        successful_requests_ = successful_requests;
        successful_requestsIsSet_ = true;
    }
    bool successful_requestsIsSet() const { return successful_requestsIsSet_; }
    void unsetSuccessful_requests() { successful_requestsIsSet_ = false; }

    std::int32_t failed_requests() const { return failed_requests_; }
    void setFailed_requests(std::int32_t failed_requests) {
        failed_requests_ = failed_requests;
        failed_requestsIsSet_ = true;
    }
    bool failed_requestsIsSet() const { return failed_requestsIsSet_; }
    void unsetFailed_requests() { failed_requestsIsSet_ = false; }

    std::int32_t last_request_spent_ms() const { return last_request_spent_ms_; }
    void setLast_request_spent_ms(std::int32_t last_request_spent_ms) {
        last_request_spent_ms_ = last_request_spent_ms;
        last_request_spent_msIsSet_ = true;
    }
    bool last_request_spent_msIsSet() const { return last_request_spent_msIsSet_; }
    void unsetLast_request_spent_ms() { last_request_spent_msIsSet_ = false; }

  private:
    friend class TATRecord<TATClientStats>;
    template <class V>
    static void fields(V&& visit) {
        visit(1, "successful_requests", true, &TATClientStats::successful_requests_,
              &TATClientStats::successful_requestsIsSet_);
        visit(2, "failed_requests", true, &TATClientStats::failed_requests_,
              &TATClientStats::failed_requestsIsSet_);
        visit(3, "last_request_spent_ms", false, &TATClientStats::last_request_spent_ms_,
              &TATClientStats::last_request_spent_msIsSet_);
    }

    std::int32_t successful_requests_ = 0;
    std::int32_t failed_requests_ = 0;
    std::int32_t last_request_spent_ms_ = 0;
    bool successful_requestsIsSet_ = false;
    bool failed_requestsIsSet_ = false;
    bool last_request_spent_msIsSet_ = false;
};
extern template class TATRecord<TATClientStats>;

class TATMiscInfo final : public TATRecord<TATMiscInfo> {
  public:
    static constexpr char kClassName[] = "TATMiscInfo";
    static constexpr char kStructName[] = "MiscInfo";

    TATMiscInfo() = default;
    TATMiscInfo(std::int32_t time_zone, std::optional<std::string> language,
                std::optional<std::string> country, double latitude, double longitude,
                std::optional<std::string> carrier, std::int32_t latency,
                std::optional<std::string> display_name, std::int32_t access_type,
                std::optional<std::string> access_subtype);
    explicit TATMiscInfo(NSCoder& coder);

    // Offset from UTC in whole hours.
    std::int32_t time_zone() const { return time_zone_; }
    void setTime_zone(std::int32_t time_zone) {
        time_zone_ = time_zone;
        time_zoneIsSet_ = true;
    }
    bool time_zoneIsSet() const { return time_zoneIsSet_; }
    void unsetTime_zone() { time_zoneIsSet_ = false; }

    const std::optional<std::string>& language() const { return language_; }
    void setLanguage(std::optional<std::string> language) {
        language_ = std::move(language);
        languageIsSet_ = true;
    }
    bool languageIsSet() const { return languageIsSet_; }
    void unsetLanguage() {
        language_.reset();
        languageIsSet_ = false;
    }

    const std::optional<std::string>& country() const { return country_; }
    void setCountry(std::optional<std::string> country) {
        country_ = std::move(country);
        countryIsSet_ = true;
    }
    bool countryIsSet() const { return countryIsSet_; }
    void unsetCountry() {
        country_.reset();
        countryIsSet_ = false;
    }

    double latitude() const { return latitude_; }
    void setLatitude(double latitude) {
        latitude_ = latitude;
        latitudeIsSet_ = true;
    }
    bool latitudeIsSet() const { return latitudeIsSet_; }
    void unsetLatitude() { latitudeIsSet_ = false; }

    double longitude() const { return longitude_; }
    void setLongitude(double longitude) {
        longitude_ = longitude;
        longitudeIsSet_ = true;
    }
    bool longitudeIsSet() const { return longitudeIsSet_; }
    void unsetLongitude() { longitudeIsSet_ = false; }

    const std::optional<std::string>& carrier() const { return carrier_; }
    void setCarrier(std::optional<std::string> carrier) {
        carrier_ = std::move(carrier);
        carrierIsSet_ = true;
    }
    bool carrierIsSet() const { return carrierIsSet_; }
    void unsetCarrier() {
        carrier_.reset();
        carrierIsSet_ = false;
    }

    std::int32_t latency() const { return latency_; }
    void setLatency(std::int32_t latency) {
        latency_ = latency;
        latencyIsSet_ = true;
    }
    bool latencyIsSet() const { return latencyIsSet_; }
    void unsetLatency() { latencyIsSet_ = false; }

    const std::optional<std::string>& display_name() const { return display_name_; }
    void setDisplay_name(std::optional<std::string> display_name) {
        display_name_ = std::move(display_name);
        display_nameIsSet_ = true;
    }
    bool display_nameIsSet() const { return display_nameIsSet_; }
    void unsetDisplay_name() {
        display_name_.reset();
        display_nameIsSet_ = false;
    }

    // Kind of network access; the report assembly sends 2 for Wi-Fi, 1 for cellular, else 0.
    std::int32_t access_type() const { return access_type_; }
    void setAccess_type(std::int32_t access_type) {
        access_type_ = access_type;
        access_typeIsSet_ = true;
    }
    bool access_typeIsSet() const { return access_typeIsSet_; }
    void unsetAccess_type() { access_typeIsSet_ = false; }

    const std::optional<std::string>& access_subtype() const { return access_subtype_; }
    void setAccess_subtype(std::optional<std::string> access_subtype) {
        access_subtype_ = std::move(access_subtype);
        access_subtypeIsSet_ = true;
    }
    bool access_subtypeIsSet() const { return access_subtypeIsSet_; }
    void unsetAccess_subtype() {
        access_subtype_.reset();
        access_subtypeIsSet_ = false;
    }

  private:
    friend class TATRecord<TATMiscInfo>;
    template <class V>
    static void fields(V&& visit) {
        visit(1, "time_zone", false, &TATMiscInfo::time_zone_, &TATMiscInfo::time_zoneIsSet_);
        visit(2, "language", false, &TATMiscInfo::language_, &TATMiscInfo::languageIsSet_);
        visit(3, "country", false, &TATMiscInfo::country_, &TATMiscInfo::countryIsSet_);
        visit(4, "latitude", false, &TATMiscInfo::latitude_, &TATMiscInfo::latitudeIsSet_);
        visit(5, "longitude", false, &TATMiscInfo::longitude_, &TATMiscInfo::longitudeIsSet_);
        visit(6, "carrier", false, &TATMiscInfo::carrier_, &TATMiscInfo::carrierIsSet_);
        visit(7, "latency", false, &TATMiscInfo::latency_, &TATMiscInfo::latencyIsSet_);
        visit(8, "display_name", false, &TATMiscInfo::display_name_, &TATMiscInfo::display_nameIsSet_);
        visit(9, "access_type", false, &TATMiscInfo::access_type_, &TATMiscInfo::access_typeIsSet_);
        visit(10, "access_subtype", false, &TATMiscInfo::access_subtype_, &TATMiscInfo::access_subtypeIsSet_);
    }

    std::int32_t time_zone_ = 0;
    std::optional<std::string> language_;
    std::optional<std::string> country_;
    double latitude_ = 0;
    double longitude_ = 0;
    std::optional<std::string> carrier_;
    std::int32_t latency_ = 0;
    std::optional<std::string> display_name_;
    std::int32_t access_type_ = 0;
    std::optional<std::string> access_subtype_;
    bool time_zoneIsSet_ = false;
    bool languageIsSet_ = false;
    bool countryIsSet_ = false;
    bool latitudeIsSet_ = false;
    bool longitudeIsSet_ = false;
    bool carrierIsSet_ = false;
    bool latencyIsSet_ = false;
    bool display_nameIsSet_ = false;
    bool access_typeIsSet_ = false;
    bool access_subtypeIsSet_ = false;
};
extern template class TATRecord<TATMiscInfo>;
