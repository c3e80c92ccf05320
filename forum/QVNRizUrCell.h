#pragma once
// The question list's row, QVNRizUrCell, built in code and placed by a QVNRizUrFrame, and the
// interface-file variant without pictures (QVNRizUrCellNoImgTableViewCell) that nothing shows.
//
// Thumbnails: up to three of the question's pictures, each shown from the thumbnail file cache
// (Caches/image, one file per picture address, named by the address's MD5) or else downloaded on
// a global queue, cropped to the thumbnail's proportions, stored as JPEG at quality 0.1 and shown
// on the main queue. Every fill clears the thumbnail views the question does not use, and a
// download lands only in a view that still waits for that address, so a reused row never shows
// another question's pictures. A failed download stores nothing; an empty or unreadable cache
// file counts as missing.
//
// Main thread only, except the download, crop and store.

#include <array>
#include <functional>
#include <optional>
#include <string>

#include "forum/QVNQuestion.h"
#include "forum/QVNRizUrFrame.h"
#include "uikit/UIButton.h"
#include "uikit/UIImageView.h"
#include "uikit/UILabel.h"
#include "uikit/UITableViewCell.h"

class QVNRizUrCell : public UITableViewCell {
  public:
    using CellBlock = std::function<void(const Ref<QVNRizUrCell>& cell)>;

    QVNRizUrCell(UITableViewCellStyle style, std::optional<std::string> reuseIdentifier);
    void didInit();
    std::string className() const override { return "QVNRizUrCell"; }

    static std::string cellIdentifier() { return "RizUrCell"; }

    // Interface-file outlets; the code-built cell leaves them unset.
    Weak<UIImageView> userImageView;
    Weak<UILabel> userNameLabel;
    Weak<UILabel> dateLabel;

    const Ref<QVNRizUrFrame>& rizurFrame() const { return rizurFrame_; }
    void setRizurFrame(const Ref<QVNRizUrFrame>& frame);
    Ref<QVNQuestion> question;

    CellBlock likeBlock;
    CellBlock replyBlock;
    CellBlock tapUserImageBlock;

    Ref<UIButton> userNameBtn;
    Ref<UILabel> userNameLab;
    Ref<UIButton> likeBtn;
    Ref<UIButton> commentBtn;
    Ref<UILabel> dateTimeLab;
    Ref<UILabel> titleLab;
    Ref<UIImageView> leftImageView;
    Ref<UIImageView> centerImageView;
    Ref<UIImageView> rightImageView;

    void likeClick();
    void replyClick();
    // Only while a user is signed in.
    void tapUserImageAction(const Ref<NSObject>& sender);
    void awakeFromNib() override {}
    void setSelected(bool selected, bool animated) override {
        UITableViewCell::setSelected(selected, animated);
    }

    void settingFrame();
    void settingData();
    void CacheImage(const std::string& address, const Ref<UIImageView>& imageView);
    static bool hasCachedImage(const std::string& address);
    static std::string pathForUrl(const std::string& address) { return pathInCacheDirectory(address); }
    // Caches + "/image/" + the MD5 of the address.
    static std::string pathInCacheDirectory(const std::string& address);
    Ref<UIImage> modiftyPicture(const Ref<UIImage>& image, const Ref<UIImageView>& imageView) const;
    static Ref<UIImage> imageCompressWithSimple(const Ref<UIImage>& image, float scale);
    static double comparisonOfSize(const Ref<UIImage>& image, const Ref<UIView>& view);
    // The largest centred part of an image of size (w, h) with the view's proportions.
    static CGRect comparisonOfRect(CGSize image, CGSize view);
    static Ref<UIImage> cutTheImage(const Ref<UIImage>& image, const Ref<UIView>& view, CGRect rect);

    // The address each thumbnail view waits for (empty: none); for tests.
    const std::array<std::string, 3>& expectedAddresses() const { return expected_; }

  private:
    Ref<UIImageView> thumbnailView(std::size_t index) const;
    void showThumbnail(std::size_t index, const std::string& address);

    Ref<QVNRizUrFrame> rizurFrame_;
    std::array<std::string, 3> expected_;
};

class QVNRizUrCellNoImgTableViewCell : public UITableViewCell {
  public:
    using CellBlock = std::function<void(const Ref<QVNRizUrCellNoImgTableViewCell>& cell)>;

    QVNRizUrCellNoImgTableViewCell(UITableViewCellStyle style, std::optional<std::string> reuseIdentifier)
        : UITableViewCell(style, std::move(reuseIdentifier)) {}
    std::string className() const override { return "QVNRizUrCellNoImgTableViewCell"; }
    static std::string cellIdentifier() { return "RizUrCellNoImg"; }

    Weak<UIImageView> userImageView;
    Weak<UILabel> userNameLabel;
    Weak<UILabel> dateLabel;
    Weak<UIButton> commentButton;
    Weak<UILabel> titleLabel;
    Weak<UIButton> likeButton;

    const Ref<QVNQuestion>& question() const { return question_; }
    void setQuestion(const Ref<QVNQuestion>& question);

    CellBlock likeBlock;
    CellBlock replyBlock;
    CellBlock tapUserImageBlock;

    void likeClick();
    void replyClick();
    void tapUserImageAction(const Ref<NSObject>& sender);
    void awakeFromNib() override {}
    void setSelected(bool selected, bool animated) override {
        UITableViewCell::setSelected(selected, animated);
    }

  private:
    Ref<QVNQuestion> question_;
};
