#pragma once
// Shared pieces of the information tests: the forum tests' sandbox, stand-in server and sign-in,
// with the information routes on the same server, and waits that pump the main run loop.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "tests/forum/ForumTestSupport.h"
#include "tools/devserver/InformationRoutes.h"

namespace infotest {

using forumtest::waitUntil;

// The forum tests' server with the information routes installed after the forum's (the news
// search hands question searches on to the forum's handler).
class InformationServerTest : public forumtest::ForumServerTest {
  protected:
    void addRoutes() override { information = devserver::addInformationRoutes(server, withSamples()); }

    std::shared_ptr<devserver::InformationRoutes> information;

    devserver::RecordedRequest lastRequestTo(const std::string& path) {
        auto requests = server.requestsTo(path);
        EXPECT_FALSE(requests.empty()) << path;
        return requests.empty() ? devserver::RecordedRequest{} : requests.back();
    }
    // Runs an asynchronous call whose completion sets the optional, waiting for it.
    template <class T>
    T await(const std::function<void(std::function<void(T)>)>& call) {
        std::optional<T> result;
        call([&](T value) { result = std::move(value); });
        EXPECT_TRUE(waitUntil([&] { return result.has_value(); }));
        return result.value_or(T{});
    }
};

}  // namespace infotest
