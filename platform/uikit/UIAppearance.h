#pragma once
// Appearance proxies: defaults that a class applies to its new instances (the tint of every text
// field and text view, the colours of every navigation bar). A class answers its proxy from a
// static appearance(); what is set there reaches instances made afterwards, as when the platform
// applies a proxy to views entering a window for the first time. Values stay until reset().
// Main thread only.

#include <map>
#include <string>

#include "foundation/Value.h"
#include "graphics/UIColor.h"
#include "graphics/UIFont.h"

class UIAppearanceProxy {
  public:
    void setTintColor(const Ref<UIColor>& color) { set("tintColor", Value(color)); }
    Ref<UIColor> tintColor() const { return get("tintColor").objectAs<UIColor>(); }
    void setBackgroundColor(const Ref<UIColor>& color) { set("backgroundColor", Value(color)); }
    Ref<UIColor> backgroundColor() const { return get("backgroundColor").objectAs<UIColor>(); }
    void setBarTintColor(const Ref<UIColor>& color) { set("barTintColor", Value(color)); }
    Ref<UIColor> barTintColor() const { return get("barTintColor").objectAs<UIColor>(); }
    void setTextColor(const Ref<UIColor>& color) { set("textColor", Value(color)); }
    Ref<UIColor> textColor() const { return get("textColor").objectAs<UIColor>(); }
    void setFont(const Ref<UIFont>& font) { set("font", Value(font)); }
    Ref<UIFont> font() const { return get("font").objectAs<UIFont>(); }
    void setTitleTextAttributes(const Dictionary& attributes) {
        set("titleTextAttributes", Value(attributes));
    }
    Dictionary titleTextAttributes() const {
        Value v = get("titleTextAttributes");
        return v.isDictionary() ? *v.dictionary() : Dictionary();
    }
    void setTranslucent(bool translucent) { set("translucent", Value(translucent)); }

    // Any other property by name; nil when unset.
    void set(const std::string& key, const Value& value) {
        if (value.isNil()) {
            values_.erase(key);
        } else {
            values_[key] = value;
        }
    }
    Value get(const std::string& key) const {
        auto it = values_.find(key);
        return it == values_.end() ? Value() : it->second;
    }
    bool has(const std::string& key) const { return values_.count(key) != 0; }
    void reset() { values_.clear(); }

  private:
    std::map<std::string, Value> values_;
};
