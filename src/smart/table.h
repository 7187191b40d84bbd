// The SMART attribute table: the requests, the attribute names and the paged table screen.
// Thread: main.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/drive_records.h"
#include "smart/nvme.h"

struct TSmartAttributeName {
    std::uint16_t Id;
    std::string_view Name;
};

inline constexpr std::size_t SmartSlots = 30;
inline constexpr std::uint32_t SmartSendReplyLength = 3089;
inline constexpr std::uint32_t SmartReceiveReplyLength = 3601;

plat::TIdeRegs SmartReadThresholdsRegs(int drive);
plat::TIdeRegs SmartReadDataRegs(int drive);

// The two sectors a SMART reading returns: READ ATTRIBUTE THRESHOLDS and READ DATA. Bytes 2-361
// of each hold the 30 attribute slots of 12 bytes.
struct TSmartSectors {
    std::array<std::uint8_t, 512> Thresholds{};
    std::array<std::uint8_t, 512> Values{};
};

enum class TSmartOutcome {
    Read,        // ATA SMART: the two sectors
    Nvme,        // no ATA SMART, but the NVMe health log
    CannotOpen,  // the drive did not open
    Refused,     // a SMART request failed, and there is no NVMe health log either
};

struct TSmartReading {
    TSmartOutcome Outcome = TSmartOutcome::Refused;
    TSmartSectors Ata;
    TNvmeLog Nvme{};
};

// Opens drive `d` for control, enables SMART and reads both sectors (the requests of the table
// screen, IDENTIFY included); where a SMART request fails, asks for the NVMe health log instead.
// The drive is closed again, and the listener told what the reading gave. With
// `identifyMayFail` a failed IDENTIFY, whose data the table does not use, does not end the
// reading: the unattended --smart reads a drive that answers SMART but not IDENTIFY.
void ReadSmart(int d, TSmartReading& reading, bool identifyMayFail = false);
// The same requests, without the listener and leaving DriveHandle (the drive a scan holds open)
// as it is.
void ReadSmartQuietly(int d, TSmartReading& reading);

// Whoever else follows every SMART reading (the reports): told what it gave, before the table is
// drawn.
using TSmartListener = void (*)(const TSmartReading& reading);
void SetSmartListener(TSmartListener listener);

inline constexpr std::string_view SmartTableHeader =
    " AID   Name                                Value   Worst   Raw      Threshold   ";
// The header over rows of whole 48-bit raw values (the text output's ATA rows): the Raw column as
// wide as the largest.
std::string SmartTableHeading(bool wholeRaw);

struct TSmartRow {
    std::string Text;  // 80 columns, more with whole values
    bool Alarming;     // shown in light red
    std::size_t Slot;  // ATA: the slot of the attribute; NVMe: the row of the health log
};

// The table's rows. ATA: one for each slot whose id the name table knows, an id once (its first
// slot; recorded in ListedAttributeIds), with id, name, value, worst, the raw value's low 16 bits
// and the threshold of the same slot; light red for reallocated sectors. NVMe: the fifteen rows of
// the health log. With `whole` (the text output) the raw value has all its 48 bits and an NVMe
// value runs on past the 80th column.
std::vector<TSmartRow> SmartTableRows(const TSmartReading& reading, bool whole = false);

bool IsAttributeListed(std::uint16_t id);
// The name table's name for `id`; empty for an id the table does not have.
std::string_view SmartAttributeLabel(std::uint8_t id);
std::string SmartAttributeName(std::uint8_t id);
void ShowSmartTable();
