#include "sdk/weibo/storage/WBSDKSQLDatabase.h"

#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "foundation/NSException.h"
#include "foundation/NSLog.h"
#include "foundation/NSString.h"

namespace {

void busySleep() {
    std::this_thread::sleep_for(std::chrono::microseconds(20));
}

std::string lowercased(std::string text) {
    for (auto& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// A name inside single quotes: every quote doubled, so that it cannot end the literal.
std::string quotedName(const std::string& name) {
    std::string out;
    out.reserve(name.size() + 2);
    for (char c : name) {
        out += c;
        if (c == '\'') out += '\'';
    }
    return out;
}

[[noreturn]] void stopProcess() {
    std::abort();
}

}  // namespace

// ---- WBSDKSQLStatement ------------------------------------------------------------------------

WBSDKSQLStatement::~WBSDKSQLStatement() {
    close();
}

std::string WBSDKSQLStatement::description() const {
    return NSString::stringWithFormat("%@ %ld hit(s) for query %@", NSObject::description(), useCount_,
                                      query_);
}

void WBSDKSQLStatement::close() {
    if (statement_) sqlite3_finalize(statement_);
    statement_ = nullptr;
}

void WBSDKSQLStatement::reset() {
    if (statement_) sqlite3_reset(statement_);
}

// ---- WBSDKSQLResultSet ------------------------------------------------------------------------

WBSDKSQLResultSet::~WBSDKSQLResultSet() {
    close();
}

Ref<WBSDKSQLResultSet> WBSDKSQLResultSet::resultSetWithStatement(const Ref<WBSDKSQLStatement>& statement,
                                                                 WBSDKSQLDatabase* parentDatabase) {
    auto set = make<WBSDKSQLResultSet>();
    set->statement_ = statement;
    set->parentDB_ = parentDatabase;
    return set;
}

void WBSDKSQLResultSet::close() {
    if (statement_) {
        statement_->reset();
        statement_.reset();
    }
    if (parentDB_) {
        auto parent = parentDB_;
        parentDB_ = nullptr;
        parent->resultSetDidClose(this);
    }
}

bool WBSDKSQLResultSet::next() {
    if (!statement_ || !statement_->statement()) return false;
    sqlite3_stmt* stmt = statement_->statement();
    int rc = SQLITE_OK;
    bool retry;
    int numberOfRetries = 0;
    do {
        retry = false;
        rc = sqlite3_step(stmt);
        if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) {
            if (rc == SQLITE_LOCKED) {
                rc = sqlite3_reset(stmt);
                if (rc != SQLITE_LOCKED) NSLog("Unexpected result from sqlite3_reset (%d) rs", rc);
            }
            busySleep();
            retry = true;
            int timeout = parentDB_ ? parentDB_->busyRetryTimeout() : 0;
            if (timeout && numberOfRetries++ > timeout) {
                NSLog("%s:%d Database busy (%@)", "next", __LINE__,
                      parentDB_ && parentDB_->databasePath() ? *parentDB_->databasePath()
                                                             : std::string(":memory:"));
                NSLog("Database busy");
                rc = SQLITE_BUSY;
                break;
            }
        } else if (rc == SQLITE_DONE || rc == SQLITE_ROW) {
            // fine
        } else if (rc == SQLITE_ERROR || rc == SQLITE_MISUSE) {
            NSLog("Error calling sqlite3_step (%d: %s) rs", rc,
                  parentDB_ ? parentDB_->lastErrorMessage() : std::string(sqlite3_errstr(rc)));
        } else {
            NSLog("Unknown error calling sqlite3_step (%d: %s) rs", rc,
                  parentDB_ ? parentDB_->lastErrorMessage() : std::string(sqlite3_errstr(rc)));
        }
    } while (retry);
    if (rc != SQLITE_ROW) close();
    return rc == SQLITE_ROW;
}

bool WBSDKSQLResultSet::hasAnotherRow() const {
    return parentDB_ && sqlite3_errcode(parentDB_->sqliteHandle()) == SQLITE_ROW;
}

int WBSDKSQLResultSet::columnCount() const {
    return statement_ && statement_->statement() ? sqlite3_column_count(statement_->statement()) : 0;
}

const std::map<std::string, int>& WBSDKSQLResultSet::columnNameToIndexMap() {
    if (!columnNamesSetup_ && statement_ && statement_->statement()) {
        int count = sqlite3_column_count(statement_->statement());
        for (int i = 0; i < count; ++i) {
            const char* name = sqlite3_column_name(statement_->statement(), i);
            if (name) columnNameToIndexMap_[lowercased(name)] = i;  // a later duplicate wins
        }
        columnNamesSetup_ = true;
    }
    return columnNameToIndexMap_;
}

int WBSDKSQLResultSet::columnIndexForName(const std::string& columnName) {
    const auto& map = columnNameToIndexMap();
    auto it = map.find(lowercased(columnName));
    if (it != map.end()) return it->second;
    NSLog("Warning: I could not find the column named '%@'.", columnName);
    return -1;
}

std::optional<std::string> WBSDKSQLResultSet::columnNameForIndex(int columnIndex) const {
    if (!statement_ || !statement_->statement() || columnIndex < 0) return std::nullopt;
    const char* name = sqlite3_column_name(statement_->statement(), columnIndex);
    if (!name) return std::nullopt;
    return std::string(name);
}

namespace {
sqlite3_stmt* rowStatement(const Ref<WBSDKSQLStatement>& statement, int index) {
    if (!statement || index < 0) return nullptr;
    sqlite3_stmt* stmt = statement->statement();
    if (!stmt || index >= sqlite3_data_count(stmt)) return nullptr;
    return stmt;
}
}  // namespace

int WBSDKSQLResultSet::intForColumnIndex(int index) const {
    auto stmt = rowStatement(statement_, index);
    return stmt ? sqlite3_column_int(stmt, index) : 0;
}

long WBSDKSQLResultSet::longForColumnIndex(int index) const {
    auto stmt = rowStatement(statement_, index);
    return stmt ? static_cast<long>(sqlite3_column_int64(stmt, index)) : 0;
}

long long WBSDKSQLResultSet::longLongIntForColumnIndex(int index) const {
    auto stmt = rowStatement(statement_, index);
    return stmt ? sqlite3_column_int64(stmt, index) : 0;
}

unsigned long long WBSDKSQLResultSet::unsignedLongLongIntForColumnIndex(int index) const {
    return static_cast<unsigned long long>(longLongIntForColumnIndex(index));
}

bool WBSDKSQLResultSet::boolForColumnIndex(int index) const {
    return intForColumnIndex(index) != 0;
}

double WBSDKSQLResultSet::doubleForColumnIndex(int index) const {
    auto stmt = rowStatement(statement_, index);
    return stmt ? sqlite3_column_double(stmt, index) : 0;
}

bool WBSDKSQLResultSet::columnIndexIsNull(int index) const {
    auto stmt = rowStatement(statement_, index);
    return !stmt || sqlite3_column_type(stmt, index) == SQLITE_NULL;
}

std::optional<std::string> WBSDKSQLResultSet::stringForColumnIndex(int index) const {
    auto stmt = rowStatement(statement_, index);
    if (!stmt || sqlite3_column_type(stmt, index) == SQLITE_NULL) return std::nullopt;
    auto text = sqlite3_column_text(stmt, index);
    if (!text) return std::nullopt;
    return std::string(reinterpret_cast<const char*>(text),
                       static_cast<std::size_t>(sqlite3_column_bytes(stmt, index)));
}

std::optional<NSDate> WBSDKSQLResultSet::dateForColumnIndex(int index) const {
    auto stmt = rowStatement(statement_, index);
    if (!stmt || sqlite3_column_type(stmt, index) == SQLITE_NULL) return std::nullopt;
    return NSDate::dateWithTimeIntervalSince1970(sqlite3_column_double(stmt, index));
}

std::optional<NSData> WBSDKSQLResultSet::dataForColumnIndex(int index) const {
    auto view = dataNoCopyForColumnIndex(index);
    if (!view) return std::nullopt;
    return NSData(view->data(), view->size());
}

std::optional<std::string_view> WBSDKSQLResultSet::dataNoCopyForColumnIndex(int index) const {
    auto stmt = rowStatement(statement_, index);
    if (!stmt || sqlite3_column_type(stmt, index) == SQLITE_NULL) return std::nullopt;
    auto bytes = static_cast<const char*>(sqlite3_column_blob(stmt, index));
    auto length = static_cast<std::size_t>(sqlite3_column_bytes(stmt, index));
    return std::string_view(bytes ? bytes : "", length);
}

const unsigned char* WBSDKSQLResultSet::UTF8StringForColumnIndex(int index) const {
    auto stmt = rowStatement(statement_, index);
    if (!stmt || sqlite3_column_type(stmt, index) == SQLITE_NULL) return nullptr;
    return sqlite3_column_text(stmt, index);
}

Value WBSDKSQLResultSet::objectForColumnIndex(int index) const {
    auto stmt = rowStatement(statement_, index);
    if (!stmt) return Value::null();
    switch (sqlite3_column_type(stmt, index)) {
        case SQLITE_INTEGER:
            return Value(NSNumber::numberWithLongLong(sqlite3_column_int64(stmt, index)));
        case SQLITE_FLOAT:
            return Value(sqlite3_column_double(stmt, index));
        case SQLITE_BLOB:
            return Value(*dataForColumnIndex(index));
        case SQLITE_TEXT:
            return Value(*stringForColumnIndex(index));
        default:
            return Value::null();
    }
}

std::optional<Dictionary> WBSDKSQLResultSet::resultDict() {
    int count = statement_ && statement_->statement() ? sqlite3_data_count(statement_->statement()) : 0;
    if (count <= 0) {
        NSLog("Warning: There seem to be no columns in this set.");
        return std::nullopt;
    }
    Dictionary dict = Dictionary::mutableDictionary();
    for (const auto& [name, index] : columnNameToIndexMap())
        dict.setObject(name, objectForColumnIndex(index));
    return dict;
}

std::optional<Dictionary> WBSDKSQLResultSet::resultDictionary() {
    int count = statement_ && statement_->statement() ? sqlite3_data_count(statement_->statement()) : 0;
    if (count <= 0) {
        NSLog("Warning: There seem to be no columns in this set.");
        return std::nullopt;
    }
    Dictionary dict = Dictionary::mutableDictionary();
    int columns = sqlite3_column_count(statement_->statement());
    for (int i = 0; i < columns; ++i) {
        auto name = columnNameForIndex(i);
        if (name) dict.setObject(*name, objectForColumnIndex(i));
    }
    return dict;
}

void WBSDKSQLResultSet::kvcMagic(const std::function<void(const std::string&, const std::string&)>& setter) {
    if (!setter || !statement_ || !statement_->statement()) return;
    int columns = sqlite3_data_count(statement_->statement());
    for (int i = 0; i < columns; ++i) {
        auto text = stringForColumnIndex(i);
        auto name = columnNameForIndex(i);
        if (text && name) setter(*name, *text);
    }
}

// ---- WBSDKSQLDatabase -------------------------------------------------------------------------

WBSDKSQLDatabase::WBSDKSQLDatabase(std::optional<std::string> path) : databasePath_(std::move(path)) {
    // The statistics store reaches one file from several queues.
    if (!sqlite3_threadsafe()) {
        NSLog("On no thread-safe sqlite build");
        std::abort();
    }
}

WBSDKSQLDatabase::~WBSDKSQLDatabase() {
    close();
}

Ref<WBSDKSQLDatabase> WBSDKSQLDatabase::databaseWithPath(std::optional<std::string> path) {
    return make<WBSDKSQLDatabase>(std::move(path));
}

std::string WBSDKSQLDatabase::sqliteLibVersion() {
    return NSString::stringWithFormat("%s", sqlite3_libversion());
}

bool WBSDKSQLDatabase::isSQLiteThreadSafe() {
    return sqlite3_threadsafe() != 0;
}

bool WBSDKSQLDatabase::open() {
    if (db_) return true;
    int err = sqlite3_open(databasePath_ ? databasePath_->c_str() : ":memory:", &db_);
    if (err != SQLITE_OK) {
        NSLog("error opening!: %d", err);
        if (db_) sqlite3_close(db_);
        db_ = nullptr;
        return false;
    }
    return true;
}

bool WBSDKSQLDatabase::openWithFlags(int flags) {
    sqlite3* handle = nullptr;
    int err = sqlite3_open_v2(databasePath_ ? databasePath_->c_str() : ":memory:", &handle, flags, nullptr);
    if (err != SQLITE_OK) {
        NSLog("error opening!: %d", err);
        if (handle) sqlite3_close(handle);
        return false;
    }
    if (db_) close();  // never leak an earlier handle
    db_ = handle;
    return true;
}

bool WBSDKSQLDatabase::close() {
    clearCachedStatements();
    closeOpenResultSets();
    if (!db_) return true;
    int rc;
    bool retry;
    bool triedFinalizingOpenStatements = false;
    int numberOfRetries = 0;
    do {
        retry = false;
        rc = sqlite3_close(db_);
        if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) {
            retry = true;
            busySleep();
            if (busyRetryTimeout_ && numberOfRetries++ > busyRetryTimeout_) {
                NSLog("%s:%d", "close", __LINE__);
                NSLog("Database busy, unable to close");
                return false;
            }
            if (!triedFinalizingOpenStatements) {
                triedFinalizingOpenStatements = true;
                while (sqlite3_stmt* stmt = sqlite3_next_stmt(db_, nullptr)) {
                    NSLog("Closing leaked statement");
                    sqlite3_finalize(stmt);
                }
            }
        } else if (rc != SQLITE_OK) {
            NSLog("error closing!: %d", rc);
        }
    } while (retry);
    db_ = nullptr;
    inTransaction_ = false;
    return true;
}

