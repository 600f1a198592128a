/* A C host whose allocations run out inside one call, as a daemon's do under
 * a memory limit: it loads the library by path (argv[1]), then calls
 * GetHardwareHash with every allocation from the N-th on refused (argv[2],
 * counted from the call's start; 0 refuses none) and prints the buffer and
 * the number of allocations the call asked for on a line. "again N" refuses
 * them in a second call on the same thread, after a first one without
 * refusals. With argv[2] of "as", it instead limits its own address space to
 * what it uses plus 64 MiB before the call.
 *
 * The allocator is glibc's, taken over by defining its entry points here:
 * the library, the C++ runtime and the dynamic loader (thread-local storage
 * of a library loaded with dlopen) all allocate through them. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>

#include "grellan/grellan.h"

extern void* __libc_malloc(size_t size);
extern void* __libc_calloc(size_t count, size_t size);
extern void* __libc_realloc(void* block, size_t size);
extern void* __libc_memalign(size_t alignment, size_t size);
extern void __libc_free(void* block);

/* The build hides symbols by default; these must be what every library binds to. */
#define TAKEN_OVER __attribute__((visibility("default")))

static int armed;
static unsigned long asked;
static unsigned long refuseFrom;

static int Refused(void) {
    if (!armed) {
        return 0;
    }
    ++asked;
    if (refuseFrom != 0 && asked >= refuseFrom) {
        errno = ENOMEM;
        return 1;
    }
    return 0;
}

TAKEN_OVER void* malloc(size_t size) {
    return Refused() ? NULL : __libc_malloc(size);
}
TAKEN_OVER void* calloc(size_t count, size_t size) {
    return Refused() ? NULL : __libc_calloc(count, size);
}
TAKEN_OVER void* realloc(void* block, size_t size) {
    return Refused() ? NULL : __libc_realloc(block, size);
}
TAKEN_OVER void* memalign(size_t alignment, size_t size) {
    return Refused() ? NULL : __libc_memalign(alignment, size);
}
TAKEN_OVER void* aligned_alloc(size_t alignment, size_t size) {
    return memalign(alignment, size);
}
TAKEN_OVER int posix_memalign(void** block, size_t alignment, size_t size) {
    void* made = memalign(alignment, size);
    if (made == NULL) {
        return ENOMEM;
    }
    *block = made;
    return 0;
}
TAKEN_OVER void free(void* block) {
    __libc_free(block);
}

/* The address space this process has mapped, from /proc/self/status. */
static long long MappedBytes(void) {
    FILE* status = fopen("/proc/self/status", "r");
    char line[256];
    long long kib = -1;
    while (status != NULL && fgets(line, sizeof line, status) != NULL) {
        if (strncmp(line, "VmSize:", 7) == 0) {
            kib = atoll(line + 7);
        }
    }
    if (status != NULL) {
        fclose(status);
    }
    return kib * 1024;
}

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4) {
        fprintf(stderr, "usage: allocation_host LIBRARY N|again N|as\n");
        return 2;
    }
    void* library = dlopen(argv[1], RTLD_NOW);
    void* symbol = library != NULL ? dlsym(library, "GetHardwareHash") : NULL;
    GetHardwareHashFn getHash = NULL;
    memcpy(&getHash, &symbol, sizeof getHash); /* POSIX: data and function pointers alike */
    if (getHash == NULL) {
        fprintf(stderr, "%s\n", dlerror());
        return 2;
    }
    char hash[33];
    if (strcmp(argv[2], "as") == 0) {
        const rlim_t limit = (rlim_t)MappedBytes() + ((rlim_t)64 << 20);
        const struct rlimit bound = {limit, limit};
        if (setrlimit(RLIMIT_AS, &bound) != 0) {
            return 2;
        }
    } else if (strcmp(argv[2], "again") == 0 && argc == 4) {
        getHash(hash, (int)sizeof hash);
        refuseFrom = strtoul(argv[3], NULL, 10);
    } else {
        refuseFrom = strtoul(argv[2], NULL, 10);
    }
    armed = 1;
    getHash(hash, (int)sizeof hash);
    armed = 0;
    printf("%s %lu\n", hash, asked);
    return 0;
}
