// The console rows of the modify state: the presets button and one button per modifiable part in
// the first row; the car's presets or the chosen part's options in the second. Tapping an option
// or a preset puts it on the car, downloading its pictures first when they are not cached.

#include "controls/VHProgressHUD.h"
#include "foundation/NSMainThreadCheck.h"
#include "foundation/NSURL.h"
#include "graphics/UIFont.h"
#include "images/UIButton+WebCache.h"
#include "studio/CarStoryboard.h"
#include "studio/CarViewController.h"
#include "studio/CarViewControllerInternal.h"
#include "uikit/UILabel.h"

using namespace detail::carstudio;

Ref<UILabel> detail::carstudio::rowLabel(CGRect frame, CGFloat fontSize, long lines,
                                         const std::optional<std::string>& text) {
    auto label = make<UILabel>(frame);
    label->setTextAlignment(NSTextAlignmentCenter);
    label->setFont(UIFont::systemFontOfSize(fontSize));
    label->setNumberOfLines(lines);
    // The rows lie on the dark console: the label's default black would not read there.
    label->setTextColor(CarConsoleTitleColor());
    label->setText(text);
    return label;
}

namespace {

Ref<NSURL> urlOf(const std::optional<std::string>& text) {
    if (!text || text->empty()) return nullptr;
    return NSURL::URLWithString(*text);
}

}  // namespace

Ref<QVNPart> CarViewController::partOfButton(const Ref<UIButton>& button) {
    return button ? button->associatedObject(&kPartKey).objectAs<QVNPart>() : nullptr;
}

Ref<UIButton> CarViewController::buttonOfPart(const Ref<QVNPart>& part) {
    return part ? part->associatedObject(&kPartButtonKey).objectAs<UIButton>() : nullptr;
}

Ref<QVNModificator> CarViewController::modificatorOfButton(const Ref<UIButton>& button) {
    return button ? button->associatedObject(&kModificatorKey).objectAs<QVNModificator>() : nullptr;
}

Ref<QVNOption> CarViewController::optionOfButton(const Ref<UIButton>& button) {
    return button ? button->associatedObject(&kOptionKey).objectAs<QVNOption>() : nullptr;
}

// ---- part row -----------------------------------------------------------------------------------

void CarViewController::setUpPartButtons(const Ref<QVNCar>& car) {
    NS_ASSERT_MAIN_THREAD();
    auto row = scrollView1.lock();
    cleanScrollView(row, scrollView1Subviews_);
    if (!row) return;
    CGSize rowSize = row->bounds().size;
    const double g = (rowSize.width - 400) / 9;
    const double y = (rowSize.height - 50) / 2;
    auto self = strongSelf();

    auto presets = make<UIButton>(UIButtonTypeCustom);
    presets->addTarget(self, &CarViewController::carModificatorsTapped,
                       "carModificatorsTapped:", UIControlEventTouchUpInside);
    presets->setBackgroundImage(UIImage::imageNamed("zhengti_up"), UIControlStateNormal);
    presets->setBackgroundImage(UIImage::imageNamed("zhengti_down"), UIControlStateHighlighted);
    presets->setBackgroundImage(UIImage::imageNamed("zhengti_down"), UIControlStateDisabled);
    presets->setFrame(CGRect{{g, y}, {50, 50}});
    row->addSubview(presets);
    scrollView1Subviews_.push_back(presets);

    Ref<QVNPart> chosen = selectedPart();
    long i = 0;
    if (car) {
        for (const auto& part : car->parts()) {
            if (!part->canModify()) continue;
            ++i;
            auto button = make<UIButton>(UIButtonTypeCustom);
            button->addTarget(self, &CarViewController::partButtonTapped,
                              "partButtonTapped:", UIControlEventTouchUpInside);
            const std::string selector = part->selector().value_or("");
            button->setBackgroundImage(UIImage::imageNamed(selector + "_up.png"), UIControlStateNormal);
            button->setBackgroundImage(UIImage::imageNamed(selector + "_down.png"),
                                       UIControlStateHighlighted);
            button->setBackgroundImage(UIImage::imageNamed(selector + "_down.png"), UIControlStateDisabled);
            button->setFrame(CGRect{{g + (g + 50) * i, y}, {50, 50}});
            button->setAssociatedObject(&kPartKey, Value(part), AssociationPolicy::Weak);
            part->setAssociatedObject(&kPartButtonKey, Value(button), AssociationPolicy::Weak);
            row->addSubview(button);
            scrollView1Subviews_.push_back(button);
            if (part == chosen) setSelectedPartButton(button);
        }
    }
    const double n = static_cast<double>(scrollView1Subviews_.size());
    row->setContentSize(CGSize{g + (g + 50) * n, rowSize.height});
    partButtonTapped(scrollView1Subviews_.front());
}

