#pragma once
// The facts the analytics library reports about the device and the app, and its small helpers.
//
// TANProtocolData asks the platform; TANUtil is the facade the rest of the library calls: most of
// its methods forward to TANProtocolData, a few answer fixed values, and it adds digests,
// hexadecimal text, URL encoding, JSON and compression pass-throughs and the session id.
// analyticsLog is the library's console log: "TALOG: " and the formatted text, printed only while
// the log switch is on.
//
// Everything here may be called from any thread; probes answer an empty text (or nothing) when the
// platform gives nothing, and never raise.

#include <cstdint>
#include <optional>
#include <string>

#include "foundation/NSData.h"
#include "foundation/NSString.h"
#include "foundation/Value.h"

class TANProtocolData {
  public:
    static std::string dateString();
    static std::string timeString();
    static std::string timeMSString();
    static std::string latString() { return std::string(); }
    static std::string lngString() { return std::string(); }
    static std::string cpuString() { return std::string(); }
    // The vendor identifier as UUID text, or "".
    static std::string deviceIDVendorString();
    // The hardware address of "en0" as "%02X:%02X:...", or nothing (with a console line).
    static std::optional<std::string> deviceMacString();
    // The shared open device identifier, or "".
    static std::string sharedUDIDString();
    static std::string UUIDString();
    static std::string UUIDMD5String();
    // The phone's model code ("hw.machine").
    static std::string deviceModelString();
    // "%d x %d", height then width in pixels.
    static std::string resolutionString();
    static std::string osString() { return "iOS"; }
    static std::string osVersionString();
    // "0" in portrait (either way up), else "1".
    static std::string orientationString();
    static bool isDeviceJailBreak();
    static std::string deviceJailBreakString() { return isDeviceJailBreak() ? "YES" : "NO"; }
    static bool isPad();
    // "WiFi", "CellNetwork", or "" without a network.
    static std::string accessString();
    static std::string carrierString();
    static std::string appPackageNameString();
    static std::string appDisplayNameString();
    static std::string appBundleVersionString();
    static std::string appShortVersionString();
    static std::string countryString();
    static std::string languageString();
    // Whole hours from GMT, rounded toward zero ("%ld").
    static std::string timezoneString();
    // Upper-case hexadecimal MD5 of the UTF-8 bytes up to the first zero byte.
    static std::string md5Value(const std::string& text);
};

class TANUtil {
  public:
    static std::string deviceMacAddressString() { return "02:00:00:00:00:00"; }
    static NSData md5BytesWithString(const std::string& text);
    static NSData md5DataWithData(const NSData& data);
    static std::string bytesToHexString(const std::uint8_t* bytes, long length);
    static std::string md5(const std::string& text);
    static std::string returnCheck(const std::optional<std::string>& text) { return text.value_or(""); }

    static std::string countryString() { return TANProtocolData::countryString(); }
    static std::string languageString() { return TANProtocolData::languageString(); }
    static std::string deviceModelString() { return TANProtocolData::deviceModelString(); }
    static std::string appShortVersionString() { return TANProtocolData::appShortVersionString(); }
    static std::string osString() { return TANProtocolData::osString(); }
    static std::string osVersionString() { return TANProtocolData::osVersionString(); }
    static std::string timezoneString() { return TANProtocolData::timezoneString(); }
    static std::string resolutionString() { return TANProtocolData::resolutionString(); }
    static std::string accessString() { return TANProtocolData::accessString(); }
    static std::string carrierString() { return TANProtocolData::carrierString(); }
    static std::string timeString() { return TANProtocolData::timeString(); }
    static std::string dateString() { return TANProtocolData::dateString(); }
    static bool isDeviceJailBreak() { return TANProtocolData::isDeviceJailBreak(); }
    static std::string deviceJailBreakString() { return TANProtocolData::deviceJailBreakString(); }
    static std::string sharedUDIDString() { return TANProtocolData::sharedUDIDString(); }
    static std::string appPackageNameString() { return TANProtocolData::appPackageNameString(); }
    static std::string appDisplayNameString() { return TANProtocolData::appDisplayNameString(); }
    static bool isPad() { return TANProtocolData::isPad(); }
    static std::string idfv() { return TANProtocolData::deviceIDVendorString(); }
    static std::string sdkVersionString() { return "3.6.7"; }
    static std::string sdkTypeString() { return "iOS"; }
    static int timezone();
    static int resolutionHeight();
    static int resolutionWidth();
    static bool isDebugging() { return true; }
    static std::string urlEncode(const std::string& text);
    static std::optional<std::string> JSONFragment(const Value& value);
    static Value JSONValue(const std::optional<std::string>& text);
    static std::optional<NSData> deflatedData(const NSData& data);
    static std::optional<NSData> deflatedDataPrefixedWith(const NSData& prefix, int level,
                                                          const NSData& source);
    // 32 upper-case hexadecimal digits, new each time; the app key mixes in.
    static std::string sessionId(const std::optional<std::string>& appKey);
    // Every UTF-16 unit decreased by one.
    static std::string umStringDecode(const std::string& text);
    // The text cut to at most that many UTF-8 bytes without splitting a character.
    static std::string getString(const std::string& text, std::size_t bytesLength);
    static std::string sha1WithString(const std::string& text);
    static std::string sha1WithData(const NSData& data);
    // Nil, null, or only white space and line ends.
    static bool isEmptyString(const Value& value);
    static bool isEmptyString(const std::optional<std::string>& text);
};

// The console lines of the library: printed with the "TALOG: " prefix while the log switch is on.
// The switch lives here rather than in the settings, so that every part may log.
bool analyticsLogEnabled();
void analyticsSetLogEnabled(bool enabled);
void analyticsLogLine(const std::string& text);
template <class... Args>
void analyticsLog(std::string_view format, const Args&... args) {
    if (!analyticsLogEnabled()) return;
    analyticsLogLine(NSString::stringWithFormat(format, args...));
}
