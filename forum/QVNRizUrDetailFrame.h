#pragma once
// QVNRizUrDetailFrame: the layout of one answer row, with W the main screen's width:
//
//   avatar (8, 20, 40, 40)   name (56, 20, 150, 21)   time (56, 46, 120, 15)
//   like (W-105, 40, 50, 22) reply (W-55, 40, 50, 22)
//   text at (56, 69), measured in the system font of 15 within W-66
//   pictures one under another at x 56, 8 apart: wider than W-66 scaled down to that width,
//   else at their own size; one that cannot be fetched gets a zero-size place
//   height = 8 below the last picture, else 8 below the text
//
// Only the first five pictures (the ones a row shows) are laid out. The picture sizes come from
// the pictures themselves: setComment fetches them where it runs, while the detail screen uses
// framesForComments, which fetches them on a global queue and builds the layouts on the main
// queue, so a page with pictures never holds the screen.

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "forum/QVNDetailQuestion.h"
#include "graphics/CGGeometry.h"
#include "graphics/UIFont.h"
#include "graphics/UIImage.h"

class QVNRizUrDetailFrame : public NSObject {
  public:
    using PictureSizes = std::map<std::string, CGSize>;
    static constexpr std::size_t kMaximumPictures = 5;

    std::string className() const override { return "QVNRizUrDetailFrame"; }

    CGRect userNameImageF{};
    CGRect userNameF{};
    CGRect likeF{};
    CGRect commentF{};
    CGRect dateTimeF{};
    CGRect titleF{};
    CGRect imageF{};
    std::vector<CGRect> imageArray;
    double cellHeight = 0;

    const Ref<QVNQuestionComment>& comment() const { return comment_; }
    // Fetches each picture where it is called.
    void setComment(const Ref<QVNQuestionComment>& comment);
    // With the pictures' sizes known (a missing address counts as a picture that failed).
    void setComment(const Ref<QVNQuestionComment>& comment, const PictureSizes& sizes);

    static CGSize sizeWithString(const std::string& text, const Ref<UIFont>& font, CGSize maxSize);
    // The picture at the address, fetched and decoded where it is called; nil on failure.
    static Ref<UIImage> imageSizeWithUrl(const std::string& address);

    // The layouts of the answers, in order, handed to done on the main queue; the pictures are
    // fetched on a global queue first.
    static void framesForComments(const std::vector<Ref<QVNQuestionComment>>& comments,
                                  std::function<void(std::vector<Ref<QVNRizUrDetailFrame>>)> done);

  private:
    Ref<QVNQuestionComment> comment_;
};
