// The information tab's server replies: any bytes read as JSON, their rows mapped into news,
// carousel entries, comments, events, entries and videos as the calls do, and the server text the
// screens turn into addresses made into URLs. Whatever the rows held, the mapping gives records or
// nothing, a like or a vote moves its counter and back, and no address crashes.

#include <limits>
#include <optional>
#include <string>

#include "FuzzSupport.h"
#include "app/NSObject+RMKeyValue.h"
#include "app/QVNActivity.h"
#include "app/QVNProduction.h"
#include "app/QVNTextRules.h"
#include "foundation/NSJSONSerialization.h"
#include "foundation/NSURL.h"
#include "information/QVNNews.h"
#include "information/QVNSearch.h"
#include "information/QVNVideo.h"

namespace {

void tryAddress(const std::optional<std::string>& text) {
    if (!text) return;
    if (Ref<NSURL> url = NSURL::URLWithString(*text)) (void)url->absoluteString();
}

template <class Record, class Each>
void mapRows(const Value& rows, Each each) {
    Value mapped = NSObject_RMKeyValue::objectArrayWithKeyValuesArray(Record::rmClass(), rows);
    const Array* list = mapped.array();
    if (!list) return;
    for (const Value& row : *list) {
        auto record = row.objectAs<Record>();
        FUZZ_CHECK(record != nullptr);
        each(*record);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::silenceLog();
    NSData text(data, size);
    Value reply = NSJSONSerialization::JSONObjectWithData(text, NSJSONReadingMutableContainers, nullptr);
    if (!reply.isDictionary()) return 0;
    const Value& rows = reply["data"];

    mapRows<QVNNews>(rows, [](QVNNews& news) {
        tryAddress(news.news_pic);
        if (news.news_title) (void)QVNTextRules::escapeHTML(*news.news_title);
    });
    mapRows<QVNAdvertisement>(rows, [](QVNAdvertisement& ad) {
        tryAddress(ad.ad_pic);
        tryAddress(ad.ad_link);
    });
    mapRows<QVNNewsComment>(reply["reply"], [](QVNNewsComment& comment) {
        const bool liked = comment.is_like();
        const std::optional<NSNumber> likes = comment.like;
        comment.addLikeCount();
        FUZZ_CHECK(comment.is_like() != liked);
        comment.addLikeCount();
        FUZZ_CHECK(comment.is_like() == liked);
        // Back where it was, but at the ends of the range, where a step is held.
        const long before = likes ? likes->integerValue() : 0;
        if (before > std::numeric_limits<long>::min() && before < std::numeric_limits<long>::max())
            FUZZ_CHECK(comment.like && comment.like->integerValue() == before);
        comment.addReplyCount();
        tryAddress(comment.user_logo);
        if (comment.content) (void)QVNTextRules::stringContainsEmoji(*comment.content);
    });
    mapRows<QVNActivity>(rows, [](QVNActivity& event) {
        tryAddress(event.event_pic);
        if (event.event_title) (void)QVNTextRules::escapeHTML(*event.event_title);
        if (event.addtime) (void)QVNTextRules::escapeHTML(*event.addtime);
    });
    mapRows<QVNProduction>(rows, [](QVNProduction& entry) {
        tryAddress(entry.pic_url);
        tryAddress(entry.user_logo);
        entry.addVoteCount();
        (void)entry.hasTuningList();
    });
    if (const Array* list = rows.array()) {
        for (const Value& row : *list) {
            QVNVideo video(row);
            tryAddress(video.video_pic());
        }
    }
    // A search reply: question rows, and news rows read as text.
    mapRows<detail::search::QuestionRow>(
        rows, [](detail::search::QuestionRow& question) { tryAddress(question.user_logo); });
    if (const Array* list = rows.array()) {
        for (const Value& row : *list) {
            if (const Dictionary* fields = row.dictionary()) tryAddress(QVNSeachResult(*fields).news_pic);
        }
    }
    // The article reply carries its keys at the top level.
    auto article = std::dynamic_pointer_cast<QVNNews>(
        NSObject_RMKeyValue::objectWithKeyValues(QVNNews::rmClass(), reply));
    FUZZ_CHECK(article != nullptr);
    return 0;
}
