#pragma once
// Envelopes: each report leaves the device inside a TAEnvelope record carrying the compressed,
// optionally encrypted report (the entity) with a serial number, the device signature, a
// per-envelope guid and a checksum. TallyEnvelope builds it and stores the written envelope as a
// file in the library's folder (".tally" in Caches), named by the envelope's time in
// milliseconds and "_envelope.log"; the upload worker finds it there. TallyUtility holds the
// file and folder helpers and the AES-128 routine used for the entity.
//
// The device signature (32 bytes) is made once per installation: the first guid ever built.
// Envelopes are built on the main thread; a file is written atomically and never overwrites
// another, so a crash while writing leaves no torn envelope and two envelopes of one millisecond
// both survive.

#include <array>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "foundation/NSData.h"
#include "foundation/NSObject.h"
#include "sdk/analytics/records/TAEnvelope.h"

class TallyEnvelope : public NSObject {
  public:
    TallyEnvelope();
    static Ref<TallyEnvelope> sharedInstance();
    std::string className() const override { return "TallyEnvelope"; }

    void fetchSignature();
    void buildIdentity();
    // With signature bytes, or none (nullptr).
    void buildGUIDWithData(const std::uint8_t* signature);
    void setSignatureWithData(const std::optional<NSData>& data);
    std::array<std::uint8_t, 32> mergeEntityAndIdentity() const;
    static std::string printBytes(const std::uint8_t* bytes, std::size_t length);
    void generateChecksum();
    // The written envelope, or nothing (no entity, or the entity could not be encrypted).
    std::optional<NSData> toDataWithEntity(const std::optional<NSData>& entity);
    void buildSerialNum();
    bool verifyTimestamp() const;
    bool verifyChecksum() const;
    void checkExchangeData();
    // Builds the envelope of an assembled report (the entity) and stores it as a file; the
    // envelope bytes, or nothing when no file was stored (the caller then keeps its items).
    std::optional<NSData> makeEnvelopeData(const std::optional<NSData>& entity);

    const std::array<std::uint8_t, 16>& identityMD5() const { return identityMD5_; }
    // A copy: the upload worker reads it (experiment draws) while envelopes are built.
    std::optional<NSData> signature() const {
        std::lock_guard<std::recursive_mutex> guard(serialLock_);
        return signature_;
    }
    const std::array<std::uint8_t, 32>& guid() const { return guid_; }
    const std::string& checksum() const { return checksum_; }
    const std::optional<std::string>& address() const { return address_; }
    const std::string& version() const { return version_; }
    const std::array<std::uint8_t, 16>& entityMD5() const { return entityMD5_; }
    const std::optional<NSData>& envelopeData() const { return envelopeData_; }
    std::int32_t timestamp() const { return timestamp_; }
    void setTimestamp(std::int32_t t) { timestamp_ = t; }
    std::int32_t serialNum() const { return serialNum_; }
    std::int32_t length() const { return length_; }
    void setLength(std::int32_t length) { length_ = length; }
    const Ref<TAEnvelope>& enveloper() const { return enveloper_; }

    static void resetForTesting();

  private:
    std::string version_ = "V1.0";
    std::optional<std::string> address_;
    std::array<std::uint8_t, 16> identityMD5_{};
    Ref<TAEnvelope> enveloper_;
    std::int32_t timestamp_ = 0;
    std::array<std::uint8_t, 16> entityMD5_{};
    std::string signatureString_;
    std::int32_t serialNum_ = 0;
    std::int32_t length_ = 0;
    std::string guidString_;
    std::string checksum_;
    std::array<std::uint8_t, 32> guid_{};
    std::optional<NSData> envelopeData_;
    std::optional<NSData> signature_;
    mutable std::recursive_mutex serialLock_;
};

class TallyUtility {
  public:
    static bool isExistAtPath(const std::string& path);
    // Without intermediate folders.
    static bool makeAbsDir(const std::string& path);
    // Writes atomically, only when nothing is at the path yet; whether the bytes were stored.
    static bool saveData(const std::optional<NSData>& data, const std::string& path);
    static void removeFile(const std::string& path);
    static std::string cacheFilePath();
    static std::string bgCacheFilePath();
    static std::string envelopeFilePath();
    static std::string cacheDirectory();
    // Caches/.tally, created when missing.
    static std::string tallyDirectory();
    // Full paths of the folder's entries, hidden ones skipped.
    static std::vector<std::string> itemsInAbsDir(const std::string& path);
    // Oldest first by whole seconds since creation; equal ages keep their order.
    static void sortFileWithCreatedTime(std::vector<std::string>& paths);
    static std::string exchangeIdentityPath();
    static std::vector<std::string> envelopeFiles();
    static std::string generateEnvelopeFileNameWithTS(const std::string& text);
    static double durationNowWith1970TimeInterval(double seconds);
    static std::optional<NSData> AES128EncryptData(const NSData& data, const std::uint8_t* key);
    static std::optional<NSData> AES128DecryptData(const NSData& data, const std::uint8_t* key);
};
