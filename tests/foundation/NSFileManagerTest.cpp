#include "foundation/NSFileManager.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "tests/support/TestSupport.h"

namespace {

class NSFileManagerTest : public ::testing::Test {
  protected:
    testsupport::TemporaryDirectory dir;
    Ref<NSFileManager> fm = NSFileManager::defaultManager();

    std::string path(const std::string& name) const { return dir.file(name); }
    void write(const std::string& name, const std::string& text) {
        ASSERT_TRUE(fm->createFileAtPath(path(name), NSData::fromString(text)));
    }
    std::string read(const std::string& name) {
        auto data = fm->contentsAtPath(path(name));
        return data ? data->toString() : "<missing>";
    }
    // Gives a file a modification date, for tests of anything that sorts or expires by it.
    void age(const std::string& name, double since1970) {
        ASSERT_TRUE(fm->setAttributes(
            Dictionary{{NSFileModificationDate, NSDate::dateWithTimeIntervalSince1970(since1970)}},
            path(name)));
    }
};

void expectCocoaError(const Ref<NSError>& error, long code, int posix = 0) {
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), NSCocoaErrorDomain);
    EXPECT_EQ(error->code(), code) << error->description();
    if (posix) {
        auto underlying = error->userInfo()[NSUnderlyingErrorKey].objectAs<NSError>();
        ASSERT_TRUE(underlying);
        EXPECT_EQ(underlying->domain(), NSPOSIXErrorDomain);
        EXPECT_EQ(underlying->code(), posix);
    }
}

// ---------------------------------------------------------------------------------------------
TEST_F(NSFileManagerTest, ExistenceTellsFilesFromFolders) {
    write("a.txt", "x");
    bool isDir = true;
    EXPECT_TRUE(fm->fileExistsAtPath(path("a.txt"), &isDir));
    EXPECT_FALSE(isDir);
    EXPECT_TRUE(fm->fileExistsAtPath(dir.path(), &isDir));
    EXPECT_TRUE(isDir);
    EXPECT_FALSE(fm->fileExistsAtPath(path("missing"), &isDir));
    EXPECT_FALSE(isDir);
    EXPECT_FALSE(fm->fileExistsAtPath(""));
}

TEST_F(NSFileManagerTest, ExistenceFollowsLinksAndDanglingLinksDoNotExist) {
    ASSERT_TRUE(fm->createDirectoryAtPath(path("target"), false));
    ASSERT_EQ(::symlink(path("target").c_str(), path("link").c_str()), 0);
    ASSERT_EQ(::symlink(path("nowhere").c_str(), path("dangling").c_str()), 0);
    bool isDir = false;
    EXPECT_TRUE(fm->fileExistsAtPath(path("link"), &isDir));
    EXPECT_TRUE(isDir);
    EXPECT_FALSE(fm->fileExistsAtPath(path("dangling")));
    // The link itself is still an item: its attributes describe the link.
    auto attrs = fm->attributesOfItemAtPath(path("dangling"));
    ASSERT_TRUE(attrs);
    EXPECT_EQ((*attrs)[NSFileType].stringValue(), NSFileTypeSymbolicLink);
}

TEST_F(NSFileManagerTest, ReadableAndWritableFollowPermissions) {
    write("f", "x");
    EXPECT_TRUE(fm->isReadableFileAtPath(path("f")));
    EXPECT_TRUE(fm->isWritableFileAtPath(path("f")));
    EXPECT_TRUE(fm->isDeletableFileAtPath(path("f")));
    EXPECT_FALSE(fm->isReadableFileAtPath(path("missing")));
    EXPECT_FALSE(fm->isWritableFileAtPath(path("missing")));
    EXPECT_FALSE(fm->isDeletableFileAtPath(path("missing")));
    ASSERT_TRUE(fm->setAttributes(Dictionary{{NSFilePosixPermissions, 0444}}, path("f")));
    if (::geteuid() != 0) {
        EXPECT_FALSE(fm->isWritableFileAtPath(path("f")));
    }
    EXPECT_EQ((*fm->attributesOfItemAtPath(path("f")))[NSFilePosixPermissions].intValue(), 0444);
}

