#pragma once
// Base64 (RFC 4648, standard alphabet, "=" padding) for data.
//
// Encoding may break the text into lines of 64 or 76 characters, ended by CR LF unless the
// options ask for only one of the two; no line break follows the last line. Decoding is strict:
// anything outside the alphabet, a misplaced "=", or a length that is not a multiple of four
// gives nullopt, unless NSDataBase64DecodingIgnoreUnknownCharacters asks to skip characters
// outside the alphabet (line breaks, spaces and the like).

#include <optional>
#include <string>
#include <string_view>

#include "foundation/NSData.h"

using NSDataBase64EncodingOptions = unsigned long;
inline constexpr NSDataBase64EncodingOptions NSDataBase64Encoding64CharacterLineLength = 1UL << 0;
inline constexpr NSDataBase64EncodingOptions NSDataBase64Encoding76CharacterLineLength = 1UL << 1;
inline constexpr NSDataBase64EncodingOptions NSDataBase64EncodingEndLineWithCarriageReturn = 1UL << 4;
inline constexpr NSDataBase64EncodingOptions NSDataBase64EncodingEndLineWithLineFeed = 1UL << 5;

using NSDataBase64DecodingOptions = unsigned long;
inline constexpr NSDataBase64DecodingOptions NSDataBase64DecodingIgnoreUnknownCharacters = 1UL << 0;

namespace NSData_Base64 {

std::string base64EncodedString(const NSData& data, NSDataBase64EncodingOptions options = 0);
std::string base64EncodedString(std::string_view bytes, NSDataBase64EncodingOptions options = 0);
NSData base64EncodedData(const NSData& data, NSDataBase64EncodingOptions options = 0);

std::optional<NSData> dataFromBase64String(std::string_view text, NSDataBase64DecodingOptions options = 0);
// The platform's initializer names for the same decoding.
inline std::optional<NSData> initWithBase64EncodedString(std::string_view text,
                                                         NSDataBase64DecodingOptions options = 0) {
    return dataFromBase64String(text, options);
}
inline std::optional<NSData> initWithBase64EncodedData(const NSData& data,
                                                       NSDataBase64DecodingOptions options = 0) {
    return dataFromBase64String(data.view(), options);
}

}  // namespace NSData_Base64
