#pragma once

// The I/O Kit and CoreFoundation calls the library makes. On macOS these are
// the real frameworks; elsewhere an in-process stand-in with the same names and
// signatures serves them from a registry that is empty unless a test fills it.
#ifdef __APPLE__
#include <CoreFoundation/CoreFoundation.h>
#include <IOKit/IOKitLib.h>
#include <mach/mach.h>  // mach_port_deallocate, mach_task_self
#else
#include "platform/standin/IOKitStandIn.h"
#endif