bool WBSDKSQLDatabase::goodConnection() {
    if (!db_) return false;
    auto rs = executeQuery("select name from sqlite_master where type='table'");
    if (rs) {
        rs->close();
        return true;
    }
    return false;
}

bool WBSDKSQLDatabase::databaseExists() {
    if (!db_) {
        NSLog("The WBSDKSQLDatabase %@ is not open.", NSObject::description());
        if (crashOnErrors_) stopProcess();
        return false;
    }
    return true;
}

void WBSDKSQLDatabase::warnInUse() {
    NSLog("The WBSDKSQLDatabase %@ is currently in use.", NSObject::description());
    if (crashOnErrors_) stopProcess();
}

bool WBSDKSQLDatabase::enterCall() {
    if (isExecutingStatement_) {
        warnInUse();
        return false;
    }
    isExecutingStatement_ = true;
    return true;
}

int WBSDKSQLDatabase::prepareWhileBusy(std::string_view sql, sqlite3_stmt** stmt, int& retries,
                                       const char* function, int line) {
    while (true) {
        int rc = sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), stmt, nullptr);
        if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) {
            busySleep();
            if (busyGiveUp(retries, function, line)) {
                sqlite3_finalize(*stmt);
                return SQLITE_BUSY;
            }
        } else if (rc != SQLITE_OK) {
            if (logsErrors_) {
                NSLog("DB Error: %d \"%@\"", lastErrorCode(), lastErrorMessage());
                NSLog("DB Query: %@", std::string(sql));
                NSLog("DB Path: %@", databasePath_.value_or(":memory:"));
                if (crashOnErrors_) stopProcess();
            }
            sqlite3_finalize(*stmt);
            return SQLITE_ERROR;
        } else {
            return SQLITE_OK;
        }
    }
}

