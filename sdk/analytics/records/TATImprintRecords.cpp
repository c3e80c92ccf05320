#include "sdk/analytics/records/TATImprintRecords.h"

template class TATRecord<TATImprintValue>;
template class TATRecord<TATImprint>;
template class TATRecord<TATResponse>;
template class TATRecord<TATIdSnapshot>;
template class TATRecord<TATIdJournal>;
template class TATRecord<TATIdTracking>;

namespace {
const NSCodableClass<TATImprintValue> registerImprintValue(TATImprintValue::kClassName);
const NSCodableClass<TATImprint> registerImprint(TATImprint::kClassName);
const NSCodableClass<TATResponse> registerResponse(TATResponse::kClassName);
const NSCodableClass<TATIdSnapshot> registerIdSnapshot(TATIdSnapshot::kClassName);
const NSCodableClass<TATIdJournal> registerIdJournal(TATIdJournal::kClassName);
const NSCodableClass<TATIdTracking> registerIdTracking(TATIdTracking::kClassName);
}  // namespace

TATImprintValue::TATImprintValue(std::optional<std::string> value, std::int64_t ts,
                                 std::optional<std::string> guid) {
    setValue(std::move(value));
    setTs(ts);
    setGuid(std::move(guid));
}

TATImprintValue::TATImprintValue(NSCoder& coder) {
    decodeWithCoder(coder);
}

TATImprint::TATImprint(std::optional<TATMap<Ref<TATImprintValue>>> property, std::int32_t version,
                       std::optional<std::string> checksum) {
    setProperty(std::move(property));
    setVersion(version);
    setChecksum(std::move(checksum));
}

TATImprint::TATImprint(NSCoder& coder) {
    decodeWithCoder(coder);
}

TATResponse::TATResponse(std::int32_t resp_code, std::optional<std::string> msg, Ref<TATImprint> imprint) {
    setResp_code(resp_code);
    setMsg(std::move(msg));
    setImprint(std::move(imprint));
}

TATResponse::TATResponse(NSCoder& coder) {
    decodeWithCoder(coder);
}

TATIdSnapshot::TATIdSnapshot(std::optional<std::string> identity, std::int64_t ts, std::int32_t version) {
    setIdentity(std::move(identity));
    setTs(ts);
    setVersion(version);
}

TATIdSnapshot::TATIdSnapshot(NSCoder& coder) {
    decodeWithCoder(coder);
}

TATIdJournal::TATIdJournal(std::optional<std::string> domain, std::optional<std::string> old_id,
                           std::optional<std::string> new_id, std::int64_t ts) {
    setDomain(std::move(domain));
    setOld_id(std::move(old_id));
    setNew_id(std::move(new_id));
    setTs(ts);
}

TATIdJournal::TATIdJournal(NSCoder& coder) {
    decodeWithCoder(coder);
}

TATIdTracking::TATIdTracking(std::optional<TATMap<Ref<TATIdSnapshot>>> snapshots,
                             std::optional<TATList<TATIdJournal>> journals,
                             std::optional<std::string> checksum) {
    setSnapshots(std::move(snapshots));
    setJournals(std::move(journals));
    setChecksum(std::move(checksum));
}

TATIdTracking::TATIdTracking(NSCoder& coder) {
    decodeWithCoder(coder);
}
