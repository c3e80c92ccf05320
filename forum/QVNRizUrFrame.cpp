#include "forum/QVNRizUrFrame.h"

#include <cfloat>

#include "graphics/NSStringDrawing.h"
#include "uikit/UIScreen.h"

CGSize QVNRizUrFrame::sizeWithString(const std::string& text, const Ref<UIFont>& font, CGSize maxSize) {
    Dictionary attributes = Dictionary::mutableDictionary();
    attributes.setObject(NSFontAttributeName, Value(font));
    return NSStringDrawing::boundingRectWithSize(text, maxSize, NSStringDrawingUsesLineFragmentOrigin,
                                                 attributes)
        .size;
}

void QVNRizUrFrame::setQuestion(const Ref<QVNQuestion>& question) {
    question_ = question;
    const CGFloat W = UIScreen::mainScreen()->bounds().size.width;
    userNameImageF = CGRectMake(8, 20, 40, 40);
    const CGFloat left = CGRectGetMaxX(userNameImageF) + 8;
    userNameF = CGRectMake(left, 20, 150, 21);
    dateTimeF = CGRectMake(left, CGRectGetMaxY(userNameF) + 5, 120, 15);
    likeF = CGRectMake(W - 5 - 100, 40, 50, 22);
    commentF = CGRectMake(W - 5 - 50, 40, 50, 22);
    std::string title = question && question->question_title ? *question->question_title : std::string();
    CGSize titleSize = sizeWithString(title, UIFont::systemFontOfSize(15),
                                      CGSizeMake(W - CGRectGetMaxX(userNameImageF) - 8 - 10, FLT_MAX));
    titleF = CGRectMake(left, CGRectGetMaxY(dateTimeF) + 8, titleSize.width, titleSize.height);
    const CGFloat T = (W - 56 - 4 - 4 - 10) / 3;
    leftImageF = CGRectMake(left, CGRectGetMaxY(titleF) + 8, T, T - 20);
    centerImageF = CGRectMake(CGRectGetMaxX(leftImageF) + 4, leftImageF.origin.y, T, T - 20);
    rightImageF = CGRectMake(CGRectGetMaxX(centerImageF) + 4, leftImageF.origin.y, T, T - 20);
    bool pictures = question && question->question_pic && !question->question_pic->empty();
    cellHeight = (pictures ? CGRectGetMaxY(leftImageF) : CGRectGetMaxY(titleF)) + 8;
}