// ---------------------------------------------------------------------------------------------
TEST_F(NSFileManagerTest, CreateDirectoryWithoutIntermediatesNeedsTheParent) {
    Ref<NSError> error;
    EXPECT_FALSE(fm->createDirectoryAtPath(path("a/b"), false, Dictionary(), &error));
    expectCocoaError(error, NSFileNoSuchFileError, ENOENT);
    EXPECT_EQ(error->userInfo()[NSFilePathErrorKey].stringValue(), path("a/b"));

    error = nullptr;
    EXPECT_TRUE(fm->createDirectoryAtPath(path("a"), false, Dictionary(), &error));
    EXPECT_FALSE(error);
    // An existing folder is an error without intermediates...
    EXPECT_FALSE(fm->createDirectoryAtPath(path("a"), false, Dictionary(), &error));
    expectCocoaError(error, NSFileWriteFileExistsError, EEXIST);
    // ...and success with them.
    error = nullptr;
    EXPECT_TRUE(fm->createDirectoryAtPath(path("a"), true, Dictionary(), &error));
    EXPECT_FALSE(error);
}

TEST_F(NSFileManagerTest, CreateDirectoryWithIntermediatesMakesTheWholeChain) {
    EXPECT_TRUE(fm->createDirectoryAtPath(path("x/y//z/"), true));
    bool isDir = false;
    EXPECT_TRUE(fm->fileExistsAtPath(path("x/y/z"), &isDir));
    EXPECT_TRUE(isDir);
}

TEST_F(NSFileManagerTest, CreateDirectoryOverAFileFails) {
    write("file", "x");
    Ref<NSError> error;
    EXPECT_FALSE(fm->createDirectoryAtPath(path("file"), true, Dictionary(), &error));
    expectCocoaError(error, NSFileWriteFileExistsError);
    error = nullptr;
    EXPECT_FALSE(fm->createDirectoryAtPath(path("file/sub"), true, Dictionary(), &error));
    expectCocoaError(error, NSFileWriteFileExistsError);
    EXPECT_FALSE(fm->createDirectoryAtPath("", true, Dictionary(), &error));
}

TEST_F(NSFileManagerTest, CreateDirectoryAppliesAttributes) {
    ASSERT_TRUE(fm->createDirectoryAtPath(path("d"), false, Dictionary{{NSFilePosixPermissions, 0700}}));
    EXPECT_EQ((*fm->attributesOfItemAtPath(path("d")))[NSFilePosixPermissions].intValue(), 0700);
}

TEST_F(NSFileManagerTest, CreateDirectoryWithoutPermissionIsAWriteError) {
    std::string target;
    testsupport::TemporaryDirectory locked;
    if (::geteuid() != 0) {
        ASSERT_EQ(::chmod(locked.path().c_str(), 0500), 0);
        target = locked.file("sub");
    } else {
        target = "/sys/app-sandbox-test-denied";  // refused even to root
    }
    Ref<NSError> error;
    bool made = fm->createDirectoryAtPath(target, false, Dictionary(), &error);
    ::chmod(locked.path().c_str(), 0700);
    if (made || !error || (error->code() != NSFileWriteNoPermissionError)) {
        if (made) fm->removeItemAtPath(target);
        GTEST_SKIP() << "no folder here refuses this user";
    }
    expectCocoaError(error, NSFileWriteNoPermissionError);
}

// ---------------------------------------------------------------------------------------------
TEST_F(NSFileManagerTest, CreateFileWritesAndReplaces) {
    write("f", "first");
    EXPECT_EQ(read("f"), "first");
    write("f", "second, longer");
    EXPECT_EQ(read("f"), "second, longer");
    EXPECT_TRUE(fm->createFileAtPath(path("empty"), std::nullopt));
    EXPECT_EQ(read("empty"), "");
    // No temporary files are left beside the target.
    auto names = fm->contentsOfDirectoryAtPath(dir.path());
    ASSERT_TRUE(names);
    EXPECT_EQ(*names, (std::vector<std::string>{"empty", "f"}));
}