void CarViewController::partButtonTapped(const Ref<NSObject>& sender) {
    NS_ASSERT_MAIN_THREAD();
    auto button = asKind<UIButton>(sender);
    if (!button) return;
    setSelectedPartButton(button);
    Ref<QVNPart> part = partOfButton(button);
    setSelectedPart(part);
    if (part && part->modifyAngle() >= 1 && currentAngle_ >= 1) showcaseAnimateToAngle(part->modifyAngle());
}

void CarViewController::setSelectedPart(const Ref<QVNPart>& part) {
    NS_ASSERT_MAIN_THREAD();
    selectedPart_ = part;
    if (!part || !part->canModify()) return;
    auto button = buttonOfPart(part);
    if (button && button != selectedPartButton()) setSelectedPartButton(button);
    setUpOptionButtons(part);
}

void CarViewController::setSelectedPartButton(const Ref<UIButton>& button) {
    NS_ASSERT_MAIN_THREAD();
    if (auto previous = selectedPartButton()) previous->setEnabled(true);
    selectedPartButton_ = button;
    if (button) button->setEnabled(false);
}

// ---- presets ------------------------------------------------------------------------------------

void CarViewController::carModificatorsTapped(const Ref<NSObject>& sender) {
    NS_ASSERT_MAIN_THREAD();
    setSelectedPartButton(asKind<UIButton>(sender));
    setUpModificatorButtonsForSeletedCar(selectedCar_);
}

void CarViewController::setUpModificatorButtonsForSeletedCar(const Ref<QVNCar>& car) {
    NS_ASSERT_MAIN_THREAD();
    auto row = scrollView2.lock();
    cleanScrollView(row, scrollView2Subviews_);
    if (!row) return;
    auto self = strongSelf();
    long i = 0;
    if (car) {
        for (const auto& preset : car->modificators()) {
            auto button = make<UIButton>(UIButtonTypeCustom);
            std::string address = car->urlPrefix();
            if (preset->thumbnail()) {
                if (address.empty() || address.back() != '/') address += "/";
                address += *preset->thumbnail();
            }
            if (auto url = urlOf(address))
                UIButton_WebCache::wi_setImageWithURL(button, url, UIControlStateNormal);
            button->addTarget(self, &CarViewController::modificatorButtonTapped,
                              "modificatorButtonTapped:", UIControlEventTouchUpInside);
            button->setFrame(CGRect{{20.0 + 100.0 * i, 8}, {80, 40}});
            button->setAssociatedObject(&kModificatorKey, Value(preset));
            button->addSubview(rowLabel(CGRect{{-20, 30}, {120, 30}}, 9, 1, preset->name()));
            row->addSubview(button);
            scrollView2Subviews_.push_back(button);
            ++i;
        }
    }
    row->setContentSize(CGSize{20.0 + 100.0 * i, 78});
}

void CarViewController::rememberSelection() {
    savedSelection_.clear();
    ++selectionPass_;
    if (!selectedCar_) return;
    for (const auto& part : selectedCar_->parts()) savedSelection_.emplace_back(part, part->selectedOption());
}

void CarViewController::restoreSelection() {
    for (const auto& [weakPart, option] : savedSelection_)
        if (auto part = weakPart.lock()) part->setSelectedOption(option);
    savedSelection_.clear();
}

void CarViewController::modificatorButtonTapped(const Ref<NSObject>& sender) {
    NS_ASSERT_MAIN_THREAD();
    auto button = asKind<UIButton>(sender);
    if (!button || button == selectedModificatorButton_ || !selectedCar_) return;
    auto preset = modificatorOfButton(button);
    if (!preset) return;
    selectedModificatorButton_ = button;
    Ref<QVNCar> car = selectedCar_;
    rememberSelection();
    car->configureSelectedOptionsWithModificator(preset);
    loadDressing(
        car, [car, preset] { return car->countOfDownLoadOptionsWithModificator(preset); }, "加载失败", true);
}

