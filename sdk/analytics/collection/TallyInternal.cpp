#include "sdk/analytics/collection/TallyInternal.h"

#include <algorithm>
#include <cmath>

#include "foundation/NSDate.h"
#include "foundation/NSFileManager.h"
#include "foundation/NSLock.h"
#include "foundation/NSLog.h"
#include "foundation/NSMainThreadCheck.h"
#include "foundation/NSPropertyListSerialization.h"
#include "foundation/NSString.h"
#include "sdk/analytics/collection/TANSharedUDID.h"
#include "sdk/analytics/collection/TANUtil.h"
#include "sdk/analytics/collection/TANWorker.h"
#include "sdk/analytics/collection/TallyCrashNote.h"
#include "sdk/analytics/collection/TallyEnvelope.h"
#include "sdk/analytics/collection/TallyJob.h"
#include "sdk/analytics/collection/TallyRecords.h"
#include "sdk/analytics/collection/TallySession.h"
#include "sdk/analytics/collection/TallySettings.h"
#include "system/CrashCapture.h"

namespace {

std::mutex gLock;
Ref<TallyInternal> gShared;

constexpr int kEventBudget = 5000;
constexpr double kEventPeriod = 28800;
constexpr std::size_t kMaxEnvelopeFileBytes = 262144;
constexpr double kMaxEnvelopeAge = 1209600;
constexpr std::size_t kMinEnvelopeFileBytes = 10;
constexpr std::size_t kMaxQueuedEnvelopes = 10;
constexpr std::size_t kMinArchiveBytes = 11;

double now() {
    return NSDate::date().timeIntervalSince1970();
}

bool inBackground() {
    return TallySession::sharedInstance()->appInBackGround();
}

template <class T>
Ref<T> payload(const Ref<TADispatchEvent>& event) {
    return event ? event->object.objectAs<T>() : nullptr;
}

// "id" followed by the label; a missing one reads "(null)".
std::string pairingKey(const std::optional<std::string>& a, const std::optional<std::string>& b) {
    return NSString::stringWithFormat("%@%@", a, b);
}

}  // namespace

TallyInternal::TallyInternal()
    : sendLogQueue_(make<NSOperationQueue>()), otherQueue_(make<NSOperationQueue>()) {
    sendLogQueue_->setMaxConcurrentOperationCount(1);
    otherQueue_->setMaxConcurrentOperationCount(2);
    for (auto* c : {&terminates_, &events_, &errors_, &ekv_, &tmpContainer_}) c->reserve(2);
}

Ref<TallyInternal> TallyInternal::sharedInstance() {
    std::lock_guard<std::mutex> guard(gLock);
    if (!gShared) {
        gShared = make<TallyInternal>();
        gShared->sessionID_ = TANUtil::sessionId(TallyApp::sharedInstance()->appid());
    }
    return gShared;
}

void TallyInternal::link() {
    if (TallyCoreLink::linked()) return;
    TallyCoreLink::setCoreMaker([]() -> std::shared_ptr<TallyCoreLink> { return sharedInstance(); });
}

void TallyInternal::resetForTesting() {
    std::lock_guard<std::mutex> guard(gLock);
    gShared.reset();
}

Value TallyInternal::imprintValueWithKey(const std::string& key) {
    return Value(TallyConfig::imprintPropertyValueWithKey(key));
}

// ---------------------------------------------------------------------------------------------
// Work items

