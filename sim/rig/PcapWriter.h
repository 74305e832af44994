#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "sim/boards/Board.h"

namespace qrtsim {

// Ethernet frames the rig's boards emit, as a classic pcap file (`qrt-sim --pcap`): the
// microsecond format, link type Ethernet, each frame stamped with the host's clock when it was
// emitted. Without a file the frames are only counted.
class PcapWriter : public FrameSink {
  public:
    static constexpr uint32_t kMagic = 0xA1B2C3D4;
    static constexpr uint32_t kSnapLength = 65535;
    static constexpr uint32_t kLinkTypeEthernet = 1;

    PcapWriter() = default;
    ~PcapWriter() override;
    PcapWriter(const PcapWriter&) = delete;
    PcapWriter& operator=(const PcapWriter&) = delete;

    // Creates `path` with the file header; false (with `error` set) when it cannot be written.
    bool open(const std::string& path, std::string& error);
    void emitFrame(const std::vector<uint8_t>& frame) override;
    size_t frames() const { return frames_; }
    void close();

  private:
    std::FILE* file_ = nullptr;
    size_t frames_ = 0;
};

}  // namespace qrtsim
