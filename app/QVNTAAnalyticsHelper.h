#pragma once
// QVNTAAnalyticsHelper: the screens' short way to the analytics library. Class methods only, no
// state; each forwards to Tally at once. Screens count their page views from viewWillAppear and
// viewWillDisappear under their own class name.

#include <optional>
#include <string>

#include "foundation/NSObject.h"

class QVNTAAnalyticsHelper : public NSObject {
  public:
    // The analytics app key (24 lower-case hexadecimal digits), its report policy and channel.
    static constexpr char kAnalyticsAppKey[] = "4f7c2a9be01d36a58c0e7b21";
    static constexpr int kReportPolicy = 1;
    static constexpr char kChannel[] = "App Store";

    std::string className() const override { return "QVNTAAnalyticsHelper"; }

    // Starts the analytics library with the app key, report policy 1 and channel "App Store",
    // then gives it the main bundle's CFBundleShortVersionString.
    static void TAAnalyticStart();
    // Page views under a class's name; the second forms take the screen itself.
    static void beginLogPageView(const std::string& className);
    static void endLogPageView(const std::string& className);
    static void beginLogPageView(const NSObject& screen) { beginLogPageView(screen.className()); }
    static void endLogPageView(const NSObject& screen) { endLogPageView(screen.className()); }
    // A sign-in, by user id; and one through a third-party provider.
    static void AccountStatisticsWithPUID(const std::optional<std::string>& puid);
    static void AccountStatisticsThirdLandingWithPUID(const std::optional<std::string>& puid,
                                                      const std::optional<std::string>& provider);
};
