#include "app/QVNBaseURL.h"

#include "app/QVNConfiguration.h"

std::string QVNBaseURL::sharedURL() {
    // Read each time rather than once, so that a process pointed at another server follows it.
    return QVNConfiguration::secondRoot();
}
