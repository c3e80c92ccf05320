#pragma once
// MaskImgModel: one watermark of the camera's lists, as the watermark list gives it; MaskImgCell:
// the strip cell that shows its picture.
//
// The list is fetched from its own absolute address (QVNConfiguration::watermarkURL), on the API
// server's bare domain in production; the API client sends an absolute URL unchanged.
// Main thread, as the API client's callbacks.

#include <functional>
#include <optional>
#include <string>

#include "app/RMRecord.h"
#include "foundation/NSError.h"
#include "foundation/Value.h"
#include "uikit/UIImageView.h"
#include "uikit/UITableView.h"
#include "uikit/UITableViewCell.h"

class MaskImgModel : public NSObject {
    RM_RECORD(MaskImgModel, NSObject)
    std::optional<std::string> pic;  // the picture's URL
    std::int64_t type = 0;           // 1 front view, 2 side view
    std::int64_t wid = 0;            // the watermark's id (carried, not read)

    // (models, nil) on success, (nil, error) when the server refused or could not be reached.
    using Completion = std::function<void(const std::optional<Array>& models, const Ref<NSError>& error)>;

    // GET the watermark list with the one parameter "type" (1 or 2).
    static void getMarkImgWithType(const Value& type, Completion completion);
    // The watermarks of a list reply's "data" (an empty array when it holds none); rows that are
    // not objects, and fields of the wrong kind, are left out.
    static Array modelsWithReply(const Value& reply);
};

class MaskImgCell : public UITableViewCell {
  public:
    static constexpr char kIdentifier[] = "MaskImgCellIdentify";
    static constexpr char kNibName[] = "MaskImgCell";

    MaskImgCell(UITableViewCellStyle style, const std::optional<std::string>& reuseIdentifier);
    std::string className() const override { return "MaskImgCell"; }

    // A free cell of the table, else a new one from the "MaskImgCell" nib (its last top-level
    // object).
    static Ref<MaskImgCell> cellWithTableView(const Ref<UITableView>& tableView);

    // The thumbnail view, the content view's first subview (the nib connects it).
    Weak<UIImageView> maskImageView;
    // How far the frame drawn around a thumbnail reaches out from the thumbnail view: the frame's
    // stroke (6.3 points at the cell's size) lies beside the picture, never over a sticker's ends.
    static constexpr CGFloat kFrameOutset = 7;

    const Ref<MaskImgModel>& maskImgModel() const { return maskImgModel_; }
    // Stores the model and loads its picture into the thumbnail view (no placeholder).
    void setMaskImgModel(const Ref<MaskImgModel>& model);

  private:
    Ref<MaskImgModel> maskImgModel_;
};
