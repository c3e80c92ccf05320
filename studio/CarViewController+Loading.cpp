// Choosing a brand and a car in the choose-car state, loading a car's description and the
// pictures of its selected options with a percentage in the HUD, and taking over a tuning list.

#include <cstdio>

#include "controls/VHProgressHUD.h"
#include "dispatch/Dispatch.h"
#include "foundation/NSMainThreadCheck.h"
#include "foundation/NSThread.h"
#include "foundation/NSURL.h"
#include "images/UIButton+WebCache.h"
#include "studio/CarViewController.h"
#include "studio/CarViewControllerInternal.h"
#include "studio/QVNOption.h"
#include "uikit/UIAlertController.h"

using namespace detail::carstudio;

namespace {

Ref<NSURL> urlOf(const std::optional<std::string>& text) {
    if (!text || text->empty()) return nullptr;
    return NSURL::URLWithString(*text);
}

bool sameNumber(const std::optional<NSNumber>& a, const std::optional<NSNumber>& b) {
    return a && b && *a == *b;
}

std::vector<Ref<QVNBrand>> brandsOf(const Array& list) {
    std::vector<Ref<QVNBrand>> brands;
    for (const Value& value : list)
        if (auto brand = value.objectAs<QVNBrand>()) brands.push_back(brand);
    return brands;
}

}  // namespace

Ref<QVNBrand> CarViewController::brandOfButton(const Ref<UIButton>& button) {
    return button ? button->associatedObject(&kBrandKey).objectAs<QVNBrand>() : nullptr;
}

Ref<QVNCar> CarViewController::carOfButton(const Ref<UIButton>& button) {
    return button ? button->associatedObject(&kCarKey).objectAs<QVNCar>() : nullptr;
}

void CarViewController::cleanScrollView(const Ref<UIScrollView>& scrollView,
                                        std::vector<Ref<UIButton>>& subviews) {
    NS_ASSERT_MAIN_THREAD();
    for (const auto& button : subviews) button->removeFromSuperview();
    subviews.clear();
    if (scrollView) scrollView->setContentSize(CGSizeZero);
}

// ---- the catalogue ------------------------------------------------------------------------------

void CarViewController::enterChooseCarRows() {
    if (brands_.empty()) {
        showHUDWithText("正在加载");
        Weak<CarViewController> weak = weakStudio();
        QVNBrand::getBrandsAndCars([weak](const std::optional<Array>& list) {
            auto self = weak.lock();
            if (!self) return;
            if (!list) {
                self->hud()->hide(true);
                self->presentSimpleAlert(std::string("加载失败,请重新进入"), std::nullopt, "确认", true);
                return;
            }
            self->configureFirstEnteringStateWithBrands(brandsOf(*list));
        });
        return;
    }
    setUpBrandButtons(brands_);
    if (!selectedBrandButton_) {
        if (!scrollView1Subviews_.empty()) brandButtonTapped(scrollView1Subviews_.front());
        return;
    }
    if (selectedBrandButtonIndex_ < scrollView1Subviews_.size()) {
        Ref<UIButton> button = scrollView1Subviews_[selectedBrandButtonIndex_];
        button->setEnabled(false);
        selectedBrandButton_ = button;
        setUpCarsWithBrand(brandOfButton(button));
    }
}

void CarViewController::configureFirstEnteringStateWithBrands(const std::vector<Ref<QVNBrand>>& list) {
    NS_ASSERT_MAIN_THREAD();
    brands_.insert(brands_.end(), list.begin(), list.end());
    setUpBrandButtons(brands_);
    if (selectedBrandButton_) {
        brandButtonTapped(selectedBrandButton_);
    } else {
        for (const auto& button : scrollView1Subviews_) {
            auto brand = brandOfButton(button);
            if (brand && brand->brand_name == std::string(kDefaultBrandName)) {
                brandButtonTapped(button);
                break;
            }
        }
    }
    Ref<QVNCar> car;
    if (tuningList_) {
        car = getCarFromTuningList(tuningList_);
    } else {
        for (const auto& brand : brands_) {
            if (brand->brand_name != std::string(kDefaultBrandName)) continue;
            auto cars = brand->carList<QVNCar>();
            if (!cars.empty()) car = cars.front();
        }
    }
    if (!car) {
        // Nothing to load: leave the brand row usable rather than a HUD that never ends.
        hud()->hide(true);
        return;
    }
    Weak<CarViewController> weak = weakStudio();
    car->downLoadAndConfigureInformationWithCompletion([weak, car](bool ok) {
        auto self = weak.lock();
        if (!self) return;
        if (!ok) {
            self->showHUDWithText("加载失败,请点击new重进");
            self->hud()->hide(true, 2.0);
            return;
        }
        if (self->tuningList_) car->configureSelectedOptionsWithTuningList(self->tuningList_);
        self->downLoadAndSetupOptionsForCar(car);
    });
}

