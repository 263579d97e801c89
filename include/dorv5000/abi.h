// Calling convention of everything that crosses the library boundary.
#pragma once

#if defined(_WIN32) && defined(__i386__)
// 32-bit Windows hosts call the export, the slots and the link's operations with
// stdcall: the callee cleans the stack, as the hosts' own component model expects.
#define DORV_CALL __stdcall
#else
#define DORV_CALL
#endif

#if defined(_WIN32)
#define DORV_EXPORT __declspec(dllexport)
#else
#define DORV_EXPORT __attribute__((visibility("default")))
#endif

// Classes whose type information and virtual tables a host shares with the library.
#if defined(_WIN32)
#define DORV_SHARED
#else
#define DORV_SHARED __attribute__((visibility("default")))
#endif
