#include "sdk/analytics/collection/TallyRecords.h"

#include <algorithm>
#include <cmath>

#include "foundation/NSDate.h"
#include "foundation/NSLog.h"
#include "foundation/NSString.h"
#include "sdk/analytics/collection/TANUtil.h"
#include "sdk/analytics/collection/TAWorkDispatch.h"
#include "sdk/analytics/collection/TallyEnvelope.h"
#include "sdk/analytics/collection/TallyJob.h"
#include "sdk/analytics/collection/TallySettings.h"

namespace {

std::mutex gLock;
Ref<TallyRecords> gShared;

constexpr char kZeroVendorId[] = "00000000-0000-0000-0000-000000000000";
constexpr int kMaxIdVersions = 19;

std::int64_t milliseconds(double seconds) {
    return static_cast<std::int64_t>(std::trunc(seconds * 1000.0));
}

std::int64_t nowMs() {
    return milliseconds(NSDate::date().timeIntervalSince1970());
}

std::string versionKey(const std::string& kind) {
    return NSString::stringWithFormat("um%@VersionNum", kind);
}

// The current value of an id kind; nothing when empty.
std::optional<std::string> identityOf(const std::string& kind) {
    std::string value;
    if (kind == "mc") {
        value = TANUtil::deviceMacAddressString();
    } else if (kind == "idfv") {
        value = TANUtil::idfv();
        if (value == kZeroVendorId) value.clear();
    } else {
        value = TANUtil::sharedUDIDString();
    }
    if (value.empty()) return std::nullopt;
    return value;
}

const char* const kIdKinds[] = {"mc", "idfv", "oid"};

std::vector<std::string> split(const std::string& text, const std::string& separator) {
    return NSString::componentsSeparatedByString(text, separator);
}

}  // namespace

TallyRecords::TallyRecords() {
    buildDeviceInfo();
    buildAppInfo();
    buildMiscInfo();
    buildLogEntry();
    buildActivateMsg();
    buildIdTracking();
}

Ref<TallyRecords> TallyRecords::sharedInstance() {
    std::lock_guard<std::mutex> guard(gLock);
    if (!gShared) gShared = make<TallyRecords>();
    return gShared;
}

void TallyRecords::resetForTesting() {
    std::lock_guard<std::mutex> guard(gLock);
    gShared.reset();
}

// ---------------------------------------------------------------------------------------------
// Header parts

void TallyRecords::buildDeviceInfo() {
    deviceInfo_ = make<TATDeviceInfo>();
    deviceInfo_->setDevice_id(TANUtil::sharedUDIDString());
    deviceInfo_->setMac_address(TANUtil::deviceMacAddressString());
    deviceInfo_->setModel(TANUtil::deviceModelString());
    deviceInfo_->setOs(TANUtil::osString());
    deviceInfo_->setOs_version(TANUtil::osVersionString());
    deviceInfo_->setIs_jailbroken(TANUtil::isDeviceJailBreak());
    deviceInfo_->setResolution(make<TATResolution>(TANUtil::resolutionHeight(), TANUtil::resolutionWidth()));
}

void TallyRecords::buildAppInfo() {
    appInfo_ = make<TATAppInfo>();
    auto app = TallyApp::sharedInstance();
    appInfo_->setKey(app->appid());
    appInfo_->setVersion(TallyApp::appVersionString());
    appInfo_->setPackage_name(TANUtil::appPackageNameString());
    appInfo_->setSdk_type(1);
    appInfo_->setSdk_version(TANUtil::sdkVersionString());
    appInfo_->setChannel(app->channel());
    auto core = TallyCoreLink::core();
    if (!core) return;
    if (auto t = core->wrapperType(); t && !t->empty()) appInfo_->setWrapper_type(t);
    if (auto v = core->wrapperVersion(); v && !v->empty()) appInfo_->setWrapper_version(v);
}

