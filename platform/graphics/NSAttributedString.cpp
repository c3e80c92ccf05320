#include "graphics/NSAttributedString.h"

#include "foundation/NSString.h"

#include <algorithm>

const std::string NSFontAttributeName = "NSFont";
const std::string NSForegroundColorAttributeName = "NSColor";
const std::string NSBackgroundColorAttributeName = "NSBackgroundColor";
const std::string NSParagraphStyleAttributeName = "NSParagraphStyle";
const std::string NSKernAttributeName = "NSKern";
const std::string NSUnderlineStyleAttributeName = "NSUnderline";
const std::string NSStrikethroughStyleAttributeName = "NSStrikethrough";
const std::string NSBaselineOffsetAttributeName = "NSBaselineOffset";
const std::string NSLinkAttributeName = "NSLink";

// ---------------------------------------------------------------------------------------------
// UTF-8 and UTF-16

std::u16string detail::utf8ToUTF16(const std::string& s) {
    std::u16string out;
    out.reserve(s.size());
    std::size_t i = 0;
    while (i < s.size()) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        char32_t cp = 0xFFFD;
        int extra = c < 0x80                  ? 0
                    : (c >= 0xC2 && c < 0xE0) ? 1
                    : (c >= 0xE0 && c < 0xF0) ? 2
                    : (c >= 0xF0 && c < 0xF5) ? 3
                                              : -1;
        std::size_t used = 1;
        if (extra == 0) {
            cp = c;
        } else if (extra > 0) {
            char32_t v = c & (0x3F >> extra);
            bool ok = i + std::size_t(extra) < s.size();
            for (int k = 1; ok && k <= extra; ++k) {
                unsigned char d = static_cast<unsigned char>(s[i + k]);
                if ((d & 0xC0) != 0x80) ok = false;
                v = (v << 6) | (d & 0x3F);
            }
            if (ok && v <= 0x10FFFF && !(v >= 0xD800 && v <= 0xDFFF)) {
                cp = v;
                used = std::size_t(extra) + 1;
            }
        }
        i += used;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(char16_t(0xD800 + (cp >> 10)));
            out.push_back(char16_t(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(char16_t(cp));
        }
    }
    return out;
}

std::string detail::utf16ToUTF8(const std::u16string& s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        char32_t cp = s[i];
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp < 0xE000) {
            cp = 0xFFFD;  // a lone surrogate
        }
        detail::appendUTF8(out, cp);
    }
    return out;
}

// ---------------------------------------------------------------------------------------------
// NSAttributedString

NSAttributedString::NSAttributedString(const std::string& string, const Dictionary& attributes) {
    setUTF16(detail::utf8ToUTF16(string));
    if (!utf16_.empty()) runs_.push_back({utf16_.size(), attributes.copy()});
}

void NSAttributedString::setUTF16(std::u16string text) {
    utf16_ = std::move(text);
    utf8_ = detail::utf16ToUTF8(utf16_);
}

NSRange NSAttributedString::clamp(NSRange r) const {
    std::size_t loc = std::min(r.location, length());
    std::size_t len = std::min(r.length, length() - loc);
    return {loc, len};
}

Dictionary NSAttributedString::attributesAtIndex(std::size_t index, NSRange* effectiveRange) const {
    std::size_t start = 0;
    for (const auto& run : runs_) {
        if (index < start + run.length) {
            if (effectiveRange) *effectiveRange = {start, run.length};
            return run.attributes.copy();
        }
        start += run.length;
    }
    if (effectiveRange) *effectiveRange = {length(), 0};
    return Dictionary();
}

Value NSAttributedString::attributeAtIndex(const std::string& name, std::size_t index,
                                           NSRange* effectiveRange) const {
    // The effective range of one attribute spans neighbouring runs with an equal value.
    NSRange range;
    Dictionary attrs = attributesAtIndex(index, &range);
    Value value = attrs[name];
    if (effectiveRange && range.length > 0) {
        std::size_t start = range.location, end = NSMaxRange(range);
        while (start > 0) {
            NSRange before;
            Dictionary a = attributesAtIndex(start - 1, &before);
            if (!(a[name] == value)) break;
            start = before.location;
        }
        while (end < length()) {
            NSRange after;
            Dictionary a = attributesAtIndex(end, &after);
            if (!(a[name] == value)) break;
            end = NSMaxRange(after);
        }
        range = {start, end - start};
    }
    if (effectiveRange) *effectiveRange = range;
    return value;
}

void NSAttributedString::enumerateAttributesInRange(
    NSRange range, const std::function<void(const Dictionary&, NSRange, bool* stop)>& block) const {
    if (!block) return;
    range = clamp(range);
    std::size_t start = 0;
    bool stop = false;
    for (const auto& run : runs_) {
        std::size_t end = start + run.length;
        std::size_t a = std::max(start, range.location), b = std::min(end, NSMaxRange(range));
        if (a < b) {
            block(run.attributes, NSRange{a, b - a}, &stop);
            if (stop) return;
        }
        start = end;
    }
}

Ref<NSAttributedString> NSAttributedString::attributedSubstringFromRange(NSRange range) const {
    range = clamp(range);
    auto out = make<NSAttributedString>();
    out->setUTF16(utf16_.substr(range.location, range.length));
    enumerateAttributesInRange(range, [&](const Dictionary& attrs, NSRange r, bool*) {
        out->runs_.push_back({r.length, attrs.copy()});
    });
    return out;
}

