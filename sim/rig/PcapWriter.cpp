#include "sim/rig/PcapWriter.h"

#include <sys/time.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace qrtsim {

namespace {

// pcap fields are in the writer's byte order; the magic tells readers which one that is.
void put32(std::FILE* file, uint32_t value) {
    std::fwrite(&value, sizeof value, 1, file);
}
void put16(std::FILE* file, uint16_t value) {
    std::fwrite(&value, sizeof value, 1, file);
}

}  // namespace

PcapWriter::~PcapWriter() {
    close();
}

bool PcapWriter::open(const std::string& path, std::string& error) {
    close();
    // Close-on-exec: the program under test must not inherit (and could not close) the file.
    file_ = std::fopen(path.c_str(), "wbe");
    if (file_ == nullptr) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    put32(file_, kMagic);
    put16(file_, 2);  // version 2.4
    put16(file_, 4);
    put32(file_, 0);  // time zone offset
    put32(file_, 0);  // time stamp accuracy
    put32(file_, kSnapLength);
    put32(file_, kLinkTypeEthernet);
    std::fflush(file_);
    return true;
}

void PcapWriter::emitFrame(const std::vector<uint8_t>& frame) {
    ++frames_;
    if (file_ == nullptr) return;
    struct timeval now {};
    gettimeofday(&now, nullptr);
    uint32_t captured = static_cast<uint32_t>(std::min<size_t>(frame.size(), kSnapLength));
    put32(file_, static_cast<uint32_t>(now.tv_sec));
    put32(file_, static_cast<uint32_t>(now.tv_usec));
    put32(file_, captured);
    put32(file_, static_cast<uint32_t>(frame.size()));
    std::fwrite(frame.data(), 1, captured, file_);
    std::fflush(file_);
}

void PcapWriter::close() {
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
}

}  // namespace qrtsim
