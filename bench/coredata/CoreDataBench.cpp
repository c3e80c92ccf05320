// The Core Data helpers against the plain SQLite C interface, side by side:
//   import: 10,000 records from decoded JSON through the data import (identifying attribute
//           lookup, conversion, a saved context chain) against 10,000 prepared INSERTs in one
//           transaction;
//   fetch:  the records matching a predicate, sorted, as managed objects through a finder
//           against the same SELECT ... WHERE ... ORDER BY reading every column.
// Both sides work on a file in the same temporary folder with the same journal mode.

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/support/RatioReporter.h"
#include "data/DataRecord.h"
#include "data/NSManagedObject+DataImport.h"
#include "data/NSManagedObject+DataRecord.h"
#include "data/NSManagedObjectContext+DataRecord.h"
#include "data/NSPersistentStoreCoordinator+DataRecord.h"
#include "foundation/NSSandbox.h"

namespace {

constexpr int kRecords = 10000;

const char kModel[] = R"({"entities": [{"name": "Record", "representedClassName": "Record",
  "attributes": [{"name": "recordID", "type": "integer64"}, {"name": "name", "type": "string"},
                 {"name": "score", "type": "double"}, {"name": "year", "type": "integer32"}]}]})";

class Record : public NSManagedObject {
  public:
    std::string className() const override { return "Record"; }
};

const NSManagedObjectClass* recordClass() {
    static const auto* cls = NSManagedObjectClass::registerClass<Record>("Record");
    return cls;
}

struct Row {
    long long id;
    std::string name;
    double score;
    int year;
};

const std::vector<Row>& rows() {
    static const std::vector<Row> list = [] {
        std::vector<Row> r;
        unsigned seed = 12345;
        for (int i = 0; i < kRecords; ++i) {
            seed = seed * 1103515245u + 12345u;
            r.push_back({i + 1, "record " + std::to_string(i), static_cast<double>(seed % 100000) / 10.0,
                         1980 + static_cast<int>(seed % 40)});
        }
        return r;
    }();
    return list;
}

Value documents() {
    static const Value docs = [] {
        Array list = Array::mutableArray();
        for (const Row& r : rows()) {
            list.addObject(
                Dictionary{{"recordID", r.id}, {"name", r.name}, {"score", r.score}, {"year", r.year}});
        }
        return Value(list);
    }();
    return docs;
}

const std::string& folder() {
    static const std::string dir = [] {
        auto path = std::filesystem::temp_directory_path() / ("bench-coredata-" + std::to_string(::getpid()));
        std::filesystem::create_directories(path);
        NSSandbox::setRoot(path.string());
        return path.string();
    }();
    return dir;
}

void removeStore(const std::string& path) {
    for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path + suffix);
}

void setUpStack(const std::string& path) {
    DataRecord::cleanUp();
    DataRecord::setLoggingLevel(0);
    NSManagedObjectModel_DataRecord::DR_setDefaultManagedObjectModel(
        NSManagedObjectModel::modelWithData(NSData::fromString(kModel)));
    recordClass();
    DataRecord_Setup::setupCoreDataStackWithAutoMigratingSqliteStoreAtURL(NSURL::fileURLWithPath(path));
}

// ----- import ------------------------------------------------------------------------------------

void BM_ImportOurs(benchmark::State& state) {
    const std::string path = folder() + "/ours-import.sqlite";
    Value docs = documents();
    for (auto _ : state) {
        state.PauseTiming();
        DataRecord::cleanUp();
        removeStore(path);
        state.ResumeTiming();
        setUpStack(path);
        DataRecord_Actions::saveWithBlockAndWait([&](const Ref<NSManagedObjectContext>& local) {
            NSManagedObject_DataRecord_DataImport::DR_importFromArray(recordClass(), docs, local);
        });
    }
    DataRecord::cleanUp();
}

void BM_ImportReference(benchmark::State& state) {
    const std::string path = folder() + "/plain-import.sqlite";
    for (auto _ : state) {
        state.PauseTiming();
        removeStore(path);
        state.ResumeTiming();
        sqlite3* db = nullptr;
        sqlite3_open(path.c_str(), &db);
        sqlite3_exec(db, "PRAGMA journal_mode = WAL", nullptr, nullptr, nullptr);
        sqlite3_exec(db,
                     "CREATE TABLE record (pk INTEGER PRIMARY KEY, recordID INTEGER, name TEXT, score REAL, "
                     "year INTEGER)",
                     nullptr, nullptr, nullptr);
        sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
        sqlite3_stmt* insert = nullptr;
        sqlite3_prepare_v2(db, "INSERT INTO record (pk, recordID, name, score, year) VALUES (?, ?, ?, ?, ?)",
                           -1, &insert, nullptr);
        for (const Row& r : rows()) {
            sqlite3_reset(insert);
            sqlite3_bind_int64(insert, 1, r.id);
            sqlite3_bind_int64(insert, 2, r.id);
            sqlite3_bind_text(insert, 3, r.name.c_str(), static_cast<int>(r.name.size()), SQLITE_TRANSIENT);
            sqlite3_bind_double(insert, 4, r.score);
            sqlite3_bind_int64(insert, 5, r.year);
            sqlite3_step(insert);
        }
        sqlite3_finalize(insert);
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close(db);
    }
}

