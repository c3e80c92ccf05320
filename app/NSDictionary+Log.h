#pragma once
// NSDictionary(Log) and NSArray(Log): readable log forms of containers, with Chinese text left
// as it is. A dictionary prints as
//
//     {
//     	key : value,
//     	key : value
//     }
//
// (a tab before each entry; the last "," of the whole text is deleted, so the last entry ends in
// a newline only), an array the same way between "[" and "]". Keys, values and elements print
// as with "%@": strings bare, numbers in decimal, nested containers in this same form.
//
// install() puts this form behind description() and "%@" of every dictionary and array in the
// process (both categories' override), through the containers' description hook.

#include <string>

#include "foundation/Value.h"

namespace NSDictionary_Log {

std::string descriptionWithLocale(const Dictionary& dictionary, const Value& locale = Value());
// Idempotent; meant for start-up, before other threads run.
void install();

}  // namespace NSDictionary_Log

namespace detail {
// The "%@" text of any value, containers in the log form.
std::string logDescription(const Value& value);
// Deletes the last "," of the text, if there is one.
std::string deletingLastComma(std::string text);
}  // namespace detail
