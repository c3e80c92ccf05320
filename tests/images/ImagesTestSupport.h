#pragma once
// Shared set-up of the remote-image tests: a picture host on loopback, the shared image cache
// pointed at a fresh folder and emptied, and helpers that pump the main run loop until a
// load has answered.

#include <gtest/gtest.h>

#include <string>

#include "foundation/NSRunLoop.h"
#include "foundation/NSURL.h"
#include "images/WIImageCache.h"
#include "images/WIWebImageDownloader.h"
#include "images/WIWebImageManager.h"
#include "tests/support/ImageHost.h"
#include "tests/support/MainLoop.h"
#include "tests/support/TestSupport.h"

namespace imagestest {

// A per-test prefix for paths, so that lists kept by the shared manager (failed URLs) and the
// shared URL cache never carry over from one test to the next in the same process.
inline std::string uniquePath(const std::string& name) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string prefix = info ? std::string("/") + info->test_suite_name() + "/" + info->name() : "/t";
    return prefix + "/" + name;
}

class RemoteImageTest : public ::testing::Test {
  protected:
    void SetUp() override {
        cache = WIImageCache::sharedImageCache();
        cache->setDiskCachePath(folder.file("cache"));
        cache->clearMemory();
        cache->setMaxMemoryCost(0);
        WIWebImageDownloader::sharedDownloader()->setSuspended(false);
        WIWebImageDownloader::sharedDownloader()->setMaxConcurrentDownloads(2);
    }
    void TearDown() override {
        WIWebImageManager::sharedManager()->cancelAll();
        // Let queued main-queue answers run before the host goes.
        testsupport::drainMainRunLoop();
    }

    Ref<NSURL> hostURL(const std::string& path) { return NSURL::URLWithString(host.url(path)); }
    // Registers a generated PNG at a per-test path and answers its URL.
    Ref<NSURL> servePNG(const std::string& name, int width = 8, int height = 6, unsigned seed = 1) {
        std::string path = uniquePath(name);
        host.setPicture(path, testsupport::ImageHost::pngPicture(width, height, seed));
        return hostURL(path);
    }
    std::string pathOf(const Ref<NSURL>& url) { return url->path(); }
    bool pumpUntil(const std::function<bool()>& condition, double seconds = 10) {
        return testsupport::pumpMainRunLoopUntil(condition, seconds);
    }

    testsupport::TemporaryDirectory folder;
    testsupport::ImageHost host;
    Ref<WIImageCache> cache;
};

}  // namespace imagestest
