// kfdsim-check: loads a topology as kfdsim would and prints kfdsim's one line if it refuses it.
#include <exception>
#include <iostream>
#include <new>

#include "sim/api/topology_source.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: kfdsim-check FIXTURE|TREE\n";
        return 2;
    }
    try {
        loadTopologySource(argv[1]);
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception& refusal) {
        std::cerr << "kfdsim: " << refusal.what() << "\n";
        return 1;
    }
    return 0;
}
