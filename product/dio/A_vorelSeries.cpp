#include "product/dio/A_vorelSeries.h"

#include <algorithm>

namespace {

// Copies up to `capacity` entries of a capability list; the number copied.
template <class Capability>
unsigned copyCapabilities(const std::vector<Capability>& list, Capability* out, unsigned capacity) {
    if (out == nullptr) return 0;
    unsigned count = std::min(capacity, static_cast<unsigned>(list.size()));
    std::copy_n(list.begin(), count, out);
    return count;
}

template <class Capability>
bool lineHas(const std::unique_ptr<std::vector<Capability>[]>& lines, unsigned count, unsigned line,
             Capability capability) {
    if (!lines || line >= count) return false;
    const std::vector<Capability>& list = lines[line];
    return std::find(list.begin(), list.end(), capability) != list.end();
}

}  // namespace

A_vorelSeries::A_vorelSeries() = default;

A_vorelSeries::~A_vorelSeries() = default;

bool A_vorelSeries::triggerModeMapping(bool toPolarity, int from, int* to) {
    constexpr int kEdges = sizeof VOREL_DI_TRIGGERPOLARITY / sizeof VOREL_DI_TRIGGERPOLARITY[0];
    for (int edge = 0; edge < kEdges; ++edge) {
        int polarity = VOREL_DI_TRIGGERPOLARITY[edge];
        if ((toPolarity ? edge : polarity) != from) continue;
        *to = toPolarity ? polarity : edge;
        return true;
    }
    return false;
}

unsigned A_vorelSeries::getFeatureList(QRT_FEATURE_TYPE* list, unsigned capacity) {
    if (capacity != 0 && list != nullptr) list[0] = QRT_FEATURE_DIO;
    return 1;
}

void* A_vorelSeries::getFeatureHandle(QRT_FEATURE_TYPE feature) {
    return feature == QRT_FEATURE_DIO ? static_cast<I_dio*>(this) : nullptr;
}

unsigned A_vorelSeries::getCapability(QRT_DIOCAPABILITY_TYPE* caps, unsigned capacity) {
    return copyCapabilities(m_capabilities, caps, capacity);
}

int A_vorelSeries::getDINums(unsigned* n) {
    if (n == nullptr) return QRT_ERR_INVALID_PARAM;
    *n = m_diCount;
    return QRT_SUCCESS;
}

int A_vorelSeries::getDONums(unsigned* n) {
    if (n == nullptr) return QRT_ERR_INVALID_PARAM;
    *n = m_doCount;
    return QRT_SUCCESS;
}

unsigned A_vorelSeries::getDICapability(unsigned di, QRT_DIODICAPABILITY_TYPE* caps,
                                        unsigned capacity) {
    if (di >= m_diCount || !m_diCapabilities) return 0;
    return copyCapabilities(m_diCapabilities[di], caps, capacity);
}

unsigned A_vorelSeries::getDOCapability(unsigned dout, QRT_DIODOCAPABILITY_TYPE* caps,
                                        unsigned capacity) {
    if (dout >= m_doCount || !m_doCapabilities) return 0;
    return copyCapabilities(m_doCapabilities[dout], caps, capacity);
}

void A_vorelSeries::releaseCapabilities() {
    m_diCapabilities.reset();
    m_doCapabilities.reset();
    m_capabilities.clear();
}

bool A_vorelSeries::diHas(unsigned di, QRT_DIODICAPABILITY_TYPE capability) const {
    return lineHas(m_diCapabilities, m_diCount, di, capability);
}

bool A_vorelSeries::doHas(unsigned dout, QRT_DIODOCAPABILITY_TYPE capability) const {
    return lineHas(m_doCapabilities, m_doCount, dout, capability);
}
