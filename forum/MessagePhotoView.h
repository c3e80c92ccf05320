#pragma once
// MessagePhotoView: a strip of up to five photo thumbnails with an add button, under the text of
// the publishing screen and of the detail screen's reply bar. The add button offers the camera or
// the album (the multi-photo picker, which the owner presents); each thumbnail has a delete
// button and shows its photo full screen when tapped. After every change the strip reports the
// images it shows to its owner, which uploads them when it sends.
//
// Main thread only.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "forum/PKAssetPickerController.h"
#include "foundation/NSData.h"
#include "uikit/UIActionSheet.h"
#include "uikit/UIButton.h"
#include "uikit/UIImagePickerController.h"
#include "uikit/UIImageView.h"
#include "uikit/UILabel.h"
#include "uikit/UIScrollView.h"

class MessagePhotoMenuItem;

class MessagePhotoItemDelegate {
  public:
    virtual ~MessagePhotoItemDelegate() = default;
    virtual void messagePhotoItemViewDidSelectDeleteButtonAtIndex(const Ref<MessagePhotoMenuItem>& item,
                                                                  long long index) = 0;
};

class MessagePhotoViewDelegate {
  public:
    virtual ~MessagePhotoViewDelegate() = default;
    virtual void didSelectePhotoMenuItem(const Ref<MessagePhotoMenuItem>& item, long long index) {}
    // The images the strip shows now, in order.
    virtual void sendImageArray(const std::vector<Ref<UIImage>>& images) = 0;
    // A picker for the owner to present.
    virtual void addPicker(const Ref<UIViewController>& picker) = 0;
    virtual void addUIImagePicker(const Ref<UIImagePickerController>& picker) {}
};

class MessagePhotoMenuItem : public UIView {
  public:
    explicit MessagePhotoMenuItem(CGRect frame) : UIView(frame) {}
    std::string className() const override { return "MessagePhotoMenuItem"; }

    Ref<MessagePhotoItemDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(const Ref<MessagePhotoItemDelegate>& delegate) { delegate_ = delegate; }
    long long index = 0;
    // Builds the thumbnail; the image itself is not kept (the getter answers nil).
    Ref<UIImage> contentImage() const { return nullptr; }
    void setContentImage(const Ref<UIImage>& image);
    Ref<UIImageView> imageView;
    Ref<UIButton> deleteButton() const { return deleteButton_; }

    void magnifyPicture();
    void deletePhotoItem(const Ref<NSObject>& sender);

  private:
    Weak<MessagePhotoItemDelegate> delegate_;
    Ref<UIButton> deleteButton_;
};

class MessagePhotoView : public UIView,
                         public UIActionSheetDelegate,
                         public UIImagePickerControllerDelegate,
                         public UIScrollViewDelegate,
                         public MessagePhotoItemDelegate,
                         public PKAssetPickerControllerDelegate {
  public:
    static constexpr std::size_t kMaximumPhotos = 5;

    explicit MessagePhotoView(CGRect frame) : UIView(frame) {}
    void didInit();
    std::string className() const override { return "MessagePhotoView"; }

    // ALAsset entries from the album and UIImage entries from the camera, in display order.
    std::vector<Ref<NSObject>>& demoArray() { return demoArray_; }
    const std::vector<Ref<UIImage>>& itemArray() const { return itemArray_; }
    const std::vector<Ref<ALAsset>>& photoMenuItems() const { return photoMenuItems_; }
    Ref<UIScrollView> photoScrollView;
    Ref<UIButton> pushBtn;
    Ref<UILabel> lblNum;
    Ref<MessagePhotoMenuItem> photoItem;
    Ref<MessagePhotoViewDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(const Ref<MessagePhotoViewDelegate>& delegate) { delegate_ = delegate; }
    const std::string& filePath() const { return filePath_; }
    // The add button of the current rebuild (nil at five photos).
    Ref<UIButton> addButton() const { return addButton_; }
    // The open action sheet.
    const Ref<UIActionSheet>& actionSheet() const { return myActionSheet_; }

    void setup();
    void reloadDataWithImage(const Ref<UIImage>& image);
    void initlizerScrollView(const std::vector<Ref<NSObject>>& sources);
    void openMenu();
    void takePhoto();
    void localPhoto();
    Ref<UIViewController> viewController() const;
    // JPEG at 1.0, or re-encoded at 0.1 / 0.5 / 0.9 when that is longer than 1 MiB / 512 KiB / 200 KiB.
    static NSData imageData(const Ref<UIImage>& image);
    void saveTheImage(const NSData& data, long long index);

    void actionSheetClickedButtonAtIndex(const Ref<UIActionSheet>& actionSheet, long buttonIndex) override;
    void imagePickerControllerDidFinishPickingMediaWithInfo(const Ref<UIImagePickerController>& picker,
                                                            const Dictionary& info) override;
    void imagePickerControllerDidCancel(const Ref<UIImagePickerController>& picker) override;
    void messagePhotoItemViewDidSelectDeleteButtonAtIndex(const Ref<MessagePhotoMenuItem>& item,
                                                          long long index) override;
    void assetPickerControllerDidFinishPickingAssets(const Ref<PKAssetPickerController>& picker,
                                                     const std::vector<Ref<ALAsset>>& assets) override;
    void scrollViewDidEndDecelerating(UIScrollView& scrollView) override {}

  private:
    std::vector<Ref<NSObject>> demoArray_;
    std::vector<Ref<UIImage>> itemArray_;
    std::vector<Ref<ALAsset>> photoMenuItems_;
    Weak<MessagePhotoViewDelegate> delegate_;
    Ref<UIActionSheet> myActionSheet_;
    Ref<UIButton> addButton_;
    std::string filePath_;
};
