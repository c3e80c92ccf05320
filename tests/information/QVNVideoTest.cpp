// The video list call: the envelope checked by the record itself, paging, and rows of the wrong
// kind.

#include <gtest/gtest.h>

#include "information/QVNVideo.h"
#include "tests/information/InformationTestSupport.h"

using namespace infotest;

namespace {

struct VideoResult {
    Ref<NSError> error;
    std::optional<QVNVideo::List> videos;
};

class QVNVideoTest : public InformationServerTest {
  protected:
    VideoResult fetch(long index) {
        return await<VideoResult>([&](auto done) {
            QVNVideo::fetchVideoListIndex(
                NSNumber::numberWithLong(index),
                [done](const Ref<NSError>& e, const std::optional<QVNVideo::List>& v) {
                    done(VideoResult{e, v});
                });
        });
    }
};

TEST_F(QVNVideoTest, ListPagesByTheLastVideo) {
    VideoResult first = fetch(0);
    ASSERT_FALSE(first.error);
    ASSERT_TRUE(first.videos);
    ASSERT_EQ(first.videos->size(), 10u);
    auto request = lastRequestTo("video/getvideolist.do");
    EXPECT_EQ(request.queryParam("video_id"), "0");
    EXPECT_EQ(request.queryParam("video_category"), "0");
    const auto& video = first.videos->front();
    EXPECT_EQ(video->identifier()->integerValue(), 15);
    EXPECT_TRUE(video->video_title() && video->video_pic() && video->video_time() && video->video_view());
    VideoResult second = fetch(first.videos->back()->identifier()->integerValue());
    ASSERT_TRUE(second.videos);
    EXPECT_EQ(second.videos->size(), 5u);
    VideoResult end = fetch(1);
    ASSERT_TRUE(end.videos);
    EXPECT_TRUE(end.videos->empty());
}

TEST_F(QVNVideoTest, ARepliesWithoutAZeroResultCodeAreTheErrorTenThousand) {
    for (auto body :
         {devserver::RouteControl::Body::NoResultCode, devserver::RouteControl::Body::ResultCodeAsString}) {
        devserver::RouteControl control;
        control.body = body;
        server.setRouteControl("video/getvideolist.do", control);
        VideoResult result = fetch(0);
        ASSERT_TRUE(result.error);
        EXPECT_EQ(result.error->code(), 10000);
        EXPECT_EQ(result.error->domain(), "QVNAPI");
        EXPECT_FALSE(result.videos);
    }
    devserver::RouteControl drop;
    drop.dropConnection = true;
    server.setRouteControl("video/getvideolist.do", drop);
    VideoResult failed = fetch(0);
    ASSERT_TRUE(failed.error);
    EXPECT_NE(failed.error->code(), 10000);
}

TEST(QVNVideoRecordTest, ValuesOfTheWrongKindAreLeftOut) {
    Dictionary row{{"video_id", "7"}, {"video_title", 5}, {"video_view", 3}, {"video_pic", "http://x/p.png"}};
    QVNVideo video{Value(row)};
    EXPECT_FALSE(video.identifier());
    EXPECT_FALSE(video.video_title());
    EXPECT_EQ(video.video_view()->integerValue(), 3);
    EXPECT_EQ(video.video_pic(), "http://x/p.png");
    QVNVideo empty{Value()};
    EXPECT_FALSE(empty.identifier());
}

}  // namespace
