// Response serialisation: validation of status and content type, JSON (encodings, null removal,
// odd bodies), XML, property lists, images, compound serialisers, coding and copying, and
// malformed, truncated and hostile bodies.

#include "net/HKURLResponseSerialization.h"

#include <gtest/gtest.h>

#include "foundation/NSJSONSerialization.h"
#include "foundation/NSKeyedArchiver.h"
#include "foundation/NSPropertyListSerialization.h"
#include "foundation/NSXMLParser.h"
#include "graphics/CGImage.h"
#include "graphics/UIImage.h"
#include "tests/support/TestSupport.h"

namespace {

Ref<NSHTTPURLResponse> response(long status, const std::string& contentType,
                                const std::string& url = "http://example.test/r") {
    Dictionary headers = Dictionary::mutableDictionary();
    if (!contentType.empty()) headers.setObject("Content-Type", contentType);
    return make<NSHTTPURLResponse>(url.empty() ? nullptr : NSURL::URLWithString(url), status,
                                   std::string("HTTP/1.1"), headers);
}

std::optional<NSData> bytes(const std::string& text) {
    return NSData::fromString(text);
}

NSData pngOfSize(std::size_t width, std::size_t height) {
    std::vector<std::uint8_t> pixels(width * height * 4, 0x7f);
    auto image = UIImage::imageWithCGImage(
        CGImageCreate(width, height, 8, 32, width * 4, CGColorSpaceCreateDeviceRGB(),
                      kCGBitmapByteOrder32Little | kCGImageAlphaPremultipliedFirst,
                      CGDataProviderCreateWithData(NSData(std::move(pixels)))));
    return *UIImagePNGRepresentation(image);
}

// ---- validation ------------------------------------------------------------------------------------

TEST(ResponseValidation, MissingOrNonHTTPResponsesAreValid) {
    auto serializer = HKHTTPResponseSerializer::serializer();
    Ref<NSError> error;
    EXPECT_TRUE(serializer->validateResponse(nullptr, bytes("x"), &error));
    auto plain =
        make<NSURLResponse>(NSURL::URLWithString("file:///x"), std::string("text/plain"), 1, std::nullopt);
    EXPECT_TRUE(serializer->validateResponse(plain, bytes("x"), &error));
    EXPECT_EQ(error, nullptr);
}

TEST(ResponseValidation, DefaultsAcceptTwoHundredsAndAnyType) {
    auto serializer = HKHTTPResponseSerializer::serializer();
    EXPECT_TRUE(serializer->acceptableStatusCodes()->containsIndexesInRange(200, 100));
    EXPECT_FALSE(serializer->acceptableStatusCodes()->containsIndex(300));
    EXPECT_FALSE(serializer->acceptableContentTypes().has_value());
    EXPECT_TRUE(serializer->validateResponse(response(299, "whatever/type"), bytes("x"), nullptr));
    EXPECT_FALSE(serializer->validateResponse(response(199, "text/plain"), bytes("x"), nullptr));
}

TEST(ResponseValidation, UnacceptableTypeWithABodyIsCannotDecode) {
    auto serializer = HKJSONResponseSerializer::serializer();
    Ref<NSError> error;
    auto r = response(200, "text/html");
    EXPECT_FALSE(serializer->validateResponse(r, bytes("<html>"), &error));
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->domain(), HKURLResponseSerializationErrorDomain);
    EXPECT_EQ(error->code(), NSURLErrorCannotDecodeContentData);
    EXPECT_EQ(error->localizedDescription(), "Request failed: unacceptable content-type: text/html");
    EXPECT_EQ(error->userInfo()[NSURLErrorFailingURLErrorKey].objectAs<NSURL>()->absoluteString(),
              "http://example.test/r");
    EXPECT_EQ(
        error->userInfo()[HKNetworkingOperationFailingURLResponseErrorKey].objectAs<NSHTTPURLResponse>(), r);
    EXPECT_EQ(error->userInfo()[HKNetworkingOperationFailingURLResponseDataErrorKey].data()->toString(),
              "<html>");
}

