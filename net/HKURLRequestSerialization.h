#pragma once
// Request serialisation: a method, a URL string and a parameters dictionary become a mutable URL
// request ready for the transport.
//
// HKHTTPRequestSerializer adds its default headers (a language preference and a user agent are
// set at creation; headers already on a request win), copies the request properties set on it
// (time-out, cache policy and four others — only those whose setters were called) into every
// request, and places the parameters in the query string for "GET", "HEAD" and "DELETE" or in a
// form-URL-encoded body otherwise. HKJSONRequestSerializer and HKPropertyListRequestSerializer
// write the body as JSON or as a property list instead. The same class builds multipart requests
// (net/HKMultipartFormData.h).
//
// Query strings: parameters are flattened (nested dictionaries as a[b]=..., arrays as a[]=...,
// dictionary keys sorted by their text) and percent-escaped so that a value keeps only ASCII
// letters, digits and "-._~" as they are (a space becomes %20); a null value gives the bare
// field name.
//
// Thread safety: a serialiser is configured on one thread and may then serialise requests from
// any thread; its headers and the set of applied properties are guarded.

#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "foundation/NSError.h"
#include "foundation/NSKeyValueObserving.h"
#include "foundation/NSKeyedArchiver.h"
#include "foundation/NSObject.h"
#include "foundation/NSString.h"
#include "foundation/Value.h"
#include "network/NSURLRequest.h"

class HKMultipartFormData;

// The domain of request-serialisation errors.
inline constexpr char HKURLRequestSerializationErrorDomain[] = "com.quentaro.error.serialization.request";

// The request serialiser protocol.
class HKURLRequestSerialization {
  public:
    virtual ~HKURLRequestSerialization() = default;
    // A new request with the parameters (nil for none) applied, or nullptr with the error in the
    // slot.
    virtual Ref<NSURLRequest> requestBySerializingRequest(const Ref<NSURLRequest>& request,
                                                          const Value& parameters, Ref<NSError>* error) = 0;
};

// One flattened parameter: its key path ("a[b][]") and its leaf value (nil or null allowed).
class HKQueryStringPair : public NSObject {
  public:
    HKQueryStringPair(Value field, Value value) : field_(std::move(field)), value_(std::move(value)) {}
    std::string className() const override { return "HKQueryStringPair"; }

    const Value& field() const { return field_; }
    const Value& value() const { return value_; }
    // "field=value" escaped in the encoding; the bare field for a nil or null value.
    std::string URLEncodedStringValueWithEncoding(NSStringEncoding encoding) const;

  private:
    Value field_;
    Value value_;
};

// The pairs of a parameters value, in the order described above; `key` is the outer key path
// (nil at the top).
std::vector<Ref<HKQueryStringPair>> HKFlattenedQueryPairs(const Value& key, const Value& value);
// The percent-escaped query string of a parameters dictionary.
std::string HKPercentEscapedQueryString(const Value& parameters, NSStringEncoding encoding);
// Escaping of a field name (keeps "[", "]" and ".") and of a value.
std::string HKEscapedQueryFieldName(const std::string& string, NSStringEncoding encoding);
std::string HKEscapedQueryValue(const std::string& string, NSStringEncoding encoding);

enum HKHTTPRequestQueryStringSerializationStyle : unsigned long {
    HKHTTPRequestQueryStringDefaultStyle = 0,
};

// The six request properties a serialiser applies once their setters have been called, in the
// order they are applied.
const std::vector<std::string>& HKRequestSerializerWatchedKeyPaths();

