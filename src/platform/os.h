// Which operating system this build is for. The one place that asks; the rest
// of the code tests NORROW_OS_WINDOWS / NORROW_OS_LINUX and the macros below.
#pragma once

#if defined(_WIN32)
#define NORROW_OS_WINDOWS 1
#define NORROW_OS_LINUX 0
#elif defined(__linux__)
#define NORROW_OS_WINDOWS 0
#define NORROW_OS_LINUX 1
#else
#error "Norrow builds for Windows (the product) and Linux (development) only"
#endif

// Marks a function the library exports under its plain name.
#if NORROW_OS_WINDOWS
#define NORROW_EXPORT __declspec(dllexport)
#else
#define NORROW_EXPORT __attribute__((visibility("default")))
#endif
