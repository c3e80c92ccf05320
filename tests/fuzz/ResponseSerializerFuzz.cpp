// The HTTP response serialisers the app's requests use (JSON, XML parser, property list, image,
// and a compound of them all), each given a hostile body under a chosen content type and status
// (the first two bytes choose). A body that passes the checks comes back as an object or with an
// error, never as neither; an object is of the serialiser's kind; an XML parser handed out
// parses to a balanced document or reports why not.

#include "FuzzSupport.h"
#include "foundation/NSJSONSerialization.h"
#include "foundation/NSPropertyListSerialization.h"
#include "foundation/NSString.h"
#include "foundation/NSXMLParser.h"
#include "graphics/ImageCodec.h"
#include "graphics/UIImage.h"
#include "net/HKURLResponseSerialization.h"

namespace {

const char* const kContentTypes[] = {
    "application/json",    "text/json; charset=utf-8",
    "text/javascript",     "application/json; charset=utf-16",
    "application/xml",     "text/xml; charset=iso-8859-1",
    "application/x-plist", "image/png",
    "image/jpeg",          "image/gif",
    "text/html",           "",
};
const long kStatuses[] = {200, 201, 204, 304, 404, 500, 302, 299};

class BalanceDelegate : public NSXMLParserDelegate {
  public:
    void parserDidStartElement(NSXMLParser&, const std::string&, const std::optional<std::string>&,
                               const std::optional<std::string>&, const Dictionary&) override {
        ++depth;
    }
    void parserDidEndElement(NSXMLParser&, const std::string&, const std::optional<std::string>&,
                             const std::optional<std::string>&) override {
        --depth;
    }
    long depth = 0;
};

Ref<HKHTTPResponseSerializer> makeSerializer(int kind) {
    switch (kind) {
        case 0: {
            auto json = HKJSONResponseSerializer::serializer();
            json->setRemovesKeysWithNullValues(true);
            return json;
        }
        case 1:
            return HKXMLParserResponseSerializer::serializer();
        case 2:
            return HKPropertyListResponseSerializer::serializer();
        case 3:
            return HKImageResponseSerializer::serializer();
        default:
            return HKCompoundResponseSerializer::compoundSerializerWithResponseSerializers(
                {HKJSONResponseSerializer::serializer(), HKXMLParserResponseSerializer::serializer(),
                 HKPropertyListResponseSerializer::serializer(), HKImageResponseSerializer::serializer()});
    }
}

void checkObject(const Value& object) {
    if (object.isNil()) return;
    if (auto parser = object.objectAs<NSXMLParser>()) {
        auto delegate = std::make_shared<BalanceDelegate>();
        parser->setDelegate(delegate);
        if (parser->parse()) {
            FUZZ_CHECK(delegate->depth == 0);
            FUZZ_CHECK(!parser->parserError());
        } else {
            FUZZ_CHECK(parser->parserError() != nullptr);
        }
    } else if (auto image = object.objectAs<UIImage>()) {
        auto bitmap = image->CGImage();
        FUZZ_CHECK(bitmap != nullptr);
        FUZZ_CHECK(detail::imageSizeAllowed(bitmap->width(), bitmap->height()));
        FUZZ_CHECK(bitmap->data().length() == bitmap->width() * bitmap->height() * 4);
    } else {
        // JSON or a property list: plain values only.
        FUZZ_CHECK(!object.isObject());
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::silenceLog();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    int kind = data[0] % 5;
    std::string contentType = kContentTypes[data[1] % std::size(kContentTypes)];
    long status = kStatuses[(data[1] / std::size(kContentTypes)) % std::size(kStatuses)];
    NSData body(data + 2, size - 2);

    Dictionary headers = Dictionary::mutableDictionary();
    if (!contentType.empty()) headers.setObject("Content-Type", Value(contentType));
    auto response = make<NSHTTPURLResponse>(NSURL::URLWithString("http://127.0.0.1/api/item"), status,
                                            "HTTP/1.1", headers);
    auto serializer = makeSerializer(kind);
    Ref<NSError> error;
    Value object = serializer->responseObjectForResponse(response, body, &error);
    checkObject(object);

    // Nothing without an error is the answer only for a body that is no text at all: empty, or a
    // single space (with or without a byte-order mark), which servers send for "no content". The
    // body is read in the reply's own character set, as the serialiser reads it ("\0 " is a
    // space in UTF-16).
    std::string text = body.toString();
    if (auto name = response->textEncodingName()) {
        CFStringEncoding encoding = CFStringConvertIANACharSetNameToEncoding(*name);
        if (encoding != kCFStringEncodingInvalidId) {
            if (auto decoded =
                    NSString::initWithData(body, CFStringConvertEncodingToNSStringEncoding(encoding)))
                text = *decoded;
        }
    }
    if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
    Ref<NSError> validation;
    bool acceptable = serializer->validateResponse(response, body, &validation);
    if (acceptable && kind != 4 && !text.empty() && text != " ") FUZZ_CHECK(!object.isNil() || error);
    return 0;
}
