#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>

#include "DevServerTestClient.h"

using namespace devservertest;

namespace {

class RecordingTest : public ServerTest {};

TEST_F(RecordingTest, QueryParametersAreDecodedInOrder) {
    get(api("user/login.do?username=%E6%94%B9%20a&password=p%2Bq&flag&list%5B%5D=1&list%5B%5D=2"),
        {"User-Agent: App/1.0 (Phone; iOS 9.0; Scale/2.00)", "Accept-Language: en;q=1, zh-Hans;q=0.9"});
    auto recorded = server.requests();
    ASSERT_EQ(recorded.size(), 1u);
    const auto& r = recorded[0];
    EXPECT_EQ(r.method, "GET");
    EXPECT_EQ(r.path, "/trasselin/user/login.do");
    EXPECT_EQ(r.normalizedPath, "/trasselin/user/login.do");
    ASSERT_EQ(r.query.size(), 5u);
    EXPECT_EQ(r.query[0], (std::pair<std::string, std::string>("username", "改 a")));
    EXPECT_EQ(r.query[1].second, "p+q");
    EXPECT_EQ(r.query[2], (std::pair<std::string, std::string>("flag", "")));
    EXPECT_EQ(r.query[3].first, "list[]");
    EXPECT_EQ(r.queryParam("list[]"), "2");
    EXPECT_EQ(r.header("user-agent"), "App/1.0 (Phone; iOS 9.0; Scale/2.00)");
    EXPECT_EQ(r.header("Accept-Language"), "en;q=1, zh-Hans;q=0.9");
    EXPECT_FALSE(r.header("X-None"));
    EXPECT_FALSE(r.formParam("username"));
}

TEST_F(RecordingTest, FormBodiesAndMultipartPartsAreKept) {
    postForm(api("user/register.do"), "code=246810&nickname=%E6%96%B0&password=a%20b&username=13912345678");
    postFile(api("upload/upload.do"), samplePNG(), "question_image", "image/png");
    auto recorded = server.requests();
    ASSERT_EQ(recorded.size(), 2u);
    EXPECT_EQ(recorded[0].method, "POST");
    EXPECT_EQ(recorded[0].formParam("nickname"), "新");
    EXPECT_EQ(recorded[0].formParam("password"), "a b");
    EXPECT_EQ(recorded[0].param("username"), "13912345678");
    EXPECT_EQ(recorded[0].body, "code=246810&nickname=%E6%96%B0&password=a%20b&username=13912345678");
    ASSERT_EQ(recorded[1].parts.size(), 1u);
    const auto* part = recorded[1].part("file");
    ASSERT_NE(part, nullptr);
    EXPECT_EQ(part->filename, "question_image");
    EXPECT_EQ(part->contentType, "image/png");
    EXPECT_EQ(part->content, samplePNG());
    EXPECT_TRUE(recorded[1].header("Content-Type")->rfind("multipart/form-data; boundary=Boundary+", 0) == 0);
}

TEST_F(RecordingTest, RequestsToAPathAndClearing) {
    get(api("user/getverifycode.do?tel=13912345678"));
    get(server.baseURL() + "trasselin//user/getverifycode.do?tel=13912345679");
    get(api("user/login.do"));
    get(api("no/such.do"));
    EXPECT_EQ(server.requests().size(), 4u);
    auto codes = server.requestsTo("user/getverifycode.do");
    ASSERT_EQ(codes.size(), 2u);
    EXPECT_EQ(codes[1].path, "/trasselin//user/getverifycode.do");
    EXPECT_EQ(server.requestsTo("/trasselin/no/such.do").size(), 1u);
    server.clearRequests();
    EXPECT_TRUE(server.requests().empty());
    EXPECT_FALSE(server.waitForRequests(1, std::chrono::milliseconds(20)));
}

TEST_F(RecordingTest, ParallelClientsAreAllAnsweredAndRecorded) {
    const int threads = 8, each = 25;
    std::atomic<int> good{0};
    std::vector<std::thread> clients;
    for (int t = 0; t < threads; ++t) {
        clients.emplace_back([&, t] {
            std::string token = server.loginToken("13800000001");
            for (int i = 0; i < each; ++i) {
                std::string name = "t" + std::to_string(t) + "-" + std::to_string(i);
                auto reply = get(api("car/uploadtuninglist.do?car_id=1&jsontxt=%7B%7D&list_name=" + name +
                                     "&tuninglist_id=0&user_token=" + token));
                if (reply.resultCode() == 0) ++good;
            }
        });
    }
    for (auto& c : clients) c.join();
    EXPECT_EQ(good.load(), threads * each);
    EXPECT_TRUE(server.waitForRequests(threads * each, std::chrono::seconds(1)));
    EXPECT_EQ(server.requests().size(), static_cast<std::size_t>(threads * each));
    // Every list got its own id.
    auto lists = server.tuningLists(1);
    ASSERT_EQ(lists.size(), static_cast<std::size_t>(threads * each));
    std::set<long> ids;
    for (const auto& l : lists) ids.insert(l.tuninglist_id);
    EXPECT_EQ(ids.size(), lists.size());
}

TEST_F(RecordingTest, ControlsAndTokensChangeWhileServing) {
    std::atomic<bool> done{false};
    std::thread changer([&] {
        while (!done) {
            devserver::RouteControl c;
            c.status = 500;
            server.setRouteControl("user/getverifycode.do", c);
            server.expireTokens();
            server.clearRouteControls();
            server.loginToken("13800000002");
            server.clearRequests();
        }
    });
    for (int i = 0; i < 100; ++i) {
        auto reply = get(api("user/getverifycode.do?tel=13912345678"));
        EXPECT_TRUE(reply.status == 200 || reply.status == 500);
    }
    done = true;
    changer.join();
}

}  // namespace
