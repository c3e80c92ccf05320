// The forum's server replies: any bytes read as JSON, the rows mapped into questions, answers and
// a question detail as the forum's calls do, and laid out as rows (with made-up picture sizes).
// Whatever the rows held, the layouts stay finite and the texts go through the emoji test and
// HTML escaping.

#include <cmath>

#include "FuzzSupport.h"
#include "app/NSObject+RMKeyValue.h"
#include "forum/ForumSupport.h"
#include "forum/QVNDetailQuestion.h"
#include "forum/QVNQuestion.h"
#include "forum/QVNRizUrDetailFrame.h"
#include "forum/QVNRizUrFrame.h"
#include "foundation/NSJSONSerialization.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    NSData text(data, size);
    Value reply = NSJSONSerialization::JSONObjectWithData(text, NSJSONReadingMutableContainers, nullptr);
    if (!reply.isDictionary()) return 0;
    Value questions =
        NSObject_RMKeyValue::objectArrayWithKeyValuesArray(QVNQuestion::rmClass(), reply["data"]);
    if (const Array* rows = questions.array()) {
        for (const Value& row : *rows) {
            auto question = row.objectAs<QVNQuestion>();
            FUZZ_CHECK(question != nullptr);
            auto frame = make<QVNRizUrFrame>();
            frame->setQuestion(question);
            FUZZ_CHECK(std::isfinite(frame->cellHeight));
            (void)detail::forum::splitPictures(question->question_pic);
            if (question->question_title) {
                (void)detail::forum::stringContainsEmoji(*question->question_title);
                (void)detail::forum::escapeHTML(*question->question_title);
            }
        }
    }
    Value answers =
        NSObject_RMKeyValue::objectArrayWithKeyValuesArray(QVNQuestionComment::rmClass(), reply["reply"]);
    if (const Array* rows = answers.array()) {
        for (const Value& row : *rows) {
            auto answer = row.objectAs<QVNQuestionComment>();
            FUZZ_CHECK(answer != nullptr);
            QVNRizUrDetailFrame::PictureSizes sizes;
            std::size_t n = 0;
            for (const std::string& address : detail::forum::splitPictures(answer->pic_url)) {
                sizes[address] =
                    CGSizeMake(static_cast<double>(n * 97 % 1200), static_cast<double>(n * 53 % 900));
                ++n;
            }
            auto frame = make<QVNRizUrDetailFrame>();
            frame->setComment(answer, sizes);
            FUZZ_CHECK(frame->imageArray.size() <= QVNRizUrDetailFrame::kMaximumPictures);
            FUZZ_CHECK(std::isfinite(frame->cellHeight));
        }
    }
    if (reply["question"].isDictionary()) {
        auto question = std::dynamic_pointer_cast<QVNDetailQuestion>(
            NSObject_RMKeyValue::objectWithKeyValues(QVNDetailQuestion::rmClass(), reply["question"]));
        FUZZ_CHECK(question != nullptr);
    }
    return 0;
}
