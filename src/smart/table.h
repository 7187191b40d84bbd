// The SMART attribute table: the requests, the attribute names and the paged table screen.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "drives/requests.h"

struct TSmartAttributeName {
    std::uint16_t Id;
    std::string_view Name;
};

inline constexpr std::size_t SmartSlots = 30;
inline constexpr std::uint32_t SmartSendReplyLength = 3089;
inline constexpr std::uint32_t SmartReceiveReplyLength = 3601;

drives::TIdeRegs SmartReadThresholdsRegs(int drive);
drives::TIdeRegs SmartReadDataRegs(int drive);

// The two sectors a SMART reading returns: READ ATTRIBUTE THRESHOLDS and READ DATA. Bytes 2-361
// of each hold the 30 attribute slots of 12 bytes.
struct TSmartSectors {
    std::array<std::uint8_t, 512> Thresholds{};
    std::array<std::uint8_t, 512> Values{};
};

enum class TSmartOutcome {
    Read,
    CannotOpen,  // the drive did not open
    Refused,     // a SMART request failed
};

// Opens drive `d` for control, enables SMART and reads both sectors (the requests of the table
// screen, IDENTIFY included), and closes the drive again; the listener is told the outcome.
TSmartOutcome ReadSmartSectors(int d, TSmartSectors& sectors);

// Whoever else follows every SMART reading (the reports): told what it gave, before the table is
// drawn.
using TSmartListener = void (*)(TSmartOutcome outcome, const TSmartSectors& sectors);
void SetSmartListener(TSmartListener listener);

// The slots the table lists, in order: ids the name table knows, each from its first slot. They
// are recorded in ListedAttributeIds on the way.
std::vector<std::size_t> ListedSlots(const TSmartSectors& sectors);
inline constexpr std::string_view SmartTableHeader =
    " AID   Name                                Value   Worst   Raw      Threshold   ";
// The table's row of `slot`: 80 columns of id, name, value, worst, the raw value's low 16 bits
// and the threshold of the same slot.
std::string SmartRowText(const TSmartSectors& sectors, std::size_t slot);
// A row shown in light red: reallocated sectors.
bool SmartRowAlarming(const TSmartSectors& sectors, std::size_t slot);

bool IsAttributeListed(std::uint16_t id);
// The name table's name for `id`; empty for an id the table does not have.
std::string_view SmartAttributeLabel(std::uint8_t id);
std::string SmartAttributeName(std::uint8_t id);
void ShowSmartTable();
