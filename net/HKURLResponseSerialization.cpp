#include "net/HKURLResponseSerialization.h"

#include "foundation/NSBundle.h"
#include "foundation/NSJSONSerialization.h"
#include "foundation/NSPropertyListSerialization.h"
#include "foundation/NSXMLParser.h"
#include "graphics/CGContext.h"
#include "graphics/CGImage.h"
#include "graphics/UIImage.h"
#include "uikit/UIScreen.h"

namespace {

const NSCodableClass<HKHTTPResponseSerializer> httpRegistration("HKHTTPResponseSerializer");
const NSCodableClass<HKJSONResponseSerializer> jsonRegistration("HKJSONResponseSerializer",
                                                                "HKHTTPResponseSerializer");
const NSCodableClass<HKXMLParserResponseSerializer> xmlRegistration("HKXMLParserResponseSerializer",
                                                                    "HKHTTPResponseSerializer");
const NSCodableClass<HKPropertyListResponseSerializer> plistRegistration("HKPropertyListResponseSerializer",
                                                                         "HKHTTPResponseSerializer");
const NSCodableClass<HKImageResponseSerializer> imageRegistration("HKImageResponseSerializer",
                                                                  "HKHTTPResponseSerializer");
const NSCodableClass<HKCompoundResponseSerializer> compoundRegistration("HKCompoundResponseSerializer",
                                                                        "HKHTTPResponseSerializer");

std::string localized(const std::string& key) {
    return NSBundle::mainBundle()->localizedStringForKey(key, std::string(), std::string("HKNetworking"));
}

// The encoding a response names, when the platform knows it.
NSStringEncoding encodingFor(const Ref<NSURLResponse>& response, NSStringEncoding fallback) {
    if (!response || !response->textEncodingName()) return fallback;
    CFStringEncoding encoding = CFStringConvertIANACharSetNameToEncoding(*response->textEncodingName());
    if (encoding == kCFStringEncodingInvalidId) return fallback;
    return CFStringConvertEncodingToNSStringEncoding(encoding);
}

Ref<UIImage> decodedImageAtScale(const NSData& data, double scale) {
    auto image = UIImage::imageWithData(data);
    if (!image || !image->images().empty()) return image;
    return UIImage::imageWithCGImage(image->CGImage(), scale, image->imageOrientation());
}

// A picture drawn once into a new bitmap, so that it is decoded here rather than when shown.
Ref<UIImage> inflatedImage(const Ref<NSURLResponse>& response, const NSData& data, double scale) {
    if (data.empty()) return nullptr;
    CGImageRef bitmap;
    auto mime = response ? response->MIMEType() : std::nullopt;
    if (mime == "image/png") {
        bitmap = CGImageCreateWithPNGDataProvider(CGDataProviderCreateWithData(data), nullptr, true,
                                                  kCGRenderingIntentDefault);
    } else if (mime == "image/jpeg") {
        bitmap = CGImageCreateWithJPEGDataProvider(CGDataProviderCreateWithData(data), nullptr, true,
                                                   kCGRenderingIntentDefault);
        if (bitmap && CGColorSpaceGetModel(CGImageGetColorSpace(bitmap)) == kCGColorSpaceModelCMYK) {
            bitmap = nullptr;
        }
    }

    auto image = decodedImageAtScale(data, scale);
    if (!bitmap) {
        if (!image || !image->images().empty()) return image;
        bitmap = image->CGImage();
        if (!bitmap) return nullptr;
    }

    std::size_t width = CGImageGetWidth(bitmap);
    std::size_t height = CGImageGetHeight(bitmap);
    std::size_t bitsPerComponent = CGImageGetBitsPerComponent(bitmap);
    if (width * height > 1024 * 1024 || bitsPerComponent > 8) return image;

    auto colorSpace = CGColorSpaceCreateDeviceRGB();
    CGBitmapInfo info = CGImageGetBitmapInfo(bitmap);
    if (CGColorSpaceGetModel(colorSpace) == kCGColorSpaceModelRGB) {
        std::uint32_t alpha = info & kCGBitmapAlphaInfoMask;
        info &= ~kCGBitmapAlphaInfoMask;
        if (alpha == kCGImageAlphaNone) {
            info |= kCGImageAlphaNoneSkipFirst;
        } else if (alpha == kCGImageAlphaNoneSkipFirst || alpha == kCGImageAlphaNoneSkipLast) {
            info |= alpha;
        } else {
            info |= kCGImageAlphaPremultipliedFirst;
        }
    }
    auto context = CGBitmapContextCreate(nullptr, width, height, bitsPerComponent, 0, colorSpace, info);
    if (!context) return image;
    CGContextDrawImage(context, CGRectMake(0, 0, static_cast<CGFloat>(width), static_cast<CGFloat>(height)),
                       bitmap);
    auto drawn = CGBitmapContextCreateImage(context);
    if (!drawn) return image;
    return UIImage::imageWithCGImage(drawn, scale,
                                     image ? image->imageOrientation() : UIImageOrientation::Up);
}

Array arrayOfRanges(const Ref<NSIndexSet>& set) {
    Array ranges = Array::mutableArray();
    for (const auto& range : set->ranges()) {
        ranges.addObject(Array{Value(static_cast<unsigned long long>(range.location)),
                               Value(static_cast<unsigned long long>(range.length))});
    }
    return ranges;
}

Ref<NSIndexSet> indexSetOfRanges(const Value& value) {
    const Array* ranges = value.array();
    if (!ranges) return nullptr;
    auto set = NSMutableIndexSet::indexSet();
    for (const auto& range : *ranges) {
        const Array* pair = range.array();
        if (!pair || pair->count() != 2 || !(*pair)[0].isNumber() || !(*pair)[1].isNumber()) continue;
        set->addIndexesInRange((*pair)[0].unsignedLongLongValue(), (*pair)[1].unsignedLongLongValue());
    }
    return make<NSIndexSet>(set->ranges());
}

}  // namespace

