// Writing and reading a report of 10,000 body records (5,000 sessions with pages and a position,
// 5,000 instant messages with events and an error) through the binary protocol over a memory
// buffer, as the report assembly does, against copying the same number of bytes with memcpy.
// Side by side in one run; the closing lines give the time ratios and the bandwidths.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "bench/support/RatioReporter.h"
#include "sdk/analytics/records/TATUALogEntry.h"

namespace {

constexpr int kRecords = 10000;
constexpr double kTargetRatio = 20;

Ref<TATSession> makeSession(int i) {
    static const char* const kScreens[] = {"QVNHomeViewController", "QVNStudioViewController",
                                           "QVNForumListViewController", "QVNNewsDetailViewController",
                                           "QVNAccountViewController"};
    char id[40];
    std::snprintf(id, sizeof id, "%032X", static_cast<unsigned>(i) * 2654435761u);
    std::int64_t start = 1400000000000LL + i * 60000LL;
    TATList<TATPage> pages;
    for (int p = 0; p < 3; ++p) pages.push_back(make<TATPage>(kScreens[(i + p) % 5], 4000 + p * 1500));
    return make<TATSession>(id, start, start + 45000, 45000, pages,
                            TATList<TATLocation>{make<TATLocation>(31.2304 + i * 1e-5, 121.4737, start)},
                            nullptr);
}

Ref<TATInstantMsg> makeInstantMsg(int i) {
    static const char* const kEvents[] = {"TuningCars", "ShareCar", "LikePost",
                                          "OpenNews",   "SignIn",   "Comment"};
    char id[40];
    std::snprintf(id, sizeof id, "%032X", static_cast<unsigned>(i) * 40503u);
    std::int64_t ts = 1400000000000LL + i * 1000LL;
    TATList<TATEvent> events;
    for (int e = 0; e < 2; ++e) {
        const char* name = kEvents[(i + e) % 6];
        auto event = make<TATEvent>();
        event->setName(name);
        event->setProperties(TATMap<Ref<TATPropertyValue>>{{name, make<TATPropertyValue>("label", 0)}});
        event->properties()->objectForKey(name)->unsetLong_value();
        event->setAcc(1);
        event->setTs(ts + e);
        events.push_back(event);
    }
    auto message = make<TATInstantMsg>();
    message->setId(id);
    message->setEvents(events);
    if (i % 10 == 0) {
        auto error = make<TATError>();
        error->setTs(ts);
        error->setContext(
            "NSInvalidArgumentException: *** -[__NSArrayM objectAtIndex:]: index 3 beyond bounds");
        message->setErrors(TATList<TATError>{error});
    }
    return message;
}

const Ref<TATUALogEntry>& report() {
    static const Ref<TATUALogEntry> entry = [] {
        auto e = make<TATUALogEntry>();
        e->setClient_stats(make<TATClientStats>(12, 1, 230));
        auto app = make<TATAppInfo>();
        app->setKey("53a1b2c3d4e5f6a7b8c9d0e1");
        app->setVersion("2.3.1");
        app->setPackage_name("com.example.tuning");
        app->setSdk_type(1);
        app->setSdk_version("3.4.2");
        app->setChannel("App Store");
        e->setApp_info(app);
        auto device = make<TATDeviceInfo>();
        device->setDevice_id("5C6D1F0E-0000-4A3B-9C1D-2E3F4A5B6C7D");
        device->setModel("iPhone7,1");
        device->setOs("iOS");
        device->setOs_version("8.1");
        device->setResolution(make<TATResolution>(2208, 1242));
        device->setIs_jailbroken(false);
        e->setDevice_info(device);
        auto misc = make<TATMiscInfo>();
        misc->setTime_zone(8);
        misc->setLanguage("zh-Hans");
        misc->setCountry("CN");
        misc->setAccess_type(2);
        e->setMisc_info(misc);
        TATList<TATSession> sessions;
        TATList<TATInstantMsg> messages;
        for (int i = 0; i < kRecords / 2; ++i) {
            sessions.push_back(makeSession(i));
            messages.push_back(makeInstantMsg(i));
        }
        e->setSessions(sessions);
        e->setInstant_msgs(messages);
        return e;
    }();
    return entry;
}

NSData encode(const TATUALogEntry& entry) {
    auto buffer = make<TATMemoryBuffer>();
    TATBinaryProtocol protocol(buffer);
    entry.write(protocol);
    return buffer->getBuffer();
}

const NSData& encoded() {
    static const NSData data = encode(*report());
    return data;
}

void countBytes(benchmark::State& state) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * encoded().length()));
}

void BM_RecordEncode(benchmark::State& state) {
    const auto& entry = *report();
    for (auto _ : state) {
        NSData data = encode(entry);
        benchmark::DoNotOptimize(data.bytes());
    }
    countBytes(state);
}

void BM_RecordDecode(benchmark::State& state) {
    for (auto _ : state) {
        auto entry = make<TATUALogEntry>();
        auto buffer = make<TATMemoryBuffer>(encoded());
        TATBinaryProtocol protocol(buffer);
        entry->read(protocol);
        benchmark::DoNotOptimize(entry.get());
    }
    countBytes(state);
}

void BM_Memcpy(benchmark::State& state) {
    const NSData& source = encoded();
    std::vector<std::uint8_t> destination(source.length());
    for (auto _ : state) {
        std::memcpy(destination.data(), source.bytes(), source.length());
        benchmark::ClobberMemory();
    }
    countBytes(state);
}

BENCHMARK(BM_RecordEncode)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RecordDecode)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Memcpy)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    std::printf("report: %d records, %zu bytes\n", kRecords, encoded().length());
    benchsupport::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    // Times are in microseconds per iteration; one iteration moves the whole report.
    std::printf("  (time ours / memcpy of the same bytes: lower is better; the target is at most %.0f)\n",
                kTargetRatio);
    for (const char* name : {"BM_RecordEncode", "BM_RecordDecode", "BM_Memcpy"}) {
        if (auto micros = reporter.time(name))
            std::printf("  %s %.1f MB/s\n", name, static_cast<double>(encoded().length()) / *micros);
    }
    reporter.printRatio("record_encode_vs_memcpy", "BM_RecordEncode", "BM_Memcpy", "us");
    reporter.printRatio("record_decode_vs_memcpy", "BM_RecordDecode", "BM_Memcpy", "us");
    return 0;
}
