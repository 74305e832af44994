// SPDX-License-Identifier: GPL-2.0
/*
 * nk_pcimap: register access to the QRT kit's PCI functions for the QRT SDK,
 * through the misc character device "/dev/___nk_pcimap".
 *
 * A program registers the vendor/device pairs it looks for; the driver lists
 * the PCI functions of the kit's chips that match a registered pair, in PCI
 * order, and gives access to the registers the SDK drives on them (its
 * windows, below) by their position in that list. Every other function, and
 * every other register, stays out of reach (see README.md).
 *
 * Per open file: the registered pairs, the scan list and a queue of masked
 * writes (the command cache). Per PCI function, shared by all open files: a
 * mutex that serialises its register accesses and a lock key that keeps
 * other files off the function while a program runs a register sequence.
 */

#define pr_fmt(fmt) KBUILD_MODNAME ": " fmt

#include <linux/delay.h>
#include <linux/fs.h>
#include <linux/io.h>
#include <linux/jiffies.h>
#include <linux/list.h>
#include <linux/miscdevice.h>
#include <linux/module.h>
#include <linux/mutex.h>
#include <linux/pci.h>
#include <linux/pm_runtime.h>
#include <linux/random.h>
#include <linux/sched/signal.h>
#include <linux/security.h>
#include <linux/slab.h>
#include <linux/uaccess.h>

#include "nk_pcimap.h"

#define NKP_DRIVER_VERSION	"1.5.0"

static ushort node_mode = 0600;
module_param(node_mode, ushort, 0444);
MODULE_PARM_DESC(node_mode,
		 "Permission bits of /dev/___nk_pcimap: 0600 (default) or 0660");

#define NKP_MAX_TEST_IDS	4
static char *test_ids[NKP_MAX_TEST_IDS];
static int n_test_ids;
module_param_array(test_ids, charp, &n_test_ids, 0444);
MODULE_PARM_DESC(test_ids,
		 "For testing only, never on a production machine: vvvv:dddd lists the functions of that pair with all of BAR 0 reachable; vvvv:dddd:CHIP (pex8608, pex8718, x550) treats them as that chip. Refused under kernel lockdown.");

/* The longest pause a queued command may ask for after its write. */
#define NKP_MAX_SETTLE_US	1000
/*
 * A lock whose holder has not touched its function for this long is given
 * to the next file that asks for it: a process that stopped (a debugger, a
 * SIGSTOP) or forgot its lock does not keep the card from everyone else.
 * The SDK's register sequences pause for at most a few hundred ms.
 */
#define NKP_LOCK_IDLE_MS	2000

/* ---- The kit's chips ---------------------------------------------------- */

#define NKP_READ	BIT(0)
#define NKP_WRITE	BIT(1)
#define NKP_RW		(NKP_READ | NKP_WRITE)

/* Registers of a chip that the SDK reaches: bytes from offset in BAR 0,
 * in units whose widths (bit n: n bytes) and directions are given. */
struct nkp_window {
	u32 offset;
	u32 bytes;
	u16 widths;
	u8 access;
};

#define NKP_REG32(offset, access)	{ (offset), 4, BIT(4), (access) }

struct nkp_chip {
	const char *name;
	u16 vendor;
	u16 device;
	/* The kernel driver that may be bound to the function; no other. */
	const char *driver;
	/* Whether the function sits on one of the kit's cards, as far as the
	 * bus can tell; NULL: not checked. */
	bool (*on_card)(struct pci_dev *pdev);
	/* No windows: all of BAR 0 in every width (test identifiers only). */
	const struct nkp_window *windows;
	unsigned int n_windows;
};

/*
 * PEX 8608 and PEX 8718 switches: the upstream port's BAR 0 holds the
 * switch's registers; the SDK drives the GPIO direction, input and output
 * registers and the serial-EEPROM port's control and data registers (behind
 * which the cards put their CPLD or USB3 microcontroller).
 */
static const struct nkp_window nkp_pex8608_windows[] = {
	NKP_REG32(0x260, NKP_RW),	/* serial port control */
	NKP_REG32(0x264, NKP_RW),	/* serial port data */
	NKP_REG32(0x62c, NKP_RW),	/* GPIO direction */
	NKP_REG32(0x63c, NKP_READ),	/* GPIO input */
	NKP_REG32(0x644, NKP_RW),	/* GPIO output */
};

static const struct nkp_window nkp_pex8718_windows[] = {
	NKP_REG32(0x260, NKP_RW),	/* serial port control */
	NKP_REG32(0x264, NKP_RW),	/* serial port data */
	NKP_REG32(0x600, NKP_RW),	/* GPIO direction */
	NKP_REG32(0x61c, NKP_READ),	/* GPIO input */
	NKP_REG32(0x624, NKP_RW),	/* GPIO output */
};

/* X550: the status register (which LAN function this is), the pin control
 * register that hands the I2C pins to the I2C master, and that master's
 * command and parameter registers. */
static const struct nkp_window nkp_x550_windows[] = {
	NKP_REG32(0x00008, NKP_READ),	/* STATUS */
	NKP_REG32(0x00020, NKP_RW),	/* ESDP: software pins */
	NKP_REG32(0x15f58, NKP_RW),	/* I2CCMD */
	NKP_REG32(0x15f5c, NKP_RW),	/* I2CPARAMS */
};

/* The port above the function leads to a slot: an add-in card, not a chip
 * soldered onto the main board. */
static bool nkp_behind_slot(struct pci_dev *pdev)
{
	struct pci_dev *port = pci_upstream_bridge(pdev);

	return port && pci_is_pcie(port) &&
	       (pcie_caps_reg(port) & PCI_EXP_FLAGS_SLOT);
}

