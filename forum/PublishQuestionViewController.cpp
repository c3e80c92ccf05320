#include "forum/PublishQuestionViewController.h"

#include "app/KeyboardMove.h"
#include "app/QVNAPIClient.h"
#include "app/QVNUserManager.h"
#include "controls/GHProgressHUD.h"
#include "controls/VHProgressHUD.h"
#include "forum/ForumResources.h"
#include "forum/ForumSupport.h"
#include "forum/QVNRizUrBrandCell.h"
#include "foundation/NSMainThreadCheck.h"
#include "foundation/NSNotificationCenter.h"
#include "graphics/UIColor.h"
#include "uikit/UIApplication.h"
#include "uikit/UIImageView.h"
#include "uikit/UINavigationController.h"
#include "uikit/UITapGestureRecognizer.h"
#include "uikit/UIViewAnimation.h"
#include "uikit/UIWindow.h"

using namespace detail::forum;

namespace {

constexpr char kBrandCellIdentifier[] = "QVNRizUrBrandCell";
constexpr long kSignInAlertTag = 2;
constexpr char kReturn[] = "返回";

std::string pictureParagraph(const std::string& url) {
    return "<p><img src=\"" + escapeHTML(url) + "\"></p>";
}

}  // namespace

// ---- the screen
// ---------------------------------------------------------------------------------------------

void PublishQuestionViewController::viewDidLoad() {
    UIViewController::viewDidLoad();
    if (auto title = questionTextFiled.lock()) title->setPlaceholder(std::string("标题"));
    Weak<PublishQuestionViewController> weak = selfAs<PublishQuestionViewController>();
    QVNMyCarBrand::getCarBrandsCompletion(
        [weak](const std::optional<std::vector<Ref<QVNMyCarBrand>>>& brands, const Ref<NSError>& error) {
            auto self = weak.lock();
            if (!self || error || !brands) return;
            self->brandArray_.insert(self->brandArray_.end(), brands->begin(), brands->end());
        });
    if (!messagePhotoView_) {
        messagePhotoView_ = make<MessagePhotoView>(CGRectMake(0, 0, view()->bounds().size.width, 230));
        messagePhotoView_->lblNum->setHidden(true);
        if (auto container = photoView.lock()) container->addSubview(messagePhotoView_);
        messagePhotoView_->setDelegate(selfAs<PublishQuestionViewController>());
    }
    messagePhotoView_->pushBtn->addTarget(selfAs<PublishQuestionViewController>(),
                                          &PublishQuestionViewController::submit,
                                          "submit:", UIControlEventTouchUpInside);
    messagePhotoView_->addGestureRecognizer(
        make<UITapGestureRecognizer>(self(), [weak](const Ref<UIGestureRecognizer>&) {
            if (auto self = weak.lock()) self->tapColseKeyBoard();
        }));
}

void PublishQuestionViewController::viewWillAppear(bool animated) {
    UIViewController::viewWillAppear(animated);
    if (!observingKeyboard_) {
        auto center = NSNotificationCenter::defaultCenter();
        center->addObserver(selfAs<PublishQuestionViewController>(),
                            &PublishQuestionViewController::handleKeyboardNotification,
                            std::string(UIKeyboardWillShowNotification));
        center->addObserver(selfAs<PublishQuestionViewController>(),
                            &PublishQuestionViewController::handleKeyboardNotification,
                            std::string(UIKeyboardWillHideNotification));
        observingKeyboard_ = true;
    }
}

UIInterfaceOrientationMask PublishQuestionViewController::supportedInterfaceOrientations() const {
    return UIInterfaceOrientationMaskPortrait;
}

UIInterfaceOrientation PublishQuestionViewController::preferredInterfaceOrientationForPresentation() const {
    return UIInterfaceOrientationPortrait;
}

void PublishQuestionViewController::handleKeyboardNotification(const Ref<NSNotification>& notification) {
    KeyboardMove move = KeyboardMove::fromNotification(*notification);
    CGFloat constant = move.showing ? move.height() - 90.0 : 0;
    Weak<PublishQuestionViewController> weak = selfAs<PublishQuestionViewController>();
    move.animate([weak, constant] {
        auto self = weak.lock();
        if (!self) return;
        if (auto bottom = self->inputbarBottomContrait.lock()) bottom->setConstant(constant);
        self->view()->layoutIfNeeded();
    });
}