void TallyRecords::buildMiscInfo() {
    miscInfo_ = make<TATMiscInfo>();
    miscInfo_->setTime_zone(TANUtil::timezone());
    miscInfo_->setLanguage(TANUtil::languageString());
    miscInfo_->setCountry(TANUtil::countryString());
    miscInfo_->setCarrier(TANUtil::carrierString());
    miscInfo_->setDisplay_name(TANUtil::appDisplayNameString());
    std::string access = TANUtil::accessString();
    miscInfo_->setAccess_type(access == "WiFi" ? 2 : access == "CellNetwork" ? 1 : 0);
}

void TallyRecords::buildLogEntry() {
    UALogEntry_ = make<TATUALogEntry>();
    UALogEntry_->setApp_info(appInfo_);
    UALogEntry_->setDevice_info(deviceInfo_);
    UALogEntry_->setMisc_info(miscInfo_);
}

void TallyRecords::buildActivateMsg() {
    if (!TallyConfig::configureWithKey("umActivateMsg").isNil()) return;
    activateMsg_ = make<TATActivateMsg>(nowMs());
    UALogEntry_->setActivate_msg(activateMsg_);
}

void TallyRecords::setActivateMsgFlag() {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (!UALogEntry_->activate_msg()) return;
    if (TallyConfig::configureWithKey("umActivateMsg").isNil()) {
        TallyConfig::setConfigure(Value(static_cast<long long>(UALogEntry_->activate_msg()->ts())),
                                  "umActivateMsg");
    }
    UALogEntry_->unsetActivate_msg();
    activateMsg_.reset();
}

// ---------------------------------------------------------------------------------------------
// Id tracking

void TallyRecords::writeIdTracking() {
    auto tracking = make<TATIdTracking>();
    TATMap<Ref<TATIdSnapshot>> snapshots;
    TATList<TATIdJournal> journals;
    std::int64_t ts = nowMs();
    for (const char* kind : kIdKinds) {
        auto value = identityOf(kind);
        if (!value) continue;
        snapshots.setObject(kind, make<TATIdSnapshot>(*value, ts, 1));
        auto journal = make<TATIdJournal>();
        journal->setDomain(std::string(kind));
        journal->setNew_id(*value);
        journal->setTs(ts);
        journals.push_back(journal);
    }
    tracking->setSnapshots(std::move(snapshots));
    tracking->setJournals(std::move(journals));
    tracking->setChecksum(std::string("checksum"));
    idTracking_ = tracking;
    if (auto bytes = detail::tallyWriteRecord(*tracking))
        TallyConfig::setConfigure(Value(*bytes), "umIDTracking");
}

void TallyRecords::buildIdTracking() {
    Value stored = TallyConfig::configureWithKey("umIDTracking");
    if (!stored.isData()) {
        writeIdTracking();
        UALogEntry_->setId_tracking(idTracking_);
        return;
    }
    idTracking_ = make<TATIdTracking>();
    detail::tallyReadRecord(*idTracking_, *stored.data());
    idTracking_->setJournals(TATList<TATIdJournal>{});
    if (!idTracking_->snapshots()) idTracking_->setSnapshots(TATMap<Ref<TATIdSnapshot>>{});
    auto& snapshots = *idTracking_->snapshots();
    std::int64_t ts = nowMs();
    for (const char* kind : kIdKinds) {
        long n = TallyConfig::configureWithKey(versionKey(kind)).integerValue();
        if (n == 0) n = 1;
        if (n > kMaxIdVersions) continue;
        auto value = identityOf(kind);
        if (!value) continue;
        auto snapshot = snapshots.objectForKey(kind);
        auto journal = make<TATIdJournal>();
        journal->setDomain(std::string(kind));
        journal->setNew_id(*value);
        journal->setTs(ts);
        if (snapshot) {
            if (snapshot->identity() == value) continue;
            journal->setOld_id(snapshot->identity());
            snapshot->setIdentity(*value);
            snapshot->setVersion(snapshot->version() + 1);
            snapshot->setTs(ts);
            TallyConfig::setConfigure(Value(n + 1), versionKey(kind));
        } else {
            snapshots.setObject(kind, make<TATIdSnapshot>(*value, ts, static_cast<std::int32_t>(n)));
        }
        idTracking_->journals()->push_back(journal);
    }
    idTracking_->setChecksum(std::string("checksum"));
    UALogEntry_->setId_tracking(idTracking_);
}

