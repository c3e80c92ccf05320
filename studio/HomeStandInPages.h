#pragma once
// Stand-ins for the home screen's child pages of the neighbouring areas (information, videos,
// events) where their scenes are not registered, as in the studio's own tests: a plain page
// registered under the storyboard name and identifier the home screen instantiates, and only
// where no scene of that identifier is registered yet, so a real screen registered first wins.
//
// The pictures the screens name ("top03", "dot_05"...) are resources outside the code: they are
// read from the resources folder, and a drawn stand-in of a fitting size takes the place of one
// that is missing, so the screens always have something to show.
//
// Main thread only, except the registration (any thread, as the storyboard registry).

#include <functional>
#include <optional>
#include <string>

#include "app/QVNProduction.h"
#include "app/QVNUser.h"
#include "foundation/NSError.h"
#include "foundation/NSObject.h"
#include "foundation/Value.h"
#include "graphics/UIImage.h"
#include "uikit/UIButton.h"
#include "uikit/UILabel.h"
#include "uikit/UITextField.h"
#include "uikit/UIViewController.h"

namespace HomeStandInPages {

// Registers the stand-in scenes: "MyInformation"/"InformationRootViewController",
// "MyVideo"/"VideosViewController",
// "MyActivity"/"ActivityListViewController". Idempotent.
void registerScenes();

// imageNamed, else a drawn stand-in picture for the names the home and tuning-list screens use
// (nullptr for any other missing name).
Ref<UIImage> imageNamed(const std::string& name);

}  // namespace HomeStandInPages

// A plain page: a title centred on a coloured ground.
class HomeStandInPage : public UIViewController {
  public:
    HomeStandInPage(std::string pageTitle, Ref<UIColor> ground);
    std::string className() const override { return "HomeStandInPage"; }
    void viewDidLoad() override;
    const std::string& pageTitle() const { return pageTitle_; }

  private:
    std::string pageTitle_;
    Ref<UIColor> ground_;
};
