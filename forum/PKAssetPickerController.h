#pragma once
// The multi-photo picker: a navigation controller whose first screen lists the photo library's
// albums and whose second shows one album as a grid of 78-point thumbnails with check marks. The
// caller sets the maximum, the asset filter and a selection rule, presents it, and hears the
// chosen assets through PKAssetPickerControllerDelegate; the picker never dismisses itself after
// finishing.
//
// A tap runs up a chain: the tap layer asks its asset view, the asset view its row, the row the
// grid, which allows a new selection only while fewer than the maximum are chosen and the rule
// accepts the asset (a chosen asset can always be let go). Each album visit starts with an empty
// selection.
//
// The album list shows the no-assets notice only once both enumerations ended with no album,
// and takes it away when albums arrive. Main thread only (the library calls back there).

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "foundation/NSPredicate.h"
#include "system/ALAssetsLibrary.h"
#include "uikit/UIImageView.h"
#include "uikit/UILabel.h"
#include "uikit/UINavigationController.h"
#include "uikit/UITableViewCell.h"
#include "uikit/UITableViewController.h"

class PKAssetPickerController;

class PKAssetPickerControllerDelegate {
  public:
    virtual ~PKAssetPickerControllerDelegate() = default;
    virtual void assetPickerControllerDidFinishPickingAssets(const Ref<PKAssetPickerController>& picker,
                                                             const std::vector<Ref<ALAsset>>& assets) = 0;
    virtual void assetPickerControllerDidCancel(const Ref<PKAssetPickerController>& picker) {}
    virtual void assetPickerControllerDidSelectAsset(const Ref<PKAssetPickerController>& picker,
                                                     const Ref<ALAsset>& asset) {}
    virtual void assetPickerControllerDidDeselectAsset(const Ref<PKAssetPickerController>& picker,
                                                       const Ref<ALAsset>& asset) {}
    virtual void assetPickerControllerDidMaximum(const Ref<PKAssetPickerController>& picker) {}
    virtual void assetPickerControllerDidMinimum(const Ref<PKAssetPickerController>& picker) {}
};

class PKAssetPickerController : public UINavigationController {
  public:
    PKAssetPickerController();
    std::string className() const override { return "PKAssetPickerController"; }

    Ref<PKAssetPickerControllerDelegate> delegate() const { return pickerDelegate_.lock(); }
    void setDelegate(const Ref<PKAssetPickerControllerDelegate>& delegate) { pickerDelegate_ = delegate; }

    Ref<ALAssetsFilter> assetsFilter = ALAssetsFilter::allAssets();
    std::vector<Ref<ALAsset>> indexPathsForSelectedItems;
    long long maximumNumberOfSelection = 10;
    long long minimumNumberOfSelection = 0;
    Ref<NSPredicate> selectionFilter = NSPredicate::predicateWithValue(true);
    bool showCancelButton = true;
    bool showEmptyGroups = false;
    bool isFinishDismissViewController = true;

  private:
    Weak<PKAssetPickerControllerDelegate> pickerDelegate_;
};

// ---- the tap layer, the thumbnail and the row -------------------------------------------------------

class PKTapAssetViewDelegate {
  public:
    virtual ~PKTapAssetViewDelegate() = default;
    virtual std::optional<bool> shouldTap() { return std::nullopt; }
    virtual void touchSelect(bool selected) {}
};

class PKTapAssetView : public UIView {
  public:
    explicit PKTapAssetView(CGRect frame);
    void didInit();
    std::string className() const override { return "PKTapAssetView"; }

    bool selected() const { return selected_; }
    void setSelected(bool selected);
    bool disabled() const { return disabled_; }
    void setDisabled(bool disabled);
    Ref<PKTapAssetViewDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(const Ref<PKTapAssetViewDelegate>& delegate) { delegate_ = delegate; }
    Ref<UIImageView> selectView;

    // What a touch ending on the layer does.
    void tap();
    void touchesEnded(const std::set<Ref<UITouch>>& touches, const Ref<UIEvent>& event) override;

  private:
    void showState();
    bool selected_ = false;
    bool disabled_ = false;
    Weak<PKTapAssetViewDelegate> delegate_;
};

class PKVideoTitleView : public UILabel {
  public:
    using UILabel::UILabel;
    std::string className() const override { return "PKVideoTitleView"; }
    void drawRect(CGRect rect) override;
};

class PKAssetViewDelegate {
  public:
    virtual ~PKAssetViewDelegate() = default;
    virtual std::optional<bool> shouldSelectAsset(const Ref<ALAsset>& asset) { return std::nullopt; }
    virtual void tapSelectHandle(bool selected, const Ref<ALAsset>& asset) {}
};

class PKAssetView : public UIView, public PKTapAssetViewDelegate {
  public:
    explicit PKAssetView(CGRect frame);
    void didInit();
    std::string className() const override { return "PKAssetView"; }

    Ref<ALAsset> asset;
    Ref<PKAssetViewDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(const Ref<PKAssetViewDelegate>& delegate) { delegate_ = delegate; }
    Ref<UIImageView> imageView;
    Ref<PKVideoTitleView> videoTitle;
    Ref<PKTapAssetView> tapAssetView;

