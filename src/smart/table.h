// The SMART attribute table: the requests, the attribute names and the paged table screen.
#pragma once

#include <cstdint>
#include <string>

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

bool IsAttributeListed(std::uint16_t id);
std::string SmartAttributeName(std::uint8_t id);
void ShowSmartTable();