bool NSAttributedString::isEqualToAttributedString(const NSAttributedString& other) const {
    if (utf16_ != other.utf16_) return false;
    // Compare stretch by stretch, whatever the run splits.
    std::size_t i = 0;
    while (i < length()) {
        NSRange a, b;
        Dictionary da = attributesAtIndex(i, &a), db = other.attributesAtIndex(i, &b);
        if (!(da == db)) return false;
        i = std::min(NSMaxRange(a), NSMaxRange(b));
    }
    return true;
}

bool NSAttributedString::isEqual(const NSObject& other) const {
    auto o = dynamic_cast<const NSAttributedString*>(&other);
    return o && isEqualToAttributedString(*o);
}

std::string NSAttributedString::description() const {
    std::string out;
    enumerateAttributesInRange(NSRange{0, length()}, [&](const Dictionary& attrs, NSRange r, bool*) {
        out += detail::utf16ToUTF8(utf16_.substr(r.location, r.length)) + attrs.description();
    });
    return out;
}

Ref<NSAttributedString> NSAttributedString::copy() const {
    auto out = make<NSAttributedString>();
    out->setUTF16(utf16_);
    for (const auto& run : runs_) out->runs_.push_back({run.length, run.attributes.copy()});
    return out;
}

Ref<NSMutableAttributedString> NSAttributedString::mutableCopy() const {
    auto out = make<NSMutableAttributedString>();
    out->setAttributedString(*this);
    return out;
}

std::size_t NSAttributedString::splitAt(std::size_t index) {
    std::size_t start = 0;
    for (std::size_t k = 0; k < runs_.size(); ++k) {
        if (index == start) return k;
        if (index < start + runs_[k].length) {
            Run tail{start + runs_[k].length - index, runs_[k].attributes.copy()};
            runs_[k].length = index - start;
            runs_.insert(runs_.begin() + std::ptrdiff_t(k) + 1, std::move(tail));
            return k + 1;
        }
        start += runs_[k].length;
    }
    return runs_.size();
}

void NSAttributedString::mergeRuns() {
    std::vector<Run> merged;
    for (auto& run : runs_) {
        if (run.length == 0) continue;
        if (!merged.empty() && merged.back().attributes == run.attributes) {
            merged.back().length += run.length;
        } else {
            merged.push_back(std::move(run));
        }
    }
    runs_ = std::move(merged);
}

// ---------------------------------------------------------------------------------------------
// NSMutableAttributedString

void NSMutableAttributedString::applyToRange(NSRange range, const std::function<void(Dictionary&)>& change) {
    range = clamp(range);
    if (range.length == 0) return;
    std::size_t first = splitAt(range.location);
    std::size_t last = splitAt(NSMaxRange(range));
    for (std::size_t k = first; k < last; ++k) {
        Dictionary attrs = runs_[k].attributes.mutableCopy();
        change(attrs);
        runs_[k].attributes = attrs;
    }
    mergeRuns();
}

void NSMutableAttributedString::setAttributes(const Dictionary& attributes, NSRange range) {
    applyToRange(range, [&](Dictionary& d) { d = attributes.mutableCopy(); });
}

void NSMutableAttributedString::addAttribute(const std::string& name, const Value& value, NSRange range) {
    applyToRange(range, [&](Dictionary& d) { d.setObject(name, value); });
}

void NSMutableAttributedString::addAttributes(const Dictionary& attributes, NSRange range) {
    applyToRange(range, [&](Dictionary& d) { d.addEntriesFromDictionary(attributes); });
}

void NSMutableAttributedString::removeAttribute(const std::string& name, NSRange range) {
    applyToRange(range, [&](Dictionary& d) { d.removeObjectForKey(name); });
}

void NSMutableAttributedString::replaceCharactersInRange(NSRange range, const std::string& string) {
    range = clamp(range);
    std::size_t probe = range.length > 0 ? range.location : (range.location > 0 ? range.location - 1 : 0);
    NSAttributedString inserted(string, attributesAtIndex(probe));
    replaceCharactersInRange(range, inserted);
}

void NSMutableAttributedString::replaceCharactersInRange(NSRange range, const NSAttributedString& string) {
    range = clamp(range);
    // Copy first: string may be this very object.
    std::u16string text = string.utf16_;
    std::vector<Run> inserted;
    for (const auto& run : string.runs_) inserted.push_back({run.length, run.attributes.copy()});
    std::size_t first = splitAt(range.location);
    std::size_t last = splitAt(NSMaxRange(range));
    runs_.erase(runs_.begin() + std::ptrdiff_t(first), runs_.begin() + std::ptrdiff_t(last));
    runs_.insert(runs_.begin() + std::ptrdiff_t(first), inserted.begin(), inserted.end());
    std::u16string next = utf16_;
    next.replace(range.location, range.length, text);
    setUTF16(std::move(next));
    mergeRuns();
}

void NSMutableAttributedString::insertAttributedString(const NSAttributedString& string,
                                                       std::size_t location) {
    replaceCharactersInRange(NSRange{std::min(location, length()), 0}, string);
}

void NSMutableAttributedString::appendAttributedString(const NSAttributedString& string) {
    replaceCharactersInRange(NSRange{length(), 0}, string);
}

void NSMutableAttributedString::deleteCharactersInRange(NSRange range) {
    replaceCharactersInRange(range, NSAttributedString());
}

void NSMutableAttributedString::setAttributedString(const NSAttributedString& string) {
    replaceCharactersInRange(NSRange{0, length()}, string);
}
