#pragma once
// QVNRizUrFrame: the precomputed layout of one question row, from the main screen's width W at
// the moment the question is set:
//
//   avatar (8, 20, 40, 40)            name (56, 20, 150, 21)        time (56, 46, 120, 15)
//   like (W-105, 40, 50, 22)          answers (W-55, 40, 50, 22)
//   title at (56, 69): the title measured in the system font of 15 within W-66, no height limit
//   three thumbnails T = (W-74)/3 wide, T-20 high, 4 apart, 8 below the title
//   height = 8 below the thumbnails with pictures, else 8 below the title
//
// Main thread only (it reads the screen and measures text).

#include <string>

#include "forum/QVNQuestion.h"
#include "graphics/CGGeometry.h"
#include "graphics/UIFont.h"

class QVNRizUrFrame : public NSObject {
  public:
    std::string className() const override { return "QVNRizUrFrame"; }

    CGRect userNameImageF{};
    CGRect userNameF{};
    CGRect likeF{};
    CGRect commentF{};
    CGRect dateTimeF{};
    CGRect titleF{};
    CGRect leftImageF{};
    CGRect centerImageF{};
    CGRect rightImageF{};
    double cellHeight = 0;

    const Ref<QVNQuestion>& question() const { return question_; }
    void setQuestion(const Ref<QVNQuestion>& question);

    // The bounding size of the text in the font within the maximum size (line-fragment layout),
    // unrounded.
    static CGSize sizeWithString(const std::string& text, const Ref<UIFont>& font, CGSize maxSize);

  private:
    Ref<QVNQuestion> question_;
};
