// A video's page against the stand-in server: the description arrives by a plain request, the
// link opens outside the app only once it is there, and a link that is no address opens nothing.

#include <gtest/gtest.h>

#include "information/VideoDetailViewController.h"
#include "tests/information/InformationTestSupport.h"
#include "uikit/UIApplication.h"

using namespace infotest;

namespace {

class VideoDetailViewControllerTest : public InformationServerTest {
  protected:
    void SetUp() override {
        InformationServerTest::SetUp();
        application = make<UIApplication>();
    }
    void TearDown() override {
        application = nullptr;
        InformationServerTest::TearDown();
    }
    Ref<UIApplication> application;
};

TEST_F(VideoDetailViewControllerTest, ShowsTheDescriptionAndOpensTheLinkOutside) {
    auto detail = make<VideoDetailViewController>();
    detail->videoURL = VideoDetailViewController::detailURLForVideoId(3);
    ASSERT_TRUE(detail->videoURL);
    EXPECT_NE(detail->videoURL->absoluteString().find("video_id=3"), std::string::npos);
    detail->videoTitle = "标题";
    detail->view();
    // Before the reply there is no link: a tap opens nothing.
    EXPECT_FALSE(detail->openVideo());
    ASSERT_TRUE(waitUntil([&] { return detail->video_link.has_value(); }));
    EXPECT_EQ(detail->titleLabel.lock()->text(), "标题");
    EXPECT_FALSE(detail->descTextView.lock()->text().empty());
    EXPECT_FALSE(detail->bofangButton.lock()->isUserInteractionEnabled());
    EXPECT_TRUE(detail->openVideo());
    auto opened = UIApplication::sharedApplication()->openedURLs();
    ASSERT_FALSE(opened.empty());
    EXPECT_EQ(opened.back()->absoluteString(), *detail->video_link);
}

TEST_F(VideoDetailViewControllerTest, BadRepliesAndBadLinksOpenNothing) {
    auto detail = make<VideoDetailViewController>();
    detail->view();
    std::size_t opened = UIApplication::sharedApplication()->openedURLs().size();
    for (const char* body : {"", "not json", "[1,2]", "{\"video_link\": 5}"}) {
        std::string text = body;
        detail->showDetail(NSData::fromString(text));
        EXPECT_FALSE(detail->video_link);
    }
    std::string reply = "{\"video_link\": \"ht tp://\\u0001 bad\", \"video_view\": 4}";
    detail->showDetail(NSData::fromString(reply));
    EXPECT_TRUE(detail->video_link);
    EXPECT_EQ(detail->viewLabel.lock()->text(), "4");
    EXPECT_FALSE(detail->openVideo());
    EXPECT_EQ(UIApplication::sharedApplication()->openedURLs().size(), opened);
}

}  // namespace
