#pragma once
// Response serialisation: a finished HTTP response is checked (status code and MIME type) and its
// body decoded into an object: the raw data, a JSON value, an XML parser, a property list or an
// image; a compound serialiser tries a list of serialisers in turn.
//
// Checking. A response whose MIME type is not acceptable is refused with code -1016 (when its
// body is not empty); one whose status is not acceptable with code -1011 (the content-type
// error, if any, beneath it). A decoding serialiser gives up at once on an unacceptable content
// type; after an unacceptable status alone it still decodes, so the caller gets both the object
// and the error. Errors are in the domain "com.quentaro.error.serialization.response"; a parse
// error carries the validation error beneath it (NSUnderlyingErrorKey).
//
// Every reader meets malformed, truncated, hostile and mislabelled bodies with an error and no
// object; nothing here throws or aborts.
//
// Thread safety: serialisers are configured once and then only read, from any number of threads
// at once (the operations decode on a concurrent queue).

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "foundation/NSData.h"
#include "foundation/NSError.h"
#include "foundation/NSIndexSet.h"
#include "foundation/NSKeyedArchiver.h"
#include "foundation/NSObject.h"
#include "foundation/NSString.h"
#include "foundation/Value.h"
#include "network/NSURLResponse.h"

inline constexpr char HKURLResponseSerializationErrorDomain[] = "com.quentaro.error.serialization.response";
// User-info keys of a response-serialisation error: the response and the body.
inline constexpr char HKNetworkingOperationFailingURLResponseErrorKey[] =
    "com.quentaro.serialization.response.error.response";
inline constexpr char HKNetworkingOperationFailingURLResponseDataErrorKey[] =
    "com.quentaro.serialization.response.error.data";

// `error` with `underlying` beneath it (unless it already has one); either alone when the other
// is missing.
Ref<NSError> HKErrorAttachingUnderlying(const Ref<NSError>& error, const Ref<NSError>& underlying);
// Whether the error or one beneath it has the code in the domain.
bool HKErrorChainHasCode(const Ref<NSError>& error, long code, const std::string& domain);
// A copy of a JSON value without the dictionary entries whose value is null, at every depth.
// Mutable containers when the options ask for them (NSJSONReadingMutableContainers).
Value HKJSONWithoutNullValues(const Value& object, unsigned long readingOptions);

// The response serialiser protocol.
class HKURLResponseSerialization {
  public:
    virtual ~HKURLResponseSerialization() = default;
    // The decoded body, or nil; any error in the slot.
    virtual Value responseObjectForResponse(const Ref<NSURLResponse>& response,
                                            const std::optional<NSData>& data, Ref<NSError>* error) = 0;
};

class HKHTTPResponseSerializer : public NSObject, public HKURLResponseSerialization, public NSSecureCoding {
  public:
    HKHTTPResponseSerializer();
    explicit HKHTTPResponseSerializer(NSCoder& coder);
    static bool supportsSecureCoding() { return true; }
    std::string className() const override { return "HKHTTPResponseSerializer"; }

    static Ref<HKHTTPResponseSerializer> serializer() { return make<HKHTTPResponseSerializer>(); }

    NSStringEncoding stringEncoding() const { return stringEncoding_; }
    void setStringEncoding(NSStringEncoding encoding) { stringEncoding_ = encoding; }
    // nullptr: any status.
    const Ref<NSIndexSet>& acceptableStatusCodes() const { return acceptableStatusCodes_; }
    void setAcceptableStatusCodes(const Ref<NSIndexSet>& codes);
    // nullopt: any content type.
    const std::optional<std::set<std::string>>& acceptableContentTypes() const {
        return acceptableContentTypes_;
    }
    void setAcceptableContentTypes(std::optional<std::set<std::string>> types) {
        acceptableContentTypes_ = std::move(types);
    }

    // Whether the response is acceptable; the reason in the slot when not (none when only the
    // content type failed on an empty body).
    bool validateResponse(const Ref<NSURLResponse>& response, const std::optional<NSData>& data,
                          Ref<NSError>* error) const;
    // The data, whatever the outcome of the check.
    Value responseObjectForResponse(const Ref<NSURLResponse>& response, const std::optional<NSData>& data,
                                    Ref<NSError>* error) override;

    void encodeWithCoder(NSCoder& coder) const override;
    Ref<NSObject> copyObject() const override;

  protected:
    // The check every decoding serialiser makes first: false when decoding must not go on.
    bool passesValidationGate(const Ref<NSURLResponse>& response, const std::optional<NSData>& data,
                              Ref<NSError>* error) const;
    void decodeBaseState(NSCoder& coder);
    void copyBaseStateInto(HKHTTPResponseSerializer& target) const;

  private:
    NSStringEncoding stringEncoding_ = NSUTF8StringEncoding;
    Ref<NSIndexSet> acceptableStatusCodes_;
    std::optional<std::set<std::string>> acceptableContentTypes_;
};

class HKJSONResponseSerializer : public HKHTTPResponseSerializer {
  public:
    HKJSONResponseSerializer();
    explicit HKJSONResponseSerializer(NSCoder& coder);
    std::string className() const override { return "HKJSONResponseSerializer"; }

