// A shared library that loads fine but does not export GetHardwareHash.
extern "C" __attribute__((visibility("default"))) int SomethingElse() {
    return 0;
}
