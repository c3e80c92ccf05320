// GIF reading over giflib's record-level reader. The whole file is walked once: every frame's
// pixels are decompressed into palette indices (which checks them), a frame whose compressed data
// is damaged is dropped and reading goes on with the next record when the block structure still
// holds. Full-canvas frames are composited later, on request. Before any of that, the block
// structure alone says how many pixels the frames' data must be expanded to, and a file that asks
// for too many is refused undecoded.

#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <new>

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

// Reads past an image's compressed blocks; false when the blocks themselves are broken.
bool skipImageData(GifFileType* gif) {
    GifByteType* block = nullptr;
    int codeSize = 0;
    if (DGifGetCode(gif, &codeSize, &block) == GIF_ERROR) return false;
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

// How many of a frame's rows, in the order its data holds them, must be expanded to reach the
// last of its first `onScreen` rows: all of them in order when it is not interlaced, otherwise
// the earlier passes whole and the last pass that holds an on-screen row up to that row.
std::uint64_t rowsToReach(std::uint64_t height, std::uint64_t onScreen, bool interlaced) {
    onScreen = std::min(onScreen, height);
    if (!interlaced || onScreen == 0) return onScreen;
    static const std::uint64_t start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
    auto rowsBelow = [](std::uint64_t limit, int pass) {
        return limit > start[pass] ? (limit - start[pass] + step[pass] - 1) / step[pass] : 0;
    };
    int last = 3;
    while (rowsBelow(onScreen, last) == 0) --last;  // pass 1 always holds row 0
    std::uint64_t rows = rowsBelow(onScreen, last);
    for (int pass = 0; pass < last; ++pass) rows += rowsBelow(height, pass);
    return rows;
}

// A frame's LZW data, decompressed here rather than by giflib's line reader: that one resets its
// whole code table at every clear code (some 400 ns each), so a few megabytes of nothing but clear
// codes would hold it for tens of seconds while producing no pixel. Here a clear code costs a few
// steps, and every other code the pixels it expands to, so the time is bounded by the pixels
// counted before decoding and by the bytes of the data (a code is at least three bits). The
// data's sub-blocks come through giflib's block reader.
class LZWReader {
  public:
    enum class Result { Done, Damaged, Unreadable };

    // After the frame's image descriptor: takes its first data block.
    Result start(GifFileType* gif) {
        gif_ = gif;
        ended_ = failed_ = false;
        at_ = blockSize_ = 0;
        pending_ = 0;
        bits_ = 0;
        top_ = 0;
        int codeSize = 0;
        GifByteType* block = nullptr;
        if (DGifGetCode(gif, &codeSize, &block) == GIF_ERROR) {
            failed_ = true;
            return Result::Unreadable;
        }
        take(block);
        // A code size below 2 is not one an encoder writes, and past 11 the clear code would not
        // fit in 12 bits.
        if (codeSize < 2 || codeSize > 11) return Result::Damaged;
        clear_ = 1u << codeSize;
        minWidth_ = codeSize + 1;
        for (unsigned i = 0; i < clear_; ++i) {
            first_[i] = std::uint8_t(i);
            length_[i] = 1;
        }
        reset();
        return Result::Done;
    }

    // The next `count` pixels of the frame.
    Result read(std::uint8_t* out, std::size_t count) {
        std::size_t done = 0;
        while (done < count) {
            if (top_ > 0) {
                const std::size_t n = std::min<std::size_t>(top_, count - done);
                for (std::size_t i = 0; i < n; ++i) out[done++] = stack_[--top_];
                continue;
            }
            unsigned code = 0;
            if (!nextCode(code)) return failed_ ? Result::Unreadable : Result::Damaged;
            if (code == clear_) {
                reset();
                continue;
            }
            // The end code, or one the table does not hold yet, before the frame is full.
            if (code == clear_ + 1 || code > next_ || (code == next_ && previous_ == kNone))
                return Result::Damaged;
            if (previous_ == kNone) {
                out[done++] = std::uint8_t(code);
                previous_ = code;
                continue;
            }
            // A code just being defined is the previous string and its own first character. The
            // string goes straight into the row when it fits there, last character first, and
            // otherwise onto the stack, whose rest opens the next row.
            const bool defining = code == next_;
            const unsigned length = defining ? length_[previous_] + 1u : length_[code];
            std::uint8_t* end;
            if (count - done >= length) {
                end = out + done + length;
                done += length;
            } else {
                end = stack_ + length;
                top_ = length;
            }
            unsigned walk = code;
            if (defining) {
                *--end = first_[previous_];
                walk = previous_;
            }
            while (walk > clear_) {
                *--end = suffix_[walk];
                walk = prefix_[walk];
            }
            *--end = std::uint8_t(walk);
            if (top_ > 0) std::reverse(stack_, stack_ + top_);
            if (next_ < kTableSize) {
                prefix_[next_] = std::uint16_t(previous_);
                suffix_[next_] = first_[code == next_ ? previous_ : code];
                first_[next_] = first_[previous_];
                length_[next_] = std::uint16_t(length_[previous_] + 1);
                ++next_;
                if (next_ >= (1u << width_) && width_ < 12) ++width_;
            }
            previous_ = code;
        }
        return Result::Done;
    }

    // Passes over the rest of the frame's blocks; false when they are broken.
    bool finish() {
        while (!ended_) {
            if (!nextBlock()) return !failed_;
        }
        return true;
    }
    bool unreadable() const { return failed_; }

  private:
    static constexpr unsigned kTableSize = 4096, kNone = ~0u;

    void reset() {
        width_ = minWidth_;
        next_ = clear_ + 2;
        previous_ = kNone;
    }
    void take(const GifByteType* block) {
        if (!block) {
            ended_ = true;
            return;
        }
        block_ = block + 1;
        blockSize_ = block[0];
        at_ = 0;
    }
    bool nextBlock() {
        if (ended_ || failed_) return false;
        GifByteType* block = nullptr;
        if (DGifGetCodeNext(gif_, &block) == GIF_ERROR) {
            failed_ = true;
            return false;
        }
        take(block);
        return !ended_;
    }
    bool nextCode(unsigned& code) {
        while (bits_ < width_) {
            if (at_ == blockSize_) {
                if (!nextBlock()) return false;
                continue;
            }
            pending_ |= std::uint32_t(block_[at_++]) << bits_;
            bits_ += 8;
        }
        code = pending_ & ((1u << width_) - 1);
        pending_ >>= width_;
        bits_ -= width_;
        return true;
    }

    GifFileType* gif_ = nullptr;
    const GifByteType* block_ = nullptr;
    std::size_t at_ = 0, blockSize_ = 0;
    bool ended_ = false, failed_ = false;
    std::uint32_t pending_ = 0;
    unsigned bits_ = 0, width_ = 3, minWidth_ = 3, clear_ = 4, next_ = 6, previous_ = kNone;
    std::uint16_t prefix_[kTableSize] = {}, length_[kTableSize] = {};
    std::uint8_t suffix_[kTableSize] = {}, first_[kTableSize] = {};
    // The longest string is a chain through the whole table, plus the character a code being
    // defined repeats.
    std::uint8_t stack_[kTableSize + 1] = {};
    std::size_t top_ = 0;
};

// A frame's image descriptor as the block walk finds it.
struct FrameDescriptor {
    std::uint64_t left, top, width, height;
    bool interlaced, localPalette;
    // Where its compressed data starts (past the code size).
    std::size_t dataOffset;
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
            if (frame.localPalette) at += std::size_t(3) << ((packed & 7) + 1);
            ++at;  // the code size
            frame.dataOffset = std::min(at, n);
            if (!visit(frame)) break;
            if (!skipBlocks()) break;
        } else {
            break;  // the trailer, or damage the reader stops at too
        }
    }
    return true;
}

}  // namespace

