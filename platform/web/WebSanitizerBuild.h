#pragma once
// Which sanitizer this build runs under, for what must make room for it: the page's process lets
// the sanitizers' own helpers through its locks, and the web view scales the process's bounds
// (shadow memory, slower code). WEB_SANITIZED is for the preprocessor; kBuiltWith for code.

#if defined(__SANITIZE_THREAD__)
#define WEB_SANITIZER_THREAD 1
#elif defined(__SANITIZE_ADDRESS__)
#define WEB_SANITIZER_ADDRESS 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define WEB_SANITIZER_THREAD 1
#elif __has_feature(address_sanitizer)
#define WEB_SANITIZER_ADDRESS 1
#elif __has_feature(memory_sanitizer)
#define WEB_SANITIZER_MEMORY 1
#endif
#endif

#if defined(WEB_SANITIZER_THREAD) || defined(WEB_SANITIZER_ADDRESS) || defined(WEB_SANITIZER_MEMORY)
#define WEB_SANITIZED 1
#else
#define WEB_SANITIZED 0
#endif

namespace detail::webpage {

enum class Sanitizer { None, Address, Thread, Memory };

inline constexpr Sanitizer kBuiltWith =
#if defined(WEB_SANITIZER_THREAD)
    Sanitizer::Thread;
#elif defined(WEB_SANITIZER_ADDRESS)
    Sanitizer::Address;
#elif defined(WEB_SANITIZER_MEMORY)
    Sanitizer::Memory;
#else
    Sanitizer::None;
#endif

}  // namespace detail::webpage