class HKHTTPRequestSerializer : public NSObject,
                                public HKURLRequestSerialization,
                                public NSSecureCoding,
                                public NSKeyValueObserving {
  public:
    using QueryStringSerializationBlock = std::function<std::optional<std::string>(
        const Ref<NSURLRequest>& request, const Value& parameters, Ref<NSError>* error)>;
    // Receives the builder of a multipart body.
    using ConstructingBodyBlock = std::function<void(const Ref<HKMultipartFormData>& formData)>;

    HKHTTPRequestSerializer();
    explicit HKHTTPRequestSerializer(NSCoder& coder);
    ~HKHTTPRequestSerializer() override;
    void didInit();
    static bool supportsSecureCoding() { return true; }
    std::string className() const override { return "HKHTTPRequestSerializer"; }

    static Ref<HKHTTPRequestSerializer> serializer() { return make<HKHTTPRequestSerializer>(); }

    NSStringEncoding stringEncoding() const { return stringEncoding_; }
    void setStringEncoding(NSStringEncoding encoding) { stringEncoding_ = encoding; }

    // The watched request properties. Each setter announces the change, which makes the property
    // apply to every later request, whatever the value.
    bool allowsCellularAccess() const { return allowsCellularAccess_; }
    void setAllowsCellularAccess(bool value);
    NSURLRequestCachePolicy cachePolicy() const { return cachePolicy_; }
    void setCachePolicy(NSURLRequestCachePolicy value);
    bool HTTPShouldHandleCookies() const { return HTTPShouldHandleCookies_; }
    void setHTTPShouldHandleCookies(bool value);
    bool HTTPShouldUsePipelining() const { return HTTPShouldUsePipelining_; }
    void setHTTPShouldUsePipelining(bool value);
    NSURLRequestNetworkServiceType networkServiceType() const { return networkServiceType_; }
    void setNetworkServiceType(NSURLRequestNetworkServiceType value);
    double timeoutInterval() const { return timeoutInterval_; }
    void setTimeoutInterval(double value);

    std::set<std::string> HTTPMethodsEncodingParametersInURI() const;
    void setHTTPMethodsEncodingParametersInURI(std::set<std::string> methods);
    // The watched properties whose setters have been called.
    std::set<std::string> mutableObservedChangedKeyPaths() const;

    // The default headers, as a new dictionary.
    Dictionary HTTPRequestHeaders() const;
    // nil removes the header.
    void setValue(const std::optional<std::string>& value, const std::string& field);
    // Looked up with the name exactly as stored.
    std::optional<std::string> valueForHTTPHeaderField(const std::string& field) const;
    void setAuthorizationHeaderFieldWithUsername(const std::string& username, const std::string& password);
    void setAuthorizationHeaderFieldWithToken(const std::string& token);
    void clearAuthorizationHeader();

    HKHTTPRequestQueryStringSerializationStyle queryStringSerializationStyle() const { return queryStyle_; }
    void setQueryStringSerializationWithStyle(HKHTTPRequestQueryStringSerializationStyle style);
    void setQueryStringSerializationWithBlock(QueryStringSerializationBlock block);

    Ref<NSMutableURLRequest> requestWithMethod(const std::string& method, const std::string& URLString,
                                               const Value& parameters) {
        return requestWithMethod(method, URLString, parameters, nullptr);
    }
    Ref<NSMutableURLRequest> requestWithMethod(const std::string& method, const std::string& URLString,
                                               const Value& parameters, Ref<NSError>* error);
    Ref<NSURLRequest> requestBySerializingRequest(const Ref<NSURLRequest>& request, const Value& parameters,
                                                  Ref<NSError>* error) override;

    // Multipart requests: the parameters become form parts first, then the block appends its
    // parts; the finished request streams its body (net/HKMultipartFormData.h).
    Ref<NSMutableURLRequest> multipartFormRequestWithMethod(const std::string& method,
                                                            const std::string& URLString,
                                                            const Value& parameters,
                                                            ConstructingBodyBlock block) {
        return multipartFormRequestWithMethod(method, URLString, parameters, std::move(block), nullptr);
    }
    Ref<NSMutableURLRequest> multipartFormRequestWithMethod(const std::string& method,
                                                            const std::string& URLString,
                                                            const Value& parameters,
                                                            ConstructingBodyBlock block, Ref<NSError>* error);
    // Writes the multipart body of `request` to the file in the background and calls the handler
    // on the main queue (with the first error, or nullptr); returns at once a copy of the request
    // without its body stream.
    Ref<NSMutableURLRequest>
    requestWithMultipartFormRequest(const Ref<NSURLRequest>& request, const Ref<NSURL>& fileURL,
                                    std::function<void(const Ref<NSError>&)> handler);

    // Coding keeps the default headers and the query-string style; copies also the block.
    void encodeWithCoder(NSCoder& coder) const override;
    Ref<NSObject> copyObject() const override;

    Value valueForKey(const std::string& key) const override;
    bool automaticallyNotifiesObserversForKey(const std::string& key) const override;
    void observeValueForKeyPath(const std::string& keyPath, const Ref<NSObject>& object,
                                const Dictionary& change, void* context) override;

  protected:
    // The default headers missing from the request, set on a mutable copy of it.
    Ref<NSMutableURLRequest> copyWithDefaultHeaders(const Ref<NSURLRequest>& request) const;
    bool encodesParametersInURI(const std::string& method) const;
    // Gives a fresh serialiser of a subclass what a copy carries from this class.
    void copyBaseStateInto(HKHTTPRequestSerializer& target) const;
    void decodeBaseState(NSCoder& coder);

  private:
    void announce(const std::string& key, const std::function<void()>& change);

    NSStringEncoding stringEncoding_ = NSUTF8StringEncoding;
    bool allowsCellularAccess_ = false;
    bool HTTPShouldHandleCookies_ = false;
    bool HTTPShouldUsePipelining_ = false;
    NSURLRequestCachePolicy cachePolicy_ = NSURLRequestUseProtocolCachePolicy;
    NSURLRequestNetworkServiceType networkServiceType_ = NSURLNetworkServiceTypeDefault;
    double timeoutInterval_ = 0;
    HKHTTPRequestQueryStringSerializationStyle queryStyle_ = HKHTTPRequestQueryStringDefaultStyle;

    mutable std::mutex mutex_;  // guards what follows
    std::set<std::string> methodsInURI_;
    std::set<std::string> changedKeyPaths_;
    Dictionary headers_ = Dictionary::mutableDictionary();
    QueryStringSerializationBlock queryBlock_;
};

