#pragma once
// Session configurations: the settings a URL session applies to every task it makes.
//
// A session copies its configuration when it is made, so changing a configuration afterwards
// changes no running session. Three kinds: the default one, an ephemeral one (no persistent
// cache or cookies) and a background one, which carries an identifier. There is no out-of-process
// download daemon here: a background session loads in this process like any other, and only its
// identifier tells it apart. Configurations archive (secure coding) and copy.
//
// What a session takes from it for each request: the request time-out when the request keeps the
// default one, the cache policy when the request keeps the protocol policy, the additional headers
// the request does not set itself, and the cellular-access flag.
//
// A configuration is set up on one thread and then only read.

#include <optional>
#include <string>

#include "foundation/NSKeyedArchiver.h"
#include "foundation/NSObject.h"
#include "foundation/Value.h"
#include "network/NSURLCache.h"
#include "network/NSURLRequest.h"

class NSURLSessionConfiguration : public NSObject, public NSSecureCoding {
  public:
    NSURLSessionConfiguration() = default;
    explicit NSURLSessionConfiguration(NSCoder& coder);
    static bool supportsSecureCoding() { return true; }
    std::string className() const override { return "NSURLSessionConfiguration"; }
    std::string description() const override;

    // A new configuration of each kind on every call.
    static Ref<NSURLSessionConfiguration> defaultSessionConfiguration();
    static Ref<NSURLSessionConfiguration> ephemeralSessionConfiguration();
    static Ref<NSURLSessionConfiguration>
    backgroundSessionConfigurationWithIdentifier(const std::string& identifier);

    // Set for background configurations only.
    const std::optional<std::string>& identifier() const { return identifier_; }
    bool isEphemeral() const { return ephemeral_; }

    double timeoutIntervalForRequest() const { return timeoutIntervalForRequest_; }
    void setTimeoutIntervalForRequest(double seconds) { timeoutIntervalForRequest_ = seconds; }
    // Kept for callers; this layer does not limit a task's total duration.
    double timeoutIntervalForResource() const { return timeoutIntervalForResource_; }
    void setTimeoutIntervalForResource(double seconds) { timeoutIntervalForResource_ = seconds; }
    NSURLRequestCachePolicy requestCachePolicy() const { return requestCachePolicy_; }
    void setRequestCachePolicy(NSURLRequestCachePolicy policy) { requestCachePolicy_ = policy; }
    bool allowsCellularAccess() const { return allowsCellularAccess_; }
    void setAllowsCellularAccess(bool value) { allowsCellularAccess_ = value; }
    long HTTPMaximumConnectionsPerHost() const { return HTTPMaximumConnectionsPerHost_; }
    void setHTTPMaximumConnectionsPerHost(long count) { HTTPMaximumConnectionsPerHost_ = count; }
    bool HTTPShouldUsePipelining() const { return HTTPShouldUsePipelining_; }
    void setHTTPShouldUsePipelining(bool value) { HTTPShouldUsePipelining_ = value; }
    bool HTTPShouldSetCookies() const { return HTTPShouldSetCookies_; }
    void setHTTPShouldSetCookies(bool value) { HTTPShouldSetCookies_ = value; }
    bool isDiscretionary() const { return discretionary_; }
    void setDiscretionary(bool value) { discretionary_ = value; }
    bool sessionSendsLaunchEvents() const { return sessionSendsLaunchEvents_; }
    void setSessionSendsLaunchEvents(bool value) { sessionSendsLaunchEvents_ = value; }
    // Header fields added to every request that does not set them; a copy is kept.
    Dictionary HTTPAdditionalHeaders() const { return HTTPAdditionalHeaders_.copy(); }
    void setHTTPAdditionalHeaders(const Dictionary& headers) { HTTPAdditionalHeaders_ = headers.copy(); }
    // Kept for callers; loading uses the shared URL cache.
    Ref<NSURLCache> URLCache() const { return URLCache_; }
    void setURLCache(const Ref<NSURLCache>& cache) { URLCache_ = cache; }

    // The request as a task of a session with this configuration sends it.
    Ref<NSMutableURLRequest> requestByApplyingSettings(const Ref<NSURLRequest>& request) const;

    Ref<NSURLSessionConfiguration> copy() const;
    Ref<NSObject> copyObject() const override { return copy(); }
    // The settings above, the cache excepted.
    void encodeWithCoder(NSCoder& coder) const override;
    bool isEqual(const NSObject& other) const override;

  private:
    std::optional<std::string> identifier_;
    bool ephemeral_ = false;
    double timeoutIntervalForRequest_ = 60;
    double timeoutIntervalForResource_ = 7 * 24 * 3600;
    NSURLRequestCachePolicy requestCachePolicy_ = NSURLRequestUseProtocolCachePolicy;
    bool allowsCellularAccess_ = true;
    long HTTPMaximumConnectionsPerHost_ = 4;
    bool HTTPShouldUsePipelining_ = false;
    bool HTTPShouldSetCookies_ = true;
    bool discretionary_ = false;
    bool sessionSendsLaunchEvents_ = false;
    Dictionary HTTPAdditionalHeaders_ = Dictionary::mutableDictionary();
    Ref<NSURLCache> URLCache_;
};
