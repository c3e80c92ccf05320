#pragma once
// URL requests: what to load and how. NSURLRequest is immutable once made; NSMutableURLRequest
// adds the setters. copy() gives an immutable request, mutableCopy() a mutable one; a body
// stream is shared by copies (a stream cannot be duplicated), a body is a value.
//
// Header fields keep the case they were set with and are found ignoring case: setting
// "content-type" replaces an earlier "Content-Type". addValue() joins repeated values with ", ".
//
// The six properties a request serialiser applies by name (allowsCellularAccess, cachePolicy,
// HTTPShouldHandleCookies, HTTPShouldUsePipelining, networkServiceType, timeoutInterval) are
// readable through valueForKey() and settable through setValueForKey() with boxed numbers.
//
// Requests are archived with secure coding (class names "NSURLRequest", "NSMutableURLRequest");
// a body stream is not archived.
//
// Thread safety: a request may be read from any thread once made; a mutable request is changed
// by one thread at a time.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "foundation/NSData.h"
#include "foundation/NSKeyedArchiver.h"
#include "foundation/NSObject.h"
#include "foundation/NSStream.h"
#include "foundation/NSURL.h"
#include "foundation/Value.h"

enum NSURLRequestCachePolicy : NSUInteger {
    NSURLRequestUseProtocolCachePolicy = 0,
    NSURLRequestReloadIgnoringLocalCacheData = 1,
    NSURLRequestReturnCacheDataElseLoad = 2,
    NSURLRequestReturnCacheDataDontLoad = 3,
    NSURLRequestReloadIgnoringLocalAndRemoteCacheData = 4,
    NSURLRequestReloadIgnoringCacheData = NSURLRequestReloadIgnoringLocalCacheData,
    NSURLRequestReloadRevalidatingCacheData = 5,
};

enum NSURLRequestNetworkServiceType : NSUInteger {
    NSURLNetworkServiceTypeDefault = 0,
    NSURLNetworkServiceTypeVoIP = 1,
    NSURLNetworkServiceTypeVideo = 2,
    NSURLNetworkServiceTypeBackground = 3,
    NSURLNetworkServiceTypeVoice = 4,
};

// The default time-out of a request, in seconds.
inline constexpr double NSURLRequestDefaultTimeoutInterval = 60.0;

class NSMutableURLRequest;

class NSURLRequest : public NSObject, public NSSecureCoding {
  public:
    using HeaderList = std::vector<std::pair<std::string, std::string>>;

    explicit NSURLRequest(Ref<NSURL> url = nullptr,
                          NSURLRequestCachePolicy cachePolicy = NSURLRequestUseProtocolCachePolicy,
                          double timeoutInterval = NSURLRequestDefaultTimeoutInterval);
    explicit NSURLRequest(NSCoder& coder);
    static Ref<NSURLRequest> requestWithURL(const Ref<NSURL>& url) { return make<NSURLRequest>(url); }
    static Ref<NSURLRequest> requestWithURL(const Ref<NSURL>& url, NSURLRequestCachePolicy cachePolicy,
                                            double timeoutInterval) {
        return make<NSURLRequest>(url, cachePolicy, timeoutInterval);
    }
    static bool supportsSecureCoding() { return true; }

    const Ref<NSURL>& URL() const { return url_; }
    NSURLRequestCachePolicy cachePolicy() const { return cachePolicy_; }
    double timeoutInterval() const { return timeoutInterval_; }
    const Ref<NSURL>& mainDocumentURL() const { return mainDocumentURL_; }
    NSURLRequestNetworkServiceType networkServiceType() const { return networkServiceType_; }
    bool allowsCellularAccess() const { return allowsCellularAccess_; }

