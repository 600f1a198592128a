/*
 * A host written in C, for the checks only a Mac can make: loads libgrellan
 * by the path given (argv[2]), calls GetHardwareHash once and prints the
 * result on a line. argv[1] sets SIGCHLD up first: "plain" leaves it alone;
 * "ignore" (SIG_IGN) and "nocldwait" (SA_NOCLDWAIT) first start a child of
 * the host's own that stays alive during the call, as a daemon's worker
 * would. A host that hangs is ended by SIGALRM after 100 s.
 * Exit status: 0 printed, 1 the library or its function could not be
 * loaded (the loader's reason on standard error), 2 wrong arguments.
 */
#include <dlfcn.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "grellan/grellan.h"

static pid_t other; /* the host's own child, or 0 */

static int SetUp(const char* mode) {
    struct sigaction action;
    if (strcmp(mode, "plain") == 0) {
        return 1;
    }
    memset(&action, 0, sizeof action);
    sigemptyset(&action.sa_mask);
    if (strcmp(mode, "ignore") == 0) {
        action.sa_handler = SIG_IGN;
    } else if (strcmp(mode, "nocldwait") == 0) {
        action.sa_handler = SIG_DFL;
        action.sa_flags = SA_NOCLDWAIT;
    } else {
        return 0;
    }
    other = fork();
    if (other == 0) {
        alarm(110); /* not inherited: gone even if its parent hangs */
        pause();
        _exit(0);
    }
    return other > 0 && sigaction(SIGCHLD, &action, NULL) == 0;
}

static int Finish(int status) {
    if (other > 0) {
        kill(other, SIGKILL);
    }
    return status;
}

int main(int argc, char** argv) {
    void* library;
    void* symbol;
    GetHardwareHashFn getHash;
    char hash[33];
    if (argc != 3 || !SetUp(argv[1])) {
        fprintf(stderr, "usage: mac_host plain|ignore|nocldwait LIBRARY\n");
        return Finish(2);
    }
    alarm(100);
    library = dlopen(argv[2], RTLD_NOW);
    symbol = library != NULL ? dlsym(library, "GetHardwareHash") : NULL;
    if (symbol == NULL) {
        fprintf(stderr, "%s\n", dlerror());
        return Finish(1);
    }
    memcpy(&getHash, &symbol, sizeof getHash); /* ISO C has no object-to-function cast */
    getHash(hash, (int)sizeof hash);
    printf("%s\n", hash);
    return Finish(0);
}
