#pragma once
// A plain libcurl client and a raw socket for the stand-in server's tests: enough HTTP to check
// what goes over the wire, nothing of the app's own networking.

#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "tools/devserver/DevServer.h"

namespace devservertest {

struct HTTPResult {
    int curlCode = 0;  // 0: a reply arrived
    long status = 0;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;

    std::optional<std::string> header(const std::string& name) const;
    // The body read as a JSON object; nil when it is not one.
    Value json() const;
    long resultCode() const { return json()["resultCode"].integerValue(); }
};

struct RequestOptions {
    std::string method = "GET";
    std::string body;
    std::vector<std::string> headers;  // "Name: value"
    std::chrono::milliseconds timeout{5000};
    std::string caPEM;  // trusted roots for https
};

HTTPResult fetch(const std::string& url, const RequestOptions& options = {});
HTTPResult get(const std::string& url, std::vector<std::string> headers = {});
// A urlencoded form POST.
HTTPResult postForm(const std::string& url, const std::string& form);
// One "file" part, laid out as the app's client does it.
HTTPResult postFile(const std::string& url, const std::string& content,
                    const std::string& filename = "uploadImage", const std::string& type = "image/png",
                    const std::string& field = "file");
std::string multipartBody(const std::string& boundary, const std::string& field, const std::string& filename,
                          const std::string& type, const std::string& content);

// Writes bytes to 127.0.0.1:port and reads until the peer closes or the time runs out.
struct RawResult {
    bool connected = false;
    bool closedByPeer = false;
    std::string received;
};
// halfClose: shut the writing side after sending, as a client that has nothing more to say.
RawResult rawExchange(int port, const std::string& bytes,
                      std::chrono::milliseconds timeout = std::chrono::milliseconds(3000),
                      bool halfClose = false);

// Percent-escapes a parameter value.
std::string escape(const std::string& text);

// A valid PNG and a JPEG signature with a few bytes.
std::string samplePNG();
std::string sampleJPEG();

// A started server per test.
class ServerTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(server.start()) << server.lastError(); }
    std::string api(const std::string& path) const { return server.apiRoot() + path; }
    // A token of the first sample user.
    std::string token() { return server.loginToken("13800000001"); }

    devserver::DevServer server;
};

}  // namespace devservertest
