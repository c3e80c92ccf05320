#include "net/UIImageView+HKNetworking.h"

#include <gtest/gtest.h>

#include "graphics/CGImage.h"
#include "net/UIButton+HKNetworking.h"
#include "tests/net/NetTestSupport.h"
#include "tests/support/TestSupport.h"
#include "uikit/UIApplication.h"

namespace {

using testsupport::ScriptedReply;

std::string pngOfSize(std::size_t width, std::size_t height, std::uint8_t shade = 0x7f) {
    std::vector<std::uint8_t> pixels(width * height * 4, shade);
    auto image = UIImage::imageWithCGImage(
        CGImageCreate(width, height, 8, 32, width * 4, CGColorSpaceCreateDeviceRGB(),
                      kCGBitmapByteOrder32Little | kCGImageAlphaPremultipliedFirst,
                      CGDataProviderCreateWithData(NSData(std::move(pixels)))));
    return UIImagePNGRepresentation(image)->toString();
}

// Width in pixels (the serialiser decodes at the screen's scale).
double pixels(const Ref<UIImage>& image) {
    return image ? image->size().width * image->scale() : 0;
}

ScriptedReply png(std::size_t width, std::size_t height, double delay = 0) {
    auto reply = ScriptedReply::text(pngOfSize(width, height), 200, "image/png");
    reply.delayBeforeHeaders = delay;
    return reply;
}

// Each test gets a cache of its own, so that no picture leaks between tests.
class ImageBindingTest : public nettest::NetTest {
  protected:
    void SetUp() override {
        NetTest::SetUp();
        cache = make<HKImageCache>();
        UIImageView_HKNetworking::setSharedImageCache(cache);
        UIButton_HKNetworking::setSharedImageCache(nullptr);
    }
    void TearDown() override {
        UIImageView_HKNetworking::hk_sharedImageRequestOperationQueue()->waitUntilAllOperationsAreFinished();
        UIButton_HKNetworking::hk_sharedImageRequestOperationQueue()->waitUntilAllOperationsAreFinished();
        UIImageView_HKNetworking::setSharedImageCache(nullptr);
        NetTest::TearDown();
    }
    Ref<NSURLRequest> request(const std::string& path,
                              NSURLRequestCachePolicy policy = NSURLRequestUseProtocolCachePolicy) {
        return NSURLRequest::requestWithURL(NSURL::URLWithString(server.url(path)), policy, 10);
    }
    static bool waitForIdle(const Ref<UIImageView>& view) {
        return testsupport::pumpMainRunLoopUntil(
            [&] { return UIImageView_HKNetworking::hk_imageRequestOperation(view) == nullptr; }, 10);
    }

    Ref<HKImageCache> cache;
};

}  // namespace

TEST_F(ImageBindingTest, LoadShowsThePictureAndCachesIt) {
    server.setReply("/a.png", png(4, 3));
    auto view = make<UIImageView>();
    auto placeholder = UIImage::imageWithData(NSData::fromString(pngOfSize(1, 1)));
    UIImageView_HKNetworking::setImageWithURLRequest(view, request("/a.png"), placeholder, nullptr, nullptr);
    EXPECT_EQ(view->image(), placeholder);
    EXPECT_NE(UIImageView_HKNetworking::hk_imageRequestOperation(view), nullptr);
    ASSERT_TRUE(waitForIdle(view));
    ASSERT_NE(view->image(), placeholder);
    EXPECT_EQ(pixels(view->image()), 4);
    EXPECT_NE(cache->cachedImageForRequest(request("/a.png")), nullptr);

    // A second load comes from the cache, at once and without a request.
    auto other = make<UIImageView>();
    UIImageView_HKNetworking::setImageWithURLRequest(other, request("/a.png"), nullptr, nullptr, nullptr);
    EXPECT_EQ(other->image(), view->image());
    EXPECT_EQ(server.requestCount(), 1u);
}

