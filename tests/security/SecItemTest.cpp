// The keychain stand-in: adding, finding, updating and deleting generic and internet passwords,
// duplicates, match limits, the synchronizable rule, access control, injected statuses,
// persistence across restarts, and damaged or hostile keychain files.

#include "security/SecItem.h"
#include "foundation/FoundationTesting.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "dispatch/Clock.h"
#include "foundation/NSLog.h"
#include "foundation/NSSandbox.h"
#include "security/SecurityTesting.h"
#include "tests/support/TestSupport.h"

namespace {

NSData bytes(const std::string& text) {
    return NSData::fromString(text);
}

Dictionary with(Dictionary base, std::initializer_list<Dictionary::Entry> more) {
    Dictionary out = base.mutableCopy();
    for (const auto& [key, value] : more) out.setObject(key, value);
    return out;
}

Dictionary generic(const std::string& service, const std::string& account,
                   std::initializer_list<Dictionary::Entry> more = {}) {
    return with(
        {{kSecClass, kSecClassGenericPassword}, {kSecAttrService, service}, {kSecAttrAccount, account}},
        more);
}

const Dictionary kAllGeneric{{kSecClass, kSecClassGenericPassword}};

OSStatus addItem(const Dictionary& query) {
    return SecItemAdd(query, nullptr);
}

// Runs a search that must succeed and hands back what it found.
Value found(const Dictionary& query) {
    Value result;
    EXPECT_EQ(SecItemCopyMatching(query, &result), errSecSuccess);
    return result;
}

Value attributesOf(const std::string& service, const std::string& account) {
    return found(generic(service, account, {{kSecReturnAttributes, true}}));
}

// Length of a list result; -1 when the result is not a list.
long countOf(const Value& v) {
    return v.isArray() ? static_cast<long>(v.array()->count()) : -1;
}

class SecItemTest : public ::testing::Test {
  protected:
    void SetUp() override {
        path_ = directory_.file("Keychains/keychain.plist");
        security_testing::setKeychainFile(path_);
        security_testing::clearInjectedKeychainStatuses();
        previousSink_ = NSLogSetSink([this](const std::string& line) { logged_.push_back(line); });
    }
    void TearDown() override {
        NSLogSetSink(previousSink_);
        security_testing::clearInjectedKeychainStatuses();
        security_testing::setKeychainFile(std::nullopt);
    }

    static OSStatus add(const std::string& service, const std::string& account, const std::string& secret) {
        return addItem(generic(service, account, {{kSecValueData, bytes(secret)}}));
    }

    static std::optional<std::string> read(const std::string& service, const std::string& account) {
        Value result;
        OSStatus status = SecItemCopyMatching(
            generic(service, account, {{kSecReturnData, true}, {kSecMatchLimit, kSecMatchLimitOne}}),
            &result);
        if (status != errSecSuccess || !result.isData()) return std::nullopt;
        return result.data()->toString();
    }