struct nkp_walk {
	const struct pci_dev *upstream;
	bool foreign;
};

/* What the kit's cards carry below their switch: camera-port Ethernet
 * controllers, USB host controllers, the GPU card's display controller and
 * its audio function, and the switch's own downstream ports. */
static int nkp_check_downstream(struct pci_dev *pdev, void *data)
{
	struct nkp_walk *walk = data;
	unsigned int class = pdev->class >> 8;

	if (pdev->vendor == walk->upstream->vendor &&
	    pdev->device == walk->upstream->device)
		return 0;
	if (class >> 8 == PCI_BASE_CLASS_NETWORK ||
	    class >> 8 == PCI_BASE_CLASS_DISPLAY ||
	    class == PCI_CLASS_SERIAL_USB ||
	    class == PCI_CLASS_MULTIMEDIA_HD_AUDIO)
		return 0;
	walk->foreign = true;
	return 1;
}

/* A switch of the kit: its upstream port, on a card in a slot, with nothing
 * below it that the kit's cards do not carry (a storage controller or a
 * further bridge means the switch is part of the machine's own fabric). */
static bool nkp_switch_on_card(struct pci_dev *pdev)
{
	struct nkp_walk walk = { .upstream = pdev };

	if (!pci_is_pcie(pdev) || pci_pcie_type(pdev) != PCI_EXP_TYPE_UPSTREAM ||
	    !nkp_behind_slot(pdev))
		return false;
	if (pdev->subordinate)
		pci_walk_bus(pdev->subordinate, nkp_check_downstream, &walk);
	return !walk.foreign;
}

static const struct nkp_chip nkp_chips[] = {
	{ "pex8608", PCI_VENDOR_ID_PLX, 0x8608, "pcieport", nkp_switch_on_card,
	  nkp_pex8608_windows, ARRAY_SIZE(nkp_pex8608_windows) },
	{ "pex8718", PCI_VENDOR_ID_PLX, 0x8718, "pcieport", nkp_switch_on_card,
	  nkp_pex8718_windows, ARRAY_SIZE(nkp_pex8718_windows) },
	{ "x550", PCI_VENDOR_ID_INTEL, 0x1563, "ixgbe", nkp_behind_slot,
	  nkp_x550_windows, ARRAY_SIZE(nkp_x550_windows) },
};

static struct nkp_chip nkp_test_chips[NKP_MAX_TEST_IDS];
static unsigned int nkp_n_test_chips;

/* "vvvv:dddd" or "vvvv:dddd:CHIP" of the test_ids parameter. */
static int nkp_parse_test_id(const char *text, struct nkp_chip *chip)
{
	unsigned int vendor, device, i;
	char name[16] = "";

	if (sscanf(text, "%4x:%4x:%15s", &vendor, &device, name) < 2)
		return -EINVAL;
	memset(chip, 0, sizeof(*chip));
	if (name[0]) {
		for (i = 0; i < ARRAY_SIZE(nkp_chips); i++)
			if (!strcmp(name, nkp_chips[i].name))
				*chip = nkp_chips[i];
		if (!chip->name)
			return -EINVAL;
	} else {
		chip->name = "test";
	}
	chip->vendor = vendor;
	chip->device = device;
	return 0;
}

static const struct nkp_chip *nkp_chip_of(const struct pci_dev *pdev)
{
	unsigned int i;

	for (i = 0; i < nkp_n_test_chips; i++)
		if (pdev->vendor == nkp_test_chips[i].vendor &&
		    pdev->device == nkp_test_chips[i].device)
			return &nkp_test_chips[i];
	for (i = 0; i < ARRAY_SIZE(nkp_chips); i++)
		if (pdev->vendor == nkp_chips[i].vendor &&
		    pdev->device == nkp_chips[i].device)
			return &nkp_chips[i];
	return NULL;
}

/* The span of BAR 0 that a chip's windows cover. */
static void nkp_chip_span(const struct nkp_chip *chip, struct pci_dev *pdev,
			  u64 *base, u64 *bytes)
{
	u64 low = U64_MAX, high = 0;
	unsigned int i;

	if (!chip->n_windows) {
		*base = 0;
		*bytes = pci_resource_len(pdev, 0);
		return;
	}
	for (i = 0; i < chip->n_windows; i++) {
		low = min_t(u64, low, chip->windows[i].offset);
		high = max_t(u64, high, (u64)chip->windows[i].offset +
					chip->windows[i].bytes);
	}
	*base = low;
	*bytes = high - low;
}

/*
 * The chip a listed function is, or NULL when the function may not be
 * listed: not one of the kit's chips, no memory BAR 0 that holds its
 * windows, not on a kit card, or handed to a driver other than its own (a
 * user-space driver such as vfio-pci owns it then). A driver that binds
 * later makes the function forgotten (nkp_bus_event).
 */
static const struct nkp_chip *nkp_admit(struct pci_dev *pdev)
{
	const struct nkp_chip *chip = nkp_chip_of(pdev);
	struct device_driver *driver = READ_ONCE(pdev->dev.driver);
	u64 base, bytes;

	if (!chip || !(pci_resource_flags(pdev, 0) & IORESOURCE_MEM) ||
	    !pci_resource_len(pdev, 0))
		return NULL;
	nkp_chip_span(chip, pdev, &base, &bytes);
	if (!bytes || base + bytes > pci_resource_len(pdev, 0))
		return NULL;
	if (chip->on_card && !chip->on_card(pdev))
		return NULL;
	if (driver && (!chip->driver || strcmp(driver->name, chip->driver)))
		return NULL;
	return chip;
}

