#include "sim/chips/I2cBus.h"

namespace qrtsim {

I2cSlave* I2cBus::slaveAt(uint8_t address) const {
    auto it = slaves_.find(address & 0x7F);
    return it == slaves_.end() ? nullptr : it->second;
}

bool I2cBus::start(uint8_t address, bool read) {
    // A repeated start hands the bus to the new address; the previous device sees no stop.
    selected_ = slaveAt(address);
    if (selected_ == nullptr) return false;
    if (selected_->faults.active("nack", read ? "read" : "write")) {
        // The device leaves its address unacknowledged; it takes the master's stop that
        // follows as the end of what it had begun.
        selected_->stop();
        selected_ = nullptr;
        return false;
    }
    if (!selected_->start(read)) {
        selected_ = nullptr;
        return false;
    }
    return true;
}

bool I2cBus::writeByte(uint8_t byte) {
    return selected_ != nullptr && selected_->writeByte(byte);
}

uint8_t I2cBus::readByte(bool last) {
    if (selected_ == nullptr) return 0xFF;
    uint8_t byte = selected_->readByte(last);
    return selected_->faults.active("ff", "read") ? 0xFF : byte;
}

void I2cBus::stop() {
    if (selected_ != nullptr) selected_->stop();
    selected_ = nullptr;
}

size_t I2cBus::transfer(std::vector<Message>& messages) {
    size_t done = 0;
    for (auto& m : messages) {
        if (!start(static_cast<uint8_t>(m.address), m.read)) break;
        bool ok = true;
        if (m.read) {
            for (size_t i = 0; i < m.data.size(); ++i) m.data[i] = readByte(i + 1 == m.data.size());
        } else {
            for (uint8_t b : m.data) {
                if (!writeByte(b)) {
                    ok = false;
                    break;
                }
            }
        }
        if (!ok) break;
        ++done;
    }
    stop();
    return done;
}

}  // namespace qrtsim
