#include "net/HKURLRequestSerialization.h"

#include <algorithm>

#include "dispatch/Dispatch.h"
#include "foundation/NSBundle.h"
#include "foundation/NSData+Base64.h"
#include "foundation/NSJSONSerialization.h"
#include "foundation/NSLocale.h"
#include "foundation/NSPropertyListSerialization.h"
#include "foundation/NSStream.h"
#include "net/HKMultipartFormData.h"
#include "uikit/UIDevice.h"
#include "uikit/UIScreen.h"

namespace {

const NSCodableClass<HKHTTPRequestSerializer> httpRegistration("HKHTTPRequestSerializer");
const NSCodableClass<HKJSONRequestSerializer> jsonRegistration("HKJSONRequestSerializer",
                                                               "HKHTTPRequestSerializer");
const NSCodableClass<HKPropertyListRequestSerializer> plistRegistration("HKPropertyListRequestSerializer",
                                                                        "HKHTTPRequestSerializer");

// Identifies this class's own observations of its watched properties.
int kObservationContext;

// What the query-string escaping treats as reserved besides what a URL may never hold.
constexpr char kReservedQueryCharacters[] = ":/?&=;+!@#$()',*";

std::string percentEscaped(const std::string& string, std::optional<std::string_view> leaveUnescaped,
                           NSStringEncoding encoding) {
    auto escaped =
        CFURLCreateStringByAddingPercentEscapes(string, leaveUnescaped, kReservedQueryCharacters,
                                                CFStringConvertNSStringEncodingToEncoding(encoding));
    return escaped.value_or(std::string());
}

std::string acceptLanguageHeader() {
    std::vector<std::string> entries;
    auto languages = NSLocale::preferredLanguages();
    for (std::size_t i = 0; i < languages.size(); ++i) {
        // Computed in single precision, as the weights have always been: 1, 0.9, ... 0.5.
        float q = 1.0f + static_cast<float>(i) * -0.1f;
        entries.push_back(NSString::stringWithFormat("%@;q=%0.1g", languages[i], static_cast<double>(q)));
        if (q <= 0.5f) break;
    }
    return NSString::componentsJoinedByString(entries, ", ");
}

std::string userAgentHeader() {
    auto bundle = NSBundle::mainBundle();
    Value name = bundle->objectForInfoDictionaryKey(kCFBundleExecutableKey);
    if (name.isNil()) name = bundle->objectForInfoDictionaryKey(kCFBundleIdentifierKey);
    Value version = bundle->objectForInfoDictionaryKey("CFBundleShortVersionString");
    if (version.isNil()) version = bundle->objectForInfoDictionaryKey(kCFBundleVersionKey);
    std::string agent = NSString::stringWithFormat("%@/%@ (%@; iOS %@; Scale/%0.2f)", name.description(),
                                                   version.description(), UIDevice::currentDevice()->model(),
                                                   UIDevice::currentDevice()->systemVersion(),
                                                   static_cast<double>(UIScreen::mainScreen()->scale()));
    if (!NSString::canBeConvertedToEncoding(agent, NSASCIIStringEncoding)) {
        std::string transformed = agent;
        if (CFStringTransform(transformed, nullptr, "Any-Latin; Latin-ASCII; [:^ASCII:] Remove", false)) {
            agent = transformed;
        }
    }
    return agent;
}

// Flattening works on the platform's "%@" texts of keys and values.
std::string textOf(const Value& value) {
    return value.description();
}

}  // namespace

// ---- query strings ------------------------------------------------------------------------------

std::string HKEscapedQueryFieldName(const std::string& string, NSStringEncoding encoding) {
    return percentEscaped(string, std::string_view("[]."), encoding);
}

std::string HKEscapedQueryValue(const std::string& string, NSStringEncoding encoding) {
    return percentEscaped(string, std::nullopt, encoding);
}

std::string HKQueryStringPair::URLEncodedStringValueWithEncoding(NSStringEncoding encoding) const {
    std::string field = HKEscapedQueryFieldName(textOf(field_), encoding);
    if (value_.isNil() || value_.isNull()) return field;
    return field + "=" + HKEscapedQueryValue(textOf(value_), encoding);
}

