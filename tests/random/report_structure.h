// Report structure check: the line grammar and nesting of a complete kfdtopo report.
#pragma once

#include <string>
#include <string_view>

/// The first way `report` departs from the structure of a complete report without error
/// lines, as "line <n>: <problem>" and the line; empty when it keeps it. Every line must be a
/// bold title allowed where it stands or "<label>: <value>" with a label of its section and a
/// value of that label's form (decimal fields hold decimal digits only), indented by four
/// spaces per open section; a title is followed by its lines one level deeper; every section
/// has all its lines once; section numbers count from 0; the counts printed (nodes, memory
/// banks, IO links, blocks, counters) match the sections and IDs that follow.
std::string reportStructureProblem(std::string_view report);
