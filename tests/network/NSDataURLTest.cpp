#include "network/NSData+URL.h"

#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "dispatch/Dispatch.h"
#include "network/NSURLCache.h"
#include "tests/support/LoopbackHTTPServer.h"
#include "tests/support/TestSupport.h"

using testsupport::ScriptedReply;

namespace {

class DataWithContentsOfURLTest : public ::testing::Test {
  protected:
    void SetUp() override { NSURLCache::setSharedURLCache(make<NSURLCache>(0, 0, std::nullopt)); }
    void TearDown() override { NSURLCache::setSharedURLCache(nullptr); }
    testsupport::LoopbackHTTPServer server;
};

TEST_F(DataWithContentsOfURLTest, LoadsHTTPBodies) {
    server.setReply("/pic.png", ScriptedReply::text("PNGDATA", 200, "image/png"));
    Ref<NSError> error;
    auto data = dataWithContentsOfURL(NSURL::URLWithString(server.url("/pic.png")), &error);
    ASSERT_TRUE(data);
    EXPECT_EQ(data->toString(), "PNGDATA");
    EXPECT_FALSE(error);
}

TEST_F(DataWithContentsOfURLTest, ErrorStatusesAndTransportErrorsGiveNothing) {
    server.setReply("/missing", ScriptedReply::text("nope", 404));
    server.setReply("/broken", ScriptedReply::text("oops", 500));
    Ref<NSError> error;
    EXPECT_FALSE(dataWithContentsOfURL(NSURL::URLWithString(server.url("/missing")), &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), NSURLErrorFileDoesNotExist);
    EXPECT_FALSE(dataWithContentsOfURL(NSURL::URLWithString(server.url("/broken")), &error));
    EXPECT_EQ(error->code(), NSURLErrorBadServerResponse);
    auto cut = ScriptedReply::text("0123456789");
    cut.truncateAt = 3;
    server.setReply("/cut", cut);
    EXPECT_FALSE(dataWithContentsOfURL(NSURL::URLWithString(server.url("/cut")), &error));
    EXPECT_EQ(error->code(), NSURLErrorNetworkConnectionLost);
    EXPECT_FALSE(dataWithContentsOfURL(NSURL::URLWithString("ftp://127.0.0.1/x"), &error));
    EXPECT_EQ(error->code(), NSURLErrorUnsupportedURL);
    EXPECT_FALSE(dataWithContentsOfURL(nullptr, &error));
    EXPECT_FALSE(dataWithContentsOfURL(nullptr));
}

TEST_F(DataWithContentsOfURLTest, ReadsFileURLs) {
    testsupport::TemporaryDirectory dir;
    std::ofstream(dir.file("a.bin"), std::ios::binary) << std::string("a\0b", 3);
    auto data = dataWithContentsOfURL(NSURL::fileURLWithPath(dir.file("a.bin")));
    ASSERT_TRUE(data);
    EXPECT_EQ(data->length(), 3u);
    Ref<NSError> error;
    EXPECT_FALSE(dataWithContentsOfURL(NSURL::fileURLWithPath(dir.file("none")), &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), NSCocoaErrorDomain);
    EXPECT_EQ(error->code(), 260);
}

TEST_F(DataWithContentsOfURLTest, WorksOnGlobalQueuesAtOnce) {
    server.setDefaultHandler(
        [](const testsupport::RecordedRequest& r) { return ScriptedReply::text(r.path); });
    auto group = dispatch_group_create();
    std::atomic<int> good{0};
    for (int i = 0; i < 16; ++i) {
        dispatch_group_async(group, dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_DEFAULT), [&, i] {
            std::string path = "/g" + std::to_string(i);
            auto data = dataWithContentsOfURL(NSURL::URLWithString(server.url(path)));
            if (data && data->toString() == path) ++good;
        });
    }
    EXPECT_EQ(dispatch_group_wait(group, dispatch_time(DISPATCH_TIME_NOW, 20 * NSEC_PER_SEC)), 0);
    EXPECT_EQ(good.load(), 16);
}

}  // namespace