    static Ref<HKJSONResponseSerializer> serializer() { return serializerWithReadingOptions(0); }
    static Ref<HKJSONResponseSerializer> serializerWithReadingOptions(unsigned long options);

    unsigned long readingOptions() const { return readingOptions_; }
    void setReadingOptions(unsigned long options) { readingOptions_ = options; }
    bool removesKeysWithNullValues() const { return removesKeysWithNullValues_; }
    void setRemovesKeysWithNullValues(bool value) { removesKeysWithNullValues_ = value; }

    Value responseObjectForResponse(const Ref<NSURLResponse>& response, const std::optional<NSData>& data,
                                    Ref<NSError>* error) override;
    void encodeWithCoder(NSCoder& coder) const override;
    Ref<NSObject> copyObject() const override;

  private:
    unsigned long readingOptions_ = 0;
    bool removesKeysWithNullValues_ = false;
};

// The object is an NSXMLParser over the body, not yet started.
class HKXMLParserResponseSerializer : public HKHTTPResponseSerializer {
  public:
    HKXMLParserResponseSerializer();
    explicit HKXMLParserResponseSerializer(NSCoder& coder);
    std::string className() const override { return "HKXMLParserResponseSerializer"; }

    static Ref<HKXMLParserResponseSerializer> serializer() { return make<HKXMLParserResponseSerializer>(); }

    Value responseObjectForResponse(const Ref<NSURLResponse>& response, const std::optional<NSData>& data,
                                    Ref<NSError>* error) override;
    Ref<NSObject> copyObject() const override;
};

class HKPropertyListResponseSerializer : public HKHTTPResponseSerializer {
  public:
    HKPropertyListResponseSerializer();
    explicit HKPropertyListResponseSerializer(NSCoder& coder);
    std::string className() const override { return "HKPropertyListResponseSerializer"; }

    static Ref<HKPropertyListResponseSerializer> serializer() { return serializerWithFormat(100, 0); }
    static Ref<HKPropertyListResponseSerializer> serializerWithFormat(unsigned long format,
                                                                      unsigned long readOptions);

    // Not used for reading: the data tells its format.
    unsigned long format() const { return format_; }
    void setFormat(unsigned long format) { format_ = format; }
    unsigned long readOptions() const { return readOptions_; }
    void setReadOptions(unsigned long options) { readOptions_ = options; }

    Value responseObjectForResponse(const Ref<NSURLResponse>& response, const std::optional<NSData>& data,
                                    Ref<NSError>* error) override;
    void encodeWithCoder(NSCoder& coder) const override;
    Ref<NSObject> copyObject() const override;

  private:
    unsigned long format_ = 0;
    unsigned long readOptions_ = 0;
};

// The object is a UIImage at imageScale; with inflation on, PNG and JPEG pictures up to
// 1024 x 1024 pixels are redrawn into a fresh bitmap here, off the main thread, so that showing
// them later costs no decoding.
class HKImageResponseSerializer : public HKHTTPResponseSerializer {
  public:
    HKImageResponseSerializer();
    explicit HKImageResponseSerializer(NSCoder& coder);
    std::string className() const override { return "HKImageResponseSerializer"; }

    static Ref<HKImageResponseSerializer> serializer() { return make<HKImageResponseSerializer>(); }

    double imageScale() const { return imageScale_; }
    void setImageScale(double scale) { imageScale_ = scale; }
    bool automaticallyInflatesResponseImage() const { return automaticallyInflatesResponseImage_; }
    void setAutomaticallyInflatesResponseImage(bool value) { automaticallyInflatesResponseImage_ = value; }

    Value responseObjectForResponse(const Ref<NSURLResponse>& response, const std::optional<NSData>& data,
                                    Ref<NSError>* error) override;
    void encodeWithCoder(NSCoder& coder) const override;
    Ref<NSObject> copyObject() const override;

  private:
    double imageScale_;
    bool automaticallyInflatesResponseImage_ = true;
};

// Tries each serialiser in order; the first object wins.
class HKCompoundResponseSerializer : public HKHTTPResponseSerializer {
  public:
    HKCompoundResponseSerializer() = default;
    explicit HKCompoundResponseSerializer(NSCoder& coder);
    std::string className() const override { return "HKCompoundResponseSerializer"; }

    static Ref<HKCompoundResponseSerializer> serializer() { return make<HKCompoundResponseSerializer>(); }
    static Ref<HKCompoundResponseSerializer>
    compoundSerializerWithResponseSerializers(std::vector<Ref<HKHTTPResponseSerializer>> serializers);

    const std::vector<Ref<HKHTTPResponseSerializer>>& responseSerializers() const {
        return responseSerializers_;
    }
    void setResponseSerializers(std::vector<Ref<HKHTTPResponseSerializer>> serializers) {
        responseSerializers_ = std::move(serializers);
    }

    Value responseObjectForResponse(const Ref<NSURLResponse>& response, const std::optional<NSData>& data,
                                    Ref<NSError>* error) override;
    void encodeWithCoder(NSCoder& coder) const override;
    Ref<NSObject> copyObject() const override;

  private:
    std::vector<Ref<HKHTTPResponseSerializer>> responseSerializers_;
};
