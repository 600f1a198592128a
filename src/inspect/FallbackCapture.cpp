#include "inspect/FallbackCapture.h"

#include <cstdint>
#include <cstring>
#include <utility>

#include "common/Base64Coder.h"
#include "inspect/BadInput.h"

namespace tirsel::kvl::agent::driver::inspect {

namespace {

// The fields of version 1, by tag. Each holds text or bytes as read; a field
// that is absent was not read (or, for the unique-chip-id and the board data,
// not there).
enum Tag : unsigned char {
    kProcessorLines = 1,
    kBrandString = 2,
    kChipId = 3,
    kSerialLines = 4,
    kPlatformSerial = 5,
    kBoardData = 6,
    kFailureStep = 16,
    kFailedCommand = 17,
    kFailureReason = 18,
};

constexpr std::size_t kHeaderSize = FallbackCapture::kMagicSize + 1;
constexpr std::size_t kFieldHeaderSize = 5;

void Put(std::vector<unsigned char>& record, Tag tag, const std::optional<std::string>& value) {
    if (!value) {
        return;
    }
    record.push_back(tag);
    const auto length = static_cast<std::uint32_t>(value->size());
    for (int shift = 0; shift < 32; shift += 8) {
        record.push_back(static_cast<unsigned char>(length >> shift));
    }
    record.insert(record.end(), value->begin(), value->end());
}

// Where each tag's value goes.
std::optional<std::string>* FieldOf(FallbackCapture& capture, unsigned char tag,
                                    std::optional<std::string>& command,
                                    std::optional<std::string>& reason) {
    business::FallbackReading& reading = capture.reading;
    switch (tag) {
        case kProcessorLines:
            return &reading.processorLines;
        case kBrandString:
            return &reading.brandString;
        case kChipId:
            return &reading.chipId;
        case kSerialLines:
            return &reading.serialLines;
        case kPlatformSerial:
            return &reading.platformSerial;
        case kBoardData:
            return &reading.boardData;
        case kFailureStep:
            return &capture.failureStep;
        case kFailedCommand:
            return &command;
        case kFailureReason:
            return &reason;
        default:
            return nullptr;
    }
}

}  // namespace

bool FallbackCapture::IsCapture(const std::vector<unsigned char>& record) {
    return record.size() >= kMagicSize && std::memcmp(record.data(), kMagic, kMagicSize) == 0;
}

std::string FallbackCapture::Text() const {
    std::vector<unsigned char> record(kMagic, kMagic + kMagicSize);
    record.push_back(kVersion);
    const business::FallbackReading& r = reading;
    Put(record, kProcessorLines, r.processorLines);
    Put(record, kBrandString, r.brandString);
    Put(record, kChipId, r.chipId);
    Put(record, kSerialLines, r.serialLines);
    Put(record, kPlatformSerial, r.platformSerial);
    Put(record, kBoardData, r.boardData);
    Put(record, kFailureStep, failureStep);
    if (toolFailure) {
        Put(record, kFailedCommand, toolFailure->command);
        Put(record, kFailureReason, toolFailure->reason);
    }
    return common::Base64Coder::Encode(record.data(), record.size());
}

FallbackCapture FallbackCapture::Read(const std::vector<unsigned char>& record,
                                      const std::string& name) {
    if (record.size() < kHeaderSize) {
        throw BadInput("the fallback capture from " + name + " ends within its header");
    }
    const unsigned version = record[kMagicSize];
    if (version != kVersion) {
        throw BadInput("the fallback capture from " + name + " is of version " +
                       std::to_string(version) + "; this grellaninspect reads version " +
                       std::to_string(kVersion) + " (a newer grellaninspect made it?)");
    }
    FallbackCapture capture;
    std::optional<std::string> command;
    std::optional<std::string> reason;
    std::size_t at = kHeaderSize;
    while (at < record.size()) {
        const unsigned char tag = record[at];
        if (record.size() - at < kFieldHeaderSize) {
            throw BadInput("the fallback capture from " + name +
                           " was cut on the way: a field's header is incomplete");
        }
        std::uint32_t length = 0;
        for (int i = 0; i < 4; ++i) {
            length |= static_cast<std::uint32_t>(record[at + 1 + i]) << (8 * i);
        }
        at += kFieldHeaderSize;
        if (record.size() - at < length) {
            throw BadInput("the fallback capture from " + name +
                           " was cut on the way: a field of " + std::to_string(length) +
                           " bytes has " + std::to_string(record.size() - at));
        }
        std::optional<std::string>* field = FieldOf(capture, tag, command, reason);
        if (field == nullptr) {
            throw BadInput("the fallback capture from " + name + " holds a field of tag " +
                           std::to_string(tag) + ", which version 1 does not have: it is damaged");
        }
        if (*field) {
            throw BadInput("the fallback capture from " + name + " holds the field of tag " +
                           std::to_string(tag) + " twice: it is damaged");
        }
        *field = std::string(record.begin() + static_cast<std::ptrdiff_t>(at),
                             record.begin() + static_cast<std::ptrdiff_t>(at + length));
        at += length;
    }
    if (command || reason) {
        capture.toolFailure = ToolFailure{command.value_or(""), reason.value_or("")};
    }
    return capture;
}

}  // namespace tirsel::kvl::agent::driver::inspect
