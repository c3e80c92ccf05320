#include "network/NSURLRequest.h"

#include <cmath>
#include <functional>

#include "network/NetworkInternal.h"

namespace {

const NSCodableClass<NSURLRequest> requestRegistration("NSURLRequest");
const NSCodableClass<NSMutableURLRequest> mutableRequestRegistration("NSMutableURLRequest", "NSURLRequest");

// The six properties a serialiser applies by name.
constexpr const char* kAllowsCellularAccess = "allowsCellularAccess";
constexpr const char* kCachePolicy = "cachePolicy";
constexpr const char* kHandleCookies = "HTTPShouldHandleCookies";
constexpr const char* kUsePipelining = "HTTPShouldUsePipelining";
constexpr const char* kNetworkServiceType = "networkServiceType";
constexpr const char* kTimeoutInterval = "timeoutInterval";

}  // namespace

NSURLRequest::NSURLRequest(Ref<NSURL> url, NSURLRequestCachePolicy cachePolicy, double timeoutInterval)
    : url_(std::move(url)), cachePolicy_(cachePolicy), timeoutInterval_(timeoutInterval) {}

NSURLRequest::NSURLRequest(NSCoder& coder)
    : cachePolicy_(NSURLRequestUseProtocolCachePolicy), timeoutInterval_(NSURLRequestDefaultTimeoutInterval) {
    if (auto text = coder.decodeObjectOfClass("NSString", "URL").optionalString())
        url_ = NSURL::URLWithString(*text);
    if (auto text = coder.decodeObjectOfClass("NSString", "mainDocumentURL").optionalString()) {
        mainDocumentURL_ = NSURL::URLWithString(*text);
    }
    if (coder.containsValueForKey("cachePolicy")) {
        cachePolicy_ = static_cast<NSURLRequestCachePolicy>(coder.decodeInt64ForKey("cachePolicy"));
    }
    if (coder.containsValueForKey("timeoutInterval")) {
        double t = coder.decodeDoubleForKey("timeoutInterval");
        if (std::isfinite(t)) timeoutInterval_ = t;
    }
    networkServiceType_ =
        static_cast<NSURLRequestNetworkServiceType>(coder.decodeInt64ForKey("networkServiceType"));
    if (coder.containsValueForKey("allowsCellularAccess")) {
        allowsCellularAccess_ = coder.decodeBoolForKey("allowsCellularAccess");
    }
    if (auto m = coder.decodeObjectOfClass("NSString", "HTTPMethod").optionalString(); m && !m->empty())
        method_ = *m;
    Value fields = coder.decodeObjectOfClass("NSDictionary", "allHTTPHeaderFields");
    if (auto dict = fields.dictionary()) {
        for (auto& [name, value] : *dict) {
            if (auto s = value.string()) headers_.emplace_back(name, *s);
        }
    }
    Value body = coder.decodeObjectOfClass("NSData", "HTTPBody");
    if (auto d = body.data()) body_ = *d;
    if (coder.containsValueForKey("HTTPShouldHandleCookies")) {
        shouldHandleCookies_ = coder.decodeBoolForKey("HTTPShouldHandleCookies");
    }
    shouldUsePipelining_ = coder.decodeBoolForKey("HTTPShouldUsePipelining");
}

void NSURLRequest::encodeWithCoder(NSCoder& coder) const {
    if (url_) coder.encodeObject(url_->absoluteString(), "URL");
    if (mainDocumentURL_) coder.encodeObject(mainDocumentURL_->absoluteString(), "mainDocumentURL");
    coder.encodeInt64(static_cast<std::int64_t>(cachePolicy_), "cachePolicy");
    coder.encodeDouble(timeoutInterval_, "timeoutInterval");
    coder.encodeInt64(static_cast<std::int64_t>(networkServiceType_), "networkServiceType");
    coder.encodeBool(allowsCellularAccess_, "allowsCellularAccess");
    coder.encodeObject(method_, "HTTPMethod");
    coder.encodeObject(allHTTPHeaderFields(), "allHTTPHeaderFields");
    if (body_) coder.encodeObject(*body_, "HTTPBody");
    coder.encodeBool(shouldHandleCookies_, "HTTPShouldHandleCookies");
    coder.encodeBool(shouldUsePipelining_, "HTTPShouldUsePipelining");
}

Dictionary NSURLRequest::allHTTPHeaderFields() const {
    Dictionary d = Dictionary::mutableDictionary(headers_.size());
    for (auto& [name, value] : headers_) d.setObject(name, value);
    return d;
}

std::optional<std::string> NSURLRequest::valueForHTTPHeaderField(const std::string& field) const {
    for (auto& [name, value] : headers_) {
        if (detail::equalsIgnoringCase(name, field)) return value;
    }
    return std::nullopt;
}