void CarViewController::loadDressing(const Ref<QVNCar>& car, std::function<std::int64_t()> optionCount,
                                     const std::string& failText, bool presetRetry) {
    Weak<CarViewController> weak = weakStudio();
    const std::uint64_t pass = selectionPass_;
    car->setupOptionsFromCacheWithCompletion(
        [weak, car, optionCount = std::move(optionCount), failText, presetRetry, pass](bool cached) {
            auto self = weak.lock();
            if (!self) return;
            if (cached) {
                self->refreshShowcaseWithAngle(self->currentAngle_);
                return;
            }
            self->showHUDWithText("正在加载");
            self->downloadCount_ = 0;
            const std::int64_t n = optionCount();
            car->setDelegate(Weak<QVNCarDelegate>(std::static_pointer_cast<QVNCarDelegate>(self)));
            car->downLoadAndSetupOptionsWithProgress(
                [weak, n](std::int64_t received, std::int64_t expected) {
                    if (auto studio = weak.lock()) studio->showIndicatorWithCount(n, received, expected);
                },
                [weak, pass, failText, presetRetry](bool ok) {
                    auto studio = weak.lock();
                    if (ok || !studio) return;
                    studio->failHUDWithText(failText);
                    if (pass != studio->selectionPass_) return;
                    studio->restoreSelection();
                    if (presetRetry) studio->selectedModificatorButton_ = nullptr;
                    studio->refreshShowcaseWithAngle(studio->currentAngle_);
                });
        });
}

// ---- options ------------------------------------------------------------------------------------

void CarViewController::setUpOptionButtons(const Ref<QVNPart>& part) {
    NS_ASSERT_MAIN_THREAD();
    auto row = scrollView2.lock();
    cleanScrollView(row, scrollView2Subviews_);
    if (!row) return;
    const double g = (row->bounds().size.width - 280) / 8;
    auto self = strongSelf();
    long i = 0;
    if (part) {
        for (const auto& option : part->options()) {
            auto button = make<UIButton>(UIButtonTypeCustom);
            if (auto url = urlOf(option->thumbnailURL()))
                UIButton_WebCache::wi_setImageWithURL(button, url, UIControlStateNormal);
            button->setFrame(CGRect{{g + (g + 40) * i, 8}, {40, 40}});
            button->addTarget(self, &CarViewController::optionButtonTapped,
                              "optionButtonTapped:", UIControlEventTouchUpInside);
            button->setAssociatedObject(&kOptionKey, Value(option));
            button->addSubview(rowLabel(CGRect{{-20, 33}, {80, 30}}, 9, 2, option->name()));
            row->addSubview(button);
            scrollView2Subviews_.push_back(button);
            ++i;
        }
    }
    row->setContentSize(CGSize{g + (g + 40) * i, 78});
}

void CarViewController::optionButtonTapped(const Ref<NSObject>& sender) {
    NS_ASSERT_MAIN_THREAD();
    auto button = asKind<UIButton>(sender);
    auto option = optionOfButton(button);
    Ref<QVNPart> part = selectedPart();
    if (!option || !selectedCar_ || !part) return;
    const std::string selector = part->selector().value_or("");
    Ref<QVNPart> carPart = selectedCar_->selectedPartWithPartSelector(selector);
    if (carPart && carPart->selectedOption() &&
        carPart->selectedOption()->identifier() == option->identifier()) {
        auto note = VHProgressHUD::showHUDAddedTo(view(), true);
        note->setMode(VHProgressHUDModeText);
        note->setLabelText(std::string("该零件已加载到汽车上"));
        note->hide(true, 0.8);
        return;
    }
    selectedOptionButton_ = button;
    Ref<QVNCar> car = selectedCar_;
    Weak<CarViewController> weak = weakStudio();
    car->setupOptionFromCache(option, selector, [weak, car, option, selector](bool cached) {
        auto self = weak.lock();
        if (!self) return;
        if (cached) {
            self->refreshShowcaseWithAngle(self->currentAngle_);
            return;
        }
        self->showHUDWithText("正在加载");
        car->downLoadAndSetupOption(option, selector, [weak](const Ref<NSError>& error) {
            auto studio = weak.lock();
            if (!studio) return;
            if (error) {
                studio->failHUDWithText("加载失败");
                return;
            }
            studio->hud()->hide(true);
            studio->refreshShowcaseWithAngle(studio->currentAngle_);
        });
    });
}

// ---- reset --------------------------------------------------------------------------------------

void CarViewController::partResetButtonTapped(const Ref<NSObject>&) {
    NS_ASSERT_MAIN_THREAD();
    if (!selectedCar_) return;
    Ref<QVNCar> car = selectedCar_;
    rememberSelection();
    car->resetParts();
    loadDressing(
        car, [car] { return static_cast<std::int64_t>(car->parts().size()); }, "加载出错", false);
}
