// Hostile, truncated and randomly mutated requests: the server answers an error or nothing, never
// crashes or hangs, and keeps serving.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "DevServerTestClient.h"
#include "tests/support/TestSupport.h"
#include "tools/devserver/DevServerState.h"

using namespace devservertest;

namespace {

class MalformedRequestTest : public ServerTest {
  protected:
    bool stillServing() { return get(api("user/getverifycode.do?tel=13912345678")).resultCode() == 0; }

    std::string multipartRequest(const std::string& path, const std::string& body,
                                 const std::string& boundary = "Boundary+0123456789ABCDEF") {
        return "POST " + path +
               " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
               "Content-Type: multipart/form-data; boundary=" +
               boundary + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    }
    std::string formRequest(const std::string& path, const std::string& body) {
        return "POST " + path +
               " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
               "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
               std::to_string(body.size()) + "\r\n\r\n" + body;
    }

    // Sends each document from several threads at once; every reply that comes must be HTTP.
    void sendAll(const std::vector<std::string>& documents) {
        std::atomic<std::size_t> next{0};
        std::atomic<int> nonHTTP{0};
        std::vector<std::thread> senders;
        for (int t = 0; t < 8; ++t) {
            senders.emplace_back([&] {
                for (std::size_t i = next++; i < documents.size(); i = next++) {
                    auto raw = rawExchange(server.port(), documents[i], std::chrono::milliseconds(150));
                    if (!raw.received.empty() && raw.received.rfind("HTTP/1.1 ", 0) != 0) ++nonHTTP;
                }
            });
        }
        for (auto& s : senders) s.join();
        EXPECT_EQ(nonHTTP.load(), 0);
    }
};

TEST_F(MalformedRequestTest, BrokenMultipartBodiesAreRefused) {
    const std::string boundary = "Boundary+0123456789ABCDEF";
    const std::string good = multipartBody(boundary, "file", "uploadImage", "image/png", samplePNG());
    const std::vector<std::string> bodies = {
        "",                                          // nothing
        good.substr(0, good.size() / 2),             // cut short
        good.substr(0, good.size() - 4),             // no closing boundary
        "--" + boundary + "\r\n\r\n" + samplePNG(),  // a part without headers
        "--Other\r\nContent-Disposition: form-data; name=\"file\"\r\n\r\nx\r\n--Other--\r\n",
        "garbage that is no multipart at all",
        "--" + boundary + "\r\nContent-Disposition: form-data\r\n\r\nx\r\n--" + boundary +
            "--\r\n",  // no name
    };
    for (const auto& body : bodies) {
        auto raw = rawExchange(server.port(), multipartRequest("/trasselin/upload/upload.do", body));
        ASSERT_TRUE(raw.connected);
        EXPECT_TRUE(raw.received.rfind("HTTP/1.1 ", 0) == 0) << body.size();
        // Either the HTTP layer refuses it or the route answers an error; never a stored picture.
        EXPECT_EQ(raw.received.find("\"resultCode\":0"), std::string::npos) << raw.received;
    }
    // A multipart type without a boundary.
    auto raw = rawExchange(server.port(),
                           "POST /trasselin/upload/upload.do HTTP/1.1\r\nHost: x\r\nConnection: close\r\n"
                           "Content-Type: multipart/form-data\r\nContent-Length: 4\r\n\r\nabcd");
    EXPECT_EQ(raw.received.find("\"resultCode\":0"), std::string::npos);
    EXPECT_TRUE(stillServing());
}

TEST_F(MalformedRequestTest, MissingParametersGiveAnErrorEnvelopeOnEveryCoreRoute) {
    for (const char* path : {"user/login.do",           "user/register.do",         "user/loginbyweibo.do",
                             "user/loginbywechat.do",   "user/getverifycode.do",    "user/findpassword.do",
                             "user/bindphone.do",       "user/updatepassword.do",   "user/update.do",
                             "user/updateavatar.do",    "user/getuser.do",          "user/searchuser.do",
                             "upload/upload.do",        "car/gettuninglist.do",     "car/uploadtuninglist.do",
                             "car/deletetuninglist.do", "car/gettuninglistbyid.do", "message/getmessage.do",
                             "message/delete.do",       "message/checkread.do",     "message/updateread.do",
                             "message/getchatlist.do",  "message/sendmail.do",      "friend/getfriendlist.do",
                             "friend/add.do",           "friend/delete.do",         "feedback/add.do"}) {
        for (auto reply : {get(api(path)), postForm(api(path), "")}) {
            EXPECT_EQ(reply.status, 200) << path;
            EXPECT_EQ(reply.header("Content-Type"), "application/json; charset=utf-8") << path;
            Value json = reply.json();
            ASSERT_TRUE(json.isDictionary()) << path << ": " << reply.body;
            EXPECT_TRUE(json["resultCode"].isNumber()) << path;
            EXPECT_NE(json["resultCode"].integerValue(), 0) << path;
            EXPECT_TRUE(json["errmsg"].isString()) << path;
        }
    }
}

TEST_F(MalformedRequestTest, HostileNumbersInTheInboxRoutesAreRefusedAndChangeNothing) {
    std::string t = token();
    const char* values[] = {"", "-1", "0x10", "1e3", "99999999999999999999", " 1", "1 ", "%00", "NaN", "２"};
    for (const char* value : values) {
        std::string v = escape(value);
        for (const std::string& path :
             {"message/getmessage.do?category=" + v, "message/getmessage.do?category=1&message_id=" + v,
              "message/delete.do?category=" + v, "message/updateread.do?category=1&sender_uid=" + v,
              "message/getchatlist.do?friend_uid=" + v, "message/sendmail.do?content=a&receiver_uid=" + v,
              "friend/add.do?friend_uid=" + v, "friend/delete.do?friend_uid=" + v}) {
            auto reply = get(api(path + "&token=" + t));
            EXPECT_EQ(reply.status, 200) << path;
            EXPECT_NE(reply.resultCode(), 0) << path;
        }
    }
    EXPECT_EQ(server.mails().size(), 1u);
    EXPECT_EQ(server.friendsOf(1), std::vector<long>{2});
    EXPECT_EQ(server.notices(1).size(), 2u);
}

TEST_F(MalformedRequestTest, ParametersThatAreNotUTF8AreRefused) {
    std::string t = token();
    EXPECT_EQ(get(api("user/update.do?nickname=%FF%FE&token=" + t)).resultCode(),
              devserver::kResultBadRequest);
    EXPECT_EQ(postForm(api("user/register.do"), "code=246810&nickname=%C0%AF&password=p&username=13912345678")
                  .resultCode(),
              devserver::kResultBadRequest);
    EXPECT_EQ(get(api("user/searchuser.do?keyword=&user_token=" + t)).resultCode(), 0);
    EXPECT_TRUE(devserver::detail::isValidUTF8("改装 ok"));
    EXPECT_FALSE(devserver::detail::isValidUTF8("\xED\xA0\x80"));      // a surrogate
    EXPECT_FALSE(devserver::detail::isValidUTF8("\xF4\x90\x80\x80"));  // past U+10FFFF
    EXPECT_FALSE(devserver::detail::isValidUTF8("\xE6\x94"));          // cut short
}

TEST_F(MalformedRequestTest, HostileRequestLinesAndHeaders) {
    const std::vector<std::string> documents = {
        "",
        "\r\n\r\n",
        "GARBAGE\r\n\r\n",
        "GET\r\n\r\n",
        "GET /trasselin/user/login.do\r\n\r\n",
        "GET /trasselin/user/login.do HTTP/9.9\r\nConnection: close\r\n\r\n",
        "GET /" + std::string(20000, 'a') + " HTTP/1.1\r\nConnection: close\r\n\r\n",
        "GET /trasselin/user/login.do?" + std::string(7000, '%') + " HTTP/1.1\r\nConnection: close\r\n\r\n",
        "GET /" + std::string(7000, '/') + " HTTP/1.1\r\nConnection: close\r\n\r\n",
        "GET /trasselin/user/login.do HTTP/1.1\r\nX: " + std::string(100000, 'x') + "\r\n\r\n",
        "GET /trasselin/user/login.do HTTP/1.1\r\nNoColonHere\r\nConnection: close\r\n\r\n",
        std::string("GET /tras\0selin HTTP/1.1\r\nConnection: close\r\n\r\n", 46),
        "POST /trasselin/user/login.do HTTP/1.1\r\nContent-Length: -5\r\nConnection: close\r\n\r\n",
        "POST /trasselin/user/login.do HTTP/1.1\r\nContent-Length: 99999999999999999999\r\nConnection: "
        "close\r\n\r\n",
        "POST /trasselin/user/login.do HTTP/1.1\r\nContent-Length: 900000000\r\nConnection: close\r\n\r\nabc",
        "POST /trasselin/user/login.do HTTP/1.1\r\nTransfer-Encoding: chunked\r\nConnection: "
        "close\r\n\r\nZZ\r\n",
        "POST /trasselin/user/login.do HTTP/1.1\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n"
        "fffffffffffffffff\r\nab\r\n",
        "GET /pictures/avatar-1 HTTP/1.1\r\nRange: bytes=999999999999999999999-\r\nConnection: close\r\n\r\n",
        "GET /pictures/avatar-1 HTTP/1.1\r\nRange: bytes=-\r\nConnection: close\r\n\r\n",
        "GET /pictures/avatar-1 HTTP/1.1\r\nRange: lines=1-2\r\nIf-Range: \r\nConnection: close\r\n\r\n",
        "GET /pictures/avatar-1 HTTP/1.1\r\nIf-Modified-Since: Mon, 99 Foo 2020 99:99:99 GMT\r\n"
        "Connection: close\r\n\r\n",
        "GET /pictures/avatar-1 HTTP/1.1\r\nIf-None-Match: ,,,W/\r\nConnection: close\r\n\r\n",
    };
    sendAll(documents);
    EXPECT_TRUE(stillServing());
}

TEST_F(MalformedRequestTest, MutatedRequestsNeverBreakTheServer) {
    std::string t = token();
    const std::string boundary = "Boundary+0123456789ABCDEF";
    const std::vector<std::string> seeds = {
        "GET /trasselin/user/login.do?username=13800000001&password=123456 HTTP/1.1\r\nHost: 127.0.0.1\r\n"
        "Connection: close\r\n\r\n",
        "GET /trasselin/car/uploadtuninglist.do?car_id=1&jsontxt=%7B%22lunke%22%3A%22a%22%7D&list_name=x&"
        "tuninglist_id=0&user_token=" +
            t + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n",
        formRequest("/trasselin/user/register.do",
                    "code=246810&nickname=%E6%96%B0&password=p&username=13912345678"),
        formRequest("/trasselin/user/bindphone.do", "code=246810&phone=13711112222&user_token=" + t),
        multipartRequest("/trasselin/upload/upload.do",
                         multipartBody(boundary, "file", "uploadImage", "image/png", samplePNG())),
        multipartRequest("/trasselin/user/updateavatar.do?token=" + t,
                         multipartBody(boundary, "file", "question_image", "image/png", sampleJPEG())),
        "GET /pictures/avatar-1 HTTP/1.1\r\nRange: bytes=2-10\r\nIf-None-Match: \"abc\"\r\nConnection: "
        "close\r\n\r\n",
    };
    std::vector<std::string> documents;
    for (unsigned seed = 0; seed < 40; ++seed)
        for (const auto& s : seeds)
            documents.push_back(testsupport::mutate(s, seed * 31 + static_cast<unsigned>(s.size())));
    sendAll(documents);
    EXPECT_TRUE(stillServing());
    // Whatever got stored still reads back as JSON.
    auto lists = get(api("car/gettuninglist.do?user_token=" + t));
    EXPECT_EQ(lists.resultCode(), 0) << lists.body;
    auto search = get(api("user/searchuser.do?keyword=&user_token=" + t));
    EXPECT_EQ(search.resultCode(), 0) << search.body;
}

TEST_F(MalformedRequestTest, MutatedFormBodiesGetJSONReplies) {
    std::string t = token();
    const std::vector<std::pair<std::string, std::string>> seeds = {
        {"user/register.do", "code=246810&nickname=%E6%96%B0&password=p&username=13912345678"},
        {"user/findpassword.do", "code=246810&password=new&tel=13800000003"},
        {"user/bindphone.do", "code=246810&phone=13711112222&user_token=" + t},
        {"user/loginbyweibo.do", "access_token=abc"},
        {"car/uploadtuninglist.do", "car_id=1&jsontxt=%7B%7D&list_name=x&tuninglist_id=0&user_token=" + t},
    };
    for (unsigned seed = 0; seed < 40; ++seed) {
        for (const auto& [path, form] : seeds) {
            std::string body = testsupport::mutate(form, seed);
            auto reply = postForm(api(path), body);
            ASSERT_EQ(reply.curlCode, 0) << path << " " << body;
            Value json = reply.json();
            ASSERT_TRUE(json.isDictionary()) << path << " " << body << " -> " << reply.body;
            EXPECT_TRUE(json["resultCode"].isNumber());
        }
    }
    EXPECT_TRUE(stillServing());
}

TEST(HTTPText, QueryDecodingSurvivesBrokenEscapes) {
    using devserver::detail::parseQuery;
    auto params = parseQuery("a=%&b=%4&c=%zz&=v&&d=%41%2b+");
    ASSERT_EQ(params.size(), 5u);
    EXPECT_EQ(params[0].second, "%");
    EXPECT_EQ(params[1].second, "%4");
    EXPECT_EQ(params[2].second, "%zz");
    EXPECT_EQ(params[3].first, "");
    EXPECT_EQ(params[4].second, "A+ ");
    for (unsigned seed = 0; seed < 200; ++seed) parseQuery(testsupport::mutate("a=%E6%94%B9&b[]=1&c", seed));
    EXPECT_EQ(devserver::detail::foldSlashes("//a///b/"), "/a/b/");
    EXPECT_FALSE(devserver::detail::parseHTTPDate("Sun, 06 Nov 1994 08:49:37 GMT extra"));
    auto date = devserver::detail::parseHTTPDate("Sun, 06 Nov 1994 08:49:37 GMT");
    ASSERT_TRUE(date);
    EXPECT_EQ(devserver::detail::httpDate(*date), "Sun, 06 Nov 1994 08:49:37 GMT");
}

}  // namespace