TEST_F(ImageBindingTest, CacheHitWithSuccessBlockLeavesTheViewAlone) {
    auto image = UIImage::imageWithData(NSData::fromString(pngOfSize(2, 2)));
    cache->cacheImage(image, request("/hit.png"));
    auto view = make<UIImageView>();
    Ref<UIImage> given;
    Ref<NSURLRequest> givenRequest = request("/x");
    UIImageView_HKNetworking::setImageWithURLRequest(
        view, request("/hit.png"), nullptr,
        [&](const Ref<NSURLRequest>& r, const Ref<NSHTTPURLResponse>&, const Ref<UIImage>& i) {
            givenRequest = r;
            given = i;
        },
        nullptr);
    EXPECT_EQ(given, image);
    EXPECT_EQ(givenRequest, nullptr);
    EXPECT_EQ(view->image(), nullptr);
}

TEST_F(ImageBindingTest, ReloadPoliciesSkipTheCacheButStillFillIt) {
    server.setReply("/r.png", png(2, 2));
    cache->cacheImage(UIImage::imageWithData(NSData::fromString(pngOfSize(9, 9))), request("/r.png"));
    for (auto policy :
         {NSURLRequestReloadIgnoringLocalCacheData, NSURLRequestReloadIgnoringLocalAndRemoteCacheData}) {
        EXPECT_EQ(cache->cachedImageForRequest(request("/r.png", policy)), nullptr);
        auto view = make<UIImageView>();
        UIImageView_HKNetworking::setImageWithURLRequest(view, request("/r.png", policy), nullptr, nullptr,
                                                         nullptr);
        ASSERT_TRUE(waitForIdle(view));
        EXPECT_EQ(pixels(view->image()), 2);
    }
    EXPECT_EQ(server.requestCount(), 2u);
    EXPECT_EQ(pixels(cache->cachedImageForRequest(request("/r.png"))), 2);
}

TEST_F(ImageBindingTest, ALateResultForAnOlderURLIsCachedButNotShown) {
    server.setReply("/slow.png", png(5, 5, 0.3));
    server.setReply("/fast.png", png(7, 7));
    auto view = make<UIImageView>();
    UIImageView_HKNetworking::setImageWithURLRequest(view, request("/slow.png"), nullptr, nullptr, nullptr);
    UIImageView_HKNetworking::setImageWithURLRequest(view, request("/fast.png"), nullptr, nullptr, nullptr);
    ASSERT_TRUE(waitForIdle(view));
    EXPECT_EQ(pixels(view->image()), 7);
    UIImageView_HKNetworking::hk_sharedImageRequestOperationQueue()->waitUntilAllOperationsAreFinished();
    testsupport::drainMainRunLoop();
    EXPECT_EQ(pixels(view->image()), 7);
}

TEST_F(ImageBindingTest, UndecodablePictureGivesNoImageAndKeepsThePlaceholder) {
    server.setReply("/broken.png", ScriptedReply::text("not a picture", 200, "image/png"));
    auto placeholder = UIImage::imageWithData(NSData::fromString(pngOfSize(1, 1)));
    auto view = make<UIImageView>();
    UIImageView_HKNetworking::setImageWithURLRequest(view, request("/broken.png"), placeholder, nullptr,
                                                     nullptr);
    ASSERT_TRUE(waitForIdle(view));
    EXPECT_EQ(view->image(), placeholder);
    EXPECT_EQ(cache->cachedImageForRequest(request("/broken.png")), nullptr);
}

