#pragma once
// The outermost record of everything the analytics library sends: one written report (the
// entity, compressed and possibly encrypted) with the fields that identify and check it. The
// bytes of this one bare struct are the whole of an envelope file and of an upload body. It
// belongs to a schema of its own, apart from the report schema. `entity` is the one binary field:
// it travels under the string type code as a length and raw bytes.

#include "sdk/analytics/records/TATRecord.h"

class TAEnvelope final : public TATRecord<TAEnvelope> {
  public:
    static constexpr char kClassName[] = "TAEnvelope";
    static constexpr char kStructName[] = "TAEnvelope";

    TAEnvelope() = default;
    TAEnvelope(std::optional<std::string> version, std::optional<std::string> address,
               std::optional<std::string> signature, std::int32_t serial_num, std::int32_t ts_secs,
               std::int32_t length, std::optional<NSData> entity, std::optional<std::string> guid,
               std::optional<std::string> checksum, std::int32_t codex);
    explicit TAEnvelope(NSCoder& coder);

    // Envelope format version ("V1.0").
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

    // The application key the report belongs to.
    const std::optional<std::string>& address() const { return address_; }
    void setAddress(std::optional<std::string> address) {
        address_ = std::move(address);
        addressIsSet_ = true;
    }
    bool addressIsSet() const { return addressIsSet_; }
    void unsetAddress() {
        address_.reset();
        addressIsSet_ = false;
    }

    const std::optional<std::string>& signature() const { return signature_; }
    void setSignature(std::optional<std::string> signature) {
        signature_ = std::move(signature);
        signatureIsSet_ = true;
    }
    bool signatureIsSet() const { return signatureIsSet_; }
    void unsetSignature() {
        signature_.reset();
        signatureIsSet_ = false;
    }

    std::int32_t serial_num() const { return serial_num_; }
    void setSerial_num(std::int32_t serial_num) {
        serial_num_ = serial_num;
        serial_numIsSet_ = true;
    }
    bool serial_numIsSet() const { return serial_numIsSet_; }
    void unsetSerial_num() { serial_numIsSet_ = false; }

    // Seconds since 1970.
    std::int32_t ts_secs() const { return ts_secs_; }
    void setTs_secs(std::int32_t ts_secs) {
        ts_secs_ = ts_secs;
        ts_secsIsSet_ = true;
    }
    bool ts_secsIsSet() const { return ts_secsIsSet_; }
    void unsetTs_secs() { ts_secsIsSet_ = false; }

    // Byte length of the written report before compression.
    std::int32_t length() const { return length_; }
    void setLength(std::int32_t length) {
        length_ = length;
        lengthIsSet_ = true;
    }
    bool lengthIsSet() const { return lengthIsSet_; }
    void unsetLength() { lengthIsSet_ = false; }

    const std::optional<NSData>& entity() const { return entity_; }
    void setEntity(std::optional<NSData> entity) {
        entity_ = std::move(entity);
        entityIsSet_ = true;
    }
    bool entityIsSet() const { return entityIsSet_; }
    void unsetEntity() {
        entity_.reset();
        entityIsSet_ = false;
    }

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

    // 1 when the entity is encrypted, 0 when it is not.
    std::int32_t codex() const { return codex_; }
    void setCodex(std::int32_t codex) {
        codex_ = codex;
        codexIsSet_ = true;
    }
    bool codexIsSet() const { return codexIsSet_; }
    void unsetCodex() { codexIsSet_ = false; }

  private:
    friend class TATRecord<TAEnvelope>;
    template <class V>
    static void fields(V&& visit) {
        visit(1, "version", true, &TAEnvelope::version_, &TAEnvelope::versionIsSet_);
        visit(2, "address", true, &TAEnvelope::address_, &TAEnvelope::addressIsSet_);
        visit(3, "signature", true, &TAEnvelope::signature_, &TAEnvelope::signatureIsSet_);
        visit(4, "serial_num", true, &TAEnvelope::serial_num_, &TAEnvelope::serial_numIsSet_);
        visit(5, "ts_secs", true, &TAEnvelope::ts_secs_, &TAEnvelope::ts_secsIsSet_);
        visit(6, "length", true, &TAEnvelope::length_, &TAEnvelope::lengthIsSet_);
        visit(7, "entity", true, &TAEnvelope::entity_, &TAEnvelope::entityIsSet_);
        visit(8, "guid", true, &TAEnvelope::guid_, &TAEnvelope::guidIsSet_);
        visit(9, "checksum", true, &TAEnvelope::checksum_, &TAEnvelope::checksumIsSet_);
        visit(10, "codex", false, &TAEnvelope::codex_, &TAEnvelope::codexIsSet_);
    }

    std::optional<std::string> version_;
    std::optional<std::string> address_;
    std::optional<std::string> signature_;
    std::int32_t serial_num_ = 0;
    std::int32_t ts_secs_ = 0;
    std::int32_t length_ = 0;
    std::optional<NSData> entity_;
    std::optional<std::string> guid_;
    std::optional<std::string> checksum_;
    std::int32_t codex_ = 0;
    bool versionIsSet_ = false;
    bool addressIsSet_ = false;
    bool signatureIsSet_ = false;
    bool serial_numIsSet_ = false;
    bool ts_secsIsSet_ = false;
    bool lengthIsSet_ = false;
    bool entityIsSet_ = false;
    bool guidIsSet_ = false;
    bool checksumIsSet_ = false;
    bool codexIsSet_ = false;
};
extern template class TATRecord<TAEnvelope>;

// The envelope schema's constants holder; the schema defines no constant.
class tally_envelopeConstants final : public NSObject {
  public:
    static void initialize() {}
    std::string className() const override { return "tally_envelopeConstants"; }
};
