#pragma once
// Rules every text-entry and text-showing screen of the app shares.

#include <string>

namespace QVNTextRules {

// The code-point test that refuses emoji, walked per composed character sequence: a surrogate pair
// in U+1D000...U+1F77F, a keycap sequence (second unit U+20E3), or one of the single units of the
// symbol ranges (U+2100...U+27FF, arrows, ©, ®...). A lone high surrogate is not emoji.
bool stringContainsEmoji(const std::string& text);
// &, <, >, " and ' as entities, for server text placed into an HTML page.
std::string escapeHTML(const std::string& text);

}  // namespace QVNTextRules