TEST_F(ImageBindingTest, FailuresReachTheBlockAndKeepThePlaceholder) {
    server.setReply("/missing.png", ScriptedReply::text("nope", 404, "text/plain"));
    server.setReply("/wrong", ScriptedReply::text("<html>", 200, "text/html"));
    auto placeholder = UIImage::imageWithData(NSData::fromString(pngOfSize(1, 1)));
    for (const char* path : {"/missing.png", "/wrong"}) {
        auto view = make<UIImageView>();
        Ref<NSError> error;
        UIImageView_HKNetworking::setImageWithURLRequest(view, request(path), placeholder, nullptr,
                                                         [&](const Ref<NSURLRequest>&,
                                                             const Ref<NSHTTPURLResponse>&,
                                                             const Ref<NSError>& e) { error = e; });
        ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return error != nullptr; })) << path;
        EXPECT_EQ(view->image(), placeholder);
        EXPECT_EQ(cache->cachedImageForRequest(request(path)), nullptr);
    }
}

TEST_F(ImageBindingTest, MutatedPicturesNeverCrash) {
    std::string valid = pngOfSize(6, 6);
    for (unsigned seed = 0; seed < 25; ++seed) {
        std::string body = seed == 0 ? valid.substr(0, valid.size() / 2) : testsupport::mutate(valid, seed);
        server.setReply("/m.png", ScriptedReply::text(body, 200, "image/png"));
        auto view = make<UIImageView>();
        bool done = false;
        UIImageView_HKNetworking::setImageWithURLRequest(
            view, request("/m.png", NSURLRequestReloadIgnoringLocalCacheData), nullptr,
            [&](auto&, auto&, auto&) { done = true; }, [&](auto&, auto&, auto&) { done = true; });
        ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return done; })) << seed;
    }
}

TEST_F(ImageBindingTest, CancelStopsTheLoad) {
    server.setReply("/c.png", png(3, 3, 0.3));
    auto view = make<UIImageView>();
    bool called = false;
    UIImageView_HKNetworking::setImageWithURLRequest(
        view, request("/c.png"), nullptr, [&](auto&, auto&, auto&) { called = true; },
        [&](auto&, auto&, auto&) { called = true; });
    auto operation = UIImageView_HKNetworking::hk_imageRequestOperation(view);
    UIImageView_HKNetworking::cancelImageRequestOperation(view);
    EXPECT_EQ(UIImageView_HKNetworking::hk_imageRequestOperation(view), nullptr);
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return operation->isFinished(); }));
    testsupport::drainMainRunLoop();
    EXPECT_FALSE(called);
    EXPECT_EQ(view->image(), nullptr);
}

TEST_F(ImageBindingTest, MemoryWarningEmptiesTheSharedCache) {
    auto shared = HKImageCache::sharedCache();
    shared->cacheImage(UIImage::imageWithData(NSData::fromString(pngOfSize(1, 1))), request("/w.png"));
    ASSERT_NE(shared->cachedImageForRequest(request("/w.png")), nullptr);
    UIApplication::sharedApplication()->simulateMemoryWarning();
    testsupport::drainMainRunLoop();
    EXPECT_EQ(shared->cachedImageForRequest(request("/w.png")), nullptr);
}

TEST_F(ImageBindingTest, SerializerIsPerViewWithASharedDefault) {
    auto a = make<UIImageView>();
    auto b = make<UIImageView>();
    EXPECT_EQ(UIImageView_HKNetworking::imageResponseSerializer(a),
              UIImageView_HKNetworking::imageResponseSerializer(b));
    auto own = HKImageResponseSerializer::serializer();
    UIImageView_HKNetworking::setImageResponseSerializer(a, own);
    EXPECT_EQ(UIImageView_HKNetworking::imageResponseSerializer(a), own);
    EXPECT_NE(UIImageView_HKNetworking::imageResponseSerializer(b), own);
    EXPECT_NE(UIButton_HKNetworking::imageResponseSerializer(make<UIButton>()),
              UIImageView_HKNetworking::imageResponseSerializer(b));
}

