// GIF reading over giflib's record-level reader. The whole file is walked once: every frame's
// pixels are decompressed into palette indices (which checks them), a frame whose compressed data
// is damaged is dropped and reading goes on with the next record when the block structure still
// holds. Full-canvas frames are composited later, on request. Before any of that, the block
// structure alone says how many pixels the frames' data must be expanded to, and the code
// boundaries of the data how many clear codes (each a reset of the library's table) it holds: a
// file that asks for too much of either is refused undecoded.

#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <optional>

#include "graphics/ImageCodec.h"

namespace detail {

namespace {
struct Cursor {
    const std::uint8_t* bytes;
    std::size_t length;
    std::size_t offset = 0;
};

int readBytes(GifFileType* gif, GifByteType* buffer, int wanted) {
    auto* cursor = static_cast<Cursor*>(gif->UserData);
    if (wanted <= 0) return 0;
    std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(wanted), cursor->length - cursor->offset);
    std::memcpy(buffer, cursor->bytes + cursor->offset, n);
    cursor->offset += n;
    return static_cast<int>(n);
}

// Reads past the rest of an image's compressed blocks; false when the blocks themselves are broken.
bool skipImageData(GifFileType* gif, bool started) {
    GifByteType* block = nullptr;
    if (!started) {
        int codeSize = 0;
        if (DGifGetCode(gif, &codeSize, &block) == GIF_ERROR) return false;
    } else if (DGifGetCodeNext(gif, &block) == GIF_ERROR) {
        return false;
    }
    while (block) {
        if (DGifGetCodeNext(gif, &block) == GIF_ERROR) return false;
    }
    return true;
}

std::vector<std::uint8_t> paletteOf(const ColorMapObject* map) {
    std::vector<std::uint8_t> palette;
    if (!map || !map->Colors || map->ColorCount <= 0) return palette;
    int count = std::min(map->ColorCount, 256);
    palette.reserve(static_cast<std::size_t>(count) * 3);
    for (int i = 0; i < count; ++i) {
        palette.push_back(map->Colors[i].Red);
        palette.push_back(map->Colors[i].Green);
        palette.push_back(map->Colors[i].Blue);
    }
    return palette;
}

// LZW cannot expand a 12-bit code to more than 4096 pixels, so a frame needs at least this many
// bytes of data per pixel; anything claiming more is refused before its buffer is made.
constexpr std::uint64_t kMaxLZWRatio = 4096 * 8 / 12 + 1;

// An interlaced frame's data holds its rows in four passes, each from a first row on by a step.
constexpr std::uint64_t kInterlaceStart[4] = {0, 4, 2, 1}, kInterlaceStep[4] = {8, 8, 4, 2};

// The rows of an interlaced pass that lie above `limit`.
std::uint64_t passRowsBelow(std::uint64_t limit, int pass) {
    return limit > kInterlaceStart[pass]
               ? (limit - kInterlaceStart[pass] + kInterlaceStep[pass] - 1) / kInterlaceStep[pass]
               : 0;
}

// How many of a frame's rows, in the order its data holds them, must be expanded to reach the
// last of its first `onScreen` rows: all of them in order when it is not interlaced, otherwise
// the earlier passes whole and the last pass that holds an on-screen row up to that row.
std::uint64_t rowsToReach(std::uint64_t height, std::uint64_t onScreen, bool interlaced) {
    onScreen = std::min(onScreen, height);
    if (!interlaced || onScreen == 0) return onScreen;
    int last = 3;
    while (passRowsBelow(onScreen, last) == 0) --last;  // pass 1 always holds row 0
    std::uint64_t rows = passRowsBelow(onScreen, last);
    for (int pass = 0; pass < last; ++pass) rows += passRowsBelow(height, pass);
    return rows;
}

// The row the i-th row of a frame's data is, interlaced or not.
std::size_t rowOf(std::uint64_t i, std::uint64_t height, bool interlaced) {
    if (!interlaced) return static_cast<std::size_t>(i);
    for (int pass = 0; pass < 4; ++pass) {
        const std::uint64_t rows = passRowsBelow(height, pass);
        if (i < rows) return static_cast<std::size_t>(kInterlaceStart[pass] + i * kInterlaceStep[pass]);
        i -= rows;
    }
    return static_cast<std::size_t>(height);
}

// A frame's image descriptor as the block walk finds it.
struct FrameDescriptor {
    std::uint64_t left, top, width, height;
    bool interlaced, localPalette;
    // Its own colour table (when it has one): where it starts and its length.
    std::size_t paletteOffset, paletteBytes;
    // Where its compressed data starts (past the code size), and that code size (-1: cut off).
    std::size_t dataOffset;
    int codeSize;

