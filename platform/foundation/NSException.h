#pragma once
// Exceptions are raised only where the system says one is raised (library assertions with a
// named exception, the record protocol's errors); the app's own code raises none.
//
// Library assertions log and abandon the operation in release builds, and abort in debug builds
// so that a broken assumption is found where it breaks.

#include <exception>
#include <string>

#include "foundation/Value.h"

inline constexpr char NSGenericException[] = "NSGenericException";
inline constexpr char NSRangeException[] = "NSRangeException";
inline constexpr char NSInvalidArgumentException[] = "NSInvalidArgumentException";
inline constexpr char NSInternalInconsistencyException[] = "NSInternalInconsistencyException";
inline constexpr char NSMallocException[] = "NSMallocException";

class NSException : public std::exception {
  public:
    NSException(std::string name, std::string reason, Dictionary userInfo = Dictionary())
        : name_(std::move(name)), reason_(std::move(reason)), userInfo_(std::move(userInfo)) {}

    [[noreturn]] static void raise(std::string name, std::string reason) {
        throw NSException(std::move(name), std::move(reason));
    }

    const std::string& name() const { return name_; }
    const std::string& reason() const { return reason_; }
    const Dictionary& userInfo() const { return userInfo_; }
    const char* what() const noexcept override { return reason_.c_str(); }

  private:
    std::string name_;
    std::string reason_;
    Dictionary userInfo_;
};

namespace detail {
// Logs the failed assertion; aborts in debug builds.
void assertionFailed(const char* condition, const std::string& message, const char* file, int line);
}  // namespace detail

// NS_ASSERT_OR(condition, action, message): when the condition fails, log (and abort in debug
// builds), then run `action` (typically `return` or `return nullptr`).
#define NS_ASSERT_OR(condition, action, message)                                                             \
    do {                                                                                                     \
        if (!(condition)) {                                                                                  \
            ::detail::assertionFailed(#condition, (message), __FILE__, __LINE__);                            \
            action;                                                                                          \
        }                                                                                                    \
    } while (0)
