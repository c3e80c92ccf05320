#include "network/NSURLMIMETypes.h"

#include <gtest/gtest.h>

#include "tests/support/TestSupport.h"

namespace {

TEST(NSURLMIMETypesTest, CommonExtensions) {
    EXPECT_EQ(NSURLMIMETypeForExtension("png"), "image/png");
    EXPECT_EQ(NSURLMIMETypeForExtension(".JPG"), "image/jpeg");
    EXPECT_EQ(NSURLMIMETypeForExtension("json"), "application/json");
    EXPECT_EQ(NSURLMIMETypeForExtension("txt"), "text/plain");
    EXPECT_EQ(NSURLMIMETypeForExtension("no-such-extension"), "application/octet-stream");
    EXPECT_EQ(NSURLMIMETypeForExtension(""), "application/octet-stream");
    EXPECT_EQ(NSURLPreferredExtensionForMIMEType("image/png; q=1"), "png");
    EXPECT_FALSE(NSURLPreferredExtensionForMIMEType("x-nothing/at-all"));
}

TEST(NSURLMIMETypesTest, TypeIdentifiersLeadFromExtensionToMIMEType) {
    auto id = UTTypeCreatePreferredIdentifierForTag(kUTTagClassFilenameExtension, "jpeg", std::nullopt);
    ASSERT_TRUE(id);
    EXPECT_EQ(UTTypeCopyPreferredTagWithClass(*id, kUTTagClassMIMEType), "image/jpeg");
    EXPECT_EQ(UTTypeCopyPreferredTagWithClass(*id, kUTTagClassFilenameExtension), "jpeg");
    auto unknown = UTTypeCreatePreferredIdentifierForTag(kUTTagClassFilenameExtension, "zzzq", std::nullopt);
    ASSERT_TRUE(unknown);
    EXPECT_FALSE(UTTypeCopyPreferredTagWithClass(*unknown, kUTTagClassMIMEType));
    EXPECT_EQ(UTTypeCopyPreferredTagWithClass(*unknown, kUTTagClassFilenameExtension), "zzzq");
    auto byType = UTTypeCreatePreferredIdentifierForTag(kUTTagClassMIMEType, "image/png", std::nullopt);
    ASSERT_TRUE(byType);
    EXPECT_EQ(UTTypeCopyPreferredTagWithClass(*byType, kUTTagClassFilenameExtension), "png");
    EXPECT_FALSE(UTTypeCreatePreferredIdentifierForTag("public.other", "png", std::nullopt));
    EXPECT_FALSE(UTTypeCreatePreferredIdentifierForTag(kUTTagClassFilenameExtension, "", std::nullopt));
    EXPECT_FALSE(UTTypeCopyPreferredTagWithClass("public.item", kUTTagClassMIMEType));
}

TEST(NSURLMIMETypesTest, TableParsingSkipsWhatIsNotAnEntry) {
    auto table = detail::MIMETypeTable::parse("# comment\n"
                                              "image/x-one one ONE # trailing\n"
                                              "not-a-type ext\n"
                                              "a/b/c bad\n"
                                              "text/y\n"
                                              "text/z z\r\n"
                                              "image/x-two one two\n"
                                              "x/\tdot.ted ok\n");
    EXPECT_EQ(table.typeForExtension("one"), "image/x-one");
    EXPECT_EQ(table.typeForExtension("two"), "image/x-two");
    EXPECT_EQ(table.typeForExtension("z"), "text/z");
    EXPECT_FALSE(table.typeForExtension("ext"));
    EXPECT_FALSE(table.typeForExtension("bad"));
    EXPECT_FALSE(table.typeForExtension("dot.ted"));
    EXPECT_EQ(table.extensionForType("image/x-one"), "one");
}

TEST(NSURLMIMETypesTest, HostileTablesParseWithoutHarm) {
    const std::string sample = "image/png png\ntext/plain txt text\napplication/json json\n# c\n";
    for (unsigned seed = 0; seed < 1000; ++seed) {
        auto table = detail::MIMETypeTable::parse(testsupport::mutate(sample, seed));
        EXPECT_LE(table.size(), 64u);
        (void)table.typeForExtension("png");
    }
    std::string huge(1 << 20, 'a');
    EXPECT_EQ(detail::MIMETypeTable::parse(huge).size(), 0u);
    EXPECT_EQ(detail::MIMETypeTable::parse(std::string("a/b \0 c", 7)).size(), 1u);
}

}  // namespace