void TallyRecords::saveIdTracking() {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (!idTracking_ || !idTracking_->snapshots() || idTracking_->snapshots()->empty()) return;
    idTracking_->setJournals(TATList<TATIdJournal>{});
    if (auto bytes = detail::tallyWriteRecord(*idTracking_)) {
        TallyConfig::setConfigure(Value(*bytes), "umIDTracking");
    }
}

// ---------------------------------------------------------------------------------------------
// The report

void TallyRecords::buildClientStats() {
    clientStats_ = make<TATClientStats>();
    Value ok = TallyConfig::configureWithKey("umSuccessfulRequests");
    Value failed = TallyConfig::configureWithKey("umFailedRequests");
    Value spent = TallyConfig::configureWithKey("umLastRequestSpentMS");
    if (!ok.isNil()) clientStats_->setSuccessful_requests(ok.intValue());
    if (!failed.isNil()) clientStats_->setFailed_requests(failed.intValue());
    if (!spent.isNil()) clientStats_->setLast_request_spent_ms(spent.intValue());
    UALogEntry_->setClient_stats(clientStats_);
}

void TallyRecords::buildSessionsAndInstantMessages() {
    int level = TallyJob::sharedInstance()->defcon();
    if (level == 0) {
        buildInstantMessages();
        buildSessions();
        return;
    }
    if (auto core = TallyCoreLink::core()) {
        core->removeInstanceMsgs();
        if (level >= 2) core->removeSessions();
        if (level == 2) core->buildDummySession();
    }
    instantMessages_.clear();
    UALogEntry_->setInstant_msgs(instantMessages_);
    buildSessions();
}

Ref<TATSession> TallyRecords::buildSessionFrom(const Ref<TANTerminate>& item) {
    auto session = make<TATSession>();
    session->setId(item->session_id);
    session->setEnd_time(milliseconds(item->ts));
    session->setStart_time(milliseconds(item->ts - item->duration));
    session->setDuration(milliseconds(item->duration));
    if (!item->pageViews.empty()) {
        TATList<TATPage> pages;
        for (const Value& entry : item->pageViews) {
            auto page = make<TATPage>();
            page->setPage_name(entry[0].optionalString());
            page->setDuration(entry[1].longLongValue() * 1000);
            pages.push_back(page);
        }
        session->setPages(std::move(pages));
    }
    if (item->hasGPSInfo()) {
        session->setLocations(
            TATList<TATLocation>{make<TATLocation>(item->latitude, item->longitude, item->gps_time)});
    }
    return session;
}

void TallyRecords::buildSessions() {
    sessions_.clear();
    if (auto core = TallyCoreLink::core()) {
        for (const auto& item : core->terminates()) {
            if (auto terminate = std::dynamic_pointer_cast<TANTerminate>(item))
                sessions_.push_back(buildSessionFrom(terminate));
        }
    }
    UALogEntry_->setSessions(sessions_);
}

Ref<TATInstantMsg> TallyRecords::messageForSession(const std::optional<std::string>& sessionId, bool& made) {
    made = false;
    for (auto it = instantMessages_.rbegin(); it != instantMessages_.rend(); ++it) {
        if ((*it)->id() == sessionId) return *it;
    }
    made = true;
    auto message = make<TATInstantMsg>();
    message->setId(sessionId);
    return message;
}

void TallyRecords::buildInstantMessageFromEvent(const Ref<TANEvent>& item) {
    bool made = false;
    auto message = messageForSession(item->session_id, made);
    if (!message->events()) message->setEvents(TATList<TATEvent>{});
    auto event = make<TATEvent>();
    event->setName(item->event_id);
    TATMap<Ref<TATPropertyValue>> properties;
    auto value = make<TATPropertyValue>();
    value->setString_value(item->label.value_or(""));
    properties.setObject(item->event_id.value_or(""), value);
    event->setProperties(std::move(properties));
    event->setDuration(item->du);
    event->setAcc(static_cast<std::int32_t>(item->acc));
    event->setTs(milliseconds(item->ts));
    message->events()->push_back(event);
    if (made) instantMessages_.push_back(message);
}

