#include "sdk/wechat/WXMediaMessage.h"

#include <gtest/gtest.h>

#include "graphics/CGContext.h"
#include "graphics/UIGraphics.h"
#include "graphics/UIImage.h"
#include "sdk/wechat/WXApiRequests.h"

TEST(WXMediaMessageTest, ThumbImageIsItsJPEGAtQualitySixTenths) {
    UIGraphicsBeginImageContextWithOptions({40, 30}, true, 1);
    CGContextSetRGBFillColor(UIGraphicsGetCurrentContext(), 0.1, 0.5, 0.9, 1);
    UIRectFill({0, 0, 40, 30});
    auto image = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();

    auto message = WXMediaMessage::message();
    EXPECT_FALSE(message->thumbData());
    message->setThumbImage(image);
    ASSERT_TRUE(message->thumbData());
    EXPECT_EQ(message->thumbData()->view(), UIImageJPEGRepresentation(image, 0.6)->view());
    EXPECT_NE(message->thumbData()->view(), UIImageJPEGRepresentation(image, 0.3)->view());
    auto decoded = UIImage::imageWithData(*message->thumbData());
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->size().width, 40);
}

TEST(WXMediaMessageTest, ANullThumbImageChangesNothing) {
    auto message = WXMediaMessage::message();
    message->setThumbImage(nullptr);
    EXPECT_FALSE(message->thumbData());
    message->setThumbData(NSData::fromString("x"));
    message->setThumbImage(nullptr);
    ASSERT_TRUE(message->thumbData());
    EXPECT_EQ(message->thumbData()->toString(), "x");
}

TEST(WXMediaMessageTest, FreshObjectsAreEmpty) {
    auto message = WXMediaMessage::message();
    EXPECT_FALSE(message->mediaObject());
    EXPECT_EQ(message->title(), "");
    auto object = WXImageObject::object();
    EXPECT_TRUE(object->imageData().empty());
    message->setMediaObject(object);
    EXPECT_EQ(message->mediaObject(), object);
    auto request = make<SendMessageToWXReq>();
    EXPECT_FALSE(request->bText());
    EXPECT_EQ(request->scene(), WXSceneSession);
}
