#pragma once
// The records that carry what happened in the application: usage sessions with their pages,
// positions and traffic; batches of instant messages holding errors, events (with their property
// values) and game events; and the activation marker. Times and durations are whatever units
// the report assembly puts in (milliseconds). Each follows the record shape of TATRecord.h.

#include "sdk/analytics/records/TATHeaderRecords.h"
#include "sdk/analytics/records/TATRecord.h"

class TATPage final : public TATRecord<TATPage> {
  public:
    static constexpr char kClassName[] = "TATPage";
    static constexpr char kStructName[] = "Page";

    TATPage() = default;
    TATPage(std::optional<std::string> page_name, std::int64_t duration);
    explicit TATPage(NSCoder& coder);

    const std::optional<std::string>& page_name() const { return page_name_; }
    void setPage_name(std::optional<std::string> page_name) {
        page_name_ = std::move(page_name);
        page_nameIsSet_ = true;
    }
    bool page_nameIsSet() const { return page_nameIsSet_; }
    void unsetPage_name() {
        page_name_.reset();
        page_nameIsSet_ = false;
    }

    std::int64_t duration() const { return duration_; }
    void setDuration(std::int64_t duration) {
        duration_ = duration;
        durationIsSet_ = true;
    }
    bool durationIsSet() const { return durationIsSet_; }
    void unsetDuration() { durationIsSet_ = false; }

  private:
    friend class TATRecord<TATPage>;
    template <class V>
    static void fields(V&& visit) {
        visit(1, "page_name", true, &TATPage::page_name_, &TATPage::page_nameIsSet_);
        visit(2, "duration", true, &TATPage::duration_, &TATPage::durationIsSet_);
    }

    std::optional<std::string> page_name_;
    std::int64_t duration_ = 0;
    bool page_nameIsSet_ = false;
    bool durationIsSet_ = false;
};
extern template class TATRecord<TATPage>;

class TATLocation final : public TATRecord<TATLocation> {
  public:
    static constexpr char kClassName[] = "TATLocation";
    static constexpr char kStructName[] = "Location";

    TATLocation() = default;
    TATLocation(double lat, double lng, std::int64_t ts);
    explicit TATLocation(NSCoder& coder);

    double lat() const { return lat_; }
    void setLat(double lat) {
        lat_ = lat;
        latIsSet_ = true;
    }
    bool latIsSet() const { return latIsSet_; }
    void unsetLat() { latIsSet_ = false; }

    double lng() const { return lng_; }
    void setLng(double lng) {
        lng_ = lng;
        lngIsSet_ = true;
    }
    bool lngIsSet() const { return lngIsSet_; }
    void unsetLng() { lngIsSet_ = false; }

    std::int64_t ts() const { return ts_; }
    void setTs(std::int64_t ts) {
        ts_ = ts;
        tsIsSet_ = true;
    }
    bool tsIsSet() const { return tsIsSet_; }
    void unsetTs() { tsIsSet_ = false; }

  private:
    friend class TATRecord<TATLocation>;
    template <class V>
    static void fields(V&& visit) {
        visit(1, "lat", true, &TATLocation::lat_, &TATLocation::latIsSet_);
        visit(2, "lng", true, &TATLocation::lng_, &TATLocation::lngIsSet_);
        visit(3, "ts", true, &TATLocation::ts_, &TATLocation::tsIsSet_);
    }

    double lat_ = 0;
    double lng_ = 0;
    std::int64_t ts_ = 0;
    bool latIsSet_ = false;
    bool lngIsSet_ = false;
    bool tsIsSet_ = false;
};
extern template class TATRecord<TATLocation>;

class TATSession final : public TATRecord<TATSession> {
  public:
    static constexpr char kClassName[] = "TATSession";
    static constexpr char kStructName[] = "Session";

    TATSession() = default;
    TATSession(std::optional<std::string> id, std::int64_t start_time, std::int64_t end_time,
               std::int64_t duration, std::optional<TATList<TATPage>> pages,
               std::optional<TATList<TATLocation>> locations, Ref<TATTraffic> traffic);
    explicit TATSession(NSCoder& coder);

    const std::optional<std::string>& id() const { return id_; }
    void setId(std::optional<std::string> id) {
        id_ = std::move(id);
        idIsSet_ = true;
    }
    bool idIsSet() const { return idIsSet_; }
    void unsetId() {
        id_.reset();
        idIsSet_ = false;
    }

    std::int64_t start_time() const { return start_time_; }
    void setStart_time(std::int64_t start_time) {
        start_time_ = start_time;
        start_timeIsSet_ = true;
    }
    bool start_timeIsSet() const { return start_timeIsSet_; }
    void unsetStart_time() { start_timeIsSet_ = false; }

