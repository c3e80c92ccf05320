#include <gtest/gtest.h>

#include <string>

#include "app/CoreArchive+Version.h"
#include "app/CoreArchive.h"
#include "app/NSString+ArcFile.h"
#include "foundation/FoundationTesting.h"
#include "foundation/NSBundle.h"
#include "foundation/NSFileManager.h"
#include "foundation/NSSandbox.h"
#include "foundation/NSUserDefaults.h"
#include "tests/support/TestSupport.h"

namespace {

class ArchiveHelpersTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(NSSandbox::setRoot(sandbox_.path()));
        NSUserDefaults::resetStandardUserDefaults();
    }
    void TearDown() override {
        NSUserDefaults::resetStandardUserDefaults();
        foundation_testing::resetBundles();
    }

    bool isDirectory(const std::string& path) {
        bool directory = false;
        return NSFileManager::defaultManager()->fileExistsAtPath(path, &directory) && directory;
    }

    testsupport::TemporaryDirectory sandbox_;
};

}  // namespace

TEST_F(ArchiveHelpersTest, FoldersLieInTheSandbox) {
    EXPECT_EQ(NSString_ArcFile::cachesFolder(), NSSandbox::cachesPath());
    EXPECT_EQ(NSString_ArcFile::documentFolder(), NSSandbox::documentsPath());
}

TEST_F(ArchiveHelpersTest, CreateSubFolder) {
    std::string base = NSString_ArcFile::documentFolder();
    std::string made = NSString_ArcFile::createSubFolder(base, "a/b");
    EXPECT_EQ(made, base + "/a/b");
    EXPECT_TRUE(isDirectory(made));

    // An existing folder keeps its contents.
    ASSERT_TRUE(NSData::fromString("x").writeToFile(made + "/keep"));
    EXPECT_EQ(NSString_ArcFile::createSubFolder(base, "a/b"), made);
    EXPECT_TRUE(NSFileManager::defaultManager()->fileExistsAtPath(made + "/keep"));

    // A file in the way: nothing can be made, the path is still answered.
    ASSERT_TRUE(NSData::fromString("file").writeToFile(base + "/plain"));
    EXPECT_EQ(NSString_ArcFile::createSubFolder(base, "plain"), base + "/plain");
    EXPECT_FALSE(isDirectory(base + "/plain"));
}

TEST_F(ArchiveHelpersTest, ArchiveFiles) {
    std::string path = NSString_ArcFile::cachesFolder() + "/thing.arc";
    EXPECT_TRUE(CoreArchive::unarchiveObjectWithFile(path).isNil());
    Value value(Dictionary{{"a", Array{1, "二"}}});
    EXPECT_TRUE(CoreArchive::archiveRootObject(value, path));
    EXPECT_EQ(CoreArchive::unarchiveObjectWithFile(path), value);

    EXPECT_TRUE(CoreArchive::removeRootObjectWithFile(path));
    EXPECT_TRUE(NSFileManager::defaultManager()->fileExistsAtPath(path));
    EXPECT_TRUE(CoreArchive::unarchiveObjectWithFile(path).isNil());

    EXPECT_FALSE(
        CoreArchive::archiveRootObject(value, NSString_ArcFile::cachesFolder() + "/no/such/folder/x.arc"));
}

TEST_F(ArchiveHelpersTest, DamagedArchiveFilesGiveNil) {
    std::string path = NSString_ArcFile::cachesFolder() + "/damaged.arc";
    ASSERT_TRUE(CoreArchive::archiveRootObject(Value(Array{"a", 1, Dictionary{{"k", 2.5}}}), path));
    std::string bytes = NSData::dataWithContentsOfFile(path)->toString();
    for (unsigned seed = 0; seed < 200; ++seed) {
        ASSERT_TRUE(NSData::fromString(testsupport::mutate(bytes, seed)).writeToFile(path));
        Value value = CoreArchive::unarchiveObjectWithFile(path);
        EXPECT_TRUE(value.isNil() || value.isArray() || value.isSomething());
    }
    ASSERT_TRUE(NSData::fromString(bytes.substr(0, bytes.size() / 2)).writeToFile(path));
    EXPECT_TRUE(CoreArchive::unarchiveObjectWithFile(path).isNil());
}

