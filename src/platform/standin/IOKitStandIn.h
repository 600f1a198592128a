#pragma once

// A stand-in for the few I/O Kit and CoreFoundation declarations the library
// uses, for platforms without those frameworks. Names, types and signatures
// follow the real headers, so the code calling them is the code that runs on
// macOS. Everything here is internal to the library (hidden visibility).
//
// Objects behave as the real ones do for these calls: a matching dictionary is
// consumed by IOServiceGetMatchingService, a service handle must be released
// with IOObjectRelease, a property object with CFRelease, and a CFSTR string is
// a constant that never needs releasing. The master port from IOMasterPort is
// one more reference, given back with mach_port_deallocate(mach_task_self(),
// port); CFRelease(NULL) aborts the process, as the real one crashes it.

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef int kern_return_t;
typedef unsigned int mach_port_t;
typedef mach_port_t mach_port_name_t;
typedef mach_port_t ipc_space_t;
typedef mach_port_t io_object_t;
typedef io_object_t io_service_t;
typedef io_object_t io_registry_entry_t;
typedef uint32_t IOOptionBits;

typedef unsigned char UInt8;
typedef unsigned char Boolean;
typedef signed long CFIndex;
typedef unsigned long CFTypeID;
typedef uint32_t CFStringEncoding;

// Opaque object types; the stand-in defines them in its implementation.
struct StandInCFString;
struct StandInCFData;
struct StandInCFAllocator;
struct StandInCFDictionary;

typedef const void* CFTypeRef;
typedef const struct StandInCFString* CFStringRef;
typedef const struct StandInCFData* CFDataRef;
typedef const struct StandInCFAllocator* CFAllocatorRef;
typedef const struct StandInCFDictionary* CFDictionaryRef;
typedef struct StandInCFDictionary* CFMutableDictionaryRef;

#define KERN_SUCCESS 0
#define KERN_INVALID_ARGUMENT 4
#define KERN_INVALID_NAME 15
#define KERN_INVALID_RIGHT 17
#define MACH_PORT_NULL 0
#define IO_OBJECT_NULL 0
#define kCFStringEncodingUTF8 0x08000100

extern const CFAllocatorRef kCFAllocatorDefault;

kern_return_t IOMasterPort(mach_port_t bootstrapPort, mach_port_t* masterPort);
CFMutableDictionaryRef IOServiceMatching(const char* name);
io_service_t IOServiceGetMatchingService(mach_port_t masterPort, CFDictionaryRef matching);
CFTypeRef IORegistryEntryCreateCFProperty(io_registry_entry_t entry, CFStringRef key,
                                          CFAllocatorRef allocator, IOOptionBits options);
kern_return_t IOObjectRelease(io_object_t object);

// The calling task's own port, and the release of one reference to a port
// right the task holds (here: only the master port).
mach_port_t mach_task_self(void);
kern_return_t mach_port_deallocate(ipc_space_t task, mach_port_name_t name);

const UInt8* CFDataGetBytePtr(CFDataRef theData);
CFIndex CFDataGetLength(CFDataRef theData);
CFTypeID CFGetTypeID(CFTypeRef cf);
CFTypeID CFDataGetTypeID(void);
CFTypeID CFStringGetTypeID(void);
// The string's text in `encoding` with a terminating zero byte, when it fits
// into `bufferSize` bytes; false otherwise (only UTF-8 is converted here).
Boolean CFStringGetCString(CFStringRef theString, char* buffer, CFIndex bufferSize,
                           CFStringEncoding encoding);
void CFRelease(CFTypeRef cf);

// The constant string behind CFSTR: one immortal object per distinct text,
// the same object for every use of the same text.
CFStringRef StandInMakeConstantString(const char* cStr);

#ifdef __cplusplus
}
#endif

// Accepts only string literals, as the real macro does.
#define CFSTR(cStr) StandInMakeConstantString("" cStr "")
