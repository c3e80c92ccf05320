// Tuning lists against the stand-in server: list, store (and the name clash 50002), update, fetch
// by id and delete; the record's option group; the calls without a signed-in user.

#include <gtest/gtest.h>

#include "app/QVNTuningList.h"
#include "app/QVNUser.h"
#include "app/QVNUserManager.h"
#include "tests/studio/StudioTestSupport.h"

using namespace studiotest;

namespace {

class QVNTuningListTest : public StudioServerTest {
  protected:
    void signIn() {
        devserver::SampleUser sample = server.users().at(0);
        bool done = false;
        QVNUser::loginWithUserName(sample.user_username, sample.password,
                                   [&](const Ref<NSError>& error, const Ref<QVNUser>&) {
                                       EXPECT_FALSE(error);
                                       done = true;
                                   });
        ASSERT_TRUE(waitUntil([&] { return done; }));
        ASSERT_TRUE(QVNUserManager::shareObject()->currentUserToken());
    }
    Ref<QVNTuningList> newList(const std::string& name) {
        auto list = make<QVNTuningList>();
        list->list_name = name;
        list->car_id = NSNumber::numberWithInt(101);
        list->optionGroup =
            Dictionary{{"lunke", "运动轮毂"},
                       {"qianbaowei_color", Dictionary{{"r", 255}, {"g", 10}, {"b", 0}, {"isColor", 1}}}};
        return list;
    }
    std::pair<std::optional<NSNumber>, Ref<NSError>> store(const Ref<QVNTuningList>& list) {
        std::optional<std::pair<std::optional<NSNumber>, Ref<NSError>>> result;
        QVNTuningList::upLoadTuningList(list,
                                        [&](const std::optional<NSNumber>& id, const Ref<NSError>& error) {
                                            result = std::make_pair(id, error);
                                        });
        EXPECT_TRUE(waitUntil([&] { return result.has_value(); }));
        return result.value_or(std::make_pair(std::nullopt, nullptr));
    }
    std::pair<std::optional<Array>, Ref<NSError>> listMine() {
        std::optional<std::pair<std::optional<Array>, Ref<NSError>>> result;
        QVNTuningList::getTuninglistWithCompletion(
            [&](const std::optional<Array>& lists, const Ref<NSError>& error) {
                result = std::make_pair(lists, error);
            });
        EXPECT_TRUE(waitUntil([&] { return result.has_value(); }));
        return result.value_or(std::make_pair(std::nullopt, nullptr));
    }
    Ref<QVNTuningList> byId(const std::optional<NSNumber>& id) {
        bool done = false;
        Ref<QVNTuningList> found;
        QVNTuningList::getTuninglistByTuningListId(id, [&](const Ref<QVNTuningList>& list) {
            found = list;
            done = true;
        });
        EXPECT_TRUE(waitUntil([&] { return done; }));
        return found;
    }
    void TearDown() override {
        QVNUserManager::shareObject()->logOut();
        StudioServerTest::TearDown();
    }
};

}  // namespace

TEST_F(QVNTuningListTest, StoreListFetchByIdAndDelete) {
    signIn();
    auto empty = listMine();
    ASSERT_TRUE(empty.first);
    EXPECT_EQ(empty.first->count(), 0u);

    auto list = newList("我的方案");
    auto [id, error] = store(list);
    ASSERT_FALSE(error);
    ASSERT_TRUE(id);
    // Only jsontxt changes on the record.
    EXPECT_FALSE(list->tuninglist_id);
    ASSERT_TRUE(list->jsontxt);
    EXPECT_EQ(QVNTuningList::optionGroupWithText(list->jsontxt), list->optionGroup);
    auto stored = server.tuningLists(server.users().at(0).user_id);
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0].jsontxt, *list->jsontxt);
    EXPECT_EQ(stored[0].car_id, 101);

    auto mine = listMine();
    ASSERT_TRUE(mine.first);
    ASSERT_EQ(mine.first->count(), 1u);
    auto record = (*mine.first)[0].objectAs<QVNTuningList>();
    EXPECT_EQ(record->tuninglist_id, *id);
    EXPECT_EQ(record->list_name, std::string("我的方案"));
    EXPECT_EQ(record->car_id, NSNumber::numberWithInt(101));
    EXPECT_EQ(record->optionGroup, list->optionGroup);
    EXPECT_FALSE(record->selected);

    auto one = byId(id);
    ASSERT_TRUE(one);
    EXPECT_EQ(one->list_name, std::string("我的方案"));
    EXPECT_EQ(one->jsontxt, list->jsontxt);
    EXPECT_FALSE(server.requestsTo("car/gettuninglistbyid.do").back().queryParam("user_token"));

    std::optional<Ref<NSError>> deleted;
    QVNTuningList::deleteTuningList(record, [&](const Ref<NSError>& e) { deleted = e; });
    ASSERT_TRUE(waitUntil([&] { return deleted.has_value(); }));
    EXPECT_FALSE(*deleted);
    EXPECT_EQ(listMine().first->count(), 0u);
    EXPECT_FALSE(byId(id));
}

