#include "sim/rig/TraceLog.h"

#include <cerrno>
#include <cstring>

namespace qrtsim {

TraceLog::~TraceLog() {
    close();
}

bool TraceLog::open(const std::string& path, std::string& error) {
    close();
    // Close-on-exec: the program under test must not inherit (and could not close) the file.
    file_ = std::fopen(path.c_str(), "we");
    if (file_ == nullptr) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

void TraceLog::line(const std::string& text) {
    if (file_ == nullptr) return;
    std::fwrite(text.data(), 1, text.size(), file_);
    std::fputc('\n', file_);
    std::fflush(file_);
    ++lines_;
}

void TraceLog::close() {
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
}

}  // namespace qrtsim
