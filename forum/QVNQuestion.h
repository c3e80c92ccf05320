#pragma once
// QVNQuestion: one question as the question list shows it, and the list-side server calls:
//
//   first page, plain   GET question/getquestionlist.do  question_id 0, brand_id 0 [, user_token]
//   next page, plain    GET question/getquestionlist.do  question_id = the last one held, brand_id 0
//   search              GET search/search.do             type 4, keyword, page ("%ld"), cars_brand
//                                                        ("%ld"), [user_token]
//   like (detail)       GET question/questionlike.do     user_token, question_id
//   like (list toggle)  POST question/questionlike.do    user_token, question_id
//
// The plain list pages by cursor (the last question_id held); the search pages by page number
// (pages of ten). A first page is a search when a brand is chosen or a keyword typed; a next page
// is a search when a brand is chosen or a keyword is given, so that the keyword's results go on
// with the next page instead of switching to the unfiltered list. A search's next page asked with
// page 0 ends paging (no list, no error).
//
// Replies: "data" rows mapped by name into records; a reply without "data" gives no list. A
// non-zero "resultCode" arrives as the "QVNAPI" error with that code (10003: the token is no
// longer valid). Completions run on the main thread, exactly once per request sent.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/QVNComment.h"
#include "app/RMRecord.h"
#include "foundation/NSError.h"

class QVNQuestion : public NSObject {
    RM_RECORD(QVNQuestion, NSObject)
    using List = std::vector<Ref<QVNQuestion>>;
    using ListCompletion = std::function<void(const std::optional<List>& list, const Ref<NSError>& error)>;
    using CommentsCompletion = std::function<void(const std::optional<std::vector<Ref<QVNComment>>>& list,
                                                  const Ref<NSError>& error)>;
    using ReplyCompletion = std::function<void(const Value& reply, const Ref<NSError>& error)>;
    // Told when the server refused a like toggle and the local change was taken back.
    using LikeUndone = std::function<void()>;

    std::optional<std::string> question_pic;
    std::optional<NSNumber> question_id;
    std::optional<std::string> question_txt;
    std::optional<std::string> question_title;
    std::optional<NSNumber> uid;
    std::optional<std::string> user_nickname;
    std::optional<std::string> user_logo;
    std::optional<std::string> addtime;
    std::optional<NSNumber> like;
    std::optional<NSNumber> reply;
    // Read-only: filled by the mapping, changed only by likeQuestion.
    bool is_like() const { return is_like_; }

    // GET "news/getcomment.do" (news_id = the question's id, comment_id 0); the "reply" rows as
    // comments. An error reply becomes a "QVNAPI" error with code 10000 carrying the server's text.
    static void fetchComments(const Ref<QVNQuestion>& question, CommentsCompletion completion);
    // GET "question/addcomment.do" with question_id, user_token, re_content = content and, when
    // given, comment_id. Signed out: the alert "请先登录后再评论" and nothing sent.
    static void replyRizUr(const Ref<QVNQuestion>& question, const std::optional<NSNumber>& commentId,
                           const std::string& content, ReplyCompletion completion);
    static void getQuestionsWithCompletion(ListCompletion completion);
    // An empty page: no list and no error.
    static void getMoreQuestionsWithQuestion(const Ref<QVNQuestion>& question, ListCompletion completion);
    // The whole reply ("like", "is_like"). Without a token nothing is sent and nothing called.
    static void likeWithQuestion(const std::optional<NSNumber>& questionId, ReplyCompletion completion);
    static void getQuestionsWithKeyword(const std::optional<std::string>& keyword, long page, long brandId,
                                        ListCompletion completion);
    static void getMoreQuestionsWithQuestion(const Ref<QVNQuestion>& last, ListCompletion completion,
                                             const std::optional<std::string>& keyword, long page,
                                             long brandId);

    // Flips is_like and moves like by one at once, then tells the server. 10003 shows the sign-in
    // alert and signs out; any refusal or failure takes the local change back and calls undone.
    void likeQuestion(LikeUndone undone = {});

  private:
    static Value isLikeValue(const QVNQuestion& question);
    static bool setIsLikeValue(QVNQuestion& question, const Value& value);
    void toggleLike();
    bool is_like_ = false;
};

// A brand of the brand filter and the brand choice. brand_id 0 stands for all brands.
class QVNMyCarBrand : public NSObject {
    RM_RECORD(QVNMyCarBrand, NSObject)
    using BrandsCompletion = std::function<void(const std::optional<std::vector<Ref<QVNMyCarBrand>>>& brands,
                                                const Ref<NSError>& error)>;

    std::optional<std::string> brand_name;
    std::optional<std::string> brand_logo;
    std::optional<NSNumber> brand_id;

    // GET "car/getcarlist.do": each brand reduced to name, logo and id, in the reply's order; a
    // brand without an id is left out. A reply without "data" gives an empty list.
    static void getCarBrandsCompletion(BrandsCompletion completion);
};