TEST(ResponseValidation, UnacceptableTypeWithAnEmptyBodyFailsWithoutAnError) {
    auto serializer = HKJSONResponseSerializer::serializer();
    Ref<NSError> error;
    EXPECT_FALSE(serializer->validateResponse(response(204, "text/plain"), NSData(), &error));
    EXPECT_EQ(error, nullptr);
}

TEST(ResponseValidation, UnacceptableStatusIsBadServerResponseWithTheTypeErrorBeneath) {
    auto serializer = HKJSONResponseSerializer::serializer();
    Ref<NSError> error;
    EXPECT_FALSE(serializer->validateResponse(response(500, "text/html"), bytes("oops"), &error));
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->code(), NSURLErrorBadServerResponse);
    EXPECT_EQ(error->localizedDescription(), "Request failed: internal server error (500)");
    auto underlying = error->userInfo()[NSUnderlyingErrorKey].objectAs<NSError>();
    ASSERT_NE(underlying, nullptr);
    EXPECT_EQ(underlying->code(), NSURLErrorCannotDecodeContentData);
    EXPECT_TRUE(
        HKErrorChainHasCode(error, NSURLErrorCannotDecodeContentData, HKURLResponseSerializationErrorDomain));
    EXPECT_FALSE(HKErrorChainHasCode(error, NSURLErrorCannotDecodeContentData, "other"));
}

TEST(ResponseValidation, StatusOutsideTheSetWithoutURLIsValid) {
    auto serializer = HKHTTPResponseSerializer::serializer();
    EXPECT_TRUE(serializer->validateResponse(response(500, "text/plain", ""), bytes("x"), nullptr));
}

TEST(ResponseValidation, NilSetsAcceptAnything) {
    auto serializer = HKJSONResponseSerializer::serializer();
    serializer->setAcceptableStatusCodes(nullptr);
    serializer->setAcceptableContentTypes(std::nullopt);
    EXPECT_TRUE(serializer->validateResponse(response(503, "text/html"), bytes("x"), nullptr));
}

TEST(ResponseValidation, BaseSerializerReturnsTheDataWhateverTheOutcome) {
    auto serializer = HKHTTPResponseSerializer::serializer();
    Ref<NSError> error;
    Value object = serializer->responseObjectForResponse(response(404, "text/plain"), bytes("body"), &error);
    EXPECT_EQ(object.data()->toString(), "body");
    EXPECT_EQ(error->code(), NSURLErrorBadServerResponse);
    EXPECT_TRUE(
        serializer->responseObjectForResponse(response(200, "text/plain"), std::nullopt, nullptr).isNil());
}

TEST(ErrorChain, AttachingUnderlying) {
    auto a = NSError::errorWithDomain("a", 1);
    auto b = NSError::errorWithDomain("b", 2);
    EXPECT_EQ(HKErrorAttachingUnderlying(nullptr, b), b);
    EXPECT_EQ(HKErrorAttachingUnderlying(a, nullptr), a);
    auto joined = HKErrorAttachingUnderlying(a, b);
    EXPECT_EQ(joined->domain(), "a");
    EXPECT_EQ(joined->userInfo()[NSUnderlyingErrorKey].objectAs<NSError>(), b);
    // An error that already has one keeps it.
    auto c = NSError::errorWithDomain("c", 3);
    EXPECT_EQ(HKErrorAttachingUnderlying(joined, c), joined);
    EXPECT_TRUE(HKErrorChainHasCode(joined, 2, "b"));
    EXPECT_FALSE(HKErrorChainHasCode(nullptr, 2, "b"));
}

// ---- JSON -------------------------------------------------------------------------------------------

TEST(JSONResponse, ParsesAcceptableReplies) {
    auto serializer = HKJSONResponseSerializer::serializer();
    Ref<NSError> error;
    Value object = serializer->responseObjectForResponse(response(200, "application/json; charset=utf-8"),
                                                         bytes(R"({"a":[1,2]})"), &error);
    EXPECT_EQ(error, nullptr);
    EXPECT_EQ(object["a"][1].intValue(), 2);
    for (const char* type : {"text/json", "text/javascript"}) {
        EXPECT_FALSE(
            serializer->responseObjectForResponse(response(200, type), bytes("[1]"), nullptr).isNil())
            << type;
    }
}

