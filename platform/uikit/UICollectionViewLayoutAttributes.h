#pragma once
// Where a layout puts one element of a collection view: a cell, a supplementary view (a section
// header or footer) or a decoration, with its frame, transparency, stacking and transform.
//
// Setting the frame sets center and size (and the other way round). copyObject copies every
// field; subclasses that add fields override it. The class factories make the receiving class
// when called on a subclass:
// UICollectionViewLayoutAttributes::layoutAttributesForCellWithIndexPath<Sub>(path).

#include <optional>
#include <string>

#include "foundation/NSIndexPath.h"
#include "graphics/CGGeometry.h"

enum UICollectionElementCategory : unsigned long {
    UICollectionElementCategoryCell = 0,
    UICollectionElementCategorySupplementaryView = 1,
    UICollectionElementCategoryDecorationView = 2,
};

inline const std::string UICollectionElementKindSectionHeader = "UICollectionElementKindSectionHeader";
inline const std::string UICollectionElementKindSectionFooter = "UICollectionElementKindSectionFooter";

class UICollectionViewLayoutAttributes : public NSObject {
  public:
    UICollectionViewLayoutAttributes() = default;
    std::string className() const override { return "UICollectionViewLayoutAttributes"; }

    template <class T = UICollectionViewLayoutAttributes>
    static Ref<T> layoutAttributesForCellWithIndexPath(const Ref<NSIndexPath>& indexPath) {
        auto attributes = make<T>();
        attributes->setIndexPath(indexPath);
        return attributes;
    }
    template <class T = UICollectionViewLayoutAttributes>
    static Ref<T> layoutAttributesForSupplementaryViewOfKind(const std::string& kind,
                                                             const Ref<NSIndexPath>& indexPath) {
        auto attributes = make<T>();
        attributes->setIndexPath(indexPath);
        attributes->setElement(UICollectionElementCategorySupplementaryView, kind);
        return attributes;
    }
    template <class T = UICollectionViewLayoutAttributes>
    static Ref<T> layoutAttributesForDecorationViewOfKind(const std::string& kind,
                                                          const Ref<NSIndexPath>& indexPath) {
        auto attributes = make<T>();
        attributes->setIndexPath(indexPath);
        attributes->setElement(UICollectionElementCategoryDecorationView, kind);
        return attributes;
    }

    const Ref<NSIndexPath>& indexPath() const { return indexPath_; }
    void setIndexPath(const Ref<NSIndexPath>& path) { indexPath_ = path; }
    CGRect frame() const { return frame_; }
    void setFrame(CGRect frame) { frame_ = frame; }
    CGPoint center() const { return {CGRectGetMidX(frame_), CGRectGetMidY(frame_)}; }
    void setCenter(CGPoint center);
    CGSize size() const { return frame_.size; }
    void setSize(CGSize size);
    CGRect bounds() const { return {{0, 0}, frame_.size}; }
    const CATransform3D& transform3D() const { return transform3D_; }
    void setTransform3D(const CATransform3D& transform) { transform3D_ = transform; }
    CGFloat alpha() const { return alpha_; }
    void setAlpha(CGFloat alpha) { alpha_ = alpha; }
    long zIndex() const { return zIndex_; }
    void setZIndex(long index) { zIndex_ = index; }
    bool isHidden() const { return hidden_; }
    void setHidden(bool hidden) { hidden_ = hidden; }
    UICollectionElementCategory representedElementCategory() const { return category_; }
    // nullopt for cells.
    const std::optional<std::string>& representedElementKind() const { return kind_; }
    void setElement(UICollectionElementCategory category, std::optional<std::string> kind) {
        category_ = category;
        kind_ = std::move(kind);
    }

    Ref<NSObject> copyObject() const override;
    // Copies every field of `other` into this object (for subclasses' copyObject).
    void copyFieldsFrom(const UICollectionViewLayoutAttributes& other);
    bool isEqual(const NSObject& other) const override;
    std::string description() const override;

  private:
    Ref<NSIndexPath> indexPath_;
    CGRect frame_{};
    CATransform3D transform3D_ = CATransform3DIdentity;
    CGFloat alpha_ = 1;
    long zIndex_ = 0;
    bool hidden_ = false;
    UICollectionElementCategory category_ = UICollectionElementCategoryCell;
    std::optional<std::string> kind_;
};
