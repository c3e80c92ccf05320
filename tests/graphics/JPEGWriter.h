#pragma once
// JPEGs of any size, sampling and progression (the library's, or a scan script of one's own, with
// restart markers or not) for the decoders' tests, written with the format library a row at a
// time: a gradient with a little noise (a photo's worth of detail), or one flat colour. Also the hostile
// variants made from them: a header that claims another size, and a progressive file whose last scan repeats.

#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <string>
#include <vector>

// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>

namespace jpegwriter {

struct Recipe {
    int width = 64, height = 48;
    int components = 3;       // 1 grey, 3 colour, 4 CMYK
    bool subsampled = false;  // colour at 4:2:0 rather than 4:4:4
    bool progressive = false;
    bool flat = false;  // one colour rather than a noisy gradient
    int quality = 80;
    int restartInterval = 0;  // MCUs between restart markers; 0: none
    bool arithmetic = false;  // arithmetic coding rather than Huffman
    // When set, the luma's sampling factors (the other components' are 1), instead of subsampled's.
    int lumaHorizontal = 0, lumaVertical = 0;
    // When not empty, the scans written, instead of the library's progression or a single scan.
    std::vector<jpeg_scan_info> script = {};
};

// A scan of a script: the components (by their index in the frame), the band of coefficients and
// the successive approximation's bits before and after.
inline jpeg_scan_info scan(std::initializer_list<int> components, int ss, int se, int ah = 0, int al = 0) {
    jpeg_scan_info info{};
    for (int c : components) info.component_index[info.comps_in_scan++] = c;
    info.Ss = ss, info.Se = se, info.Ah = ah, info.Al = al;
    return info;
}

namespace internal {
struct Error {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};
inline void onError(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<Error*>(cinfo->err)->jump, 1);
}
// Kept free of C++ objects with destructors, for the longjmp.
inline bool run(jpeg_compress_struct* cinfo, const Recipe& r, unsigned char** out, unsigned long* size,
                std::uint8_t* row) {
    if (setjmp(reinterpret_cast<Error*>(cinfo->err)->jump)) return false;
    jpeg_create_compress(cinfo);
    jpeg_mem_dest(cinfo, out, size);
    cinfo->image_width = JDIMENSION(r.width);
    cinfo->image_height = JDIMENSION(r.height);
    cinfo->input_components = r.components;
    cinfo->in_color_space = r.components == 1 ? JCS_GRAYSCALE : r.components == 4 ? JCS_CMYK : JCS_RGB;
    jpeg_set_defaults(cinfo);
    jpeg_set_quality(cinfo, r.quality, TRUE);
    for (int c = 0; c < cinfo->num_components; ++c) {
        const bool luma = c == 0 && r.components == 3 && r.subsampled;
        cinfo->comp_info[c].h_samp_factor = luma ? 2 : 1;
        cinfo->comp_info[c].v_samp_factor = luma ? 2 : 1;
        if (c == 0 && r.lumaHorizontal > 0) {
            cinfo->comp_info[c].h_samp_factor = r.lumaHorizontal;
            cinfo->comp_info[c].v_samp_factor = r.lumaVertical;
        }
    }
    if (r.progressive) jpeg_simple_progression(cinfo);
    if (!r.script.empty()) {
        cinfo->scan_info = r.script.data();
        cinfo->num_scans = int(r.script.size());
    }
    cinfo->restart_interval = unsigned(r.restartInterval);
    cinfo->arith_code = r.arithmetic;
    jpeg_start_compress(cinfo, TRUE);
    std::uint32_t noise = 12345;
    while (cinfo->next_scanline < cinfo->image_height) {
        const int y = int(cinfo->next_scanline);
        for (int x = 0; x < r.width; ++x)
            for (int c = 0; c < r.components; ++c) {
                noise = noise * 1103515245u + 12345u;
                row[std::size_t(x) * r.components + c] =
                    r.flat ? std::uint8_t(60 + 50 * c)
                           : std::uint8_t((x * 200 / r.width + y * 50 / r.height + c * 40 + (noise >> 28)) &
                                          0xFF);
            }
        JSAMPROW rows[1] = {row};
        jpeg_write_scanlines(cinfo, rows, 1);
    }
    jpeg_finish_compress(cinfo);
    return true;
}
}  // namespace internal

inline std::string write(const Recipe& r) {
    jpeg_compress_struct cinfo{};
    internal::Error err;
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = internal::onError;
    unsigned char* out = nullptr;
    unsigned long size = 0;
    std::vector<std::uint8_t> row(std::size_t(r.width) * r.components);
    const bool ok = internal::run(&cinfo, r, &out, &size, row.data());
    jpeg_destroy_compress(&cinfo);
    std::string bytes = ok && out ? std::string(reinterpret_cast<char*>(out), size) : std::string();
    std::free(out);
    return bytes;
}

// The file with its frame header claiming width x height.
inline std::string withClaimedSize(std::string bytes, int width, int height) {
    for (std::size_t at = 2; at + 9 < bytes.size();) {
        const auto m = std::uint8_t(bytes[at + 1]);
        const std::size_t length = (std::uint8_t(bytes[at + 2]) << 8) | std::uint8_t(bytes[at + 3]);
        if (m >= 0xC0 && m <= 0xC2) {
            bytes[at + 5] = char(height >> 8), bytes[at + 6] = char(height);
            bytes[at + 7] = char(width >> 8), bytes[at + 8] = char(width);
            break;
        }
        at += 2 + length;
    }
    return bytes;
}

// A progressive file with its last scan (header and data) written `copies` more times before the
// end of the image.
inline std::string withRepeatedLastScan(const std::string& bytes, int copies) {
    std::size_t lastScan = std::string::npos;
    for (std::size_t at = 0; at + 1 < bytes.size(); ++at)
        if (std::uint8_t(bytes[at]) == 0xFF && std::uint8_t(bytes[at + 1]) == 0xDA) lastScan = at;
    if (lastScan == std::string::npos || bytes.size() < 2) return bytes;
    const std::string scan = bytes.substr(lastScan, bytes.size() - 2 - lastScan);
    std::string out = bytes.substr(0, bytes.size() - 2);
    for (int i = 0; i < copies; ++i) out += scan;
    return out + "\xFF\xD9";
}

}  // namespace jpegwriter