    std::int64_t end_time() const { return end_time_; }
    void setEnd_time(std::int64_t end_time) {
        end_time_ = end_time;
        end_timeIsSet_ = true;
    }
    bool end_timeIsSet() const { return end_timeIsSet_; }
    void unsetEnd_time() { end_timeIsSet_ = false; }

    std::int64_t duration() const { return duration_; }
    void setDuration(std::int64_t duration) {
        duration_ = duration;
        durationIsSet_ = true;
    }
    bool durationIsSet() const { return durationIsSet_; }
    void unsetDuration() { durationIsSet_ = false; }

    // The held list can be changed in place through the non-const getter; that leaves the flag.
    const std::optional<TATList<TATPage>>& pages() const { return pages_; }
    std::optional<TATList<TATPage>>& pages() { return pages_; }
    void setPages(std::optional<TATList<TATPage>> pages) {
        pages_ = std::move(pages);
        pagesIsSet_ = true;
    }
    bool pagesIsSet() const { return pagesIsSet_; }
    void unsetPages() {
        pages_.reset();
        pagesIsSet_ = false;
    }

    const std::optional<TATList<TATLocation>>& locations() const { return locations_; }
    std::optional<TATList<TATLocation>>& locations() { return locations_; }
    void setLocations(std::optional<TATList<TATLocation>> locations) {
        locations_ = std::move(locations);
        locationsIsSet_ = true;
    }
    bool locationsIsSet() const { return locationsIsSet_; }
    void unsetLocations() {
        locations_.reset();
        locationsIsSet_ = false;
    }

    const Ref<TATTraffic>& traffic() const { return traffic_; }
    void setTraffic(Ref<TATTraffic> traffic) {
        traffic_ = std::move(traffic);
        trafficIsSet_ = true;
    }
    bool trafficIsSet() const { return trafficIsSet_; }
    void unsetTraffic() {
        traffic_.reset();
        trafficIsSet_ = false;
    }

  private:
    friend class TATRecord<TATSession>;
    template <class V>
    static void fields(V&& visit) {
        visit(1, "id", true, &TATSession::id_, &TATSession::idIsSet_);
        visit(2, "start_time", true, &TATSession::start_time_, &TATSession::start_timeIsSet_);
        visit(3, "end_time", true, &TATSession::end_time_, &TATSession::end_timeIsSet_);
        visit(4, "duration", true, &TATSession::duration_, &TATSession::durationIsSet_);
        visit(5, "pages", false, &TATSession::pages_, &TATSession::pagesIsSet_);
        visit(6, "locations", false, &TATSession::locations_, &TATSession::locationsIsSet_);
        visit(7, "traffic", false, &TATSession::traffic_, &TATSession::trafficIsSet_);
    }

    std::optional<std::string> id_;
    std::int64_t start_time_ = 0;
    std::int64_t end_time_ = 0;
    std::int64_t duration_ = 0;
    std::optional<TATList<TATPage>> pages_;
    std::optional<TATList<TATLocation>> locations_;
    Ref<TATTraffic> traffic_;
    bool idIsSet_ = false;
    bool start_timeIsSet_ = false;
    bool end_timeIsSet_ = false;
    bool durationIsSet_ = false;
    bool pagesIsSet_ = false;
    bool locationsIsSet_ = false;
    bool trafficIsSet_ = false;
};
extern template class TATRecord<TATSession>;

// An event attribute: text or a number. Nothing keeps both from being set.
class TATPropertyValue final : public TATRecord<TATPropertyValue> {
  public:
    static constexpr char kClassName[] = "TATPropertyValue";
    static constexpr char kStructName[] = "PropertyValue";

    TATPropertyValue() = default;
    TATPropertyValue(std::optional<std::string> string_value, std::int64_t long_value);
    explicit TATPropertyValue(NSCoder& coder);

    const std::optional<std::string>& string_value() const { return string_value_; }
    void setString_value(std::optional<std::string> string_value) {
        string_value_ = std::move(string_value);
        string_valueIsSet_ = true;
    }
    bool string_valueIsSet() const { return string_valueIsSet_; }
    void unsetString_value() {
        string_value_.reset();
        string_valueIsSet_ = false;
    }

    std::int64_t long_value() const { return long_value_; }
    void setLong_value(std::int64_t long_value) {
        long_value_ = long_value;
        long_valueIsSet_ = true;
    }
    bool long_valueIsSet() const { return long_valueIsSet_; }
    void unsetLong_value() { long_valueIsSet_ = false; }

  private:
    friend class TATRecord<TATPropertyValue>;
    template <class V>
    static void fields(V&& visit) {
        visit(1, "string_value", false, &TATPropertyValue::string_value_,
              &TATPropertyValue::string_valueIsSet_);
        visit(2, "long_value", false, &TATPropertyValue::long_value_, &TATPropertyValue::long_valueIsSet_);
    }

