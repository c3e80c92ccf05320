// Image views, buttons and annotation views loading pictures by URL through the shared manager:
// placeholders, slots and reuse, the nil-URL error, delayed placeholders, animation frames,
// highlighted pictures, per-state buttons, views destroyed mid-load.

#include <gtest/gtest.h>

#include <vector>

#include "images/MKAnnotationView+WebCache.h"
#include "images/UIButton+WebCache.h"
#include "images/UIImageView+HighlightedWebCache.h"
#include "images/UIImageView+WebCache.h"
#include "images/UIView+WebCacheOperation.h"
#include "tests/images/ImagesTestSupport.h"

using imagestest::RemoteImageTest;
using testsupport::ImageHost;

namespace {

class CategoriesTest : public RemoteImageTest {
  protected:
    Ref<UIImage> placeholder = UIImage::imageWithData(NSData::fromString(ImageHost::pngPicture(2, 2, 99)));
    std::size_t widthOf(const Ref<UIImage>& image) { return image ? CGImageGetWidth(image->CGImage()) : 0; }
};

struct CountingOperation : WIWebImageOperation {
    int cancels = 0;
    void cancel() override { ++cancels; }
};

}  // namespace

TEST_F(CategoriesTest, OperationRegistrySlots) {
    auto view = make<UIView>();
    auto a = std::make_shared<CountingOperation>();
    auto b = std::make_shared<CountingOperation>();
    UIView_WebCacheOperation::wi_setImageLoadOperation(*view, a, "slot");
    UIView_WebCacheOperation::wi_setImageLoadOperation(*view, b, "slot");
    EXPECT_EQ(a->cancels, 1);
    EXPECT_EQ(b->cancels, 0);
    UIView_WebCacheOperation::wi_removeImageLoadOperationWithKey(*view, "slot");
    EXPECT_TRUE(UIView_WebCacheOperation::wi_imageLoadOperationsForKey(*view, "slot").empty());
    EXPECT_EQ(b->cancels, 0);
    UIView_WebCacheOperation::wi_setImageLoadOperations(*view, {a, b}, "list");
    UIView_WebCacheOperation::wi_cancelImageLoadOperationWithKey(*view, "list");
    EXPECT_EQ(a->cancels, 2);
    EXPECT_EQ(b->cancels, 1);
    UIView_WebCacheOperation::wi_cancelImageLoadOperationWithKey(*view, "empty");
}

TEST_F(CategoriesTest, ImageViewShowsPlaceholderThenPicture) {
    auto url = servePNG("p.png", 14, 3);
    auto view = make<UIImageView>();
    std::vector<WICacheSource> sources;
    UIImageView_WebCache::wi_setImageWithURL(view, url, placeholder,
                                             [&](const Ref<UIImage>& image, const Ref<NSError>& error,
                                                 WICacheSource source, const Ref<NSURL>& imageURL) {
                                                 EXPECT_TRUE(image);
                                                 EXPECT_FALSE(error);
                                                 EXPECT_EQ(imageURL, url);
                                                 sources.push_back(source);
                                             });
    EXPECT_EQ(view->image(), placeholder);
    EXPECT_EQ(UIImageView_WebCache::wi_imageURL(*view), url);
    ASSERT_TRUE(pumpUntil([&] { return !sources.empty(); }));
    EXPECT_EQ(widthOf(view->image()), 14u);
    EXPECT_EQ(sources[0], WICacheSourceNone);

    // From memory: shown and completed before the call returns; the handle is still kept.
    auto second = make<UIImageView>();
    bool done = false;
    UIImageView_WebCache::wi_setImageWithURL(
        second, url, nullptr,
        [&](const Ref<UIImage>&, const Ref<NSError>&, WICacheSource source, const Ref<NSURL>&) {
            done = true;
            EXPECT_EQ(source, WICacheSourceMemory);
        });
    EXPECT_TRUE(done);
    EXPECT_EQ(widthOf(second->image()), 14u);
    EXPECT_EQ(UIView_WebCacheOperation::wi_imageLoadOperationsForKey(*second, "UIImageViewImageLoad").size(),
              1u);
}

