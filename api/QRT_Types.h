/**
 * @file QRT_Types.h
 * Public types of the QRT SDK: status codes, component (feature) numbers, product types,
 * PoE property numbers, trigger edges, DIO capabilities and the DI trigger callback.
 *
 * This header is shared by the C API and every layer below it and must stay valid C99.
 * Every enumeration is a 32-bit value whose numbers are part of the binary interface.
 */
#ifndef QRT_TYPES_H
#define QRT_TYPES_H

#ifdef __cplusplus
extern "C" {
#endif

/* C passes an enumeration as a 32-bit integer and lets it hold any value; C++ must see the same:
 * with int as the fixed underlying type, a number outside the listed values that a C caller
 * passes is a valid value of the type (the functions refuse it), never undefined behaviour. */
#ifdef __cplusplus
#define QRT_ENUM_BASE : int
#else
#define QRT_ENUM_BASE
#endif

/**
 * @defgroup qrt_types Types
 * Status codes, component numbers, product types and the enumerations the calls take.
 * @{
 */

/**
 * Status codes returned by every call that does not return a count, a type or a handle.
 *
 * A call that fails changes none of its outputs unless its description says otherwise.
 */
typedef enum QRT_ENUM_BASE {
    /** The call completed. */
    QRT_SUCCESS = 0,
    /** The hardware access failed: a kernel-driver request failed or reported an error, an
     * I2C or serial-port transfer was not acknowledged, a sysfs file could not be read or
     * written, or a controller answered with a value it cannot have. */
    QRT_ERR_FAILED = -1,
    /** The product lacks the component, the line or port lacks the capability the call
     * needs, the firmware is too old for the call, or the model does not implement it. */
    QRT_ERR_NOT_SUPPORTED = -5,
    /** A null handle or pointer, an index (port, fan, line, input) at or beyond its count,
     * an enumeration value outside its range, a list shorter than the product needs, or a
     * value the hardware does not take. Nothing was changed on the hardware. */
    QRT_ERR_INVALID_PARAM = -11,
    /** The product or component has not completed its bring-up (a board that was found but
     * not identified), or the library's product manager is not constructed. */
    QRT_ERR_NOT_INITIALIZED = -13,
    /** Another thread or process held the card (or the Linux I2C adapter) for the whole
     * bounded wait of ten seconds, or a controller stayed busy; nothing was done. Also a
     * temperature reading whose two samples never agreed. */
    QRT_ERR_BUSY = -100
} QRT_STATUS_TYPE;

/**
 * Component numbers: what QRT_GetFeatureList() lists. Each family of component functions
 * (QRT_PoE..., QRT_ToE..., ...) reaches its component by its number; a product without the
 * component answers #QRT_ERR_NOT_SUPPORTED to all of them.
 */
typedef enum QRT_ENUM_BASE {
    /** USB port power of the USB3 cards: the QRT_PowCtrl... functions. */
    QRT_FEATURE_POWER_CONTROLLER = 1,
    /** Power over Ethernet: the QRT_PoE... functions. */
    QRT_FEATURE_POE = 2,
    /** Trigger over Ethernet of the Pro cards: the QRT_ToE... functions. */
    QRT_FEATURE_TOE = 3,
    /** Digital inputs and outputs of the TULAN-KQX: the QRT_DIO... functions. */
    QRT_FEATURE_DIO = 4,
    /** External power supply inputs: the QRT_ExPowSup... functions. */
    QRT_FEATURE_EX_POWER_SUPPLY = 5,
    /** Fans (the GPU cooler of the PCIe-RHXGPU-P1000): the QRT_Fan... functions. */
    QRT_FEATURE_FAN = 6
} QRT_FEATURE_TYPE;

/**
 * Product types, as QRT_GetProductType() returns them. A card's type is set when the library
 * identifies the board at load time: from the part number its EEPROM or microcontroller
 * holds, or, on the first PoE boards, from its PCB straps and CPLD version. The comment of
 * each value is the model string that the identity text shows after "Product:".
 */
typedef enum QRT_ENUM_BASE {
    QRT_PRODUCT_RHX44PLUS = 0,    /**< "PCIe-RHX44+": 4 PoE ports, power chip on switch pins */
    QRT_PRODUCT_RHX52 = 1,        /**< "PCIe-RHX52": 2 PoE ports, first PCB revision */
    QRT_PRODUCT_RHX54 = 2,        /**< "PCIe-RHX54": 4 PoE ports, first PCB revision */
    QRT_PRODUCT_RHX52PRO = 3,     /**< "PCIe-RHX52PRO": as the PCIe-RHX52, with ToE */
    QRT_PRODUCT_RHX54PRO = 4,     /**< "PCIe-RHX54PRO": as the PCIe-RHX54, with ToE */
    QRT_PRODUCT_RHXGPU_P1000 = 5, /**< "PCIe-RHXGPU-P1000": 4 PoE ports, ToE, GPU and fan */
    QRT_PRODUCT_W504 = 8,         /**< "PCIe-W504": 4 USB3 ports */
    QRT_PRODUCT_W508 = 9,         /**< "PCIe-W508": 8 USB3 ports */
    QRT_PRODUCT_W512 = 10,        /**< "PCIe-W512": 12 USB3 ports, external supply input */
    QRT_PRODUCT_RHX10T = 11,      /**< "PCIe-RHX10T": 2 10-gigabit PoE ports, ToE */
    QRT_PRODUCT_TULAN_KQX = 12,   /**< "TULAN-KQX": the embedded vision system */
    QRT_PRODUCT_RHX52P = 13,      /**< "PCIe-RHX52P": 2 PoE ports */
    QRT_PRODUCT_RHX54P = 14,      /**< "PCIe-RHX54P": 4 PoE ports */
    QRT_PRODUCT_RHX52PPRO = 15,   /**< "PCIe-RHX52PPRO": 2 PoE ports, ToE */
    QRT_PRODUCT_RHX54PPRO = 16,   /**< "PCIe-RHX54PPRO": 4 PoE ports, ToE */
    QRT_PRODUCT_W504P = 17,       /**< "PCIe-W504P": 4 USB3 ports, external supply input */
    QRT_PRODUCT_W508P = 18,       /**< "PCIe-W508P": 8 USB3 ports, external supply input */
    QRT_PRODUCT_W512P = 19,       /**< "PCIe-W512P": 12 USB3 ports, external supply input */
    QRT_PRODUCT_RHX54I = 20,      /**< "PCIe-RHX54I": 4 PoE ports */
    QRT_PRODUCT_RHX54IPRO = 21,   /**< "PCIe-RHX54IPRO": 4 PoE ports, ToE */
    QRT_PRODUCT_RHX54PAT = 22,    /**< "PCIe-RHX54PAT": 4 PoE ports */
    /** The product cannot tell its type (QRT_GetProductType() on a product that is not
     * initialised). Values 6 and 7 are not assigned. */
    QRT_PRODUCT_UNKNOWN = 0xFFFF
} QRT_PRODUCT_TYPE;

/**
 * Card-wide PoE readings of QRT_PoEGetProperty(), each returned as a float. The card
 * microcontroller measures them; values 0 to 2 are flags of its device-state byte, whose
 * meaning is the firmware's.
 */
typedef enum QRT_ENUM_BASE {
    /** 1.0 when bit 0 of the microcontroller's device-state byte is set, else 0.0. The
     * TULAN-KQX answers #QRT_ERR_NOT_SUPPORTED. */
    QRT_POE_PROP_STATE_FLAG0 = 0,
    /** 1.0 when bit 1 of the device-state byte is set, else 0.0. */
    QRT_POE_PROP_STATE_FLAG1 = 1,
    /** 1.0 when bit 5 of the device-state byte is clear, 0.0 when it is set. */
    QRT_POE_PROP_STATE_FLAG5_CLEAR = 2,
    /** Card temperature in degrees Celsius, in steps of 1/32 degree. A reading counts only
     * when a first sample lies between 0 and 150 °C and a second one agrees with it to within
     * 10 °C; the second is returned, otherwise the call answers #QRT_ERR_BUSY. */
    QRT_POE_PROP_TEMPERATURE = 3,
    /** PoE power the ports draw now, in watts (0.1 W steps). */
    QRT_POE_PROP_CONSUMED_BUDGET = 4,
    /** PoE power still available, in watts (0.1 W steps). */
    QRT_POE_PROP_LEFT_BUDGET = 5,
    /** Total PoE budget in watts that the power input the microcontroller senses allows:
     * 61.6 W with a connector plugged in, 20 W on slot power alone, 120 W with both
     * connectors of the PCIe-RHX52PRO, -RHX54PRO, -RHX52PPRO, -RHX54PPRO and -RHX54IPRO (and
     * power input type 1 of the TULAN-KQX). An input the model has no budget for answers
     * #QRT_ERR_FAILED (#QRT_ERR_BUSY on the TULAN-KQX). */
    QRT_POE_PROP_TOTAL_BUDGET = 6
} QRT_POEPROPERTY_TYPE;

/**
 * Per-port PoE readings of QRT_PoEGetPortProperty(), each returned as a float. The card
 * microcontroller relays them from the power-sourcing chip (PSE) of the port.
 */
typedef enum QRT_ENUM_BASE {
    /** Output current in amperes (122.07 µA per count). A register that reads all ones (no
     * reading) answers #QRT_ERR_FAILED. */
    QRT_POEPORT_PROP_CURRENT = 0,
    /** Output voltage in volts (5.835 mV per count); all ones answers #QRT_ERR_FAILED. */
    QRT_POEPORT_PROP_VOLTAGE = 1,
    /** IEEE 802.3 power class the PSE detected: 0 to 5 for classes 0 to 5, -1.0 when the PSE
     * could not settle a class, -2.0 when it detected nothing. */
    QRT_POEPORT_PROP_POWER_CLASS = 2,
    /** 1.0 while the port's power is good, else 0.0. */
    QRT_POEPORT_PROP_POWER_GOOD = 3,
    /** The port's last power state as the microcontroller keeps it: 1.0 or 0.0. */
    QRT_POEPORT_PROP_LAST_STATE = 4
} QRT_POEPORTPROPERTY_TYPE;

/**
 * Trigger edge of a digital input (QRT_DIOSetDIEdgeTrigger()) or of the ToE trigger input
 * (QRT_ToESetTriggerActivation()). On the TULAN-KQX's inputs the DIO driver takes edge 0 as
 * the rising and edge 1 as the falling edge; on a Pro card edge 0 sets the second and edge 1
 * the first edge flag of the CPLD's trigger logic.
 */
typedef enum QRT_ENUM_BASE {
    QRT_EDGE_TRIGGER_EDGE0 = 0, /**< First edge: DIO trigger mode 1, CPLD edge flags (0, 1). */
    QRT_EDGE_TRIGGER_EDGE1 = 1, /**< Second edge: DIO trigger mode 0, CPLD edge flags (1, 0). */
    QRT_EDGE_TRIGGER_BOTH = 2   /**< Both edges: DIO trigger mode 2, CPLD edge flags (1, 1). */
} QRT_EDGETRIGGER_TYPE;

/** What a DIO block offers as a whole, as QRT_DIOGetCapability() lists it. */
typedef enum QRT_ENUM_BASE {
    QRT_DIO_CAP_DI = 0, /**< The block has at least one digital input. */
    QRT_DIO_CAP_DO = 1  /**< The block has at least one digital output. */
} QRT_DIOCAPABILITY_TYPE;

/** What one digital input offers, as QRT_DIOGetDICapability() lists it (values 1 and 2 are
 * reported by no product). */
typedef enum QRT_ENUM_BASE {
    /** Its level can be read (QRT_DIOGetDIState()); every input. */
    QRT_DI_CAP_STATE = 0,
    /** Its changes reach the trigger callback (QRT_DIOSetDITriggerCallback()); every input. */
    QRT_DI_CAP_TRIGGER = 3,
    /** The edges that raise an event can be chosen (QRT_DIOSetDIEdgeTrigger()): the driver
     * has a trigger-mode file for it. */
    QRT_DI_CAP_EDGE_TRIGGER = 4
} QRT_DIODICAPABILITY_TYPE;

/** What one digital output offers, as QRT_DIOGetDOCapability() lists it. */
typedef enum QRT_ENUM_BASE {
    /** Its level can be set (QRT_DIOSetDOState()); every output. */
    QRT_DO_CAP_STATE = 0,
    /** The level it drives can be read back (QRT_DIOGetDOState()): its file is readable. */
    QRT_DO_CAP_READBACK = 1
} QRT_DIODOCAPABILITY_TYPE;

/**
 * The digital-input trigger callback, registered with QRT_DIOSetDITriggerCallback().
 *
 * It runs on the library's DIO monitor thread, once per input change the DIO driver
 * announces, and must return promptly: no further events are read while it runs. It must not
 * call QRT_DIOSetDITriggerCallback() (that call waits for the monitor thread to end).
 *
 * @param di    the input that changed, 0 to the input count - 1
 * @param state its new level, 0 or 1
 */
typedef void (*QRT_DITRIGGER_CALLBACK)(unsigned int di, int state);

/** @} */

#undef QRT_ENUM_BASE

#ifdef __cplusplus
}
#endif

#endif /* QRT_TYPES_H */
