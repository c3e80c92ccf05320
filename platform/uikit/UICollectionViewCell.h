#pragma once
// The views a collection view shows: reusable views (section headers and footers) and cells.
//
// A cell has a content view (its own views go there, from construction on), an optional
// background view, and a selected background view shown while it is selected or highlighted.
// The collection view places each view by its layout attributes (the frame, alpha, hidden),
// then calls applyLayoutAttributes; it calls prepareForReuse before it hands a queued view out
// again; nib factories call awakeFromNib. Main thread only.

#include <optional>
#include <string>

#include "uikit/UICollectionViewLayoutAttributes.h"
#include "uikit/UIView.h"

class UICollectionReusableView : public UIView {
  public:
    UICollectionReusableView() : UICollectionReusableView(CGRectZero) {}
    explicit UICollectionReusableView(CGRect frame) : UIView(frame) {}
    std::string className() const override { return "UICollectionReusableView"; }

    const std::optional<std::string>& reuseIdentifier() const { return reuseIdentifier_; }
    // Set by the collection view on the views it makes from a registration (and by nib factories).
    void setReuseIdentifier(std::optional<std::string> identifier) {
        reuseIdentifier_ = std::move(identifier);
    }

    virtual void prepareForReuse() {}
    virtual void applyLayoutAttributes(const Ref<UICollectionViewLayoutAttributes>& attributes) {}
    virtual void awakeFromNib() {}

  private:
    std::optional<std::string> reuseIdentifier_;
};

class UICollectionViewCell : public UICollectionReusableView {
  public:
    UICollectionViewCell() : UICollectionViewCell(CGRectZero) {}
    explicit UICollectionViewCell(CGRect frame);
    std::string className() const override { return "UICollectionViewCell"; }

    const Ref<UIView>& contentView() const { return contentView_; }
    const Ref<UIView>& backgroundView() const { return backgroundView_; }
    void setBackgroundView(const Ref<UIView>& view);
    const Ref<UIView>& selectedBackgroundView() const { return selectedBackgroundView_; }
    void setSelectedBackgroundView(const Ref<UIView>& view);

    bool isSelected() const { return selected_; }
    virtual void setSelected(bool selected);
    bool isHighlighted() const { return highlighted_; }
    virtual void setHighlighted(bool highlighted);

    // Clears selection and highlight.
    void prepareForReuse() override;
    void layoutSubviews() override;

  private:
    void updateSelectionAppearance();

    Ref<UIView> contentView_;
    Ref<UIView> backgroundView_;
    Ref<UIView> selectedBackgroundView_;
    bool selected_ = false;
    bool highlighted_ = false;
};
