#include "foundation/NSData+Base64.h"

#include <gtest/gtest.h>

#include <random>

#include "foundation/NSString.h"
#include "tests/support/TestSupport.h"

using namespace NSData_Base64;

namespace {

NSData bytes(std::size_t n, unsigned seed = 1) {
    std::mt19937 rng(seed);
    std::vector<std::uint8_t> v(n);
    for (auto& b : v) b = static_cast<std::uint8_t>(rng());
    return NSData(std::move(v));
}

}  // namespace

TEST(Base64, RFC4648Vectors) {
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
        EXPECT_EQ(base64EncodedString(NSData::fromString(plain)), encoded);
        auto decoded = dataFromBase64String(encoded);
        ASSERT_TRUE(decoded) << encoded;
        EXPECT_EQ(decoded->view(), plain);
    }
}

TEST(Base64, BasicAuthorisation) {
    auto credentials = NSString::dataUsingEncoding(NSString::stringWithFormat("%@:%@", "user", "p\u00e4ss"),
                                                   NSUTF8StringEncoding);
    ASSERT_TRUE(credentials);
    EXPECT_EQ("Basic " + base64EncodedString(*credentials), "Basic dXNlcjpww6Rzcw==");
}

TEST(Base64, AllByteValuesRoundTrip) {
    std::vector<std::uint8_t> all(256);
    for (int k = 0; k < 256; ++k) all[k] = static_cast<std::uint8_t>(k);
    NSData data(all);
    std::string text = base64EncodedString(data);
    EXPECT_EQ(text.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/="),
              std::string::npos);
    EXPECT_EQ(dataFromBase64String(text), data);
    EXPECT_EQ(base64EncodedData(data).view(), text);
    EXPECT_EQ(initWithBase64EncodedData(base64EncodedData(data)), data);
}

TEST(Base64, LineBreaksEvery64WithCRLF) {
    // 48 bytes fill one line exactly: no break at the end.
    std::string one = base64EncodedString(bytes(48), NSDataBase64Encoding64CharacterLineLength);
    EXPECT_EQ(one.size(), 64u);
    EXPECT_EQ(one.find('\r'), std::string::npos);
    // 49 bytes: a full line, CR LF, then four characters ending "==".
    std::string two = base64EncodedString(bytes(49), NSDataBase64Encoding64CharacterLineLength);
    ASSERT_EQ(two.size(), 64u + 2u + 4u);
    EXPECT_EQ(two.substr(64, 2), "\r\n");
    EXPECT_EQ(two.substr(68), "==");
    // 128 bytes of ciphertext: 172 characters in lines of 64, 64 and 44.
    std::string three = base64EncodedString(bytes(128), NSDataBase64Encoding64CharacterLineLength);
    auto lines = NSString::componentsSeparatedByString(three, "\r\n");
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].size(), 64u);
    EXPECT_EQ(lines[1].size(), 64u);
    EXPECT_EQ(lines[2].size(), 44u);
    // Breaks are skipped again only when asked.
    EXPECT_FALSE(dataFromBase64String(three));
    EXPECT_EQ(dataFromBase64String(three, NSDataBase64DecodingIgnoreUnknownCharacters), bytes(128));
}

TEST(Base64, LineOptions) {
    NSData data = bytes(120);
    std::string lf = base64EncodedString(data, NSDataBase64Encoding76CharacterLineLength |
                                                   NSDataBase64EncodingEndLineWithLineFeed);
    EXPECT_EQ(lf.substr(76, 1), "\n");
    EXPECT_EQ(lf.find('\r'), std::string::npos);
    EXPECT_EQ(lf.size(), 160u + 2u);
    std::string cr = base64EncodedString(data, NSDataBase64Encoding64CharacterLineLength |
                                                   NSDataBase64EncodingEndLineWithCarriageReturn);
    EXPECT_EQ(cr.substr(64, 1), "\r");
    EXPECT_EQ(cr.find('\n'), std::string::npos);
    // Line endings without a line length do nothing.
    EXPECT_EQ(base64EncodedString(data, NSDataBase64EncodingEndLineWithLineFeed), base64EncodedString(data));
    EXPECT_EQ(base64EncodedString(NSData(), NSDataBase64Encoding64CharacterLineLength), "");
}

TEST(Base64, StrictDecodingRefusesBadInput) {
    for (const char* bad : {"Zg", "Zg=", "Zm9", "Z===", "=Zg=", "Zg==Zg==", "Zm9v\n", " Zm9v", "Zm9v!",
                            "Zg=a", "Zm9vY", "===="}) {
        EXPECT_FALSE(dataFromBase64String(bad)) << bad;
    }
    EXPECT_FALSE(dataFromBase64String("Zm9v\xff"));
    EXPECT_FALSE(dataFromBase64String(std::string("Zm\0v", 4)));
    EXPECT_EQ(dataFromBase64String(""), NSData());
}

TEST(Base64, IgnoringUnknownCharacters) {
    auto d = dataFromBase64String(" Zm9v\r\nYmFy !*", NSDataBase64DecodingIgnoreUnknownCharacters);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->view(), "foobar");
    EXPECT_EQ(dataFromBase64String("Z g = =", NSDataBase64DecodingIgnoreUnknownCharacters)->view(), "f");
    // Structure still counts: a missing group member or stray padding fails.
    EXPECT_FALSE(dataFromBase64String("Zm9\n", NSDataBase64DecodingIgnoreUnknownCharacters));
    EXPECT_FALSE(dataFromBase64String("Zg==\nZg", NSDataBase64DecodingIgnoreUnknownCharacters));
}

TEST(Base64, RoundTripEveryLengthAndOption) {
    const NSDataBase64EncodingOptions options[] = {
        0, NSDataBase64Encoding64CharacterLineLength, NSDataBase64Encoding76CharacterLineLength,
        NSDataBase64Encoding64CharacterLineLength | NSDataBase64EncodingEndLineWithLineFeed};
    for (std::size_t n = 0; n < 200; ++n) {
        NSData data = bytes(n, static_cast<unsigned>(n));
        for (auto option : options) {
            std::string text = base64EncodedString(data, option);
            EXPECT_EQ(dataFromBase64String(text, NSDataBase64DecodingIgnoreUnknownCharacters), data) << n;
        }
        EXPECT_EQ(dataFromBase64String(base64EncodedString(data)), data);
    }
}

TEST(Base64, FuzzDecoding) {
    const std::string valid = base64EncodedString(bytes(90), NSDataBase64Encoding64CharacterLineLength);
    for (unsigned k = 0; k < 5000; ++k) {
        std::string text = testsupport::mutate(valid, k);
        auto strict = dataFromBase64String(text);
        auto lenient = dataFromBase64String(text, NSDataBase64DecodingIgnoreUnknownCharacters);
        if (strict) {
            // What decodes strictly encodes back to the same text.
            EXPECT_EQ(base64EncodedString(*strict).size(), text.size());
            ASSERT_TRUE(lenient);
            EXPECT_EQ(*strict, *lenient);
        }
        if (lenient) {
            EXPECT_LE(lenient->length(), text.size() * 3 / 4);
        }
    }
}
