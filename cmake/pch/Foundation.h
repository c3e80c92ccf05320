// Precompiled for the platform libraries from foundation up: the standard library and the
// foundation headers that most of their files include.
#include "Std.h"

#include "dispatch/Dispatch.h"
#include "foundation/NSData.h"
#include "foundation/NSDate.h"
#include "foundation/NSError.h"
#include "foundation/NSLog.h"
#include "foundation/NSNotificationCenter.h"
#include "foundation/NSObject.h"
#include "foundation/NSRunLoop.h"
#include "foundation/NSString.h"
#include "foundation/NSURL.h"
#include "foundation/Value.h"
