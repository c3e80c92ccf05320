#pragma once
// QVNActivity: one event of the event tab, as the server's event list sends it. The car studio
// holds one while a tuning list is entered into the event and marks it joined afterwards; the
// event screens read the rest. Every field is nil when its key is missing. Main thread only.

#include <optional>
#include <string>

#include "app/RMRecord.h"

class QVNActivity : public NSObject {
    RM_RECORD(QVNActivity, NSObject)
    std::optional<std::string> addtime;
    // 0: joined with a photo entry; any other value: with a tuning list made in the car studio.
    std::optional<NSNumber> category;
    std::optional<std::string> event_content;  // an HTML fragment
    // Also the paging key of the event list.
    std::optional<NSNumber> event_id;
    std::optional<NSNumber> event_limit;  // places left
    std::optional<std::string> event_pic;
    std::optional<std::string> event_summary;
    std::optional<std::string> event_title;
    std::optional<NSNumber> rest;  // participants
    std::optional<NSNumber> car_id;
    // 1 once the user has entered the event.
    std::optional<NSNumber> is_join;
    // 0: closed.
    std::optional<NSNumber> available;

    bool isPhotoEvent() const { return !category || category->integerValue() == 0; }
    bool isClosed() const { return available && available->integerValue() == 0; }
};
