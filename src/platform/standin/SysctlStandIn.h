#pragma once

// A stand-in for sysctlbyname, which Apple declares in <sys/sysctl.h> and
// glibc does not have: the code calling it is the code that runs on macOS.
// Values come from an in-process store that is empty unless a test fills it
// (testing/SysctlStandIn.h). Internal to the library (hidden visibility).

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

// As on macOS, reading only: with `oldp` null, the value's size in *oldlenp;
// otherwise the value copied into `oldp`, its size in *oldlenp. -1 with
// errno ENOENT for an unknown name, ENOMEM when the value is larger than
// *oldlenp (the part that fits is copied, as xnu's sysctl_old_user does),
// EPERM for a new value.
int sysctlbyname(const char* name, void* oldp, size_t* oldlenp, void* newp, size_t newlen);

#ifdef __cplusplus
}
#endif
