// Benchmark floor: kfdtopo's library calls, made by its reader, with nothing printed.
#include "reader/topology_reader.h"

int main() {
    TopologyConsumer nothing;
    readTopology(nothing);
    return 0;
}