bool WBSDKSQLDatabase::busyGiveUp(int& retries, const char* function, int line) {
    if (busyRetryTimeout_ && retries++ > busyRetryTimeout_) {
        NSLog("%s:%d Database busy (%@)", function, line, databasePath_.value_or(":memory:"));
        NSLog("Database busy");
        return true;
    }
    return false;
}

long long WBSDKSQLDatabase::lastInsertRowId() {
    if (isExecutingStatement_) {
        warnInUse();
        return 0;
    }
    return db_ ? sqlite3_last_insert_rowid(db_) : 0;
}

int WBSDKSQLDatabase::changes() {
    if (isExecutingStatement_) {
        warnInUse();
        return 0;
    }
    return db_ ? sqlite3_changes(db_) : 0;
}

std::string WBSDKSQLDatabase::lastErrorMessage() const {
    return db_ ? std::string(sqlite3_errmsg(db_)) : std::string("not an error");
}

int WBSDKSQLDatabase::lastErrorCode() const {
    return db_ ? sqlite3_errcode(db_) : SQLITE_MISUSE;
}

bool WBSDKSQLDatabase::hadError() const {
    int code = lastErrorCode();
    return code > SQLITE_OK && code < SQLITE_ROW;
}

Ref<NSError> WBSDKSQLDatabase::errorWithMessage(const std::string& message) const {
    return NSError::errorWithDomain("WBSDKSQLDatabase", lastErrorCode(),
                                    Dictionary{{NSLocalizedDescriptionKey, message}});
}

