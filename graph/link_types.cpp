// Link types: name, code and colour of each type, in one table.
#include "graph/link_types.h"

#include <array>
#include <optional>
#include <string_view>

#include <hsakmt/hsakmt.h>

#include "memory_links/io_link_type_names.h"
#include "report/value_format.h"

namespace {
struct LinkTypeRow {
    std::uint32_t type;
    std::string_view name;
    std::string_view code;
    std::string_view colour;
};

// The report's names, and names for the header's types that the report leaves unnamed. Codes
// are letters only, so that the weight after them reads apart.
// clang-format off
constexpr std::array<LinkTypeRow, 14> linkTypeRows{{
    {HSA_IOLINKTYPE_UNDEFINED,        "Undefined",      "U",    "#7f7f7f"},
    {HSA_IOLINKTYPE_HYPERTRANSPORT,   "HyperTransport", "HT",   "#2ca02c"},
    {HSA_IOLINKTYPE_PCIEXPRESS,       "PCIe",           "P",    "#1f77b4"},
    {HSA_IOLINKTYPE_AMBA,             "AMBA",           "AMBA", "#8c564b"},
    {HSA_IOLINKTYPE_MIPI,             "MIPI",           "MIPI", "#8c564b"},
    {HSA_IOLINK_TYPE_QPI_1_1,         "QPI 1.1",        "Q",    "#9467bd"},
    {HSA_IOLINK_TYPE_RAPID_IO,        "RapidIO",        "RIO",  "#8c564b"},
    {HSA_IOLINK_TYPE_INFINIBAND,      "InfiniBand",     "IB",   "#17becf"},
    {HSA_IOLINK_TYPE_XGMI,            "XGMI",           "X",    "#d62728"},
    {HSA_IOLINK_TYPE_XGOP,            "XGOP",           "XGOP", "#ff7f0e"},
    {HSA_IOLINK_TYPE_GZ,              "GZ",             "GZ",   "#ff7f0e"},
    {HSA_IOLINK_TYPE_ETHERNET_RDMA,   "Ethernet RDMA",  "ER",   "#bcbd22"},
    {HSA_IOLINK_TYPE_RDMA_OTHER,      "other RDMA",     "R",    "#bcbd22"},
    {HSA_IOLINK_TYPE_OTHER,           "Other",          "O",    "#e377c2"},
}};
// clang-format on
static_assert(!linkTypeRows.back().code.empty(), "14 filled rows");

constexpr std::optional<LinkTypeRow> findLinkType(std::uint32_t type) {
    for (const LinkTypeRow& row : linkTypeRows) {
        if (row.type == type) {
            return row;
        }
    }
    return std::nullopt;
}

// Every type the report names has a row, under the report's name.
constexpr bool namedAsTheReportNamesThem() {
    for (const NamePair& pair : ioLinkTypeNames) {
        const std::optional<LinkTypeRow> row = findLinkType(static_cast<std::uint32_t>(pair.value));
        if (!row || row->name != pair.name) {
            return false;
        }
    }
    return true;
}
static_assert(namedAsTheReportNamesThem());

constexpr std::string_view unknownColour = "#7f7f7f";
}  // namespace

std::optional<std::string> linkTypeName(std::uint32_t type) {
    if (const std::optional<LinkTypeRow> row = findLinkType(type)) {
        return std::string(row->name);
    }
    return std::nullopt;
}

LinkTypeStyle linkTypeStyle(std::uint32_t type) {
    if (const std::optional<LinkTypeRow> row = findLinkType(type)) {
        return {std::string(row->name), std::string(row->code), std::string(row->colour)};
    }
    const std::string number = decimalText(static_cast<std::int32_t>(type));
    return {"unknown (" + number + ")", "(" + number + ")", std::string(unknownColour)};
}
