#include "sdk/analytics/records/TATBodyRecords.h"

template class TATRecord<TATPage>;
template class TATRecord<TATLocation>;
template class TATRecord<TATSession>;
template class TATRecord<TATPropertyValue>;
template class TATRecord<TATEvent>;
template class TATRecord<TATError>;
template class TATRecord<TATInstantMsg>;
template class TATRecord<TATActivateMsg>;

namespace {
const NSCodableClass<TATPage> registerPage(TATPage::kClassName);
const NSCodableClass<TATLocation> registerLocation(TATLocation::kClassName);
const NSCodableClass<TATSession> registerSession(TATSession::kClassName);
const NSCodableClass<TATPropertyValue> registerPropertyValue(TATPropertyValue::kClassName);
const NSCodableClass<TATEvent> registerEvent(TATEvent::kClassName);
const NSCodableClass<TATError> registerError(TATError::kClassName);
const NSCodableClass<TATInstantMsg> registerInstantMsg(TATInstantMsg::kClassName);
const NSCodableClass<TATActivateMsg> registerActivateMsg(TATActivateMsg::kClassName);
}  // namespace

TATPage::TATPage(std::optional<std::string> page_name, std::int64_t duration) {
    setPage_name(std::move(page_name));
    setDuration(duration);
}

TATPage::TATPage(NSCoder& coder) {
    decodeWithCoder(coder);
}

TATLocation::TATLocation(double lat, double lng, std::int64_t ts) {
    setLat(lat);
    setLng(lng);
    setTs(ts);
}

TATLocation::TATLocation(NSCoder& coder) {
    decodeWithCoder(coder);
}

TATSession::TATSession(std::optional<std::string> id, std::int64_t start_time, std::int64_t end_time,
                       std::int64_t duration, std::optional<TATList<TATPage>> pages,
                       std::optional<TATList<TATLocation>> locations, Ref<TATTraffic> traffic) {
    setId(std::move(id));
    setStart_time(start_time);
    setEnd_time(end_time);
    setDuration(duration);
    setPages(std::move(pages));
    setLocations(std::move(locations));
    setTraffic(std::move(traffic));
}

TATSession::TATSession(NSCoder& coder) {
    decodeWithCoder(coder);
}

TATPropertyValue::TATPropertyValue(std::optional<std::string> string_value, std::int64_t long_value) {
    setString_value(std::move(string_value));
    setLong_value(long_value);
}

TATPropertyValue::TATPropertyValue(NSCoder& coder) {
    decodeWithCoder(coder);
}

TATEvent::TATEvent(std::optional<std::string> name, std::optional<TATMap<Ref<TATPropertyValue>>> properties,
                   std::int64_t duration, std::int32_t acc, std::int64_t ts) {
    setName(std::move(name));
    setProperties(std::move(properties));
    setDuration(duration);
    setAcc(acc);
    setTs(ts);
}

TATEvent::TATEvent(NSCoder& coder) {
    decodeWithCoder(coder);
}

TATError::TATError(std::int64_t ts, std::optional<std::string> context, std::int32_t source) {
    setTs(ts);
    setContext(std::move(context));
    setSource(source);
}

TATError::TATError(NSCoder& coder) {
    decodeWithCoder(coder);
}

TATInstantMsg::TATInstantMsg(std::optional<std::string> id, std::optional<TATList<TATError>> errors,
                             std::optional<TATList<TATEvent>> events,
                             std::optional<TATList<TATEvent>> game_events) {
    setId(std::move(id));
    setErrors(std::move(errors));
    setEvents(std::move(events));
    setGame_events(std::move(game_events));
}

TATInstantMsg::TATInstantMsg(NSCoder& coder) {
    decodeWithCoder(coder);
}

TATActivateMsg::TATActivateMsg(std::int64_t ts) {
    setTs(ts);
}

TATActivateMsg::TATActivateMsg(NSCoder& coder) {
    decodeWithCoder(coder);
}