void PublishQuestionViewController::tapColseKeyBoard() {
    Weak<PublishQuestionViewController> weak = selfAs<PublishQuestionViewController>();
    UIView::animateWithDuration(
        0.25, 0,
        UIViewAnimationOptionLayoutSubviews | UIViewAnimationOptionAllowUserInteraction |
            UIViewAnimationOptionBeginFromCurrentState,
        [weak] {
            auto self = weak.lock();
            if (!self) return;
            if (auto bottom = self->inputbarBottomContrait.lock()) bottom->setConstant(0);
            self->view()->layoutIfNeeded();
        },
        nullptr);
    view()->endEditing(true);
}

void PublishQuestionViewController::touchesBegan(const std::set<Ref<UITouch>>&, const Ref<UIEvent>&) {
    view()->endEditing(true);
}

void PublishQuestionViewController::afterDelay(double seconds, std::function<void()> block) {
    detail::forum::afterDelay(seconds, std::move(block));
}

void PublishQuestionViewController::backButton(const Ref<NSObject>&) {
    if (auto navigation = navigationController()) navigation->popViewControllerAnimated(true);
}

void PublishQuestionViewController::dismissSelf(const Ref<NSObject>&) {
    if (currentUser()) {
        if (auto navigation = navigationController()) navigation->popToRootViewControllerAnimated(true);
        return;
    }
    Ref<UIApplication> application = UIApplication::sharedApplication();
    Ref<UIWindow> window = application ? application->keyWindow() : nullptr;
    if (auto navigation = std::dynamic_pointer_cast<UINavigationController>(
            window ? window->rootViewController() : nullptr))
        navigation->popViewControllerAnimated(true);
}

// ---- texts
// ---------------------------------------------------------------------------------------------------

std::string PublishQuestionViewController::bodyText() const {
    Ref<UITextView> body = textView.lock();
    std::string text = body ? body->text() : std::string();
    // The grey hint is not what the user wrote.
    return text == kPlaceholder ? std::string() : text;
}

std::string PublishQuestionViewController::titleText() const {
    Ref<UITextField> title = questionTextFiled.lock();
    return title ? title->text() : std::string();
}

void PublishQuestionViewController::textViewDidBeginEditing(UITextView& view) {
    if (view.text() == kPlaceholder) view.setText(std::string());
    view.setTextColor(UIColor::blackColor());
}

void PublishQuestionViewController::textViewDidEndEditing(UITextView& view) {
    if (view.text().empty()) {
        view.setText(std::string(kPlaceholder));
        view.setTextColor(UIColor::lightGrayColor());
    } else {
        view.setTextColor(UIColor::blackColor());
    }
}

std::optional<bool> PublishQuestionViewController::textViewShouldChangeTextInRange(UITextView&, NSRange,
                                                                                   const std::string& text) {
    if (stringContainsEmoji(text)) {
        showEmojiAlert();
        return false;
    }
    return true;
}

std::optional<bool>
PublishQuestionViewController::textFieldShouldChangeCharactersInRange(UITextField&, NSRange,
                                                                      const std::string& string) {
    if (stringContainsEmoji(string)) {
        showEmojiAlert();
        return false;
    }
    return true;
}

bool PublishQuestionViewController::stringContainsEmoji(const std::string& text) {
    return detail::forum::stringContainsEmoji(text);
}

void PublishQuestionViewController::showEmojiAlert() {
    if (!EmojiAlertV_)
        EmojiAlertV_ = make<UIAlertView>(std::nullopt, std::string("亲，不能输入表情哦！"),
                                         selfAs<PublishQuestionViewController>(), std::nullopt,
                                         std::vector<std::string>{"确定"});
    EmojiAlertV_->show();
}

void PublishQuestionViewController::showAlert(const std::optional<std::string>& title,
                                              const std::optional<std::string>& message,
                                              const std::string& button, bool asCancel) {
    auto alert = asCancel ? make<UIAlertView>(title, message, selfAs<PublishQuestionViewController>(), button)
                          : make<UIAlertView>(title, message, selfAs<PublishQuestionViewController>(),
                                              std::nullopt, std::vector<std::string>{button});
    alert->show();
}

// ---- brands
// ---------------------------------------------------------------------------------------------------