Ref<NSError> WBSDKSQLDatabase::lastError() const {
    return errorWithMessage(lastErrorMessage());
}

void WBSDKSQLDatabase::bindObject(const Value& object, int column, sqlite3_stmt* statement) {
    if (object.isNil() || object.isNull()) {
        sqlite3_bind_null(statement, column);
    } else if (auto data = object.data()) {
        sqlite3_bind_blob(statement, column,
                          data->bytes() ? data->bytes() : reinterpret_cast<const void*>(""),
                          static_cast<int>(data->length()), SQLITE_TRANSIENT);
    } else if (auto date = object.date()) {
        sqlite3_bind_double(statement, column, date->timeIntervalSince1970());
    } else if (auto number = object.number()) {
        // The stored type code decides, as the platform's numbers do: a Boolean made the usual
        // way carries "c" and is therefore bound as its text.
        switch (number->objCType()) {
            case 'B':
                sqlite3_bind_int(statement, column, number->boolValue() ? 1 : 0);
                return;
            case 'i':
            case 'q':
                sqlite3_bind_int64(statement, column, number->longLongValue());
                return;
            case 'Q':
                sqlite3_bind_int64(statement, column,
                                   static_cast<sqlite3_int64>(number->unsignedLongLongValue()));
                return;
            case 'f':
                sqlite3_bind_double(statement, column, static_cast<double>(number->floatValue()));
                return;
            case 'd':
                sqlite3_bind_double(statement, column, number->doubleValue());
                return;
            default: {
                auto text = object.description();
                sqlite3_bind_text(statement, column, text.c_str(), static_cast<int>(text.size()),
                                  SQLITE_TRANSIENT);
                return;
            }
        }
    } else if (auto string = object.string()) {
        sqlite3_bind_text(statement, column, string->data(), static_cast<int>(string->size()),
                          SQLITE_TRANSIENT);
    } else {
        auto text = object.description();
        sqlite3_bind_text(statement, column, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    }
}

void WBSDKSQLDatabase::extractSQL(const std::string& format, const std::vector<FormatArgument>& arguments,
                                  std::string& sql, Array& values) {
    std::size_t next = 0;
    auto take = [&]() -> const FormatArgument* {
        return next < arguments.size() ? &arguments[next++] : nullptr;
    };
    auto integerOf = [](const FormatArgument* a) -> long long {
        if (!a) return 0;
        switch (a->kind) {
            case FormatArgument::Integer:
                return a->integer;
            case FormatArgument::Real:
                return static_cast<long long>(a->real);
            default:
                return a->object.longLongValue();
        }
    };
    auto realOf = [](const FormatArgument* a) -> double {
        if (!a) return 0;
        switch (a->kind) {
            case FormatArgument::Real:
                return a->real;
            case FormatArgument::Integer:
                return static_cast<double>(a->integer);
            default:
                return a->object.doubleValue();
        }
    };
    const std::size_t n = format.size();
    for (std::size_t i = 0; i < n; ++i) {
        char c = format[i];
        if (c != '%') {
            sql += c;
            continue;
        }
        if (i + 1 >= n) break;  // a lone "%" at the end is dropped
        char d = format[++i];
        if (d == '%') {
            sql += '%';
            continue;
        }
        Value value;
        std::size_t consumed = 0;  // further format characters the conversion used
        switch (d) {
            case '@': {
                auto a = take();
                if (a) value = a->kind == FormatArgument::CString ? Value(a->cString) : a->object;
                break;
            }
            case 'c': {
                char ch = static_cast<char>(integerOf(take()));
                value = Value(std::string(1, ch));
                break;
            }
            case 's': {
                auto a = take();
                if (a)
                    value = a->kind == FormatArgument::CString ? Value(a->cString)
                                                               : Value(a->object.optionalString());
                break;
            }
            case 'd':
            case 'D':
            case 'i':
                value = Value(static_cast<int>(integerOf(take())));
                break;
            case 'u':
            case 'U':
                value = Value(static_cast<unsigned>(integerOf(take())));
                break;
            case 'h':
                if (i + 1 < n && (format[i + 1] == 'i' || format[i + 1] == 'u')) {
                    consumed = 1;
                    long long v = integerOf(take());
                    value = format[i + 1] == 'i'
                                ? Value(NSNumber::numberWithShort(static_cast<short>(v)))
                                : Value(NSNumber::numberWithUnsignedShort(static_cast<unsigned short>(v)));
                }
                break;
            case 'q':
                if (i + 1 < n && (format[i + 1] == 'i' || format[i + 1] == 'u')) {
                    consumed = 1;
                    long long v = integerOf(take());
                    value =
                        format[i + 1] == 'i'
                            ? Value(NSNumber::numberWithLongLong(v))
                            : Value(NSNumber::numberWithUnsignedLongLong(static_cast<unsigned long long>(v)));
                }
                break;
            case 'f':
                value = Value(realOf(take()));
                break;
            case 'g':
                value = Value(static_cast<float>(realOf(take())));
                break;
            case 'l':
                if (i + 1 < n && (format[i + 1] == 'd' || format[i + 1] == 'u')) {
                    consumed = 1;
                    long long v = integerOf(take());
                    value = format[i + 1] == 'd'
                                ? Value(NSNumber::numberWithLong(static_cast<long>(v)))
                                : Value(NSNumber::numberWithUnsignedLong(static_cast<unsigned long>(v)));
                } else if (i + 2 < n && format[i + 1] == 'l' &&
                           (format[i + 2] == 'd' || format[i + 2] == 'u')) {
                    consumed = 2;
                    long long v = integerOf(take());
                    value =
                        format[i + 2] == 'd'
                            ? Value(NSNumber::numberWithLongLong(v))
                            : Value(NSNumber::numberWithUnsignedLongLong(static_cast<unsigned long long>(v)));
                }
                break;
            default:
                break;
        }
        if (!value.isNil()) {
            sql += '?';
            values.addObject(value);
            i += consumed;
        } else {
            sql += d;  // no conversion: the character stays, the "%" does not
        }
    }
}

Ref<WBSDKSQLResultSet> WBSDKSQLDatabase::executeQueryWithArgumentsInArray(std::string_view sql,
                                                                          const Array& arguments) {
    return executeQueryWithValues(sql, arguments.items().data(), arguments.count(), nullptr);
}

Ref<WBSDKSQLResultSet> WBSDKSQLDatabase::executeQueryWithParameterDictionary(std::string_view sql,
                                                                             const Dictionary& arguments) {
    return executeQueryWithValues(sql, nullptr, 0, &arguments);
}

bool WBSDKSQLDatabase::executeUpdateWithArgumentsInArray(std::string_view sql, const Array& arguments) {
    return executeUpdateWithValues(sql, nullptr, arguments.items().data(), arguments.count(), nullptr);
}

bool WBSDKSQLDatabase::executeUpdateWithParameterDictionary(std::string_view sql,
                                                            const Dictionary& arguments) {
    return executeUpdateWithValues(sql, nullptr, nullptr, 0, &arguments);
}

namespace {

// Binds the arguments; false (logged with `what`) when their count does not fit the statement.
bool bindArguments(sqlite3_stmt* stmt, const Value* values, std::size_t available, const Dictionary* dictArgs,
                   bool trace) {
    int queryCount = sqlite3_bind_parameter_count(stmt);
    int idx = 0;
    if (dictArgs) {
        for (const auto& [key, value] : *dictArgs) {
            std::string parameterName = ":" + key;
            int index = sqlite3_bind_parameter_index(stmt, parameterName.c_str());
            if (index > 0) {
                WBSDKSQLDatabase::bindObject(value, index, stmt);
                ++idx;
            } else {
                NSLog("Could not find index for %@", key);
            }
        }
        // Every key must name a parameter, and every parameter must get one.
        return static_cast<int>(dictArgs->count()) == queryCount && idx == queryCount;
    }
    while (idx < queryCount) {
        if (static_cast<std::size_t>(idx) >= available) break;
        const Value& obj = values[idx];
        if (trace) NSLog("obj: %@", obj);
        ++idx;
        WBSDKSQLDatabase::bindObject(obj, idx, stmt);
    }
    return idx == queryCount;
}

}  // namespace

Ref<WBSDKSQLResultSet> WBSDKSQLDatabase::executeQueryWithValues(std::string_view sql, const Value* values,
                                                                std::size_t count,
                                                                const Dictionary* dictArgs) {
    if (!databaseExists()) return nullptr;
    if (!enterCall()) return nullptr;
    if (traceExecution_) NSLog("%@ executeQuery: %@", NSObject::description(), std::string(sql));

    Ref<WBSDKSQLStatement> statement;
    sqlite3_stmt* stmt = nullptr;
    if (shouldCacheStatements_) {
        statement = cachedStatementForQuery(sql);
        stmt = statement ? statement->statement() : nullptr;
        if (!stmt)
            statement.reset();
        else
            statement->reset();
    }
    if (!stmt) {
        int numberOfRetries = 0;
        if (prepareWhileBusy(sql, &stmt, numberOfRetries, "executeQuery", __LINE__) != SQLITE_OK) {
            leaveCall();
            return nullptr;
        }
    }

    if (!bindArguments(stmt, values, count, dictArgs, traceExecution_)) {
        NSLog("Error: the bind count is not correct for the # of variables (executeQuery)");
        if (statement) {
            statement->reset();
        } else {
            sqlite3_finalize(stmt);
        }
        leaveCall();
        return nullptr;
    }

    if (!statement) {
        statement = make<WBSDKSQLStatement>();
        statement->setStatement(stmt);
        if (shouldCacheStatements_) setCachedStatement(statement, std::string(sql));
    }
    auto rs = WBSDKSQLResultSet::resultSetWithStatement(statement, this);
    rs->setQuery(std::string(sql));
    openResultSets_.insert(rs.get());
    statement->setUseCount(statement->useCount() + 1);
    leaveCall();
    return rs;
}

bool WBSDKSQLDatabase::executeUpdateWithValues(std::string_view sql, Ref<NSError>* error, const Value* values,
                                               std::size_t count, const Dictionary* dictArgs) {
    if (!databaseExists()) return false;
    if (!enterCall()) return false;
    if (traceExecution_) NSLog("%@ executeUpdate: %@", NSObject::description(), std::string(sql));

    Ref<WBSDKSQLStatement> cached;
    sqlite3_stmt* stmt = nullptr;
    if (shouldCacheStatements_) {
        cached = cachedStatementForQuery(sql);
        stmt = cached ? cached->statement() : nullptr;
        if (!stmt) cached.reset();  // every use of a cached update ends with a reset
    }
    int numberOfRetries = 0;
    if (!stmt) {
        const int rc = prepareWhileBusy(sql, &stmt, numberOfRetries, "executeUpdate", __LINE__);
        if (rc != SQLITE_OK) {
            if (rc != SQLITE_BUSY) setError(error, lastError());
            leaveCall();
            return false;
        }
    }

    if (!bindArguments(stmt, values, count, dictArgs, traceExecution_)) {
        NSLog("Error: the bind count is not correct for the # of variables (%@) (executeUpdate)",
              std::string(sql));
        if (cached) {
            cached->reset();
        } else {
            sqlite3_finalize(stmt);
        }
        leaveCall();
        return false;
    }

    int rc;
    bool retry;
    numberOfRetries = 0;
    bool gaveUp = false;
    do {
        retry = false;
        rc = sqlite3_step(stmt);
        if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) {
            retry = true;
            if (rc == SQLITE_LOCKED) {
                rc = sqlite3_reset(stmt);
                if (rc != SQLITE_LOCKED) NSLog("Unexpected result from sqlite3_reset (%d) eu", rc);
            }
            busySleep();
            if (busyGiveUp(numberOfRetries, "executeUpdate", __LINE__)) {
                // Giving up on a busy database is a failure, whatever the last reset answered.
                gaveUp = true;
                retry = false;
            }
        } else if (rc == SQLITE_DONE) {
            // fine
        } else if (rc == SQLITE_ROW) {
            NS_ASSERT_OR(false, (void)0,
                         NSString::stringWithFormat(
                             "A executeUpdate is being called with a query string '%@'", std::string(sql)));
        } else {
            if (rc == SQLITE_ERROR) {
                NSLog("Error calling sqlite3_step (%d: %s) SQLITE_ERROR", rc, lastErrorMessage());
            } else if (rc == SQLITE_MISUSE) {
                NSLog("Error calling sqlite3_step (%d: %s) SQLITE_MISUSE", rc, lastErrorMessage());
            } else {
                NSLog("Unknown error calling sqlite3_step (%d: %s) eu", rc, lastErrorMessage());
            }
            NSLog("DB Query: %@", std::string(sql));
            setError(error, lastError());
        }
    } while (retry);

    if (shouldCacheStatements_ && !cached) {
        cached = make<WBSDKSQLStatement>();
        cached->setStatement(stmt);
        setCachedStatement(cached, std::string(sql));
    }
    int closeError;
    if (cached) {
        cached->setUseCount(cached->useCount() + 1);
        closeError = sqlite3_reset(stmt);
    } else {
        closeError = sqlite3_finalize(stmt);
    }
    if (closeError != SQLITE_OK && rc == SQLITE_DONE) {
        NSLog("Unknown error finalizing or resetting statement (%d: %s)", closeError, lastErrorMessage());
        NSLog("DB Query: %@", std::string(sql));
    }
    leaveCall();
    return !gaveUp && rc == SQLITE_DONE;
}

