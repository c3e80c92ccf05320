#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "foundation/NSPropertyListSerialization.h"
#include "tests/support/TestSupport.h"

namespace {

class TestObject : public NSObject {
  public:
    std::string className() const override { return "TestObject"; }
};

std::string write(const Value& v, NSPropertyListFormat format, Ref<NSError>* error = nullptr) {
    auto data = NSPropertyListSerialization::dataWithPropertyList(v, format, 0, error);
    return data ? data->toString() : std::string();
}

Value read(const std::string& bytes, unsigned options = 0, NSPropertyListFormat* format = nullptr,
           Ref<NSError>* error = nullptr) {
    return NSPropertyListSerialization::propertyListWithData(NSData::fromString(bytes), options, format,
                                                             error);
}

void expectReadFails(const std::string& bytes, const std::string& what = "") {
    Ref<NSError> error;
    Value v = read(bytes, 0, nullptr, &error);
    EXPECT_TRUE(v.isNil()) << what;
    ASSERT_TRUE(error) << what;
    EXPECT_EQ(error->domain(), NSCocoaErrorDomain);
    EXPECT_EQ(error->code(), 3840);
    EXPECT_FALSE(error->userInfo()["NSDebugDescription"].stringValue().empty());
}

std::string xmlDocument(const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n" + body + "\n</plist>\n";
}

// A sample holding every kind.
Value sample() {
    return Dictionary{
        {"string", "text & <markup> \"quoted\""},
        {"unicode", "中文 \xF0\x9F\x98\x80"},
        {"empty", ""},
        {"int", 42},
        {"negative", -7},
        {"big", NSNumber::numberWithLongLong(std::numeric_limits<long long>::max())},
        {"small", NSNumber::numberWithLongLong(std::numeric_limits<long long>::min())},
        {"unsigned", NSNumber::numberWithUnsignedLongLong(std::numeric_limits<unsigned long long>::max())},
        {"real", 127.5},
        {"tenth", 0.1},
        {"yes", true},
        {"no", false},
        {"date", NSDate::dateWithTimeIntervalSince1970(1481047200)},
        {"data", NSData::fromString(std::string("\0\1\2\xFF binary", 11))},
        {"emptyData", NSData()},
        {"array", Array{1, "two", Array{}, Dictionary{}}},
        {"dict", Dictionary{{"nested", Array{Dictionary{{"k", "v"}}}}}},
    };
}

class FormatTest : public ::testing::TestWithParam<NSPropertyListFormat> {};

TEST_P(FormatTest, EveryKindRoundTrips) {
    Value v = sample();
    Ref<NSError> error;
    auto data = NSPropertyListSerialization::dataWithPropertyList(v, GetParam(), 0, &error);
    ASSERT_TRUE(data) << (error ? error->description() : "");
    NSPropertyListFormat format = NSPropertyListOpenStepFormat;
    Value back = NSPropertyListSerialization::propertyListWithData(*data, 0, &format, &error);
    ASSERT_TRUE(back.isDictionary()) << (error ? error->description() : "");
    EXPECT_EQ(format, GetParam());
    EXPECT_EQ(back, v);
    EXPECT_TRUE(back["yes"].number()->isBoolean());
    EXPECT_TRUE(back["real"].number()->isReal());
    EXPECT_FALSE(back["int"].number()->isReal());
    EXPECT_EQ(back["unsigned"].unsignedLongLongValue(), std::numeric_limits<unsigned long long>::max());
    EXPECT_EQ(back.dictionary()->allKeys(), v.dictionary()->allKeys());
}

TEST_P(FormatTest, NonPropertyListValuesAreRefused) {
    for (const Value& bad : {Value::null(), Value(), Value(make<TestObject>())}) {
        Ref<NSError> error;
        EXPECT_FALSE(NSPropertyListSerialization::dataWithPropertyList(Array{1, bad}, GetParam(), 0, &error));
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code(), 3852);
        if (!bad.isNil()) {  // a nil value never enters a dictionary
            EXPECT_FALSE(NSPropertyListSerialization::dataWithPropertyList(Dictionary{{"k", bad}}, GetParam(),
                                                                           0, nullptr));
        }
        EXPECT_FALSE(NSPropertyListSerialization::propertyListIsValidForFormat(Array{bad}, GetParam()));
    }
    EXPECT_FALSE(NSPropertyListSerialization::dataWithPropertyList(Array{"\xC3("}, GetParam(), 0, nullptr));
}

