// The Weibo SDK's data and string utilities: MD5, Base64 with its line breaks, gzip both ways
// (also on damaged and hostile streams), the post-length rule, pinyin initials, range replacement,
// trimming, the nil-safe setters and the file paths.

#include <gtest/gtest.h>

#include <zlib.h>

#include <cstdlib>
#include <cstring>

#include "foundation/NSFileManager.h"
#include "foundation/NSString.h"
#include "sdk/weibo/util/NSFileManager+Utilities.h"
#include "sdk/weibo/util/NSMutableDictionary+WBSDKSetValue.h"
#include "sdk/weibo/util/NSString+WBSDKUtilities.h"
#include "sdk/weibo/util/WBSDKUtil.h"
#include "tests/sdk/weibo/util/WeiboUtilTestSupport.h"

using namespace NSData_WBSDKBase64;
using namespace NSData_WBSDKGZIP;
using NSString_WBSDK_CountWord::wb_wordCount;
using namespace NSString_WBSDKPinyin;

namespace {

std::string bytes(std::size_t n, unsigned seed = 1) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 131 + seed * 7) & 0xFF);
    return s;
}

TEST(WBSDKUtilTest, MD5IsLowerCaseHexOfTheUTF8Bytes) {
    EXPECT_EQ(WBSDKUtil::md5(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(WBSDKUtil::md5("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(WBSDKUtil::md5("中").size(), 32u);
}

TEST(WBSDKUtilTest, Base64BreaksLinesAfterSixtyFourCharacters) {
    EXPECT_EQ(wbsdk_base64EncodedString(NSData::fromString("")), "");
    EXPECT_EQ(wbsdk_base64EncodedString(NSData::fromString("a")), "YQ==");
    EXPECT_EQ(wbsdk_base64EncodedString(NSData::fromString("ab")), "YWI=");
    EXPECT_EQ(wbsdk_base64EncodedString(NSData::fromString("abc")), "YWJj");
    auto line48 = wbsdk_base64EncodedString(NSData::fromString(bytes(48)));
    EXPECT_EQ(line48.size(), 64u);
    EXPECT_EQ(line48.find('\r'), std::string::npos);
    auto line49 = wbsdk_base64EncodedString(NSData::fromString(bytes(49)));
    ASSERT_EQ(line49.size(), 70u);
    EXPECT_EQ(line49.substr(64, 2), "\r\n");
    EXPECT_EQ(line49.substr(68), "==");
    auto line96 = wbsdk_base64EncodedString(NSData::fromString(bytes(96)));
    EXPECT_EQ(line96.size(), 130u);  // no break at the very end
    // 128 bytes of ciphertext: three lines of 64, 64 and 44 characters.
    auto k128 = wbsdk_base64EncodedString(NSData::fromString(bytes(128)));
    EXPECT_EQ(k128.size(), 64u + 2 + 64 + 2 + 44);
}

TEST(WBSDKUtilTest, Base64DecodesWhatItEncodesAndSkipsForeignBytes) {
    for (std::size_t n : {0u, 1u, 2u, 3u, 47u, 48u, 49u, 200u}) {
        std::string original = bytes(n, static_cast<unsigned>(n));
        auto text = wbsdk_base64EncodedString(NSData::fromString(original));
        EXPECT_EQ(wbsdk_dataFromBase64String(text).toString(), original) << n;
    }
    EXPECT_EQ(wbsdk_dataFromBase64String(" Y W\nJ j = ").toString(), "abc");
    EXPECT_EQ(wbsdk_dataFromBase64String("YWJjé").length(), 0u);
    std::size_t n = 0;
    void* decoded = wbsdk_base64_decode("YQ", static_cast<std::size_t>(-1), &n);
    EXPECT_EQ(n, 1u);
    EXPECT_EQ(static_cast<char*>(decoded)[0], 'a');
    std::free(decoded);
    decoded = wbsdk_base64_decode("Y", 1, &n);  // one value gives nothing
    EXPECT_EQ(n, 0u);
    std::free(decoded);
}

TEST(WBSDKUtilTest, GzipMakesAMemberAndGunzipReadsGzipAndZlib) {
    EXPECT_FALSE(wbsdk_gzippedData(NSData()));
    EXPECT_FALSE(wbsdk_gunzippedData(NSData()));
    std::string text;
    for (int i = 0; i < 5000; ++i) text += "statistics record " + std::to_string(i) + "\n";
    auto gz = wbsdk_gzippedData(NSData::fromString(text));
    ASSERT_TRUE(gz);
    EXPECT_EQ(gz->bytes()[0], 0x1F);
    EXPECT_EQ(gz->bytes()[1], 0x8B);
    EXPECT_LT(gz->length(), text.size() / 4);
    EXPECT_EQ(wbsdk_gunzippedData(*gz)->toString(), text);
    for (float level : {0.0f, 0.5f, 1.0f}) {
        auto at = wbsdk_gzippedDataWithCompressionLevel(NSData::fromString(text), level);
        ASSERT_TRUE(at);
        EXPECT_EQ(wbsdk_gunzippedData(*at)->toString(), text);
    }
    // Incompressible input larger than the first output buffer.
    std::string noise = bytes(100000, 3);
    for (auto& c : noise) c = static_cast<char>(std::rand());
    EXPECT_EQ(wbsdk_gunzippedData(*wbsdk_gzippedData(NSData::fromString(noise)))->toString(), noise);
    // A zlib stream.
    uLongf n = compressBound(text.size());
    std::vector<Bytef> z(n);
    ASSERT_EQ(compress2(z.data(), &n, reinterpret_cast<const Bytef*>(text.data()), text.size(), 6), Z_OK);
    EXPECT_EQ(wbsdk_gunzippedData(NSData(z.data(), n))->toString(), text);
}

TEST(WBSDKUtilTest, DamagedStreamsGiveNil) {
    auto gz = *wbsdk_gzippedData(NSData::fromString(std::string(10000, 'x') + bytes(3000)));
    for (std::size_t cut : {1ul, 10ul, gz.length() / 2, gz.length() - 1}) {
        EXPECT_FALSE(wbsdk_gunzippedData(gz.subdataWithRange(0, cut))) << cut;
    }
    EXPECT_FALSE(wbsdk_gunzippedData(NSData::fromString("not a stream at all")));
    for (unsigned seed = 0; seed < 300; ++seed) {
        auto mutated = testsupport::mutate(gz.toString(), seed);
        auto out = wbsdk_gunzippedData(NSData::fromString(mutated));
        if (out) {
            EXPECT_LE(out->length(), kWBSDKMaximumInflatedSize);
        }
    }
}

TEST(WBSDKUtilTest, AnInflationBombIsRefused) {
    std::string zeros(64u << 20, '\0');
    auto gz = wbsdk_gzippedDataWithCompressionLevel(NSData::fromString(zeros), 1.0f);
    ASSERT_TRUE(gz);
    // Five copies of the member: 320 MB of output from well under a megabyte.
    NSData bomb;
    for (int i = 0; i < 5; ++i) bomb.appendData(*gz);
    EXPECT_EQ(wbsdk_gunzippedData(*gz)->length(), zeros.size());
    auto out = wbsdk_gunzippedData(bomb);
    // Only the first member is read (the stream ends there), which stays under the bound.
    ASSERT_TRUE(out);
    EXPECT_EQ(out->length(), zeros.size());
}

TEST(WBSDKUtilTest, TheWordCountHalvesASCIIAndBlanks) {
    struct Case {
        std::string text;
        int count;
    };
    std::vector<Case> cases = {
        {"", 0},
        {"   ", 0},
        {"a", 1},
        {"ab", 1},
        {"abc", 2},
        {"a b", 2},
        {"中", 1},
        {"中a", 2},
        {"中 ", 2},
        {"\t\t", 0},
        {"😀", 2},
        {"\xE3\x80\x80x", 1},
        {std::string(280, 'a'), 140},
        {std::string(281, 'a'), 141},
    };
    std::string chinese;
    for (int i = 0; i < 140; ++i) chinese += "中";
    cases.push_back({chinese, 140});
    for (const auto& c : cases) EXPECT_EQ(wb_wordCount(c.text), c.count) << c.text;
}

TEST(WBSDKUtilTest, PinyinInitials) {
    EXPECT_FALSE(wbsdk_firstPinyinLetter(""));
    EXPECT_EQ(wbsdk_firstPinyinLetter("北京"), "b");
    EXPECT_EQ(wbsdk_firstPinyinLetter("中国"), "z");
    EXPECT_EQ(wbsdk_firstPinyinLetter("国"), "g");
    EXPECT_EQ(wbsdk_firstPinyinLetter("京"), "j");
    EXPECT_EQ(wbsdk_firstPinyinLetter("海"), "h");
    EXPECT_EQ(wbsdk_firstPinyinLetter("Austria"), "a");
    EXPECT_EQ(wbsdk_firstPinyinLetter("9lives"), "#");
    // A letter outside ASCII keeps its whole character.
    EXPECT_EQ(wbsdk_firstPinyinLetter("Österreich"), "ö");
    // Just past the table: an ideograph, which the platform counts as a letter, stays itself.
    EXPECT_EQ(wbsdk_firstPinyinLetter("\xE9\xBE\xA6"), "\xE9\xBE\xA6");
    EXPECT_EQ(wbsdk_firstPinyinLetter("\xE3\x80\x82"), "#");  // an ideographic full stop
    EXPECT_EQ(wbsdk_pinyinInitial(0x9FA6), 0);
    std::string first16;
    for (char32_t c = 0x4E00; c < 0x4E10; ++c) first16 += wbsdk_pinyinInitial(c);
    EXPECT_EQ(first16, "ydkqsxnwzssxjbym");
    EXPECT_FALSE(wbsdk_firstPinyinLettersOfEachWord(""));
    EXPECT_EQ(wbsdk_firstPinyinLettersOfEachWord("中国 ABC é😀"), "zg abc é😀");
    // Every ideograph of the table gets one of the letters pinyin starts with.
    for (char32_t c = 0x4E00; c <= 0x9FA5; c += 97) {
        char letter = wbsdk_pinyinInitial(c);
        EXPECT_TRUE(letter >= 'a' && letter <= 'z' && letter != 'i' && letter != 'u' && letter != 'v')
            << std::hex << static_cast<unsigned>(c);
    }
}

TEST(WBSDKUtilTest, RangeReplacementCountsUTF16Units) {
    using NSString_WBSDKNSStringUtils::wbsdk_stringByReplacingRange;
    EXPECT_EQ(wbsdk_stringByReplacingRange("hello", NSMakeRange(1, 3), "EY"), "hEYo");
    EXPECT_EQ(wbsdk_stringByReplacingRange("中😀文", NSMakeRange(1, 2), "x"), "中x文");
    EXPECT_EQ(wbsdk_stringByReplacingRange("abc", NSMakeRange(3, 0), "d"), "abcd");
    EXPECT_EQ(wbsdk_stringByReplacingRange("abc", NSMakeRange(2, 10), "!"), "ab!");  // cut to the text
    EXPECT_EQ(NSString_WBNSStringUtils::wbsdk_trimmedString(" \n\t a b \r\n"), "a b");
}

TEST(WBSDKUtilTest, SafeSettersLeaveOutNilAndEmptyText) {
    using namespace NSMutableDictionary_WBSDKSetValue;
    Dictionary d = Dictionary::mutableDictionary();
    wbsdk_setSafeObject(d, Value(), std::string("a"));
    wbsdk_setSafeObject(d, Value(""), std::string("b"));
    wbsdk_setSafeObject(d, Value("x"), std::nullopt);
    EXPECT_EQ(d.count(), 0u);
    wbsdk_setSafeObject(d, Value(0), std::string("c"));
    wbsdk_setSafeObject(d, Value("y"), std::string("d"));
    EXPECT_EQ(d.count(), 2u);
    wbsdk_setObject(d, Value(), "d");
    EXPECT_FALSE(d.containsKey("d"));
    wbsdk_setObject(d, Value(""), "e");
    EXPECT_EQ(d["e"], Value(""));
}

class FileManagerUtilitiesTest : public weiboutiltest::SandboxTest {};

TEST_F(FileManagerUtilitiesTest, PathsLieInTheSandboxFolders) {
    using namespace NSFileManager_Utilities;
    auto cache = wbsdk_PathForFileInCacheNamed("WBSDKStatistics.db");
    EXPECT_EQ(cache.rfind(sandboxPath(), 0), 0u);
    EXPECT_NE(cache.find("/Library/Caches/WBSDKStatistics.db"), std::string::npos);
    EXPECT_NE(wbsdk_PathForFileInDocumentNamed("x").find("/Documents/x"), std::string::npos);
    EXPECT_EQ(wbsdk_PathForItemNamed("b.txt", "/a"), "/a/b.txt");
    EXPECT_FALSE(wbsdk_FileExists(std::nullopt));

    std::string folder = wbsdk_PathForFileInDocumentNamed("tree/sub");
    Ref<NSError> error;
    ASSERT_TRUE(wbsdk_CreateDirectoryIfNotExisted(folder, &error));
    ASSERT_TRUE(wbsdk_CreateDirectoryIfNotExisted(folder, &error));
    NSData::fromString("1").writeToFile(folder + "/one.JSON");
    NSData::fromString("2").writeToFile(wbsdk_PathForFileInDocumentNamed("tree/two.json"));
    NSData::fromString("3").writeToFile(wbsdk_PathForFileInDocumentNamed("tree/three.txt"));
    auto files = wbsdk_FilesInFolder(wbsdk_PathForFileInDocumentNamed("tree"));
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{"sub/one.JSON", "three.txt", "two.json"}));
    auto json = wbsdk_PathsForDocumentsMatchingExtension("json");
    EXPECT_EQ(json.size(), 2u);
    EXPECT_TRUE(wbsdk_FileExists(folder));
    EXPECT_TRUE(wbsdk_RemoveFileAtPath(wbsdk_PathForFileInDocumentNamed("tree")));
    EXPECT_FALSE(wbsdk_FileExists(folder));
    EXPECT_TRUE(wbsdk_FilesInFolder(folder).empty());
}

}  // namespace