    // Drops what the keychain holds in memory; the next call reads the file again.
    void restart() { security_testing::setKeychainFile(path_); }

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
    EXPECT_EQ(SecItemCopyMatching(generic("svc", "nobody"), &result), errSecItemNotFound);
    EXPECT_TRUE(result.isNil());
    // A match without return options only answers the status.
    result = "untouched";
    EXPECT_EQ(SecItemCopyMatching(generic("svc", "alice"), &result), errSecSuccess);
    EXPECT_TRUE(result.isNil());
    EXPECT_EQ(SecItemCopyMatching(generic("svc", "alice"), nullptr), errSecSuccess);
}

TEST_F(SecItemTest, AttributesComeBackWithTheirDefaults) {
    ASSERT_EQ(addItem(generic("svc", "alice",
                              {{kSecValueData, bytes("pw")},
                               {kSecAttrLabel, "svc"},
                               {kSecAttrComment, "note"},
                               {kSecAttrGeneric, bytes("g")}})),
              errSecSuccess);
    Value result = attributesOf("svc", "alice");
    ASSERT_TRUE(result.isDictionary());
    const std::pair<const char*, Value> expected[] = {{kSecClass, kSecClassGenericPassword},
                                                      {kSecAttrService, "svc"},
                                                      {kSecAttrAccount, "alice"},
                                                      {kSecAttrLabel, "svc"},
                                                      {kSecAttrComment, "note"},
                                                      {kSecAttrGeneric, bytes("g")},
                                                      {kSecAttrAccessible, kSecAttrAccessibleWhenUnlocked},
                                                      {kSecAttrSynchronizable, false}};
    for (const auto& [key, value] : expected) EXPECT_EQ(result[key], value) << key;
    EXPECT_TRUE(result[kSecAttrCreationDate].isDate());
    EXPECT_TRUE(result[kSecAttrModificationDate].isDate());
    EXPECT_TRUE(result[kSecValueData].isNil());  // data was not asked for
    result = found(generic("svc", "alice", {{kSecReturnAttributes, true}, {kSecReturnData, true}}));
    EXPECT_EQ(result[kSecValueData], Value(bytes("pw")));
    // A generic attribute given as text is kept as its bytes.
    ASSERT_EQ(addItem(generic("s", "a", {{kSecAttrGeneric, "tag"}})), errSecSuccess);
    EXPECT_EQ(attributesOf("s", "a")[kSecAttrGeneric], Value(bytes("tag")));
}

TEST_F(SecItemTest, AddCanReturnTheNewItem) {
    Value result;
    ASSERT_EQ(
        SecItemAdd(generic("svc", "a", {{kSecValueData, bytes("pw")}, {kSecReturnData, true}}), &result),
        errSecSuccess);
    EXPECT_EQ(result, Value(bytes("pw")));
    ASSERT_EQ(SecItemAdd(generic("svc", "b", {{kSecReturnAttributes, true}}), &result), errSecSuccess);
    EXPECT_EQ(result[kSecAttrAccount], Value("b"));
}

TEST_F(SecItemTest, TheSameIdentityTwiceIsADuplicate) {
    ASSERT_EQ(add("svc", "alice", "one"), errSecSuccess);
    EXPECT_EQ(add("svc", "alice", "two"), errSecDuplicateItem);
    EXPECT_EQ(read("svc", "alice"), "one");
    // Label and comment are not part of the identity; account, service and group are.
    EXPECT_EQ(addItem(generic("svc", "alice", {{kSecAttrLabel, "other label"}})), errSecDuplicateItem);
    EXPECT_EQ(add("svc", "alice2", "x"), errSecSuccess);
    EXPECT_EQ(add("svc2", "alice", "x"), errSecSuccess);
    EXPECT_EQ(addItem(generic("svc", "alice", {{kSecAttrAccessGroup, "group.shared"}})), errSecSuccess);
    // An item without account or service is one identity too.
    EXPECT_EQ(addItem(kAllGeneric), errSecSuccess);
    EXPECT_EQ(addItem(with(kAllGeneric, {{kSecAttrAccount, ""}})), errSecDuplicateItem);
}

TEST_F(SecItemTest, MatchLimitsAndOrder) {
    for (const char* account : {"c", "a", "b"})
        ASSERT_EQ(add("svc", account, std::string("pw-") + account), errSecSuccess);
    ASSERT_EQ(add("elsewhere", "z", "pw-z"), errSecSuccess);
    Dictionary byService = with(kAllGeneric, {{kSecAttrService, "svc"}});

    Value all = found(with(byService, {{kSecMatchLimit, kSecMatchLimitAll}, {kSecReturnAttributes, true}}));
    ASSERT_EQ(countOf(all), 3);
    for (int i = 0; i < 3; ++i)  // in the order they were added
        EXPECT_EQ(all[i][kSecAttrAccount], Value(std::string(1, "cab"[i])));
    Value two = found(with(byService, {{kSecMatchLimit, 2}, {kSecReturnData, true}}));
    ASSERT_EQ(countOf(two), 2);
    EXPECT_EQ(two[0], Value(bytes("pw-c")));
    EXPECT_EQ(found(with(byService, {{kSecReturnData, true}})), Value(bytes("pw-c")));
    // A limit of all with a single match is still a list.
    EXPECT_EQ(countOf(found(
                  generic("elsewhere", "z", {{kSecMatchLimit, kSecMatchLimitAll}, {kSecReturnData, true}}))),
              1);
    EXPECT_EQ(countOf(found(
                  with(kAllGeneric, {{kSecMatchLimit, kSecMatchLimitAll}, {kSecReturnAttributes, true}}))),
              4);
}

TEST_F(SecItemTest, UpdateChangesEveryMatch) {
    ASSERT_EQ(add("svc", "a", "1"), errSecSuccess);
    ASSERT_EQ(add("svc", "b", "2"), errSecSuccess);
    ASSERT_EQ(add("other", "c", "3"), errSecSuccess);
    ASSERT_EQ(SecItemUpdate(with(kAllGeneric, {{kSecAttrService, "svc"}}),
                            {{kSecValueData, bytes("new")}, {kSecAttrLabel, "changed"}}),
              errSecSuccess);
    EXPECT_EQ(read("svc", "a"), "new");
    EXPECT_EQ(read("svc", "b"), "new");
    EXPECT_EQ(read("other", "c"), "3");
    EXPECT_EQ(attributesOf("svc", "a")[kSecAttrLabel], Value("changed"));
    EXPECT_EQ(SecItemUpdate(generic("svc", "zz"), {{kSecValueData, bytes("x")}}), errSecItemNotFound);
}

TEST_F(SecItemTest, UpdateKeepsCreationAndMovesModification) {
    PlatformClock::useManualClock(1'700'000'000.0);
    ASSERT_EQ(add("svc", "a", "1"), errSecSuccess);
    PlatformClock::advance(10);
    ASSERT_EQ(SecItemUpdate(generic("svc", "a"), {{kSecValueData, bytes("2")}}), errSecSuccess);
    Value attributes = attributesOf("svc", "a");
    PlatformClock::useRealClock();
    ASSERT_TRUE(attributes[kSecAttrCreationDate].isDate());
    EXPECT_DOUBLE_EQ(attributes[kSecAttrCreationDate].date()->timeIntervalSince1970(), 1'700'000'000.0);
    EXPECT_DOUBLE_EQ(attributes[kSecAttrModificationDate].date()->timeIntervalSince1970(), 1'700'000'010.0);
}

TEST_F(SecItemTest, UpdatesThatWouldMakeADuplicateOrAreMalformedChangeNothing) {
    ASSERT_EQ(add("svc", "a", "1"), errSecSuccess);
    ASSERT_EQ(add("svc", "b", "2"), errSecSuccess);
    EXPECT_EQ(SecItemUpdate(generic("svc", "a"), {{kSecAttrAccount, "b"}}), errSecDuplicateItem);
    // Two matches renamed to one account collide with each other.
    EXPECT_EQ(SecItemUpdate(kAllGeneric, {{kSecAttrAccount, "same"}}), errSecDuplicateItem);
    // Classes and options have no place among the changes.
    EXPECT_EQ(SecItemUpdate(generic("svc", "a"), {{kSecClass, kSecClassInternetPassword}}), errSecParam);
    EXPECT_EQ(SecItemUpdate(generic("svc", "a"), {{kSecReturnData, true}}), errSecParam);
    EXPECT_EQ(SecItemUpdate(generic("svc", "a"), {{kSecAttrServer, "host"}}), errSecNoSuchAttr);
    EXPECT_EQ(SecItemUpdate(generic("svc", "a"), {{kSecValueData, "text"}}), errSecParam);
    EXPECT_EQ(read("svc", "a"), "1");
    EXPECT_EQ(read("svc", "b"), "2");
    // A rename to a free account works.
    EXPECT_EQ(SecItemUpdate(generic("svc", "a"), {{kSecAttrAccount, "c"}}), errSecSuccess);
    EXPECT_EQ(read("svc", "c"), "1");
}

TEST_F(SecItemTest, DeleteRemovesEveryMatch) {
    ASSERT_EQ(add("svc", "a", "1"), errSecSuccess);
    ASSERT_EQ(add("svc", "b", "2"), errSecSuccess);
    ASSERT_EQ(add("keep", "a", "3"), errSecSuccess);
    EXPECT_EQ(SecItemDelete(with(kAllGeneric, {{kSecAttrService, "svc"}})), errSecSuccess);
    EXPECT_EQ(read("svc", "a"), std::nullopt);
    EXPECT_EQ(read("svc", "b"), std::nullopt);
    EXPECT_EQ(read("keep", "a"), "3");
    EXPECT_EQ(SecItemDelete(generic("svc", "a")), errSecItemNotFound);
    EXPECT_EQ(SecItemDelete({{kSecClass, kSecClassInternetPassword}}), errSecItemNotFound);
}

TEST_F(SecItemTest, SynchronizableItemsAreSeenOnlyWhenAskedFor) {
    ASSERT_EQ(addItem(generic("svc", "a", {{kSecAttrSynchronizable, true}, {kSecValueData, bytes("s")}})),
              errSecSuccess);
    ASSERT_EQ(add("svc", "a", "local"), errSecSuccess);  // not a duplicate: the flag is part of the identity
    EXPECT_EQ(read("svc", "a"), "local");
    EXPECT_EQ(countOf(found(generic("svc", "a",
                                    {{kSecAttrSynchronizable, kSecAttrSynchronizableAny},
                                     {kSecMatchLimit, kSecMatchLimitAll},
                                     {kSecReturnData, true}}))),
              2);
    EXPECT_EQ(found(generic("svc", "a", {{kSecAttrSynchronizable, true}, {kSecReturnData, true}})),
              Value(bytes("s")));
    EXPECT_EQ(SecItemDelete(generic("svc", "a")), errSecSuccess);
    EXPECT_EQ(read("svc", "a"), std::nullopt);
    EXPECT_EQ(SecItemDelete(generic("svc", "a", {{kSecAttrSynchronizable, kSecAttrSynchronizableAny}})),
              errSecSuccess);
    // "Any" is for searching, not a value to store.
    EXPECT_EQ(addItem(generic("svc", "b", {{kSecAttrSynchronizable, kSecAttrSynchronizableAny}})),
              errSecParam);
}

TEST_F(SecItemTest, InternetPasswordsHaveTheirOwnIdentity) {
    Dictionary site{{kSecClass, kSecClassInternetPassword},
                    {kSecAttrServer, "forum.test"},
                    {kSecAttrProtocol, kSecAttrProtocolHTTPS},
                    {kSecAttrAuthenticationType, kSecAttrAuthenticationTypeDefault},
                    {kSecAttrPort, 443},
                    {kSecAttrAccount, "alice"}};
    ASSERT_EQ(addItem(with(site, {{kSecValueData, bytes("pw")}})), errSecSuccess);
    EXPECT_EQ(addItem(site), errSecDuplicateItem);
    EXPECT_EQ(addItem(with(site, {{kSecAttrPort, 8443}})), errSecSuccess);
    EXPECT_EQ(addItem(with(site, {{kSecAttrProtocol, kSecAttrProtocolHTTP}})), errSecSuccess);
    // A generic password with the same account is another class altogether.
    EXPECT_EQ(add("forum.test", "alice", "x"), errSecSuccess);
    Value item = found({{kSecClass, kSecClassInternetPassword},
                        {kSecAttrServer, "forum.test"},
                        {kSecAttrPort, 443L},
                        {kSecReturnAttributes, true},
                        {kSecReturnData, true}});
    EXPECT_EQ(item[kSecValueData], Value(bytes("pw")));
    EXPECT_EQ(item[kSecAttrProtocol], Value(kSecAttrProtocolHTTPS));
    EXPECT_EQ(item[kSecClass], Value(kSecClassInternetPassword));
    EXPECT_EQ(addItem({{kSecClass, kSecClassInternetPassword}, {kSecAttrService, "svc"}}), errSecNoSuchAttr);
}

TEST_F(SecItemTest, AccessControlIsStoredWithTheItem) {
    Ref<NSError> error;
    auto control = SecAccessControlCreateWithFlags(kSecAttrAccessibleWhenPasscodeSetThisDeviceOnly,
                                                   kSecAccessControlUserPresence, &error);
    ASSERT_TRUE(control);
    ASSERT_EQ(addItem(generic("svc", "a", {{kSecAttrAccessControl, control}, {kSecValueData, bytes("pw")}})),
              errSecSuccess);
    Value attributes = found(generic("svc", "a",
                                     {{kSecReturnAttributes, true},
                                      {kSecUseOperationPrompt, "Authenticate"},
                                      {kSecUseAuthenticationUI, kSecUseAuthenticationUIFail}}));
    auto stored = attributes[kSecAttrAccessControl].objectAs<SecAccessControl>();
    ASSERT_TRUE(stored);
    EXPECT_TRUE(stored->isEqual(*control));
    EXPECT_EQ(attributes[kSecAttrAccessible], Value(kSecAttrAccessibleWhenPasscodeSetThisDeviceOnly));
    restart();
    stored = attributesOf("svc", "a")[kSecAttrAccessControl].objectAs<SecAccessControl>();
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->flags(), kSecAccessControlUserPresence);
    // Access control excludes a separate accessibility and synchronising.
    EXPECT_EQ(
        addItem(generic("svc", "b",
                        {{kSecAttrAccessControl, control}, {kSecAttrAccessible, kSecAttrAccessibleAlways}})),
        errSecParam);
    EXPECT_EQ(
        addItem(generic("svc", "b", {{kSecAttrAccessControl, control}, {kSecAttrSynchronizable, true}})),
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
    const Dictionary badAdds[] = {
        {{kSecAttrService, "svc"}},  // no class
        {{kSecClass, "keys"}},       // unknown class
        {{kSecClass, 3}},            // not a string
        generic("s", "a", {{"bogus", 1}}),
        generic("s", "a", {{kSecValueData, "text"}}),
        with(kAllGeneric, {{kSecAttrAccount, 42}}),
        generic("s", "a", {{kSecAttrAccessible, "sometimes"}}),
        generic("s", "a", {{kSecAttrCreationDate, NSDate()}}),
    };
    for (const Dictionary& query : badAdds) EXPECT_EQ(addItem(query), errSecParam);
    EXPECT_EQ(SecItemCopyMatching(with(kAllGeneric, {{kSecMatchLimit, "several"}}), nullptr), errSecParam);
    EXPECT_EQ(SecItemCopyMatching(with(kAllGeneric, {{kSecMatchLimit, 0}}), nullptr), errSecParam);
    EXPECT_EQ(SecItemCopyMatching(Dictionary(), nullptr), errSecParam);
    EXPECT_EQ(SecItemDelete(Dictionary()), errSecParam);
    EXPECT_EQ(SecItemUpdate(Dictionary(), {{kSecValueData, bytes("x")}}), errSecParam);
    // Nothing was stored by any of these.
    EXPECT_EQ(SecItemCopyMatching(kAllGeneric, nullptr), errSecItemNotFound);
}

TEST_F(SecItemTest, InjectedStatusesStandInForALockedDevice) {
    ASSERT_EQ(add("svc", "a", "1"), errSecSuccess);
    security_testing::injectKeychainStatus(security_testing::SecItemOperation::CopyMatching,
                                           errSecInteractionNotAllowed);
    EXPECT_EQ(SecItemCopyMatching(generic("svc", "a"), nullptr), errSecInteractionNotAllowed);
    EXPECT_EQ(SecItemCopyMatching(generic("svc", "a"), nullptr), errSecSuccess);  // once only
    security_testing::injectKeychainStatus(security_testing::SecItemOperation::Update,
                                           errSecInteractionNotAllowed, 2);
    for (OSStatus expected : {errSecInteractionNotAllowed, errSecInteractionNotAllowed, errSecSuccess})
        EXPECT_EQ(SecItemUpdate(generic("svc", "a"), {{kSecValueData, bytes("2")}}), expected);
    security_testing::injectKeychainStatus(security_testing::SecItemOperation::Add,
                                           errSecInteractionNotAllowed, -1);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(add("svc", "n" + std::to_string(i), "x"), errSecInteractionNotAllowed);
    security_testing::injectKeychainStatus(security_testing::SecItemOperation::Delete, errSecAuthFailed);
    EXPECT_EQ(SecItemDelete(generic("svc", "a")), errSecAuthFailed);
    security_testing::clearInjectedKeychainStatuses();
    EXPECT_EQ(add("svc", "n0", "x"), errSecSuccess);
    EXPECT_EQ(read("svc", "a"), "2");
}

TEST_F(SecItemTest, ItemsOutliveARestartInAPrivateFile) {
    const NSData binary = bytes(std::string("\0\xff bin", 6));
    const Dictionary site{
        {kSecClass, kSecClassInternetPassword}, {kSecAttrServer, "forum.test"}, {kSecAttrPort, 8080}};
    ASSERT_EQ(add("svc", "a", "persisted"), errSecSuccess);
    ASSERT_EQ(addItem(with(site, {{kSecAttrAccount, "bob"}, {kSecValueData, binary}})), errSecSuccess);
    EXPECT_EQ(SecItemKeychainFilePath(), path_);
    struct stat info {};
    ASSERT_EQ(::stat(path_.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    // No temporary files are left beside it.
    auto entries = std::filesystem::directory_iterator(directory_.file("Keychains"));
    EXPECT_EQ(std::distance(begin(entries), end(entries)), 1);
    restart();
    EXPECT_EQ(read("svc", "a"), "persisted");
    EXPECT_EQ(found(with(site, {{kSecReturnData, true}})), Value(binary));
    EXPECT_EQ(add("svc", "a", "again"), errSecDuplicateItem);
    ASSERT_EQ(SecItemDelete(generic("svc", "a")), errSecSuccess);
    restart();
    EXPECT_EQ(read("svc", "a"), std::nullopt);
    EXPECT_TRUE(logged_.empty());
}

TEST_F(SecItemTest, TheKeychainLivesUnderTheSandboxRoot) {
    testsupport::TemporaryDirectory first, second;
    ASSERT_TRUE(NSSandbox::setRoot(first.path()));
    security_testing::setKeychainFile(std::nullopt);
    EXPECT_EQ(SecItemKeychainFilePath(), first.path() + "/Library/Keychains/keychain.plist");
    ASSERT_EQ(add("svc", "a", "in the first sandbox"), errSecSuccess);
    EXPECT_TRUE(std::filesystem::exists(first.path() + "/Library/Keychains/keychain.plist"));
    ASSERT_TRUE(NSSandbox::setRoot(second.path()));
    EXPECT_EQ(read("svc", "a"), std::nullopt);
    ASSERT_EQ(add("svc", "a", "in the second sandbox"), errSecSuccess);
    // Back to the first root: its file is read again.
    ASSERT_TRUE(NSSandbox::setRoot(first.path()));
    EXPECT_EQ(read("svc", "a"), "in the first sandbox");
    foundation_testing::resetSandbox();
}

TEST_F(SecItemTest, AFailedWriteLeavesTheKeychainAsItWas) {
    ASSERT_EQ(add("svc", "a", "x"), errSecSuccess);
    // A directory where the file should be makes every write fail.
    std::string blocked = directory_.file("blocked");
    std::filesystem::create_directories(blocked + "/keychain.plist/inside");
    security_testing::setKeychainFile(blocked + "/keychain.plist");
    EXPECT_EQ(add("svc", "b", "y"), errSecIO);
    EXPECT_EQ(read("svc", "b"), std::nullopt);
}

TEST_F(SecItemTest, ADamagedFileCountsAsEmpty) {
    ASSERT_EQ(add("svc", "a", "x"), errSecSuccess);
    std::ofstream(path_, std::ios::trunc) << "this is not a keychain";
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
    ASSERT_EQ(addItem({{kSecClass, kSecClassInternetPassword}, {kSecAttrServer, "h"}, {kSecAttrPort, 1}}),
              errSecSuccess);
    auto control =
        SecAccessControlCreateWithFlags(kSecAttrAccessibleAlways, kSecAccessControlDevicePasscode, nullptr);
    ASSERT_EQ(addItem(generic("svc", "c", {{kSecAttrAccessControl, control}})), errSecSuccess);
    auto good = NSData::dataWithContentsOfFile(path_);
    ASSERT_TRUE(good);
    for (unsigned seed = 0; seed < 800; ++seed) {
        std::string mutated = testsupport::mutate(good->toString(), seed);
        std::ofstream(path_, std::ios::binary | std::ios::trunc)
            .write(mutated.data(), static_cast<std::streamsize>(mutated.size()));
        restart();
        Value all;
        OSStatus status =
            SecItemCopyMatching(with(kAllGeneric, {{kSecAttrSynchronizable, kSecAttrSynchronizableAny},
                                                   {kSecMatchLimit, kSecMatchLimitAll},
                                                   {kSecReturnAttributes, true},
                                                   {kSecReturnData, true}}),
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
                if (i % 3 == 0 && SecItemDelete(generic("svc", account)) != errSecSuccess) failures++;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(failures.load(), 0);
    restart();
    EXPECT_EQ(countOf(found(
                  with(kAllGeneric, {{kSecMatchLimit, kSecMatchLimitAll}, {kSecReturnAttributes, true}}))),
              kThreads * (kItems - 5));
}

}  // namespace
