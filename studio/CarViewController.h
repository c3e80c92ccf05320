#pragma once
// CarViewController: the car studio. A full-screen, landscape-only screen on which the user picks
// a brand and a car, sees the car as a stack of per-part picture layers at one of 25 view angles,
// swaps parts, applies presets, tints parts, raises or lowers the suspension, zooms and turns the
// car, takes a screenshot and hands the dressing to the tuning-list screens.
//
// The screen is the initial scene of the storyboard "Car" (CarStoryboard.h builds its views,
// outlets, actions and segues). Its five UI states:
//   0 initial, 1 choose car (brand and car rows), 2 modify (part and preset/option rows),
//   3 colour wheel (console down, colour panel up), 4 plain showcase (console down).
// setShowcaseState() stores the value and then does the new state's work; 5 and above are only
// stored.
//
// Guarantees: everything runs on the main thread (UIKit events, animations, timers, and the
// completions of the catalogue and car calls, which arrive on the main queue); a progress report
// from another thread is handed to the main thread before it touches the HUD. Blocks that outlive
// a call hold the screen weakly, so a dismissed studio is never kept alive by a pending download.
//
// The work is split by topic over CarViewController+<Topic>.cpp: Showcase (layer stack, layout,
// alpha hit test), Rows (part, preset and option rows), Gestures (pan, pinch, taps, timed turn),
// Tint (colour wheel), ScreenShot (screenshot and the tuning-list screens) and Loading (brand and
// car rows, loading a car, taking over a tuning list).

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/QVNBrand.h"
#include "app/QVNCarScreens.h"
#include "app/QVNTuningList.h"
#include "foundation/NSTimer.h"
#include "foundation/Value.h"
#include "graphics/UIColor.h"
#include "graphics/UIImage.h"
#include "studio/QVNCar.h"
#include "studio/QVNCarDelegate.h"
#include "studio/TuningListTableViewController.h"
#include "uikit/NSLayoutConstraint.h"
#include "uikit/UIAlertView.h"
#include "uikit/UIButton.h"
#include "uikit/UIGestureRecognizer.h"
#include "uikit/UIImageView.h"
#include "uikit/UIScrollView.h"
#include "uikit/UIViewController.h"
#include "uikit/UIViewControllerTransitioning.h"

class VHProgressHUD;
class CarViewController;

// UI states of the studio.
inline constexpr unsigned long CarShowcaseStateInitial = 0;
inline constexpr unsigned long CarShowcaseStateChooseCar = 1;
inline constexpr unsigned long CarShowcaseStateModify = 2;
inline constexpr unsigned long CarShowcaseStateColorWheel = 3;
inline constexpr unsigned long CarShowcaseStatePlain = 4;

// The segue identifiers of the studio and what each destination receives. The tuning-list screens
// live with the tuning-list code; they plug in by registering a receiver per identifier
// (CarViewController::registerSegueReceiver), which sets the destination's own properties from
// the hand-over.
inline constexpr char CarSegueShowTuningLists[] = "ShowTuningLists";
inline constexpr char CarSegueShowTuningListDetail[] = "ShowTuningListDetail";
inline constexpr char CarSegueShowSaveTuningList[] = "ShowSaveTuningList";

struct CarStudioHandOver {
    std::string identifier;
    // A new list built from the car on show (detail and save screens); nullptr for the list screen.
    Ref<QVNTuningList> tuningList;
    // The event being entered, or nullptr.
    Ref<QVNActivity> activity;
    // The last screenshot (detail and save screens).
    Ref<UIImage> screenShotImage;
    // The list screen's delegate: its choice comes back through CarViewController::didSelectTuningList.
    Weak<CarViewController> studio;
};

