// A progressive JPEG decoded at an eighth is read without the AC scans that cannot show at that
// size: whatever the file (sampling, scan script, restarts, cut short, damaged, unusual markers),
// the pixels, refusal, estimate and work are those of reading every scan; other scales, baseline
// files and files the reading does not vouch for are read whole.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "graphics/ImageCodec.h"
#include "tests/graphics/JPEGWriter.h"

namespace {

using detail::JPEGDecodeOptions;
using jpegwriter::scan;
using Refusal = JPEGDecodeOptions::Report::Refusal;
using Script = std::vector<jpeg_scan_info>;

struct Decoded {
    CGImageRef image;
    JPEGDecodeOptions::Report report;
};
Decoded decode(const std::string& bytes, JPEGDecodeOptions options) {
    Decoded d{};
    options.report = &d.report;
    d.image = detail::decodeJPEG(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), options);
    return d;
}

// The eighth as planned, against reading every scan: the same refusal at the same scan, estimate,
// work and pixels. Answers the planned reading.
Decoded expectAsEveryScan(const std::string& bytes, bool partial = false, std::uint64_t budget = 0) {
    JPEGDecodeOptions options{.partial = partial, .scaleDenominator = 8, .maxMemoryBytes = budget};
    const Decoded a = decode(bytes, options);
    options.readEveryScan = true;
    const Decoded b = decode(bytes, options);
    EXPECT_EQ(b.report.scansSkipped, 0);
    EXPECT_EQ(std::tie(a.report.refusal, a.report.estimatedBytes, a.report.scanBlocks),
              std::tie(b.report.refusal, b.report.estimatedBytes, b.report.scanBlocks));
    EXPECT_EQ(a.report.scansRead + a.report.scansSkipped, b.report.scansRead);
    EXPECT_EQ(a.image != nullptr, b.image != nullptr);
    EXPECT_TRUE(!a.image || !b.image || a.image->data().view() == b.image->data().view())
        << "the pixels differ";
    return a;
}

// Scan scripts for the luma and two chroma, or grey; none: the library's progression.
const Script kLibrary;
const Script kSpectral = {scan({0, 1, 2}, 0, 0), scan({0}, 1, 63), scan({1}, 1, 63), scan({2}, 1, 63)};
const Script kDCLast = {scan({0, 1, 2}, 0, 0, 0, 1), scan({0}, 1, 63), scan({1}, 1, 63), scan({2}, 1, 63),
                        scan({0, 1, 2}, 0, 0, 1, 0)};
const Script kDCEach = {scan({0}, 0, 0),  scan({1}, 0, 0),  scan({2}, 0, 0), scan({0}, 1, 5),
                        scan({0}, 6, 63), scan({1}, 1, 63), scan({2}, 1, 63)};
// The chroma whole before any luma AC; the luma made whole, or left short of full precision.
const Script kChromaFirst = {scan({0, 1, 2}, 0, 0), scan({1}, 1, 63),        scan({2}, 1, 63),
                             scan({0}, 1, 9, 0, 2), scan({0}, 10, 63, 0, 2), scan({0}, 1, 63, 2, 1),
                             scan({0}, 1, 63, 1, 0)};
const Script kLumaShort(kChromaFirst.begin(), kChromaFirst.end() - 1);
const Script kBands = [] {
    Script s = {scan({0, 1, 2}, 0, 0), scan({0}, 21, 63), scan({1}, 1, 63), scan({2}, 1, 63)};
    for (int k = 1; k <= 20; ++k) s.insert(s.begin() + k, scan({0}, k, k));
    return s;
}();
const Script kGreyDCLast = {scan({0}, 0, 0, 0, 1), scan({0}, 1, 63, 0, 1), scan({0}, 1, 63, 1, 0),
                            scan({0}, 0, 0, 1, 0)};

// A progressive file: its components, the luma's sampling (the others' is 1), scan script and
// restart interval.
struct File {
    int components, lumaH, lumaV;
    Script script;
    int restarts = 0, width = 333, height = 251;
};
std::string progressive(const File& f) {
    return jpegwriter::write({f.width, f.height, f.components, false, true, false, 80, f.restarts, false,
                              f.lumaH, f.lumaV, f.script});
}

