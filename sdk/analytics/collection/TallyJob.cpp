#include "sdk/analytics/collection/TallyJob.h"

#include <algorithm>
#include <mutex>

#include "foundation/NSDate.h"
#include "foundation/NSObject+Perform.h"
#include "foundation/NSRandom.h"
#include "foundation/NSString.h"
#include "sdk/analytics/collection/TANUtil.h"
#include "sdk/analytics/collection/TAWorkDispatch.h"
#include "sdk/analytics/collection/TallyEnvelope.h"
#include "sdk/analytics/collection/TallySession.h"
#include "sdk/analytics/collection/TallySettings.h"

namespace {

std::mutex gLock;
Ref<TallyJob> gShared;

constexpr double kPolicy0Gap = 15;
constexpr double kPolicy8BackgroundGap = 129600;
constexpr double kPolicy8ForegroundGap = 10800;
constexpr double kLatentThreshold = 1296000;
constexpr double kDisguisedThreshold = 129600;

double minimumWait(int level) {
    switch (level) {
        case 1:
            return 14400;
        case 2:
            return 28800;
        case 3:
            return 86400;
        default:
            return 0;
    }
}

}  // namespace

Ref<TallyJob> TallyJob::sharedInstance() {
    Ref<TallyJob> job;
    {
        std::lock_guard<std::mutex> guard(gLock);
        if (!gShared) gShared = make<TallyJob>();
        job = gShared;
    }
    Value stored = TallyConfig::configureWithKey("umDefcon");
    if (!stored.isNil()) job->setDefcon(stored.intValue());
    return job;
}

void TallyJob::resetForTesting() {
    std::lock_guard<std::mutex> guard(gLock);
    gShared.reset();
}

std::string TallyJob::description() const {
    return NSString::stringWithFormat("<%@: self.defcon=%i, self.latency=%i, self.jobRunning=%d>",
                                      className(), defcon(), latency(), jobRunning() ? 1 : 0);
}

double TallyJob::elapsedTimeFromPost() {
    Value last = TallyConfig::configureWithKey("lastPostInterval");
    if (last.isNil()) return -1.0;
    return NSDate::date().timeIntervalSince1970() - last.doubleValue();
}

bool TallyJob::ready() const {
    return TallySession::sharedInstance()->sessionStatus() != 0 && !jobRunning();
}

bool TallyJob::defconPass() {
    double elapsed = elapsedTimeFromPost();
    int level = sharedInstance()->defcon();
    if (!(elapsed > 0) || level < 1 || level > 3) return true;
    return elapsed >= minimumWait(level);
}

bool TallyJob::shouldCommitJob(int trigger) {
    auto job = sharedInstance();
    if (job->bLatencyJob()) return false;
    if (TallySession::sharedInstance()->appBeKilling()) return false;
    if (TANUtil::accessString().empty()) return false;
    auto app = TallyApp::sharedInstance();
    double elapsed = elapsedTimeFromPost();
    bool neverPosted = elapsed < 0;
    switch (app->reportPolicy()) {
        case 0:
            return neverPosted || elapsed > kPolicy0Gap;
        case 1:
            return trigger == 0;
        case 6:
            return neverPosted || elapsed > app->logSendInterval();
        case 8:
            if (TallySession::sharedInstance()->appInBackGround()) return app->backgroundTaskEnabled();
            return neverPosted ||
                   elapsed > (app->backgroundTaskEnabled() ? kPolicy8BackgroundGap : kPolicy8ForegroundGap);
        default:
            return false;
    }
}

bool TallyJob::checkLatentCondition() {
    auto job = sharedInstance();
    job->setBDisguisedLatency(false);
    if (!TallyUtility::envelopeFiles().empty() || job->defcon() != 0) return false;
    double threshold = kLatentThreshold;
    if (auto hours = TallyConfig::imprintPropertyValueWithKey("latent_hours")) {
        long long h = NSString::longLongValue(*hours);
        if (h >= 48) threshold = static_cast<double>(h) * 3600;
    }
    double elapsed = elapsedTimeFromPost();
    if (elapsed >= threshold) {
        job->setBLatencyJob(true);
        return true;
    }
    if (elapsed > kDisguisedThreshold) {
        job->setBDisguisedLatency(true);
        return true;
    }
    return false;
}

int TallyJob::randomNumFrom(int a, int b) const {
    std::uint32_t r = arc4random();
    std::uint32_t span = static_cast<std::uint32_t>(b) - static_cast<std::uint32_t>(a) + 1u;
    std::uint32_t v = span ? r % span : r;
    return static_cast<int>(v + static_cast<std::uint32_t>(a));
}

int TallyJob::latencySeed() const {
    const auto& signature = TallyEnvelope::sharedInstance()->signature();
    if (!signature || signature->length() < 6) return 0;
    const std::uint8_t* b = signature->bytes();
    std::string hex = NSString::stringWithFormat("%02hhx%02hhx", b[4], b[5]);
    int middle = static_cast<int>(std::stoul(hex.substr(1, 2), nullptr, 16));
    return middle | 128;
}

int TallyJob::calculateLatency() {
    int value = 0;
    if (randomNumFrom(1, 1000) == 1) {
        // A device without a signature has a seed of 0; the rare long latency then stays in
        // 128..128 rather than wrapping to billions of seconds.
        int seed = std::max(latencySeed(), 128);
        value = randomNumFrom(128, seed);
    } else {
        int bound;
        if (auto latent = TallyConfig::imprintPropertyValueWithKey("latent")) {
            auto raw = static_cast<std::uint32_t>(NSString::intValue(*latent));
            bound = static_cast<int>(std::min<std::uint32_t>(raw, 1800));
        } else {
            if (latency_sdk() == 0) setLatency_sdk(10);
            bound = latency_sdk();
        }
        value = bound <= 0 ? 0 : randomNumFrom(0, bound - 1);
        if (value >= 128 && value <= 255) value = 127;
    }
    setLatency(value);
    return value;
}

void TallyJob::preparePerformJob(int trigger) {
    auto job = sharedInstance();
    if (!job->ready() || !defconPass() || !shouldCommitJob(trigger)) return;
    auto core = TallyCoreLink::core();
    if (!core) return;
    if (checkLatentCondition()) {
        if (!job->bDisguisedLatency()) {
            int delay = job->calculateLatency();
            if (core->hasJob()) core->generateEnvelopeFile();
            job->setLatency(0);
            performSelectorAfterDelay(
                job, "beginPerformJobDelay", Value(), [] { TallyJob::beginPerformJobDelay(); }, delay);
            return;
        }
        job->setLatency(0);
        if (core->hasJob()) core->generateEnvelopeFile();
        job->setBDisguisedLatency(false);
    }
    core->beginPerformJob();
}

void TallyJob::beginPerformJobDelay() {
    sharedInstance()->setBLatencyJob(false);
    if (TallySession::sharedInstance()->appInBackGround()) return;
    if (auto core = TallyCoreLink::core()) core->beginPerformJob();
}
