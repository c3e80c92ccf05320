#pragma once
// What another area hands to the Q&A forum's question detail before it pushes it. The screen lives
// in the storyboard "MyRizUr" under "QuestionDetailController"; an area that opens it cannot see
// its class, so the screen adopts this interface and the opener sets what it has through it.
//
// Main thread only.

#include <optional>

#include "foundation/Value.h"

namespace QVNQuestionScreens {

inline constexpr char kStoryboard[] = "MyRizUr";
inline constexpr char kQuestionDetailIdentifier[] = "QuestionDetailController";
// Posted by the question detail when it was opened from the message centre and is left, with the
// user info {"isUpdateFromeQuestion": "YES"}.
inline constexpr char kReadFromQuestionNotification[] = "updateReadRromeQuestionVc";

class QuestionDetailHandOver {
  public:
    virtual ~QuestionDetailHandOver() = default;
    virtual void setQuestionId(const std::optional<NSNumber>& questionId) = 0;
    // YES when opened from the message centre.
    virtual void setIsFromMessafeVc(bool isFromMessageCentre) = 0;
};

}  // namespace QVNQuestionScreens