TEST(JPEGScaledDecode, EveryKindOfFileGivesWhatReadingEveryScanGives) {
    // The scans left out: the AC scans of the components shown by their DC alone (at 4:2:0 the
    // library scales the chroma less, and needs their AC); none when the luma is left short of
    // full precision, as the whole reading smooths such blocks. Other scales read every scan.
    const struct {
        File file;
        int skipped;
    } cases[] = {
        {{3, 2, 2, kLibrary}, 4},     {{3, 1, 1, kLibrary}, 8},       {{3, 2, 1, kLibrary}, 8},
        {{1, 1, 1, kLibrary}, 4},     {{4, 1, 1, kLibrary}, 16},      {{3, 2, 2, kLibrary, 3}, 4},
        {{1, 1, 1, kGreyDCLast}, 2},  {{1, 1, 1, kGreyDCLast, 1}, 2}, {{3, 2, 2, kLibrary, 0, 1001, 9}, 4},
        {{3, 2, 2, kSpectral}, 1},    {{3, 1, 1, kSpectral}, 3},      {{3, 2, 2, kDCLast}, 1},
        {{3, 1, 1, kDCLast}, 3},      {{3, 2, 2, kDCEach}, 2},        {{3, 2, 2, kChromaFirst}, 4},
        {{3, 1, 1, kChromaFirst}, 6}, {{3, 2, 2, kBands}, 21},        {{3, 2, 2, kLumaShort}, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << &c - cases);
        const std::string bytes = progressive(c.file);
        EXPECT_EQ(expectAsEveryScan(bytes).report.scansSkipped, c.skipped);
        for (unsigned scale : {1u, 2u, 4u})
            EXPECT_EQ(decode(bytes, {.scaleDenominator = scale}).report.scansSkipped, 0);
    }
}

// Where a writer's file has its segments (or only its scans): the marker and, for a scan, where
// its data begins and ends (at the marker after it).
struct Segment {
    std::size_t at, data, end;
};
std::vector<Segment> segmentsOf(const std::string& f, bool scansOnly) {
    const auto* b = reinterpret_cast<const std::uint8_t*>(f.data());
    std::vector<Segment> out;
    for (std::size_t at = 2; at + 4 <= f.size() && b[at] == 0xFF && b[at + 1] != 0xD9;) {
        const bool scan = b[at + 1] == 0xDA;
        const std::size_t data = at + 2 + ((b[at + 2] << 8) | b[at + 3]);
        std::size_t end = data;
        while (scan && end + 1 < f.size() &&
               !(b[end] == 0xFF && b[end + 1] != 0 && (b[end + 1] & 0xF8) != 0xD0))
            ++end;
        if (scan || !scansOnly) out.push_back({at, data, end});
        at = end;
    }
    return out;
}

// The file with `bytes` put in at each of `places` (built anew: the compiler's bounds check
// misreads an insert), or after each scan.
std::string with(const std::string& f, std::vector<std::size_t> places, const std::string& bytes) {
    std::string out = f;
    std::sort(places.rbegin(), places.rend());
    for (std::size_t at : places) out = out.substr(0, at) + bytes + out.substr(at);
    return out;
}
std::string afterEachScan(const std::string& f, const std::string& bytes) {
    std::vector<std::size_t> ends;
    for (const Segment& s : segmentsOf(f, true)) ends.push_back(s.end);
    return with(f, ends, bytes);
}

// A comment, application data and a line count: markers the decoder passes over between scans.
const std::string kBetweenScans("\xFF\xFE\x00\x05hi!\xFF\xE7\x00\x02\xFF\xDC\x00\x04\x00\xFB", 17);

