// A host of libgrellan in Go: loads the library by path at run time through
// cgo and the system's dlopen, and prints the fingerprint.
//
//	go build -o grellan-host . && ./grellan-host [/opt/agent/bin/libgrellan.dylib]
//
// Exit status: 0 with the fingerprint printed, 1 when the library cannot be
// loaded or has no GetHardwareHash, 3 when no fingerprint could be computed.
package main

/*
#cgo linux LDFLAGS: -ldl
#include <dlfcn.h>
#include <stdlib.h>

// void GetHardwareHash(char* dst, int len), as <grellan/grellan.h> declares it.
typedef void (*GetHardwareHashFn)(char*, int);

static void call_get_hardware_hash(void* fn, char* dst, int len) {
    ((GetHardwareHashFn)fn)(dst, len);
}
*/
import "C"

import (
	"errors"
	"fmt"
	"os"
	"unsafe"
)

const libraryPath = "/opt/agent/bin/libgrellan.dylib"

// hardwareHash returns the fingerprint, or "" when none could be computed.
func hardwareHash(path string) (string, error) {
	cPath := C.CString(path)
	defer C.free(unsafe.Pointer(cPath))
	library := C.dlopen(cPath, C.RTLD_NOW|C.RTLD_LOCAL)
	if library == nil {
		return "", errors.New(C.GoString(C.dlerror()))
	}
	// The library stays loaded: unloading it gains nothing.
	cName := C.CString("GetHardwareHash")
	defer C.free(unsafe.Pointer(cName))
	getHash := C.dlsym(library, cName)
	if getHash == nil {
		return "", errors.New(path + " has no GetHardwareHash")
	}
	// 32 characters and the terminating zero byte: a smaller buffer gets
	// fewer characters, and a fingerprint cut short is another fingerprint.
	buffer := (*C.char)(C.calloc(33, 1))
	defer C.free(unsafe.Pointer(buffer))
	C.call_get_hardware_hash(getHash, buffer, 33)
	return C.GoString(buffer), nil
}

func main() {
	path := libraryPath
	if len(os.Args) > 1 {
		path = os.Args[1]
	}
	// The call may run tools and block for as long as the slowest of them
	// (about 35 s at worst): make it in a goroutine of its own, so the
	// agent's other work goes on; the result comes back on a channel.
	type answer struct {
		fingerprint string
		err         error
	}
	done := make(chan answer, 1)
	go func() {
		fingerprint, err := hardwareHash(path)
		done <- answer{fingerprint, err}
	}()
	result := <-done
	if result.err != nil {
		fmt.Fprintln(os.Stderr, result.err)
		os.Exit(1)
	}
	if result.fingerprint == "" {
		// No fingerprint: the call found no serial source. Report it and keep
		// the fingerprint stored at enrolment; never store or compare "".
		fmt.Fprintln(os.Stderr, "no fingerprint could be computed")
		os.Exit(3)
	}
	fmt.Println(result.fingerprint)
}
