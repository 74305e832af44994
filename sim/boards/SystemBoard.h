#pragma once

#include <string>
#include <vector>

#include "sim/bridge/HostSystem.h"

namespace qrtsim {

// A board that is the computer the programs of the rig run on (the embedded vision system).
// The rig hands it the host (HostSystem) once the namespaces exist, after the board was built
// and before any program runs, and routes control commands for its section to it.
class SystemBoard {
  public:
    virtual ~SystemBoard() = default;

    // Puts the board's system files and event sources in place. Each entry of `notes` is a
    // part the board had to leave out, for a note on standard error.
    virtual void attachHost(HostSystem& host, std::vector<std::string>& notes) = 0;
    // One control command (the words after the section name). False with `reply` saying why
    // when the command is not understood or cannot be carried out.
    virtual bool control(const std::vector<std::string>& words, std::string& reply) = 0;
    // Takes in what programs left in the board's files, before the state is written.
    virtual void settle() {}
};

}  // namespace qrtsim
