#pragma once

#include <optional>
#include <string>

#include "business/ValueSource.h"

namespace tirsel::kvl::agent::driver::business {

// One value of system_profiler's hardware report, as one of the loader's
// commands reads it through grep. The report prints its labels in the user's
// language: CoreFoundation takes that from the -AppleLanguages argument or
// the AppleLanguages preference, never from LANG or LC_* (CF,
// CFBundle_Locale.c, _CFBundleCopyUserLanguages; CFRuntime.c). A German,
// Japanese, Chinese or French report has no "Serial Number" line, and a
// Japanese, Chinese or French one no "Chip" line. Where the English label is
// missing the value comes from a source without a label (LabelFreeValues),
// which gives what the English line gives; an English report gives exactly
// what it always gave.
class ReportLine {
public:
    ReportLine() = delete;

    enum class Label {
        // "Serial Number (system)"; without it, IOPlatformSerialNumber.
        MachineSerial,
        // "Chip" (Apple silicon) or "Processor Name" (Intel); without it, the
        // brand string, where it names an Apple chip.
        ProcessorName,
    };

    struct Value {
        std::string text;
        ValueSource source = ValueSource::ReportLine;
    };

    // The lines of `matched` (what grep printed) whose label, the text
    // before their first ':', is the English `label` in any case and
    // spacing, joined as they came, with the blank lines among them; empty
    // when no line carries it. Lines of another language that grep matched
    // by chance drop out; an English report keeps every line.
    static std::string LabelledLines(const std::string& matched, Label label);

    // The value of `label`: field 1 of its labelled `lines` (LabelledLines of
    // the command's output), as the loader always took it; without a
    // labelled line, `labelFree`, the value of a source without a label, where
    // it can stand in (a serial that is not empty; a brand string that names
    // an Apple chip). Nothing when neither gives one (an Intel Mac's report in
    // another language, a registry without the serial): an empty or other
    // value would name another machine.
    static std::optional<Value> Pick(const std::string& lines,
                                     const std::optional<std::string>& labelFree, Label label);
};

}  // namespace tirsel::kvl::agent::driver::business
