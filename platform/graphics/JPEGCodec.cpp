// JPEG reading and writing over libjpeg. The source manager never reads past the bytes it is
// given: at their end it supplies an end-of-image marker and remembers that the data ran out. A
// complete decode that runs out is refused; a partial one keeps what arrived (a progressive
// picture at the precision of its scans so far, a sequential one down to its last whole row).
// A progressive picture decoded at an eighth is handed over without the AC scans that cannot
// show at that size (see planEighthRead).

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>
#include <libexif/exif-data.h>

#include "graphics/ImageCodec.h"

namespace detail {
namespace {

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    bool tooManyScans = false;
};

void onError(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    std::longjmp(err->jump, 1);
}
void onMessage(j_common_ptr, int) {}
// Called between the decoder's steps, each scan included: a file of endless tiny scans would
// otherwise cost a pass over the whole picture for every one of them.
void onProgress(j_common_ptr cinfo) {
    auto* dinfo = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (dinfo->input_scan_number > kMaxJPEGScans) {
        reinterpret_cast<ErrorManager*>(cinfo->err)->tooManyScans = true;
        cinfo->err->error_exit(cinfo);
    }
}
void onOutputMessage(j_common_ptr) {}

// A stretch of the file, [begin, end).
struct Span {
    std::size_t begin = 0, end = 0;
};

struct Source {
    jpeg_source_mgr pub;
    const std::uint8_t* bytes;
    std::size_t length;
    bool ranOut = false;
    // Output rows complete when the data ran out.
    JDIMENSION rowsAtEnd = 0;
    j_decompress_ptr cinfo;
    // When the decoder reads only parts of the file: the parts, in order, and the next to hand
    // over once the one it reads is spent. `parts` is owned by the caller of the decode.
    std::vector<Span>* parts = nullptr;
    bool inParts = false;
    std::size_t nextPart = 0;
};

const JOCTET kEndOfImage[2] = {0xFF, JPEG_EOI};

void initSource(j_decompress_ptr) {}
boolean fillInput(j_decompress_ptr cinfo) {
    auto* src = reinterpret_cast<Source*>(cinfo->src);
    while (src->inParts && src->nextPart < src->parts->size()) {
        const Span& part = (*src->parts)[src->nextPart++];
        if (part.end > part.begin) {
            src->pub.next_input_byte = src->bytes + part.begin;
            src->pub.bytes_in_buffer = part.end - part.begin;
            return TRUE;
        }
    }
    if (!src->ranOut) {
        src->ranOut = true;
        src->rowsAtEnd = cinfo->output_scanline;
    }
    src->pub.next_input_byte = kEndOfImage;
    src->pub.bytes_in_buffer = 2;
    return TRUE;
}
void skipInput(j_decompress_ptr cinfo, long count) {
    auto* src = reinterpret_cast<Source*>(cinfo->src);
    if (count <= 0) return;
    while (static_cast<std::size_t>(count) > src->pub.bytes_in_buffer) {
        count -= static_cast<long>(src->pub.bytes_in_buffer);
        fillInput(cinfo);
    }
    src->pub.next_input_byte += count;
    src->pub.bytes_in_buffer -= static_cast<std::size_t>(count);
}
void termSource(j_decompress_ptr) {}

void attachSource(j_decompress_ptr cinfo, Source* src, const std::uint8_t* bytes, std::size_t length) {
    src->pub.init_source = initSource;
    src->pub.fill_input_buffer = fillInput;
    src->pub.skip_input_data = skipInput;
    src->pub.resync_to_restart = jpeg_resync_to_restart;
    src->pub.term_source = termSource;
    src->pub.next_input_byte = bytes;
    src->pub.bytes_in_buffer = length;
    src->bytes = bytes;
    src->length = length;
    src->cinfo = cinfo;
    cinfo->src = &src->pub;
}

// libexif reads whatever an EXIF block's structure asks of it: a directory whose thousands of
// entries all point at the same sub-directory sends it down that one again and again (seconds for
// 64 KB), entries whose data overlap have it copy the same bytes thousands of times, and it
// interprets the camera maker's own notes with no bound either. So the structure is looked at first,
// without reading a value, and only a block shaped as a camera writes one is handed over: its
// directories (the first and second, and the EXIF, GPS and interoperability ones) each reached
// once, from one pointer, within the block, and the data of each directory's entries no more
// than the block holds. `makerNote` is told where the tag of a maker's note entry lies (0 when
// there is none).
bool exifShapedAsWritten(const std::uint8_t* tiff, std::size_t length, std::size_t* makerNote) {
    *makerNote = 0;
    if (length < 8) return false;
    const bool little = tiff[0] == 'I' && tiff[1] == 'I';
    if (!little && !(tiff[0] == 'M' && tiff[1] == 'M')) return false;
    auto u16 = [&](std::size_t at) -> std::uint32_t {
        return little ? tiff[at] | (tiff[at + 1] << 8) : (tiff[at] << 8) | tiff[at + 1];
    };
    auto u32 = [&](std::size_t at) -> std::uint32_t {
        return little ? u16(at) | (u16(at + 2) << 16) : (u16(at) << 16) | u16(at + 2);
    };
    // Bytes a value of each TIFF type takes (1 to 12); others count as none, as libexif skips them.
    static constexpr std::uint8_t kTypeBytes[13] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};
    constexpr std::uint16_t kExifPointer = 0x8769, kGPSPointer = 0x8825, kInteropPointer = 0xA005,
                            kMakerNote = 0x927C;
    // At most the five directories a camera writes, each once.
    std::size_t pending[5] = {u32(4)}, seen[5] = {};
    std::size_t pendingCount = 1, seenCount = 0;
    bool pointerSeen[3] = {};
    bool first = true;
    while (pendingCount > 0) {
        const std::size_t at = pending[--pendingCount];
        if (at < 8 || at + 2 > length) return false;
        for (std::size_t i = 0; i < seenCount; ++i)
            if (seen[i] == at) return false;
        if (seenCount == 5) return false;
        seen[seenCount++] = at;
        const std::size_t entries = u16(at);
        if (at + 2 + entries * 12 > length) return false;
        std::uint64_t data = 0;
        for (std::size_t e = 0; e < entries; ++e) {
            const std::size_t entry = at + 2 + e * 12;
            const std::uint16_t tag = std::uint16_t(u16(entry)), type = std::uint16_t(u16(entry + 2));
            const std::uint64_t bytes = std::uint64_t(u32(entry + 4)) * (type <= 12 ? kTypeBytes[type] : 0);
            if (bytes > 4) {
                if (u32(entry + 8) + bytes > length) return false;
                data += bytes;
            }
            const int pointer = tag == kExifPointer      ? 0
                                : tag == kGPSPointer     ? 1
                                : tag == kInteropPointer ? 2
                                                         : -1;
            if (pointer >= 0) {
                if (pointerSeen[pointer] || pendingCount == 5) return false;
                pointerSeen[pointer] = true;
                pending[pendingCount++] = u32(entry + 8);
            }
            if (tag == kMakerNote) *makerNote = entry;
        }
        if (data > length) return false;
        // The first directory links to the second (the thumbnail's); no other link is followed.
        if (first && at + 2 + entries * 12 + 4 <= length) {
            const std::size_t next = u32(at + 2 + entries * 12);
            if (next != 0) {
                if (pendingCount == 5) return false;
                pending[pendingCount++] = next;
            }
        }
        first = false;
    }
    return true;
}

