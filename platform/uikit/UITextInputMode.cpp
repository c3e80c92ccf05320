#include "uikit/UITextInputMode.h"

#include <mutex>

namespace {
std::mutex gMutex;
Ref<UITextInputMode>& current() {
    static Ref<UITextInputMode> mode = make<UITextInputMode>(std::string("en-US"));
    return mode;
}
}  // namespace

Ref<UITextInputMode> UITextInputMode::currentInputMode() {
    std::lock_guard<std::mutex> lock(gMutex);
    return current();
}

std::vector<Ref<UITextInputMode>> UITextInputMode::activeInputModes() {
    auto mode = currentInputMode();
    if (!mode) return {};
    return {mode};
}

void UITextInputMode::setCurrentPrimaryLanguage(std::optional<std::string> language) {
    auto mode = make<UITextInputMode>(std::move(language));
    std::lock_guard<std::mutex> lock(gMutex);
    current() = mode;
}

void UITextInputMode::setCurrentInputModeAbsent() {
    std::lock_guard<std::mutex> lock(gMutex);
    current() = nullptr;
}

void UITextInputMode::resetCurrentInputMode() {
    setCurrentPrimaryLanguage(std::string("en-US"));
}
