#pragma once

// Reading a fuzzer's input as a sequence of choices: every read succeeds (zeros once the input
// is used up), so any input decodes.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace fuzzinput {

class Input {
  public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool empty() const { return size_ == 0; }
    uint8_t byte() {
        if (size_ == 0) return 0;
        --size_;
        return *data_++;
    }
    template <class T>
    T raw() {
        uint8_t bytes[sizeof(T)];
        for (uint8_t& b : bytes) b = byte();
        T value;
        std::memcpy(&value, bytes, sizeof value);
        return value;
    }
    // Mostly small numbers (indexes, counts, levels), sometimes any value of the type.
    template <class T>
    T number() {
        const uint8_t choice = byte();
        return choice < 0xF0 ? static_cast<T>(choice % 20) : raw<T>();
    }

  private:
    const uint8_t* data_;
    size_t size_;
};

// A scratch file of this process for the loaders that take a path.
inline std::string scratchFile(const char* name, const uint8_t* data, size_t size) {
    const std::string path =
        "/tmp/qrt-fuzz-" + std::to_string(::getpid()) + "-" + std::string(name);
    if (std::FILE* file = std::fopen(path.c_str(), "wb")) {
        if (size != 0) std::fwrite(data, 1, size, file);
        std::fclose(file);
    }
    return path;
}

}  // namespace fuzzinput