TEST(JSONResponse, HTMLIsRefusedUnlessAdded) {
    auto serializer = HKJSONResponseSerializer::serializer();
    Ref<NSError> error;
    EXPECT_TRUE(
        serializer->responseObjectForResponse(response(200, "text/html"), bytes("[1]"), &error).isNil());
    EXPECT_EQ(error->code(), NSURLErrorCannotDecodeContentData);
    auto types = *serializer->acceptableContentTypes();
    types.insert("text/html");
    serializer->setAcceptableContentTypes(types);
    error.reset();
    EXPECT_EQ(
        serializer->responseObjectForResponse(response(200, "text/html"), bytes("[1]"), &error)[0].intValue(),
        1);
    EXPECT_EQ(error, nullptr);
}

TEST(JSONResponse, EmptyNoContentReplyOfAnotherTypeGivesNothingAndNoError) {
    Ref<NSError> error;
    Value object = HKJSONResponseSerializer::serializer()->responseObjectForResponse(
        response(204, "text/plain"), NSData(), &error);
    EXPECT_TRUE(object.isNil());
    EXPECT_EQ(error, nullptr);
}

TEST(JSONResponse, ServerErrorWithValidJSONGivesBothObjectAndError) {
    Ref<NSError> error;
    Value object = HKJSONResponseSerializer::serializer()->responseObjectForResponse(
        response(500, "application/json"), bytes(R"({"msg":"down"})"), &error);
    EXPECT_EQ(object["msg"].stringValue(), "down");
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->code(), NSURLErrorBadServerResponse);
}

TEST(JSONResponse, ServerErrorWithBrokenJSONCarriesBothErrors) {
    Ref<NSError> error;
    Value object = HKJSONResponseSerializer::serializer()->responseObjectForResponse(
        response(500, "application/json"), bytes("{oops"), &error);
    EXPECT_TRUE(object.isNil());
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->domain(), NSCocoaErrorDomain);
    EXPECT_TRUE(
        HKErrorChainHasCode(error, NSURLErrorBadServerResponse, HKURLResponseSerializationErrorDomain));
}

TEST(JSONResponse, OneSpaceIsNothingButOtherWhitespaceIsAParseError) {
    auto serializer = HKJSONResponseSerializer::serializer();
    Ref<NSError> error;
    EXPECT_TRUE(
        serializer->responseObjectForResponse(response(200, "application/json"), bytes(" "), &error).isNil());
    EXPECT_EQ(error, nullptr);
    for (const char* body : {"  ", "\n"}) {
        error.reset();
        EXPECT_TRUE(
            serializer->responseObjectForResponse(response(200, "application/json"), bytes(body), &error)
                .isNil());
        ASSERT_NE(error, nullptr) << "[" << body << "]";
        EXPECT_EQ(error->code(), 3840);
    }
}

TEST(JSONResponse, EmptyAcceptableBodyIsNothing) {
    Ref<NSError> error;
    EXPECT_TRUE(HKJSONResponseSerializer::serializer()
                    ->responseObjectForResponse(response(200, "application/json"), NSData(), &error)
                    .isNil());
    EXPECT_EQ(error, nullptr);
}

TEST(JSONResponse, DeclaredCharsetIsUsedForDecoding) {
    Ref<NSError> error;
    std::string latin1 = std::string("{\"name\":\"caf") + static_cast<char>(0xE9) + "\"}";
    Value object = HKJSONResponseSerializer::serializer()->responseObjectForResponse(
        response(200, "application/json; charset=iso-8859-1"), bytes(latin1), &error);
    EXPECT_EQ(error, nullptr);
    EXPECT_EQ(object["name"].stringValue(), "café");
}

