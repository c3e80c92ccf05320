#pragma once
// State the analytics library keeps between sends: the imprint (named settings the collector
// hands out, stored and sent back with every report), the collector's reply to an upload, and
// the device-identifier tracking (the current value of each kind of identifier and the changes
// seen). Each follows the record shape of TATRecord.h. Also the constants holder of the report
// schema, which defines no constant.

#include "sdk/analytics/records/TATRecord.h"

class TATImprintValue final : public TATRecord<TATImprintValue> {
  public:
    static constexpr char kClassName[] = "TATImprintValue";
    static constexpr char kStructName[] = "ImprintValue";

    TATImprintValue() = default;
    TATImprintValue(std::optional<std::string> value, std::int64_t ts, std::optional<std::string> guid);
    explicit TATImprintValue(NSCoder& coder);

    const std::optional<std::string>& value() const { return value_; }
    void setValue(std::optional<std::string> value) {
        value_ = std::move(value);
        valueIsSet_ = true;
    }
    bool valueIsSet() const { return valueIsSet_; }
    void unsetValue() {
        value_.reset();
        valueIsSet_ = false;
    }

    std::int64_t ts() const { return ts_; }
    void setTs(std::int64_t ts) {
        ts_ = ts;
        tsIsSet_ = true;
    }
    bool tsIsSet() const { return tsIsSet_; }
    void unsetTs() { tsIsSet_ = false; }

    const std::optional<std::string>& guid() const { return guid_; }
    void setGuid(std::optional<std::string> guid) {
        guid_ = std::move(guid);
        guidIsSet_ = true;
    }
    bool guidIsSet() const { return guidIsSet_; }
    void unsetGuid() {
        guid_.reset();
        guidIsSet_ = false;
    }

  private:
    friend class TATRecord<TATImprintValue>;
    template <class V>
    static void fields(V&& visit) {
        visit(1, "value", false, &TATImprintValue::value_, &TATImprintValue::valueIsSet_);
        visit(2, "ts", true, &TATImprintValue::ts_, &TATImprintValue::tsIsSet_);
        visit(3, "guid", true, &TATImprintValue::guid_, &TATImprintValue::guidIsSet_);
    }

    std::optional<std::string> value_;
    std::int64_t ts_ = 0;
    std::optional<std::string> guid_;
    bool valueIsSet_ = false;
    bool tsIsSet_ = false;
    bool guidIsSet_ = false;
};
extern template class TATRecord<TATImprintValue>;

class TATImprint final : public TATRecord<TATImprint> {
  public:
    static constexpr char kClassName[] = "TATImprint";
    static constexpr char kStructName[] = "Imprint";

    TATImprint() = default;
    TATImprint(std::optional<TATMap<Ref<TATImprintValue>>> property, std::int32_t version,
               std::optional<std::string> checksum);
    explicit TATImprint(NSCoder& coder);

    // The settings by name. The held map can be changed in place through the non-const getter.
    const std::optional<TATMap<Ref<TATImprintValue>>>& property() const { return property_; }
    std::optional<TATMap<Ref<TATImprintValue>>>& property() { return property_; }
    void setProperty(std::optional<TATMap<Ref<TATImprintValue>>> property) {
        property_ = std::move(property);
        propertyIsSet_ = true;
    }
    bool propertyIsSet() const { return propertyIsSet_; }
    void unsetProperty() {
        property_.reset();
        propertyIsSet_ = false;
    }

    std::int32_t version() const { return version_; }
    void setVersion(std::int32_t version) {
        version_ = version;
        versionIsSet_ = true;
    }
    bool versionIsSet() const { return versionIsSet_; }
    void unsetVersion() { versionIsSet_ = false; }

    const std::optional<std::string>& checksum() const { return checksum_; }
    void setChecksum(std::optional<std::string> checksum) {
        checksum_ = std::move(checksum);
        checksumIsSet_ = true;
    }
    bool checksumIsSet() const { return checksumIsSet_; }
    void unsetChecksum() {
        checksum_.reset();
        checksumIsSet_ = false;
    }

  private:
    friend class TATRecord<TATImprint>;
    template <class V>
    static void fields(V&& visit) {
        visit(1, "property", true, &TATImprint::property_, &TATImprint::propertyIsSet_);
        visit(2, "version", true, &TATImprint::version_, &TATImprint::versionIsSet_);
        visit(3, "checksum", true, &TATImprint::checksum_, &TATImprint::checksumIsSet_);
    }

    std::optional<TATMap<Ref<TATImprintValue>>> property_;
    std::int32_t version_ = 0;
    std::optional<std::string> checksum_;
    bool propertyIsSet_ = false;
    bool versionIsSet_ = false;
    bool checksumIsSet_ = false;
};
extern template class TATRecord<TATImprint>;

