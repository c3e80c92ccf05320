#pragma once
// The per-view registry of running picture loads: named slots, each holding one load handle or
// a list of them, attached to the view and gone with it. Starting a load for a slot cancels the
// slot's earlier load, which is how a reused cell only ever shows its latest picture.
// Main thread only, like the views.

#include <string>
#include <vector>

#include "images/WIWebImageOperation.h"
#include "uikit/UIView.h"

namespace UIView_WebCacheOperation {
// Cancels the slot, then keeps the handle (or the handles) there.
void wi_setImageLoadOperation(UIView& view, const Ref<WIWebImageOperation>& operation,
                              const std::string& key);
void wi_setImageLoadOperations(UIView& view, const std::vector<Ref<WIWebImageOperation>>& operations,
                               const std::string& key);
// Cancels whatever the slot holds and empties it.
void wi_cancelImageLoadOperationWithKey(UIView& view, const std::string& key);
// Empties the slot without cancelling.
void wi_removeImageLoadOperationWithKey(UIView& view, const std::string& key);
// What the slot holds (empty when nothing), for tests.
std::vector<Ref<WIWebImageOperation>> wi_imageLoadOperationsForKey(UIView& view, const std::string& key);
}  // namespace UIView_WebCacheOperation
