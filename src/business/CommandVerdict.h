#pragma once

#include "platform/CommandResult.h"

namespace tirsel::kvl::agent::driver::business {

// What the fallback loader made of one command: a usable answer, or why not.
// Values only; grellaninspect words them.
struct CommandVerdict {
    enum class Kind {
        Usable,           // it ran to a usable end: exit status 0, or grep's 1 ("no match")
        Unfinished,       // it did not: `ending` says how (not started, a signal, a
                          // bound, exit status 2 or more, stopped, out of memory)
        ToolFailed,       // grep matched nothing after `watchedTool`, in front of it,
                          // failed (`ending.toolStatus`), which the "no match" would hide
        NoMachineSerial,  // the report has no Serial Number line, and the registry
                          // no IOPlatformSerialNumber to stand in for it
        NoChipName,       // the report has no Chip or Processor Name line, and
                          // machdep.cpu.brand_string names no Apple chip
    };

    Kind kind = Kind::Usable;
    platform::CommandEnding ending;
    // The tool in front of grep whose own status is watched (static text).
    const char* watchedTool = "";
};

}  // namespace tirsel::kvl::agent::driver::business
