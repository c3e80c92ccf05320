#pragma once
// A thin object layer over one SQLite connection.
//
// WBSDKSQLDatabase is one connection; WBSDKSQLStatement holds one prepared statement;
// WBSDKSQLResultSet is a forward-only cursor over a query's rows. A database owns its cached
// statements and its custom functions; a result set owns its statement and only points at its
// database, which in turn keeps non-owning references to the result sets still open so that
// closing the database closes them too.
//
// A connection belongs to one caller at a time: the wrapper holds no lock of its own beyond
// SQLite's serialized mode (required when a database is made). The in-use flag turns a nested
// call on the same connection (a query from inside a custom SQL function, say) into a logged
// failure rather than a re-entry into SQLite.
//
// Failures are logged (prepare failures only while logsErrors is on) and answered with nil or
// NO; nothing raises except the caller-error assertions (a nil savepoint name, an update that
// returns rows).

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/NSError.h"
#include "foundation/NSObject.h"
#include "foundation/Value.h"

struct sqlite3;
struct sqlite3_stmt;
struct sqlite3_context;
struct sqlite3_value;

class WBSDKSQLDatabase;

class WBSDKSQLStatement : public NSObject {
  public:
    ~WBSDKSQLStatement() override;
    std::string className() const override { return "WBSDKSQLStatement"; }
    std::string description() const override;

    sqlite3_stmt* statement() const { return statement_; }
    void setStatement(sqlite3_stmt* statement) { statement_ = statement; }
    const std::string& query() const { return query_; }
    void setQuery(std::string query) { query_ = std::move(query); }
    long long useCount() const { return useCount_; }
    void setUseCount(long long count) { useCount_ = count; }

    // Finalizes the handle.
    void close();
    void reset();

  private:
    sqlite3_stmt* statement_ = nullptr;
    std::string query_;
    long long useCount_ = 0;
};

class WBSDKSQLResultSet : public NSObject {
  public:
    ~WBSDKSQLResultSet() override;
    std::string className() const override { return "WBSDKSQLResultSet"; }

    static Ref<WBSDKSQLResultSet> resultSetWithStatement(const Ref<WBSDKSQLStatement>& statement,
                                                         WBSDKSQLDatabase* parentDatabase);

    // Steps to the next row: YES on a row; otherwise the set closes itself and answers NO.
    bool next();
    void close();
    bool hasAnotherRow() const;

    int columnCount() const;
    // -1 (with a log line) for a name that is no column; names compare without case.
    int columnIndexForName(const std::string& columnName);
    std::optional<std::string> columnNameForIndex(int columnIndex) const;

    // Lower-cased column name -> objectForColumnName value (null for NULL).
    std::optional<Dictionary> resultDict();
    // Column names as SQLite gives them -> objectForColumnIndex value.
    std::optional<Dictionary> resultDictionary();
    // Sets, on the object, the value of every non-NULL text column under the column's name.
    void kvcMagic(const std::function<void(const std::string& key, const std::string& value)>& setter);

    int intForColumn(const std::string& name) { return intForColumnIndex(columnIndexForName(name)); }
    int intForColumnIndex(int index) const;
    long longForColumn(const std::string& name) { return longForColumnIndex(columnIndexForName(name)); }
    long longForColumnIndex(int index) const;
    long long longLongIntForColumn(const std::string& name) {
        return longLongIntForColumnIndex(columnIndexForName(name));
    }
    long long longLongIntForColumnIndex(int index) const;
    unsigned long long unsignedLongLongIntForColumn(const std::string& name) {
        return unsignedLongLongIntForColumnIndex(columnIndexForName(name));
    }
    unsigned long long unsignedLongLongIntForColumnIndex(int index) const;
    bool boolForColumn(const std::string& name) { return boolForColumnIndex(columnIndexForName(name)); }
    bool boolForColumnIndex(int index) const;
    double doubleForColumn(const std::string& name) { return doubleForColumnIndex(columnIndexForName(name)); }
    double doubleForColumnIndex(int index) const;
    std::optional<std::string> stringForColumn(const std::string& name) {
        return stringForColumnIndex(columnIndexForName(name));
    }
    std::optional<std::string> stringForColumnIndex(int index) const;
    std::optional<NSDate> dateForColumn(const std::string& name) {
        return dateForColumnIndex(columnIndexForName(name));
    }
    std::optional<NSDate> dateForColumnIndex(int index) const;
    std::optional<NSData> dataForColumn(const std::string& name) {
        return dataForColumnIndex(columnIndexForName(name));
    }
    std::optional<NSData> dataForColumnIndex(int index) const;
    // A view of the blob in place, valid until the next step or close.
    std::optional<std::string_view> dataNoCopyForColumn(const std::string& name) {
        return dataNoCopyForColumnIndex(columnIndexForName(name));
    }
    std::optional<std::string_view> dataNoCopyForColumnIndex(int index) const;
    bool columnIsNull(const std::string& name) { return columnIndexIsNull(columnIndexForName(name)); }
    bool columnIndexIsNull(int index) const;
    const unsigned char* UTF8StringForColumnName(const std::string& name) {
        return UTF8StringForColumnIndex(columnIndexForName(name));
    }
    const unsigned char* UTF8StringForColumnIndex(int index) const;
    Value objectForColumnName(const std::string& name) {
        return objectForColumnIndex(columnIndexForName(name));
    }
    Value objectForColumnIndex(int index) const;