    // The part of it on a screen of this size.
    std::uint64_t clippedWidth(std::uint64_t screenWidth) const {
        return std::min(left + width, screenWidth) - std::min(left, screenWidth);
    }
    std::uint64_t clippedHeight(std::uint64_t screenHeight) const {
        return std::min(top + height, screenHeight) - std::min(top, screenHeight);
    }
};

// Walks a GIF's records by their block structure alone, nothing decompressed, calling
// visit(descriptor) for each image until it answers false, the trailer or damage the reader
// stops at too. Each frame is visited before its data is looked at: a frame cut short may still
// be read in part. False when the bytes are no GIF or too short for its screen.
template <typename Visit>
bool walkFrames(const std::uint8_t* b, std::size_t n, Visit&& visit) {
    if (sniffImageFormat(b, n) != ImageFormat::GIF || n < 13) return false;
    std::size_t at = 13;
    if (b[10] & 0x80) at += std::size_t(3) << ((b[10] & 7) + 1);
    auto skipBlocks = [&] {
        while (at < n) {
            const std::size_t size = b[at++];
            if (size == 0) return true;
            at += size;
        }
        return false;
    };
    while (at < n) {
        const std::uint8_t kind = b[at++];
        if (kind == 0x21) {
            ++at;  // the label
            if (!skipBlocks()) break;
        } else if (kind == 0x2C) {
            if (at + 9 > n) break;
            FrameDescriptor frame;
            frame.left = b[at] | (b[at + 1] << 8);
            frame.top = b[at + 2] | (b[at + 3] << 8);
            frame.width = b[at + 4] | (b[at + 5] << 8);
            frame.height = b[at + 6] | (b[at + 7] << 8);
            const std::uint8_t packed = b[at + 8];
            frame.interlaced = (packed & 0x40) != 0;
            frame.localPalette = (packed & 0x80) != 0;
            at += 9;
            frame.paletteOffset = at;
            frame.paletteBytes = frame.localPalette ? std::size_t(3) << ((packed & 7) + 1) : 0;
            at += frame.paletteBytes;
            frame.codeSize = at < n ? b[at] : -1;
            ++at;
            frame.dataOffset = std::min(at, n);
            if (!visit(frame)) break;
            if (!skipBlocks()) break;
        } else {
            break;  // the trailer, or damage the reader stops at too
        }
    }
    return true;
}

// The clear codes a frame's data charges the work: all of them when the frame is decoded (a
// clear code costs the library's line reader a reset of its whole table), none when it is not.
std::uint64_t clearCodeWork(const GIFCodeCount& count) {
    return count.clearCodes * kGIFClearCodePixels;
}

// How many more clear codes fit in what is left of the work bound: one more passes it.
std::uint64_t clearCodesLeft(std::uint64_t work) {
    return work > kMaxGIFDecodePixels ? 0 : (kMaxGIFDecodePixels - work) / kGIFClearCodePixels;
}

// Per code width: the fields a word of kWordBits holds and their bits, a 1 in each one's lowest
// bit and in its highest, and every bit but the lowest. Made once: a file of a million small
// frames counts a million times.
struct WordFields {
    static constexpr unsigned kWordBits = 57, kMaxWidth = 12;
    unsigned fields[kMaxWidth + 1] = {}, bits[kMaxWidth + 1] = {};
    std::uint64_t lows[kMaxWidth + 1] = {}, highs[kMaxWidth + 1] = {}, uppers[kMaxWidth + 1] = {};
};
constexpr WordFields kWordFields = [] {
    WordFields f;
    for (unsigned w = 1; w <= WordFields::kMaxWidth; ++w) {
        f.fields[w] = WordFields::kWordBits / w;
        f.bits[w] = f.fields[w] * w;
        for (unsigned i = 0; i < f.fields[w]; ++i) f.lows[w] |= std::uint64_t(1) << (i * w);
        f.highs[w] = f.lows[w] << (w - 1);
        f.uppers[w] = ((std::uint64_t(1) << f.bits[w]) - 1) & ~f.lows[w];
    }
    return f;
}();

}  // namespace

