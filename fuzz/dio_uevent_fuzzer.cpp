// libFuzzer target for the DIO block's uevent parser: arbitrary datagrams, with or without
// terminators, longer than a receive, with strings running past their end. The first byte
// chooses how many inputs the block has; the rest is the datagram, in a buffer of exactly its
// length, so that AddressSanitizer stops any read beyond it.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "product/dio/DioUevent.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    unsigned inputs = data[0] % 17;
    std::vector<char> datagram(data + 1, data + size);
    unsigned index = 0xA5A5A5A5u;
    int state = -7;
    int found = dio_uevent::parse(datagram.data(), datagram.size(), inputs, &index, &state);
    // An accepted change names an existing input and a level; anything else leaves both alone.
    if (found == 1 ? (index >= inputs || (state != 0 && state != 1))
                   : (found != 0 || index != 0xA5A5A5A5u || state != -7))
        std::abort();
    return 0;
}
