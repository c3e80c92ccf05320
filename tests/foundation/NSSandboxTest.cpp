#include "foundation/NSSandbox.h"
#include "foundation/FoundationTesting.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <thread>
#include <vector>

#include "foundation/NSFileManager.h"
#include "foundation/NSPathUtilities.h"
#include "tests/support/TestSupport.h"

namespace {

bool isFolder(const std::string& path) {
    bool dir = false;
    return NSFileManager::defaultManager()->fileExistsAtPath(path, &dir) && dir;
}

class NSSandboxTest : public ::testing::Test {
  protected:
    testsupport::TemporaryDirectory dir;
    void SetUp() override { ASSERT_TRUE(NSSandbox::setRoot(dir.path())); }
};

TEST_F(NSSandboxTest, SetRootCreatesTheStandardFolders) {
    EXPECT_EQ(NSSandbox::root(), dir.path());
    for (const char* folder : {"Documents", "Library", "Library/Caches", "Library/Preferences", "tmp"}) {
        EXPECT_TRUE(isFolder(dir.file(folder))) << folder;
    }
    EXPECT_EQ(NSSandbox::documentsPath(), dir.file("Documents"));
    EXPECT_EQ(NSSandbox::cachesPath(), dir.file("Library/Caches"));
    EXPECT_EQ(NSSandbox::preferencesPath(), dir.file("Library/Preferences"));
    EXPECT_EQ(NSSandbox::temporaryPath(), dir.file("tmp"));
}

TEST_F(NSSandboxTest, RootIsNormalisedAndAbsolute) {
    ASSERT_TRUE(NSSandbox::setRoot(dir.path() + "/nested/./deeper//"));
    EXPECT_EQ(NSSandbox::root(), dir.path() + "/nested/deeper");
    char cwd[4096];
    ASSERT_TRUE(::getcwd(cwd, sizeof cwd));
    ASSERT_EQ(::chdir(dir.path().c_str()), 0);
    bool ok = NSSandbox::setRoot("relative");
    ASSERT_EQ(::chdir(cwd), 0);
    ASSERT_TRUE(ok);
    EXPECT_EQ(NSSandbox::root(), dir.path() + "/relative");
}

TEST_F(NSSandboxTest, GenerationMovesWithEveryNewRoot) {
    auto before = NSSandbox::generation();
    ASSERT_TRUE(NSSandbox::setRoot(dir.file("other")));
    EXPECT_GT(NSSandbox::generation(), before);
}

TEST_F(NSSandboxTest, AnUnusableRootIsRefusedAndTheOldOneKept) {
    ASSERT_TRUE(
        NSFileManager::defaultManager()->createFileAtPath(dir.file("plain-file"), NSData::fromString("x")));
    auto before = NSSandbox::generation();
    EXPECT_FALSE(NSSandbox::setRoot(dir.file("plain-file")));
    EXPECT_FALSE(NSSandbox::setRoot(""));
    EXPECT_EQ(NSSandbox::root(), dir.path());
    EXPECT_EQ(NSSandbox::generation(), before);
}

TEST_F(NSSandboxTest, ExistingContentsSurviveASecondSetRoot) {
    auto fm = NSFileManager::defaultManager();
    ASSERT_TRUE(fm->createFileAtPath(dir.file("Documents/keep.txt"), NSData::fromString("kept")));
    ASSERT_TRUE(NSSandbox::setRoot(dir.path()));
    EXPECT_EQ(fm->contentsAtPath(dir.file("Documents/keep.txt"))->toString(), "kept");
}

TEST_F(NSSandboxTest, RootIsSafeToReadWhileItChanges) {
    testsupport::TemporaryDirectory other;
    std::vector<std::thread> readers;
    std::atomic<int> bad{0};
    for (int t = 0; t < 4; ++t) {
        readers.emplace_back([&] {
            for (int i = 0; i < 2000; ++i) {
                std::string root = NSSandbox::root();
                if (root != dir.path() && root != other.path()) ++bad;
            }
        });
    }
    for (int i = 0; i < 50; ++i) NSSandbox::setRoot(i % 2 ? dir.path() : other.path());
    for (auto& r : readers) r.join();
    EXPECT_EQ(bad.load(), 0);
    NSSandbox::setRoot(dir.path());
}

// The default choice, before anything sets a root.
class NSSandboxDefaultTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* env = std::getenv("APP_SANDBOX_ROOT");
        if (env) saved_ = env;
    }
    void TearDown() override {
        if (saved_) {
            ::setenv("APP_SANDBOX_ROOT", saved_->c_str(), 1);
        } else {
            ::unsetenv("APP_SANDBOX_ROOT");
        }
        foundation_testing::resetSandbox();
    }
    std::optional<std::string> saved_;
};

TEST_F(NSSandboxDefaultTest, TheEnvironmentNamesTheRoot) {
    testsupport::TemporaryDirectory dir;
    ::setenv("APP_SANDBOX_ROOT", (dir.path() + "/from-env/").c_str(), 1);
    foundation_testing::resetSandbox();
    EXPECT_EQ(NSSandbox::root(), dir.path() + "/from-env");
    EXPECT_TRUE(isFolder(dir.path() + "/from-env/Library/Caches"));
}