TEST_F(ArchiveHelpersTest, StringDefaults) {
    EXPECT_FALSE(CoreArchive::strForKey("s"));
    CoreArchive::setStr(std::string("值"), "s");
    EXPECT_EQ(CoreArchive::strForKey("s"), "值");
    CoreArchive::removeStrForKey("s");
    EXPECT_FALSE(CoreArchive::strForKey("s"));
    EXPECT_TRUE(NSUserDefaults::standardUserDefaults()->objectForKey("s").isNil());
}

TEST_F(ArchiveHelpersTest, NumberDefaultsAndTheirRemoves) {
    CoreArchive::setInt(-9007199254740993LL, "i");
    EXPECT_EQ(CoreArchive::intForKey("i"), -9007199254740993LL);
    CoreArchive::removeIntForKey("i");
    EXPECT_EQ(CoreArchive::intForKey("i"), 0);
    // Removes store the zero value rather than deleting the key.
    EXPECT_FALSE(NSUserDefaults::standardUserDefaults()->objectForKey("i").isNil());

    CoreArchive::setFloat(0.1, "f");
    EXPECT_EQ(CoreArchive::floatForKey("f"), static_cast<double>(0.1f));
    EXPECT_NE(CoreArchive::floatForKey("f"), 0.1);
    CoreArchive::removeFloatForKey("f");
    EXPECT_EQ(CoreArchive::floatForKey("f"), 0.0);

    CoreArchive::setDouble(0.1, "d");
    EXPECT_EQ(CoreArchive::doubleForKey("d"), 0.1);
    CoreArchive::removeDoubleForKey("d");
    EXPECT_EQ(CoreArchive::doubleForKey("d"), 0.0);
    EXPECT_FALSE(NSUserDefaults::standardUserDefaults()->objectForKey("d").isNil());

    CoreArchive::setBool(true, "b");
    EXPECT_TRUE(CoreArchive::boolForKey("b"));
    CoreArchive::removeBoolForKey("b");
    EXPECT_FALSE(CoreArchive::boolForKey("b"));
    EXPECT_FALSE(NSUserDefaults::standardUserDefaults()->objectForKey("b").isNil());
}

TEST_F(ArchiveHelpersTest, SettersWriteThroughAtOnce) {
    CoreArchive::setStr(std::string("persisted"), "p");
    CoreArchive::setInt(5, "n");
    // A fresh defaults object reads what is on disk.
    NSUserDefaults::resetStandardUserDefaults();
    EXPECT_EQ(CoreArchive::strForKey("p"), "persisted");
    EXPECT_EQ(CoreArchive::intForKey("n"), 5);
}

TEST_F(ArchiveHelpersTest, NewFeatureVersion) {
    NSBundle::setInfoValue("CFBundleVersion", Value("7"));
    EXPECT_EQ(CoreArchive_Version::currentVersion(), "7");
    EXPECT_FALSE(CoreArchive_Version::isSavedCurrentVersionInfo());
    CoreArchive_Version::saveCurrentVersionInfo();
    EXPECT_TRUE(CoreArchive_Version::isSavedCurrentVersionInfo());
    EXPECT_EQ(CoreArchive::strForKey(kNewFeatureVersionKey), "7");

    NSBundle::setInfoValue("CFBundleVersion", Value("8"));
    EXPECT_FALSE(CoreArchive_Version::isSavedCurrentVersionInfo());
    CoreArchive_Version::saveCurrentVersionInfo();
    EXPECT_TRUE(CoreArchive_Version::isSavedCurrentVersionInfo());
}
