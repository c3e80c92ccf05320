#pragma once
// The Weibo SDK's own copy of the open device identifier protocol: 40 lower-case hex digits kept
// in the user defaults (the local record under "WBSDKSharedUDID") and mirrored in up to 100
// persistent pasteboards "org.WBSDKSharedUDID.slot.0" to "org.WBSDKSharedUDID.slot.99", each
// holding one item of type "org.WBSDKSharedUDID": a keyed archive of the writing app's record.
// Every name is this copy's own, so its identifier is separate from the other copies'. An app
// without an identifier takes the most frequent one among the slots; an opted-out app gets forty
// zeros.
//
// The first value in a process is cached until setOptOut clears it. Calls are serialised.

#include <optional>
#include <string>

#include "foundation/NSError.h"
#include "foundation/Value.h"

class UIPasteboard;

inline constexpr char WBSDKSharedUDIDDomain[] = "org.WBSDKSharedUDID";

class WBSDKSharedUDID {
  public:
    static void _setDict(const Dictionary& dictionary, const Ref<UIPasteboard>& pasteboard);
    // A new mutable dictionary; empty for a missing item or one that does not unarchive to one.
    static Dictionary _getDictFromPasteboard(const Ref<UIPasteboard>& pasteboard);
    static std::string _generateFreshSharedUDID();
    static std::string value() { return valueWithError(nullptr); }
    // Reports through the error slot when given: code 0 retrieved (or cached), 1 opted out, 2 a
    // discrepancy between the local identifier and the most frequent slot identifier; the text
    // under the user-info key "description".
    static std::string valueWithError(Ref<NSError>* error);
    static void setOptOut(bool optOut);
};

namespace wbsdk_testing {
// Forgets the process cache, as a new process would.
void resetSharedUDIDCache();
}  // namespace wbsdk_testing
