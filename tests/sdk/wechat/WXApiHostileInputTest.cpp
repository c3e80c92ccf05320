// Callbacks and transfers the app cannot trust: malformed URLs, missing, foreign, garbage,
// truncated and randomly mutated transfer items. Each is refused (or, where it still reads as a
// well-formed answer, delivered once) without a crash or hang.

#include <gtest/gtest.h>

#include "foundation/NSPropertyListSerialization.h"
#include "sdk/wechat/WXApi.h"
#include "tests/sdk/wechat/WeChatTestSupport.h"

using namespace wechattest;
using namespace detail::wechat;

namespace {

class WXApiHostileInputTest : public WeChatDeviceTest {
  protected:
    void SetUp() override {
        WeChatDeviceTest::SetUp();
        WXApi::registerApp(kAppID);
        transferURL = NSURL::URLWithString(std::string(kAppID) + "://platformId=wechat");
    }

    // Leaves the bytes as WeChat's transfer and hands the callback to the SDK.
    bool deliver(const NSData& bytes) {
        wechat->writeRawTransfer(kAppID, bytes);
        std::size_t before = delegate.calls();
        bool handled = WXApi::handleOpenURL(transferURL, &delegate);
        EXPECT_EQ(delegate.calls() - before, handled ? 1u : 0u);
        return handled;
    }
    bool deliverFields(Dictionary fields) {
        return deliver(*encodeTransfer(std::move(fields), kAppID, kOriginWeChat));
    }

    Ref<NSURL> transferURL;
};

NSData validShowMessageTransfer() {
    auto message = WXMediaMessage::message();
    message->setTitle("t");
    message->setMessageExt("e");
    message->setThumbData(NSData::fromString("thumb"));
    auto image = WXImageObject::object();
    image->setImageData(NSData::fromString("image bytes"));
    message->setMediaObject(image);
    Dictionary fields = Dictionary::mutableDictionary();
    fields.setObject(kKeyKind, int(kKindShowMessageReq));
    addMediaMessage(fields, *message);
    return *encodeTransfer(fields, kAppID, kOriginWeChat);
}

}  // namespace

TEST_F(WXApiHostileInputTest, MalformedCallbackURLsAreRefused) {
    std::string id = kAppID;
    for (const std::string& text :
         {id + "://", id + ":", id + "://platformId=wechat", id + "://platformid=WECHAT", id + "://pay?x=1",
          id + "://unknown/path?code=1", id + ":oauth?code=1", id + "://platformId=wechat/extra",
          std::string("://oauth?code=1"), std::string("oauth?code=1")}) {
        auto url = NSURL::URLWithString(text);
        if (!url) continue;
        EXPECT_FALSE(WXApi::handleOpenURL(url, &delegate)) << text;
    }
    EXPECT_EQ(delegate.calls(), 0u);
}

TEST_F(WXApiHostileInputTest, AMissingTransferIsRefused) {
    EXPECT_FALSE(WXApi::handleOpenURL(transferURL, &delegate));
    // A transfer under another app id's type is not ours either.
    wechat->writeRawTransfer("wx0000000000000001", validShowMessageTransfer());
    EXPECT_FALSE(WXApi::handleOpenURL(transferURL, &delegate));
    EXPECT_EQ(delegate.calls(), 0u);
}

TEST_F(WXApiHostileInputTest, GarbageAndWrongFormatsAreRefused) {
    EXPECT_FALSE(deliver(NSData()));
    EXPECT_FALSE(deliver(NSData::fromString("not a property list")));
    EXPECT_FALSE(deliver(NSData::fromString("bplist00")));
    // The same fields as an XML property list: only the binary form is accepted.
    Dictionary fields{{kKeyOrigin, kOriginWeChat}, {kKeyAppID, kAppID}, {kKeyKind, int(kKindGetMessageReq)}};
    auto xml =
        NSPropertyListSerialization::dataWithPropertyList(fields, NSPropertyListXMLFormat_v1_0, 0, nullptr);
    EXPECT_FALSE(deliver(*xml));
    // A binary list that is not a dictionary.
    auto array = NSPropertyListSerialization::dataWithPropertyList(
        Array{Value(1), Value("x")}, NSPropertyListBinaryFormat_v1_0, 0, nullptr);
    EXPECT_FALSE(deliver(*array));
}

