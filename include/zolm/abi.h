/* Calling convention and export markers shared by every public C header of the system. */
#ifndef ZOLM_ABI_H
#define ZOLM_ABI_H

#include <stdint.h>

/* The called function removes its arguments on 32-bit x86; elsewhere the platform has one convention. */
#if defined(__i386__)
#define ZOLM_STDCALL __attribute__((stdcall))
#else
#define ZOLM_STDCALL
#endif

#if defined(ZOLM_BUILDING_LIBRARY)
#define ZOLM_EXPORT __attribute__((visibility("default")))
#else
#define ZOLM_EXPORT
#endif

#ifdef __cplusplus
#define ZOLM_EXTERN_C extern "C"
#else
#define ZOLM_EXTERN_C
#endif

#endif
