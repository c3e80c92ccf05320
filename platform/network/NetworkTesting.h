#pragma once
// How tests drive the URL loading layer. Nothing here is part of the product; product code never
// calls it.

#include <cstddef>
#include <optional>

namespace network_testing {

// Lowers (or restores, with nullopt) the bound on a body held in memory, so tests need not send
// 128 MiB.
void setMaximumInMemoryBodyLength(std::optional<std::size_t> length);

// Lowers (or restores, with nullopt) the undelivered bytes past which a transfer pauses.
void setFlowControlBound(std::optional<std::size_t> bytes);
// The most body bytes any transfer had handed over and not yet seen taken by its consumer, since
// the last reset.
std::size_t largestUndeliveredBytes();
void resetLargestUndeliveredBytes();

}  // namespace network_testing
