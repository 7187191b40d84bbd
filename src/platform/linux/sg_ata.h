// ATA commands carried by the SCSI generic interface: ATA PASS-THROUGH (16) through SG_IO (the
// command block and the reading of the reply in platform/ata/passthrough.h).
// Thread: main.
#pragma once

#include <cstdint>
#include <span>

#include "platform/ata/passthrough.h"

namespace lindrv {

// Issues the command on an open block device. `data` receives the sector of a data-in command
// and must hold 512 bytes then; it is ignored for a non-data command.
ata::TAtaOutcome SendAtaCommand(int fd, const plat::TIdeRegs& regs, plat::TAtaData phase, std::span<std::uint8_t> data);

}  // namespace lindrv