TEST_F(WXApiHostileInputTest, FieldsOfTheWrongKindAreRefused) {
    EXPECT_FALSE(deliverFields(Dictionary{}));                                           // no kind
    EXPECT_FALSE(deliverFields(Dictionary{{kKeyKind, "102"}}));                          // kind as text
    EXPECT_FALSE(deliverFields(Dictionary{{kKeyKind, 102.5}}));                          // kind as real
    EXPECT_FALSE(deliverFields(Dictionary{{kKeyKind, 999}}));                            // unknown kind
    EXPECT_FALSE(deliverFields(Dictionary{{kKeyKind, -1}}));                             // unknown kind
    EXPECT_FALSE(deliverFields(Dictionary{{kKeyKind, int(kKindSendAuthReq)}}));          // the app's own kind
    EXPECT_FALSE(deliverFields(Dictionary{{kKeyKind, 102}, {kKeyErrCode, "0"}}));        // errCode as text
    EXPECT_FALSE(deliverFields(Dictionary{{kKeyKind, 102}, {kKeyErrCode, 1LL << 40}}));  // out of range
    EXPECT_FALSE(deliverFields(Dictionary{{kKeyKind, 101}, {kKeyAuthCode, 5}}));         // code as number
    EXPECT_FALSE(deliverFields(Dictionary{{kKeyKind, 4}, {kKeyMediaType, 7}}));          // unknown media
    EXPECT_FALSE(deliverFields(Dictionary{{kKeyKind, 4}, {kKeyImageData, "text"}}));     // data as text
    EXPECT_FALSE(deliverFields(Dictionary{{kKeyKind, 4}, {kKeyTitle, Array{}}}));        // title as array
    EXPECT_FALSE(deliverFields(Dictionary{{kKeyKind, 4}, {kKeyThumbData, NSData::dataWithLength(1048577)}}));
    EXPECT_FALSE(deliverFields(Dictionary{{kKeyKind, 3}, {kKeyLang, std::string(70000, 'x')}}));
    EXPECT_EQ(delegate.calls(), 0u);
    // Absent optional fields are fine.
    EXPECT_TRUE(deliverFields(Dictionary{{kKeyKind, 102}}));
    ASSERT_EQ(delegate.responses.size(), 1u);
    EXPECT_EQ(delegate.responses[0]->errCode(), 0);
}

TEST_F(WXApiHostileInputTest, TruncatedTransfersAreRefused) {
    NSData valid = validShowMessageTransfer();
    for (std::size_t n = 0; n < valid.length(); n += 3) {
        EXPECT_FALSE(deliver(valid.subdataWithRange(0, n))) << n;
    }
    EXPECT_TRUE(deliver(valid));
}

TEST_F(WXApiHostileInputTest, RandomlyMutatedTransfersNeverCrash) {
    std::string valid = validShowMessageTransfer().toString();
    int handled = 0;
    for (unsigned seed = 0; seed < 400; ++seed) {
        std::string mutated = testsupport::mutate(valid, seed);
        if (deliver(NSData::fromString(mutated))) ++handled;
    }
    // Most mutations break the list; whatever still reads was delivered exactly once (checked
    // in deliver) as one of WeChat's requests.
    EXPECT_LT(handled, 400);
    for (const auto& r : delegate.requests) EXPECT_TRUE(r);
}

TEST_F(WXApiHostileInputTest, MutatedCallbackURLsNeverCrash) {
    std::string base = std::string(kAppID) + "://oauth?code=abc%20def&state=123&errCode=0";
    for (unsigned seed = 0; seed < 300; ++seed) {
        auto url = NSURL::URLWithString(testsupport::mutate(base, seed));
        if (!url) continue;
        std::size_t before = delegate.calls();
        bool handled = WXApi::handleOpenURL(url, &delegate);
        EXPECT_EQ(delegate.calls() - before, handled ? 1u : 0u);
    }
}

TEST_F(WXApiHostileInputTest, AGarbageTransferThroughTheMainLoopIsRefused) {
    wechat->writeRawTransfer(kAppID, NSData::fromString("\x00\x01garbage"));
    wechat->openAppURL(std::string(kAppID) + "://platformId=wechat");
    ASSERT_TRUE(waitForEntries(1));
    EXPECT_FALSE(entries[0].handled);
    EXPECT_EQ(delegate.calls(), 0u);
}
