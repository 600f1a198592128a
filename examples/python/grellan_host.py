#!/usr/bin/env python3
"""A host of libgrellan in Python: loads the library by path with ctypes and
prints the fingerprint.

    python3 grellan_host.py [/opt/agent/bin/libgrellan.dylib]

Exit status: 0 with the fingerprint printed, 1 when the library cannot be
loaded or has no GetHardwareHash, 3 when no fingerprint could be computed.
"""
import concurrent.futures
import ctypes
import sys

LIBRARY_PATH = "/opt/agent/bin/libgrellan.dylib"


def hardware_hash(library_path):
    """The fingerprint, or "" when none could be computed."""
    library = ctypes.CDLL(library_path)  # raises OSError when it cannot be loaded
    get_hash = library.GetHardwareHash  # raises AttributeError without the function
    # void GetHardwareHash(char* dst, int len)
    get_hash.argtypes = [ctypes.c_char_p, ctypes.c_int]
    get_hash.restype = None
    # 32 characters and the terminating zero byte: a smaller buffer gets
    # fewer characters, and a fingerprint cut short is another fingerprint.
    buffer = ctypes.create_string_buffer(33)
    get_hash(buffer, len(buffer))
    return buffer.value.decode("ascii")


def main():
    library_path = sys.argv[1] if len(sys.argv) > 1 else LIBRARY_PATH
    # The call may run tools and block for as long as the slowest of them
    # (about 35 s at worst): keep it off the thread that serves the agent.
    # ctypes releases the GIL for the call, so other threads go on.
    with concurrent.futures.ThreadPoolExecutor(max_workers=1) as worker:
        try:
            fingerprint = worker.submit(hardware_hash, library_path).result()
        except (OSError, AttributeError) as error:
            print(error, file=sys.stderr)
            return 1
    if not fingerprint:
        # No fingerprint: the call found no serial source. Report it and keep
        # the fingerprint stored at enrolment; never store or compare "".
        print("no fingerprint could be computed", file=sys.stderr)
        return 3
    print(fingerprint)
    return 0


if __name__ == "__main__":
    sys.exit(main())