/* ---- Functions and files ------------------------------------------------ */

/*
 * A PCI function some scan list has named. Its windows stay mapped until
 * the module unloads or the function leaves the bus or changes driver:
 * enabling a device is slow work, and programs open and close the node
 * often. A function that has gone is forgotten once no scan list, cached
 * command or held lock (its users) names it any more. While it has users it
 * holds a runtime-PM reference, so that it is not suspended under a program
 * that reads its registers.
 */
struct nkp_function {
	struct list_head node;		/* in nkp_functions */
	unsigned int users;		/* under nkp_functions_lock */
	bool gone;			/* under nkp_functions_lock */
	bool pm_held;			/* under nkp_functions_lock */
	struct pci_dev *pdev;
	const struct nkp_chip *chip;
	u64 base;			/* BAR 0 offset of the mapped span */
	u64 bytes;
	resource_size_t bar_start;	/* where BAR 0 was when mapped */
	resource_size_t bar_len;
	struct mutex lock;		/* everything below */
	void __iomem *regs;		/* the span; NULL: no registers */
	bool enabled;			/* we enabled its memory decoding */
	u32 key;			/* driver lock; 0 when free */
	struct nkp_file *holder;	/* open file that took the key */
	unsigned long used;		/* the holder's last access */
	u32 revoked_key;		/* a lock given away while idle */
	struct nkp_file *revoked_holder;
};

struct nkp_command {
	struct list_head node;
	struct nkp_function *function;	/* holds a user reference */
	u64 offset;
	u32 width;
	u32 length;
	u32 key;
	u32 settle;
	u8 data[NKP_MAX_DATA];
	u8 mask[NKP_MAX_DATA];
};

struct nkp_file {
	struct mutex lock;		/* everything below */
	bool writable;			/* opened for writing */
	unsigned int n_pairs;
	s32 vendors[NKP_MAX_PAIRS];
	s32 devices[NKP_MAX_PAIRS];
	unsigned int n_listed;
	/* Each holds a user reference. */
	struct nkp_function *listed[NKP_MAX_LISTED];
	struct list_head cache;
	unsigned int n_cached;
};

/*
 * Lock order: an open file's lock, then nkp_functions_lock, then a
 * function's lock. Nothing takes nkp_functions_lock while holding a
 * function's lock, and nothing holds a function's lock for longer than one
 * access or one queued command with its settle time, so removal of a device
 * never waits long.
 */
static DEFINE_MUTEX(nkp_functions_lock);
static LIST_HEAD(nkp_functions);
static atomic_long_t nkp_refused;

/* ---- Register space ----------------------------------------------------- */

static int nkp_map_space(struct nkp_function *f)
{
	struct pci_dev *pdev = f->pdev;

	if (pci_enable_device_mem(pdev)) {
		pci_info(pdev, "cannot enable memory decoding; not listed\n");
		return -ENODEV;
	}
	f->enabled = true;
	f->regs = pci_iomap_range(pdev, 0, f->base, f->bytes);
	if (!f->regs) {
		pci_info(pdev, "cannot map BAR 0; not listed\n");
		pci_disable_device(pdev);
		f->enabled = false;
		return -ENODEV;
	}
	f->bar_start = pci_resource_start(pdev, 0);
	f->bar_len = pci_resource_len(pdev, 0);
	return 0;
}

/* Forgets the register space: every later access is refused. */
static void nkp_unmap_space(struct nkp_function *f)
{
	if (f->regs)
		pci_iounmap(f->pdev, f->regs);
	if (f->enabled)
		pci_disable_device(f->pdev);
	f->regs = NULL;
	f->enabled = false;
}

/* Under the function's lock: whether its registers are still where they
 * were mapped. A BAR 0 that moved takes the registers with it. */
static bool nkp_space_present(struct nkp_function *f)
{
	if (!f->regs)
		return false;
	if (pci_resource_start(f->pdev, 0) == f->bar_start &&
	    pci_resource_len(f->pdev, 0) == f->bar_len)
		return true;
	pci_info(f->pdev, "BAR 0 moved; its old mapping is dropped\n");
	nkp_unmap_space(f);
	return false;
}

static u32 nkp_read32(struct nkp_function *f, u64 offset)
{
	return ioread32(f->regs + (offset - f->base));
}

static void nkp_write32(struct nkp_function *f, u64 offset, u32 value)
{
	iowrite32(value, f->regs + (offset - f->base));
}

/*
 * One unit of 1, 2, 4 or 8 bytes. The kit's chips are reached in 32-bit
 * units only (their windows take no other width). A test device's 8-byte
 * unit is two 32-bit registers, low word first, and its narrower units are
 * read-modify-write on the 32-bit register that holds them: QEMU's
 * educational device, like many, takes no narrower access.
 */
static u64 nkp_read_unit(struct nkp_function *f, u64 offset, u32 width)
{
	unsigned int shift = (offset & 3) * 8;

	if (width == 8)
		return nkp_read32(f, offset) |
		       (u64)nkp_read32(f, offset + 4) << 32;
	if (width == 4)
		return nkp_read32(f, offset);
	return (nkp_read32(f, offset & ~3ull) >> shift) &
	       (width == 1 ? 0xff : 0xffff);
}

static void nkp_write_unit(struct nkp_function *f, u64 offset, u32 width,
			   u64 value)
{
	unsigned int shift = (offset & 3) * 8;
	u32 mask, word;

	if (width == 8) {
		nkp_write32(f, offset, (u32)value);
		nkp_write32(f, offset + 4, (u32)(value >> 32));
	} else if (width == 4) {
		nkp_write32(f, offset, (u32)value);
	} else {
		mask = (width == 1 ? 0xffu : 0xffffu) << shift;
		word = nkp_read32(f, offset & ~3ull);
		word = (word & ~mask) | (((u32)value << shift) & mask);
		nkp_write32(f, offset & ~3ull, word);
	}
}

