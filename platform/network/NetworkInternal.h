#pragma once
// Small helpers shared by the URL loading classes; not part of the platform's interface.

#include <algorithm>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "foundation/Value.h"

namespace detail {

inline char asciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

inline bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (asciiLower(a[i]) != asciiLower(b[i])) return false;
    }
    return true;
}

inline std::string asciiLowercase(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), asciiLower);
    return out;
}

inline std::string_view trimWhitespace(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n')) {
        s.remove_suffix(1);
    }
    return s;
}

// A header name is an HTTP token: visible ASCII without separators.
inline bool isValidHeaderName(std::string_view name) {
    if (name.empty()) return false;
    for (unsigned char c : name) {
        if (c <= 32 || c >= 127) return false;
        if (std::string_view("()<>@,;:\\\"/[]?={}").find(static_cast<char>(c)) != std::string_view::npos) {
            return false;
        }
    }
    return true;
}

// A header value may not carry line breaks or NUL, which would let it forge other fields.
inline bool isValidHeaderValue(std::string_view value) {
    return value.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

// Collects header fields into a dictionary, joining fields whose names differ only in case with
// ", " under the first spelling; linear in the number of fields, so that a reply with thousands
// of them costs no more than reading them.
class HeaderFieldMerger {
  public:
    explicit HeaderFieldMerger(std::size_t expected = 0) { fields_.reserve(expected); }
    void add(std::string name, std::string_view value) {
        std::size_t at = find(name);
        if (at == fields_.size()) {
            if (!index_.empty() || fields_.size() == kIndexFrom) indexField(name, at);
            fields_.emplace_back(std::move(name), std::string(value));
        } else {
            std::string& joined = fields_[at].second;
            joined += ", ";
            joined += value;
        }
    }
    Dictionary take() {
        std::vector<Dictionary::Entry> entries;
        entries.reserve(fields_.size());
        for (auto& [name, value] : fields_) entries.emplace_back(std::move(name), Value(std::move(value)));
        fields_.clear();
        index_.clear();
        return Dictionary::withUniqueEntries(std::move(entries), true);
    }

  private:
    // The usual reply has a handful of fields: a scan is cheaper than hashing until there are more.
    static constexpr std::size_t kIndexFrom = 16;

    std::size_t find(const std::string& name) const {
        if (index_.empty()) {
            for (std::size_t i = 0; i < fields_.size(); ++i) {
                if (equalsIgnoringCase(fields_[i].first, name)) return i;
            }
            return fields_.size();
        }
        auto it = index_.find(asciiLowercase(name));
        return it == index_.end() ? fields_.size() : it->second;
    }
    void indexField(const std::string& name, std::size_t at) {
        if (index_.empty()) {
            for (std::size_t i = 0; i < fields_.size(); ++i)
                index_.emplace(asciiLowercase(fields_[i].first), i);
        }
        index_.emplace(asciiLowercase(name), at);
    }

    std::vector<std::pair<std::string, std::string>> fields_;
    std::unordered_map<std::string, std::size_t> index_;
};

// The parameter of a "type/subtype; name=value" field, unquoted; nullopt when absent.
std::optional<std::string> headerParameter(std::string_view field, std::string_view name);

}  // namespace detail