TEST_F(CategoriesTest, AReusedViewNeverShowsTheEarlierPicture) {
    auto slow = servePNG("slow.png", 30, 30, 1);
    auto fast = servePNG("fast.png", 5, 5, 2);
    host.closeGate(slow->path());
    auto view = make<UIImageView>();
    int firstCalls = 0, secondCalls = 0;
    UIImageView_WebCache::wi_setImageWithURL(
        view, slow, placeholder,
        [&](const Ref<UIImage>&, const Ref<NSError>&, WICacheSource, const Ref<NSURL>&) { ++firstCalls; });
    ASSERT_TRUE(pumpUntil([&] { return host.requestCount(slow->path()) >= 1; }));
    UIImageView_WebCache::wi_setImageWithURL(
        view, fast, placeholder,
        [&](const Ref<UIImage>&, const Ref<NSError>&, WICacheSource, const Ref<NSURL>&) { ++secondCalls; });
    ASSERT_TRUE(pumpUntil([&] { return secondCalls == 1; }));
    host.openGate(slow->path());
    testsupport::pumpMainRunLoop(0.3);
    EXPECT_EQ(widthOf(view->image()), 5u);
    EXPECT_EQ(firstCalls, 0);
    EXPECT_EQ(UIImageView_WebCache::wi_imageURL(*view), fast);
}

TEST_F(CategoriesTest, NilURLShowsThePlaceholderAndReportsTheError) {
    auto view = make<UIImageView>();
    view->setImage(UIImage::imageWithData(NSData::fromString(ImageHost::pngPicture(9, 9, 1))));
    Ref<NSError> error;
    WICacheSource source = WICacheSourceMemory;
    UIImageView_WebCache::wi_setImageWithURL(
        view, nullptr, placeholder,
        [&](const Ref<UIImage>& image, const Ref<NSError>& e, WICacheSource s, const Ref<NSURL>& u) {
            EXPECT_FALSE(image);
            EXPECT_FALSE(u);
            error = e;
            source = s;
        });
    EXPECT_EQ(view->image(), placeholder);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), "WIWebImageErrorDomain");
    EXPECT_EQ(error->code(), -1);
    EXPECT_EQ(error->localizedDescription(), "Trying to load a nil url");
    EXPECT_EQ(source, WICacheSourceNone);
    EXPECT_FALSE(UIImageView_WebCache::wi_imageURL(*view));
}

TEST_F(CategoriesTest, DelayedPlaceholderAppearsOnlyOnFailure) {
    auto previous = UIImage::imageWithData(NSData::fromString(ImageHost::pngPicture(9, 9, 1)));
    auto view = make<UIImageView>();
    view->setImage(previous);
    auto missing = hostURL(imagestest::uniquePath("missing.png"));
    bool done = false;
    UIImageView_WebCache::wi_setImageWithURL(
        view, missing, placeholder, WILoadDelayPlaceholder,
        [&](const Ref<UIImage>&, const Ref<NSError>& e, WICacheSource, const Ref<NSURL>&) {
            EXPECT_TRUE(e);
            done = true;
        });
    EXPECT_EQ(view->image(), previous);
    ASSERT_TRUE(pumpUntil([&] { return done; }));
    EXPECT_EQ(view->image(), placeholder);
}

TEST_F(CategoriesTest, AViewDestroyedMidLoadGetsNothing) {
    auto url = servePNG("gone.png");
    host.closeGate(url->path());
    bool called = false;
    {
        auto view = make<UIImageView>();
        UIImageView_WebCache::wi_setImageWithURL(view, url, nullptr,
                                                 [&](const Ref<UIImage>&, const Ref<NSError>&, WICacheSource,
                                                     const Ref<NSURL>&) { called = true; });
        ASSERT_TRUE(pumpUntil([&] { return host.requestCount(url->path()) >= 1; }));
    }
    host.openGate(url->path());
    ASSERT_TRUE(pumpUntil([&] { return !WIWebImageManager::sharedManager()->isRunning(); }));
    EXPECT_FALSE(called);
    // The picture still reached the cache.
    EXPECT_TRUE(cache->imageFromMemoryCacheForKey(url->absoluteString()));
}

TEST_F(CategoriesTest, PreviousCachedImageServesAsPlaceholder) {
    auto url = servePNG("prev.png", 6, 6);
    auto cachedImage = UIImage::imageWithData(NSData::fromString(host.reply(url->path()).body));
    cache->storeImage(cachedImage, url->absoluteString(), false);
    host.setPicture(url->path(), ImageHost::pngPicture(12, 12, 5));
    host.closeGate(url->path());
    auto view = make<UIImageView>();
    UIImageView_WebCache::wi_setImageWithPreviousCachedImageWithURL(view, url, placeholder,
                                                                    WILoadRefreshCached, nullptr, nullptr);
    EXPECT_EQ(view->image(), cachedImage);
    host.openGate(url->path());
    ASSERT_TRUE(pumpUntil([&] { return widthOf(view->image()) == 12; }));
}

