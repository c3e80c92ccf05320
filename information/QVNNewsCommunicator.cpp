#include "information/QVNNewsCommunicator.h"

#include "app/NSObject+RMKeyValue.h"
#include "app/QVNAPIClient.h"
#include "app/QVNUserManager.h"

namespace {

constexpr char kListPath[] = "news/getnewslist.do";
constexpr char kAdPath[] = "ad/get.do";
constexpr char kDetailPath[] = "news/getnewsbyid.do";
constexpr char kCommentsPath[] = "news/getcomment.do";
constexpr char kLikePath[] = "news/like.do";
constexpr char kReplyPath[] = "news/reply.do";

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

NSNumber orZero(const std::optional<NSNumber>& number) {
    return number ? *number : NSNumber::numberWithInt(0);
}

void fetchNews(const Dictionary& params, QVNNewsCommunicator::NewsCompletion completion) {
    QVNAPIClient::getWithURL(
        kListPath, Value(params),
        [completion](const Value& reply, const Ref<NSError>& error) {
            if (!completion) return;
            if (error) return completion(std::nullopt);
            auto news = recordsOf<QVNNews>(reply["data"]);
            if (news.empty()) return completion(std::nullopt);
            completion(news);
        },
        [completion](const Ref<NSError>&) {
            if (completion) completion(std::nullopt);
        });
}

}  // namespace

void QVNNewsCommunicator::getNewsForCategory(long category, const std::optional<NSNumber>& newsId,
                                             NewsCompletion completion) {
    Dictionary params = Dictionary::mutableDictionary();
    params.setObject("news_id", orZero(newsId));
    params.setObject("news_category", category);
    fetchNews(params, std::move(completion));
}

Dictionary QVNNewsCommunicator::createParamsWithNewsId(const std::optional<NSNumber>& newsId,
                                                       const std::optional<NSNumber>& brandId,
                                                       const std::optional<NSNumber>& carId,
                                                       const std::optional<std::string>& searchKeyword) {
    Dictionary params = Dictionary::mutableDictionary();
    params.setObject("news_category", NSNumber::numberWithInt(1));
    params.setObject("news_id", orZero(newsId));
    if (brandId) params.setObject("brand_id", *brandId);
    if (carId) params.setObject("car_id", *carId);
    if (searchKeyword && !searchKeyword->empty()) params.setObject("keyword", *searchKeyword);
    return params;
}

void QVNNewsCommunicator::getModifyNewsByNewsId(const std::optional<NSNumber>& newsId,
                                                const std::optional<NSNumber>& brandId,
                                                const std::optional<NSNumber>& carId,
                                                const std::optional<std::string>& searchKeyword,
                                                NewsCompletion completion) {
    fetchNews(createParamsWithNewsId(newsId, brandId, carId, searchKeyword), std::move(completion));
}

void QVNNewsCommunicator::getAdvertisementsWithCompletion(AdCompletion completion) {
    QVNAPIClient::getWithURL(
        kAdPath, Value(Dictionary::mutableDictionary()),
        [completion](const Value& reply, const Ref<NSError>& error) {
            if (!completion) return;
            if (error) return completion(std::nullopt);
            completion(recordsOf<QVNAdvertisement>(reply["data"]));
        },
        [completion](const Ref<NSError>&) {
            if (completion) completion(std::nullopt);
        });
}

void QVNNewsCommunicator::getDetailForNewsId(const std::optional<NSNumber>& newsId,
                                             DetailCompletion completion) {
    Dictionary params = Dictionary::mutableDictionary();
    if (newsId) params.setObject("news_id", *newsId);
    QVNAPIClient::getWithURL(
        kDetailPath, Value(params),
        [completion](const Value& reply, const Ref<NSError>& error) {
            if (!completion) return;
            const Dictionary* fields = reply.dictionary();
            if (error || !fields) return completion(std::nullopt);
            completion(*fields);
        },
        [completion](const Ref<NSError>&) {
            if (completion) completion(std::nullopt);
        });
}

Dictionary QVNNewsCommunicator::commentParamsWithNewsId(const std::optional<NSNumber>& newsId,
                                                        const std::optional<NSNumber>& commentId) {
    Dictionary params = Dictionary::mutableDictionary();
    if (auto token = QVNUserManager::shareObject()->currentUserToken())
        params.setObject("user_token", *token);
    if (newsId) params.setObject("news_id", *newsId);
    params.setObject("comment_id", orZero(commentId));
    return params;
}

void QVNNewsCommunicator::getNewsCommentsForNewsId(const std::optional<NSNumber>& newsId,
                                                   const std::optional<NSNumber>& commentId,
                                                   CommentsCompletion completion) {
    QVNAPIClient::getWithURL(
        kCommentsPath, Value(commentParamsWithNewsId(newsId, commentId)),
        [completion](const Value& reply, const Ref<NSError>& error) {
            if (!completion) return;
            if (error) return completion(std::nullopt);
            completion(recordsOf<QVNNewsComment>(reply["reply"]));
        },
        [completion](const Ref<NSError>&) {
            if (completion) completion(std::nullopt);
        });
}

void QVNNewsCommunicator::likeCommentWithCommentId(const std::optional<NSNumber>& commentId) {
    Dictionary params = Dictionary::mutableDictionary();
    params.setObject("token", Value(QVNUserManager::shareObject()->currentUserToken()));
    if (commentId) params.setObject("comment_id", *commentId);
    QVNAPIClient::postWithURL(
        kLikePath, Value(params), [](const Value&, const Ref<NSError>&) {}, [](const Ref<NSError>&) {});
}

Dictionary QVNNewsCommunicator::createReplyParamsWithNewsId(const std::optional<NSNumber>& newsId,
                                                            const std::string& content,
                                                            const std::optional<NSNumber>& commentId) {
    Dictionary params = Dictionary::mutableDictionary();
    if (newsId) params.setObject("news_id", *newsId);
    params.setObject("token", Value(QVNUserManager::shareObject()->currentUserToken()));
    params.setObject("content", content);
    params.setObject("comment_id", orZero(commentId));
    return params;
}

void QVNNewsCommunicator::replyWithNewsId(const std::optional<NSNumber>& newsId, const std::string& content,
                                          const std::optional<NSNumber>& commentId,
                                          ReplyCompletion completion) {
    QVNAPIClient::postWithURL(
        kReplyPath, Value(createReplyParamsWithNewsId(newsId, content, commentId)),
        [completion](const Value& reply, const Ref<NSError>& error) {
            if (!completion) return;
            if (error) return completion(nullptr, error);
            completion(NSObject_RMKeyValue::objectWithKeyValues<QVNNewsComment>(reply), nullptr);
        },
        [completion](const Ref<NSError>& error) {
            if (completion) completion(nullptr, error);
        });
}