std::vector<Ref<HKQueryStringPair>> HKFlattenedQueryPairs(const Value& key, const Value& value) {
    std::vector<Ref<HKQueryStringPair>> pairs;
    if (const Dictionary* dictionary = value.dictionary()) {
        std::vector<std::string> keys = dictionary->allKeys();
        std::stable_sort(keys.begin(), keys.end(), [](const std::string& a, const std::string& b) {
            return NSString::compare(a, b) == NSOrderedAscending;
        });
        for (const auto& nestedKey : keys) {
            const Value& nested = dictionary->objectForKey(nestedKey);
            if (nested.isNil()) continue;
            Value path = key.isNil() ? Value(nestedKey) : Value(textOf(key) + "[" + nestedKey + "]");
            auto inner = HKFlattenedQueryPairs(path, nested);
            pairs.insert(pairs.end(), inner.begin(), inner.end());
        }
    } else if (const Array* array = value.array()) {
        Value path = Value(textOf(key) + "[]");
        for (const auto& element : *array) {
            auto inner = HKFlattenedQueryPairs(path, element);
            pairs.insert(pairs.end(), inner.begin(), inner.end());
        }
    } else {
        pairs.push_back(make<HKQueryStringPair>(key, value));
    }
    return pairs;
}

std::string HKPercentEscapedQueryString(const Value& parameters, NSStringEncoding encoding) {
    std::string query;
    for (const auto& pair : HKFlattenedQueryPairs(Value(), parameters)) {
        if (!query.empty()) query += '&';
        query += pair->URLEncodedStringValueWithEncoding(encoding);
    }
    return query;
}

const std::vector<std::string>& HKRequestSerializerWatchedKeyPaths() {
    // Never destroyed: serialisers held by statics go away after it at exit.
    static const auto* keyPaths = new std::vector<std::string>{
        "allowsCellularAccess",    "cachePolicy",        "HTTPShouldHandleCookies",
        "HTTPShouldUsePipelining", "networkServiceType", "timeoutInterval"};
    return *keyPaths;
}

// ---- HKHTTPRequestSerializer ------------------------------------------------------------------

HKHTTPRequestSerializer::HKHTTPRequestSerializer() {
    headers_.setObject("Accept-Language", acceptLanguageHeader());
    headers_.setObject("User-Agent", userAgentHeader());
    methodsInURI_ = {"GET", "HEAD", "DELETE"};
}

HKHTTPRequestSerializer::HKHTTPRequestSerializer(NSCoder& coder) : HKHTTPRequestSerializer() {
    decodeBaseState(coder);
}

void HKHTTPRequestSerializer::decodeBaseState(NSCoder& coder) {
    Value headers = coder.decodeObjectOfClasses({"NSDictionary", "NSString"}, "mutableHTTPRequestHeaders");
    if (const Dictionary* dictionary = headers.dictionary()) {
        std::lock_guard lock(mutex_);
        headers_ = dictionary->mutableCopy();
    }
    queryStyle_ = static_cast<HKHTTPRequestQueryStringSerializationStyle>(
        coder.decodeInt64ForKey("queryStringSerializationStyle"));
}

HKHTTPRequestSerializer::~HKHTTPRequestSerializer() {
    for (const auto& keyPath : HKRequestSerializerWatchedKeyPaths()) {
        KVO::removeObserver(*this, this, keyPath, &kObservationContext);
    }
}

void HKHTTPRequestSerializer::didInit() {
    for (const auto& keyPath : HKRequestSerializerWatchedKeyPaths()) {
        KVO::addObserver(*this, self(), keyPath, NSKeyValueObservingOptionNew, &kObservationContext);
    }
}

void HKHTTPRequestSerializer::announce(const std::string& key, const std::function<void()>& change) {
    KVO::willChangeValueForKey(*this, key);
    change();
    KVO::didChangeValueForKey(*this, key);
}