Ref<NSError> HKErrorAttachingUnderlying(const Ref<NSError>& error, const Ref<NSError>& underlying) {
    if (!error) return underlying;
    if (!underlying || error->userInfo().containsKey(NSUnderlyingErrorKey)) return error;
    Dictionary info = error->userInfo().mutableCopy();
    info.setObject(NSUnderlyingErrorKey, Value(underlying));
    return NSError::errorWithDomain(error->domain(), error->code(), info);
}

bool HKErrorChainHasCode(const Ref<NSError>& error, long code, const std::string& domain) {
    // Chains are short; the depth bound only guards against a chain that loops.
    Ref<NSError> current = error;
    for (int depth = 0; current && depth < 64; ++depth) {
        if (current->code() == code && current->domain() == domain) return true;
        current = current->userInfo().objectForKey(NSUnderlyingErrorKey).objectAs<NSError>();
    }
    return false;
}

Value HKJSONWithoutNullValues(const Value& object, unsigned long readingOptions) {
    bool mutableContainers = (readingOptions & NSJSONReadingMutableContainers) != 0;
    if (const Array* array = object.array()) {
        Array result = Array::mutableArray(array->count());
        for (const auto& element : *array) result.addObject(HKJSONWithoutNullValues(element, readingOptions));
        return mutableContainers ? Value(result) : Value(result.copy());
    }
    if (const Dictionary* dictionary = object.dictionary()) {
        Dictionary result = Dictionary::mutableDictionary(dictionary->count());
        for (const auto& [key, value] : *dictionary) {
            if (value.isNull()) continue;
            if (value.isArray() || value.isDictionary()) {
                result.setObject(key, HKJSONWithoutNullValues(value, readingOptions));
            } else {
                result.setObject(key, value);
            }
        }
        return mutableContainers ? Value(result) : Value(result.copy());
    }
    return object;
}

// ---- HKHTTPResponseSerializer -------------------------------------------------------------------

HKHTTPResponseSerializer::HKHTTPResponseSerializer()
    : acceptableStatusCodes_(NSIndexSet::indexSetWithIndexesInRange(200, 100)) {}

