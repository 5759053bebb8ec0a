// Model builder: the topology model of what libhsakmt answers, as a fixture holds it.
#pragma once

#include "fixture/topology.h"
#include "reader/topology_reader.h"

/// Reads the machine and keeps each answer: a record as filled, a failing call as a fault for
/// that call (and node); a node whose properties cannot be had stays zero-filled. Throws
/// std::runtime_error when a node announces more banks or links than a fixture may list
/// (before they are asked for), std::bad_alloc when memory runs out.
Topology captureTopology(FailedNode failedNode);

/// The machine as kfdtopo reads it. Throws std::runtime_error with kfdtopo's message
/// ("HSAKMT Error <status>: Could not <action>") for a failed call that ends kfdtopo's run;
/// after a failed open with status 20 the open advice follows, one line each. The node
/// queries that kfdtopo survives (clock, banks, links, counters) stay faults in the model.
Topology readMachine();