bool WBSDKSQLDatabase::beginTransaction() {
    bool ok = executeUpdate("begin exclusive transaction");
    if (ok) inTransaction_ = true;
    return ok;
}

bool WBSDKSQLDatabase::beginDeferredTransaction() {
    bool ok = executeUpdate("begin deferred transaction");
    if (ok) inTransaction_ = true;
    return ok;
}

bool WBSDKSQLDatabase::commit() {
    bool ok = executeUpdate("commit transaction");
    if (ok) inTransaction_ = false;
    return ok;
}

bool WBSDKSQLDatabase::rollback() {
    bool ok = executeUpdate("rollback transaction");
    if (ok) inTransaction_ = false;
    return ok;
}

bool WBSDKSQLDatabase::savePointStatement(const char* format, const std::optional<std::string>& name,
                                          Ref<NSError>* error) {
    NS_ASSERT_OR(name.has_value(), return false,
                 NSString::stringWithFormat("Invalid parameter not satisfying: %@", std::string("name")));
    std::string sql = NSString::stringWithFormat(format, quotedName(*name));
    bool ok = executeUpdate(sql);
    if (!ok && error) *error = lastError();
    return ok;
}

bool WBSDKSQLDatabase::startSavePointWithName(const std::optional<std::string>& name, Ref<NSError>* error) {
    return savePointStatement("savepoint '%@';", name, error);
}

