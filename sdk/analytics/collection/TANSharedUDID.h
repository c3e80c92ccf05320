#pragma once
// The open device identifier shared by every app on the device that runs the same identifier
// protocol: 40 lower-case hexadecimal digits kept in the app's user defaults (the local record
// under "SharedUDID") and mirrored in up to 100 named persistent pasteboards, the slots
// "org.SharedUDID.slot.0" to "org.SharedUDID.slot.99", each holding one item of type
// "org.SharedUDID": a keyed archive of the writing app's local record. The most frequent
// identifier among the slots wins for an app that has none yet; the value survives the removal
// of one app while another keeps its slot. An opted-out app gets forty zeros.
//
// The first value computed in a process is cached until setOptOut clears it. Calls are
// serialised by a lock; two apps claiming slots at once settle on the next run by the count.

#include <optional>
#include <string>

#include "foundation/NSError.h"
#include "foundation/Value.h"

class UIPasteboard;

inline constexpr char TANSharedUDIDDomain[] = "org.SharedUDID";

class TANSharedUDID {
  public:
    static std::optional<std::string> value();
    // Always reports through error (code 0 retrieved, 1 opted out, 2 discrepancy) when given.
    static std::optional<std::string> valueWithError(Ref<NSError>* error);
    static void setOptOut(bool optOut);

    static Dictionary _getDictFromPasteboard(const Ref<UIPasteboard>& pasteboard);
    static void _setDict(const Dictionary& dictionary, const Ref<UIPasteboard>& pasteboard);
    static std::string _generateFreshSharedUDID();

    // Forgets the process cache (a new process).
    static void resetCacheForTesting();
};