struct GIFReader {
    static std::unique_ptr<GIFAnimation> read(const std::uint8_t* bytes, std::size_t length,
                                              std::uint64_t budget, GIFReadReport* report) {
        GIFReadReport unused;
        GIFReadReport& r = report ? *report : unused;
        r = GIFReadReport();
        budget = std::min(budget, kMaxAnimationBytes);
        // The work is known from the descriptors: a file that asks for too much is refused before
        // any of it is decoded.
        r.work = estimateGIFDecodeWork(bytes, length, budget);
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
            animation = readRecords(gif, cursor, budget, r);
        } catch (const std::bad_alloc&) {
            animation = nullptr;
        }
        DGifCloseFile(gif, &error);
        if (!animation) r.refusal = GIFReadReport::Refusal::Invalid;
        return animation;
    }

    static std::unique_ptr<GIFAnimation> readRecords(GifFileType* gif, const Cursor& cursor,
                                                     std::uint64_t budget, GIFReadReport& report) {
        if (gif->SWidth <= 0 || gif->SHeight <= 0 ||
            !imageSizeAllowed(static_cast<std::uint64_t>(gif->SWidth),
                              static_cast<std::uint64_t>(gif->SHeight))) {
            return nullptr;
        }
        auto animation = std::make_unique<GIFAnimation>();
        animation->width_ = static_cast<std::size_t>(gif->SWidth);
        animation->height_ = static_cast<std::size_t>(gif->SHeight);
        const std::uint64_t canvasBytes = std::uint64_t(animation->width_) * animation->height_ * 4;
        std::vector<std::uint8_t> globalPalette = paletteOf(gif->SColorMap);
        std::uint64_t indexBytes = 0, work = 0;
        auto lzw = std::make_unique<LZWReader>();

        GIFAnimation::Frame pending;  // graphic control values for the next image
        for (;;) {
            GifRecordType type = UNDEFINED_RECORD_TYPE;
            if (DGifGetRecordType(gif, &type) == GIF_ERROR) break;
            if (type == TERMINATE_RECORD_TYPE) {
                animation->complete_ = true;
                break;
            }
            if (type == EXTENSION_RECORD_TYPE) {
                if (!readExtension(gif, *animation, pending)) break;
                continue;
            }
            if (type != IMAGE_DESC_RECORD_TYPE) break;
            if (DGifGetImageDesc(gif) == GIF_ERROR) break;

            GIFAnimation::Frame frame = pending;
            pending = GIFAnimation::Frame();
            const GifImageDesc& desc = gif->Image;
            if (desc.Left < 0 || desc.Top < 0 || desc.Width <= 0 || desc.Height <= 0) {
                if (!skipImageData(gif)) break;
                continue;
            }
            // Only what lies on the screen is ever drawn, so only that is kept: a frame far larger
            // than its screen costs no more than the screen.
            const std::size_t screenW = animation->width_, screenH = animation->height_;
            const std::size_t left = static_cast<std::size_t>(desc.Left),
                              top = static_cast<std::size_t>(desc.Top);
            const std::size_t fullW = static_cast<std::size_t>(desc.Width);
            const std::size_t fullH = static_cast<std::size_t>(desc.Height);
            frame.left = std::min(left, screenW);
            frame.top = std::min(top, screenH);
            frame.width = std::min(left + fullW, screenW) - frame.left;
            frame.height = std::min(top + fullH, screenH) - frame.top;
            frame.palette = desc.ColorMap ? paletteOf(desc.ColorMap) : globalPalette;
            const std::uint64_t fullPixels = std::uint64_t(fullW) * fullH;
            const std::uint64_t pixels = std::uint64_t(frame.width) * frame.height;
            const std::uint64_t remaining = cursor.length - cursor.offset;
            bool usable = !frame.palette.empty() && fullPixels <= kMaxImagePixels &&
                          fullPixels <= kMaxLZWRatio * remaining + 4096;
            bool overBudget =
                (animation->frames_.size() + 1) * canvasBytes > budget || indexBytes + pixels > budget;
            if (!usable || overBudget) {
                if (!skipImageData(gif)) break;
                if (overBudget) break;
                continue;
            }
            if (pixels == 0) {
                // Wholly off the screen: it shows nothing, but its place in the timing stays.
                if (!skipImageData(gif)) break;
                frame.left = frame.top = frame.width = frame.height = 0;
                animation->frames_.push_back(std::move(frame));
                continue;
            }
            // A frame starts on the screen, so clipping trims only its right and its bottom: rows
            // are expanded whole, in the data's order, down to the last one on the screen.
            const std::uint64_t needed = rowsToReach(fullH, frame.height, desc.Interlace);
            const std::uint64_t frameWork = needed * fullW;
            if (work + frameWork > kMaxGIFDecodePixels) {
                // Reached only past frames the walk counted as kept and the reader dropped as
                // damaged: the reading stops here, as at the size budget.
                report.stoppedForWork = true;
                skipImageData(gif);
                break;
            }
            work += frameWork;
            frame.indices.assign(static_cast<std::size_t>(pixels), 0);
            std::vector<std::uint8_t> line(fullW);
            LZWReader::Result result = lzw->start(gif);
            for (std::uint64_t i = 0; i < needed && result == LZWReader::Result::Done; ++i) {
                result = lzw->read(line.data(), fullW);
                if (result != LZWReader::Result::Done) break;
                report.expanded += fullW;
                const std::size_t y = rowOf(i, fullH, desc.Interlace);
                if (y < frame.height)
                    std::memcpy(frame.indices.data() + y * frame.width, line.data(), frame.width);
            }
            // Rows below the screen are not decoded: their compressed blocks are passed over.
            if (result == LZWReader::Result::Unreadable || !lzw->finish()) break;
            // A damaged frame is lost; the file goes on, its block structure intact.
            if (result == LZWReader::Result::Damaged) continue;
            indexBytes += pixels;
            animation->frames_.push_back(std::move(frame));
        }
        return animation;
    }

    // The row the i-th row of a frame's data is, interlaced or not.
    static std::size_t rowOf(std::uint64_t i, std::uint64_t height, bool interlaced) {
        if (!interlaced) return static_cast<std::size_t>(i);
        static const std::uint64_t start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
        for (int pass = 0; pass < 4; ++pass) {
            const std::uint64_t rows =
                height > start[pass] ? (height - start[pass] + step[pass] - 1) / step[pass] : 0;
            if (i < rows) return static_cast<std::size_t>(start[pass] + i * step[pass]);
            i -= rows;
        }
        return static_cast<std::size_t>(height);
    }

    static bool readExtension(GifFileType* gif, GIFAnimation& animation, GIFAnimation::Frame& pending) {
        int code = 0;
        GifByteType* block = nullptr;
        if (DGifGetExtension(gif, &code, &block) == GIF_ERROR) return false;
        bool first = true, looping = false;
        while (block) {
            const int size = block[0];
            if (code == GRAPHICS_EXT_FUNC_CODE && first && size >= 4) {
                int packed = block[1];
                pending.disposal = (packed >> 2) & 7;
                pending.delay = (block[2] | (block[3] << 8)) / 100.0;
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
    std::uint64_t indices = 0, widest = 0;
    walkFrames(b, n, [&](const FrameDescriptor& f) {
        const std::uint64_t clippedW = std::min(f.left + f.width, width) - std::min(f.left, width);
        const std::uint64_t clippedH = std::min(f.top + f.height, height) - std::min(f.top, height);
        indices += clippedW * clippedH;
        widest = std::max(widest, f.width);
        return true;
    });
    // The reader stops where another composited canvas or more indices would pass its budget,
    // and each frame it keeps is at most a canvas of indices.
    budget = std::min(budget, kMaxAnimationBytes);
    if (canvas > 0) indices = std::min({indices, budget / (canvas * 4) * canvas, budget});
    // The canvas, a frame's answered copy and the canvas saved for a frame that restores it (four
    // bytes a pixel each); the kept indices; one row of the widest frame and the decoders' tables
    // (giflib's and the LZW reader's).
    constexpr std::uint64_t kDecoderTables = 64u << 10;
    return canvas * 12 + indices + widest + kDecoderTables;
}

std::uint64_t estimateGIFDecodeWork(const std::uint8_t* b, std::size_t n, std::uint64_t budget) {
    if (sniffImageFormat(b, n) != ImageFormat::GIF || n < 13) return 0;
    const std::uint64_t width = b[6] | (b[7] << 8), height = b[8] | (b[9] << 8);
    // A screen the reader refuses is read no further.
    if (!imageSizeAllowed(width, height)) return 0;
    const bool globalPalette = (b[10] & 0x80) != 0;
    const std::uint64_t canvasBytes = width * height * 4;
    budget = std::min(budget, kMaxAnimationBytes);
    // The reader's choices, frame by frame, with every frame taken to be whole: which it passes
    // over unread, where its budget stops it, and how many rows of each it expands.
    std::uint64_t kept = 0, indexBytes = 0, work = 0;
    walkFrames(b, n, [&](const FrameDescriptor& f) {
        if (f.width == 0 || f.height == 0) return true;
        const std::uint64_t clippedW = std::min(f.left + f.width, width) - std::min(f.left, width);
        const std::uint64_t clippedH = std::min(f.top + f.height, height) - std::min(f.top, height);
        const std::uint64_t pixels = clippedW * clippedH, fullPixels = f.width * f.height;
        const std::uint64_t remaining = n - f.dataOffset;
        if ((kept + 1) * canvasBytes > budget || indexBytes + pixels > budget) return false;
        if (!(f.localPalette || globalPalette) || fullPixels > kMaxImagePixels ||
            fullPixels > kMaxLZWRatio * remaining + 4096)
            return true;
        ++kept;
        if (pixels == 0) return true;
        indexBytes += pixels;
        work += rowsToReach(f.height, clippedH, f.interlaced) * f.width;
        // Counting on past the bound would only cost time.
        return work <= kMaxGIFDecodePixels;
    });
    return work;
}

CGImageRef GIFAnimation::compositeFrame(std::size_t index) {
    if (index >= frames_.size()) return nullptr;
    const std::size_t stride = width_ * 4;
    try {
        if (index < cursor_ || canvas_.empty()) {
            canvas_.assign(width_ * height_ * 4, 0);
            cursor_ = 0;
        }
        CGImageRef result;
        while (cursor_ <= index) {
            const Frame& f = frames_[cursor_];
            if (f.disposal == 3) previous_ = canvas_;
            const std::size_t right = std::min(width_, f.left + f.width);
            const std::size_t bottom = std::min(height_, f.top + f.height);
            const std::size_t colours = f.palette.size() / 3;
            for (std::size_t y = f.top; y < bottom; ++y) {
                const std::uint8_t* src = f.indices.data() + (y - f.top) * f.width;
                std::uint8_t* dst = canvas_.data() + y * stride + f.left * 4;
                for (std::size_t x = f.left; x < right; ++x, ++src, dst += 4) {
                    unsigned i = *src;
                    if (static_cast<int>(i) == f.transparentIndex || i >= colours) continue;
                    dst[0] = f.palette[i * 3 + 2];
                    dst[1] = f.palette[i * 3 + 1];
                    dst[2] = f.palette[i * 3];
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
                for (std::size_t y = f.top; y < bottom; ++y) {
                    std::memset(canvas_.data() + y * stride + f.left * 4, 0,
                                (right - std::min(right, f.left)) * 4);
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
