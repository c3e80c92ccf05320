#include "sdk/analytics/collection/TallyEnvelope.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>

#include "foundation/NSDate.h"
#include "foundation/NSFileManager.h"
#include "foundation/NSLog.h"
#include "foundation/NSPathUtilities.h"
#include "foundation/NSRandom.h"
#include "foundation/NSSandbox.h"
#include "foundation/NSString.h"
#include "sdk/analytics/collection/TANUtil.h"
#include "sdk/analytics/collection/TallySettings.h"
#include "security/CommonCrypto.h"
#include "security/CommonDigest.h"

namespace {

std::mutex gLock;
Ref<TallyEnvelope> gShared;

constexpr std::uint8_t kIV[16] = {0x3e, 0x91, 0x0c, 0x57, 0xa2, 0x6b, 0x14, 0xd8,
                                  0x29, 0xf0, 0x7a, 0x05, 0xc3, 0x48, 0xb6, 0x1d};
constexpr char kEnvelopeSuffix[] = "_envelope.log";
// How many later milliseconds a new envelope may take when its own name is in use.
constexpr int kNameAttempts = 1000;

std::array<std::uint8_t, 16> md5Of(const NSData& data) {
    std::array<std::uint8_t, 16> digest{};
    CC_MD5(data.length() ? data.bytes() : reinterpret_cast<const std::uint8_t*>(""),
           static_cast<CC_LONG>(data.length()), digest.data());
    return digest;
}

std::optional<NSData> storedSignature() {
    Value stored = TallyConfig::configureWithKey("umSignature");
    if (!stored.isData() || stored.data()->empty()) return std::nullopt;
    return *stored.data();
}

std::optional<NSData> aes(CCOperation op, const NSData& data, const std::uint8_t* key) {
    if (!key) return std::nullopt;
    std::vector<std::uint8_t> out(data.length() + 16);
    std::size_t moved = 0;
    static const std::uint8_t empty = 0;
    CCCryptorStatus status =
        CCCrypt(op, kCCAlgorithmAES128, kCCOptionPKCS7Padding, key, kCCKeySizeAES128, kIV,
                data.length() ? data.bytes() : &empty, data.length(), out.data(), out.size(), &moved);
    if (status != kCCSuccess) return std::nullopt;
    out.resize(moved);
    return NSData(std::move(out));
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TallyEnvelope

TallyEnvelope::TallyEnvelope()
    : address_(TallyApp::sharedInstance()->appid()), enveloper_(make<TAEnvelope>()) {
    buildIdentity();
    fetchSignature();
    enveloper_->setVersion(version_);
    enveloper_->setAddress(address_);
}

Ref<TallyEnvelope> TallyEnvelope::sharedInstance() {
    std::lock_guard<std::mutex> guard(gLock);
    if (!gShared) gShared = make<TallyEnvelope>();
    return gShared;
}

void TallyEnvelope::resetForTesting() {
    std::lock_guard<std::mutex> guard(gLock);
    gShared.reset();
}

void TallyEnvelope::fetchSignature() {
    if (auto stored = storedSignature()) signature_ = stored;
}

void TallyEnvelope::buildIdentity() {
    identityMD5_ = md5Of(NSData::fromString(TANUtil::idfv() + TANUtil::sharedUDIDString()));
}

std::array<std::uint8_t, 32> TallyEnvelope::mergeEntityAndIdentity() const {
    std::array<std::uint8_t, 32> merged{};
    for (int k = 0; k < 16; ++k) {
        merged[2 * k] = entityMD5_[k];
        merged[2 * k + 1] = identityMD5_[k];
    }
    return merged;
}

void TallyEnvelope::buildGUIDWithData(const std::uint8_t* signature) {
    std::array<std::uint8_t, 32> g = mergeEntityAndIdentity();
    for (int i : {0, 1, 30, 31}) g[i] = signature ? signature[i] : 0;
    auto t = static_cast<std::uint32_t>(timestamp_);
    for (int i = 0; i < 32; ++i) g[i] ^= static_cast<std::uint8_t>(t >> (8 * (i % 4)));
    guid_ = g;
}

void TallyEnvelope::setSignatureWithData(const std::optional<NSData>& data) {
    if (!data || data->empty()) return;
    std::lock_guard<std::recursive_mutex> guard(serialLock_);
    signature_ = *data;
    if (TallyConfig::configureWithKey("umSignature").isNil())
        TallyConfig::setConfigure(Value(*data), "umSignature");
    buildGUIDWithData(signature_->length() >= 32 ? signature_->bytes() : nullptr);
}

std::string TallyEnvelope::printBytes(const std::uint8_t* bytes, std::size_t length) {
    std::string text = "< ";
    for (std::size_t i = 0; i < length; ++i) text += NSString::stringWithFormat("%02x ", bytes[i]);
    text += ">\n";
    analyticsLog("%@", text);
    return text;
}

void TallyEnvelope::generateChecksum() {
    std::string text = NSString::stringWithFormat("%@%d%d%d%@", signatureString_, serialNum_, timestamp_,
                                                  length_, guidString_);
    checksum_ = NSString::lowercaseString(TANUtil::md5(text));
    enveloper_->setChecksum(checksum_);
}

void TallyEnvelope::buildSerialNum() {
    Value stored = TallyConfig::configureWithKey("umSerialNum");
    if (stored.isNil()) {
        serialNum_ = 1;
        TallyConfig::setConfigure(Value(1), "umSerialNum");
    } else {
        serialNum_ = stored.intValue();
    }
    enveloper_->setSerial_num(serialNum_);
}

std::optional<NSData> TallyEnvelope::toDataWithEntity(const std::optional<NSData>& entity) {
    if (!entity) return std::nullopt;
    std::lock_guard<std::recursive_mutex> guard(serialLock_);
    buildSerialNum();
    entityMD5_ = md5Of(*entity);
    if (auto stored = storedSignature(); stored && stored->length() >= 32) {
        signature_ = stored;
        buildGUIDWithData(stored->bytes());
    } else {
        buildGUIDWithData(nullptr);
        setSignatureWithData(NSData(guid_.data(), guid_.size()));
    }

    NSData body = *entity;
    auto codex = TallyConfig::imprintPropertyValueWithKey("codex");
    bool encrypt = codex ? *codex == "1" : TallyApp::sharedInstance()->encryptEnabled();
    if (encrypt) {
        auto encrypted = signature_ && signature_->length() >= 17
                             ? TallyUtility::AES128EncryptData(body, signature_->bytes() + 1)
                             : std::nullopt;
        // An envelope without its entity is useless to the collector; the items stay for a
        // later attempt instead.
        if (!encrypted) return std::nullopt;
        body = *encrypted;
        entityMD5_ = md5Of(body);
        buildGUIDWithData(signature_->bytes());
        enveloper_->setCodex(1);
    } else {
        enveloper_->setCodex(0);
    }

    enveloper_->setEntity(body);
    guidString_ = TANUtil::bytesToHexString(guid_.data(), static_cast<long>(guid_.size()));
    enveloper_->setGuid(guidString_);
    enveloper_->setLength(length_);
    enveloper_->setTs_secs(timestamp_);
    signatureString_ =
        TANUtil::bytesToHexString(signature_->bytes(), static_cast<long>(signature_->length()));
    enveloper_->setSignature(signatureString_);
    generateChecksum();
    envelopeData_ = detail::tallyWriteRecord(*enveloper_);
    return envelopeData_;
}

bool TallyEnvelope::verifyTimestamp() const {
    if (!signature_ || signature_->length() < 32) return true;
    const std::uint8_t* s = signature_->bytes();
    std::uint32_t t = static_cast<std::uint32_t>(guid_[0] ^ s[0]) |
                      static_cast<std::uint32_t>(guid_[1] ^ s[1]) << 8 |
                      static_cast<std::uint32_t>(guid_[30] ^ s[30]) << 16 |
                      static_cast<std::uint32_t>(guid_[31] ^ s[31]) << 24;
    return t == static_cast<std::uint32_t>(timestamp_) || (t == 0 && serialNum_ == 1);
}

bool TallyEnvelope::verifyChecksum() const {
    std::array<std::uint8_t, 32> g = guid_;
    auto t = static_cast<std::uint32_t>(timestamp_);
    for (int i = 0; i < 32; ++i) g[i] ^= static_cast<std::uint8_t>(t >> (8 * (i % 4)));
    for (int k = 2; k <= 13; ++k) {
        if (g[2 * k] != entityMD5_[k] || g[2 * k + 1] != identityMD5_[k]) return false;
    }
    return true;
}

void TallyEnvelope::checkExchangeData() {
    // Before the first envelope of an installation there is no signature to exchange yet.
    if (!signature_ || signature_->length() < 18 || !enveloper_->signature()) return;
    std::string x = TANUtil::md5(TANUtil::bytesToHexString(signature_->bytes() + 2, 16));
    auto umid = TallyConfig::imprintPropertyValueWithKey("umid");
    Dictionary identity = Dictionary::mutableDictionary();
    identity.setObject("appkey", Value(address_ ? address_ : TallyApp::sharedInstance()->appid()));
    identity.setObject("signature", Value(enveloper_->signature()));
    identity.setObject("checksum", x);
    if (umid && !umid->empty()) identity.setObject("umid", *umid);
    auto json = TANUtil::JSONFragment(Value(identity));
    if (!json) return;
    NSData bytes = NSData::fromString(*json);
    std::string path = TallyUtility::exchangeIdentityPath();
    if (TallyUtility::isExistAtPath(path)) {
        auto current = NSData::dataWithContentsOfFile(path);
        if (!current || !(*current == bytes)) bytes.writeToFile(path, true);
    } else {
        TallyUtility::saveData(bytes, path);
    }
}

std::optional<NSData> TallyEnvelope::makeEnvelopeData(const std::optional<NSData>& entity) {
    double now = NSDate::date().timeIntervalSince1970();
    timestamp_ = static_cast<std::int32_t>(now);
    auto envelope = toDataWithEntity(entity);
    bool stored = false;
    if (envelope) {
        auto ms = static_cast<long long>(std::trunc(now * 1000));
        // A name already taken (two envelopes in one millisecond) moves to the next free one, so
        // neither envelope is lost and the names still sort by time.
        for (int attempt = 0; attempt < kNameAttempts && !stored; ++attempt) {
            std::string path = TallyUtility::generateEnvelopeFileNameWithTS(
                NSString::stringWithFormat("%lld", ms + attempt));
            if (TallyUtility::isExistAtPath(path)) continue;
            stored = TallyUtility::saveData(envelope, path);
            if (!stored && !TallyUtility::isExistAtPath(path)) break;
        }
    }
    TallyConfig::setConfigure(Value(TallyConfig::configureWithKey("umSerialNum").intValue() + 1),
                              "umSerialNum");
    checkExchangeData();
    return stored ? envelope : std::nullopt;
}

// ---------------------------------------------------------------------------------------------
// TallyUtility

bool TallyUtility::isExistAtPath(const std::string& path) {
    return NSFileManager::defaultManager()->fileExistsAtPath(path);
}

bool TallyUtility::makeAbsDir(const std::string& path) {
    return NSFileManager::defaultManager()->createDirectoryAtPath(path, false);
}

bool TallyUtility::saveData(const std::optional<NSData>& data, const std::string& path) {
    if (!data || isExistAtPath(path)) return false;
    // Written beside the target under a hidden name, then linked into place: the link fails when
    // the name is taken, so an existing file is never replaced and no reader sees half a file.
    std::string directory = NSString::stringByDeletingLastPathComponent(path);
    std::string temp = NSString::stringByAppendingPathComponent(
        directory,
        NSString::stringWithFormat(".%@.%08x.tmp", NSString::lastPathComponent(path), arc4random()));
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    const std::uint8_t* p = data->bytes();
    std::size_t left = data->length();
    bool ok = true;
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    ok = ok && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (ok) ok = ::link(temp.c_str(), path.c_str()) == 0;
    ::unlink(temp.c_str());
    return ok;
}

void TallyUtility::removeFile(const std::string& path) {
    auto manager = NSFileManager::defaultManager();
    if (manager->fileExistsAtPath(path)) manager->removeItemAtPath(path);
}

std::string TallyUtility::cacheDirectory() {
    auto paths = NSSearchPathForDirectoriesInDomains(NSCachesDirectory, NSUserDomainMask, true);
    return paths.empty() ? NSSandbox::cachesPath() : paths.front();
}

namespace {
std::string bundleIdentifier() {
    return TANProtocolData::appPackageNameString();
}
}  // namespace

std::string TallyUtility::cacheFilePath() {
    return NSString::stringByAppendingPathComponent(
        cacheDirectory(), NSString::stringWithFormat(".%@_tallyCache.plist", bundleIdentifier()));
}

std::string TallyUtility::bgCacheFilePath() {
    return NSString::stringByAppendingPathComponent(
        cacheDirectory(), NSString::stringWithFormat(".%@_tallybgCache.plist", bundleIdentifier()));
}

std::string TallyUtility::envelopeFilePath() {
    return NSString::stringByAppendingPathComponent(
        cacheDirectory(), NSString::stringWithFormat(".%@_tally_envelope.log", bundleIdentifier()));
}

std::string TallyUtility::tallyDirectory() {
    // Worked out once per sandbox root (a test process moves between roots).
    static std::mutex lock;
    static std::uint64_t generation = 0;
    static std::string path;
    std::lock_guard<std::mutex> guard(lock);
    std::uint64_t current = NSSandbox::generation();
    if (path.empty() || generation != current || !isExistAtPath(path)) {
        generation = current;
        path = NSString::stringByAppendingPathComponent(cacheDirectory(), ".tally");
        if (!isExistAtPath(path)) makeAbsDir(path);
    }
    return path;
}

std::vector<std::string> TallyUtility::itemsInAbsDir(const std::string& path) {
    std::vector<std::string> items;
    auto names = NSFileManager::defaultManager()->contentsOfDirectoryAtPath(path);
    if (!names) return items;
    for (const auto& name : *names) {
        if (!name.empty() && name[0] == '.') continue;
        items.push_back(NSString::stringByAppendingPathComponent(path, name));
    }
    return items;
}

void TallyUtility::sortFileWithCreatedTime(std::vector<std::string>& paths) {
    auto manager = NSFileManager::defaultManager();
    double now = NSDate::date().timeIntervalSince1970();
    std::vector<std::pair<long long, std::string>> aged;
    for (const auto& path : paths) {
        long long age = 0;
        if (auto attributes = manager->attributesOfItemAtPath(path)) {
            const Value& created = attributes->objectForKey(NSFileCreationDate);
            if (created.date()) age = static_cast<long long>(now - created.date()->timeIntervalSince1970());
        }
        aged.emplace_back(age, path);
    }
    std::stable_sort(aged.begin(), aged.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    for (std::size_t i = 0; i < paths.size(); ++i) paths[i] = aged[i].second;
}

std::string TallyUtility::exchangeIdentityPath() {
    return NSString::stringByAppendingPathComponent(tallyDirectory(), "exchangeIdentity.json");
}

std::vector<std::string> TallyUtility::envelopeFiles() {
    std::vector<std::string> files;
    for (auto& path : itemsInAbsDir(tallyDirectory())) {
        if (NSString::hasSuffix(path, kEnvelopeSuffix)) files.push_back(std::move(path));
    }
    return files;
}

std::string TallyUtility::generateEnvelopeFileNameWithTS(const std::string& text) {
    return NSString::stringByAppendingPathComponent(tallyDirectory(), text + kEnvelopeSuffix);
}

double TallyUtility::durationNowWith1970TimeInterval(double seconds) {
    return NSDate::date().timeIntervalSince1970() - seconds;
}

std::optional<NSData> TallyUtility::AES128EncryptData(const NSData& data, const std::uint8_t* key) {
    return aes(kCCEncrypt, data, key);
}

std::optional<NSData> TallyUtility::AES128DecryptData(const NSData& data, const std::uint8_t* key) {
    return aes(kCCDecrypt, data, key);
}