GIFCodeCount countGIFCodes(const std::uint8_t* b, std::size_t n, int codeSize, std::uint64_t maxClearCodes) {
    GIFCodeCount count;
    // Past 8 bits a pixel the library refuses the frame before decoding any of it.
    if (codeSize < 0 || codeSize > 8) {
        count.stop = GIFCodeCount::Stop::Damage;
        return count;
    }
    const unsigned clear = 1u << codeSize, end = clear + 1;
    // The library's own bookkeeping, followed exactly so that the boundaries fall where its reader
    // finds them: `running` counts every code read since a clear (the table's next entry is two
    // below it), and the width grows as soon as it passes what the width can hold. For code sizes
    // from 2 that is the table's next entry reaching 2^width; at 0 and 1 the width grows one code
    // sooner, as that reader does. A full table keeps its 12 bits until a clear code.
    constexpr unsigned kMaxCodes = 4096 + 1, kMaxWidth = 12;
    const unsigned firstWidth = unsigned(codeSize) + 1;
    struct State {
        unsigned width, limit, running;
        bool afterClear;
        std::uint64_t codes, clears;
        std::uint64_t at;  // the next bit to read in the chunk below
    } state{firstWidth, 1u << firstWidth, clear + 2, true, 0, 0, 0};

    // The count runs at a cycle or two a code, as a file of clear codes is refused only after some
    // two million of them and a file at the bound holds a hundred million codes. Codes are taken a
    // word at a time wherever they leave the state as it was: a run of clear codes, each as the
    // first of them left it; and codes of one width that neither clear the table nor end the data.
    // Those two differ in their lowest bit alone (from a code size of 1), so with that bit dropped
    // each field is XORed with the clear code and a field of zero looked for with the usual borrow
    // test. A word read at any bit holds 57 bits.
    // The fields of each width are the same for every frame (kWordFields); only the clear code in
    // them is the frame's own, a multiple of the lowest bits.
    const WordFields& words = kWordFields;
    const unsigned* const fieldsOf = words.fields;
    const unsigned* const bitsOf = words.bits;
    const std::uint64_t* const lows = words.lows;
    const std::uint64_t* const highs = words.highs;
    const std::uint64_t* const uppers = words.uppers;
    const unsigned runCodes = fieldsOf[firstWidth], runBits = bitsOf[firstWidth];
    const std::uint64_t runPattern = clear * lows[firstWidth];
    const std::uint64_t runMask = (std::uint64_t(1) << runBits) - 1;
    const bool inWords = codeSize >= 1;
    std::uint64_t clears[kMaxWidth + 1] = {};
    for (unsigned w = firstWidth; w <= kMaxWidth; ++w) clears[w] = clear * lows[w];

    // The sub-blocks' bytes are gathered into one run (eight bytes of slack past its end), so that a
    // word can be read at any bit; what a pass leaves unread moves to the front for the next.
    constexpr std::size_t kChunk = 4096;
    std::uint8_t chunk[kChunk + 8];
    std::size_t held = 0;
    std::optional<GIFCodeCount::Stop> stop;
    auto pass = [&] {
        const std::uint64_t total = std::uint64_t(held) * 8;
        std::memset(chunk + held, 0, 8);
        // Worked on in locals, which the compiler keeps in registers, and put back after.
        unsigned width = state.width, limit = state.limit, running = state.running;
        bool afterClear = state.afterClear;
        std::uint64_t codes = state.codes, cleared = state.clears, at = state.at;
        const std::uint8_t* const bytes = chunk;
        auto save = [&] { state = {width, limit, running, afterClear, codes, cleared, at}; };
        while (at + width <= total) {
            std::uint64_t word;
            std::memcpy(&word, bytes + (at >> 3), 8);
            word >>= at & 7;
            if (afterClear) {
                if (at + runBits <= total && (word & runMask) == runPattern &&
                    cleared + runCodes <= maxClearCodes) {
                    at += runBits;
                    codes += runCodes;
                    cleared += runCodes;
                    continue;
                }
            } else if (inWords && (width == kMaxWidth || running + fieldsOf[width] <= limit) &&
                       at + bitsOf[width] <= total) {
                // None past a growth of the width, which the single steps below make.
                const std::uint64_t x = (word & uppers[width]) ^ clears[width];
                if (((x - lows[width]) & ~x & highs[width]) == 0) {
                    at += bitsOf[width];
                    codes += fieldsOf[width];
                    running = std::min(running + fieldsOf[width], kMaxCodes);
                    continue;
                }
            }
            const unsigned code = unsigned(word) & ((1u << width) - 1);
            at += width;
            if (code == end) {
                save();
                stop = GIFCodeCount::Stop::EndCode;
                return;
            }
            // A string code first after a clear has nothing to stand on: the library's reader
            // stops there and the frame is lost. Any other code past the table it reads on
            // through (making up its pixels), so counting goes on too.
            if (afterClear && code > end) {
                save();
                stop = GIFCodeCount::Stop::Damage;
                return;
            }
            ++codes;
            if (code == clear) {
                if (++cleared > maxClearCodes) {
                    save();
                    stop = GIFCodeCount::Stop::Limit;
                    return;
                }
                width = firstWidth;
                limit = 1u << width;
                running = clear + 2;
                afterClear = true;
                continue;
            }
            afterClear = false;
            if (running < kMaxCodes && ++running > limit && width < kMaxWidth) {
                limit <<= 1;
                ++width;
            }
        }
        // Keep the bytes not wholly read.
        const std::size_t from = std::size_t(at >> 3);
        std::memmove(chunk, chunk + from, held - from);
        held -= from;
        at &= 7;
        save();
    };

    std::size_t p = 0;
    while (p < n && !stop) {
        const std::size_t size = b[p++];
        if (size == 0) break;
        std::size_t left = std::min(size, n - p);
        while (left > 0 && !stop) {
            const std::size_t take = std::min(left, kChunk - held);
            std::memcpy(chunk + held, b + p, take);
            held += take;
            p += take;
            left -= take;
            if (held == kChunk) pass();
        }
    }
    if (!stop) pass();
    count.codes = state.codes;
    count.clearCodes = state.clears;
    count.stop = stop.value_or(GIFCodeCount::Stop::DataEnd);
    return count;
}