TEST(JSONResponse, TextThatIsNotInItsEncodingIsAnError) {
    Ref<NSError> error;
    Value object = HKJSONResponseSerializer::serializer()->responseObjectForResponse(
        response(200, "application/json; charset=utf-8"), bytes("[\"\xff\xfe\"]"), &error);
    EXPECT_TRUE(object.isNil());
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->code(), NSURLErrorCannotDecodeContentData);
}

TEST(JSONResponse, UnknownCharsetFallsBackToTheSerializersEncoding) {
    Value object = HKJSONResponseSerializer::serializer()->responseObjectForResponse(
        response(200, "application/json; charset=x-no-such-thing"), bytes("[\"ok\"]"), nullptr);
    EXPECT_EQ(object[0].stringValue(), "ok");
}

TEST(JSONResponse, NullRemovalAtEveryDepth) {
    auto serializer = HKJSONResponseSerializer::serializer();
    serializer->setRemovesKeysWithNullValues(true);
    Value object = serializer->responseObjectForResponse(
        response(200, "application/json"), bytes(R"({"a":null,"b":{"c":null,"d":1},"e":[null,{"f":null}]})"),
        nullptr);
    Value expected = NSJSONSerialization::JSONObjectWithData(
        NSData::fromString(R"({"b":{"d":1},"e":[null,{}]})"), 0, nullptr);
    EXPECT_TRUE(object.isEqual(expected)) << object.description();
    EXPECT_FALSE(object.dictionary()->isMutable());
}

TEST(JSONResponse, NullRemovalKeepsMutabilityWhenAsked) {
    Value cleaned = HKJSONWithoutNullValues(Dictionary{{"a", Value::null()}, {"b", Array{1}}},
                                            NSJSONReadingMutableContainers);
    EXPECT_TRUE(cleaned.dictionary()->isMutable());
    EXPECT_TRUE(cleaned["b"].array()->isMutable());
    EXPECT_EQ(HKJSONWithoutNullValues(Value(5), 0).intValue(), 5);
}

TEST(JSONResponse, FragmentsNeedTheOption) {
    Ref<NSError> error;
    EXPECT_TRUE(HKJSONResponseSerializer::serializer()
                    ->responseObjectForResponse(response(200, "application/json"), bytes("42"), &error)
                    .isNil());
    EXPECT_NE(error, nullptr);
    EXPECT_EQ(HKJSONResponseSerializer::serializerWithReadingOptions(NSJSONReadingAllowFragments)
                  ->responseObjectForResponse(response(200, "application/json"), bytes("42"), nullptr)
                  .intValue(),
              42);
}

TEST(JSONResponse, MalformedTruncatedAndHostileBodiesFailCleanly) {
    auto serializer = HKJSONResponseSerializer::serializer();
    std::string valid =
        R"({"code":0,"data":{"list":[{"id":1,"name":"车","tags":["a","b"],"x":null}],"n":1.5e3}})";
    std::vector<std::string> bodies{
        std::string(100000, '['),   std::string(100000, '{'), "\"unterminated", "{\"a\":1,}",     "nul",
        std::string("\0\0\0\0", 4), "\xef\xbb\xbf[1]",        "[1e999999]",     "{\"\\ud800\":1}"};
    for (std::size_t cut = 0; cut < valid.size(); cut += 3) bodies.push_back(valid.substr(0, cut));
    for (unsigned seed = 0; seed < 500; ++seed) bodies.push_back(testsupport::mutate(valid, seed));
    for (const auto& body : bodies) {
        Ref<NSError> error;
        Value object =
            serializer->responseObjectForResponse(response(200, "application/json"), bytes(body), &error);
        // Nothing without an error only for a body that is not text in its encoding (or one space).
        bool notText = !NSString::initWithData(NSData::fromString(body), NSUTF8StringEncoding).has_value();
        EXPECT_TRUE(!object.isNil() || error || notText || body == " " || body.empty()) << body.substr(0, 40);
    }
}

// ---- XML and property lists
// ---------------------------------------------------------------------------------

