#pragma once

#include <memory>
#include <new>
#include <vector>

#include "I_vorelSeries.h"
#include "core/common/C_ObjectLock.h"

// Base of a DIO block: the capability model that tells which lines exist and what each line
// can do, and "not supported" (-5) for every operation the block's hardware lacks (debounce,
// inversion, trigger enables, pulse widths, delays, software triggers, mapping tables). The
// block is not a product of its own: it has no product type and no serial number.
class A_vorelSeries : public I_vorelSeries {
  public:
    // Edge type to the trigger polarity code of the DIO driver's trigger-mode files, indexed
    // by QRT_EDGETRIGGER_TYPE.
    static constexpr int VOREL_DI_TRIGGERPOLARITY[] = {1, 0, 2};

    A_vorelSeries();
    ~A_vorelSeries() override;

    // Maps an edge type to its polarity code (toPolarity) or a polarity code back to its edge
    // type. False for a value without a counterpart.
    static bool triggerModeMapping(bool toPolarity, int from, int* to);

    int getType(QRT_PRODUCT_TYPE*) override { return QRT_ERR_NOT_SUPPORTED; }
    int getSN(char*, unsigned) override { return QRT_ERR_NOT_SUPPORTED; }
    unsigned getFeatureList(QRT_FEATURE_TYPE* list, unsigned capacity) override;
    void* getFeatureHandle(QRT_FEATURE_TYPE feature) override;

    unsigned getCapability(QRT_DIOCAPABILITY_TYPE* caps, unsigned capacity) override;
    int getDINums(unsigned* n) override;
    int getDONums(unsigned* n) override;
    unsigned getDICapability(unsigned di, QRT_DIODICAPABILITY_TYPE* caps,
                             unsigned capacity) override;
    unsigned getDOCapability(unsigned dout, QRT_DIODOCAPABILITY_TYPE* caps,
                             unsigned capacity) override;

    int setDIDebounceTime(unsigned, unsigned long) override { return QRT_ERR_NOT_SUPPORTED; }
    int getDIDebounceTime(unsigned, unsigned long*) override { return QRT_ERR_NOT_SUPPORTED; }
    int getDIDebounceTimeUnit(unsigned long*) override { return QRT_ERR_NOT_SUPPORTED; }
    int setDOInvertState(unsigned, int) override { return QRT_ERR_NOT_SUPPORTED; }
    int getDOInvertState(unsigned, int*) override { return QRT_ERR_NOT_SUPPORTED; }
    int setDITriggerEnable(unsigned, unsigned) override { return QRT_ERR_NOT_SUPPORTED; }
    int getDITriggerEnable(unsigned, unsigned*) override { return QRT_ERR_NOT_SUPPORTED; }
    int setDOTriggerEnable(unsigned, unsigned) override { return QRT_ERR_NOT_SUPPORTED; }
    int getDOTriggerEnable(unsigned, unsigned*) override { return QRT_ERR_NOT_SUPPORTED; }
    int setDITriggerPulseWidth(unsigned, unsigned long) override { return QRT_ERR_NOT_SUPPORTED; }
    int getDITriggerPulseWidth(unsigned, unsigned long*) override { return QRT_ERR_NOT_SUPPORTED; }
    int getDITriggerPulseWidthUnit(unsigned long*) override { return QRT_ERR_NOT_SUPPORTED; }
    int setDOTriggerDelay(unsigned, unsigned long) override { return QRT_ERR_NOT_SUPPORTED; }
    int getDOTriggerDelay(unsigned, unsigned long*) override { return QRT_ERR_NOT_SUPPORTED; }
    int getDOTriggerDelayUnit(unsigned long*) override { return QRT_ERR_NOT_SUPPORTED; }
    int setDOTriggerPulseWidth(unsigned, unsigned long) override { return QRT_ERR_NOT_SUPPORTED; }
    int getDOTriggerPulseWidth(unsigned, unsigned long*) override { return QRT_ERR_NOT_SUPPORTED; }
    int getDOTriggerPulseWidthUnit(unsigned long*) override { return QRT_ERR_NOT_SUPPORTED; }
    int triggerDO(unsigned) override { return QRT_ERR_NOT_SUPPORTED; }
    int triggerDOs(unsigned*, unsigned) override { return QRT_ERR_NOT_SUPPORTED; }
    int setTrigger1vs1MappingTable(unsigned*, unsigned) override { return QRT_ERR_NOT_SUPPORTED; }
    int getTrigger1vs1MappingTable(unsigned*, unsigned) override { return QRT_ERR_NOT_SUPPORTED; }
    int setTrigger1vsMultipleMappingTable(unsigned, unsigned*, unsigned) override {
        return QRT_ERR_NOT_SUPPORTED;
    }
    int getTrigger1vsMultipleMappingTable(unsigned, unsigned*, unsigned) override {
        return QRT_ERR_NOT_SUPPORTED;
    }

    A_vorelSeries(const A_vorelSeries&) = delete;
    A_vorelSeries& operator=(const A_vorelSeries&) = delete;

  protected:
    // Drops every line's capability list and the block's list (the counts stay).
    void releaseCapabilities();
    // Gives each of `count` lines its capability list, filled by `fill(line, list)`, and the
    // block `blockCapability` when there is a line. False when memory runs out.
    template <class Capability, class Fill>
    bool describeLines(unsigned count, std::unique_ptr<std::vector<Capability>[]>& lines,
                       QRT_DIOCAPABILITY_TYPE blockCapability, Fill&& fill) {
        if (count == 0) return true;
        lines.reset(new (std::nothrow) std::vector<Capability>[count]);
        if (!lines) return false;
        m_capabilities.push_back(blockCapability);
        for (unsigned line = 0; line < count; ++line) fill(line, lines[line]);
        return true;
    }
    bool diHas(unsigned di, QRT_DIODICAPABILITY_TYPE capability) const;
    bool doHas(unsigned dout, QRT_DIODOCAPABILITY_TYPE capability) const;

    C_ObjectSemaphore m_lock;
    QRT_DITRIGGER_CALLBACK m_callback = nullptr;
    unsigned m_diCount = 0;
    unsigned m_doCount = 0;
    std::vector<QRT_DIOCAPABILITY_TYPE> m_capabilities;
    std::unique_ptr<std::vector<QRT_DIODICAPABILITY_TYPE>[]> m_diCapabilities;
    std::unique_ptr<std::vector<QRT_DIODOCAPABILITY_TYPE>[]> m_doCapabilities;
};
