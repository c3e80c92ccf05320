#pragma once
// ShowBigViewController: a full-screen preview of picked photos, one per page of a sideways
// paging scroll view, titled "查看选择图片", with "完成" (ends the modal presentation) and a back
// button (pops, then tints the navigation bar red). It expects to sit in a navigation controller
// that is presented modally, and never changes the list it shows. Nothing in the app opens it.
// Main thread only.

#include <string>
#include <vector>

#include "system/ALAssetsLibrary.h"
#include "uikit/UIBars.h"
#include "uikit/UIButton.h"
#include "uikit/UIImageView.h"
#include "uikit/UIScrollView.h"
#include "uikit/UIViewController.h"

class ShowBigViewController : public UIViewController, public UIScrollViewDelegate {
  public:
    std::string className() const override { return "ShowBigViewController"; }

    const std::vector<Ref<ALAsset>>& arrayOK() const { return arrayOK_; }
    void setArrayOK(std::vector<Ref<ALAsset>> assets) { arrayOK_ = std::move(assets); }
    Ref<UIButton> rightbtn;
    const Ref<UIScrollView>& scrollerview() const { return scrollerview_; }

    void viewDidLoad() override;
    void layOut();
    void complete(const Ref<NSObject>& sender);
    void OK(const Ref<NSObject>& sender);
    void dismiss();

    // The system version the bar colours are chosen by (7.0 and later: bar tint).
    static double systemVersion();

  private:
    std::vector<Ref<ALAsset>> arrayOK_;
    Ref<UIScrollView> scrollerview_;
    Ref<UINavigationBar> mynavigationBar_;
    Ref<UIImageView> imagvtitle_;
    Ref<UIButton> btnOK_;
};