static u64 nkp_unit_from_bytes(const u8 *bytes, u32 width)
{
	u64 value = 0;
	u32 i;

	for (i = 0; i < width; i++)
		value |= (u64)bytes[i] << (8 * i);
	return value;
}

static void nkp_unit_to_bytes(u8 *bytes, u32 width, u64 value)
{
	u32 i;

	for (i = 0; i < width; i++)
		bytes[i] = value >> (8 * i);
}

/* Whole aligned units of a known width, at most NKP_MAX_DATA bytes. */
static bool nkp_valid_units(u64 offset, u32 width, u32 length)
{
	if (width != 1 && width != 2 && width != 4 && width != 8)
		return false;
	return length && length <= NKP_MAX_DATA && !(length % width) &&
	       !(offset % width);
}

static bool nkp_unit_in_window(const struct nkp_window *w, u64 unit,
			       u32 width, u8 need)
{
	return unit >= w->offset && unit + width <= (u64)w->offset + w->bytes &&
	       (w->widths & BIT(width)) && (w->access & need) == need;
}

/* Every unit of the request lies in one of the chip's windows, in a width
 * and direction that window takes. */
static bool nkp_window_admits(const struct nkp_function *f, u64 offset,
			      u32 width, u32 length, u8 need)
{
	const struct nkp_chip *chip = f->chip;
	unsigned int i;
	u32 at;

	if (offset >= f->base + f->bytes || length > f->base + f->bytes - offset)
		return false;
	if (!chip->n_windows)
		return true;
	for (at = 0; at < length; at += width) {
		for (i = 0; i < chip->n_windows; i++)
			if (nkp_unit_in_window(&chip->windows[i], offset + at,
					       width, need))
				break;
		if (i == chip->n_windows)
			return false;
	}
	return true;
}

static void nkp_count_refusal(const struct nkp_function *f, u64 offset,
			      u32 width, u32 length, bool write)
{
	atomic_long_inc(&nkp_refused);
	pci_notice_ratelimited(f->pdev,
			       "refused %s of %u bytes at %#llx in units of %u: outside the %s registers\n",
			       write ? "write" : "read", length, offset, width,
			       f->chip->name);
}

/* ---- Functions ---------------------------------------------------------- */

/* Under nkp_functions_lock. */
static void nkp_function_use(struct nkp_function *f)
{
	if (!f->users++ && !f->gone) {
		pm_runtime_get_sync(&f->pdev->dev);
		f->pm_held = true;
	}
}

static void nkp_pm_release(struct nkp_function *f)
{
	if (f->pm_held)
		pm_runtime_put(&f->pdev->dev);
	f->pm_held = false;
}

/* Under nkp_functions_lock: drops a user; true when the function is to be
 * freed (it has gone and nothing names it). */
static bool nkp_function_unuse(struct nkp_function *f)
{
	if (--f->users)
		return false;
	nkp_pm_release(f);
	if (!f->gone)
		return false;
	list_del(&f->node);
	return true;
}

static void nkp_function_free(struct nkp_function *f)
{
	nkp_unmap_space(f);
	nkp_pm_release(f);
	pci_dev_put(f->pdev);
	mutex_destroy(&f->lock);
	kfree(f);
}

/* Under nkp_functions_lock: takes the registers away from a function that
 * left the bus or its driver; true when it is to be freed. */
static bool nkp_function_forget(struct nkp_function *f)
{
	mutex_lock(&f->lock);
	nkp_unmap_space(f);
	mutex_unlock(&f->lock);
	nkp_pm_release(f);
	f->gone = true;
	if (f->users)
		return false;
	list_del(&f->node);
	return true;
}

/* Under nkp_functions_lock: the function of pdev, with a new user, or an
 * error pointer. A function whose registers were lost is replaced. */
static struct nkp_function *nkp_function_get(struct pci_dev *pdev,
					     const struct nkp_chip *chip)
{
	struct nkp_function *f, *next;
	bool present;

	list_for_each_entry_safe(f, next, &nkp_functions, node) {
		if (f->pdev != pdev || f->gone)
			continue;
		mutex_lock(&f->lock);
		present = nkp_space_present(f);
		mutex_unlock(&f->lock);
		if (present) {
			nkp_function_use(f);
			return f;
		}
		if (nkp_function_forget(f))
			nkp_function_free(f);
	}
	f = kzalloc(sizeof(*f), GFP_KERNEL);
	if (!f)
		return ERR_PTR(-ENOMEM);
	f->pdev = pci_dev_get(pdev);
	f->chip = chip;
	nkp_chip_span(chip, pdev, &f->base, &f->bytes);
	mutex_init(&f->lock);
	if (nkp_map_space(f)) {
		nkp_function_free(f);
		return ERR_PTR(-ENODEV);
	}
	list_add_tail(&f->node, &nkp_functions);
	nkp_function_use(f);
	return f;
}

static void nkp_function_hold(struct nkp_function *f)
{
	mutex_lock(&nkp_functions_lock);
	nkp_function_use(f);
	mutex_unlock(&nkp_functions_lock);
}

static void nkp_function_put(struct nkp_function *f)
{
	bool free;

	mutex_lock(&nkp_functions_lock);
	free = nkp_function_unuse(f);
	mutex_unlock(&nkp_functions_lock);
	if (free)
		nkp_function_free(f);
}

