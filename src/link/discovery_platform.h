#pragma once
// What adapter discovery asks of the system it runs on: the adapters attached,
// and each one's identity and device node. The numbering rules, the result
// codes and the port choice stay in discovery.cpp; discovery_linux.cpp answers
// from sysfs, and another system's file would answer the same two questions.
#include <cstdint>
#include <string>
#include <vector>

#include "link/discovery.h"

// An attached adapter as the system lists it, before it is looked at.
struct RAdapterCandidate {
    std::string mTty;       // its tty name: the numbering follows these names
    std::string mUsbDevice; // where its vendor ID, product ID and serial number are read
    std::string mInterface; // its USB interface, the one the driver is bound to
};

// The adapters attached, in no particular order. 0, or 253 when the system
// offers no device tree to search (or is not supported), or 3 when the tree
// cannot be listed. An empty root means the system's own (BEAMPORT_SYSFS_ROOT,
// else "/sys").
uint8_t FindAdapterCandidates(const std::string &treeRoot, std::vector<RAdapterCandidate> &out);

// Identity and device node of one candidate: `number` becomes its port number
// when its device node exists under devRoot (empty: BEAMPORT_DEV_ROOT, else
// "/dev"). 0, or 3 when its vendor ID, product ID or serial number cannot be
// read.
uint8_t IdentifyAdapter(const RAdapterCandidate &candidate, const std::string &devRoot, int32_t number,
                        RAdapterInfo &info);
