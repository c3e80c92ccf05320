// The keychain item store: strings and data by key for services and servers, updates in place,
// removal, listings and descriptions, the error codes and console lines, the flags, the locked
// device path, shared credentials that cannot exist here, and items that survive a restart.

#include "data/KeychainItemStore.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>

#include "foundation/NSBundle.h"
#include "foundation/NSLog.h"
#include "foundation/NSProcessInfo.h"
#include "security/SecItem.h"
#include "security/SecurityTesting.h"
#include "tests/support/MainLoop.h"
#include "tests/support/TestSupport.h"

namespace {

class Keychain : public ::testing::Test {
  protected:
    testsupport::TemporaryDirectory dir;
    std::vector<std::string> logged;
    NSLogSink previousSink;
    double previousVersion = NSFoundationVersionNumber.load();

    void SetUp() override {
        security_testing::setKeychainFile(dir.file("keychain.plist"));
        NSBundle::setInfoValue("CFBundleIdentifier", "com.example.garage");
        KeychainItemStore::setDefaultService("com.example.garage");
        previousSink = NSLogSetSink([this](const std::string& line) { logged.push_back(line); });
    }
    void TearDown() override {
        NSLogSetSink(previousSink);
        security_testing::clearInjectedKeychainStatuses();
        security_testing::setKeychainFile(std::nullopt);
        NSFoundationVersionNumber = previousVersion;
        NSBundle::setInfoValue("CFBundleIdentifier", Value());
    }
};

TEST_F(Keychain, StringsAndDataByKey) {
    auto store = KeychainItemStore::keyChainStore();
    EXPECT_EQ(store->service(), std::optional<std::string>("com.example.garage"));
    EXPECT_EQ(store->accessibility(), KeychainItemStoreAccessibilityAfterFirstUnlock);
    EXPECT_FALSE(store->contains("token"));
    EXPECT_TRUE(store->setString("secret", "token"));
    EXPECT_TRUE(store->contains("token"));
    EXPECT_EQ(store->stringForKey("token"), std::optional<std::string>("secret"));
    EXPECT_TRUE(store->setString("changed", "token", std::nullopt, "label", "comment"));
    EXPECT_EQ(store->objectForKeyedSubscript("token"), std::optional<std::string>("changed"));
    EXPECT_EQ(store->allKeys(), (std::vector<std::string>{"token"}));

    store->setObjectForKeyedSubscript("v", "other");
    EXPECT_EQ(store->allKeys().size(), 2u);
    store->setObjectForKeyedSubscript(std::nullopt, "other");
    EXPECT_FALSE(store->contains("other"));
    // Removing what is not there is no failure.
    EXPECT_TRUE(store->setString(std::nullopt, "never"));
    EXPECT_TRUE(store->removeItemForKey("never"));

    const std::uint8_t bytes[] = {0xff, 0xfe, 0x00};
    EXPECT_TRUE(store->setData(NSData(bytes, 3), "raw"));
    Ref<NSError> error;
    EXPECT_FALSE(store->stringForKey("raw", &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), KeychainItemStoreErrorDomain);
    EXPECT_EQ(error->code(), -67594);
    EXPECT_EQ(store->dataForKey("raw")->length(), 3u);

    EXPECT_TRUE(store->removeAllItems());
    EXPECT_TRUE(store->allKeys().empty());
    EXPECT_EQ(store->description(), "()");
}

TEST_F(Keychain, AMissingKeyIsRefusedEverywhere) {
    auto store = KeychainItemStore::keyChainStoreWithService("svc");
    ASSERT_TRUE(store->setString("x", "kept"));
    Ref<NSError> error;
    EXPECT_FALSE(store->setString("v", std::nullopt, std::nullopt, std::nullopt, std::nullopt, &error));
    EXPECT_EQ(error->code(), 1);
    EXPECT_EQ(error->localizedDescription(), "the key must not to be nil");
    EXPECT_FALSE(store->removeItemForKey(std::nullopt));
    EXPECT_FALSE(store->contains(std::nullopt));
    EXPECT_TRUE(store->contains("kept"));  // a missing key never widens to every item
    error = nullptr;
    EXPECT_FALSE(KeychainItemStore::stringForKeyService(std::nullopt, "svc", std::nullopt, &error));
    EXPECT_EQ(error->code(), 1);
    EXPECT_NE(std::find(logged.begin(), logged.end(), "error: [1] the key must not to be nil"), logged.end());
}

TEST_F(Keychain, ServicesAndGroupsAreKeptApart) {
    ASSERT_TRUE(KeychainItemStore::setStringForKeyService("a", "k", "one"));
    ASSERT_TRUE(KeychainItemStore::setStringForKeyService("b", "k", "two", "group"));
    EXPECT_EQ(KeychainItemStore::stringForKeyService("k", "one"), std::optional<std::string>("a"));
    EXPECT_EQ(KeychainItemStore::stringForKeyService("k", "two", "group"), std::optional<std::string>("b"));
    EXPECT_FALSE(KeychainItemStore::stringForKeyService("k", "three"));
    auto keys = KeychainItemStore::allKeysWithItemClass(KeychainItemStoreItemClassGenericPassword);
    ASSERT_TRUE(keys);
    ASSERT_EQ(keys->count(), 2u);
    EXPECT_EQ((*keys)[0], (Dictionary{{"service", "one"}, {"key", "k"}}));
    EXPECT_TRUE(KeychainItemStore::removeAllItemsForService("one"));
    EXPECT_EQ(KeychainItemStore::allItemsWithItemClass(KeychainItemStoreItemClassGenericPassword)->count(),
              1u);
}

TEST_F(Keychain, InternetPasswordsByServerProtocolAndAuthentication) {
    auto store = KeychainItemStore::keyChainStoreWithServer(
        NSURL::URLWithString("https://garage.example:8443/login"), KeychainItemStoreProtocolTypeHTTPS);
    EXPECT_EQ(store->authenticationType(), KeychainItemStoreAuthenticationTypeDefault);
    ASSERT_TRUE(store->setString("pw", "ada"));
    EXPECT_EQ(store->stringForKey("ada"), std::optional<std::string>("pw"));
    Dictionary q = store->query();
    EXPECT_EQ(q[kSecAttrServer], Value("garage.example"));
    EXPECT_EQ(q[kSecAttrPort], Value(8443LL));
    EXPECT_EQ(q[kSecAttrProtocol], Value(kSecAttrProtocolHTTPS));
    auto other = KeychainItemStore::keyChainStoreWithServer(
        NSURL::URLWithString("https://garage.example:8443/"), KeychainItemStoreProtocolTypeHTTPS,
        KeychainItemStoreAuthenticationTypeHTMLForm);
    EXPECT_FALSE(other->contains("ada"));
    Array items = store->allItems();
    ASSERT_EQ(items.count(), 1u);
    EXPECT_EQ(items[0]["class"], Value("InternetPassword"));
    EXPECT_EQ(items[0]["server"], Value("garage.example"));
    EXPECT_EQ(items[0]["value"], Value("pw"));
    EXPECT_EQ(items[0]["accessibility"], Value(kSecAttrAccessibleAfterFirstUnlock));
    auto keys = KeychainItemStore::allKeysWithItemClass(KeychainItemStoreItemClassInternetPassword);
    EXPECT_EQ((*keys)[0], (Dictionary{{"server", "garage.example"}, {"key", "ada"}}));
    EXPECT_NE(store->description().find("InternetPassword"), std::string::npos);
}

TEST_F(Keychain, FlagsAndAccessibilityGoIntoNewItems) {
    auto store = KeychainItemStore::keyChainStoreWithService("svc");
    store->setSynchronizable(true);
    store->setAccessibility(KeychainItemStoreAccessibilityWhenUnlockedThisDeviceOnly);
    ASSERT_TRUE(store->setString("v", "k"));
    Value attributes;
    ASSERT_EQ(SecItemCopyMatching(Dictionary{{kSecClass, kSecClassGenericPassword},
                                             {kSecAttrService, "svc"},
                                             {kSecAttrSynchronizable, kSecAttrSynchronizableAny},
                                             {kSecReturnAttributes, true}},
                                  &attributes),
              errSecSuccess);
    EXPECT_EQ(attributes[kSecAttrSynchronizable], Value(true));
    EXPECT_EQ(attributes[kSecAttrAccessible], Value(kSecAttrAccessibleWhenUnlockedThisDeviceOnly));

    store->setAccessibility(KeychainItemStoreAccessibilityWhenUnlocked, kSecAccessControlUserPresence);
    EXPECT_EQ(logged.back(), "Cannot specify both an authenticationPolicy and a synchronizable");
    EXPECT_EQ(store->authenticationPolicy(), kSecAccessControlUserPresence);
    EXPECT_TRUE(store->synchronizable());
    auto built = store->attributesWithKey("k", NSData::fromString("v"), nullptr);
    ASSERT_TRUE(built);
    EXPECT_TRUE((*built)[kSecAttrAccessControl].objectAs<SecAccessControl>());
    store->setAccessibility(KeychainItemStoreAccessibilityWhenUnlocked, 1ull << 40);
    Ref<NSError> error;
    EXPECT_FALSE(store->attributesWithKey("k", NSData::fromString("v"), &error));
    EXPECT_TRUE(error);
}

TEST_F(Keychain, ALockedDeviceRewritesTheItemOnOldSystems) {
    auto store = KeychainItemStore::keyChainStoreWithService("svc");
    ASSERT_TRUE(store->setString("old", "k"));
    NSFoundationVersionNumber = 1047.20;  // version 7
    security_testing::injectKeychainStatus(security_testing::SecItemOperation::CopyMatching,
                                           errSecInteractionNotAllowed);
    EXPECT_TRUE(store->setString("new", "k"));
    EXPECT_EQ(store->stringForKey("k"), std::optional<std::string>("new"));

    security_testing::injectKeychainStatus(security_testing::SecItemOperation::CopyMatching, -34);
    Ref<NSError> error;
    EXPECT_FALSE(store->setString("x", "k", std::nullopt, std::nullopt, std::nullopt, &error));
    EXPECT_EQ(error->code(), -34);
    EXPECT_EQ(logged.back(), "OSStatus error: [-34] Security error has occurred.");
}

TEST_F(Keychain, ItemsSurviveARestartInAPrivateFile) {
    ASSERT_TRUE(KeychainItemStore::keyChainStoreWithService("svc")->setString("kept", "k"));
    security_testing::setKeychainFile(dir.file("keychain.plist"));  // a restart reads the file again
    EXPECT_EQ(KeychainItemStore::keyChainStoreWithService("svc")->stringForKey("k"),
              std::optional<std::string>("kept"));
    struct stat info {};
    ASSERT_EQ(stat(dir.file("keychain.plist").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST_F(Keychain, SharedCredentialsNeedAServerAndFindNoneHere) {
    auto generic = KeychainItemStore::keyChainStoreWithService("svc");
    Ref<NSError> error;
    generic->sharedPasswordWithCompletion([&](auto, auto, Ref<NSError> e) { error = e; });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), 1);

    auto web = KeychainItemStore::keyChainStoreWithServer(NSURL::URLWithString("https://garage.example"),
                                                          KeychainItemStoreProtocolTypeHTTPS);
    std::atomic<bool> done{false};
    std::optional<std::string> password = "unset";
    web->sharedPasswordForAccount("ada", [&](std::optional<std::string> p, Ref<NSError>) {
        password = p;
        done = true;
    });
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return done.load(); }));
    EXPECT_FALSE(password);
    auto generated = KeychainItemStore::generatePassword();
    ASSERT_TRUE(generated);
    EXPECT_EQ(generated->size(), 15u);
}

}  // namespace
