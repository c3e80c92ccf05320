#include "information/VideoDetailViewController.h"

#include <cstdio>

#include "app/QVNConfiguration.h"
#include "foundation/NSJSONSerialization.h"
#include "foundation/NSOperationQueue.h"
#include "graphics/UIColor.h"
#include "graphics/UIFont.h"
#include "images/UIImageView+WebCache.h"
#include "information/QVNVideo.h"
#include "network/NSURLConnection.h"
#include "network/NSURLRequest.h"
#include "uikit/UIApplication.h"
#include "uikit/UINavigationController.h"

Ref<NSURL> VideoDetailViewController::detailURLForVideoId(long videoId) {
    std::string format = QVNConfiguration::videoURLFormat();
    std::string::size_type at = format.find("%d");
    if (at == std::string::npos) return nullptr;
    return NSURL::URLWithString(format.replace(at, 2, std::to_string(videoId)));
}

void handOverVideo(VideoDetailViewController& detail, const QVNVideo& video) {
    detail.picUrl = video.video_pic();
    detail.videoTime = video.video_time();
    detail.videoTitle = video.video_title();
    if (video.identifier())
        detail.videoURL = VideoDetailViewController::detailURLForVideoId(video.identifier()->integerValue());
}

void VideoDetailViewController::viewDidLoad() {
    UIViewController::viewDidLoad();
    const Ref<UIView>& root = view();
    root->setBackgroundColor(UIColor::whiteColor());
    const CGFloat W = root->bounds().size.width;
    if (!imageView.lock()) {
        auto picture = make<UIImageView>(CGRectMake(0, 64, W, W * 9 / 16));
        picture->setContentMode(UIViewContentModeScaleAspectFill);
        picture->setClipsToBounds(true);
        root->addSubview(picture);
        auto play = UIButton::buttonWithType(UIButtonTypeCustom);
        play->setFrame(CGRectMake(W / 2 - 25, 64 + W * 9 / 32 - 25, 50, 50));
        play->setTitle("▶", UIControlStateNormal);
        root->addSubview(play);
        CGFloat y = 64 + W * 9 / 16 + 8;
        auto title = make<UILabel>(CGRectMake(10, y, W - 20, 24));
        title->setFont(UIFont::boldSystemFontOfSize(17));
        root->addSubview(title);
        auto time = make<UILabel>(CGRectMake(10, y + 26, W / 2, 18));
        time->setFont(UIFont::systemFontOfSize(12));
        root->addSubview(time);
        auto count = make<UILabel>(CGRectMake(W / 2, y + 26, W / 2 - 10, 18));
        count->setFont(UIFont::systemFontOfSize(12));
        count->setTextAlignment(NSTextAlignmentRight);
        root->addSubview(count);
        auto text = make<UITextView>(CGRectMake(10, y + 50, W - 20, root->bounds().size.height - y - 60));
        text->setEditable(false);
        root->addSubview(text);
        imageView = picture;
        bofangButton = play;
        titleLabel = title;
        timeLabel = time;
        viewLabel = count;
        descTextView = text;
    }
    // The play symbol is a picture only: the tap goes to the picture below it.
    if (auto play = bofangButton.lock()) play->setUserInteractionEnabled(false);
    if (videoURL) {
        Weak<VideoDetailViewController> weak = selfAs<VideoDetailViewController>();
        NSURLConnection::sendAsynchronousRequest(
            NSURLRequest::requestWithURL(videoURL), NSOperationQueue::mainQueue(),
            [weak](const Ref<NSURLResponse>&, const std::optional<NSData>& data, const Ref<NSError>& error) {
                auto self = weak.lock();
                if (self && data && !error) self->showDetail(*data);
            });
    }
    if (auto picture = imageView.lock()) {
        picture->setUserInteractionEnabled(true);
        Weak<VideoDetailViewController> weak = selfAs<VideoDetailViewController>();
        gestureRecognizer = make<UITapGestureRecognizer>(nullptr, [weak](const Ref<UIGestureRecognizer>&) {
            if (auto self = weak.lock()) self->openVideo();
        });
        picture->addGestureRecognizer(gestureRecognizer);
    }
}

void VideoDetailViewController::showDetail(const NSData& data) {
    Value reply = NSJSONSerialization::JSONObjectWithData(data, NSJSONReadingMutableLeaves, nullptr);
    if (!reply.dictionary()) return;  // not the object the page is made of: nothing to show
    if (const std::string* link = reply["video_link"].string()) video_link = *link;
    std::string description =
        reply["video_content"].string() ? *reply["video_content"].string() : std::string();
    long count = reply["video_view"].number() ? reply["video_view"].number()->integerValue() : 0;
    if (auto picture = imageView.lock())
        UIImageView_WebCache::wi_setImageWithURL(picture, picUrl ? NSURL::URLWithString(*picUrl) : nullptr);
    if (auto title = titleLabel.lock()) title->setText(videoTitle.value_or(""));
    if (auto time = timeLabel.lock()) time->setText(videoTime.value_or(""));
    if (auto text = descTextView.lock()) {
        text->setText(description);
        text->setFont(UIFont::systemFontOfSize(16));
    }
    if (auto views = viewLabel.lock()) views->setText(std::to_string(count));
}

bool VideoDetailViewController::openVideo() {
    if (!video_link) return false;
    Ref<NSURL> url = NSURL::URLWithString(*video_link);
    auto application = UIApplication::sharedApplication();
    if (!url || !application) return false;
    return application->openURL(url);
}

void VideoDetailViewController::back(const Ref<NSObject>&) {
    if (auto navigation = navigationController()) navigation->popViewControllerAnimated(true);
}
