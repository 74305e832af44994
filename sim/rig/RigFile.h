#pragma once

#include <optional>
#include <string>
#include <vector>

#include "sim/boards/Board.h"

namespace qrtsim {

// A rig as its file describes it: one section per product, taken in section-name order, which
// is the rig's PCI order, and an optional [driver] section for the kit's kernel driver.
struct RigDescription {
    std::string file;                   // the rig file, as errors name it
    std::optional<BoardConfig> driver;  // the [driver] section
    std::vector<BoardConfig> boards;    // product sections, in name order
    uint64_t seed = 1;                  // of the chips' latency draws (qrt-sim --seed)
};

// Name of the section that configures the kernel driver rather than a product.
constexpr const char kDriverSection[] = "driver";

// Reads a rig file in the sectioned configuration format. Throws RigError naming the file,
// and the line or the section and key, for anything the format would silently drop: entries
// before the first section, indented or malformed lines, a key given twice in a section. The
// meaning of the keys is checked when the rig is built.
RigDescription loadRigFile(const std::string& path);

// The rig qrt-sim uses without --rig.
RigDescription defaultRig();

}  // namespace qrtsim
