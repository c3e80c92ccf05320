#include "sdk/weibo/services/WBSDKStatisticsRecord.h"

#include "foundation/NSString.h"
#include "sdk/weibo/bridge/WeiboSDK.h"
#include "sdk/weibo/util/WBSDKJSONCodecCategories.h"

namespace {
std::string orNull(const std::optional<std::string>& s) {
    return s ? *s : std::string("(null)");
}
std::string orEmpty(const std::optional<std::string>& s) {
    return s ? *s : std::string();
}
}  // namespace

WBSDKStatisticsRecord::WBSDKStatisticsRecord(std::optional<std::string> eventID,
                                             std::optional<std::string> pageID,
                                             std::optional<Dictionary> userInfo, std::int64_t recordType)
    : eventID_(std::move(eventID)),
      pageID_(std::move(pageID)),
      userInfo_(std::move(userInfo)),
      time_(NSDate::date()),
      recordType_(recordType) {
    aid_ = WeiboSDK::getWeiboAid();
}

std::string WBSDKStatisticsRecord::uniqueID() const {
    return NSString::stringWithFormat("%@_%@_%f_%d", orNull(eventID_), orNull(pageID_),
                                      time_.timeIntervalSince1970(), static_cast<int>(recordType_));
}

std::string WBSDKStatisticsRecord::description() const {
    return NSString::stringWithFormat(
        "%@ eventID:'%@' pageID:'%@' userInfo:'%@' time:'%@' duration:'%f' recordType:'%d'",
        NSObject::description(), orNull(eventID_), orNull(pageID_), userInfo_ ? Value(*userInfo_) : Value(),
        Value(time_), duration_, static_cast<int>(recordType_));
}

const WBSDKDBObjectClass& WBSDKStatisticsRecord::objectClass() {
    static const WBSDKDBObjectClass cls{
        "WBSDKStatisticsRecord", &WBSDKStatisticsRecord::createTableIfNeeded,
        &WBSDKStatisticsRecord::objectFromRS,
        static_cast<void (*)(WBSDKSQLDatabase*, double, double)>(&WBSDKStatisticsRecord::deleteInDB),
        &WBSDKStatisticsRecord::selectDB};
    return cls;
}

void WBSDKStatisticsRecord::createTableIfNeeded(WBSDKSQLDatabase* db) {
    if (!db) return;
    db->executeUpdate(
        NSString::stringWithFormat("CREATE TABLE if not exists %@ (uniqueID TEXT NOT NULL UNIQUE, type "
                                   "INTEGER NOT NULL, time DATE NOT NULL, "
                                   "aid TEXT, duration LONG, pageID TEXT, eventID TEXT, extendPara TEXT);",
                                   tableName()));
}

void WBSDKStatisticsRecord::insertToDataBase(WBSDKSQLDatabase* db) {
    if (!db) return;
    std::string extend;
    if (userInfo_) {
        extend = NSArray_WBSDKJSONCodecSerializing::weibosdk_WBSDKJSONString(Value(*userInfo_)).value_or("");
    }
    db->executeUpdate(
        NSString::stringWithFormat("INSERT INTO %@ (uniqueID, type, time,aid, duration, pageID,eventID, "
                                   "extendPara) VALUES (?, ?, ? ,? ,? ,? ,? ,?)",
                                   tableName()),
        uniqueID(), NSNumber::numberWithLongLong(recordType_), time_, orEmpty(aid_),
        NSNumber::numberWithDouble(duration_), orEmpty(pageID_), orEmpty(eventID_), extend);
}

void WBSDKStatisticsRecord::deleteInDB(WBSDKSQLDatabase* db) {
    if (!db) return;
    db->executeUpdate(NSString::stringWithFormat("delete from %@ where uniqueID = ?", tableName()),
                      storedUniqueID_.value_or(uniqueID()));
}

void WBSDKStatisticsRecord::deleteInDB(WBSDKSQLDatabase* db, double fromTime, double toTime) {
    if (!db) return;
    db->executeUpdate(NSString::stringWithFormat("delete from %@ where (time>=%@) and (time<=%@)",
                                                 tableName(), NSString::stringWithFormat("%f", fromTime),
                                                 NSString::stringWithFormat("%f", toTime)));
}

Ref<WBSDKSQLResultSet> WBSDKStatisticsRecord::selectDB(WBSDKSQLDatabase* db, double fromTime, double toTime) {
    if (!db) return nullptr;
    return db->executeQuery(NSString::stringWithFormat(
        "select * from %@ where (time>=%@) and (time<%@)", tableName(),
        NSString::stringWithFormat("%f", fromTime), NSString::stringWithFormat("%f", toTime)));
}

WBSDKDBObject WBSDKStatisticsRecord::objectFromRS(WBSDKSQLResultSet* rs) {
    auto record = make<WBSDKStatisticsRecord>(std::nullopt, std::nullopt, std::nullopt, 0);
    record->loadFromRS(rs);
    return record;
}

void WBSDKStatisticsRecord::loadFromRS(WBSDKSQLResultSet* rs) {
    if (!rs) return;
    aid_ = rs->stringForColumn("aid");
    eventID_ = rs->stringForColumn("eventID");
    pageID_ = rs->stringForColumn("pageID");
    userInfo_.reset();
    if (auto extend = rs->stringForColumn("extendPara"); extend && !extend->empty()) {
        Value parsed = NSString_WBSDKJSONCodecDeserializing::weibosdk_objectFromWBSDKJSONString(*extend);
        if (parsed.isDictionary()) userInfo_ = *parsed.dictionary();
    }
    if (auto date = rs->dateForColumn("time")) time_ = *date;
    duration_ = rs->doubleForColumn("duration");
    recordType_ = static_cast<std::int64_t>(rs->intForColumn("type"));
    storedUniqueID_ = rs->stringForColumn("uniqueID");
}