TEST_F(QVNTuningListTest, AStoredNameCannotBeStoredAgain) {
    signIn();
    ASSERT_FALSE(store(newList("重名")).second);
    auto second = newList("重名");
    second->tuninglist_id = NSNumber::numberWithInt(999);
    auto [id, error] = store(second);
    EXPECT_FALSE(id);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), QVNAPIErrorDomain);
    EXPECT_EQ(error->code(), QVNResultCodeTuningListExists);
    // The store always sends id 0.
    EXPECT_EQ(server.requestsTo("car/uploadtuninglist.do").back().queryParam("tuninglist_id"),
              std::string("0"));
}

TEST_F(QVNTuningListTest, UpdateSendsTheListsOwnIdAndStoredText) {
    signIn();
    auto list = newList("改前");
    auto [id, error] = store(list);
    ASSERT_TRUE(id);
    list->tuninglist_id = id;
    list->list_name = "改后";
    list->jsontxt = "{\"weiyi\":\"鸭尾\"}";
    std::optional<std::pair<bool, std::optional<NSNumber>>> result;
    QVNTuningList::updateTuningList(list, [&](bool ok, const std::optional<NSNumber>& newId) {
        result = {ok, newId};
    });
    ASSERT_TRUE(waitUntil([&] { return result.has_value(); }));
    EXPECT_TRUE(result->first);
    EXPECT_EQ(result->second, *id);
    auto stored = server.tuningLists(server.users().at(0).user_id);
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0].list_name, "改后");
    EXPECT_EQ(stored[0].jsontxt, "{\"weiyi\":\"鸭尾\"}");
}

TEST_F(QVNTuningListTest, SignedOutCallsFailWithTheExpiredSignInCode) {
    auto [lists, error] = listMine();
    EXPECT_FALSE(lists);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), QVNResultCodeInvalidToken);
    auto stored = store(newList("x"));
    ASSERT_TRUE(stored.second);
    EXPECT_EQ(stored.second->code(), QVNResultCodeInvalidToken);
    std::optional<std::pair<bool, std::optional<NSNumber>>> updated;
    QVNTuningList::updateTuningList(newList("y"), [&](bool ok, const std::optional<NSNumber>& id) {
        updated = {ok, id};
    });
    ASSERT_TRUE(waitUntil([&] { return updated.has_value(); }));
    EXPECT_FALSE(updated->first);
    EXPECT_FALSE(updated->second);
}

TEST_F(QVNTuningListTest, TransportFailuresReachTheCompletions) {
    devserver::RouteControl drop;
    drop.dropConnection = true;
    server.setRouteControl("car/*", drop);
    auto [lists, error] = listMine();
    EXPECT_FALSE(lists);
    EXPECT_TRUE(error);
    EXPECT_FALSE(byId(NSNumber::numberWithInt(1)));
    std::optional<Ref<NSError>> deleted;
    QVNTuningList::deleteTuningList(newList("z"), [&](const Ref<NSError>& e) { deleted = e; });
    ASSERT_TRUE(waitUntil([&] { return deleted.has_value(); }));
    EXPECT_TRUE(*deleted);
}

TEST(QVNTuningListRecordTest, InitWithDictReadsTheWireKeys) {
    QVNTuningList list(Dictionary{{"uid", 3},
                                  {"tuninglist_id", "42"},
                                  {"list_name", "名"},
                                  {"car_id", 101},
                                  {"jsontxt", "{\"lunke\":\"标准\"}"}});
    EXPECT_EQ(list.uid, NSNumber::numberWithInt(3));
    EXPECT_EQ(list.tuninglist_id, NSNumber::numberWithInt(42));
    EXPECT_EQ(list.list_name, std::string("名"));
    ASSERT_TRUE(list.optionGroup);
    EXPECT_EQ((*list.optionGroup)["lunke"].stringValue(), "标准");
    for (const char* text : {"not json", "[1,2]", "\"text\"", "", "{\"a\":"}) {
        QVNTuningList bad(Dictionary{{"jsontxt", text}, {"tuninglist_id", "4x"}});
        EXPECT_FALSE(bad.optionGroup) << text;
        EXPECT_FALSE(bad.tuninglist_id);
    }
    QVNTuningList none(Value(7));
    EXPECT_FALSE(none.jsontxt);
    EXPECT_FALSE(none.optionGroup);
}

TEST(QVNTuningListRecordTest, MutatedGroupTextsNeverCrash) {
    const std::string valid =
        "{\"lunke\":\"标准\",\"qianbaowei_color\":{\"r\":1,\"g\":2,\"b\":3,\"isColor\":1}}";
    for (unsigned seed = 0; seed < 300; ++seed) {
        QVNTuningList list(Dictionary{{"jsontxt", testsupport::mutate(valid, seed)}});
        if (list.optionGroup) {
            EXPECT_TRUE(Value(*list.optionGroup).isDictionary());
        }
    }
}