HKHTTPResponseSerializer::HKHTTPResponseSerializer(NSCoder& coder) : HKHTTPResponseSerializer() {
    decodeBaseState(coder);
}

void HKHTTPResponseSerializer::decodeBaseState(NSCoder& coder) {
    if (coder.containsValueForKey("acceptableStatusCodes")) {
        acceptableStatusCodes_ =
            indexSetOfRanges(coder.decodeObjectOfClasses({"NSArray", "NSNumber"}, "acceptableStatusCodes"));
    }
    if (coder.containsValueForKey("acceptableContentTypes")) {
        Value types = coder.decodeObjectOfClasses({"NSArray", "NSString"}, "acceptableContentTypes");
        if (const Array* array = types.array()) {
            std::set<std::string> set;
            for (const auto& type : *array) {
                if (type.isString()) set.insert(*type.string());
            }
            acceptableContentTypes_ = std::move(set);
        } else {
            acceptableContentTypes_.reset();
        }
    }
}

void HKHTTPResponseSerializer::setAcceptableStatusCodes(const Ref<NSIndexSet>& codes) {
    acceptableStatusCodes_ = codes ? make<NSIndexSet>(codes->ranges()) : nullptr;
}

bool HKHTTPResponseSerializer::validateResponse(const Ref<NSURLResponse>& response,
                                                const std::optional<NSData>& data,
                                                Ref<NSError>* error) const {
    auto http = asKind<NSHTTPURLResponse>(response);
    if (!http) return true;

    bool valid = true;
    Ref<NSError> validationError;
    bool hasData = data && !data->empty();

    const auto& mime = http->MIMEType();
    if (acceptableContentTypes_ && (!mime || !acceptableContentTypes_->count(*mime))) {
        valid = false;
        if (hasData && http->URL()) {
            std::string description =
                NSString::stringWithFormat(localized("Request failed: unacceptable content-type: %@"), mime);
            validationError = NSError::errorWithDomain(
                HKURLResponseSerializationErrorDomain, NSURLErrorCannotDecodeContentData,
                Dictionary{{NSLocalizedDescriptionKey, description},
                           {NSURLErrorFailingURLErrorKey, Value(http->URL())},
                           {HKNetworkingOperationFailingURLResponseErrorKey, Value(response)},
                           {HKNetworkingOperationFailingURLResponseDataErrorKey, *data}});
        }
    }

    if (acceptableStatusCodes_ &&
        !acceptableStatusCodes_->containsIndex(static_cast<std::size_t>(http->statusCode())) && http->URL()) {
        valid = false;
        std::string description = NSString::stringWithFormat(
            localized("Request failed: %@ (%ld)"),
            NSHTTPURLResponse::localizedStringForStatusCode(http->statusCode()), http->statusCode());
        Dictionary info = Dictionary::mutableDictionary();
        info.setObject(NSLocalizedDescriptionKey, description);
        info.setObject(NSURLErrorFailingURLErrorKey, Value(http->URL()));
        info.setObject(HKNetworkingOperationFailingURLResponseErrorKey, Value(response));
        if (data) info.setObject(HKNetworkingOperationFailingURLResponseDataErrorKey, *data);
        auto statusError = NSError::errorWithDomain(HKURLResponseSerializationErrorDomain,
                                                    NSURLErrorBadServerResponse, info);
        validationError = HKErrorAttachingUnderlying(statusError, validationError);
    }

    if (!valid) setError(error, validationError);
    return valid;
}

bool HKHTTPResponseSerializer::passesValidationGate(const Ref<NSURLResponse>& response,
                                                    const std::optional<NSData>& data,
                                                    Ref<NSError>* error) const {
    if (validateResponse(response, data, error)) return true;
    if (!error) return false;
    return !HKErrorChainHasCode(*error, NSURLErrorCannotDecodeContentData,
                                HKURLResponseSerializationErrorDomain);
}

Value HKHTTPResponseSerializer::responseObjectForResponse(const Ref<NSURLResponse>& response,
                                                          const std::optional<NSData>& data,
                                                          Ref<NSError>* error) {
    validateResponse(response, data, error);
    return data ? Value(*data) : Value();
}

