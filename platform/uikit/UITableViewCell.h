#pragma once
// Table cells: the views a table shows for its rows, reused as rows scroll in and out of view.
//
// Anatomy, back to front: backgroundView, selectedBackgroundView (shown while selected or
// highlighted, unless the selection style is None), contentView (where the cell's own views go),
// the accessory (accessoryView, or the built-in glyph of accessoryType) and the separator line
// the table asks for. The content view spans the cell's width minus the accessory's width and
// its height minus the separator's.
//
// Accessory widths (the room the accessory takes at the right): 0, 34, 68, 40 and 48 points for
// the types None, DisclosureIndicator, DetailDisclosureButton, Checkmark and DetailButton; an
// accessoryView takes its own width + 16 (it sits 8 points from each side of its room) and wins
// over the type.
//
// Styles lay out imageView, textLabel and detailTextLabel (each made on first use; the Default
// style has no detailTextLabel and answers nullptr):
//   Default: image at the left (x 15), text after it (15 points after the image), vertically
//     centred, filling the rest of the width less 15;
//   Value1: text at the left, detail right-aligned at the right edge;
//   Value2: text right-aligned in a 67-point column at the left, detail after it;
//   Subtitle: text above detail, the pair vertically centred.
// Labels without text are not laid out (they keep their frames) and the image view only when it
// has an image.
//
// The content view exists from construction on, so subclasses build their views into it in their
// constructors (as initWithStyle:reuseIdentifier: overrides do). The cell's layer is therefore a
// plain CALayer: a cell subclass cannot change its layer class.
//
// Reuse: the table calls prepareForReuse on a cell it hands out again from its reuse queue; nib
// factories call awakeFromNib when they have connected the cell's outlets. A cell's height comes
// from its table, which sets its frame. Main thread only.

#include <optional>
#include <string>

#include "uikit/UIImageView.h"
#include "uikit/UILabel.h"
#include "uikit/UIView.h"

class UITableView;

enum UITableViewCellStyle : long {
    UITableViewCellStyleDefault = 0,
    UITableViewCellStyleValue1 = 1,
    UITableViewCellStyleValue2 = 2,
    UITableViewCellStyleSubtitle = 3,
};

enum UITableViewCellAccessoryType : long {
    UITableViewCellAccessoryNone = 0,
    UITableViewCellAccessoryDisclosureIndicator = 1,
    UITableViewCellAccessoryDetailDisclosureButton = 2,
    UITableViewCellAccessoryCheckmark = 3,
    UITableViewCellAccessoryDetailButton = 4,
};

enum UITableViewCellSelectionStyle : long {
    UITableViewCellSelectionStyleNone = 0,
    UITableViewCellSelectionStyleBlue = 1,
    UITableViewCellSelectionStyleGray = 2,
    UITableViewCellSelectionStyleDefault = 3,
};

enum UITableViewCellEditingStyle : long {
    UITableViewCellEditingStyleNone = 0,
    UITableViewCellEditingStyleDelete = 1,
    UITableViewCellEditingStyleInsert = 2,
};

enum UITableViewCellSeparatorStyle : long {
    UITableViewCellSeparatorStyleNone = 0,
    UITableViewCellSeparatorStyleSingleLine = 1,
    UITableViewCellSeparatorStyleSingleLineEtched = 2,
};

class UITableViewCell : public UIView {
  public:
    static constexpr CGFloat kDefaultWidth = 320;
    static constexpr CGFloat kDefaultHeight = 44;
    static constexpr CGFloat kMargin = 15;

    // initWithFrame: (Default style, no reuse identifier); the plain form is 320 x 44.
    UITableViewCell();
    explicit UITableViewCell(CGRect frame);
    // initWithStyle:reuseIdentifier:
    UITableViewCell(UITableViewCellStyle style, std::optional<std::string> reuseIdentifier);
    ~UITableViewCell() override;
    std::string className() const override { return "UITableViewCell"; }

    UITableViewCellStyle style() const { return style_; }
    const std::optional<std::string>& reuseIdentifier() const { return reuseIdentifier_; }
    // For nib factories and for the table, which names the cells it makes from a registration.
    void setReuseIdentifier(std::optional<std::string> identifier) {
        reuseIdentifier_ = std::move(identifier);
    }

    // ---- parts --------------------------------------------------------------------------------
    const Ref<UIView>& contentView() const { return contentView_; }
    Ref<UILabel> textLabel();
    // nullptr in the Default style.
    Ref<UILabel> detailTextLabel();
    Ref<UIImageView> imageView();
    // Without making them: what exists so far.
    const Ref<UILabel>& existingTextLabel() const { return textLabel_; }
    const Ref<UILabel>& existingDetailTextLabel() const { return detailTextLabel_; }
    const Ref<UIImageView>& existingImageView() const { return imageView_; }

    const Ref<UIView>& backgroundView() const { return backgroundView_; }
    void setBackgroundView(const Ref<UIView>& view);
    // A grey view is made on first use when the selection style shows selection.
    Ref<UIView> selectedBackgroundView();
    void setSelectedBackgroundView(const Ref<UIView>& view);
    const Ref<UIView>& multipleSelectionBackgroundView() const { return multipleSelectionBackgroundView_; }
    void setMultipleSelectionBackgroundView(const Ref<UIView>& view) {
        multipleSelectionBackgroundView_ = view;
    }

