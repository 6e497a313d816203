#pragma once

// VARDELLE_SANITIZED is defined in a build with a sanitizer, whose shadow memory and own signal
// handlers the process limits and the crash guard must leave alone.
#if defined(__SANITIZE_ADDRESS__)
#define VARDELLE_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(memory_sanitizer) || \
    __has_feature(thread_sanitizer)
#define VARDELLE_SANITIZED 1
#endif
#endif
