/*
 * A C host timing the shipped library as a host meets it:
 *   grellan_first_call call LIBRARY CALLS
 *       prints "LOAD FIRST LATER FIRST_FAULTS LATER_FAULTS HASH": in
 *       microseconds dlopen with RTLD_LAZY (as grellanprobe does), the first
 *       GetHardwareHash call and the median of the CALLS - 1 later calls; then
 *       the minor page faults of the first call and the mean of later ones;
 *   grellan_first_call load LIBRARY...
 *       dlopens each in turn and prints "LIBRARY MICROSECONDS" for each, so
 *       every entry costs only what the earlier ones did not already load.
 * Written in C so that nothing but libc is loaded before the first dlopen.
 */
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <time.h>

typedef void (*GetHardwareHashFn)(char*, int);

static double Now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec * 1e6 + (double)t.tv_nsec / 1e3;
}

static long MinorFaults(void) {
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

static int Compare(const void* a, const void* b) {
    const double x = *(const double*)a;
    const double y = *(const double*)b;
    return (x > y) - (x < y);
}

static int Call(const char* path, int calls) {
    char hash[256];
    double start = Now();
    void* library = dlopen(path, RTLD_LAZY);
    const double load = Now() - start;
    if (library == NULL) {
        fprintf(stderr, "%s\n", dlerror());
        return 1;
    }
    /* dlsym's object pointer becomes a function pointer the way POSIX shows. */
    GetHardwareHashFn fn = NULL;
    *(void**)(&fn) = dlsym(library, "GetHardwareHash");
    if (fn == NULL || calls < 2) {
        return 1;
    }
    double* later = malloc(sizeof(double) * (size_t)(calls - 1));
    if (later == NULL) {
        return 1;
    }
    const long faultsBefore = MinorFaults();
    start = Now();
    fn(hash, (int)sizeof hash);
    const double first = Now() - start;
    const long firstFaults = MinorFaults() - faultsBefore;
    for (int i = 0; i < calls - 1; ++i) {
        start = Now();
        fn(hash, (int)sizeof hash);
        later[i] = Now() - start;
    }
    const long laterFaults = MinorFaults() - faultsBefore - firstFaults;
    qsort(later, (size_t)(calls - 1), sizeof(double), Compare);
    printf("%.1f %.1f %.1f %ld %.1f %s\n", load, first, later[(calls - 1) / 2], firstFaults,
           (double)laterFaults / (calls - 1), hash);
    free(later);
    return hash[0] != '\0' ? 0 : 1;
}

int main(int argc, char** argv) {
    if (argc == 4 && strcmp(argv[1], "call") == 0) {
        return Call(argv[2], atoi(argv[3]));
    }
    if (argc >= 3 && strcmp(argv[1], "load") == 0) {
        for (int i = 2; i < argc; ++i) {
            const double start = Now();
            void* library = dlopen(argv[i], RTLD_LAZY);
            const double took = Now() - start;
            if (library == NULL) {
                fprintf(stderr, "%s\n", dlerror());
                return 1;
            }
            printf("%s %.1f\n", argv[i], took);
        }
        return 0;
    }
    fprintf(stderr, "usage: grellan_first_call call LIBRARY CALLS | load LIBRARY...\n");
    return 1;
}
