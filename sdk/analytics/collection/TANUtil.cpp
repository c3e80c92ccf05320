#include "sdk/analytics/collection/TANUtil.h"

#include <atomic>

#include "foundation/NSBundle.h"
#include "foundation/NSCharacterSet.h"
#include "foundation/NSDate.h"
#include "foundation/NSDateFormatter.h"
#include "foundation/NSException.h"
#include "foundation/NSLocale.h"
#include "foundation/NSLog.h"
#include "foundation/NSRandom.h"
#include "foundation/NSTimeZone.h"
#include "foundation/NSUUID.h"
#include "sdk/analytics/collection/TANEncoders.h"
#include "sdk/analytics/collection/TANPlatformProbes.h"
#include "sdk/analytics/collection/TANSharedUDID.h"
#include "sdk/analytics/collection/TANUtils.h"
#include "security/CommonDigest.h"
#include "uikit/UIDevice.h"
#include "uikit/UIScreen.h"

namespace {

std::string formatNow(const char* pattern) {
    auto formatter = make<NSDateFormatter>();
    formatter->setDateFormat(pattern);
    formatter->setTimeZone(NSTimeZone::defaultTimeZone());
    return formatter->stringFromDate(NSDate::date());
}

std::string infoString(const char* key) {
    Value v = NSBundle::mainBundle()->objectForInfoDictionaryKey(key);
    return v.isString() ? *v.string() : std::string();
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TANProtocolData

std::string TANProtocolData::dateString() {
    return formatNow("yyyy-MM-dd");
}

std::string TANProtocolData::timeString() {
    return formatNow("HH:mm:ss");
}

std::string TANProtocolData::timeMSString() {
    return formatNow("HH:mm:ss.SSS");
}

std::string TANProtocolData::deviceIDVendorString() {
    auto identifier = UIDevice::currentDevice()->identifierForVendor();
    return identifier ? identifier->UUIDString() : std::string();
}

std::optional<std::string> TANProtocolData::deviceMacString() {
    bool missing = false;
    auto address = detail::tallyWiFiHardwareAddress(&missing);
    if (missing) {
        NSLog("Error: if_nametoindex error");
        return std::nullopt;
    }
    if (!address) {
        NSLog("Error: sysctl, take 2");
        return std::nullopt;
    }
    const auto& a = *address;
    return NSString::stringWithFormat("%02X:%02X:%02X:%02X:%02X:%02X", a[0], a[1], a[2], a[3], a[4], a[5]);
}

std::string TANProtocolData::sharedUDIDString() {
    try {
        auto value = TANSharedUDID::value();
        return value.value_or("");
    } catch (const NSException& e) {
        NSLog("Exception occurred: %@, %@", e.reason(), Value(e.userInfo()));
        return std::string();
    }
}

std::string TANProtocolData::UUIDString() {
    return NSUUID().UUIDString();
}

std::string TANProtocolData::UUIDMD5String() {
    return md5Value(UUIDString());
}

std::string TANProtocolData::deviceModelString() {
    return detail::tallyMachineModel();
}

std::string TANProtocolData::resolutionString() {
    auto screen = UIScreen::mainScreen();
    CGSize size;
    if (auto mode = screen->currentMode()) {
        size = mode->size();
    } else {
        CGFloat scale = screen->scale() > 0 ? screen->scale() : 1;
        size = CGSize{screen->bounds().size.width * scale, screen->bounds().size.height * scale};
    }
    return NSString::stringWithFormat("%d x %d", static_cast<int>(size.height), static_cast<int>(size.width));
}

std::string TANProtocolData::osVersionString() {
    return UIDevice::currentDevice()->systemVersion();
}

std::string TANProtocolData::orientationString() {
    auto o = UIDevice::currentDevice()->orientation();
    return (o == UIDeviceOrientationPortrait || o == UIDeviceOrientationPortraitUpsideDown) ? "0" : "1";
}

bool TANProtocolData::isDeviceJailBreak() {
    return detail::tallyDeviceFileExists("/Applications/Cydia.app") ||
           detail::tallyDeviceFileExists("/private/var/lib/apt/");
}

bool TANProtocolData::isPad() {
    return UIDevice::currentDevice()->userInterfaceIdiom() == UIUserInterfaceIdiomPad;
}

std::string TANProtocolData::accessString() {
    std::string machine = deviceModelString();
    if (UIDevice::currentDevice()->model() == "iPhone Simulator" || machine == "x86_64" ||
        machine == "i386") {
        return "WiFi";
    }
    auto names = detail::tallyActiveIPv4InterfaceNames();
    for (const auto& name : names) {
        if (name == "en0") return "WiFi";
    }
    return names.empty() ? std::string() : std::string("CellNetwork");
}

std::string TANProtocolData::carrierString() {
    auto name = detail::tallyCarrierName();
    if (!name || !*name) return std::string();
    return **name;
}

std::string TANProtocolData::appPackageNameString() {
    return infoString("CFBundleIdentifier");
}

std::string TANProtocolData::appDisplayNameString() {
    return infoString("CFBundleDisplayName");
}

std::string TANProtocolData::appBundleVersionString() {
    return infoString("CFBundleVersion");
}

std::string TANProtocolData::appShortVersionString() {
    return infoString("CFBundleShortVersionString");
}

std::string TANProtocolData::countryString() {
    return NSLocale::currentLocale()->countryCode().value_or("");
}

std::string TANProtocolData::languageString() {
    auto languages = NSLocale::preferredLanguages();
    return languages.empty() ? std::string() : languages.front();
}

std::string TANProtocolData::timezoneString() {
    long hours = NSTimeZone::systemTimeZone()->secondsFromGMT() / 3600;
    return NSString::stringWithFormat("%ld", hours);
}

std::string TANProtocolData::md5Value(const std::string& text) {
    return TANUtils::md5Value(text);
}

// ---------------------------------------------------------------------------------------------
// TANUtil

NSData TANUtil::md5BytesWithString(const std::string& text) {
    return md5DataWithData(NSData::fromString(text));
}

NSData TANUtil::md5DataWithData(const NSData& data) {
    unsigned char digest[CC_MD5_DIGEST_LENGTH];
    CC_MD5(data.length() ? data.bytes() : reinterpret_cast<const std::uint8_t*>(""),
           static_cast<CC_LONG>(data.length()), digest);
    return NSData(digest, sizeof digest);
}

std::string TANUtil::bytesToHexString(const std::uint8_t* bytes, long length) {
    if (length < 1 || !bytes) return std::string();
    static const char* kHex = "0123456789abcdef";
    std::string out;
    out.reserve(static_cast<std::size_t>(length) * 2);
    for (long i = 0; i < length; ++i) {
        out.push_back(kHex[bytes[i] >> 4]);
        out.push_back(kHex[bytes[i] & 15]);
    }
    return out;
}

std::string TANUtil::md5(const std::string& text) {
    return TANUtils::md5Value(text);
}

int TANUtil::timezone() {
    return static_cast<int>(NSTimeZone::systemTimeZone()->secondsFromGMT() / 3600);
}

int TANUtil::resolutionHeight() {
    auto screen = UIScreen::mainScreen();
    CGFloat scale = screen->scale() > 0 ? screen->scale() : 1;
    return static_cast<int>(screen->bounds().size.height * scale);
}

int TANUtil::resolutionWidth() {
    auto screen = UIScreen::mainScreen();
    CGFloat scale = screen->scale() > 0 ? screen->scale() : 1;
    return static_cast<int>(screen->bounds().size.width * scale);
}

std::string TANUtil::urlEncode(const std::string& text) {
    return TANUtils::urlEncode(text);
}

std::optional<std::string> TANUtil::JSONFragment(const Value& value) {
    return TANUtils::JSONFragment(value);
}

Value TANUtil::JSONValue(const std::optional<std::string>& text) {
    return TANUtils::JSONValue(text);
}

std::optional<NSData> TANUtil::deflatedData(const NSData& data) {
    return TANDeflated::deflatedData(data);
}

std::optional<NSData> TANUtil::deflatedDataPrefixedWith(const NSData& prefix, int level,
                                                        const NSData& source) {
    return TANDeflated::deflatedDataPrefixedWith(prefix, level, source);
}

std::string TANUtil::sessionId(const std::optional<std::string>& appKey) {
    std::string text = NSString::stringWithFormat("%f%@%u%u", NSDate::date().timeIntervalSince1970(), appKey,
                                                  arc4random(), arc4random());
    return md5(text);
}

std::string TANUtil::umStringDecode(const std::string& text) {
    std::u16string units = NSString::utf16(text);
    for (auto& u : units) u = static_cast<char16_t>(u - 1);
    return NSString::fromUTF16(units);
}

std::string TANUtil::getString(const std::string& text, std::size_t bytesLength) {
    auto cut = TANUtils::subString(text, NSUTF8StringEncoding, bytesLength);
    if (bytesLength == 0) return std::string();
    return cut.value_or(text);
}

std::string TANUtil::sha1WithString(const std::string& text) {
    return sha1WithData(NSData::fromString(text));
}

std::string TANUtil::sha1WithData(const NSData& data) {
    unsigned char digest[CC_SHA1_DIGEST_LENGTH];
    CC_SHA1(data.length() ? data.bytes() : reinterpret_cast<const std::uint8_t*>(""),
            static_cast<CC_LONG>(data.length()), digest);
    return bytesToHexString(digest, CC_SHA1_DIGEST_LENGTH);
}

bool TANUtil::isEmptyString(const Value& value) {
    if (value.isNil() || value.isNull()) return true;
    if (!value.isString()) return false;
    return isEmptyString(std::optional<std::string>(*value.string()));
}

bool TANUtil::isEmptyString(const std::optional<std::string>& text) {
    if (!text) return true;
    static const NSCharacterSet blanks = NSCharacterSet::whitespaceAndNewlineCharacterSet();
    return NSString::stringByTrimmingCharactersInSet(*text, blanks).empty();
}

// ---------------------------------------------------------------------------------------------

namespace {
std::atomic<bool> gLogEnabled{false};
}  // namespace

bool analyticsLogEnabled() {
    return gLogEnabled.load(std::memory_order_relaxed);
}

void analyticsSetLogEnabled(bool enabled) {
    gLogEnabled.store(enabled);
}

void analyticsLogLine(const std::string& text) {
    NSLog("TALOG: %@", text);
}
