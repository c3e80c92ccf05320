#include "app/NSDictionary+Log.h"

#include "foundation/ValueDescriptionHook.h"

#include <algorithm>
#include <vector>

namespace {

// The containers being printed on this thread, outermost first: a container that holds itself
// prints "..." where it recurs instead of recursing without end.
constexpr std::size_t kMaxLogNesting = 256;
thread_local std::vector<const void*> printing;

std::string dictionaryForm(const Dictionary& dictionary) {
    std::string text = "{\n";
    for (const auto& [key, value] : dictionary) {
        text += "\t";
        text += key;
        text += " : ";
        text += detail::logDescription(value);
        text += ",\n";
    }
    text += "}";
    return detail::deletingLastComma(std::move(text));
}

std::string arrayForm(const Array& array) {
    std::string text = "[\n";
    for (const Value& element : array) {
        text += "\t";
        text += detail::logDescription(element);
        text += ",\n";
    }
    text += "]";
    return detail::deletingLastComma(std::move(text));
}

}  // namespace

namespace detail {

std::string logDescription(const Value& value) {
    if (!value.isDictionary() && !value.isArray()) return value.description();
    const void* identity = value.isDictionary() ? value.dictionary()->identity() : value.array()->identity();
    if (printing.size() >= kMaxLogNesting ||
        std::find(printing.begin(), printing.end(), identity) != printing.end()) {
        return "...";
    }
    printing.push_back(identity);
    struct Pop {
        ~Pop() { printing.pop_back(); }
    } pop;
    if (const Dictionary* dictionary = value.dictionary()) return dictionaryForm(*dictionary);
    return arrayForm(*value.array());
}

std::string deletingLastComma(std::string text) {
    std::size_t comma = text.rfind(',');
    if (comma != std::string::npos) text.erase(comma, 1);
    return text;
}

}  // namespace detail

namespace NSDictionary_Log {

std::string descriptionWithLocale(const Dictionary& dictionary, const Value&) {
    return detail::logDescription(Value(dictionary));
}

void install() {
    ValueDescriptionHook::setContainerDescriber(&detail::logDescription);
}

}  // namespace NSDictionary_Log
