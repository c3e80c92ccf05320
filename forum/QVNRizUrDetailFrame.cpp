#include "forum/QVNRizUrDetailFrame.h"

#include <cfloat>

#include "dispatch/Dispatch.h"
#include "forum/ForumSupport.h"
#include "graphics/NSStringDrawing.h"
#include "network/NSData+URL.h"
#include "uikit/UIScreen.h"

namespace {

std::vector<std::string> shownPictures(const Ref<QVNQuestionComment>& comment) {
    std::vector<std::string> parts = detail::forum::splitPictures(comment ? comment->pic_url : std::nullopt);
    if (parts.size() > QVNRizUrDetailFrame::kMaximumPictures)
        parts.resize(QVNRizUrDetailFrame::kMaximumPictures);
    return parts;
}

}  // namespace

CGSize QVNRizUrDetailFrame::sizeWithString(const std::string& text, const Ref<UIFont>& font, CGSize maxSize) {
    Dictionary attributes = Dictionary::mutableDictionary();
    attributes.setObject(NSFontAttributeName, Value(font));
    return NSStringDrawing::boundingRectWithSize(text, maxSize, NSStringDrawingUsesLineFragmentOrigin,
                                                 attributes)
        .size;
}

Ref<UIImage> QVNRizUrDetailFrame::imageSizeWithUrl(const std::string& address) {
    Ref<NSURL> url = NSURL::URLWithString(address);
    if (!url) return nullptr;
    std::optional<NSData> data = NSData_URL::dataWithContentsOfURL(url);
    return data ? UIImage::imageWithData(*data) : nullptr;
}

void QVNRizUrDetailFrame::setComment(const Ref<QVNQuestionComment>& comment) {
    PictureSizes sizes;
    for (const std::string& address : shownPictures(comment))
        if (Ref<UIImage> picture = imageSizeWithUrl(address)) sizes[address] = picture->size();
    setComment(comment, sizes);
}

void QVNRizUrDetailFrame::setComment(const Ref<QVNQuestionComment>& comment, const PictureSizes& sizes) {
    comment_ = comment;
    const CGFloat W = UIScreen::mainScreen()->bounds().size.width;
    userNameImageF = CGRectMake(8, 20, 40, 40);
    userNameF = CGRectMake(CGRectGetMaxX(userNameImageF) + 8, 20, 150, 21);
    dateTimeF = CGRectMake(userNameF.origin.x, CGRectGetMaxY(userNameF) + 5, 120, 15);
    likeF = CGRectMake(W - 5 - 100, 40, 50, 22);
    commentF = CGRectMake(W - 5 - 50, 40, 50, 22);
    std::string text = comment && comment->re_content ? *comment->re_content : std::string();
    CGSize textSize = sizeWithString(text, UIFont::systemFontOfSize(15), CGSizeMake(W - 56 - 10, FLT_MAX));
    titleF = CGRectMake(56, CGRectGetMaxY(dateTimeF) + 8, textSize.width, textSize.height);
    imageArray.clear();
    std::vector<std::string> pictures = shownPictures(comment);
    if (pictures.empty()) {
        cellHeight = CGRectGetMaxY(titleF) + 8;
        return;
    }
    const CGFloat room = W - 56 - 10;
    CGFloat y = CGRectGetMaxY(titleF) + 8;
    for (const std::string& address : pictures) {
        CGSize size{0, 0};
        if (auto it = sizes.find(address); it != sizes.end()) size = it->second;
        CGSize placed = size.width > room ? CGSizeMake(W - 66, size.height * (W - 66) / size.width) : size;
        imageF = CGRectMake(56, y, placed.width, placed.height);
        imageArray.push_back(imageF);
        y = CGRectGetMaxY(imageF) + 8;
    }
    cellHeight = CGRectGetMaxY(imageF) + 8;
}

void QVNRizUrDetailFrame::framesForComments(const std::vector<Ref<QVNQuestionComment>>& comments,
                                            std::function<void(std::vector<Ref<QVNRizUrDetailFrame>>)> done) {
    std::vector<std::string> addresses;
    for (const auto& comment : comments)
        for (const std::string& address : shownPictures(comment)) addresses.push_back(address);
    auto build = [comments, done](const PictureSizes& sizes) {
        std::vector<Ref<QVNRizUrDetailFrame>> frames;
        for (const auto& comment : comments) {
            auto frame = make<QVNRizUrDetailFrame>();
            frame->setComment(comment, sizes);
            frames.push_back(frame);
        }
        if (done) done(std::move(frames));
    };
    dispatch_async(dispatch_get_global_queue(0), [addresses, build] {
        PictureSizes sizes;
        for (const std::string& address : addresses) {
            if (sizes.count(address)) continue;
            if (Ref<UIImage> picture = imageSizeWithUrl(address)) sizes[address] = picture->size();
        }
        dispatch_async(dispatch_get_main_queue(), [build, sizes] { build(sizes); });
    });
}
