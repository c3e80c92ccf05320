// The cached-cars screen and the brand and car pick lists: what they list, what a removal takes
// away (folder, frame tables, pictures under the car_en keys, logo), and their set-up.

#include <gtest/gtest.h>

#include "app/ArrayDataSource.h"
#include "app/QVNBrand.h"
#include "app/QVNBrandCell.h"
#include "app/QVNBrandTableView.h"
#include "app/QVNCarCell.h"
#include "app/QVNCarTableView.h"
#include "foundation/NSFileManager.h"
#include "images/WIWebImageManager.h"
#include "studio/CacheListViewController.h"
#include "studio/QVNCacheCell.h"
#include "tests/studio/StudioTestSupport.h"
#include "uikit/UIStoryboard.h"

using namespace studiotest;

namespace {

class CacheListViewControllerTest : public StudioServerTest {
  protected:
    void SetUp() override {
        StudioServerTest::SetUp();
        bool done = false;
        QVNBrand::getBrandsAndCars([&](const std::optional<Array>&) { done = true; });
        ASSERT_TRUE(waitUntil([&] { return done; }));
        ASSERT_TRUE(waitUntil([&] {
            return NSFileManager::defaultManager()->fileExistsAtPath(sandbox_.path() +
                                                                     "/Library/Caches/carlist");
        }));
        CacheListViewController::registerScene();
    }
    Ref<CacheListViewController> openScreen() {
        auto storyboard = UIStoryboard::storyboardWithName(CacheListViewController::kStoryboardName, nullptr);
        EXPECT_TRUE(storyboard);
        auto screen = asKind<CacheListViewController>(
            storyboard->instantiateViewControllerWithIdentifier(CacheListViewController::kIdentifier));
        EXPECT_TRUE(screen);
        screen->view();
        return screen;
    }
    Ref<QVNCar> loadedCar(const std::string& car_en) {
        auto car = carNamed(car_en);
        car->cars_logo = server.modelPrefix() + "logos/car_" + car_en + ".png";
        EXPECT_EQ(loadDescription(car), std::optional<bool>(true));
        EXPECT_EQ(loadOptions(car), std::optional<bool>(true));
        return car;
    }
    std::vector<std::string> rowWords(const Ref<CacheListViewController>& screen) {
        std::vector<std::string> words;
        for (const Value& item : screen->carCacheArrayDataSource()->items())
            words.push_back(item.objectAs<QVNCarCache>()->car_en.value_or(""));
        return words;
    }
};

}  // namespace

TEST_F(CacheListViewControllerTest, ListsOnlyFoldersOfKnownCars) {
    loadedCar(defaultCar());
    NSFileManager::defaultManager()->createDirectoryAtPath(carFolder("stranger"), true);
    auto screen = openScreen();
    EXPECT_EQ(rowWords(screen), std::vector<std::string>{defaultCar()});
    auto table = screen->tableView.lock();
    ASSERT_TRUE(table);
    EXPECT_EQ(table->numberOfRowsInSection(0), 1);
    EXPECT_EQ(table->rowHeight(), 90.0);
    EXPECT_EQ(table->separatorStyle(), UITableViewCellSeparatorStyleNone);
    EXPECT_EQ(screen->supportedInterfaceOrientations(), UIInterfaceOrientationMaskPortrait);
    EXPECT_EQ(screen->preferredStatusBarStyle(), UIStatusBarStyleLightContent);
    auto cell = asKind<QVNCacheCell>(table->cellForRowAtIndexPath(NSIndexPath::indexPathForRow(0, 0)));
    ASSERT_TRUE(cell);
    EXPECT_EQ(cell->carNameLabel.lock()->text(), defaultCar());
    EXPECT_EQ(cell->carCache()->cars_logo, screen->cars().front()->cars_logo);
}

TEST_F(CacheListViewControllerTest, TheRemoveButtonDeletesTheCarsDataAndItsRow) {
    auto car = loadedCar(defaultCar());
    std::vector<Ref<QVNOption>> options;
    for (const auto& part : car->parts())
        if (part->selectedOption() && part->selectedOption()->hasMetalFile())
            options.push_back(part->selectedOption());
    ASSERT_FALSE(options.empty());
    auto images = WIImageCache::sharedImageCache();
    auto screen = openScreen();
    auto table = screen->tableView.lock();
    auto cell = asKind<QVNCacheCell>(table->cellForRowAtIndexPath(NSIndexPath::indexPathForRow(0, 0)));
    ASSERT_TRUE(cell);
    cell->removeButton.lock()->sendActionsForControlEvents(UIControlEventTouchUpInside);

    EXPECT_TRUE(screen->carCacheArrayDataSource()->items().empty());
    EXPECT_EQ(table->numberOfRowsInSection(0), 0);
    EXPECT_FALSE(NSFileManager::defaultManager()->fileExistsAtPath(carFolder(defaultCar())));
    ASSERT_TRUE(waitUntil([&] {
        for (const auto& option : options)
            if (images->diskImageExistsWithKey(option->metalFileURL())) return false;
        return true;
    }));
    for (const auto& option : options)
        EXPECT_FALSE(images->imageFromMemoryCacheForKey(option->metalFileURL()));
}

