#include "sdk/analytics/collection/TallyGameAnalytics.h"

#include <cmath>
#include <mutex>

#include "foundation/NSDate.h"
#include "foundation/NSLog.h"
#include "foundation/NSString.h"
#include "sdk/analytics/collection/TANUtil.h"
#include "sdk/analytics/collection/TallyEvent.h"
#include "sdk/analytics/collection/TallyInternal.h"
#include "sdk/analytics/collection/TallySession.h"
#include "uikit/UIApplication.h"

namespace {

std::mutex gLock;
Ref<TallyGameAnalytics> gShared;

double now() {
    return NSDate::date().timeIntervalSince1970();
}

long long hundredths(double v) {
    return static_cast<long long>(std::trunc(v * 100));
}

}  // namespace

TAGameLevel::TAGameLevel(std::optional<std::string> name) : ts(now()), name(std::move(name)) {}

Ref<TallyGameAnalytics> TallyGameAnalytics::sharedInstance() {
    std::lock_guard<std::mutex> guard(gLock);
    if (!gShared) gShared = make<TallyGameAnalytics>();
    return gShared;
}

void TallyGameAnalytics::resetForTesting() {
    Ref<TallyGameAnalytics> old;
    {
        std::lock_guard<std::mutex> guard(gLock);
        old = std::move(gShared);
    }
    if (old) NSNotificationCenter::defaultCenter()->removeObserver(old);
}

void TallyGameAnalytics::didInit() {
    auto center = NSNotificationCenter::defaultCenter();
    Ref<NSObject> application = UIApplication::sharedApplication();
    Ref<NSObject> self = this->self();
    TallyGameAnalytics* me = this;
    center->addObserver(
        self, "updateLevelTimestamp", [me](const Ref<NSNotification>&) { me->updateLevelTimestamp(); },
        std::string(UIApplicationDidBecomeActiveNotification), application);
    for (const char* name :
         {UIApplicationWillResignActiveNotification, UIApplicationWillTerminateNotification}) {
        center->addObserver(
            self, "updateLevelDuration", [me](const Ref<NSNotification>&) { me->updateLevelDuration(); },
            std::string(name), application);
    }
}

// ---------------------------------------------------------------------------------------------
// Class entry points

void TallyGameAnalytics::profileSignInWithPUID(const std::optional<std::string>& puid) {
    TallyInternal::link();
    TallySession::profileSignInPUID(puid);
}

void TallyGameAnalytics::profileSignInWithPUID(const std::optional<std::string>& puid,
                                               const std::optional<std::string>& provider) {
    TallyInternal::link();
    TallySession::profileSignInPUID(puid, provider);
}

void TallyGameAnalytics::profileSignOff() {
    TallyInternal::link();
    TallySession::profileSignOff();
}

void TallyGameAnalytics::setUserLevelId(int level) {
    sharedInstance()->setUserLevel(NSString::stringWithFormat("%d", level));
}

void TallyGameAnalytics::setUserLevelDeprecated(const std::optional<std::string>&) {
    NSLog("TALOG: WARNING setUserLevel is deprecated, please use setUserLevelId: API");
}

void TallyGameAnalytics::setUserID(const std::optional<std::string>&, int, int,
                                   const std::optional<std::string>&) {
    NSLog("TALOG: WARNING setUserID: is deprecated, please use active user relevant APIs");
}

Dictionary TallyGameAnalytics::userInfoOf() {
    auto& info = sharedInstance()->userInfo_;
    return info ? *info : Dictionary();
}

bool TallyGameAnalytics::isValidLevel(const std::optional<std::string>& name) {
    return sharedInstance()->validLevel(name);
}

void TallyGameAnalytics::startLevelNamed(const std::optional<std::string>& name) {
    sharedInstance()->startLevel(name);
}

void TallyGameAnalytics::finishLevelNamed(const std::optional<std::string>& name) {
    sharedInstance()->finishLevel(name);
}

void TallyGameAnalytics::failLevelNamed(const std::optional<std::string>& name) {
    sharedInstance()->failLevel(name);
}

void TallyGameAnalytics::pauseLevelNamed(const std::optional<std::string>& name) {
    sharedInstance()->pauseLevel(name);
}

