#pragma once
// Every news call of the information tab, through the shared client:
//
//   list           GET news/getnewslist.do  news_id (0: first page), news_category
//   filtered list  GET news/getnewslist.do  news_category 1, news_id, [brand_id], [car_id], [keyword]
//   carousel       GET ad/get.do
//   article        GET news/getnewsbyid.do  news_id
//   comments       GET news/getcomment.do   [user_token], news_id, comment_id (0: first page)
//   like           POST news/like.do        token, comment_id
//   reply          POST news/reply.do       news_id, token, content, comment_id (0: on the article)
//
// The reads fold every failure into nil, so a screen cannot tell an empty page from a failure; a
// list page whose "data" is empty is nil too, while an empty carousel or comment page is an empty
// list. The reply hands its error on (10003: the token is no longer valid); the like reports
// nothing. Completions run on the main thread, once per call. Main thread only.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "foundation/NSError.h"
#include "information/QVNNews.h"

class QVNNewsCommunicator : public NSObject {
  public:
    std::string className() const override { return "QVNNewsCommunicator"; }
    using NewsList = std::vector<Ref<QVNNews>>;
    using NewsCompletion = std::function<void(const std::optional<NewsList>& news)>;
    using AdCompletion = std::function<void(const std::optional<std::vector<Ref<QVNAdvertisement>>>& ads)>;
    using DetailCompletion = std::function<void(const std::optional<Dictionary>& reply)>;
    using CommentsCompletion =
        std::function<void(const std::optional<std::vector<Ref<QVNNewsComment>>>& comments)>;
    using ReplyCompletion =
        std::function<void(const Ref<QVNNewsComment>& comment, const Ref<NSError>& error)>;

    void getNewsForCategory(long category, const std::optional<NSNumber>& newsId, NewsCompletion completion);
    void getModifyNewsByNewsId(const std::optional<NSNumber>& newsId, const std::optional<NSNumber>& brandId,
                               const std::optional<NSNumber>& carId,
                               const std::optional<std::string>& searchKeyword, NewsCompletion completion);
    void getAdvertisementsWithCompletion(AdCompletion completion);
    void getDetailForNewsId(const std::optional<NSNumber>& newsId, DetailCompletion completion);
    void getNewsCommentsForNewsId(const std::optional<NSNumber>& newsId,
                                  const std::optional<NSNumber>& commentId, CommentsCompletion completion);
    void likeCommentWithCommentId(const std::optional<NSNumber>& commentId);
    void replyWithNewsId(const std::optional<NSNumber>& newsId, const std::string& content,
                         const std::optional<NSNumber>& commentId, ReplyCompletion completion);

    static Dictionary createParamsWithNewsId(const std::optional<NSNumber>& newsId,
                                             const std::optional<NSNumber>& brandId,
                                             const std::optional<NSNumber>& carId,
                                             const std::optional<std::string>& searchKeyword);
    static Dictionary commentParamsWithNewsId(const std::optional<NSNumber>& newsId,
                                              const std::optional<NSNumber>& commentId);
    static Dictionary createReplyParamsWithNewsId(const std::optional<NSNumber>& newsId,
                                                  const std::string& content,
                                                  const std::optional<NSNumber>& commentId);
};