void HKHTTPRequestSerializer::setAllowsCellularAccess(bool value) {
    announce("allowsCellularAccess", [&] { allowsCellularAccess_ = value; });
}
void HKHTTPRequestSerializer::setCachePolicy(NSURLRequestCachePolicy value) {
    announce("cachePolicy", [&] { cachePolicy_ = value; });
}
void HKHTTPRequestSerializer::setHTTPShouldHandleCookies(bool value) {
    announce("HTTPShouldHandleCookies", [&] { HTTPShouldHandleCookies_ = value; });
}
void HKHTTPRequestSerializer::setHTTPShouldUsePipelining(bool value) {
    announce("HTTPShouldUsePipelining", [&] { HTTPShouldUsePipelining_ = value; });
}
void HKHTTPRequestSerializer::setNetworkServiceType(NSURLRequestNetworkServiceType value) {
    announce("networkServiceType", [&] { networkServiceType_ = value; });
}
void HKHTTPRequestSerializer::setTimeoutInterval(double value) {
    announce("timeoutInterval", [&] { timeoutInterval_ = value; });
}

Value HKHTTPRequestSerializer::valueForKey(const std::string& key) const {
    if (key == "allowsCellularAccess") return Value(allowsCellularAccess_);
    if (key == "cachePolicy") return Value(static_cast<unsigned long>(cachePolicy_));
    if (key == "HTTPShouldHandleCookies") return Value(HTTPShouldHandleCookies_);
    if (key == "HTTPShouldUsePipelining") return Value(HTTPShouldUsePipelining_);
    if (key == "networkServiceType") return Value(static_cast<unsigned long>(networkServiceType_));
    if (key == "timeoutInterval") return Value(timeoutInterval_);
    return NSObject::valueForKey(key);
}

bool HKHTTPRequestSerializer::automaticallyNotifiesObserversForKey(const std::string& key) const {
    const auto& watched = HKRequestSerializerWatchedKeyPaths();
    if (std::find(watched.begin(), watched.end(), key) != watched.end()) return false;
    return NSObject::automaticallyNotifiesObserversForKey(key);
}

void HKHTTPRequestSerializer::observeValueForKeyPath(const std::string& keyPath, const Ref<NSObject>&,
                                                     const Dictionary& change, void* context) {
    if (context != &kObservationContext) return;
    std::lock_guard lock(mutex_);
    if (change.objectForKey(NSKeyValueChangeNewKey).isNull()) {
        changedKeyPaths_.erase(keyPath);
    } else {
        changedKeyPaths_.insert(keyPath);
    }
}

std::set<std::string> HKHTTPRequestSerializer::HTTPMethodsEncodingParametersInURI() const {
    std::lock_guard lock(mutex_);
    return methodsInURI_;
}

void HKHTTPRequestSerializer::setHTTPMethodsEncodingParametersInURI(std::set<std::string> methods) {
    std::lock_guard lock(mutex_);
    methodsInURI_ = std::move(methods);
}

std::set<std::string> HKHTTPRequestSerializer::mutableObservedChangedKeyPaths() const {
    std::lock_guard lock(mutex_);
    return changedKeyPaths_;
}

Dictionary HKHTTPRequestSerializer::HTTPRequestHeaders() const {
    std::lock_guard lock(mutex_);
    return headers_.copy();
}

void HKHTTPRequestSerializer::setValue(const std::optional<std::string>& value, const std::string& field) {
    std::lock_guard lock(mutex_);
    headers_.setObject(field, value ? Value(*value) : Value());
}

std::optional<std::string> HKHTTPRequestSerializer::valueForHTTPHeaderField(const std::string& field) const {
    std::lock_guard lock(mutex_);
    return headers_.objectForKey(field).optionalString();
}

void HKHTTPRequestSerializer::setAuthorizationHeaderFieldWithUsername(const std::string& username,
                                                                      const std::string& password) {
    std::string credentials = NSData_Base64::base64EncodedString(std::string_view(username + ":" + password));
    setValue("Basic " + credentials, "Authorization");
}

