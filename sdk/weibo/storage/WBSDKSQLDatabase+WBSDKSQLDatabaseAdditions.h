#pragma once
// One-value and schema queries on a WBSDKSQLDatabase, and a row as a dictionary of strings.
//
// Each one-value query runs with its arguments, reads column 0 of the first row, then closes the
// result set; no row gives nil, 0 or NO.

#include <optional>
#include <string>

#include "sdk/weibo/storage/WBSDKSQLDatabase.h"

namespace WBSDKSQLDatabase_WBSDKSQLDatabaseAdditions {

namespace detail {
// The first row of the query, or null when there is none; the caller closes the set.
Ref<WBSDKSQLResultSet> firstRow(WBSDKSQLDatabase& db, const std::string& sql, const Array& arguments);
}  // namespace detail

template <class Read, class... Args>
auto readFirst(WBSDKSQLDatabase& db, const std::string& sql, Read read, Args&&... args) {
    auto rs = detail::firstRow(db, sql, Array{Value(std::forward<Args>(args))...});
    auto value = read(rs.get());
    if (rs) rs->close();
    return value;
}

template <class... Args>
std::optional<std::string> stringForQuery(WBSDKSQLDatabase& db, const std::string& sql, Args&&... args) {
    return readFirst(
        db, sql, [](WBSDKSQLResultSet* rs) { return rs ? rs->stringForColumnIndex(0) : std::nullopt; },
        std::forward<Args>(args)...);
}
template <class... Args>
int intForQuery(WBSDKSQLDatabase& db, const std::string& sql, Args&&... args) {
    return readFirst(
        db, sql, [](WBSDKSQLResultSet* rs) { return rs ? rs->intForColumnIndex(0) : 0; },
        std::forward<Args>(args)...);
}
template <class... Args>
long longForQuery(WBSDKSQLDatabase& db, const std::string& sql, Args&&... args) {
    return readFirst(
        db, sql, [](WBSDKSQLResultSet* rs) { return rs ? rs->longForColumnIndex(0) : 0L; },
        std::forward<Args>(args)...);
}
template <class... Args>
bool boolForQuery(WBSDKSQLDatabase& db, const std::string& sql, Args&&... args) {
    return readFirst(
        db, sql, [](WBSDKSQLResultSet* rs) { return rs ? rs->boolForColumnIndex(0) : false; },
        std::forward<Args>(args)...);
}
template <class... Args>
double doubleForQuery(WBSDKSQLDatabase& db, const std::string& sql, Args&&... args) {
    return readFirst(
        db, sql, [](WBSDKSQLResultSet* rs) { return rs ? rs->doubleForColumnIndex(0) : 0.0; },
        std::forward<Args>(args)...);
}
template <class... Args>
std::optional<NSData> dataForQuery(WBSDKSQLDatabase& db, const std::string& sql, Args&&... args) {
    return readFirst(
        db, sql, [](WBSDKSQLResultSet* rs) { return rs ? rs->dataForColumnIndex(0) : std::nullopt; },
        std::forward<Args>(args)...);
}
template <class... Args>
std::optional<NSDate> dateForQuery(WBSDKSQLDatabase& db, const std::string& sql, Args&&... args) {
    return readFirst(
        db, sql, [](WBSDKSQLResultSet* rs) { return rs ? rs->dateForColumnIndex(0) : std::nullopt; },
        std::forward<Args>(args)...);
}
std::optional<Dictionary> stringDictForQuery(WBSDKSQLDatabase& db, const std::string& sql);
std::optional<Dictionary> stringDictForQueryWithArgumentsInArray(WBSDKSQLDatabase& db, const std::string& sql,
                                                                 const Array& arguments);

bool tableExists(WBSDKSQLDatabase& db, const std::string& tableName);
Ref<WBSDKSQLResultSet> getSchema(WBSDKSQLDatabase& db);
// The table name goes between single quotes, each quote inside doubled.
Ref<WBSDKSQLResultSet> getTableSchema(WBSDKSQLDatabase& db, const std::string& tableName);
bool columnExists(WBSDKSQLDatabase& db, const std::string& tableName, const std::string& columnName);
// Prepares and finalizes without running; the error is in the Cocoa domain with SQLite's code.
bool validateSQL(WBSDKSQLDatabase& db, const std::string& sql, Ref<NSError>* error);

}  // namespace WBSDKSQLDatabase_WBSDKSQLDatabaseAdditions

namespace WBSDKSQLResultSet_Helper {
// Lower-cased column name -> string value of the current row, NULL columns left out; nil (with
// a log line) when the row has no data.
std::optional<Dictionary> stringResultDict(WBSDKSQLResultSet& rs);
}  // namespace WBSDKSQLResultSet_Helper