class HKJSONRequestSerializer : public HKHTTPRequestSerializer {
  public:
    HKJSONRequestSerializer() = default;
    explicit HKJSONRequestSerializer(NSCoder& coder);
    std::string className() const override { return "HKJSONRequestSerializer"; }

    static Ref<HKJSONRequestSerializer> serializer() { return serializerWithWritingOptions(0); }
    static Ref<HKJSONRequestSerializer> serializerWithWritingOptions(unsigned long options);

    unsigned long writingOptions() const { return writingOptions_; }
    void setWritingOptions(unsigned long options) { writingOptions_ = options; }

    Ref<NSURLRequest> requestBySerializingRequest(const Ref<NSURLRequest>& request, const Value& parameters,
                                                  Ref<NSError>* error) override;
    void encodeWithCoder(NSCoder& coder) const override;
    Ref<NSObject> copyObject() const override;

  private:
    unsigned long writingOptions_ = 0;
};

class HKPropertyListRequestSerializer : public HKHTTPRequestSerializer {
  public:
    HKPropertyListRequestSerializer() = default;
    explicit HKPropertyListRequestSerializer(NSCoder& coder);
    std::string className() const override { return "HKPropertyListRequestSerializer"; }

    // XML property lists.
    static Ref<HKPropertyListRequestSerializer> serializer() { return serializerWithFormat(100, 0); }
    static Ref<HKPropertyListRequestSerializer> serializerWithFormat(unsigned long format,
                                                                     unsigned long writeOptions);

    unsigned long format() const { return format_; }
    void setFormat(unsigned long format) { format_ = format; }
    unsigned long writeOptions() const { return writeOptions_; }
    void setWriteOptions(unsigned long options) { writeOptions_ = options; }

    Ref<NSURLRequest> requestBySerializingRequest(const Ref<NSURLRequest>& request, const Value& parameters,
                                                  Ref<NSError>* error) override;
    void encodeWithCoder(NSCoder& coder) const override;
    Ref<NSObject> copyObject() const override;

  private:
    unsigned long format_ = 0;
    unsigned long writeOptions_ = 0;
};