void TallyRecords::buildInstantMessageFromEkv(const Ref<TANEkv>& item) {
    // Only plain key-value events travel; game events are not part of the report.
    if (!item->type || *item->type != "ekv") return;
    bool made = false;
    auto message = messageForSession(item->session_id, made);
    if (!message->events()) message->setEvents(TATList<TATEvent>{});
    auto event = make<TATEvent>();
    event->setName(item->id);
    TATMap<Ref<TATPropertyValue>> properties;
    for (const auto& [key, v] : item->values) {
        auto value = make<TATPropertyValue>();
        if (v.isString()) {
            value->setString_value(*v.string());
        } else if (v.isNumber()) {
            value->setLong_value(v.number()->longLongValue());
        }
        properties.setObject(key, value);
    }
    event->setProperties(std::move(properties));
    event->setDuration(item->du);
    event->setTs(milliseconds(item->ts));
    message->events()->push_back(event);
    if (made) instantMessages_.push_back(message);
}

void TallyRecords::buildInstantMessageFromError(const Ref<TANError>& item) {
    auto message = make<TATInstantMsg>();
    message->setId(item->session_id);
    auto error = make<TATError>();
    error->setTs(milliseconds(item->ts));
    error->setContext(item->context);
    message->setErrors(TATList<TATError>{error});
    instantMessages_.push_back(message);
}

void TallyRecords::buildInstantMessages() {
    instantMessages_.clear();
    if (auto core = TallyCoreLink::core()) {
        for (const auto& item : core->events()) {
            if (auto event = std::dynamic_pointer_cast<TANEvent>(item)) buildInstantMessageFromEvent(event);
        }
        for (const auto& item : core->errors()) {
            if (auto error = std::dynamic_pointer_cast<TANError>(item)) buildInstantMessageFromError(error);
        }
        for (const auto& item : core->ekv()) {
            if (auto ekv = std::dynamic_pointer_cast<TANEkv>(item)) buildInstantMessageFromEkv(ekv);
        }
    }
    UALogEntry_->setInstant_msgs(instantMessages_);
}

void TallyRecords::buildImprint() {
    auto imprint = TallyConfig::storedImprint();
    if (imprint && validateImprintChecksum(imprint)) UALogEntry_->setImprint(imprint);
}

void TallyRecords::buildControlPolicy() {
    auto job = TallyJob::sharedInstance();
    if (job->defcon() != 0 || (!job->bDisguisedLatency() && job->latency() < 1)) {
        UALogEntry_->unsetControl_policy();
        return;
    }
    double elapsed = TallyJob::elapsedTimeFromPost();
    auto latent = make<TATLatent>(job->latency(), elapsed > 0 ? milliseconds(elapsed) : 0);
    UALogEntry_->setControl_policy(make<TATControlPolicy>(latent));
}

void TallyRecords::buildActiveUser() {
    Value puid = TallyConfig::configureWithKey("TAProfilePUID");
    if (puid.isNil()) {
        UALogEntry_->unsetActive_user();
        return;
    }
    Value provider = TallyConfig::configureWithKey("TAProfileProvider");
    UALogEntry_->setActive_user(make<TATActiveUser>(provider.optionalString(), puid.optionalString()));
}

std::optional<NSData> TallyRecords::toData() {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    auto appid = TallyApp::sharedInstance()->appid();
    // Without an app key a report cannot be attributed; the items wait for the key.
    if (TANUtil::isEmptyString(appid)) return std::nullopt;
    if (!appInfo_->key()) appInfo_->setKey(appid);

    buildClientStats();
    buildSessionsAndInstantMessages();
    buildImprint();
    buildControlPolicy();
    Value groups = TallyConfig::configureWithKey("umExperimentGroupInfo");
    if (groups.isDictionary() && !groups.dictionary()->empty() && !TallyApp::isIntegratedTestModel()) {
        UALogEntry_->setGroup_info(groups.dictionary()->copy());
    } else {
        UALogEntry_->unsetGroup_info();
    }
    buildActiveUser();

    auto bytes = detail::tallyWriteRecord(*UALogEntry_);
    if (!bytes) return std::nullopt;
    if (bytes->length() < kMaxReportBytes) {
        TallyEnvelope::sharedInstance()->setLength(static_cast<std::int32_t>(bytes->length()));
        return bytes;
    }
    if (auto core = TallyCoreLink::core()) core->removeCacheData();
    return std::nullopt;
}

