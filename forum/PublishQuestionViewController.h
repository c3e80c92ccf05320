#pragma once
// PublishQuestionViewController: a signed-in user writes a question (title, body, brand from a
// drop-down, up to five photos in the strip) and publishes it. Submitting checks the texts,
// uploads the photos one by one under the global HUD, builds the HTML body with the pictures and
// posts "question/addquestion.do". A failure part-way keeps everything typed and picked; the next
// submit goes on from the photo that failed. Success posts "RefreshView" when its alert is closed
// and leaves the screen.
//
// Typed text goes into the HTML escaped; the body's placeholder counts as no body. Portrait only.
// Main thread only.

#include <optional>
#include <string>
#include <vector>

#include "forum/MessagePhotoView.h"
#include "forum/QVNQuestion.h"
#include "foundation/NSNotificationCenter.h"
#include "uikit/NSLayoutConstraint.h"
#include "uikit/UIAlertView.h"
#include "uikit/UIButton.h"
#include "uikit/UITableView.h"
#include "uikit/UITextField.h"
#include "uikit/UITextView.h"
#include "uikit/UIViewController.h"

class PublishQuestionViewController : public UIViewController,
                                      public UIAlertViewDelegate,
                                      public UITextViewDelegate,
                                      public UITextFieldDelegate,
                                      public UITableViewDataSource,
                                      public UITableViewDelegate,
                                      public MessagePhotoViewDelegate {
  public:
    static constexpr char kIdentifier[] = "PublishQuestionViewController";
    static constexpr char kPlaceholder[] = "想说的话...";

    std::string className() const override { return "PublishQuestionViewController"; }

    // Outlets.
    Weak<UITextField> questionTextFiled;
    Weak<UITextView> textView;
    Weak<UIView> photoView;
    Weak<UIButton> brandButton;
    Weak<UIView> topLeftView;
    Weak<NSLayoutConstraint> inputbarBottomContrait;

    const Ref<MessagePhotoView>& messagePhotoView() const { return messagePhotoView_; }
    std::vector<Ref<QVNMyCarBrand>>& brandArray() { return brandArray_; }
    const Ref<UITableView>& brandTableView() const { return brandTableView_; }
    bool showBrandTableView() const { return showBrandTableView_; }
    const std::optional<NSNumber>& brand_id() const { return brand_id_; }
    const std::vector<Ref<UIImage>>& imageArray() const { return imageArray_; }
    long long count() const { return count_; }
    const std::optional<std::string>& imageUrl() const { return imageUrl_; }
    const std::optional<std::string>& content() const { return content_; }
    const std::vector<std::string>& imageUrlArray() const { return imageUrlArray_; }
    const Dictionary& parameters() const { return parameters_; }
    std::string backToRizUrVc() const { return "返回"; }

    // ---- the screen -------------------------------------------------------------------------------
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    UIInterfaceOrientationMask supportedInterfaceOrientations() const override;
    UIInterfaceOrientation preferredInterfaceOrientationForPresentation() const override;
    UIStatusBarStyle preferredStatusBarStyle() const override { return UIStatusBarStyleLightContent; }

    // ---- actions ------------------------------------------------------------------------------------
    void submit(const Ref<NSObject>& sender);
    void brandButtonAction(const Ref<NSObject>& sender);
    void backButton(const Ref<NSObject>& sender);
    void dismissSelf(const Ref<NSObject>& sender);
    void tapColseKeyBoard();
    void touchesBegan(const std::set<Ref<UITouch>>& touches, const Ref<UIEvent>& event) override;
    void showImage() {}
    void afterDelay(double seconds, std::function<void()> block);
    void upLoadContent(const std::string& first, const std::string& question_txt,
                       const std::string& question_title, const std::optional<NSNumber>& cars_brand,
                       const std::optional<std::string>& question_pic);
    void upLoadUserImageArray(const std::vector<Ref<UIImage>>& images);
    void upLoadUserImage(const Ref<UIImage>& image);
    void handleKeyboardNotification(const Ref<NSNotification>& notification);
    static bool stringContainsEmoji(const std::string& text);

    // ---- delegates ----------------------------------------------------------------------------------
    void addPicker(const Ref<UIViewController>& picker) override;
    void sendImageArray(const std::vector<Ref<UIImage>>& images) override;
    void textViewDidBeginEditing(UITextView& textView) override;
    void textViewDidEndEditing(UITextView& textView) override;
    std::optional<bool> textViewShouldChangeTextInRange(UITextView& textView, NSRange range,
                                                        const std::string& text) override;
    std::optional<bool> textFieldShouldChangeCharactersInRange(UITextField& textField, NSRange range,
                                                               const std::string& string) override;
    long tableViewNumberOfRowsInSection(UITableView& tableView, long section) override;
    Ref<UITableViewCell> tableViewCellForRowAtIndexPath(UITableView& tableView,
                                                        const Ref<NSIndexPath>& indexPath) override;
    void tableViewDidSelectRowAtIndexPath(UITableView& tableView, const Ref<NSIndexPath>& indexPath) override;
    void alertViewClickedButtonAtIndex(const Ref<UIAlertView>& alertView, long buttonIndex) override;

  private:
    void showEmojiAlert();
    void showAlert(const std::optional<std::string>& title, const std::optional<std::string>& message,
                   const std::string& button, bool asCancel = false);
    std::string bodyText() const;
    std::string titleText() const;
    void publishWithPictures();
    void uploadFailed();

    Ref<MessagePhotoView> messagePhotoView_;
    std::vector<Ref<QVNMyCarBrand>> brandArray_;
    Ref<UITableView> brandTableView_;
    bool showBrandTableView_ = false;
    std::optional<NSNumber> brand_id_;
    std::vector<Ref<UIImage>> imageArray_;
    bool imagesReported_ = false;
    long long count_ = 0;
    std::optional<std::string> imageUrl_;
    std::optional<std::string> content_;
    std::vector<std::string> imageUrlArray_;
    Dictionary parameters_;
    Ref<UIAlertView> EmojiAlertV_;
    Ref<UIImage> image_;
    std::optional<std::string> user_token_;
    bool observingKeyboard_ = false;
    Ref<NSObject> viewHUD_;
};