TEST_P(FormatTest, ContainerHoldingItselfFailsCleanly) {
    Array a = Array::mutableArray();
    a.addObject(a);
    Ref<NSError> error;
    EXPECT_FALSE(NSPropertyListSerialization::dataWithPropertyList(a, GetParam(), 0, &error));
    EXPECT_TRUE(error);
    EXPECT_FALSE(NSPropertyListSerialization::propertyListIsValidForFormat(a, GetParam()));
    a.removeAllObjects();
}

TEST_P(FormatTest, MutabilityOptions) {
    std::string bytes = write(Dictionary{{"a", Array{Dictionary{}}}}, GetParam());
    Value fixed = read(bytes, NSPropertyListImmutable);
    EXPECT_FALSE(fixed.dictionary()->isMutable());
    EXPECT_FALSE(fixed["a"].array()->isMutable());
    for (unsigned option : {NSPropertyListMutableContainers, NSPropertyListMutableContainersAndLeaves}) {
        Value changeable = read(bytes, option);
        EXPECT_TRUE(changeable.dictionary()->isMutable());
        EXPECT_TRUE(changeable["a"].array()->isMutable());
        EXPECT_TRUE(changeable["a"][0].dictionary()->isMutable());
    }
}

TEST_P(FormatTest, RealsKeepSpecialValues) {
    Value back = read(write(Array{std::nan(""), INFINITY, -INFINITY, -0.0, 1e300, 5e-324}, GetParam()));
    ASSERT_TRUE(back.isArray());
    EXPECT_TRUE(std::isnan(back[0].doubleValue()));
    EXPECT_EQ(back[1].doubleValue(), INFINITY);
    EXPECT_EQ(back[2].doubleValue(), -INFINITY);
    EXPECT_EQ(back[4].doubleValue(), 1e300);
    EXPECT_EQ(back[5].doubleValue(), 5e-324);
}

TEST_P(FormatTest, DataOfEveryLengthRoundTrips) {
    std::mt19937 rng(5);
    for (std::size_t n = 0; n < 300; n += (n < 20 ? 1 : 37)) {
        std::string bytes(n, '\0');
        for (auto& c : bytes) c = static_cast<char>(rng());
        Value back = read(write(Array{NSData::fromString(bytes)}, GetParam()));
        ASSERT_TRUE(back.isArray()) << n;
        EXPECT_EQ(back[0].data()->toString(), bytes) << n;
    }
}

INSTANTIATE_TEST_SUITE_P(Both, FormatTest,
                         ::testing::Values(NSPropertyListXMLFormat_v1_0, NSPropertyListBinaryFormat_v1_0));

// ---------------------------------------------------------------------------------------------
// XML