// The in-memory entry the fuzz target uses reads and answers a request as a connection does.
TEST_F(MalformedRequestTest, RequestBytesServedInMemoryAnswerAsOverAConnection) {
    const std::string boundary = "Boundary+0123456789ABCDEF";
    const std::string good = multipartBody(boundary, "file", "uploadImage", "image/png", samplePNG());
    const std::string upload = multipartRequest("/trasselin/upload/upload.do", good);
    auto overSocket = rawExchange(server.port(), upload);
    ASSERT_TRUE(overSocket.connected);
    server.clearRequests();
    std::string inMemory = server.serveRequestBytes(upload);
    auto statusLine = [](const std::string& reply) { return reply.substr(0, reply.find("\r\n")); };
    EXPECT_EQ(statusLine(inMemory), statusLine(overSocket.received));
    EXPECT_NE(inMemory.find("\"resultCode\":0"), std::string::npos) << inMemory;
    auto recorded = server.requests();
    ASSERT_EQ(recorded.size(), 1u);
    ASSERT_TRUE(recorded.front().part("file"));
    EXPECT_EQ(recorded.front().part("file")->content, samplePNG());

    // Cut short, or no HTTP at all: an error reply, nothing taken.
    for (const std::string& broken :
         {upload.substr(0, upload.size() / 2), std::string("\x01\x02 nonsense\r\n\r\n")}) {
        std::string reply = server.serveRequestBytes(broken);
        EXPECT_EQ(reply.find("\"resultCode\":0"), std::string::npos) << reply;
    }
    EXPECT_TRUE(stillServing());
}
