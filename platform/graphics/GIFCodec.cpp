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
            frame.left = static_cast<std::size_t>(desc.Left);
            frame.top = static_cast<std::size_t>(desc.Top);
            frame.width = static_cast<std::size_t>(desc.Width);
            frame.height = static_cast<std::size_t>(desc.Height);
            frame.palette = desc.ColorMap ? paletteOf(desc.ColorMap) : globalPalette;
            const std::uint64_t pixels = std::uint64_t(frame.width) * frame.height;
            const std::uint64_t remaining = cursor.length - cursor.offset;
            bool usable = !frame.palette.empty() && pixels <= kMaxImagePixels &&
                          pixels <= kMaxLZWRatio * remaining + 4096;
            bool overBudget =
                (animation->frames_.size() + 1) * canvasBytes > budget || indexBytes + pixels > budget;
            if (!usable || overBudget) {
                if (!skipImageData(gif, false)) break;
                if (overBudget) break;
                continue;
            }
            frame.indices.assign(static_cast<std::size_t>(pixels), 0);
            bool damaged = false;
            if (desc.Interlace) {
                static const std::size_t start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
                for (int pass = 0; pass < 4 && !damaged; ++pass) {
                    for (std::size_t y = start[pass]; y < frame.height; y += step[pass]) {
                        if (DGifGetLine(gif, frame.indices.data() + y * frame.width, desc.Width) ==
                            GIF_ERROR) {
                            damaged = true;
                            break;
                        }
                    }
                }
            } else {
                for (std::size_t y = 0; y < frame.height; ++y) {
                    if (DGifGetLine(gif, frame.indices.data() + y * frame.width, desc.Width) == GIF_ERROR) {
                        damaged = true;
                        break;
                    }
                }
            }
            if (damaged) {
                // The frame is lost; the file goes on if its block structure is intact.
                if (gif->Error == D_GIF_ERR_READ_FAILED || !skipImageData(gif, true)) break;
                continue;
            }
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
