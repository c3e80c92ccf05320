#include "forum/QVNDetailQuestion.h"

#include "app/NSNumber+Extension.h"
#include "app/NSObject+RMKeyValue.h"
#include "app/QVNAPIClient.h"
#include "app/QVNBaseURL.h"
#include "forum/ForumSupport.h"
#include "foundation/NSMainThreadCheck.h"
#include "net/HKHTTPRequestOperationManager.h"

using namespace detail::forum;

RM_PROPERTIES(QVNDetailQuestion, RM_PROPERTY(like), RM_PROPERTY(user_logo), RM_PROPERTY(question_title),
              RM_PROPERTY(question_id), RM_PROPERTY(user_sign), RM_PROPERTY(question_pic),
              RM_PROPERTY(question_txt), RM_PROPERTY(addtime), RM_PROPERTY(user_nickname),
              RM_PROPERTY(question_content), RM_PROPERTY(reply), RM_PROPERTY(is_like), RM_PROPERTY(uid))

RM_PROPERTIES(QVNQuestionComment, RM_PROPERTY(replytime), RM_PROPERTY(user_logo), RM_PROPERTY(pic_url),
              RM_PROPERTY(user_nickname), RM_PROPERTY(like), RM_PROPERTY(reply), RM_PROPERTY(uid),
              RM_PROPERTY(comment_id), RM_PROPERTY(question_id), RM_PROPERTY(re_content),
              RM_PROPERTY_CUSTOM("is_like", "B", &QVNQuestionComment::isLikeValue,
                                 &QVNQuestionComment::setIsLikeValue))

namespace {

constexpr char kQuestionPath[] = "question/getquestion.do";
constexpr char kCommentsPath[] = "question/getquestioncomment.do";
constexpr char kCommentLikePath[] = "question/commentlike.do";

void getPage(const Dictionary& params, QVNQuestionComment::ListCompletion completion) {
    QVNAPIClient::getWithURL(
        kCommentsPath, Value(params),
        [completion](const Value& reply, const Ref<NSError>& error) {
            if (!completion) return;
            if (error) {
                completion(std::nullopt, error);
                return;
            }
            const Value& rows = reply["reply"];
            if (!rows.isArray()) {
                completion(std::nullopt, nullptr);
                return;
            }
            QVNQuestionComment::List list;
            Value mapped =
                NSObject_RMKeyValue::objectArrayWithKeyValuesArray(QVNQuestionComment::rmClass(), rows);
            if (const Array* array = mapped.array()) {
                for (const Value& element : *array)
                    if (auto comment = element.objectAs<QVNQuestionComment>()) list.push_back(comment);
            }
            completion(list, nullptr);
        },
        [completion](const Ref<NSError>& error) {
            if (completion) completion(std::nullopt, error);
        });
}

}  // namespace

void QVNDetailQuestion::getDetailQuestionWithQuestion(const std::optional<NSNumber>& questionId,
                                                      Completion completion) {
    Dictionary params = Dictionary::mutableDictionary();
    if (questionId) params.setObject("question_id", *questionId);
    addUserToken(params);
    QVNAPIClient::getWithURL(
        kQuestionPath, Value(params),
        [completion](const Value& reply, const Ref<NSError>& error) {
            if (!completion) return;
            if (error) {
                completion(nullptr, error);
                return;
            }
            const Value& question = reply["question"];
            if (!question.isDictionary()) {
                completion(nullptr, nullptr);
                return;
            }
            completion(std::dynamic_pointer_cast<QVNDetailQuestion>(
                           NSObject_RMKeyValue::objectWithKeyValues(QVNDetailQuestion::rmClass(), question)),
                       nullptr);
        },
        [completion](const Ref<NSError>& error) {
            if (completion) completion(nullptr, error);
        });
}

Value QVNQuestionComment::isLikeValue(const QVNQuestionComment& comment) {
    return Value(NSNumber::numberWithBool(comment.is_like_));
}

bool QVNQuestionComment::setIsLikeValue(QVNQuestionComment& comment, const Value& value) {
    if (value.isNil()) {
        comment.is_like_ = false;
        return true;
    }
    const NSNumber* number = value.number();
    if (!number) return false;
    comment.is_like_ = number->boolValue();
    return true;
}

void QVNQuestionComment::getCommentsWithQuestion(const std::optional<NSNumber>& questionId,
                                                 ListCompletion completion) {
    Dictionary params = Dictionary::mutableDictionary();
    if (questionId) params.setObject("question_id", *questionId);
    params.setObject("comment_id", NSNumber::numberWithInt(0));
    addUserToken(params);
    getPage(params, std::move(completion));
}

void QVNQuestionComment::getMoreCommentsWithQuestion(const std::optional<NSNumber>& questionId,
                                                     const Ref<QVNQuestionComment>& comment,
                                                     ListCompletion completion) {
    if (!comment) return;
    Dictionary params = Dictionary::mutableDictionary();
    if (questionId) params.setObject("question_id", *questionId);
    params.setObject("comment_id", comment->comment_id ? *comment->comment_id : NSNumber::numberWithInt(0));
    addUserToken(params);
    getPage(params, std::move(completion));
}

void QVNQuestionComment::toggleLike() {
    is_like_ = !is_like_;
    like = NSNumber_Extension::steppedCount(like, is_like_ ? 1 : -1);
}

void QVNQuestionComment::likeComment(LikeUndone undone) {
    NS_ASSERT_MAIN_THREAD();
    toggleLike();
    Dictionary params = Dictionary::mutableDictionary();
    addUserToken(params);
    if (comment_id) params.setObject("comment_id", *comment_id);
    Weak<QVNQuestionComment> weak = selfAs<QVNQuestionComment>();
    auto takeBack = [weak, undone] {
        if (auto comment = weak.lock()) comment->toggleLike();
        if (undone) undone();
    };
    QVNAPIClient::postWithURL(
        kCommentLikePath, Value(params),
        [takeBack](const Value&, const Ref<NSError>& error) {
            if (!error) return;
            if (isInvalidToken(error)) showInvalidTokenAlert(true);
            takeBack();
        },
        [takeBack](const Ref<NSError>&) { takeBack(); });
}

void QVNQuestionComment::likeWithComment(const Ref<QVNQuestionComment>& comment, ReplyCompletion completion) {
    Dictionary params = Dictionary::mutableDictionary();
    addUserToken(params);
    if (comment && comment->comment_id) params.setObject("comment_id", *comment->comment_id);
    HKHTTPRequestOperationManager::manager()->GET(
        QVNBaseURL::sharedURL() + kCommentLikePath, Value(params),
        [completion](const Ref<HKHTTPRequestOperation>&, const Value& reply) {
            if (completion) completion(reply, nullptr);
        },
        [completion](const Ref<HKHTTPRequestOperation>&, const Ref<NSError>& error) {
            if (completion) completion(Value(), error);
        });
}