// ----- fetch -------------------------------------------------------------------------------------

void BM_FetchOurs(benchmark::State& state) {
    const std::string path = folder() + "/ours-fetch.sqlite";
    removeStore(path);
    setUpStack(path);
    DataRecord_Actions::saveWithBlockAndWait([&](const Ref<NSManagedObjectContext>& local) {
        NSManagedObject_DataRecord_DataImport::DR_importFromArray(recordClass(), documents(), local);
    });
    auto coordinator = NSPersistentStoreCoordinator_DataRecord::DR_defaultStoreCoordinator();
    auto predicate = NSPredicate::predicateWithFormat("year >= %@", 2000);
    std::size_t found = 0;
    for (auto _ : state) {
        // A fresh context each time, so nothing is served from objects already registered.
        auto context = NSManagedObjectContext_DataRecord::DR_contextWithStoreCoordinator(coordinator);
        auto result = NSManagedObject_DataFinders::DR_findAllSortedByWithPredicate(recordClass(), "score",
                                                                                   true, predicate, context);
        found = result ? result->count() : 0;
        benchmark::DoNotOptimize(found);
    }
    state.counters["rows"] = static_cast<double>(found);
    DataRecord::cleanUp();
}

void BM_FetchReference(benchmark::State& state) {
    const std::string path = folder() + "/plain-fetch.sqlite";
    removeStore(path);
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_exec(db, "PRAGMA journal_mode = WAL", nullptr, nullptr, nullptr);
    sqlite3_exec(
        db,
        "CREATE TABLE record (pk INTEGER PRIMARY KEY, recordID INTEGER, name TEXT, score REAL, year INTEGER)",
        nullptr, nullptr, nullptr);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO record VALUES (?, ?, ?, ?, ?)", -1, &insert, nullptr);
    for (const Row& r : rows()) {
        sqlite3_reset(insert);
        sqlite3_bind_int64(insert, 1, r.id);
        sqlite3_bind_int64(insert, 2, r.id);
        sqlite3_bind_text(insert, 3, r.name.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_double(insert, 4, r.score);
        sqlite3_bind_int64(insert, 5, r.year);
        sqlite3_step(insert);
    }
    sqlite3_finalize(insert);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    std::size_t found = 0;
    for (auto _ : state) {
        sqlite3_stmt* select = nullptr;
        sqlite3_prepare_v2(
            db, "SELECT pk, recordID, name, score, year FROM record WHERE year >= ? ORDER BY score", -1,
            &select, nullptr);
        sqlite3_bind_int64(select, 1, 2000);
        std::vector<Row> out;
        while (sqlite3_step(select) == SQLITE_ROW) {
            out.push_back({sqlite3_column_int64(select, 1),
                           std::string(reinterpret_cast<const char*>(sqlite3_column_text(select, 2)),
                                       static_cast<std::size_t>(sqlite3_column_bytes(select, 2))),
                           sqlite3_column_double(select, 3),
                           static_cast<int>(sqlite3_column_int64(select, 4))});
        }
        sqlite3_finalize(select);
        found = out.size();
        benchmark::DoNotOptimize(found);
    }
    state.counters["rows"] = static_cast<double>(found);
    sqlite3_close(db);
}

// CPU time is the whole process's: our side works on the contexts' queues as well.
BENCHMARK(BM_ImportOurs)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true)
    ->MeasureProcessCPUTime();
BENCHMARK(BM_ImportReference)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true)
    ->MeasureProcessCPUTime();
BENCHMARK(BM_FetchOurs)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true)
    ->MeasureProcessCPUTime();
BENCHMARK(BM_FetchReference)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true)
    ->MeasureProcessCPUTime();

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    folder();
    benchsupport::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    reporter.printRatio("coredata_import", "BM_ImportOurs", "BM_ImportReference", "ms");
    reporter.printCPU("coredata_import", "BM_ImportOurs", "BM_ImportReference", "ms");
    std::printf("  target coredata_import <= 5.000\n");
    reporter.printRatio("coredata_fetch", "BM_FetchOurs", "BM_FetchReference", "ms");
    reporter.printCPU("coredata_fetch", "BM_FetchOurs", "BM_FetchReference", "ms");
    std::printf("  target coredata_fetch <= 3.000\n");
    std::filesystem::remove_all(folder());
    return 0;
}
