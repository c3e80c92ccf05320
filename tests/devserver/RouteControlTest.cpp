#include <gtest/gtest.h>

#include <thread>

#include "DevServerTestClient.h"

using namespace devservertest;
using devserver::RouteControl;

namespace {

class RouteControlTest : public ServerTest {
  protected:
    std::string login() { return api("user/login.do?username=13800000001&password=123456"); }
    static RouteControl body(RouteControl::Body kind) {
        RouteControl c;
        c.body = kind;
        return c;
    }
};

TEST_F(RouteControlTest, StatusIsReplaced) {
    RouteControl c;
    c.status = 503;
    server.setRouteControl("user/login.do", c);
    auto reply = get(login());
    EXPECT_EQ(reply.status, 503);
    EXPECT_EQ(reply.resultCode(), 0);  // the body stays
}

TEST_F(RouteControlTest, DelayHoldsTheReply) {
    RouteControl c;
    c.delay = std::chrono::milliseconds(300);
    server.setRouteControl("user/login.do", c);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(get(login()).status, 200);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
    // A client that gives up earlier sees a time-out.
    RequestOptions quick;
    quick.timeout = std::chrono::milliseconds(100);
    EXPECT_NE(fetch(login(), quick).curlCode, 0);
}

TEST_F(RouteControlTest, StopEndsADelayedReplyEarly) {
    RouteControl c;
    c.delay = std::chrono::seconds(30);
    server.setRouteControl("user/login.do", c);
    std::thread client([&] { fetch(login()); });
    ASSERT_TRUE(server.waitForRequests(1, std::chrono::seconds(5)));
    auto start = std::chrono::steady_clock::now();
    server.stop();
    client.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

TEST_F(RouteControlTest, EmptyBody) {
    server.setRouteControl("user/login.do", body(RouteControl::Body::Empty));
    auto reply = get(login());
    EXPECT_EQ(reply.status, 200);
    EXPECT_TRUE(reply.body.empty());
    EXPECT_EQ(reply.header("Content-Length"), "0");
}

TEST_F(RouteControlTest, BodyThatIsNotJSON) {
    server.setRouteControl("user/login.do", body(RouteControl::Body::NotJSON));
    auto reply = get(login());
    EXPECT_FALSE(reply.body.empty());
    EXPECT_TRUE(reply.json().isNil());
    EXPECT_EQ(reply.header("Content-Type"), "application/json; charset=utf-8");
}

TEST_F(RouteControlTest, TopLevelArray) {
    server.setRouteControl("user/login.do", body(RouteControl::Body::TopLevelArray));
    Value json = get(login()).json();
    ASSERT_TRUE(json.isArray());
    EXPECT_EQ(json[0]["user_id"].integerValue(), 1);
}

TEST_F(RouteControlTest, NoResultCode) {
    server.setRouteControl("user/login.do", body(RouteControl::Body::NoResultCode));
    Value json = get(login()).json();
    EXPECT_TRUE(json["resultCode"].isNil());
    EXPECT_EQ(json["user_id"].integerValue(), 1);
}

TEST_F(RouteControlTest, ResultCodeAsString) {
    server.setRouteControl("user/login.do", body(RouteControl::Body::ResultCodeAsString));
    Value json = get(login()).json();
    ASSERT_TRUE(json["resultCode"].isString());
    EXPECT_EQ(json["resultCode"].stringValue(), "0");
    server.setRouteControl("user/getuser.do", body(RouteControl::Body::ResultCodeAsString));
    EXPECT_EQ(get(api("user/getuser.do?token=x&user_id=1")).json()["resultCode"].stringValue(), "10003");
}

TEST_F(RouteControlTest, ContentTypeIsReplaced) {
    RouteControl c;
    c.contentType = "text/plain";
    server.setRouteControl("user/login.do", c);
    auto reply = get(login());
    EXPECT_EQ(reply.header("Content-Type"), "text/plain");
    EXPECT_EQ(reply.resultCode(), 0);
}

TEST_F(RouteControlTest, DropConnectionSendsNothing) {
    RouteControl c;
    c.dropConnection = true;
    server.setRouteControl("user/login.do", c);
    auto reply = get(login());
    EXPECT_NE(reply.curlCode, 0);
    EXPECT_EQ(reply.status, 0);
    auto raw = rawExchange(server.port(),
                           "GET /trasselin/user/login.do HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    EXPECT_TRUE(raw.closedByPeer);
    EXPECT_EQ(raw.received, "");
    // Other routes still answer, and the server keeps serving.
    EXPECT_EQ(get(api("user/getverifycode.do?tel=13912345678")).resultCode(), 0);
}

TEST_F(RouteControlTest, DropConnectionOverTLS) {
    devserver::DevServer::Options options;
    options.enableTLS = true;
    devserver::DevServer tls(options);
    ASSERT_TRUE(tls.start()) << tls.lastError();
    RouteControl c;
    c.dropConnection = true;
    tls.setRouteControl("user/login.do", c);
    RequestOptions o;
    o.caPEM = tls.tlsCertificatePEM();
    auto reply = fetch(tls.tlsBaseURL() + "trasselin/user/login.do?username=a&password=b", o);
    EXPECT_NE(reply.curlCode, 0);
    EXPECT_EQ(reply.status, 0);
}

TEST_F(RouteControlTest, TimesLimitsTheControlToTheFirstRequests) {
    RouteControl c;
    c.status = 500;
    c.times = 2;
    server.setRouteControl("user/login.do", c);
    EXPECT_EQ(get(login()).status, 500);
    EXPECT_EQ(get(login()).status, 500);
    EXPECT_EQ(get(login()).status, 200);
}

TEST_F(RouteControlTest, PrefixControlsAndClearing) {
    RouteControl c;
    c.status = 502;
    server.setRouteControl("user/*", c);
    EXPECT_EQ(get(login()).status, 502);
    EXPECT_EQ(get(api("user/getverifycode.do?tel=13912345678")).status, 502);
    EXPECT_EQ(get(api("car/gettuninglistbyid.do?tuninglist_id=1")).status, 200);
    // An exact control wins over a prefix one.
    RouteControl exact;
    exact.status = 418;
    server.setRouteControl("user/login.do", exact);
    EXPECT_EQ(get(login()).status, 418);
    server.clearRouteControl("user/login.do");
    EXPECT_EQ(get(login()).status, 502);
    server.clearRouteControls();
    EXPECT_EQ(get(login()).status, 200);
}

TEST_F(RouteControlTest, ControlsApplyToPicturesAndOnTheSecondRoot) {
    RouteControl c;
    c.status = 404;
    server.setRouteControl("/pictures/avatar-1", c);
    EXPECT_EQ(get(server.pictureURL("avatar-1")).status, 404);
    server.setRouteControl("user/login.do", body(RouteControl::Body::NoResultCode));
    auto second = get(server.secondRoot() + "user/login.do?username=13800000001&password=123456");
    EXPECT_TRUE(second.json()["resultCode"].isNil());
}

}  // namespace
