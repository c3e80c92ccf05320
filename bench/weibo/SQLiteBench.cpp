// 100,000 rows inserted, then selected, through the Weibo SDK's SQLite wrapper and through the
// plain SQLite C interface with the same statements, side by side in one run. The wrapper keeps
// its prepared statement (statement caching on), as the plain loop does. Target: the wrapper
// reaches at least 0.8 of the plain rate for each, i.e. a time ratio of at most 1.25.

#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "bench/support/RatioReporter.h"
#include "sdk/weibo/storage/WBSDKSQLDatabase.h"

namespace {

constexpr int kRows = 100000;
const char* const kCreate = "create table if not exists rows (id integer, name text, score real)";
const char* const kInsert = "insert into rows (id, name, score) values (?, ?, ?)";
const char* const kSelect = "select id, name, score from rows";

std::string path(const char* name) {
    static std::string dir = [] {
        char templ[] = "/tmp/weibo-sqlite-bench-XXXXXX";
        return std::string(mkdtemp(templ));
    }();
    return dir + "/" + name;
}

std::string nameFor(int i) {
    return "row name " + std::to_string(i);
}

void BM_InsertWrapper(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        std::remove(path("wrapper.db").c_str());
        auto db = WBSDKSQLDatabase::databaseWithPath(path("wrapper.db"));
        db->open();
        db->executeUpdate(kCreate);
        db->setShouldCacheStatements(true);
        state.ResumeTiming();
        db->beginTransaction();
        for (int i = 0; i < kRows; ++i) db->executeUpdate(kInsert, i, nameFor(i), i * 0.5);
        db->commit();
        state.PauseTiming();
        db->close();
        state.ResumeTiming();
    }
}

// The rows through one prepared statement, bound and stepped as a plain program would.
void insertRowsPlainly(sqlite3* db) {
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, kInsert, -1, &stmt, nullptr);
    for (int i = 0; i < kRows; ++i) {
        std::string name = nameFor(i);
        sqlite3_bind_int64(stmt, 1, i);
        sqlite3_bind_text(stmt, 2, name.c_str(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
        sqlite3_bind_double(stmt, 3, i * 0.5);
        sqlite3_step(stmt);
        sqlite3_reset(stmt);
    }
    sqlite3_finalize(stmt);
}

void BM_InsertPlain(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        std::remove(path("plain.db").c_str());
        sqlite3* db = nullptr;
        sqlite3_open(path("plain.db").c_str(), &db);
        sqlite3_exec(db, kCreate, nullptr, nullptr, nullptr);
        state.ResumeTiming();
        sqlite3_exec(db, "begin exclusive transaction", nullptr, nullptr, nullptr);
        insertRowsPlainly(db);
        sqlite3_exec(db, "commit transaction", nullptr, nullptr, nullptr);
        state.PauseTiming();
        sqlite3_close(db);
        state.ResumeTiming();
    }
}

void fill(const std::string& file) {
    std::remove(file.c_str());
    sqlite3* db = nullptr;
    sqlite3_open(file.c_str(), &db);
    sqlite3_exec(db, kCreate, nullptr, nullptr, nullptr);
    sqlite3_exec(db, "begin", nullptr, nullptr, nullptr);
    insertRowsPlainly(db);
    sqlite3_exec(db, "commit", nullptr, nullptr, nullptr);
    sqlite3_close(db);
}

const std::string& selectFile() {
    static const std::string file = [] {
        auto f = path("select.db");
        fill(f);
        return f;
    }();
    return file;
}

void BM_SelectWrapper(benchmark::State& state) {
    auto db = WBSDKSQLDatabase::databaseWithPath(selectFile());
    db->open();
    for (auto _ : state) {
        long long sum = 0;
        std::size_t chars = 0;
        auto rs = db->executeQuery(kSelect);
        while (rs->next()) {
            sum += rs->longLongIntForColumnIndex(0);
            chars += rs->stringForColumnIndex(1)->size();
            sum += static_cast<long long>(rs->doubleForColumnIndex(2));
        }
        benchmark::DoNotOptimize(sum);
        benchmark::DoNotOptimize(chars);
    }
}

void BM_SelectPlain(benchmark::State& state) {
    sqlite3* db = nullptr;
    sqlite3_open(selectFile().c_str(), &db);
    for (auto _ : state) {
        long long sum = 0;
        std::size_t chars = 0;
        sqlite3_stmt* stmt = nullptr;
        sqlite3_prepare_v2(db, kSelect, -1, &stmt, nullptr);
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            sum += sqlite3_column_int64(stmt, 0);
            auto text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 1));
            chars += std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(stmt, 1))).size();
            sum += static_cast<long long>(sqlite3_column_double(stmt, 2));
        }
        sqlite3_finalize(stmt);
        benchmark::DoNotOptimize(sum);
        benchmark::DoNotOptimize(chars);
    }
    sqlite3_close(db);
}

BENCHMARK(BM_InsertWrapper)->Unit(benchmark::kMillisecond)->Repetitions(7)->ReportAggregatesOnly(true);
BENCHMARK(BM_InsertPlain)->Unit(benchmark::kMillisecond)->Repetitions(7)->ReportAggregatesOnly(true);
BENCHMARK(BM_SelectWrapper)->Unit(benchmark::kMillisecond)->Repetitions(7)->ReportAggregatesOnly(true);
BENCHMARK(BM_SelectPlain)->Unit(benchmark::kMillisecond)->Repetitions(7)->ReportAggregatesOnly(true);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchsupport::RatioReporter reporter(benchsupport::RatioReporter::Clock::CPU);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatio("weibo_sqlite_insert", "BM_InsertWrapper", "BM_InsertPlain", "ms");
    reporter.printRatio("weibo_sqlite_select", "BM_SelectWrapper", "BM_SelectPlain", "ms");
    std::printf("target: each ratio at most 1.25 (the wrapper at least 0.8 of the plain rate)\n");
    benchmark::Shutdown();
    return 0;
}
