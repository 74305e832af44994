#include "core/common/C_identityRecord.h"

#include <cstring>

bool C_identityRecord::recall(Key key, void* data, std::size_t size) const {
    std::lock_guard<std::mutex> guard(m_mutex);
    const auto item = m_items.find(key);
    if (item == m_items.end() || item->second.size() < size) return false;
    if (size != 0) std::memcpy(data, item->second.data(), size);
    return true;
}

void C_identityRecord::keep(Key key, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::lock_guard<std::mutex> guard(m_mutex);
    // Out of memory the item is simply not kept: the next call reads the device again.
    try {
        m_items[key].assign(bytes, bytes + size);
    } catch (...) {
        m_items.erase(key);
    }
}

void C_identityRecord::forget(Key key) {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_items.erase(key);
}

void C_identityRecord::clear() {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_items.clear();
}
