#pragma once

#include <cstdio>
#include <string>

namespace qrtsim {

// The rig's decoded trace (`qrt-sim --trace`): one line per driver request, I2C message and
// board event, written and flushed as it happens so that a trace survives a crashing program.
class TraceLog {
  public:
    TraceLog() = default;
    ~TraceLog();
    TraceLog(const TraceLog&) = delete;
    TraceLog& operator=(const TraceLog&) = delete;

    // Truncates or creates `path`; false (with `error` set) when it cannot be written.
    bool open(const std::string& path, std::string& error);
    bool isOpen() const { return file_ != nullptr; }
    void line(const std::string& text);
    size_t lines() const { return lines_; }
    void close();

  private:
    std::FILE* file_ = nullptr;
    size_t lines_ = 0;
};

}  // namespace qrtsim
