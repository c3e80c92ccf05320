// The request, response and message classes survive the keyed archive the transfer uses, and a
// secure decoding refuses what does not belong.

#include <gtest/gtest.h>

#include "foundation/NSKeyedArchiver.h"
#include "sdk/weibo/bridge/WeiboSDK.h"

namespace {

template <class T>
Ref<T> roundTrip(const Ref<NSObject>& object) {
    auto data = NSKeyedArchiver::archivedDataWithRootObject(Value(object), true, nullptr);
    EXPECT_TRUE(data);
    if (!data) return nullptr;
    Ref<NSError> error;
    Value back = NSKeyedUnarchiver::unarchivedObjectOfClasses(
        {"WBBaseRequest", "WBBaseResponse", "WBMessageObject", "WBImageObject"}, *data, &error);
    EXPECT_FALSE(error) << (error ? error->localizedDescription() : "");
    return back.objectAs<T>();
}

}  // namespace

TEST(WBCodingTest, RequestsKeepTheirFieldsAndIDs) {
    auto share = WBSendMessageToWeiboRequest::requestWithMessage(
        WBMessageObject::message(), WBAuthorizeRequest::request(), std::string("t"));
    share->message()->setText(std::string("hi"));
    auto image = WBImageObject::object();
    image->setImageData(NSData::fromString("jpeg"));
    share->message()->setImageObject(image);
    share->authRequest()->setRedirectURI(std::string("https://x/oauth2/default.html"));
    share->authRequest()->setScope(std::string("all"));
    share->setUserInfo(Dictionary{{"n", 1}});
    auto back = roundTrip<WBSendMessageToWeiboRequest>(share);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->requestID(), share->requestID());
    EXPECT_EQ(back->accessToken(), "t");
    EXPECT_EQ(back->message()->text(), "hi");
    EXPECT_EQ(back->message()->imageObject()->imageData().toString(), "jpeg");
    EXPECT_EQ(back->authRequest()->requestID(), share->authRequest()->requestID());
    EXPECT_EQ(back->authRequest()->scope(), "all");
    EXPECT_EQ(back->userInfo()["n"].intValue(), 1);
}

TEST(WBCodingTest, EveryRequestHasItsOwnID) {
    auto a = WBAuthorizeRequest::request();
    auto b = WBAuthorizeRequest::request();
    EXPECT_EQ(a->requestID().size(), 36u);
    EXPECT_NE(a->requestID(), b->requestID());
    EXPECT_EQ(a->className(), "WBAuthorizeRequest");
    EXPECT_TRUE(a->userInfo().isNil());
}

TEST(WBCodingTest, ResponsesKeepTheirFields) {
    auto auth = WBAuthorizeResponse::response();
    auth->setStatusCode(-3);
    auth->setAccessToken(std::string("a"));
    auth->setRefreshToken(std::string("r"));
    auth->setUserID(std::string("u"));
    auth->setExpirationDate(NSDate::dateWithTimeIntervalSince1970(1700000000));
    auth->setRequestID("id");
    auto back = roundTrip<WBAuthorizeResponse>(auth);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->statusCode(), -3);
    EXPECT_EQ(back->accessToken(), "a");
    EXPECT_EQ(back->refreshToken(), "r");
    EXPECT_EQ(back->userID(), "u");
    ASSERT_TRUE(back->expirationDate());
    EXPECT_EQ(back->expirationDate()->timeIntervalSince1970(), 1700000000);

    auto pay = WBPaymentResponse::response();
    pay->setPayStatusCode(std::string("1"));
    EXPECT_EQ(roundTrip<WBPaymentResponse>(pay)->payStatusCode(), "1");
    EXPECT_TRUE(roundTrip<WBSDKAppRecommendResponse>(WBSDKAppRecommendResponse::response()));
    auto empty = roundTrip<WBAuthorizeResponse>(WBAuthorizeResponse::response());
    ASSERT_TRUE(empty);
    EXPECT_FALSE(empty->accessToken());
    EXPECT_FALSE(empty->expirationDate());
}

TEST(WBCodingTest, ImageLimits) {
    auto image = WBImageObject::object();
    EXPECT_FALSE(image->isValid());
    image->setImageData(NSData::dataWithLength(WBImageObject::kMaxImageDataLength));
    EXPECT_TRUE(image->isValid());
    image->setImageData(NSData::dataWithLength(WBImageObject::kMaxImageDataLength + 1));
    EXPECT_FALSE(image->isValid());
    auto message = WBMessageObject::message();
    EXPECT_FALSE(message->isValid());
    message->setImageObject(image);
    EXPECT_FALSE(message->isValid());
    message->setImageObject(nullptr);
    message->setText(std::string(WBMessageObject::kMaxTextLength + 1, 'x'));
    EXPECT_FALSE(message->isValid());
}