void PublishQuestionViewController::brandButtonAction(const Ref<NSObject>&) {
    showBrandTableView_ = !showBrandTableView_;
    view()->endEditing(true);
    if (!showBrandTableView_) {
        if (brandTableView_) brandTableView_->removeFromSuperview();
        brandTableView_ = nullptr;
        return;
    }
    Ref<UIView> anchor = topLeftView.lock();
    CGRect frame = anchor ? anchor->frame() : CGRectZero;
    brandTableView_ =
        make<UITableView>(CGRectMake(frame.origin.x, CGRectGetMaxY(frame), 100, 200), UITableViewStylePlain);
    brandTableView_->setBackgroundView(make<UIImageView>(imageNamed("zixunpinpaikuang")));
    brandTableView_->setBackgroundColor(UIColor::clearColor());
    brandTableView_->setSeparatorStyle(UITableViewCellSeparatorStyleNone);
    brandTableView_->setDataSource(selfAs<PublishQuestionViewController>());
    brandTableView_->setDelegate(selfAs<PublishQuestionViewController>());
    view()->addSubview(brandTableView_);
    brandTableView_->registerNib(QVNRizUrBrandCell::nib(), kBrandCellIdentifier);
    brandTableView_->reloadData();
}

long PublishQuestionViewController::tableViewNumberOfRowsInSection(UITableView&, long) {
    return static_cast<long>(brandArray_.size());
}

Ref<UITableViewCell>
PublishQuestionViewController::tableViewCellForRowAtIndexPath(UITableView& table,
                                                              const Ref<NSIndexPath>& indexPath) {
    auto cell = std::dynamic_pointer_cast<QVNRizUrBrandCell>(
        table.dequeueReusableCellWithIdentifier(kBrandCellIdentifier, indexPath));
    if (cell && indexPath->row() < static_cast<long>(brandArray_.size()))
        cell->setCarBrand(brandArray_[indexPath->row()]);
    return cell;
}

void PublishQuestionViewController::tableViewDidSelectRowAtIndexPath(UITableView&,
                                                                     const Ref<NSIndexPath>& indexPath) {
    showBrandTableView_ = false;
    long row = indexPath->row();
    Weak<PublishQuestionViewController> weak = selfAs<PublishQuestionViewController>();
    afterDelay(0.15, [weak, row] {
        auto self = weak.lock();
        if (!self || row < 0 || row >= static_cast<long>(self->brandArray_.size())) return;
        Ref<QVNMyCarBrand> brand = self->brandArray_[row];
        if (auto button = self->brandButton.lock()) button->setTitle(brand->brand_name, UIControlStateNormal);
        self->brand_id_ = brand->brand_id;
        if (self->brandTableView_) self->brandTableView_->removeFromSuperview();
    });
}

// ---- photos
// -------------------------------------------------------------------------------------------------

void PublishQuestionViewController::addPicker(const Ref<UIViewController>& picker) {
    if (picker) presentViewController(picker, true);
}

void PublishQuestionViewController::sendImageArray(const std::vector<Ref<UIImage>>& images) {
    imageArray_ = images;
    imagesReported_ = true;
    // A new set is uploaded from scratch: nothing gathered for an older set is published with it.
    count_ = 0;
    imageUrl_.reset();
    content_.reset();
}

// ---- publishing
// ---------------------------------------------------------------------------------------------

void PublishQuestionViewController::submit(const Ref<NSObject>&) {
    NS_ASSERT_MAIN_THREAD();
    Ref<QVNUser> user = currentUser();
    if (!user || !user->user_token || user->user_token->empty()) {
        // Signed out (a 10003 reply signs out while the screen stays): nothing could be sent.
        auto alert = make<UIAlertView>(std::nullopt, std::string("你还没有登陆！"),
                                       selfAs<PublishQuestionViewController>(), std::string("取消"),
                                       std::vector<std::string>{"登陆"});
        alert->setTag(kSignInAlertTag);
        alert->show();
        return;
    }
    std::string title = titleText(), body = bodyText();
    if (title.empty() || body.empty()) {
        showAlert(std::nullopt, std::string("问题或正文不能为空！"), "确定");
        return;
    }
    if (stringContainsEmoji(title) || stringContainsEmoji(body)) {
        showEmojiAlert();
        return;
    }
    QVNAPIClient::showProgressHUD();
    if (imageArray_.empty()) {
        upLoadContent(body, body, title, brand_id_, std::nullopt);
    } else if (count_ >= static_cast<long long>(imageArray_.size())) {
        publishWithPictures();
    } else {
        upLoadUserImageArray(imageArray_);
    }
}

void PublishQuestionViewController::publishWithPictures() {
    upLoadContent(content_.value_or(""), bodyText(), titleText(), brand_id_, imageUrl_);
}

void PublishQuestionViewController::uploadFailed() {
    GHProgressHUD::dismiss();
    showAlert(std::nullopt, std::string("上传图片失败，请检查您的网络！"), "知道了");
}