/* The listed function at a record's index, or NULL. */
static struct nkp_function *nkp_listed(struct nkp_file *file, u64 index)
{
	return index < file->n_listed ? file->listed[index] : NULL;
}

/* Under the function's lock: a free function admits every file; a locked
 * one only the file that holds the lock, with its key. */
static bool nkp_key_admits(struct nkp_function *f, struct nkp_file *file,
			   u32 key)
{
	if (!f->key)
		return true;
	if (f->holder != file || f->key != key)
		return false;
	f->used = jiffies;
	return true;
}

/* ---- Scan list ---------------------------------------------------------- */

static bool nkp_pair_registered(const struct nkp_file *file, s32 vendor,
				s32 device)
{
	unsigned int i;

	for (i = 0; i < file->n_pairs; i++)
		if (file->vendors[i] == vendor && file->devices[i] == device)
			return true;
	return false;
}

static void nkp_drop_list(struct nkp_file *file)
{
	while (file->n_listed)
		nkp_function_put(file->listed[--file->n_listed]);
}

/*
 * Lists every function of the kit that matches a registered pair, in PCI
 * order, at most NKP_MAX_LISTED of them; counts those that match
 * vendor/device. A function outside the kit is not found.
 */
static int nkp_build_list(struct nkp_file *file, s32 vendor, s32 device,
			  s32 *first, s32 *count)
{
	struct nkp_function *listed[NKP_MAX_LISTED];
	const struct nkp_chip *chip;
	struct pci_dev *pdev = NULL;
	struct nkp_function *f;
	unsigned int n = 0;
	int ret = 0;

	*first = -1;
	*count = 0;
	mutex_lock(&nkp_functions_lock);
	for_each_pci_dev(pdev) {
		if (!nkp_pair_registered(file, pdev->vendor, pdev->device))
			continue;
		chip = nkp_admit(pdev);
		if (!chip)
			continue;
		if (n == NKP_MAX_LISTED) {
			pci_dev_put(pdev);
			break;
		}
		f = nkp_function_get(pdev, chip);
		if (IS_ERR(f)) {
			if (PTR_ERR(f) == -ENODEV)
				continue;
			pci_dev_put(pdev);
			ret = PTR_ERR(f);
			break;
		}
		listed[n] = f;
		if (pdev->vendor == vendor && pdev->device == device &&
		    !(*count)++)
			*first = n;
		n++;
	}
	mutex_unlock(&nkp_functions_lock);
	if (ret) {
		while (n)
			nkp_function_put(listed[--n]);
		return ret;
	}
	/* The new list holds its references before the old one lets go, so
	 * that a function listed in both keeps its driver lock. */
	nkp_drop_list(file);
	memcpy(file->listed, listed, n * sizeof(listed[0]));
	file->n_listed = n;
	return 0;
}

static long nkp_add_scan(struct nkp_file *file, void *record)
{
	struct nkp_add_scan *r = record;
	bool known;
	long ret;

	if (r->flag & 1) {
		nkp_drop_list(file);
		file->n_pairs = 0;
	}
	r->first = -1;
	r->count = 0;
	r->status = NKP_STATUS_OK;
	known = nkp_pair_registered(file, r->vendor, r->device);
	if (!known && file->n_pairs == NKP_MAX_PAIRS) {
		r->status = NKP_STATUS_INVALID;
		return 0;
	}
	if (!known) {
		file->vendors[file->n_pairs] = r->vendor;
		file->devices[file->n_pairs] = r->device;
		file->n_pairs++;
	}
	ret = nkp_build_list(file, r->vendor, r->device, &r->first, &r->count);
	if (ret && !known)
		file->n_pairs--;
	return ret;
}

static long nkp_scan_list(struct nkp_file *file, void *record)
{
	struct nkp_scan_list *r = record;
	unsigned int i;

	memset(r->vendors, 0, sizeof(r->vendors));
	memset(r->devices, 0, sizeof(r->devices));
	for (i = 0; i < file->n_pairs; i++) {
		r->vendors[i] = file->vendors[i];
		r->devices[i] = file->devices[i];
	}
	r->count = file->n_pairs;
	r->status = NKP_STATUS_OK;
	return 0;
}

static long nkp_device_info(struct nkp_file *file, void *record)
{
	struct nkp_device_info *r = record;
	struct nkp_function *f = nkp_listed(file, r->index);

	r->status = f ? NKP_STATUS_OK : NKP_STATUS_INVALID;
	if (f) {
		r->vendor = f->pdev->vendor;
		r->device = f->pdev->device;
	}
	return 0;
}

/* ---- Register access ---------------------------------------------------- */

static long nkp_access(struct nkp_file *file, void *record)
{
	struct nkp_access *r = record;
	struct nkp_function *f = nkp_listed(file, r->index);
	bool write = r->operation == NKP_OP_WRITE;
	u32 done;

	if (!f || (r->operation != NKP_OP_READ && !write) ||
	    !nkp_valid_units(r->offset, r->width, r->length)) {
		r->status = NKP_STATUS_INVALID;
		return 0;
	}
	if (write && !file->writable)
		return -EBADF;
	if (security_locked_down(LOCKDOWN_PCI_ACCESS))
		return -EPERM;
	if (!nkp_window_admits(f, r->offset, r->width, r->length,
			       write ? NKP_WRITE : NKP_READ)) {
		nkp_count_refusal(f, r->offset, r->width, r->length, write);
		r->status = NKP_STATUS_INVALID;
		return 0;
	}
	if (mutex_lock_interruptible(&f->lock))
		return -ERESTARTSYS;
	if (!nkp_space_present(f))
		r->status = NKP_STATUS_INVALID;
	else if (!nkp_key_admits(f, file, r->key))
		r->status = NKP_STATUS_BUSY;
	else
		r->status = NKP_STATUS_OK;
	for (done = 0; r->status == NKP_STATUS_OK && done < r->length;
	     done += r->width) {
		if (write)
			nkp_write_unit(f, r->offset + done, r->width,
				       nkp_unit_from_bytes(r->data + done,
							   r->width));
		else
			nkp_unit_to_bytes(r->data + done, r->width,
					  nkp_read_unit(f, r->offset + done,
							r->width));
	}
	mutex_unlock(&f->lock);
	return 0;
}