TEST(XMLResponse, GivesAParserNotYetStarted) {
    auto serializer = HKXMLParserResponseSerializer::serializer();
    auto parser =
        serializer->responseObjectForResponse(response(200, "application/xml"), bytes("<a><b/></a>"), nullptr)
            .objectAs<NSXMLParser>();
    ASSERT_NE(parser, nullptr);
    EXPECT_EQ(parser->data().toString(), "<a><b/></a>");
    EXPECT_TRUE(parser->parse());
}

TEST(XMLResponse, RefusedTypeWithBodyGivesNothingButAnEmptyBodyStillGivesAParser) {
    auto serializer = HKXMLParserResponseSerializer::serializer();
    Ref<NSError> error;
    EXPECT_TRUE(
        serializer->responseObjectForResponse(response(200, "text/plain"), bytes("<a/>"), &error).isNil());
    EXPECT_EQ(error->code(), NSURLErrorCannotDecodeContentData);
    // Decoding goes on over an empty body when the caller asked for errors (there is none).
    error.reset();
    auto parser = serializer->responseObjectForResponse(response(200, "text/plain"), NSData(), &error)
                      .objectAs<NSXMLParser>();
    ASSERT_NE(parser, nullptr);
    EXPECT_EQ(error, nullptr);
    // Without an error slot a failed check always stops decoding.
    EXPECT_TRUE(
        serializer->responseObjectForResponse(response(200, "text/plain"), NSData(), nullptr).isNil());
    EXPECT_FALSE(parser->parse());
}

TEST(XMLResponse, HostileDocumentsParseToAnErrorWithoutCrashing) {
    std::string valid = "<?xml version=\"1.0\"?><feed a=\"1\"><item>x &amp; y</item><![CDATA[z]]></feed>";
    std::vector<std::string> bodies{"<!DOCTYPE a [<!ENTITY e SYSTEM \"file:///etc/passwd\">]><a>&e;</a>",
                                    std::string(5000, '<')};
    for (unsigned seed = 0; seed < 300; ++seed) bodies.push_back(testsupport::mutate(valid, seed));
    for (const auto& body : bodies) {
        auto parser = HKXMLParserResponseSerializer::serializer()
                          ->responseObjectForResponse(response(200, "text/xml"), bytes(body), nullptr)
                          .objectAs<NSXMLParser>();
        ASSERT_NE(parser, nullptr);
        if (!parser->parse()) {
            EXPECT_NE(parser->parserError(), nullptr);
        }
    }
}

TEST(PropertyListResponse, ReadsXMLAndBinary) {
    auto serializer = HKPropertyListResponseSerializer::serializer();
    Dictionary plist{{"k", Array{1, "two"}}};
    for (auto format : {NSPropertyListXMLFormat_v1_0, NSPropertyListBinaryFormat_v1_0}) {
        auto body = NSPropertyListSerialization::dataWithPropertyList(plist, format, 0, nullptr);
        Ref<NSError> error;
        Value object =
            serializer->responseObjectForResponse(response(200, "application/x-plist"), body, &error);
        EXPECT_EQ(error, nullptr);
        EXPECT_EQ(object["k"][1].stringValue(), "two");
    }
}

TEST(PropertyListResponse, EmptyBodyOfAnotherTypeGivesTheParseError) {
    Ref<NSError> error;
    EXPECT_TRUE(HKPropertyListResponseSerializer::serializer()
                    ->responseObjectForResponse(response(200, "text/plain"), NSData(), &error)
                    .isNil());
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->domain(), NSCocoaErrorDomain);
}

TEST(PropertyListResponse, DamagedListsFailCleanly) {
    auto valid = *NSPropertyListSerialization::dataWithPropertyList(
        Dictionary{{"a", Array{1, 2.5, true, "x", NSData::fromString("d")}}}, NSPropertyListBinaryFormat_v1_0,
        0, nullptr);
    auto xml = *NSPropertyListSerialization::dataWithPropertyList(Dictionary{{"a", 1}},
                                                                  NSPropertyListXMLFormat_v1_0, 0, nullptr);
    for (unsigned seed = 0; seed < 400; ++seed) {
        const NSData& source = seed % 2 ? valid : xml;
        Ref<NSError> error;
        Value object = HKPropertyListResponseSerializer::serializer()->responseObjectForResponse(
            response(200, "application/x-plist"),
            NSData::fromString(testsupport::mutate(source.toString(), seed)), &error);
        EXPECT_TRUE(!object.isNil() || error);
    }
}

