#include "foundation/NSCharacterSet.h"

#include <unicode/uniset.h>
#include <unicode/unistr.h>

#include <mutex>

#include "foundation/NSString.h"

namespace detail {
struct CharacterSetStorage {
    icu::UnicodeSet set;
};
}  // namespace detail

namespace {

using Storage = detail::CharacterSetStorage;

constexpr char32_t kMaxCodePoint = 0x10FFFF;

std::shared_ptr<const Storage> frozen(icu::UnicodeSet set) {
    auto storage = std::make_shared<Storage>();
    storage->set = std::move(set);
    storage->set.freeze();
    return storage;
}

std::shared_ptr<const Storage> fromPattern(const char16_t* pattern) {
    UErrorCode status = U_ZERO_ERROR;
    icu::UnicodeSet set(icu::UnicodeString(pattern), status);
    if (U_FAILURE(status)) set.clear();  // the patterns are constants; never expected
    return frozen(std::move(set));
}

std::shared_ptr<const Storage> fromCharacters(std::string_view characters);

// Adds every code point of a UTF-8 string (invalid bytes as U+FFFD, encoded surrogates as
// themselves).
void addString(icu::UnicodeSet& set, std::string_view characters) {
    std::size_t i = 0;
    while (i < characters.size()) {
        set.add(static_cast<UChar32>(detail::decodeUTF8(characters, i)));
    }
}

void removeString(icu::UnicodeSet& set, std::string_view characters) {
    std::size_t i = 0;
    while (i < characters.size()) {
        set.remove(static_cast<UChar32>(detail::decodeUTF8(characters, i)));
    }
}

std::shared_ptr<const Storage> fromCharacters(std::string_view characters) {
    icu::UnicodeSet set;
    addString(set, characters);
    return frozen(std::move(set));
}

// Clips a range of code points to the Unicode space; false when nothing is left.
bool clip(NSRange range, UChar32& first, UChar32& last) {
    if (range.length == 0 || range.location > kMaxCodePoint) return false;
    first = static_cast<UChar32>(range.location);
    std::size_t end = range.length > kMaxCodePoint + 1 ? kMaxCodePoint + 1 : range.location + range.length;
    if (end > kMaxCodePoint + 1) end = kMaxCodePoint + 1;
    last = static_cast<UChar32>(end - 1);
    return true;
}

// Predefined sets are built once and shared; a function-local static is thread-safe.
#define PREDEFINED_SET(name, pattern)                                                                        \
    NSCharacterSet NSCharacterSet::name() {                                                                  \
        static const auto storage = fromPattern(u##pattern);                                                 \
        return NSCharacterSet(storage);                                                                      \
    }

}  // namespace

NSCharacterSet::NSCharacterSet() : storage_(std::make_shared<Storage>()) {}
NSCharacterSet::NSCharacterSet(std::shared_ptr<const Storage> storage) : storage_(std::move(storage)) {}
NSCharacterSet::~NSCharacterSet() = default;
NSCharacterSet::NSCharacterSet(const NSCharacterSet&) = default;
NSCharacterSet& NSCharacterSet::operator=(const NSCharacterSet&) = default;
NSCharacterSet::NSCharacterSet(NSCharacterSet&&) noexcept = default;
NSCharacterSet& NSCharacterSet::operator=(NSCharacterSet&&) noexcept = default;

PREDEFINED_SET(whitespaceCharacterSet, "[[:Zs:]\\u0009]")
PREDEFINED_SET(whitespaceAndNewlineCharacterSet, "[[:Z:]\\u000A-\\u000D\\u0085\\u0009]")
PREDEFINED_SET(newlineCharacterSet, "[\\u000A-\\u000D\\u0085\\u2028\\u2029]")
PREDEFINED_SET(decimalDigitCharacterSet, "[:Nd:]")
PREDEFINED_SET(letterCharacterSet, "[[:L:][:M:]]")
PREDEFINED_SET(lowercaseLetterCharacterSet, "[:Ll:]")
PREDEFINED_SET(uppercaseLetterCharacterSet, "[[:Lu:][:Lt:]]")
PREDEFINED_SET(capitalizedLetterCharacterSet, "[:Lt:]")
PREDEFINED_SET(nonBaseCharacterSet, "[:M:]")
PREDEFINED_SET(alphanumericCharacterSet, "[[:L:][:M:][:N:]]")
PREDEFINED_SET(decomposableCharacterSet, "[:NFD_QC=No:]")
PREDEFINED_SET(illegalCharacterSet, "[:Cn:]")
PREDEFINED_SET(punctuationCharacterSet, "[:P:]")
PREDEFINED_SET(symbolCharacterSet, "[:S:]")
PREDEFINED_SET(controlCharacterSet, "[[:Cc:][:Cf:]]")

// The URL sets: the unreserved characters plus what each component may carry literally.
#define URL_SET(name, extra)                                                                                 \
    NSCharacterSet NSCharacterSet::name() {                                                                  \
        static const auto storage = fromCharacters(                                                          \
            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~!$&'()*+,=" extra);           \
        return NSCharacterSet(storage);                                                                      \
    }

URL_SET(URLUserAllowedCharacterSet, ";")
URL_SET(URLPasswordAllowedCharacterSet, ";")
URL_SET(URLHostAllowedCharacterSet, ";:[]")
URL_SET(URLPathAllowedCharacterSet, ":@/")  // no ";": it would start path parameters
URL_SET(URLQueryAllowedCharacterSet, ";:@/?")
URL_SET(URLFragmentAllowedCharacterSet, ";:@/?")

#undef URL_SET
#undef PREDEFINED_SET

NSCharacterSet NSCharacterSet::characterSetWithCharactersInString(std::string_view characters) {
    icu::UnicodeSet set;
    addString(set, characters);
    return NSCharacterSet(frozen(std::move(set)));
}

NSCharacterSet NSCharacterSet::characterSetWithRange(NSRange range) {
    icu::UnicodeSet set;
    UChar32 first, last;
    if (clip(range, first, last)) set.add(first, last);
    return NSCharacterSet(frozen(std::move(set)));
}

NSCharacterSet NSCharacterSet::invertedSet() const {
    icu::UnicodeSet set;
    set.addAll(storage_->set);  // a copy of a frozen set would stay frozen
    set.complement();
    return NSCharacterSet(frozen(std::move(set)));
}

bool NSCharacterSet::characterIsMember(unichar character) const {
    return storage_->set.contains(static_cast<UChar32>(character));
}

bool NSCharacterSet::longCharacterIsMember(char32_t character) const {
    if (character > kMaxCodePoint) return false;
    return storage_->set.contains(static_cast<UChar32>(character));
}

bool NSCharacterSet::isSupersetOfSet(const NSCharacterSet& other) const {
    return storage_->set.containsAll(other.storage_->set);
}

bool NSCharacterSet::hasMemberInPlane(std::uint8_t plane) const {
    if (plane > 16) return false;
    UChar32 first = static_cast<UChar32>(plane) << 16;
    return storage_->set.containsSome(first, first + 0xFFFF);
}

bool NSCharacterSet::isEmpty() const {
    return storage_->set.isEmpty();
}

Storage& NSCharacterSet::writable() {
    // A frozen set is shared; changes go to a private, thawed copy.
    auto copy = std::make_shared<Storage>();
    copy->set.addAll(storage_->set);  // a plain copy of a frozen set would stay frozen
    storage_ = copy;
    return *copy;
}

void NSCharacterSet::addCharactersInRange(NSRange range) {
    UChar32 first, last;
    if (!clip(range, first, last)) return;
    auto& storage = writable();
    storage.set.add(first, last);
    storage.set.freeze();
}

void NSCharacterSet::removeCharactersInRange(NSRange range) {
    UChar32 first, last;
    if (!clip(range, first, last)) return;
    auto& storage = writable();
    storage.set.remove(first, last);
    storage.set.freeze();
}

void NSCharacterSet::addCharactersInString(std::string_view characters) {
    auto& storage = writable();
    addString(storage.set, characters);
    storage.set.freeze();
}

void NSCharacterSet::removeCharactersInString(std::string_view characters) {
    auto& storage = writable();
    removeString(storage.set, characters);
    storage.set.freeze();
}

void NSCharacterSet::formUnionWithCharacterSet(const NSCharacterSet& other) {
    auto keep = other.storage_;  // other may be *this
    auto& storage = writable();
    storage.set.addAll(keep->set);
    storage.set.freeze();
}

void NSCharacterSet::formIntersectionWithCharacterSet(const NSCharacterSet& other) {
    auto keep = other.storage_;
    auto& storage = writable();
    storage.set.retainAll(keep->set);
    storage.set.freeze();
}

void NSCharacterSet::invert() {
    auto& storage = writable();
    storage.set.complement();
    storage.set.freeze();
}

bool NSCharacterSet::operator==(const NSCharacterSet& other) const {
    return storage_ == other.storage_ || storage_->set == other.storage_->set;
}

std::string NSCharacterSet::description() const {
    icu::UnicodeString pattern;
    storage_->set.toPattern(pattern, true);
    return NSString::fromUTF16(std::u16string_view(pattern.getBuffer(), pattern.length()));
}

const void* NSCharacterSet::unicodeSet() const {
    return &storage_->set;
}