namespace {

// What a frame's clear codes were counted to be, by where its data starts. Only frames of more
// than kPricedCodes codes are noted: counting a smaller one again as it is read costs less than
// noting it, in a file of a million frames.
struct FramePrice {
    std::size_t dataOffset;
    std::uint64_t clearCodes;
};
constexpr std::uint64_t kPricedCodes = 1024;

// What a colour table of its own adds to what the reader keeps: nothing when it repeats the last
// table kept (or the global one, before any other).
std::uint64_t colourTableCost(std::size_t bytes) {
    return bytes + kGIFColourTableOverheadBytes;
}

// The reader's choices, frame by frame, with every frame taken to be whole: which it passes over
// unread, where its budget stops it, what it keeps of each, how many rows of each it expands and
// what clear codes the data it decodes holds.
struct GIFPlan {
    std::uint64_t work = 0, clearCodes = 0;
    std::uint64_t framesKept = 0;
    // What the kept frames hold (see kGIFFrameRecordBytes), and of it their indices.
    std::uint64_t held = 0, indexBytes = 0;
    std::uint64_t widest = 0;  // of the frames decoded
};

// The plan for a file, counted up to where the work passes kMaxGIFDecodePixels; with `prices`, the
// clear codes of each large frame decoded. Empty when the bytes are no GIF or its screen is refused.
GIFPlan planGIF(const std::uint8_t* b, std::size_t n, std::uint64_t budget, std::vector<FramePrice>* prices) {
    GIFPlan plan;
    if (sniffImageFormat(b, n) != ImageFormat::GIF || n < 13) return plan;
    const std::uint64_t width = b[6] | (b[7] << 8), height = b[8] | (b[9] << 8);
    // A screen the reader refuses is read no further.
    if (!imageSizeAllowed(width, height)) return plan;
    const bool globalPalette = (b[10] & 0x80) != 0;
    const std::uint64_t canvasBytes = width * height * 4;
    budget = std::min(budget, kMaxAnimationBytes);
    // The last colour table kept, as the file holds it: the global one until a frame brings another.
    const std::uint8_t* lastTable = nullptr;
    std::size_t lastTableBytes = 0;
    if (globalPalette) {
        lastTableBytes = std::min(std::size_t(3) << ((b[10] & 7) + 1), n - 13);
        lastTable = b + 13;
        plan.held = colourTableCost(lastTableBytes);
    }
    walkFrames(b, n, [&](const FrameDescriptor& f) {
        // Every descriptor the reader reaches costs it, whatever it then does with the frame.
        plan.work += kGIFFramePixels;
        if (plan.work > kMaxGIFDecodePixels) return false;
        if (f.width == 0 || f.height == 0) return true;
        const std::uint64_t clippedH = f.clippedHeight(height);
        const std::uint64_t pixels = f.clippedWidth(width) * clippedH, fullPixels = f.width * f.height;
        const std::uint64_t remaining = n - f.dataOffset;
        const bool newTable =
            f.localPalette && pixels > 0 &&
            !(lastTable && lastTableBytes == f.paletteBytes && f.paletteOffset + f.paletteBytes <= n &&
              std::memcmp(lastTable, b + f.paletteOffset, f.paletteBytes) == 0);
        const std::uint64_t cost =
            kGIFFrameRecordBytes + pixels + (newTable ? colourTableCost(f.paletteBytes) : 0);
        if ((plan.framesKept + 1) * canvasBytes > budget || plan.held + cost > budget) return false;
        if (!(f.localPalette || globalPalette) || fullPixels > kMaxImagePixels ||
            fullPixels > kMaxLZWRatio * remaining + 4096)
            return true;
        ++plan.framesKept;
        plan.held += cost;
        if (pixels == 0) return true;
        if (newTable) {
            lastTable = b + f.paletteOffset;
            lastTableBytes = f.paletteBytes;
        }
        plan.indexBytes += pixels;
        plan.widest = std::max(plan.widest, f.width);
        plan.work += rowsToReach(f.height, clippedH, f.interlaced) * f.width;
        // Counting on past the bound would only cost time, for the pixels as for the clear codes.
        if (plan.work > kMaxGIFDecodePixels) return false;
        const GIFCodeCount count =
            countGIFCodes(b + f.dataOffset, n - f.dataOffset, f.codeSize, clearCodesLeft(plan.work));
        plan.work += clearCodeWork(count);
        plan.clearCodes += count.clearCodes;
        if (prices && count.codes > kPricedCodes) prices->push_back({f.dataOffset, count.clearCodes});
        return plan.work <= kMaxGIFDecodePixels;
    });
    return plan;
}

}  // namespace