std::optional<NSData> TallyRecords::entityData() {
    auto report = toData();
    if (!report) return std::nullopt;
    auto compressed = TANUtil::deflatedData(*report);
    if (!compressed) return std::nullopt;
    if (compressed->length() / 1024 < kMaxEntityKiB) return compressed;
    if (auto core = TallyCoreLink::core()) core->removeCacheData();
    return std::nullopt;
}

Ref<TATUALogEntry> TallyRecords::fromData(const NSData& data) {
    auto entry = make<TATUALogEntry>();
    detail::tallyReadRecord(*entry, data);
    return entry;
}

// ---------------------------------------------------------------------------------------------
// Imprint and reply

std::string TallyRecords::generateImprintChecksum(const Ref<TATImprint>& imprint) {
    if (!imprint) return std::string();
    std::string text;
    if (imprint->property()) {
        std::vector<std::string> keys = imprint->property()->allKeys();
        std::stable_sort(keys.begin(), keys.end(), [](const std::string& a, const std::string& b) {
            return NSString::localizedCaseInsensitiveCompare(a, b) == NSOrderedAscending;
        });
        for (const auto& key : keys) {
            auto value = imprint->property()->objectForKey(key);
            if (!value) continue;
            long long ts = value->ts();
            if (value->valueIsSet() && value->value()) {
                text += NSString::stringWithFormat("%@%@%qi%@", key, value->value(), ts, value->guid());
            } else {
                text += NSString::stringWithFormat("%@%qi%@", key, ts, value->guid());
            }
        }
    }
    text += NSString::stringWithFormat("%d", imprint->version());
    return NSString::lowercaseString(TANUtil::md5(text));
}

bool TallyRecords::validateImprintChecksum(const Ref<TATImprint>& imprint) {
    if (!imprint || !imprint->property() || !imprint->checksum()) return false;
    return *imprint->checksum() == generateImprintChecksum(imprint);
}

bool TallyRecords::verifyResponseData(const NSData& data) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    auto response = make<TATResponse>();
    detail::tallyReadRecord(*response, data);
    bool success = response->resp_codeIsSet() && response->resp_code() == 1;
    if (success && response->imprint() && validateImprintChecksum(response->imprint())) {
        updateImprint(response->imprint());
    }
    return success;
}

void TallyRecords::updateImprint(const Ref<TATImprint>& reply) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (!reply) return;
    auto stored = TallyConfig::storedImprint();
    if (!stored) stored = make<TATImprint>();
    if (!stored->property()) stored->setProperty(TATMap<Ref<TATImprintValue>>{});

    const auto& incoming = reply->property();
    auto job = TallyJob::sharedInstance();
    if (incoming && incoming->containsKey("defcon")) {
        auto value = incoming->objectForKey("defcon");
        if (!value || !value->valueIsSet() || !value->value()) {
            TallyConfig::removeConfigureWithKey("umDefcon");
            job->setDefcon(0);
        } else {
            int v = NSString::intValue(*value->value());
            if (v >= 0 && v <= 3) {
                job->setDefcon(v);
                TallyConfig::setConfigure(Value(*value->value()), "umDefcon");
            } else {
                job->setDefcon(0);
                TallyConfig::setConfigure(Value("0"), "umDefcon");
            }
        }
    }
    if (incoming && !incoming->empty()) {
        for (const auto& [key, value] : *incoming) {
            if (value && value->valueIsSet() && value->value()) {
                stored->property()->setObject(key, value);
            } else {
                stored->property()->removeObjectForKey(key);
            }
        }
    }
    stored->setVersion(reply->version());
    stored->setChecksum(generateImprintChecksum(stored));
    if (auto bytes = detail::tallyWriteRecord(*stored)) TallyConfig::setConfigure(Value(*bytes), "umImprint");

    auto holds = [&incoming](const char* key) { return incoming && incoming->containsKey(key); };
    bool rederive = false;
    if (!TallyApp::isIntegratedTestModel()) {
        if (holds("client_test")) {
            auto value = incoming->objectForKey("client_test");
            if (value && value->valueIsSet() && value->value()) {
                configureExperimentWithString(*value->value());
            } else {
                TallyConfig::removeConfigureWithKey("umExperimentGroupInfo");
                TallyConfig::removeConfigureWithKey("umExperimentRPT");
            }
        }
        rederive = holds("client_test") || holds("test_report_interval");
    }
    if (rederive || holds("report_interval")) {
        TallyApp::sharedInstance()->setLogSendInterval(TallyApp::minReportInterval());
    }
}