    std::optional<std::string> string_value_;
    std::int64_t long_value_ = 0;
    bool string_valueIsSet_ = false;
    bool long_valueIsSet_ = false;
};
extern template class TATRecord<TATPropertyValue>;

class TATEvent final : public TATRecord<TATEvent> {
  public:
    static constexpr char kClassName[] = "TATEvent";
    static constexpr char kStructName[] = "Event";

    TATEvent() = default;
    TATEvent(std::optional<std::string> name, std::optional<TATMap<Ref<TATPropertyValue>>> properties,
             std::int64_t duration, std::int32_t acc, std::int64_t ts);
    explicit TATEvent(NSCoder& coder);

    const std::optional<std::string>& name() const { return name_; }
    void setName(std::optional<std::string> name) {
        name_ = std::move(name);
        nameIsSet_ = true;
    }
    bool nameIsSet() const { return nameIsSet_; }
    void unsetName() {
        name_.reset();
        nameIsSet_ = false;
    }

    const std::optional<TATMap<Ref<TATPropertyValue>>>& properties() const { return properties_; }
    std::optional<TATMap<Ref<TATPropertyValue>>>& properties() { return properties_; }
    void setProperties(std::optional<TATMap<Ref<TATPropertyValue>>> properties) {
        properties_ = std::move(properties);
        propertiesIsSet_ = true;
    }
    bool propertiesIsSet() const { return propertiesIsSet_; }
    void unsetProperties() {
        properties_.reset();
        propertiesIsSet_ = false;
    }

    std::int64_t duration() const { return duration_; }
    void setDuration(std::int64_t duration) {
        duration_ = duration;
        durationIsSet_ = true;
    }
    bool durationIsSet() const { return durationIsSet_; }
    void unsetDuration() { durationIsSet_ = false; }

    // How many occurrences this record stands for.
    std::int32_t acc() const { return acc_; }
    void setAcc(std::int32_t acc) {
        acc_ = acc;
        accIsSet_ = true;
    }
    bool accIsSet() const { return accIsSet_; }
    void unsetAcc() { accIsSet_ = false; }

    std::int64_t ts() const { return ts_; }
    void setTs(std::int64_t ts) {
        ts_ = ts;
        tsIsSet_ = true;
    }
    bool tsIsSet() const { return tsIsSet_; }
    void unsetTs() { tsIsSet_ = false; }

  private:
    friend class TATRecord<TATEvent>;
    template <class V>
    static void fields(V&& visit) {
        visit(1, "name", true, &TATEvent::name_, &TATEvent::nameIsSet_);
        visit(2, "properties", true, &TATEvent::properties_, &TATEvent::propertiesIsSet_);
        visit(3, "duration", false, &TATEvent::duration_, &TATEvent::durationIsSet_);
        visit(4, "acc", false, &TATEvent::acc_, &TATEvent::accIsSet_);
        visit(5, "ts", true, &TATEvent::ts_, &TATEvent::tsIsSet_);
    }

    std::optional<std::string> name_;
    std::optional<TATMap<Ref<TATPropertyValue>>> properties_;
    std::int64_t duration_ = 0;
    std::int32_t acc_ = 0;
    std::int64_t ts_ = 0;
    bool nameIsSet_ = false;
    bool propertiesIsSet_ = false;
    bool durationIsSet_ = false;
    bool accIsSet_ = false;
    bool tsIsSet_ = false;
};
extern template class TATRecord<TATEvent>;

class TATError final : public TATRecord<TATError> {
  public:
    static constexpr char kClassName[] = "TATError";
    static constexpr char kStructName[] = "Error";

    TATError() = default;
    TATError(std::int64_t ts, std::optional<std::string> context, std::int32_t source);
    explicit TATError(NSCoder& coder);

    std::int64_t ts() const { return ts_; }
    void setTs(std::int64_t ts) {
        ts_ = ts;
        tsIsSet_ = true;
    }
    bool tsIsSet() const { return tsIsSet_; }
    void unsetTs() { tsIsSet_ = false; }

    const std::optional<std::string>& context() const { return context_; }
    void setContext(std::optional<std::string> context) {
        context_ = std::move(context);
        contextIsSet_ = true;
    }
    bool contextIsSet() const { return contextIsSet_; }
    void unsetContext() {
        context_.reset();
        contextIsSet_ = false;
    }

    // Where the error came from; any value is accepted.
    std::int32_t source() const { return source_; }
    void setSource(std::int32_t source) {
        source_ = source;
        sourceIsSet_ = true;
    }
    bool sourceIsSet() const { return sourceIsSet_; }
    void unsetSource() { sourceIsSet_ = false; }