// The collector's answer to an upload; resp_code 1 is success.
class TATResponse final : public TATRecord<TATResponse> {
  public:
    static constexpr char kClassName[] = "TATResponse";
    static constexpr char kStructName[] = "Response";

    TATResponse() = default;
    TATResponse(std::int32_t resp_code, std::optional<std::string> msg, Ref<TATImprint> imprint);
    explicit TATResponse(NSCoder& coder);

    std::int32_t resp_code() const { return resp_code_; }
    void setResp_code(std::int32_t resp_code) {
        resp_code_ = resp_code;
        resp_codeIsSet_ = true;
    }
    bool resp_codeIsSet() const { return resp_codeIsSet_; }
    void unsetResp_code() { resp_codeIsSet_ = false; }

    const std::optional<std::string>& msg() const { return msg_; }
    void setMsg(std::optional<std::string> msg) {
        msg_ = std::move(msg);
        msgIsSet_ = true;
    }
    bool msgIsSet() const { return msgIsSet_; }
    void unsetMsg() {
        msg_.reset();
        msgIsSet_ = false;
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

  private:
    friend class TATRecord<TATResponse>;
    template <class V>
    static void fields(V&& visit) {
        visit(1, "resp_code", true, &TATResponse::resp_code_, &TATResponse::resp_codeIsSet_);
        visit(2, "msg", false, &TATResponse::msg_, &TATResponse::msgIsSet_);
        visit(3, "imprint", false, &TATResponse::imprint_, &TATResponse::imprintIsSet_);
    }

    std::int32_t resp_code_ = 0;
    std::optional<std::string> msg_;
    Ref<TATImprint> imprint_;
    bool resp_codeIsSet_ = false;
    bool msgIsSet_ = false;
    bool imprintIsSet_ = false;
};
extern template class TATRecord<TATResponse>;

class TATIdSnapshot final : public TATRecord<TATIdSnapshot> {
  public:
    static constexpr char kClassName[] = "TATIdSnapshot";
    static constexpr char kStructName[] = "IdSnapshot";

    TATIdSnapshot() = default;
    TATIdSnapshot(std::optional<std::string> identity, std::int64_t ts, std::int32_t version);
    explicit TATIdSnapshot(NSCoder& coder);

    const std::optional<std::string>& identity() const { return identity_; }
    void setIdentity(std::optional<std::string> identity) {
        identity_ = std::move(identity);
        identityIsSet_ = true;
    }
    bool identityIsSet() const { return identityIsSet_; }
    void unsetIdentity() {
        identity_.reset();
        identityIsSet_ = false;
    }

    std::int64_t ts() const { return ts_; }
    void setTs(std::int64_t ts) {
        ts_ = ts;
        tsIsSet_ = true;
    }
    bool tsIsSet() const { return tsIsSet_; }
    void unsetTs() { tsIsSet_ = false; }

    std::int32_t version() const { return version_; }
    void setVersion(std::int32_t version) {
        version_ = version;
        versionIsSet_ = true;
    }
    bool versionIsSet() const { return versionIsSet_; }
    void unsetVersion() { versionIsSet_ = false; }

  private:
    friend class TATRecord<TATIdSnapshot>;
    template <class V>
    static void fields(V&& visit) {
        visit(1, "identity", true, &TATIdSnapshot::identity_, &TATIdSnapshot::identityIsSet_);
        visit(2, "ts", true, &TATIdSnapshot::ts_, &TATIdSnapshot::tsIsSet_);
        visit(3, "version", true, &TATIdSnapshot::version_, &TATIdSnapshot::versionIsSet_);
    }

    std::optional<std::string> identity_;
    std::int64_t ts_ = 0;
    std::int32_t version_ = 0;
    bool identityIsSet_ = false;
    bool tsIsSet_ = false;
    bool versionIsSet_ = false;
};
extern template class TATRecord<TATIdSnapshot>;

class TATIdJournal final : public TATRecord<TATIdJournal> {
  public:
    static constexpr char kClassName[] = "TATIdJournal";
    static constexpr char kStructName[] = "IdJournal";

    TATIdJournal() = default;
    TATIdJournal(std::optional<std::string> domain, std::optional<std::string> old_id,
                 std::optional<std::string> new_id, std::int64_t ts);
    explicit TATIdJournal(NSCoder& coder);

    const std::optional<std::string>& domain() const { return domain_; }
    void setDomain(std::optional<std::string> domain) {
        domain_ = std::move(domain);
        domainIsSet_ = true;
    }
    bool domainIsSet() const { return domainIsSet_; }
    void unsetDomain() {
        domain_.reset();
        domainIsSet_ = false;
    }

    const std::optional<std::string>& old_id() const { return old_id_; }
    void setOld_id(std::optional<std::string> old_id) {
        old_id_ = std::move(old_id);
        old_idIsSet_ = true;
    }
    bool old_idIsSet() const { return old_idIsSet_; }
    void unsetOld_id() {
        old_id_.reset();
        old_idIsSet_ = false;
    }

