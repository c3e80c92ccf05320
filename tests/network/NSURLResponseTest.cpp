#include "network/NSURLResponse.h"

#include <gtest/gtest.h>

#include "foundation/NSKeyedArchiver.h"
#include "tests/support/TestSupport.h"

namespace {

Ref<NSHTTPURLResponse> response(Dictionary headers, long status = 200,
                                const std::string& url = "http://h/a/b.json") {
    return make<NSHTTPURLResponse>(NSURL::URLWithString(url), status, "HTTP/1.1", headers);
}

TEST(NSHTTPURLResponseTest, DerivesTypeEncodingAndLengthFromTheHeaders) {
    auto r = response({{"Content-Type", "Application/JSON; charset=\"UTF-8\""}, {"Content-Length", "42"}});
    EXPECT_EQ(r->MIMEType(), "application/json");
    EXPECT_EQ(r->textEncodingName(), "utf-8");
    EXPECT_EQ(r->expectedContentLength(), 42);
    EXPECT_EQ(r->statusCode(), 200);
}

TEST(NSHTTPURLResponseTest, MissingOrBadFieldsGiveUnknowns) {
    auto r = response({});
    EXPECT_FALSE(r->MIMEType());
    EXPECT_FALSE(r->textEncodingName());
    EXPECT_EQ(r->expectedContentLength(), -1);
    for (const char* bad : {"-5", "12abc", "", " ", "99999999999999999999", "+3", "0x10"}) {
        EXPECT_EQ(response({{"Content-Length", bad}})->expectedContentLength(), -1) << bad;
    }
    EXPECT_EQ(response({{"Content-Length", " 7 "}})->expectedContentLength(), 7);
    EXPECT_EQ(response({{"Content-Type", "text/html"}})->textEncodingName(), std::nullopt);
    EXPECT_EQ(response({{"Content-Type", "; charset=latin1"}})->MIMEType(), std::nullopt);
}

TEST(NSHTTPURLResponseTest, WellKnownNamesTakeTheirUsualSpelling) {
    auto r = response({{"etag", "\"1\""}, {"content-type", "text/plain"}, {"x-custom-thing", "y"}});
    auto all = r->allHeaderFields();
    EXPECT_EQ(all["ETag"].stringValue(), "\"1\"");
    EXPECT_EQ(all["Content-Type"].stringValue(), "text/plain");
    EXPECT_EQ(all["x-custom-thing"].stringValue(), "y");
    EXPECT_EQ(r->valueForHTTPHeaderField("X-CUSTOM-THING"), "y");
    EXPECT_EQ(r->valueForHTTPHeaderField("Etag"), "\"1\"");
}

TEST(NSHTTPURLResponseTest, FieldsDifferingOnlyInCaseAreJoined) {
    auto r = response({{"X-A", "1"}, {"x-a", "2"}});
    EXPECT_EQ(r->allHeaderFields().count(), 1u);
    EXPECT_EQ(r->valueForHTTPHeaderField("x-A"), "1, 2");
}

TEST(NSHTTPURLResponseTest, StatusPhrasesAreThePlatformsLowercaseOnes) {
    EXPECT_EQ(NSHTTPURLResponse::localizedStringForStatusCode(200), "no error");
    EXPECT_EQ(NSHTTPURLResponse::localizedStringForStatusCode(404), "not found");
    EXPECT_EQ(NSHTTPURLResponse::localizedStringForStatusCode(500), "internal server error");
    EXPECT_EQ(NSHTTPURLResponse::localizedStringForStatusCode(304), "not modified");
    EXPECT_EQ(NSHTTPURLResponse::localizedStringForStatusCode(299), "success");
    EXPECT_EQ(NSHTTPURLResponse::localizedStringForStatusCode(399), "redirected");
    EXPECT_EQ(NSHTTPURLResponse::localizedStringForStatusCode(499), "client error");
    EXPECT_EQ(NSHTTPURLResponse::localizedStringForStatusCode(599), "server error");
    EXPECT_EQ(NSHTTPURLResponse::localizedStringForStatusCode(-3), "server error");
    EXPECT_EQ(NSHTTPURLResponse::localizedStringForStatusCode(150), "informational");
}

TEST(NSHTTPURLResponseTest, SuggestedFilename) {
    EXPECT_EQ(response({})->suggestedFilename(), "b.json");
    EXPECT_EQ(response({{"Content-Disposition", "attachment; filename=\"../../etc/report.pdf\""}})
                  ->suggestedFilename(),
              "report.pdf");
    EXPECT_EQ(response({{"Content-Type", "image/png"}}, 200, "http://h/picture")->suggestedFilename(),
              "picture.png");
    EXPECT_EQ(response({}, 200, "http://h/")->suggestedFilename(), "Unknown");
    EXPECT_EQ(response({{"Content-Disposition", "attachment; filename=\"..\""}}, 200, "http://h/x.txt")
                  ->suggestedFilename(),
              "x.txt");
}

TEST(NSHTTPURLResponseTest, PlainResponseKeepsWhatItWasGiven) {
    auto r = make<NSURLResponse>(NSURL::URLWithString("file:///tmp/x.txt"), "text/plain", -20, "utf-8");
    EXPECT_EQ(r->expectedContentLength(), -1);
    EXPECT_EQ(r->MIMEType(), "text/plain");
    EXPECT_EQ(r->suggestedFilename(), "x.txt");
}

TEST(NSHTTPURLResponseTest, ArchivesWithSecureCoding) {
    auto r = response({{"Content-Type", "text/html; charset=gbk"}, {"ETag", "\"e\""}}, 203);
    auto data = NSKeyedArchiver::archivedDataWithRootObject(Value(r), true, nullptr);
    ASSERT_TRUE(data);
    auto back = NSKeyedUnarchiver::unarchivedObjectOfClasses({"NSURLResponse"}, *data, nullptr)
                    .objectAs<NSHTTPURLResponse>();
    ASSERT_TRUE(back);
    EXPECT_TRUE(back->isEqual(*r));
    EXPECT_EQ(back->statusCode(), 203);
    EXPECT_EQ(back->textEncodingName(), "gbk");
}

TEST(NSHTTPURLResponseTest, HostileHeaderValuesParseWithoutHarm) {
    const std::string seed = "multipart/form-data; boundary=\"a;b\\\"c\"; charset=utf-8; filename=\"x.bin\"";
    for (unsigned i = 0; i < 500; ++i) {
        std::string v = testsupport::mutate(seed, i);
        auto r = response({{"Content-Type", v}, {"Content-Disposition", v}, {"Content-Length", v}});
        (void)r->suggestedFilename();
        if (r->MIMEType()) {
            EXPECT_EQ(r->MIMEType()->find(';'), std::string::npos);
        }
        EXPECT_GE(r->expectedContentLength(), -1);
    }
}

}  // namespace
