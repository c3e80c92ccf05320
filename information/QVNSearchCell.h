#pragma once
// A search result row (the nib "SearchCell", reuse identifier "search"): a picture, the title in a
// text view, the time and a count under the word for comments. It shows a news item, a video or
// a question; each setter keeps its item and fills the row.
//
// Main thread only.

#include <string>

#include "information/QVNNews.h"
#include "information/QVNSearch.h"
#include "information/QVNVideo.h"
#include "uikit/UIImageView.h"
#include "uikit/UILabel.h"
#include "uikit/UITableView.h"
#include "uikit/UITableViewCell.h"
#include "uikit/UITextView.h"

class QVNSearchCell : public UITableViewCell {
  public:
    static constexpr char kIdentifier[] = "search";
    static constexpr char kNibName[] = "SearchCell";

    QVNSearchCell(UITableViewCellStyle style, std::optional<std::string> reuseIdentifier);
    std::string className() const override { return "QVNSearchCell"; }

    // A queued "search" cell of the table, else the nib's last object.
    static Ref<QVNSearchCell> cellWithTableView(UITableView& tableView);
    static void registerNib();

    // Outlets.
    Weak<UIImageView> newsIcon;
    Weak<UITextView> descTextView;
    Weak<UILabel> timeLabel;
    Weak<UILabel> commentLabel;

    // The news item shown (a QVNNews or a QVNSeachResult).
    const Ref<NSObject>& result() const { return result_; }
    void setResult(const Ref<QVNNews>& news);
    void setResult(const Ref<QVNSeachResult>& result);
    const Ref<QVNVideo>& video() const { return video_; }
    void setVideo(const Ref<QVNVideo>& video);
    const Ref<detail::search::QuestionRow>& question() const { return question_; }
    void setQuestion(const Ref<detail::search::QuestionRow>& question);

  private:
    void fill(const std::optional<std::string>& icon, const std::optional<std::string>& text,
              const std::optional<std::string>& time, const std::optional<std::string>& count);

    Ref<NSObject> result_;
    Ref<QVNVideo> video_;
    Ref<detail::search::QuestionRow> question_;
};