// ---- buttons ------------------------------------------------------------------------------------------
TEST_F(ImageBindingTest, ButtonLoadsPerStateAndSharesTheImageViewCache) {
    server.setReply("/n.png", png(3, 3));
    server.setReply("/bg.png", png(8, 8));
    auto button = make<UIButton>();
    UIButton_HKNetworking::setImageForStateWithURL(button, UIControlStateSelected,
                                                   NSURL::URLWithString(server.url("/n.png")));
    UIButton_HKNetworking::setBackgroundImageForStateWithURL(button, UIControlStateNormal,
                                                             NSURL::URLWithString(server.url("/bg.png")));
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] {
        return button->imageForState(UIControlStateSelected) &&
               button->backgroundImageForState(UIControlStateNormal);
    }));
    EXPECT_EQ(pixels(button->imageForState(UIControlStateSelected)), 3);
    EXPECT_EQ(button->imageForState(UIControlStateNormal), nullptr);
    EXPECT_EQ(pixels(button->backgroundImageForState(UIControlStateNormal)), 8);
    // The load stays in its slot; the request asked for pictures.
    ASSERT_NE(UIButton_HKNetworking::hk_imageRequestOperationForState(button, UIControlStateSelected),
              nullptr);
    for (const auto& r : server.requests())
        EXPECT_EQ(r.header("Accept"), std::optional<std::string>("image/*"));
    EXPECT_NE(cache->cachedImageForRequest(request("/bg.png")), nullptr);
}

TEST_F(ImageBindingTest, CombinedStatesShareTheNormalSlot) {
    server.setReply("/slow.png", png(2, 2, 0.3));
    auto button = make<UIButton>();
    UIButton_HKNetworking::setImageForStateWithURL(button, UIControlStateNormal,
                                                   NSURL::URLWithString(server.url("/slow.png")));
    auto first = UIButton_HKNetworking::hk_imageRequestOperationForState(button, UIControlStateNormal);
    ASSERT_NE(first, nullptr);
    UIButton_HKNetworking::setImageForStateWithURL(button, UIControlStateHighlighted | UIControlStateDisabled,
                                                   NSURL::URLWithString(server.url("/slow.png?2")));
    EXPECT_TRUE(first->isCancelled());
    EXPECT_NE(UIButton_HKNetworking::hk_imageRequestOperationForState(button, 3), first);
    EXPECT_EQ(UIButton_HKNetworking::hk_imageRequestOperationForState(button, 3),
              UIButton_HKNetworking::hk_imageRequestOperationForState(button, 0));
    EXPECT_EQ(UIButton_HKNetworking::hk_imageRequestOperationForState(button, UIControlStateSelected),
              nullptr);
}

TEST_F(ImageBindingTest, ButtonFailureGetsOnlyTheError) {
    server.setReply("/bad.png", ScriptedReply::text("x", 500, "image/png"));
    auto button = make<UIButton>();
    Ref<NSError> error;
    UIButton_HKNetworking::setBackgroundImageForStateWithURLRequest(
        button, UIControlStateNormal, request("/bad.png"), nullptr, nullptr,
        [&](const Ref<NSError>& e) { error = e; });
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return error != nullptr; }));
    EXPECT_EQ(button->backgroundImageForState(UIControlStateNormal), nullptr);
    UIButton_HKNetworking::cancelBackgroundImageRequestOperationForState(button, UIControlStateNormal);
    EXPECT_EQ(UIButton_HKNetworking::hk_backgroundImageRequestOperationForState(button, UIControlStateNormal),
              nullptr);
}

TEST_F(ImageBindingTest, ButtonCacheCanBeItsOwn) {
    auto own = make<HKImageCache>();
    UIButton_HKNetworking::setSharedImageCache(own);
    EXPECT_EQ(UIButton_HKNetworking::sharedImageCache(), own);
    EXPECT_EQ(UIImageView_HKNetworking::sharedImageCache(), cache);
    UIButton_HKNetworking::setSharedImageCache(nullptr);
    EXPECT_EQ(UIButton_HKNetworking::sharedImageCache(), cache);
}
