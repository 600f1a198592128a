#include "probe/ProbeProgram.h"

int main(int argc, char** argv) {
    return tirsel::kvl::agent::driver::probe::ProbeProgram::Run(argc > 0 ? argv[0] : "");
}
