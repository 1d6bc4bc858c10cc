// <windows.h> as this project includes it: without its rarely used parts,
// and without the min and max macros that would break std::min.
#ifndef QUILLMORPH_PLATFORM_WINDOWS_HEADERS_H
#define QUILLMORPH_PLATFORM_WINDOWS_HEADERS_H

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

#endif