void HKHTTPResponseSerializer::encodeWithCoder(NSCoder& coder) const {
    if (acceptableStatusCodes_)
        coder.encodeObject(arrayOfRanges(acceptableStatusCodes_), "acceptableStatusCodes");
    if (acceptableContentTypes_) {
        Array types = Array::mutableArray();
        for (const auto& type : *acceptableContentTypes_) types.addObject(type);
        coder.encodeObject(types, "acceptableContentTypes");
    }
}

void HKHTTPResponseSerializer::copyBaseStateInto(HKHTTPResponseSerializer& target) const {
    target.setAcceptableStatusCodes(acceptableStatusCodes_);
    target.acceptableContentTypes_ = acceptableContentTypes_;
}

Ref<NSObject> HKHTTPResponseSerializer::copyObject() const {
    auto copy = make<HKHTTPResponseSerializer>();
    copyBaseStateInto(*copy);
    return copy;
}

// ---- JSON -------------------------------------------------------------------------------------------

HKJSONResponseSerializer::HKJSONResponseSerializer() {
    setAcceptableContentTypes(std::set<std::string>{"application/json", "text/json", "text/javascript"});
}

HKJSONResponseSerializer::HKJSONResponseSerializer(NSCoder& coder) : HKJSONResponseSerializer() {
    decodeBaseState(coder);
    readingOptions_ = coder.decodeObjectOfClass("NSNumber", "readingOptions").unsignedLongLongValue();
    removesKeysWithNullValues_ =
        coder.decodeObjectOfClass("NSNumber", "removesKeysWithNullValues").boolValue();
}

Ref<HKJSONResponseSerializer> HKJSONResponseSerializer::serializerWithReadingOptions(unsigned long options) {
    auto serializer = make<HKJSONResponseSerializer>();
    serializer->setReadingOptions(options);
    return serializer;
}

Value HKJSONResponseSerializer::responseObjectForResponse(const Ref<NSURLResponse>& response,
                                                          const std::optional<NSData>& data,
                                                          Ref<NSError>* error) {
    if (!passesValidationGate(response, data, error)) return Value();
    if (!data) return Value();

    NSStringEncoding encoding = encodingFor(response, stringEncoding());
    Value object;
    Ref<NSError> parseError;
    std::optional<std::string> text = NSString::initWithData(*data, encoding);
    if (!text) {
        // Bytes that are not text in their encoding are a failed decoding, not an empty success.
        parseError =
            NSError::errorWithDomain(HKURLResponseSerializationErrorDomain, NSURLErrorCannotDecodeContentData,
                                     Dictionary{{NSLocalizedDescriptionKey,
                                                 localized("Data failed decoding as text in its encoding")}});
    } else if (*text != " ") {
        auto utf8 = NSString::dataUsingEncoding(*text, NSUTF8StringEncoding);
        if (!utf8) {
            parseError = NSError::errorWithDomain(
                HKURLResponseSerializationErrorDomain, NSURLErrorCannotDecodeContentData,
                Dictionary{{NSLocalizedDescriptionKey, localized("Data failed decoding as a UTF-8 string")},
                           {NSLocalizedFailureReasonErrorKey,
                            NSString::stringWithFormat(localized("Could not decode string: %@"), *text)}});
        } else if (utf8->empty()) {
            return Value();
        } else {
            object = NSJSONSerialization::JSONObjectWithData(*utf8, static_cast<unsigned>(readingOptions_),
                                                             &parseError);
        }
    }

    if (removesKeysWithNullValues_ && !object.isNil())
        object = HKJSONWithoutNullValues(object, readingOptions_);
    if (error) *error = HKErrorAttachingUnderlying(parseError, *error);
    return object;
}

void HKJSONResponseSerializer::encodeWithCoder(NSCoder& coder) const {
    HKHTTPResponseSerializer::encodeWithCoder(coder);
    coder.encodeObject(Value(static_cast<unsigned long>(readingOptions_)), "readingOptions");
    coder.encodeObject(Value(removesKeysWithNullValues_), "removesKeysWithNullValues");
}

