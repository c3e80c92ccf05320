#pragma once
// The keyboard's input mode. Only its primary language matters here ("zh-Hans", "en-US", "emoji"),
// and tests set it. A mode may have no language (nullopt), and there may be no current mode at
// all (setCurrentInputModeAbsent), when currentInputMode answers nullptr, as it can on the
// platform. Thread-safe.

#include <optional>
#include <string>
#include <vector>

#include "foundation/NSObject.h"

class UITextInputMode : public NSObject {
  public:
    explicit UITextInputMode(std::optional<std::string> primaryLanguage)
        : primaryLanguage_(std::move(primaryLanguage)) {}
    std::string className() const override { return "UITextInputMode"; }

    // nullptr when there is no current mode.
    static Ref<UITextInputMode> currentInputMode();
    // The active modes: the current one, when there is one.
    static std::vector<Ref<UITextInputMode>> activeInputModes();

    const std::optional<std::string>& primaryLanguage() const { return primaryLanguage_; }

    // Configuration: the current mode's language ("en-US" by default); absent makes
    // currentInputMode answer nullptr.
    static void setCurrentPrimaryLanguage(std::optional<std::string> language);
    static void setCurrentInputModeAbsent();
    static void resetCurrentInputMode();

  private:
    std::optional<std::string> primaryLanguage_;
};