bool WBSDKSQLDatabase::releaseSavePointWithName(const std::optional<std::string>& name, Ref<NSError>* error) {
    return savePointStatement("release savepoint '%@';", name, error);
}

bool WBSDKSQLDatabase::rollbackToSavePointWithName(const std::optional<std::string>& name,
                                                   Ref<NSError>* error) {
    return savePointStatement("rollback transaction to savepoint '%@';", name, error);
}

Ref<NSError> WBSDKSQLDatabase::inSavePoint(const std::function<void(bool* rollback)>& block) {
    static std::atomic<long> savePointIdx{0};
    std::string name = NSString::stringWithFormat("dbSavePoint%ld", savePointIdx.fetch_add(1));
    Ref<NSError> err;
    if (!startSavePointWithName(name, &err)) return err;
    bool shouldRollback = false;
    if (block) block(&shouldRollback);
    if (shouldRollback) {
        rollbackToSavePointWithName(name, &err);
    } else {
        releaseSavePointWithName(name, &err);
    }
    return err;
}

void WBSDKSQLDatabase::setShouldCacheStatements(bool value) {
    shouldCacheStatements_ = value;
    if (!value) clearCachedStatements();
}

void WBSDKSQLDatabase::clearCachedStatements() {
    for (auto& [query, statement] : cachedStatements_) statement->close();
    cachedStatements_.clear();
}