    void setParentDB(WBSDKSQLDatabase* db) { parentDB_ = db; }
    const std::string& query() const { return query_; }
    void setQuery(std::string query) { query_ = std::move(query); }
    const Ref<WBSDKSQLStatement>& statement() const { return statement_; }
    const std::map<std::string, int>& columnNameToIndexMap();

  private:
    WBSDKSQLDatabase* parentDB_ = nullptr;
    Ref<WBSDKSQLStatement> statement_;
    std::string query_;
    std::map<std::string, int> columnNameToIndexMap_;
    bool columnNamesSetup_ = false;
};

class WBSDKSQLDatabase : public NSObject {
  public:
    // A nil path means an in-memory database. Creation stops on a SQLite build that is not
    // thread-safe.
    explicit WBSDKSQLDatabase(std::optional<std::string> path);
    ~WBSDKSQLDatabase() override;
    std::string className() const override { return "WBSDKSQLDatabase"; }
    static Ref<WBSDKSQLDatabase> databaseWithPath(std::optional<std::string> path);

    bool open();
    bool openWithFlags(int flags);
    bool close();
    bool goodConnection();
    const std::optional<std::string>& databasePath() const { return databasePath_; }
    sqlite3* sqliteHandle() const { return db_; }
    static std::string sqliteLibVersion();
    static bool isSQLiteThreadSafe();
    bool rekey(const std::string&) { return false; }
    bool setKey(const std::string&) { return false; }

    // ---- statements ----------------------------------------------------------------------------
    template <class... Args>
    Ref<WBSDKSQLResultSet> executeQuery(std::string_view sql, Args&&... args) {
        const Value values[sizeof...(Args) + 1] = {Value(std::forward<Args>(args))...};
        return executeQueryWithValues(sql, values, sizeof...(Args), nullptr);
    }
    Ref<WBSDKSQLResultSet> executeQueryWithArgumentsInArray(std::string_view sql, const Array& arguments);
    Ref<WBSDKSQLResultSet> executeQueryWithParameterDictionary(std::string_view sql,
                                                               const Dictionary& arguments);

    template <class... Args>
    bool executeUpdate(std::string_view sql, Args&&... args) {
        const Value values[sizeof...(Args) + 1] = {Value(std::forward<Args>(args))...};
        return executeUpdateWithValues(sql, nullptr, values, sizeof...(Args), nullptr);
    }
    bool executeUpdateWithArgumentsInArray(std::string_view sql, const Array& arguments);
    bool executeUpdateWithParameterDictionary(std::string_view sql, const Dictionary& arguments);
    template <class... Args>
    bool update(std::string_view sql, Ref<NSError>* error, Args&&... args) {
        const Value values[sizeof...(Args) + 1] = {Value(std::forward<Args>(args))...};
        return executeUpdateWithValues(sql, error, values, sizeof...(Args), nullptr);
    }

    // One argument of a formatted statement, read by the conversion that meets it: "%@" an
    // object, "%s" a C string, "%d"/"%i"/"%u"/"%c"/"%hi"/"%qi"/"%ld"/"%lld"... an integer, "%f"
    // and "%g" a real.
    struct FormatArgument {
        FormatArgument(const Value& v) : object(v), kind(Object) {}
        FormatArgument(const std::string& s) : object(Value(s)), kind(Object) {}
        FormatArgument(const char* s) : kind(CString) {
            if (s) cString = std::string(s);
        }
        template <class T, class = std::enable_if_t<std::is_integral_v<T>>>
        FormatArgument(T v) : kind(Integer) {
            if constexpr (std::is_signed_v<T>)
                integer = static_cast<long long>(v);
            else
                integer = static_cast<long long>(static_cast<unsigned long long>(v));
        }
        FormatArgument(double v) : real(v), kind(Real) {}
        FormatArgument(float v) : real(v), kind(Real) {}

        Value object;
        std::optional<std::string> cString;
        long long integer = 0;
        double real = 0;
        enum Kind { Object, CString, Integer, Real } kind;
    };
    template <class... Args>
    Ref<WBSDKSQLResultSet> executeQueryWithFormat(const std::string& format, Args&&... args) {
        std::string sql;
        Array arguments = Array::mutableArray();
        extractSQL(format, {FormatArgument(std::forward<Args>(args))...}, sql, arguments);
        return executeQueryWithArgumentsInArray(sql, arguments);
    }
    template <class... Args>
    bool executeUpdateWithFormat(const std::string& format, Args&&... args) {
        std::string sql;
        Array arguments = Array::mutableArray();
        extractSQL(format, {FormatArgument(std::forward<Args>(args))...}, sql, arguments);
        return executeUpdateWithArgumentsInArray(sql, arguments);
    }
    // Turns a format and its arguments into SQL with "?" placeholders and the bound values. A
    // doubled "%%" gives one "%" and nothing more.
    static void extractSQL(const std::string& format, const std::vector<FormatArgument>& arguments,
                           std::string& sql, Array& values);

