#include "sim/driver/I2cAdapter.h"

#include <cerrno>
#include <cstdio>

namespace qrtsim {

namespace {

std::string hexByte(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02x", value);
    return text;
}

std::string bytes(const std::vector<uint8_t>& data) {
    std::string text;
    char byte[4];
    for (size_t i = 0; i < data.size(); ++i) {
        std::snprintf(byte, sizeof byte, i == 0 ? "%02x" : " %02x", data[i]);
        text += byte;
    }
    return text;
}

}  // namespace

int I2cAdapter::transfer(std::vector<Message>& messages) {
    std::string name = "i2c-" + std::to_string(number_);
    if (faults_.active("fail")) {
        emit(name + " transfer of " + std::to_string(messages.size()) + " messages -> EIO (fault)");
        return -EIO;
    }
    if (messages.empty() || messages.size() > kMaxMessages) {
        emit(name + " transfer of " + std::to_string(messages.size()) + " messages -> rejected");
        return -EINVAL;
    }
    for (const Message& m : messages) {
        std::string what = name + " message addr=" + hexByte(m.address) +
                           " flags=" + hexByte(m.flags) + " len=" + std::to_string(m.data.size());
        if (m.flags & ~kFlagRead) {
            emit(what + " -> flags not supported by this adapter");
            return -EOPNOTSUPP;
        }
        if (m.address > 0x7F || m.data.size() > kMaxMessageBytes) {
            emit(what + " -> rejected");
            return -EINVAL;
        }
    }

    std::vector<I2cBus::Message> wire(messages.size());
    for (size_t i = 0; i < messages.size(); ++i) {
        wire[i].address = messages[i].address;
        wire[i].read = (messages[i].flags & kFlagRead) != 0;
        wire[i].data = messages[i].data;
    }
    size_t done = bus_.transfer(wire);

    for (size_t i = 0; i < messages.size() && i <= done; ++i) {
        Message& m = messages[i];
        bool read = (m.flags & kFlagRead) != 0;
        std::string line = name + (read ? " read" : " write") + " addr=" + hexByte(m.address);
        if (i == done) {
            emit(line + (read ? " len=" + std::to_string(m.data.size()) : " " + bytes(m.data)) +
                 " -> nack");
            break;
        }
        if (read) {
            m.data = wire[i].data;
            emit(line + " len=" + std::to_string(m.data.size()) + " -> " + bytes(m.data));
        } else {
            emit(line + " " + bytes(m.data) + " -> ack");
        }
    }
    if (done < messages.size()) return -ENXIO;
    return static_cast<int>(done);
}

}  // namespace qrtsim