void TallyInternal::workEvent(const Ref<TADispatchEvent>& event) {
    NS_ASSERT_MAIN_THREAD();
    if (!event) return;
    int type = event->eEventType;
    switch (type) {
        case 0:
            moveHoldingContainer();
            loadCache();
            if (!inBackground()) TallyJob::preparePerformJob(0);
            analyticsLog("session begin:%@", sessionID());
            break;
        case 1: {
            stopSession(event->object.doubleValue());
            auto app = TallyApp::sharedInstance();
            if (app->reportPolicy() == 8 && app->backgroundTaskEnabled()) TallyJob::preparePerformJob(1);
            saveAndCleanCache();
            analyticsLog("session end:%@", sessionID());
            break;
        }
        case 2:
        case 3:
        case 4: {
            if (!checkEventLimit()) break;
            auto item = payload<TANBaseEvent>(event);
            if (item) setEventSessionID(item);
            addEvent(item, arrayWithEventType(type));
            break;
        }
        case 5:
            if (auto item = payload<TANEvent>(event)) {
                setEventSessionID(item);
                eventBegin(item);
            }
            break;
        case 6:
            if (auto item = payload<TANEvent>(event)) {
                setEventSessionID(item);
                eventEnd(item);
            }
            break;
        case 7:
            if (auto item = payload<TANEkv>(event)) {
                setEventSessionID(item);
                ekvBegin(item);
            }
            break;
        case 8:
            if (auto item = payload<TANEkv>(event)) {
                setEventSessionID(item);
                ekvEnd(item);
            }
            break;
        case 9:
            if (!event->object.isNil()) pageItems_.addObject(event->object);
            analyticsLog("pageDuration:%@", event->object);
            break;
        case 10: {
            auto name = event->object.optionalString();
            if (!name) break;
            double begin = now();
            pageItemsHash_.setObject(*name, begin);
            analyticsLog("pageBegin=%@, beginTime:%@", *name, Value(begin));
            break;
        }
        case 11: {
            auto name = event->object.optionalString();
            if (TANUtil::isEmptyString(name) || pageItemsHash_.empty()) break;
            const Value* begin = pageItemsHash_.find(*name);
            if (!begin) break;
            double elapsed = std::trunc(now() - begin->doubleValue());
            auto duration = static_cast<std::int32_t>(std::clamp(elapsed, -2147483648.0, 2147483647.0));
            if (duration >= 1) {
                pageItems_.addObject(Array{Value(*name), Value(duration)});
                analyticsLog("pageEnd=%@, duration:%d", *name, duration);
            }
            pageItemsHash_.removeObjectForKey(*name);
            break;
        }
        case 12: {
            const Value& info = event->object;
            auto provider = info["TAProfileProvider"].optionalString();
            auto puid = info["TAProfilePUID"].optionalString();
            auto storedProvider = TallyConfig::configureWithKey("TAProfileProvider").optionalString();
            auto storedPuid = TallyConfig::configureWithKey("TAProfilePUID").optionalString();
            if (storedProvider && storedPuid && provider == storedProvider && puid == storedPuid) break;
            auto session = TallySession::sharedInstance();
            if (session->sessionStatus() != 0) {
                stopSession(session->endSessionTime());
                generateEnvelopeFile();
                session->beginSessionTime();
            }
            TallyConfig::setConfigure(Value(provider), "TAProfileProvider");
            TallyConfig::setConfigure(Value(puid), "TAProfilePUID");
            break;
        }
        case 13: {
            if (TallyConfig::configureWithKey("TAProfilePUID").isNil()) break;
            auto session = TallySession::sharedInstance();
            if (session->sessionStatus() != 0) {
                stopSession(session->endSessionTime());
                generateEnvelopeFile();
                session->beginSessionTime();
            }
            TallyConfig::removeConfigureWithKey("TAProfileProvider");
            TallyConfig::removeConfigureWithKey("TAProfilePUID");
            break;
        }
        default:
            analyticsLog("WARNING: unkown event type");
            break;
    }
}

void TallyInternal::moveHoldingContainer() {
    for (const auto& item : tmpContainer_) {
        if (dynamic_cast<TANEvent*>(item.get())) {
            events_.push_back(item);
        } else if (dynamic_cast<TANEkv*>(item.get())) {
            ekv_.push_back(item);
        } else if (dynamic_cast<TANError*>(item.get())) {
            errors_.push_back(item);
        }
    }
    tmpContainer_.clear();
}

bool TallyInternal::hasJob() const {
    return !terminates_.empty() || !events_.empty() || !ekv_.empty() || !errors_.empty();
}

void TallyInternal::setEventSessionID(const Ref<TANBaseEvent>& event) {
    NS_ASSERT_MAIN_THREAD();
    if (!event) return;
    std::string id = sessionID();
    if (TANUtil::isEmptyString(std::optional<std::string>(id))) {
        analyticsLog("WARNING: session id is empty");
        return;
    }
    event->session_id = id;
}

TallyContainer* TallyInternal::arrayWithEventType(int type) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    if (inBackground()) return &tmpContainer_;
    if (TallySession::sharedInstance()->sessionStatus() == 0) return &tmpContainer_;
    switch (type) {
        case 1:
            return &terminates_;
        case 2:
            return &events_;
        case 3:
            return &errors_;
        case 4:
            return &ekv_;
        default:
            return nullptr;
    }
}

