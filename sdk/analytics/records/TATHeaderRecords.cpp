#include "sdk/analytics/records/TATHeaderRecords.h"

template class TATRecord<TATAppInfo>;
template class TATRecord<TATResolution>;
template class TATRecord<TATDeviceInfo>;
template class TATRecord<TATTraffic>;
template class TATRecord<TATClientStats>;
template class TATRecord<TATMiscInfo>;

namespace {
const NSCodableClass<TATAppInfo> registerAppInfo(TATAppInfo::kClassName);
const NSCodableClass<TATResolution> registerResolution(TATResolution::kClassName);
const NSCodableClass<TATDeviceInfo> registerDeviceInfo(TATDeviceInfo::kClassName);
const NSCodableClass<TATTraffic> registerTraffic(TATTraffic::kClassName);
const NSCodableClass<TATClientStats> registerClientStats(TATClientStats::kClassName);
const NSCodableClass<TATMiscInfo> registerMiscInfo(TATMiscInfo::kClassName);
}  // namespace

TATAppInfo::TATAppInfo(std::optional<std::string> key, std::optional<std::string> version,
                       std::int32_t version_index, std::optional<std::string> package_name,
                       std::int32_t sdk_type, std::optional<std::string> sdk_version,
                       std::optional<std::string> channel, std::optional<std::string> wrapper_type,
                       std::optional<std::string> wrapper_version, std::int32_t vertical_type) {
    setKey(std::move(key));
    setVersion(std::move(version));
    setVersion_index(version_index);
    setPackage_name(std::move(package_name));
    setSdk_type(sdk_type);
    setSdk_version(std::move(sdk_version));
    setChannel(std::move(channel));
    setWrapper_type(std::move(wrapper_type));
    setWrapper_version(std::move(wrapper_version));
    setVertical_type(vertical_type);
}

TATAppInfo::TATAppInfo(NSCoder& coder) {
    decodeWithCoder(coder);
}

TATResolution::TATResolution(std::int32_t height, std::int32_t width) {
    setHeight(height);
    setWidth(width);
}

TATResolution::TATResolution(NSCoder& coder) {
    decodeWithCoder(coder);
}

TATDeviceInfo::TATDeviceInfo(std::optional<std::string> device_id, std::optional<std::string> idmd5,
                             std::optional<std::string> mac_address, std::optional<std::string> open_udid,
                             std::optional<std::string> model, std::optional<std::string> cpu,
                             std::optional<std::string> os, std::optional<std::string> os_version,
                             Ref<TATResolution> resolution, bool is_jailbroken,
                             std::optional<std::string> device_board, std::optional<std::string> device_brand,
                             std::int64_t device_manutime, std::optional<std::string> device_manufacturer,
                             std::optional<std::string> device_manuid,
                             std::optional<std::string> device_name) {
    setDevice_id(std::move(device_id));
    setIdmd5(std::move(idmd5));
    setMac_address(std::move(mac_address));
    setOpen_udid(std::move(open_udid));
    setModel(std::move(model));
    setCpu(std::move(cpu));
    setOs(std::move(os));
    setOs_version(std::move(os_version));
    setResolution(std::move(resolution));
    setIs_jailbroken(is_jailbroken);
    setDevice_board(std::move(device_board));
    setDevice_brand(std::move(device_brand));
    setDevice_manutime(device_manutime);
    setDevice_manufacturer(std::move(device_manufacturer));
    setDevice_manuid(std::move(device_manuid));
    setDevice_name(std::move(device_name));
}

TATDeviceInfo::TATDeviceInfo(NSCoder& coder) {
    decodeWithCoder(coder);
}

TATTraffic::TATTraffic(std::int32_t upload_traffic, std::int32_t download_traffic) {
    setUpload_traffic(upload_traffic);
    setDownload_traffic(download_traffic);
}

TATTraffic::TATTraffic(NSCoder& coder) {
    decodeWithCoder(coder);
}

TATClientStats::TATClientStats() {
    setSuccessful_requests(0);
    setFailed_requests(0);
}

TATClientStats::TATClientStats(std::int32_t successful_requests, std::int32_t failed_requests,
                               std::int32_t last_request_spent_ms) {
    setSuccessful_requests(successful_requests);
    setFailed_requests(failed_requests);
    setLast_request_spent_ms(last_request_spent_ms);
}

// An archive without the counters leaves them unset, as for every record read from one.
TATClientStats::TATClientStats(NSCoder& coder) {
    unsetSuccessful_requests();
    unsetFailed_requests();
    decodeWithCoder(coder);
}

TATMiscInfo::TATMiscInfo(std::int32_t time_zone, std::optional<std::string> language,
                         std::optional<std::string> country, double latitude, double longitude,
                         std::optional<std::string> carrier, std::int32_t latency,
                         std::optional<std::string> display_name, std::int32_t access_type,
                         std::optional<std::string> access_subtype) {
    setTime_zone(time_zone);
    setLanguage(std::move(language));
    setCountry(std::move(country));
    setLatitude(latitude);
    setLongitude(longitude);
    setCarrier(std::move(carrier));
    setLatency(latency);
    setDisplay_name(std::move(display_name));
    setAccess_type(access_type);
    setAccess_subtype(std::move(access_subtype));
}

TATMiscInfo::TATMiscInfo(NSCoder& coder) {
    decodeWithCoder(coder);
}