/* ---- Driver lock -------------------------------------------------------- */

/*
 * Keys are random, so that no file can guess another's; and a key is only
 * good in the file that took it. A lock left idle for NKP_LOCK_IDLE_MS goes
 * to the next file that asks; its former holder learns it from a busy
 * status, and its unlock with the old key still succeeds.
 */
static long nkp_lock(struct nkp_file *file, void *record)
{
	struct nkp_lock *r = record;
	struct nkp_function *f = nkp_listed(file, r->index);
	bool handed_over = false;
	u32 key;

	if (!f) {
		r->status = NKP_STATUS_INVALID;
		return 0;
	}
	if (!file->writable)
		return -EBADF;
	/* A held lock keeps its function, even when no list names it. */
	nkp_function_hold(f);
	if (mutex_lock_interruptible(&f->lock)) {
		nkp_function_put(f);
		return -ERESTARTSYS;
	}
	if (f->key && f->holder != file &&
	    time_after(jiffies, f->used + msecs_to_jiffies(NKP_LOCK_IDLE_MS))) {
		pci_notice(f->pdev,
			   "lock left idle for %u ms: given to another file\n",
			   NKP_LOCK_IDLE_MS);
		f->revoked_key = f->key;
		f->revoked_holder = f->holder;
		f->key = 0;
		handed_over = true;
	}
	r->status = f->key ? NKP_STATUS_BUSY : NKP_STATUS_OK;
	if (!f->key) {
		do {
			key = get_random_u32();
		} while (!key || key == f->revoked_key);
		f->key = key;
		f->holder = file;
		f->used = jiffies;
		r->key = key;
	}
	mutex_unlock(&f->lock);
	/* A handed-over lock keeps the reference its first holder took. */
	if (r->status != NKP_STATUS_OK || handed_over)
		nkp_function_put(f);
	return 0;
}

static long nkp_unlock(struct nkp_file *file, void *record)
{
	struct nkp_lock *r = record;
	struct nkp_function *f = nkp_listed(file, r->index);
	bool released = false;

	if (!f) {
		r->status = NKP_STATUS_INVALID;
		return 0;
	}
	if (!file->writable)
		return -EBADF;
	if (mutex_lock_interruptible(&f->lock))
		return -ERESTARTSYS;
	r->status = NKP_STATUS_INVALID;
	if (f->key && f->holder == file && f->key == r->key) {
		f->key = 0;
		f->holder = NULL;
		released = true;
		r->status = NKP_STATUS_OK;
	} else if (f->revoked_key && f->revoked_holder == file &&
		   f->revoked_key == r->key) {
		f->revoked_key = 0;
		f->revoked_holder = NULL;
		r->status = NKP_STATUS_OK;
	}
	mutex_unlock(&f->lock);
	/* Not the last user: this file's list names the function. */
	if (released)
		nkp_function_put(f);
	return 0;
}

/* Drops the driver locks an open file still holds when it is closed. */
static void nkp_drop_locks(struct nkp_file *file)
{
	struct nkp_function *f, *next;
	LIST_HEAD(unused);
	bool held;

	mutex_lock(&nkp_functions_lock);
	list_for_each_entry_safe(f, next, &nkp_functions, node) {
		mutex_lock(&f->lock);
		held = f->holder == file;
		if (held) {
			f->key = 0;
			f->holder = NULL;
		}
		if (f->revoked_holder == file) {
			f->revoked_key = 0;
			f->revoked_holder = NULL;
		}
		mutex_unlock(&f->lock);
		if (held && nkp_function_unuse(f))
			list_add(&f->node, &unused);
	}
	mutex_unlock(&nkp_functions_lock);
	list_for_each_entry_safe(f, next, &unused, node)
		nkp_function_free(f);
}

/* ---- Command cache ------------------------------------------------------ */

static void nkp_free_commands(struct list_head *commands)
{
	struct nkp_command *c, *next;

	list_for_each_entry_safe(c, next, commands, node) {
		list_del(&c->node);
		nkp_function_put(c->function);
		kfree(c);
	}
}

/* A queued write may read its register first: its window must take both. */
static long nkp_cache_write(struct nkp_file *file, void *record)
{
	struct nkp_cache_write *r = record;
	struct nkp_access *a = &r->access;
	struct nkp_function *f = nkp_listed(file, a->index);
	struct nkp_command *c;

	r->status = NKP_STATUS_INVALID;
	if (!f || a->operation != NKP_OP_WRITE ||
	    !nkp_valid_units(a->offset, a->width, a->length))
		return 0;
	if (!file->writable)
		return -EBADF;
	if (r->settle > NKP_MAX_SETTLE_US || file->n_cached >= NKP_MAX_CACHED)
		return 0;
	if (!nkp_window_admits(f, a->offset, a->width, a->length, NKP_RW)) {
		nkp_count_refusal(f, a->offset, a->width, a->length, true);
		return 0;
	}
	c = kzalloc(sizeof(*c), GFP_KERNEL_ACCOUNT);
	if (!c)
		return -ENOMEM;
	nkp_function_hold(f);
	c->function = f;
	c->offset = a->offset;
	c->width = a->width;
	c->length = a->length;
	c->key = a->key;
	c->settle = r->settle;
	memcpy(c->data, a->data, a->length);
	memcpy(c->mask, r->mask, a->length);
	list_add_tail(&c->node, &file->cache);
	file->n_cached++;
	r->status = NKP_STATUS_OK;
	return 0;
}