void TallyInternal::addEvent(const Ref<TANBaseEvent>& event, TallyContainer* container) {
    NS_ASSERT_MAIN_THREAD();
    if (!event || !container) return;
    container->push_back(event);
    event->outputTALog();
    if (!inBackground()) TallyJob::preparePerformJob(1);
}

bool TallyInternal::checkEventLimit() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    Value separated = TallyConfig::configureWithKey("umSeparatedTime");
    double t = now();
    if (separated.isNil()) {
        TallyConfig::setConfigure(Value(t), "umSeparatedTime");
        return true;
    }
    if (t - separated.doubleValue() > kEventPeriod) {
        TallyConfig::setConfigure(Value(0), "umPeriodEvtCount");
        TallyConfig::setConfigure(Value(t), "umSeparatedTime");
    }
    long long count = static_cast<long long>(events_.size() + ekv_.size()) +
                      TallyConfig::configureWithKey("umPeriodEvtCount").longLongValue();
    if (count >= kEventBudget) {
        analyticsLog("WARNING event max count %d per 8 hours.", kEventBudget);
        return false;
    }
    return true;
}

void TallyInternal::generateEnvelopeFile() {
    NS_ASSERT_MAIN_THREAD();
    auto records = TallyRecords::sharedInstance();
    auto envelope = TallyEnvelope::sharedInstance()->makeEnvelopeData(records->entityData());
    if (!envelope) return;
    records->setActivateMsgFlag();
    TallyConfig::accumulateCount(static_cast<int>(events_.size() + ekv_.size()), "umPeriodEvtCount");
    removeCacheData();
}

void TallyInternal::removeCacheData() {
    NS_ASSERT_MAIN_THREAD();
    terminates_.clear();
    events_.clear();
    errors_.clear();
    ekv_.clear();
    ekvBeginTimes_.clear();
    eventBeginTimes_.clear();
}

void TallyInternal::removeSessions() {
    NS_ASSERT_MAIN_THREAD();
    terminates_.clear();
}

void TallyInternal::removeInstanceMsgs() {
    NS_ASSERT_MAIN_THREAD();
    ekv_.clear();
    events_.clear();
    errors_.clear();
}

void TallyInternal::saveAndCleanCache() {
    NS_ASSERT_MAIN_THREAD();
    if (!hasJob()) return;
    archiveCacheToFile();
    removeCacheData();
}

void TallyInternal::validateEnvelopeFiles(std::vector<std::string>& paths) {
    auto manager = NSFileManager::defaultManager();
    double t = now();
    std::vector<std::string> kept;
    for (const auto& path : paths) {
        auto attributes = manager->attributesOfItemAtPath(path);
        if (!attributes) continue;
        unsigned long long size = attributes->objectForKey(NSFileSize).unsignedLongLongValue();
        const Value& created = attributes->objectForKey(NSFileCreationDate);
        double birth = created.date() ? created.date()->timeIntervalSince1970() : t;
        auto age = static_cast<long long>(t - birth);
        if (size < kMaxEnvelopeFileBytes && age <= static_cast<long long>(kMaxEnvelopeAge) &&
            size > kMinEnvelopeFileBytes) {
            kept.push_back(path);
        } else {
            TallyUtility::removeFile(path);
        }
    }
    TallyUtility::sortFileWithCreatedTime(kept);
    paths = std::move(kept);
}

void TallyInternal::beginPerformJob() {
    NS_ASSERT_MAIN_THREAD();
    std::vector<std::string> files = TallyUtility::envelopeFiles();
    validateEnvelopeFiles(files);
    if (files.empty() && (hasJob() || TallyConfig::configureWithKey("umActivateMsg").isNil())) {
        generateEnvelopeFile();
        files = TallyUtility::envelopeFiles();
        validateEnvelopeFiles(files);
    }
    if (files.empty()) return;
    while (files.size() > kMaxQueuedEnvelopes) {
        TallyUtility::removeFile(files.front());
        files.erase(files.begin());
    }
    analyticsLog("prepare to post log data");
    auto worker = make<TANWorker>();
    worker->setEnvelopeFilePaths(files);
    TallyJob::sharedInstance()->setJobRunning(true);
    sendLogQueue_->addOperation(worker);
}

