/**
 * @file QRT_SDK.h
 * The public C interface of the QRT SDK.
 *
 * Loading the library finds every installed product once. An application asks how many
 * products there are, takes a product handle by index and drives the product's components
 * through it. A handle is an opaque pointer owned by the library; it stays valid until the
 * library is unloaded and is never freed by the application.
 *
 * Every function that takes a handle answers #QRT_ERR_INVALID_PARAM (-11) for a null handle.
 * Component functions answer #QRT_ERR_NOT_SUPPORTED (-5) when the product lacks the component.
 * All other results come from the product unchanged. The products that offer each call are
 * listed with it and, as measured on the virtual rig, in the @ref support_matrix.
 *
 * Product families named in this reference:
 * - **USB3 cards**: PCIe-W504, -W508, -W512 and their P models (external supply input).
 * - **PoE cards**: every PCIe PoE frame grabber. The **Pro cards** among them (PCIe-RHX52PRO,
 *   -RHX54PRO, -RHX52PPRO, -RHX54PPRO, -RHX54IPRO, -RHXGPU-P1000, -RHX10T) add trigger over
 *   Ethernet; the PCIe-RHXGPU-P1000 adds a fan. The PCIe-RHX44+ has no microcontroller: it
 *   can switch its ports and read nothing back.
 * - **TULAN-KQX**: the embedded vision system, with four PoE ports and digital I/O.
 *
 * **Statuses.** Calls return a #QRT_STATUS_TYPE unless they say otherwise. No call validates a
 * handle beyond the null check: a stale or foreign pointer is the caller's error.
 * #QRT_ERR_NOT_INITIALIZED is the answer of a product whose bring-up has not completed; the
 * library lists no such product, so handles from QRT_GetProductHandle() do not get it.
 * A call that fails leaves its outputs as they were unless it says otherwise.
 *
 * **Hardware and time.** Identity (model, part and serial numbers, firmware versions, MAC
 * addresses, PCB revision) is read from the board once and then kept: those calls ask the
 * hardware for nothing. Every other reading and setting is a fresh exchange with the card.
 * The boards' protocols prescribe fixed pauses, which dominate the time a call takes: on the
 * PoE cards on a PCIe switch a microcontroller read takes about 140 ms and a write about
 * 65 ms (PCIe-RHX10T: 90 ms and 40 ms; TULAN-KQX: 20 ms and under 1 ms); a USB3 card's
 * microcontroller answers a read after 55 ms. The figures given with each call are its
 * protocol pauses on the virtual rig; docs/performance.md has every call's driver requests,
 * I2C messages and pauses per product.
 *
 * **Threads and processes.** Any thread may call any function, and several processes (an
 * application and `qrtctl`, say) may use the same cards at once. The calls of a product take
 * turns on its card in the order they came; each exchange with a card (a microcontroller
 * command and its answer, a bridged I2C transfer, a read-modify-write of a CPLD register)
 * also holds the card's lock in the kit's kernel driver, or an advisory lock on a Linux I2C
 * adapter, so another process's traffic never falls in between. A call that cannot get the
 * card within ten seconds returns #QRT_ERR_BUSY without touching it. Exceptions are noted
 * with the calls: the USB3 cards' port power, and the DIO monitor.
 *
 * The header is valid C99 and C++.
 */
#ifndef QRT_SDK_H
#define QRT_SDK_H

#include "QRT_Types.h"

