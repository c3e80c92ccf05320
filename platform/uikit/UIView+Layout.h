#pragma once
// The layout engine behind NSLayoutConstraint.
//
// On every layout pass of a view (UIView's layout-engine hook) the constraints installed anywhere
// in the view's tree are gathered and solved together, incrementally (detail::ConstraintSolver):
//
// - Each view or layout guide that a constraint names gets four variables (left, top, width,
//   height) in the tree root's space. A view's position counts from its superview's frame origin
//   (a scroll view's offset does not shift the constraints of its subviews: they describe its
//   content).
// - A named view whose translatesAutoresizingMaskIntoConstraints is on is held, by required
//   constraints, where its frame and autoresizing mask put it relative to its superview (so a
//   constrained superview that grows carries it along as autoresizing would). The tree's root
//   keeps its size.
// - A named view with the flag off gets its frame from the solution, through its bounds and
//   centre (a transform survives); its intrinsic content size takes part with its hugging and
//   compression-resistance priorities.
// - Views no constraint names are never touched: pure frame layouts stay as they are.
// - Position attributes with a multiplier other than 1 count in the space of the view holding the
//   constraint; without a second item they count in the item's superview space.
// - Margin attributes use margins of 8 points; baselines are taken as the bottom (last) and top
//   (first) edges.
// - Required constraints that cannot hold together are logged once, and the later one (in tree
//   order, then installation order) is left out until the conflict goes.
//
// systemLayoutSizeFittingSize solves the view's own subtree with the view's size free: its width
// and height are pulled towards the target at the fitting priorities (UILayoutFittingCompressedSize
// asks for the smallest size the constraints allow), so a temporary width constraint on a cell's
// content view gives the height its content needs at that width. A view that measures itself sets a
// fitting measurer: it is asked with the width the constraints give and the target height.
//
// Main thread only, like views.

#include <functional>

#include "graphics/CGGeometry.h"
#include "uikit/UIView.h"

namespace UIView_Layout {

using FittingMeasurer = std::function<CGSize(UIView& view, CGSize proposedSize)>;
// Replaces (or, with an empty function, removes) the view's measurer.
void setFittingMeasurer(const Ref<UIView>& view, FittingMeasurer measurer);

// How many required constraints were left out of the last solution of the view's tree.
std::size_t conflictingConstraintCount(const Ref<UIView>& view);

}  // namespace UIView_Layout