TEST(JPEGScaledDecode, DamagedUnusualAndCutFilesGiveWhatReadingEveryScanGives) {
    const std::string base = progressive({3, 2, 2, kLibrary, 4});
    const auto scans = segmentsOf(base, true);
    // The data of the AC scans (their band starting past 0) changed, never a marker or a stuffed zero.
    std::string damaged = base;
    for (const Segment& s : scans)
        for (std::size_t at = s.data + 3; base[s.data - 3] != 0 && at + 1 < s.end; at += 7)
            if (base[at] != '\xFF' && base[at - 1] != '\xFF' && base[at + 1] != '\xFF')
                damaged[at] = base[at] == '\xA5' ? '\x11' : char(base[at] ^ 0x5A);
    // The luma's first AC scan, one the eighth leaves out, of table 3; and that table, defined
    // with two codes of one bit (no all-ones code left): one the decoder refuses to build.
    const Segment& luma = scans[1];
    auto set = [&](std::size_t i, int byte) { return base.substr(0, i) + char(byte) + base.substr(i + 1); };
    const std::string table3 = set(luma.at + 6, (base[luma.at + 6] & 0xF0) | 3);
    const std::string dht = std::string("\xFF\xC4\x00\x15\x13\x02", 6) + std::string(15, '\0') + "\x01\x02";
    const std::string frame = base.substr(base.find("\xFF\xC2"), 19);  // the frame header, of 3 components
    struct Case {
        std::string name, bytes;
        bool skips;
    };
    std::vector<Case> cases = {
        {"fill bytes, markers, stray bytes and a restart marker after each scan",
         afterEachScan(base, "\xFF\xFF" + kBetweenScans + "stray\xFF\xD3\xFF\xFF"), true},
        {"AC data damaged", damaged, true},
        {"bytes after the end of the image", base + "trailing bytes", true},
        {"a scan repeated 100 times", jpegwriter::withRepeatedLastScan(base, 100), true},
        {"no end of image", base.substr(0, base.size() - 2), false},
        {"an unknown marker in AC data", with(base, {(luma.data + luma.end) / 2}, "\xFF\x05"), false},
        {"an AC precision the decoder refuses", set(luma.data - 1, 0x0E), false},
        {"an AC refinement step the decoder refuses", set(luma.data - 1, 0x31), false},
        {"an AC band ending before it starts", set(luma.data - 2, 0), false},
        {"an AC scan of a table never defined", table3, false},
        {"an AC scan of a table filling its codes", with(table3, {luma.at}, dht), false},
        {"the luma's AC scan first",
         with(base, {scans[0].at}, base.substr(scans[0].end, luma.end - scans[0].end)), false},
        {"a second frame header", afterEachScan(base, frame), false},
        {"arithmetic coding", jpegwriter::write({333, 251, 3, true, true, false, 80, 0, true}), false},
        {"baseline", jpegwriter::write({333, 251, 3, true}), false},
        {"baseline grey", jpegwriter::write({333, 251, 1}), false}};
    // Cut at each marker and inside its length, in each scan's parameters and data, at the end.
    for (const std::string& f : {afterEachScan(progressive({3, 2, 2, kLibrary, 2, 96, 64}), kBetweenScans),
                                 progressive({1, 1, 1, kGreyDCLast, 0, 96, 64})}) {
        std::vector<std::size_t> cuts = {f.size() - 2, f.size() - 1};
        for (const Segment& s : segmentsOf(f, false))
            cuts.insert(cuts.end(), {s.at, s.at + 3, s.data - 1, (s.data + s.end) / 2});
        for (std::size_t cut : cuts)
            cases.push_back({"cut at " + std::to_string(cut), f.substr(0, cut), false});
    }
    for (const auto& c : cases)
        for (bool partial : {false, true}) {
            SCOPED_TRACE(testing::Message() << c.name << (partial ? ", partial" : ""));
            EXPECT_EQ(expectAsEveryScan(c.bytes, partial).report.scansSkipped > 0, c.skips);
        }
}

TEST(JPEGScaledDecode, TheBoundsOnScansAndMemoryAreThoseOfReadingEveryScan) {
    const std::string endless =
        jpegwriter::withRepeatedLastScan(progressive({3, 2, 2, kLibrary, 0, 64, 48}), detail::kMaxJPEGScans);
    for (bool partial : {false, true})
        EXPECT_EQ(expectAsEveryScan(endless, partial).report.refusal, Refusal::TooManyScans);
    // The library makes the whole coefficient store whichever scans are read: a budget a byte
    // under the whole reading's estimate is refused before decoding.
    const std::string base = progressive({3, 2, 2, kLibrary});
    const std::uint64_t estimate = decode(base, {.scaleDenominator = 8}).report.estimatedBytes;
    for (std::uint64_t budget : {estimate, estimate - 1}) {
        const Decoded d = expectAsEveryScan(base, false, budget);
        EXPECT_EQ(d.report.decodingStarted, budget == estimate);
        EXPECT_EQ(d.report.refusal == Refusal::OverBudget, budget < estimate);
        EXPECT_EQ(d.report.scansSkipped, budget == estimate ? 4 : 0);
    }
}

}  // namespace