// ---------------------------------------------------------------------------------------------
// Sessions

void TallyInternal::stopSession(double duration) {
    NS_ASSERT_MAIN_THREAD();
    auto item = make<TANTerminate>(duration);
    setEventSessionID(item);
    double latitude = 0, longitude = 0, fix = 0;
    if (TallyLocation::sharedInstance()->takeFix(latitude, longitude, fix)) {
        item->latitude = latitude;
        item->longitude = longitude;
        item->gps_time = static_cast<std::int64_t>(std::trunc(fix * 1000));
    }
    if (!pageItems_.empty()) {
        item->pageViews.addObjectsFromArray(pageItems_);
        pageItems_.removeAllObjects();
    }
    terminates_.push_back(item);
    item->outputTALog();
}

void TallyInternal::buildDummySession() {
    NS_ASSERT_MAIN_THREAD();
    auto item = make<TANTerminate>(60.0);
    setEventSessionID(item);
    item->ts = now();
    terminates_.push_back(item);
}

// ---------------------------------------------------------------------------------------------
// The cache file

Dictionary TallyInternal::archiveObjects() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    Dictionary body = Dictionary::mutableDictionary();
    auto put = [&body](const char* key, const TallyContainer& container) {
        if (container.empty()) return;
        Array array = Array::mutableArray(container.size());
        for (const auto& item : container) array.addObject(Value(item));
        if (auto data = NSKeyedArchiver::archivedDataWithRootObject(Value(array))) body.setObject(key, *data);
    };
    put("terminate", terminates_);
    put("event", events_);
    put("error", errors_);
    put("ekv", ekv_);
    return body;
}

void TallyInternal::archiveCacheToFile() {
    NS_ASSERT_MAIN_THREAD();
    std::string path = TallyUtility::cacheFilePath();
    Dictionary body = archiveObjects();
    if (body.empty()) {
        TallyUtility::removeFile(path);
        return;
    }
    Dictionary root{{"body", body}};
    auto session = TallySession::sharedInstance();
    if (session->appInBackGround() && session->appBeKilling()) return;
    auto data = NSPropertyListSerialization::dataWithPropertyList(Value(root), NSPropertyListXMLFormat_v1_0,
                                                                  0, nullptr);
    if (data) data->writeToFile(path, true);
}

Dictionary TallyInternal::loadCacheFile() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    std::string path = TallyUtility::cacheFilePath();
    Dictionary result;
    if (auto data = NSData::dataWithContentsOfFile(path)) {
        Value root = NSPropertyListSerialization::propertyListWithData(*data, 0, nullptr, nullptr);
        if (root.isDictionary()) result = *root.dictionary();
    }
    TallyUtility::removeFile(path);
    return result;
}

void TallyInternal::loadCache() {
    NS_ASSERT_MAIN_THREAD();
    Dictionary root = loadCacheFile();
    const Value& body = root.objectForKey("body");
    if (body.isDictionary() && !body.dictionary()->empty()) unarchiveObjects(*body.dictionary());
    finishCrashNote();
}

void TallyInternal::unarchiveObjects(const Dictionary& body) {
    NS_ASSERT_MAIN_THREAD();
    unarchiveSessions(body);
    unarchiveEvents(body);
    unarchiveErrors(body);
}

void TallyInternal::unarchiveInto(const Dictionary& body, const char* key, const char* className,
                                  TallyContainer& container) {
    const Value& v = body.objectForKey(key);
    if (!v.isData() || v.data()->length() < kMinArchiveBytes) return;
    try {
        Ref<NSError> error;
        Value root = NSKeyedUnarchiver::unarchivedObjectOfClasses({"NSArray", "NSMutableArray", className},
                                                                  *v.data(), &error);
        if (!root.isArray()) return;
        for (const Value& element : *root.array()) {
            auto item = element.objectAs<TANBaseEvent>();
            if (item && item->className() == className) container.push_back(item);
        }
    } catch (...) {
        // A damaged entry is skipped; the other keys still load.
    }
}

void TallyInternal::unarchiveSessions(const Dictionary& body) {
    NS_ASSERT_MAIN_THREAD();
    unarchiveInto(body, "terminate", "TANTerminate", terminates_);
}

