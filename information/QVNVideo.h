#pragma once
// QVNVideo: one video of the video tab, and its list call: GET video/getvideolist.do through the
// shared client's own GET (the envelope is checked here: only "resultCode" 0 succeeds; anything
// else is the "QVNAPI" error 10000 with the server's "errmsg"), video_id (0: first page, else the
// last one held), video_category 0. Main thread only.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "foundation/NSError.h"
#include "foundation/NSObject.h"
#include "foundation/Value.h"

class QVNVideo : public NSObject {
  public:
    using List = std::vector<Ref<QVNVideo>>;
    using Block = std::function<void(const Ref<NSError>& error, const std::optional<List>& videos)>;

    std::string className() const override { return "QVNVideo"; }
    QVNVideo() = default;
    // initWithAttributes: one row of the list ("video_id" into identifier). Values of the wrong
    // kind are left out.
    explicit QVNVideo(const Value& attributes);

    const std::optional<NSNumber>& identifier() const { return identifier_; }
    const std::optional<std::string>& video_title() const { return video_title_; }
    const std::optional<NSNumber>& video_category() const { return video_category_; }
    const std::optional<std::string>& video_time() const { return video_time_; }
    const std::optional<std::string>& video_pic() const { return video_pic_; }
    const std::optional<NSNumber>& video_status() const { return video_status_; }
    const std::optional<NSNumber>& video_view() const { return video_view_; }

    static void fetchVideoListIndex(const NSNumber& index, Block block);

  private:
    std::optional<NSNumber> identifier_;
    std::optional<std::string> video_title_;
    std::optional<NSNumber> video_category_;
    std::optional<std::string> video_time_;
    std::optional<std::string> video_pic_;
    std::optional<NSNumber> video_status_;
    std::optional<NSNumber> video_view_;
};
