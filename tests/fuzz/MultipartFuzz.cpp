// Multipart bodies as the stand-in server reads them: each input is the body of a
// multipart/form-data POST sent over loopback to a running DevServer, to the picture upload, to
// the avatar upload of a signed-in user or to a path with no route (the first byte chooses). The
// server must answer every request (a crash, a hang or a dropped connection fails the run), and
// an upload it takes must have been a picture part named "file".

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>

#include "FuzzSupport.h"
#include "foundation/NSJSONSerialization.h"
#include "tools/devserver/DevServer.h"

namespace {

constexpr char kBoundary[] = "----fuzzboundary7MA4YWxkTrZu0gW";
// Stored uploads stay in the server's memory: a fresh server now and then keeps the run bounded.
constexpr int kRequestsPerServer = 2000;

std::unique_ptr<devserver::DevServer> gServer;
std::string gToken;
int gRequests = 0;

void startServer() {
    if (gServer) gServer->stop();
    gServer = std::make_unique<devserver::DevServer>();
    FUZZ_CHECK(gServer->start());
    gToken = gServer->loginToken("13800000001");
    FUZZ_CHECK(!gToken.empty());
    gRequests = 0;
}

// The whole reply (the server closes the connection after it); empty when none came.
std::string exchange(const std::string& request) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    FUZZ_CHECK(fd >= 0);
    timeval timeout{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(gServer->port()));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    FUZZ_CHECK(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0);
    std::size_t sent = 0;
    while (sent < request.size()) {
        ssize_t n = ::send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += static_cast<std::size_t>(n);
    }
    std::string reply;
    char buffer[4096];
    for (;;) {
        ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        reply.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return reply;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::silenceLog();
    startServer();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    if (++gRequests > kRequestsPerServer) startServer();
    int route = data[0] % 3;
    std::string path = route == 0   ? "/trasselin/upload/upload.do"
                       : route == 1 ? "/trasselin/user/updateavatar.do?token=" + gToken
                                    : "/trasselin/no/such/route.do";
    std::string body(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::string request = "POST " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" +
                          "Content-Type: multipart/form-data; boundary=" + kBoundary + "\r\n" +
                          "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    std::string reply = exchange(request);
    FUZZ_CHECK(reply.rfind("HTTP/1.1 ", 0) == 0);

    auto recorded = gServer->requests();
    gServer->clearRequests();
    std::size_t headEnd = reply.find("\r\n\r\n");
    if (route == 2 || headEnd == std::string::npos || reply.compare(9, 3, "200") != 0) return 0;
    Value answer =
        NSJSONSerialization::JSONObjectWithData(NSData::fromString(reply.substr(headEnd + 4)), 0, nullptr);
    if (!answer.isDictionary() || answer["resultCode"].integerValue() != 0) return 0;
    // Taken: the request that was recorded carried a picture under "file".
    FUZZ_CHECK(recorded.size() == 1);
    const devserver::MultipartPart* file = recorded.front().part("file");
    FUZZ_CHECK(file != nullptr && !devserver::sniffImageType(file->content).empty());
    FUZZ_CHECK(file->content.size() <= body.size());
    return 0;
}