// ---- brand row ----------------------------------------------------------------------------------

void CarViewController::setUpBrandButtons(const std::vector<Ref<QVNBrand>>& list) {
    NS_ASSERT_MAIN_THREAD();
    auto row = scrollView1.lock();
    cleanScrollView(row, scrollView1Subviews_);
    if (!row) return;
    const double height = row->bounds().size.height;
    const double y = (height - 60) / 2;
    auto self = strongSelf();
    long i = 0;
    for (const auto& brand : list) {
        auto button = make<UIButton>(UIButtonTypeCustom);
        button->imageView()->setContentMode(UIViewContentModeScaleAspectFit);
        if (auto url = urlOf(brand->brand_logo))
            UIButton_WebCache::wi_setImageWithURL(button, url, UIControlStateNormal);
        if (auto url = urlOf(brand->logo_down))
            UIButton_WebCache::wi_setImageWithURL(button, url, UIControlStateDisabled);
        button->addTarget(self, &CarViewController::brandButtonTapped,
                          "brandButtonTapped:", UIControlEventTouchUpInside);
        button->setFrame(CGRect{{20.0 + 80.0 * i, y}, {60, 60}});
        button->setAssociatedObject(&kBrandKey, Value(brand), AssociationPolicy::Weak);
        row->addSubview(button);
        scrollView1Subviews_.push_back(button);
        ++i;
    }
    row->setContentSize(CGSize{20.0 + 80.0 * static_cast<double>(list.size()), height});
}

void CarViewController::brandButtonTapped(const Ref<NSObject>& sender) {
    NS_ASSERT_MAIN_THREAD();
    auto button = asKind<UIButton>(sender);
    if (!button) return;
    for (std::size_t i = 0; i < scrollView1Subviews_.size(); ++i)
        if (scrollView1Subviews_[i] == button) selectedBrandButtonIndex_ = i;
    if (selectedBrandButton_) selectedBrandButton_->setEnabled(true);
    selectedBrandButton_ = button;
    button->setEnabled(false);
    setUpCarsWithBrand(brandOfButton(button));
}

// ---- car row ------------------------------------------------------------------------------------

void CarViewController::setUpCarsWithBrand(const Ref<QVNBrand>& brand) {
    NS_ASSERT_MAIN_THREAD();
    auto row = scrollView2.lock();
    cleanScrollView(row, scrollView2Subviews_);
    if (!row) return;
    auto self = strongSelf();
    long i = 0;
    if (brand) {
        for (const auto& car : brand->carList<QVNCar>()) {
            auto button = make<UIButton>(UIButtonTypeCustom);
            if (auto url = urlOf(car->cars_logo))
                UIButton_WebCache::wi_setImageWithURL(button, url, UIControlStateNormal);
            button->addTarget(self, &CarViewController::carButtonTapped,
                              "carButtonTapped:", UIControlEventTouchUpInside);
            button->setFrame(CGRect{{10.0 + 90.0 * i, 8}, {80, 40}});
            button->setAssociatedObject(&kCarKey, Value(car), AssociationPolicy::Weak);
            button->addSubview(rowLabel(CGRect{{-10, 35}, {90, 30}}, 11, 2, car->cars_name));
            row->addSubview(button);
            scrollView2Subviews_.push_back(button);
            ++i;
        }
    }
    row->setContentSize(CGSize{10.0 + 90.0 * i, 78});
}

void CarViewController::showWideBodyAlert() {
    auto alert = UIAlertController::alertControllerWithTitle(
        std::string("温馨提示：该车型含有宽体套件，改装散件时可能会与原车效果冲突。"), std::nullopt,
        UIAlertControllerStyleAlert);
    alert->addAction(UIAlertAction::actionWithTitle(std::string("确定"), UIAlertActionStyleCancel));
    presentViewController(alert, true);
}

void CarViewController::carButtonTapped(const Ref<NSObject>& sender) {
    NS_ASSERT_MAIN_THREAD();
    Ref<QVNCar> car = carOfButton(asKind<UIButton>(sender));
    if (!car) return;
    if (selectedCar_ && car->car_en == selectedCar_->car_en) {
        if (car->kuanti == std::string("true")) showWideBodyAlert();
        setShowcaseState(CarShowcaseStateModify);
        return;
    }
    if (selectedCar_) selectedCar_->clearOptionsCacheFromMemory();
    setSelectedPart(nullptr);
    showHUDWithText("正在加载");
    Weak<CarViewController> weak = weakStudio();
    car->downLoadAndConfigureInformationWithCompletion([weak, car](bool ok) {
        auto self = weak.lock();
        if (!self) return;
        if (!ok) {
            self->failHUDWithText("加载失败,请点击new重进");
            return;
        }
        car->setupOptionsFromCacheWithCompletion([weak, car](bool cached) {
            auto studio = weak.lock();
            if (!studio) return;
            if (cached)
                studio->carLoadOptionsSuccess(car);
            else
                studio->downLoadAndSetupOptionsForCar(car);
        });
        if (car->kuanti == std::string("true")) self->showWideBodyAlert();
    });
}

