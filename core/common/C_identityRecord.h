#pragma once

#include <cstddef>
#include <map>
#include <mutex>
#include <vector>

#include "QRT_Types.h"

// What one device told about itself that cannot change while the library is loaded: part and
// serial numbers, MAC addresses, firmware versions. Every product class that probes the device
// reads it through the same record, so a board is asked once no matter how many classes try it,
// and the class that accepts it answers identity calls without going to the board again.
// Only successful reads are kept; a setter that rewrites an item keeps the new value.
//
// The record belongs to the device binding (the PCI map carries one and empties it when it is
// re-bound); the items are keyed by the chip that holds them and the item's address there.
// Safe to use from several threads.
class C_identityRecord {
  public:
    // Where an item comes from; the item number is its address there (or the size of the
    // buffer a version text was formatted into).
    enum Source {
        W5_MCU_FLASH,     // USB3 card microcontroller: 0 part number, 1 serial number
        W5_MCU_PROBE,     // the unused first part-number read has been made
        RHX_MCU_VERSION,  // card microcontroller firmware version
        CPLD_VERSION,     // CPLD version stamp
        CPLD_REGISTER,    // a CPLD register wired to board straps
        EEPROM_FIELD,     // identity EEPROM bytes at an address
    };
    struct Key {
        Source source;
        unsigned long item;
        bool operator<(const Key& other) const {
            return source != other.source ? source < other.source : item < other.item;
        }
    };

    // Copies the first `size` bytes of an item into `data`; false when it is not kept, or kept
    // shorter (a longer read then replaces it).
    bool recall(Key key, void* data, std::size_t size) const;
    void keep(Key key, const void* data, std::size_t size);
    void forget(Key key);
    // Empties the record: the binding now stands for another device.
    void clear();

  private:
    mutable std::mutex m_mutex;
    std::map<Key, std::vector<unsigned char>> m_items;
};

// Serves `size` bytes kept under `key` in `record` (which may be null), or runs `read` to fill
// `data` from the device and keeps the result when the read succeeds. The read's status.
template <class Read>
int readIdentity(C_identityRecord* record, C_identityRecord::Key key, void* data, std::size_t size,
                 Read read) {
    if (record != nullptr && record->recall(key, data, size)) return QRT_SUCCESS;
    const int status = read();
    if (status == QRT_SUCCESS && record != nullptr) record->keep(key, data, size);
    return status;
}
