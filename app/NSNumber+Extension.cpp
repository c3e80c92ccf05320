#include "app/NSNumber+Extension.h"

namespace NSNumber_Extension {

NSNumber invalidTokenResultCode() {
    return NSNumber::numberWithInt(10003);
}

}  // namespace NSNumber_Extension