// The EXIF orientation and thumbnail of an APP1 payload starting "Exif\0\0"; false when it is no
// EXIF block (a segment of another kind under the same marker), true when it is one, read or not.
bool readExif(const std::uint8_t* payload, std::size_t length, ImageInfo& info) {
    if (length < 14 || std::memcmp(payload, "Exif\0\0", 6) != 0) return false;
    std::size_t makerNote = 0;
    if (!exifShapedAsWritten(payload + 6, length - 6, &makerNote)) return true;
    // Nothing here uses a maker's note: its tag is hidden, in a copy, so that libexif passes it by.
    std::vector<std::uint8_t> copy;
    if (makerNote != 0) {
        copy.assign(payload, payload + length);
        copy[6 + makerNote] = copy[6 + makerNote + 1] = 0;
        payload = copy.data();
    }
    ExifData* exif = exif_data_new();
    if (!exif) return true;
    exif_data_unset_option(exif, EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
    exif_data_load_data(exif, payload, static_cast<unsigned>(length));
    ExifEntry* entry = exif_content_get_entry(exif->ifd[EXIF_IFD_0], EXIF_TAG_ORIENTATION);
    if (entry && entry->format == EXIF_FORMAT_SHORT && entry->components >= 1 && entry->data &&
        entry->size >= 2) {
        int value = exif_get_short(entry->data, exif_data_get_byte_order(exif));
        if (value >= 1 && value <= 8) info.orientation = value;
    }
    if (exif->data && exif->size > 4 && exif->data[0] == 0xFF && exif->data[1] == 0xD8) {
        info.embeddedThumbnail = NSData(exif->data, exif->size);
    }
    exif_data_unref(exif);
    return true;
}

bool isFrameMarker(std::uint8_t m) {
    return m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC;
}

// The number of components in the first scan header at or after `at`; as many as could be
// (a large count) when the bytes end before one.
int firstScanComponents(const std::uint8_t* b, std::size_t n, std::size_t at) {
    while (at + 4 <= n) {
        if (b[at] != 0xFF) {
            const void* next = std::memchr(b + at, 0xFF, n - at);
            if (!next) break;
            at = static_cast<std::size_t>(static_cast<const std::uint8_t*>(next) - b);
            continue;
        }
        if (b[at + 1] == 0xFF) {
            ++at;
            continue;
        }
        const std::uint8_t marker = b[at + 1];
        if (marker == 0xD8 || (marker >= 0xD0 && marker <= 0xD7) || marker == 0x01) {
            at += 2;
            continue;
        }
        if (marker == 0xD9) break;
        if (marker == 0xDA) return at + 4 < n ? b[at + 4] : 255;
        const std::size_t segment = (std::size_t(b[at + 2]) << 8) | b[at + 3];
        if (segment < 2) break;
        at += 2 + segment;
    }
    return 255;
}

}  // namespace