Ref<WBSDKSQLStatement> WBSDKSQLDatabase::cachedStatementForQuery(std::string_view query) const {
    auto it = cachedStatements_.find(query);
    return it == cachedStatements_.end() ? nullptr : it->second;
}

void WBSDKSQLDatabase::setCachedStatement(const Ref<WBSDKSQLStatement>& statement, const std::string& query) {
    if (!statement) return;
    statement->setQuery(query);
    auto& slot = cachedStatements_[query];
    if (slot && slot != statement) slot->close();
    slot = statement;
}

void WBSDKSQLDatabase::closeOpenResultSets() {
    auto sets = openResultSets_;
    openResultSets_.clear();
    for (auto* rs : sets) {
        rs->setParentDB(nullptr);
        rs->close();
    }
}

void WBSDKSQLDatabase::resultSetDidClose(WBSDKSQLResultSet* resultSet) {
    openResultSets_.erase(resultSet);
}

namespace {
void callFunctionBlock(sqlite3_context* context, int argc, sqlite3_value** argv) {
    auto block = static_cast<WBSDKSQLDatabase::FunctionBlock*>(sqlite3_user_data(context));
    if (block && *block) (*block)(context, argc, argv);
}
}  // namespace

void WBSDKSQLDatabase::makeFunctionNamed(const std::string& name, int maximumArguments, FunctionBlock block) {
    auto copy = std::make_unique<FunctionBlock>(std::move(block));
    if (db_) {
        sqlite3_create_function(db_, name.c_str(), maximumArguments, SQLITE_UTF8, copy.get(),
                                &callFunctionBlock, nullptr, nullptr);
    }
    openFunctions_.push_back(std::move(copy));
}
