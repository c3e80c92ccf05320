// The keychain stand-in: adding, finding, updating and deleting generic and internet passwords,
// duplicates, match limits, the synchronizable rule, access control, injected statuses,
// persistence across restarts, and damaged or hostile keychain files.

#include "security/SecItem.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "dispatch/Clock.h"
#include "foundation/NSLog.h"
#include "foundation/NSSandbox.h"
#include "tests/support/TestSupport.h"

namespace {

NSData bytes(const std::string& text) {
    return NSData::fromString(text);
}

Dictionary genericQuery(const std::string& service, const std::string& account) {
    return Dictionary{
        {kSecClass, kSecClassGenericPassword}, {kSecAttrService, service}, {kSecAttrAccount, account}};
}

Dictionary with(Dictionary base, std::initializer_list<Dictionary::Entry> more) {
    Dictionary out = base.mutableCopy();
    for (const auto& [key, value] : more) out.setObject(key, value);
    return out;
}

class SecItemTest : public ::testing::Test {
  protected:
    void SetUp() override {
        path_ = directory_.file("Keychains/keychain.plist");
        SecItemSetKeychainFileForTesting(path_);
        SecItemClearInjectedStatusesForTesting();
        previousSink_ = NSLogSetSink([this](const std::string& line) { logged_.push_back(line); });
    }
    void TearDown() override {
        NSLogSetSink(previousSink_);
        SecItemClearInjectedStatusesForTesting();
        SecItemSetKeychainFileForTesting(std::nullopt);
    }

    static OSStatus add(const std::string& service, const std::string& account, const std::string& secret) {
        return SecItemAdd(with(genericQuery(service, account), {{kSecValueData, bytes(secret)}}), nullptr);
    }

    static std::optional<std::string> read(const std::string& service, const std::string& account) {
        Value result;
        OSStatus status =
            SecItemCopyMatching(with(genericQuery(service, account),
                                     {{kSecReturnData, true}, {kSecMatchLimit, kSecMatchLimitOne}}),
                                &result);
        if (status != errSecSuccess || !result.isData()) return std::nullopt;
        return result.data()->toString();
    }

    // Drops what the keychain holds in memory; the next call reads the file again.
    void restart() { SecItemSetKeychainFileForTesting(path_); }

