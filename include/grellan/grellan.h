/*
 * libgrellan: a stable hardware fingerprint of the machine it runs on.
 *
 * The library has one service. Hosts usually bind it at run time:
 *
 *     void* lib = dlopen("/path/to/libgrellan.dylib", RTLD_LAZY);
 *     GetHardwareHashFn fn = (GetHardwareHashFn)dlsym(lib, "GetHardwareHash");
 *     char hash[33];
 *     fn(hash, sizeof hash);
 */
#ifndef GRELLAN_GRELLAN_H
#define GRELLAN_GRELLAN_H

/* The library's version; equal to the version its build declares. */
#define GRELLAN_VERSION_MAJOR 0
#define GRELLAN_VERSION_MINOR 1
#define GRELLAN_VERSION_PATCH 0
#define GRELLAN_VERSION_STRING "0.1.0"

#if defined(__GNUC__) || defined(__clang__)
#define GRELLAN_EXPORT __attribute__((visibility("default")))
#else
#define GRELLAN_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Writes the fingerprint, 32 lower-case hexadecimal characters, into dst.
 * dst must hold at least len bytes; all len bytes are written: the first
 * min(32, len - 1) characters of the fingerprint, then zero bytes. When no
 * fingerprint can be computed, dst holds an empty string (len zero bytes).
 * For len of 0 or less nothing is written. Never throws, never keeps dst.
 */
GRELLAN_EXPORT void GetHardwareHash(char* dst, int len);

/* The type to bind GetHardwareHash to after dlsym. */
typedef void (*GetHardwareHashFn)(char* dst, int len);

#ifdef __cplusplus
}
#endif

#endif /* GRELLAN_GRELLAN_H */