struct GIFReader {
    static_assert(sizeof(GIFAnimation::Record) + sizeof(void*) / 2 <= kGIFFrameRecordBytes,
                  "a frame's record, with its share of the blocks' index, is priced at kGIFFrameRecordBytes");

    // The graphic control values for the next image.
    struct Control {
        int disposal = 0, transparentIndex = -1;
        unsigned delay = 0;
        bool hasDelay = false;
    };

    static std::unique_ptr<GIFAnimation> read(const std::uint8_t* bytes, std::size_t length,
                                              std::uint64_t budget, GIFReadReport* report) {
        GIFReadReport unused;
        GIFReadReport& r = report ? *report : unused;
        r = GIFReadReport();
        budget = std::min(budget, kMaxAnimationBytes);
        // The work is known from the descriptors: a file that asks for too much is refused before
        // any of it is decoded.
        std::vector<FramePrice> prices;
        const GIFPlan plan = planGIF(bytes, length, budget, &prices);
        r.work = plan.work;
        r.clearCodes = plan.clearCodes;
        if (r.work > kMaxGIFDecodePixels) {
            r.refusal = GIFReadReport::Refusal::TooMuchWork;
            return nullptr;
        }
        Cursor cursor{bytes, length};
        int error = 0;
        GifFileType* gif = DGifOpen(&cursor, readBytes, &error);
        if (!gif) {
            r.refusal = GIFReadReport::Refusal::Invalid;
            return nullptr;
        }
        std::unique_ptr<GIFAnimation> animation;
        try {
            animation = readRecords(gif, cursor, budget, plan, prices, r);
        } catch (const std::bad_alloc&) {
            animation = nullptr;
        }
        DGifCloseFile(gif, &error);
        if (!animation) r.refusal = GIFReadReport::Refusal::Invalid;
        return animation;
    }

