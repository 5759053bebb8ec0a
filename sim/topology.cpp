// Topology model: fault matching.
#include "sim/topology.h"

std::optional<HSAint32> injectedFault(const std::vector<Fault>& faults, KfdCall call,
                                      std::optional<HSAuint32> node) {
    for (const Fault& fault : faults) {
        if (fault.call == call && (!fault.node || fault.node == node)) {
            return fault.status;
        }
    }
    return std::nullopt;
}
