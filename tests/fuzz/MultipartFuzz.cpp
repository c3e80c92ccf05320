// Multipart bodies as the stand-in server reads them: each input is the body of a
// multipart/form-data POST handed to a running DevServer's request reader (the HTTP library's
// own reading and the server's dispatch, with no socket, so that a long run measures the reader
// and not the machine's supply of ports), for the picture upload, the avatar upload of a
// signed-in user or a path with no route (the first byte chooses). The server must answer every
// request, and an upload it takes must have been a picture part named "file".

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
    std::string reply = gServer->serveRequestBytes(request);
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
