// The SQLite wrapper: opening and closing, binding by the platform's rules, cursors and their
// accessors, formatted statements, transactions and savepoints, busy databases.

#include <gtest/gtest.h>

#include <sqlite3.h>

#include "sdk/weibo/storage/WBSDKSQLDatabase+WBSDKSQLDatabaseAdditions.h"
#include "sdk/weibo/storage/WBSDKSQLDatabase.h"
#include "tests/sdk/weibo/storage/StorageTestSupport.h"
#include "tests/support/TestSupport.h"

using namespace WBSDKSQLDatabase_WBSDKSQLDatabaseAdditions;
using weibostoragetest::LogCapture;

namespace {

class WBSDKSQLDatabaseTest : public ::testing::Test {
  protected:
    void SetUp() override {
        db = WBSDKSQLDatabase::databaseWithPath(dir.file("test.db"));
        ASSERT_TRUE(db->open());
        ASSERT_TRUE(db->executeUpdate("create table t (a integer, b text, c real, d blob)"));
    }
    testsupport::TemporaryDirectory dir;
    Ref<WBSDKSQLDatabase> db;
};

TEST_F(WBSDKSQLDatabaseTest, OpenAndCloseAreIdempotent) {
    EXPECT_TRUE(db->open());
    auto handle = db->sqliteHandle();
    EXPECT_TRUE(db->open());
    EXPECT_EQ(db->sqliteHandle(), handle);  // not reopened
    EXPECT_TRUE(db->goodConnection());
    EXPECT_TRUE(db->close());
    EXPECT_EQ(db->sqliteHandle(), nullptr);
    EXPECT_TRUE(db->close());
    EXPECT_FALSE(db->goodConnection());
    EXPECT_TRUE(WBSDKSQLDatabase::isSQLiteThreadSafe());
    EXPECT_EQ(WBSDKSQLDatabase::sqliteLibVersion(), std::string(sqlite3_libversion()));
    EXPECT_FALSE(db->setKey("k"));
    EXPECT_FALSE(db->rekey("k"));
}

TEST_F(WBSDKSQLDatabaseTest, AClosedDatabaseRefusesStatementsWithALogLine) {
    LogCapture log;
    db->close();
    EXPECT_FALSE(db->executeUpdate("insert into t (a) values (1)"));
    EXPECT_FALSE(db->executeQuery("select * from t"));
    EXPECT_EQ(log.count("is not open."), 2);
}

TEST_F(WBSDKSQLDatabaseTest, AnUnopenablePathFailsToOpen) {
    LogCapture log;
    auto bad = WBSDKSQLDatabase::databaseWithPath(dir.file("missing/dir/x.db"));
    EXPECT_FALSE(bad->open());
    EXPECT_TRUE(log.contains("error opening!: "));
    auto memory = WBSDKSQLDatabase::databaseWithPath(std::nullopt);
    EXPECT_TRUE(memory->open());
    EXPECT_TRUE(memory->executeUpdate("create table x (y)"));
    EXPECT_FALSE(memory->databasePath());
}

TEST_F(WBSDKSQLDatabaseTest, ValuesBindByTheirStoredType) {
    ASSERT_TRUE(db->executeUpdate("create table kinds (v)"));
    struct Case {
        Value value;
        const char* type;
        const char* text;
    };
    std::vector<Case> cases = {
        {Value(NSNumber::numberWithInt(-7)), "integer", "-7"},
        {Value(NSNumber::numberWithLongLong(1LL << 40)), "integer", "1099511627776"},
        {Value(NSNumber::numberWithUnsignedLongLong(5)), "integer", "5"},
        {Value(NSNumber::numberWithFloat(1.5f)), "real", "1.5"},
        {Value(NSNumber::numberWithDouble(0.25)), "real", "0.25"},
        // A Boolean carries the char type code, so it goes in as its text.
        {Value(true), "text", "1"},
        {Value(NSNumber::numberWithShort(3)), "text", "3"},
        {Value("word"), "text", "word"},
        {Value(NSDate::dateWithTimeIntervalSince1970(12.5)), "real", "12.5"},
        {Value(NSData::fromString("ab")), "blob", "ab"},
        {Value(), "null", ""},
        {Value::null(), "null", ""},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(db->executeUpdate("delete from kinds"));
        ASSERT_TRUE(db->executeUpdateWithArgumentsInArray("insert into kinds values (?)", Array{c.value}))
            << c.value.description();
        EXPECT_EQ(stringForQuery(*db, "select typeof(v) from kinds"), std::string(c.type))
            << c.value.description();
        if (std::string(c.type) != "null") {
            EXPECT_EQ(stringForQuery(*db, "select cast(v as text) from kinds"), std::string(c.text));
        }
    }
}

TEST_F(WBSDKSQLDatabaseTest, ResultSetAccessorsReadEveryKind) {
    ASSERT_TRUE(
        db->executeUpdate("insert into t values (?, ?, ?, ?)", 42, "héllo", 2.5, NSData::fromString("xyz")));
    ASSERT_TRUE(db->executeUpdate("insert into t values (null, null, null, null)"));
    auto rs = db->executeQuery("select a, b as B, c, d from t order by rowid");
    ASSERT_TRUE(rs);
    ASSERT_TRUE(rs->next());
    EXPECT_TRUE(rs->hasAnotherRow());
    EXPECT_EQ(rs->columnCount(), 4);
    EXPECT_EQ(rs->intForColumn("A"), 42);
    EXPECT_EQ(rs->longLongIntForColumnIndex(0), 42);
    EXPECT_TRUE(rs->boolForColumn("a"));
    EXPECT_EQ(rs->stringForColumn("b"), "héllo");
    EXPECT_DOUBLE_EQ(rs->doubleForColumn("c"), 2.5);
    EXPECT_EQ(rs->dataForColumn("d")->toString(), "xyz");
    EXPECT_EQ(*rs->dataNoCopyForColumnIndex(3), "xyz");
    EXPECT_EQ(rs->dateForColumn("c")->timeIntervalSince1970(), 2.5);
    EXPECT_EQ(rs->columnNameForIndex(1), "B");
    EXPECT_EQ(rs->objectForColumnIndex(0), Value(42));
    EXPECT_EQ(rs->objectForColumnIndex(1), Value("héllo"));
    auto dict = rs->resultDict();
    ASSERT_TRUE(dict);
    EXPECT_EQ((*dict)["b"], Value("héllo"));
    auto plain = rs->resultDictionary();
    EXPECT_EQ((*plain)["B"], Value("héllo"));
    std::map<std::string, std::string> set;
    rs->kvcMagic([&](const std::string& k, const std::string& v) { set[k] = v; });
    EXPECT_EQ(set["B"], "héllo");
    EXPECT_EQ(set["a"], "42");

    ASSERT_TRUE(rs->next());
    EXPECT_TRUE(rs->columnIsNull("a"));
    EXPECT_FALSE(rs->stringForColumn("b"));
    EXPECT_FALSE(rs->dataForColumn("d"));
    EXPECT_FALSE(rs->dateForColumn("c"));
    EXPECT_EQ(rs->UTF8StringForColumnIndex(1), nullptr);
    EXPECT_TRUE(rs->objectForColumnName("a").isNull());
    auto strings = WBSDKSQLResultSet_Helper::stringResultDict(*rs);
    ASSERT_TRUE(strings);
    EXPECT_EQ(strings->count(), 0u);  // NULL columns left out
    EXPECT_FALSE(rs->next());
    EXPECT_FALSE(db->hasOpenResultSets());
}

TEST_F(WBSDKSQLDatabaseTest, AnUnknownColumnNameGivesMinusOneAndZeroes) {
    LogCapture log;
    ASSERT_TRUE(db->executeUpdate("insert into t (a) values (1)"));
    auto rs = db->executeQuery("select a from t");
    ASSERT_TRUE(rs->next());
    EXPECT_EQ(rs->columnIndexForName("nope"), -1);
    EXPECT_TRUE(log.contains("Warning: I could not find the column named 'nope'."));
    EXPECT_EQ(rs->intForColumn("nope"), 0);
    EXPECT_FALSE(rs->stringForColumn("nope"));
    EXPECT_FALSE(rs->dataForColumnIndex(-1));
    rs->close();
}

TEST_F(WBSDKSQLDatabaseTest, OneValueQueriesAnswerZeroWithoutRows) {
    EXPECT_EQ(intForQuery(*db, "select a from t"), 0);
    EXPECT_FALSE(stringForQuery(*db, "select b from t"));
    EXPECT_FALSE(dateForQuery(*db, "select c from t"));
    EXPECT_FALSE(stringDictForQuery(*db, "select * from t"));
    ASSERT_TRUE(db->executeUpdate("insert into t values (7, 'x', 1.25, null)"));
    EXPECT_EQ(intForQuery(*db, "select a from t where b = ?", "x"), 7);
    EXPECT_EQ(longForQuery(*db, "select a from t"), 7);
    EXPECT_TRUE(boolForQuery(*db, "select a from t"));
    EXPECT_DOUBLE_EQ(doubleForQuery(*db, "select c from t"), 1.25);
    EXPECT_FALSE(dataForQuery(*db, "select d from t"));
    EXPECT_EQ((*stringDictForQuery(*db, "select a, b from t"))["b"], Value("x"));
    EXPECT_FALSE(db->hasOpenResultSets());
}

TEST_F(WBSDKSQLDatabaseTest, SchemaQueries) {
    EXPECT_TRUE(tableExists(*db, "T"));
    EXPECT_FALSE(tableExists(*db, "u"));
    EXPECT_TRUE(columnExists(*db, "t", "B"));
    EXPECT_FALSE(columnExists(*db, "t", "z"));
    auto schema = getSchema(*db);
    ASSERT_TRUE(schema && schema->next());
    EXPECT_EQ(schema->stringForColumn("name"), "t");
    schema->close();
    // A quote in a table name cannot end the literal.
    auto info = getTableSchema(*db, "t'); drop table t; --");
    ASSERT_TRUE(info);
    EXPECT_FALSE(info->next());
    EXPECT_TRUE(tableExists(*db, "t"));
    Ref<NSError> error;
    EXPECT_TRUE(validateSQL(*db, "select * from t", &error));
    EXPECT_FALSE(validateSQL(*db, "selec nonsense", &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), NSCocoaErrorDomain);
    EXPECT_EQ(error->code(), SQLITE_ERROR);
}

TEST_F(WBSDKSQLDatabaseTest, BindCountMismatchesFail) {
    LogCapture log;
    EXPECT_FALSE(db->executeUpdate("insert into t (a, b) values (?, ?)", 1));
    EXPECT_TRUE(
        log.contains("Error: the bind count is not correct for the # of variables (insert into t (a, b) "
                     "values (?, ?)) (executeUpdate)"));
    EXPECT_FALSE(db->executeQuery("select * from t where a = ?"));
    EXPECT_TRUE(log.contains("Error: the bind count is not correct for the # of variables (executeQuery)"));
    EXPECT_EQ(intForQuery(*db, "select count(*) from t"), 0);
    // Extra arguments are ignored, as the statement asks for fewer.
    EXPECT_TRUE(db->executeUpdate("insert into t (a) values (?)", 1, 2));
}

TEST_F(WBSDKSQLDatabaseTest, DictionaryArgumentsBindByName) {
    LogCapture log;
    EXPECT_TRUE(db->executeUpdateWithParameterDictionary("insert into t (a, b) values (:a, :b)",
                                                         Dictionary{{"a", 3}, {"b", "three"}}));
    EXPECT_EQ(stringForQuery(*db, "select b from t where a = 3"), "three");
    EXPECT_FALSE(db->executeQueryWithParameterDictionary("select * from t where a = :a",
                                                         Dictionary{{"a", 3}, {"zz", 1}}));
    EXPECT_TRUE(log.contains("Could not find index for zz"));
    EXPECT_FALSE(db->executeQueryWithParameterDictionary("select * from t where a = :a and b = :b",
                                                         Dictionary{{"a", 3}, {"zz", 1}}));
}

TEST_F(WBSDKSQLDatabaseTest, FormatConversionsBecomePlaceholders) {
    ASSERT_TRUE(
        db->executeUpdateWithFormat("insert into t (a, b, c) values (%d, %@, %f)", 5, Value("five"), 5.5));
    EXPECT_EQ(stringForQuery(*db, "select b from t where a = 5"), "five");
    ASSERT_TRUE(db->executeUpdateWithFormat("insert into t (a, b) values (%lld, %s)", 1LL << 40, "cstr"));
    EXPECT_EQ(stringForQuery(*db, "select b from t where a = ?", NSNumber::numberWithLongLong(1LL << 40)),
              "cstr");
    ASSERT_TRUE(db->executeUpdateWithFormat("insert into t (a, b) values (%qu, %c)", 9u, 'z'));
    EXPECT_EQ(stringForQuery(*db, "select b from t where a = 9"), "z");
    auto rs = db->executeQueryWithFormat("select count(*) from t where a > %ld", 0L);
    ASSERT_TRUE(rs && rs->next());
    EXPECT_EQ(rs->intForColumnIndex(0), 3);
    rs->close();
}

TEST_F(WBSDKSQLDatabaseTest, ADoubledPercentIsOnePercentAndNothingMore) {
    std::string sql;
    Array values = Array::mutableArray();
    WBSDKSQLDatabase::extractSQL("select * from t where b like 'a%%d' and a = %d", {7}, sql, values);
    EXPECT_EQ(sql, "select * from t where b like 'a%d' and a = ?");
    ASSERT_EQ(values.count(), 1u);
    EXPECT_EQ(values[0], Value(7));

    ASSERT_TRUE(db->executeUpdate("insert into t (a, b) values (1, 'a%d')"));
    ASSERT_TRUE(db->executeUpdate("insert into t (a, b) values (2, 'abd')"));
    auto rs = db->executeQueryWithFormat("select a from t where b = 'a%%d' and a > %d", 0);
    ASSERT_TRUE(rs && rs->next());
    EXPECT_EQ(rs->intForColumnIndex(0), 1);
    EXPECT_FALSE(rs->next());
}

TEST_F(WBSDKSQLDatabaseTest, AConversionWithoutAValueKeepsItsCharacter) {
    std::string sql;
    Array values = Array::mutableArray();
    WBSDKSQLDatabase::extractSQL("x %@ y %z %", {Value()}, sql, values);
    EXPECT_EQ(sql, "x @ y z ");
    EXPECT_EQ(values.count(), 0u);
}

TEST_F(WBSDKSQLDatabaseTest, TransactionsCommitAndRollBack) {
    EXPECT_FALSE(db->inTransaction());
    ASSERT_TRUE(db->beginTransaction());
    EXPECT_TRUE(db->inTransaction());
    ASSERT_TRUE(db->executeUpdate("insert into t (a) values (1)"));
    ASSERT_TRUE(db->rollback());
    EXPECT_FALSE(db->inTransaction());
    EXPECT_EQ(intForQuery(*db, "select count(*) from t"), 0);
    ASSERT_TRUE(db->beginDeferredTransaction());
    ASSERT_TRUE(db->executeUpdate("insert into t (a) values (1)"));
    EXPECT_EQ(db->lastInsertRowId(), 1);
    EXPECT_EQ(db->changes(), 1);
    ASSERT_TRUE(db->commit());
    EXPECT_EQ(intForQuery(*db, "select count(*) from t"), 1);
    EXPECT_FALSE(db->commit());  // nothing to commit
    EXPECT_TRUE(db->hadError());
    EXPECT_EQ(db->lastError()->domain(), "WBSDKSQLDatabase");
}

TEST_F(WBSDKSQLDatabaseTest, SavePointsRollBackOnRequestAndQuoteTheirNames) {
    auto error = db->inSavePoint([&](bool* rollback) {
        db->executeUpdate("insert into t (a) values (1)");
        *rollback = true;
    });
    EXPECT_FALSE(error);
    EXPECT_EQ(intForQuery(*db, "select count(*) from t"), 0);
    error = db->inSavePoint([&](bool*) { db->executeUpdate("insert into t (a) values (2)"); });
    EXPECT_FALSE(error);
    EXPECT_EQ(intForQuery(*db, "select count(*) from t"), 1);

    Ref<NSError> err;
    EXPECT_TRUE(db->startSavePointWithName(std::string("it's"), &err));
    EXPECT_TRUE(db->releaseSavePointWithName(std::string("it's"), &err));
    EXPECT_FALSE(db->releaseSavePointWithName(std::string("never"), &err));
    ASSERT_TRUE(err);
    EXPECT_EQ(err->domain(), "WBSDKSQLDatabase");
}

TEST_F(WBSDKSQLDatabaseTest, CachedStatementsAreReusedAndCounted) {
    db->setShouldCacheStatements(true);
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(db->executeUpdate("insert into t (a) values (?)", i));
    auto cached = db->cachedStatementForQuery("insert into t (a) values (?)");
    ASSERT_TRUE(cached);
    EXPECT_EQ(cached->useCount(), 3);
    EXPECT_NE(cached->description().find("3 hit(s) for query insert into t"), std::string::npos);
    for (int i = 0; i < 2; ++i) {
        auto rs = db->executeQuery("select count(*) from t");
        ASSERT_TRUE(rs && rs->next());
        EXPECT_EQ(rs->intForColumnIndex(0), 3);
        rs->close();
    }
    EXPECT_EQ(db->cachedStatementForQuery("select count(*) from t")->useCount(), 2);
    db->setShouldCacheStatements(false);
    EXPECT_FALSE(db->cachedStatementForQuery("select count(*) from t"));
}

TEST_F(WBSDKSQLDatabaseTest, AnUpdateThatReturnsRowsIsACallerError) {
#ifdef NDEBUG
    LogCapture log;
    EXPECT_FALSE(db->executeUpdate("select 1"));
    EXPECT_TRUE(log.contains("A executeUpdate is being called with a query string 'select 1'"));
#else
    EXPECT_DEATH_IF_SUPPORTED(db->executeUpdate("select 1"), "");
#endif
}

TEST_F(WBSDKSQLDatabaseTest, ANestedCallFromAFunctionIsRefusedAsInUse) {
    LogCapture log;
    bool nestedAnswered = true;
    db->makeFunctionNamed("nested", 0, [&](sqlite3_context* context, int, sqlite3_value**) {
        nestedAnswered = db->executeUpdate("insert into t (a) values (1)");
        sqlite3_result_int(context, 5);
    });
    db->makeFunctionNamed("twice", 1, [](sqlite3_context* context, int argc, sqlite3_value** argv) {
        sqlite3_result_int(context, 2 * sqlite3_value_int(argv[0]));
    });
    EXPECT_EQ(intForQuery(*db, "select twice(21)"), 42);
    // The function runs while the query steps, which is outside the in-use window of the call
    // that prepared it; an update from inside a running update is inside it.
    EXPECT_TRUE(db->executeUpdate("insert into t (a) values (nested())"));
    EXPECT_FALSE(nestedAnswered);
    EXPECT_TRUE(log.contains("is currently in use."));
    EXPECT_EQ(intForQuery(*db, "select count(*) from t"), 1);
}

TEST_F(WBSDKSQLDatabaseTest, ClosingTheDatabaseClosesItsResultSets) {
    ASSERT_TRUE(db->executeUpdate("insert into t (a) values (1)"));
    auto rs = db->executeQuery("select a from t");
    ASSERT_TRUE(rs);
    EXPECT_TRUE(db->hasOpenResultSets());
    EXPECT_TRUE(db->close());
    EXPECT_FALSE(rs->next());
    EXPECT_FALSE(rs->statement());
}

// ---- a busy database --------------------------------------------------------------------------

class WBSDKSQLDatabaseBusyTest : public WBSDKSQLDatabaseTest {
  protected:
    void SetUp() override {
        WBSDKSQLDatabaseTest::SetUp();
        holder = WBSDKSQLDatabase::databaseWithPath(dir.file("test.db"));
        ASSERT_TRUE(holder->open());
        ASSERT_TRUE(holder->beginTransaction());  // exclusive: the other connection is locked out
    }
    void TearDown() override { holder->rollback(); }
    Ref<WBSDKSQLDatabase> holder;
};

TEST_F(WBSDKSQLDatabaseBusyTest, AnUpdateOnABusyDatabaseReportsFailure) {
    LogCapture log;
    db->setBusyRetryTimeout(3);
    EXPECT_FALSE(db->executeUpdate("insert into t (a) values (1)"));
    EXPECT_TRUE(log.contains("Database busy ("));
    EXPECT_EQ(log.count("Database busy"), 2);
    holder->rollback();
    EXPECT_EQ(intForQuery(*db, "select count(*) from t"), 0);
}

TEST_F(WBSDKSQLDatabaseBusyTest, AQueryOnABusyDatabaseGivesUpAndCloses) {
    LogCapture log;
    db->setBusyRetryTimeout(2);
    auto rs = db->executeQuery("select * from t");
    if (rs) {
        EXPECT_FALSE(rs->next());
        EXPECT_TRUE(log.contains("Database busy"));
    }
    EXPECT_FALSE(db->hasOpenResultSets());
}

TEST_F(WBSDKSQLDatabaseBusyTest, ARetryWithoutLimitSucceedsOnceTheLockGoes) {
    db->setBusyRetryTimeout(0);
    std::thread releaser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        holder->rollback();
    });
    EXPECT_TRUE(db->executeUpdate("insert into t (a) values (1)"));
    releaser.join();
    EXPECT_EQ(intForQuery(*db, "select count(*) from t"), 1);
}

}  // namespace
