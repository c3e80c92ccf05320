#include "foundation/NSData+Base64.h"

#include <array>
#include <cstdint>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// 0–63 for the alphabet, -1 for "=", -2 for anything else.
constexpr std::array<std::int8_t, 256> makeTable() {
    std::array<std::int8_t, 256> table{};
    for (auto& v : table) v = -2;
    for (int k = 0; k < 64; ++k)
        table[static_cast<unsigned char>(kAlphabet[k])] = static_cast<std::int8_t>(k);
    table[static_cast<unsigned char>('=')] = -1;
    return table;
}
constexpr std::array<std::int8_t, 256> kTable = makeTable();

}  // namespace

namespace NSData_Base64 {

std::string base64EncodedString(std::string_view bytes, NSDataBase64EncodingOptions options) {
    std::size_t lineLength = 0;
    if (options & NSDataBase64Encoding64CharacterLineLength) {
        lineLength = 64;
    } else if (options & NSDataBase64Encoding76CharacterLineLength) {
        lineLength = 76;
    }
    std::string ending;
    if (lineLength) {
        bool cr = options & NSDataBase64EncodingEndLineWithCarriageReturn;
        bool lf = options & NSDataBase64EncodingEndLineWithLineFeed;
        if (!cr && !lf) cr = lf = true;
        if (cr) ending.push_back('\r');
        if (lf) ending.push_back('\n');
    }

    const std::size_t encodedLength = (bytes.size() + 2) / 3 * 4;
    std::string out;
    out.reserve(encodedLength + (lineLength ? encodedLength / lineLength * ending.size() : 0));
    std::size_t column = 0;
    auto put = [&](char c) {
        if (lineLength && column == lineLength) {
            out += ending;
            column = 0;
        }
        out.push_back(c);
        ++column;
    };
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        std::uint32_t v = (std::uint32_t(p[i]) << 16) | (std::uint32_t(p[i + 1]) << 8) | p[i + 2];
        put(kAlphabet[(v >> 18) & 63]);
        put(kAlphabet[(v >> 12) & 63]);
        put(kAlphabet[(v >> 6) & 63]);
        put(kAlphabet[v & 63]);
    }
    std::size_t rest = bytes.size() - i;
    if (rest == 1) {
        std::uint32_t v = std::uint32_t(p[i]) << 16;
        put(kAlphabet[(v >> 18) & 63]);
        put(kAlphabet[(v >> 12) & 63]);
        put('=');
        put('=');
    } else if (rest == 2) {
        std::uint32_t v = (std::uint32_t(p[i]) << 16) | (std::uint32_t(p[i + 1]) << 8);
        put(kAlphabet[(v >> 18) & 63]);
        put(kAlphabet[(v >> 12) & 63]);
        put(kAlphabet[(v >> 6) & 63]);
        put('=');
    }
    return out;
}

std::string base64EncodedString(const NSData& data, NSDataBase64EncodingOptions options) {
    return base64EncodedString(data.view(), options);
}

NSData base64EncodedData(const NSData& data, NSDataBase64EncodingOptions options) {
    return NSData::fromString(base64EncodedString(data, options));
}

std::optional<NSData> dataFromBase64String(std::string_view text, NSDataBase64DecodingOptions options) {
    const bool skipUnknown = options & NSDataBase64DecodingIgnoreUnknownCharacters;
    std::vector<std::uint8_t> out;
    out.reserve(text.size() / 4 * 3);
    std::uint32_t group = 0;
    int count = 0;    // values gathered in the current group of four
    int padding = 0;  // "=" seen; only more "=" may follow
    for (char ch : text) {
        std::int8_t v = kTable[static_cast<unsigned char>(ch)];
        if (v == -2) {
            if (skipUnknown) continue;
            return std::nullopt;
        }
        if (v == -1) {
            // Padding may only fill the third and fourth places of the last group.
            if (count < 2) return std::nullopt;
            ++padding;
            ++count;
            if (count == 4) {
                if (padding == 2) {
                    out.push_back(static_cast<std::uint8_t>(group >> 4));
                } else {
                    out.push_back(static_cast<std::uint8_t>(group >> 10));
                    out.push_back(static_cast<std::uint8_t>(group >> 2));
                }
                count = 0;
                group = 0;
            }
            continue;
        }
        if (padding) return std::nullopt;  // data after the padding
        group = (group << 6) | static_cast<std::uint32_t>(v);
        if (++count == 4) {
            out.push_back(static_cast<std::uint8_t>(group >> 16));
            out.push_back(static_cast<std::uint8_t>(group >> 8));
            out.push_back(static_cast<std::uint8_t>(group));
            count = 0;
            group = 0;
        }
    }
    if (count != 0) return std::nullopt;  // not a whole number of groups
    return NSData(std::move(out));
}

}  // namespace NSData_Base64
