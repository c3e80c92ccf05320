#include "sdk/weibo/util/WBSDKUtil.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "security/CommonDigest.h"

std::string WBSDKUtil::md5(const std::string& text) {
    unsigned char digest[CC_MD5_DIGEST_LENGTH];
    CC_MD5(text.data(), static_cast<CC_LONG>(text.size()), digest);
    static const char hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(32);
    for (unsigned char b : digest) {
        out += hex[b >> 4];
        out += hex[b & 15];
    }
    return out;
}

namespace {
const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::size_t kBytesPerLine = 48;
}  // namespace

char* wbsdk_base64_encode(const void* bytes, std::size_t length, bool lineBreaks, std::size_t* outLength) {
    const auto* in = static_cast<const unsigned char*>(bytes);
    std::size_t groups = (length + 2) / 3;
    std::size_t capacity = groups * 4 + (lineBreaks ? (groups / 16) * 2 : 0) + 1;
    auto* out = static_cast<char*>(std::malloc(capacity));
    if (!out) return nullptr;
    std::size_t o = 0, i = 0;
    while (i < length) {
        std::size_t lineEnd = lineBreaks ? std::min(length, i + kBytesPerLine) : length;
        for (; i + 3 <= lineEnd; i += 3) {
            unsigned v = (in[i] << 16) | (in[i + 1] << 8) | in[i + 2];
            out[o++] = kAlphabet[(v >> 18) & 63];
            out[o++] = kAlphabet[(v >> 12) & 63];
            out[o++] = kAlphabet[(v >> 6) & 63];
            out[o++] = kAlphabet[v & 63];
        }
        if (i < lineEnd) break;  // the remainder of the last line
        if (lineBreaks && i < length) {
            out[o++] = '\r';
            out[o++] = '\n';
        }
    }
    std::size_t rest = length - i;
    if (rest == 2) {
        unsigned v = (in[i] << 16) | (in[i + 1] << 8);
        out[o++] = kAlphabet[(v >> 18) & 63];
        out[o++] = kAlphabet[(v >> 12) & 63];
        out[o++] = kAlphabet[(v >> 6) & 63];
        out[o++] = '=';
    } else if (rest == 1) {
        unsigned v = in[i] << 16;
        out[o++] = kAlphabet[(v >> 18) & 63];
        out[o++] = kAlphabet[(v >> 12) & 63];
        out[o++] = '=';
        out[o++] = '=';
    }
    out[o] = '\0';
    if (outLength) *outLength = o;
    return out;
}

void* wbsdk_base64_decode(const char* text, std::size_t length, std::size_t* outLength) {
    static const auto table = [] {
        std::array<signed char, 256> t{};
        t.fill(-1);
        for (int k = 0; k < 64; ++k)
            t[static_cast<unsigned char>(kAlphabet[k])] = static_cast<signed char>(k);
        return t;
    }();
    if (length == static_cast<std::size_t>(-1)) length = text ? std::strlen(text) : 0;
    std::size_t capacity = 3 * ((length + 3) / 4);
    auto* out = static_cast<unsigned char*>(std::malloc(capacity ? capacity : 1));
    if (!out) return nullptr;
    std::size_t o = 0;
    unsigned gathered = 0;
    int count = 0;
    for (std::size_t i = 0; i < length; ++i) {
        signed char v = table[static_cast<unsigned char>(text[i])];
        if (v < 0) continue;
        gathered = (gathered << 6) | static_cast<unsigned>(v);
        if (++count == 4) {
            out[o++] = static_cast<unsigned char>(gathered >> 16);
            out[o++] = static_cast<unsigned char>(gathered >> 8);
            out[o++] = static_cast<unsigned char>(gathered);
            gathered = 0;
            count = 0;
        }
    }
    if (count == 3) {
        out[o++] = static_cast<unsigned char>(gathered >> 10);
        out[o++] = static_cast<unsigned char>(gathered >> 2);
    } else if (count == 2) {
        out[o++] = static_cast<unsigned char>(gathered >> 4);
    }
    if (outLength) *outLength = o;
    return out;
}

namespace NSData_WBSDKBase64 {

std::string wbsdk_base64EncodedString(const NSData& data) {
    std::size_t n = 0;
    char* text = wbsdk_base64_encode(data.bytes(), data.length(), true, &n);
    if (!text) return std::string();
    std::string out(text, n);
    std::free(text);
    return out;
}

NSData wbsdk_dataFromBase64String(const std::string& text) {
    for (unsigned char c : text)
        if (c >= 0x80) return NSData();
    std::size_t n = 0;
    void* bytes = wbsdk_base64_decode(text.data(), text.size(), &n);
    if (!bytes) return NSData();
    NSData out(bytes, n);
    std::free(bytes);
    return out;
}

}  // namespace NSData_WBSDKBase64

namespace NSData_WBSDKGZIP {

std::optional<NSData> wbsdk_gzippedDataWithCompressionLevel(const NSData& data, float level) {
    if (data.length() == 0) return std::nullopt;
    int zlevel = level < 0 ? Z_DEFAULT_COMPRESSION : static_cast<int>(std::lround(level * 9.0f));
    if (zlevel > 9) zlevel = 9;
    z_stream stream{};
    stream.next_in = const_cast<Bytef*>(data.bytes());
    stream.avail_in = static_cast<uInt>(data.length());
    if (deflateInit2(&stream, zlevel, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY) != Z_OK) return std::nullopt;
    std::vector<std::uint8_t> out(16384);
    int status;
    do {
        if (stream.total_out >= out.size()) out.resize(out.size() + 16384);
        stream.next_out = out.data() + stream.total_out;
        stream.avail_out = static_cast<uInt>(out.size() - stream.total_out);
        status = deflate(&stream, Z_FINISH);
    } while (status == Z_OK || (status == Z_BUF_ERROR && stream.avail_out == 0));
    deflateEnd(&stream);
    if (status != Z_STREAM_END) return std::nullopt;
    out.resize(stream.total_out);
    return NSData(std::move(out));
}

std::optional<NSData> wbsdk_gunzippedData(const NSData& data) {
    if (data.length() == 0) return std::nullopt;
    std::size_t half = data.length() / 2 ? data.length() / 2 : 1;
    std::vector<std::uint8_t> out(data.length() + half);
    z_stream stream{};
    stream.next_in = const_cast<Bytef*>(data.bytes());
    stream.avail_in = static_cast<uInt>(data.length());
    if (inflateInit2(&stream, 47) != Z_OK) return std::nullopt;
    int status;
    do {
        if (stream.total_out >= out.size()) {
            if (out.size() >= kWBSDKMaximumInflatedSize) {
                status = Z_MEM_ERROR;
                break;
            }
            out.resize(std::min(out.size() + half, kWBSDKMaximumInflatedSize));
        }
        stream.next_out = out.data() + stream.total_out;
        stream.avail_out = static_cast<uInt>(out.size() - stream.total_out);
        status = inflate(&stream, Z_SYNC_FLUSH);
    } while (status == Z_OK);
    bool ended = inflateEnd(&stream) == Z_OK;
    if (status != Z_STREAM_END || !ended) return std::nullopt;
    out.resize(stream.total_out);
    return NSData(std::move(out));
}

}  // namespace NSData_WBSDKGZIP
