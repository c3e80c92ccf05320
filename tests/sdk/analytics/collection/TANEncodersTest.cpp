#include "sdk/analytics/collection/TANEncoders.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include "tests/support/TestSupport.h"

namespace {

std::string text(const std::optional<NSData>& data) {
    return data ? data->toString() : std::string("<none>");
}

TEST(TANStringEncoding, Base64MatchesTheStandardVectors) {
    auto e = TANStringEncoding::rfc4648Base64StringEncoding();
    const std::pair<const char*, const char*> vectors[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
    };
    for (auto [plain, encoded] : vectors) {
        EXPECT_EQ(e->encodeString(plain), encoded);
        EXPECT_EQ(text(e->decode(encoded)), plain);
    }
}

TEST(TANStringEncoding, Base32AndHexMatchTheStandardVectors) {
    auto b32 = TANStringEncoding::rfc4648Base32StringEncoding();
    EXPECT_EQ(b32->encodeString("f"), "MY======");
    EXPECT_EQ(b32->encodeString("fooba"), "MZXW6YTB");
    EXPECT_EQ(b32->encodeString("foobar"), "MZXW6YTBOI======");
    auto b32hex = TANStringEncoding::rfc4648Base32HexStringEncoding();
    EXPECT_EQ(b32hex->encodeString("foobar"), "CPNMUOJ1E8======");
    auto hex = TANStringEncoding::hexStringEncoding();
    EXPECT_EQ(hex->encodeString("foobar"), "666F6F626172");
    EXPECT_EQ(text(hex->decode("666f6F626172")), "foobar");
    auto binary = TANStringEncoding::binaryStringEncoding();
    EXPECT_EQ(binary->encodeString("A"), "01000001");
}

TEST(TANStringEncoding, DecodingAcceptsShortPaddingButNotStrayBits) {
    auto e = TANStringEncoding::rfc4648Base64StringEncoding();
    EXPECT_EQ(text(e->decode("Zg")), "f");
    EXPECT_EQ(text(e->decode("Zg=")), "f");
    EXPECT_FALSE(e->decode("Zh=="));      // left-over bits not zero
    EXPECT_FALSE(e->decode("Zg==Zg=="));  // data after padding
    EXPECT_FALSE(e->decode("Z!=="));      // outside the alphabet
    EXPECT_FALSE(e->decode("Zé=="));
}

TEST(TANStringEncoding, CrockfordSynonymsAndIgnoredCharacters) {
    auto e = TANStringEncoding::crockfordBase32StringEncoding();
    auto zero = e->decode("00");
    ASSERT_TRUE(zero);
    EXPECT_EQ(e->decode("oO"), zero);
    EXPECT_EQ(e->decode("1I"), e->decode("iL"));
    e->ignoreCharacters("-");
    EXPECT_EQ(e->decode("0-0"), zero);
}

TEST(TANStringEncoding, InvalidAlphabetsMakeNoEncoder) {
    EXPECT_FALSE(TANStringEncoding::stringEncodingWithString("abc"));
    EXPECT_FALSE(TANStringEncoding::stringEncodingWithString("aa"));
    EXPECT_FALSE(TANStringEncoding::stringEncodingWithString("a"));
    EXPECT_FALSE(TANStringEncoding::stringEncodingWithString("é1"));
    auto e = TANStringEncoding::stringEncodingWithString("ab");
    ASSERT_TRUE(e);
    EXPECT_EQ(e->description(), "<Base2 StringEncoder: ab>");
}

TEST(TANStringEncoding, RoundTripsEveryLengthInEveryAlphabet) {
    std::string bytes;
    for (int i = 0; i < 40; ++i) bytes.push_back(static_cast<char>(i * 37 + 11));
    for (auto e : {TANStringEncoding::rfc4648Base64StringEncoding(),
                   TANStringEncoding::rfc4648Base64WebsafeStringEncoding(),
                   TANStringEncoding::rfc4648Base32StringEncoding(),
                   TANStringEncoding::crockfordBase32StringEncoding(), TANStringEncoding::hexStringEncoding(),
                   TANStringEncoding::binaryStringEncoding()}) {
        for (std::size_t n = 0; n <= bytes.size(); ++n) {
            NSData data = NSData::fromString(bytes.substr(0, n));
            std::string encoded = e->encode(data);
            if (e->doPad()) {
                EXPECT_EQ(encoded.size() % static_cast<std::size_t>(e->padLen()), 0u);
            }
            EXPECT_EQ(e->decode(encoded), std::optional<NSData>(data)) << e->description() << " n=" << n;
        }
    }
}

TEST(TANStringEncoding, MutatedTextNeverCrashes) {
    auto e = TANStringEncoding::rfc4648Base64StringEncoding();
    std::string valid = e->encodeString("The car studio tints every part of the car.");
    for (unsigned seed = 0; seed < 500; ++seed) {
        auto decoded = e->decode(testsupport::mutate(valid, seed));
        if (decoded) {
            EXPECT_LE(decoded->length(), valid.size());
        }
    }
}

TEST(TANDeflated, CompressesIntoOneZlibStream) {
    std::string source;
    for (int i = 0; i < 2000; ++i) source += "TuningCars ";
    auto compressed = TANDeflated::deflatedData(NSData::fromString(source));
    ASSERT_TRUE(compressed);
    EXPECT_LT(compressed->length(), source.size() / 10);
    EXPECT_EQ(compressed->bytes()[0], 0x78);  // zlib header
    std::vector<std::uint8_t> out(source.size());
    uLongf length = out.size();
    ASSERT_EQ(uncompress(out.data(), &length, compressed->bytes(), compressed->length()), Z_OK);
    EXPECT_EQ(std::string(out.begin(), out.begin() + static_cast<long>(length)), source);
}

TEST(TANDeflated, PrefixLevelsAndIncompressibleInput) {
    auto prefixed =
        TANDeflated::deflatedDataPrefixedWith(NSData::fromString("HDR"), 9, NSData::fromString("abc"));
    ASSERT_TRUE(prefixed);
    EXPECT_EQ(prefixed->view().substr(0, 3), "HDR");
    std::string random;
    for (int i = 0; i < 7; ++i) random.push_back(static_cast<char>(i * 91 + 3));
    EXPECT_TRUE(TANDeflated::deflatedData(NSData::fromString(random)));
    EXPECT_TRUE(TANDeflated::deflatedData(NSData()));
    EXPECT_FALSE(TANDeflated::deflatedDataPrefixedWith(NSData(), 42, NSData::fromString("abc")));
}

}  // namespace