float TallyRecords::calcProbWithSigIndex(int index) const {
    const auto& signature = TallyEnvelope::sharedInstance()->signature();
    if (!signature || signature->empty() || index < 0 ||
        static_cast<std::size_t>(index) + 5 > signature->length()) {
        return 0;
    }
    const std::uint8_t* b = signature->bytes() + index;
    std::string hex =
        NSString::stringWithFormat("%02hhx%02hhx%02hhx%02hhx%02hhx", b[0], b[1], b[2], b[3], b[4]);
    unsigned long v = std::stoul(hex.substr(0, 5), nullptr, 16);
    return static_cast<float>(static_cast<double>(v) / 1048576.0);
}

void TallyRecords::configureExperimentWithString(const std::string& text) {
    if (text.empty()) return;
    std::vector<std::string> fields = split(text, "|");
    if (fields.size() != 6 || fields[1].empty() || fields[5].empty()) {
        analyticsLog("ERROR: experiment params invalid.");
        return;
    }
    const std::string& mode = fields[0];
    std::vector<std::string> weights = split(fields[1], ",");
    const std::string& gate = fields[2];
    float threshold = NSString::floatValue(fields[3]);
    const std::string& experimentKey = fields[4];
    std::vector<std::string> values = split(fields[5], ",");

    std::optional<int> group;
    if (mode == "SIG7" && weights.size() == values.size()) {
        double p = calcProbWithSigIndex(6);
        double s = 0;
        for (std::size_t i = 0; i < weights.size(); ++i) {
            double w = NSString::doubleValue(weights[i]);
            if (s - 0.000001 < p && p < s + w) {
                group = static_cast<int>(i) + 1;
                break;
            }
            s += w;
        }
    } else if (mode == "FIXED" && weights.size() <= values.size()) {
        int g = NSString::intValue(fields[1]);
        if (g >= 1 && g <= static_cast<int>(values.size())) group = g;
    } else {
        analyticsLog("ERROR: unknow experiment group key");
    }

    std::optional<int> value;
    if (gate == "SIG13" && calcProbWithSigIndex(12) < threshold) {
        if (experimentKey == "RPT") {
            if (group) value = NSString::intValue(values[static_cast<std::size_t>(*group - 1)]);
        } else {
            analyticsLog("ERROR: unknow experiment test key");
        }
    }

    Dictionary groups = Dictionary::mutableDictionary();
    Value stored = TallyConfig::configureWithKey("umExperimentGroupInfo");
    if (stored.isDictionary()) groups = stored.dictionary()->mutableCopy();
    if (experimentKey == "RPT") {
        if (group && value && *value != -1) {
            groups.setObject("RPT", *group);
            TallyConfig::setConfigure(Value(*value), "umExperimentRPT");
        } else {
            groups.removeObjectForKey("RPT");
            TallyConfig::removeConfigureWithKey("umExperimentRPT");
        }
    }
    TallyConfig::setConfigure(Value(groups), "umExperimentGroupInfo");
}