// ---- images
// ------------------------------------------------------------------------------------------------------

TEST(ImageResponse, DecodesAndInflatesAtTheScale) {
    auto serializer = HKImageResponseSerializer::serializer();
    serializer->setImageScale(3);
    auto image = serializer->responseObjectForResponse(response(200, "image/png"), pngOfSize(6, 9), nullptr)
                     .objectAs<UIImage>();
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(CGImageGetWidth(image->CGImage()), 6u);
    EXPECT_EQ(CGImageGetHeight(image->CGImage()), 9u);
    EXPECT_DOUBLE_EQ(image->scale(), 3);
}

TEST(ImageResponse, WithoutInflationStillDecodesAtTheScale) {
    auto serializer = HKImageResponseSerializer::serializer();
    serializer->setAutomaticallyInflatesResponseImage(false);
    serializer->setImageScale(2);
    auto image = serializer->responseObjectForResponse(response(200, "image/png"), pngOfSize(3, 3), nullptr)
                     .objectAs<UIImage>();
    ASSERT_NE(image, nullptr);
    EXPECT_DOUBLE_EQ(image->scale(), 2);
}

TEST(ImageResponse, LargePicturesAreNotRedrawnButStillDecoded) {
    auto image = HKImageResponseSerializer::serializer()
                     ->responseObjectForResponse(response(200, "image/png"), pngOfSize(1025, 1024), nullptr)
                     .objectAs<UIImage>();
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(CGImageGetWidth(image->CGImage()), 1025u);
}

TEST(ImageResponse, JPEGLabelledAsAnotherImageTypeIsDecodedFromItsBytes) {
    auto small = UIImage::imageWithData(pngOfSize(5, 4));
    auto jpeg = UIImageJPEGRepresentation(small, 0.9);
    ASSERT_TRUE(jpeg.has_value());
    auto image = HKImageResponseSerializer::serializer()
                     ->responseObjectForResponse(response(200, "image/gif"), jpeg, nullptr)
                     .objectAs<UIImage>();
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(CGImageGetWidth(image->CGImage()), 5u);
}

TEST(ImageResponse, EmptyAndRefusedBodiesGiveNothing) {
    auto serializer = HKImageResponseSerializer::serializer();
    EXPECT_TRUE(serializer->responseObjectForResponse(response(200, "image/png"), NSData(), nullptr).isNil());
    Ref<NSError> error;
    EXPECT_TRUE(
        serializer->responseObjectForResponse(response(200, "text/html"), pngOfSize(2, 2), &error).isNil());
    EXPECT_EQ(error->code(), NSURLErrorCannotDecodeContentData);
}

TEST(ImageResponse, BodyThatIsNoPictureIsAnError) {
    // A valid picture whose end is damaged, as a server cut short sends it.
    std::string png = pngOfSize(7, 5).toString();
    for (bool inflates : {true, false}) {
        auto serializer = HKImageResponseSerializer::serializer();
        serializer->setAutomaticallyInflatesResponseImage(inflates);
        Ref<NSError> error;
        Value object = serializer->responseObjectForResponse(
            response(200, "image/png"), bytes(png.substr(0, png.size() - 6) + "/\x01"), &error);
        EXPECT_TRUE(object.isNil());
        ASSERT_NE(error, nullptr);
        EXPECT_EQ(error->code(), NSURLErrorCannotDecodeContentData);
    }
}

