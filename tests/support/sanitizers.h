// Whether this build runs under a sanitizer, which makes everything several
// times slower: bounds on waiting and the randomised sessions' lengths allow
// for it.
#pragma once

namespace halvorn::testing {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif
#else
inline constexpr bool kSanitized = false;
#endif

}  // namespace halvorn::testing