void TallyInternal::unarchiveEvents(const Dictionary& body) {
    NS_ASSERT_MAIN_THREAD();
    unarchiveInto(body, "event", "TANEvent", events_);
    unarchiveInto(body, "ekv", "TANEkv", ekv_);
}

void TallyInternal::unarchiveErrors(const Dictionary& body) {
    NS_ASSERT_MAIN_THREAD();
    Value stored = TallyConfig::configureWithKey("TAAppVersion");
    if (!stored.isString()) {
        errors_.clear();
        return;
    }
    if (NSString::caseInsensitiveCompare(*stored.string(), TallyApp::appVersionString()) != NSOrderedSame)
        return;
    std::size_t before = errors_.size();
    unarchiveInto(body, "error", "TANError", errors_);
    if (errors_.size() > before) errors_.front()->outputTALog();
}

// ---------------------------------------------------------------------------------------------
// Timed events

void TallyInternal::eventBegin(const Ref<TANEvent>& event) {
    NS_ASSERT_MAIN_THREAD();
    if (!event) return;
    eventBeginTimes_[pairingKey(event->event_id, event->label)].push_front(event);
    analyticsLog("eventBegin eventId=%@, label=%@", event->event_id, event->label);
}

void TallyInternal::eventEnd(const Ref<TANEvent>& event) {
    NS_ASSERT_MAIN_THREAD();
    if (!event || TANUtil::isEmptyString(event->event_id)) return;
    auto found = eventBeginTimes_.find(pairingKey(event->event_id, event->label));
    if (found == eventBeginTimes_.end() || found->second.empty()) return;
    Ref<TANEvent> begun = found->second.front();
    found->second.pop_front();
    begun->updateDu();
    if (begun->du < 7200000 && checkEventLimit()) addEvent(begun, arrayWithEventType(2));
}

void TallyInternal::ekvBegin(const Ref<TANEkv>& event) {
    NS_ASSERT_MAIN_THREAD();
    if (!event) return;
    ekvBeginTimes_[pairingKey(event->id, event->key)].push_front(event);
    analyticsLog("ekvBegin ekvEvent.id=%@, ekvEvent.key=%@", event->id, event->key);
}

void TallyInternal::ekvEnd(const Ref<TANEkv>& event) {
    NS_ASSERT_MAIN_THREAD();
    if (!event || TANUtil::isEmptyString(event->id) || TANUtil::isEmptyString(event->key)) return;
    auto found = ekvBeginTimes_.find(pairingKey(event->id, event->key));
    if (found == ekvBeginTimes_.end() || found->second.empty()) return;
    Ref<TANEkv> begun = found->second.front();
    found->second.pop_front();
    begun->updateDu();
    if (begun->du < 7200000 && checkEventLimit()) addEvent(begun, arrayWithEventType(4));
}

// ---------------------------------------------------------------------------------------------
// Crashes

void TallyInternal::setErrorSupportInfo(const std::optional<Dictionary>& info) {
    if (!info) return;
    auto core = sharedInstance();
    {
        std::lock_guard<std::mutex> guard(core->lock_);
        core->errorSupportInfo_ = info;
    }
    core->prepareCrashNote();
}

std::optional<Dictionary> TallyInternal::error_support_info() const {
    std::lock_guard<std::mutex> guard(lock_);
    return errorSupportInfo_;
}

namespace {
std::string crashContext(const std::string& text, const Dictionary& d) {
    return NSString::stringWithFormat(
        "%@\n\ndSYM UUID: %@\nCPU Type: %@\nSlide Address: %@\nBinary Image: %@\nBase Address: %@\n", text,
        d["binary_uuid"], d["cpu_arch"], d["slide_address"], d["image_name"], d["image_base_address"]);
}

std::string crashText(const std::string& reason, const Value& addresses,
                      const std::vector<std::string>& lines) {
    std::string stack = "(";
    for (const auto& line : lines) stack += NSString::stringWithFormat("\n\t%@", line);
    stack += "\n)";
    return NSString::stringWithFormat("%@\n%@\n(%@", reason, addresses, stack);
}
}  // namespace

