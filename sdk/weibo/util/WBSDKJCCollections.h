#pragma once
// The decoder's own collections, for callers that ask the decoder for them
// (WBSDKJSONDecoder::collectionWithUTF8String): an array and a dictionary that behave as the
// platform's, immutable or mutable as the parse asked, and refuse misuse with the platform's
// exceptions. Only the decoder makes them (the constructors are private to it).
//
// The dictionary is an open-addressing hash table with linear probing, sized from a fixed table
// of capacities (1.33 times the count); keys keep their hash, so growing and re-seating never hash
// again. `mutations` is 0 for an immutable collection; a mutable one starts at 1 and every change
// moves it on (wrapping to 1, never 0), which is what enumeration checks.
//
// Not thread-safe for mutation; immutable instances may be read from any thread.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "foundation/NSObject.h"
#include "foundation/Value.h"

class WBSDKJSONDecoder;

class WBSDKJCArray : public NSObject {
  public:
    std::string className() const override { return "WBSDKJCArray"; }
    // Raises NSInvalidArgumentException: the class is private to the decoder.
    static Ref<WBSDKJCArray> allocWithZone();

    std::size_t count() const { return objects_.size(); }
    // NSRangeException beyond the end.
    const Value& objectAtIndex(std::size_t index) const;
    void getObjects(const Value** buffer, std::size_t location, std::size_t length) const;
    void insertObject(const Value& object, std::size_t index);
    void addObject(const Value& object) { insertObject(object, count()); }
    void removeObjectAtIndex(std::size_t index);
    void replaceObjectAtIndex(std::size_t index, const Value& object);
    std::uint64_t mutations() const { return mutations_; }
    bool isMutable() const { return mutations_ != 0; }
    // Immutable: the same object; mutable: a new platform array.
    Value copy();
    // Always a new platform mutable array.
    Array mutableCopy() const;

    WBSDKJCArray(std::vector<Value> objects, bool isMutable, int);

  private:
    void checkMutable(const char* selector) const;
    void mutated();
    std::vector<Value> objects_;
    std::uint64_t mutations_;
};

class WBSDKJCDictionary : public NSObject {
  public:
    std::string className() const override { return "WBSDKJCDictionary"; }
    static Ref<WBSDKJCDictionary> allocWithZone();

    // The table capacity for a count, from the fixed table (0, 3, 7, 13, 23...).
    static std::size_t capacityForCount(std::size_t count);

    std::size_t count() const { return count_; }
    std::size_t capacity() const { return entries_.size(); }
    // Nil when absent.
    const Value& objectForKey(const std::optional<std::string>& key) const;
    // Keys (and objects) in table order.
    std::vector<std::string> allKeys() const;
    void getObjectsAndKeys(std::vector<Value>* objects, std::vector<std::string>* keys) const;
    void setObject(const Value& object, const std::optional<std::string>& key);
    void removeObjectForKey(const std::optional<std::string>& key);
    std::uint64_t mutations() const { return mutations_; }
    bool isMutable() const { return mutations_ != 0; }
    Value copy();
    Dictionary mutableCopy() const;

    // Enumerates the keys in table order from where it stands.
    class KeyEnumerator {
      public:
        explicit KeyEnumerator(Ref<WBSDKJCDictionary> collection) : collection_(std::move(collection)) {}
        std::optional<std::string> nextObject();
        std::vector<std::string> allObjects();

      private:
        Ref<WBSDKJCDictionary> collection_;
        std::size_t next_ = 0;
    };
    KeyEnumerator keyEnumerator();

    WBSDKJCDictionary(std::size_t count, bool isMutable, int);
    // Adds in order, a later equal key replacing the earlier (what the decoder does).
    void addEntry(std::string key, Value object);

  private:
    struct Entry {
        std::uint64_t keyHash = 0;
        std::optional<std::string> key;
        Value object;
    };
    static std::uint64_t hashOf(const std::string& key);
    std::size_t find(const std::string& key, std::uint64_t hash) const;
    void add(std::uint64_t hash, std::string key, Value object);
    void removeEntry(std::size_t index);
    void resizeIfNecessary();
    void checkMutable(const char* selector) const;
    void mutated();

    std::vector<Entry> entries_;
    std::size_t count_ = 0;
    std::uint64_t mutations_;
};