TEST(ImageResponse, CorruptPicturesGiveNothingAndNeverCrash) {
    auto png = pngOfSize(16, 16).toString();
    auto jpeg = UIImageJPEGRepresentation(UIImage::imageWithData(NSData::fromString(png)), 0.8)->toString();
    for (unsigned seed = 0; seed < 300; ++seed) {
        for (const auto& [type, source] :
             {std::pair<std::string, std::string>{"image/png", png}, {"image/jpeg", jpeg}}) {
            std::string body = testsupport::mutate(source, seed);
            auto serializer = HKImageResponseSerializer::serializer();
            serializer->responseObjectForResponse(response(200, type), bytes(body), nullptr);
            serializer->setAutomaticallyInflatesResponseImage(false);
            serializer->responseObjectForResponse(response(200, type), bytes(body), nullptr);
        }
    }
    EXPECT_TRUE(HKImageResponseSerializer::serializer()
                    ->responseObjectForResponse(response(200, "image/png"), bytes("not a picture"), nullptr)
                    .isNil());
}

// ---- compound
// -----------------------------------------------------------------------------------------------------

TEST(CompoundResponse, FirstSerializerWithAnObjectWins) {
    auto compound = HKCompoundResponseSerializer::compoundSerializerWithResponseSerializers(
        {HKJSONResponseSerializer::serializer(), HKPropertyListResponseSerializer::serializer()});
    Value object =
        compound->responseObjectForResponse(response(200, "application/json"), bytes("[7]"), nullptr);
    EXPECT_EQ(object[0].intValue(), 7);
    auto plist =
        NSPropertyListSerialization::dataWithPropertyList(Array{8}, NSPropertyListXMLFormat_v1_0, 0, nullptr);
    object = compound->responseObjectForResponse(response(200, "application/x-plist"), plist, nullptr);
    EXPECT_EQ(object[0].intValue(), 8);
}

TEST(CompoundResponse, WinnersErrorIsPassedOn) {
    auto compound = HKCompoundResponseSerializer::compoundSerializerWithResponseSerializers(
        {HKJSONResponseSerializer::serializer()});
    Ref<NSError> error;
    Value object =
        compound->responseObjectForResponse(response(500, "application/json"), bytes("[1]"), &error);
    EXPECT_EQ(object[0].intValue(), 1);
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->code(), NSURLErrorBadServerResponse);
}

TEST(CompoundResponse, WhenNoneDecodesTheDataIsValidatedAndReturned) {
    auto compound = HKCompoundResponseSerializer::compoundSerializerWithResponseSerializers(
        {HKJSONResponseSerializer::serializer()});
    Ref<NSError> error;
    Value object = compound->responseObjectForResponse(response(200, "text/plain"), bytes("hi"), &error);
    EXPECT_EQ(object.data()->toString(), "hi");
    EXPECT_EQ(error, nullptr);  // the compound serializer accepts any type itself
    EXPECT_EQ(HKCompoundResponseSerializer::serializer()
                  ->responseObjectForResponse(response(404, ""), bytes("x"), &error)
                  .data()
                  ->toString(),
              "x");
    EXPECT_EQ(error->code(), NSURLErrorBadServerResponse);
}

// ---- coding and copying
// ---------------------------------------------------------------------------------------------

template <class T>
Ref<T> roundTrip(const Ref<T>& serializer) {
    auto archive = NSKeyedArchiver::archivedDataWithRootObject(Value(serializer));
    if (!archive) return nullptr;
    return NSKeyedUnarchiver::unarchivedObjectOfClass("HKHTTPResponseSerializer", *archive, nullptr)
        .objectAs<T>();
}

