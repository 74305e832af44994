#include "sim/chips/At24c02d.h"

#include <cstdio>
#include <string>

namespace qrtsim {

namespace {
constexpr size_t kWriteLogLimit = 4096;
}

At24c02d::At24c02d() {
    memory_.fill(0xFF);
}  // erased cells read 0xFF

bool At24c02d::start(bool read) {
    std::lock_guard<std::mutex> lock(mutex_);
    // A write not closed by a stop is abandoned: the page buffer is never programmed.
    pageBuffer_.clear();
    writing_ = false;
    addressPending_ = false;
    if (busyStarts_ > 0) {
        --busyStarts_;  // internal write cycle still running
        return false;
    }
    writing_ = !read;
    addressPending_ = !read;
    return true;
}

bool At24c02d::writeByte(uint8_t byte) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!writing_) return false;
    if (addressPending_) {
        counter_ = byte;
        firstAddress_ = byte;
        addressPending_ = false;
        return true;
    }
    if (writeProtect_) return false;
    pageBuffer_.emplace_back(counter_, byte);
    // Only the low three bits count up while data comes in: the page wraps onto itself.
    counter_ =
        static_cast<uint8_t>((counter_ & ~(kPageSize - 1)) | ((counter_ + 1) & (kPageSize - 1)));
    return true;
}

uint8_t At24c02d::readByte(bool last) {
    (void)last;
    std::lock_guard<std::mutex> lock(mutex_);
    if (writing_) return 0xFF;
    uint8_t value = memory_[counter_];
    counter_ = static_cast<uint8_t>(counter_ + 1);
    return value;
}

void At24c02d::stop() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (writing_ && !pageBuffer_.empty()) program();
    pageBuffer_.clear();
    writing_ = false;
    addressPending_ = false;
}

void At24c02d::program() {
    for (const auto& cell : pageBuffer_) memory_[cell.first] = cell.second;
    unsigned length =
        pageBuffer_.size() < kPageSize ? static_cast<unsigned>(pageBuffer_.size()) : kPageSize;
    if (writes_.size() >= kWriteLogLimit)
        writes_.erase(writes_.begin(), writes_.begin() + kWriteLogLimit / 2);
    writes_.push_back(PageWrite{firstAddress_, length});
    busyStarts_ = writeCycleNacks_;
    if (trace_) {
        std::string line = "eeprom page write at 0x";
        char text[8];
        std::snprintf(text, sizeof text, "%02x:", firstAddress_);
        line += text;
        for (const auto& cell : pageBuffer_) {
            std::snprintf(text, sizeof text, " %02x", cell.second);
            line += text;
        }
        trace_(line);
    }
}

void At24c02d::load(uint8_t address, const std::vector<uint8_t>& bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    uint8_t a = address;
    for (uint8_t b : bytes) memory_[a++] = b;
}

std::array<uint8_t, At24c02d::kSize> At24c02d::contents() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return memory_;
}

uint8_t At24c02d::addressCounter() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return counter_;
}

void At24c02d::setWriteProtect(bool on) {
    std::lock_guard<std::mutex> lock(mutex_);
    writeProtect_ = on;
}

void At24c02d::setWriteCycleNacks(unsigned starts) {
    std::lock_guard<std::mutex> lock(mutex_);
    writeCycleNacks_ = starts;
}

std::vector<At24c02d::PageWrite> At24c02d::pageWrites() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return writes_;
}

void At24c02d::clearPageWrites() {
    std::lock_guard<std::mutex> lock(mutex_);
    writes_.clear();
}

void At24c02d::setTrace(std::function<void(const std::string&)> trace) {
    std::lock_guard<std::mutex> lock(mutex_);
    violations_.setTrace(trace);
    trace_ = std::move(trace);
}

void At24c02d::saveState(nlohmann::json& out) const {
    std::lock_guard<std::mutex> lock(mutex_);
    nlohmann::json rows = nlohmann::json::array();
    for (unsigned row = 0; row < kSize; row += 16) {
        std::string line;
        char cell[4];
        for (unsigned i = 0; i < 16; ++i) {
            std::snprintf(cell, sizeof cell, i == 0 ? "%02x" : " %02x", memory_[row + i]);
            line += cell;
        }
        rows.push_back(line);
    }
    out["contents"] = rows;
    out["address_counter"] = counter_;
    out["write_protect"] = writeProtect_;
    out["page_writes"] = writes_.size();
    out["violations"] = violations_.toJson();
}

}  // namespace qrtsim