  private:
    friend class TATRecord<TATError>;
    template <class V>
    static void fields(V&& visit) {
        visit(1, "ts", true, &TATError::ts_, &TATError::tsIsSet_);
        visit(2, "context", true, &TATError::context_, &TATError::contextIsSet_);
        visit(3, "source", false, &TATError::source_, &TATError::sourceIsSet_);
    }

    std::int64_t ts_ = 0;
    std::optional<std::string> context_;
    std::int32_t source_ = 0;
    bool tsIsSet_ = false;
    bool contextIsSet_ = false;
    bool sourceIsSet_ = false;
};
extern template class TATRecord<TATError>;

class TATInstantMsg final : public TATRecord<TATInstantMsg> {
  public:
    static constexpr char kClassName[] = "TATInstantMsg";
    static constexpr char kStructName[] = "InstantMsg";

    TATInstantMsg() = default;
    TATInstantMsg(std::optional<std::string> id, std::optional<TATList<TATError>> errors,
                  std::optional<TATList<TATEvent>> events, std::optional<TATList<TATEvent>> game_events);
    explicit TATInstantMsg(NSCoder& coder);

    // The session the items belong to.
    const std::optional<std::string>& id() const { return id_; }
    void setId(std::optional<std::string> id) {
        id_ = std::move(id);
        idIsSet_ = true;
    }
    bool idIsSet() const { return idIsSet_; }
    void unsetId() {
        id_.reset();
        idIsSet_ = false;
    }

    const std::optional<TATList<TATError>>& errors() const { return errors_; }
    std::optional<TATList<TATError>>& errors() { return errors_; }
    void setErrors(std::optional<TATList<TATError>> errors) {
        errors_ = std::move(errors);
        errorsIsSet_ = true;
    }
    bool errorsIsSet() const { return errorsIsSet_; }
    void unsetErrors() {
        errors_.reset();
        errorsIsSet_ = false;
    }

    const std::optional<TATList<TATEvent>>& events() const { return events_; }
    std::optional<TATList<TATEvent>>& events() { return events_; }
    void setEvents(std::optional<TATList<TATEvent>> events) {
        events_ = std::move(events);
        eventsIsSet_ = true;
    }
    bool eventsIsSet() const { return eventsIsSet_; }
    void unsetEvents() {
        events_.reset();
        eventsIsSet_ = false;
    }

    const std::optional<TATList<TATEvent>>& game_events() const { return game_events_; }
    std::optional<TATList<TATEvent>>& game_events() { return game_events_; }
    void setGame_events(std::optional<TATList<TATEvent>> game_events) {
        game_events_ = std::move(game_events);
        game_eventsIsSet_ = true;
    }
    bool game_eventsIsSet() const { return game_eventsIsSet_; }
    void unsetGame_events() {
        game_events_.reset();
        game_eventsIsSet_ = false;
    }

  private:
    friend class TATRecord<TATInstantMsg>;
    template <class V>
    static void fields(V&& visit) {
        visit(1, "id", true, &TATInstantMsg::id_, &TATInstantMsg::idIsSet_);
        visit(2, "errors", false, &TATInstantMsg::errors_, &TATInstantMsg::errorsIsSet_);
        visit(3, "events", false, &TATInstantMsg::events_, &TATInstantMsg::eventsIsSet_);
        visit(4, "game_events", false, &TATInstantMsg::game_events_, &TATInstantMsg::game_eventsIsSet_);
    }

    std::optional<std::string> id_;
    std::optional<TATList<TATError>> errors_;
    std::optional<TATList<TATEvent>> events_;
    std::optional<TATList<TATEvent>> game_events_;
    bool idIsSet_ = false;
    bool errorsIsSet_ = false;
    bool eventsIsSet_ = false;
    bool game_eventsIsSet_ = false;
};
extern template class TATRecord<TATInstantMsg>;

class TATActivateMsg final : public TATRecord<TATActivateMsg> {
  public:
    static constexpr char kClassName[] = "TATActivateMsg";
    static constexpr char kStructName[] = "ActivateMsg";

    TATActivateMsg() = default;
    explicit TATActivateMsg(std::int64_t ts);
    explicit TATActivateMsg(NSCoder& coder);

    std::int64_t ts() const { return ts_; }
    void setTs(std::int64_t ts) {
        ts_ = ts;
        tsIsSet_ = true;
    }
    bool tsIsSet() const { return tsIsSet_; }
    void unsetTs() { tsIsSet_ = false; }

  private:
    friend class TATRecord<TATActivateMsg>;
    template <class V>
    static void fields(V&& visit) {
        visit(1, "ts", true, &TATActivateMsg::ts_, &TATActivateMsg::tsIsSet_);
    }

    std::int64_t ts_ = 0;
    bool tsIsSet_ = false;
};
extern template class TATRecord<TATActivateMsg>;
