#include "uikit/UICollectionViewFlowLayout.h"

#include "foundation/NSMainThreadCheck.h"
#include <algorithm>

namespace {

// Positions along a line (u) and across lines (v), turned into the view's axes.
struct Axes {
    bool vertical;
    CGRect rect(CGFloat u, CGFloat v, CGFloat du, CGFloat dv) const {
        return vertical ? CGRectMake(u, v, du, dv) : CGRectMake(v, u, dv, du);
    }
    CGFloat along(CGSize s) const { return vertical ? s.width : s.height; }
    CGFloat across(CGSize s) const { return vertical ? s.height : s.width; }
    CGFloat alongStart(UIEdgeInsets i) const { return vertical ? i.left : i.top; }
    CGFloat alongEnd(UIEdgeInsets i) const { return vertical ? i.right : i.bottom; }
    CGFloat acrossStart(UIEdgeInsets i) const { return vertical ? i.top : i.left; }
    CGFloat acrossEnd(UIEdgeInsets i) const { return vertical ? i.bottom : i.right; }
};

}  // namespace

void UICollectionViewFlowLayout::setItemSize(CGSize size) {
    NS_ASSERT_MAIN_THREAD();
    itemSize_ = size;
    invalidateLayout();
}

void UICollectionViewFlowLayout::setMinimumLineSpacing(CGFloat spacing) {
    NS_ASSERT_MAIN_THREAD();
    minimumLineSpacing_ = spacing;
    invalidateLayout();
}

void UICollectionViewFlowLayout::setMinimumInteritemSpacing(CGFloat spacing) {
    NS_ASSERT_MAIN_THREAD();
    minimumInteritemSpacing_ = spacing;
    invalidateLayout();
}

void UICollectionViewFlowLayout::setSectionInset(UIEdgeInsets inset) {
    NS_ASSERT_MAIN_THREAD();
    sectionInset_ = inset;
    invalidateLayout();
}

void UICollectionViewFlowLayout::setHeaderReferenceSize(CGSize size) {
    NS_ASSERT_MAIN_THREAD();
    headerReferenceSize_ = size;
    invalidateLayout();
}

void UICollectionViewFlowLayout::setFooterReferenceSize(CGSize size) {
    NS_ASSERT_MAIN_THREAD();
    footerReferenceSize_ = size;
    invalidateLayout();
}

void UICollectionViewFlowLayout::setScrollDirection(UICollectionViewScrollDirection direction) {
    NS_ASSERT_MAIN_THREAD();
    scrollDirection_ = direction;
    invalidateLayout();
}

