// IO link type names: the link types that libhsakmt's header names, as the report prints them.
#pragma once

#include <array>

#include <hsakmt/hsakmt.h>

#include "report/value_format.h"

// clang-format off
inline constexpr std::array<NamePair, 9> ioLinkTypeNames{{
    {HSA_IOLINKTYPE_UNDEFINED,      "Undefined"},
    {HSA_IOLINKTYPE_HYPERTRANSPORT, "HyperTransport"},
    {HSA_IOLINKTYPE_PCIEXPRESS,     "PCIe"},
    {HSA_IOLINKTYPE_AMBA,           "AMBA"},
    {HSA_IOLINKTYPE_MIPI,           "MIPI"},
    {HSA_IOLINK_TYPE_QPI_1_1,       "QPI 1.1"},
    {HSA_IOLINK_TYPE_RAPID_IO,      "RapidIO"},
    {HSA_IOLINK_TYPE_INFINIBAND,    "InfiniBand"},
    {HSA_IOLINK_TYPE_OTHER,         "Other"},
}};
// clang-format on
// A short list would leave the last row empty.
static_assert(!ioLinkTypeNames.back().name.empty(), "9 filled rows");
