#include "FakeMacTools.h"

namespace grellan::testing {

namespace {

// A script that prints `text` exactly, whatever its arguments.
std::string CatScript(const TempDir& files, const std::string& name, const std::string& text) {
    const std::string data = files.Write(name + ".out", text);
    return "exec cat '" + data + "'\n";
}

}  // namespace

std::string FakeMacTools::HardwareReport(const Machine& machine) {
    if (!machine.report.empty()) {
        return machine.report;
    }
    // A 2019 16-inch MacBook Pro (Intel), written for these tests.
    return "Hardware:\n"
           "\n"
           "    Hardware Overview:\n"
           "\n"
           "      Model Name: MacBook Pro\n"
           "      Model Identifier: MacBookPro16,1\n"
           "      Processor Name: " +
           machine.processorName +
           "\n"
           "      Processor Speed: 2,3 GHz\n"
           "      Number of Processors: 1\n"
           "      Total Number of Cores: 8\n"
           "      Memory: 16 GB\n"
           "      System Firmware Version: 1916.80.2.0.0 (iBridge: 20.16.4252.0.0,0)\n"
           "      Serial Number (system): " +
           machine.serial +
           "\n"
           "      Hardware UUID: 9F2A8C31-0B7E-4D5A-9C61-2E4F7A1B3C5D\n"
           "      Provisioning UDID: 9F2A8C31-0B7E-4D5A-9C61-2E4F7A1B3C5D\n"
           "      Activation Lock Status: Disabled\n"
           "\n";
}

std::string FakeMacTools::RegistryDump(const Machine& machine) {
    std::string chip;
    if (machine.withChipId) {
        chip =
            "\t\t\t\t<key>unique-chip-id</key>\n"
            "\t\t\t\t<data>\n"
            "\t\t\t\t" +
            machine.chipIdBase64 +
            "\n"
            "\t\t\t\t</data>\n";
    }
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
           "<plist version=\"1.0\">\n"
           "<dict>\n"
           "\t<key>IORegistryEntryChildren</key>\n"
           "\t<array>\n"
           "\t\t<dict>\n"
           "\t\t\t<key>IOObjectClass</key>\n"
           "\t\t\t<string>IOPlatformExpertDevice</string>\n"
           "\t\t\t<key>IORegistryEntryChildren</key>\n"
           "\t\t\t<array>\n"
           "\t\t\t<dict>\n"
           "\t\t\t\t<key>name</key>\n"
           "\t\t\t\t<data>\n"
           "\t\t\t\tY2hvc2VuAA==\n"
           "\t\t\t\t</data>\n" +
           chip +
           "\t\t\t\t<key>IOObjectRetainCount</key>\n"
           "\t\t\t\t<integer>7</integer>\n"
           "\t\t\t\t<key>IORegistryEntryID</key>\n"
           "\t\t\t\t<integer>4294967568</integer>\n"
           "\t\t\t\t<key>IOPowerManagementToken</key>\n"
           "\t\t\t\t<integer>18446744073709551615</integer>\n"
           "\t\t\t</dict>\n"
           "\t\t\t</array>\n"
           "\t\t</dict>\n"
           "\t</array>\n"
           "\t<key>IOObjectClass</key>\n"
           "\t<string>IORegistryEntry</string>\n"
           "</dict>\n"
           "</plist>\n";
}

FakeMacTools::FakeMacTools(const Machine& machine) {
    dir.WriteScript("system_profiler", CatScript(dir, "system_profiler", HardwareReport(machine)));
    dir.WriteScript("ioreg", CatScript(dir, "ioreg", RegistryDump(machine)));
}

void FakeMacTools::SetRegistryDump(const std::string& output) const {
    dir.WriteScript("ioreg", CatScript(dir, "ioreg", output));
}

void FakeMacTools::SetHardwareReport(const std::string& report) const {
    dir.WriteScript("system_profiler", CatScript(dir, "system_profiler", report));
}

}  // namespace grellan::testing

namespace grellan::testing {

void FakeMacTools::SetScript(const std::string& tool, const std::string& body) const {
    dir.WriteScript(tool, body);
}

}  // namespace grellan::testing
