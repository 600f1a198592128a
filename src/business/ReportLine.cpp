#include "business/ReportLine.h"

#include <optional>
#include <string_view>

#include "business/LabelFreeValues.h"
#include "business/SerialLoader.h"
#include "common/TirselFunctions.h"

namespace tirsel::kvl::agent::driver::business {

namespace {

using common::TirselFunctions;

// Cuts the next word (a run of bytes between C-locale white space) from the
// front of `text`; empty when none is left.
std::string_view NextWord(std::string_view& text) {
    std::size_t begin = 0;
    while (begin < text.size() && TirselFunctions::IsSpace(text[begin])) {
        ++begin;
    }
    std::size_t end = begin;
    while (end < text.size() && !TirselFunctions::IsSpace(text[end])) {
        ++end;
    }
    const std::string_view word = text.substr(begin, end - begin);
    text.remove_prefix(end);
    return word;
}

// Whether `word` is `lower` (ASCII lower case) in any case.
bool Is(std::string_view word, std::string_view lower) {
    if (word.size() != lower.size()) {
        return false;
    }
    for (std::size_t i = 0; i < word.size(); ++i) {
        const char c = word[i];
        if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != lower[i]) {
            return false;
        }
    }
    return true;
}

bool Carries(std::string_view line, ReportLine::Label label) {
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) {
        return false;
    }
    std::string_view words = line.substr(0, colon);
    const std::string_view first = NextWord(words);
    const std::string_view second = NextWord(words);
    if (label == ReportLine::Label::MachineSerial) {
        // "Serial Number (system)"; older reports said "Serial Number".
        return Is(first, "serial") && Is(second, "number");
    }
    const bool chip = Is(first, "chip") && second.empty();
    return chip || (Is(first, "processor") && Is(second, "name") && NextWord(words).empty());
}

bool IsBlank(std::string_view line) {
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
    kept.reserve(matched.size());
    bool labelled = false;
    bool first = true;
    const std::string_view text = matched;
    std::size_t begin = 0;
    while (begin <= text.size()) {
        std::size_t end = text.find('\n', begin);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        const std::string_view line = text.substr(begin, end - begin);
        const bool carries = Carries(line, label);
        if (carries || IsBlank(line)) {
            if (!first) {
                kept += '\n';
            }
            kept += line;
            first = false;
            labelled = labelled || carries;
        }
        begin = end + 1;
    }
    return labelled ? kept : std::string();
}

std::optional<ReportLine::Value> ReportLine::Pick(const std::string& lines,
                                                  const std::optional<std::string>& labelFree,
                                                  Label label) {
    if (!lines.empty()) {
        return Value{SerialLoader::SecondField(lines), ValueSource::ReportLine};
    }
    if (!labelFree) {
        return std::nullopt;
    }
    if (label == Label::MachineSerial) {
        if (labelFree->empty()) {
            return std::nullopt;
        }
        return Value{*labelFree, ValueSource::Registry};
    }
    if (!LabelFreeValues::IsAppleChipName(*labelFree)) {
        return std::nullopt;
    }
    return Value{*labelFree, ValueSource::BrandString};
}

}  // namespace tirsel::kvl::agent::driver::business
