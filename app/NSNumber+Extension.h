#pragma once
// NSNumber(Extension): the server's result code for a sign-in token that is no longer valid.

#include "foundation/Value.h"

namespace NSNumber_Extension {

// The number 10003.
NSNumber invalidTokenResultCode();

}  // namespace NSNumber_Extension
