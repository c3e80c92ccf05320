// Reading records from damaged and hostile bytes: truncated, oversized, wrongly typed, deeply
// nested and randomly mutated input ends in the protocol's own exceptions (or a successful read),
// never a crash, a large allocation or unbounded recursion. Run under the asan preset too.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <new>
#include <random>

#include "RecordTestSupport.h"
#include "tests/support/TestSupport.h"

using namespace recordtest;

// ---------------------------------------------------------------------------------------------
// The largest single allocation made while a read is watched, to show that no length or count
// from the wire is allocated before the bytes are there.

namespace {
std::atomic<bool> gWatching{false};
std::atomic<std::size_t> gLargestAllocation{0};

void* allocate(std::size_t size) {
    if (gWatching.load(std::memory_order_relaxed)) {
        std::size_t seen = gLargestAllocation.load(std::memory_order_relaxed);
        while (size > seen && !gLargestAllocation.compare_exchange_weak(seen, size)) {
        }
    }
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
}  // namespace

void* operator new(std::size_t size) {
    return allocate(size);
}
void* operator new[](std::size_t size) {
    return allocate(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

enum class Outcome { Read, Transport, Protocol };

// Reads the bytes as a record of type R; any exception other than the protocol's fails the test.
template <class R>
Outcome readOutcome(const NSData& data, std::size_t* largestAllocation = nullptr) {
    auto record = make<R>();
    auto buffer = make<TATMemoryBuffer>(data);
    TATBinaryProtocol protocol(buffer);
    gLargestAllocation = 0;
    gWatching = true;
    Outcome outcome = Outcome::Read;
    try {
        record->read(protocol);
        // Whatever was read can be written and described again.
        written(*record);
        record->description();
    } catch (const TAWireTransportException&) {
        outcome = Outcome::Transport;
    } catch (const TAWireProtocolException&) {
        outcome = Outcome::Protocol;
    } catch (const std::exception& e) {
        gWatching = false;
        ADD_FAILURE() << "unexpected exception: " << e.what() << " on " << hex(data);
    }
    gWatching = false;
    if (largestAllocation) *largestAllocation = gLargestAllocation;
    return outcome;
}

// A report shaped like the ones the assembly writes.
Ref<TATUALogEntry> sampleLogEntry() {
    auto entry = make<TATUALogEntry>();
    entry->setClient_stats(make<TATClientStats>(4, 1, 320));
    auto app = make<TATAppInfo>();
    app->setKey("53a1b2c3d4e5f6a7b8c9d0e1");
    app->setVersion("2.3.1");
    app->setSdk_type(1);
    app->setSdk_version("3.4.2");
    app->setChannel("App Store");
    entry->setApp_info(app);
    auto device = make<TATDeviceInfo>();
    device->setDevice_id("OPEN-UDID");
    device->setModel("iPhone7,1");
    device->setIs_jailbroken(false);
    device->setResolution(make<TATResolution>(2208, 1242));
    entry->setDevice_info(device);
    auto misc = make<TATMiscInfo>();
    misc->setTime_zone(8);
    misc->setLanguage("zh-Hans");
    misc->setLatitude(31.2);
    misc->setAccess_type(2);
    entry->setMisc_info(misc);
    auto session =
        make<TATSession>("ABCDEF", 1000, 61000, 60000,
                         TATList<TATPage>{make<TATPage>("Home", 3000), make<TATPage>("Studio", 57000)},
                         TATList<TATLocation>{make<TATLocation>(31.2, 121.4, 5)}, nullptr);
    entry->setSessions(TATList<TATSession>{session});
    auto event = make<TATEvent>(
        "TuningCars", TATMap<Ref<TATPropertyValue>>{{"TuningCars", make<TATPropertyValue>()}}, 0, 1, 2000);
    entry->setInstant_msgs(TATList<TATInstantMsg>{make<TATInstantMsg>(
        "ABCDEF", TATList<TATError>{make<TATError>(3, "boom", 0)}, TATList<TATEvent>{event}, std::nullopt)});
    entry->setImprint(make<TATImprint>(
        TATMap<Ref<TATImprintValue>>{{"codex", make<TATImprintValue>("1", 9, "g")}}, 2, "sum"));
    entry->setId_tracking(
        make<TATIdTracking>(TATMap<Ref<TATIdSnapshot>>{{"mc", make<TATIdSnapshot>("x", 1, 1)}},
                            TATList<TATIdJournal>{make<TATIdJournal>("mc", "a", "x", 1)}, "checksum"));
    entry->setActive_user(make<TATActiveUser>("qq", "u"));
    entry->setControl_policy(make<TATControlPolicy>(make<TATLatent>(10, 0)));
    Dictionary groups = Dictionary::mutableDictionary();
    groups.setObject("RPT", Value(1));
    entry->setGroup_info(groups);
    return entry;
}

Ref<TATResponse> sampleResponse() {
    return make<TATResponse>(1, "ok", sampleLogEntry()->imprint());
}

Ref<TAEnvelope> sampleEnvelope() {
    return make<TAEnvelope>("V1.0", "key", std::string(64, 'a'), 3, 1400000000, 900,
                            written(*sampleLogEntry()), std::string(64, 'b'), std::string(32, 'c'), 0);
}

// ---------------------------------------------------------------------------------------------

TEST(TATRecordHostileInput, EveryTruncationRaisesTheTransportException) {
    NSData full = written(*sampleLogEntry());
    ASSERT_EQ(readOutcome<TATUALogEntry>(full), Outcome::Read);
    for (std::size_t length = 0; length < full.length(); ++length) {
        EXPECT_EQ(readOutcome<TATUALogEntry>(full.subdataWithRange(0, length)), Outcome::Transport)
            << "prefix of " << length << " bytes";
    }
}

TEST(TATRecordHostileInput, OversizedLengthsAreRefusedBeforeAnyAllocation) {
    std::size_t largest = 0;
    // A reply whose message claims 2 GiB - 1 bytes.
    EXPECT_EQ(readOutcome<TATResponse>(bytes({0x0B, 0, 2, 0x7F, 0xFF, 0xFF, 0xFF, 0x61, 0x62, 0}), &largest),
              Outcome::Transport);
    EXPECT_LT(largest, 4096u);
    // An envelope whose entity claims 1 GiB.
    EXPECT_EQ(readOutcome<TAEnvelope>(bytes({0x0B, 0, 7, 0x40, 0, 0, 0, 1, 2, 3}), &largest),
              Outcome::Transport);
    EXPECT_LT(largest, 4096u);
    // A negative entity length.
    EXPECT_EQ(readOutcome<TAEnvelope>(bytes({0x0B, 0, 7, 0x80, 0, 0, 0, 0}), &largest), Outcome::Protocol);
    // An unknown string field of huge length is refused while skipping too.
    EXPECT_EQ(readOutcome<TATResponse>(bytes({0x0B, 0, 9, 0x7F, 0, 0, 0, 0}), &largest), Outcome::Transport);
    EXPECT_LT(largest, 4096u);
}

TEST(TATRecordHostileInput, HugeCountsRunOutOfBytesWithBoundedMemory) {
    std::size_t largest = 0;
    // Two billion sessions announced, three empty ones present.
    EXPECT_EQ(
        readOutcome<TATUALogEntry>(bytes({0x0F, 0, 7, 0x0C, 0x7F, 0xFF, 0xFF, 0xFF, 0, 0, 0}), &largest),
        Outcome::Transport);
    EXPECT_LT(largest, 4096u);
    // Two billion imprint properties announced, one present.
    EXPECT_EQ(readOutcome<TATImprint>(
                  bytes({0x0D, 0, 1, 0x0B, 0x0C, 0x7F, 0xFF, 0xFF, 0xFF, 0, 0, 0, 1, 0x6B, 0}), &largest),
              Outcome::Transport);
    // Two billion experiment groups announced.
    EXPECT_EQ(readOutcome<TATUALogEntry>(bytes({0x0D, 0, 12, 0x0B, 0x08, 0x7F, 0xFF, 0xFF, 0xFF}), &largest),
              Outcome::Transport);
    EXPECT_LT(largest, 4096u);
}

TEST(TATRecordHostileInput, HugeCountsOfEmptyUnknownValuesEndQuickly) {
    // An unknown list of two billion void elements, then the real field.
    auto start = std::chrono::steady_clock::now();
    NSData data = bytes({0x0F, 0, 9, 1, 0x7F, 0xFF, 0xFF, 0xFF, 0x08, 0, 1, 0, 0, 0, 1, 0});
    auto response = readBack<TATResponse>(data);
    EXPECT_EQ(response->resp_code(), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST(TATRecordHostileInput, EveryWrongTypeCodeOnEveryFieldIsHandled) {
    NSData full = written(*sampleLogEntry());
    // The header of the first field of each nested level sits at a known place; rewrite the type
    // byte of the root's fields and of the first nested ones with every code.
    std::vector<std::size_t> typeOffsets;
    {
        // Walk the root struct's field headers.
        Reader r(full);
        for (;;) {
            std::size_t offset = full.length() - *r.buffer->remainingBytes();
            int type = 0, id = 0;
            r.protocol.readFieldBegin(nullptr, &type, &id);
            if (type == 0) break;
            typeOffsets.push_back(offset);
            // The first field inside a nested struct starts right after this header.
            if (type == 12) typeOffsets.push_back(offset + 3);
            TATProtocolUtil::skipType(type, r.protocol);
        }
    }
    ASSERT_GE(typeOffsets.size(), 12u);
    for (std::size_t offset : typeOffsets) {
        for (int code = 0; code < 256; ++code) {
            NSData changed = full;
            changed.mutableBytes()[offset] = static_cast<std::uint8_t>(code);
            readOutcome<TATUALogEntry>(changed);
        }
    }
}

TEST(TATRecordHostileInput, WrongTypeForAKnownFieldIsSkippedNotTrusted) {
    // resp_code arrives as a string, msg as a struct, imprint as a list: all skipped.
    NSData data = bytes({0x0B, 0, 1, 0,    0, 0, 1, 0x31,           //
                         0x0C, 0, 2, 0x08, 0, 1, 0, 0,    0, 5, 0,  //
                         0x0F, 0, 3, 0x08, 0, 0, 0, 1,    0, 0, 0, 2, 0});
    auto response = readBack<TATResponse>(data);
    EXPECT_FALSE(response->resp_codeIsSet());
    EXPECT_FALSE(response->msgIsSet());
    EXPECT_FALSE(response->imprintIsSet());
}

TEST(TATRecordHostileInput, DeeplyNestedUnknownFieldsAreRefused) {
    // A reply carrying an unknown field 9 holding structs nested 100,000 deep.
    NSData deep = bytes({0x08, 0, 1, 0, 0, 0, 1});
    for (int i = 0; i < 100000; ++i) deep.appendData(bytes({0x0C, 0, 9}));
    EXPECT_EQ(readOutcome<TATResponse>(deep), Outcome::Protocol);

    // Lists of maps of lists... inside a known list element.
    NSData mixed = bytes({0x0F, 0, 7, 0x0C, 0, 0, 0, 1});  // sessions: one element
    mixed.appendData(bytes({0x0F, 0, 99}));                // unknown list field in the session
    for (int i = 0; i < 3000; ++i) {
        mixed.appendData(
            bytes({0x0D, 0, 0, 0, 1, 0x0B, 0x0F, 0, 0, 0, 1, 0, 0, 0, 0}));  // list<map<string,list>>
    }
    EXPECT_EQ(readOutcome<TATUALogEntry>(mixed), Outcome::Protocol);
}

TEST(TATRecordHostileInput, NestingWithinTheBoundIsRead) {
    NSData data = bytes({0x08, 0, 1, 0, 0, 0, 1});
    const int depth = TATProtocolUtil::kMaxSkipDepth - 1;
    for (int i = 0; i < depth; ++i) data.appendData(bytes({0x0C, 0, 9}));
    for (int i = 0; i <= depth; ++i) data.appendData(bytes({0}));
    auto response = readBack<TATResponse>(data);
    EXPECT_EQ(response->resp_code(), 1);
}

template <class R>
void fuzz(const NSData& valid, unsigned seeds) {
    std::string document(valid.view());
    int outcomes[3] = {0, 0, 0};
    for (unsigned seed = 0; seed < seeds; ++seed) {
        std::string mutated = testsupport::mutate(document, seed);
        std::size_t largest = 0;
        Outcome outcome = readOutcome<R>(NSData::fromString(mutated), &largest);
        outcomes[static_cast<int>(outcome)]++;
        // Nothing much larger than the input itself is ever reserved.
        EXPECT_LT(largest, 64 * mutated.size() + 4096) << "seed " << seed;
    }
    // The mutations reach every kind of ending.
    EXPECT_GT(outcomes[0] + outcomes[1] + outcomes[2], 0);
    EXPECT_GT(outcomes[static_cast<int>(Outcome::Transport)], 0);
}

TEST(TATRecordHostileInput, MutatedLogEntries) {
    fuzz<TATUALogEntry>(written(*sampleLogEntry()), 20000);
}

TEST(TATRecordHostileInput, MutatedReplies) {
    fuzz<TATResponse>(written(*sampleResponse()), 10000);
}

TEST(TATRecordHostileInput, MutatedEnvelopes) {
    fuzz<TAEnvelope>(written(*sampleEnvelope()), 1000);
}

TEST(TATRecordHostileInput, MutatedStoredStateRecords) {
    fuzz<TATIdTracking>(written(*sampleLogEntry()->id_tracking()), 2000);
    fuzz<TATImprint>(written(*sampleLogEntry()->imprint()), 2000);
}

TEST(TATRecordHostileInput, RandomBytesAsEveryRecordType) {
    std::mt19937 rng(20240611);
    for (int round = 0; round < 600; ++round) {
        std::vector<std::uint8_t> noise(rng() % 200);
        for (auto& b : noise) {
            // Lean towards small numbers and type codes so that structure appears.
            b = static_cast<std::uint8_t>(rng() % 3 == 0 ? rng() % 16 : rng());
        }
        NSData data(noise);
        readOutcome<TATUALogEntry>(data);
        readOutcome<TATResponse>(data);
        readOutcome<TATIdTracking>(data);
        readOutcome<TAEnvelope>(data);
        readOutcome<TATSession>(data);
        readOutcome<TATInstantMsg>(data);
        readOutcome<TATDeviceInfo>(data);
    }
}

}  // namespace
