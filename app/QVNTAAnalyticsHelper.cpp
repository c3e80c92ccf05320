#include "app/QVNTAAnalyticsHelper.h"

#include "foundation/NSBundle.h"
#include "sdk/analytics/collection/Tally.h"

void QVNTAAnalyticsHelper::TAAnalyticStart() {
    Tally::startWithAppkey(std::string(kAnalyticsAppKey), kReportPolicy, std::string(kChannel));
    Tally::setAppVersion(
        NSBundle::mainBundle()->objectForInfoDictionaryKey("CFBundleShortVersionString").optionalString());
}

void QVNTAAnalyticsHelper::beginLogPageView(const std::string& className) {
    Tally::beginLogPageView(className);
}

void QVNTAAnalyticsHelper::endLogPageView(const std::string& className) {
    Tally::endLogPageView(className);
}

void QVNTAAnalyticsHelper::AccountStatisticsWithPUID(const std::optional<std::string>& puid) {
    Tally::profileSignInWithPUID(puid);
}

void QVNTAAnalyticsHelper::AccountStatisticsThirdLandingWithPUID(const std::optional<std::string>& puid,
                                                                 const std::optional<std::string>& provider) {
    Tally::profileSignInWithPUID(puid, provider);
}