    static std::unique_ptr<GIFAnimation> readRecords(GifFileType* gif, const Cursor& cursor,
                                                     std::uint64_t budget, const GIFPlan& plan,
                                                     const std::vector<FramePrice>& prices,
                                                     GIFReadReport& report) {
        if (gif->SWidth <= 0 || gif->SHeight <= 0 ||
            !imageSizeAllowed(static_cast<std::uint64_t>(gif->SWidth),
                              static_cast<std::uint64_t>(gif->SHeight))) {
            return nullptr;
        }
        auto animation = std::make_unique<GIFAnimation>();
        GIFAnimation& a = *animation;
        a.width_ = static_cast<std::size_t>(gif->SWidth);
        a.height_ = static_cast<std::size_t>(gif->SHeight);
        const std::uint64_t canvasBytes = std::uint64_t(a.width_) * a.height_ * 4;
        // What the kept frames hold, priced as the plan prices it (see kGIFFrameRecordBytes).
        std::uint64_t held = 0, work = 0;
        const bool globalPalette = gif->SColorMap != nullptr;
        if (globalPalette) {
            a.colourTables_.push_back(paletteOf(gif->SColorMap));
            held += colourTableCost(a.colourTables_.back().size());
        }
        a.indexRuns_.emplace_back().reserve(static_cast<std::size_t>(plan.indexBytes));
        std::vector<std::uint8_t> line;
        std::size_t price = 0;  // the first of `prices` not yet passed

        Control pending;
        for (;;) {
            GifRecordType type = UNDEFINED_RECORD_TYPE;
            if (DGifGetRecordType(gif, &type) == GIF_ERROR) break;
            if (type == TERMINATE_RECORD_TYPE) {
                a.complete_ = true;
                break;
            }
            if (type == EXTENSION_RECORD_TYPE) {
                if (!readExtension(gif, a, pending)) break;
                continue;
            }
            if (type != IMAGE_DESC_RECORD_TYPE) break;
            if (DGifGetImageDesc(gif) == GIF_ERROR) break;
            // The library keeps a record of every image descriptor it reads, with a copy of its
            // colour table, for readers that take the whole file at once. This one keeps what it
            // needs itself, so the library's are dropped as they come: a file of a million frames
            // would otherwise hold a million of them, outside any budget.
            GifFreeSavedImages(gif);
            gif->ImageCount = 0;
            work += kGIFFramePixels;
            if (work > kMaxGIFDecodePixels) {
                // As below: only frames the count took as kept and the reader dropped bring it here.
                report.stoppedForWork = true;
                break;
            }

            const Control control = pending;
            pending = Control();
            const GifImageDesc& desc = gif->Image;
            if (desc.Left < 0 || desc.Top < 0 || desc.Width <= 0 || desc.Height <= 0) {
                if (!skipImageData(gif, false)) break;
                continue;
            }
            // Only what lies on the screen is ever drawn, so only that is kept: a frame far larger
            // than its screen costs no more than the screen.
            const std::size_t screenW = a.width_, screenH = a.height_;
            const std::size_t left = static_cast<std::size_t>(desc.Left),
                              top = static_cast<std::size_t>(desc.Top);
            const std::size_t fullW = static_cast<std::size_t>(desc.Width);
            const std::size_t fullH = static_cast<std::size_t>(desc.Height);
            GIFAnimation::Record record;
            record.left = static_cast<std::uint16_t>(std::min(left, screenW));
            record.top = static_cast<std::uint16_t>(std::min(top, screenH));
            record.width = static_cast<std::uint16_t>(std::min(left + fullW, screenW) - record.left);
            record.height = static_cast<std::uint16_t>(std::min(top + fullH, screenH) - record.top);
            record.disposal = static_cast<std::uint8_t>(control.disposal);
            record.transparentIndex = static_cast<std::int16_t>(control.transparentIndex);
            record.delay = static_cast<std::uint16_t>(control.delay);
            record.hasDelay = control.hasDelay;
            const std::uint64_t fullPixels = std::uint64_t(fullW) * fullH;
            const std::uint64_t pixels = std::uint64_t(record.width) * record.height;
            // A colour table of its own is kept unless it repeats the last one kept.
            std::vector<std::uint8_t> ownTable;
            if (desc.ColorMap && pixels > 0) {
                ownTable = paletteOf(desc.ColorMap);
                if (!a.colourTables_.empty() && ownTable == a.colourTables_.back()) ownTable.clear();
            }
            const std::uint64_t cost =
                kGIFFrameRecordBytes + pixels + (ownTable.empty() ? 0 : colourTableCost(ownTable.size()));
            const std::uint64_t remaining = cursor.length - cursor.offset;
            const bool usable = (desc.ColorMap || globalPalette) && fullPixels <= kMaxImagePixels &&
                                fullPixels <= kMaxLZWRatio * remaining + 4096;
            const bool overBudget = (a.records_.size() + 1) * canvasBytes > budget || held + cost > budget;
            if (!usable || overBudget) {
                if (!skipImageData(gif, false)) break;
                if (overBudget) break;
                continue;
            }
            if (pixels == 0) {
                // Wholly off the screen: it shows nothing, but its place in the timing stays.
                if (!skipImageData(gif, false)) break;
                record.left = record.top = record.width = record.height = 0;
                a.records_.push_back(record);
                held += cost;
                continue;
            }
            // A frame starts on the screen, so clipping trims only its right and its bottom: rows
            // are expanded whole, in the data's order, down to the last one on the screen. Its clear
            // codes are as the count before decoding found them; a frame that count never reached
            // (it stopped at the size budget, taking frames the reader drops as damaged to be kept),
            // or too small to note, has them counted here.
            const std::uint64_t needed = rowsToReach(fullH, record.height, desc.Interlace);
            std::uint64_t frameWork = needed * fullW;
            if (work + frameWork > kMaxGIFDecodePixels) {
                // Reached only past frames the count took as kept and the reader dropped as
                // damaged: the reading stops here, as at the size budget.
                report.stoppedForWork = true;
                skipImageData(gif, false);
                break;
            }
            while (price < prices.size() && prices[price].dataOffset < cursor.offset) ++price;
            std::uint64_t clearCodes;
            if (price < prices.size() && prices[price].dataOffset == cursor.offset) {
                clearCodes = prices[price].clearCodes;
            } else {
                // The code size is the byte the library has just read.
                clearCodes = countGIFCodes(cursor.bytes + cursor.offset, cursor.length - cursor.offset,
                                           cursor.bytes[cursor.offset - 1], clearCodesLeft(work + frameWork))
                                 .clearCodes;
            }
            frameWork += clearCodes * kGIFClearCodePixels;
            if (work + frameWork > kMaxGIFDecodePixels) {
                report.stoppedForWork = true;
                skipImageData(gif, false);
                break;
            }
            work += frameWork;
            // The indices go after the last frame's; past the run reserved for what the count
            // expected, a new one takes what is left of the budget, which nothing kept can pass.
            if (a.indexRuns_.back().capacity() - a.indexRuns_.back().size() < pixels)
                a.indexRuns_.emplace_back().reserve(
                    static_cast<std::size_t>(std::max(pixels, budget - held)));
            std::vector<std::uint8_t>& run = a.indexRuns_.back();
            record.run = static_cast<std::uint32_t>(a.indexRuns_.size() - 1);
            record.offset = static_cast<std::uint32_t>(run.size());
            run.resize(run.size() + static_cast<std::size_t>(pixels));
            std::uint8_t* indices = run.data() + record.offset;
            line.resize(fullW);
            bool damaged = false;
            for (std::uint64_t i = 0; i < needed; ++i) {
                if (DGifGetLine(gif, line.data(), desc.Width) == GIF_ERROR) {
                    damaged = true;
                    break;
                }
                report.expanded += fullW;
                const std::size_t y = rowOf(i, fullH, desc.Interlace);
                if (y < record.height) std::memcpy(indices + y * record.width, line.data(), record.width);
            }
            if (damaged) {
                // The frame is lost; the file goes on if its block structure is intact.
                run.resize(record.offset);
                if (gif->Error == D_GIF_ERR_READ_FAILED || !skipImageData(gif, true)) break;
                continue;
            }
            // Rows below the screen are not decoded: their compressed blocks are passed over.
            if (needed < fullH && !skipImageData(gif, true)) break;
            if (!ownTable.empty()) a.colourTables_.push_back(std::move(ownTable));
            record.colourTable = desc.ColorMap ? static_cast<std::uint32_t>(a.colourTables_.size() - 1) : 0;
            a.records_.push_back(record);
            held += cost;
        }
        return animation;
    }

