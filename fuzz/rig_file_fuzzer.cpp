// libFuzzer target for qrt-sim's rig files: any file either is refused with a RigError (which
// qrt-sim reports with exit status 2) or builds a rig whose state document can be written. Any
// other exception, a crash or a hang is a finding.

#include <cstdint>

#include <nlohmann/json.hpp>

#include "fuzz/FuzzInput.h"
#include "sim/rig/JsonText.h"
#include "sim/rig/PcapWriter.h"
#include "sim/rig/Rig.h"
#include "sim/rig/RigFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = fuzzinput::scratchFile("rig", data, size);
    try {
        qrtsim::RigDescription description = qrtsim::loadRigFile(path);
        qrtsim::PcapWriter frames;
        qrtsim::Rig rig(description, qrtsim::Rig::Trace(), frames);
        nlohmann::json state;
        rig.saveState(state);
        qrtsim::escapeInvalidUtf8(state);
        (void)state.dump(2);
    } catch (const qrtsim::RigError&) {
        // refused, as qrt-sim refuses it
    }
    return 0;
}
