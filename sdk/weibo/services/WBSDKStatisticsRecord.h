#pragma once
// One entry of the Weibo SDK's usage log (app start 0, app end 1, page view 2, event 3) and its
// table "statistics_records". A record takes the moment it is made and the device aid known
// then. Nil strings are stored as empty strings, so a record read back has empty aid, page and
// event where the stored one had none.

#include <cstdint>
#include <optional>
#include <string>

#include "foundation/NSDate.h"
#include "foundation/NSObject.h"
#include "foundation/Value.h"
#include "sdk/weibo/services/WBSDKDBObjectAccessDelgate.h"

class WBSDKStatisticsRecord : public NSObject, public WBSDKDBObjectAccessDelgate {
  public:
    WBSDKStatisticsRecord(std::optional<std::string> eventID, std::optional<std::string> pageID,
                          std::optional<Dictionary> userInfo, std::int64_t recordType);
    std::string className() const override { return "WBSDKStatisticsRecord"; }
    std::string description() const override;

    static Ref<WBSDKStatisticsRecord> recordWithEventID(std::optional<std::string> eventID,
                                                        std::optional<std::string> pageID,
                                                        std::optional<Dictionary> userInfo,
                                                        std::int64_t recordType) {
        return make<WBSDKStatisticsRecord>(std::move(eventID), std::move(pageID), std::move(userInfo),
                                           recordType);
    }

    const std::optional<std::string>& aid() const { return aid_; }
    void setAid(std::optional<std::string> v) { aid_ = std::move(v); }
    const std::optional<std::string>& eventID() const { return eventID_; }
    void setEventID(std::optional<std::string> v) { eventID_ = std::move(v); }
    const std::optional<std::string>& pageID() const { return pageID_; }
    void setPageID(std::optional<std::string> v) { pageID_ = std::move(v); }
    const std::optional<Dictionary>& userInfo() const { return userInfo_; }
    void setUserInfo(std::optional<Dictionary> v) { userInfo_ = std::move(v); }
    NSDate time() const { return time_; }
    void setTime(NSDate v) { time_ = v; }
    double duration() const { return duration_; }
    void setDuration(double v) { duration_ = v; }
    std::int64_t recordType() const { return recordType_; }
    void setRecordType(std::int64_t v) { recordType_ = v; }

    // "%@_%@_%f_%d" of event, page, time and type; a missing string prints as "(null)".
    std::string uniqueID() const;
    // The uniqueID of the row the record was read from, so that it deletes that very row.
    const std::optional<std::string>& storedUniqueID() const { return storedUniqueID_; }

    // ---- the table --------------------------------------------------------------------------------
    static std::string tableName() { return "statistics_records"; }
    static const WBSDKDBObjectClass& objectClass();
    static void createTableIfNeeded(WBSDKSQLDatabase* db);
    static WBSDKDBObject objectFromRS(WBSDKSQLResultSet* rs);
    static void deleteInDB(WBSDKSQLDatabase* db, double fromTime, double toTime);
    static Ref<WBSDKSQLResultSet> selectDB(WBSDKSQLDatabase* db, double fromTime, double toTime);
    void insertToDataBase(WBSDKSQLDatabase* db) override;
    void deleteInDB(WBSDKSQLDatabase* db) override;
    void loadFromRS(WBSDKSQLResultSet* rs);

  private:
    std::optional<std::string> aid_;
    std::optional<std::string> eventID_;
    std::optional<std::string> pageID_;
    std::optional<Dictionary> userInfo_;
    NSDate time_;
    double duration_ = 0;
    std::int64_t recordType_ = 0;
    std::optional<std::string> storedUniqueID_;
};
