#include "forum/QVNQuestion.h"

#include "app/NSNumber+Extension.h"
#include "app/NSObject+RMKeyValue.h"
#include "app/QVNAPIClient.h"
#include "app/QVNUserManager.h"
#include "forum/ForumSupport.h"
#include "foundation/NSMainThreadCheck.h"

using namespace detail::forum;

RM_PROPERTIES(QVNQuestion, RM_PROPERTY(question_pic), RM_PROPERTY(question_id), RM_PROPERTY(question_txt),
              RM_PROPERTY(question_title), RM_PROPERTY(uid), RM_PROPERTY(user_nickname),
              RM_PROPERTY(user_logo), RM_PROPERTY(addtime), RM_PROPERTY(like), RM_PROPERTY(reply),
              RM_PROPERTY_CUSTOM("is_like", "B", &QVNQuestion::isLikeValue, &QVNQuestion::setIsLikeValue))

RM_PROPERTIES(QVNMyCarBrand, RM_PROPERTY(brand_name), RM_PROPERTY(brand_logo), RM_PROPERTY(brand_id))

namespace {

constexpr char kListPath[] = "question/getquestionlist.do";
constexpr char kSearchPath[] = "search/search.do";
constexpr char kLikePath[] = "question/questionlike.do";
constexpr char kCommentsPath[] = "news/getcomment.do";
constexpr char kReplyPath[] = "question/addcomment.do";
constexpr char kBrandsPath[] = "car/getcarlist.do";

template <class T>
std::vector<Ref<T>> recordsOf(const Value& rows) {
    std::vector<Ref<T>> records;
    Value mapped = NSObject_RMKeyValue::objectArrayWithKeyValuesArray(T::rmClass(), rows);
    if (const Array* array = mapped.array()) {
        for (const Value& element : *array)
            if (auto record = element.objectAs<T>()) records.push_back(record);
    }
    return records;
}

// The "data" rows as questions; no list without a "data" array.
std::optional<QVNQuestion::List> questionsOf(const Value& reply) {
    const Value& rows = reply["data"];
    if (!rows.isArray()) return std::nullopt;
    return recordsOf<QVNQuestion>(rows);
}

void getQuestions(const std::string& path, const Dictionary& params,
                  std::function<void(const std::optional<QVNQuestion::List>&, const Ref<NSError>&)> done) {
    QVNAPIClient::getWithURL(
        path, Value(params),
        [done](const Value& reply, const Ref<NSError>& error) {
            if (error)
                done(std::nullopt, error);
            else
                done(questionsOf(reply), nullptr);
        },
        [done](const Ref<NSError>& error) { done(std::nullopt, error); });
}

Dictionary plainListParams(const std::optional<NSNumber>& cursor) {
    Dictionary params = Dictionary::mutableDictionary();
    params.setObject("question_id", cursor ? *cursor : NSNumber::numberWithInt(0));
    params.setObject("brand_id", NSNumber::numberWithInt(0));
    addUserToken(params);
    return params;
}

Dictionary searchParams(const std::optional<std::string>& keyword, long page, long brandId) {
    Dictionary params = Dictionary::mutableDictionary();
    params.setObject("type", NSNumber::numberWithInt(4));
    params.setObject("keyword", keyword.value_or(std::string()));
    params.setObject("page", std::to_string(page));
    params.setObject("cars_brand", std::to_string(brandId));
    addUserToken(params);
    return params;
}

// A "QVNAPI" error with the app's code 10000 that keeps the server's text of the error it replaces.
Ref<NSError> replacedError(const Ref<NSError>& error) {
    Dictionary info = Dictionary::mutableDictionary();
    if (error) {
        const Value& message = error->userInfo()[QVNAPIErrorMessageKey];
        if (!message.isNil()) info.setObject(QVNAPIErrorMessageKey, message);
    }
    return NSError::errorWithDomain(QVNAPIErrorDomain, QVNResultCodeTransportFailure, info);
}

}  // namespace

Value QVNQuestion::isLikeValue(const QVNQuestion& question) {
    return Value(NSNumber::numberWithBool(question.is_like_));
}

bool QVNQuestion::setIsLikeValue(QVNQuestion& question, const Value& value) {
    if (value.isNil()) {
        question.is_like_ = false;
        return true;
    }
    const NSNumber* number = value.number();
    if (!number) return false;
    question.is_like_ = number->boolValue();
    return true;
}

void QVNQuestion::fetchComments(const Ref<QVNQuestion>& question, CommentsCompletion completion) {
    Dictionary params = Dictionary::mutableDictionary();
    if (question && question->question_id) params.setObject("news_id", *question->question_id);
    params.setObject("comment_id", NSNumber::numberWithInt(0));
    QVNAPIClient::getWithURL(
        kCommentsPath, Value(params),
        [completion](const Value& reply, const Ref<NSError>& error) {
            if (!completion) return;
            if (error) {
                completion(std::nullopt, replacedError(error));
                return;
            }
            completion(recordsOf<QVNComment>(reply["reply"]), nullptr);
        },
        [completion](const Ref<NSError>& error) {
            if (completion) completion(std::nullopt, error);
        });
}

