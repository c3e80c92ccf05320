#pragma once
// The style every page starts from, before its own <style> and linked stylesheets: which
// elements are blocks, list items, table parts or hidden, the margins of blocks and headings,
// the faces of emphasis, code and links. The engine has none of its own.

namespace detail {
const char* webDefaultStyleSheet();
}  // namespace detail