TEST(XMLPropertyListTest, WritesTheDocumentForm) {
    std::string text = write(Dictionary{{"a", 1}, {"b", Array{"x & y", true}}, {"c", Dictionary{}}},
                             NSPropertyListXMLFormat_v1_0);
    EXPECT_EQ(text.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist", 0), 0u);
    EXPECT_NE(
        text.find("<plist version=\"1.0\">\n<dict>\n\t<key>a</key>\n\t<integer>1</integer>\n\t<key>b</key>\n"
                  "\t<array>\n\t\t<string>x &amp; y</string>\n\t\t<true/>\n\t</array>\n\t<key>c</key>\n"
                  "\t<dict/>\n</dict>\n</plist>\n"),
        std::string::npos)
        << text;
}

TEST(XMLPropertyListTest, DatesAndDataText) {
    std::string text =
        write(Array{NSDate::dateWithTimeIntervalSinceReferenceDate(0), NSData::fromString("hello")},
              NSPropertyListXMLFormat_v1_0);
    EXPECT_NE(text.find("<date>2001-01-01T00:00:00Z</date>"), std::string::npos);
    EXPECT_NE(text.find("aGVsbG8="), std::string::npos);
    Value v = read(xmlDocument("<array><date>1969-12-31T23:59:59Z</date><date>2016-12-06T18:00:00.5Z</date>"
                               "<date>2000-02-29T12:00:00Z</date></array>"));
    ASSERT_TRUE(v.isArray());
    EXPECT_EQ(v[0].date()->timeIntervalSince1970(), -1);
    EXPECT_EQ(v[1].date()->timeIntervalSince1970(), 1481047200.5);
    EXPECT_EQ(v[2].date()->timeIntervalSince1970(), 951825600);
    // Whole seconds are written.
    Value back =
        read(write(Array{NSDate::dateWithTimeIntervalSince1970(-0.5)}, NSPropertyListXMLFormat_v1_0));
    EXPECT_EQ(back[0].date()->timeIntervalSince1970(), -1);
}

TEST(XMLPropertyListTest, TextEscapesSurvive) {
    Value v = Array{"a\rb\r\nc\td", "<>&'\"", "]]>"};
    EXPECT_EQ(read(write(v, NSPropertyListXMLFormat_v1_0)), v);
    // Characters XML cannot carry are refused.
    Ref<NSError> error;
    EXPECT_FALSE(NSPropertyListSerialization::dataWithPropertyList(Array{std::string("a\x01", 2)},
                                                                   NSPropertyListXMLFormat_v1_0, 0, &error));
    EXPECT_TRUE(error);
    EXPECT_FALSE(NSPropertyListSerialization::dataWithPropertyList(Array{"\xEF\xBF\xBF"},
                                                                   NSPropertyListXMLFormat_v1_0, 0, nullptr));
}

TEST(XMLPropertyListTest, ReadsLooseButValidForms) {
    Value v =
        read(xmlDocument("<!-- note -->\n<dict>\n  <key>a</key> <!-- c --> <integer> 0x1F </integer>\n"
                         "  <key>b</key><real>+2.5</real><key>c</key><string><![CDATA[<raw>]]></string>\n"
                         "  <key>d</key><data>aGVs\n  bG8=</data><key>e</key><integer>-0</integer>\n"
                         "  <key>f</key><real>1e500</real><key>g</key><true></true></dict>"));
    ASSERT_TRUE(v.isDictionary());
    EXPECT_EQ(v["a"].intValue(), 31);
    EXPECT_EQ(v["b"].doubleValue(), 2.5);
    EXPECT_EQ(v["c"], Value("<raw>"));
    EXPECT_EQ(v["d"].data()->toString(), "hello");
    EXPECT_EQ(v["e"].intValue(), 0);
    EXPECT_EQ(v["f"].doubleValue(), INFINITY);
    EXPECT_TRUE(v["g"].boolValue());
    // A value element without the plist wrapper, and a byte-order mark.
    EXPECT_EQ(read("\xEF\xBB\xBF<array><string>x</string></array>"), Value(Array{"x"}));
}

TEST(XMLPropertyListTest, DuplicateKeysLastWins) {
    Value v = read(xmlDocument("<dict><key>a</key><integer>1</integer><key>b</key><integer>2</integer>"
                               "<key>a</key><integer>3</integer></dict>"));
    EXPECT_EQ(v.dictionary()->count(), 2u);
    EXPECT_EQ(v["a"].intValue(), 3);
    EXPECT_EQ(v.dictionary()->allKeys().front(), "a");
}

TEST(XMLPropertyListTest, IntegerRange) {
    Value v = read(
        xmlDocument("<array><integer>9223372036854775807</integer><integer>-9223372036854775808</integer>"
                    "<integer>18446744073709551615</integer></array>"));
    ASSERT_TRUE(v.isArray());
    EXPECT_EQ(v[0].longLongValue(), std::numeric_limits<long long>::max());
    EXPECT_EQ(v[1].longLongValue(), std::numeric_limits<long long>::min());
    EXPECT_EQ(v[2].unsignedLongLongValue(), std::numeric_limits<unsigned long long>::max());
    expectReadFails(xmlDocument("<integer>18446744073709551616</integer>"), "too big");
    expectReadFails(xmlDocument("<integer>-9223372036854775809</integer>"), "too small");
}

TEST(XMLPropertyListTest, MalformedDocumentsFail) {
    const char* bodies[] = {
        "<dict><key>a</key></dict>",
        "<dict><integer>1</integer></dict>",
        "<dict>text<key>a</key><integer>1</integer></dict>",
        "<dict><key>a</key><integer>1</integer><key>b</key></dict>",
        "<array>stray</array>",
        "<integer>12x</integer>",
        "<integer></integer>",
        "<integer>--1</integer>",
        "<real>abc</real>",
        "<real></real>",
        "<true>yes</true>",
        "<date>2016-13-01T00:00:00Z</date>",
        "<date>2016-01-01 00:00:00</date>",
        "<data>!!!!</data>",
        "<data>aGVsbG8=x</data>",
        "<data>a===</data>",
        "<string><b>bold</b></string>",
        "<unknown/>",
        "<array><string>1</string>",
        "",
        "<string>a</string><string>b</string>",
    };
    for (const char* body : bodies) expectReadFails(xmlDocument(body), body);
    expectReadFails("", "empty");
    expectReadFails("   ", "blank");
    expectReadFails("{a = b;}", "old text format");
    expectReadFails("<plist version=\"1.0\"></plist>", "empty plist");
    expectReadFails("<plist><dict></plist>", "unbalanced");
    expectReadFails("<?xml version=\"1.0\"?>", "no root");
}

TEST(XMLPropertyListTest, EntitiesAreNeverExpandedFromOutside) {
    testsupport::TemporaryDirectory dir;
    std::string secretPath = dir.file("secret.txt");
    ASSERT_TRUE(NSData::fromString("SECRET").writeToFile(secretPath));
    std::string external = "<?xml version=\"1.0\"?>\n<!DOCTYPE plist [<!ENTITY x SYSTEM \"file://" +
                           secretPath + "\">]>\n<plist version=\"1.0\"><string>&x;</string></plist>";
    Ref<NSError> error;
    Value v = read(external, 0, nullptr, &error);
    EXPECT_TRUE(v.isNil());
    EXPECT_EQ(v.stringValue().find("SECRET"), std::string::npos);

    std::string laughs = "<?xml version=\"1.0\"?>\n<!DOCTYPE plist [<!ENTITY a \"aaaaaaaaaa\">";
    for (char c = 'b'; c <= 'k'; ++c) {
        laughs += std::string("<!ENTITY ") + c + " \"" + std::string(10, '&') + "\">";
        std::string refs;
        for (int i = 0; i < 10; ++i) refs += std::string("&") + static_cast<char>(c - 1) + ";";
        laughs.replace(laughs.size() - 12, 10, refs);
    }
    laughs += "]>\n<plist version=\"1.0\"><string>&k;</string></plist>";
    EXPECT_TRUE(read(laughs).isNil());
}

TEST(XMLPropertyListTest, DeepNestingFailsCleanly) {
    std::string deep;
    for (int i = 0; i < 5000; ++i) deep += "<array>";
    for (int i = 0; i < 5000; ++i) deep += "</array>";
    expectReadFails(xmlDocument(deep), "deep");
    std::string fine;
    for (int i = 0; i < 100; ++i) fine += "<array>";
    for (int i = 0; i < 100; ++i) fine += "</array>";
    EXPECT_TRUE(read(xmlDocument(fine)).isArray());
}

// ---------------------------------------------------------------------------------------------
// Binary

std::string u64be(std::uint64_t v, unsigned n) {
    std::string out;
    for (unsigned i = n; i-- > 0;) out += static_cast<char>((v >> (8 * i)) & 0xFF);
    return out;
}

// Builds a binary property list from raw object bytes (refs one byte, offsets one byte unless
// given).
std::string bplist(const std::vector<std::string>& objects, std::uint64_t top = 0, int offsetSize = 1,
                   int refSize = 1, std::int64_t countOverride = -1, std::int64_t tableOverride = -1) {
    std::string out = "bplist00";
    std::vector<std::uint64_t> offsets;
    for (auto& o : objects) {
        offsets.push_back(out.size());
        out += o;
    }
    std::uint64_t table = out.size();
    for (auto o : offsets) out += u64be(o, static_cast<unsigned>(offsetSize));
    out += std::string(6, '\0');
    out += static_cast<char>(offsetSize);
    out += static_cast<char>(refSize);
    out += u64be(countOverride >= 0 ? static_cast<std::uint64_t>(countOverride) : objects.size(), 8);
    out += u64be(top, 8);
    out += u64be(tableOverride >= 0 ? static_cast<std::uint64_t>(tableOverride) : table, 8);
    return out;
}

TEST(BinaryPropertyListTest, ReadsHandBuiltFile) {
    // { "a": [1, "é"], "b": true } with a 16-bit integer and a UTF-16 string.
    std::string file = bplist({
        std::string("\xD2\x01\x02\x03\x06", 5),  // dict of 2
        "\x51"
        "a",  // "a"
        "\x51"
        "b",                             // "b"
        std::string("\xA2\x04\x05", 3),  // [4, 5]
        std::string("\x11\x01\x00", 3),  // 256
        std::string("\x61\x00\xE9", 3),  // "é"
        "\x09",                          // true
    });
    NSPropertyListFormat format = NSPropertyListXMLFormat_v1_0;
    Value v = read(file, 0, &format);
    ASSERT_TRUE(v.isDictionary());
    EXPECT_EQ(format, NSPropertyListBinaryFormat_v1_0);
    EXPECT_EQ(v["a"][0].intValue(), 256);
    EXPECT_EQ(v["a"][1], Value("é"));
    EXPECT_TRUE(v["b"].boolValue());
}

TEST(BinaryPropertyListTest, ManyObjectsWidenReferences) {
    Array big = Array::mutableArray();
    for (int i = 0; i < 70000; ++i) big.addObject("s" + std::to_string(i));
    std::string bytes = write(big, NSPropertyListBinaryFormat_v1_0);
    Value back = read(bytes);
    ASSERT_TRUE(back.isArray());
    EXPECT_EQ(back.array()->count(), 70000u);
    EXPECT_EQ(back[69999], Value("s69999"));
}

TEST(BinaryPropertyListTest, IdenticalLeavesAreWrittenOnce) {
    Array records = Array::mutableArray();
    for (int i = 0; i < 1000; ++i)
        records.addObject(Dictionary{{"user_nickname", "same long value"}, {"n", 1}});
    std::string bytes = write(records, NSPropertyListBinaryFormat_v1_0);
    EXPECT_LT(bytes.size(), 16000u);  // about 45000 with every string written out
    EXPECT_EQ(read(bytes), Value(records));
}

TEST(BinaryPropertyListTest, LongCountsAndWideIntegers) {
    Value v = Array{std::string(300, 'x'),
                    "中" + std::string(20, 'y'),
                    NSData::fromString(std::string(70000, 'd')),
                    NSNumber::numberWithUnsignedLongLong(1ull << 63),
                    -1,
                    65535,
                    65536,
                    4294967296ll};
    Value back = read(write(v, NSPropertyListBinaryFormat_v1_0));
    EXPECT_EQ(back, v);
}

TEST(BinaryPropertyListTest, HostileFilesFail) {
    expectReadFails("bplist00", "header only");
    expectReadFails("bplist01" + std::string(40, '\0'), "other version");
    expectReadFails(bplist({"\x09"}, 1), "top out of range");
    expectReadFails(bplist({"\x09"}, 0, 3), "bad offset size");
    expectReadFails(bplist({"\x09"}, 0, 1, 0), "bad ref size");
    expectReadFails(bplist({"\x09"}, 0, 1, 1, 0), "no objects");
    expectReadFails(bplist({"\x09"}, 0, 1, 1, 1000000), "count beyond file");
    expectReadFails(bplist({"\x09"}, 0, 1, 1, -1, 2), "table inside header");
    expectReadFails(bplist({"\x09"}, 0, 1, 1, -1, 1000), "table past end");
    expectReadFails(bplist({std::string("\xA1\x05", 2)}), "ref out of range");
    expectReadFails(bplist({std::string("\xA1\x00", 2)}), "array holding itself");
    expectReadFails(bplist({std::string("\xA1\x01", 2), std::string("\xA1\x00", 2)}), "two-array cycle");
    expectReadFails(bplist({std::string("\xD1\x01\x01", 3), "\x10\x01"}), "key not a string");
    expectReadFails(bplist({"\x5F\x10\xFF"
                            "abc"}),
                    "string longer than file");
    expectReadFails(bplist({"\x6F\x13" + u64be(~0ull, 8)}), "huge UTF-16 count");
    expectReadFails(bplist({"\xAF\x13" + u64be(1ull << 62, 8)}), "huge array count");
    expectReadFails(bplist({"\x4F\x14" + std::string(8, '\x01')}), "bad count width");
    expectReadFails(bplist({"\x15" + std::string(32, '\0')}), "32-byte integer");
    expectReadFails(bplist({"\x00"}), "null object");
    expectReadFails(bplist({"\x80\x01"}), "uid");
    expectReadFails(bplist({"\x21\x00\x00"}), "2-byte real");
    expectReadFails(bplist({"\x13\x00"}), "truncated integer");
    expectReadFails(bplist({"\x7F\x10\x02\xC3("}), "bad UTF-8");

    // An offset that points into the offset table or the trailer.
    std::string file = bplist({"\x09"});
    file[file.size() - 33] = static_cast<char>(file.size() - 20);
    expectReadFails(file, "offset into trailer");
}

TEST(BinaryPropertyListTest, DeepChainFailsCleanly) {
    // 2000 arrays, each holding the next: deeper than the limit, laid out flat in the file.
    std::vector<std::string> objects;
    for (int i = 0; i < 2000; ++i) objects.push_back("\xA1" + u64be(static_cast<std::uint64_t>(i + 1), 2));
    objects.push_back("\x09");
    expectReadFails(bplist(objects, 0, 2, 2), "deep chain");
}

TEST(BinaryPropertyListTest, SharedContainersDoNotExplode) {
    // Each array holds the next one twice: 2^40 elements if expanded, a few objects when shared.
    std::vector<std::string> objects;
    for (int i = 0; i < 40; ++i)
        objects.push_back(std::string("\xA2") + static_cast<char>(i + 1) + static_cast<char>(i + 1));
    objects.push_back("\x09");
    Value v = read(bplist(objects));
    ASSERT_TRUE(v.isArray());
    EXPECT_TRUE(v[0].array()->isSameArray(*v[1].array()));
}

TEST(BinaryPropertyListTest, SharedLargeStringsHitTheBudget) {
    // One 60000-byte string referenced by 60000 array slots: 3.6 GB if copied out.
    std::vector<std::string> objects;
    std::string array = "\xAF\x11" + u64be(60000, 2);
    for (int i = 0; i < 60000; ++i) array += u64be(1, 2);
    objects.push_back(array);
    objects.push_back("\x5F\x11" + u64be(60000, 2) + std::string(60000, 'z'));
    expectReadFails(bplist(objects, 0, 4, 2), "expansion bomb");
}

// ---------------------------------------------------------------------------------------------
// Other formats and validity

TEST(PropertyListFormatTest, OldTextFormatIsNotWritten) {
    Ref<NSError> error;
    EXPECT_FALSE(NSPropertyListSerialization::dataWithPropertyList(Array{"a"}, NSPropertyListOpenStepFormat,
                                                                   0, &error));
    EXPECT_TRUE(error);
    EXPECT_FALSE(NSPropertyListSerialization::dataWithPropertyList(
        Array{"a"}, static_cast<NSPropertyListFormat>(7), 0, nullptr));
}

TEST(PropertyListFormatTest, Validity) {
    Value v = sample();
    EXPECT_TRUE(NSPropertyListSerialization::propertyListIsValidForFormat(v, NSPropertyListXMLFormat_v1_0));
    EXPECT_TRUE(
        NSPropertyListSerialization::propertyListIsValidForFormat(v, NSPropertyListBinaryFormat_v1_0));
    EXPECT_FALSE(NSPropertyListSerialization::propertyListIsValidForFormat(v, NSPropertyListOpenStepFormat));
    EXPECT_TRUE(NSPropertyListSerialization::propertyListIsValidForFormat(
        Dictionary{{"a", Array{"x", NSData()}}}, NSPropertyListOpenStepFormat));
    EXPECT_TRUE(
        NSPropertyListSerialization::propertyListIsValidForFormat("scalar", NSPropertyListXMLFormat_v1_0));
    EXPECT_FALSE(
        NSPropertyListSerialization::propertyListIsValidForFormat(Value(), NSPropertyListXMLFormat_v1_0));
}

// ---------------------------------------------------------------------------------------------
// Fuzz

TEST(PropertyListFuzzTest, MutatedDocumentsNeverCrash) {
    const std::string seeds[] = {
        write(sample(), NSPropertyListXMLFormat_v1_0), write(sample(), NSPropertyListBinaryFormat_v1_0),
        write(Array{Array{Array{1, "x"}}, Dictionary{{"k", Array{}}}}, NSPropertyListBinaryFormat_v1_0)};
    int parsed = 0, failed = 0;
    for (const auto& seed : seeds) {
        ASSERT_FALSE(seed.empty());
        for (unsigned i = 0; i < 2500; ++i) {
            std::string bytes = testsupport::mutate(seed, i);
            Ref<NSError> error;
            Value v = read(bytes, i % 3, nullptr, &error);
            if (v.isNil()) {
                ASSERT_TRUE(error);
                ++failed;
            } else {
                EXPECT_FALSE(error);
                ++parsed;
            }
        }
    }
    EXPECT_GT(failed, 0);
    EXPECT_GT(parsed, 0);
}

TEST(PropertyListFuzzTest, RandomBinaryTrailersNeverCrash) {
    std::string base = write(sample(), NSPropertyListBinaryFormat_v1_0);
    std::mt19937 rng(3);
    for (int i = 0; i < 3000; ++i) {
        std::string bytes = base;
        // Scribble over the trailer and the offset table, where the numbers that steer the
        // reader live.
        int edits = 1 + static_cast<int>(rng() % 4);
        for (int e = 0; e < edits; ++e) {
            std::size_t pos = bytes.size() - 1 - rng() % std::min<std::size_t>(bytes.size() - 8, 120);
            bytes[pos] = static_cast<char>(rng());
        }
        Ref<NSError> error;
        Value v = read(bytes, 0, nullptr, &error);
        EXPECT_EQ(v.isNil(), error != nullptr);
    }
}

}  // namespace