void TallyInternal::saveCrashInfo(const Ref<NSNotification>& notification) {
    NS_ASSERT_MAIN_THREAD();
    TallyConfig::setConfigure(Value(TallyApp::appVersionString()), "TAAppVersion");
    auto exception =
        notification ? std::dynamic_pointer_cast<TallyCrashException>(notification->object()) : nullptr;
    if (!exception) return;
    std::vector<std::string> lines = exception->callStackSymbols();
    if (lines.empty() && !exception->callStackReturnAddresses().empty())
        lines = detail::callStackSymbols(exception->callStackReturnAddresses());
    error(
        crashText(exception->reason(), exception->userInfo()["UncaughtExceptionHandlerAddressesKey"], lines));
}

void TallyInternal::armCrashNote(bool armed) {
    detail::tallyArmCrashNote(armed);
    if (armed) prepareCrashNote();
}

void TallyInternal::prepareCrashNote() {
    // Gathering and publishing go together, so that a head gathered earlier never replaces a later one.
    static std::mutex preparing;
    std::lock_guard<std::mutex> guard(preparing);
    if (!detail::tallyCrashNoteArmed()) return;
    detail::TallyCrashNoteHead head;
    head.session = sessionID();
    head.launch = TallySession::sharedInstance()->lastLaunchTime();
    head.image = error_support_info();
    detail::tallyPrepareCrashNote(head);
}

void TallyInternal::finishCrashNote() {
    auto note = detail::tallyTakeCrashNote();
    if (!note) return;
    // As for the records of the cache file, an app update since the crash drops it.
    if (NSString::caseInsensitiveCompare(note->version, TallyApp::appVersionString()) != NSOrderedSame)
        return;
    TallyConfig::setConfigure(Value(note->version), "TAAppVersion");
    if (!note->image) {
        analyticsLog("Read binary image info failed!");
        return;
    }
    auto name = detail::signalName(note->signal);
    std::string reason = "Application received signal " + name.value_or(std::to_string(note->signal));
    auto item = make<TANError>();
    if (!note->session.empty()) item->session_id = note->session;
    if (note->time > 0) item->ts = note->time;
    item->context = crashContext(crashText(reason, Value(), note->stack), *note->image);
    errors_.push_back(item);
    item->outputTALog();
    // The crashed session ends at the crash, as its handler would have ended it.
    double duration = std::max(0.0, note->time - note->launch);
    auto end = make<TANTerminate>(duration > 7200 ? 3600 : duration);
    if (!note->session.empty()) end->session_id = note->session;
    if (note->time > 0) end->ts = note->time;
    terminates_.push_back(end);
}

void TallyInternal::error(const std::optional<std::string>& text) {
    NS_ASSERT_MAIN_THREAD();
    if (!text) return;
    auto info = error_support_info();
    if (!info) {
        analyticsLog("Read binary image info failed!");
        return;
    }
    auto item = make<TANError>();
    setEventSessionID(item);
    item->context = crashContext(*text, *info);
    errors_.push_back(item);
    item->outputTALog();
    auto session = TallySession::sharedInstance();
    session->setAppCrashed(true);
    session->appInactivate(nullptr);
}

// ---------------------------------------------------------------------------------------------
// Fields

std::string TallyInternal::sessionID() const {
    std::lock_guard<std::mutex> guard(lock_);
    return sessionID_;
}

void TallyInternal::setSessionID(const std::string& id) {
    std::lock_guard<std::mutex> guard(lock_);
    sessionID_ = id;
}

std::optional<std::string> TallyInternal::wrapperType() const {
    std::lock_guard<std::mutex> guard(lock_);
    return wrapperType_;
}

void TallyInternal::setWrapperType(const std::optional<std::string>& v) {
    std::lock_guard<std::mutex> guard(lock_);
    wrapperType_ = v;
}

std::optional<std::string> TallyInternal::wrapperVersion() const {
    std::lock_guard<std::mutex> guard(lock_);
    return wrapperVersion_;
}

void TallyInternal::setWrapperVersion(const std::optional<std::string>& v) {
    std::lock_guard<std::mutex> guard(lock_);
    wrapperVersion_ = v;
}

// ---------------------------------------------------------------------------------------------

namespace detail {

void TallyResetForTesting() {
    tallyArmCrashNote(false);
    TallyApp::resetForTesting();
    TAWorkDispatch::resetForTesting();
    TallyInternal::resetForTesting();
    TallySession::resetForTesting();
    TallyJob::resetForTesting();
    TallyRecords::resetForTesting();
    TallyEnvelope::resetForTesting();
    TANSharedUDID::resetCacheForTesting();
}

}  // namespace detail
