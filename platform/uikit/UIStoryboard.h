#pragma once
// Storyboards: on the phone, resource files of screens (scenes), their outlets, actions and the
// segues between them. Here a storyboard is a name in a process-wide registry of code factories,
// one per scene, registered at start-up by the code beside the screens:
//
//   UIStoryboard::registerStoryboard("Car", "CarViewController");       // name, initial scene
//   UIStoryboard::registerScene("Car", "CarViewController", [](UIStoryboard& storyboard) {
//       auto car = make<CarViewController>();
//       car->setViewLoader([](UIViewController& owner) {              // runs when the view loads
//           auto& screen = static_cast<CarViewController&>(owner);
//           auto view = make<UIView>(UIScreen::mainScreen()->bounds());
//           auto save = make<UIButton>(...);
//           view->addSubview(save);
//           screen.saveButton = save;                                  // outlet (a Weak member)
//           save->addTarget(...);                                      // actions
//           UIStoryboard::bindSegueToControl(owner.selfAs<UIViewController>(), list, "ShowTuningLists");
//           return view;
//       });
//       car->declareSegue("ShowTuningLists", UIStoryboardSegueKind::Present,
//                         "TuningListTableViewController");
//       return car;
//   });
//
// A scene factory makes the controller and says how its view is built (the view loader runs on
// the first access of view(), so prepareForSegue and other set-up before that see no view yet, as
// with a real storyboard); it declares the controller's segues. For a navigation controller scene
// the factory instantiates the root scene from the storyboard it is handed and makes the
// navigation controller around it.
//
// instantiate... sets the controller's storyboard() (and that of any child without one). An
// unknown storyboard name answers nullptr from storyboardWithName; an unknown scene identifier is
// logged and answers nullptr (the platform raises). The registry may be used from any thread; the
// controllers it makes belong to the main thread.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "foundation/NSBundle.h"
#include "foundation/NSObject.h"
#include "uikit/UIControl.h"

class UIViewController;

class UIStoryboard : public NSObject {
  public:
    using SceneFactory = std::function<Ref<UIViewController>(UIStoryboard& storyboard)>;

    explicit UIStoryboard(std::string name) : name_(std::move(name)) {}
    std::string className() const override { return "UIStoryboard"; }

    // ---- the registry -------------------------------------------------------------------------
    // Registers (or updates) a storyboard and its initial scene.
    static void registerStoryboard(const std::string& name,
                                   const std::optional<std::string>& initialIdentifier);
    // Registers a scene; the storyboard is registered (without initial scene) when it is not yet.
    // A later registration of the same identifier replaces the earlier.
    static void registerScene(const std::string& storyboardName, const std::string& identifier,
                              SceneFactory factory);
    static bool hasStoryboardNamed(const std::string& name);
    static std::vector<std::string> sceneIdentifiers(const std::string& storyboardName);
    // Forgets one storyboard (or all), for tests.
    static void unregisterStoryboard(const std::string& name);
    static void unregisterAllStoryboards();

    // ---- the platform's interface --------------------------------------------------------------
    // storyboardWithName:bundle: — nullptr for a name never registered. The bundle is not used.
    static Ref<UIStoryboard> storyboardWithName(const std::string& name, const Ref<NSBundle>& bundle);
    // nullptr (logged) when the storyboard has no initial scene.
    Ref<UIViewController> instantiateInitialViewController();
    // nullptr (logged) for an unknown identifier.
    Ref<UIViewController> instantiateViewControllerWithIdentifier(const std::string& identifier);
    const std::string& name() const { return name_; }

    // ---- segues triggered by the storyboard ----------------------------------------------------
    // What a segue drawn from a control or a cell does when it fires: asks the source's
    // shouldPerformSegueWithIdentifier, then performs. True when performed.
    static bool triggerSegue(const Ref<UIViewController>& source, const std::string& identifier,
                             const Ref<NSObject>& sender);
    // A segue drawn from a control: the control's events (touch-up-inside by default) trigger it
    // with the control as sender. The source is held weakly.
    static void bindSegueToControl(const Ref<UIViewController>& source, const Ref<UIControl>& control,
                                   const std::string& identifier,
                                   UIControlEvents events = UIControlEventTouchUpInside);

  private:
    std::string name_;
};

// Makes the window of the main storyboard at launch: installs the loader that UIApplication calls
// in finishLaunching. The loader reads the storyboard name from the main bundle's
// "UIMainStoryboardFile" info value (nothing happens without one or for an unknown name), makes a
// window of the screen's bounds, sets the initial controller as its root and hands the window to
// the application delegate, which shows it after its launch methods. When the delegate keeps no
// window, the application keeps it (for its lifetime) and the loader makes
// it key and visible itself.
void UIStoryboardInstallMainStoryboardLoader();