std::optional<ImageInfo> readJPEGInfo(const std::uint8_t* b, std::size_t n, bool withMetadata) {
    if (sniffImageFormat(b, n) != ImageFormat::JPEG) return std::nullopt;
    ImageInfo info;
    // Only the first EXIF block is read, as a camera writes one; any others, and every other APPn
    // and comment segment, are stepped over by their length, never copied or parsed.
    bool exifRead = !withMetadata;
    std::size_t at = 2;
    while (at + 4 <= n) {
        if (b[at] != 0xFF) {
            // Stray bytes between segments: skipped up to the next marker, as the decoder does (a
            // search, not a step a byte: there may be megabytes of them).
            const void* next = std::memchr(b + at, 0xFF, n - at);
            if (!next) break;
            at = static_cast<std::size_t>(static_cast<const std::uint8_t*>(next) - b);
            continue;
        }
        std::uint8_t marker = b[at + 1];
        if (marker == 0xFF) {  // fill byte
            ++at;
            continue;
        }
        if (marker == 0xD8 || (marker >= 0xD0 && marker <= 0xD7) || marker == 0x01) {
            at += 2;
            continue;
        }
        if (marker == 0xD9 || marker == 0xDA) return std::nullopt;  // no frame header before the data
        std::size_t segment = (std::size_t(b[at + 2]) << 8) | b[at + 3];
        if (segment < 2) return std::nullopt;
        const std::uint8_t* payload = b + at + 4;
        std::size_t available = std::min(segment - 2, n - (at + 4));
        if (marker == 0xE1 && !exifRead && available == segment - 2)
            exifRead = readExif(payload, available, info);
        if (marker == 0xEE && available >= 12) info.invertedInks = true;
        if (isFrameMarker(marker)) {
            if (available < 6) return std::nullopt;
            info.bitDepth = payload[0];
            info.height = (std::size_t(payload[1]) << 8) | payload[2];
            info.width = (std::size_t(payload[3]) << 8) | payload[4];
            int components = payload[5];
            if (info.width == 0 || info.height == 0) return std::nullopt;
            info.colorModel = components == 1 ? "Gray" : components == 4 ? "CMYK" : "RGB";
            info.interlaced = marker == 0xC2 || marker == 0xC6 || marker == 0xCA || marker == 0xCE;
            for (int c = 0; c < components && 6 + 3 * std::size_t(c) + 2 < available; ++c) {
                const std::uint8_t factors = payload[6 + 3 * c + 1];
                info.sampling.push_back({factors >> 4, factors & 0x0F});
            }
            info.multiScan = info.interlaced || firstScanComponents(b, n, at + 2 + segment) < components;
            return info;
        }
        at += 2 + segment;
    }
    return std::nullopt;
}

