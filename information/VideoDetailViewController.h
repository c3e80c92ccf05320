#pragma once
// A video's page: the description fetched from the video detail address (a plain request, no
// envelope), the picture, title, time and count; a tap on the picture opens the video's link
// outside the app. The link exists only once the reply arrived, and a link that is not a valid
// address opens nothing.
//
// Main thread only.

#include <optional>
#include <string>

#include "foundation/NSURL.h"
#include "uikit/UIButton.h"
#include "uikit/UIImageView.h"
#include "uikit/UILabel.h"
#include "uikit/UITapGestureRecognizer.h"
#include "uikit/UITextView.h"
#include "uikit/UIViewController.h"

class VideoDetailViewController : public UIViewController {
  public:
    std::string className() const override { return "VideoDetailViewController"; }

    Ref<NSURL> videoURL;
    std::optional<std::string> picUrl;
    std::optional<std::string> videoTitle;
    std::optional<std::string> videoTime;
    std::optional<std::string> video_link;

    Weak<UILabel> titleLabel;
    Weak<UILabel> timeLabel;
    Weak<UILabel> viewLabel;
    Weak<UIImageView> imageView;
    Weak<UITextView> descTextView;
    Weak<UIButton> bofangButton;
    Ref<UITapGestureRecognizer> gestureRecognizer;

    // The detail address of a video id, from the configured format.
    static Ref<NSURL> detailURLForVideoId(long videoId);

    void viewDidLoad() override;
    UIStatusBarStyle preferredStatusBarStyle() const override { return UIStatusBarStyleLightContent; }
    bool shouldAutorotate() const override { return false; }
    // True when a link was handed to the system.
    bool openVideo();
    void back(const Ref<NSObject>& sender);

    // The reply's body, as the request's completion hands it over.
    void showDetail(const NSData& data);
};

class QVNVideo;

// What the video list and the search hand the page of a chosen video: its picture, time and title,
// and its detail address.
void handOverVideo(VideoDetailViewController& detail, const QVNVideo& video);