void QVNQuestion::replyRizUr(const Ref<QVNQuestion>& question, const std::optional<NSNumber>& commentId,
                             const std::string& content, ReplyCompletion completion) {
    NS_ASSERT_MAIN_THREAD();
    Ref<QVNUser> user = currentUser();
    if (!user || !user->user_token || user->user_token->empty()) {
        showAlert(std::nullopt, std::string("请先登录后再评论"), "我知道了");
        return;
    }
    Dictionary params = Dictionary::mutableDictionary();
    if (question && question->question_id) params.setObject("question_id", *question->question_id);
    params.setObject(QVNUserTokenParameterName, *user->user_token);
    params.setObject("re_content", content);
    if (commentId) params.setObject("comment_id", *commentId);
    QVNAPIClient::getWithURL(
        kReplyPath, Value(params),
        [completion](const Value& reply, const Ref<NSError>& error) {
            if (!completion) return;
            if (error)
                completion(Value(), replacedError(error));
            else
                completion(reply, nullptr);
        },
        [completion](const Ref<NSError>& error) {
            if (completion) completion(Value(), error);
        });
}

void QVNQuestion::getQuestionsWithCompletion(ListCompletion completion) {
    getQuestions(kListPath, plainListParams(std::nullopt),
                 [completion](const std::optional<List>& list, const Ref<NSError>& error) {
                     if (completion) completion(list, error);
                 });
}

void QVNQuestion::getMoreQuestionsWithQuestion(const Ref<QVNQuestion>& question, ListCompletion completion) {
    getMoreQuestionsWithQuestion(question, std::move(completion), std::nullopt, 0, 0);
}

void QVNQuestion::likeWithQuestion(const std::optional<NSNumber>& questionId, ReplyCompletion completion) {
    Ref<QVNUser> user = currentUser();
    if (!user || !user->user_token || user->user_token->empty()) return;
    Dictionary params = Dictionary::mutableDictionary();
    params.setObject(QVNUserTokenParameterName, *user->user_token);
    if (questionId) params.setObject("question_id", *questionId);
    QVNAPIClient::getWithURL(
        kLikePath, Value(params),
        [completion](const Value& reply, const Ref<NSError>& error) {
            if (completion) completion(error ? Value() : reply, error);
        },
        [completion](const Ref<NSError>& error) {
            if (completion) completion(Value(), error);
        });
}

void QVNQuestion::getQuestionsWithKeyword(const std::optional<std::string>& keyword, long page, long brandId,
                                          ListCompletion completion) {
    auto done = [completion](const std::optional<List>& list, const Ref<NSError>& error) {
        if (completion) completion(list, error);
    };
    if (brandId != 0 || (keyword && !keyword->empty()))
        getQuestions(kSearchPath, searchParams(keyword, page, brandId), done);
    else
        getQuestions(kListPath, plainListParams(std::nullopt), done);
}

void QVNQuestion::getMoreQuestionsWithQuestion(const Ref<QVNQuestion>& last, ListCompletion completion,
                                               const std::optional<std::string>& keyword, long page,
                                               long brandId) {
    if (brandId != 0 || (keyword && !keyword->empty())) {
        getQuestions(kSearchPath, searchParams(keyword, page, brandId),
                     [completion, page](const std::optional<List>& list, const Ref<NSError>& error) {
                         if (!completion) return;
                         if (error)
                             completion(std::nullopt, error);
                         else if (page == 0)
                             completion(std::nullopt, nullptr);  // no further page
                         else
                             completion(list, nullptr);
                     });
        return;
    }
    getQuestions(kListPath, plainListParams(last ? last->question_id : std::nullopt),
                 [completion](const std::optional<List>& list, const Ref<NSError>& error) {
                     if (!completion) return;
                     if (list && list->empty())
                         completion(std::nullopt, nullptr);
                     else
                         completion(list, error);
                 });
}

void QVNQuestion::toggleLike() {
    is_like_ = !is_like_;
    like = NSNumber_Extension::steppedCount(like, is_like_ ? 1 : -1);
}

void QVNQuestion::likeQuestion(LikeUndone undone) {
    NS_ASSERT_MAIN_THREAD();
    toggleLike();
    Dictionary params = Dictionary::mutableDictionary();
    addUserToken(params);
    if (question_id) params.setObject("question_id", *question_id);
    Weak<QVNQuestion> weak = selfAs<QVNQuestion>();
    auto takeBack = [weak, undone] {
        if (auto question = weak.lock()) question->toggleLike();
        if (undone) undone();
    };
    QVNAPIClient::postWithURL(
        kLikePath, Value(params),
        [takeBack](const Value&, const Ref<NSError>& error) {
            if (!error) return;
            if (isInvalidToken(error)) showInvalidTokenAlert(true);
            takeBack();
        },
        [takeBack](const Ref<NSError>&) { takeBack(); });
}

void QVNMyCarBrand::getCarBrandsCompletion(BrandsCompletion completion) {
    QVNAPIClient::getWithURL(
        kBrandsPath, Value(),
        [completion](const Value& reply, const Ref<NSError>& error) {
            if (!completion) return;
            if (error) {
                completion(std::nullopt, error);
                return;
            }
            std::vector<Ref<QVNMyCarBrand>> brands;
            if (const Array* rows = reply["data"].array()) {
                for (const Value& row : *rows) {
                    // Only the three keys: a brand's cars stay out of the record.
                    if (!row.isDictionary() || !row["brand_id"].isNumber()) continue;
                    auto brand = make<QVNMyCarBrand>();
                    brand->brand_id = *row["brand_id"].number();
                    brand->brand_name = row["brand_name"].optionalString();
                    brand->brand_logo = row["brand_logo"].optionalString();
                    brands.push_back(brand);
                }
            }
            completion(brands, nullptr);
        },
        [completion](const Ref<NSError>& error) {
            if (completion) completion(std::nullopt, error);
        });
}
