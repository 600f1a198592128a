#pragma once

#include "business/CommandVerdict.h"

namespace tirsel::kvl::agent::driver::business {

// The fallback's commands, in the order the serials are loaded: the
// processor's two, then the machine serial of the chassis and system slots.
enum class FallbackCommand { ProcessorName, RegistryDump, MachineSerial };

// One thing the fallback computation did or found, as values: a kind and the
// fields it uses. grellaninspect words them; the library formats none.
struct FallbackStep {
    enum class Kind {
        AskingTools,      // no table: the tools and the registry are asked
        CommandEnded,     // `command` ended as `verdict` says
        GaveNoAnswer,     // a command gave no usable answer (the computation's
                          // failedCommand says which and why): no serials
        DumpUnreadable,   // the registry dump could not be parsed (the
                          // computation's error says why): no serials
        NoMachineSerial,  // the Serial Number line holds no serial
        NoProcessor,      // neither a processor name nor unique-chip-id bytes
        NoBoardSerial,    // no mlb-serial-number data in the registry
    };

    Kind kind = Kind::AskingTools;
    FallbackCommand command = FallbackCommand::ProcessorName;
    CommandVerdict verdict;
};

}  // namespace tirsel::kvl::agent::driver::business