    long long lastInsertRowId();
    int changes();
    std::string lastErrorMessage() const;
    int lastErrorCode() const;
    bool hadError() const;
    Ref<NSError> lastError() const;
    Ref<NSError> errorWithMessage(const std::string& message) const;

    // ---- transactions and savepoints -----------------------------------------------------------
    bool beginTransaction();
    bool beginDeferredTransaction();
    bool commit();
    bool rollback();
    bool inTransaction() const { return inTransaction_; }
    // Names are written between single quotes, each quote inside doubled.
    bool startSavePointWithName(const std::optional<std::string>& name, Ref<NSError>* error);
    bool releaseSavePointWithName(const std::optional<std::string>& name, Ref<NSError>* error);
    bool rollbackToSavePointWithName(const std::optional<std::string>& name, Ref<NSError>* error);
    Ref<NSError> inSavePoint(const std::function<void(bool* rollback)>& block);

    // ---- cache, result sets, functions ---------------------------------------------------------
    bool shouldCacheStatements() const { return shouldCacheStatements_; }
    void setShouldCacheStatements(bool value);
    void clearCachedStatements();
    Ref<WBSDKSQLStatement> cachedStatementForQuery(std::string_view query) const;
    void setCachedStatement(const Ref<WBSDKSQLStatement>& statement, const std::string& query);
    bool hasOpenResultSets() const { return !openResultSets_.empty(); }
    void closeOpenResultSets();
    void resultSetDidClose(WBSDKSQLResultSet* resultSet);
    using FunctionBlock = std::function<void(sqlite3_context* context, int argc, sqlite3_value** argv)>;
    void makeFunctionNamed(const std::string& name, int maximumArguments, FunctionBlock block);

    bool logsErrors() const { return logsErrors_; }
    void setLogsErrors(bool v) { logsErrors_ = v; }
    bool crashOnErrors() const { return crashOnErrors_; }
    void setCrashOnErrors(bool v) { crashOnErrors_ = v; }
    bool traceExecution() const { return traceExecution_; }
    void setTraceExecution(bool v) { traceExecution_ = v; }
    bool checkedOut() const { return checkedOut_; }
    void setCheckedOut(bool v) { checkedOut_ = v; }
    int busyRetryTimeout() const { return busyRetryTimeout_; }
    void setBusyRetryTimeout(int v) { busyRetryTimeout_ = v; }

    // Binds one argument by the platform's rules (see the .cpp).
    static void bindObject(const Value& object, int column, sqlite3_stmt* statement);

    // The core of every query and update form: exactly one source is used (the dictionary when
    // given, else the array).
    // (Positional arguments come as a plain run of values, so a call with its arguments written
    // out allocates no array.)
    Ref<WBSDKSQLResultSet> executeQueryWithValues(std::string_view sql, const Value* values,
                                                  std::size_t count, const Dictionary* dictArgs);
    bool executeUpdateWithValues(std::string_view sql, Ref<NSError>* error, const Value* values,
                                 std::size_t count, const Dictionary* dictArgs);

  private:
    bool databaseExists();
    bool enterCall();
    void leaveCall() { isExecutingStatement_ = false; }
    void warnInUse();
    bool busyGiveUp(int& retries, const char* function, int line);
    // Prepares sql into *stmt, sleeping and trying again while the database is busy or locked:
    // SQLITE_OK; SQLITE_BUSY once the busy time-out has passed; SQLITE_ERROR when it does not
    // prepare (logged while logsErrors is on). *stmt is finalised on failure.
    int prepareWhileBusy(std::string_view sql, sqlite3_stmt** stmt, int& retries, const char* function,
                         int line);
    bool savePointStatement(const char* format, const std::optional<std::string>& name, Ref<NSError>* error);

    sqlite3* db_ = nullptr;
    std::optional<std::string> databasePath_;
    bool logsErrors_ = false;
    bool crashOnErrors_ = false;
    bool traceExecution_ = false;
    bool checkedOut_ = false;
    bool shouldCacheStatements_ = false;
    bool isExecutingStatement_ = false;
    bool inTransaction_ = false;
    int busyRetryTimeout_ = 0;
    std::map<std::string, Ref<WBSDKSQLStatement>, std::less<>> cachedStatements_;
    std::set<WBSDKSQLResultSet*> openResultSets_;
    std::vector<std::unique_ptr<FunctionBlock>> openFunctions_;
};