TEST(ResponseSerializerCoding, EveryClassKeepsItsFields) {
    auto json = HKJSONResponseSerializer::serializerWithReadingOptions(NSJSONReadingAllowFragments);
    json->setRemovesKeysWithNullValues(true);
    json->setAcceptableContentTypes(std::set<std::string>{"text/html"});
    json->setAcceptableStatusCodes(NSIndexSet::indexSetWithIndexesInRange(200, 2));
    auto decodedJSON = roundTrip(json);
    ASSERT_NE(decodedJSON, nullptr);
    EXPECT_EQ(decodedJSON->readingOptions(), NSJSONReadingAllowFragments);
    EXPECT_TRUE(decodedJSON->removesKeysWithNullValues());
    EXPECT_EQ(*decodedJSON->acceptableContentTypes(), std::set<std::string>{"text/html"});
    EXPECT_TRUE(decodedJSON->acceptableStatusCodes()->containsIndex(201));
    EXPECT_FALSE(decodedJSON->acceptableStatusCodes()->containsIndex(202));

    auto plist = HKPropertyListResponseSerializer::serializerWithFormat(200, 1);
    auto decodedPlist = roundTrip(plist);
    ASSERT_NE(decodedPlist, nullptr);
    EXPECT_EQ(decodedPlist->format(), 200u);
    EXPECT_EQ(decodedPlist->readOptions(), 1u);

    auto image = HKImageResponseSerializer::serializer();
    image->setImageScale(3);
    image->setAutomaticallyInflatesResponseImage(false);
    auto decodedImage = roundTrip(image);
    ASSERT_NE(decodedImage, nullptr);
    EXPECT_DOUBLE_EQ(decodedImage->imageScale(), 3);
    EXPECT_FALSE(decodedImage->automaticallyInflatesResponseImage());

    auto compound = HKCompoundResponseSerializer::compoundSerializerWithResponseSerializers({json, image});
    auto decodedCompound = roundTrip(compound);
    ASSERT_NE(decodedCompound, nullptr);
    ASSERT_EQ(decodedCompound->responseSerializers().size(), 2u);
    EXPECT_NE(asKind<HKJSONResponseSerializer>(decodedCompound->responseSerializers()[0]), nullptr);
    EXPECT_NE(asKind<HKImageResponseSerializer>(decodedCompound->responseSerializers()[1]), nullptr);

    auto xml = roundTrip(HKXMLParserResponseSerializer::serializer());
    ASSERT_NE(xml, nullptr);
    EXPECT_TRUE(xml->acceptableContentTypes()->count("text/xml"));
}

TEST(ResponseSerializerCoding, AnyTypeSurvivesArchiving) {
    auto base = HKHTTPResponseSerializer::serializer();
    base->setAcceptableStatusCodes(nullptr);
    auto decoded = roundTrip(base);
    ASSERT_NE(decoded, nullptr);
    EXPECT_FALSE(decoded->acceptableContentTypes().has_value());
}

TEST(ResponseSerializerCoding, SubclassCopiesKeepTheirClassDefaults) {
    auto json = HKJSONResponseSerializer::serializerWithReadingOptions(1);
    json->setRemovesKeysWithNullValues(true);
    json->setAcceptableContentTypes(std::set<std::string>{"text/html"});
    auto copy = asKind<HKJSONResponseSerializer>(json->copyObject());
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->readingOptions(), 1u);
    EXPECT_TRUE(copy->removesKeysWithNullValues());
    EXPECT_TRUE(copy->acceptableContentTypes()->count("application/json"));
    EXPECT_FALSE(copy->acceptableContentTypes()->count("text/html"));

    auto base = HKHTTPResponseSerializer::serializer();
    base->setAcceptableContentTypes(std::set<std::string>{"a/b"});
    auto baseCopy = asKind<HKHTTPResponseSerializer>(base->copyObject());
    EXPECT_EQ(*baseCopy->acceptableContentTypes(), std::set<std::string>{"a/b"});
}

TEST(ResponseSerializerCoding, DamagedArchivesNeverCrash) {
    auto json = HKJSONResponseSerializer::serializer();
    auto archive = NSKeyedArchiver::archivedDataWithRootObject(
        Value(HKCompoundResponseSerializer::compoundSerializerWithResponseSerializers({json})));
    ASSERT_TRUE(archive.has_value());
    for (unsigned seed = 0; seed < 300; ++seed) {
        Value v = NSKeyedUnarchiver::unarchivedObjectOfClass(
            "HKHTTPResponseSerializer", NSData::fromString(testsupport::mutate(archive->toString(), seed)),
            nullptr);
        if (auto s = v.objectAs<HKHTTPResponseSerializer>()) {
            s->responseObjectForResponse(response(200, "application/json"), bytes("[1]"), nullptr);
        }
    }
}

}  // namespace
