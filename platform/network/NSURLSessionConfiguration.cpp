#include "network/NSURLSessionConfiguration.h"

#include <cmath>

#include "foundation/NSString.h"

namespace {

const NSCodableClass<NSURLSessionConfiguration> registration("NSURLSessionConfiguration");

}  // namespace

NSURLSessionConfiguration::NSURLSessionConfiguration(NSCoder& coder) {
    if (auto identifier = coder.decodeObjectOfClass("NSString", "identifier").optionalString()) {
        identifier_ = *identifier;
    }
    ephemeral_ = coder.decodeBoolForKey("ephemeral");
    auto positive = [](double value, double fallback) {
        return std::isfinite(value) && value > 0 ? value : fallback;
    };
    timeoutIntervalForRequest_ = positive(coder.decodeDoubleForKey("timeoutIntervalForRequest"), 60);
    timeoutIntervalForResource_ =
        positive(coder.decodeDoubleForKey("timeoutIntervalForResource"), timeoutIntervalForResource_);
    auto policy = coder.decodeInt64ForKey("requestCachePolicy");
    if (policy >= 0 && policy <= 5) requestCachePolicy_ = static_cast<NSURLRequestCachePolicy>(policy);
    allowsCellularAccess_ =
        !coder.containsValueForKey("allowsCellularAccess") || coder.decodeBoolForKey("allowsCellularAccess");
    auto connections = coder.decodeInt64ForKey("HTTPMaximumConnectionsPerHost");
    if (connections > 0 && connections < 1'000'000)
        HTTPMaximumConnectionsPerHost_ = static_cast<long>(connections);
    HTTPShouldUsePipelining_ = coder.decodeBoolForKey("HTTPShouldUsePipelining");
    HTTPShouldSetCookies_ =
        !coder.containsValueForKey("HTTPShouldSetCookies") || coder.decodeBoolForKey("HTTPShouldSetCookies");
    discretionary_ = coder.decodeBoolForKey("discretionary");
    sessionSendsLaunchEvents_ = coder.decodeBoolForKey("sessionSendsLaunchEvents");
    Value decodedHeaders = coder.decodeObjectOfClass("NSDictionary", "HTTPAdditionalHeaders");
    if (const Dictionary* headers = decodedHeaders.dictionary()) {
        // Only text fields make headers; anything else in a damaged archive is dropped.
        for (const auto& [name, value] : *headers) {
            if (value.isString()) HTTPAdditionalHeaders_.setObject(name, value);
        }
    }
}

std::string NSURLSessionConfiguration::description() const {
    return NSString::stringWithFormat("<NSURLSessionConfiguration: %p identifier: %@>",
                                      static_cast<const void*>(this), Value(identifier_));
}

Ref<NSURLSessionConfiguration> NSURLSessionConfiguration::defaultSessionConfiguration() {
    return make<NSURLSessionConfiguration>();
}

Ref<NSURLSessionConfiguration> NSURLSessionConfiguration::ephemeralSessionConfiguration() {
    auto configuration = make<NSURLSessionConfiguration>();
    configuration->ephemeral_ = true;
    return configuration;
}

Ref<NSURLSessionConfiguration>
NSURLSessionConfiguration::backgroundSessionConfigurationWithIdentifier(const std::string& identifier) {
    auto configuration = make<NSURLSessionConfiguration>();
    configuration->identifier_ = identifier;
    configuration->sessionSendsLaunchEvents_ = true;
    return configuration;
}

Ref<NSMutableURLRequest>
NSURLSessionConfiguration::requestByApplyingSettings(const Ref<NSURLRequest>& request) const {
    auto out = request->mutableCopy();
    if (request->timeoutInterval() == NSURLRequestDefaultTimeoutInterval)
        out->setTimeoutInterval(timeoutIntervalForRequest_);
    if (request->cachePolicy() == NSURLRequestUseProtocolCachePolicy)
        out->setCachePolicy(requestCachePolicy_);
    if (!allowsCellularAccess_) out->setAllowsCellularAccess(false);
    for (const auto& [name, value] : HTTPAdditionalHeaders_) {
        if (!value.isString()) continue;
        if (!out->valueForHTTPHeaderField(name)) out->setValue(*value.string(), name);
    }
    return out;
}

Ref<NSURLSessionConfiguration> NSURLSessionConfiguration::copy() const {
    auto c = make<NSURLSessionConfiguration>();
    c->identifier_ = identifier_;
    c->ephemeral_ = ephemeral_;
    c->timeoutIntervalForRequest_ = timeoutIntervalForRequest_;
    c->timeoutIntervalForResource_ = timeoutIntervalForResource_;
    c->requestCachePolicy_ = requestCachePolicy_;
    c->allowsCellularAccess_ = allowsCellularAccess_;
    c->HTTPMaximumConnectionsPerHost_ = HTTPMaximumConnectionsPerHost_;
    c->HTTPShouldUsePipelining_ = HTTPShouldUsePipelining_;
    c->HTTPShouldSetCookies_ = HTTPShouldSetCookies_;
    c->discretionary_ = discretionary_;
    c->sessionSendsLaunchEvents_ = sessionSendsLaunchEvents_;
    c->HTTPAdditionalHeaders_ = HTTPAdditionalHeaders_.mutableCopy();
    c->URLCache_ = URLCache_;
    return c;
}

void NSURLSessionConfiguration::encodeWithCoder(NSCoder& coder) const {
    coder.encodeObject(Value(identifier_), "identifier");
    coder.encodeBool(ephemeral_, "ephemeral");
    coder.encodeDouble(timeoutIntervalForRequest_, "timeoutIntervalForRequest");
    coder.encodeDouble(timeoutIntervalForResource_, "timeoutIntervalForResource");
    coder.encodeInt64(static_cast<std::int64_t>(requestCachePolicy_), "requestCachePolicy");
    coder.encodeBool(allowsCellularAccess_, "allowsCellularAccess");
    coder.encodeInt64(HTTPMaximumConnectionsPerHost_, "HTTPMaximumConnectionsPerHost");
    coder.encodeBool(HTTPShouldUsePipelining_, "HTTPShouldUsePipelining");
    coder.encodeBool(HTTPShouldSetCookies_, "HTTPShouldSetCookies");
    coder.encodeBool(discretionary_, "discretionary");
    coder.encodeBool(sessionSendsLaunchEvents_, "sessionSendsLaunchEvents");
    coder.encodeObject(HTTPAdditionalHeaders_.copy(), "HTTPAdditionalHeaders");
}

bool NSURLSessionConfiguration::isEqual(const NSObject& other) const {
    auto o = dynamic_cast<const NSURLSessionConfiguration*>(&other);
    if (!o) return false;
    return identifier_ == o->identifier_ && ephemeral_ == o->ephemeral_ &&
           timeoutIntervalForRequest_ == o->timeoutIntervalForRequest_ &&
           timeoutIntervalForResource_ == o->timeoutIntervalForResource_ &&
           requestCachePolicy_ == o->requestCachePolicy_ &&
           allowsCellularAccess_ == o->allowsCellularAccess_ &&
           HTTPMaximumConnectionsPerHost_ == o->HTTPMaximumConnectionsPerHost_ &&
           HTTPShouldUsePipelining_ == o->HTTPShouldUsePipelining_ &&
           HTTPShouldSetCookies_ == o->HTTPShouldSetCookies_ && discretionary_ == o->discretionary_ &&
           sessionSendsLaunchEvents_ == o->sessionSendsLaunchEvents_ &&
           HTTPAdditionalHeaders_.isEqualToDictionary(o->HTTPAdditionalHeaders_);
}