#if defined(__GNUC__)
#define QRT_API __attribute__((visibility("default")))
#else
#define QRT_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/**
 * @defgroup qrt_library Library and products
 * The SDK's own information, the products found at load time and their identity.
 *
 * Detection runs once, when the library is loaded, before any of these functions can be
 * called: the TULAN-KQX is recognised by its system file "/etc/tulankqx/system.ini"; without
 * it, every PCI function the kit's kernel driver reports is offered to the card models. The
 * cards are probed at once, each by a thread of the library's own that has ended when loading
 * returns, so loading takes about as long as the slowest card; the environment variable
 * QRT_DETECT_THREADS caps those threads (1: one card after the other, on the loading thread).
 * There is no re-scan: cards installed later are seen when the process loads the library
 * again.
 * @{
 */

/**
 * Writes the SDK's information text into @p buf.
 *
 * The text is "Driver Version:<version>\r\n" when the kit's kernel driver answers, followed
 * by "SDK Version:1.7.7.0130\r\n". It is cut to @p len bytes including the terminator; a text
 * that does not fit is cut, not reported.
 *
 * @param[out] buf text buffer; may be NULL when @p len is 0
 * @param[in]  len size of @p buf in bytes, 0 or more
 * @retval QRT_SUCCESS             the text was written (or @p len was 0)
 * @retval QRT_ERR_INVALID_PARAM   @p len is negative, or @p buf is NULL and @p len is not 0
 * @retval QRT_ERR_NOT_INITIALIZED the library's product manager is not constructed
 * @par Hardware
 * One request to the kernel driver for its version; no card is asked.
 */
QRT_API int QRT_GetSDKInfo(char* buf, int len);
/**
 * Number of products found when the library was loaded.
 *
 * @return 0 to 32; 0 when the kernel driver is missing and no TULAN-KQX system file exists
 */
QRT_API unsigned int QRT_GetProductNums(void);
/**
 * The handle of the product at @p index.
 *
 * Products are listed in the order detection found them: the TULAN-KQX alone on the
 * embedded system, otherwise the cards in the order the kernel driver reports their PCI
 * functions. The handle stays valid until the library is unloaded; it is not freed.
 *
 * @param[in] index 0 to QRT_GetProductNums() - 1
 * @return the handle, or NULL when @p index is not below QRT_GetProductNums()
 */
QRT_API void* QRT_GetProductHandle(unsigned int index);
/**
 * Writes the product's identity text into @p buf: one "Key:value\r\n" line per item.
 *
 * Lines, in this order, where the product has them: "Product:" (the model string),
 * "CPLDVersion:", "MCUVersion:", "PN:", "SN:", "PCBVersion:", and on the Pro cards
 * "MAC<port>: aa:bb:cc:dd:ee:ff" per port ("MAC<port>: Error" when it could not be read).
 * USB3 cards write Product, MCUVersion, PN, SN and PCBVersion; the TULAN-KQX writes Product,
 * MCUVersion, PN, SN and PCBVersion (its hardware identification text). A PoE card leaves
 * out a line it cannot read; the text is cut to @p len bytes, terminated.
 *
 * @param[in]  handle product handle
 * @param[out] buf    text buffer
 * @param[in]  len    size of @p buf in bytes; 256 holds every product's text
 * @retval QRT_SUCCESS           the text was written
 * @retval QRT_ERR_INVALID_PARAM @p handle or @p buf is NULL, or @p len is 0
 * @retval QRT_ERR_BUSY          the card was held by another caller for ten seconds
 * @retval QRT_ERR_FAILED        a USB3 card's microcontroller did not answer; nothing written
 *                               (a PoE card leaves out the line instead)
 * @par Hardware
 * None once the identity is kept: the first call after loading may read what detection did
 * not (a USB3 card's firmware version and serial number, about 250 ms); the TULAN-KQX reads
 * its identification file each time.
 * @par Products
 * Every product.
 */
QRT_API int QRT_GetProductInfo(void* handle, char* buf, unsigned int len);
/**
 * The product's type.
 *
 * @param[in] handle product handle
 * @return a #QRT_PRODUCT_TYPE value; #QRT_PRODUCT_UNKNOWN (0xFFFF) when the product cannot
 *         tell; #QRT_ERR_INVALID_PARAM (-11) when @p handle is NULL
 * @par Hardware
 * None.
 * @par Products
 * Every product.
 */
QRT_API int QRT_GetProductType(void* handle);
/**
 * Writes the product's serial number into @p buf.
 *
 * The PoE cards and the TULAN-KQX keep it in their identity EEPROM (a 32-byte field), the
 * USB3 cards in their microcontroller's flash (14 characters). At most @p len - 1
 * characters are written; the text is always terminated.
 *
 * @param[in]  handle product handle
 * @param[out] buf    text buffer
 * @param[in]  len    size of @p buf in bytes, 1 or more; 33 holds every serial number
 * @retval QRT_SUCCESS           the text was written
 * @retval QRT_ERR_INVALID_PARAM @p handle or @p buf is NULL, or @p len is 0
 * @retval QRT_ERR_NOT_SUPPORTED the board keeps no serial number: PCIe-RHX52, -RHX54,
 *                               -RHX52PRO, -RHX54PRO and -RHX44+
 * @retval QRT_ERR_BUSY          the card was held by another caller for ten seconds
 * @retval QRT_ERR_FAILED        the EEPROM or microcontroller did not answer (@p buf is
 *                               then empty)
 * @par Hardware
 * None once read: the first call after loading reads it (a USB3 card: four 50 ms mailbox
 * reads), later calls use the kept text.
 * @par Products
 * Every product except those named under #QRT_ERR_NOT_SUPPORTED.
 */
QRT_API int QRT_GetProductSN(void* handle, char* buf, unsigned int len);
/**
 * Lists the product's components (features).
 *
 * The list is written only when @p capacity is at least the count, so a caller can ask for
 * the count first with a capacity of 0. Lists: USB3 cards 1 and 5 (5 only on boards with an
 * external supply input); standard PoE cards 2, 5; Pro cards 2, 3, 5; PCIe-RHXGPU-P1000
 * 2, 3, 5, 6; TULAN-KQX 2, 4.
 *
 * @param[in]  handle   product handle
 * @param[out] list     room for @p capacity #QRT_FEATURE_TYPE values; may be NULL
 * @param[in]  capacity entries @p list can take
 * @return the number of components (1 to 4), whether or not the list was written;
 *         #QRT_ERR_INVALID_PARAM (-11) when @p handle is NULL
 * @par Hardware
 * None.
 * @par Products
 * Every product.
 */
QRT_API int QRT_GetFeatureList(void* handle, QRT_FEATURE_TYPE* list, unsigned int capacity);
/**
 * Reads the card identifier that the card's rotary switch or straps set.
 *
 * PoE cards on a PCIe switch: 0 to 15 from four strap pins (a pin pulled low sets its bit).
 * PCIe-RHX10T: 0 to 255 from a CPLD register. USB3 cards: 0 to 127 from the microcontroller.
 *
 * @param[in]  handle product handle
 * @param[out] id     the identifier
 * @retval QRT_SUCCESS           @p id was written
 * @retval QRT_ERR_INVALID_PARAM @p handle or @p id is NULL
 * @retval QRT_ERR_NOT_SUPPORTED the product is not a PCIe card (TULAN-KQX), or has no
 *                               identifier (PCIe-RHX44+)
 * @retval QRT_ERR_BUSY          the card was held by another caller for ten seconds
 * @retval QRT_ERR_FAILED        the read failed; on a USB3 card also when the microcontroller
 *                               reports no valid identifier (@p id is written all the same)
 * @par Hardware
 * PoE cards on a PCIe switch: none (the pin levels are read at load). PCIe-RHX10T: one CPLD
 * register read (2 ms). USB3 cards: one mailbox read (55 ms).
 * @par Products
 * Every PCIe card except the PCIe-RHX44+.
 */
QRT_API int QRT_GetCardID(void* handle, int* id);

/** @} */

/**
 * @defgroup qrt_powctrl USB port power
 * Switches the power of the USB ports of the USB3 cards (component
 * #QRT_FEATURE_POWER_CONTROLLER). Every other product answers #QRT_ERR_NOT_SUPPORTED.
 *
 * Ports 0 to 7 are switched by the card's microcontroller (on the 4-port cards port i is its
 * channel 2i), ports 8 to 11 of the 12-port cards by pins of its PCIe switch.
 *
 * Threads: the USB3 cards serialise each microcontroller and switch exchange, but take no lock
 * of their own around a call: two QRT_PowCtrlSetPortEnable() calls on one 12-port card at the
 * same time may mix their microcontroller and pin writes. Serialise them.
 * @{
 */

/**
 * Number of USB ports whose power can be switched.
 *
 * @param[in]  handle product handle
 * @param[out] n      4, 8 or 12
 * @retval QRT_SUCCESS           @p n was written
 * @retval QRT_ERR_INVALID_PARAM @p handle or @p n is NULL
 * @retval QRT_ERR_NOT_SUPPORTED the product is not a USB3 card
 * @par Hardware
 * None.
 * @par Products
 * USB3 cards.
 */
QRT_API int QRT_PowCtrlGetPortNums(void* handle, unsigned int* n);
/**
 * Switches the power of every USB port at once.
 *
 * The whole list is applied: to change one port, read the list with
 * QRT_PowCtrlGetPortEnable(), change the entry and write it back.
 *
 * @param[in] handle  product handle
 * @param[in] enables one entry per port: non-zero powers the port, 0 switches it off
 * @param[in] n       entries in @p enables, at least the port count (extra entries are
 *                    ignored)
 * @retval QRT_SUCCESS           the ports were switched
 * @retval QRT_ERR_INVALID_PARAM @p handle or @p enables is NULL, or @p n is below the port
 *                               count; nothing was sent
 * @retval QRT_ERR_NOT_SUPPORTED the product is not a USB3 card
 * @retval QRT_ERR_BUSY          the card was held by another caller for ten seconds
 * @retval QRT_ERR_FAILED        the microcontroller or switch transfer failed
 * @par Hardware
 * One microcontroller write (2 ms); the 12-port cards also rewrite the switch's pin
 * directions for ports 8 to 11.
 * @par Products
 * USB3 cards.
 */
QRT_API int QRT_PowCtrlSetPortEnable(void* handle, int* enables, unsigned int n);
/**
 * Reads which USB ports are powered.
 *
 * @param[in]  handle  product handle
 * @param[out] enables one entry per port: 1 powered, 0 off
 * @param[in]  n       entries @p enables can take: at least 8 on the 8-port and 12 on the
 *                     12-port cards; the 4-port cards fill the first min(@p n, 4) entries
 *                     (also when the read failed, then with 0)
 * @retval QRT_SUCCESS           @p enables was written
 * @retval QRT_ERR_INVALID_PARAM @p handle or @p enables is NULL, or @p n is too small
 * @retval QRT_ERR_NOT_SUPPORTED the product is not a USB3 card
 * @retval QRT_ERR_BUSY          the card was held by another caller for ten seconds
 * @retval QRT_ERR_FAILED        the microcontroller or switch did not answer
 * @par Hardware
 * One microcontroller mailbox read (55 ms); the 12-port cards also read the switch's pin
 * directions.
 * @par Products
 * USB3 cards.
 */
QRT_API int QRT_PowCtrlGetPortEnable(void* handle, int* enables, unsigned int n);

/** @} */

/**
 * @defgroup qrt_expowsup External power supply inputs
 * Whether a card's external power connectors are plugged in (component
 * #QRT_FEATURE_EX_POWER_SUPPLY). The TULAN-KQX has no such component.
 * @{
 */

/**
 * Number of external power inputs.
 *
 * PCIe-RHX52PRO, -RHX54PRO, -RHX52PPRO, -RHX54PPRO and -RHX54IPRO: 2 (the 4-pin and the 6-pin
 * connector); the other PoE cards and the 12-port USB3 cards: 1; the 4- and 8-port USB3 cards:
 * 1 on boards with the input (the P models), #QRT_ERR_NOT_SUPPORTED on the others.
 *
 * @param[in]  handle product handle
 * @param[out] n      the number of inputs
 * @retval QRT_SUCCESS           @p n was written
 * @retval QRT_ERR_INVALID_PARAM @p handle or @p n is NULL
 * @retval QRT_ERR_NOT_SUPPORTED the product has no external power input
 * @par Hardware
 * None.
 * @par Products
 * PCIe cards (4- and 8-port USB3 cards only with the input).
 */
QRT_API int QRT_ExPowSupGetNums(void* handle, unsigned int* n);
/**
 * Reads whether each external power input is plugged in.
 *
 * The PoE cards derive the states from the power input their microcontroller senses; the
 * USB3 cards read the input's sense pin on the PCIe switch.
 *
 * @param[in]  handle product handle
 * @param[out] states one entry per input: 1 plugged in, 0 not; input 1 (6-pin) follows input
 *                    0 (4-pin) on the two-input cards
 * @param[in]  n      entries @p states can take, at least QRT_ExPowSupGetNums()
 * @retval QRT_SUCCESS           @p states was written
 * @retval QRT_ERR_INVALID_PARAM @p handle or @p states is NULL, or @p n is below the number
 *                               of inputs
 * @retval QRT_ERR_NOT_SUPPORTED the product has no external power input, or cannot sense it
 *                               (PCIe-RHX44+)
 * @retval QRT_ERR_BUSY          the card was held by another caller for ten seconds
 * @retval QRT_ERR_FAILED        the microcontroller or switch did not answer
 * @par Hardware
 * PoE cards: one microcontroller read (142 ms; PCIe-RHX10T 90 ms). USB3 cards: one switch
 * register read, no pause.
 * @par Products
 * PCIe cards except the PCIe-RHX44+ (4- and 8-port USB3 cards only with the input).
 */
QRT_API int QRT_ExPowSupGetState(void* handle, int* states, unsigned int n);

/** @} */

/**
 * @defgroup qrt_toe Trigger over Ethernet
 * GigE Vision action commands sent by the Pro cards' CPLD (component #QRT_FEATURE_TOE).
 *
 * The CPLD keeps one complete Ethernet frame per camera port: an ACTION_CMD of the GigE Vision
 * control protocol (GVCP), a UDP broadcast to port 3956 that addresses the cameras by device
 * key, group key and group mask. It pushes the frame into the port's Ethernet controller when
 * its trigger logic fires (trigger enable, source, activation edges, one-trigger-all mode,
 * debounce: one control word per card) or when the host asks (QRT_ToESendActionCommand()).
 * The standard PoE cards, the USB3 cards and the TULAN-KQX answer #QRT_ERR_NOT_SUPPORTED.
 *
 * Each setting reads the control word, changes its field and writes the word back only when
 * the field changes, as one transaction against other threads and processes. On the
 * PCIe-RHX10T the public port numbers are the reverse of the hardware's; the SDK translates.
 * @{
 */

/**
 * Number of camera ports that can send action commands.
 *
 * @param[in]  handle product handle
 * @param[out] n      2 or 4, the card's PoE port count
 * @retval QRT_SUCCESS           @p n was written
 * @retval QRT_ERR_INVALID_PARAM @p handle or @p n is NULL
 * @retval QRT_ERR_NOT_SUPPORTED the product has no trigger over Ethernet
 * @par Hardware
 * None.
 * @par Products
 * Pro cards.
 */
QRT_API int QRT_ToEGetPortNums(void* handle, unsigned int* n);
/**
 * Sends the stored action command of one port, or of every port, now.
 *
 * Store the command with QRT_ToESetActionCommand() first: the first store also gives the CPLD
 * the SMBus header with which it hands the frame to the Ethernet controller, and a card that
 * never had a command stored sends with whatever header its CPLD holds.
 *
 * @param[in] handle  product handle
 * @param[in] command the port, 0 to QRT_ToEGetPortNums() - 1, or -1 for every port at once
 * @retval QRT_SUCCESS           the CPLD was told to send
 * @retval QRT_ERR_INVALID_PARAM @p handle is NULL, or @p command is at or beyond the port
 *                               count or below -1
 * @retval QRT_ERR_NOT_SUPPORTED the product has no trigger over Ethernet
 * @retval QRT_ERR_BUSY          the card was held by another caller for ten seconds
 * @retval QRT_ERR_FAILED        the CPLD write failed
 * @par Hardware
 * One CPLD register write (8 ms; PCIe-RHX10T 6 ms).
 * @par Products
 * Pro cards.
 */
QRT_API int QRT_ToESendActionCommand(void* handle, int command);
/**
 * Stores the action command that a port sends.
 *
 * The frame is built for the port: its source is the port's MAC address and the IPv4 address
 * of the host network interface that has that MAC, its destination the broadcast address of
 * that address's /24 network, with valid IPv4 and UDP checksums. The three words go into the
 * GVCP ACTION_CMD, most significant byte first.
 *
 * @param[in] handle product handle
 * @param[in] index  the port, 0 to QRT_ToEGetPortNums() - 1
 * @param[in] a      device key (low 32 bits are used)
 * @param[in] b      group key (low 32 bits)
 * @param[in] c      group mask (low 32 bits)
 * @retval QRT_SUCCESS           the frame is in the port's packet memory
 * @retval QRT_ERR_INVALID_PARAM @p handle is NULL, or @p index is at or beyond the port count
 * @retval QRT_ERR_NOT_SUPPORTED the product has no trigger over Ethernet
 * @retval QRT_ERR_BUSY          the card was held by another caller for ten seconds
 * @retval QRT_ERR_FAILED        no host interface has the port's MAC, or it has no IPv4
 *                               address (nothing stored), or a CPLD write failed (the port may
 *                               hold a partly written frame)
 * @par Hardware
 * The control word, then 66 CPLD writes of the frame: about half a second.
 * @par Products
 * Pro cards.
 */
QRT_API int QRT_ToESetActionCommand(void* handle, unsigned int index, unsigned long a,
                                    unsigned long b, unsigned long c);
/**
 * Reads back the device key, group key and group mask of a port's stored action command.
 *
 * @param[in]  handle product handle
 * @param[in]  index  the port, 0 to QRT_ToEGetPortNums() - 1
 * @param[out] a      device key, 0 to 0xFFFFFFFF
 * @param[out] b      group key, 0 to 0xFFFFFFFF
 * @param[out] c      group mask, 0 to 0xFFFFFFFF
 * @retval QRT_SUCCESS           the three words were written
 * @retval QRT_ERR_INVALID_PARAM @p handle or an output is NULL, or @p index is at or beyond
 *                               the port count
 * @retval QRT_ERR_NOT_SUPPORTED the product has no trigger over Ethernet
 * @retval QRT_ERR_BUSY          the card was held by another caller for ten seconds
 * @retval QRT_ERR_FAILED        a CPLD access failed
 * @par Hardware
 * The control word, then 12 CPLD packet-memory reads: about 210 ms (PCIe-RHX10T 100 ms).
 * @par Products
 * Pro cards.
 */
QRT_API int QRT_ToEGetActionCommand(void* handle, unsigned int index, unsigned long* a,
                                    unsigned long* b, unsigned long* c);
/**
 * Selects the trigger input of the CPLD's trigger logic.
 *
 * @param[in] handle product handle
 * @param[in] source 0 or 1 (any non-zero value is 1); what each selects is the CPLD's
 * @retval QRT_SUCCESS           the source is set (written only when it changed)
 * @retval QRT_ERR_INVALID_PARAM @p handle is NULL
 * @retval QRT_ERR_NOT_SUPPORTED the product has no trigger over Ethernet
 * @retval QRT_ERR_BUSY          the card was held by another caller for ten seconds
 * @retval QRT_ERR_FAILED        a CPLD access failed
 * @par Hardware
 * A CPLD register read and, on a change, a write (9 ms; PCIe-RHX10T 2 ms).
 * @par Products
 * Pro cards.
 */
QRT_API int QRT_ToESetTriggerSource(void* handle, int source);
/**
 * Reads the trigger input selected with QRT_ToESetTriggerSource().
 *
 * @param[in]  handle product handle
 * @param[out] source 0 or 1
 * @retval QRT_SUCCESS           @p source was written
 * @retval QRT_ERR_INVALID_PARAM @p handle or @p source is NULL
 * @retval QRT_ERR_NOT_SUPPORTED the product has no trigger over Ethernet
 * @retval QRT_ERR_BUSY          the card was held by another caller for ten seconds
 * @retval QRT_ERR_FAILED        the CPLD read failed
 * @par Hardware
 * One CPLD register read (9 ms; PCIe-RHX10T 2 ms).
 * @par Products
 * Pro cards.
 */
QRT_API int QRT_ToEGetTriggerSource(void* handle, int* source);
/**
 * Lets the trigger input fire the action commands, or stops it.
 *
 * @param[in] handle product handle
 * @param[in] enable non-zero: a trigger on the input sends the stored commands; 0: it does not
 * @retval QRT_SUCCESS           the enable is set (written only when it changed)
 * @retval QRT_ERR_INVALID_PARAM @p handle is NULL
 * @retval QRT_ERR_NOT_SUPPORTED the product has no trigger over Ethernet
 * @retval QRT_ERR_BUSY          the card was held by another caller for ten seconds
 * @retval QRT_ERR_FAILED        a CPLD access failed
 * @par Hardware
 * A CPLD register read and, on a change, a write (9 ms; PCIe-RHX10T 2 ms).
 * @par Products
 * Pro cards.
 */
QRT_API int QRT_ToESetTriggerEnable(void* handle, int enable);
/**
 * Reads whether the trigger input fires the action commands.
 *
 * @param[in]  handle product handle
 * @param[out] enable 1 enabled, 0 not
 * @retval QRT_SUCCESS           @p enable was written
 * @retval QRT_ERR_INVALID_PARAM @p handle or @p enable is NULL
 * @retval QRT_ERR_NOT_SUPPORTED the product has no trigger over Ethernet
 * @retval QRT_ERR_BUSY          the card was held by another caller for ten seconds
 * @retval QRT_ERR_FAILED        the CPLD read failed
 * @par Hardware
 * One CPLD register read (9 ms; PCIe-RHX10T 2 ms).
 * @par Products
 * Pro cards.
 */
QRT_API int QRT_ToEGetTriggerEnable(void* handle, int* enable);
/**
 * Selects the edges of the trigger input that fire.
 *
 * @param[in] handle product handle
 * @param[in] edge   #QRT_EDGE_TRIGGER_EDGE0, #QRT_EDGE_TRIGGER_EDGE1 or #QRT_EDGE_TRIGGER_BOTH
 * @retval QRT_SUCCESS           the edges are set (written only when they changed)
 * @retval QRT_ERR_INVALID_PARAM @p handle is NULL or @p edge is not one of the three values;
 *                               a value above 2 is refused before the product is asked, so it
 *                               gets this answer on any product
 * @retval QRT_ERR_NOT_SUPPORTED the product has no trigger over Ethernet
 * @retval QRT_ERR_BUSY          the card was held by another caller for ten seconds
 * @retval QRT_ERR_FAILED        a CPLD access failed
 * @par Hardware
 * A CPLD register read and, on a change, a write (9 ms; PCIe-RHX10T 2 ms).
 * @par Products
 * Pro cards.
 */
QRT_API int QRT_ToESetTriggerActivation(void* handle, QRT_EDGETRIGGER_TYPE edge);
/**
 * Reads the edges of the trigger input that fire.
 *
 * @param[in]  handle product handle
 * @param[out] edge   #QRT_EDGE_TRIGGER_EDGE0, #QRT_EDGE_TRIGGER_EDGE1 or #QRT_EDGE_TRIGGER_BOTH
 * @retval QRT_SUCCESS           @p edge was written
 * @retval QRT_ERR_INVALID_PARAM @p handle or @p edge is NULL
 * @retval QRT_ERR_NOT_SUPPORTED the product has no trigger over Ethernet
 * @retval QRT_ERR_BUSY          the card was held by another caller for ten seconds
 * @retval QRT_ERR_FAILED        the CPLD read failed, or the CPLD selects no edge at all
 * @par Hardware
 * One CPLD register read (9 ms; PCIe-RHX10T 2 ms).
 * @par Products
 * Pro cards.
 */
QRT_API int QRT_ToEGetTriggerActivation(void* handle, QRT_EDGETRIGGER_TYPE* edge);
/**
 * Sets the one-trigger-all mode: one trigger sends the action commands of every port.
 *
 * @param[in] handle product handle
 * @param[in] mode   non-zero: on; 0: off
 * @retval QRT_SUCCESS           the mode is set (written only when it changed)
 * @retval QRT_ERR_INVALID_PARAM @p handle is NULL
 * @retval QRT_ERR_NOT_SUPPORTED the product has no trigger over Ethernet
 * @retval QRT_ERR_BUSY          the card was held by another caller for ten seconds
 * @retval QRT_ERR_FAILED        a CPLD access failed
 * @par Hardware
 * A CPLD register read and, on a change, a write (9 ms; PCIe-RHX10T 2 ms).
 * @par Products
 * Pro cards.
 */
QRT_API int QRT_ToESetOneTriggerAllMode(void* handle, int mode);
/**
 * Reads the one-trigger-all mode.
 *
 * @param[in]  handle product handle
 * @param[out] mode   1 on, 0 off
 * @retval QRT_SUCCESS           @p mode was written
 * @retval QRT_ERR_INVALID_PARAM @p handle or @p mode is NULL
 * @retval QRT_ERR_NOT_SUPPORTED the product has no trigger over Ethernet
 * @retval QRT_ERR_BUSY          the card was held by another caller for ten seconds
 * @retval QRT_ERR_FAILED        the CPLD read failed
 * @par Hardware
 * One CPLD register read (9 ms; PCIe-RHX10T 2 ms).
 * @par Products
 * Pro cards.
 */
QRT_API int QRT_ToEGetOneTriggerAllMode(void* handle, int* mode);
/**
 * Sets the debounce of the external trigger input.
 *
 * @param[in] handle product handle
 * @param[in] t      debounce in counts of the CPLD's unit (QRT_ToEGetExTriggerDebounceUnit()),
 *                   0 to 0xFFFFFF (24 bits)
 * @retval QRT_SUCCESS           the debounce is set (written only when it changed)
 * @retval QRT_ERR_INVALID_PARAM @p handle is NULL, or @p t is above 0xFFFFFF (nothing written)
 * @retval QRT_ERR_NOT_SUPPORTED the product has no trigger over Ethernet
 * @retval QRT_ERR_BUSY          the card was held by another caller for ten seconds
 * @retval QRT_ERR_FAILED        a CPLD access failed
 * @par Hardware
 * A CPLD register read and, on a change, a write (9 ms; PCIe-RHX10T 2 ms).
 * @par Products
 * Pro cards.
 */
QRT_API int QRT_ToESetExTriggerDebounce(void* handle, unsigned long t);
/**
 * Reads the debounce of the external trigger input.
 *
 * @param[in]  handle product handle
 * @param[out] t      debounce in counts of the CPLD's unit, 0 to 0xFFFFFF
 * @retval QRT_SUCCESS           @p t was written
 * @retval QRT_ERR_INVALID_PARAM @p handle or @p t is NULL
 * @retval QRT_ERR_NOT_SUPPORTED the product has no trigger over Ethernet
 * @retval QRT_ERR_BUSY          the card was held by another caller for ten seconds
 * @retval QRT_ERR_FAILED        the CPLD read failed
 * @par Hardware
 * One CPLD register read (9 ms; PCIe-RHX10T 2 ms).
 * @par Products
 * Pro cards.
 */
QRT_API int QRT_ToEGetExTriggerDebounce(void* handle, unsigned long* t);
/**
 * The size of one debounce count.
 *
 * @param[in]  handle product handle
 * @param[out] unit   40, the size of one count as the CPLD reports it; the SDK passes
 *                    the debounce through in counts and converts nothing
 * @retval QRT_SUCCESS           @p unit was written
 * @retval QRT_ERR_INVALID_PARAM @p handle or @p unit is NULL
 * @retval QRT_ERR_NOT_SUPPORTED the product has no trigger over Ethernet
 * @retval QRT_ERR_BUSY          another thread held the card for ten seconds
 * @par Hardware
 * None (a constant of the CPLD).
 * @par Products
 * Pro cards.
 */
QRT_API int QRT_ToEGetExTriggerDebounceUnit(void* handle, unsigned long* unit);
/**
 * Reads the two trigger counters the CPLD keeps for a port.
 *
 * @param[in]  handle product handle
 * @param[in]  port   0 to QRT_ToEGetPortNums() - 1
 * @param[out] a      first counter, 0 to 65535 (bits 15..0 of the port's counter register)
 * @param[out] b      second counter, 0 to 65535 (bits 31..16); what each counts is the CPLD's
 * @retval QRT_SUCCESS           both counters were written
 * @retval QRT_ERR_INVALID_PARAM @p handle or an output is NULL, or @p port is at or beyond the
 *                               port count
 * @retval QRT_ERR_NOT_SUPPORTED the product has no trigger over Ethernet
 * @retval QRT_ERR_BUSY          the card was held by another caller for ten seconds
 * @retval QRT_ERR_FAILED        the CPLD read failed
 * @par Hardware
 * One CPLD register read (9 ms; PCIe-RHX10T 2 ms).
 * @par Products
 * Pro cards.
 */
QRT_API int QRT_ToEGetTriggerCount(void* handle, unsigned int port, unsigned int* a,
                                   unsigned int* b);
/**
 * Clears the trigger counters of every port.
 *
 * @param[in] handle product handle
 * @retval QRT_SUCCESS           the CPLD cleared the counters
 * @retval QRT_ERR_INVALID_PARAM @p handle is NULL
 * @retval QRT_ERR_NOT_SUPPORTED the product has no trigger over Ethernet
 * @retval QRT_ERR_BUSY          the card was held by another caller for ten seconds
 * @retval QRT_ERR_FAILED        the CPLD write failed
 * @par Hardware
 * One CPLD register write (8 ms; PCIe-RHX10T 6 ms).
 * @par Products
 * Pro cards.
 */
QRT_API int QRT_ToEResetTriggerCount(void* handle);

/** @} */

/**
 * @defgroup qrt_poe Power over Ethernet
 * The camera ports' power (component #QRT_FEATURE_POE) of the PoE cards and the TULAN-KQX,
 * through the board's microcontroller and the power-sourcing chip (PSE) it supervises. The
 * USB3 cards answer #QRT_ERR_NOT_SUPPORTED. The PCIe-RHX44+ has no microcontroller: it
 * switches its ports through its power chip and answers #QRT_ERR_NOT_SUPPORTED to every other
 * PoE call but QRT_PoEGetPortNums().
 *
 * On the PCIe-RHX10T and the TULAN-KQX the public port numbers differ from the hardware's
 * (reversed); the SDK translates every port number and list.
 * @{
 */

/**
 * Number of PoE camera ports.
 *
 * @param[in]  handle product handle
 * @param[out] n      2 or 4
 * @retval QRT_SUCCESS           @p n was written
 * @retval QRT_ERR_INVALID_PARAM @p handle or @p n is NULL
 * @retval QRT_ERR_NOT_SUPPORTED the product has no PoE
 * @par Hardware
 * None.
 * @par Products
 * PoE cards, TULAN-KQX.
 */
QRT_API int QRT_PoEGetPortNums(void* handle, unsigned int* n);
/**
 * Switches the PoE power of the ports.
 *
 * Ports below @p n are switched as listed; the microcontroller leaves ports at or beyond
 * @p n as they are. The PCIe-RHX10T, the PCIe-RHX44+ and the TULAN-KQX take whole lists
 * only. The caller's list is not changed.
 *
 * @param[in] handle  product handle
 * @param[in] enables one entry per port: non-zero switches it on, 0 off
 * @param[in] n       entries in @p enables; at least the port count on the PCIe-RHX10T, the
 *                    PCIe-RHX44+ and the TULAN-KQX (extra entries are ignored)
 * @retval QRT_SUCCESS           the command was sent
 * @retval QRT_ERR_INVALID_PARAM @p handle or @p enables is NULL, or @p n is too small
 * @retval QRT_ERR_NOT_SUPPORTED the product has no PoE
 * @retval QRT_ERR_BUSY          the card was held by another caller for ten seconds
 * @retval QRT_ERR_FAILED        the microcontroller did not acknowledge
 * @par Hardware
 * One microcontroller write: 64 ms (PCIe-RHX10T 38 ms, TULAN-KQX one I2C message). The
 * PCIe-RHX44+ sends one transaction to its power chip over pins of its PCIe switch, whose
 * acknowledge it cannot read: a chip that does not answer is not noticed.
 * @par Products
 * PoE cards, TULAN-KQX.
 */
QRT_API int QRT_PoESetPortEnable(void* handle, int* enables, unsigned int n);
/**
 * Reads which ports have PoE switched on.
 *
 * @param[in]  handle  product handle
 * @param[out] enables one entry per port: 1 on, 0 off; the first min(@p n, port count)
 *                     entries are written
 * @param[in]  n       entries @p enables can take; at least the port count on the
 *                     PCIe-RHX10T and the TULAN-KQX
 * @retval QRT_SUCCESS           @p enables was written
 * @retval QRT_ERR_INVALID_PARAM @p handle or @p enables is NULL, or @p n is too small
 * @retval QRT_ERR_NOT_SUPPORTED the product has no PoE, or cannot read its ports back
 *                               (PCIe-RHX44+)
 * @retval QRT_ERR_BUSY          the card was held by another caller for ten seconds
 * @retval QRT_ERR_FAILED        the microcontroller did not answer
 * @par Hardware
 * One microcontroller read: 142 ms (PCIe-RHX10T 90 ms, TULAN-KQX 20 ms).
 * @par Products
 * PoE cards except the PCIe-RHX44+, TULAN-KQX.
 */
QRT_API int QRT_PoEGetPortEnable(void* handle, int* enables, unsigned int n);
/**
 * Switches the microcontroller's power-consumption calculation (its power-budget control).
 *
 * @param[in] handle product handle
 * @param[in] model  non-zero: on (sent as 1); 0: off
 * @retval QRT_SUCCESS           the setting was sent
 * @retval QRT_ERR_INVALID_PARAM @p handle is NULL
 * @retval QRT_ERR_NOT_SUPPORTED the product has no PoE, has no microcontroller (PCIe-RHX44+),
 *                               or its firmware is 1.13 or older (the PoE cards on a PCIe
 *                               switch other than the PCIe-RHXGPU-P1000)
 * @retval QRT_ERR_BUSY          the card was held by another caller for ten seconds
 * @retval QRT_ERR_FAILED        the microcontroller did not acknowledge
 * @par Hardware
 * One microcontroller write: 64 ms (PCIe-RHX10T 38 ms, TULAN-KQX one I2C message).
 * @par Products
 * PoE cards except the PCIe-RHX44+, TULAN-KQX.
 */
QRT_API int QRT_PoESetPowConsumCalcModel(void* handle, int model);
/**
 * Reads the microcontroller's power-consumption calculation setting.
 *
 * @param[in]  handle product handle
 * @param[out] model  the byte the firmware holds: 0 off, any other value (0 to 255) on
 * @retval QRT_SUCCESS           @p model was written
 * @retval QRT_ERR_INVALID_PARAM @p handle or @p model is NULL
 * @retval QRT_ERR_NOT_SUPPORTED as for QRT_PoESetPowConsumCalcModel()
 * @retval QRT_ERR_BUSY          the card was held by another caller for ten seconds
 * @retval QRT_ERR_FAILED        the microcontroller did not answer
 * @par Hardware
 * One microcontroller read: 142 ms (PCIe-RHX10T 90 ms, TULAN-KQX 20 ms).
 * @par Products
 * PoE cards except the PCIe-RHX44+, TULAN-KQX.
 */
QRT_API int QRT_PoEGetPowConsumCalcModel(void* handle, int* model);
/**
 * Sets the temperatures of the microcontroller's over-temperature protection.
 *
 * The firmware switches PoE off when the card reaches @p protect and back on when it has
 * cooled to @p recover. The SDK writes both in an order that never leaves the recovery
 * temperature above the protection temperature the firmware holds, reads them back, and
 * tries up to three times.
 *
 * @param[in] handle  product handle
 * @param[in] protect protection temperature in °C, 80 to 130
 * @param[in] recover recovery temperature in °C, 70 to 120, at least 10 below @p protect
 * @retval QRT_SUCCESS           the firmware holds both values
 * @retval QRT_ERR_INVALID_PARAM @p handle is NULL, or a temperature is out of range; nothing
 *                               was sent
 * @retval QRT_ERR_NOT_SUPPORTED the product has no PoE, or no protection temperatures
 *                               (PCIe-RHXGPU-P1000, PCIe-RHX44+)
 * @retval QRT_ERR_BUSY          the card was held by another caller for ten seconds
 * @retval QRT_ERR_FAILED        a write failed, or the firmware did not confirm the values
 *                               after three attempts
 * @par Hardware
 * Two writes and the read-backs: 490 ms (PCIe-RHX10T 308 ms, TULAN-KQX 60 ms).
 * @par Products
 * PoE cards except the PCIe-RHXGPU-P1000 and PCIe-RHX44+, TULAN-KQX.
 */
QRT_API int QRT_PoESetProtectTempRange(void* handle, int protect, int recover);
/**
 * Reads the temperatures of the microcontroller's over-temperature protection.
 *
 * @param[in]  handle  product handle
 * @param[out] protect protection temperature in °C; 255 when the firmware never settled it
 * @param[out] recover recovery temperature in °C; 255 likewise
 * @retval QRT_SUCCESS           both were written
 * @retval QRT_ERR_INVALID_PARAM @p handle, @p protect or @p recover is NULL
 * @retval QRT_ERR_NOT_SUPPORTED as for QRT_PoESetProtectTempRange()
 * @retval QRT_ERR_BUSY          the card was held by another caller for ten seconds
 * @retval QRT_ERR_FAILED        the microcontroller did not answer (@p protect may be written
 *                               when only the second read failed)
 * @par Hardware
 * Two microcontroller reads, three when the firmware answers 255: 284 ms (PCIe-RHX10T
 * 180 ms, TULAN-KQX 40 ms).
 * @par Products
 * PoE cards except the PCIe-RHXGPU-P1000 and PCIe-RHX44+, TULAN-KQX.
 */
QRT_API int QRT_PoEGetProtectTempRange(void* handle, int* protect, int* recover);
/**
 * Reads a card-wide PoE value: a state flag, the temperature or a power budget.
 *
 * @param[in]  handle   product handle
 * @param[in]  property what to read; the units are given with #QRT_POEPROPERTY_TYPE
 * @param[out] value    the reading
 * @retval QRT_SUCCESS           @p value was written
 * @retval QRT_ERR_INVALID_PARAM @p handle or @p value is NULL, or @p property is not one of
 *                               the values; a value above 6 is refused before the product is
 *                               asked, so it gets this answer on any product
 * @retval QRT_ERR_NOT_SUPPORTED the product has no PoE, has no microcontroller (PCIe-RHX44+),
 *                               or lacks the property (#QRT_POE_PROP_STATE_FLAG0 on the
 *                               TULAN-KQX)
 * @retval QRT_ERR_BUSY          the card was held by another caller for ten seconds; the two
 *                               temperature samples never agreed; the TULAN-KQX's power input
 *                               has no budget (#QRT_POE_PROP_TOTAL_BUDGET)
 * @retval QRT_ERR_FAILED        the microcontroller did not answer, or its power input has no
 *                               budget on this card (#QRT_POE_PROP_TOTAL_BUDGET)
 * @par Hardware
 * One microcontroller read: 142 ms (PCIe-RHX10T 90 ms, TULAN-KQX 20 ms). The temperature
 * takes two samples of a 100 ms conversion: 464 ms (PCIe-RHX10T 360 ms, TULAN-KQX 220 ms).
 * @par Products
 * PoE cards except the PCIe-RHX44+, TULAN-KQX.
 */
QRT_API int QRT_PoEGetProperty(void* handle, QRT_POEPROPERTY_TYPE property, float* value);
/**
 * Reads a PoE value of one port: current, voltage, power class, power good or last state.
 *
 * @param[in]  handle   product handle
 * @param[in]  port     0 to QRT_PoEGetPortNums() - 1
 * @param[in]  property what to read; the units are given with #QRT_POEPORTPROPERTY_TYPE
 * @param[out] value    the reading
 * @retval QRT_SUCCESS           @p value was written
 * @retval QRT_ERR_INVALID_PARAM @p handle or @p value is NULL, @p port is at or beyond the
 *                               port count, or @p property is not one of the values; a value
 *                               above 4 is refused before the product is asked
 * @retval QRT_ERR_NOT_SUPPORTED the product has no PoE, or has no microcontroller
 *                               (PCIe-RHX44+)
 * @retval QRT_ERR_BUSY          the card was held by another caller for ten seconds
 * @retval QRT_ERR_FAILED        the microcontroller did not answer, answered for another
 *                               register, or the PSE had no current or voltage reading
 * @par Hardware
 * The microcontroller relays a read of the PSE's register. Current and voltage: 374 ms
 * (PCIe-RHX10T 287 ms, TULAN-KQX 170 ms); power class and power good: 281 ms (203 ms, 95 ms);
 * last state: one microcontroller read, 142 ms (90 ms, 20 ms).
 * @par Products
 * PoE cards except the PCIe-RHX44+, TULAN-KQX.
 */
QRT_API int QRT_PoEGetPortProperty(void* handle, unsigned int port,
                                   QRT_POEPORTPROPERTY_TYPE property, float* value);

/** @} */

/**
 * @defgroup qrt_fan Fans
 * The cooler of the PCIe-RHXGPU-P1000's on-board GPU, driven by the card's microcontroller
 * (component #QRT_FEATURE_FAN). Every other product answers #QRT_ERR_NOT_SUPPORTED.
 * @{
 */

/**
 * Number of fans.
 *
 * @param[in]  handle product handle
 * @param[out] n      1
 * @retval QRT_SUCCESS           @p n was written
 * @retval QRT_ERR_INVALID_PARAM @p handle or @p n is NULL
 * @retval QRT_ERR_NOT_SUPPORTED the product has no fan
 * @par Hardware
 * None.
 * @par Products
 * PCIe-RHXGPU-P1000.
 */
QRT_API int QRT_FanGetNums(void* handle, unsigned int* n);
/**
 * Reads a fan's speed.
 *
 * @param[in]  handle product handle
 * @param[in]  fan    0 to QRT_FanGetNums() - 1
 * @param[out] rpm    revolutions per minute, 0 to 65535
 * @retval QRT_SUCCESS           @p rpm was written
 * @retval QRT_ERR_INVALID_PARAM @p handle or @p rpm is NULL, or @p fan is out of range
 * @retval QRT_ERR_NOT_SUPPORTED the product has no fan
 * @retval QRT_ERR_BUSY          the card was held by another caller for ten seconds
 * @retval QRT_ERR_FAILED        the microcontroller did not answer
 * @par Hardware
 * One microcontroller read (142 ms).
 * @par Products
 * PCIe-RHXGPU-P1000.
 */
QRT_API int QRT_FanGetSpeed(void* handle, unsigned int fan, unsigned int* rpm);
/**
 * Reads a fan's PWM duty.
 *
 * @param[in]  handle product handle
 * @param[in]  fan    0 to QRT_FanGetNums() - 1
 * @param[out] duty   duty in percent, as the firmware holds it
 * @retval QRT_SUCCESS           @p duty was written
 * @retval QRT_ERR_INVALID_PARAM @p handle or @p duty is NULL, or @p fan is out of range
 * @retval QRT_ERR_NOT_SUPPORTED the product has no fan
 * @retval QRT_ERR_BUSY          the card was held by another caller for ten seconds
 * @retval QRT_ERR_FAILED        the microcontroller did not answer
 * @par Hardware
 * One microcontroller read (142 ms).
 * @par Products
 * PCIe-RHXGPU-P1000.
 */
QRT_API int QRT_FanGetPWM(void* handle, unsigned int fan, int* duty);
/**
 * Sets a fan's PWM duty. The firmware's automatic control (QRT_FanSetSmartFanEnable())
 * chooses the duty itself while it is on.
 *
 * @param[in] handle product handle
 * @param[in] fan    0 to QRT_FanGetNums() - 1
 * @param[in] duty   duty in percent, 0 to 99
 * @retval QRT_SUCCESS           the duty was sent
 * @retval QRT_ERR_INVALID_PARAM @p handle is NULL, @p fan is out of range, or @p duty is
 *                               outside 0 to 99; nothing was sent
 * @retval QRT_ERR_NOT_SUPPORTED the product has no fan
 * @retval QRT_ERR_BUSY          the card was held by another caller for ten seconds
 * @retval QRT_ERR_FAILED        the microcontroller did not acknowledge
 * @par Hardware
 * One microcontroller write (64 ms).
 * @par Products
 * PCIe-RHXGPU-P1000.
 */
QRT_API int QRT_FanSetPWM(void* handle, unsigned int fan, int duty);
/**
 * Reads whether the firmware controls a fan's duty by itself.
 *
 * @param[in]  handle product handle
 * @param[in]  fan    0 to QRT_FanGetNums() - 1
 * @param[out] enable 1 automatic, 0 the duty set with QRT_FanSetPWM()
 * @retval QRT_SUCCESS           @p enable was written
 * @retval QRT_ERR_INVALID_PARAM @p handle or @p enable is NULL, or @p fan is out of range
 * @retval QRT_ERR_NOT_SUPPORTED the product has no fan
 * @retval QRT_ERR_BUSY          the card was held by another caller for ten seconds
 * @retval QRT_ERR_FAILED        the microcontroller did not answer
 * @par Hardware
 * One microcontroller read (142 ms).
 * @par Products
 * PCIe-RHXGPU-P1000.
 */
QRT_API int QRT_FanGetSmartFanEnable(void* handle, unsigned int fan, int* enable);
/**
 * Hands a fan's duty to the firmware's automatic control, or takes it back.
 *
 * @param[in] handle product handle
 * @param[in] fan    0 to QRT_FanGetNums() - 1
 * @param[in] enable non-zero: automatic; 0: the duty set with QRT_FanSetPWM()
 * @retval QRT_SUCCESS           the setting was sent
 * @retval QRT_ERR_INVALID_PARAM @p handle is NULL or @p fan is out of range
 * @retval QRT_ERR_NOT_SUPPORTED the product has no fan
 * @retval QRT_ERR_BUSY          the card was held by another caller for ten seconds
 * @retval QRT_ERR_FAILED        the microcontroller did not acknowledge
 * @par Hardware
 * One microcontroller write (64 ms).
 * @par Products
 * PCIe-RHXGPU-P1000.
 */
QRT_API int QRT_FanSetSmartFanEnable(void* handle, unsigned int fan, int enable);

/** @} */

/**
 * @defgroup qrt_dio Digital I/O
 * The digital inputs (DI) and outputs (DO) of the TULAN-KQX (component #QRT_FEATURE_DIO),
 * driven through the files of its DIO driver in "/sys/class/vorel_dio/". The PCIe cards
 * answer #QRT_ERR_NOT_SUPPORTED to every call.
 *
 * The lines are those whose files the driver offered when the library was loaded, numbered
 * from 0 without gaps. What each line can do is in its capability list: a call that needs a
 * capability the line lacks answers #QRT_ERR_NOT_SUPPORTED. Each state or edge call is one
 * file access (microseconds, no pause) and takes no lock. Input changes reach the application
 * through a callback on the library's monitor thread (QRT_DIOSetDITriggerCallback()).
 *
 * The driver has no debounce, output inversion, trigger enables, pulse widths, delays,
 * software triggers or trigger mapping tables: those calls answer #QRT_ERR_NOT_SUPPORTED on
 * every product.
 * @{
 */

/**
 * Lists what the DIO block offers: #QRT_DIO_CAP_DI when it has inputs, #QRT_DIO_CAP_DO when
 * it has outputs.
 *
 * @param[in]  handle   product handle
 * @param[out] caps     room for @p capacity values
 * @param[in]  capacity entries @p caps can take; 2 holds the whole list
 * @return the number of values written (0 to @p capacity; 0 when @p caps is NULL);
 *         #QRT_ERR_INVALID_PARAM (-11) when @p handle is NULL, #QRT_ERR_NOT_SUPPORTED (-5)
 *         when the product has no digital I/O
 * @par Hardware
 * None.
 * @par Products
 * TULAN-KQX.
 */
QRT_API int QRT_DIOGetCapability(void* handle, QRT_DIOCAPABILITY_TYPE* caps, unsigned int capacity);
/**
 * Number of digital inputs.
 *
 * @param[in]  handle product handle
 * @param[out] n      the number of inputs, 0 or more
 * @retval QRT_SUCCESS           @p n was written
 * @retval QRT_ERR_INVALID_PARAM @p handle or @p n is NULL
 * @retval QRT_ERR_NOT_SUPPORTED the product has no digital I/O
 * @par Hardware
 * None.
 * @par Products
 * TULAN-KQX.
 */
QRT_API int QRT_DIOGetDINums(void* handle, unsigned int* n);
/**
 * Number of digital outputs.
 *
 * @param[in]  handle product handle
 * @param[out] n      the number of outputs, 0 or more
 * @retval QRT_SUCCESS           @p n was written
 * @retval QRT_ERR_INVALID_PARAM @p handle or @p n is NULL
 * @retval QRT_ERR_NOT_SUPPORTED the product has no digital I/O
 * @par Hardware
 * None.
 * @par Products
 * TULAN-KQX.
 */
QRT_API int QRT_DIOGetDONums(void* handle, unsigned int* n);
/**
 * Lists what one input offers: #QRT_DI_CAP_STATE, #QRT_DI_CAP_TRIGGER and, when the driver
 * has a trigger-mode file for it, #QRT_DI_CAP_EDGE_TRIGGER.
 *
 * @param[in]  handle   product handle
 * @param[in]  di       0 to QRT_DIOGetDINums() - 1
 * @param[out] caps     room for @p capacity values
 * @param[in]  capacity entries @p caps can take; 3 holds the whole list
 * @return the number of values written (0 for an input out of range or a NULL @p caps);
 *         #QRT_ERR_INVALID_PARAM (-11) when @p handle is NULL, #QRT_ERR_NOT_SUPPORTED (-5)
 *         when the product has no digital I/O
 * @par Hardware
 * None.
 * @par Products
 * TULAN-KQX.
 */
QRT_API int QRT_DIOGetDICapability(void* handle, unsigned int di, QRT_DIODICAPABILITY_TYPE* caps,
                                   unsigned int capacity);
/**
 * Lists what one output offers: #QRT_DO_CAP_STATE and, when its file is readable,
 * #QRT_DO_CAP_READBACK.
 *
 * @param[in]  handle   product handle
 * @param[in]  dout     0 to QRT_DIOGetDONums() - 1
 * @param[out] caps     room for @p capacity values
 * @param[in]  capacity entries @p caps can take; 2 holds the whole list
 * @return the number of values written (0 for an output out of range or a NULL @p caps);
 *         #QRT_ERR_INVALID_PARAM (-11) when @p handle is NULL, #QRT_ERR_NOT_SUPPORTED (-5)
 *         when the product has no digital I/O
 * @par Hardware
 * None.
 * @par Products
 * TULAN-KQX.
 */
QRT_API int QRT_DIOGetDOCapability(void* handle, unsigned int dout, QRT_DIODOCAPABILITY_TYPE* caps,
                                   unsigned int capacity);
/**
 * Drives an output.
 *
 * @param[in] handle product handle
 * @param[in] dout   0 to QRT_DIOGetDONums() - 1
 * @param[in] state  non-zero: high (written as 1); 0: low
 * @retval QRT_SUCCESS           the driver took the level
 * @retval QRT_ERR_INVALID_PARAM @p handle is NULL or @p dout is out of range
 * @retval QRT_ERR_NOT_SUPPORTED the product has no digital I/O, or the output lacks
 *                               #QRT_DO_CAP_STATE
 * @retval QRT_ERR_FAILED        the output's file could not be written, or the driver refused
 *                               the value
 * @par Hardware
 * One sysfs file write.
 * @par Products
 * TULAN-KQX.
 */
QRT_API int QRT_DIOSetDOState(void* handle, unsigned int dout, int state);
/**
 * Drives outputs 0 to min(@p n, output count) - 1 in turn, each as QRT_DIOSetDOState() does.
 *
 * Every output is tried even when one fails.
 *
 * @param[in] handle product handle
 * @param[in] states one level per output: non-zero high, 0 low
 * @param[in] n      entries in @p states
 * @retval QRT_SUCCESS           every output took its level
 * @retval QRT_ERR_INVALID_PARAM @p handle is NULL, or @p states is NULL and @p n is not 0
 * @retval QRT_ERR_NOT_SUPPORTED the product has no digital I/O
 * @retval QRT_ERR_FAILED        at least one output failed
 * @par Hardware
 * One sysfs file write per output.
 * @par Products
 * TULAN-KQX.
 */
QRT_API int QRT_DIOSetDOStates(void* handle, int* states, unsigned int n);
/**
 * Reads back the level an output drives.
 *
 * @param[in]  handle product handle
 * @param[in]  dout   0 to QRT_DIOGetDONums() - 1
 * @param[out] state  the level as the driver reports it (0 or 1)
 * @retval QRT_SUCCESS           @p state was written
 * @retval QRT_ERR_INVALID_PARAM @p handle or @p state is NULL, or @p dout is out of range
 * @retval QRT_ERR_NOT_SUPPORTED the product has no digital I/O, or the output lacks
 *                               #QRT_DO_CAP_READBACK (its file is write-only)
 * @retval QRT_ERR_FAILED        the file could not be read or held no number
 * @par Hardware
 * One sysfs file read.
 * @par Products
 * TULAN-KQX, on outputs with #QRT_DO_CAP_READBACK.
 */
QRT_API int QRT_DIOGetDOState(void* handle, unsigned int dout, int* state);
/**
 * Reads back outputs 0 to min(@p n, output count) - 1, each as QRT_DIOGetDOState() does.
 *
 * Every output is tried; the entry of one that fails is left as it was.
 *
 * @param[in]  handle product handle
 * @param[out] states one level per output
 * @param[in]  n      entries @p states can take
 * @retval QRT_SUCCESS           every output was read
 * @retval QRT_ERR_INVALID_PARAM @p handle is NULL, or @p states is NULL and @p n is not 0
 * @retval QRT_ERR_NOT_SUPPORTED the product has no digital I/O
 * @retval QRT_ERR_FAILED        at least one output could not be read (also one without
 *                               #QRT_DO_CAP_READBACK)
 * @par Hardware
 * One sysfs file read per output.
 * @par Products
 * TULAN-KQX.
 */
QRT_API int QRT_DIOGetDOStates(void* handle, int* states, unsigned int n);
/**
 * Reads an input's level.
 *
 * @param[in]  handle product handle
 * @param[in]  di     0 to QRT_DIOGetDINums() - 1
 * @param[out] state  the level as the driver reports it (0 or 1)
 * @retval QRT_SUCCESS           @p state was written
 * @retval QRT_ERR_INVALID_PARAM @p handle or @p state is NULL, or @p di is out of range
 * @retval QRT_ERR_NOT_SUPPORTED the product has no digital I/O, or the input lacks
 *                               #QRT_DI_CAP_STATE
 * @retval QRT_ERR_FAILED        the file could not be read or held no number
 * @par Hardware
 * One sysfs file read.
 * @par Products
 * TULAN-KQX.
 */
QRT_API int QRT_DIOGetDIState(void* handle, unsigned int di, int* state);
/**
 * Reads inputs 0 to min(@p n, input count) - 1, each as QRT_DIOGetDIState() does.
 *
 * Every input is tried; the entry of one that fails is left as it was.
 *
 * @param[in]  handle product handle
 * @param[out] states one level per input
 * @param[in]  n      entries @p states can take
 * @retval QRT_SUCCESS           every input was read
 * @retval QRT_ERR_INVALID_PARAM @p handle is NULL, or @p states is NULL and @p n is not 0
 * @retval QRT_ERR_NOT_SUPPORTED the product has no digital I/O
 * @retval QRT_ERR_FAILED        at least one input could not be read
 * @par Hardware
 * One sysfs file read per input.
 * @par Products
 * TULAN-KQX.
 */
QRT_API int QRT_DIOGetDIStates(void* handle, int* states, unsigned int n);
/**
 * Would enable or disable the trigger of an input.
 *
 * @param[in] handle product handle
 * @param[in] di     input index
 * @param[in] enable non-zero enables
 * @retval QRT_ERR_INVALID_PARAM @p handle is NULL
 * @retval QRT_ERR_NOT_SUPPORTED always: the DIO driver has no trigger enables
 * @par Hardware
 * None.
 * @par Products
 * None.
 */
QRT_API int QRT_DIOSetDITriggerEnable(void* handle, unsigned int di, unsigned int enable);
/**
 * Would read whether the trigger of an input is enabled.
 *
 * @param[in]  handle product handle
 * @param[in]  di     input index
 * @param[out] enable 1 enabled, 0 not
 * @retval QRT_ERR_INVALID_PARAM @p handle is NULL
 * @retval QRT_ERR_NOT_SUPPORTED always: the DIO driver has no trigger enables
 * @par Hardware
 * None.
 * @par Products
 * None.
 */
QRT_API int QRT_DIOGetDITriggerEnable(void* handle, unsigned int di, unsigned int* enable);
/**
 * Would enable or disable the triggered pulse of an output.
 *
 * @param[in] handle product handle
 * @param[in] dout   output index
 * @param[in] enable non-zero enables
 * @retval QRT_ERR_INVALID_PARAM @p handle is NULL
 * @retval QRT_ERR_NOT_SUPPORTED always: the DIO driver has no trigger enables
 * @par Hardware
 * None.
 * @par Products
 * None.
 */
QRT_API int QRT_DIOSetDOTriggerEnable(void* handle, unsigned int dout, unsigned int enable);
/**
 * Would read whether the triggered pulse of an output is enabled.
 *
 * @param[in]  handle product handle
 * @param[in]  dout   output index
 * @param[out] enable 1 enabled, 0 not
 * @retval QRT_ERR_INVALID_PARAM @p handle is NULL
 * @retval QRT_ERR_NOT_SUPPORTED always: the DIO driver has no trigger enables
 * @par Hardware
 * None.
 * @par Products
 * None.
 */
QRT_API int QRT_DIOGetDOTriggerEnable(void* handle, unsigned int dout, unsigned int* enable);
/**
 * Registers the function that is called on every input change, or removes it.
 *
 * A callback starts the library's DIO monitor: a thread that listens to the DIO driver's
 * kernel uevents and calls @p callback with the input and its new level for each change on
 * the edges the input's trigger mode selects (QRT_DIOSetDIEdgeTrigger(); both edges on inputs
 * without a trigger-mode file). Registering another callback stops the monitor and starts a
 * new one (an event during the change is lost); NULL stops it. Stopping waits for the monitor
 * thread to end, up to about 3 seconds.
 *
 * Threads: call it from one thread at a time for a product, and never from the callback
 * itself (it would wait for its own thread).
 *
 * @param[in] handle   product handle
 * @param[in] callback the function to call on the monitor thread, or NULL
 * @retval QRT_SUCCESS           the monitor runs with @p callback (or is stopped for NULL)
 * @retval QRT_ERR_INVALID_PARAM @p handle is NULL
 * @retval QRT_ERR_NOT_SUPPORTED the product has no digital I/O
 * @retval QRT_ERR_FAILED        the uevent socket could not be opened (a line naming the step
 *                               is printed on standard output) or the thread not started; no
 *                               monitor runs
 * @par Hardware
 * None; opens a netlink socket (NETLINK_KOBJECT_UEVENT) and starts a thread.
 * @par Products
 * TULAN-KQX.
 */
QRT_API int QRT_DIOSetDITriggerCallback(void* handle, QRT_DITRIGGER_CALLBACK callback);
/**
 * Would set the debounce time of an input.
 *
 * @param[in] handle product handle
 * @param[in] di     input index
 * @param[in] t      debounce in counts of QRT_DIOGetDIDebounceTimeUnit()
 * @retval QRT_ERR_INVALID_PARAM @p handle is NULL
 * @retval QRT_ERR_NOT_SUPPORTED always: the DIO driver has no input debounce
 * @par Hardware
 * None.
 * @par Products
 * None.
 */
QRT_API int QRT_DIOSetDIDebounceTime(void* handle, unsigned int di, unsigned long t);
/**
 * Would read the debounce time of an input.
 *
 * @param[in]  handle product handle
 * @param[in]  di     input index
 * @param[out] t      debounce in counts of the unit
 * @retval QRT_ERR_INVALID_PARAM @p handle is NULL
 * @retval QRT_ERR_NOT_SUPPORTED always: the DIO driver has no input debounce
 * @par Hardware
 * None.
 * @par Products
 * None.
 */
QRT_API int QRT_DIOGetDIDebounceTime(void* handle, unsigned int di, unsigned long* t);
/**
 * Would report the size of one input debounce count.
 *
 * @param[in]  handle product handle
 * @param[out] unit   the unit
 * @retval QRT_ERR_INVALID_PARAM @p handle is NULL
 * @retval QRT_ERR_NOT_SUPPORTED always: the DIO driver has no input debounce
 * @par Hardware
 * None.
 * @par Products
 * None.
 */
QRT_API int QRT_DIOGetDIDebounceTimeUnit(void* handle, unsigned long* unit);
/**
 * Would invert an output or set it back to normal.
 *
 * @param[in] handle product handle
 * @param[in] dout   output index
 * @param[in] invert non-zero inverts
 * @retval QRT_ERR_INVALID_PARAM @p handle is NULL
 * @retval QRT_ERR_NOT_SUPPORTED always: the DIO driver cannot invert an output
 * @par Hardware
 * None.
 * @par Products
 * None.
 */
QRT_API int QRT_DIOSetDOInvertState(void* handle, unsigned int dout, int invert);
/**
 * Would read whether an output is inverted.
 *
 * @param[in]  handle product handle
 * @param[in]  dout   output index
 * @param[out] invert 1 inverted, 0 not
 * @retval QRT_ERR_INVALID_PARAM @p handle is NULL
 * @retval QRT_ERR_NOT_SUPPORTED always: the DIO driver cannot invert an output
 * @par Hardware
 * None.
 * @par Products
 * None.
 */
QRT_API int QRT_DIOGetDOInvertState(void* handle, unsigned int dout, int* invert);
/**
 * Selects the edges on which an input raises an event for the trigger callback.
 *
 * @param[in] handle product handle
 * @param[in] di     0 to QRT_DIOGetDINums() - 1
 * @param[in] edge   #QRT_EDGE_TRIGGER_EDGE0 (rising), #QRT_EDGE_TRIGGER_EDGE1 (falling) or
 *                   #QRT_EDGE_TRIGGER_BOTH
 * @retval QRT_SUCCESS           the driver took the trigger mode
 * @retval QRT_ERR_INVALID_PARAM @p handle is NULL, @p di is out of range, or @p edge is not
 *                               one of the three values
 * @retval QRT_ERR_NOT_SUPPORTED the product has no digital I/O, or the input lacks
 *                               #QRT_DI_CAP_EDGE_TRIGGER
 * @retval QRT_ERR_FAILED        the input's trigger-mode file could not be written
 * @par Hardware
 * One sysfs file write.
 * @par Products
 * TULAN-KQX, on inputs with #QRT_DI_CAP_EDGE_TRIGGER.
 */
QRT_API int QRT_DIOSetDIEdgeTrigger(void* handle, unsigned int di, QRT_EDGETRIGGER_TYPE edge);
/**
 * Reads the edges on which an input raises an event.
 *
 * @param[in]  handle product handle
 * @param[in]  di     0 to QRT_DIOGetDINums() - 1
 * @param[out] edge   #QRT_EDGE_TRIGGER_EDGE0, #QRT_EDGE_TRIGGER_EDGE1 or #QRT_EDGE_TRIGGER_BOTH
 * @retval QRT_SUCCESS           @p edge was written
 * @retval QRT_ERR_INVALID_PARAM @p handle or @p edge is NULL, or @p di is out of range
 * @retval QRT_ERR_NOT_SUPPORTED the product has no digital I/O, or the input lacks
 *                               #QRT_DI_CAP_EDGE_TRIGGER
 * @retval QRT_ERR_FAILED        the trigger-mode file could not be read or held an unknown mode
 * @par Hardware
 * One sysfs file read.
 * @par Products
 * TULAN-KQX, on inputs with #QRT_DI_CAP_EDGE_TRIGGER.
 */
QRT_API int QRT_DIOGetDIEdgeTrigger(void* handle, unsigned int di, QRT_EDGETRIGGER_TYPE* edge);
/**
 * Would set the pulse width an input needs to trigger.
 *
 * @param[in] handle product handle
 * @param[in] di     input index
 * @param[in] w      width in counts of QRT_DIOGetDITriggerPulseWidthUnit()
 * @retval QRT_ERR_INVALID_PARAM @p handle is NULL
 * @retval QRT_ERR_NOT_SUPPORTED always: the DIO driver has no triggered pulses
 * @par Hardware
 * None.
 * @par Products
 * None.
 */
QRT_API int QRT_DIOSetDITriggerPulseWidth(void* handle, unsigned int di, unsigned long w);
/**
 * Would read the pulse width an input needs to trigger.
 *
 * @param[in]  handle product handle
 * @param[in]  di     input index
 * @param[out] w      width in counts of the unit
 * @retval QRT_ERR_INVALID_PARAM @p handle is NULL
 * @retval QRT_ERR_NOT_SUPPORTED always: the DIO driver has no triggered pulses
 * @par Hardware
 * None.
 * @par Products
 * None.
 */
QRT_API int QRT_DIOGetDITriggerPulseWidth(void* handle, unsigned int di, unsigned long* w);
/**
 * Would report the size of one input pulse-width count.
 *
 * @param[in]  handle product handle
 * @param[out] unit   the unit
 * @retval QRT_ERR_INVALID_PARAM @p handle is NULL
 * @retval QRT_ERR_NOT_SUPPORTED always: the DIO driver has no triggered pulses
 * @par Hardware
 * None.
 * @par Products
 * None.
 */
QRT_API int QRT_DIOGetDITriggerPulseWidthUnit(void* handle, unsigned long* unit);
/**
 * Would set the delay of an output's triggered pulse.
 *
 * @param[in] handle product handle
 * @param[in] dout   output index
 * @param[in] d      delay in counts of QRT_DIOGetDOTriggerDelayUnit()
 * @retval QRT_ERR_INVALID_PARAM @p handle is NULL
 * @retval QRT_ERR_NOT_SUPPORTED always: the DIO driver has no triggered pulses
 * @par Hardware
 * None.
 * @par Products
 * None.
 */
QRT_API int QRT_DIOSetDOTriggerDelay(void* handle, unsigned int dout, unsigned long d);
/**
 * Would read the delay of an output's triggered pulse.
 *
 * @param[in]  handle product handle
 * @param[in]  dout   output index
 * @param[out] d      delay in counts of the unit
 * @retval QRT_ERR_INVALID_PARAM @p handle is NULL
 * @retval QRT_ERR_NOT_SUPPORTED always: the DIO driver has no triggered pulses
 * @par Hardware
 * None.
 * @par Products
 * None.
 */
QRT_API int QRT_DIOGetDOTriggerDelay(void* handle, unsigned int dout, unsigned long* d);
/**
 * Would report the size of one output delay count.
 *
 * @param[in]  handle product handle
 * @param[out] unit   the unit
 * @retval QRT_ERR_INVALID_PARAM @p handle is NULL
 * @retval QRT_ERR_NOT_SUPPORTED always: the DIO driver has no triggered pulses
 * @par Hardware
 * None.
 * @par Products
 * None.
 */
QRT_API int QRT_DIOGetDOTriggerDelayUnit(void* handle, unsigned long* unit);
/**
 * Would set the width of an output's triggered pulse.
 *
 * @param[in] handle product handle
 * @param[in] dout   output index
 * @param[in] w      width in counts of QRT_DIOGetDOTriggerPulseWidthUnit()
 * @retval QRT_ERR_INVALID_PARAM @p handle is NULL
 * @retval QRT_ERR_NOT_SUPPORTED always: the DIO driver has no triggered pulses
 * @par Hardware
 * None.
 * @par Products
 * None.
 */
QRT_API int QRT_DIOSetDOTriggerPulseWidth(void* handle, unsigned int dout, unsigned long w);
/**
 * Would read the width of an output's triggered pulse.
 *
 * @param[in]  handle product handle
 * @param[in]  dout   output index
 * @param[out] w      width in counts of the unit
 * @retval QRT_ERR_INVALID_PARAM @p handle is NULL
 * @retval QRT_ERR_NOT_SUPPORTED always: the DIO driver has no triggered pulses
 * @par Hardware
 * None.
 * @par Products
 * None.
 */
QRT_API int QRT_DIOGetDOTriggerPulseWidth(void* handle, unsigned int dout, unsigned long* w);
/**
 * Would report the size of one output pulse-width count.
 *
 * @param[in]  handle product handle
 * @param[out] unit   the unit
 * @retval QRT_ERR_INVALID_PARAM @p handle is NULL
 * @retval QRT_ERR_NOT_SUPPORTED always: the DIO driver has no triggered pulses
 * @par Hardware
 * None.
 * @par Products
 * None.
 */
QRT_API int QRT_DIOGetDOTriggerPulseWidthUnit(void* handle, unsigned long* unit);
/**
 * Would fire the triggered pulse of an output.
 *
 * @param[in] handle product handle
 * @param[in] dout   output index
 * @retval QRT_ERR_INVALID_PARAM @p handle is NULL
 * @retval QRT_ERR_NOT_SUPPORTED always: the DIO driver has no software trigger
 * @par Hardware
 * None.
 * @par Products
 * None.
 */
QRT_API int QRT_DIOTriggerDO(void* handle, unsigned int dout);
/**
 * Would fire the triggered pulses of several outputs.
 *
 * @param[in] handle product handle
 * @param[in] dos    output indexes
 * @param[in] n      entries in @p dos
 * @retval QRT_ERR_INVALID_PARAM @p handle is NULL
 * @retval QRT_ERR_NOT_SUPPORTED always: the DIO driver has no software trigger
 * @par Hardware
 * None.
 * @par Products
 * None.
 */
QRT_API int QRT_DIOTriggerDOs(void* handle, unsigned int* dos, unsigned int n);
/**
 * Would map each input's trigger onto one output.
 *
 * @param[in] handle product handle
 * @param[in] table  per input, the output it triggers
 * @param[in] n      entries in @p table
 * @retval QRT_ERR_INVALID_PARAM @p handle is NULL
 * @retval QRT_ERR_NOT_SUPPORTED always: the DIO driver has no trigger mapping
 * @par Hardware
 * None.
 * @par Products
 * None.
 */
QRT_API int QRT_DIOSetTrigger1vs1MappingTable(void* handle, unsigned int* table, unsigned int n);
/**
 * Would read the input-to-output trigger mapping.
 *
 * @param[in]  handle product handle
 * @param[out] table  per input, the output it triggers
 * @param[in]  n      entries @p table can take
 * @retval QRT_ERR_INVALID_PARAM @p handle is NULL
 * @retval QRT_ERR_NOT_SUPPORTED always: the DIO driver has no trigger mapping
 * @par Hardware
 * None.
 * @par Products
 * None.
 */
QRT_API int QRT_DIOGetTrigger1vs1MappingTable(void* handle, unsigned int* table, unsigned int n);
/**
 * Would map one input's trigger onto several outputs.
 *
 * @param[in] handle product handle
 * @param[in] di     input index
 * @param[in] dos    the outputs it triggers
 * @param[in] n      entries in @p dos
 * @retval QRT_ERR_INVALID_PARAM @p handle is NULL
 * @retval QRT_ERR_NOT_SUPPORTED always: the DIO driver has no trigger mapping
 * @par Hardware
 * None.
 * @par Products
 * None.
 */
QRT_API int QRT_DIOSetTrigger1vsMultipleMappingTable(void* handle, unsigned int di,
                                                     unsigned int* dos, unsigned int n);
/**
 * Would read the outputs one input's trigger drives.
 *
 * @param[in]  handle product handle
 * @param[in]  di     input index
 * @param[out] dos    the outputs it triggers
 * @param[in]  n      entries @p dos can take
 * @retval QRT_ERR_INVALID_PARAM @p handle is NULL
 * @retval QRT_ERR_NOT_SUPPORTED always: the DIO driver has no trigger mapping
 * @par Hardware
 * None.
 * @par Products
 * None.
 */
QRT_API int QRT_DIOGetTrigger1vsMultipleMappingTable(void* handle, unsigned int di,
                                                     unsigned int* dos, unsigned int n);

/** @} */

#ifdef __cplusplus
}
#endif

#endif /* QRT_SDK_H */
