#include <gtest/gtest.h>

#include "DevServerTestClient.h"

using namespace devservertest;

namespace {

class TuningListRoutesTest : public ServerTest {
  protected:
    void SetUp() override {
        ServerTest::SetUp();
        t = token();
    }
    HTTPResult upload(const std::string& name, const std::string& json, long id = 0,
                      const std::string& tok = "") {
        return get(api("car/uploadtuninglist.do?car_id=7&jsontxt=" + escape(json) +
                       "&list_name=" + escape(name) + "&tuninglist_id=" + std::to_string(id) +
                       "&user_token=" + (tok.empty() ? t : tok)));
    }
    Value lists(const std::string& tok = "") {
        return get(api("car/gettuninglist.do?user_token=" + (tok.empty() ? t : tok))).json()["data"];
    }
    std::string t;
    const std::string jsontxt = R"({"lunke":"五辐","lunke_color":{"r":255,"g":0,"b":10,"isColor":1}})";
};

TEST_F(TuningListRoutesTest, StoredListsComeBackUnchanged) {
    auto stored = upload("我的方案", jsontxt);
    ASSERT_EQ(stored.resultCode(), 0) << stored.body;
    long id = stored.json()["tuninglist_id"].integerValue();
    EXPECT_GT(id, 0);
    Value rows = lists();
    ASSERT_EQ(rows.array()->count(), 1u);
    EXPECT_EQ(rows[0]["uid"].integerValue(), 1);
    EXPECT_EQ(rows[0]["tuninglist_id"].integerValue(), id);
    EXPECT_EQ(rows[0]["list_name"].stringValue(), "我的方案");
    EXPECT_EQ(rows[0]["car_id"].integerValue(), 7);
    EXPECT_EQ(rows[0]["jsontxt"].stringValue(), jsontxt);
    // By id, without a token, top level.
    auto byId = get(api("car/gettuninglistbyid.do?tuninglist_id=" + std::to_string(id)));
    ASSERT_EQ(byId.resultCode(), 0);
    EXPECT_EQ(byId.json()["jsontxt"].stringValue(), jsontxt);
    EXPECT_EQ(byId.json()["list_name"].stringValue(), "我的方案");
    EXPECT_EQ(byId.json()["uid"].integerValue(), 1);
}

TEST_F(TuningListRoutesTest, ANameClashGives50002PerUser) {
    ASSERT_EQ(upload("A", jsontxt).resultCode(), 0);
    EXPECT_EQ(upload("A", "{}").resultCode(), 50002);
    EXPECT_EQ(lists().array()->count(), 1u);
    // Another user may use the same name.
    std::string other = server.loginToken("13800000002");
    EXPECT_EQ(upload("A", "{}", 0, other).resultCode(), 0);
    EXPECT_EQ(lists(other).array()->count(), 1u);
    EXPECT_EQ(server.tuningLists(1).size(), 1u);
}

TEST_F(TuningListRoutesTest, UpdatingByIdKeepsTheIdAndChecksClashesWithOthers) {
    long a = upload("A", "{}").json()["tuninglist_id"].integerValue();
    long b = upload("B", "{}").json()["tuninglist_id"].integerValue();
    ASSERT_NE(a, b);
    auto renamed = upload("A", R"({"x":1})", a);
    ASSERT_EQ(renamed.resultCode(), 0);
    EXPECT_EQ(renamed.json()["tuninglist_id"].integerValue(), a);
    EXPECT_EQ(upload("B", "{}", a).resultCode(), 50002);
    EXPECT_EQ(upload("C", "{}", 9999).resultCode(), devserver::kResultNotFound);
}

TEST_F(TuningListRoutesTest, DeleteRemovesOnlyTheOwnersList) {
    long id = upload("A", "{}").json()["tuninglist_id"].integerValue();
    std::string other = server.loginToken("13800000002");
    std::string path = "car/deletetuninglist.do?tuninglist_id=" + std::to_string(id) + "&user_token=";
    EXPECT_EQ(get(api(path + other)).resultCode(), devserver::kResultNotFound);
    EXPECT_EQ(get(api(path + t)).resultCode(), 0);
    EXPECT_EQ(lists().array()->count(), 0u);
    EXPECT_EQ(get(api(path + t)).resultCode(), devserver::kResultNotFound);
    EXPECT_EQ(get(api("car/gettuninglistbyid.do?tuninglist_id=" + std::to_string(id))).resultCode(),
              devserver::kResultNotFound);
    // The name is free again.
    EXPECT_EQ(upload("A", "{}").resultCode(), 0);
}

TEST_F(TuningListRoutesTest, TokensAreChecked) {
    EXPECT_EQ(upload("A", "{}", 0, "bad").resultCode(), 10003);
    EXPECT_EQ(get(api("car/gettuninglist.do")).resultCode(), 10003);
    EXPECT_EQ(get(api("car/deletetuninglist.do?tuninglist_id=1&user_token=bad")).resultCode(), 10003);
    server.expireTokens();
    EXPECT_EQ(upload("A", "{}").resultCode(), 10003);
}

TEST_F(TuningListRoutesTest, MalformedParametersAreRefused) {
    EXPECT_EQ(
        get(api("car/uploadtuninglist.do?car_id=x&jsontxt=%7B%7D&list_name=a&tuninglist_id=0&user_token=" +
                t))
            .resultCode(),
        devserver::kResultBadRequest);
    EXPECT_EQ(
        get(api("car/uploadtuninglist.do?car_id=1&jsontxt=%7B%7D&list_name=&tuninglist_id=0&user_token=" + t))
            .resultCode(),
        devserver::kResultBadRequest);
    EXPECT_EQ(
        get(api("car/uploadtuninglist.do?car_id=1&list_name=a&tuninglist_id=0&user_token=" + t)).resultCode(),
        devserver::kResultBadRequest);
    EXPECT_EQ(
        get(api("car/uploadtuninglist.do?car_id=1&jsontxt=1&list_name=a&tuninglist_id=-1&user_token=" + t))
            .resultCode(),
        devserver::kResultBadRequest);
    EXPECT_EQ(get(api("car/gettuninglistbyid.do?tuninglist_id=")).resultCode(), devserver::kResultBadRequest);
    EXPECT_EQ(get(api("car/gettuninglistbyid.do?tuninglist_id=99999999999999999999")).resultCode(),
              devserver::kResultBadRequest);
}

}  // namespace