// ---- loading a car ------------------------------------------------------------------------------

void CarViewController::downLoadAndSetupOptionsForCar(const Ref<QVNCar>& car) {
    NS_ASSERT_MAIN_THREAD();
    if (!car) return;
    showHUDWithText("正在加载");
    car->setDelegate(Weak<QVNCarDelegate>(std::static_pointer_cast<QVNCarDelegate>(strongSelf())));
    downloadCount_ = 0;
    const std::int64_t n = static_cast<std::int64_t>(car->parts().size());
    Weak<CarViewController> weak = weakStudio();
    car->downLoadAndSetupOptionsWithProgress(
        [weak, n](std::int64_t received, std::int64_t expected) {
            if (auto self = weak.lock()) self->showIndicatorWithCount(n, received, expected);
        },
        [weak](bool ok) {
            auto self = weak.lock();
            if (ok || !self) return;
            self->failHUDWithText("加载出错");
        });
}

void CarViewController::showIndicatorWithCount(std::int64_t count, std::int64_t receivedSize,
                                               std::int64_t expectedSize) {
    if (!NSThread::isMainThread()) {
        Weak<CarViewController> weak = weakStudio();
        dispatch_async(dispatch_get_main_queue(), [weak, count, receivedSize, expectedSize] {
            if (auto self = weak.lock()) self->showIndicatorWithCount(count, receivedSize, expectedSize);
        });
        return;
    }
    if (receivedSize == expectedSize) ++downloadCount_;
    if (count <= 0) return;
    const float share = static_cast<float>(downloadCount_) / static_cast<float>(count) * 100.0f;
    char text[32];
    std::snprintf(text, sizeof text, "%d%%", static_cast<int>(share));
    hud()->setLabelText(std::string(text));
}

void CarViewController::carLoadOptionsSuccess(const Ref<QVNCar>& car) {
    if (!car) return;
    dispatch_async(dispatch_get_main_queue(), [car] { car->clearNotSelecteOptionsCacheFromMemory(); });
    hud()->hide(true);
    savedSelection_.clear();
    if (tuningList_ || selectedCar_) {
        setUpCarContainer(car);
        selectedCar_ = car;
        setShowcaseState(CarShowcaseStateModify);
    } else {
        selectedCar_ = car;
        setUpCarContainer(car);
    }
    currentAngle_ = 1;
    refreshShowcaseWithAngle(1);
    // The tint's program is built now, off the main thread, not on the user's first tint, which
    // is seconds away (the entrance animations, the colour picker). Not earlier, while the car
    // loads: the first use of the GPU loads its driver, and for as long as that takes no thread
    // can be started, which held the car's own requests back.
    if (!tintPrepared_) {
        tintPrepared_ = true;
        QVNOption::prepareTint();
    }
}

// ---- tuning lists -------------------------------------------------------------------------------

Ref<QVNCar> CarViewController::getCarFromTuningList(const Ref<QVNTuningList>& list) const {
    if (!list) return nullptr;
    for (const auto& brand : brands_)
        for (const auto& car : brand->carList<QVNCar>())
            if (sameNumber(car->cars_id, list->car_id)) return car;
    return nullptr;
}

void CarViewController::didSelectTuningList(const Ref<QVNTuningList>& list) {
    tuningList_ = list;
    Ref<QVNCar> car = getCarFromTuningList(list);
    const bool otherCar = !(selectedCar_ && list && sameNumber(selectedCar_->cars_id, list->car_id));
    if (otherCar && selectedCar_) selectedCar_->clearOptionsCacheFromMemory();
    if (car) {
        showHUDWithText("正在加载");
        car->setDelegate(Weak<QVNCarDelegate>(std::static_pointer_cast<QVNCarDelegate>(strongSelf())));
        Weak<CarViewController> weak = weakStudio();
        car->downLoadAndConfigureInformationWithCompletion([weak, car](bool ok) {
            auto self = weak.lock();
            if (!self) return;
            if (!ok) {
                self->failHUDWithText("加载清单失败");
                return;
            }
            car->configureSelectedOptionsWithTuningList(self->tuningList_);
            car->setupOptionsFromCacheWithCompletion([weak, car](bool cached) {
                auto studio = weak.lock();
                if (!studio) return;
                if (cached)
                    studio->carLoadOptionsSuccess(car);
                else
                    studio->downLoadAndSetupOptionsForCar(car);
            });
        });
    }
    if (otherCar) setSelectedPart(nullptr);
    if (!car) {
        hud()->hide(true);
        presentSimpleAlert(std::string("没有找到该车辆"), std::nullopt, "确定", false);
    }
}
