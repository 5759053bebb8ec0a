#!/usr/bin/env python3
"""Plants faults in a fixture: writes OUTPUT, the machine of INPUT (.json or .json.gz) changed
by each EDIT in turn. Devices are named as kfdtopo-diff names them: a GPU by its PCI bus in
hex ("0a"), a partition by bus and function ("0a.1"), a CPU node by "cpu" and its order.

    plant.py INPUT OUTPUT [EDIT...]
    plant.py --batch FILE      the same for each line "INPUT OUTPUT [EDIT...]" of FILE

    lean                       keeps each node's first two counter blocks, four counters each
    identities:N               other UniqueID, KFDGpuID, HiveID, DrmRenderMinor and MMIO remap
                               address, as another machine of the same model has
    drop-gpu:BUS               removes the GPU's nodes, and the links to them
    drop-partition:BUS.FN      removes one partition, and the links to it
    move:BUS:NEWBUS            puts the GPU on another bus
    cut-links:BUS:TYPE         removes the links of a type from and to the GPU
    set:DEVICE:FIELD:VALUE     sets a node property (every partition of a GPU)
    bank:DEVICE:INDEX:FIELD:VALUE     sets a field of a memory bank
    link:FROM:TO:FIELD:VALUE   sets a field of the links from one device's nodes to another's
    drop-block:DEVICE:INDEX    removes a counter block
"""
import gzip
import json
import sys


def load(path):
    opener = gzip.open if path.endswith(".gz") else open
    with opener(path, "rt") as f:
        return json.load(f)


def is_gpu(node):
    return node["properties"].get("NumFComputeCores", 0) != 0


def selected(topology, device):
    """Node numbers of a device: "cpuN", "BUS" or "BUS.FN"."""
    if device.startswith("cpu"):
        cpus = [i for i, n in enumerate(topology["nodes"]) if not is_gpu(n)]
        return [cpus[int(device[3:])]]
    bus, _, function = device.partition(".")
    found = []
    for i, node in enumerate(topology["nodes"]):
        location = node["properties"].get("LocationId", 0)
        if is_gpu(node) and (location >> 8) & 0xFF == int(bus, 16) and (
            not function or location & 0x7 == int(function, 16)
        ):
            found.append(i)
    if not found:
        sys.exit(f"plant.py: no device {device}")
    return found


def set_links(node, links):
    count = node["properties"].get("NumIOLinks")
    if count is not None:
        node["properties"]["NumIOLinks"] = count - len(node.get("io_links", [])) + len(links)
    node["io_links"] = links


def drop_nodes(topology, dropped):
    dropped = set(dropped)
    renumber, kept = {}, []
    for i, node in enumerate(topology["nodes"]):
        if i not in dropped:
            renumber[i] = len(kept)
            kept.append(node)
    for node in kept:
        # An export leaves out the fields that are 0.
        links = [link for link in node.get("io_links", []) if link.get("NodeTo", 0) not in dropped]
        for link in links:
            link["NodeFrom"] = renumber[link.get("NodeFrom", 0)]
            link["NodeTo"] = renumber[link.get("NodeTo", 0)]
        set_links(node, links)
    topology["nodes"] = kept
    topology["faults"] = [f for f in topology.get("faults", []) if f.get("node") not in dropped]
    for fault in topology["faults"]:
        if "node" in fault:
            fault["node"] = renumber[fault["node"]]


def lean(topology):
    for node in topology["nodes"]:
        counters = node.get("counters")
        if counters:
            counters["blocks"] = counters["blocks"][:2]
            for block in counters["blocks"]:
                block["counters"] = block["counters"][:4]


def identities(topology, seed):
    seed = int(seed)
    for index, node in enumerate(topology["nodes"]):
        p = node["properties"]
        if not is_gpu(node):
            continue
        p["UniqueID"] = (p.get("UniqueID", 0) * 31 + seed) % 2**64 or 1
        p["KFDGpuID"] = 1000 * seed + index
        p["DrmRenderMinor"] = p.get("DrmRenderMinor", 0) + seed
        if p.get("HiveID", 0):
            p["HiveID"] = (p["HiveID"] * 17 + seed) % 2**64 or 1
        for bank in node.get("mem_banks", []):
            if bank.get("HeapType") == 7:
                bank["VirtualBaseAddress"] = 0x7F00_0000_0000 + seed * 0x1000 + index


def drop_gpu(topology, bus):
    drop_nodes(topology, selected(topology, bus))


def move(topology, bus, new_bus):
    for i in selected(topology, bus):
        p = topology["nodes"][i]["properties"]
        p["LocationId"] = (p["LocationId"] & ~0xFF00) | (int(new_bus, 16) << 8)


def cut_links(topology, bus, link_type):
    nodes = set(selected(topology, bus))
    for i, node in enumerate(topology["nodes"]):
        set_links(node, [
            link for link in node.get("io_links", [])
            if link.get("IoLinkType", 0) != int(link_type)
            or (i not in nodes and link.get("NodeTo", 0) not in nodes)
        ])


def set_property(topology, device, field, value):
    for i in selected(topology, device):
        topology["nodes"][i]["properties"][field] = int(value, 0)


def set_bank(topology, device, index, field, value):
    for i in selected(topology, device):
        topology["nodes"][i]["mem_banks"][int(index)][field] = int(value, 0)


def set_link(topology, source, target, field, value):
    targets = set(selected(topology, target))
    for i in selected(topology, source):
        for link in topology["nodes"][i].get("io_links", []):
            if link.get("NodeTo", 0) in targets:
                link[field] = int(value, 0)


def drop_block(topology, device, index):
    for i in selected(topology, device):
        del topology["nodes"][i]["counters"]["blocks"][int(index)]


edits = {
    "lean": lean,
    "identities": identities,
    "drop-gpu": drop_gpu,
    "drop-partition": drop_gpu,
    "move": move,
    "cut-links": cut_links,
    "set": set_property,
    "bank": set_bank,
    "link": set_link,
    "drop-block": drop_block,
}

def plant(topology, output, edit_list):
    for edit in edit_list:
        name, *arguments = edit.split(":")
        if name not in edits:
            sys.exit(f"plant.py: unknown edit {edit}")
        edits[name](topology, *arguments)
    with open(output, "w") as f:
        json.dump(topology, f)


if len(sys.argv) == 3 and sys.argv[1] == "--batch":
    loaded = {}
    with open(sys.argv[2]) as batch:
        for line in batch:
            source, output, *edit_list = line.split()
            if source not in loaded:
                loaded[source] = json.dumps(load(source))
            plant(json.loads(loaded[source]), output, edit_list)
elif len(sys.argv) >= 3:
    plant(load(sys.argv[1]), sys.argv[2], sys.argv[3:])
else:
    sys.exit(__doc__)
