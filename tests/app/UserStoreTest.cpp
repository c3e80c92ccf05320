#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "app/CoreArchive.h"
#include "app/NSObject+RMCoding.h"
#include "app/NSString+ArcFile.h"
#include "app/QVNUser.h"
#include "app/QVNUserInfo.h"
#include "app/QVNUserManager.h"
#include "foundation/NSFileManager.h"
#include "foundation/NSJSONSerialization.h"
#include "foundation/NSSandbox.h"
#include "tests/support/TestSupport.h"

namespace {

class UserStoreTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(NSSandbox::setRoot(sandbox_.path())); }

    static Ref<QVNUser> sampleUser(const std::string& token = "tok") {
        auto user = make<QVNUser>();
        user->user_id = NSNumber::numberWithInt(7);
        user->user_username = "13800000000";
        user->user_nickname = "小明";
        user->user_sex = NSNumber::numberWithInt(1);
        user->user_token = token;
        return user;
    }

    static std::string file() { return QVNUserManager::currentUserFilePath(); }

    testsupport::TemporaryDirectory sandbox_;
};

// Records which keys a coding writes.
class KeyRecorder : public NSCoder {
  public:
    void encodeObject(const Value&, const std::string& key) override { keys.push_back(key); }
    void encodeBool(bool value, const std::string& key) override {
        keys.push_back(key);
        bools.push_back(value);
    }
    void encodeInt64(std::int64_t, const std::string& key) override { keys.push_back(key); }
    void encodeDouble(double, const std::string& key) override { keys.push_back(key); }
    Value decodeObjectForKey(const std::string&) override { return Value(); }
    Value decodeObjectOfClasses(const std::set<std::string>&, const std::string&) override { return Value(); }
    bool decodeBoolForKey(const std::string&) override { return false; }
    std::int64_t decodeInt64ForKey(const std::string&) override { return 0; }
    double decodeDoubleForKey(const std::string&) override { return 0; }
    bool containsValueForKey(const std::string&) const override { return false; }
    bool requiresSecureCoding() const override { return false; }
    std::vector<std::string> keys;
    std::vector<bool> bools;
};

}  // namespace

TEST_F(UserStoreTest, SignedOutWithoutAFile) {
    auto store = QVNUserManager::shareObject();
    EXPECT_EQ(store, QVNUserManager::shareObject());
    EXPECT_FALSE(store->hasCurrentUser());
    EXPECT_FALSE(store->currentUser());
    EXPECT_FALSE(store->currentUserToken());
    EXPECT_EQ(file(), NSString_ArcFile::cachesFolder() + "/QVNUserInfoKey.arc");
}

TEST_F(UserStoreTest, SaveAndReadBack) {
    auto store = QVNUserManager::shareObject();
    store->saveUser(sampleUser());
    EXPECT_TRUE(store->hasCurrentUser());
    auto user = store->currentUser();
    ASSERT_TRUE(user);
    EXPECT_EQ(user->user_id, NSNumber::numberWithInt(7));
    EXPECT_EQ(user->user_username, "13800000000");
    EXPECT_EQ(user->user_nickname, "小明");
    EXPECT_EQ(user->user_sex, NSNumber::numberWithInt(1));
    EXPECT_FALSE(user->user_email);
    EXPECT_EQ(store->currentUserToken(), "tok");

    // Every read is a new object; changes are lost until saved.
    auto again = store->currentUser();
    EXPECT_NE(user, again);
    EXPECT_EQ(again->user_nickname, user->user_nickname);
    user->user_nickname = "changed";
    EXPECT_EQ(store->currentUser()->user_nickname, "小明");
    store->saveUser(user);
    EXPECT_EQ(store->currentUser()->user_nickname, "changed");
}

TEST_F(UserStoreTest, LogOutKeepsTheFileWithNothingInIt) {
    auto store = QVNUserManager::shareObject();
    store->saveUser(sampleUser());
    store->logOut();
    EXPECT_FALSE(store->hasCurrentUser());
    EXPECT_FALSE(store->currentUser());
    EXPECT_FALSE(store->currentUserToken());
    EXPECT_TRUE(NSFileManager::defaultManager()->fileExistsAtPath(file()));
    // Saving nil signs out too.
    store->saveUser(sampleUser());
    store->saveUser(nullptr);
    EXPECT_FALSE(store->hasCurrentUser());
}

