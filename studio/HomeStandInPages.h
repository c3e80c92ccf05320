#pragma once
// Stand-ins for what the home screen and the tuning-list screens use of the neighbouring
// subsystems that are not built yet: the four child pages (information, Q&A, videos, events). Each class
// keeps the name and the interface the screens rely on, so that the real one replaces it by deleting it here;
// each scene is registered under the storyboard name and identifier the screens instantiate, and only where
// no scene of that identifier is registered yet, so a real screen registered first wins.
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

// ---- the information page and its delegate ---------------------------------------------------

class InformationRootViewControllerDelegate {
  public:
    virtual ~InformationRootViewControllerDelegate() = default;
    // The page was scrolled past its last sub-page (may come several times in one drag).
    virtual void informationRootViewControllerDidScrollToNext() = 0;
};

class InformationRootViewController : public HomeStandInPage {
  public:
    InformationRootViewController();
    std::string className() const override { return "InformationRootViewController"; }

    Ref<InformationRootViewControllerDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(const Ref<InformationRootViewControllerDelegate>& delegate) { delegate_ = delegate; }
    // Back to the first sub-page.
    virtual void refreshFirstViewController() { ++refreshCount_; }
    int refreshCount() const { return refreshCount_; }
    // What a scroll past the last sub-page does: tells the delegate.
    void scrollPastLastPage();

  private:
    Weak<InformationRootViewControllerDelegate> delegate_;
    int refreshCount_ = 0;
};
