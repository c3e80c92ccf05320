#pragma once
// Game vocabulary on top of the analytics library: levels started, paused, resumed, finished or
// failed (with the time played on each), payments, purchases, use of items and bonuses, and a
// user level attached to every game event. Each fact becomes one game key-value event with a
// fixed id and fixed attribute keys; sign-in and sign-off pass on to the session part.
//
// Time spent in the background does not count for the running level: the object follows the
// application's activation notifications. Levels live in memory only. Meant for the main
// thread; the object's creation is serialised.

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>

#include "foundation/NSKeyedArchiver.h"
#include "foundation/NSNotificationCenter.h"
#include "foundation/NSObject.h"
#include "foundation/Value.h"

class TAGameLevel : public NSObject, public NSCoding {
  public:
    explicit TAGameLevel(std::optional<std::string> name);
    std::string className() const override { return "TAGameLevel"; }
    // Levels are never stored: nothing is written.
    void encodeWithCoder(NSCoder&) const override {}

    double ts = 0;
    std::optional<std::string> name;
    bool running = true;
    double du = 0;
};

class TallyGameAnalytics : public NSObject {
  public:
    static Ref<TallyGameAnalytics> sharedInstance();
    void didInit();
    std::string className() const override { return "TallyGameAnalytics"; }

    // ---- class entry points -------------------------------------------------------------------
    static void profileSignInWithPUID(const std::optional<std::string>& puid);
    static void profileSignInWithPUID(const std::optional<std::string>& puid,
                                      const std::optional<std::string>& provider);
    static void profileSignOff();
    static void setUserLevelId(int level);
    static void setUserLevelDeprecated(const std::optional<std::string>& level);
    static void setUserID(const std::optional<std::string>& userId, int sex, int age,
                          const std::optional<std::string>& platform);
    static Dictionary userInfoOf();
    static bool isValidLevel(const std::optional<std::string>& name);
    static void startLevelNamed(const std::optional<std::string>& name);
    static void finishLevelNamed(const std::optional<std::string>& name);
    static void failLevelNamed(const std::optional<std::string>& name);
    static void pauseLevelNamed(const std::optional<std::string>& name);
    static void resumeLevelNamed(const std::optional<std::string>& name);
    static void payCash(double cash, int source, double coin);
    static void payCash(double cash, int source, const std::optional<std::string>& item, int amount,
                        double price);
    static void buyItem(const std::optional<std::string>& item, int amount, double price);
    static void bonusCoin(double coin, int source);
    static void bonusItem(const std::optional<std::string>& item, int amount, double price, int source);
    static void useItem(const std::optional<std::string>& item, int amount, double price);

    // ---- instance operations ------------------------------------------------------------------
    void setUserLevel(const std::optional<std::string>& level);
    std::optional<std::string> userLevel() const { return userLevel_; }
    void cleanUpCurrentLevelTime(const std::optional<std::string>& name);
    std::int64_t calculateLevelDuration(const std::optional<std::string>& name);
    void updateLevelDuration();
    void updateLevelDuration(const std::optional<std::string>& name);
    void setUserLevelIfNeeded(Dictionary& attributes) const;
    void setGameLevelIfNeeded(Dictionary& attributes) const;
    void startLevel(const std::optional<std::string>& name);
    bool validLevel(const std::optional<std::string>& name) const;
    void updateLevelTimestamp();
    void updateLevelTimestamp(const std::optional<std::string>& name);
    void finishLevel(const std::optional<std::string>& name);
    void failLevel(const std::optional<std::string>& name);
    void resumeLevel(const std::optional<std::string>& name);
    void pauseLevel(const std::optional<std::string>& name);
    void levelFinish(const std::optional<std::string>& name, bool completed);
    void pay(double cash, int source, double coin);
    bool validPay(double cash, int source, double coin) const;
    void pay(double cash, int source, const std::optional<std::string>& item, int amount, double price);
    void bonus(double coin, int source);
    void bonus(const std::optional<std::string>& item, int amount, double price, int source);
    void buy(const std::optional<std::string>& item, int amount, double price);
    void use(const std::optional<std::string>& item, int amount, double price);
    void clean();

    const std::optional<std::string>& runningLevel() const { return runningLevel_; }
    const std::optional<std::string>& lastLevel() const { return lastLevel_; }
    std::unordered_map<std::string, Ref<TAGameLevel>>& levels() { return levels_; }
    std::optional<Dictionary>& userInfo() { return userInfo_; }

    static void resetForTesting();

  private:
    bool validItem(const std::optional<std::string>& item, int amount, double price) const;
    void itemEvent(const char* eventId, const std::optional<std::string>& item, int amount, double price);

    std::optional<std::string> runningLevel_;
    std::optional<std::string> lastLevel_;
    std::unordered_map<std::string, Ref<TAGameLevel>> levels_;
    std::optional<std::string> userLevel_;
    std::optional<Dictionary> userInfo_;
    double lastLevelBeginTime_ = 0;
    double levelBeginTime_ = 0;
};
