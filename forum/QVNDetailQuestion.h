#pragma once
// The question detail screen's records and their calls:
//
//   QVNDetailQuestion    GET question/getquestion.do       question_id [, user_token]   -> "question"
//   QVNQuestionComment   GET question/getquestioncomment.do question_id, comment_id (0, then the
//                        last answer held) [, user_token]                                -> "reply"
//                        POST question/commentlike.do      user_token, comment_id (the toggle)
//                        GET <second root>question/commentlike.do  [user_token,] comment_id
//                        (a plain request, no result-code check; nothing calls it)
//
// Every page carries the token when a user is signed in, so liked answers show as liked on every
// page. A reply without "question" / "reply" gives no record / no list and no error. Completions
// run on the main thread.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/RMRecord.h"
#include "foundation/NSError.h"

class QVNDetailQuestion : public NSObject {
    RM_RECORD(QVNDetailQuestion, NSObject)
    using Completion = std::function<void(const Ref<QVNDetailQuestion>& question, const Ref<NSError>& error)>;

    std::optional<NSNumber> like;
    std::optional<std::string> user_logo;
    std::optional<std::string> question_title;
    std::optional<NSNumber> question_id;
    std::optional<std::string> user_sign;
    std::optional<std::string> question_pic;
    std::optional<std::string> question_txt;
    std::optional<std::string> addtime;
    std::optional<std::string> user_nickname;
    std::optional<std::string> question_content;  // an HTML fragment
    std::optional<NSNumber> reply;
    std::optional<NSNumber> is_like;  // 1 liked, 0 not
    std::optional<NSNumber> uid;

    static void getDetailQuestionWithQuestion(const std::optional<NSNumber>& questionId,
                                              Completion completion);
    // Kept for callers of the record; it does nothing.
    static void likeWithQuestion(const Ref<QVNDetailQuestion>& question) {}
};

class QVNQuestionComment : public NSObject {
    RM_RECORD(QVNQuestionComment, NSObject)
    using List = std::vector<Ref<QVNQuestionComment>>;
    using ListCompletion = std::function<void(const std::optional<List>& list, const Ref<NSError>& error)>;
    using ReplyCompletion = std::function<void(const Value& reply, const Ref<NSError>& error)>;
    using LikeUndone = std::function<void()>;

    std::optional<std::string> replytime;
    std::optional<std::string> user_logo;
    std::optional<std::string> pic_url;  // ";"-joined picture addresses
    std::optional<std::string> user_nickname;
    std::optional<NSNumber> like;
    std::optional<NSNumber> reply;
    std::optional<NSNumber> uid;
    std::optional<NSNumber> comment_id;
    std::optional<NSNumber> question_id;
    std::optional<std::string> re_content;
    bool is_like() const { return is_like_; }

    static void getCommentsWithQuestion(const std::optional<NSNumber>& questionId, ListCompletion completion);
    // With no answer held nothing is sent and the completion is not called.
    static void getMoreCommentsWithQuestion(const std::optional<NSNumber>& questionId,
                                            const Ref<QVNQuestionComment>& comment,
                                            ListCompletion completion);
    // Local toggle first, then the POST. 10003: the sign-in alert and sign-out; any refusal or
    // failure takes the toggle back and calls undone.
    void likeComment(LikeUndone undone = {});
    static void likeWithComment(const Ref<QVNQuestionComment>& comment, ReplyCompletion completion);

  private:
    static Value isLikeValue(const QVNQuestionComment& comment);
    static bool setIsLikeValue(QVNQuestionComment& comment, const Value& value);
    void toggleLike();
    bool is_like_ = false;
};
