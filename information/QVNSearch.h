#pragma once
// The records and the request of the search:
//
//   QVNSearch::searchForType   GET search/search.do  type, keyword, page   through the shared client
//                              (the app server's root); the reply dictionary, or nil on an error
//                              reply or a transport failure. The search screen sends its own
//                              request to the second root instead.
//   QVNSeachResult             a news row of a search reply, every field as text.
//   detail::search::QuestionRow  a question row of a question search reply (the forum's question
//                              record stays in the forum; the search needs only these fields).
//
// Main thread only.

#include <functional>
#include <optional>
#include <string>

#include "app/RMRecord.h"
#include "foundation/Value.h"

class QVNSeachResult : public NSObject {
  public:
    std::string className() const override { return "QVNSeachResult"; }

    // initWithDict: each field from the entry of its name (a number is taken as its text); other
    // entries are ignored.
    explicit QVNSeachResult(const Dictionary& dict);
    static Ref<QVNSeachResult> searchResultWithDict(const Dictionary& dict) {
        return make<QVNSeachResult>(dict);
    }

    std::optional<std::string> news_comment;
    std::optional<std::string> news_pic;
    std::optional<std::string> news_time;
    std::optional<std::string> news_title;
    std::optional<std::string> news_category;
    std::optional<std::string> news_top;
    std::optional<std::string> news_id;
    std::optional<std::string> news_status;
};

class QVNSearch : public NSObject {
  public:
    std::string className() const override { return "QVNSearch"; }
    using Completion = std::function<void(const std::optional<Dictionary>& reply)>;

    static void searchForType(long type, const std::string& keyword, long page, Completion completion);
};

namespace detail::search {

class QuestionRow : public NSObject {
    RM_RECORD(QuestionRow, NSObject)
    std::optional<NSNumber> question_id;
    std::optional<std::string> question_title;
    std::optional<std::string> user_logo;  // the asker's avatar
    std::optional<std::string> addtime;
    std::optional<NSNumber> reply;
};

}  // namespace detail::search
