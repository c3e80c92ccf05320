#include "system/UIPasteboard.h"
#include "system/SystemTesting.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "foundation/NSPropertyListSerialization.h"
#include "foundation/NSSandbox.h"
#include "graphics/UIGraphics.h"
#include "graphics/UIImage.h"
#include "tests/support/TestSupport.h"

namespace {

class PasteboardTest : public ::testing::Test {
  protected:
    void SetUp() override {
        system_testing::resetPasteboards();
        UIPasteboard::setSharedDirectory(device_.path());
    }
    void TearDown() override {
        system_testing::resetPasteboards();
        UIPasteboard::setSharedDirectory("");
    }

    // Another app writes a pasteboard's file.
    static void writeFileAsAnotherApp(const std::string& name, const NSData& bytes) {
        std::string path = UIPasteboard::filePathForPasteboardName(name);
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        ASSERT_TRUE(bytes.writeToFile(path, true));
    }
    static void writeItemsAsAnotherApp(const std::string& name, const Array& items) {
        writeFileAsAnotherApp(name, system_testing::encodePasteboardItems(items));
    }
    // The process ends: every pasteboard object is forgotten, files stay.
    static void relaunch() { system_testing::resetPasteboards(); }

    testsupport::TemporaryDirectory device_;
};

Ref<UIImage> solidImage(int width, int height) {
    UIGraphicsBeginImageContextWithOptions({static_cast<double>(width), static_cast<double>(height)}, true,
                                           1);
    CGContextSetRGBFillColor(UIGraphicsGetCurrentContext(), 0.2, 0.4, 0.6, 1);
    UIRectFill({0, 0, static_cast<double>(width), static_cast<double>(height)});
    auto image = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    return image;
}

TEST_F(PasteboardTest, LookingUpWithoutCreatingFindsNothingNew) {
    EXPECT_FALSE(UIPasteboard::pasteboardWithName("org.SharedUDID.slot.0", false));
    EXPECT_FALSE(UIPasteboard::pasteboardWithName("", true));
    auto created = UIPasteboard::pasteboardWithName("org.SharedUDID.slot.0", true);
    ASSERT_TRUE(created);
    EXPECT_EQ(created->name(), "org.SharedUDID.slot.0");
    EXPECT_FALSE(created->isPersistent());
    EXPECT_EQ(UIPasteboard::pasteboardWithName("org.SharedUDID.slot.0", false), created);
    EXPECT_EQ(UIPasteboard::pasteboardWithName("org.SharedUDID.slot.0", true), created);
}

TEST_F(PasteboardTest, MakingPersistentWritesTheFileAtOnce) {
    auto slot = UIPasteboard::pasteboardWithName("org.SharedUDID.slot.7", true);
    std::string path = UIPasteboard::filePathForPasteboardName("org.SharedUDID.slot.7");
    EXPECT_FALSE(std::filesystem::exists(path));
    slot->setPersistent(true);
    EXPECT_TRUE(slot->isPersistent());
    EXPECT_TRUE(std::filesystem::exists(path));
    EXPECT_EQ(path, device_.file("org.SharedUDID.slot.7.pasteboard"));
}

TEST_F(PasteboardTest, PersistentDataOutlivesTheProcessNonPersistentDoesNot) {
    auto kept = UIPasteboard::pasteboardWithName("kept", true);
    kept->setPersistent(true);
    kept->setData(NSData::fromString("record"), "org.SharedUDID");
    UIPasteboard::pasteboardWithName("lost", true)->setData(NSData::fromString("x"), "t");
    relaunch();
    auto again = UIPasteboard::pasteboardWithName("kept", false);
    ASSERT_TRUE(again);
    EXPECT_TRUE(again->isPersistent());
    EXPECT_EQ(again->dataForPasteboardType("org.SharedUDID"), NSData::fromString("record"));
    EXPECT_FALSE(UIPasteboard::pasteboardWithName("lost", false));
}

TEST_F(PasteboardTest, NamesBecomeSafeDistinctFileNames) {
    EXPECT_EQ(UIPasteboard::filePathForPasteboardName("a/b"), device_.file("a%2Fb.pasteboard"));
    EXPECT_EQ(UIPasteboard::filePathForPasteboardName(".."), device_.file("%2E..pasteboard"));
    EXPECT_EQ(UIPasteboard::filePathForPasteboardName("100%"), device_.file("100%25.pasteboard"));
    EXPECT_EQ(UIPasteboard::filePathForPasteboardName("名"), device_.file("%E5%90%8D.pasteboard"));
    std::string longA(300, 'a'), longB = longA;
    longB.back() = 'b';
    auto fileA = std::filesystem::path(UIPasteboard::filePathForPasteboardName(longA)).filename().string();
    auto fileB = std::filesystem::path(UIPasteboard::filePathForPasteboardName(longB)).filename().string();
    EXPECT_LE(fileA.size(), 255u);
    EXPECT_NE(fileA, fileB);
    // Hostile names still land inside the folder.
    for (const std::string& name :
         std::vector<std::string>{"../../etc/passwd", "/abs", std::string("nul\0byte", 8), "a\nb"}) {
        auto p = UIPasteboard::pasteboardWithName(name, true);
        p->setPersistent(true);
        EXPECT_EQ(std::filesystem::path(UIPasteboard::filePathForPasteboardName(name)).parent_path(),
                  std::filesystem::path(device_.path()));
        EXPECT_TRUE(std::filesystem::exists(UIPasteboard::filePathForPasteboardName(name)));
    }
}

TEST_F(PasteboardTest, DataForATypeReadsTheFirstItem) {
    auto p = UIPasteboard::pasteboardWithName("typed", true);
    EXPECT_FALSE(p->dataForPasteboardType("org.example"));
    p->setData(NSData::fromString("one"), "org.example");
    EXPECT_EQ(p->dataForPasteboardType("org.example"), NSData::fromString("one"));
    EXPECT_FALSE(p->dataForPasteboardType("org.other"));
    EXPECT_EQ(p->pasteboardTypes(), (std::vector<std::string>{"org.example"}));
    EXPECT_TRUE(p->containsPasteboardTypes({"org.other", "org.example"}));
    EXPECT_FALSE(p->containsPasteboardTypes({"org.other"}));
    EXPECT_EQ(p->numberOfItems(), 1);
    // A new single item replaces everything.
    p->setData(NSData::fromString("two"), "org.other");
    EXPECT_FALSE(p->dataForPasteboardType("org.example"));
    EXPECT_EQ(p->numberOfItems(), 1);
}

TEST_F(PasteboardTest, ValuesStringsAndTheirData) {
    auto p = UIPasteboard::pasteboardWithName("values", true);
    p->setString("héllo");
    EXPECT_EQ(p->string(), "héllo");
    EXPECT_EQ(p->dataForPasteboardType(UIPasteboardTypePlainText), NSData::fromString("héllo"));
    p->setValue(Value(Dictionary{{"k", Value(42)}}), "org.dict");
    EXPECT_EQ(p->valueForPasteboardType("org.dict")["k"].intValue(), 42);
    EXPECT_FALSE(p->dataForPasteboardType("org.dict"));
    EXPECT_FALSE(p->string());
    // Not a property-list value: refused, nothing changes.
    long before = p->changeCount();
    p->setValue(Value(Ref<NSObject>(make<NSObject>())), "org.object");
    p->setValue(Value::null(), "org.null");
    p->setValue(Value(Array{Value::null()}), "org.nested");
    EXPECT_EQ(p->changeCount(), before);
    EXPECT_TRUE(p->valueForPasteboardType("org.dict").isDictionary());
}

TEST_F(PasteboardTest, StoredValuesAreCopiesNotShared) {
    auto p = UIPasteboard::pasteboardWithName("copies", true);
    Dictionary record = Dictionary::mutableDictionary();
    record.setObject("id", Value("a"));
    p->setValue(Value(record), "org.record");
    record.setObject("id", Value("changed"));
    EXPECT_EQ(p->valueForPasteboardType("org.record")["id"].stringValue(), "a");
}

TEST_F(PasteboardTest, ImagesTravelAsPNG) {
    auto p = UIPasteboard::pasteboardWithName("picture", true);
    p->setImage(solidImage(6, 4));
    ASSERT_TRUE(p->dataForPasteboardType(UIPasteboardTypePNG));
    auto image = p->image();
    ASSERT_TRUE(image);
    EXPECT_EQ(image->CGImage()->width(), 6u);
    EXPECT_EQ(image->CGImage()->height(), 4u);
    p->setData(NSData::fromString("not a picture"), UIPasteboardTypePNG);
    EXPECT_FALSE(p->image());
    p->setImage(nullptr);
    EXPECT_EQ(p->numberOfItems(), 0);
}

TEST_F(PasteboardTest, SeveralItemsArePersistedAsAList) {
    auto p = UIPasteboard::pasteboardWithName("multi", true);
    p->setPersistent(true);
    p->setItems(Array{Value(Dictionary{{"a", Value(NSData::fromString("1"))}}), Value("not an item"),
                      Value(Dictionary{{"b", Value("2")}, {"bad", Value::null()}})});
    EXPECT_EQ(p->numberOfItems(), 2);
    p->addItems(Array{Value(Dictionary{{"c", Value(3)}})});
    relaunch();
    auto again = UIPasteboard::pasteboardWithName("multi", false);
    ASSERT_TRUE(again);
    Array items = again->items();
    ASSERT_EQ(items.count(), 3u);
    EXPECT_EQ(items[1]["b"].stringValue(), "2");
    EXPECT_FALSE(items[1].dictionary()->containsKey("bad"));
    EXPECT_EQ(items[2]["c"].intValue(), 3);
    // The reader's copies are its own.
    Dictionary first = *items[0].dictionary();
    first.setObject("x", Value(1));
    EXPECT_FALSE(again->items()[0].dictionary()->containsKey("x"));
}

TEST_F(PasteboardTest, AnotherAppsWriteIsSeenAtOnceAndCounted) {
    auto p = UIPasteboard::pasteboardWithName("shared", true);
    p->setPersistent(true);
    p->setData(NSData::fromString("mine"), "t");
    long count = p->changeCount();
    writeItemsAsAnotherApp("shared", Array{Value(Dictionary{{"t", Value(NSData::fromString("theirs"))}})});
    EXPECT_EQ(p->dataForPasteboardType("t"), NSData::fromString("theirs"));
    EXPECT_EQ(p->changeCount(), count + 1);
    EXPECT_EQ(p->changeCount(), count + 1);  // looking again changes nothing
}

TEST_F(PasteboardTest, AFileWrittenByAnotherAppIsFoundWithoutCreating) {
    writeItemsAsAnotherApp(
        "org.SharedUDID.slot.3",
        Array{Value(Dictionary{{"org.SharedUDID", Value(NSData::fromString("archive"))}})});
    auto p = UIPasteboard::pasteboardWithName("org.SharedUDID.slot.3", false);
    ASSERT_TRUE(p);
    EXPECT_TRUE(p->isPersistent());
    EXPECT_EQ(p->dataForPasteboardType("org.SharedUDID"), NSData::fromString("archive"));
}

TEST_F(PasteboardTest, ARemovedFileMeansAnEmptyAndThenAbsentPasteboard) {
    auto p = UIPasteboard::pasteboardWithName("gone", true);
    p->setPersistent(true);
    p->setData(NSData::fromString("x"), "t");
    std::filesystem::remove(UIPasteboard::filePathForPasteboardName("gone"));
    EXPECT_FALSE(p->dataForPasteboardType("t"));
    EXPECT_FALSE(UIPasteboard::pasteboardWithName("gone", false));
}

TEST_F(PasteboardTest, RemovingForgetsThePasteboardAndItsFile) {
    auto p = UIPasteboard::pasteboardWithName("removed", true);
    p->setPersistent(true);
    p->setData(NSData::fromString("x"), "t");
    UIPasteboard::removePasteboardWithName("removed");
    EXPECT_FALSE(std::filesystem::exists(UIPasteboard::filePathForPasteboardName("removed")));
    EXPECT_FALSE(UIPasteboard::pasteboardWithName("removed", false));
    EXPECT_FALSE(p->isPersistent());
    EXPECT_EQ(p->numberOfItems(), 0);
    // The old object cannot bring the file back.
    p->setPersistent(true);
    p->setData(NSData::fromString("y"), "t");
    EXPECT_FALSE(std::filesystem::exists(UIPasteboard::filePathForPasteboardName("removed")));
    UIPasteboard::removePasteboardWithName("never-existed");
    UIPasteboard::removePasteboardWithName("");
}

TEST_F(PasteboardTest, NoLongerPersistentRemovesTheFileButKeepsTheItems) {
    auto p = UIPasteboard::pasteboardWithName("toggle", true);
    p->setPersistent(true);
    p->setString("kept");
    p->setPersistent(false);
    EXPECT_FALSE(std::filesystem::exists(UIPasteboard::filePathForPasteboardName("toggle")));
    EXPECT_EQ(p->string(), "kept");
    EXPECT_EQ(UIPasteboard::pasteboardWithName("toggle", false), p);
}

TEST_F(PasteboardTest, UniqueNamesDiffer) {
    auto a = UIPasteboard::pasteboardWithUniqueName();
    auto b = UIPasteboard::pasteboardWithUniqueName();
    ASSERT_TRUE(a && b);
    EXPECT_NE(a->name(), b->name());
    EXPECT_FALSE(a->isPersistent());
}

TEST_F(PasteboardTest, TheGeneralPasteboardIsPersistentAndShared) {
    auto general = UIPasteboard::generalPasteboard();
    EXPECT_EQ(general, UIPasteboard::generalPasteboard());
    EXPECT_TRUE(general->isPersistent());
    general->setString("copied");
    relaunch();
    EXPECT_EQ(UIPasteboard::generalPasteboard()->string(), "copied");
}

TEST_F(PasteboardTest, TheFolderComesFromTheEnvironmentElseBesideTheSandbox) {
    UIPasteboard::setSharedDirectory("");
    testsupport::TemporaryDirectory other;
    ::setenv("APP_SHARED_PASTEBOARD_DIR", other.path().c_str(), 1);
    EXPECT_EQ(UIPasteboard::sharedDirectory(), other.path());
    ::unsetenv("APP_SHARED_PASTEBOARD_DIR");
    std::string previousRoot = NSSandbox::root();
    ASSERT_TRUE(NSSandbox::setRoot(other.path() + "/app"));
    EXPECT_EQ(UIPasteboard::sharedDirectory(), other.path() + "/shared-pasteboards");
    NSSandbox::setRoot(previousRoot);
}

TEST_F(PasteboardTest, AnObjectStaysWithTheFolderItWasFoundIn) {
    auto p = UIPasteboard::pasteboardWithName("bound", true);
    p->setPersistent(true);
    testsupport::TemporaryDirectory other;
    UIPasteboard::setSharedDirectory(other.path());
    p->setString("still here");
    EXPECT_TRUE(std::filesystem::exists(device_.file("bound.pasteboard")));
    EXPECT_FALSE(std::filesystem::exists(other.file("bound.pasteboard")));
    EXPECT_FALSE(UIPasteboard::pasteboardWithName("bound", false));
}

TEST_F(PasteboardTest, AnUnwritableFolderKeepsTheItemsInMemory) {
    std::string blocked = device_.file("blocked");
    std::ofstream(blocked) << "a file where the folder should be";
    UIPasteboard::setSharedDirectory(blocked);
    auto p = UIPasteboard::pasteboardWithName("nowhere", true);
    p->setPersistent(true);
    p->setString("in memory");
    EXPECT_EQ(p->string(), "in memory");
}

TEST_F(PasteboardTest, DamagedFilesReadAsEmpty) {
    std::vector<std::string> damaged = {
        "",
        "garbage",
        "bplist00",
        std::string("bplist00\xd1\x01\x02", 11),
        "<?xml version=\"1.0\"?><plist><string>just text</string></plist>",
        "<?xml version=\"1.0\"?><plist><array><string>x</string><integer>1</integer></array></plist>",
    };
    for (std::size_t i = 0; i < damaged.size(); ++i) {
        std::string name = "damaged." + std::to_string(i);
        writeFileAsAnotherApp(name, NSData::fromString(damaged[i]));
        auto p = UIPasteboard::pasteboardWithName(name, false);
        ASSERT_TRUE(p) << i;  // the file exists, so the pasteboard does
        EXPECT_EQ(p->numberOfItems(), 0) << i;
        EXPECT_FALSE(p->dataForPasteboardType("org.SharedUDID")) << i;
    }
}

TEST_F(PasteboardTest, AnOversizedFileIsNotRead) {
    std::string path = UIPasteboard::filePathForPasteboardName("huge");
    int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, (64 << 20) + 1), 0);  // sparse: costs no disk
    ::close(fd);
    auto p = UIPasteboard::pasteboardWithName("huge", false);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->numberOfItems(), 0);
}