    testsupport::TemporaryDirectory directory_;
    std::string path_;
    std::vector<std::string> logged_;
    NSLogSink previousSink_;
};

TEST_F(SecItemTest, AddThenFindTheSecret) {
    EXPECT_EQ(read("svc", "alice"), std::nullopt);
    ASSERT_EQ(add("svc", "alice", "s3cret"), errSecSuccess);
    EXPECT_EQ(read("svc", "alice"), "s3cret");
    EXPECT_EQ(read("svc", "bob"), std::nullopt);
    EXPECT_EQ(read("other", "alice"), std::nullopt);
    Value result = "untouched";
    EXPECT_EQ(SecItemCopyMatching(genericQuery("svc", "nobody"), &result), errSecItemNotFound);
    EXPECT_TRUE(result.isNil());
}

TEST_F(SecItemTest, AMatchWithoutReturnOptionsOnlyAnswersTheStatus) {
    ASSERT_EQ(add("svc", "alice", "x"), errSecSuccess);
    Value result = "untouched";
    EXPECT_EQ(SecItemCopyMatching(genericQuery("svc", "alice"), &result), errSecSuccess);
    EXPECT_TRUE(result.isNil());
    EXPECT_EQ(SecItemCopyMatching(genericQuery("svc", "alice"), nullptr), errSecSuccess);
}

TEST_F(SecItemTest, AttributesComeBackWithTheirDefaults) {
    ASSERT_EQ(SecItemAdd(with(genericQuery("svc", "alice"), {{kSecValueData, bytes("pw")},
                                                             {kSecAttrLabel, "svc"},
                                                             {kSecAttrComment, "note"},
                                                             {kSecAttrGeneric, bytes("g")}}),
                         nullptr),
              errSecSuccess);
    Value result;
    ASSERT_EQ(
        SecItemCopyMatching(with(genericQuery("svc", "alice"), {{kSecReturnAttributes, true}}), &result),
        errSecSuccess);
    ASSERT_TRUE(result.isDictionary());
    EXPECT_EQ(result[kSecClass], Value(kSecClassGenericPassword));
    EXPECT_EQ(result[kSecAttrService], Value("svc"));
    EXPECT_EQ(result[kSecAttrAccount], Value("alice"));
    EXPECT_EQ(result[kSecAttrLabel], Value("svc"));
    EXPECT_EQ(result[kSecAttrComment], Value("note"));
    EXPECT_EQ(result[kSecAttrGeneric], Value(bytes("g")));
    EXPECT_EQ(result[kSecAttrAccessible], Value(kSecAttrAccessibleWhenUnlocked));
    EXPECT_EQ(result[kSecAttrSynchronizable], Value(false));
    EXPECT_TRUE(result[kSecAttrCreationDate].isDate());
    EXPECT_TRUE(result[kSecAttrModificationDate].isDate());
    EXPECT_TRUE(result[kSecValueData].isNil());  // data was not asked for

    ASSERT_EQ(SecItemCopyMatching(
                  with(genericQuery("svc", "alice"), {{kSecReturnAttributes, true}, {kSecReturnData, true}}),
                  &result),
              errSecSuccess);
    EXPECT_EQ(result[kSecValueData], Value(bytes("pw")));
}

TEST_F(SecItemTest, AddCanReturnTheNewItem) {
    Value result;
    ASSERT_EQ(
        SecItemAdd(with(genericQuery("svc", "a"), {{kSecValueData, bytes("pw")}, {kSecReturnData, true}}),
                   &result),
        errSecSuccess);
    EXPECT_EQ(result, Value(bytes("pw")));
    ASSERT_EQ(SecItemAdd(with(genericQuery("svc", "b"), {{kSecReturnAttributes, true}}), &result),
              errSecSuccess);
    EXPECT_EQ(result[kSecAttrAccount], Value("b"));
}

TEST_F(SecItemTest, TheSameIdentityTwiceIsADuplicate) {
    ASSERT_EQ(add("svc", "alice", "one"), errSecSuccess);
    EXPECT_EQ(add("svc", "alice", "two"), errSecDuplicateItem);
    EXPECT_EQ(read("svc", "alice"), "one");
    // Label and comment are not part of the identity; account, service and group are.
    EXPECT_EQ(SecItemAdd(with(genericQuery("svc", "alice"), {{kSecAttrLabel, "other label"}}), nullptr),
              errSecDuplicateItem);
    EXPECT_EQ(add("svc", "alice2", "x"), errSecSuccess);
    EXPECT_EQ(add("svc2", "alice", "x"), errSecSuccess);
    EXPECT_EQ(
        SecItemAdd(with(genericQuery("svc", "alice"), {{kSecAttrAccessGroup, "group.shared"}}), nullptr),
        errSecSuccess);
    // An item without account or service is one identity too.
    EXPECT_EQ(SecItemAdd({{kSecClass, kSecClassGenericPassword}}, nullptr), errSecSuccess);
    EXPECT_EQ(SecItemAdd({{kSecClass, kSecClassGenericPassword}, {kSecAttrAccount, ""}}, nullptr),
              errSecDuplicateItem);
}

TEST_F(SecItemTest, MatchLimitsAndOrder) {
    for (const char* account : {"c", "a", "b"})
        ASSERT_EQ(add("svc", account, std::string("pw-") + account), errSecSuccess);
    ASSERT_EQ(add("elsewhere", "z", "pw-z"), errSecSuccess);
    Dictionary byService{{kSecClass, kSecClassGenericPassword}, {kSecAttrService, "svc"}};

    Value all;
    ASSERT_EQ(SecItemCopyMatching(
                  with(byService, {{kSecMatchLimit, kSecMatchLimitAll}, {kSecReturnAttributes, true}}), &all),
              errSecSuccess);
    ASSERT_TRUE(all.isArray());
    ASSERT_EQ(all.array()->count(), 3u);
    EXPECT_EQ(all[0][kSecAttrAccount], Value("c"));  // in the order they were added
    EXPECT_EQ(all[1][kSecAttrAccount], Value("a"));
    EXPECT_EQ(all[2][kSecAttrAccount], Value("b"));

    Value two;
    ASSERT_EQ(SecItemCopyMatching(with(byService, {{kSecMatchLimit, 2}, {kSecReturnData, true}}), &two),
              errSecSuccess);
    ASSERT_TRUE(two.isArray());
    ASSERT_EQ(two.array()->count(), 2u);
    EXPECT_EQ(two[0], Value(bytes("pw-c")));

    Value one;
    ASSERT_EQ(SecItemCopyMatching(with(byService, {{kSecReturnData, true}}), &one), errSecSuccess);
    EXPECT_EQ(one, Value(bytes("pw-c")));

    // A limit of all with a single match is still a list.
    Value single;
    ASSERT_EQ(SecItemCopyMatching(with(genericQuery("elsewhere", "z"),
                                       {{kSecMatchLimit, kSecMatchLimitAll}, {kSecReturnData, true}}),
                                  &single),
              errSecSuccess);
    ASSERT_TRUE(single.isArray());
    EXPECT_EQ(single.array()->count(), 1u);

    Value everything;
    ASSERT_EQ(SecItemCopyMatching({{kSecClass, kSecClassGenericPassword},
                                   {kSecMatchLimit, kSecMatchLimitAll},
                                   {kSecReturnAttributes, true}},
                                  &everything),
              errSecSuccess);
    EXPECT_EQ(everything.array()->count(), 4u);
}

TEST_F(SecItemTest, UpdateChangesEveryMatch) {
    ASSERT_EQ(add("svc", "a", "1"), errSecSuccess);
    ASSERT_EQ(add("svc", "b", "2"), errSecSuccess);
    ASSERT_EQ(add("other", "c", "3"), errSecSuccess);
    ASSERT_EQ(SecItemUpdate({{kSecClass, kSecClassGenericPassword}, {kSecAttrService, "svc"}},
                            {{kSecValueData, bytes("new")}, {kSecAttrLabel, "changed"}}),
              errSecSuccess);
    EXPECT_EQ(read("svc", "a"), "new");
    EXPECT_EQ(read("svc", "b"), "new");
    EXPECT_EQ(read("other", "c"), "3");
    Value attributes;
    SecItemCopyMatching(with(genericQuery("svc", "a"), {{kSecReturnAttributes, true}}), &attributes);
    EXPECT_EQ(attributes[kSecAttrLabel], Value("changed"));
    EXPECT_EQ(SecItemUpdate(genericQuery("svc", "zz"), {{kSecValueData, bytes("x")}}), errSecItemNotFound);
}

TEST_F(SecItemTest, UpdateKeepsCreationAndMovesModification) {
    PlatformClock::useManualClock(1'700'000'000.0);
    ASSERT_EQ(add("svc", "a", "1"), errSecSuccess);
    PlatformClock::advance(10);
    ASSERT_EQ(SecItemUpdate(genericQuery("svc", "a"), {{kSecValueData, bytes("2")}}), errSecSuccess);
    Value attributes;
    SecItemCopyMatching(with(genericQuery("svc", "a"), {{kSecReturnAttributes, true}}), &attributes);
    PlatformClock::useRealClock();
    ASSERT_TRUE(attributes[kSecAttrCreationDate].isDate());
    EXPECT_DOUBLE_EQ(attributes[kSecAttrCreationDate].date()->timeIntervalSince1970(), 1'700'000'000.0);
    EXPECT_DOUBLE_EQ(attributes[kSecAttrModificationDate].date()->timeIntervalSince1970(), 1'700'000'010.0);
}

TEST_F(SecItemTest, AnUpdateThatWouldMakeADuplicateChangesNothing) {
    ASSERT_EQ(add("svc", "a", "1"), errSecSuccess);
    ASSERT_EQ(add("svc", "b", "2"), errSecSuccess);
    EXPECT_EQ(SecItemUpdate(genericQuery("svc", "a"), {{kSecAttrAccount, "b"}}), errSecDuplicateItem);
    EXPECT_EQ(read("svc", "a"), "1");
    EXPECT_EQ(read("svc", "b"), "2");
    // Two matches renamed to one account collide with each other.
    EXPECT_EQ(SecItemUpdate({{kSecClass, kSecClassGenericPassword}}, {{kSecAttrAccount, "same"}}),
              errSecDuplicateItem);
    // A rename to a free account works.
    EXPECT_EQ(SecItemUpdate(genericQuery("svc", "a"), {{kSecAttrAccount, "c"}}), errSecSuccess);
    EXPECT_EQ(read("svc", "c"), "1");
}

TEST_F(SecItemTest, UpdateRefusesClassesAndOptionsInTheChanges) {
    ASSERT_EQ(add("svc", "a", "1"), errSecSuccess);
    EXPECT_EQ(SecItemUpdate(genericQuery("svc", "a"), {{kSecClass, kSecClassInternetPassword}}), errSecParam);
    EXPECT_EQ(SecItemUpdate(genericQuery("svc", "a"), {{kSecReturnData, true}}), errSecParam);
    EXPECT_EQ(SecItemUpdate(genericQuery("svc", "a"), {{kSecAttrServer, "host"}}), errSecNoSuchAttr);
    EXPECT_EQ(SecItemUpdate(genericQuery("svc", "a"), {{kSecValueData, "text"}}), errSecParam);
    EXPECT_EQ(read("svc", "a"), "1");
}

TEST_F(SecItemTest, DeleteRemovesEveryMatch) {
    ASSERT_EQ(add("svc", "a", "1"), errSecSuccess);
    ASSERT_EQ(add("svc", "b", "2"), errSecSuccess);
    ASSERT_EQ(add("keep", "a", "3"), errSecSuccess);
    EXPECT_EQ(SecItemDelete({{kSecClass, kSecClassGenericPassword}, {kSecAttrService, "svc"}}),
              errSecSuccess);
    EXPECT_EQ(read("svc", "a"), std::nullopt);
    EXPECT_EQ(read("svc", "b"), std::nullopt);
    EXPECT_EQ(read("keep", "a"), "3");
    EXPECT_EQ(SecItemDelete(genericQuery("svc", "a")), errSecItemNotFound);
    EXPECT_EQ(SecItemDelete({{kSecClass, kSecClassInternetPassword}}), errSecItemNotFound);
}

TEST_F(SecItemTest, SynchronizableItemsAreSeenOnlyWhenAskedFor) {
    ASSERT_EQ(SecItemAdd(with(genericQuery("svc", "a"),
                              {{kSecAttrSynchronizable, true}, {kSecValueData, bytes("s")}}),
                         nullptr),
              errSecSuccess);
    ASSERT_EQ(add("svc", "a", "local"), errSecSuccess);  // not a duplicate: the flag is part of the identity
    EXPECT_EQ(read("svc", "a"), "local");

    Value all;
    ASSERT_EQ(SecItemCopyMatching(
                  with(genericQuery("svc", "a"), {{kSecAttrSynchronizable, kSecAttrSynchronizableAny},
                                                  {kSecMatchLimit, kSecMatchLimitAll},
                                                  {kSecReturnData, true}}),
                  &all),
              errSecSuccess);
    EXPECT_EQ(all.array()->count(), 2u);
    Value synced;
    ASSERT_EQ(SecItemCopyMatching(
                  with(genericQuery("svc", "a"), {{kSecAttrSynchronizable, true}, {kSecReturnData, true}}),
                  &synced),
              errSecSuccess);
    EXPECT_EQ(synced, Value(bytes("s")));

    EXPECT_EQ(SecItemDelete(genericQuery("svc", "a")), errSecSuccess);
    EXPECT_EQ(read("svc", "a"), std::nullopt);
    EXPECT_EQ(
        SecItemDelete(with(genericQuery("svc", "a"), {{kSecAttrSynchronizable, kSecAttrSynchronizableAny}})),
        errSecSuccess);
    // "Any" is for searching, not a value to store.
    EXPECT_EQ(
        SecItemAdd(with(genericQuery("svc", "b"), {{kSecAttrSynchronizable, kSecAttrSynchronizableAny}}),
                   nullptr),
        errSecParam);
}

TEST_F(SecItemTest, InternetPasswordsHaveTheirOwnIdentity) {
    Dictionary site{{kSecClass, kSecClassInternetPassword},
                    {kSecAttrServer, "forum.test"},
                    {kSecAttrProtocol, kSecAttrProtocolHTTPS},
                    {kSecAttrAuthenticationType, kSecAttrAuthenticationTypeDefault},
                    {kSecAttrPort, 443},
                    {kSecAttrAccount, "alice"}};
    ASSERT_EQ(SecItemAdd(with(site, {{kSecValueData, bytes("pw")}}), nullptr), errSecSuccess);
    EXPECT_EQ(SecItemAdd(site, nullptr), errSecDuplicateItem);
    EXPECT_EQ(SecItemAdd(with(site, {{kSecAttrPort, 8443}}), nullptr), errSecSuccess);
    EXPECT_EQ(SecItemAdd(with(site, {{kSecAttrProtocol, kSecAttrProtocolHTTP}}), nullptr), errSecSuccess);
    // A generic password with the same account is another class altogether.
    EXPECT_EQ(add("forum.test", "alice", "x"), errSecSuccess);

    Value found;
    ASSERT_EQ(SecItemCopyMatching({{kSecClass, kSecClassInternetPassword},
                                   {kSecAttrServer, "forum.test"},
                                   {kSecAttrPort, 443L},
                                   {kSecReturnAttributes, true},
                                   {kSecReturnData, true}},
                                  &found),
              errSecSuccess);
    EXPECT_EQ(found[kSecValueData], Value(bytes("pw")));
    EXPECT_EQ(found[kSecAttrProtocol], Value(kSecAttrProtocolHTTPS));
    EXPECT_EQ(found[kSecClass], Value(kSecClassInternetPassword));
    EXPECT_EQ(SecItemAdd({{kSecClass, kSecClassInternetPassword}, {kSecAttrService, "svc"}}, nullptr),
              errSecNoSuchAttr);
}

TEST_F(SecItemTest, AccessControlIsStoredWithTheItem) {
    Ref<NSError> error;
    auto control = SecAccessControlCreateWithFlags(kSecAttrAccessibleWhenPasscodeSetThisDeviceOnly,
                                                   kSecAccessControlUserPresence, &error);
    ASSERT_TRUE(control);
    ASSERT_EQ(SecItemAdd(with(genericQuery("svc", "a"),
                              {{kSecAttrAccessControl, control}, {kSecValueData, bytes("pw")}}),
                         nullptr),
              errSecSuccess);
    Value attributes;
    ASSERT_EQ(SecItemCopyMatching(
                  with(genericQuery("svc", "a"), {{kSecReturnAttributes, true},
                                                  {kSecUseOperationPrompt, "Authenticate"},
                                                  {kSecUseAuthenticationUI, kSecUseAuthenticationUIFail}}),
                  &attributes),
              errSecSuccess);
    auto stored = attributes[kSecAttrAccessControl].objectAs<SecAccessControl>();
    ASSERT_TRUE(stored);
    EXPECT_TRUE(stored->isEqual(*control));
    EXPECT_EQ(attributes[kSecAttrAccessible], Value(kSecAttrAccessibleWhenPasscodeSetThisDeviceOnly));

    restart();
    ASSERT_EQ(
        SecItemCopyMatching(with(genericQuery("svc", "a"), {{kSecReturnAttributes, true}}), &attributes),
        errSecSuccess);
    stored = attributes[kSecAttrAccessControl].objectAs<SecAccessControl>();
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->flags(), kSecAccessControlUserPresence);

    // Access control excludes a separate accessibility and synchronising.
    EXPECT_EQ(SecItemAdd(with(genericQuery("svc", "b"), {{kSecAttrAccessControl, control},
                                                         {kSecAttrAccessible, kSecAttrAccessibleAlways}}),
                         nullptr),
              errSecParam);
    EXPECT_EQ(SecItemAdd(with(genericQuery("svc", "b"),
                              {{kSecAttrAccessControl, control}, {kSecAttrSynchronizable, true}}),
                         nullptr),
              errSecParam);
}

TEST_F(SecItemTest, AccessControlCreationChecksItsArguments) {
    Ref<NSError> error;
    EXPECT_FALSE(SecAccessControlCreateWithFlags("nonsense", kSecAccessControlUserPresence, &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), errSecParam);
    EXPECT_FALSE(SecAccessControlCreateWithFlags(kSecAttrAccessibleAlways,
                                                 kSecAccessControlOr | kSecAccessControlAnd, nullptr));
    EXPECT_FALSE(SecAccessControlCreateWithFlags(kSecAttrAccessibleAlways, 1u << 20, nullptr));
    auto plain = SecAccessControlCreateWithFlags(kSecAttrAccessibleAfterFirstUnlock, 0, nullptr);
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->protection(), kSecAttrAccessibleAfterFirstUnlock);
}

TEST_F(SecItemTest, BadRequestsAreRefused) {
    EXPECT_EQ(SecItemAdd({{kSecAttrService, "svc"}}, nullptr), errSecParam);  // no class
    EXPECT_EQ(SecItemAdd({{kSecClass, "keys"}}, nullptr), errSecParam);       // unknown class
    EXPECT_EQ(SecItemAdd({{kSecClass, 3}}, nullptr), errSecParam);            // not a string
    EXPECT_EQ(SecItemAdd(with(genericQuery("s", "a"), {{"bogus", 1}}), nullptr), errSecParam);
    EXPECT_EQ(SecItemAdd(with(genericQuery("s", "a"), {{kSecValueData, "text"}}), nullptr), errSecParam);
    EXPECT_EQ(SecItemAdd({{kSecClass, kSecClassGenericPassword}, {kSecAttrAccount, 42}}, nullptr),
              errSecParam);
    EXPECT_EQ(SecItemAdd(with(genericQuery("s", "a"), {{kSecAttrAccessible, "sometimes"}}), nullptr),
              errSecParam);
    EXPECT_EQ(SecItemAdd(with(genericQuery("s", "a"), {{kSecAttrCreationDate, NSDate()}}), nullptr),
              errSecParam);
    EXPECT_EQ(
        SecItemCopyMatching({{kSecClass, kSecClassGenericPassword}, {kSecMatchLimit, "several"}}, nullptr),
        errSecParam);
    EXPECT_EQ(SecItemCopyMatching({{kSecClass, kSecClassGenericPassword}, {kSecMatchLimit, 0}}, nullptr),
              errSecParam);
    EXPECT_EQ(SecItemCopyMatching(Dictionary(), nullptr), errSecParam);
    EXPECT_EQ(SecItemDelete(Dictionary()), errSecParam);
    EXPECT_EQ(SecItemUpdate(Dictionary(), {{kSecValueData, bytes("x")}}), errSecParam);
    // Nothing was stored by any of these.
    EXPECT_EQ(SecItemCopyMatching({{kSecClass, kSecClassGenericPassword}}, nullptr), errSecItemNotFound);
}

TEST_F(SecItemTest, AGenericAttributeGivenAsTextIsKeptAsItsBytes) {
    ASSERT_EQ(SecItemAdd(with(genericQuery("s", "a"), {{kSecAttrGeneric, "tag"}}), nullptr), errSecSuccess);
    Value attributes;
    ASSERT_EQ(SecItemCopyMatching(with(genericQuery("s", "a"), {{kSecReturnAttributes, true}}), &attributes),
              errSecSuccess);
    EXPECT_EQ(attributes[kSecAttrGeneric], Value(bytes("tag")));
}

TEST_F(SecItemTest, InjectedStatusesStandInForALockedDevice) {
    ASSERT_EQ(add("svc", "a", "1"), errSecSuccess);
    SecItemInjectStatusForTesting(SecItemOperation::CopyMatching, errSecInteractionNotAllowed);
    EXPECT_EQ(SecItemCopyMatching(genericQuery("svc", "a"), nullptr), errSecInteractionNotAllowed);
    EXPECT_EQ(SecItemCopyMatching(genericQuery("svc", "a"), nullptr), errSecSuccess);  // once only

    SecItemInjectStatusForTesting(SecItemOperation::Update, errSecInteractionNotAllowed, 2);
    EXPECT_EQ(SecItemUpdate(genericQuery("svc", "a"), {{kSecValueData, bytes("2")}}),
              errSecInteractionNotAllowed);
    EXPECT_EQ(SecItemUpdate(genericQuery("svc", "a"), {{kSecValueData, bytes("2")}}),
              errSecInteractionNotAllowed);
    EXPECT_EQ(SecItemUpdate(genericQuery("svc", "a"), {{kSecValueData, bytes("2")}}), errSecSuccess);

    SecItemInjectStatusForTesting(SecItemOperation::Add, errSecInteractionNotAllowed, -1);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(add("svc", "n" + std::to_string(i), "x"), errSecInteractionNotAllowed);
    SecItemInjectStatusForTesting(SecItemOperation::Delete, errSecAuthFailed);
    EXPECT_EQ(SecItemDelete(genericQuery("svc", "a")), errSecAuthFailed);
    SecItemClearInjectedStatusesForTesting();
    EXPECT_EQ(add("svc", "n0", "x"), errSecSuccess);
    EXPECT_EQ(read("svc", "a"), "2");
}

TEST_F(SecItemTest, ItemsOutliveARestart) {
    ASSERT_EQ(add("svc", "a", "persisted"), errSecSuccess);
    ASSERT_EQ(SecItemAdd({{kSecClass, kSecClassInternetPassword},
                          {kSecAttrServer, "forum.test"},
                          {kSecAttrPort, 8080},
                          {kSecAttrAccount, "bob"},
                          {kSecValueData, bytes(std::string("\0\xff bin", 6))}},
                         nullptr),
              errSecSuccess);
    restart();
    EXPECT_EQ(read("svc", "a"), "persisted");
    Value found;
    ASSERT_EQ(SecItemCopyMatching({{kSecClass, kSecClassInternetPassword},
                                   {kSecAttrServer, "forum.test"},
                                   {kSecAttrPort, 8080},
                                   {kSecReturnData, true}},
                                  &found),
              errSecSuccess);
    EXPECT_EQ(found, Value(bytes(std::string("\0\xff bin", 6))));
    EXPECT_EQ(add("svc", "a", "again"), errSecDuplicateItem);
    ASSERT_EQ(SecItemDelete(genericQuery("svc", "a")), errSecSuccess);
    restart();
    EXPECT_EQ(read("svc", "a"), std::nullopt);
    EXPECT_TRUE(logged_.empty());
}

TEST_F(SecItemTest, TheKeychainLivesUnderTheSandboxRoot) {
    testsupport::TemporaryDirectory first, second;
    ASSERT_TRUE(NSSandbox::setRoot(first.path()));
    SecItemSetKeychainFileForTesting(std::nullopt);
    EXPECT_EQ(SecItemKeychainFilePath(), first.path() + "/Library/Keychains/keychain.plist");
    ASSERT_EQ(add("svc", "a", "in the first sandbox"), errSecSuccess);
    EXPECT_TRUE(std::filesystem::exists(first.path() + "/Library/Keychains/keychain.plist"));

    ASSERT_TRUE(NSSandbox::setRoot(second.path()));
    EXPECT_EQ(read("svc", "a"), std::nullopt);
    ASSERT_EQ(add("svc", "a", "in the second sandbox"), errSecSuccess);

    // Back to the first root: its file is read again.
    ASSERT_TRUE(NSSandbox::setRoot(first.path()));
    EXPECT_EQ(read("svc", "a"), "in the first sandbox");
    NSSandbox::resetForTesting();
}

TEST_F(SecItemTest, TheFileIsPrivateToTheUser) {
    ASSERT_EQ(add("svc", "a", "x"), errSecSuccess);
    EXPECT_EQ(SecItemKeychainFilePath(), path_);
    struct stat info {};
    ASSERT_EQ(::stat(path_.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    // No temporary files are left beside it.
    int entries = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator(directory_.file("Keychains"))) {
        ++entries;
    }
    EXPECT_EQ(entries, 1);
}

TEST_F(SecItemTest, AFailedWriteLeavesTheKeychainAsItWas) {
    ASSERT_EQ(add("svc", "a", "x"), errSecSuccess);
    // A directory where the file should be makes every write fail.
    std::string blocked = directory_.file("blocked");
    std::filesystem::create_directories(blocked + "/keychain.plist/inside");
    SecItemSetKeychainFileForTesting(blocked + "/keychain.plist");
    EXPECT_EQ(add("svc", "b", "y"), errSecIO);
    EXPECT_EQ(read("svc", "b"), std::nullopt);
}

TEST_F(SecItemTest, ADamagedFileCountsAsEmpty) {
    ASSERT_EQ(add("svc", "a", "x"), errSecSuccess);
    {
        std::ofstream file(path_, std::ios::trunc);
        file << "this is not a keychain";
    }
    restart();
    EXPECT_EQ(read("svc", "a"), std::nullopt);
    EXPECT_FALSE(logged_.empty());
    // The next change replaces the damaged file with a good one.
    ASSERT_EQ(add("svc", "b", "y"), errSecSuccess);
    restart();
    EXPECT_EQ(read("svc", "b"), "y");
}

TEST_F(SecItemTest, HostileFilesNeverCrash) {
    ASSERT_EQ(add("svc", "a", "x"), errSecSuccess);
    ASSERT_EQ(SecItemAdd({{kSecClass, kSecClassInternetPassword}, {kSecAttrServer, "h"}, {kSecAttrPort, 1}},
                         nullptr),
              errSecSuccess);
    auto control =
        SecAccessControlCreateWithFlags(kSecAttrAccessibleAlways, kSecAccessControlDevicePasscode, nullptr);
    ASSERT_EQ(SecItemAdd(with(genericQuery("svc", "c"), {{kSecAttrAccessControl, control}}), nullptr),
              errSecSuccess);
    auto good = NSData::dataWithContentsOfFile(path_);
    ASSERT_TRUE(good);
    for (unsigned seed = 0; seed < 800; ++seed) {
        std::string mutated = testsupport::mutate(good->toString(), seed);
        {
            std::ofstream file(path_, std::ios::binary | std::ios::trunc);
            file.write(mutated.data(), static_cast<std::streamsize>(mutated.size()));
        }
        restart();
        Value all;
        OSStatus status = SecItemCopyMatching({{kSecClass, kSecClassGenericPassword},
                                               {kSecAttrSynchronizable, kSecAttrSynchronizableAny},
                                               {kSecMatchLimit, kSecMatchLimitAll},
                                               {kSecReturnAttributes, true},
                                               {kSecReturnData, true}},
                                              &all);
        ASSERT_TRUE(status == errSecSuccess || status == errSecItemNotFound) << status;
        if (status == errSecSuccess) {
            for (const Value& item : *all.array()) {
                // Whatever survived is well-formed.
                EXPECT_TRUE(item[kSecValueData].isData());
                EXPECT_TRUE(item[kSecAttrAccount].isNil() || item[kSecAttrAccount].isString());
            }
        }
        // The keychain still works afterwards.
        if (seed % 16 == 0) {
            OSStatus added = add("svc", "fresh", "y");
            ASSERT_TRUE(added == errSecSuccess || added == errSecDuplicateItem) << added;
        }
    }
    restart();
}

TEST_F(SecItemTest, ConcurrentCallersSeeAConsistentKeychain) {
    constexpr int kThreads = 6;
    constexpr int kItems = 15;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &failures] {
            for (int i = 0; i < kItems; ++i) {
                std::string account = "t" + std::to_string(t) + "-" + std::to_string(i);
                if (add("svc", account, account) != errSecSuccess) failures++;
                if (read("svc", account) != account) failures++;
                if (i % 3 == 0 && SecItemDelete(genericQuery("svc", account)) != errSecSuccess) failures++;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(failures.load(), 0);
    restart();
    Value all;
    ASSERT_EQ(SecItemCopyMatching({{kSecClass, kSecClassGenericPassword},
                                   {kSecMatchLimit, kSecMatchLimitAll},
                                   {kSecReturnAttributes, true}},
                                  &all),
              errSecSuccess);
    EXPECT_EQ(all.array()->count(), static_cast<std::size_t>(kThreads * (kItems - 5)));
}

}  // namespace
