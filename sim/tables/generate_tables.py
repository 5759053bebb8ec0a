#!/usr/bin/env python3
"""Turns libhsakmt's device and counter tables (JSON) into kfdsim's constexpr arrays.

Usage: generate_tables.py DEVICE_TABLE.json COUNTER_TABLES.json OUTPUT.inc
"""
import json
import sys


def uuid(text):
    parts = text.split("-")
    tail = parts[3] + parts[4]
    data4 = ", ".join(f"0x{tail[i:i + 2]}" for i in range(0, 16, 2))
    return f"{{0x{parts[0]}, 0x{parts[1]}, 0x{parts[2]}, {{{data4}}}}}"


def id_runs(text):
    for run in text.split(","):
        first, _, last = run.strip().partition("-")
        yield int(first), int(last or first)


def main(device_path, counter_path, output_path):
    with open(device_path, encoding="utf-8") as f:
        devices = json.load(f)["rows"]
    with open(counter_path, encoding="utf-8") as f:
        tables = json.load(f)["tables"]

    out = ["// Generated from sim/tables/*.json by generate_tables.py: do not edit.", ""]
    out.append("constexpr DeviceRow deviceRows[] = {")
    for row in devices:
        version = row["gfx"].replace(".", ", ")
        out.append(f'    {{{row["DeviceId"]}, {{{version}}}, "{row["AMDName"]}"}},')
    out.append("};")

    runs, blocks, families = [], [], []
    for table in tables:
        first_block = len(blocks)
        for block in table["blocks"]:
            first_run = len(runs)
            runs.extend(f"    {{{a}, {b}}}," for a, b in id_runs(block["CounterIds"]))
            blocks.append(
                f'    {{{uuid(block["BlockId"])}, {block["NumConcurrent"]}, {block["BlockIndex"]}, '
                f'{block["Type"]}, {block["CounterSizeInBits"]}, {block["CounterMask"]}u, '
                f'{block["Flags"]}, {first_run}, {len(runs) - first_run}}},')
        families.append(f'    {{"{table["family"]}", {table["NumConcurrent"]}, {first_block}, '
                        f'{len(blocks) - first_block}}},')
    for name, kind, rows in (("counterIdRuns", "IdRun", runs),
                             ("counterBlockRows", "CounterBlockRow", blocks),
                             ("counterTableRows", "CounterTableRow", families)):
        out += ["", f"constexpr {kind} {name}[] = {{", *rows, "};"]

    with open(output_path, "w", encoding="utf-8") as f:
        f.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main(*sys.argv[1:])
