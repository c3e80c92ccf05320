#pragma once
// The wire form of the Weibo app-to-app protocol, shared by WeiboSDK and the Weibo stand-in that
// tests drive.
//
// A transfer is one item of type kTransferType on the persistent pasteboard kTransferPasteboard:
// a keyed archive of a dictionary holding the transferred request or response under
// "transferObject", who wrote it under "origin" (kOriginApp or kOriginWeibo), the app's record
// under "app" (its "appKey" and "bundleID") and the SDK version. The URLs only name the request
// id: "weibosdk://request?id=<id>&sdkversion=<v>" to the Weibo app and
// "wb<app key>://response?id=<id>&sdkversion=<v>" (or "request" for the Weibo app's own
// requests) back.
//
// Decoding is secure: only the request, response and message classes may appear in the archive.

#include <optional>
#include <string>

#include "foundation/NSData.h"
#include "foundation/NSObject.h"
#include "foundation/NSURL.h"

namespace detail::weibo {

inline constexpr char kScheme[] = "weibosdk";
inline constexpr char kTransferPasteboard[] = "weibosdk.transfer";
inline constexpr char kTransferType[] = "transferObject";
inline constexpr char kSDKVersion[] = "3.1.3";
inline constexpr char kOriginApp[] = "app";
inline constexpr char kOriginWeibo[] = "weibo";
// Larger archives are refused before decoding.
inline constexpr std::size_t kMaxTransferLength = 32u << 20;

struct Envelope {
    Ref<NSObject> object;
    std::string origin;
    std::string appKey;
    std::string bundleID;
    std::string sdkVersion;
};

std::optional<NSData> encodeEnvelope(const Ref<NSObject>& object, const std::string& origin,
                                     const std::string& appKey, const std::string& bundleID);
// nil with the reason when the bytes are not an envelope from `origin`.
std::optional<Envelope> decodeEnvelope(const NSData& data, const std::string& origin, std::string* reason);

// The "id" and "sdkversion" of a protocol URL; nil unless both are present and the id is a UUID.
struct URLArguments {
    std::string id;
    std::string sdkVersion;
};
std::optional<URLArguments> urlArguments(const Ref<NSURL>& url);

}  // namespace detail::weibo