TEST_F(NSSandboxDefaultTest, WithoutConfigurationAFreshPerProcessFolderIsMadeAndRemoved) {
    ::unsetenv("APP_SANDBOX_ROOT");
    foundation_testing::resetSandbox();
    std::string root = NSSandbox::root();
    EXPECT_NE(root.find("app-sandbox-" + std::to_string(::getpid()) + "-"), std::string::npos) << root;
    EXPECT_TRUE(isFolder(root + "/Documents"));
    EXPECT_EQ(NSSandbox::root(), root);  // chosen once
    foundation_testing::resetSandbox();
    EXPECT_FALSE(NSFileManager::defaultManager()->fileExistsAtPath(root));
}

TEST_F(NSSandboxDefaultTest, AnUnusableEnvironmentRootFallsBackToATemporaryOne) {
    testsupport::TemporaryDirectory dir;
    ASSERT_TRUE(NSFileManager::defaultManager()->createFileAtPath(dir.file("file"), NSData::fromString("x")));
    ::setenv("APP_SANDBOX_ROOT", dir.file("file").c_str(), 1);
    foundation_testing::resetSandbox();
    std::string root = NSSandbox::root();
    EXPECT_NE(root, dir.file("file"));
    EXPECT_TRUE(isFolder(root + "/Library/Preferences"));
}

// ---------------------------------------------------------------------------------------------
class NSPathUtilitiesTest : public NSSandboxTest {};

TEST_F(NSPathUtilitiesTest, UserDomainFoldersLieUnderTheRoot) {
    using V = std::vector<std::string>;
    EXPECT_EQ(NSSearchPathForDirectoriesInDomains(NSCachesDirectory, NSUserDomainMask, true),
              V{dir.file("Library/Caches")});
    EXPECT_EQ(NSSearchPathForDirectoriesInDomains(NSDocumentDirectory, NSUserDomainMask, true),
              V{dir.file("Documents")});
    EXPECT_EQ(NSSearchPathForDirectoriesInDomains(NSLibraryDirectory, NSUserDomainMask, true),
              V{dir.file("Library")});
    EXPECT_EQ(NSSearchPathForDirectoriesInDomains(NSApplicationSupportDirectory, NSUserDomainMask, true),
              V{dir.file("Library/Application Support")});
    EXPECT_EQ(NSSearchPathForDirectoriesInDomains(NSCachesDirectory, NSAllDomainsMask, true),
              V{dir.file("Library/Caches")});
}

TEST_F(NSPathUtilitiesTest, WithoutExpansionPathsStartWithATilde) {
    auto paths = NSSearchPathForDirectoriesInDomains(NSCachesDirectory, NSUserDomainMask, false);
    ASSERT_EQ(paths.size(), 1u);
    EXPECT_EQ(paths[0], "~/Library/Caches");
    EXPECT_EQ(detail::expandTildeInPath(paths[0]), dir.file("Library/Caches"));
}

TEST_F(NSPathUtilitiesTest, OtherDomainsAndKindsFindNothing) {
    EXPECT_TRUE(NSSearchPathForDirectoriesInDomains(NSCachesDirectory, NSLocalDomainMask, true).empty());
    EXPECT_TRUE(NSSearchPathForDirectoriesInDomains(NSCachesDirectory, NSSystemDomainMask, true).empty());
    EXPECT_TRUE(NSSearchPathForDirectoriesInDomains(NSUserDirectory, NSUserDomainMask, true).empty());
    EXPECT_TRUE(
        NSSearchPathForDirectoriesInDomains(static_cast<NSSearchPathDirectory>(77), NSUserDomainMask, true)
            .empty());
    EXPECT_EQ(NSSearchPathForDirectoriesInDomains(NSAllLibrariesDirectory, NSUserDomainMask, true).size(),
              2u);
}

TEST_F(NSPathUtilitiesTest, HomeAndTemporaryFolders) {
    EXPECT_EQ(NSHomeDirectory(), dir.path());
    EXPECT_EQ(NSTemporaryDirectory(), dir.file("tmp/"));
    auto urls = NSFileManager::defaultManager()->URLsForDirectory(NSDocumentDirectory, NSUserDomainMask);
    ASSERT_EQ(urls.size(), 1u);
    EXPECT_TRUE(urls[0]->isFileURL());
    EXPECT_EQ(urls[0]->path(), dir.file("Documents"));
    EXPECT_TRUE(urls[0]->hasDirectoryPath());
}

TEST_F(NSPathUtilitiesTest, TildeExpansion) {
    EXPECT_EQ(detail::expandTildeInPath("~"), dir.path());
    EXPECT_EQ(detail::expandTildeInPath("~/Documents/x"), dir.file("Documents/x"));
    EXPECT_EQ(detail::expandTildeInPath("~other/x"), "~other/x");
    EXPECT_EQ(detail::expandTildeInPath("/abs/~"), "/abs/~");
    EXPECT_EQ(detail::expandTildeInPath(""), "");
}

TEST_F(NSPathUtilitiesTest, PathsFollowTheRoot) {
    testsupport::TemporaryDirectory other;
    ASSERT_TRUE(NSSandbox::setRoot(other.path()));
    EXPECT_EQ(NSSearchPathForDirectoriesInDomains(NSCachesDirectory, NSUserDomainMask, true).front(),
              other.file("Library/Caches"));
    ASSERT_TRUE(NSSandbox::setRoot(dir.path()));
}

}  // namespace
