#include "sdk/weibo/storage/WBSDKSQLDatabase+WBSDKSQLDatabaseAdditions.h"

#include <sqlite3.h>

#include <cctype>
#include <chrono>
#include <thread>

#include "foundation/NSLog.h"
#include "foundation/NSString.h"

namespace {
std::string lowercased(std::string text) {
    for (auto& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}
std::string quotedName(const std::string& name) {
    std::string out;
    for (char c : name) {
        out += c;
        if (c == '\'') out += '\'';
    }
    return out;
}
}  // namespace

namespace WBSDKSQLDatabase_WBSDKSQLDatabaseAdditions {

Ref<WBSDKSQLResultSet> detail::firstRow(WBSDKSQLDatabase& db, const std::string& sql,
                                        const Array& arguments) {
    auto rs = db.executeQueryWithArgumentsInArray(sql, arguments);
    if (!rs) return nullptr;
    if (!rs->next()) return nullptr;  // next() closed it
    return rs;
}

std::optional<Dictionary> stringDictForQueryWithArgumentsInArray(WBSDKSQLDatabase& db, const std::string& sql,
                                                                 const Array& arguments) {
    auto rs = detail::firstRow(db, sql, arguments);
    if (!rs) return std::nullopt;
    auto dict = WBSDKSQLResultSet_Helper::stringResultDict(*rs);
    rs->close();
    return dict;
}

std::optional<Dictionary> stringDictForQuery(WBSDKSQLDatabase& db, const std::string& sql) {
    return stringDictForQueryWithArgumentsInArray(db, sql, Array());
}

bool tableExists(WBSDKSQLDatabase& db, const std::string& tableName) {
    auto rs = db.executeQuery("select [sql] from sqlite_master where [type] = 'table' and lower(name) = ?",
                              lowercased(tableName));
    if (!rs) return false;
    bool found = rs->next();
    rs->close();
    return found;
}

Ref<WBSDKSQLResultSet> getSchema(WBSDKSQLDatabase& db) {
    return db.executeQuery("SELECT type, name, tbl_name, rootpage, sql FROM (SELECT * FROM sqlite_master "
                           "UNION ALL SELECT * FROM "
                           "sqlite_temp_master) WHERE type != 'meta' AND name NOT LIKE 'sqlite_%' ORDER BY "
                           "tbl_name, type DESC, name");
}

Ref<WBSDKSQLResultSet> getTableSchema(WBSDKSQLDatabase& db, const std::string& tableName) {
    return db.executeQuery(NSString::stringWithFormat("PRAGMA table_info('%@')", quotedName(tableName)));
}

bool columnExists(WBSDKSQLDatabase& db, const std::string& tableName, const std::string& columnName) {
    auto rs = getTableSchema(db, lowercased(tableName));
    if (!rs) return false;
    std::string wanted = lowercased(columnName);
    bool found = false;
    while (rs->next()) {
        auto name = rs->stringForColumn("name");
        if (name && lowercased(*name) == wanted) {
            found = true;
            break;
        }
    }
    rs->close();
    return found;
}

bool validateSQL(WBSDKSQLDatabase& db, const std::string& sql, Ref<NSError>* error) {
    sqlite3_stmt* stmt = nullptr;
    int rc = SQLITE_OK;
    int numberOfRetries = 0;
    bool keepTrying = true;
    while (keepTrying) {
        keepTrying = false;
        rc = sqlite3_prepare_v2(db.sqliteHandle(), sql.c_str(), -1, &stmt, nullptr);
        if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) {
            keepTrying = true;
            std::this_thread::sleep_for(std::chrono::microseconds(20));
            if (db.busyRetryTimeout() && numberOfRetries++ > db.busyRetryTimeout()) {
                NSLog("%s:%d Database busy (%@)", "validateSQL", __LINE__,
                      db.databasePath().value_or(":memory:"));
                NSLog("Database busy");
                keepTrying = false;
            }
        } else if (rc != SQLITE_OK && error) {
            *error = NSError::errorWithDomain(NSCocoaErrorDomain, db.lastErrorCode(),
                                              Dictionary{{NSLocalizedDescriptionKey, db.lastErrorMessage()}});
        }
    }
    if (rc != SQLITE_OK && (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) && error) {
        *error = NSError::errorWithDomain(NSCocoaErrorDomain, db.lastErrorCode(),
                                          Dictionary{{NSLocalizedDescriptionKey, db.lastErrorMessage()}});
    }
    sqlite3_finalize(stmt);
    return rc == SQLITE_OK;
}

}  // namespace WBSDKSQLDatabase_WBSDKSQLDatabaseAdditions

namespace WBSDKSQLResultSet_Helper {

std::optional<Dictionary> stringResultDict(WBSDKSQLResultSet& rs) {
    auto statement = rs.statement();
    int count = statement && statement->statement() ? sqlite3_data_count(statement->statement()) : 0;
    if (count <= 0) {
        NSLog("Warning: There seem to be no columns in this set.");
        return std::nullopt;
    }
    Dictionary dict = Dictionary::mutableDictionary();
    for (int i = 0; i < count; ++i) {
        auto value = rs.stringForColumnIndex(i);
        auto name = rs.columnNameForIndex(i);
        if (value && name) dict.setObject(lowercased(*name), *value);
    }
    return dict;
}

}  // namespace WBSDKSQLResultSet_Helper