TEST_F(UserStoreTest, AnyDamagedFileReadsAsSignedOut) {
    auto store = QVNUserManager::shareObject();
    store->saveUser(sampleUser());
    auto valid = NSData::dataWithContentsOfFile(file());
    ASSERT_TRUE(valid);
    std::string bytes = valid->toString();

    for (std::size_t length = 0; length < bytes.size(); length += 5) {
        ASSERT_TRUE(NSData::fromString(bytes.substr(0, length)).writeToFile(file()));
        auto user = store->currentUser();
        EXPECT_EQ(store->hasCurrentUser(), user != nullptr);
        EXPECT_FALSE(user) << "a truncated file of " << length << " bytes still reads as a user";
    }
    for (unsigned seed = 0; seed < 300; ++seed) {
        ASSERT_TRUE(NSData::fromString(testsupport::mutate(bytes, seed)).writeToFile(file()));
        Ref<QVNUser> user = store->currentUser();
        EXPECT_EQ(store->hasCurrentUser(), user != nullptr);
        if (!user) {
            EXPECT_FALSE(store->currentUserToken());
        }
    }
    for (const char* junk : {"", "garbage", "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict/></plist>",
                             "\x00\x01\x02\xff"}) {
        ASSERT_TRUE(NSData::fromString(junk).writeToFile(file()));
        EXPECT_FALSE(store->hasCurrentUser()) << junk;
    }
}

TEST_F(UserStoreTest, AFileHoldingSomethingElseIsNoUser) {
    ASSERT_TRUE(CoreArchive::archiveRootObject(Value("just text"), file()));
    EXPECT_FALSE(QVNUserManager::shareObject()->hasCurrentUser());
    auto info = make<QVNUserInfo>();
    ASSERT_TRUE(CoreArchive::archiveRootObject(Value(info), file()));
    EXPECT_FALSE(QVNUserManager::shareObject()->currentUser());
    EXPECT_FALSE(QVNUserManager::shareObject()->currentUserToken());
}

TEST_F(UserStoreTest, ReadersNeverSeeHalfAFile) {
    auto store = QVNUserManager::shareObject();
    auto a = sampleUser("A");
    auto b = sampleUser("B");
    b->user_sign = std::string(4000, 'x');  // a longer file than A's
    store->saveUser(a);
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < 150; ++i) QVNUserManager::shareObject()->saveUser(i % 2 ? a : b);
        done = true;
    });
    int reads = 0;
    while (!done || reads < 10) {
        auto user = store->currentUser();
        if (!user) {
            ADD_FAILURE() << "read a partial file";
            break;
        }
        EXPECT_TRUE(user->user_token == "A" || user->user_token == "B");
        ++reads;
    }
    writer.join();
    // No temporary files are left beside the store.
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(NSString_ArcFile::cachesFolder())) {
        if (entry.path().filename().string().find("QVNUserInfoKey") != std::string::npos) ++files;
    }
    EXPECT_EQ(files, 1);
}

// ----- The record -----

TEST_F(UserStoreTest, UserFromALoginReply) {
    Value reply = NSJSONSerialization::JSONObjectWithData(
        NSData::fromString(R"({"resultCode":0,"user_id":7,"user_token":"t"})"), 0, nullptr);
    auto user = make<QVNUser>(*reply.dictionary());
    EXPECT_EQ(user->user_id, NSNumber::numberWithInt(7));
    EXPECT_EQ(user->user_token, "t");
    for (auto* field : {&user->user_username, &user->user_nickname, &user->user_sign, &user->user_logo,
                        &user->user_time, &user->user_email, &user->user_phone}) {
        EXPECT_FALSE(*field);
    }
    EXPECT_FALSE(user->user_sex);
    EXPECT_FALSE(user->isFriend);

    QVNUserManager::shareObject()->saveUser(user);
    auto stored = QVNUserManager::shareObject()->currentUser();
    EXPECT_EQ(stored->user_id, NSNumber::numberWithInt(7));
    EXPECT_EQ(stored->user_token, "t");
    EXPECT_FALSE(stored->user_nickname);
}

TEST_F(UserStoreTest, AttributesOfAnotherKindCountAsMissing) {
    Dictionary reply{{"user_id", "42"},
                     {"user_username", "never"},
                     {"user_nickname", 5},
                     {"user_sign", Array{1}},
                     {"user_sex", "1"},
                     {"user_permit", Dictionary()},
                     {"isFriend", true},
                     {"user_token", Value::null()},
                     {"user_logo", "http://h/a.png"}};
    auto user = make<QVNUser>(reply);
    EXPECT_EQ(user->user_id, NSNumber::numberWithInt(42));
    EXPECT_FALSE(user->user_username);  // no reply fills it
    EXPECT_EQ(user->user_nickname, "5");
    EXPECT_FALSE(user->user_sign);
    EXPECT_EQ(user->user_sex, NSNumber::numberWithInt(1));
    EXPECT_FALSE(user->user_permit);
    EXPECT_EQ(user->isFriend, NSNumber::numberWithBool(true));
    EXPECT_FALSE(user->user_token);
    EXPECT_EQ(user->user_logo, "http://h/a.png");
}