Ref<NSObject> HKJSONResponseSerializer::copyObject() const {
    // A copy keeps the class's own acceptable types and codes.
    auto copy = make<HKJSONResponseSerializer>();
    copy->readingOptions_ = readingOptions_;
    copy->removesKeysWithNullValues_ = removesKeysWithNullValues_;
    return copy;
}

// ---- XML ------------------------------------------------------------------------------------------

HKXMLParserResponseSerializer::HKXMLParserResponseSerializer() {
    setAcceptableContentTypes(std::set<std::string>{"application/xml", "text/xml"});
}

HKXMLParserResponseSerializer::HKXMLParserResponseSerializer(NSCoder& coder)
    : HKXMLParserResponseSerializer() {
    decodeBaseState(coder);
}

Value HKXMLParserResponseSerializer::responseObjectForResponse(const Ref<NSURLResponse>& response,
                                                               const std::optional<NSData>& data,
                                                               Ref<NSError>* error) {
    if (!passesValidationGate(response, data, error)) return Value();
    return Value(make<NSXMLParser>(data.value_or(NSData())));
}

Ref<NSObject> HKXMLParserResponseSerializer::copyObject() const {
    return make<HKXMLParserResponseSerializer>();
}

// ---- property lists --------------------------------------------------------------------------------

HKPropertyListResponseSerializer::HKPropertyListResponseSerializer() {
    setAcceptableContentTypes(std::set<std::string>{"application/x-plist"});
}

HKPropertyListResponseSerializer::HKPropertyListResponseSerializer(NSCoder& coder)
    : HKPropertyListResponseSerializer() {
    decodeBaseState(coder);
    format_ = coder.decodeObjectOfClass("NSNumber", "format").unsignedLongLongValue();
    readOptions_ = coder.decodeObjectOfClass("NSNumber", "readOptions").unsignedLongLongValue();
}

Ref<HKPropertyListResponseSerializer>
HKPropertyListResponseSerializer::serializerWithFormat(unsigned long format, unsigned long readOptions) {
    auto serializer = make<HKPropertyListResponseSerializer>();
    serializer->setFormat(format);
    serializer->setReadOptions(readOptions);
    return serializer;
}

Value HKPropertyListResponseSerializer::responseObjectForResponse(const Ref<NSURLResponse>& response,
                                                                  const std::optional<NSData>& data,
                                                                  Ref<NSError>* error) {
    if (!passesValidationGate(response, data, error)) return Value();
    if (!data) return Value();
    Ref<NSError> parseError;
    Value object = NSPropertyListSerialization::propertyListWithData(
        *data, static_cast<unsigned>(readOptions_), nullptr, &parseError);
    if (error) *error = HKErrorAttachingUnderlying(parseError, *error);
    return object;
}

void HKPropertyListResponseSerializer::encodeWithCoder(NSCoder& coder) const {
    HKHTTPResponseSerializer::encodeWithCoder(coder);
    coder.encodeObject(Value(static_cast<unsigned long>(format_)), "format");
    coder.encodeObject(Value(static_cast<unsigned long>(readOptions_)), "readOptions");
}

Ref<NSObject> HKPropertyListResponseSerializer::copyObject() const {
    auto copy = make<HKPropertyListResponseSerializer>();
    copy->format_ = format_;
    copy->readOptions_ = readOptions_;
    return copy;
}

// ---- images ------------------------------------------------------------------------------------------

HKImageResponseSerializer::HKImageResponseSerializer() : imageScale_(UIScreen::mainScreen()->scale()) {
    setAcceptableContentTypes(std::set<std::string>{"image/tiff", "image/jpeg", "image/gif", "image/png",
                                                    "image/ico", "image/x-icon", "image/bmp", "image/x-bmp",
                                                    "image/x-xbitmap", "image/x-win-bitmap"});
}