static long nkp_cache_clear(struct nkp_file *file, void *record)
{
	struct nkp_cache *r = record;

	nkp_free_commands(&file->cache);
	file->n_cached = 0;
	r->status = NKP_STATUS_OK;
	return 0;
}

/* new = (old & ~mask) | (data & mask) per unit; a unit with an all-ones mask
 * is written without reading, one with no mask bit is not touched. */
static void nkp_run_command(struct nkp_function *f, const struct nkp_command *c)
{
	u64 all = c->width == 8 ? ~0ull : (1ull << (8 * c->width)) - 1;
	u64 mask, value;
	u32 at;

	for (at = 0; at < c->length; at += c->width) {
		mask = nkp_unit_from_bytes(c->mask + at, c->width);
		if (!mask)
			continue;
		value = nkp_unit_from_bytes(c->data + at, c->width);
		if (mask != all)
			value = (nkp_read_unit(f, c->offset + at, c->width) &
				 ~mask) | (value & mask);
		nkp_write_unit(f, c->offset + at, c->width, value);
	}
}

/*
 * Runs the queued commands in order and empties the queue. A command whose
 * function is locked by another file ends the run with busy; a signal ends
 * it between two commands. Each command's settle time (at most
 * NKP_MAX_SETTLE_US) is left with the function's lock held, so that nobody
 * reaches the device before it has settled.
 */
static long nkp_cache_execute(struct nkp_file *file, void *record)
{
	struct nkp_cache *r = record;
	struct nkp_command *c;
	LIST_HEAD(commands);
	long ret = 0;

	list_splice_init(&file->cache, &commands);
	file->n_cached = 0;
	r->status = NKP_STATUS_OK;
	if (!list_empty(&commands) && security_locked_down(LOCKDOWN_PCI_ACCESS))
		ret = -EPERM;
	list_for_each_entry(c, &commands, node) {
		struct nkp_function *f = c->function;

		if (ret || signal_pending(current) ||
		    mutex_lock_interruptible(&f->lock)) {
			ret = ret ?: -EINTR;
			break;
		}
		/* A function that has gone has no registers left. */
		if (!nkp_space_present(f))
			r->status = NKP_STATUS_INVALID;
		else if (!nkp_key_admits(f, file, c->key))
			r->status = NKP_STATUS_BUSY;
		if (r->status == NKP_STATUS_OK) {
			nkp_run_command(f, c);
			if (c->settle)
				fsleep(c->settle);
		}
		mutex_unlock(&f->lock);
		if (r->status != NKP_STATUS_OK)
			break;
	}
	nkp_free_commands(&commands);
	return ret;
}

/* ---- Version ------------------------------------------------------------ */

static long nkp_version(struct nkp_file *file, void *record)
{
	struct nkp_version *r = record;

	memset(r, 0, sizeof(*r));
	strscpy(r->text, NKP_DRIVER_VERSION, sizeof(r->text));
	return 0;
}

/* ---- Character device --------------------------------------------------- */

static const struct nkp_request {
	unsigned int code;
	size_t size;
	long (*handle)(struct nkp_file *file, void *record);
} nkp_requests[] = {
	{ NKP_ADD_SCAN, sizeof(struct nkp_add_scan), nkp_add_scan },
	{ NKP_SCAN_LIST, sizeof(struct nkp_scan_list), nkp_scan_list },
	{ NKP_ACCESS, sizeof(struct nkp_access), nkp_access },
	{ NKP_VERSION, sizeof(struct nkp_version), nkp_version },
	{ NKP_LOCK, sizeof(struct nkp_lock), nkp_lock },
	{ NKP_UNLOCK, sizeof(struct nkp_lock), nkp_unlock },
	{ NKP_DEVICE_INFO, sizeof(struct nkp_device_info), nkp_device_info },
	{ NKP_CACHE_WRITE, sizeof(struct nkp_cache_write), nkp_cache_write },
	{ NKP_CACHE_CLEAR, sizeof(struct nkp_cache), nkp_cache_clear },
	{ NKP_CACHE_EXECUTE, sizeof(struct nkp_cache), nkp_cache_execute },
};

union nkp_record {
	struct nkp_add_scan add_scan;
	struct nkp_scan_list scan_list;
	struct nkp_access access;
	struct nkp_version version;
	struct nkp_lock lock;
	struct nkp_device_info device_info;
	struct nkp_cache_write cache_write;
	struct nkp_cache cache;
};

/*
 * The record is copied in whole, handled in kernel memory and copied back
 * whole when the request was carried out; its status field says how.
 * Changing a register or the driver lock needs a file opened for writing
 * (EBADF otherwise); register access is refused under kernel lockdown.
 */
static long nkp_ioctl(struct file *filp, unsigned int code, unsigned long arg)
{
	struct nkp_file *file = filp->private_data;
	void __user *user = (void __user *)arg;
	const struct nkp_request *request = NULL;
	union nkp_record record;
	unsigned int i;
	long ret;

	for (i = 0; i < ARRAY_SIZE(nkp_requests); i++)
		if (nkp_requests[i].code == code)
			request = &nkp_requests[i];
	if (!request)
		return -ENOTTY;
	if (copy_from_user(&record, user, request->size))
		return -EFAULT;
	if (mutex_lock_interruptible(&file->lock))
		return -ERESTARTSYS;
	ret = request->handle(file, &record);
	mutex_unlock(&file->lock);
	if (!ret && copy_to_user(user, &record, request->size))
		ret = -EFAULT;
	return ret;
}