TEST_F(CacheListViewControllerTest, AnUnreadableDescriptionStillRemovesTheFolder) {
    loadedCar(defaultCar());
    NSData::fromString("{broken").writeToFile(carFolder(defaultCar()) + "/" + defaultCar(), true);
    auto screen = openScreen();
    ASSERT_EQ(screen->carCacheArrayDataSource()->items().count(), 1u);
    screen->removeCarCacheAtIndexPath(NSIndexPath::indexPathForRow(0, 0));
    EXPECT_FALSE(NSFileManager::defaultManager()->fileExistsAtPath(carFolder(defaultCar())));
    // That call leaves the row.
    EXPECT_EQ(screen->carCacheArrayDataSource()->items().count(), 1u);
    screen->removeCarCacheAtIndexPath(NSIndexPath::indexPathForRow(5, 0));
}

TEST_F(CacheListViewControllerTest, ACarWhoseIdentifierDiffersLosesItsPicturesToo) {
    // The wagon's description names another identifier; its pictures live under car_en URLs.
    auto car = loadedCar("sample_wagon");
    EXPECT_NE(car->cacheJson()["identifier"].stringValue(), "sample_wagon");
    std::vector<std::string> keys;
    for (const auto& part : car->parts())
        if (part->selectedOption() && part->selectedOption()->hasMetalFile())
            keys.push_back(*part->selectedOption()->metalFileURL());
    auto screen = openScreen();
    auto entry = screen->carCacheArrayDataSource()->items()[0].objectAs<QVNCarCache>();
    screen->removeCarFromFileWithCarCache(entry);
    auto images = WIImageCache::sharedImageCache();
    ASSERT_TRUE(waitUntil([&] {
        for (const auto& key : keys)
            if (images->diskImageExistsWithKey(key)) return false;
        return true;
    }));
}

TEST_F(CacheListViewControllerTest, NoStoredListListsNothingAndHostileEntriesAreHarmless) {
    loadedCar(defaultCar());
    NSFileManager::defaultManager()->removeItemAtPath(sandbox_.path() + "/Library/Caches/carlist", nullptr);
    auto screen = openScreen();
    EXPECT_TRUE(screen->carCacheArrayDataSource()->items().empty());
    for (const char* word : {"", "..", "../Cars", "a/b"}) {
        auto entry = make<QVNCarCache>();
        entry->car_en = std::string(word);
        screen->removeCarFromFileWithCarCache(entry);
    }
    screen->removeCarFromFileWithCarCache(make<QVNCarCache>());
    screen->removeCarFromFileWithCarCache(nullptr);
    EXPECT_TRUE(NSFileManager::defaultManager()->fileExistsAtPath(carFolder(defaultCar())));
}

TEST(QVNCarCacheTest, CopiesTheTwoFields) {
    auto car = make<QVNCar>();
    car->car_en = "a";
    car->cars_logo = "http://x/l.png";
    auto entry = QVNCarCache::carCacheWithCar(car);
    EXPECT_EQ(entry->car_en, std::string("a"));
    EXPECT_EQ(entry->cars_logo, std::string("http://x/l.png"));
    EXPECT_FALSE(QVNCarCache::carCacheWithCar(nullptr)->car_en);
    EXPECT_EQ(QVNCacheCell::rowHeight(), 90.0);
}

TEST(StudioPickListsTest, TheBrandListStartsHiddenWithoutSeparators) {
    auto brands = make<QVNBrandTableView>(CGRectMake(0, 0, 100, 300));
    EXPECT_TRUE(brands->isHidden());
    EXPECT_EQ(brands->style(), UITableViewStylePlain);
    EXPECT_EQ(brands->separatorStyle(), UITableViewCellSeparatorStyleNone);
    EXPECT_TRUE(brands->backgroundView());
}

TEST(StudioPickListsTest, TheCarListShowsItsCarsThroughTheNibCell) {
    auto cars = make<QVNCarTableView>(CGRectMake(0, 0, 160, 600));
    EXPECT_FALSE(cars->isHidden());
    EXPECT_EQ(cars->rowHeight(), 134.0);
    cars->setCars(std::nullopt);
    cars->reloadData();
    EXPECT_EQ(cars->numberOfRowsInSection(0), 0);

    auto first = make<QVNCar>();
    first->cars_name = "示例轿跑";
    auto second = make<QVNCar>();
    second->cars_name = "示例宽体";
    cars->setCars(Array{Value(first), Value(second)});
    cars->reloadData();
    EXPECT_EQ(cars->numberOfRowsInSection(0), 2);
    EXPECT_EQ(cars->carsDataSource()->tableView(), cars);
    auto cell = asKind<QVNCarCell>(cars->cellForRowAtIndexPath(NSIndexPath::indexPathForRow(1, 0)));
    ASSERT_TRUE(cell);
    EXPECT_EQ(cell->car(), second);
    EXPECT_EQ(cell->carLabel.lock()->text(), std::string("示例宽体"));
}

TEST(StudioPickListsTest, TheBrandCellShowsTheNameOrNothing) {
    auto objects = QVNBrandCell::nib()->instantiateWithOwner(nullptr);
    ASSERT_EQ(objects.size(), 1u);
    auto cell = asKind<QVNBrandCell>(objects.front());
    ASSERT_TRUE(cell);
    auto brand = make<QVNBrand>();
    brand->brand_name = "玛莎拉蒂";
    cell->setBrand(brand);
    EXPECT_EQ(cell->carTitleLabel.lock()->text(), std::string("玛莎拉蒂"));
    cell->setBrand(make<QVNBrand>());
    EXPECT_EQ(cell->carTitleLabel.lock()->text().value_or(""), "");
    cell->setSelected(true, false);
    EXPECT_TRUE(cell->isSelected());
}
