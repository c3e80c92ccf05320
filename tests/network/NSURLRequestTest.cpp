#include "network/NSURLRequest.h"

#include <gtest/gtest.h>

#include "foundation/NSKeyedArchiver.h"

namespace {

Ref<NSMutableURLRequest> request(const std::string& url = "http://127.0.0.1/a") {
    return NSMutableURLRequest::requestWithURL(NSURL::URLWithString(url));
}

TEST(NSURLRequestTest, DefaultsMatchThePlatform) {
    auto r = NSURLRequest::requestWithURL(NSURL::URLWithString("http://127.0.0.1/"));
    EXPECT_EQ(r->HTTPMethod(), "GET");
    EXPECT_EQ(r->timeoutInterval(), 60.0);
    EXPECT_EQ(r->cachePolicy(), NSURLRequestUseProtocolCachePolicy);
    EXPECT_TRUE(r->HTTPShouldHandleCookies());
    EXPECT_FALSE(r->HTTPShouldUsePipelining());
    EXPECT_TRUE(r->allowsCellularAccess());
    EXPECT_EQ(r->networkServiceType(), NSURLNetworkServiceTypeDefault);
    EXPECT_FALSE(r->HTTPBody());
    EXPECT_FALSE(r->HTTPBodyStream());
    EXPECT_TRUE(r->allHTTPHeaderFields().empty());
    EXPECT_EQ(r->className(), "NSURLRequest");
}

TEST(NSURLRequestTest, HeaderLookupIgnoresCaseAndSettingReplaces) {
    auto r = request();
    r->setValue("text/plain", "Content-Type");
    EXPECT_EQ(r->valueForHTTPHeaderField("content-type"), "text/plain");
    r->setValue("application/json", "CONTENT-TYPE");
    EXPECT_EQ(r->allHTTPHeaderFields().count(), 1u);
    EXPECT_EQ(r->valueForHTTPHeaderField("Content-Type"), "application/json");
    // The first spelling stays.
    EXPECT_EQ(r->headerList().at(0).first, "Content-Type");
    r->setValue(std::nullopt, "content-TYPE");
    EXPECT_FALSE(r->valueForHTTPHeaderField("Content-Type"));
    EXPECT_TRUE(r->allHTTPHeaderFields().empty());
}

TEST(NSURLRequestTest, AddValueJoinsWithComma) {
    auto r = request();
    r->addValue("gzip", "Accept-Encoding");
    r->addValue("deflate", "accept-encoding");
    EXPECT_EQ(r->valueForHTTPHeaderField("Accept-Encoding"), "gzip, deflate");
}

TEST(NSURLRequestTest, SetAllHeaderFieldsReplacesEverythingAndSkipsNonStrings) {
    auto r = request();
    r->setValue("1", "X-Old");
    r->setAllHTTPHeaderFields(Dictionary{{"A", "1"}, {"B", 2}, {"C", "3"}});
    auto all = r->allHTTPHeaderFields();
    EXPECT_EQ(all.count(), 2u);
    EXPECT_FALSE(r->valueForHTTPHeaderField("X-Old"));
    EXPECT_EQ(all["C"].stringValue(), "3");
}

TEST(NSURLRequestTest, BodyAndBodyStreamExcludeEachOther) {
    auto r = request();
    r->setHTTPBody(NSData::fromString("x"));
    auto s = NSInputStream::inputStreamWithData(NSData::fromString("y"));
    r->setHTTPBodyStream(s);
    EXPECT_FALSE(r->HTTPBody());
    EXPECT_EQ(r->HTTPBodyStream(), s);
    r->setHTTPBody(NSData::fromString("z"));
    EXPECT_FALSE(r->HTTPBodyStream());
    r->setHTTPMethod("");
    EXPECT_EQ(r->HTTPMethod(), "GET");
}

TEST(NSURLRequestTest, CopiesAreIndependentAndKeepTheirMutability) {
    auto r = request();
    r->setValue("1", "X-A");
    r->setHTTPMethod("POST");
    auto frozen = r->copy();
    auto again = r->mutableCopy();
    again->setValue("2", "X-A");
    again->setHTTPMethod("PUT");
    EXPECT_EQ(frozen->valueForHTTPHeaderField("X-A"), "1");
    EXPECT_EQ(r->valueForHTTPHeaderField("X-A"), "1");
    EXPECT_EQ(frozen->HTTPMethod(), "POST");
    EXPECT_EQ(frozen->className(), "NSURLRequest");
    EXPECT_EQ(again->className(), "NSMutableURLRequest");
    EXPECT_TRUE(frozen->isEqual(*r));
    EXPECT_FALSE(again->isEqual(*r));
    EXPECT_TRUE(asKind<NSMutableURLRequest>(r->copyObject()));
}

TEST(NSURLRequestTest, SixPropertiesByName) {
    auto r = request();
    EXPECT_TRUE(r->setValueForKey(Value(false), "allowsCellularAccess"));
    EXPECT_TRUE(r->setValueForKey(Value(1u), "cachePolicy"));
    EXPECT_TRUE(r->setValueForKey(Value(false), "HTTPShouldHandleCookies"));
    EXPECT_TRUE(r->setValueForKey(Value(true), "HTTPShouldUsePipelining"));
    EXPECT_TRUE(r->setValueForKey(Value(3u), "networkServiceType"));
    EXPECT_TRUE(r->setValueForKey(Value(10.0), "timeoutInterval"));
    EXPECT_FALSE(r->allowsCellularAccess());
    EXPECT_EQ(r->cachePolicy(), NSURLRequestReloadIgnoringLocalCacheData);
    EXPECT_FALSE(r->HTTPShouldHandleCookies());
    EXPECT_TRUE(r->HTTPShouldUsePipelining());
    EXPECT_EQ(r->networkServiceType(), NSURLNetworkServiceTypeBackground);
    EXPECT_EQ(r->timeoutInterval(), 10.0);
    EXPECT_EQ(r->valueForKey("timeoutInterval").doubleValue(), 10.0);
    EXPECT_EQ(r->valueForKey("cachePolicy").integerValue(), 1);
    EXPECT_FALSE(r->valueForKey("HTTPShouldHandleCookies").boolValue());
    EXPECT_TRUE(r->valueForKey("URL").isNil());
    EXPECT_FALSE(r->setValueForKey(Value(1), "URL"));
    EXPECT_FALSE(r->setValueForKey(Value("10"), "timeoutInterval"));
    EXPECT_EQ(r->timeoutInterval(), 10.0);
}

TEST(NSURLRequestTest, ArchivesAndRestoresWithSecureCoding) {
    auto r = request("http://127.0.0.1:8080/p?q=1");
    r->setHTTPMethod("POST");
    r->setValue("v", "X-H");
    r->setHTTPBody(NSData::fromString("body"));
    r->setTimeoutInterval(15);
    r->setCachePolicy(NSURLRequestReloadIgnoringLocalAndRemoteCacheData);
    r->setHTTPShouldHandleCookies(false);
    auto data = NSKeyedArchiver::archivedDataWithRootObject(Value(r), true, nullptr);
    ASSERT_TRUE(data);
    Ref<NSError> error;
    auto back =
        NSKeyedUnarchiver::unarchivedObjectOfClass("NSURLRequest", *data, &error).objectAs<NSURLRequest>();
    ASSERT_TRUE(back) << (error ? error->description() : "");
    EXPECT_TRUE(back->isEqual(*r));
    EXPECT_EQ(back->className(), "NSMutableURLRequest");
    EXPECT_EQ(back->URL()->absoluteString(), "http://127.0.0.1:8080/p?q=1");
    EXPECT_EQ(back->HTTPBody()->toString(), "body");
}

TEST(NSURLRequestTest, DamagedArchivesDecodeToNothingOrSomethingHarmless) {
    auto r = request();
    r->setValue("v", "X-H");
    auto data = NSKeyedArchiver::archivedDataWithRootObject(Value(r), true, nullptr);
    ASSERT_TRUE(data);
    std::string text = data->toString();
    for (unsigned seed = 0; seed < 200; ++seed) {
        std::string damaged = text;
        std::size_t pos = (seed * 7919) % damaged.size();
        damaged[pos] = static_cast<char>(seed);
        damaged.resize(damaged.size() - (seed % 5) * 10);
        auto value =
            NSKeyedUnarchiver::unarchivedObjectOfClass("NSURLRequest", NSData::fromString(damaged), nullptr);
        if (auto back = value.objectAs<NSURLRequest>()) {
            EXPECT_FALSE(back->HTTPMethod().empty());
        }
    }
}

}  // namespace