TEST_F(CategoriesTest, AnimationFramesArriveAsTheyLoad) {
    std::vector<Ref<NSURL>> urls{servePNG("f0.png", 4, 4, 1), servePNG("f1.png", 4, 4, 2),
                                 hostURL(imagestest::uniquePath("nope.png")), servePNG("f2.png", 4, 4, 3)};
    auto view = make<UIImageView>();
    UIImageView_WebCache::wi_setAnimationImagesWithURLs(view, urls);
    ASSERT_TRUE(pumpUntil([&] {
        return view->animationImages().size() == 3 && !WIWebImageManager::sharedManager()->isRunning();
    }));
    testsupport::pumpMainRunLoop(0.05);
    EXPECT_EQ(view->animationImages().size(), 3u);  // the failed URL adds no frame
    EXPECT_TRUE(view->isAnimating());
    view->stopAnimating();
    UIImageView_WebCache::wi_cancelCurrentAnimationImagesLoad(*view);
}

TEST_F(CategoriesTest, HighlightedPictureHasItsOwnSlot) {
    auto url = servePNG("hi.png", 7, 7);
    auto normal = servePNG("normal.png", 3, 3);
    auto view = make<UIImageView>();
    host.closeGate(normal->path());
    UIImageView_WebCache::wi_setImageWithURL(view, normal);
    bool done = false;
    UIImageView_HighlightedWebCache::wi_setHighlightedImageWithURL(
        view, url,
        [&](const Ref<UIImage>&, const Ref<NSError>&, WICacheSource, const Ref<NSURL>&) { done = true; });
    ASSERT_TRUE(pumpUntil([&] { return done; }));
    EXPECT_EQ(widthOf(view->highlightedImage()), 7u);
    host.openGate(normal->path());
    ASSERT_TRUE(pumpUntil([&] { return widthOf(view->image()) == 3; }));
}

TEST_F(CategoriesTest, ButtonStatesKeepIndependentSlotsAndURLs) {
    auto normalURL = servePNG("n.png", 4, 4, 1);
    auto selectedURL = servePNG("s.png", 6, 6, 2);
    auto backgroundURL = servePNG("b.png", 8, 8, 3);
    host.closeGate(backgroundURL->path());
    auto button = make<UIButton>();
    int done = 0;
    auto count = [&](const Ref<UIImage>&, const Ref<NSError>&, WICacheSource, const Ref<NSURL>&) { ++done; };
    UIButton_WebCache::wi_setBackgroundImageWithURL(button, backgroundURL, UIControlStateNormal, placeholder,
                                                    count);
    UIButton_WebCache::wi_setImageWithURL(button, normalURL, UIControlStateNormal, placeholder, count);
    UIButton_WebCache::wi_setImageWithURL(button, selectedURL, UIControlStateSelected, placeholder,
                                          WILoadRefreshCached);
    EXPECT_EQ(button->imageForState(UIControlStateNormal), placeholder);
    EXPECT_EQ(button->backgroundImageForState(UIControlStateNormal), placeholder);
    EXPECT_EQ(UIButton_WebCache::wi_imageURLForState(*button, UIControlStateSelected), selectedURL);
    ASSERT_TRUE(pumpUntil([&] {
        return widthOf(button->imageForState(UIControlStateNormal)) == 4 &&
               widthOf(button->imageForState(UIControlStateSelected)) == 6;
    }));
    // The image load of the normal state did not cancel its background load.
    host.openGate(backgroundURL->path());
    ASSERT_TRUE(pumpUntil([&] { return done == 2; }));
    EXPECT_EQ(widthOf(button->backgroundImageForState(UIControlStateNormal)), 8u);

    EXPECT_EQ(UIButton_WebCache::wi_currentImageURL(*button), normalURL);
    button->setSelected(true);
    EXPECT_EQ(UIButton_WebCache::wi_currentImageURL(*button), selectedURL);
    button->setSelected(false);
    button->setHighlighted(true);  // no URL for this state: the normal one answers
    EXPECT_EQ(UIButton_WebCache::wi_currentImageURL(*button), normalURL);

    UIButton_WebCache::wi_setImageWithURL(button, nullptr, UIControlStateSelected);
    EXPECT_FALSE(UIButton_WebCache::wi_imageURLForState(*button, UIControlStateSelected));
    EXPECT_EQ(UIButton_WebCache::imageOperationKeyForState(0), "UIButtonImageOperation0");
    EXPECT_EQ(UIButton_WebCache::backgroundImageOperationKeyForState(4), "UIButtonBackgroundImageOperation4");
}