void TallyGameAnalytics::resumeLevelNamed(const std::optional<std::string>& name) {
    sharedInstance()->resumeLevel(name);
}

void TallyGameAnalytics::payCash(double cash, int source, double coin) {
    sharedInstance()->pay(cash, source, coin);
}

void TallyGameAnalytics::payCash(double cash, int source, const std::optional<std::string>& item, int amount,
                                 double price) {
    sharedInstance()->pay(cash, source, item, amount, price);
}

void TallyGameAnalytics::buyItem(const std::optional<std::string>& item, int amount, double price) {
    sharedInstance()->buy(item, amount, price);
}

void TallyGameAnalytics::bonusCoin(double coin, int source) {
    sharedInstance()->bonus(coin, source);
}

void TallyGameAnalytics::bonusItem(const std::optional<std::string>& item, int amount, double price,
                                   int source) {
    sharedInstance()->bonus(item, amount, price, source);
}

void TallyGameAnalytics::useItem(const std::optional<std::string>& item, int amount, double price) {
    sharedInstance()->use(item, amount, price);
}

// ---------------------------------------------------------------------------------------------
// Levels

bool TallyGameAnalytics::validLevel(const std::optional<std::string>& name) const {
    return !TANUtil::isEmptyString(name);
}

void TallyGameAnalytics::setUserLevel(const std::optional<std::string>& level) {
    if (validLevel(level)) userLevel_ = level;
}

void TallyGameAnalytics::setUserLevelIfNeeded(Dictionary& attributes) const {
    if (userLevel_) attributes.setObject("user_level", *userLevel_);
}

void TallyGameAnalytics::setGameLevelIfNeeded(Dictionary& attributes) const {
    if (runningLevel_) attributes.setObject("level", *runningLevel_);
}

void TallyGameAnalytics::updateLevelTimestamp() {
    updateLevelTimestamp(runningLevel_);
}

void TallyGameAnalytics::updateLevelTimestamp(const std::optional<std::string>& name) {
    if (!validLevel(name)) return;
    auto found = levels_.find(*name);
    if (found != levels_.end()) found->second->ts = now();
}

void TallyGameAnalytics::updateLevelDuration() {
    updateLevelDuration(runningLevel_);
}

void TallyGameAnalytics::updateLevelDuration(const std::optional<std::string>& name) {
    if (!validLevel(name)) return;
    auto found = levels_.find(*name);
    if (found == levels_.end() || !found->second->running) return;
    double elapsed = now() - found->second->ts;
    if (elapsed > 0.001) found->second->du += elapsed;
}

void TallyGameAnalytics::startLevel(const std::optional<std::string>& name) {
    if (!validLevel(name)) return;
    if (!(name == runningLevel_ && lastLevel_)) lastLevel_ = runningLevel_;
    runningLevel_ = name;
    if (lastLevel_ && *lastLevel_ != *name) updateLevelDuration(lastLevel_);
    auto found = levels_.find(*name);
    if (found != levels_.end()) {
        found->second->du = 0;
    } else {
        levels_[*name] = make<TAGameLevel>(name);
    }
    Dictionary attributes = Dictionary::mutableDictionary();
    attributes.setObject("level", *name);
    attributes.setObject("status", "0");
    setUserLevelIfNeeded(attributes);
    updateLevelTimestamp();
    TallyEvent::gameEvent(std::string("level"), attributes);
}

std::int64_t TallyGameAnalytics::calculateLevelDuration(const std::optional<std::string>& name) {
    if (!name) return 0;
    auto found = levels_.find(*name);
    if (found == levels_.end()) return 0;
    if (name == runningLevel_ && found->second->running) updateLevelDuration(name);
    return static_cast<std::int64_t>(std::trunc(found->second->du * 1000));
}

void TallyGameAnalytics::cleanUpCurrentLevelTime(const std::optional<std::string>& name) {
    if (name) levels_.erase(*name);
}

