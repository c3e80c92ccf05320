#include <gtest/gtest.h>

#include <curl/curl.h>

#include "DevServerTestClient.h"
#include "tests/support/TestCertificates.h"

using namespace devservertest;
using devserver::DevServer;
using devserver::Reply;
using devserver::RouteRegistry;
using devserver::StaticFile;

namespace {

class DevServerTest : public ServerTest {};

TEST_F(DevServerTest, RootsCarryTheBoundPorts) {
    std::string port = std::to_string(server.port());
    EXPECT_GT(server.port(), 0);
    EXPECT_EQ(server.baseURL(), "http://127.0.0.1:" + port + "/");
    EXPECT_EQ(server.apiRoot(), "http://127.0.0.1:" + port + "/trasselin/");
    EXPECT_EQ(server.modelPrefix(), "http://127.0.0.1:" + port + "/static/model/");
    EXPECT_EQ(server.secondRoot(), "http://127.0.0.1:" + std::to_string(server.secondPort()) + "/trasselin/");
    EXPECT_NE(server.secondPort(), server.port());
    EXPECT_EQ(server.tlsBaseURL(), "");
    EXPECT_TRUE(server.isRunning());
}

TEST_F(DevServerTest, TheSecondRootServesTheSameRoutesAndIsRecordedAsSuch) {
    auto reply = get(server.secondRoot() + "user/login.do?username=13800000001&password=123456");
    EXPECT_EQ(reply.resultCode(), 0);
    auto recorded = server.requests();
    ASSERT_EQ(recorded.size(), 1u);
    EXPECT_EQ(recorded[0].listener, devserver::Listener::Second);
}

TEST(DevServerHosts, TheSecondRootCanLiveOnAnotherLoopbackAddress) {
    DevServer::Options options;
    options.secondHost = "127.0.0.2";
    DevServer server(options);
    ASSERT_TRUE(server.start()) << server.lastError();
    EXPECT_EQ(server.secondRoot().rfind("http://127.0.0.2:", 0), 0u);
    EXPECT_EQ(get(server.secondRoot() + "user/getverifycode.do?tel=13912345678").resultCode(), 0);
}

TEST(DevServerHosts, ABusyPortFailsToStartWithAReason) {
    DevServer first;
    ASSERT_TRUE(first.start());
    DevServer::Options options;
    options.port = first.port();
    DevServer second(options);
    EXPECT_FALSE(second.start());
    EXPECT_FALSE(second.lastError().empty());
    EXPECT_FALSE(second.isRunning());
}

TEST(DevServerHosts, StopIsIdempotentAndAStoppedServerRefusesConnections) {
    DevServer server;
    ASSERT_TRUE(server.start());
    int port = server.port();
    server.stop();
    server.stop();
    EXPECT_FALSE(server.isRunning());
    EXPECT_FALSE(rawExchange(port, "GET / HTTP/1.1\r\n\r\n").connected);
    // It can start again; its sample data survives.
    ASSERT_TRUE(server.start());
    EXPECT_EQ(get(server.apiRoot() + "user/login.do?username=13800000001&password=123456").resultCode(), 0);
    EXPECT_EQ(get(server.user(1)->user_logo).status, 200);
}

TEST(DevServerTLS, AGeneratedCertificateServesTheRoutes) {
    DevServer::Options options;
    options.enableTLS = true;
    DevServer server(options);
    ASSERT_TRUE(server.start()) << server.lastError();
    ASSERT_EQ(server.tlsBaseURL(), "https://127.0.0.1:" + std::to_string(server.tlsPort()) + "/");
    RequestOptions trusted;
    trusted.caPEM = server.tlsCertificatePEM();
    auto reply = fetch(server.tlsBaseURL() + "trasselin/user/getverifycode.do?tel=13912345678", trusted);
    EXPECT_EQ(reply.curlCode, 0);
    EXPECT_EQ(reply.resultCode(), 0);
    EXPECT_EQ(server.requests().back().listener, devserver::Listener::TLS);
    // Without the certificate among the trusted roots the handshake is refused.
    RequestOptions untrusted;
    untrusted.caPEM = testsupport::testPKI().root.pem;
    EXPECT_NE(
        fetch(server.tlsBaseURL() + "trasselin/user/getverifycode.do?tel=13912345678", untrusted).curlCode,
        0);
}

TEST(DevServerTLS, AGivenChainIsPresented) {
    const auto& pki = testsupport::testPKI();
    DevServer::Options options;
    options.enableTLS = true;
    options.tlsCertificatePEM = pki.chainPEM(pki.leaf);
    options.tlsKeyPEM = pki.leaf.keyPEM;
    DevServer server(options);
    ASSERT_TRUE(server.start()) << server.lastError();
    RequestOptions trusted;
    trusted.caPEM = pki.root.pem;
    auto reply = fetch(server.tlsBaseURL() + "trasselin/user/getverifycode.do?tel=13912345678", trusted);
    EXPECT_EQ(reply.curlCode, 0);
    EXPECT_EQ(reply.resultCode(), 0);
}

TEST(DevServerTLS, AKeyThatDoesNotFitIsRefused) {
    const auto& pki = testsupport::testPKI();
    DevServer::Options options;
    options.enableTLS = true;
    options.tlsCertificatePEM = pki.leaf.pem;
    options.tlsKeyPEM = pki.otherLeaf.keyPEM;
    DevServer server(options);
    EXPECT_FALSE(server.start());
    EXPECT_FALSE(server.lastError().empty());
    options.tlsKeyPEM = "not a key";
    DevServer garbage(options);
    EXPECT_FALSE(garbage.start());
}

TEST_F(DevServerTest, RouteModulesAddRelativeAndAbsoluteRoutes) {
    server.addRoutes([](RouteRegistry& routes) {
        routes.get("news/getnewslist.do", [](const devserver::Request& r) {
            Dictionary fields = Dictionary::mutableDictionary();
            fields.setObject("data", Array{});
            fields.setObject("category", r.param("news_category").value_or(""));
            return Reply::success(fields);
        });
        routes.add("", "/extra/art1.html", [](const devserver::Request&) {
            return Reply::bytes("<html></html>", "text/html; charset=utf-8");
        });
        EXPECT_EQ(&routes.server(), &routes.server());
    });
    auto news = get(api("news/getnewslist.do?news_category=2"));
    EXPECT_EQ(news.json()["category"].stringValue(), "2");
    EXPECT_EQ(get(server.baseURL() + "extra/art1.html").body, "<html></html>");
    // GET-only routes do not answer other methods; a HEAD is answered by the GET route.
    EXPECT_EQ(postForm(api("news/getnewslist.do"), "news_category=1").status, 404);
    RequestOptions head;
    head.method = "HEAD";
    EXPECT_EQ(fetch(api("news/getnewslist.do"), head).status, 200);
}

TEST_F(DevServerTest, ALaterRegistrationReplacesTheEarlier) {
    server.addRoutes([](RouteRegistry& routes) {
        routes.add("", "user/login.do",
                   [](const devserver::Request&) { return Reply::failure(1, "replaced"); });
    });
    EXPECT_EQ(get(api("user/login.do?username=13800000001&password=123456")).resultCode(), 1);
}

TEST_F(DevServerTest, HandlerExceptionsBecomeServerErrors) {
    server.addRoutes([](RouteRegistry& routes) {
        routes.get("boom.do", [](const devserver::Request&) -> Reply { throw std::runtime_error("boom"); });
    });
    auto reply = get(api("boom.do"));
    EXPECT_EQ(reply.status, 500);
    EXPECT_NE(reply.resultCode(), 0);
    EXPECT_EQ(get(api("user/getverifycode.do?tel=13912345678")).resultCode(), 0);
}

TEST_F(DevServerTest, TheStaticAreaFoldsSlashRunsAndTypesFiles) {
    server.addRoutes([](RouteRegistry& routes) {
        routes.addStatic("/static/model/", [](const std::string& path) -> std::optional<StaticFile> {
            if (path == "car1/car.json") return StaticFile{R"({"updated":"1"})", "", std::nullopt};
            if (path == "car1/01_metal.png") return StaticFile{samplePNG(), "", std::nullopt};
            if (path == "car1/page.html") return StaticFile{"<p>", "", std::nullopt};
            if (path == "car1/blob") return StaticFile{"xyz", "", std::nullopt};
            return std::nullopt;
        });
    });
    auto description = get(server.modelPrefix() + "/car1/car.json");  // the client's double slash
    EXPECT_EQ(description.status, 200);
    EXPECT_EQ(description.header("Content-Type"), "application/json");
    EXPECT_EQ(description.body, R"({"updated":"1"})");
    EXPECT_TRUE(description.header("ETag"));
    auto sheet = get(server.baseURL() + "static//model///car1//01_metal.png");
    EXPECT_EQ(sheet.header("Content-Type"), "image/png");
    EXPECT_EQ(get(server.modelPrefix() + "car1/page.html").header("Content-Type"),
              "text/html; charset=utf-8");
    EXPECT_EQ(get(server.modelPrefix() + "car1/blob").header("Content-Type"), "application/octet-stream");
    EXPECT_EQ(get(server.modelPrefix() + "car1/none.png").status, 404);
    // Sent raw: a client library would resolve the dot segments itself.
    auto climb = rawExchange(
        server.port(),
        "GET /static/model/car1/../car1/car.json HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(climb.received.rfind("HTTP/1.1 404", 0), 0u) << climb.received;
    EXPECT_EQ(get(sheet.header("ETag") ? server.modelPrefix() + "car1/01_metal.png" : "",
                  {"If-None-Match: " + sheet.header("ETag").value_or("")})
                  .status,
              304);
}

TEST_F(DevServerTest, JSONRepliesIgnoreRangeHeaders) {
    auto reply = get(api("user/getverifycode.do?tel=13912345678"), {"Range: bytes=0-3"});
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.resultCode(), 0);
}

TEST_F(DevServerTest, UnknownPathsAre404) {
    EXPECT_EQ(get(api("nothing.do")).status, 404);
    EXPECT_EQ(get(server.baseURL()).status, 404);
}

TEST_F(DevServerTest, OneConnectionCarriesManyRequests) {
    // More than the HTTP library's default keep-alive limit of 5.
    CURL* curl = curl_easy_init();
    std::string url = api("user/getverifycode.do?tel=13912345678");
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROXY, "");
    curl_easy_setopt(
        curl, CURLOPT_WRITEFUNCTION, +[](char*, size_t size, size_t n, void*) { return size * n; });
    long connects = 0;
    for (int i = 0; i < 40; ++i) {
        ASSERT_EQ(curl_easy_perform(curl), CURLE_OK);
        long opened = 0;
        curl_easy_getinfo(curl, CURLINFO_NUM_CONNECTS, &opened);
        connects += opened;
    }
    curl_easy_cleanup(curl);
    EXPECT_EQ(connects, 1);
}

TEST(DevServerCore, WithoutCoreRoutesOnlyModulesAnswer) {
    DevServer::Options options;
    options.coreRoutes = false;
    DevServer server(options);
    ASSERT_TRUE(server.start());
    EXPECT_EQ(get(server.apiRoot() + "user/login.do?username=13800000001&password=123456").status, 404);
}

}  // namespace