void UICollectionViewFlowLayout::prepareLayout() {
    UICollectionViewLayout::prepareLayout();
    items_.clear();
    headers_.clear();
    footers_.clear();
    contentSize_ = CGSizeZero;
    auto cv = collectionView();
    if (!cv) return;
    const Axes axes{scrollDirection_ == UICollectionViewScrollDirectionVertical};
    auto fd = std::dynamic_pointer_cast<UICollectionViewDelegateFlowLayout>(cv->delegate());
    const CGRect b = cv->bounds();
    preparedBoundsSize_ = b.size;
    const UIEdgeInsets contentInset = cv->contentInset();
    const CGFloat fullAlong =
        std::max<CGFloat>(0, axes.along(b.size) - (axes.vertical ? contentInset.left + contentInset.right
                                                                 : contentInset.top + contentInset.bottom));
    const long sections = cv->numberOfSections();
    items_.resize(std::size_t(sections));
    headers_.resize(std::size_t(sections));
    footers_.resize(std::size_t(sections));
    CGFloat v = 0;
    for (long s = 0; s < sections; ++s) {
        std::optional<UIEdgeInsets> insetAnswer;
        std::optional<CGFloat> lineAnswer, interAnswer;
        std::optional<CGSize> headerAnswer, footerAnswer;
        if (fd) {
            insetAnswer = fd->collectionViewLayoutInsetForSectionAtIndex(*cv, *this, s);
            lineAnswer = fd->collectionViewLayoutMinimumLineSpacingForSectionAtIndex(*cv, *this, s);
            interAnswer = fd->collectionViewLayoutMinimumInteritemSpacingForSectionAtIndex(*cv, *this, s);
            headerAnswer = fd->collectionViewLayoutReferenceSizeForHeaderInSection(*cv, *this, s);
            footerAnswer = fd->collectionViewLayoutReferenceSizeForFooterInSection(*cv, *this, s);
        }
        const UIEdgeInsets inset = insetAnswer.value_or(sectionInset_);
        const CGFloat lineSpacing = lineAnswer.value_or(minimumLineSpacing_);
        const CGFloat interSpacing = interAnswer.value_or(minimumInteritemSpacing_);
        const CGFloat headerExtent = axes.across(headerAnswer.value_or(headerReferenceSize_));
        const CGFloat footerExtent = axes.across(footerAnswer.value_or(footerReferenceSize_));
        const auto sectionPath = NSIndexPath::indexPathForItem(0, s);

        if (headerExtent > 0) {
            auto header = layoutAttributesForSupplementary(UICollectionElementKindSectionHeader, sectionPath);
            header->setFrame(axes.rect(0, v, fullAlong, headerExtent));
            headers_[std::size_t(s)] = header;
            v += headerExtent;
        }
        v += axes.acrossStart(inset);

        const long count = cv->numberOfItemsInSection(s);
        const CGFloat available =
            std::max<CGFloat>(0, fullAlong - axes.alongStart(inset) - axes.alongEnd(inset));
        std::vector<CGSize> sizes(static_cast<std::size_t>(count));
        for (long i = 0; i < count; ++i) {
            std::optional<CGSize> size;
            if (fd)
                size = fd->collectionViewLayoutSizeForItemAtIndexPath(*cv, *this,
                                                                      NSIndexPath::indexPathForItem(i, s));
            sizes[std::size_t(i)] = size.value_or(itemSize_);
        }
        // Pack the lines.
        std::vector<std::vector<long>> lines;
        CGFloat used = 0;
        for (long i = 0; i < count; ++i) {
            const CGFloat along = axes.along(sizes[std::size_t(i)]);
            if (lines.empty() || used + interSpacing + along > available + 1e-9) {
                lines.push_back({i});
                used = along;
            } else {
                lines.back().push_back(i);
                used += interSpacing + along;
            }
        }
        auto& sectionItems = items_[std::size_t(s)];
        sectionItems.resize(std::size_t(count));
        std::optional<CGFloat> previousGap;
        for (std::size_t li = 0; li < lines.size(); ++li) {
            const auto& line = lines[li];
            CGFloat total = 0, thickness = 0;
            for (long i : line) {
                total += axes.along(sizes[std::size_t(i)]);
                thickness = std::max(thickness, axes.across(sizes[std::size_t(i)]));
            }
            const bool last = li + 1 == lines.size();
            CGFloat start = axes.alongStart(inset), gap = 0;
            if (last && li > 0 && previousGap) {
                gap = *previousGap;
            } else if (line.size() == 1) {
                start += (available - total) / 2;
            } else {
                gap = (available - total) / CGFloat(line.size() - 1);
            }
            if (line.size() > 1) previousGap = gap;
            CGFloat u = start;
            for (long i : line) {
                const CGSize size = sizes[std::size_t(i)];
                auto a = layoutAttributesForCell(NSIndexPath::indexPathForItem(i, s));
                a->setFrame(axes.rect(u, v + (thickness - axes.across(size)) / 2, axes.along(size),
                                      axes.across(size)));
                sectionItems[std::size_t(i)] = a;
                u += axes.along(size) + gap;
            }
            v += thickness;
            if (!last) v += lineSpacing;
        }
        v += axes.acrossEnd(inset);
        if (footerExtent > 0) {
            auto footer = layoutAttributesForSupplementary(UICollectionElementKindSectionFooter, sectionPath);
            footer->setFrame(axes.rect(0, v, fullAlong, footerExtent));
            footers_[std::size_t(s)] = footer;
            v += footerExtent;
        }
    }
    contentSize_ = axes.vertical ? CGSizeMake(fullAlong, v) : CGSizeMake(v, fullAlong);
}

std::vector<Ref<UICollectionViewLayoutAttributes>>
UICollectionViewFlowLayout::layoutAttributesForElementsInRect(CGRect rect) {
    std::vector<Ref<UICollectionViewLayoutAttributes>> result;
    for (std::size_t s = 0; s < items_.size(); ++s) {
        if (headers_[s] && CGRectIntersectsRect(headers_[s]->frame(), rect)) result.push_back(headers_[s]);
        for (const auto& a : items_[s]) {
            if (a && CGRectIntersectsRect(a->frame(), rect)) result.push_back(a);
        }
        if (footers_[s] && CGRectIntersectsRect(footers_[s]->frame(), rect)) result.push_back(footers_[s]);
    }
    return result;
}

Ref<UICollectionViewLayoutAttributes>
UICollectionViewFlowLayout::layoutAttributesForItemAtIndexPath(const Ref<NSIndexPath>& indexPath) {
    if (!indexPath || indexPath->length() < 2) return nullptr;
    const auto s = std::size_t(indexPath->section()), i = std::size_t(indexPath->item());
    if (s >= items_.size() || i >= items_[s].size()) return nullptr;
    return items_[s][i];
}

Ref<UICollectionViewLayoutAttributes>
UICollectionViewFlowLayout::layoutAttributesForSupplementaryViewOfKind(const std::string& kind,
                                                                       const Ref<NSIndexPath>& indexPath) {
    if (!indexPath || indexPath->length() < 1) return nullptr;
    const auto s = std::size_t(indexPath->section());
    if (kind == UICollectionElementKindSectionHeader && s < headers_.size()) return headers_[s];
    if (kind == UICollectionElementKindSectionFooter && s < footers_.size()) return footers_[s];
    return nullptr;
}

bool UICollectionViewFlowLayout::shouldInvalidateLayoutForBoundsChange(CGRect newBounds) {
    return scrollDirection_ == UICollectionViewScrollDirectionVertical
               ? newBounds.size.width != preparedBoundsSize_.width
               : newBounds.size.height != preparedBoundsSize_.height;
}
