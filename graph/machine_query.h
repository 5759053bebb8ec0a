// Machine query: what libhsakmt answers about the nodes and their IO links.
#pragma once

#include <vector>

#include <hsakmt/hsakmt.h>

/// One node's properties and the IO links it lists, in the library's order.
struct NodeRecords {
    HsaNodeProperties properties{};
    std::vector<HsaIoLinkProperties> links;
};

/// The library's answers: version, system properties and node i at index i.
struct MachineRecords {
    HsaVersionInfo version{};
    HsaSystemProperties system{};
    std::vector<NodeRecords> nodes;
};

/// Opens KFD, asks for the version, the system properties, each node's properties and, for a
/// node that has any, its IO links, then releases the properties and closes KFD. Throws
/// std::runtime_error with kfdtopo's message ("HSAKMT Error <status>: Could not <action>") at
/// the first call that fails; after a failed open with status 20 the message carries the open
/// advice, one line each.
MachineRecords queryMachine();
