#pragma once
// The analytics library's two small encoders.
//
// TANStringEncoding turns bytes into text in an alphabet whose size is a power of two (2 to 128
// characters: binary, hexadecimal, the base-32 and base-64 alphabets) and back. Bytes are read as
// one bit stream, most significant bit first; each group of log2(size) bits picks a character.
// Decoding skips ignored characters, accepts short or missing final padding as long as the left-
// over bits are zero, and answers nothing for a character outside the alphabet, a data character
// after padding, or left-over bits that are not zero.
//
// TANDeflated compresses bytes into one zlib stream (header, deflate data, Adler-32 trailer).
//
// An encoder is immutable once configured and may then be shared between threads.

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "foundation/NSData.h"
#include "foundation/NSObject.h"

class TANStringEncoding : public NSObject {
  public:
    // The alphabet must be ASCII, 2 to 128 characters, a power of two, without repeats; check
    // isValid() (or use stringEncodingWithString, which answers nullptr for a bad alphabet).
    explicit TANStringEncoding(const std::string& alphabet);

    static Ref<TANStringEncoding> stringEncodingWithString(const std::string& alphabet);
    static Ref<TANStringEncoding> binaryStringEncoding();
    static Ref<TANStringEncoding> hexStringEncoding();
    static Ref<TANStringEncoding> rfc4648Base32StringEncoding();
    static Ref<TANStringEncoding> rfc4648Base32HexStringEncoding();
    static Ref<TANStringEncoding> crockfordBase32StringEncoding();
    static Ref<TANStringEncoding> rfc4648Base64StringEncoding();
    static Ref<TANStringEncoding> rfc4648Base64WebsafeStringEncoding();

    bool isValid() const { return valid_; }

    // Each character that already decodes to a value makes that value current; a character that
    // has none is given the current one ("AaBb": a decodes as A, b as B).
    void addDecodeSynonyms(const std::string& synonyms);
    // Characters skipped when decoding. A character that already has a value is a usage error
    // ("Character already mapped"), logged and left as it is.
    void ignoreCharacters(const std::string& characters);
    bool doPad() const { return doPad_; }
    void setDoPad(bool doPad) { doPad_ = doPad; }
    void setPaddingChar(char c);

    std::string encode(const NSData& data) const;
    std::string encodeString(const std::string& text) const;
    std::optional<NSData> decode(const std::string& text) const;
    // The decoded bytes read as UTF-8 text.
    std::optional<std::string> stringByDecoding(const std::string& text) const;

    int shift() const { return shift_; }
    int padLen() const { return padLen_; }
    char paddingChar() const { return paddingChar_; }

    std::string className() const override { return "TANStringEncoding"; }
    // "<Base%d StringEncoder: %@>"
    std::string description() const override;

  private:
    static constexpr int kNotInAlphabet = -1;
    static constexpr int kPadding = -2;
    static constexpr int kIgnored = -3;

    std::string charMap_;
    std::array<int, 128> reverseCharMap_{};
    int shift_ = 0;
    unsigned mask_ = 0;
    bool doPad_ = false;
    char paddingChar_ = '=';
    int padLen_ = 0;
    bool valid_ = false;
};

class TANDeflated {
  public:
    // The zlib stream of the bytes at zlib's default level; nullopt when zlib fails.
    static std::optional<NSData> deflatedData(const NSData& data);
    // The prefix followed by the zlib stream at the given level (-1 default, 0 to 9).
    static std::optional<NSData> deflatedDataPrefixedWith(const NSData& prefix, int level,
                                                          const NSData& source);
};
