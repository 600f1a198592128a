#pragma once

#include <string>

#include "TempDir.h"

namespace grellan::testing {

// Fake `system_profiler` and `ioreg` scripts in a directory of their own, to
// be searched first for tools (ScopedCommandSettings(Directory())): they
// print what the macOS tools print, with the processor name, machine serial
// and chip identifier chosen by the test.
class FakeMacTools {
public:
    struct Machine {
        std::string processorName = "8-Core Intel Core i9";
        std::string serial = "C02XK0AAJGH5";
        // Base64 text of the "unique-chip-id" data, as ioreg prints it.
        std::string chipIdBase64 = "QUJDRA==";  // "ABCD"
        bool withChipId = true;
        // A whole hardware report to print instead of the one written here
        // from the fields above (a real capture, tests/data/system_profiler).
        std::string report;
    };

    explicit FakeMacTools(const Machine& machine);
    FakeMacTools() : FakeMacTools(Machine{}) {}

    const std::string& Directory() const { return dir.Path(); }
    // Replaces the ioreg script with one that prints `output` verbatim.
    void SetRegistryDump(const std::string& output) const;
    // Replaces the system_profiler script with one that prints `report` verbatim.
    void SetHardwareReport(const std::string& report) const;
    // Replaces the script `tool` with a /bin/sh script of `body`.
    void SetScript(const std::string& tool, const std::string& body) const;

    // The registry dump the fake ioreg prints for `machine`.
    static std::string RegistryDump(const Machine& machine);
    // The hardware report the fake system_profiler prints for `machine`.
    static std::string HardwareReport(const Machine& machine);

private:
    TempDir dir;
};

}  // namespace grellan::testing
