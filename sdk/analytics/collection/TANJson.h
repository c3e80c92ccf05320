#pragma once
// The analytics library's own JSON reader and writer.
//
// The reader turns text into dictionaries, arrays, strings, decimal numbers (NSDecimalNumber,
// built from the number's exact text, never through a double), Booleans and null; the writer
// turns such values back into text, compact or indented, keys in dictionary order or sorted.
//
// Both keep an error trace: each failure appends an NSError of domain
// "com.tally.JSON.ErrorDomain" whose NSUnderlyingErrorKey is the entry before it, so a failure
// deep inside a document ends with the chain of places that gave up because of it, the innermost
// first. Nothing is thrown. Nesting is bounded by maxDepth (512 unless changed; 0 means no limit).
//
// A reader or writer holds the state of one operation at a time and belongs to one thread.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "foundation/NSError.h"
#include "foundation/NSObject.h"
#include "foundation/Value.h"

inline constexpr char TANJsonErrorDomain[] = "com.tally.JSON.ErrorDomain";

// An object of any other kind that can stand in for itself with a value the writer supports.
class TANJsonProxy {
  public:
    virtual ~TANJsonProxy() = default;
    virtual Value proxyForJson() const = 0;
};

class TANJsonBase : public NSObject {
  public:
    // Appends an error; observers of "errorTrace" hear of the change.
    void addErrorWithCode(unsigned code, const std::string& description);
    void clearErrorTrace();
    // Oldest first; nullopt until the first error of an operation.
    const std::optional<Array>& errorTrace() const { return errorTrace_; }
    unsigned maxDepth() const { return maxDepth_; }
    void setMaxDepth(unsigned maxDepth) { maxDepth_ = maxDepth; }
    Value valueForKey(const std::string& key) const override;

  protected:
    std::optional<Array> errorTrace_;
    unsigned depth_ = 0;
    unsigned maxDepth_ = 512;
};

class TANJsonParser : public TANJsonBase {
  public:
    // Any JSON value, or nil with the trace filled.
    Value fragmentWithString(const std::optional<std::string>& text);
    // A dictionary or an array only.
    Value objectWithString(const std::optional<std::string>& text);
    std::string className() const override { return "TANJsonParser"; }

  private:
    unsigned char at(std::size_t offset = 0) const {
        return pos_ + offset < text_.size() ? static_cast<unsigned char>(text_[pos_ + offset]) : 0;
    }
    bool atEnd() const { return at() == 0; }
    void skipWhitespace();
    // Reads one value with an explicit stack of open containers rather than by recursion, so
    // that with maxDepth 0 no nesting depth can exhaust the thread's stack.
    bool scanValue(Value& out);
    // Any value but an array or an object.
    bool scanScalar(Value& out);
    bool scanRestOfString(std::string& out);
    bool scanUnicodeChar(std::string& out);
    bool scanHexQuad(unsigned& out);
    bool scanNumber(Value& out);
    bool scanLiteral(const char* rest, const char* message, Value value, Value& out);

    std::string_view text_;
    std::size_t pos_ = 0;
};

class TANJsonWriter : public TANJsonBase {
  public:
    // The text of any supported value, or nullopt with the trace filled.
    std::optional<std::string> stringWithFragment(const Value& value);
    // A dictionary or an array at the top (or an object whose proxy is one).
    std::optional<std::string> stringWithObject(const Value& value);
    bool sortKeys() const { return sortKeys_; }
    void setSortKeys(bool sortKeys) { sortKeys_ = sortKeys; }
    bool humanReadable() const { return humanReadable_; }
    void setHumanReadable(bool humanReadable) { humanReadable_ = humanReadable; }
    std::string className() const override { return "TANJsonWriter"; }

  private:
    bool appendValue(const Value& value, std::string& out);
    bool appendArray(const Array& array, std::string& out);
    bool appendDictionary(const Dictionary& dictionary, std::string& out);
    void appendString(std::string_view text, std::string& out);
    void appendIndent(std::string& out);

    bool sortKeys_ = false;
    bool humanReadable_ = false;
};
