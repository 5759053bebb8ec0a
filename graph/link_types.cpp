// Link types: codes and colours beside the report's name table.
#include "graph/link_types.h"

#include <array>
#include <string_view>

#include <hsakmt/hsakmt.h>

#include "memory_links/io_link_type_names.h"
#include "report/value_format.h"

namespace {
struct LinkTypeRow {
    std::uint32_t type;
    std::string_view code;
    std::string_view colour;
};

// Codes are letters only, so that the weight after them reads apart.
// clang-format off
constexpr std::array<LinkTypeRow, 14> linkTypeRows{{
    {HSA_IOLINKTYPE_UNDEFINED,        "U",   "#7f7f7f"},
    {HSA_IOLINKTYPE_HYPERTRANSPORT,   "HT",  "#2ca02c"},
    {HSA_IOLINKTYPE_PCIEXPRESS,       "P",   "#1f77b4"},
    {HSA_IOLINKTYPE_AMBA,             "AMBA", "#8c564b"},
    {HSA_IOLINKTYPE_MIPI,             "MIPI", "#8c564b"},
    {HSA_IOLINK_TYPE_QPI_1_1,         "Q",   "#9467bd"},
    {HSA_IOLINK_TYPE_RAPID_IO,        "RIO", "#8c564b"},
    {HSA_IOLINK_TYPE_INFINIBAND,      "IB",  "#17becf"},
    {HSA_IOLINK_TYPE_XGMI,            "X",   "#d62728"},
    {HSA_IOLINK_TYPE_XGOP,            "XGOP", "#ff7f0e"},
    {HSA_IOLINK_TYPE_GZ,              "GZ",  "#ff7f0e"},
    {HSA_IOLINK_TYPE_ETHERNET_RDMA,   "ER",  "#bcbd22"},
    {HSA_IOLINK_TYPE_RDMA_OTHER,      "R",   "#bcbd22"},
    {HSA_IOLINK_TYPE_OTHER,           "O",   "#e377c2"},
}};

// The header's types that the report prints as unknown.
constexpr std::array<NamePair, 5> unnamedLinkTypeNames{{
    {HSA_IOLINK_TYPE_XGMI,          "XGMI"},
    {HSA_IOLINK_TYPE_XGOP,          "XGOP"},
    {HSA_IOLINK_TYPE_GZ,            "GZ"},
    {HSA_IOLINK_TYPE_ETHERNET_RDMA, "Ethernet RDMA"},
    {HSA_IOLINK_TYPE_RDMA_OTHER,    "other RDMA"},
}};
// clang-format on
static_assert(!linkTypeRows.back().code.empty(), "14 filled rows");
static_assert(!unnamedLinkTypeNames.back().name.empty(), "5 filled rows");

constexpr std::string_view unknownColour = "#7f7f7f";
}  // namespace

LinkTypeStyle linkTypeStyle(std::uint32_t type) {
    const auto key = static_cast<std::int32_t>(type);
    std::string name = valueName(makeNameTable(ioLinkTypeNames), key);
    const std::string extra = valueName(makeNameTable(unnamedLinkTypeNames), key);
    if (extra.rfind("unknown (", 0) != 0) {
        name = extra;
    }
    for (const LinkTypeRow& row : linkTypeRows) {
        if (row.type == type) {
            return {name, std::string(row.code), std::string(row.colour)};
        }
    }
    return {name, "(" + decimalText(key) + ")", std::string(unknownColour)};
}
