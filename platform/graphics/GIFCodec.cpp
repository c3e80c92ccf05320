// GIF reading over giflib's record-level reader. The whole file is walked once: every frame's
// pixels are decompressed into palette indices (which checks them), a frame whose compressed data
// is damaged is dropped and reading goes on with the next record when the block structure still
// holds. Full-canvas frames are composited later, on request.

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

}  // namespace

struct GIFReader {
    static std::unique_ptr<GIFAnimation> read(const std::uint8_t* bytes, std::size_t length,
                                              std::uint64_t budget) {
        Cursor cursor{bytes, length};
        int error = 0;
        GifFileType* gif = DGifOpen(&cursor, readBytes, &error);
        if (!gif) return nullptr;
        std::unique_ptr<GIFAnimation> animation;
        try {
            animation = readRecords(gif, cursor, std::min(budget, kMaxAnimationBytes));
        } catch (const std::bad_alloc&) {
            animation = nullptr;
        }
        DGifCloseFile(gif, &error);
        return animation;
    }

    static std::unique_ptr<GIFAnimation> readRecords(GifFileType* gif, const Cursor& cursor,
                                                     std::uint64_t budget) {
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
        std::uint64_t indexBytes = 0;

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
                if (!skipImageData(gif, false)) break;
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
                if (!skipImageData(gif, false)) break;
                if (overBudget) break;
                continue;
            }
            if (pixels == 0) {
                // Wholly off the screen: it shows nothing, but its place in the timing stays.
                if (!skipImageData(gif, false)) break;
                frame.left = frame.top = frame.width = frame.height = 0;
                animation->frames_.push_back(std::move(frame));
                continue;
            }
            frame.indices.assign(static_cast<std::size_t>(pixels), 0);
            std::vector<std::uint8_t> line(fullW);
            // The rows in the order the data holds them, and how many must be read to reach the
            // last one on the screen: the rest is passed over undecoded.
            std::vector<std::uint32_t> order;
            order.reserve(fullH);
            if (desc.Interlace) {
                static const std::size_t start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
                for (int pass = 0; pass < 4; ++pass)
                    for (std::size_t y = start[pass]; y < fullH; y += step[pass])
                        order.push_back(static_cast<std::uint32_t>(y));
            } else {
                for (std::size_t y = 0; y < fullH; ++y) order.push_back(static_cast<std::uint32_t>(y));
            }
            // A frame starts on the screen, so clipping trims only its right and its bottom.
            std::size_t needed = 0;
            for (std::size_t i = 0; i < order.size(); ++i)
                if (order[i] < frame.height) needed = i + 1;
            bool damaged = false;
            for (std::size_t i = 0; i < needed; ++i) {
                if (DGifGetLine(gif, line.data(), desc.Width) == GIF_ERROR) {
                    damaged = true;
                    break;
                }
                if (order[i] < frame.height)
                    std::memcpy(frame.indices.data() + order[i] * frame.width, line.data(), frame.width);
            }
            if (damaged) {
                // The frame is lost; the file goes on if its block structure is intact.
                if (gif->Error == D_GIF_ERR_READ_FAILED || !skipImageData(gif, true)) break;
                continue;
            }
            // Rows below the screen are not decoded: their compressed blocks are passed over.
            if (needed < order.size() && !skipImageData(gif, true)) break;
            indexBytes += pixels;
            animation->frames_.push_back(std::move(frame));
        }
        return animation;
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
                                                 std::uint64_t budget) {
    if (sniffImageFormat(bytes, length) != ImageFormat::GIF) return nullptr;
    return GIFReader::read(bytes, length, budget);
}

std::optional<std::uint64_t> estimateGIFDecodeBytes(const std::uint8_t* b, std::size_t n,
                                                    std::uint64_t budget) {
    if (sniffImageFormat(b, n) != ImageFormat::GIF || n < 13) return std::nullopt;
    const std::uint64_t width = b[6] | (b[7] << 8), height = b[8] | (b[9] << 8);
    const std::uint64_t canvas = width * height;
    // The blocks are walked, never decompressed: descriptors and sub-block lengths only.
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
    std::uint64_t indices = 0, widest = 0, tallest = 0;
    while (at < n) {
        const std::uint8_t kind = b[at++];
        if (kind == 0x21) {
            ++at;  // the label
            if (!skipBlocks()) break;
        } else if (kind == 0x2C) {
            if (at + 9 > n) break;
            const std::uint64_t left = b[at] | (b[at + 1] << 8), top = b[at + 2] | (b[at + 3] << 8);
            const std::uint64_t w = b[at + 4] | (b[at + 5] << 8), h = b[at + 6] | (b[at + 7] << 8);
            const std::uint8_t packed = b[at + 8];
            at += 9;
            if (packed & 0x80) at += std::size_t(3) << ((packed & 7) + 1);
            ++at;  // the code size
            // Counted before its data is looked at: a frame cut short may still be read in part.
            const std::uint64_t clippedW = std::min(left + w, width) - std::min(left, width);
            const std::uint64_t clippedH = std::min(top + h, height) - std::min(top, height);
            indices += clippedW * clippedH;
            widest = std::max(widest, w);
            tallest = std::max(tallest, h);
            if (!skipBlocks()) break;
        } else {
            break;  // the trailer, or damage the reader stops at too
        }
    }
    // The reader stops where another composited canvas or more indices would pass its budget,
    // and each frame it keeps is at most a canvas of indices.
    budget = std::min(budget, kMaxAnimationBytes);
    if (canvas > 0) indices = std::min({indices, budget / (canvas * 4) * canvas, budget});
    // The canvas, a frame's answered copy and the canvas saved for a frame that restores it (four
    // bytes a pixel each); the kept indices; one row of the widest frame, the row order of the
    // tallest and the decoder's tables.
    constexpr std::uint64_t kDecoderTables = 64u << 10;
    return canvas * 12 + indices + widest + tallest * 4 + kDecoderTables;
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