    void bind(const Ref<ALAsset>& asset, const Ref<NSPredicate>& selectionFilter, bool isSeleced);
    std::optional<bool> shouldTap() override;
    void touchSelect(bool selected) override;

  private:
    Weak<PKAssetViewDelegate> delegate_;
};

class PKAssetViewCellDelegate {
  public:
    virtual ~PKAssetViewCellDelegate() = default;
    virtual bool shouldSelectAsset(const Ref<ALAsset>& asset) = 0;
    virtual void didSelectAsset(const Ref<ALAsset>& asset) = 0;
    virtual void didDeselectAsset(const Ref<ALAsset>& asset) = 0;
};

class PKAssetViewCell : public UITableViewCell, public PKAssetViewDelegate {
  public:
    using UITableViewCell::UITableViewCell;
    std::string className() const override { return "PKAssetViewCell"; }

    Ref<PKAssetViewCellDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(const Ref<PKAssetViewCellDelegate>& delegate) { delegate_ = delegate; }

    void bind(const std::vector<Ref<ALAsset>>& assets, const Ref<NSPredicate>& selectionFilter,
              float minimumInteritemSpacing, float minimumLineSpacing, int columns, CGFloat assetViewX,
              const std::vector<Ref<ALAsset>>& selected);
    std::vector<Ref<PKAssetView>> assetViews() const;

    std::optional<bool> shouldSelectAsset(const Ref<ALAsset>& asset) override;
    void tapSelectHandle(bool selected, const Ref<ALAsset>& asset) override;

  private:
    Weak<PKAssetViewCellDelegate> delegate_;
};

// ---- the grid ---------------------------------------------------------------------------------------

class PKAssetViewController : public UITableViewController, public PKAssetViewCellDelegate {
  public:
    PKAssetViewController();
    std::string className() const override { return "PKAssetViewController"; }

    Ref<ALAssetsGroup> assetsGroup;
    std::vector<Ref<ALAsset>> assets;
    std::vector<Ref<ALAsset>> indexPathsForSelectedItems;
    long long number = 0;
    long long numberOfPhotos = 0;
    long long numberOfVideos = 0;
    int columns() const { return columns_; }
    float minimumInteritemSpacing() const { return minimumInteritemSpacing_; }
    float minimumLineSpacing() const { return minimumLineSpacing_; }

    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void setupAssets();
    void finishPickingAssets(const Ref<NSObject>& sender);
    void willAnimateRotationToInterfaceOrientation(UIInterfaceOrientation orientation,
                                                   double duration) override;
    // The caption prepared for the selection (not shown).
    std::string selectionCaption() const;

    long tableViewNumberOfRowsInSection(UITableView& tableView, long section) override;
    Ref<UITableViewCell> tableViewCellForRowAtIndexPath(UITableView& tableView,
                                                        const Ref<NSIndexPath>& indexPath) override;
    std::optional<CGFloat> tableViewHeightForRowAtIndexPath(UITableView& tableView,
                                                            const Ref<NSIndexPath>& indexPath) override;

    bool shouldSelectAsset(const Ref<ALAsset>& asset) override;
    void didSelectAsset(const Ref<ALAsset>& asset) override;
    void didDeselectAsset(const Ref<ALAsset>& asset) override;

  private:
    Ref<PKAssetPickerController> picker() const;
    void selectionChanged();
    long assetRows() const;

    int columns_ = 4;
    float minimumInteritemSpacing_ = 2;
    float minimumLineSpacing_ = 2;
    bool unFirst_ = false;
};

// ---- the album list ---------------------------------------------------------------------------------

class PKAssetGroupViewCell : public UITableViewCell {
  public:
    using UITableViewCell::UITableViewCell;
    std::string className() const override { return "PKAssetGroupViewCell"; }
    const Ref<ALAssetsGroup>& assetsGroup() const { return assetsGroup_; }
    void bind(const Ref<ALAssetsGroup>& group);

  private:
    Ref<ALAssetsGroup> assetsGroup_;
};

class PKAssetGroupViewController : public UITableViewController {
  public:
    PKAssetGroupViewController();
    std::string className() const override { return "PKAssetGroupViewController"; }

    static Ref<ALAssetsLibrary> defaultAssetsLibrary();
    Ref<ALAssetsLibrary> assetsLibrary;
    std::vector<Ref<ALAssetsGroup>> groups;

    void viewDidLoad() override;
    bool shouldAutorotate() const override { return true; }
    UIInterfaceOrientationMask supportedInterfaceOrientations() const override;
    void setupGroup();
    void dismiss(const Ref<NSObject>& sender);
    void showNotAllowed();
    void showNoAssets();
    bool showsNoAssets() const { return noAssetsShown_; }
    bool showsNotAllowed() const { return notAllowedShown_; }

    long tableViewNumberOfRowsInSection(UITableView& tableView, long section) override;
    Ref<UITableViewCell> tableViewCellForRowAtIndexPath(UITableView& tableView,
                                                        const Ref<NSIndexPath>& indexPath) override;
    void tableViewDidSelectRowAtIndexPath(UITableView& tableView, const Ref<NSIndexPath>& indexPath) override;

  private:
    Ref<PKAssetPickerController> picker() const;
    void enumerationEnded();
    void groupsArrived();
    int endedEnumerations_ = 0;
    bool noAssetsShown_ = false;
    bool notAllowedShown_ = false;
};