void HKHTTPRequestSerializer::setAuthorizationHeaderFieldWithToken(const std::string& token) {
    setValue("Token token=\"" + token + "\"", "Authorization");
}

void HKHTTPRequestSerializer::clearAuthorizationHeader() {
    setValue(std::nullopt, "Authorization");
}

void HKHTTPRequestSerializer::setQueryStringSerializationWithStyle(
    HKHTTPRequestQueryStringSerializationStyle style) {
    std::lock_guard lock(mutex_);
    queryStyle_ = style;
    queryBlock_ = nullptr;
}

void HKHTTPRequestSerializer::setQueryStringSerializationWithBlock(QueryStringSerializationBlock block) {
    std::lock_guard lock(mutex_);
    queryBlock_ = std::move(block);
}

Ref<NSMutableURLRequest> HKHTTPRequestSerializer::requestWithMethod(const std::string& method,
                                                                    const std::string& URLString,
                                                                    const Value& parameters,
                                                                    Ref<NSError>* error) {
    auto request = make<NSMutableURLRequest>(NSURL::URLWithString(URLString));
    request->setHTTPMethod(method);
    auto changed = mutableObservedChangedKeyPaths();
    for (const auto& keyPath : HKRequestSerializerWatchedKeyPaths()) {
        if (changed.count(keyPath)) request->setValueForKey(valueForKey(keyPath), keyPath);
    }
    auto serialized = requestBySerializingRequest(request, parameters, error);
    return serialized ? serialized->mutableCopy() : nullptr;
}

Ref<NSMutableURLRequest>
HKHTTPRequestSerializer::copyWithDefaultHeaders(const Ref<NSURLRequest>& request) const {
    auto copy = request ? request->mutableCopy() : make<NSMutableURLRequest>();
    Dictionary headers = HTTPRequestHeaders();
    for (const auto& [field, value] : headers) {
        if (!copy->valueForHTTPHeaderField(field) && value.isString()) copy->setValue(*value.string(), field);
    }
    return copy;
}

bool HKHTTPRequestSerializer::encodesParametersInURI(const std::string& method) const {
    return HTTPMethodsEncodingParametersInURI().count(NSString::uppercaseString(method)) > 0;
}

Ref<NSURLRequest> HKHTTPRequestSerializer::requestBySerializingRequest(const Ref<NSURLRequest>& request,
                                                                       const Value& parameters,
                                                                       Ref<NSError>* error) {
    auto mutableRequest = copyWithDefaultHeaders(request);
    if (parameters.isNil()) return mutableRequest;

    std::string query;
    QueryStringSerializationBlock block;
    {
        std::lock_guard lock(mutex_);
        block = queryBlock_;
    }
    if (block) {
        Ref<NSError> blockError;
        auto text = block(request, parameters, &blockError);
        if (blockError) {
            setError(error, blockError);
            return nullptr;
        }
        query = text.value_or(std::string());
    } else {
        query = HKPercentEscapedQueryString(parameters, stringEncoding_);
    }

    if (encodesParametersInURI(mutableRequest->HTTPMethod())) {
        if (auto url = mutableRequest->URL()) {
            std::string text = url->absoluteString() + (url->query() ? "&" : "?") + query;
            mutableRequest->setURL(NSURL::URLWithString(text));
        }
    } else {
        if (!mutableRequest->valueForHTTPHeaderField("Content-Type")) {
            mutableRequest->setValue(std::string("application/x-www-form-urlencoded"), "Content-Type");
        }
        mutableRequest->setHTTPBody(NSString::dataUsingEncoding(query, stringEncoding_).value_or(NSData()));
    }
    return mutableRequest;
}

void HKHTTPRequestSerializer::encodeWithCoder(NSCoder& coder) const {
    coder.encodeObject(HTTPRequestHeaders(), "mutableHTTPRequestHeaders");
    coder.encodeInt64(static_cast<std::int64_t>(queryStyle_), "queryStringSerializationStyle");
}

