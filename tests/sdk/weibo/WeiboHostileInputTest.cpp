// Callbacks and transfers the app cannot trust: malformed URLs, missing, foreign, garbage,
// truncated and randomly mutated archives. Each is refused (or, where it still reads as a
// well-formed answer, delivered once) without a crash or hang.

#include <gtest/gtest.h>

#include "foundation/NSKeyedArchiver.h"
#include "foundation/NSUUID.h"
#include "tests/sdk/weibo/WeiboTestSupport.h"

using namespace weibotest;
using namespace detail::weibo;

namespace {

class WeiboHostileInputTest : public RegisteredWeiboTest {
  protected:
    void SetUp() override {
        RegisteredWeiboTest::SetUp();
        id = NSUUID::UUID()->UUIDString();
        url = NSURL::URLWithString(WeiboAppStandIn::callbackURL(kAppKey, "response", id));
    }
    bool deliver(const NSData& bytes) {
        weibo->writeRawTransfer(bytes);
        std::size_t before = delegate.calls();
        bool handled = WeiboSDK::handleOpenURL(url, &delegate);
        EXPECT_EQ(delegate.calls() - before, handled ? 1u : 0u);
        return handled;
    }
    NSData validResponse() {
        auto response = make<WBAuthorizeResponse>();
        response->setRequestID(id);
        response->setAccessToken(std::string("token"));
        response->setUserID(std::string("42"));
        response->setUserInfo(Dictionary{{"a", Array{Value(1), Value("two")}}});
        return *encodeEnvelope(response, kOriginWeibo, kAppKey, "");
    }

    std::string id;
    Ref<NSURL> url;
};

}  // namespace

TEST_F(WeiboHostileInputTest, MalformedCallbackURLsAreRefused) {
    weibo->writeRawTransfer(validResponse());
    std::string scheme = std::string("wb") + kAppKey;
    for (const std::string& text :
         {scheme + "://response", scheme + "://response?id=" + id, scheme + "://response?sdkversion=3.1.3",
          scheme + "://response?id=not-a-uuid&sdkversion=3.1.3",
          scheme + "://response?id=" + id + "&sdkversion=",
          scheme + "://other?id=" + id + "&sdkversion=3.1.3",
          scheme + "://response/x?id=" + id + "&sdkversion=1", scheme + "://?id=" + id + "&sdkversion=1",
          std::string("wb1111111111://response?id=") + id + "&sdkversion=1",
          std::string("weibosdk://response?id=") + id + "&sdkversion=1",
          std::string("wb://response?id=") + id + "&sdkversion=1"}) {
        auto u = NSURL::URLWithString(text);
        if (!u) continue;
        EXPECT_FALSE(WeiboSDK::handleOpenURL(u, &delegate)) << text;
    }
    EXPECT_EQ(delegate.calls(), 0u);
    // The well-formed one still works afterwards.
    EXPECT_TRUE(WeiboSDK::handleOpenURL(url, &delegate));
}

TEST_F(WeiboHostileInputTest, MissingOrMismatchedTransfersAreRefused) {
    EXPECT_FALSE(WeiboSDK::handleOpenURL(url, &delegate));
    // An answer to another request id.
    auto other = make<WBAuthorizeResponse>();
    other->setRequestID(NSUUID::UUID()->UUIDString());
    EXPECT_FALSE(deliver(*encodeEnvelope(other, kOriginWeibo, kAppKey, "")));
    // For another app key.
    auto mine = make<WBAuthorizeResponse>();
    mine->setRequestID(id);
    EXPECT_FALSE(deliver(*encodeEnvelope(mine, kOriginWeibo, "1111111111", "")));
    // Our own request echoed back.
    EXPECT_FALSE(deliver(*encodeEnvelope(mine, kOriginApp, kAppKey, "")));
    // A request where a response belongs, and the other way round.
    auto request = WBAuthorizeRequest::request();
    EXPECT_FALSE(deliver(*encodeEnvelope(request, kOriginWeibo, kAppKey, "")));
    auto requestURL = NSURL::URLWithString(WeiboAppStandIn::callbackURL(kAppKey, "request", id));
    weibo->writeRawTransfer(*encodeEnvelope(mine, kOriginWeibo, kAppKey, ""));
    EXPECT_FALSE(WeiboSDK::handleOpenURL(requestURL, &delegate));
    // A message object where a response belongs.
    EXPECT_FALSE(deliver(*encodeEnvelope(WBMessageObject::message(), kOriginWeibo, kAppKey, "")));
    EXPECT_EQ(delegate.calls(), 0u);
}

