// Random bytes, and the shared web credentials that cannot exist on this system.

#include <gtest/gtest.h>

#include <future>
#include <regex>
#include <set>
#include <thread>

#include "security/SecRandom.h"
#include "security/SecSharedCredential.h"

namespace {

TEST(SecRandom, FillsTheBuffer) {
    std::vector<unsigned char> a(64, 0), b(64, 0);
    ASSERT_EQ(SecRandomCopyBytes(kSecRandomDefault, a.size(), a.data()), 0);
    ASSERT_EQ(SecRandomCopyBytes(kSecRandomDefault, b.size(), b.data()), 0);
    EXPECT_NE(a, b);
    EXPECT_NE(a, std::vector<unsigned char>(64, 0));
}

TEST(SecRandom, EdgeCases) {
    EXPECT_EQ(SecRandomCopyBytes(kSecRandomDefault, 0, nullptr), 0);
    EXPECT_NE(SecRandomCopyBytes(kSecRandomDefault, 4, nullptr), 0);
    // Every byte value turns up in a large sample: nothing is stuck.
    std::vector<unsigned char> sample(1 << 16);
    ASSERT_EQ(SecRandomCopyBytes(kSecRandomDefault, sample.size(), sample.data()), 0);
    std::set<unsigned char> seen(sample.begin(), sample.end());
    EXPECT_EQ(seen.size(), 256u);
}

TEST(SharedWebCredentials, RequestsFindNothingAndAnswerLater) {
    std::promise<std::pair<Array, Ref<NSError>>> answered;
    auto caller = std::this_thread::get_id();
    std::thread::id answeringThread;
    SecRequestSharedWebCredential("forum.test", std::nullopt, [&](Array credentials, Ref<NSError> error) {
        answeringThread = std::this_thread::get_id();
        answered.set_value({credentials, error});
    });
    auto future = answered.get_future();
    ASSERT_EQ(future.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    auto [credentials, error] = future.get();
    EXPECT_TRUE(credentials.empty());
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), NSOSStatusErrorDomain);
    EXPECT_EQ(error->code(), errSecItemNotFound);
    EXPECT_NE(answeringThread, caller);
    SecRequestSharedWebCredential(std::nullopt, std::nullopt, nullptr);  // no completion: nothing happens
}

TEST(SharedWebCredentials, AddingFails) {
    std::promise<Ref<NSError>> answered;
    SecAddSharedWebCredential("forum.test", "alice", std::string("pw"),
                              [&](Ref<NSError> error) { answered.set_value(error); });
    auto future = answered.get_future();
    ASSERT_EQ(future.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    auto error = future.get();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), errSecMissingEntitlement);
}

TEST(SharedWebCredentials, GeneratedPasswordsAreStrongAndFresh) {
    std::regex shape("[a-zA-Z0-9]{3}-[a-zA-Z0-9]{3}-[a-zA-Z0-9]{3}-[a-zA-Z0-9]{3}");
    std::set<std::string> seen;
    for (int i = 0; i < 200; ++i) {
        auto password = SecCreateSharedWebCredentialPassword();
        ASSERT_TRUE(password);
        EXPECT_TRUE(std::regex_match(*password, shape)) << *password;
        EXPECT_TRUE(std::regex_search(*password, std::regex("[0-9]"))) << *password;
        EXPECT_TRUE(std::regex_search(*password, std::regex("[a-z]"))) << *password;
        EXPECT_TRUE(std::regex_search(*password, std::regex("[A-Z]"))) << *password;
        seen.insert(*password);
    }
    EXPECT_EQ(seen.size(), 200u);
}

}  // namespace