TEST_F(PasteboardTest, MutatedFilesNeverBreakTheReader) {
    Array items{Value(Dictionary{{"org.SharedUDID", Value(NSData::fromString(std::string(40, 'a')))},
                                 {"n", Value(7)},
                                 {"list", Value(Array{Value("x"), Value(1.5), Value(true)})}}),
                Value(Dictionary{{"second", Value("item")}})};
    std::string valid = system_testing::encodePasteboardItems(items).toString();
    ASSERT_GT(valid.size(), 8u);
    auto p = UIPasteboard::pasteboardWithName("fuzzed", true);
    p->setPersistent(true);
    for (unsigned seed = 0; seed < 1500; ++seed) {
        writeFileAsAnotherApp("fuzzed", NSData::fromString(testsupport::mutate(valid, seed)));
        long n = p->numberOfItems();
        EXPECT_GE(n, 0);
        EXPECT_LE(n, 1'000'000);
        for (const auto& type : p->pasteboardTypes()) (void)p->valueForPasteboardType(type);
        (void)p->string();
        (void)p->dataForPasteboardType("org.SharedUDID");
    }
}

TEST_F(PasteboardTest, ConcurrentWritersAndReadersSeeWholeValues) {
    auto p = UIPasteboard::pasteboardWithName("busy", true);
    p->setPersistent(true);
    const std::string a(2000, 'a'), b(3000, 'b');
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 150; ++i) p->setData(NSData::fromString(t ? a : b), "t");
        });
    }
    // Another app rewrites the file behind our back at the same time.
    threads.emplace_back([&] {
        std::string path = UIPasteboard::filePathForPasteboardName("busy");
        NSData theirs = system_testing::encodePasteboardItems(
            Array{Value(Dictionary{{"t", Value(NSData::fromString(a))}})});
        for (int i = 0; i < 150; ++i) theirs.writeToFile(path, true);
    });
    threads.emplace_back([&] {
        while (!stop) {
            auto data = p->dataForPasteboardType("t");
            if (data) {
                std::string text = data->toString();
                EXPECT_TRUE(text == a || text == b) << text.size();
            }
        }
    });
    for (std::size_t i = 0; i + 1 < threads.size(); ++i) threads[i].join();
    stop = true;
    threads.back().join();
    auto last = p->dataForPasteboardType("t");
    ASSERT_TRUE(last);
    EXPECT_TRUE(last->toString() == a || last->toString() == b);
}

}  // namespace