HKImageResponseSerializer::HKImageResponseSerializer(NSCoder& coder) : HKImageResponseSerializer() {
    decodeBaseState(coder);
    if (coder.containsValueForKey("imageScale")) {
        imageScale_ = coder.decodeObjectOfClass("NSNumber", "imageScale").doubleValue();
    }
    if (coder.containsValueForKey("automaticallyInflatesResponseImage")) {
        automaticallyInflatesResponseImage_ = coder.decodeBoolForKey("automaticallyInflatesResponseImage");
    }
}

Value HKImageResponseSerializer::responseObjectForResponse(const Ref<NSURLResponse>& response,
                                                           const std::optional<NSData>& data,
                                                           Ref<NSError>* error) {
    if (!passesValidationGate(response, data, error)) return Value();
    if (!data || data->empty()) return Value();
    Ref<UIImage> image = automaticallyInflatesResponseImage_ ? inflatedImage(response, *data, imageScale_)
                                                             : decodedImageAtScale(*data, imageScale_);
    if (image) return Value(image);
    // A body that is no picture is a failed decoding, not an empty success.
    if (error) {
        auto decodeError = NSError::errorWithDomain(
            HKURLResponseSerializationErrorDomain, NSURLErrorCannotDecodeContentData,
            Dictionary{{NSLocalizedDescriptionKey, localized("Data failed decoding as an image")}});
        *error = HKErrorAttachingUnderlying(decodeError, *error);
    }
    return Value();
}

void HKImageResponseSerializer::encodeWithCoder(NSCoder& coder) const {
    HKHTTPResponseSerializer::encodeWithCoder(coder);
    coder.encodeObject(Value(imageScale_), "imageScale");
    coder.encodeBool(automaticallyInflatesResponseImage_, "automaticallyInflatesResponseImage");
}

Ref<NSObject> HKImageResponseSerializer::copyObject() const {
    auto copy = make<HKImageResponseSerializer>();
    copy->imageScale_ = imageScale_;
    copy->automaticallyInflatesResponseImage_ = automaticallyInflatesResponseImage_;
    return copy;
}

// ---- compound ------------------------------------------------------------------------------------------

HKCompoundResponseSerializer::HKCompoundResponseSerializer(NSCoder& coder) : HKHTTPResponseSerializer(coder) {
    Value serializers =
        coder.decodeObjectOfClasses({"NSArray", "HKHTTPResponseSerializer"}, "responseSerializers");
    if (const Array* array = serializers.array()) {
        for (const auto& item : *array) {
            if (auto serializer = item.objectAs<HKHTTPResponseSerializer>())
                responseSerializers_.push_back(serializer);
        }
    }
}

Ref<HKCompoundResponseSerializer> HKCompoundResponseSerializer::compoundSerializerWithResponseSerializers(
    std::vector<Ref<HKHTTPResponseSerializer>> serializers) {
    auto serializer = make<HKCompoundResponseSerializer>();
    serializer->setResponseSerializers(std::move(serializers));
    return serializer;
}

Value HKCompoundResponseSerializer::responseObjectForResponse(const Ref<NSURLResponse>& response,
                                                              const std::optional<NSData>& data,
                                                              Ref<NSError>* error) {
    for (const auto& serializer : responseSerializers_) {
        if (!serializer) continue;
        Ref<NSError> serializerError;
        Value object = serializer->responseObjectForResponse(response, data, &serializerError);
        if (!object.isNil()) {
            if (error) *error = HKErrorAttachingUnderlying(serializerError, *error);
            return object;
        }
    }
    return HKHTTPResponseSerializer::responseObjectForResponse(response, data, error);
}

void HKCompoundResponseSerializer::encodeWithCoder(NSCoder& coder) const {
    HKHTTPResponseSerializer::encodeWithCoder(coder);
    Array serializers = Array::mutableArray();
    for (const auto& serializer : responseSerializers_) serializers.addObject(Value(serializer));
    coder.encodeObject(serializers, "responseSerializers");
}

Ref<NSObject> HKCompoundResponseSerializer::copyObject() const {
    auto copy = make<HKCompoundResponseSerializer>();
    copy->responseSerializers_ = responseSerializers_;
    return copy;
}
