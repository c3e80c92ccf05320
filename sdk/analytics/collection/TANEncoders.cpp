#include "sdk/analytics/collection/TANEncoders.h"

#include <zlib.h>

#include <algorithm>
#include <numeric>

#include "foundation/NSLog.h"
#include "foundation/NSString.h"

namespace {

bool isAscii(const std::string& text) {
    for (unsigned char c : text) {
        if (c >= 128) return false;
    }
    return true;
}

}  // namespace

TANStringEncoding::TANStringEncoding(const std::string& alphabet) {
    reverseCharMap_.fill(kNotInAlphabet);
    if (!isAscii(alphabet)) return;
    std::size_t length = alphabet.size();
    if (length < 2 || length > 128 || (length & (length - 1)) != 0) return;
    for (std::size_t i = 0; i < length; ++i) {
        auto c = static_cast<unsigned char>(alphabet[i]);
        if (reverseCharMap_[c] != kNotInAlphabet) return;
        reverseCharMap_[c] = static_cast<int>(i);
    }
    charMap_ = alphabet;
    while ((1u << shift_) < length) ++shift_;
    mask_ = (1u << shift_) - 1;
    padLen_ = std::lcm(8, shift_) / shift_;
    valid_ = true;
}

Ref<TANStringEncoding> TANStringEncoding::stringEncodingWithString(const std::string& alphabet) {
    auto encoding = make<TANStringEncoding>(alphabet);
    return encoding->isValid() ? encoding : nullptr;
}

Ref<TANStringEncoding> TANStringEncoding::binaryStringEncoding() {
    return stringEncodingWithString("01");
}

Ref<TANStringEncoding> TANStringEncoding::hexStringEncoding() {
    auto e = stringEncodingWithString("0123456789ABCDEF");
    e->addDecodeSynonyms("AaBbCcDdEeFf");
    return e;
}

Ref<TANStringEncoding> TANStringEncoding::rfc4648Base32StringEncoding() {
    auto e = stringEncodingWithString("ABCDEFGHIJKLMNOPQRSTUVWXYZ234567");
    e->setPaddingChar('=');
    e->setDoPad(true);
    return e;
}

Ref<TANStringEncoding> TANStringEncoding::rfc4648Base32HexStringEncoding() {
    auto e = stringEncodingWithString("0123456789ABCDEFGHIJKLMNOPQRSTUV");
    e->setPaddingChar('=');
    e->setDoPad(true);
    return e;
}

Ref<TANStringEncoding> TANStringEncoding::crockfordBase32StringEncoding() {
    auto e = stringEncodingWithString("0123456789ABCDEFGHJKMNPQRSTVWXYZ");
    e->addDecodeSynonyms("0oO1iIlLAaBbCcDdEeFfGgHhJjKkMmNnPpQqRrSsTtVvWwXxYyZz");
    return e;
}

Ref<TANStringEncoding> TANStringEncoding::rfc4648Base64StringEncoding() {
    auto e = stringEncodingWithString("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/");
    e->setPaddingChar('=');
    e->setDoPad(true);
    return e;
}

Ref<TANStringEncoding> TANStringEncoding::rfc4648Base64WebsafeStringEncoding() {
    auto e = stringEncodingWithString("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_");
    e->setPaddingChar('=');
    e->setDoPad(true);
    return e;
}

void TANStringEncoding::addDecodeSynonyms(const std::string& synonyms) {
    if (!isAscii(synonyms)) return;
    int current = kNotInAlphabet;
    for (unsigned char c : synonyms) {
        if (reverseCharMap_[c] >= 0) {
            current = reverseCharMap_[c];
        } else {
            reverseCharMap_[c] = current;
        }
    }
}

void TANStringEncoding::ignoreCharacters(const std::string& characters) {
    if (!isAscii(characters)) return;
    for (unsigned char c : characters) {
        if (reverseCharMap_[c] != kNotInAlphabet && reverseCharMap_[c] != kIgnored) {
            NSLog("Character already mapped");
            continue;
        }
        reverseCharMap_[c] = kIgnored;
    }
}

