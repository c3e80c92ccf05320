#include "sdk/analytics/records/TAEnvelope.h"

template class TATRecord<TAEnvelope>;

namespace {
const NSCodableClass<TAEnvelope> registerEnvelope(TAEnvelope::kClassName);
}  // namespace

TAEnvelope::TAEnvelope(std::optional<std::string> version, std::optional<std::string> address,
                       std::optional<std::string> signature, std::int32_t serial_num, std::int32_t ts_secs,
                       std::int32_t length, std::optional<NSData> entity, std::optional<std::string> guid,
                       std::optional<std::string> checksum, std::int32_t codex) {
    setVersion(std::move(version));
    setAddress(std::move(address));
    setSignature(std::move(signature));
    setSerial_num(serial_num);
    setTs_secs(ts_secs);
    setLength(length);
    setEntity(std::move(entity));
    setGuid(std::move(guid));
    setChecksum(std::move(checksum));
    setCodex(codex);
}

TAEnvelope::TAEnvelope(NSCoder& coder) {
    decodeWithCoder(coder);
}
