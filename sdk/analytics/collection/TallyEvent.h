#pragma once
// The event and page-view entry points: each checks its arguments, builds a record and posts it
// as a work item. Refused calls record nothing; only the id length, attribute type and reserved
// key refusals write console lines (whatever the log switch). Callable from any thread: nothing
// here touches shared state but the work-item queue.

#include <cstdint>
#include <optional>
#include <string>

#include "foundation/Value.h"

class TallyEvent {
  public:
    // Not blank and at most 128 UTF-8 bytes.
    static bool validEventID(const std::optional<std::string>& eventId);
    static void eventJob(const std::optional<std::string>& eventId, const std::optional<std::string>& label,
                         std::int64_t acc, std::int64_t du);

    static void event(const std::optional<std::string>& eventId);
    static void event(const std::optional<std::string>& eventId, const std::optional<std::string>& label);
    static void event(const std::optional<std::string>& eventId, std::int64_t acc);
    static void event(const std::optional<std::string>& eventId, const std::optional<std::string>& label,
                      std::int64_t acc);
    static void eventDurations(const std::optional<std::string>& eventId, int milliseconds);
    static void eventDurations(const std::optional<std::string>& eventId,
                               const std::optional<std::string>& label, int milliseconds);

    static void beginEvent(const std::optional<std::string>& eventId);
    static void endEvent(const std::optional<std::string>& eventId);
    static void beginEvent(const std::optional<std::string>& eventId,
                           const std::optional<std::string>& label);
    static void endEvent(const std::optional<std::string>& eventId, const std::optional<std::string>& label);
    static void beginEvent(const std::optional<std::string>& eventId,
                           const std::optional<std::string>& primaryKey,
                           const std::optional<Dictionary>& attributes);
    static void endEventPrimaryKey(const std::optional<std::string>& eventId,
                                   const std::optional<std::string>& primaryKey);

    static void event(const std::optional<std::string>& eventId, const std::optional<Dictionary>& attributes);
    static void event(const std::optional<std::string>& eventId, const std::optional<Dictionary>& attributes,
                      int milliseconds);
    static void gameEvent(const std::optional<std::string>& eventId,
                          const std::optional<Dictionary>& attributes);
    static void gameEvent(const std::optional<std::string>& eventId,
                          const std::optional<Dictionary>& attributes, int milliseconds);

    static void logPageView(const std::optional<std::string>& pageName, int seconds);
    static void beginLogPageView(const std::optional<std::string>& pageName);
    static void endLogPageView(const std::optional<std::string>& pageName);
};