void HKHTTPRequestSerializer::copyBaseStateInto(HKHTTPRequestSerializer& target) const {
    std::lock_guard lock(mutex_);
    std::lock_guard targetLock(target.mutex_);
    target.headers_ = headers_.mutableCopy();
    target.queryStyle_ = queryStyle_;
    target.queryBlock_ = queryBlock_;
}

Ref<NSObject> HKHTTPRequestSerializer::copyObject() const {
    auto copy = make<HKHTTPRequestSerializer>();
    copyBaseStateInto(*copy);
    return copy;
}

// ---- multipart requests -----------------------------------------------------------------------

Ref<NSMutableURLRequest> HKHTTPRequestSerializer::multipartFormRequestWithMethod(const std::string& method,
                                                                                 const std::string& URLString,
                                                                                 const Value& parameters,
                                                                                 ConstructingBodyBlock block,
                                                                                 Ref<NSError>* error) {
    auto request = requestWithMethod(method, URLString, Value(), error);
    if (!request) return nullptr;
    auto formData = make<HKStreamingMultipartFormData>(request, NSUTF8StringEncoding);
    if (!parameters.isNil()) {
        for (const auto& pair : HKFlattenedQueryPairs(Value(), parameters)) {
            const Value& value = pair->value();
            std::optional<NSData> body;
            if (const NSData* data = value.data()) {
                body = *data;
            } else if (value.isNull()) {
                body = NSData();
            } else {
                body = NSString::dataUsingEncoding(textOf(value), stringEncoding_);
            }
            if (body) formData->appendPartWithFormData(*body, textOf(pair->field()));
        }
    }
    if (block) block(formData);
    return formData->requestByFinalizingMultipartFormData();
}

Ref<NSMutableURLRequest>
HKHTTPRequestSerializer::requestWithMultipartFormRequest(const Ref<NSURLRequest>& request,
                                                         const Ref<NSURL>& fileURL,
                                                         std::function<void(const Ref<NSError>&)> handler) {
    if (!request) return nullptr;
    Ref<NSInputStream> input = request->HTTPBodyStream();
    Ref<NSOutputStream> output = fileURL ? NSOutputStream::outputStreamWithURL(fileURL, false) : nullptr;

    dispatch_async(dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_DEFAULT), [input, output, handler] {
        Ref<NSError> error;
        if (!input || !output) {
            error =
                NSError::errorWithDomain(HKURLRequestSerializationErrorDomain, NSURLErrorBadURL,
                                         Dictionary{{NSLocalizedFailureReasonErrorKey,
                                                     std::string("Expected a body stream and a file URL")}});
        } else {
            input->open();
            output->open();
            std::uint8_t buffer[1024];
            while (input->hasBytesAvailable() && output->hasSpaceAvailable()) {
                NSInteger read = input->read(buffer, sizeof buffer);
                if (read < 0 || input->streamError()) {
                    error = input->streamError();
                    break;
                }
                // A write may take only part of the chunk: keep writing until all of it is out.
                NSInteger written = 0;
                while (written < read) {
                    NSInteger n = output->write(buffer + written, static_cast<NSUInteger>(read - written));
                    if (n <= 0 || output->streamError()) {
                        error = output->streamError();
                        if (!error) {
                            error = NSError::errorWithDomain(NSURLErrorDomain, NSURLErrorCannotWriteToFile);
                        }
                        break;
                    }
                    written += n;
                }
                if (error || read == 0) break;
            }
            // A stream that could not even be opened stops the loop before any read: say why.
            if (!error) error = output->streamError();
            if (!error) error = input->streamError();
            output->close();
            input->close();
        }
        if (handler) dispatch_async(dispatch_get_main_queue(), [handler, error] { handler(error); });
    });

    auto copy = request->mutableCopy();
    copy->setHTTPBodyStream(nullptr);
    return copy;
}

// ---- JSON -------------------------------------------------------------------------------------

HKJSONRequestSerializer::HKJSONRequestSerializer(NSCoder& coder) {
    decodeBaseState(coder);
    writingOptions_ = static_cast<unsigned long>(coder.decodeInt64ForKey("writingOptions"));
}