    static bool readExtension(GifFileType* gif, GIFAnimation& animation, Control& pending) {
        int code = 0;
        GifByteType* block = nullptr;
        if (DGifGetExtension(gif, &code, &block) == GIF_ERROR) return false;
        bool first = true, looping = false;
        while (block) {
            const int size = block[0];
            if (code == GRAPHICS_EXT_FUNC_CODE && first && size >= 4) {
                int packed = block[1];
                pending.disposal = (packed >> 2) & 7;
                pending.delay = block[2] | (block[3] << 8);
                pending.hasDelay = true;
                pending.transparentIndex = (packed & 1) ? block[4] : -1;
            } else if (code == APPLICATION_EXT_FUNC_CODE && first && size == 11) {
                // Whatever the application identifier, a following sub-block of three bytes led
                // by 1 is the loop count.
                looping = true;
            } else if (looping && !first && size == 3 && block[1] == 1) {
                animation.loopCount_ = block[2] | (block[3] << 8);
                looping = false;
            }
            first = false;
            if (DGifGetExtensionNext(gif, &block) == GIF_ERROR) return false;
        }
        return true;
    }
};

std::unique_ptr<GIFAnimation> GIFAnimation::read(const std::uint8_t* bytes, std::size_t length,
                                                 std::uint64_t budget, GIFReadReport* report) {
    if (sniffImageFormat(bytes, length) != ImageFormat::GIF) {
        if (report) *report = GIFReadReport{GIFReadReport::Refusal::Invalid};
        return nullptr;
    }
    return GIFReader::read(bytes, length, budget, report);
}

