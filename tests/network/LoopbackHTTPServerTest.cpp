// The loopback test server itself: keep-alive, recording, and hostile requests.

#include "tests/support/LoopbackHTTPServer.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "tests/support/TestSupport.h"

namespace {

// Sends bytes on a fresh connection and reads until the server closes or 0.5 s pass.
std::string exchange(int port, const std::string& bytes) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return "<connect failed>";
    }
    ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    ::shutdown(fd, SHUT_WR);
    std::string out;
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 500) <= 0) break;
        char buf[4096];
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        out.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return out;
}

TEST(LoopbackHTTPServerTest, AnswersPipelinedRequestsOnOneConnectionAndRecordsThem) {
    testsupport::LoopbackHTTPServer server;
    server.setReply("/a", testsupport::ScriptedReply::text("A"));
    std::string out =
        exchange(server.port(), "GET /a?x=1 HTTP/1.1\r\nHost: h\r\n\r\n"
                                "POST /a HTTP/1.1\r\nHost: h\r\nContent-Length: 3\r\n\r\nabc"
                                "PUT /b HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nhi\r\n0\r\n\r\n");
    EXPECT_NE(out.find("HTTP/1.1 200 OK"), std::string::npos);
    EXPECT_NE(out.find("HTTP/1.1 404"), std::string::npos);
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].query, "x=1");
    EXPECT_EQ(requests[1].body, "abc");
    EXPECT_EQ(requests[2].body, "hi");
    EXPECT_TRUE(requests[2].chunkedBody);
    EXPECT_EQ(server.connectionCount(), 1);
}

TEST(LoopbackHTTPServerTest, HostileRequestsGetA400OrACloseNeverACrash) {
    testsupport::LoopbackHTTPServer server;
    server.setReply("/", testsupport::ScriptedReply::text("ok"));
    const std::string valid = "POST / HTTP/1.1\r\nHost: h\r\nContent-Length: 5\r\nX: y\r\n\r\nhello";
    std::vector<std::string> inputs = {
        "NONSENSE\r\n\r\n",
        "GET / HTTP/1.1\r\nNoColonHere\r\n\r\n",
        "GET / HTTP/1.1\r\nContent-Length: lots\r\n\r\n",
        "GET / HTTP/1.1\r\nContent-Length: 999999999999\r\n\r\n",
        "GET / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n",
        "GET / HTTP/1.1\r\nX: " + std::string(100000, 'a') + "\r\n\r\n",
        std::string(3000, '\n'),
    };
    for (unsigned seed = 0; seed < 60; ++seed) inputs.push_back(testsupport::mutate(valid, seed));
    for (auto& input : inputs) {
        std::string out = exchange(server.port(), input);
        EXPECT_TRUE(out.empty() || out.rfind("HTTP/1.1 ", 0) == 0) << out.substr(0, 40);
    }
    // Still serving.
    EXPECT_NE(exchange(server.port(), "GET / HTTP/1.1\r\n\r\n").find("200 OK"), std::string::npos);
}

TEST(LoopbackHTTPServerTest, StopEndsSlowRepliesAtOnce) {
    auto server = std::make_unique<testsupport::LoopbackHTTPServer>();
    auto reply = testsupport::ScriptedReply::text("x");
    reply.delayBeforeHeaders = 30;
    server->setReply("/slow", reply);
    int port = server->port();
    std::thread client([port] { exchange(port, "GET /slow HTTP/1.1\r\n\r\n"); });
    ASSERT_TRUE(server->waitForRequests(1, 5));
    auto began = std::chrono::steady_clock::now();
    server->stop();
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count(), 2.0);
    client.join();
}

}  // namespace
