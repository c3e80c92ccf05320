#include "foundation/NSMainThreadCheck.h"

#include <cstdlib>
#include <string>

#include "foundation/NSLog.h"

bool NSMainThreadChecksAbort() {
#if defined(APP_THREAD_CHECKS_ABORT) || !defined(NDEBUG)
    return true;
#else
    return false;
#endif
}

void detail::mainThreadCheckFailed(const char* function, const char* file, int line) {
    NSLogLine(std::string("*** Main thread check failed: ") + function + " called off the main thread at " +
              file + ":" + std::to_string(line));
    if (NSMainThreadChecksAbort()) std::abort();
}
