#include "foundation/NSBundle.h"
#include "foundation/FoundationTesting.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <optional>
#include <thread>
#include <vector>

#include "foundation/NSFileManager.h"
#include "foundation/NSLog.h"
#include "tests/support/TestSupport.h"

#if __has_include("foundation/NSPropertyListSerialization.h")
#define APP_TEST_PROPERTY_LISTS 1
#else
#define APP_TEST_PROPERTY_LISTS 0
#endif

namespace {

const char kInfoPlist[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0">
<dict>
	<key>CFBundleIdentifier</key>
	<string>com.example.fromplist</string>
	<key>CFBundleShortVersionString</key>
	<string>2.3.1</string>
</dict>
</plist>
)";

class NSBundleTest : public ::testing::Test {
  protected:
    testsupport::TemporaryDirectory dir;
    Ref<NSFileManager> fm = NSFileManager::defaultManager();
    NSLogSink previousSink;

    void SetUp() override {
        previousSink = NSLogSetSink([](const std::string&) {});  // damaged tables are logged
        foundation_testing::resetBundles();
        NSBundle::setPreferredLanguages({"zh-Hans", "en"});
        put("XWDetails.css", "body{}");
        put("a.cer", "A");
        put("b.cer", "B");
        put("notes.txt", "root copy");
        put("PullRefresh.bundle/arrow.png", "png");
        put("WeiboSDK.bundle/others/mfp.cer", "cert");
        put("PKAssetPicker.Bundle/Images/AssetsPickerChecked@2x.png", "tick");
        put("en.lproj/only-en.txt", "en");
        put("en.lproj/notes.txt", "english copy");
        put("en.lproj/Localizable.strings", "\"Dismiss\" = \"Dismiss\";\n\"Hello\" = \"Hello\";\n");
        put("zh-Hans.lproj/Localizable.strings", "/* greeting */\n\"Hello\" = \"你好\";\n");
        put("Base.lproj/Forms.strings", "\"OK\" = \"Okay\";");
        NSBundle::setMainBundlePath(dir.path());
    }
    void TearDown() override {
        foundation_testing::resetBundles();
        NSLogSetSink(previousSink);
    }
    void put(const std::string& relative, const std::string& text) {
        std::string path = dir.file(relative);
        fm->createDirectoryAtPath(path.substr(0, path.rfind('/')), true);
        ASSERT_TRUE(fm->createFileAtPath(path, NSData::fromString(text)));
    }
    Ref<NSBundle> main() { return NSBundle::mainBundle(); }
};

// ---------------------------------------------------------------------------------------------
TEST_F(NSBundleTest, MainBundleIsTheResourcesFolder) {
    EXPECT_EQ(main(), NSBundle::mainBundle());
    EXPECT_TRUE(main()->isMainBundle());
    EXPECT_EQ(main()->bundlePath(), dir.path());
    EXPECT_EQ(main()->resourcePath(), dir.path());
    EXPECT_EQ(NSBundle::bundleForClass("QVNKeyboardView"), main());
    auto exe = main()->executablePath();
    ASSERT_TRUE(exe);
    EXPECT_NE(exe->find("test_foundation"), std::string::npos);
}

TEST_F(NSBundleTest, DefaultInfoValues) {
    EXPECT_EQ(main()->bundleIdentifier(), "com.example.cartuning");
    EXPECT_EQ(main()->objectForInfoDictionaryKey("UIMainStoryboardFile"), Value("Main"));
    EXPECT_EQ(main()->objectForInfoDictionaryKey("UIViewControllerBasedStatusBarAppearance"), Value(false));
    for (const char* key : {"CFBundleExecutable", "CFBundleName", "CFBundleDisplayName",
                            "CFBundleShortVersionString", "CFBundleVersion"}) {
        EXPECT_TRUE(main()->objectForInfoDictionaryKey(key).isString()) << key;
    }
    EXPECT_TRUE(main()->objectForInfoDictionaryKey("NoSuchKey").isNil());
}

TEST_F(NSBundleTest, InfoValuesCanBeSetAndRemoved) {
    Dictionary before = main()->infoDictionary();
    NSBundle::setInfoValue("CFBundleVersion", "42");
    NSBundle::setInfoValue("CFBundleName", Value());
    EXPECT_EQ(main()->objectForInfoDictionaryKey("CFBundleVersion"), Value("42"));
    EXPECT_TRUE(main()->objectForInfoDictionaryKey("CFBundleName").isNil());
    // A snapshot taken earlier does not change.
    EXPECT_EQ(before["CFBundleVersion"], Value("1"));
    // The values outlive a change of main bundle.
    NSBundle::setMainBundlePath(dir.file("PullRefresh.bundle"));
    EXPECT_EQ(main()->bundlePath(), dir.file("PullRefresh.bundle"));
    EXPECT_EQ(main()->objectForInfoDictionaryKey("CFBundleVersion"), Value("42"));
}

TEST_F(NSBundleTest, InfoValuesAreCopied) {
    Dictionary schemes = Dictionary::mutableDictionary();
    schemes.setObject("wx", "wx123");
    NSBundle::setInfoValue("Schemes", schemes);
    schemes.setObject("wb", "wb456");
    EXPECT_EQ(main()->objectForInfoDictionaryKey("Schemes").dictionary()->count(), 1u);
}

TEST_F(NSBundleTest, InfoPlistInTheFolderIsRead) {
    put("Info.plist", kInfoPlist);
    NSBundle::setMainBundlePath(dir.path());
#if APP_TEST_PROPERTY_LISTS
    EXPECT_EQ(main()->bundleIdentifier(), "com.example.fromplist");
    EXPECT_EQ(main()->objectForInfoDictionaryKey("CFBundleShortVersionString"), Value("2.3.1"));
#endif
    // Keys the file does not name keep their defaults.
    EXPECT_EQ(main()->objectForInfoDictionaryKey("UIMainStoryboardFile"), Value("Main"));
}

TEST_F(NSBundleTest, DamagedInfoPlistLeavesTheDefaults) {
    for (unsigned seed = 0; seed < 200; ++seed) {
        put("Info.plist", testsupport::mutate(kInfoPlist, seed));
        NSBundle::setMainBundlePath(dir.path());
        auto bundle = main();
        EXPECT_EQ(bundle->objectForInfoDictionaryKey("UIMainStoryboardFile"), Value("Main"));
        auto id = bundle->objectForInfoDictionaryKey("CFBundleIdentifier");
        EXPECT_FALSE(id.isNil());
    }
    put("Info.plist", "<plist><array><string>x</string></array></plist>");  // not a dictionary
    NSBundle::setMainBundlePath(dir.path());
    EXPECT_EQ(main()->bundleIdentifier(), "com.example.cartuning");
}

// ---------------------------------------------------------------------------------------------
TEST_F(NSBundleTest, PathForResourceByNameAndType) {
    EXPECT_EQ(main()->pathForResource("XWDetails", "css"), dir.file("XWDetails.css"));
    EXPECT_EQ(main()->pathForResource("XWDetails.css", ""), dir.file("XWDetails.css"));
    EXPECT_EQ(main()->pathForResource("XWDetails", ".css"), dir.file("XWDetails.css"));
    auto url = main()->URLForResource("XWDetails", "css");
    ASSERT_TRUE(url);
    EXPECT_TRUE(url->isFileURL());
    EXPECT_EQ(url->path(), dir.file("XWDetails.css"));
    EXPECT_FALSE(main()->URLForResource("XWDetails", "js"));
    auto acv = main()->URLForResource("mfp", "cer", "WeiboSDK.bundle/others");
    ASSERT_TRUE(acv);
    EXPECT_EQ(acv->path(), dir.file("WeiboSDK.bundle/others/mfp.cer"));
    EXPECT_FALSE(main()->pathForResource("XWDetails", "js"));
    EXPECT_FALSE(main()->pathForResource("", ""));
    EXPECT_EQ(main()->pathForResource("", "cer"), dir.file("a.cer"));  // the first of its type
}

TEST_F(NSBundleTest, PathForResourceInFoldersAndSubBundles) {
    EXPECT_EQ(main()->pathForResource("PullRefresh.bundle/arrow", "png"),
              dir.file("PullRefresh.bundle/arrow.png"));
    EXPECT_EQ(main()->pathForResource("mfp", "cer", "WeiboSDK.bundle/others"),
              dir.file("WeiboSDK.bundle/others/mfp.cer"));
    EXPECT_EQ(main()->pathForResource("a", "cer", "."), dir.file("a.cer"));
    EXPECT_EQ(main()->pathForResource("WeiboSDK", "bundle"), dir.file("WeiboSDK.bundle"));
    EXPECT_FALSE(main()->pathForResource("mfp", "cer", "WeiboSDK.bundle/missing"));
}

TEST_F(NSBundleTest, LocalisedResourcesComeAfterTheUnlocalisedOnes) {
    EXPECT_EQ(main()->pathForResource("only-en", "txt"), dir.file("en.lproj/only-en.txt"));
    EXPECT_EQ(main()->pathForResource("notes", "txt"), dir.file("notes.txt"));
    NSBundle::setPreferredLanguages({"fr"});
    EXPECT_FALSE(main()->pathForResource("only-en", "txt"));
}

TEST_F(NSBundleTest, PathsForResourcesOfType) {
    EXPECT_EQ(main()->pathsForResourcesOfType("cer", "."),
              (std::vector<std::string>{dir.file("a.cer"), dir.file("b.cer")}));
    EXPECT_EQ(main()->pathsForResourcesOfType("cer", "WeiboSDK.bundle/others"),
              (std::vector<std::string>{dir.file("WeiboSDK.bundle/others/mfp.cer")}));
    EXPECT_TRUE(main()->pathsForResourcesOfType("cer", "missing").empty());
    EXPECT_TRUE(main()->pathsForResourcesOfType("gif", "").empty());
    auto all = main()->pathsForResourcesOfType("", "PullRefresh.bundle");
    EXPECT_EQ(all, (std::vector<std::string>{dir.file("PullRefresh.bundle/arrow.png")}));
}

TEST_F(NSBundleTest, SubBundlesByPath) {
    auto pull = NSBundle::bundleWithPath(dir.file("PullRefresh.bundle"));
    ASSERT_TRUE(pull);
    EXPECT_FALSE(pull->isMainBundle());
    EXPECT_EQ(pull, NSBundle::bundleWithPath(dir.file("PullRefresh.bundle/")));  // one per folder
    EXPECT_EQ(pull->pathForResource("arrow", "png"), dir.file("PullRefresh.bundle/arrow.png"));
    EXPECT_FALSE(pull->bundleIdentifier());
    EXPECT_FALSE(pull->executablePath());
    auto picker = NSBundle::bundleWithPath(*main()->pathForResource("PKAssetPicker", "Bundle"));
    ASSERT_TRUE(picker);
    EXPECT_TRUE(picker->pathForResource("AssetsPickerChecked@2x", "png", "Images"));
    EXPECT_EQ(NSBundle::bundleWithPath(dir.path()), main());
    EXPECT_EQ(NSBundle::bundleWithURL(NSURL::fileURLWithPath(dir.file("PullRefresh.bundle"))), pull);
    EXPECT_EQ(main()->bundleURL()->path(), dir.path());
    EXPECT_EQ(main()->resourceURL()->path(), dir.path());
}

TEST_F(NSBundleTest, AbsentBundlesAreNil) {
    EXPECT_FALSE(NSBundle::bundleWithPath(dir.file("GHProgressHUD.bundle")));
    EXPECT_FALSE(NSBundle::bundleWithPath(dir.file("a.cer")));
    EXPECT_FALSE(NSBundle::bundleWithPath(""));
    EXPECT_FALSE(NSBundle::bundleWithURL(nullptr));
    EXPECT_FALSE(NSBundle::bundleWithURL(NSURL::URLWithString("http://127.0.0.1/WeiboSDK.bundle")));
    EXPECT_FALSE(main()->pathForResource("CoreTelephony", "framework"));
}

// ---------------------------------------------------------------------------------------------
TEST_F(NSBundleTest, LocalizedStringsFollowThePreferredLanguages) {
    EXPECT_EQ(main()->localizedStringForKey("Hello", "", std::nullopt), "你好");
    EXPECT_EQ(main()->localizedStringForKey("Dismiss", "", ""), "Dismiss");  // only in en
    NSBundle::setPreferredLanguages({"en"});
    EXPECT_EQ(main()->localizedStringForKey("Hello", "", "Localizable"), "Hello");
    NSBundle::setPreferredLanguages({"zh-Hans-CN"});  // falls back to zh-Hans
    EXPECT_EQ(main()->localizedStringForKey("Hello", "", std::nullopt), "你好");
    EXPECT_EQ(main()->preferredLocalizations(), (std::vector<std::string>{"zh-Hans", "Base"}));
    EXPECT_EQ(main()->localizations(), (std::vector<std::string>{"Base", "en", "zh-Hans"}));
}

TEST_F(NSBundleTest, AbsentTablesAndKeysAnswerTheValueOrTheKey) {
    EXPECT_EQ(main()->localizedStringForKey("Unacceptable content-type: %@", "", "HKNetworking"),
              "Unacceptable content-type: %@");
    EXPECT_EQ(main()->localizedStringForKey("Dismiss", std::nullopt, "HKNetworking"), "Dismiss");
    EXPECT_EQ(main()->localizedStringForKey("missing.key", "fallback", std::nullopt), "fallback");
    EXPECT_EQ(main()->localizedStringForKey("missing.key", "", std::nullopt), "missing.key");
    EXPECT_EQ(main()->localizedStringForKey("", std::nullopt, std::nullopt), "");
    EXPECT_EQ(main()->localizedStringForKey("OK", "", "Forms"), "Okay");  // from Base.lproj
}

TEST_F(NSBundleTest, UnlocalisedTableAtTheBundleRoot) {
    put("Errors.strings", "\"E1\" = \"First error\";");
    EXPECT_EQ(main()->localizedStringForKey("E1", "", "Errors"), "First error");
}

TEST_F(NSBundleTest, PropertyListTables) {
#if !APP_TEST_PROPERTY_LISTS
    GTEST_SKIP() << "the property-list reader is not part of this build";
#endif
    put("zh-Hans.lproj/Plist.strings",
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
        "<key>Done</key><string>完成</string><key>Count</key><integer>3</integer></dict></plist>");
    EXPECT_EQ(main()->localizedStringForKey("Done", "", "Plist"), "完成");
    EXPECT_EQ(main()->localizedStringForKey("Count", "", "Plist"), "Count");  // not text: absent
    put("zh-Hans.lproj/Array.strings",
        "<?xml version=\"1.0\"?><plist version=\"1.0\"><array><string>x</string></array></plist>");
    EXPECT_EQ(main()->localizedStringForKey("x", "", "Array"), "x");
}

TEST_F(NSBundleTest, DamagedTableCountsAsAbsent) {
    put("en.lproj/Broken.strings", "\"a\" = \"b\"\n\"c\" = \"d\";");  // missing ";"
    EXPECT_EQ(main()->localizedStringForKey("a", "", "Broken"), "a");
    EXPECT_EQ(main()->localizedStringForKey("c", "dflt", "Broken"), "dflt");
}

TEST_F(NSBundleTest, MutatedTablesNeverCrash) {
    const std::string good = "/* c */ \"k\" = \"v\\n\\U4F60\";\n// x\n\"k2\" = word;\n";
    for (unsigned seed = 0; seed < 100; ++seed) {
        std::string table = "Fuzz" + std::to_string(seed);
        put("zh-Hans.lproj/" + table + ".strings", testsupport::mutate(good, seed));
        std::string answer = main()->localizedStringForKey("k", "", table);
        EXPECT_FALSE(answer.empty());
    }
}

TEST_F(NSBundleTest, ConcurrentLookupsAndConfiguration) {
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 300; ++i) {
                auto bundle = NSBundle::mainBundle();
                if (bundle->localizedStringForKey("Hello", "", std::nullopt) != "你好") ++wrong;
                if (!bundle->pathForResource("XWDetails", "css")) ++wrong;
                if (t == 0) NSBundle::setInfoValue("Counter", i);
                bundle->objectForInfoDictionaryKey("Counter");
                NSBundle::bundleWithPath(dir.file("WeiboSDK.bundle"));
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(main()->objectForInfoDictionaryKey("Counter"), Value(299));
}

// The configuration read from the environment.
class NSBundleEnvironmentTest : public NSBundleTest {
  protected:
    void SetUp() override {
        NSBundleTest::SetUp();
        for (const char* name : {"APP_RESOURCES_DIR", "APP_LANGUAGES"}) {
            const char* value = std::getenv(name);
            saved.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
        }
    }
    void TearDown() override {
        for (const auto& [name, value] : saved) {
            if (value) {
                ::setenv(name.c_str(), value->c_str(), 1);
            } else {
                ::unsetenv(name.c_str());
            }
        }
        NSBundleTest::TearDown();
    }
    std::vector<std::pair<std::string, std::optional<std::string>>> saved;
};

TEST_F(NSBundleEnvironmentTest, ResourcesFolderFromTheEnvironment) {
    ::setenv("APP_RESOURCES_DIR", (dir.path() + "/WeiboSDK.bundle/").c_str(), 1);
    foundation_testing::resetBundles();
    EXPECT_EQ(main()->bundlePath(), dir.file("WeiboSDK.bundle"));
    EXPECT_TRUE(main()->pathForResource("mfp", "cer", "others"));
    // An explicit path wins over the environment.
    NSBundle::setMainBundlePath(dir.path());
    EXPECT_EQ(main()->bundlePath(), dir.path());
}

TEST_F(NSBundleEnvironmentTest, LanguagesFromTheEnvironment) {
    ::setenv("APP_LANGUAGES", " en , zh-Hans,,", 1);
    foundation_testing::resetBundles();
    NSBundle::setMainBundlePath(dir.path());
    EXPECT_EQ(NSBundle::preferredLanguages(), (std::vector<std::string>{"en", "zh-Hans"}));
    EXPECT_EQ(main()->localizedStringForKey("Hello", "", std::nullopt), "Hello");
    ::setenv("APP_LANGUAGES", ",, ,", 1);
    foundation_testing::resetBundles();
    EXPECT_EQ(NSBundle::preferredLanguages(), (std::vector<std::string>{"zh-Hans", "en"}));
}

TEST_F(NSBundleEnvironmentTest, MutatedLanguageListsStayInsideTheBundle) {
    for (unsigned seed = 0; seed < 500; ++seed) {
        ::setenv("APP_LANGUAGES", testsupport::mutate("zh-Hans,en,../..", seed).c_str(), 1);
        foundation_testing::resetBundles();
        NSBundle::setMainBundlePath(dir.path());
        for (const auto& language : NSBundle::preferredLanguages()) {
            EXPECT_FALSE(language.empty());
            EXPECT_EQ(language.find('/'), std::string::npos) << language;
        }
        for (const auto& folder : main()->preferredLocalizations()) {
            EXPECT_TRUE(fm->fileExistsAtPath(dir.file(folder + ".lproj"))) << folder;
        }
        std::string hello = main()->localizedStringForKey("Hello", "", std::nullopt);
        EXPECT_TRUE(hello == "Hello" || hello == "你好") << hello;
    }
}

// ---------------------------------------------------------------------------------------------
Dictionary parse(const std::string& text, bool* ok = nullptr) {
    Dictionary table = Dictionary::mutableDictionary();
    bool parsed = detail::parseStringsTable(text, table);
    if (ok) *ok = parsed;
    return table;
}

TEST(StringsTableTest, EntriesCommentsAndEscapes) {
    bool ok = false;
    auto t = parse("/* header\n comment */\n"
                   "\"quoted\" = \"a \\\"b\\\" \\\\ c\";  // trailing\n"
                   "bare_word = other.word;\n"
                   "\"lines\" = \"one\\ntwo\\tthree\";\n"
                   "\"unicode\" = \"\\U4F60\\U597D\";\n"
                   "\"pair\" = \"\\UD83D\\UDE00\";\n"
                   "\"octal\" = \"\\101\";\n"
                   "\"self\";\n"
                   "\"dup\" = \"first\"; \"dup\" = \"second\";",
                   &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(t["quoted"], Value("a \"b\" \\ c"));
    EXPECT_EQ(t["bare_word"], Value("other.word"));
    EXPECT_EQ(t["lines"], Value("one\ntwo\tthree"));
    EXPECT_EQ(t["unicode"], Value("你好"));
    EXPECT_EQ(t["pair"], Value("\xF0\x9F\x98\x80"));
    EXPECT_EQ(t["octal"], Value("A"));
    EXPECT_EQ(t["self"], Value("self"));
    EXPECT_EQ(t["dup"], Value("second"));
}

TEST(StringsTableTest, EmptyAndBracedTables) {
    bool ok = false;
    EXPECT_EQ(parse("", &ok).count(), 0u);
    EXPECT_TRUE(ok);
    EXPECT_EQ(parse("  /* only a comment */ \n", &ok).count(), 0u);
    EXPECT_TRUE(ok);
    EXPECT_EQ(parse("{ \"a\" = \"b\"; }", &ok)["a"], Value("b"));
    EXPECT_TRUE(ok);
}

TEST(StringsTableTest, ByteOrderMarksAndUtf16) {
    bool ok = false;
    EXPECT_EQ(parse("\xEF\xBB\xBF\"a\" = \"b\";", &ok)["a"], Value("b"));
    EXPECT_TRUE(ok);
    std::u16string wide = u"\"k\" = \"\u4F60\";";
    std::string le = "\xFF\xFE", be = "\xFE\xFF";
    for (char16_t c : wide) {
        le += static_cast<char>(c & 0xFF);
        le += static_cast<char>(c >> 8);
        be += static_cast<char>(c >> 8);
        be += static_cast<char>(c & 0xFF);
    }
    EXPECT_EQ(parse(le, &ok)["k"], Value("你"));
    EXPECT_TRUE(ok);
    EXPECT_EQ(parse(be, &ok)["k"], Value("你"));
    EXPECT_TRUE(ok);
}

TEST(StringsTableTest, DamagedTextIsRefused) {
    for (const char* bad : {"\"a\" = \"b\"", "\"a\" = ;", "\"a\" \"b\";", "\"unterminated = \"x\";",
                            "/* open", "\"a\" = \"b\\", "= \"b\";", "\"a\" = \"b\"; }", "{ \"a\" = \"b\";",
                            "\"x\" = \"\\U\";", "\"bad\xff\" = \"utf8\";"}) {
        bool ok = true;
        parse(bad, &ok);
        EXPECT_FALSE(ok) << bad;
    }
    bool ok = true;
    parse(std::string("\xFF\xFE\x00\xD8", 4), &ok);  // UTF-16 with a lone surrogate
    EXPECT_FALSE(ok);
}

TEST(StringsTableTest, LoneSurrogatesBecomeReplacementCharacters) {
    bool ok = false;
    auto t = parse("\"a\" = \"\\UD83Dx\"; \"b\" = \"\\UDE00\";", &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(t["a"], Value("\xEF\xBF\xBDx"));
    EXPECT_EQ(t["b"], Value("\xEF\xBF\xBD"));
}

TEST(StringsTableTest, RandomMutationsNeverCrash) {
    const std::string good = "/* Errors */\n\"Request failed: %@ (%ld)\" = \"请求失败: %@ (%ld)\";\n"
                             "\"k\\\"q\" = \"\\U4F60\\n\\t\\101\";\n// line\nword = other;\n\"self\";\n";
    int accepted = 0;
    for (unsigned seed = 0; seed < 5000; ++seed) {
        std::string text = testsupport::mutate(good, seed);
        Dictionary table = Dictionary::mutableDictionary();
        if (detail::parseStringsTable(text, table)) {
            ++accepted;
            for (const auto& [key, value] : table) EXPECT_TRUE(value.isString());
        }
    }
    EXPECT_GT(accepted, 0);
}

}  // namespace