    const std::optional<std::string>& new_id() const { return new_id_; }
    void setNew_id(std::optional<std::string> new_id) {
        new_id_ = std::move(new_id);
        new_idIsSet_ = true;
    }
    bool new_idIsSet() const { return new_idIsSet_; }
    void unsetNew_id() {
        new_id_.reset();
        new_idIsSet_ = false;
    }

    std::int64_t ts() const { return ts_; }
    void setTs(std::int64_t ts) {
        ts_ = ts;
        tsIsSet_ = true;
    }
    bool tsIsSet() const { return tsIsSet_; }
    void unsetTs() { tsIsSet_ = false; }

  private:
    friend class TATRecord<TATIdJournal>;
    template <class V>
    static void fields(V&& visit) {
        visit(1, "domain", true, &TATIdJournal::domain_, &TATIdJournal::domainIsSet_);
        visit(2, "old_id", false, &TATIdJournal::old_id_, &TATIdJournal::old_idIsSet_);
        visit(3, "new_id", true, &TATIdJournal::new_id_, &TATIdJournal::new_idIsSet_);
        visit(4, "ts", true, &TATIdJournal::ts_, &TATIdJournal::tsIsSet_);
    }

    std::optional<std::string> domain_;
    std::optional<std::string> old_id_;
    std::optional<std::string> new_id_;
    std::int64_t ts_ = 0;
    bool domainIsSet_ = false;
    bool old_idIsSet_ = false;
    bool new_idIsSet_ = false;
    bool tsIsSet_ = false;
};
extern template class TATRecord<TATIdJournal>;

class TATIdTracking final : public TATRecord<TATIdTracking> {
  public:
    static constexpr char kClassName[] = "TATIdTracking";
    static constexpr char kStructName[] = "IdTracking";

    TATIdTracking() = default;
    TATIdTracking(std::optional<TATMap<Ref<TATIdSnapshot>>> snapshots,
                  std::optional<TATList<TATIdJournal>> journals, std::optional<std::string> checksum);
    explicit TATIdTracking(NSCoder& coder);

    // The current value of each kind of identifier, keyed by kind.
    const std::optional<TATMap<Ref<TATIdSnapshot>>>& snapshots() const { return snapshots_; }
    std::optional<TATMap<Ref<TATIdSnapshot>>>& snapshots() { return snapshots_; }
    void setSnapshots(std::optional<TATMap<Ref<TATIdSnapshot>>> snapshots) {
        snapshots_ = std::move(snapshots);
        snapshotsIsSet_ = true;
    }
    bool snapshotsIsSet() const { return snapshotsIsSet_; }
    void unsetSnapshots() {
        snapshots_.reset();
        snapshotsIsSet_ = false;
    }

    // Changes seen, oldest first.
    const std::optional<TATList<TATIdJournal>>& journals() const { return journals_; }
    std::optional<TATList<TATIdJournal>>& journals() { return journals_; }
    void setJournals(std::optional<TATList<TATIdJournal>> journals) {
        journals_ = std::move(journals);
        journalsIsSet_ = true;
    }
    bool journalsIsSet() const { return journalsIsSet_; }
    void unsetJournals() {
        journals_.reset();
        journalsIsSet_ = false;
    }

    const std::optional<std::string>& checksum() const { return checksum_; }
    void setChecksum(std::optional<std::string> checksum) {
        checksum_ = std::move(checksum);
        checksumIsSet_ = true;
    }
    bool checksumIsSet() const { return checksumIsSet_; }
    void unsetChecksum() {
        checksum_.reset();
        checksumIsSet_ = false;
    }

  private:
    friend class TATRecord<TATIdTracking>;
    template <class V>
    static void fields(V&& visit) {
        visit(1, "snapshots", true, &TATIdTracking::snapshots_, &TATIdTracking::snapshotsIsSet_);
        visit(2, "journals", false, &TATIdTracking::journals_, &TATIdTracking::journalsIsSet_);
        visit(3, "checksum", false, &TATIdTracking::checksum_, &TATIdTracking::checksumIsSet_);
    }

    std::optional<TATMap<Ref<TATIdSnapshot>>> snapshots_;
    std::optional<TATList<TATIdJournal>> journals_;
    std::optional<std::string> checksum_;
    bool snapshotsIsSet_ = false;
    bool journalsIsSet_ = false;
    bool checksumIsSet_ = false;
};
extern template class TATRecord<TATIdTracking>;

// The report schema's constants holder; the schema defines no constant.
class TATtally_analyticsConstants final : public NSObject {
  public:
    static void initialize() {}
    std::string className() const override { return "TATtally_analyticsConstants"; }
};
