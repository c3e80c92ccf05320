// Taking the default stack down while its auto-migrating store waits for its second try: the
// try is called off, so nothing of the old stack opens a store afterwards; a stack set up again
// keeps its own try.

#include <filesystem>
#include <fstream>

#include "data/DataRecord.h"
#include "foundation/NSURL.h"
#include "tests/data/DataTestSupport.h"

namespace {

using datatest::DataStack;

class CleanUpWithARetryPending : public DataStack {
  protected:
    // A file in the store's place that is no store: the first add fails and a second is due
    // half a second later.
    void blockStore(const std::string& path) { std::ofstream(path) << std::string(4096, 'x'); }
};

TEST_F(CleanUpWithARetryPending, TheRetryOfTheOldStackNeverRuns) {
    testsupport::ManualClock clock;
    const std::string path = sandbox.file("Garage.sqlite");
    blockStore(path);
    DataRecord_Setup::setupCoreDataStackWithAutoMigratingSqliteStoreAtURL(NSURL::fileURLWithPath(path));
    auto old = NSPersistentStoreCoordinator_DataRecord::DR_defaultStoreCoordinator();
    ASSERT_TRUE(old);
    ASSERT_TRUE(old->persistentStores().empty());

    DataRecord::cleanUp();
    std::filesystem::remove(path);  // a second add would now succeed and make the file
    clock.advance(1.0);
    EXPECT_TRUE(old->persistentStores().empty());
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_FALSE(std::filesystem::exists(path + "-wal"));
}

TEST_F(CleanUpWithARetryPending, ANewStackKeepsItsOwnRetry) {
    testsupport::ManualClock clock;
    const std::string oldPath = sandbox.file("Old.sqlite");
    const std::string newPath = sandbox.file("New.sqlite");
    blockStore(oldPath);
    DataRecord_Setup::setupCoreDataStackWithAutoMigratingSqliteStoreAtURL(NSURL::fileURLWithPath(oldPath));
    auto old = NSPersistentStoreCoordinator_DataRecord::DR_defaultStoreCoordinator();
    DataRecord::cleanUp();

    blockStore(newPath);
    DataRecord_Setup::setupCoreDataStackWithAutoMigratingSqliteStoreAtURL(NSURL::fileURLWithPath(newPath));
    auto current = NSPersistentStoreCoordinator_DataRecord::DR_defaultStoreCoordinator();
    ASSERT_TRUE(current);
    ASSERT_NE(current, old);
    std::filesystem::remove(oldPath);
    std::filesystem::remove(newPath);
    clock.advance(1.0);
    EXPECT_TRUE(old->persistentStores().empty());
    EXPECT_FALSE(std::filesystem::exists(oldPath));
    ASSERT_EQ(current->persistentStores().size(), 1u);
    EXPECT_TRUE(std::filesystem::exists(newPath));
}

}  // namespace
