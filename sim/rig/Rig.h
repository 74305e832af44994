#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/boards/Board.h"
#include "sim/boards/SystemBoard.h"
#include "sim/driver/I2cAdapter.h"
#include "sim/driver/VirtualPciDriver.h"
#include "sim/rig/RigClock.h"
#include "sim/rig/RigFile.h"

namespace qrtsim {

// The virtual rig: the boards a rig file describes, the kit's kernel driver with every board's
// PCI functions in section order, and the Linux I2C adapters the boards provide. What reaches
// the rig from programs (the bridge) and what the rig needs from the host (network interfaces)
// goes through here. Not thread-safe: one thread serves the rig, as one bus serialises the
// hardware.
class Rig {
  public:
    using Trace = std::function<void(const std::string&)>;

    // A host network interface that carries one port's MAC address (keys macN / ipN).
    struct HostPort {
        std::string section;
        int port = 0;
        std::string interface;  // at most 15 characters
        std::array<uint8_t, 6> mac{};
        std::string ipv4;  // empty: none
        int prefixLength = 24;
    };

    // Keys of a product section that the rig handles itself (driver fault injection).
    static const std::vector<std::string>& rigKeys();

    // Builds every board. Throws RigError naming file, section and key for a bad section.
    Rig(const RigDescription& description, Trace trace, FrameSink& frames);
    ~Rig();
    Rig(const Rig&) = delete;
    Rig& operator=(const Rig&) = delete;

    // The kernel driver; null when the rig has no driver node ([driver] present = 0).
    VirtualPciDriver* pciDriver() { return driver_.get(); }
    // The adapter "/dev/i2c-<number>", or null.
    I2cAdapter* i2cAdapter(int number);
    std::vector<int> i2cAdapterNumbers() const;
    const std::vector<HostPort>& hostPorts() const { return hostPorts_; }
    // Where a frame a board sends out of a camera port goes besides the capture: out of that
    // port's host interface, towards the cable's other end. Ports without a host interface
    // keep their frames to the capture.
    using PortEgress = std::function<void(const HostPort&, const std::vector<uint8_t>&)>;
    void setPortEgress(PortEgress egress) { egress_ = std::move(egress); }

    // The clock every board's chips run on.
    RigClock& clock() { return clock_; }

    Board& board(size_t index) { return *boards_[index].board; }

    // Hands the host to every board that is the computer the programs run on; `notes` gathers
    // what such a board had to leave out.
    void attachHost(HostSystem& host, std::vector<std::string>& notes);
    // One control line, "<section> <command> [arguments]", for the board of that section.
    // False with `reply` saying why when it is not carried out. "fault" and "clear" set and
    // clear the faults of a chip of any board ("<section> fault <chip> <mode> [value]
    // [request]", "<section> clear [<chip> [<mode> [request]]]"); section "driver" names the
    // kernel driver itself.
    bool control(const std::string& line, std::string& reply);
    // Lets the boards take in what programs left in their files, before the state is written.
    void settle();

    // {"rig": file, "boards": [{"section", "model", board state...}], "driver": {...},
    //  "i2c_adapters": [numbers], "violations": total of every model's violation counts}
    void saveState(nlohmann::json& out) const;

  private:
    class BoardFrames;
    struct BuiltBoard {
        BoardConfig config;
        std::unique_ptr<FrameSink> frames;  // the capture, and the board's port cables
        std::unique_ptr<BoardContext> context;
        std::unique_ptr<Board> board;
    };

    void configureDriver(const RigDescription& description);
    void addBoard(const BoardConfig& config, FrameSink& frames);
    static void applySlowKey(const BoardConfig& config, Board& board);
    void addHostPorts(const BoardConfig& config);
    void sendToPort(const std::string& section, int port, const std::vector<uint8_t>& frame);
    // The fault tables a section's chips answer to by name: the board's own, "pcimap" (the
    // driver's requests to the board's PCI functions) and "i2c-N" (the adapters it provides).
    std::map<std::string, std::vector<FaultTable*>> faultTables(const std::string& section) const;
    bool controlFaults(const std::vector<std::string>& words, std::string& reply);

    std::string file_;
    uint64_t seed_ = 1;
    Trace trace_;
    RigClock clock_;
    std::unique_ptr<VirtualPciDriver> driver_;
    std::vector<BuiltBoard> boards_;  // destroyed before the driver's functions are forgotten
    std::map<int, std::unique_ptr<I2cAdapter>> adapters_;
    std::vector<HostPort> hostPorts_;
    PortEgress egress_;
};

}  // namespace qrtsim