namespace {

// The blocks of one component of the frame, padding to whole blocks included.
std::uint64_t componentBlocks(const jpeg_decompress_struct& cinfo, int c) {
    const std::uint64_t maxH = std::max(1, cinfo.max_h_samp_factor),
                        maxV = std::max(1, cinfo.max_v_samp_factor);
    const std::uint64_t h = std::max(1, cinfo.comp_info[c].h_samp_factor);
    const std::uint64_t v = std::max(1, cinfo.comp_info[c].v_samp_factor);
    return ((cinfo.image_width * h + 8 * maxH - 1) / (8 * maxH)) *
           ((cinfo.image_height * v + 8 * maxV - 1) / (8 * maxV));
}

// The blocks all the scans of the file cover together, from the scan headers alone: the
// entropy-coded data between them is stepped over, never decoded. A scan of one component covers
// that component's blocks; an interleaved one every block of every MCU, padding included. A
// component the frame does not have counts as the largest one (the decoder refuses such a scan
// anyway). Counting stops once past `limit`.
std::uint64_t countScanBlocks(const std::uint8_t* b, std::size_t n, const jpeg_decompress_struct& cinfo,
                              std::uint64_t limit) {
    const int components = std::min(cinfo.num_components, MAX_COMPONENTS);
    const std::uint64_t maxH = std::max(1, cinfo.max_h_samp_factor),
                        maxV = std::max(1, cinfo.max_v_samp_factor);
    const std::uint64_t mcus = ((cinfo.image_width + 8 * maxH - 1) / (8 * maxH)) *
                               ((cinfo.image_height + 8 * maxV - 1) / (8 * maxV));
    std::uint64_t own[MAX_COMPONENTS] = {}, perMCU[MAX_COMPONENTS] = {};
    std::uint64_t largest = 0, largestPerMCU = 0;
    for (int c = 0; c < components; ++c) {
        own[c] = componentBlocks(cinfo, c);
        perMCU[c] = std::uint64_t(std::max(1, cinfo.comp_info[c].h_samp_factor)) *
                    std::uint64_t(std::max(1, cinfo.comp_info[c].v_samp_factor));
        largest = std::max(largest, own[c]);
        largestPerMCU = std::max(largestPerMCU, perMCU[c]);
    }
    std::uint64_t total = 0;
    std::size_t at = 2;
    while (at + 4 <= n && total <= limit) {
        if (b[at] != 0xFF) {
            // Entropy-coded data or stray bytes: on to the next marker.
            const void* next = std::memchr(b + at, 0xFF, n - at);
            if (!next) break;
            at = static_cast<std::size_t>(static_cast<const std::uint8_t*>(next) - b);
            continue;
        }
        const std::uint8_t marker = b[at + 1];
        if (marker == 0xFF) {  // fill byte
            ++at;
            continue;
        }
        // A stuffed zero, a restart marker and the like stand alone.
        if (marker == 0x00 || marker == 0x01 || marker == 0xD8 || (marker >= 0xD0 && marker <= 0xD7)) {
            at += 2;
            continue;
        }
        if (marker == 0xD9) break;
        const std::size_t length = std::max<std::size_t>(2, (std::size_t(b[at + 2]) << 8) | b[at + 3]);
        if (marker == 0xDA && at + 4 < n) {
            const std::size_t inScan = b[at + 4];
            std::uint64_t blocks = 0, mcuBlocks = 0;
            for (std::size_t i = 0; i < inScan; ++i) {
                const std::size_t idAt = at + 5 + 2 * i;
                int c = 0;
                while (c < components && (idAt >= n || cinfo.comp_info[c].component_id != b[idAt])) ++c;
                blocks += c < components ? own[c] : largest;
                mcuBlocks += c < components ? perMCU[c] : largestPerMCU;
            }
            total += inScan > 1 ? mcus * mcuBlocks : blocks;
        }
        at += 2 + length;
    }
    return total;
}

// The most blocks the scans of this frame may cover: kMaxJPEGScanBlocks, or as many passes over
// every component of a picture so large that its own progression needs more.
std::uint64_t scanBlockLimit(const jpeg_decompress_struct& cinfo) {
    std::uint64_t pass = 0;
    for (int c = 0; c < std::min(cinfo.num_components, MAX_COMPONENTS); ++c)
        pass += componentBlocks(cinfo, c);
    return std::max(kMaxJPEGScanBlocks, pass * kMaxJPEGScanPasses);
}

// ---- A progressive picture at an eighth
//
// At an eighth of its size the library turns each block of a component into one pixel, from the
// block's DC coefficient alone (components it scales less, such as the chroma of a 4:2:0 picture,
// keep a few coefficients more): the AC scans of such a component, most of a progressive photo's
// bytes, change nothing of the picture, yet reading them costs four times the rest of the decode.
// So the decoder is handed the file in parts with those scans left out, header and data alike. The
// picture is the same as the whole file's, because:
// - the decoder ends a scan at the first marker that is neither a restart nor a stuffed zero (fill
//   bytes before it included), and reads what follows alike whether the scan was there or not;
//   a scan it keeps is handed over exactly as written, damaged as it may be;
// - the scans left out are only those it would have read without error (one component, a band
//   within the block, a step of successive approximation it accepts, a Huffman table of sound
//   codes defined before them), of a component a DC scan has already started (which fixes the
//   component's quantisation table); damaged data in them is never read, and would only have
//   been warned about;
// - the file's scans bring every coefficient of every component to full precision and all end
//   before the end of the image, so the whole file's decode has nothing for the library's
//   smoothing between blocks to estimate; it is turned off here too (coefficients left out would
//   turn it on, and it changes the DC of blocks that have no AC yet);
// - the bounds on scans and work are taken from the whole file, before this plan.
// A file this reading does not vouch for (another coding, a marker it does not know, data that
// ends early, a script that leaves coefficients short, more scans than the decoder takes) is read
// whole, as before.

bool isRestartMarker(std::uint8_t m) {
    return m >= 0xD0 && m <= 0xD7;
}

// Whether the library turns each block of the component into a single pixel at the scale set.
bool showsOnlyDC(const jpeg_component_info& component) {
#if JPEG_LIB_VERSION >= 70
    return component.DCT_h_scaled_size == 1 && component.DCT_v_scaled_size == 1;
#else
    return component.DCT_scaled_size == 1;
#endif
}

// Where the entropy-coded data from `at` ends: at the marker after it (the last of any fill
// bytes before the marker's code), or at n when the bytes end first.
std::size_t entropyEnd(const std::uint8_t* b, std::size_t n, std::size_t at) {
    while (at < n) {
        const void* next = std::memchr(b + at, 0xFF, n - at);
        if (!next) return n;
        at = static_cast<std::size_t>(static_cast<const std::uint8_t*>(next) - b);
        std::size_t code = at + 1;
        while (code < n && b[code] == 0xFF) ++code;
        if (code >= n) return n;
        if (b[code] != 0x00 && !isRestartMarker(b[code])) return code - 1;
        at = code + 1;
    }
    return n;
}

// Notes which AC tables a DHT segment's payload defines and whether their codes are sound: given
// in order of length, each length's codes fit in it with its all-ones code unused, as the decoder
// requires of a table it builds. False when the payload is not laid out as the decoder reads it.
bool readHuffmanTables(const std::uint8_t* p, std::size_t length, bool* acSound) {
    std::size_t at = 0;
    while (at < length) {
        if (length - at < 17) return false;
        const int kind = p[at] >> 4, slot = p[at] & 0x0F;
        if (kind > 1 || slot >= NUM_HUFF_TBLS) return false;
        std::size_t count = 0;
        std::uint32_t code = 0;
        bool sound = true;
        for (int bits = 1; bits <= 16; ++bits) {
            count += p[at + bits];
            code += p[at + bits];
            if (code >= (1u << bits)) sound = false;
            code <<= 1;
        }
        if (count > 256 || length - at - 17 < count) return false;
        if (kind == 1) acSound[slot] = sound && count > 0;
        at += 17 + count;
    }
    return true;
}

// The parts of the file to hand the decoder of `cinfo` (its header read, its scale set), so that
// it passes over the AC scans of the components it shows by their DC coefficients alone. Answers
// the scans left out; 0 when the file is to be read whole (nothing to leave out, or bytes this
// reading does not vouch for). Steps over entropy-coded data by searching for markers, as
// countScanBlocks does: a pass over the file, never a decode.
int planEighthRead(const std::uint8_t* b, std::size_t n, const jpeg_decompress_struct& cinfo,
                   std::vector<Span>* parts) {
    const int components = std::min(cinfo.num_components, MAX_COMPONENTS);
    bool dcOnly[MAX_COMPONENTS] = {}, started[MAX_COMPONENTS] = {};
    for (int c = 0; c < components; ++c) dcOnly[c] = showsOnlyDC(cinfo.comp_info[c]);
    // The precision (the bits not yet sent) each coefficient's scans so far leave it at: 255
    // before any scan, 0 once known whole.
    std::uint8_t precision[MAX_COMPONENTS][64];
    std::memset(precision, 255, sizeof precision);
    bool ended = false;
    bool acSound[NUM_HUFF_TBLS] = {};
    bool frameRead = false;
    int scans = 0, skipped = 0;
    std::size_t keptFrom = 0, at = 2;
    parts->clear();
    if (n < 4 || b[0] != 0xFF || b[1] != 0xD8) return 0;
    while (at < n) {
        if (b[at] != 0xFF) {
            // Stray bytes between segments, which the decoder steps over as it finds them.
            const void* next = std::memchr(b + at, 0xFF, n - at);
            if (!next) break;
            at = static_cast<std::size_t>(static_cast<const std::uint8_t*>(next) - b);
            continue;
        }
        if (at + 1 >= n) break;
        const std::uint8_t marker = b[at + 1];
        if (marker == 0xFF) {  // fill byte
            ++at;
            continue;
        }
        // A stuffed zero or a restart marker out of a scan: passed over by the decoder.
        if (marker == 0x00 || isRestartMarker(marker)) {
            at += 2;
            continue;
        }
        // The end of the image: what follows is never read.
        if (marker == 0xD9) {
            ended = true;
            break;
        }
        if (n - at < 4) return 0;
        const std::size_t length = (std::size_t(b[at + 2]) << 8) | b[at + 3];
        if (length < 2) return 0;
        const std::size_t next = at + 2 + length;
        if (marker == 0xC2) {
            if (frameRead) return 0;
            frameRead = true;
            at = next;
            continue;
        }
        if (marker == 0xC4) {
            if (next > n) return 0;
            if (!readHuffmanTables(b + at + 4, length - 2, acSound)) return 0;
            at = next;
            continue;
        }
        // Quantisation tables, restart interval, line count, application data and comments.
        if (marker == 0xDB || marker == 0xDD || marker == 0xDC || (marker >= 0xE0 && marker <= 0xEF) ||
            marker == 0xFE) {
            at = next;
            continue;
        }
        if (marker != 0xDA || !frameRead || next > n || ++scans > kMaxJPEGScans) return 0;
        const std::size_t inScan = b[at + 4];
        if (inScan < 1 || inScan > MAX_COMPS_IN_SCAN || length != 6 + 2 * inScan) return 0;
        int index[MAX_COMPS_IN_SCAN] = {};
        for (std::size_t i = 0; i < inScan; ++i) {
            int c = 0;
            while (c < components && cinfo.comp_info[c].component_id != b[at + 5 + 2 * i]) ++c;
            if (c == components) return 0;
            index[i] = c;
        }
        const std::size_t params = at + 5 + 2 * inScan;
        const int ss = b[params], se = b[params + 1], ah = b[params + 2] >> 4, al = b[params + 2] & 0x0F;
        const std::size_t end = entropyEnd(b, n, next);
        if (end == n) return 0;
        for (std::size_t i = 0; i < inScan; ++i)
            for (int k = ss; k <= std::min(se, 63); ++k) precision[index[i]][k] = std::uint8_t(al);
        if (ss == 0) {
            // A DC scan, kept (a malformed one too, which the decoder refuses as it would anyway).
            if (ah == 0)
                for (std::size_t i = 0; i < inScan; ++i) started[index[i]] = true;
            at = end;
            continue;
        }
        const int c = index[0];
        if (inScan != 1 || !dcOnly[c]) {
            at = end;
            continue;
        }
        const int table = b[at + 6] & 0x0F;
        if (!started[c] || se > 63 || ss > se || (ah != 0 && al != ah - 1) || al > 13 ||
            table >= NUM_HUFF_TBLS || !acSound[table])
            return 0;
        if (at > keptFrom) parts->push_back({keptFrom, at});
        keptFrom = end;
        ++skipped;
        at = end;
    }
    if (skipped == 0 || !ended) return 0;
    for (int c = 0; c < components; ++c)
        for (int k = 0; k < 64; ++k)
            if (precision[c][k] != 0) return 0;
    if (n > keptFrom) parts->push_back({keptFrom, n});
    return skipped;
}

// planEighthRead, with no exception leaving it: it runs between the library's calls.
int planEighthReadSafely(const std::uint8_t* b, std::size_t n, const jpeg_decompress_struct& cinfo,
                         std::vector<Span>* parts) {
    try {
        return planEighthRead(b, n, cinfo, parts);
    } catch (const std::bad_alloc&) {
        parts->clear();
        return 0;
    }
}

struct DecodeResult {
    std::size_t width = 0, height = 0;
    std::uint64_t estimatedBytes = 0;
    std::uint64_t scanBlocks = 0;
    bool tooMuchWork = false;
    bool overBudget = false;
    bool started = false;
    bool cmyk = false;
    bool ranOut = false;
    bool sequential = true;
    bool anyScan = false;
    JDIMENSION rowsAtEnd = 0;
    int scansSkipped = 0;
};

// Everything that can longjmp lives here, with no C++ object alive across it; the caller owns
// the output buffer, which the allocate callback sizes once the header is read.
bool runDecode(jpeg_decompress_struct* cinfo, Source* src, jpeg_progress_mgr* progress,
               const JPEGDecodeOptions& options, std::vector<std::uint8_t>* pixels, DecodeResult* result,
               bool (*allocate)(std::vector<std::uint8_t>*, std::size_t)) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    if (setjmp(err->jump)) return false;
    jpeg_create_decompress(cinfo);
    // Bounds what a progressive picture's coefficient store may take; there is no backing store,
    // so asking for more is an error rather than a swap to disk.
    cinfo->mem->max_memory_to_use = 1200L << 20;
    cinfo->progress = progress;
    attachSource(cinfo, src, src->bytes, src->length);
    if (jpeg_read_header(cinfo, TRUE) != JPEG_HEADER_OK) return false;
    if (!imageSizeAllowed(cinfo->image_width, cinfo->image_height)) return false;
    if (!options.partial) {
        // Every block of the largest component costs at least one bit in the first scan that
        // covers it, so a complete file cannot be shorter than this.
        std::uint64_t blocks = 0;
        for (int c = 0; c < cinfo->num_components; ++c) {
            std::uint64_t bw = (std::uint64_t(cinfo->image_width) * cinfo->comp_info[c].h_samp_factor +
                                8 * cinfo->max_h_samp_factor - 1) /
                               (8 * cinfo->max_h_samp_factor);
            std::uint64_t bh = (std::uint64_t(cinfo->image_height) * cinfo->comp_info[c].v_samp_factor +
                                8 * cinfo->max_v_samp_factor - 1) /
                               (8 * cinfo->max_v_samp_factor);
            blocks = std::max(blocks, bw * bh);
        }
        if (std::uint64_t(src->length) * 8 < blocks) return false;
    }
    bool cmyk = cinfo->jpeg_color_space == JCS_CMYK || cinfo->jpeg_color_space == JCS_YCCK;
    cinfo->out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRX;
    unsigned denom = options.scaleDenominator;
    if (denom == 2 || denom == 4 || denom == 8) {
        cinfo->scale_num = 1;
        cinfo->scale_denom = denom;
    } else {
        denom = 1;
    }
    cinfo->dct_method = JDCT_ISLOW;
    result->sequential = !jpeg_has_multiple_scans(cinfo);
    // What the library read, not what a header parser of our own would say: the estimate and
    // the bound below hold for the frame the decoder will really build.
    ImageInfo::Sampling sampling[MAX_COMPONENTS];
    const int components = std::min(cinfo->num_components, MAX_COMPONENTS);
    for (int c = 0; c < components; ++c)
        sampling[c] = {cinfo->comp_info[c].h_samp_factor, cinfo->comp_info[c].v_samp_factor};
    result->estimatedBytes = estimateJPEGDecodeBytes(cinfo->image_width, cinfo->image_height, sampling,
                                                     components, !result->sequential, denom);
    if (options.maxMemoryBytes > 0) {
        if (result->estimatedBytes > options.maxMemoryBytes) {
            result->overBudget = true;
            return false;
        }
        // The output buffer is ours; the library gets the rest, and a coefficient store past it
        // fails (it would need the backing store there is none of).
        const std::uint64_t output = std::uint64_t((cinfo->image_width + denom - 1) / denom) *
                                     ((cinfo->image_height + denom - 1) / denom) * 4;
        // (Never 0, which would mean no bound at all.)
        cinfo->mem->max_memory_to_use = static_cast<long>(
            std::max<std::uint64_t>(1, options.maxMemoryBytes - std::min(output, options.maxMemoryBytes)));
    }
    if (!result->sequential) {
        // Refused from its scan headers: decoding such a file is a sweep over the picture per scan.
        const std::uint64_t limit = scanBlockLimit(*cinfo);
        result->scanBlocks = countScanBlocks(src->bytes, src->length, *cinfo, limit);
        if (result->scanBlocks > limit) {
            result->tooMuchWork = true;
            return false;
        }
    }
    if (denom == 8 && !options.readEveryScan && cinfo->progressive_mode && !cinfo->arith_code &&
        !src->ranOut && src->parts) {
        // The components' scales as the decoder will use them.
        jpeg_calc_output_dimensions(cinfo);
        const int skipped = planEighthReadSafely(src->bytes, src->length, *cinfo, src->parts);
        // The header is read up to the first scan's data, which the first part holds.
        const std::size_t read = static_cast<std::size_t>(src->pub.next_input_byte - src->bytes);
        if (skipped > 0 && src->parts->front().begin == 0 && read <= src->parts->front().end) {
            src->pub.bytes_in_buffer = src->parts->front().end - read;
            src->inParts = true;
            src->nextPart = 1;
            result->scansSkipped = skipped;
            // As the whole file's decode, which has nothing to smooth (see planEighthRead).
            cinfo->do_block_smoothing = FALSE;
        }
    }
    result->started = true;
    if (!jpeg_start_decompress(cinfo)) return false;
    result->width = cinfo->output_width;
    result->height = cinfo->output_height;
    result->cmyk = cmyk;
    if (cinfo->output_components != 4) return false;
    if (!allocate(pixels, result->width * result->height * 4)) return false;
    std::uint8_t* base = pixels->data();
    const std::size_t stride = result->width * 4;
    JSAMPROW rows[8];
    while (cinfo->output_scanline < cinfo->output_height) {
        int count = std::min<int>(8, static_cast<int>(cinfo->output_height - cinfo->output_scanline));
        for (int i = 0; i < count; ++i) rows[i] = base + (cinfo->output_scanline + i) * stride;
        if (jpeg_read_scanlines(cinfo, rows, count) == 0) break;
        if (src->ranOut && !options.partial) return false;
        // Rows of a sequential picture past the end of the data are blanked anyway.
        if (src->ranOut && result->sequential) break;
    }
    result->ranOut = src->ranOut;
    result->rowsAtEnd = src->ranOut ? src->rowsAtEnd : cinfo->output_height;
    result->anyScan = cinfo->input_scan_number > 0;
    if (!src->ranOut) jpeg_finish_decompress(cinfo);
    if (src->ranOut && !options.partial) return false;
    return true;
}