    // "GET" unless set.
    const std::string& HTTPMethod() const { return method_; }
    // The header fields as a new dictionary, in the order they were set.
    Dictionary allHTTPHeaderFields() const;
    // The fields in order with their names as set.
    const HeaderList& headerList() const { return headers_; }
    // Lookup ignoring case.
    std::optional<std::string> valueForHTTPHeaderField(const std::string& field) const;
    const std::optional<NSData>& HTTPBody() const { return body_; }
    const Ref<NSInputStream>& HTTPBodyStream() const { return bodyStream_; }
    bool HTTPShouldHandleCookies() const { return shouldHandleCookies_; }
    bool HTTPShouldUsePipelining() const { return shouldUsePipelining_; }

    Ref<NSURLRequest> copy() const;
    Ref<NSMutableURLRequest> mutableCopy() const;

    // The six serialiser-applied properties by name, boxed; nil for other keys.
    Value valueForKey(const std::string& key) const override;

    std::string className() const override { return "NSURLRequest"; }
    std::string description() const override;
    bool isEqual(const NSObject& other) const override;
    std::size_t hash() const override;
    Ref<NSObject> copyObject() const override { return copy(); }
    void encodeWithCoder(NSCoder& coder) const override;

  protected:
    void copyStateFrom(const NSURLRequest& other);

    Ref<NSURL> url_;
    NSURLRequestCachePolicy cachePolicy_;
    double timeoutInterval_;
    Ref<NSURL> mainDocumentURL_;
    NSURLRequestNetworkServiceType networkServiceType_ = NSURLNetworkServiceTypeDefault;
    bool allowsCellularAccess_ = true;
    std::string method_ = "GET";
    HeaderList headers_;
    std::optional<NSData> body_;
    Ref<NSInputStream> bodyStream_;
    bool shouldHandleCookies_ = true;
    bool shouldUsePipelining_ = false;
};

class NSMutableURLRequest : public NSURLRequest {
  public:
    using NSURLRequest::NSURLRequest;
    static Ref<NSMutableURLRequest> requestWithURL(const Ref<NSURL>& url) {
        return make<NSMutableURLRequest>(url);
    }
    static Ref<NSMutableURLRequest> requestWithURL(const Ref<NSURL>& url, NSURLRequestCachePolicy cachePolicy,
                                                   double timeoutInterval) {
        return make<NSMutableURLRequest>(url, cachePolicy, timeoutInterval);
    }

    void setURL(Ref<NSURL> url) { url_ = std::move(url); }
    void setCachePolicy(NSURLRequestCachePolicy policy) { cachePolicy_ = policy; }
    void setTimeoutInterval(double seconds) { timeoutInterval_ = seconds; }
    void setMainDocumentURL(Ref<NSURL> url) { mainDocumentURL_ = std::move(url); }
    void setNetworkServiceType(NSURLRequestNetworkServiceType type) { networkServiceType_ = type; }
    void setAllowsCellularAccess(bool allows) { allowsCellularAccess_ = allows; }
    void setHTTPMethod(std::string method);
    // Replaces every field.
    void setAllHTTPHeaderFields(const Dictionary& fields);
    // Sets the field (replacing any of the same name, whatever its case); nil removes it.
    void setValue(const std::optional<std::string>& value, const std::string& field);
    // Appends to the field's value with ", ", or sets it when absent.
    void addValue(const std::string& value, const std::string& field);
    // A body replaces a body stream and the other way round.
    void setHTTPBody(std::optional<NSData> body);
    void setHTTPBodyStream(Ref<NSInputStream> stream);
    void setHTTPShouldHandleCookies(bool handle) { shouldHandleCookies_ = handle; }
    void setHTTPShouldUsePipelining(bool use) { shouldUsePipelining_ = use; }

    // Sets one of the six properties by name from a boxed number; false (and nothing changes)
    // for other keys or a value that is not a number.
    bool setValueForKey(const Value& value, const std::string& key);

    std::string className() const override { return "NSMutableURLRequest"; }
    Ref<NSObject> copyObject() const override { return mutableCopy(); }
};
