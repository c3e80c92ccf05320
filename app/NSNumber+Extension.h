#pragma once
// NSNumber(Extension): the server's result code for a sign-in token that is no longer valid, and
// the step of a counter the server sent (likes, replies, votes).

#include <optional>

#include "foundation/Value.h"

namespace NSNumber_Extension {

// The number 10003.
NSNumber invalidTokenResultCode();

// The counter (0 when missing) moved by delta, held at the ends of the integer range: the server's
// number may be anything, and a like on a counter already at the top must not overflow.
NSNumber steppedCount(const std::optional<NSNumber>& count, long delta);

}  // namespace NSNumber_Extension
