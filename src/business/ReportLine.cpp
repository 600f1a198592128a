#include "business/ReportLine.h"

#include <optional>
#include <vector>

#include "business/CommandFailed.h"
#include "business/LabelFreeValues.h"
#include "business/SerialLoader.h"
#include "common/TirselFunctions.h"

namespace tirsel::kvl::agent::driver::business {

namespace {

using common::TirselFunctions;

// The words of `text`, split at C-locale white space, in ASCII lower case.
std::vector<std::string> LowerWords(const std::string& text) {
    std::vector<std::string> words;
    std::string word;
    for (const char c : text + ' ') {
        if (TirselFunctions::IsSpace(c)) {
            if (!word.empty()) {
                words.push_back(std::move(word));
                word.clear();
            }
        } else {
            word += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        }
    }
    return words;
}

bool Carries(const std::string& line, ReportLine::Label label) {
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos) {
        return false;
    }
    const std::vector<std::string> words = LowerWords(line.substr(0, colon));
    if (label == ReportLine::Label::MachineSerial) {
        // "Serial Number (system)"; older reports said "Serial Number".
        return words.size() >= 2 && words[0] == "serial" && words[1] == "number";
    }
    return words == std::vector<std::string>{"chip"} ||
           words == std::vector<std::string>{"processor", "name"};
}

bool IsBlank(const std::string& line) {
    for (const char c : line) {
        if (!TirselFunctions::IsSpace(c)) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::string ReportLine::LabelledLines(const std::string& matched, Label label) {
    std::string kept;
    bool labelled = false;
    bool first = true;
    std::size_t begin = 0;
    while (begin <= matched.size()) {
        std::size_t end = matched.find('\n', begin);
        if (end == std::string::npos) {
            end = matched.size();
        }
        const std::string line = matched.substr(begin, end - begin);
        const bool carries = Carries(line, label);
        if (carries || IsBlank(line)) {
            kept += (first ? "" : "\n") + line;
            first = false;
            labelled = labelled || carries;
        }
        begin = end + 1;
    }
    return labelled ? kept : std::string();
}

ReportLine::Value ReportLine::Pick(const std::string& command, const std::string& matched,
                                   Label label) {
    const std::string lines = LabelledLines(matched, label);
    if (!lines.empty()) {
        return {SerialLoader::SecondField(lines), ValueSource::ReportLine};
    }
    if (label == Label::MachineSerial) {
        if (std::optional<std::string> serial = LabelFreeValues::PlatformSerial()) {
            return {std::move(*serial), ValueSource::Registry};
        }
        throw CommandFailed(command,
                            "no Serial Number line (a report in another language?) and no "
                            "IOPlatformSerialNumber in the registry");
    }
    if (std::optional<std::string> chip = LabelFreeValues::ChipName()) {
        return {std::move(*chip), ValueSource::BrandString};
    }
    throw CommandFailed(command,
                        "no Chip or Processor Name line (a report in another language?) and "
                        "machdep.cpu.brand_string names no Apple chip");
}

}  // namespace tirsel::kvl::agent::driver::business
