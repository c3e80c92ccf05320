// A progressive JPEG decoded at an eighth is read without the AC scans that cannot show at that
// size. Whatever the file (sampling, scan script, restart markers, cut anywhere, damaged, unusual
// markers between its scans), the picture is the one reading every scan gives, pixel for pixel,
// and so is the refusal; other scales, baseline files and files the reading does not vouch for
// are read whole.

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "graphics/CGImageSource.h"
#include "graphics/ImageCodec.h"
#include "tests/graphics/JPEGWriter.h"

namespace {

using detail::JPEGDecodeOptions;
using jpegwriter::scan;
using Refusal = JPEGDecodeOptions::Report::Refusal;

const std::uint8_t* bytesOf(const std::string& s) {
    return reinterpret_cast<const std::uint8_t*>(s.data());
}

struct Decoded {
    CGImageRef image;
    JPEGDecodeOptions::Report report;
};

Decoded decode(const std::string& bytes, bool everyScan, bool partial = false, unsigned scale = 8,
               bool keepCMYK = false) {
    Decoded d;
    JPEGDecodeOptions options;
    options.scaleDenominator = scale;
    options.readEveryScan = everyScan;
    options.partial = partial;
    options.keepCMYK = keepCMYK;
    options.report = &d.report;
    d.image = detail::decodeJPEG(bytesOf(bytes), bytes.size(), options);
    return d;
}

// Both gave nothing, for the same reason, or the same pixels.
void expectSamePicture(const Decoded& spared, const Decoded& whole) {
    ASSERT_EQ(spared.image != nullptr, whole.image != nullptr);
    EXPECT_EQ(spared.report.refusal, whole.report.refusal);
    EXPECT_EQ(spared.report.estimatedBytes, whole.report.estimatedBytes);
    EXPECT_EQ(spared.report.scanBlocks, whole.report.scanBlocks);
    if (!whole.image) return;
    ASSERT_EQ(spared.image->width(), whole.image->width());
    ASSERT_EQ(spared.image->height(), whole.image->height());
    ASSERT_EQ(spared.image->bytesPerRow(), whole.image->bytesPerRow());
    const NSData &a = spared.image->data(), &b = whole.image->data();
    ASSERT_EQ(a.length(), b.length());
    std::size_t differing = 0;
    for (std::size_t i = 0; i < a.length(); ++i) differing += a.bytes()[i] != b.bytes()[i];
    EXPECT_EQ(differing, 0u) << "of " << a.length() << " bytes";
}

// Where a writer's file has its scans: the scan header, its data and the marker after it.
struct ScanAt {
    std::size_t header = 0, data = 0, end = 0;
    int components = 0, firstComponent = 0, ss = 0, se = 0;
};
std::vector<ScanAt> scansOf(const std::string& f) {
    std::vector<ScanAt> scans;
    const std::uint8_t* b = bytesOf(f);
    std::size_t at = 2;
    while (at + 4 <= f.size() && b[at] == 0xFF && b[at + 1] != 0xD9) {
        const std::size_t length = (std::size_t(b[at + 2]) << 8) | b[at + 3];
        if (b[at + 1] != 0xDA) {
            at += 2 + length;
            continue;
        }
        ScanAt s;
        s.header = at;
        s.data = at + 2 + length;
        s.components = b[at + 4];
        s.firstComponent = b[at + 5];
        s.ss = b[at + 5 + 2 * s.components];
        s.se = b[at + 6 + 2 * s.components];
        std::size_t end = s.data;
        while (end + 1 < f.size() && !(b[end] == 0xFF && b[end + 1] != 0 && (b[end + 1] & 0xF8) != 0xD0))
            ++end;
        s.end = end;
        scans.push_back(s);
        at = end;
    }
    return scans;
}

// The scripts a file may come in, for three components (luma, then the two chroma).
std::vector<jpeg_scan_info> spectralSelectionOnly() {
    return {scan({0, 1, 2}, 0, 0), scan({0}, 1, 63), scan({1}, 1, 63), scan({2}, 1, 63)};
}
std::vector<jpeg_scan_info> dcRefinedLast() {
    return {scan({0, 1, 2}, 0, 0, 0, 1), scan({0}, 1, 63), scan({1}, 1, 63), scan({2}, 1, 63),
            scan({0, 1, 2}, 0, 0, 1, 0)};
}
std::vector<jpeg_scan_info> dcScanEach() {
    return {scan({0}, 0, 0),  scan({1}, 0, 0),  scan({2}, 0, 0), scan({0}, 1, 5),
            scan({0}, 6, 63), scan({1}, 1, 63), scan({2}, 1, 63)};
}
// Chroma whole before any luma AC; the luma refined to full precision, or left short of it.
std::vector<jpeg_scan_info> chromaFirst(bool lumaWhole = true) {
    std::vector<jpeg_scan_info> s = {scan({0, 1, 2}, 0, 0), scan({1}, 1, 63),        scan({2}, 1, 63),
                                     scan({0}, 1, 9, 0, 2), scan({0}, 10, 63, 0, 2), scan({0}, 1, 63, 2, 1)};
    if (lumaWhole) s.push_back(scan({0}, 1, 63, 1, 0));
    return s;
}
std::vector<jpeg_scan_info> manyBands() {
    std::vector<jpeg_scan_info> s = {scan({0, 1, 2}, 0, 0)};
    for (int k = 1; k <= 20; ++k) s.push_back(scan({0}, k, k));
    s.push_back(scan({0}, 21, 63));
    s.push_back(scan({1}, 1, 63));
    s.push_back(scan({2}, 1, 63));
    return s;
}
std::vector<jpeg_scan_info> greyDCRefinedLast() {
    return {scan({0}, 0, 0, 0, 1), scan({0}, 1, 63, 0, 1), scan({0}, 1, 63, 1, 0), scan({0}, 0, 0, 1, 0)};
}

jpegwriter::Recipe progressive(int components, bool subsampled, std::vector<jpeg_scan_info> script = {}) {
    jpegwriter::Recipe r{333, 251, components, subsampled, script.empty()};
    r.script = std::move(script);
    return r;
}

TEST(JPEGEighthDecode, EveryKindOfFileGivesTheSamePixelsAsReadingEveryScan) {
    jpegwriter::Recipe restarts = progressive(3, true);
    restarts.restartInterval = 3;
    jpegwriter::Recipe wide = progressive(3, false);
    wide.lumaHorizontal = 2, wide.lumaVertical = 1;
    jpegwriter::Recipe odd = progressive(3, true);
    odd.width = 1001, odd.height = 9;
    jpegwriter::Recipe restartsEachMCU = progressive(1, false, greyDCRefinedLast());
    restartsEachMCU.restartInterval = 1;
    struct Case {
        const char* name;
        jpegwriter::Recipe recipe;
        // AC scans left out at an eighth: those of the components shown by their DC alone (at
        // 4:2:0 and 4:2:2 the library scales the chroma less, and needs their AC).
        int skipped;
    };
    for (const Case& c : {
             Case{"baseline 4:2:0", {333, 251, 3, true, false}, 0},
             Case{"baseline 4:4:4", {333, 251, 3, false, false}, 0},
             Case{"baseline grey", {333, 251, 1, false, false}, 0},
             Case{"progressive 4:2:0", progressive(3, true), 4},
             Case{"progressive 4:4:4", progressive(3, false), 8},
             Case{"progressive 4:2:2", wide, 8},
             Case{"progressive grey", progressive(1, false), 4},
             Case{"progressive CMYK", progressive(4, false), 16},
             Case{"progressive 4:2:0 with restart markers", restarts, 4},
             Case{"progressive grey, a restart marker each block", restartsEachMCU, 2},
             Case{"1001 x 9, partial blocks at the edges", odd, 4},
             Case{"spectral selection only, 4:2:0", progressive(3, true, spectralSelectionOnly()), 1},
             Case{"spectral selection only, 4:4:4", progressive(3, false, spectralSelectionOnly()), 3},
             Case{"DC refined last, 4:2:0", progressive(3, true, dcRefinedLast()), 1},
             Case{"DC refined last, 4:4:4", progressive(3, false, dcRefinedLast()), 3},
             Case{"a DC scan for each component", progressive(3, true, dcScanEach()), 2},
             Case{"chroma first, 4:2:0", progressive(3, true, chromaFirst()), 4},
             Case{"chroma first, 4:4:4", progressive(3, false, chromaFirst()), 6},
             // The whole reading smooths the blocks whose luma lacks precision: read whole.
             Case{"luma never at full precision", progressive(3, true, chromaFirst(false)), 0},
             Case{"21 luma bands", progressive(3, true, manyBands()), 21},
             Case{"grey, DC refined last", progressive(1, false, greyDCRefinedLast()), 2},
         }) {
        SCOPED_TRACE(c.name);
        const std::string bytes = jpegwriter::write(c.recipe);
        ASSERT_FALSE(bytes.empty());
        const Decoded spared = decode(bytes, false), whole = decode(bytes, true);
        ASSERT_TRUE(whole.image);
        EXPECT_EQ(whole.image->width(), std::size_t(c.recipe.width + 7) / 8);
        expectSamePicture(spared, whole);
        EXPECT_EQ(spared.report.scansSkipped, c.skipped);
        EXPECT_EQ(whole.report.scansSkipped, 0);
        EXPECT_EQ(spared.report.scansRead + c.skipped, whole.report.scansRead);
        if (c.recipe.components == 4)
            expectSamePicture(decode(bytes, false, false, 8, true), decode(bytes, true, false, 8, true));
        // Other scales read every scan.
        for (unsigned scale : {1u, 2u, 4u})
            EXPECT_EQ(decode(bytes, false, false, scale).report.scansSkipped, 0) << scale;
        // As a page's thumbnail at an eighth: the same pixels.
        if (c.recipe.components == 4) continue;
        Dictionary options = Dictionary::mutableDictionary();
        options.setObject(kCGImageSourceCreateThumbnailFromImageAlways, true);
        options.setObject(kCGImageSourceThumbnailMaxPixelSize,
                          double((std::max(c.recipe.width, c.recipe.height) + 7) / 8));
        options.setObject(kCGImageSourceMaxDecodeBytes, double(128u << 20));
        CGImageRef thumbnail = CGImageSourceCreateThumbnailAtIndex(
            CGImageSourceCreateWithData(NSData(bytes.data(), bytes.size())), 0, options);
        ASSERT_TRUE(thumbnail);
        expectSamePicture({thumbnail, whole.report}, whole);
    }
}

TEST(JPEGEighthDecode, FilesCutAnywhereGiveWhatTheWholeReadingGives) {
    jpegwriter::Recipe restarts = progressive(3, true);
    restarts.restartInterval = 2;
    for (const jpegwriter::Recipe& recipe :
         {restarts, progressive(3, false), progressive(3, true, chromaFirst()),
          progressive(3, true, dcRefinedLast()), progressive(1, false, greyDCRefinedLast())}) {
        const std::string bytes = jpegwriter::write(recipe);
        ASSERT_FALSE(bytes.empty());
        // Spread over the file, and in and around every scan header: before its marker's code, in
        // its length, in its parameters, at its data and inside it.
        std::vector<std::size_t> cuts;
        for (std::size_t cut = 4; cut < bytes.size(); cut += bytes.size() / 41) cuts.push_back(cut);
        for (const ScanAt& s : scansOf(bytes))
            for (std::size_t cut :
                 {s.header + 1, s.header + 3, s.data - 1, s.data, s.data + 1, (s.data + s.end) / 2, s.end})
                cuts.push_back(cut);
        ASSERT_GT(decode(bytes, false).report.scansSkipped, 0);
        int shown = 0;
        for (std::size_t cut : cuts) {
            const std::string head = bytes.substr(0, cut);
            for (bool partial : {false, true}) {
                SCOPED_TRACE(testing::Message()
                             << recipe.components << " components, script of " << recipe.script.size()
                             << ", cut at " << cut << " of " << bytes.size() << (partial ? ", partial" : ""));
                const Decoded a = decode(head, false, partial), b = decode(head, true, partial);
                expectSamePicture(a, b);
                // Data that ends early is read whole.
                EXPECT_EQ(a.report.scansSkipped, 0);
                shown += a.image != nullptr;
            }
        }
        // The partial decodes of cut files give pictures.
        EXPECT_GT(shown, 10);
    }
}

// `f` with `bytes` put in at `at` (built anew: the compiler's bounds check misreads an insert).
void putIn(std::string& f, std::size_t at, const std::string& bytes) {
    f = f.substr(0, at) + bytes + f.substr(at);
}

// The file with `insert` put before each scan header after the first, or at the end of each
// scan's data.
std::string beforeLaterScans(const std::string& f, const std::string& insert) {
    std::string out = f;
    const auto scans = scansOf(f);
    for (std::size_t i = scans.size(); i-- > 1;) putIn(out, scans[i].header, insert);
    return out;
}
std::string afterEachScan(const std::string& f, const std::string& insert) {
    std::string out = f;
    const auto scans = scansOf(f);
    for (std::size_t i = scans.size(); i-- > 0;) putIn(out, scans[i].end, insert);
    return out;
}
// The first segment of a writer's file under `marker`, whole.
std::string segmentOf(const std::string& f, std::uint8_t marker) {
    const std::uint8_t* b = bytesOf(f);
    for (std::size_t at = 2; at + 4 <= f.size();) {
        const std::size_t length = (std::size_t(b[at + 2]) << 8) | b[at + 3];
        if (b[at + 1] == marker) return f.substr(at, 2 + length);
        at += 2 + length;
    }
    return {};
}
// The last AC scan of the luma (component id 1), changed by `edit`.
std::string lastLumaACScan(const std::string& f,
                           const std::function<void(std::string&, const ScanAt&)>& edit) {
    std::string out = f;
    const auto scans = scansOf(f);
    for (std::size_t i = scans.size(); i-- > 0;)
        if (scans[i].ss > 0 && scans[i].components == 1 && scans[i].firstComponent == 1) {
            edit(out, scans[i]);
            break;
        }
    return out;
}

TEST(JPEGEighthDecode, DamagedAndUnusualFilesGiveWhatTheWholeReadingGives) {
    jpegwriter::Recipe restarts = progressive(3, true);
    restarts.restartInterval = 4;
    const std::string base = jpegwriter::write(restarts);
    ASSERT_FALSE(base.empty());
    jpegwriter::Recipe arithmetic = progressive(3, true);
    arithmetic.arithmetic = true;
    std::string damagedData = base;
    for (const ScanAt& s : scansOf(base)) {
        if (s.ss == 0) continue;
        // Data bytes changed, none of them part of a marker or a stuffed zero.
        for (std::size_t at = s.data + 3; at + 1 < s.end; at += 7)
            if (base[at] != '\xFF' && base[at - 1] != '\xFF' && base[at + 1] != '\xFF') {
                const char changed = char(base[at] ^ 0x5A);
                damagedData[at] = changed == '\xFF' ? '\x11' : changed;
            }
    }
    std::string tableFillingItsCodes = lastLumaACScan(base, [](std::string& f, const ScanAt& s) {
        // Two codes of one bit, which leaves no all-ones code: a table the decoder refuses to build.
        const std::string dht =
            std::string("\xFF\xC4\x00\x15\x13\x02", 6) + std::string(15, '\0') + "\x01\x02";
        f[s.header + 6] = char((f[s.header + 6] & 0xF0) | 3);
        putIn(f, s.header, dht);
    });
    std::string acScanFirst = base;
    {
        const auto scans = scansOf(base);
        // The first AC scan, with the tables before it, copied in before the first scan.
        putIn(acScanFirst, scans[0].header, base.substr(scans[0].end, scans[1].end - scans[0].end));
    }
    struct Case {
        const char* name;
        std::string bytes;
        bool spared;  // whether the reading at an eighth left scans out
    };
    for (const Case& c : {
             Case{"as written", base, true},
             Case{"fill bytes before the later scans", beforeLaterScans(base, "\xFF\xFF\xFF"), true},
             Case{"stray bytes after each scan", afterEachScan(base, "stray"), true},
             Case{"a restart marker after each scan", afterEachScan(base, "\xFF\xD3"), true},
             Case{"a comment and application data after each scan",
                  afterEachScan(base, std::string("\xFF\xFE\x00\x05hi!\xFF\xE7\x00\x02", 11)), true},
             Case{"a line count after each scan",
                  afterEachScan(base, std::string("\xFF\xDC\x00\x04\x00\xFB", 6)), true},
             Case{"AC data damaged", damagedData, true},
             Case{"bytes after the end of the image", base + "trailing bytes", true},
             Case{"a scan repeated 500 times", jpegwriter::withRepeatedLastScan(base, 500), true},
             // Read whole.
             Case{"no end of image", base.substr(0, base.size() - 2), false},
             Case{"an unknown marker in AC data",
                  lastLumaACScan(base, [](std::string&f,
                                          const ScanAt&s) { putIn(f, (s.data + s.end) / 2, "\xFF\x05"); }),
                  false},
             Case{"an AC scan of a precision the decoder refuses",
                  lastLumaACScan(base, [](std::string&f, const ScanAt&s) { f[s.data - 1] = 0x0E; }), false},
             Case{"an AC scan of a table never defined",
                  lastLumaACScan(base,
                                 [](std::string&f, const ScanAt&s) {
                                     f[s.header + 6] = char((f[s.header + 6] & 0xF0) | 3);
                                 }),
                  false},
             Case{"an AC scan of a table filling its codes", tableFillingItsCodes, false},
             Case{"an AC scan before any DC scan", acScanFirst, false},
             Case{"a second frame header", afterEachScan(base, segmentOf(base, 0xC2)), false},
             Case{"arithmetic coding", jpegwriter::write(arithmetic), false},
         }) {
        SCOPED_TRACE(c.name);
        for (bool partial : {false, true}) {
            const Decoded spared = decode(c.bytes, false, partial), whole = decode(c.bytes, true, partial);
            expectSamePicture(spared, whole);
            EXPECT_EQ(spared.report.scansSkipped > 0, c.spared) << partial;
        }
    }
}

TEST(JPEGEighthDecode, TheBoundsOnScansAndMemoryHoldAsForTheWholeReading) {
    const std::string base = jpegwriter::write(progressive(3, true));
    // More scans than the decoder takes: refused at the bound, as when every scan is read.
    const std::string endless = jpegwriter::withRepeatedLastScan(base, 5000);
    for (bool partial : {false, true}) {
        const Decoded d = decode(endless, false, partial);
        EXPECT_EQ(d.image, nullptr);
        EXPECT_EQ(d.report.refusal, Refusal::TooManyScans);
        EXPECT_EQ(d.report.scansRead, detail::kMaxJPEGScans + 1);
        EXPECT_EQ(d.report.scansSkipped, 0);
    }
    // The coefficient store is made whole whichever scans are read: the estimate, and the bound
    // the budget sets, are those of the whole reading.
    const Decoded free = decode(base, false);
    ASSERT_TRUE(free.image);
    for (std::uint64_t budget : {free.report.estimatedBytes, free.report.estimatedBytes - 1}) {
        JPEGDecodeOptions::Report report;
        JPEGDecodeOptions options;
        options.scaleDenominator = 8;
        options.maxMemoryBytes = budget;
        options.report = &report;
        const bool within = budget >= free.report.estimatedBytes;
        EXPECT_EQ(detail::decodeJPEG(bytesOf(base), base.size(), options) != nullptr, within);
        EXPECT_EQ(report.decodingStarted, within);
        EXPECT_EQ(report.scansSkipped, within ? 4 : 0);
        if (!within) {
            EXPECT_EQ(report.refusal, Refusal::OverBudget);
        }
    }
}

}  // namespace