void TANStringEncoding::setPaddingChar(char c) {
    paddingChar_ = c;
    auto u = static_cast<unsigned char>(c);
    if (u < 128) reverseCharMap_[u] = kPadding;
}

std::string TANStringEncoding::encode(const NSData& data) const {
    std::size_t n = data.length();
    if (n == 0 || !valid_) return std::string();
    std::size_t length = (n * 8 + static_cast<std::size_t>(shift_) - 1) / static_cast<std::size_t>(shift_);
    if (doPad_) {
        std::size_t pad = static_cast<std::size_t>(padLen_);
        length = (length + pad - 1) / pad * pad;
    }
    std::string out;
    out.reserve(length);
    const std::uint8_t* bytes = data.bytes();
    unsigned buffer = 0;
    int bitsLeft = 0;
    for (std::size_t i = 0; i < n; ++i) {
        buffer = (buffer << 8) | bytes[i];
        bitsLeft += 8;
        while (bitsLeft >= shift_) {
            bitsLeft -= shift_;
            out.push_back(charMap_[(buffer >> bitsLeft) & mask_]);
        }
        buffer &= (1u << bitsLeft) - 1;
    }
    if (bitsLeft > 0) out.push_back(charMap_[(buffer << (shift_ - bitsLeft)) & mask_]);
    while (doPad_ && out.size() < length) out.push_back(paddingChar_);
    return out;
}

std::string TANStringEncoding::encodeString(const std::string& text) const {
    return encode(NSData::fromString(text));
}

std::optional<NSData> TANStringEncoding::decode(const std::string& text) const {
    if (!valid_ || !isAscii(text)) return std::nullopt;
    std::vector<std::uint8_t> out;
    out.reserve(static_cast<std::size_t>(shift_) * text.size() / 8);
    unsigned buffer = 0;
    int bits = 0;
    bool padding = false;
    for (unsigned char c : text) {
        int value = reverseCharMap_[c];
        if (value == kIgnored) continue;
        if (value == kPadding) {
            padding = true;
            continue;
        }
        if (value < 0 || padding) return std::nullopt;
        buffer = (buffer << shift_) | static_cast<unsigned>(value);
        bits += shift_;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<std::uint8_t>(buffer >> bits));
            buffer &= (1u << bits) - 1;
        }
    }
    if (buffer != 0) return std::nullopt;
    return NSData(std::move(out));
}

std::optional<std::string> TANStringEncoding::stringByDecoding(const std::string& text) const {
    auto data = decode(text);
    if (!data) return std::nullopt;
    return NSString::initWithData(*data, NSUTF8StringEncoding);
}

std::string TANStringEncoding::description() const {
    return NSString::stringWithFormat("<Base%d StringEncoder: %@>", 1 << shift_, charMap_);
}

std::optional<NSData> TANDeflated::deflatedData(const NSData& data) {
    return deflatedDataPrefixedWith(NSData(), -1, data);
}

std::optional<NSData> TANDeflated::deflatedDataPrefixedWith(const NSData& prefix, int level,
                                                            const NSData& source) {
    uLongf room = static_cast<uLongf>(source.length() * 1001 / 1000 + 12);
    // zlib's own bound covers inputs the fixed formula is a little short for (tiny or random).
    room = std::max<uLongf>(room, compressBound(static_cast<uLong>(source.length())));
    std::vector<std::uint8_t> out(prefix.length() + room);
    static const Bytef empty = 0;
    const Bytef* input = source.length() ? source.bytes() : &empty;
    int status =
        compress2(out.data() + prefix.length(), &room, input, static_cast<uLong>(source.length()), level);
    if (status != Z_OK) return std::nullopt;
    if (prefix.length()) std::copy(prefix.bytes(), prefix.bytes() + prefix.length(), out.begin());
    out.resize(prefix.length() + room);
    return NSData(std::move(out));
}
