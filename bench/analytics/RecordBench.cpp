// Writing and reading a report of 10,000 body records (5,000 sessions with pages and a position,
// 5,000 instant messages with events and an error) through the binary protocol over a memory
// buffer, as the report assembly does, against walking the same bytes without building records
// (every field header, number and length read and checked, strings stepped over, nothing
// allocated): what any reader of the format must do at least. Side by side in one run; the
// closing lines give the time ratios and the codec's bandwidth. There is no target: the codec is
// far faster than its job (one report every few minutes) needs.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>

#include "bench/support/RatioReporter.h"
#include "sdk/analytics/records/TATUALogEntry.h"

namespace {

constexpr int kRecords = 10000;

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

// The wire format's walk: big-endian numbers, a field is a type byte and a 16-bit id, a struct
// ends with a zero type, strings and containers carry a 32-bit length or count.
class Walker {
  public:
    Walker(const std::uint8_t* bytes, std::size_t length) : p_(bytes), end_(bytes + length) {}

    // Answers false on bytes that do not follow the format.
    bool walkStruct(int depth = 0) {
        if (depth > 64) return false;
        for (;;) {
            std::uint8_t type;
            if (!take(1)) return false;
            type = p_[-1];
            if (type == detail::kTATTypeStop) return true;
            if (!take(2)) return false;
            sum_ += static_cast<std::uint64_t>(p_[-2]) << 8 | p_[-1];
            if (!walkValue(type, depth + 1)) return false;
        }
    }
    std::uint64_t sum() const { return sum_; }

  private:
    bool take(std::size_t n) {
        if (static_cast<std::size_t>(end_ - p_) < n) return false;
        p_ += n;
        return true;
    }
    std::int64_t number(std::size_t width) {
        std::uint64_t v = 0;
        for (std::size_t i = 0; i < width; ++i) v = v << 8 | p_[i - width];
        return static_cast<std::int64_t>(v);
    }
    bool count(std::int32_t* n) {
        if (!take(4)) return false;
        *n = static_cast<std::int32_t>(number(4));
        return *n >= 0;
    }
    bool walkValue(int type, int depth) {
        switch (type) {
            case detail::kTATTypeBool:
            case detail::kTATTypeByte:
                if (!take(1)) return false;
                sum_ += p_[-1];
                return true;
            case detail::kTATTypeI16:
                if (!take(2)) return false;
                sum_ += static_cast<std::uint64_t>(number(2));
                return true;
            case detail::kTATTypeI32:
                if (!take(4)) return false;
                sum_ += static_cast<std::uint64_t>(number(4));
                return true;
            case detail::kTATTypeI64:
            case detail::kTATTypeDouble:
                if (!take(8)) return false;
                sum_ += static_cast<std::uint64_t>(number(8));
                return true;
            case detail::kTATTypeString: {
                std::int32_t n;
                if (!count(&n) || !take(static_cast<std::size_t>(n))) return false;
                sum_ += static_cast<std::uint64_t>(n);
                return true;
            }
            case detail::kTATTypeStruct:
                return walkStruct(depth);
            case detail::kTATTypeMap: {
                if (!take(2)) return false;
                const int key = p_[-2], value = p_[-1];
                std::int32_t n;
                if (!count(&n)) return false;
                for (std::int32_t i = 0; i < n; ++i) {
                    if (!walkValue(key, depth + 1) || !walkValue(value, depth + 1)) return false;
                }
                return true;
            }
            case detail::kTATTypeSet:
            case detail::kTATTypeList: {
                if (!take(1)) return false;
                const int element = p_[-1];
                std::int32_t n;
                if (!count(&n)) return false;
                for (std::int32_t i = 0; i < n; ++i) {
                    if (!walkValue(element, depth + 1)) return false;
                }
                return true;
            }
            default:
                return false;
        }
    }

    const std::uint8_t* p_;
    const std::uint8_t* end_;
    std::uint64_t sum_ = 0;
};

void BM_Walk(benchmark::State& state) {
    const NSData& bytes = encoded();
    for (auto _ : state) {
        Walker walker(bytes.bytes(), bytes.length());
        if (!walker.walkStruct()) state.SkipWithError("the report does not walk");
        benchmark::DoNotOptimize(walker.sum());
    }
    countBytes(state);
}

BENCHMARK(BM_RecordEncode)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RecordDecode)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Walk)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    std::printf("report: %d records, %zu bytes\n", kRecords, encoded().length());
    benchsupport::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    // Times are in microseconds per iteration; one iteration moves the whole report.
    std::printf("  (time of the codec / a walk of the same bytes that builds nothing: lower is better; no "
                "target)\n");
    for (const char* name : {"BM_RecordEncode", "BM_RecordDecode", "BM_Walk"}) {
        if (auto micros = reporter.time(name))
            std::printf("  %s %.1f MB/s\n", name, static_cast<double>(encoded().length()) / *micros);
    }
    reporter.printRatio("record_encode_vs_walk", "BM_RecordEncode", "BM_Walk", "us");
    reporter.printRatio("record_decode_vs_walk", "BM_RecordDecode", "BM_Walk", "us");
    return 0;
}