TEST_F(CategoriesTest, AnnotationViewLoadsItsImage) {
    auto url = servePNG("pin.png", 5, 9);
    auto view = make<MKAnnotationView>();
    bool done = false;
    MKAnnotationView_WebCache::wi_setImageWithURL(
        view, url, placeholder,
        [&](const Ref<UIImage>&, const Ref<NSError>&, WICacheSource, const Ref<NSURL>&) { done = true; });
    EXPECT_EQ(view->image(), placeholder);
    EXPECT_EQ(MKAnnotationView_WebCache::wi_imageURL(*view), url);
    ASSERT_TRUE(pumpUntil([&] { return done; }));
    EXPECT_EQ(widthOf(view->image()), 5u);
    EXPECT_EQ(MKAnnotationView_WebCacheDeprecated::imageURL(*view), url);
}

TEST_F(CategoriesTest, OlderFormsPassThrough) {
    auto url = servePNG("old.png", 3, 5);
    auto view = make<UIImageView>();
    bool done = false;
    UIImageView_WebCacheDeprecated::setImageWithURL(
        view, url, placeholder, [&](const Ref<UIImage>& image, const Ref<NSError>&, WICacheSource) {
            EXPECT_TRUE(image);
            done = true;
        });
    ASSERT_TRUE(pumpUntil([&] { return done; }));
    EXPECT_EQ(UIImageView_WebCacheDeprecated::imageURL(*view), url);
    UIImageView_WebCacheDeprecated::cancelCurrentImageLoad(*view);
    UIImageView_WebCacheDeprecated::setImageWithURL(view, url);
    EXPECT_EQ(widthOf(view->image()), 3u);
}

TEST_F(CategoriesTest, ProgressiveLoadShowsPartialPicturesBeforeCompleting) {
    std::string path = imagestest::uniquePath("big.jpg");
    std::string jpeg = ImageHost::jpegPicture(256, 256, 5, 0.95);
    host.setPicture(path, jpeg);
    host.setTrickle(path, jpeg.size() / 5 + 1, 0.04);
    auto view = make<UIImageView>();
    int completions = 0;
    bool partialSeen = false;
    UIImageView_WebCache::wi_setImageWithURL(
        view, hostURL(path), placeholder, WILoadProgressive,
        [&](const Ref<UIImage>& image, const Ref<NSError>&, WICacheSource, const Ref<NSURL>&) {
            ++completions;
            EXPECT_TRUE(image);
        });
    ASSERT_TRUE(pumpUntil([&] {
        if (completions == 0 && view->image() && view->image() != placeholder) partialSeen = true;
        return completions > 0;
    }));
    EXPECT_TRUE(partialSeen);
    EXPECT_EQ(completions, 1);
    EXPECT_EQ(widthOf(view->image()), 256u);
}

TEST_F(CategoriesTest, AnimatedGIFLandsAsAnAnimatedImage) {
    std::string path = imagestest::uniquePath("anim.gif");
    host.setPicture(path, ImageHost::gifPicture(12, 12, 4, 10));
    auto view = make<UIImageView>();
    bool done = false;
    UIImageView_WebCache::wi_setImageWithURL(
        view, hostURL(path),
        [&](const Ref<UIImage>&, const Ref<NSError>&, WICacheSource, const Ref<NSURL>&) { done = true; });
    ASSERT_TRUE(pumpUntil([&] { return done; }));
    ASSERT_TRUE(view->image());
    EXPECT_EQ(view->image()->images().size(), 4u);
    EXPECT_NEAR(view->image()->duration(), 0.4, 1e-4);
    // From the disk, after a restart of the memory level, it is still animated.
    dispatch_sync(cache->ioQueue(), [] {});  // the store's write has landed
    cache->clearMemory();
    auto again = cache->imageFromDiskCacheForKey(hostURL(path)->absoluteString());
    ASSERT_TRUE(again);
    EXPECT_EQ(again->images().size(), 4u);
}

TEST_F(CategoriesTest, ManyViewsOfOneURLMakeOneFetch) {
    auto url = servePNG("many.png", 10, 10);
    host.closeGate(url->path());
    std::vector<Ref<UIImageView>> views;
    int done = 0;
    for (int i = 0; i < 8; ++i) {
        views.push_back(make<UIImageView>());
        UIImageView_WebCache::wi_setImageWithURL(
            views.back(), url, placeholder,
            [&](const Ref<UIImage>&, const Ref<NSError>&, WICacheSource, const Ref<NSURL>&) { ++done; });
    }
    ASSERT_TRUE(pumpUntil([&] { return host.requestCount(url->path()) >= 1; }));
    host.openGate(url->path());
    ASSERT_TRUE(pumpUntil([&] { return done == 8; }));
    EXPECT_EQ(host.requestCount(url->path()), 1);
    for (const auto& view : views) EXPECT_EQ(widthOf(view->image()), 10u);
}
