#pragma once
// QVNProduction: one entry in an event (a photo with a title, or a screenshot of a studio car with
// the tuning list behind it), and the calls made for entries:
//
//   join        GET event/joinevent.do          event_id, pic_name, pic_url, pro_detail "",
//                                               [tuninglist_id], user_token
//   first page  GET event/getproductionlist.do  event_id, production_id 0, [user_token]
//   next page   GET event/getproductionlist.do  event_id, production_id = the last one held
//   vote        GET event/vote.do               production_id, user_token
//
// Join and vote hand back nil on success, else the "QVNAPI" error (code = the server's result
// code: 10003 invalid token, 43001 already voted) or the transport error. The first page hands
// back its rows (maybe none) or nil on any failure; a next page hands back nil also when it is
// empty, so a screen cannot tell the end from a failure. Completions run on the main thread,
// once per call. Main thread only.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/QVNActivity.h"
#include "app/RMRecord.h"
#include "foundation/NSError.h"

class QVNProduction : public NSObject {
    RM_RECORD(QVNProduction, NSObject)
    using Completion = std::function<void(const Ref<NSError>& error)>;
    using List = std::vector<Ref<QVNProduction>>;
    using ListCompletion = std::function<void(const std::optional<List>& list)>;

    // The paging key of the entry list and the key of a vote.
    std::optional<NSNumber> production_id;
    std::optional<NSNumber> event_id;
    std::optional<std::string> pic_url;
    std::optional<std::string> pic_name;
    std::optional<std::string> user_nickname;
    std::optional<NSNumber> uid;
    std::optional<NSNumber> vote;
    std::optional<std::string> user_logo;
    std::optional<std::string> user_sign;
    std::optional<std::string> pro_detail;
    // The tuning list behind the entry; 0 or less (or missing) for a plain photo.
    std::optional<NSNumber> list_id;

    bool hasTuningList() const { return list_id && list_id->integerValue() > 0; }

    static void joinEventWithProduction(const Ref<QVNProduction>& production,
                                        const std::optional<NSNumber>& eventId,
                                        const std::optional<NSNumber>& tuningListId, Completion completion);
    static void fetchProductionsForActivity(const Ref<QVNActivity>& activity, ListCompletion completion);
    static void fetchMoreProductionsWithLastProduction(const Ref<QVNProduction>& last,
                                                       ListCompletion completion);
    void voteWithCompletion(Completion completion);
    // vote one greater (a missing count becomes 1), after a successful vote.
    void addVoteCount();
};