TEST_F(NSFileManagerTest, CreateFileFailsWithoutParentOrOverAFolder) {
    EXPECT_FALSE(fm->createFileAtPath(path("no/such/file"), NSData::fromString("x")));
    ASSERT_TRUE(fm->createDirectoryAtPath(path("d"), false));
    EXPECT_FALSE(fm->createFileAtPath(path("d"), NSData::fromString("x")));
    EXPECT_FALSE(fm->createFileAtPath("", NSData::fromString("x")));
}

TEST_F(NSFileManagerTest, ConcurrentWritersNeverLeaveAHalfFile) {
    const std::string a(100000, 'a'), b(100000, 'b');
    std::atomic<bool> stop{false};
    std::atomic<int> torn{0};
    std::thread reader([&] {
        while (!stop) {
            auto data = fm->contentsAtPath(path("f"));
            if (!data) continue;
            std::string s = data->toString();
            if (s != a && s != b) ++torn;
        }
    });
    std::thread w1([&] {
        for (int i = 0; i < 50; ++i) fm->createFileAtPath(path("f"), NSData::fromString(a));
    });
    std::thread w2([&] {
        for (int i = 0; i < 50; ++i) fm->createFileAtPath(path("f"), NSData::fromString(b));
    });
    w1.join();
    w2.join();
    stop = true;
    reader.join();
    EXPECT_EQ(torn.load(), 0);
}

// ---------------------------------------------------------------------------------------------
TEST_F(NSFileManagerTest, RemoveTakesFilesAndWholeTrees) {
    ASSERT_TRUE(fm->createDirectoryAtPath(path("t/a/b"), true));
    write("t/a/b/f", "x");
    write("t/.hidden", "x");
    ASSERT_EQ(::symlink(dir.path().c_str(), path("t/a/up").c_str()), 0);  // never followed
    EXPECT_TRUE(fm->removeItemAtPath(path("t")));
    EXPECT_FALSE(fm->fileExistsAtPath(path("t")));
    EXPECT_TRUE(fm->fileExistsAtPath(dir.path()));
}

TEST_F(NSFileManagerTest, RemoveMissingItemIsNoSuchFile) {
    Ref<NSError> error;
    EXPECT_FALSE(fm->removeItemAtPath(path("missing"), &error));
    expectCocoaError(error, NSFileNoSuchFileError, ENOENT);
    EXPECT_FALSE(fm->removeItemAtPath("", &error));
}

TEST_F(NSFileManagerTest, MoveRenamesAndRefusesAnExistingDestination) {
    write("a", "A");
    write("b", "B");
    Ref<NSError> error;
    EXPECT_FALSE(fm->moveItemAtPath(path("a"), path("b"), &error));
    expectCocoaError(error, NSFileWriteFileExistsError);
    EXPECT_EQ(read("a"), "A");
    EXPECT_EQ(read("b"), "B");

    error = nullptr;
    EXPECT_TRUE(fm->moveItemAtPath(path("a"), path("c"), &error));
    EXPECT_FALSE(error);
    EXPECT_FALSE(fm->fileExistsAtPath(path("a")));
    EXPECT_EQ(read("c"), "A");
}

TEST_F(NSFileManagerTest, MoveOfAMissingItemIsNoSuchFile) {
    Ref<NSError> error;
    EXPECT_FALSE(fm->moveItemAtPath(path("missing"), path("dest"), &error));
    expectCocoaError(error, NSFileNoSuchFileError, ENOENT);
    EXPECT_EQ(error->userInfo()[NSSourceFilePathErrorKey].stringValue(), path("missing"));
    EXPECT_EQ(error->userInfo()[NSDestinationFilePathErrorKey].stringValue(), path("dest"));
}