std::optional<std::uint64_t> estimateGIFDecodeBytes(const std::uint8_t* b, std::size_t n,
                                                    std::uint64_t budget) {
    if (sniffImageFormat(b, n) != ImageFormat::GIF || n < 13) return std::nullopt;
    const std::uint64_t width = b[6] | (b[7] << 8), height = b[8] | (b[9] << 8);
    const std::uint64_t canvas = width * height;
    // What the reader keeps, as it keeps it: up to its budget, each frame priced as it will be held.
    const GIFPlan plan = planGIF(b, n, budget, nullptr);
    // The canvas, a frame's answered copy and the canvas saved for a frame that restores it (four
    // bytes a pixel each); the kept frames; one row of the widest frame and the decoder's tables.
    constexpr std::uint64_t kDecoderTables = 64u << 10;
    return canvas * 12 + plan.held + plan.widest + kDecoderTables;
}

std::uint64_t estimateGIFDecodeWork(const std::uint8_t* b, std::size_t n, std::uint64_t budget) {
    return planGIF(b, n, budget, nullptr).work;
}

GIFAnimation::Frame GIFAnimation::frame(std::size_t index) const {
    const Record& r = records_[index];
    Frame f;
    f.left = r.left;
    f.top = r.top;
    f.width = r.width;
    f.height = r.height;
    f.disposal = r.disposal;
    f.transparentIndex = r.transparentIndex;
    f.delay = r.delay / 100.0;
    f.hasDelay = r.hasDelay;
    if (r.colourTable < colourTables_.size()) f.palette = colourTables_[r.colourTable];
    const std::uint8_t* indices = indicesOf(r);
    f.indices.assign(indices, indices + std::size_t(r.width) * r.height);
    return f;
}

CGImageRef GIFAnimation::compositeFrame(std::size_t index) {
    if (index >= records_.size()) return nullptr;
    const std::size_t stride = width_ * 4;
    try {
        if (index < cursor_ || canvas_.empty()) {
            canvas_.assign(width_ * height_ * 4, 0);
            cursor_ = 0;
        }
        CGImageRef result;
        while (cursor_ <= index) {
            const Record& f = records_[cursor_];
            if (f.disposal == 3) previous_ = canvas_;
            const std::size_t fLeft = f.left, fTop = f.top, fWidth = f.width;
            const std::size_t right = std::min(width_, fLeft + fWidth);
            const std::size_t bottom = std::min(height_, fTop + std::size_t(f.height));
            static const std::vector<std::uint8_t> kNoColours;
            const std::vector<std::uint8_t>& palette =
                f.colourTable < colourTables_.size() ? colourTables_[f.colourTable] : kNoColours;
            const std::size_t colours = palette.size() / 3;
            const std::uint8_t* indices = f.width > 0 ? indicesOf(f) : nullptr;
            for (std::size_t y = fTop; y < bottom; ++y) {
                const std::uint8_t* src = indices + (y - fTop) * fWidth;
                std::uint8_t* dst = canvas_.data() + y * stride + fLeft * 4;
                for (std::size_t x = fLeft; x < right; ++x, ++src, dst += 4) {
                    unsigned i = *src;
                    if (static_cast<int>(i) == f.transparentIndex || i >= colours) continue;
                    dst[0] = palette[i * 3 + 2];
                    dst[1] = palette[i * 3 + 1];
                    dst[2] = palette[i * 3];
                    dst[3] = 255;
                }
            }
            if (cursor_ == index) {
                bool hasAlpha = false;
                for (std::size_t i = 3; i < canvas_.size(); i += 4) {
                    if (canvas_[i] != 255) {
                        hasAlpha = true;
                        break;
                    }
                }
                result = makeBGRAImage(width_, height_, NSData(canvas_.data(), canvas_.size()), hasAlpha);
            }
            if (f.disposal == 2) {
                for (std::size_t y = fTop; y < bottom; ++y) {
                    std::memset(canvas_.data() + y * stride + fLeft * 4, 0,
                                (right - std::min(right, fLeft)) * 4);
                }
            } else if (f.disposal == 3 && previous_.size() == canvas_.size()) {
                canvas_.swap(previous_);
            }
            ++cursor_;
        }
        return result;
    } catch (const std::bad_alloc&) {
        canvas_.clear();
        previous_.clear();
        cursor_ = 0;
        return nullptr;
    }
}

}  // namespace detail
