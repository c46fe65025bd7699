#pragma once
// Whether this test program runs under a memory or race checker, which makes
// every step of the program several times slower: bounds on how long the
// program takes to react are widened there, never the checks themselves.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kCheckedBuild = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
inline constexpr bool kCheckedBuild = true;
#else
inline constexpr bool kCheckedBuild = false;
#endif
#else
inline constexpr bool kCheckedBuild = false;
#endif