Ref<HKJSONRequestSerializer> HKJSONRequestSerializer::serializerWithWritingOptions(unsigned long options) {
    auto serializer = make<HKJSONRequestSerializer>();
    serializer->setWritingOptions(options);
    return serializer;
}

Ref<NSURLRequest> HKJSONRequestSerializer::requestBySerializingRequest(const Ref<NSURLRequest>& request,
                                                                       const Value& parameters,
                                                                       Ref<NSError>* error) {
    auto method = request ? request->HTTPMethod() : std::string("GET");
    if (encodesParametersInURI(method)) {
        return HKHTTPRequestSerializer::requestBySerializingRequest(request, parameters, error);
    }
    auto mutableRequest = copyWithDefaultHeaders(request);
    if (!parameters.isNil()) {
        if (!mutableRequest->valueForHTTPHeaderField("Content-Type")) {
            mutableRequest->setValue(std::string("application/json"), "Content-Type");
        }
        auto body = NSJSONSerialization::dataWithJSONObject(parameters,
                                                            static_cast<unsigned>(writingOptions_), error);
        if (body) mutableRequest->setHTTPBody(*body);
    }
    return mutableRequest;
}

void HKJSONRequestSerializer::encodeWithCoder(NSCoder& coder) const {
    HKHTTPRequestSerializer::encodeWithCoder(coder);
    coder.encodeInt64(static_cast<std::int64_t>(writingOptions_), "writingOptions");
}

Ref<NSObject> HKJSONRequestSerializer::copyObject() const {
    auto copy = make<HKJSONRequestSerializer>();
    copyBaseStateInto(*copy);
    copy->writingOptions_ = writingOptions_;
    return copy;
}

// ---- property lists -------------------------------------------------------------------------------

HKPropertyListRequestSerializer::HKPropertyListRequestSerializer(NSCoder& coder) {
    decodeBaseState(coder);
    format_ = static_cast<unsigned long>(coder.decodeInt64ForKey("format"));
    writeOptions_ = coder.decodeObjectOfClass("NSNumber", "writeOptions").unsignedLongLongValue();
}

Ref<HKPropertyListRequestSerializer>
HKPropertyListRequestSerializer::serializerWithFormat(unsigned long format, unsigned long writeOptions) {
    auto serializer = make<HKPropertyListRequestSerializer>();
    serializer->setFormat(format);
    serializer->setWriteOptions(writeOptions);
    return serializer;
}

Ref<NSURLRequest>
HKPropertyListRequestSerializer::requestBySerializingRequest(const Ref<NSURLRequest>& request,
                                                             const Value& parameters, Ref<NSError>* error) {
    auto method = request ? request->HTTPMethod() : std::string("GET");
    if (encodesParametersInURI(method)) {
        return HKHTTPRequestSerializer::requestBySerializingRequest(request, parameters, error);
    }
    auto mutableRequest = copyWithDefaultHeaders(request);
    if (!parameters.isNil()) {
        if (!mutableRequest->valueForHTTPHeaderField("Content-Type")) {
            mutableRequest->setValue(std::string("application/x-plist"), "Content-Type");
        }
        auto body = NSPropertyListSerialization::dataWithPropertyList(
            parameters, static_cast<NSPropertyListFormat>(format_), static_cast<unsigned>(writeOptions_),
            error);
        if (body) mutableRequest->setHTTPBody(*body);
    }
    return mutableRequest;
}

void HKPropertyListRequestSerializer::encodeWithCoder(NSCoder& coder) const {
    HKHTTPRequestSerializer::encodeWithCoder(coder);
    coder.encodeInt64(static_cast<std::int64_t>(format_), "format");
    coder.encodeObject(Value(static_cast<unsigned long>(writeOptions_)), "writeOptions");
}

Ref<NSObject> HKPropertyListRequestSerializer::copyObject() const {
    auto copy = make<HKPropertyListRequestSerializer>();
    copyBaseStateInto(*copy);
    copy->format_ = format_;
    copy->writeOptions_ = writeOptions_;
    return copy;
}
