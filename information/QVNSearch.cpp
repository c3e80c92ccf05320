#include "information/QVNSearch.h"

#include "app/QVNAPIClient.h"

namespace detail::search {

RM_PROPERTIES(QuestionRow, RM_PROPERTY(question_id), RM_PROPERTY(question_title), RM_PROPERTY(user_logo),
              RM_PROPERTY(addtime), RM_PROPERTY(reply))

}  // namespace detail::search

namespace {

std::optional<std::string> textOf(const Dictionary& dict, const char* key) {
    const Value& value = dict.objectForKey(key);
    if (auto text = value.optionalString()) return text;
    if (const NSNumber* number = value.number()) return number->stringValue();
    return std::nullopt;
}

}  // namespace

QVNSeachResult::QVNSeachResult(const Dictionary& dict)
    : news_comment(textOf(dict, "news_comment")),
      news_pic(textOf(dict, "news_pic")),
      news_time(textOf(dict, "news_time")),
      news_title(textOf(dict, "news_title")),
      news_category(textOf(dict, "news_category")),
      news_top(textOf(dict, "news_top")),
      news_id(textOf(dict, "news_id")),
      news_status(textOf(dict, "news_status")) {}

void QVNSearch::searchForType(long type, const std::string& keyword, long page, Completion completion) {
    Dictionary params = Dictionary::mutableDictionary();
    params.setObject("type", type);
    params.setObject("keyword", keyword);
    params.setObject("page", page);
    QVNAPIClient::getWithURL(
        "search/search.do", Value(params),
        [completion](const Value& reply, const Ref<NSError>& error) {
            if (!completion) return;
            const Dictionary* dict = reply.dictionary();
            if (error || !dict) return completion(std::nullopt);
            completion(*dict);
        },
        [completion](const Ref<NSError>&) {
            if (completion) completion(std::nullopt);
        });
}
