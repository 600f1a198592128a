/*
 * A host of libgrellan: loads the library by path at run time and prints the
 * fingerprint. Built against the installed package, either way:
 *
 *   cmake -S examples/host -B host-build -DCMAKE_PREFIX_PATH=/opt/agent
 *   cc $(pkg-config --cflags grellan) \
 *      -DGRELLAN_LIBRARY_PATH="\"$(pkg-config --variable=library grellan)\"" \
 *      examples/host/host.c -o host -ldl
 */
#include <dlfcn.h>
#include <stdio.h>

#include <grellan/grellan.h>

#ifndef GRELLAN_LIBRARY_PATH
#define GRELLAN_LIBRARY_PATH "/opt/agent/bin/libgrellan.dylib"
#endif

int main(void) {
    void* lib = dlopen(GRELLAN_LIBRARY_PATH, RTLD_LAZY);
    if (lib == NULL) {
        fprintf(stderr, "%s\n", dlerror());
        return 1;
    }
    GetHardwareHashFn get_hash = (GetHardwareHashFn)dlsym(lib, "GetHardwareHash");
    if (get_hash == NULL)
        return 2;
    char hash[33];
    get_hash(hash, (int)sizeof hash);
    printf("libgrellan %s\n", GRELLAN_VERSION_STRING);
    if (hash[0] == '\0')
        return 3; /* no fingerprint could be computed */
    printf("%s\n", hash);
    return 0;
}