bool allocateBuffer(std::vector<std::uint8_t>* buffer, std::size_t size) {
    try {
        buffer->assign(size, 0);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

CGImageRef decodeReported(const std::uint8_t* bytes, std::size_t length, const JPEGDecodeOptions& options) {
    if (sniffImageFormat(bytes, length) != ImageFormat::JPEG) return nullptr;
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    std::memset(&cinfo, 0, sizeof cinfo);
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = onError;
    err.pub.emit_message = onMessage;
    err.pub.output_message = onOutputMessage;
    Source src{};
    src.bytes = bytes;
    src.length = length;
    std::vector<Span> parts;
    src.parts = &parts;
    jpeg_progress_mgr progress{};
    progress.progress_monitor = onProgress;
    std::vector<std::uint8_t> pixels;
    DecodeResult result;
    bool ok = runDecode(&cinfo, &src, &progress, options, &pixels, &result, allocateBuffer);
    if (options.report) {
        using Refusal = JPEGDecodeOptions::Report::Refusal;
        options.report->estimatedBytes = result.estimatedBytes;
        options.report->scansRead = cinfo.input_scan_number;
        options.report->decodingStarted = result.started;
        options.report->scanBlocks = result.scanBlocks;
        options.report->scansSkipped = result.scansSkipped;
        options.report->refusal = result.overBudget    ? Refusal::OverBudget
                                  : result.tooMuchWork ? Refusal::TooMuchWork
                                  : err.tooManyScans   ? Refusal::TooManyScans
                                                       : Refusal::Invalid;
    }
    jpeg_destroy_decompress(&cinfo);
    if (!ok || result.width == 0 || pixels.empty()) return nullptr;

    bool blankTail = false;
    if (result.ranOut) {
        if (result.sequential) {
            if (result.rowsAtEnd == 0) return nullptr;
            blankTail = result.rowsAtEnd < result.height;
        } else if (!result.anyScan) {
            return nullptr;
        }
    }
    const std::size_t w = result.width, h = result.height;
    if (result.cmyk) {
        // CMYK written with an APP14 segment stores inverted inks; the library hands them over
        // as stored.
        auto header = readJPEGInfo(bytes, length, false);
        bool inverted = header && header->invertedInks;
        std::uint8_t* p = pixels.data();
        if (options.keepCMYK) {
            if (inverted) {
                for (std::size_t i = 0; i < w * h * 4; ++i) p[i] = static_cast<std::uint8_t>(255 - p[i]);
            }
            if (blankTail) std::memset(p + result.rowsAtEnd * w * 4, 0, (h - result.rowsAtEnd) * w * 4);
            return CGImageCreate(w, h, 8, 32, w * 4, CGColorSpaceCreateDeviceCMYK(), kCGImageAlphaNone,
                                 CGDataProviderCreateWithData(NSData(std::move(pixels))));
        }
        for (std::size_t i = 0; i < w * h; ++i, p += 4) {
            unsigned c = p[0], m = p[1], y = p[2], k = p[3];
            if (!inverted) {
                c = 255 - c;
                m = 255 - m;
                y = 255 - y;
                k = 255 - k;
            }
            // Now c, m, y, k are the amounts of paper left showing: colour = c * k.
            p[0] = static_cast<std::uint8_t>((y * k + 127) / 255);
            p[1] = static_cast<std::uint8_t>((m * k + 127) / 255);
            p[2] = static_cast<std::uint8_t>((c * k + 127) / 255);
            p[3] = 255;
        }
    }
    if (blankTail) std::memset(pixels.data() + result.rowsAtEnd * w * 4, 0, (h - result.rowsAtEnd) * w * 4);
    return makeBGRAImage(w, h, NSData(std::move(pixels)), blankTail);
}

}  // namespace

CGImageRef decodeJPEG(const std::uint8_t* bytes, std::size_t length, const JPEGDecodeOptions& options) {
    if (options.report) *options.report = JPEGDecodeOptions::Report{};
    CGImageRef image = decodeReported(bytes, length, options);
    if (options.report) {
        using Refusal = JPEGDecodeOptions::Report::Refusal;
        if (image)
            options.report->refusal = Refusal::None;
        else if (options.report->refusal == Refusal::None)
            options.report->refusal = Refusal::Invalid;
    }
    return image;
}

// ---------------------------------------------------------------------------------------------
namespace {

// A minimal EXIF block carrying only the orientation.
std::vector<std::uint8_t> orientationExif(int orientation) {
    std::vector<std::uint8_t> e = {'E',  'x',
                                   'i',  'f',
                                   0,    0,
                                   'M',  'M',
                                   0,    42,
                                   0,    0,
                                   0,    8,  // big-endian TIFF header, IFD at 8
                                   0,    1,  // one entry
                                   0x01, 0x12,
                                   0,    3,
                                   0,    0,
                                   0,    1,  // orientation, SHORT, count 1
                                   0,    static_cast<std::uint8_t>(orientation),
                                   0,    0,
                                   0,    0,
                                   0,    0};  // no next IFD
    return e;
}

bool runEncode(jpeg_compress_struct* cinfo, ErrorManager* err, const std::uint8_t* bgra, std::size_t w,
               std::size_t h, int quality, const std::vector<std::uint8_t>* exif, unsigned char** out,
               unsigned long* outSize) {
    if (setjmp(err->jump)) return false;
    jpeg_create_compress(cinfo);
    jpeg_mem_dest(cinfo, out, outSize);
    cinfo->image_width = static_cast<JDIMENSION>(w);
    cinfo->image_height = static_cast<JDIMENSION>(h);
    cinfo->input_components = 4;
    cinfo->in_color_space = JCS_EXT_BGRX;
    jpeg_set_defaults(cinfo);
    jpeg_set_quality(cinfo, quality, TRUE);
    jpeg_start_compress(cinfo, TRUE);
    if (exif) jpeg_write_marker(cinfo, JPEG_APP0 + 1, exif->data(), static_cast<unsigned>(exif->size()));
    while (cinfo->next_scanline < cinfo->image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(bgra + std::size_t(cinfo->next_scanline) * w * 4);
        jpeg_write_scanlines(cinfo, &row, 1);
    }
    jpeg_finish_compress(cinfo);
    return true;
}

}  // namespace

std::optional<NSData> encodeJPEG(const CGImage& image, double quality, int exifOrientation) {
    const std::size_t w = image.width(), h = image.height();
    if (w == 0 || h == 0 || w > JPEG_MAX_DIMENSION || h > JPEG_MAX_DIMENSION) return std::nullopt;
    NSData bgra = pixelsAsPremultipliedBGRA(image);
    if (bgra.empty()) return std::nullopt;
    if (!(quality >= 0)) quality = 0;  // NaN too
    int q = std::clamp(static_cast<int>(std::lround(quality * 100)), 1, 100);
    std::vector<std::uint8_t> exif;
    if (exifOrientation >= 2 && exifOrientation <= 8) exif = orientationExif(exifOrientation);

    jpeg_compress_struct cinfo;
    ErrorManager err;
    std::memset(&cinfo, 0, sizeof cinfo);
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = onError;
    err.pub.emit_message = onMessage;
    err.pub.output_message = onOutputMessage;
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    bool ok = runEncode(&cinfo, &err, bgra.bytes(), w, h, q, exif.empty() ? nullptr : &exif, &out, &outSize);
    jpeg_destroy_compress(&cinfo);
    std::optional<NSData> result;
    if (ok && out && outSize > 0) result = NSData(out, outSize);
    std::free(out);
    return result;
}

}  // namespace detail