void PublishQuestionViewController::upLoadUserImageArray(const std::vector<Ref<UIImage>>& images) {
    const long long n = static_cast<long long>(images.size());
    if (count_ >= n) {
        publishWithPictures();
        return;
    }
    Ref<PublishQuestionViewController> self = selfAs<PublishQuestionViewController>();
    QVNAPIClient::postWithURLImage(
        "upload/upload.do", images[count_],
        [self, images, n](const Value& reply, const Ref<NSError>&) {
            std::optional<std::string> url = reply["url"].optionalString();
            if (!url) {
                // The server refused the picture: the user hears of it, as of a lost connection.
                self->uploadFailed();
                return;
            }
            std::string joined = self->imageUrl_.value_or("") + *url;
            if (self->count_ != n - 1) joined += ";";
            self->content_ = self->content_.value_or("") + pictureParagraph(*url);
            self->imageUrl_ = joined;
            self->imageUrlArray_.push_back(joined);
            ++self->count_;
            if (self->count_ >= n)
                self->publishWithPictures();
            else
                self->upLoadUserImageArray(images);
        },
        [self](const Ref<NSError>&) { self->uploadFailed(); });
}

void PublishQuestionViewController::upLoadUserImage(const Ref<UIImage>& image) {
    Ref<PublishQuestionViewController> self = selfAs<PublishQuestionViewController>();
    QVNAPIClient::postWithURLImage(
        "upload/upload.do", image,
        [self](const Value& reply, const Ref<NSError>&) {
            std::optional<std::string> url = reply["url"].optionalString();
            if (!url) return;
            self->imageUrl_ = "<img src=\"" + escapeHTML(*url) + "\">";
            self->upLoadContent(self->bodyText(), self->bodyText(), self->titleText(), self->brand_id_, url);
        },
        nullptr);
}

void PublishQuestionViewController::upLoadContent(const std::string&, const std::string& question_txt,
                                                  const std::string& question_title,
                                                  const std::optional<NSNumber>& cars_brand,
                                                  const std::optional<std::string>& question_pic) {
    if (!cars_brand || cars_brand->integerValue() == 0) {
        GHProgressHUD::dismiss();
        showAlert(std::nullopt, std::string("请选择品牌！"), "确定");
        return;
    }
    Dictionary params = Dictionary::mutableDictionary();
    addUserToken(params);
    params.setObject("question_txt", question_txt);
    params.setObject("question_title", question_title);
    // The body is shown as HTML: what was typed must stay text.
    std::string html = escapeHTML(question_txt);
    if (question_pic && imageUrl_) {
        params.setObject("question_content", html + content_.value_or(""));
        params.setObject("cars_brand", *cars_brand);
        params.setObject("question_pic", *question_pic);
    } else {
        params.setObject("question_content", html);
        params.setObject("cars_brand", *cars_brand);
    }
    parameters_ = params;
    Ref<VHProgressHUD> hud = VHProgressHUD::showHUDAddedTo(view(), true);
    Ref<PublishQuestionViewController> self = selfAs<PublishQuestionViewController>();
    QVNAPIClient::postWithURL(
        "question/addquestion.do", Value(params),
        [self, hud](const Value&, const Ref<NSError>& error) {
            hud->hide(true, 0.5);
            if (!error) {
                self->showAlert(std::nullopt, std::string("上传成功！"), kReturn);
            } else if (isInvalidToken(error)) {
                self->showAlert(std::string("帐号失效请重新登录"), std::nullopt, "确定", true);
                QVNUserManager::shareObject()->logOut();
            }
            GHProgressHUD::dismiss();
        },
        [self, hud](const Ref<NSError>&) {
            hud->hide(true, 0.5);
            GHProgressHUD::dismiss();
            self->showAlert(std::nullopt, std::string("上传失败，请检查您的网络！"), "知道了");
        });
}

void PublishQuestionViewController::alertViewClickedButtonAtIndex(const Ref<UIAlertView>& alertView,
                                                                  long buttonIndex) {
    if (!alertView) return;
    if (alertView->tag() == kSignInAlertTag) {
        if (buttonIndex == 1) pushLogin(navigationController(), true);
        return;
    }
    if (alertView->buttonTitleAtIndex(buttonIndex) == std::optional<std::string>(kReturn)) {
        NSNotificationCenter::defaultCenter()->postNotificationName("RefreshView");
        if (auto navigation = navigationController()) navigation->popViewControllerAnimated(true);
    }
}
