#pragma once

// What every public header needs first: the language it is written in, and
// the mark on what the library exports. Everything else it holds is hidden,
// so that a shared build's interface is exactly what these headers declare.

#if __cplusplus < 202002L && (!defined(_MSVC_LANG) || _MSVC_LANG < 202002L)
#error "the tre library needs C++20 or later (-std=c++20)"
#endif

#if defined(_WIN32) && defined(TRE_SHARED)
#if defined(TRE_BUILDING)
#define TRE_API __declspec(dllexport)
#else
#define TRE_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define TRE_API __attribute__((visibility("default")))
#else
#define TRE_API
#endif