void TallyGameAnalytics::levelFinish(const std::optional<std::string>& level, bool completed) {
    std::optional<std::string> name = level ? level : runningLevel_;
    if (!validLevel(name)) return;
    std::int64_t duration = calculateLevelDuration(name);
    Dictionary attributes = Dictionary::mutableDictionary();
    attributes.setObject("level", *name);
    attributes.setObject("status", completed ? "1" : "-1");
    attributes.setObject("duration", static_cast<long long>(duration));
    setUserLevelIfNeeded(attributes);
    TallyEvent::gameEvent(std::string("level"), attributes);
    cleanUpCurrentLevelTime(name);
}

void TallyGameAnalytics::finishLevel(const std::optional<std::string>& name) {
    levelFinish(name, true);
}

void TallyGameAnalytics::failLevel(const std::optional<std::string>& name) {
    levelFinish(name, false);
}

void TallyGameAnalytics::pauseLevel(const std::optional<std::string>& name) {
    if (!validLevel(name)) return;
    auto found = levels_.find(*name);
    if (found == levels_.end()) return;
    updateLevelDuration(name);
    found->second->running = false;
}

void TallyGameAnalytics::resumeLevel(const std::optional<std::string>& name) {
    if (!validLevel(name)) return;
    auto found = levels_.find(*name);
    if (found == levels_.end()) return;
    updateLevelTimestamp(name);
    found->second->running = true;
    if (runningLevel_ != name) {
        lastLevel_ = runningLevel_;
        pauseLevel(lastLevel_);
    }
    runningLevel_ = name;
    if (name != lastLevel_) pauseLevel(lastLevel_);
}

// ---------------------------------------------------------------------------------------------
// Money and items

bool TallyGameAnalytics::validPay(double cash, int, double coin) const {
    return hundredths(cash) >= 1 && hundredths(coin) >= 0;
}

void TallyGameAnalytics::pay(double cash, int source, double coin) {
    if (!validPay(cash, source, coin)) return;
    Dictionary attributes = Dictionary::mutableDictionary();
    attributes.setObject("cash", hundredths(cash));
    attributes.setObject("source", source);
    attributes.setObject("coin", hundredths(coin));
    setUserLevelIfNeeded(attributes);
    setGameLevelIfNeeded(attributes);
    TallyEvent::gameEvent(std::string("pay"), attributes);
}

void TallyGameAnalytics::pay(double cash, int source, const std::optional<std::string>& item, int amount,
                             double price) {
    double coin = amount * price;
    pay(cash, source, coin);
    if (validPay(cash, source, coin)) buy(item, amount, price);
}

bool TallyGameAnalytics::validItem(const std::optional<std::string>& item, int amount, double price) const {
    return !TANUtil::isEmptyString(item) && price >= 0 && amount >= 1;
}

void TallyGameAnalytics::itemEvent(const char* eventId, const std::optional<std::string>& item, int amount,
                                   double price) {
    if (!validItem(item, amount, price)) return;
    Dictionary attributes = Dictionary::mutableDictionary();
    attributes.setObject("coin", amount * price * 100);
    attributes.setObject("item", *item);
    attributes.setObject("amount", amount);
    setUserLevelIfNeeded(attributes);
    setGameLevelIfNeeded(attributes);
    TallyEvent::gameEvent(std::string(eventId), attributes);
}

void TallyGameAnalytics::buy(const std::optional<std::string>& item, int amount, double price) {
    itemEvent("buy", item, amount, price);
}

void TallyGameAnalytics::use(const std::optional<std::string>& item, int amount, double price) {
    itemEvent("use", item, amount, price);
}

void TallyGameAnalytics::bonus(double coin, int source) {
    if (hundredths(coin) < 0) return;
    Dictionary attributes = Dictionary::mutableDictionary();
    attributes.setObject("coin", hundredths(coin));
    attributes.setObject("bonus_source", source);
    setUserLevelIfNeeded(attributes);
    setGameLevelIfNeeded(attributes);
    TallyEvent::gameEvent(std::string("bonus"), attributes);
}

void TallyGameAnalytics::bonus(const std::optional<std::string>& item, int amount, double price, int source) {
    if (!validItem(item, amount, price)) return;
    bonus(amount * price, source);
    buy(item, amount, price);
}

void TallyGameAnalytics::clean() {
    levelBeginTime_ = 0;
    levels_.clear();
}
