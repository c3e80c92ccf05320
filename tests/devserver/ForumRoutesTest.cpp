// The forum's endpoints on the stand-in: state kept across calls (a published question first in
// the list with its pictures, answers and replies counted, likes toggled per user), brand and
// keyword filters, pages of ten, and refusals.

#include <gtest/gtest.h>

#include "DevServerTestClient.h"
#include "tools/devserver/ForumRoutes.h"

using namespace devservertest;

namespace {

class ForumRoutesTest : public ServerTest {
  protected:
    void SetUp() override {
        forum = devserver::addForumRoutes(server);
        ServerTest::SetUp();
        t = token();
    }
    Value list(const std::string& query = "question_id=0&brand_id=0") {
        return get(api("question/getquestionlist.do?" + query)).json();
    }
    Value search(const std::string& keyword, int page, int brand) {
        return get(api("search/search.do?type=4&keyword=" + escape(keyword) +
                       "&page=" + std::to_string(page) + "&cars_brand=" + std::to_string(brand)))
            .json();
    }
    std::shared_ptr<devserver::ForumRoutes> forum;
    std::string t;
};

TEST_F(ForumRoutesTest, ListsComeNewestFirstInPagesOfTen) {
    Value first = list();
    ASSERT_EQ(first["resultCode"].integerValue(), 0);
    ASSERT_EQ(first["data"].array()->count(), 10u);
    EXPECT_EQ(first["data"][0]["question_id"].integerValue(), 24);
    long last = first["data"][9]["question_id"].integerValue();
    Value second = list("question_id=" + std::to_string(last) + "&brand_id=0");
    EXPECT_EQ(second["data"][0]["question_id"].integerValue(), last - 1);
    Value end = list("question_id=1&brand_id=0");
    EXPECT_EQ(end["data"].array()->count(), 0u);
    // Pictures come as served addresses joined by ";".
    std::string pictures = first["data"][0]["question_pic"].stringValue();
    ASSERT_NE(pictures.find(';'), std::string::npos);
    auto picture = get(pictures.substr(0, pictures.find(';')));
    EXPECT_EQ(picture.status, 200);
    EXPECT_EQ(picture.header("Content-Type"), "image/png");
}

TEST_F(ForumRoutesTest, SampleQuestionPagesShowTheSamePicturesAsTheirRows) {
    struct Case {
        long id;
        std::size_t pictures;
    };
    for (const Case& c : {Case{24, 3}, Case{1, 2}, Case{3, 0}}) {
        Value detail =
            get(api("question/getquestion.do?question_id=" + std::to_string(c.id))).json()["question"];
        const std::string page = detail["question_content"].stringValue();
        const std::string joined = detail["question_pic"].stringValue();
        std::vector<std::string> pictures;
        for (std::size_t start = 0; start < joined.size();) {
            std::size_t end = std::min(joined.find(';', start), joined.size());
            pictures.push_back(joined.substr(start, end - start));
            start = end + 1;
        }
        ASSERT_EQ(pictures.size(), c.pictures) << c.id;
        std::size_t tags = 0;
        for (std::size_t at = page.find("<img"); at != std::string::npos; at = page.find("<img", at + 1))
            ++tags;
        EXPECT_EQ(tags, c.pictures) << page;
        for (const std::string& picture : pictures) {
            EXPECT_NE(page.find("<img src=\"" + picture + "\">"), std::string::npos) << page;
            EXPECT_EQ(get(picture).status, 200) << picture;
        }
        EXPECT_EQ(page.find('@'), std::string::npos) << page;
    }
}

TEST_F(ForumRoutesTest, SearchFiltersByBrandAndKeywordAndPagesByNumber) {
    Value brand2 = search("", 0, 2);
    ASSERT_EQ(brand2["data"].array()->count(), 10u);
    for (const Value& row : *brand2["data"].array())
        EXPECT_EQ(forum->question(row["question_id"].integerValue())->cars_brand, 2);
    EXPECT_EQ(search("", 1, 2)["data"].array()->count(), 2u);
    EXPECT_EQ(search("", 2, 2)["data"].array()->count(), 0u);
    Value keyword = search("尾翼", 0, 0);
    ASSERT_EQ(keyword["data"].array()->count(), 2u);
    EXPECT_EQ(search("尾翼", 0, 2)["data"].array()->count(), 0u);
    EXPECT_EQ(search("没有这个词", 0, 0)["data"].array()->count(), 0u);
    EXPECT_NE(get(api("search/search.do?type=1&keyword=a&page=0")).resultCode(), 0);
}

TEST_F(ForumRoutesTest, APublishedQuestionComesFirstWithItsPictures) {
    std::string picture = server.storePicture(std::string("\x89PNG\r\n\x1a\n", 8) + "x");
    auto published = postForm(api("question/addquestion.do"),
                              "user_token=" + t + "&question_txt=" + escape("正文") + "&question_title=" +
                                  escape("新问题") + "&question_content=" + escape("<p>正文</p>") +
                                  "&cars_brand=2&question_pic=" + escape(picture + ";" + picture));
    ASSERT_EQ(published.resultCode(), 0) << published.body;
    long id = published.json()["question_id"].integerValue();
    Value top = list()["data"][0];
    EXPECT_EQ(top["question_id"].integerValue(), id);
    EXPECT_EQ(top["question_title"].stringValue(), "新问题");
    EXPECT_EQ(top["question_pic"].stringValue(), picture + ";" + picture);
    EXPECT_EQ(top["uid"].integerValue(), 1);
    EXPECT_EQ(top["reply"].integerValue(), 0);
    Value detail = get(api("question/getquestion.do?question_id=" + std::to_string(id))).json()["question"];
    EXPECT_EQ(detail["question_content"].stringValue(), "<p>正文</p>");
    EXPECT_EQ(search("新问题", 0, 2)["data"][0]["question_id"].integerValue(), id);
}

TEST_F(ForumRoutesTest, PublishingRefusesMissingPartsAndBadTokens) {
    struct Case {
        std::string form;
        long code;
    };
    for (const Case& c : {Case{"question_txt=a&question_title=b&cars_brand=1", 10003},
                          Case{"user_token=nope&question_txt=a&question_title=b&cars_brand=1", 10003},
                          Case{"user_token=" + t + "&question_txt=a&question_title=&cars_brand=1", 10002},
                          Case{"user_token=" + t + "&question_txt=a&question_title=b&cars_brand=0", 10002},
                          Case{"user_token=" + t + "&question_txt=a&question_title=b", 10002}}) {
        EXPECT_EQ(postForm(api("question/addquestion.do"), c.form).resultCode(), c.code) << c.form;
    }
    EXPECT_EQ(forum->questions().size(), 24u);
}

TEST_F(ForumRoutesTest, AnswersAndRepliesPersistAndCount) {
    auto answered =
        get(api("question/addcomment.do?user_token=" + t + "&question_id=3&re_content=" + escape("好")));
    ASSERT_EQ(answered.resultCode(), 0) << answered.body;
    long answerId = answered.json()["comment_id"].integerValue();
    auto replied = get(api(
        "question/addcomment.do?user_token=" + t + "&question_id=3&re_content=" + escape("@改装达人:谢谢") +
        "&comment_id=" + std::to_string(answerId) + "&pic_url=" + escape("http://x/a.png;http://x/b.png")));
    ASSERT_EQ(replied.resultCode(), 0);
    Value page = get(api("question/getquestioncomment.do?question_id=3&comment_id=0")).json()["reply"];
    ASSERT_EQ(page.array()->count(), 2u);
    EXPECT_EQ(page[0]["pic_url"].stringValue(), "http://x/a.png;http://x/b.png");
    EXPECT_EQ(page[1]["comment_id"].integerValue(), answerId);
    EXPECT_EQ(page[1]["reply"].integerValue(), 1);
    EXPECT_EQ(list("question_id=4&brand_id=0")["data"][0]["reply"].integerValue(), 2);
    // Nothing to say, an unknown answer, no token.
    EXPECT_EQ(get(api("question/addcomment.do?user_token=" + t + "&question_id=3&re_content=")).resultCode(),
              10002);
    EXPECT_EQ(
        get(api("question/addcomment.do?user_token=" + t + "&question_id=3&re_content=a&comment_id=99999"))
            .resultCode(),
        10006);
    EXPECT_EQ(get(api("question/addcomment.do?question_id=3&re_content=a")).resultCode(), 10003);
}

TEST_F(ForumRoutesTest, LikesToggleByUserAndShowInLists) {
    for (const char* method : {"GET", "POST"}) {
        auto like = std::string(method) == "GET"
                        ? get(api("question/questionlike.do?user_token=" + t + "&question_id=1"))
                        : postForm(api("question/questionlike.do"), "user_token=" + t + "&question_id=1");
        ASSERT_EQ(like.resultCode(), 0);
        bool nowLiked = std::string(method) == "GET";
        EXPECT_EQ(like.json()["is_like"].integerValue(), nowLiked ? 1 : 0);
        EXPECT_EQ(like.json()["like"].integerValue(), nowLiked ? 1 : 0);
    }
    get(api("question/questionlike.do?user_token=" + t + "&question_id=1"));
    Value row = list("question_id=2&brand_id=0&user_token=" + t)["data"][0];
    EXPECT_EQ(row["is_like"].integerValue(), 1);
    EXPECT_EQ(list("question_id=2&brand_id=0")["data"][0]["is_like"].integerValue(), 0);
    long answer = forum->answers(24).front().comment_id;
    auto liked =
        postForm(api("question/commentlike.do"), "user_token=" + t + "&comment_id=" + std::to_string(answer));
    EXPECT_EQ(liked.json()["is_like"].integerValue(), 1);
    EXPECT_EQ(postForm(api("question/commentlike.do"), "comment_id=1").resultCode(), 10003);
    EXPECT_EQ(get(api("question/getquestionlist.do?question_id=0&user_token=expired")).resultCode(), 10003);
}

}  // namespace