TEST_F(UserStoreTest, UserArchivesOnlyFieldsThatAreSet) {
    auto user = make<QVNUser>();
    user->user_id = NSNumber::numberWithInt(1);
    user->user_phone = "p";
    KeyRecorder recorder;
    user->encodeWithCoder(recorder);
    EXPECT_EQ(recorder.keys, (std::vector<std::string>{"user_id", "user_phone"}));
}

TEST_F(UserStoreTest, UserDecodesInstanceVariableKeys) {
    // An archive whose keys carry a leading "_" still fills the record.
    auto data = NSKeyedArchiver::archivedDataWithRootObject(
        Value(Dictionary{{"_user_token", "x"}, {"user_nickname", "n"}}));
    ASSERT_TRUE(data);
    auto user = make<QVNUser>();
    // Decode through a coder positioned on a dictionary-shaped archive.
    class Forward : public NSCoder {
      public:
        explicit Forward(Dictionary d) : d_(std::move(d)) {}
        void encodeObject(const Value&, const std::string&) override {}
        void encodeBool(bool, const std::string&) override {}
        void encodeInt64(std::int64_t, const std::string&) override {}
        void encodeDouble(double, const std::string&) override {}
        Value decodeObjectForKey(const std::string& key) override { return d_.objectForKey(key); }
        Value decodeObjectOfClasses(const std::set<std::string>&, const std::string& key) override {
            return d_.objectForKey(key);
        }
        bool decodeBoolForKey(const std::string&) override { return false; }
        std::int64_t decodeInt64ForKey(const std::string&) override { return 0; }
        double decodeDoubleForKey(const std::string&) override { return 0; }
        bool containsValueForKey(const std::string& key) const override { return d_.containsKey(key); }
        bool requiresSecureCoding() const override { return false; }

      private:
        Dictionary d_;
    };
    Forward coder(*NSKeyedUnarchiver::unarchiveObjectWithData(*data).dictionary());
    NSObject_RMCoding::decode(*user, coder);
    EXPECT_EQ(user->user_token, "x");
    EXPECT_EQ(user->user_nickname, "n");
}

TEST_F(UserStoreTest, SingleAndListModelFiles) {
    auto user = sampleUser();
    EXPECT_TRUE(QVNUser::saveSingleModel(Value(user), std::nullopt));
    EXPECT_TRUE(
        NSFileManager::defaultManager()->fileExistsAtPath(NSString_ArcFile::cachesFolder() + "/QVNUser.arc"));
    EXPECT_EQ(QVNUser::readSingleModelForKey(std::nullopt).objectAs<QVNUser>()->user_token, "tok");
    EXPECT_TRUE(QVNUser::saveSingleModel(Value(user), std::string("Other")));
    EXPECT_TRUE(QVNUser::readSingleModelForKey(std::string("Other")).objectAs<QVNUser>());
    EXPECT_TRUE(QVNUser::readSingleModelForKey(std::string("Missing")).isNil());

    EXPECT_TRUE(QVNUser::saveListModel(Value(Array{user, user}), std::nullopt));
    EXPECT_TRUE(NSFileManager::defaultManager()->fileExistsAtPath(NSString_ArcFile::cachesFolder() +
                                                                  "/ArrayQVNUser.arc"));
    Value list = QVNUser::readListModelForKey(std::nullopt);
    ASSERT_TRUE(list.isArray());
    EXPECT_EQ(list.array()->count(), 2u);
}

TEST_F(UserStoreTest, ProfileInfoCoding) {
    auto info = make<QVNUserInfo>();
    info->setUserNickname("昵称");
    info->setUserSign("sign");
    info->setUserGender(true);
    info->setUserLogo("http://h/l.png");
    KeyRecorder recorder;
    info->encodeWithCoder(recorder);
    EXPECT_EQ(recorder.keys,
              (std::vector<std::string>{"userNickname", "userGender", "userSign", "userLogo"}));
    EXPECT_EQ(recorder.bools, (std::vector<bool>{true}));

    auto data = NSKeyedArchiver::archivedDataWithRootObject(Value(info));
    ASSERT_TRUE(data);
    auto back = NSKeyedUnarchiver::unarchiveObjectWithData(*data).objectAs<QVNUserInfo>();
    ASSERT_TRUE(back);
    EXPECT_EQ(back->userNickname(), "昵称");
    EXPECT_EQ(back->userSign(), "sign");
    EXPECT_TRUE(back->userGender());
    EXPECT_EQ(back->userLogo(), "http://h/l.png");
}