    // ---- accessory ----------------------------------------------------------------------------
    UITableViewCellAccessoryType accessoryType() const { return accessoryType_; }
    void setAccessoryType(UITableViewCellAccessoryType type);
    const Ref<UIView>& accessoryView() const { return accessoryView_; }
    void setAccessoryView(const Ref<UIView>& view);
    UITableViewCellAccessoryType editingAccessoryType() const { return editingAccessoryType_; }
    void setEditingAccessoryType(UITableViewCellAccessoryType type) { editingAccessoryType_ = type; }
    const Ref<UIView>& editingAccessoryView() const { return editingAccessoryView_; }
    void setEditingAccessoryView(const Ref<UIView>& view) { editingAccessoryView_ = view; }
    // The room a built-in accessory takes (0 for an unknown type).
    static CGFloat accessoryWidthForType(UITableViewCellAccessoryType type);
    // The room the current accessory takes: the accessory view's width + 16, else the type's.
    CGFloat accessoryWidth() const;
    // The view that shows the built-in accessory glyph (nullptr for None or with an accessoryView).
    const Ref<UIView>& accessoryGlyphView() const { return glyphView_; }

    // ---- selection ----------------------------------------------------------------------------
    UITableViewCellSelectionStyle selectionStyle() const { return selectionStyle_; }
    void setSelectionStyle(UITableViewCellSelectionStyle style);
    bool isSelected() const { return selected_; }
    void setSelected(bool selected) { setSelected(selected, false); }
    virtual void setSelected(bool selected, bool animated);
    bool isHighlighted() const { return highlighted_; }
    void setHighlighted(bool highlighted) { setHighlighted(highlighted, false); }
    virtual void setHighlighted(bool highlighted, bool animated);

    // ---- editing and insets -------------------------------------------------------------------
    bool isEditing() const { return editing_; }
    void setEditing(bool editing) { setEditing(editing, false); }
    virtual void setEditing(bool editing, bool animated);
    // Where the separator starts and ends; 15 points at the left by default.
    UIEdgeInsets separatorInset() const { return separatorInset_; }
    void setSeparatorInset(UIEdgeInsets inset);
    long indentationLevel() const { return indentationLevel_; }
    void setIndentationLevel(long level) { indentationLevel_ = level; }
    CGFloat indentationWidth() const { return indentationWidth_; }
    void setIndentationWidth(CGFloat width) { indentationWidth_ = width; }

    // ---- life cycle ---------------------------------------------------------------------------
    // Called by the table before it hands the cell out again; the base clears nothing the app
    // set (the platform resets only its own state: selection, highlight and editing).
    virtual void prepareForReuse();
    // Called by nib factories once the outlets are connected.
    virtual void awakeFromNib() {}

    void layoutSubviews() override;

    // ---- for the table ------------------------------------------------------------------------
    // The separator line the table wants at the bottom of the cell (height 0: none).
    void setTableSeparator(CGFloat height, const Ref<UIColor>& color, UIEdgeInsets tableInset);
    CGFloat separatorHeight() const { return separatorHeight_; }
    const Ref<UIView>& separatorView() const { return separatorView_; }
    // The content view's frame for the cell's current bounds.
    CGRect contentRectForBounds(CGRect bounds) const;

  private:
    void build(CGRect frame);
    void updateSelectionAppearance();
    void updateAccessory();
    void layoutStyle(CGRect content);

    UITableViewCellStyle style_ = UITableViewCellStyleDefault;
    std::optional<std::string> reuseIdentifier_;
    Ref<UIView> contentView_;
    Ref<UILabel> textLabel_;
    Ref<UILabel> detailTextLabel_;
    Ref<UIImageView> imageView_;
    Ref<UIView> backgroundView_;
    Ref<UIView> selectedBackgroundView_;
    Ref<UIView> multipleSelectionBackgroundView_;
    Ref<UIView> accessoryView_;
    Ref<UIView> editingAccessoryView_;
    Ref<UIView> glyphView_;
    Ref<UIView> separatorView_;
    UITableViewCellAccessoryType accessoryType_ = UITableViewCellAccessoryNone;
    UITableViewCellAccessoryType editingAccessoryType_ = UITableViewCellAccessoryNone;
    UITableViewCellSelectionStyle selectionStyle_ = UITableViewCellSelectionStyleDefault;
    UIEdgeInsets separatorInset_{0, kMargin, 0, 0};
    bool separatorInsetSet_ = false;
    UIEdgeInsets tableSeparatorInset_{0, kMargin, 0, 0};
    CGFloat separatorHeight_ = 0;
    long indentationLevel_ = 0;
    CGFloat indentationWidth_ = 10;
    bool selected_ = false;
    bool highlighted_ = false;
    bool editing_ = false;
};

// A section's header or footer: a reusable view with a text label (used for section titles).
class UITableViewHeaderFooterView : public UIView {
  public:
    UITableViewHeaderFooterView();
    explicit UITableViewHeaderFooterView(std::optional<std::string> reuseIdentifier);
    std::string className() const override { return "UITableViewHeaderFooterView"; }
    const std::optional<std::string>& reuseIdentifier() const { return reuseIdentifier_; }
    const Ref<UIView>& contentView() const { return contentView_; }
    Ref<UILabel> textLabel();
    Ref<UILabel> detailTextLabel();
    virtual void prepareForReuse() {}
    void layoutSubviews() override;

  private:
    std::optional<std::string> reuseIdentifier_;
    Ref<UIView> contentView_;
    Ref<UILabel> textLabel_;
    Ref<UILabel> detailTextLabel_;
};