TEST_F(NSFileManagerTest, MoveIntoAMissingFolderFails) {
    write("a", "A");
    Ref<NSError> error;
    EXPECT_FALSE(fm->moveItemAtPath(path("a"), path("no/such/b"), &error));
    expectCocoaError(error, NSFileNoSuchFileError);
    EXPECT_EQ(read("a"), "A");
}

TEST_F(NSFileManagerTest, MoveCarriesFolders) {
    ASSERT_TRUE(fm->createDirectoryAtPath(path("d/e"), true));
    write("d/e/f", "F");
    EXPECT_TRUE(fm->moveItemAtPath(path("d"), path("moved")));
    EXPECT_EQ(read("moved/e/f"), "F");
}

TEST_F(NSFileManagerTest, CopyDuplicatesTreesWithDatesAndLinks) {
    ASSERT_TRUE(fm->createDirectoryAtPath(path("src/sub"), true));
    write("src/sub/f", "payload");
    write("src/.hidden", "h");
    ASSERT_EQ(::symlink("sub/f", path("src/link").c_str()), 0);
    age("src/sub/f", 1'000'000'000);
    ASSERT_TRUE(fm->setAttributes(Dictionary{{NSFilePosixPermissions, 0600}}, path("src/sub/f")));

    Ref<NSError> error;
    ASSERT_TRUE(fm->copyItemAtPath(path("src"), path("dst"), &error)) << error->description();
    EXPECT_EQ(read("dst/sub/f"), "payload");
    EXPECT_EQ(read("dst/.hidden"), "h");
    EXPECT_TRUE(fm->contentsEqualAtPath(path("src"), path("dst")));
    auto attrs = *fm->attributesOfItemAtPath(path("dst/sub/f"));
    EXPECT_EQ(attrs[NSFileModificationDate].date()->timeIntervalSince1970(), 1'000'000'000);
    EXPECT_EQ(attrs[NSFilePosixPermissions].intValue(), 0600);
    EXPECT_EQ((*fm->attributesOfItemAtPath(path("dst/link")))[NSFileType].stringValue(),
              NSFileTypeSymbolicLink);
    // The original is untouched.
    EXPECT_EQ(read("src/sub/f"), "payload");
}

TEST_F(NSFileManagerTest, CopyRefusesExistingDestinationAndMissingSource) {
    write("a", "A");
    write("b", "B");
    Ref<NSError> error;
    EXPECT_FALSE(fm->copyItemAtPath(path("a"), path("b"), &error));
    expectCocoaError(error, NSFileWriteFileExistsError);
    EXPECT_EQ(read("b"), "B");
    error = nullptr;
    EXPECT_FALSE(fm->copyItemAtPath(path("missing"), path("c"), &error));
    expectCocoaError(error, NSFileReadNoSuchFileError, ENOENT);
    EXPECT_FALSE(fm->fileExistsAtPath(path("c")));
}

TEST_F(NSFileManagerTest, ContentsEqualComparesBytes) {
    write("a", "same");
    write("b", "same");
    write("c", "diff");
    EXPECT_TRUE(fm->contentsEqualAtPath(path("a"), path("b")));
    EXPECT_FALSE(fm->contentsEqualAtPath(path("a"), path("c")));
    EXPECT_FALSE(fm->contentsEqualAtPath(path("a"), path("missing")));
}

// ---------------------------------------------------------------------------------------------
TEST_F(NSFileManagerTest, ListingIncludesHiddenEntriesSorted) {
    write("b", "");
    write("a", "");
    write(".h", "");
    ASSERT_TRUE(fm->createDirectoryAtPath(path("dir"), false));
    auto names = fm->contentsOfDirectoryAtPath(dir.path());
    ASSERT_TRUE(names);
    EXPECT_EQ(*names, (std::vector<std::string>{".h", "a", "b", "dir"}));
}

TEST_F(NSFileManagerTest, UrlListingSkipsHiddenAndGivesFullPaths) {
    write("b", "");
    write(".h", "");
    auto all = fm->contentsOfDirectoryAtURL(dir.path() + "/", NSDirectoryEnumerationOptions(0));
    ASSERT_TRUE(all);
    EXPECT_EQ(*all, (std::vector<std::string>{path(".h"), path("b")}));
    auto visible = fm->contentsOfDirectoryAtURL(dir.path(), NSDirectoryEnumerationSkipsHiddenFiles);
    ASSERT_TRUE(visible);
    EXPECT_EQ(*visible, (std::vector<std::string>{path("b")}));
}

TEST_F(NSFileManagerTest, ListingFailures) {
    Ref<NSError> error;
    EXPECT_FALSE(fm->contentsOfDirectoryAtPath(path("missing"), &error));
    expectCocoaError(error, NSFileReadNoSuchFileError, ENOENT);
    write("f", "x");
    error = nullptr;
    EXPECT_FALSE(fm->contentsOfDirectoryAtPath(path("f"), &error));
    expectCocoaError(error, NSFileReadUnknownError, ENOTDIR);
    EXPECT_FALSE(
        fm->contentsOfDirectoryAtURL(path("missing"), NSDirectoryEnumerationSkipsHiddenFiles, &error));
    EXPECT_FALSE(fm->subpathsOfDirectoryAtPath(path("f"), &error));
}

// ---------------------------------------------------------------------------------------------
TEST_F(NSFileManagerTest, AttributesGiveSizeTypeAndDates) {
    write("f", "12345");
    double before = static_cast<double>(::time(nullptr)) - 5;
    auto attrs = fm->attributesOfItemAtPath(path("f"));
    ASSERT_TRUE(attrs);
    const Value& size = (*attrs)[NSFileSize];
    ASSERT_TRUE(size.isNumber());
    EXPECT_EQ(size.number()->type(), NSNumber::Type::ULongLong);
    EXPECT_EQ(size.unsignedLongLongValue(), 5u);
    EXPECT_EQ((*attrs)[NSFileType].stringValue(), NSFileTypeRegular);
    ASSERT_TRUE((*attrs)[NSFileCreationDate].isDate());
    ASSERT_TRUE((*attrs)[NSFileModificationDate].isDate());
    EXPECT_GE((*attrs)[NSFileCreationDate].date()->timeIntervalSince1970(), before);
    EXPECT_GE((*attrs)[NSFileModificationDate].date()->timeIntervalSince1970(), before);

    auto dirAttrs = fm->attributesOfItemAtPath(dir.path());
    ASSERT_TRUE(dirAttrs);
    EXPECT_EQ((*dirAttrs)[NSFileType].stringValue(), NSFileTypeDirectory);
}

TEST_F(NSFileManagerTest, CreationDateIsBirthTimeNotModificationTime) {
    write("f", "x");
    age("f", 1'000'000'000);
    auto attrs = *fm->attributesOfItemAtPath(path("f"));
    EXPECT_EQ(attrs[NSFileModificationDate].date()->timeIntervalSince1970(), 1'000'000'000);
    // Where the file system keeps a birth time, moving the modification date leaves it alone;
    // elsewhere it falls back to the modification date.
    double created = attrs[NSFileCreationDate].date()->timeIntervalSince1970();
    EXPECT_TRUE(created > 1'600'000'000 || created == 1'000'000'000) << created;
}

TEST_F(NSFileManagerTest, AttributesOfMissingItemIsAReadError) {
    Ref<NSError> error;
    EXPECT_FALSE(fm->attributesOfItemAtPath(path("missing"), &error));
    expectCocoaError(error, NSFileReadNoSuchFileError, ENOENT);
    EXPECT_FALSE(fm->setAttributes(Dictionary{{NSFilePosixPermissions, 0600}}, path("missing"), &error));
    expectCocoaError(error, NSFileNoSuchFileError);
}

TEST_F(NSFileManagerTest, FractionalModificationDatesSurvive) {
    write("f", "x");
    age("f", 1'234'567'890.25);
    auto attrs = *fm->attributesOfItemAtPath(path("f"));
    EXPECT_NEAR(attrs[NSFileModificationDate].date()->timeIntervalSince1970(), 1'234'567'890.25, 1e-6);
}

// ---------------------------------------------------------------------------------------------
class NSDirectoryEnumeratorTest : public NSFileManagerTest {
  protected:
    void SetUp() override {
        ASSERT_TRUE(fm->createDirectoryAtPath(path("root/b/c"), true));
        ASSERT_TRUE(fm->createDirectoryAtPath(path("root/.git"), true));
        write("root/a.txt", "aaaa");
        write("root/b/c/deep.txt", "d");
        write("root/b/x.txt", "xx");
        write("root/.git/config", "cfg");
        write("root/b/.dot", "");
    }
};

TEST_F(NSDirectoryEnumeratorTest, PathWalkIsDepthFirstWithRelativePaths) {
    auto e = fm->enumeratorAtPath(path("root"));
    std::vector<std::string> seen = e->allObjects();
    EXPECT_EQ(seen, (std::vector<std::string>{".git", ".git/config", "a.txt", "b", "b/.dot", "b/c",
                                              "b/c/deep.txt", "b/x.txt"}));
    EXPECT_FALSE(e->nextObject());
}

TEST_F(NSDirectoryEnumeratorTest, SkipDescendantsLeavesOutAFolder) {
    auto e = fm->enumeratorAtPath(path("root") + "/");
    std::vector<std::string> seen;
    while (auto item = e->nextObject()) {
        seen.push_back(*item);
        if (*item == "b" || *item == ".git") e->skipDescendants();
    }
    EXPECT_EQ(seen, (std::vector<std::string>{".git", "a.txt", "b"}));
}

TEST_F(NSDirectoryEnumeratorTest, LevelAndAttributesDescribeTheCurrentItem) {
    auto e = fm->enumeratorAtPath(path("root"));
    EXPECT_EQ(e->level(), 0u);
    EXPECT_EQ(e->directoryAttributes()[NSFileType].stringValue(), NSFileTypeDirectory);
    while (auto item = e->nextObject()) {
        if (*item == "b/c/deep.txt") {
            EXPECT_EQ(e->level(), 3u);
            EXPECT_EQ(e->fileAttributes()[NSFileSize].intValue(), 1);
        }
        if (*item == "a.txt") {
            EXPECT_EQ(e->level(), 1u);
        }
    }
}

TEST_F(NSDirectoryEnumeratorTest, UrlWalkSkipsHiddenFilesAndTheirContents) {
    auto e = fm->enumeratorAtURL(path("root"), NSDirectoryEnumerationSkipsHiddenFiles);
    std::vector<std::string> seen;
    while (auto entry = e->nextEntry()) seen.push_back(entry->relativePath);
    EXPECT_EQ(seen, (std::vector<std::string>{"a.txt", "b", "b/c", "b/c/deep.txt", "b/x.txt"}));
}

TEST_F(NSDirectoryEnumeratorTest, UrlWalkGivesResourceValues) {
    age("root/a.txt", 1'500'000'000);
    auto e = fm->enumeratorAtURL(path("root"), NSDirectoryEnumerationSkipsHiddenFiles);
    auto first = e->nextEntry();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->path, path("root/a.txt"));
    EXPECT_EQ(first->name, "a.txt");
    EXPECT_FALSE(first->isDirectory);
    EXPECT_EQ(first->fileSize, 4u);
    EXPECT_GT(first->totalFileAllocatedSize, 0u);
    EXPECT_EQ(first->totalFileAllocatedSize % 512, 0u);
    ASSERT_TRUE(first->contentModificationDate);
    EXPECT_EQ(first->contentModificationDate->timeIntervalSince1970(), 1'500'000'000);
    auto second = e->nextObject();
    ASSERT_TRUE(second);
    EXPECT_EQ(*second, path("root/b"));  // URL walks answer full paths
}

TEST_F(NSDirectoryEnumeratorTest, SkipsSubdirectoryDescendantsOption) {
    auto e = fm->enumeratorAtURL(path("root"), NSDirectoryEnumerationSkipsSubdirectoryDescendants |
                                                   NSDirectoryEnumerationSkipsHiddenFiles);
    EXPECT_EQ(e->allObjects(), (std::vector<std::string>{path("root/a.txt"), path("root/b")}));
}

TEST_F(NSDirectoryEnumeratorTest, MissingRootOrFileYieldsNothing) {
    EXPECT_FALSE(fm->enumeratorAtPath(path("missing"))->nextObject());
    EXPECT_FALSE(fm->enumeratorAtPath(path("root/a.txt"))->nextObject());
    std::vector<long> codes;
    auto e = fm->enumeratorAtURL(path("missing"), NSDirectoryEnumerationOptions(0),
                                 [&](const std::string&, const Ref<NSError>& error) {
                                     codes.push_back(error->code());
                                     return true;
                                 });
    EXPECT_FALSE(e->nextEntry());
    EXPECT_EQ(codes, (std::vector<long>{NSFileReadNoSuchFileError}));
}

TEST_F(NSDirectoryEnumeratorTest, ItemsRemovedDuringTheWalkAreSkipped) {
    auto e = fm->enumeratorAtPath(path("root"));
    std::vector<std::string> seen;
    while (auto item = e->nextObject()) {
        seen.push_back(*item);
        // Deleting while walking is what a cache clean does.
        if (*item == "a.txt") fm->removeItemAtPath(path("root/b"));
    }
    EXPECT_EQ(seen, (std::vector<std::string>{".git", ".git/config", "a.txt"}));
}

TEST_F(NSDirectoryEnumeratorTest, UnreadableFolderGoesToTheErrorHandler) {
    if (::geteuid() == 0) GTEST_SKIP() << "root reads every folder";
    ASSERT_EQ(::chmod(path("root/b").c_str(), 0), 0);
    std::vector<std::string> failed;
    auto e = fm->enumeratorAtURL(path("root"), NSDirectoryEnumerationSkipsHiddenFiles,
                                 [&](const std::string& p, const Ref<NSError>&) {
                                     failed.push_back(p);
                                     return true;
                                 });
    auto all = e->allObjects();
    ::chmod(path("root/b").c_str(), 0755);
    EXPECT_EQ(failed, (std::vector<std::string>{path("root/b")}));
    EXPECT_EQ(all, (std::vector<std::string>{path("root/a.txt"), path("root/b")}));
}

TEST_F(NSDirectoryEnumeratorTest, SubpathsListEverything) {
    auto subpaths = fm->subpathsOfDirectoryAtPath(path("root"));
    ASSERT_TRUE(subpaths);
    EXPECT_EQ(subpaths->size(), 8u);
}

TEST_F(NSDirectoryEnumeratorTest, EntriesGiveFileUrls) {
    auto e =
        fm->enumeratorAtURL(NSURL::fileURLWithPath(path("root")), NSDirectoryEnumerationSkipsHiddenFiles);
    std::vector<std::string> urls;
    while (auto entry = e->nextEntry()) urls.push_back(entry->URL()->absoluteString());
    ASSERT_EQ(urls.size(), 5u);
    EXPECT_EQ(urls[0], "file://" + path("root/a.txt"));
    EXPECT_EQ(urls[1], "file://" + path("root/b") + "/");
}

TEST_F(NSDirectoryEnumeratorTest, NonFileUrlsYieldNothing) {
    std::vector<long> codes;
    auto e =
        fm->enumeratorAtURL(NSURL::URLWithString("http://127.0.0.1/root"), NSDirectoryEnumerationOptions(0),
                            [&](const std::string&, const Ref<NSError>& error) {
                                codes.push_back(error->code());
                                return true;
                            });
    EXPECT_FALSE(e->nextObject());
    EXPECT_EQ(codes, (std::vector<long>{NSFileReadUnsupportedSchemeError}));
    EXPECT_FALSE(fm->enumeratorAtURL(Ref<NSURL>())->nextObject());
}

// ---------------------------------------------------------------------------------------------
TEST_F(NSFileManagerTest, UrlFormsWorkOnFileUrls) {
    write("a", "A");
    auto a = NSURL::fileURLWithPath(path("a"));
    auto b = NSURL::fileURLWithPath(path("b"));
    auto c = NSURL::fileURLWithPath(path("c"));
    EXPECT_TRUE(fm->moveItemAtURL(a, b));
    EXPECT_EQ(read("b"), "A");
    EXPECT_TRUE(fm->copyItemAtURL(b, c));
    EXPECT_EQ(read("c"), "A");
    Ref<NSError> error;
    EXPECT_FALSE(fm->copyItemAtURL(b, c, &error));
    expectCocoaError(error, NSFileWriteFileExistsError);
    EXPECT_TRUE(fm->removeItemAtURL(b));
    EXPECT_FALSE(fm->fileExistsAtPath(path("b")));
    write(".hidden", "");
    ASSERT_TRUE(fm->createDirectoryAtPath(path("d"), false));
    auto listing = fm->contentsOfDirectoryAtURL(NSURL::fileURLWithPath(dir.path()),
                                                NSDirectoryEnumerationSkipsHiddenFiles);
    ASSERT_TRUE(listing);
    ASSERT_EQ(listing->size(), 2u);
    EXPECT_EQ((*listing)[0]->path(), path("c"));
    EXPECT_TRUE((*listing)[1]->hasDirectoryPath());
}

TEST_F(NSFileManagerTest, UrlFormsRefuseOtherSchemes) {
    write("a", "A");
    auto web = NSURL::URLWithString("http://127.0.0.1/a");
    auto local = NSURL::fileURLWithPath(path("a"));
    Ref<NSError> error;
    EXPECT_FALSE(fm->moveItemAtURL(web, local, &error));
    expectCocoaError(error, NSFileReadUnsupportedSchemeError);
    EXPECT_FALSE(fm->copyItemAtURL(local, web, &error));
    expectCocoaError(error, NSFileWriteUnsupportedSchemeError);
    EXPECT_FALSE(fm->removeItemAtURL(web, &error));
    expectCocoaError(error, NSFileWriteUnsupportedSchemeError);
    EXPECT_FALSE(fm->removeItemAtURL(nullptr, &error));
    EXPECT_FALSE(fm->contentsOfDirectoryAtURL(web, NSDirectoryEnumerationOptions(0), &error));
    expectCocoaError(error, NSFileReadUnsupportedSchemeError);
    EXPECT_EQ(read("a"), "A");
}

TEST(NSFileManagerErrors, PosixErrorsMapToCocoaCodes) {
    EXPECT_EQ(detail::fileError(ENOENT, "/p", true)->code(), NSFileNoSuchFileError);
    EXPECT_EQ(detail::fileError(ENOENT, "/p", false)->code(), NSFileReadNoSuchFileError);
    EXPECT_EQ(detail::fileError(EEXIST, "/p", true)->code(), NSFileWriteFileExistsError);
    EXPECT_EQ(detail::fileError(EACCES, "/p", true)->code(), NSFileWriteNoPermissionError);
    EXPECT_EQ(detail::fileError(EACCES, "/p", false)->code(), NSFileReadNoPermissionError);
    EXPECT_EQ(detail::fileError(ENOSPC, "/p", true)->code(), NSFileWriteOutOfSpaceError);
    EXPECT_EQ(detail::fileError(EIO, "/p", true)->code(), NSFileWriteUnknownError);
    EXPECT_EQ(detail::fileError(EIO, "/p", false)->code(), NSFileReadUnknownError);
    auto error = detail::fileError(ENOENT, "/some/where/name.txt", false);
    EXPECT_NE(error->localizedDescription().find("name.txt"), std::string::npos);
}

}  // namespace
