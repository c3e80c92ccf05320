#pragma once
// NSString(RMExtension): the string operations of the record layer. The case conversions serve
// ASCII identifiers (property names and JSON keys); other characters are case-mapped one code
// point at a time.

#include <string>
#include <string_view>

#include "foundation/NSURL.h"

namespace NSString_RMExtension {

// The text with every character not allowed in a URL percent-escaped as UTF-8 (the characters
// !$&'()*+,-./:;=?@_~%#[] stay as they are), parsed as a URL; nullptr when that is no URL.
Ref<NSURL> url(std::string_view string);
// userName -> user_name: each character lower-cased, preceded by "_" when that changed it.
std::string underlineFromCamel(std::string_view string);
// user_name -> userName: split at "_", later non-empty pieces capitalised, joined.
std::string camelFromUnderline(std::string_view string);
std::string firstCharLower(std::string_view string);
std::string firstCharUpper(std::string_view string);
// YES when the whole text scans as one integer.
bool isPureInt(std::string_view string);

}  // namespace NSString_RMExtension
