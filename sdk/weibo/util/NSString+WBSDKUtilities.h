#pragma once
// The Weibo SDK's string categories: the post-length rule, pinyin initials, range replacement
// and trimming. Counts and ranges are in UTF-16 units, as the platform's strings count.

#include <cstdint>
#include <optional>
#include <string>

#include "foundation/NSRange.h"

namespace NSString_WBSDK_CountWord {
// ASCII characters and blanks count a half each (rounded up over the whole text), every other
// unit one; a text of only blanks counts 0. A post counting 141 or more is refused.
std::int32_t wb_wordCount(const std::string& text);
}  // namespace NSString_WBSDK_CountWord

namespace NSString_WBSDKPinyin {
// The pinyin initial of a CJK ideograph (U+4E00-U+9FA5) in lower case; otherwise a letter's
// lower case, or "#". Nil for the empty string.
std::optional<std::string> wbsdk_firstPinyinLetter(const std::string& text);
// One character per character: an ideograph's pinyin initial, an upper-case letter in lower
// case, anything else as it is. Nil for the empty string.
std::optional<std::string> wbsdk_firstPinyinLettersOfEachWord(const std::string& text);
// The initial of one ideograph of the table's range, or 0 outside it.
char wbsdk_pinyinInitial(char32_t ideograph);
}  // namespace NSString_WBSDKPinyin

namespace NSString_WBSDKNSStringUtils {
// The units before the range, the replacement, the units after it. A range reaching past the
// end is cut to the text.
std::string wbsdk_stringByReplacingRange(const std::string& text, NSRange range,
                                         const std::string& replacement);
}  // namespace NSString_WBSDKNSStringUtils

namespace NSString_WBNSStringUtils {
using NSString_WBSDKNSStringUtils::wbsdk_stringByReplacingRange;
// Without white space and line ends at either end.
std::string wbsdk_trimmedString(const std::string& text);
}  // namespace NSString_WBNSStringUtils
