#pragma once
// The event list: GET event/geteventlist.do with event_id (0 for the first page, else the last
// one held) and, when signed in, user_token. A page hands back its events, or nil when it is
// empty or the call failed. Completions run on the main thread. Main thread only.

#include <functional>
#include <optional>
#include <vector>

#include "app/QVNActivity.h"

class QVNActivityCommunicatorProtocol {
  public:
    using Completion = std::function<void(const std::optional<std::vector<Ref<QVNActivity>>>& activities)>;
    virtual ~QVNActivityCommunicatorProtocol() = default;
    virtual void getActivitiesWithEventId(const std::optional<NSNumber>& eventId, Completion completion) = 0;
};

class QVNActivityCommunicator : public NSObject, public QVNActivityCommunicatorProtocol {
  public:
    std::string className() const override { return "QVNActivityCommunicator"; }
    void getActivitiesWithEventId(const std::optional<NSNumber>& eventId, Completion completion) override;
    static Dictionary createParamsWithEvendId(const std::optional<NSNumber>& eventId);
};