TEST_F(WeiboHostileInputTest, ArchivesOfTheWrongShapeAreRefused) {
    EXPECT_FALSE(deliver(NSData()));
    EXPECT_FALSE(deliver(NSData::fromString("garbage")));
    EXPECT_FALSE(deliver(*NSKeyedArchiver::archivedDataWithRootObject(Array{Value(1)})));
    EXPECT_FALSE(deliver(*NSKeyedArchiver::archivedDataWithRootObject(Value("text"))));
    EXPECT_FALSE(deliver(*NSKeyedArchiver::archivedDataWithRootObject(Dictionary{{"origin", "weibo"}})));
    // Fields of the wrong types.
    EXPECT_FALSE(deliver(*NSKeyedArchiver::archivedDataWithRootObject(
        Dictionary{{"transferObject", "x"}, {"origin", "weibo"}, {"app", Dictionary{{"appKey", kAppKey}}}})));
    auto mine = make<WBAuthorizeResponse>();
    mine->setRequestID(id);
    EXPECT_FALSE(deliver(*NSKeyedArchiver::archivedDataWithRootObject(Dictionary{
        {"transferObject", Value(mine)}, {"origin", 5}, {"app", Dictionary{{"appKey", kAppKey}}}})));
    EXPECT_FALSE(deliver(*NSKeyedArchiver::archivedDataWithRootObject(
        Dictionary{{"transferObject", Value(mine)}, {"origin", "weibo"}, {"app", "3904718265"}})));
    // A class the transfer may not carry.
    auto withForeign =
        NSKeyedArchiver::archivedDataWithRootObject(Dictionary{{"transferObject", Value(NSUUID::UUID())},
                                                               {"origin", "weibo"},
                                                               {"app", Dictionary{{"appKey", kAppKey}}}});
    if (withForeign) {
        EXPECT_FALSE(deliver(*withForeign));
    }
    EXPECT_EQ(delegate.calls(), 0u);
}

TEST_F(WeiboHostileInputTest, TruncatedArchivesAreRefused) {
    NSData valid = validResponse();
    for (std::size_t n = 0; n < valid.length(); n += 7)
        EXPECT_FALSE(deliver(valid.subdataWithRange(0, n))) << n;
    EXPECT_TRUE(deliver(valid));
}

TEST_F(WeiboHostileInputTest, RandomlyMutatedArchivesNeverCrash) {
    std::string valid = validResponse().toString();
    int handled = 0;
    for (unsigned seed = 0; seed < 400; ++seed) {
        if (deliver(NSData::fromString(testsupport::mutate(valid, seed)))) ++handled;
    }
    EXPECT_LT(handled, 400);
    for (const auto& r : delegate.responses) EXPECT_EQ(r->requestID(), id);
}

TEST_F(WeiboHostileInputTest, MutatedCallbackURLsNeverCrash) {
    std::string base = WeiboAppStandIn::callbackURL(kAppKey, "response", id);
    for (unsigned seed = 0; seed < 300; ++seed) {
        weibo->writeRawTransfer(validResponse());
        auto u = NSURL::URLWithString(testsupport::mutate(base, seed));
        if (!u) continue;
        std::size_t before = delegate.calls();
        bool handled = WeiboSDK::handleOpenURL(u, &delegate);
        EXPECT_EQ(delegate.calls() - before, handled ? 1u : 0u);
    }
}

TEST_F(WeiboHostileInputTest, TheStandInReportsGarbageFromTheApp) {
    weibo->writeRawTransfer(NSData::fromString("junk"));
    SystemOtherApps::openURL(NSURL::URLWithString("weibosdk://request?id=" + id + "&sdkversion=3.1.3"));
    ASSERT_TRUE(waitForStandIn(1));
    auto got = weibo->received().at(0);
    EXPECT_FALSE(got.request);
    EXPECT_FALSE(got.error.empty());
    SystemOtherApps::openURL(NSURL::URLWithString("weibosdk://request?id=nope"));
    ASSERT_TRUE(waitForStandIn(2));
    EXPECT_FALSE(weibo->received().at(1).request);
}