void NSURLRequest::copyStateFrom(const NSURLRequest& other) {
    url_ = other.url_;
    cachePolicy_ = other.cachePolicy_;
    timeoutInterval_ = other.timeoutInterval_;
    mainDocumentURL_ = other.mainDocumentURL_;
    networkServiceType_ = other.networkServiceType_;
    allowsCellularAccess_ = other.allowsCellularAccess_;
    method_ = other.method_;
    headers_ = other.headers_;
    body_ = other.body_;
    bodyStream_ = other.bodyStream_;
    shouldHandleCookies_ = other.shouldHandleCookies_;
    shouldUsePipelining_ = other.shouldUsePipelining_;
}

Ref<NSURLRequest> NSURLRequest::copy() const {
    auto r = make<NSURLRequest>();
    r->copyStateFrom(*this);
    return r;
}

Ref<NSMutableURLRequest> NSURLRequest::mutableCopy() const {
    auto r = make<NSMutableURLRequest>();
    r->copyStateFrom(*this);
    return r;
}

Value NSURLRequest::valueForKey(const std::string& key) const {
    if (key == kAllowsCellularAccess) return Value(allowsCellularAccess_);
    if (key == kCachePolicy) return Value(static_cast<unsigned long>(cachePolicy_));
    if (key == kHandleCookies) return Value(shouldHandleCookies_);
    if (key == kUsePipelining) return Value(shouldUsePipelining_);
    if (key == kNetworkServiceType) return Value(static_cast<unsigned long>(networkServiceType_));
    if (key == kTimeoutInterval) return Value(timeoutInterval_);
    return NSObject::valueForKey(key);
}

std::string NSURLRequest::description() const {
    return "<" + className() + ": " + (url_ ? url_->absoluteString() : std::string("(null)")) + ">";
}

bool NSURLRequest::isEqual(const NSObject& other) const {
    auto o = dynamic_cast<const NSURLRequest*>(&other);
    if (!o) return false;
    if (this == o) return true;
    return objectsEqual(url_, o->url_) && method_ == o->method_ && headers_ == o->headers_ &&
           body_ == o->body_ && bodyStream_ == o->bodyStream_ && cachePolicy_ == o->cachePolicy_ &&
           timeoutInterval_ == o->timeoutInterval_ && objectsEqual(mainDocumentURL_, o->mainDocumentURL_) &&
           networkServiceType_ == o->networkServiceType_ &&
           allowsCellularAccess_ == o->allowsCellularAccess_ &&
           shouldHandleCookies_ == o->shouldHandleCookies_ && shouldUsePipelining_ == o->shouldUsePipelining_;
}

std::size_t NSURLRequest::hash() const {
    std::size_t h = url_ ? url_->hash() : 0;
    return h ^ (std::hash<std::string>()(method_) << 1);
}

// ---- NSMutableURLRequest ------------------------------------------------------------------------
void NSMutableURLRequest::setHTTPMethod(std::string method) {
    method_ = method.empty() ? "GET" : std::move(method);
}

void NSMutableURLRequest::setAllHTTPHeaderFields(const Dictionary& fields) {
    headers_.clear();
    for (auto& [name, value] : fields) {
        if (auto s = value.string()) setValue(*s, name);
    }
}

void NSMutableURLRequest::setValue(const std::optional<std::string>& value, const std::string& field) {
    auto it = std::find_if(headers_.begin(), headers_.end(),
                           [&](const auto& h) { return detail::equalsIgnoringCase(h.first, field); });
    if (!value) {
        if (it != headers_.end()) headers_.erase(it);
        return;
    }
    if (it != headers_.end()) {
        it->second = *value;
    } else {
        headers_.emplace_back(field, *value);
    }
}

void NSMutableURLRequest::addValue(const std::string& value, const std::string& field) {
    for (auto& h : headers_) {
        if (detail::equalsIgnoringCase(h.first, field)) {
            h.second += ", " + value;
            return;
        }
    }
    headers_.emplace_back(field, value);
}

void NSMutableURLRequest::setHTTPBody(std::optional<NSData> body) {
    body_ = std::move(body);
    if (body_) bodyStream_.reset();
}

void NSMutableURLRequest::setHTTPBodyStream(Ref<NSInputStream> stream) {
    bodyStream_ = std::move(stream);
    if (bodyStream_) body_.reset();
}

bool NSMutableURLRequest::setValueForKey(const Value& value, const std::string& key) {
    const NSNumber* n = value.number();
    if (!n) return false;
    if (key == kAllowsCellularAccess) {
        allowsCellularAccess_ = n->boolValue();
    } else if (key == kCachePolicy) {
        cachePolicy_ = static_cast<NSURLRequestCachePolicy>(n->unsignedLongLongValue());
    } else if (key == kHandleCookies) {
        shouldHandleCookies_ = n->boolValue();
    } else if (key == kUsePipelining) {
        shouldUsePipelining_ = n->boolValue();
    } else if (key == kNetworkServiceType) {
        networkServiceType_ = static_cast<NSURLRequestNetworkServiceType>(n->unsignedLongLongValue());
    } else if (key == kTimeoutInterval) {
        timeoutInterval_ = n->doubleValue();
    } else {
        return false;
    }
    return true;
}
