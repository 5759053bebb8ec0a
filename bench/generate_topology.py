#!/usr/bin/env python3
"""Writes a kfdsim fixture of a scaled machine for the benchmark.

  generate_topology.py nodes N OUT    N GPU nodes, each with 1,000 counters in four
                                      blocks, 16 memory banks and N - 1 IO links
  generate_topology.py counters N OUT one GPU node with N counters in one block
"""
import json
import sys

MASK64 = 2**64 - 1
BLOCK_IDS = [
    "b5c396b6-d310-47e4-86fc-5cc3043af508",  # SQ
    "848ce855-d805-4566-a8ab-73e884cc6bff",  # TCC
    "e10a013b-17d4-4bf5-b089-429591059b60",  # TCP
    "c01ee43d-ad92-44b1-8ab9-be5e696ceea7",  # TA
]


def counters(count, block_index):
    """Counters grouped as a GPU reports them: mostly 64-bit immediate counters, some
    32-bit ones, a few streaming and privileged global ones, with gaps in the IDs."""
    result = []
    for i in range(count):
        kind = i % 20
        if kind < 14:
            counter = {"Type": 2, "CounterSizeInBits": 64, "CounterMask": MASK64, "Flags": 2}
        elif kind < 17:
            counter = {"Type": 2, "CounterSizeInBits": 32, "CounterMask": 2**32 - 1, "Flags": 2}
        elif kind < 19:
            counter = {"Type": 3, "CounterSizeInBits": 64, "CounterMask": MASK64, "Flags": 8}
        else:
            counter = {"Type": 0, "CounterSizeInBits": 64, "CounterMask": MASK64, "Flags": 5}
        # Every 50th ID is left out, as registers a block reserves.
        counter["CounterId"] = i + i // 49
        counter["BlockIndex"] = block_index
        result.append(counter)
    return result


def gpu_node(index, node_count, blocks):
    return {
        "properties": {
            "NumFComputeCores": 304, "NumXcc": 2, "MaxWavesPerSIMD": 8, "LDSSizeInKB": 64,
            "WaveFrontSize": 64, "NumShaderBanks": 8, "NumArrays": 1, "NumCUPerArray": 10,
            "NumSIMDPerCU": 4, "MaxSlotsScratchCU": 32, "Capability": 0x2C37D280,
            "EngineId": 151 | 9 << 10 | 4 << 16 | 2 << 24, "VendorId": 0x1002,
            "DeviceId": 0x74A1, "LocationId": (index % 256) << 8, "Domain": index // 256,
            "LocalMemSize": 51539607552, "MaxEngineClockMhzFCompute": 2100,
            "MaxEngineClockMhzCCompute": 3707, "DrmRenderMinor": 128 + index,
            "MarketingName": "AMD Instinct MI300X", "AMDName": "gfx942",
            "HiveID": 0x9B6C3E2F58D4A710, "NumSdmaEngines": 2, "NumSdmaXgmiEngines": 14,
            "NumSdmaQueuesPerEngine": 8, "NumCpQueues": 24, "NumGws": 64,
            "UniqueID": 0x3CB5D0A7E91F0000 + index, "VGPRSizePerCU": 524288,
            "SGPRSizePerCU": 16384, "KFDGpuID": 0xB1F7 + index, "FamilyID": 141,
        },
        "clock": {"SystemClockFrequencyHz": 100000000},
        "mem_banks": [
            {"HeapType": 1 if bank == 0 else 4 + bank % 4, "SizeInBytes": 51539607552 >> bank,
             "Width": 8192, "MemoryClockMax": 2600,
             "VirtualBaseAddress": 0 if bank == 0 else bank << 48}
            for bank in range(16)
        ],
        "io_links": [
            {"IoLinkType": 11, "VersionMajor": 1, "NodeFrom": index, "NodeTo": other,
             "Weight": 15, "MinimumBandwidth": 50000, "MaximumBandwidth": 50000,
             "RecTransferSize": 0, "Flags": 0 if other % 2 else 1}
            for other in range(node_count) if other != index
        ],
        "counters": {
            "NumConcurrent": len(blocks),
            "blocks": [
                {"BlockId": BLOCK_IDS[b % len(BLOCK_IDS)], "NumConcurrent": 8,
                 "counters": counters(count, b)}
                for b, count in enumerate(blocks)
            ],
        },
    }


def main():
    if len(sys.argv) != 4 or sys.argv[1] not in ("nodes", "counters"):
        sys.exit(__doc__)
    kind, size, out = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    if kind == "nodes":
        nodes = [gpu_node(i, size, [250, 250, 250, 250]) for i in range(size)]
    else:
        nodes = [gpu_node(0, 1, [size])]
    fixture = {
        "version": {"KernelInterfaceMajorVersion": 1, "KernelInterfaceMinorVersion": 17},
        "nodes": nodes,
    }
    with open(out, "w", encoding="utf-8") as f:
        json.dump(fixture, f, separators=(",", ":"))


if __name__ == "__main__":
    main()
