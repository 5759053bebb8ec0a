// Topology capture: every answer libhsakmt gives to the queries kfdtopo makes.
#pragma once

#include "fixture/topology.h"

/// Calls the libhsakmt functions kfdtopo calls, in its order, with its arguments and under its
/// conditions, and keeps each answer: a record as filled, a failing call as a fault for that
/// call (and node). A failed open, version, acquire or release ends the capture there; a failed
/// node query leaves that node zero-filled and the capture goes on with the next node, up to 16
/// failed node queries in a row. Throws std::runtime_error when a node announces more banks or
/// links than a fixture may list, std::bad_alloc when memory runs out.
Topology captureTopology();