static int nkp_open(struct inode *inode, struct file *filp)
{
	struct nkp_file *file;
	int ret;

	ret = security_locked_down(LOCKDOWN_PCI_ACCESS);
	if (ret)
		return ret;
	file = kzalloc(sizeof(*file), GFP_KERNEL_ACCOUNT);
	if (!file)
		return -ENOMEM;
	mutex_init(&file->lock);
	INIT_LIST_HEAD(&file->cache);
	file->writable = filp->f_mode & FMODE_WRITE;
	filp->private_data = file;
	return nonseekable_open(inode, filp);
}

static int nkp_release(struct inode *inode, struct file *filp)
{
	struct nkp_file *file = filp->private_data;

	nkp_free_commands(&file->cache);
	nkp_drop_locks(file);
	nkp_drop_list(file);
	mutex_destroy(&file->lock);
	kfree(file);
	return 0;
}

static const struct file_operations nkp_fops = {
	.owner = THIS_MODULE,
	.open = nkp_open,
	.release = nkp_release,
	.unlocked_ioctl = nkp_ioctl,
	.compat_ioctl = compat_ptr_ioctl,
};

/* The number of accesses refused for lying outside a chip's registers. */
static ssize_t refused_show(struct device *dev, struct device_attribute *attr,
			    char *buf)
{
	return sysfs_emit(buf, "%ld\n", atomic_long_read(&nkp_refused));
}
static DEVICE_ATTR_RO(refused);

static struct attribute *nkp_attrs[] = {
	&dev_attr_refused.attr,
	NULL,
};
ATTRIBUTE_GROUPS(nkp);

static struct miscdevice nkp_device = {
	.minor = MISC_DYNAMIC_MINOR,
	.name = "___nk_pcimap",
	.fops = &nkp_fops,
	.groups = nkp_groups,
};

/*
 * A function that leaves the bus (hot removal, a rescan) or whose driver
 * changes (a hand-over to vfio-pci, say) loses its registers here at once:
 * its BAR may be given to another device, or another owner may drive it.
 * Both the notice before removal and the one after are taken, so that a
 * scan in between cannot keep a mapping. A later scan lists it afresh if it
 * is still to be listed.
 */
static int nkp_bus_event(struct notifier_block *nb, unsigned long action,
			 void *data)
{
	struct pci_dev *pdev = to_pci_dev(data);
	struct nkp_function *f, *next;
	LIST_HEAD(unused);

	switch (action) {
	case BUS_NOTIFY_DEL_DEVICE:
	case BUS_NOTIFY_REMOVED_DEVICE:
	case BUS_NOTIFY_BIND_DRIVER:
	case BUS_NOTIFY_UNBOUND_DRIVER:
		break;
	default:
		return NOTIFY_DONE;
	}
	mutex_lock(&nkp_functions_lock);
	list_for_each_entry_safe(f, next, &nkp_functions, node)
		if (f->pdev == pdev && !f->gone && nkp_function_forget(f))
			list_add(&f->node, &unused);
	mutex_unlock(&nkp_functions_lock);
	list_for_each_entry_safe(f, next, &unused, node)
		nkp_function_free(f);
	return NOTIFY_OK;
}

static struct notifier_block nkp_bus_notifier = {
	.notifier_call = nkp_bus_event,
};

static int __init nkp_init(void)
{
	int i, ret;

	if (node_mode != 0600 && node_mode != 0660) {
		pr_err("node_mode %#o: only 0600 and 0660 are allowed\n",
		       node_mode);
		return -EINVAL;
	}
	if (n_test_ids && security_locked_down(LOCKDOWN_PCI_ACCESS))
		return -EPERM;
	for (i = 0; i < n_test_ids; i++) {
		if (nkp_parse_test_id(test_ids[i], &nkp_test_chips[i])) {
			pr_err("test_ids: \"%s\" is not vvvv:dddd[:chip]\n",
			       test_ids[i]);
			return -EINVAL;
		}
		pr_warn("test identifier %s: for testing only\n", test_ids[i]);
	}
	nkp_n_test_chips = n_test_ids;
	nkp_device.mode = node_mode;
	ret = bus_register_notifier(&pci_bus_type, &nkp_bus_notifier);
	if (ret)
		return ret;
	ret = misc_register(&nkp_device);
	if (ret) {
		bus_unregister_notifier(&pci_bus_type, &nkp_bus_notifier);
		return ret;
	}
	pr_info("version " NKP_DRIVER_VERSION ", /dev/%s\n", nkp_device.name);
	return 0;
}

/* No file is open at unload (each holds the module): nothing names a
 * function any more. */
static void __exit nkp_exit(void)
{
	struct nkp_function *f, *next;

	misc_deregister(&nkp_device);
	bus_unregister_notifier(&pci_bus_type, &nkp_bus_notifier);
	list_for_each_entry_safe(f, next, &nkp_functions, node) {
		list_del(&f->node);
		nkp_function_free(f);
	}
}

module_init(nkp_init);
module_exit(nkp_exit);

MODULE_DESCRIPTION("Register access to the QRT kit's PCI functions for the QRT SDK");
MODULE_LICENSE("GPL");
MODULE_VERSION(NKP_DRIVER_VERSION);