class CarViewController : public UIViewController,
                          public QVNCarDelegate,
                          public TuningListTableViewControllerDelegate,
                          public UIViewControllerTransitioningDelegate,
                          public UIAlertViewDelegate,
                          public QVNCarScreens::CarStudioEntry {
  public:
    CarViewController();
    ~CarViewController() override;
    std::string className() const override { return "CarViewController"; }

    // ---- entry --------------------------------------------------------------------------------
    const Ref<QVNActivity>& activity() const { return activity_; }
    void setActivity(const Ref<QVNActivity>& activity) override { activity_ = activity; }
    const Ref<QVNTuningList>& tuningList() const { return tuningList_; }
    void setTuningList(const Ref<QVNTuningList>& list) override { tuningList_ = list; }

    // ---- state --------------------------------------------------------------------------------
    unsigned long showcaseState() const { return showcaseState_; }
    void setShowcaseState(unsigned long state);
    const Ref<QVNCar>& selectedCar() const { return selectedCar_; }
    Ref<QVNPart> selectedPart() const { return selectedPart_.lock(); }
    void setSelectedPart(const Ref<QVNPart>& part);
    long currentAngle() const { return currentAngle_; }
    // Wraps into 1...25 (below 1 gives 25, above 25 gives 1) and lays that angle out.
    void setCurrentAngle(long angle);
    double showcaseScale() const { return showcaseScale_; }
    void setShowcaseScale(double scale) { showcaseScale_ = scale; }
    bool consoleHidden() const { return consoleHidden_; }
    // Slides the console over 0.2 s; the view takes no touches meanwhile. Same value: nothing.
    void setConsoleHidden(bool hidden);
    std::int32_t downloadCount() const { return downloadCount_; }
    std::vector<Ref<QVNBrand>>& brands() { return brands_; }
    const Ref<UIButton>& selectedBrandButton() const { return selectedBrandButton_; }
    unsigned long selectedBrandButtonIndex() const { return selectedBrandButtonIndex_; }
    Ref<UIButton> selectedPartButton() const { return selectedPartButton_.lock(); }
    void setSelectedPartButton(const Ref<UIButton>& button);
    const Ref<UIButton>& selectedModificatorButton() const { return selectedModificatorButton_; }
    const Ref<UIButton>& selectedOptionButton() const { return selectedOptionButton_; }
    Ref<UIView> carContainer() const { return carContainer_.lock(); }
    const std::vector<Ref<UIImageView>>& carContainerSubviews() const { return carContainerSubviews_; }
    const std::vector<Ref<UIButton>>& scrollView1Subviews() const { return scrollView1Subviews_; }
    const std::vector<Ref<UIButton>>& scrollView2Subviews() const { return scrollView2Subviews_; }
    const Ref<UIImage>& screenShotImage() const { return screenShotImage_; }
    // The cross-hair on the colour wheel, made on first read.
    Ref<UIImageView> colorPickerIndicator();
    // The screen's HUD, made on first read and kept below the colour panel.
    Ref<VHProgressHUD> hud();

    // ---- outlets (connected weakly by the storyboard) -----------------------------------------
    Weak<UIView> showcaseView, consoleView;
    Weak<UIButton> btnConsole;
    Weak<NSLayoutConstraint> cstConsole;
    Weak<UIScrollView> scrollView1, scrollView2;
    Weak<UIButton> returnBtn, btnShare, btnColorWheel;
    Weak<UIView> colorPicker;
    Weak<UIScrollView> colorPickerScrollView;
    Weak<UIImageView> colorWheel;
    Weak<UIView> btnSuspension;
    Weak<UIButton> btnPartsReset, screenShotButton, saveTuningListButton, tuningListButton,
        tuningListDetailButton;
    // The loading overlay (from the nib "ModifyEntranceView").
    Weak<UIView> modifyEntranceView;
    Weak<UIImageView> modifyEntranceLogo, modifyEntranceIndicator;
    Weak<NSLayoutConstraint> modifyEntranceConstraint;

    // ---- life cycle ---------------------------------------------------------------------------
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;
    void didReceiveMemoryWarning() override;
    UIInterfaceOrientationMask supportedInterfaceOrientations() const override;
    UIInterfaceOrientation preferredInterfaceOrientationForPresentation() const override;
    bool prefersStatusBarHidden() const override { return true; }

    void configureSubViews();
    void setupLoadingView();
    void showModifyEntranceAnimations();
    // The overlay step counter shared by every studio (for tests).
    static int modifyEntranceStep();
    static void resetSharedState();

    void enterCarsSelecting();
    void dismissSelf(const Ref<NSObject>& sender);
    static bool isExistNetWork();

    // ---- storyboard actions -------------------------------------------------------------------
    void consoleButtonTapped(const Ref<NSObject>& sender);
    void colorWheelButtonTapped(const Ref<NSObject>& sender);
    void colorPickerPreinstallButtonTapped(const Ref<NSObject>& sender);
    void colorPickerResetButtonTapped(const Ref<NSObject>& sender);
    void colorPickerCarButtonTapped(const Ref<NSObject>& sender);
    void partResetButtonTapped(const Ref<NSObject>& sender);
    void upSuspensionButtonTapped(const Ref<NSObject>& sender);
    void downSuspensionButtonTapped(const Ref<NSObject>& sender);
    void readTuningList(const Ref<NSObject>& sender);
    void showTuningListDetail(const Ref<NSObject>& sender);
    void joinEventButtonDidTouch(const Ref<NSObject>& sender);
    void screenShot(const Ref<NSObject>& sender);
    void shareButtonTapped(const Ref<NSObject>& sender) {}

    // ---- gestures -----------------------------------------------------------------------------
    void tapOnShowcaseView(const Ref<UIGestureRecognizer>& recognizer);
    void panOnContainer(const Ref<UIGestureRecognizer>& recognizer);
    void pinchShowcase(const Ref<UIGestureRecognizer>& recognizer);
    void doubleTappedOnCarCantainer(const Ref<UIGestureRecognizer>& recognizer);
    void pickColor(const Ref<UIGestureRecognizer>& recognizer);
    void showcaseAnimateToAngle(long angle);
    void showcaseAnimeteWithTimer(const Ref<NSTimer>& timer);
    void showcaseAnimateWithframe(long frame, double velocity) {}
    // The remaining steps of the running timed turn (-1 when none runs) and the zoom at the start
    // of the running pinch, shared by every studio.
    static long timedTurnSteps();
    static double pinchStartScale();

    // ---- showcase -----------------------------------------------------------------------------
    void setUpCarContainer(const Ref<QVNCar>& car);
    void refreshShowcaseWithAngle(long angle);
    static Ref<QVNPart> getPartWithImageView(const Ref<UIImageView>& layer);
    static bool isAlphaVisibleAtPoint(CGPoint point, const Ref<UIImageView>& layer);

    // ---- rows ---------------------------------------------------------------------------------
    void setUpPartButtons(const Ref<QVNCar>& car);
    void partButtonTapped(const Ref<NSObject>& sender);
    void carModificatorsTapped(const Ref<NSObject>& sender);
    void setUpModificatorButtonsForSeletedCar(const Ref<QVNCar>& car);
    void modificatorButtonTapped(const Ref<NSObject>& sender);
    void setUpOptionButtons(const Ref<QVNPart>& part);
    void optionButtonTapped(const Ref<NSObject>& sender);
    // What a row button carries (nullptr when none).
    static Ref<QVNPart> partOfButton(const Ref<UIButton>& button);
    static Ref<UIButton> buttonOfPart(const Ref<QVNPart>& part);
    static Ref<QVNModificator> modificatorOfButton(const Ref<UIButton>& button);
    static Ref<QVNOption> optionOfButton(const Ref<UIButton>& button);
    static Ref<QVNBrand> brandOfButton(const Ref<UIButton>& button);
    static Ref<QVNCar> carOfButton(const Ref<UIButton>& button);

    // ---- loading ------------------------------------------------------------------------------
    void configureFirstEnteringStateWithBrands(const std::vector<Ref<QVNBrand>>& list);
    void setUpBrandButtons(const std::vector<Ref<QVNBrand>>& list);
    void brandButtonTapped(const Ref<NSObject>& sender);
    void setUpCarsWithBrand(const Ref<QVNBrand>& brand);
    void carButtonTapped(const Ref<NSObject>& sender);
    void cleanScrollView(const Ref<UIScrollView>& scrollView, std::vector<Ref<UIButton>>& subviews);
    void downLoadAndSetupOptionsForCar(const Ref<QVNCar>& car);
    void showIndicatorWithCount(std::int64_t count, std::int64_t receivedSize, std::int64_t expectedSize);
    void carLoadOptionsSuccess(const Ref<QVNCar>& car) override;
    Ref<QVNCar> getCarFromTuningList(const Ref<QVNTuningList>& list) const;
    Ref<QVNCar> carFromTuningList(const Ref<QVNTuningList>& list) const { return getCarFromTuningList(list); }
    // The list screen's choice (its delegate call).
    void didSelectTuningList(const Ref<QVNTuningList>& list) override;
    static constexpr char kDefaultBrandName[] = "玛莎拉蒂";

    // ---- screenshot and the tuning-list screens -----------------------------------------------
    Ref<UIImage> screenImageWithSize(CGSize size);
    Ref<QVNTuningList> createTuningListWithCarId(const std::optional<NSNumber>& carId);
    static std::vector<NSNumber> colorsWithPartTintColor(const Ref<UIColor>& color);
    void prepareForSegue(const Ref<UIStoryboardSegue>& segue, const Ref<NSObject>& sender) override;
    using SegueReceiver =
        std::function<void(const Ref<UIViewController>& destination, const CarStudioHandOver& handOver)>;
    // Registers what a destination of the identifier is given; a later registration replaces it,
    // an empty receiver removes it.
    static void registerSegueReceiver(const std::string& identifier, SegueReceiver receiver);
    using AnimatorFactory = std::function<Ref<UIViewControllerAnimatedTransitioning>()>;
    // The pop-in (presenting) and slide-out (dismissing) animators the studio hands out as the
    // transitioning delegate of the screens it presents; without one, the platform's own animation.
    static void setTransitionAnimators(AnimatorFactory presenting, AnimatorFactory dismissing);

    // ---- delegates ----------------------------------------------------------------------------
    Ref<UIViewControllerAnimatedTransitioning>
    animationControllerForPresentedController(const Ref<UIViewController>& presented,
                                              const Ref<UIViewController>& presenting,
                                              const Ref<UIViewController>& source) override;
    Ref<UIViewControllerAnimatedTransitioning>
    animationControllerForDismissedController(const Ref<UIViewController>& dismissed) override;
    void alertViewClickedButtonAtIndex(const Ref<UIAlertView>& alertView, long buttonIndex) override;

  private:
    Ref<CarViewController> strongSelf() { return selfAs<CarViewController>(); }
    Weak<CarViewController> weakStudio() { return selfAs<CarViewController>(); }
    void setReturnButtonAction(bool dismisses);
    void showHUDWithText(const std::string& text);
    void failHUDWithText(const std::string& text);
    void showWideBodyAlert();
    void enterChooseCarRows();
    void presentSimpleAlert(const std::optional<std::string>& title,
                            const std::optional<std::string>& message, const std::string& cancel,
                            bool studioIsDelegate);
    // Preset and reset downloads: what to put back when the download fails.
    void rememberSelection();
    void restoreSelection();
    // Shows the car's new dressing (after a preset or a reset): at once when every option is
    // cached, else after downloading the missing ones, `optionCount` of them for the progress. A
    // failed download tells `failText` and puts the earlier dressing back unless a later change
    // came; `presetRetry` also lets the same preset be tapped again.
    void loadDressing(const Ref<QVNCar>& car, std::function<std::int64_t()> optionCount,
                      const std::string& failText, bool presetRetry);

    Ref<QVNActivity> activity_;
    Ref<QVNTuningList> tuningList_;
    unsigned long showcaseState_ = CarShowcaseStateInitial;
    Ref<QVNCar> selectedCar_;
    Weak<QVNPart> selectedPart_;
    long currentAngle_ = 1;
    double showcaseScale_ = 0.5;
    bool consoleHidden_ = false;
    std::int32_t downloadCount_ = 0;
    bool tintPrepared_ = false;
    std::vector<Ref<QVNBrand>> brands_;
    Ref<UIButton> selectedBrandButton_;
    unsigned long selectedBrandButtonIndex_ = 0;
    Weak<UIButton> selectedPartButton_;
    Ref<UIButton> selectedModificatorButton_;
    Ref<UIButton> selectedOptionButton_;
    Weak<UIView> carContainer_;
    std::vector<Ref<UIImageView>> carContainerSubviews_;
    std::vector<Ref<UIButton>> scrollView1Subviews_, scrollView2Subviews_;
    Ref<UIImage> screenShotImage_;
    Weak<UIImageView> colorPickerIndicator_;
    Ref<VHProgressHUD> hud_;
    // The selections before a preset or reset download, per part.
    std::vector<std::pair<Weak<QVNPart>, Ref<QVNOption>>> savedSelection_;
    std::uint64_t selectionPass_ = 0;
};
