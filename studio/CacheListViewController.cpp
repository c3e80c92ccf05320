#include "studio/CacheListViewController.h"

#include "app/NSString+Extension.h"
#include "app/QVNBrand.h"
#include "app/UIColor+Extensions.h"
#include "foundation/NSFileManager.h"
#include "foundation/NSJSONSerialization.h"
#include "foundation/NSLog.h"
#include "foundation/NSMainThreadCheck.h"
#include "foundation/NSString.h"
#include "images/WIImageCache.h"
#include "images/WIWebImageManager.h"
#include "studio/QVNCacheCell.h"
#include "uikit/UINavigationController.h"
#include "uikit/UIScreen.h"
#include "uikit/UIStoryboard.h"
#include "uikit/UISwipeGestureRecognizer.h"

namespace {

bool isFolderWord(const std::optional<std::string>& word) {
    return word && !word->empty() && *word != "." && *word != ".." && word->find('/') == std::string::npos &&
           word->find('\0') == std::string::npos;
}

void removePicture(const Ref<WIImageCache>& cache, const std::string& key) {
    cache->removeImageForKey(key, true);
}

}  // namespace

void CacheListViewController::registerScene() {
    UIStoryboard::registerScene(kStoryboardName, kIdentifier, [](UIStoryboard&) -> Ref<UIViewController> {
        auto screen = make<CacheListViewController>();
        screen->setViewLoader([](UIViewController& owner) -> Ref<UIView> {
            auto& controller = static_cast<CacheListViewController&>(owner);
            CGRect bounds = UIScreen::mainScreen()->bounds();
            auto view = make<UIView>(bounds);
            auto table = make<UITableView>(bounds, UITableViewStylePlain);
            table->registerClass(
                [](const std::string& identifier) -> Ref<UITableViewCell> {
                    return QVNCacheCell::makeCell(identifier);
                },
                kCellIdentifier);
            view->addSubview(table);
            controller.tableView = table;
            return view;
        });
        return screen;
    });
}

void CacheListViewController::viewDidLoad() {
    UIViewController::viewDidLoad();
    setupGesture();
    setupTableView();
}

UIInterfaceOrientationMask CacheListViewController::supportedInterfaceOrientations() const {
    return UIInterfaceOrientationMaskPortrait;
}

UIInterfaceOrientation CacheListViewController::preferredInterfaceOrientationForPresentation() const {
    return UIInterfaceOrientationPortrait;
}

void CacheListViewController::setupGesture() {
    NS_ASSERT_MAIN_THREAD();
    Weak<CacheListViewController> weakSelf = selfAs<CacheListViewController>();
    auto swipe = make<UISwipeGestureRecognizer>(self(), [weakSelf](const Ref<UIGestureRecognizer>& sender) {
        if (auto screen = weakSelf.lock()) screen->back(sender);
    });
    swipe->setDirection(UISwipeGestureRecognizerDirectionRight);
    view()->addGestureRecognizer(swipe);
}

void CacheListViewController::back(const Ref<NSObject>&) {
    NS_ASSERT_MAIN_THREAD();
    if (auto navigation = navigationController()) navigation->popViewControllerAnimated(true);
}

void CacheListViewController::setupTableView() {
    NS_ASSERT_MAIN_THREAD();
    Ref<UITableView> table = tableView.lock();
    Weak<CacheListViewController> weakSelf = selfAs<CacheListViewController>();
    carCacheArrayDataSource_ = make<ArrayDataSource>(
        cacheCars(), kCellIdentifier, [weakSelf](const Ref<UIView>& view, const Value& item) {
            auto cell = asKind<QVNCacheCell>(view);
            if (!cell) return;
            cell->setCarCache(item.objectAs<QVNCarCache>());
            cell->setRemoveCarBlock([weakSelf](const Ref<QVNCarCache>& entry) {
                auto screen = weakSelf.lock();
                if (!screen) return;
                screen->removeCarFromFileWithCarCache(entry);
                Array& items = screen->carCacheArrayDataSource_->items();
                std::size_t row = items.indexOfObject(Value(entry));
                if (row == NSNotFound) return;
                items.removeObjectAtIndex(row);
                if (auto table = screen->tableView.lock())
                    table->deleteRowsAtIndexPaths({NSIndexPath::indexPathForRow(static_cast<long>(row), 0)},
                                                  UITableViewRowAnimationBottom);
            });
        });
    if (!table) return;
    table->setSeparatorStyle(UITableViewCellSeparatorStyleNone);
    table->setRowHeight(QVNCacheCell::rowHeight());
    table->setBackgroundColor(UIColor_Extensions::QVNCacheTableViewColor());
    table->setDataSource(carCacheArrayDataSource_);
    carCacheArrayDataSource_->setTableView(table);
    table->reloadData();
}

const std::vector<Ref<QVNCar>>& CacheListViewController::cars() {
    if (!cars_) cars_ = QVNBrand::carsFromCache<QVNCar>();
    return *cars_;
}

Array CacheListViewController::cacheCars() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    Array entries = Array::mutableArray();
    auto folders = NSFileManager::defaultManager()->contentsOfDirectoryAtPath(
        NSString_Extension::carCachePath(), nullptr);
    if (!folders) return entries;
    for (const std::string& folder : *folders) {
        for (const auto& car : cars())
            if (car->car_en == folder) entries.addObject(Value(QVNCarCache::carCacheWithCar(car)));
    }
    return entries;
}

void CacheListViewController::removeCarFromFileWithCarCache(const Ref<QVNCarCache>& carCache) {
    NS_ASSERT_MAIN_THREAD();
    if (!carCache) return;
    Ref<WIImageCache> images = WIWebImageManager::sharedManager()->imageCache();
    if (carCache->cars_logo) removePicture(images, *carCache->cars_logo);
    if (!isFolderWord(carCache->car_en)) return;
    const std::string word = *carCache->car_en;
    const std::string folder =
        NSString::stringByAppendingPathComponent(NSString_Extension::carCachePath(), word);

    // The option pictures, under the keys the car model gave them (its prefix is built from car_en).
    if (auto data = NSData::dataWithContentsOfFile(folder + "/" + word)) {
        Value description =
            NSJSONSerialization::JSONObjectWithData(*data, NSJSONReadingMutableContainers, nullptr);
        const std::string prefix = NSString_Extension::carOptionURLPrefix() + "/" + word;
        if (const Array* parts = description["parts"].array()) {
            for (const Value& part : *parts) {
                const Array* options = part["options"].array();
                if (!options) continue;
                for (const Value& option : *options) {
                    for (const char* key : {"metalFile", "attachFile", "thumbnail"}) {
                        const std::string* file = option[key].string();
                        if (file && !file->empty()) removePicture(images, prefix + "/" + *file);
                    }
                }
            }
        }
    }

    Ref<NSError> error;
    if (!NSFileManager::defaultManager()->removeItemAtPath(folder, &error)) NSLog("remove car cache error");
}

void CacheListViewController::removeCarCacheAtIndexPath(const Ref<NSIndexPath>& indexPath) {
    NS_ASSERT_MAIN_THREAD();
    if (!carCacheArrayDataSource_) return;
    removeCarFromFileWithCarCache(
        carCacheArrayDataSource_->itemAtIndexPath(indexPath).objectAs<QVNCarCache>());
}
