// SPDX-License-Identifier: GPL-2.0
/*
 * nk_pcimap: register access to PCI functions for the QRT SDK, through the
 * misc character device "/dev/___nk_pcimap".
 *
 * A program registers the vendor/device pairs it looks for; the driver lists
 * every PCI function matching a registered pair, in PCI order, and gives
 * register access to the listed functions by their position in that list.
 * A function's register space is its memory BAR 0 when it has one, else its
 * configuration space (see README.md).
 *
 * Per open file: the registered pairs, the scan list and a queue of masked
 * writes (the command cache). Per PCI function, shared by all open files: a
 * mutex that serialises its register accesses and a lock key that keeps
 * other holders off the function while a program runs a register sequence.
 */

#define pr_fmt(fmt) KBUILD_MODNAME ": " fmt

#include <linux/delay.h>
#include <linux/fs.h>
#include <linux/io.h>
#include <linux/list.h>
#include <linux/miscdevice.h>
#include <linux/module.h>
#include <linux/mutex.h>
#include <linux/pci.h>
#include <linux/random.h>
#include <linux/slab.h>
#include <linux/uaccess.h>

#include "nk_pcimap.h"

#define NKP_DRIVER_VERSION	"1.4.2"

static ushort node_mode = 0600;
module_param(node_mode, ushort, 0444);
MODULE_PARM_DESC(node_mode,
		 "Permission bits of /dev/___nk_pcimap (default 0600; at most 0666)");

/* Settle times up to this many microseconds are slept without a signal
 * ending them; longer ones can be interrupted. */
#define NKP_SHORT_SETTLE_US	20000

/*
 * A PCI function some scan list has named. It stays mapped until the module
 * unloads or the function leaves the bus: enabling a device and mapping its
 * BAR is slow work, and programs open and close the node often. A function
 * that left the bus is forgotten once no scan list, cached command or held
 * lock (its users) names it any more.
 */
struct nkp_function {
	struct list_head node;		/* in nkp_functions */
	unsigned int users;		/* under nkp_functions_lock */
	bool gone;			/* under nkp_functions_lock */
	struct pci_dev *pdev;
	struct mutex lock;		/* everything below */
	void __iomem *regs;		/* BAR 0; NULL: config space */
	u64 size;			/* bytes of the register space */
	bool enabled;			/* we enabled its memory */
	u32 key;			/* driver lock; 0 when free */
	struct nkp_file *holder;	/* open file that took the key */
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
 * function's lock.
 */
static DEFINE_MUTEX(nkp_functions_lock);
static LIST_HEAD(nkp_functions);
static atomic_t nkp_next_key;

/* ---- Register space ---------------------------------------------------- */

/*
 * The register space is memory BAR 0 when the function has one: that is
 * where the switches and Ethernet controllers the SDK drives keep their
 * registers. A function without it is reached through its configuration
 * space. The device may be bound to its own driver; this one neither claims
 * the function nor its BAR, it only maps it.
 */
static void nkp_map_space(struct nkp_function *f)
{
	struct pci_dev *pdev = f->pdev;

	if (!(pci_resource_flags(pdev, 0) & IORESOURCE_MEM) ||
	    !pci_resource_len(pdev, 0)) {
		f->size = pdev->cfg_size;
		return;
	}
	if (pci_enable_device_mem(pdev)) {
		pci_info(pdev, "cannot enable memory decoding; no register access\n");
		return;
	}
	f->enabled = true;
	f->regs = pci_iomap(pdev, 0, 0);
	if (!f->regs) {
		pci_info(pdev, "cannot map BAR 0; no register access\n");
		return;
	}
	f->size = pci_resource_len(pdev, 0);
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
	f->size = 0;
}

static u32 nkp_read32(struct nkp_function *f, u64 offset)
{
	u32 value = ~0u;

	if (f->regs)
		return ioread32(f->regs + offset);
	pci_read_config_dword(f->pdev, offset, &value);
	return value;
}

static void nkp_write32(struct nkp_function *f, u64 offset, u32 value)
{
	if (f->regs)
		iowrite32(value, f->regs + offset);
	else
		pci_write_config_dword(f->pdev, offset, value);
}

/*
 * One unit of 1, 2, 4 or 8 bytes. An 8-byte unit is two 32-bit registers,
 * low word first. In memory space, narrower units are read-modify-write on
 * the 32-bit register that holds them: the registers of these functions are
 * 32 bits wide, and some functions refuse narrower accesses. Configuration
 * space takes byte and word accesses natively, which keeps the
 * write-one-to-clear status bits beside a command byte untouched.
 */
static u64 nkp_read_unit(struct nkp_function *f, u64 offset, u32 width)
{
	unsigned int shift = (offset & 3) * 8;
	u16 word;
	u8 byte;

	if (width == 8)
		return nkp_read32(f, offset) |
		       (u64)nkp_read32(f, offset + 4) << 32;
	if (width == 4)
		return nkp_read32(f, offset);
	if (!f->regs && width == 2) {
		word = 0xffff;
		pci_read_config_word(f->pdev, offset, &word);
		return word;
	}
	if (!f->regs) {
		byte = 0xff;
		pci_read_config_byte(f->pdev, offset, &byte);
		return byte;
	}
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
	} else if (!f->regs && width == 2) {
		pci_write_config_word(f->pdev, offset, (u16)value);
	} else if (!f->regs) {
		pci_write_config_byte(f->pdev, offset, (u8)value);
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

/* Whole aligned units of a known width, inside the register space. */
static bool nkp_valid_span(const struct nkp_function *f, u64 offset,
			   u32 width, u32 length)
{
	if (width != 1 && width != 2 && width != 4 && width != 8)
		return false;
	if (!length || length > NKP_MAX_DATA || length % width ||
	    offset % width)
		return false;
	return offset < f->size && length <= f->size - offset;
}

/* ---- Functions --------------------------------------------------------- */

/* Under nkp_functions_lock: the function of pdev, with a new user. */
static struct nkp_function *nkp_function_get(struct pci_dev *pdev)
{
	struct nkp_function *f;

	list_for_each_entry(f, &nkp_functions, node) {
		if (f->pdev == pdev && !f->gone) {
			f->users++;
			return f;
		}
	}
	f = kzalloc(sizeof(*f), GFP_KERNEL);
	if (!f)
		return NULL;
	f->pdev = pci_dev_get(pdev);
	f->users = 1;
	mutex_init(&f->lock);
	nkp_map_space(f);
	list_add_tail(&f->node, &nkp_functions);
	return f;
}

/* Under nkp_functions_lock: drops a user; true when the function is to be
 * forgotten (it left the bus and nothing names it). */
static bool nkp_function_unuse(struct nkp_function *f)
{
	if (--f->users || !f->gone)
		return false;
	list_del(&f->node);
	return true;
}

static void nkp_function_free(struct nkp_function *f)
{
	nkp_unmap_space(f);
	pci_dev_put(f->pdev);
	mutex_destroy(&f->lock);
	kfree(f);
}

static void nkp_function_hold(struct nkp_function *f)
{
	mutex_lock(&nkp_functions_lock);
	f->users++;
	mutex_unlock(&nkp_functions_lock);
}

static void nkp_function_put(struct nkp_function *f)
{
	bool forget;

	mutex_lock(&nkp_functions_lock);
	forget = nkp_function_unuse(f);
	mutex_unlock(&nkp_functions_lock);
	if (forget)
		nkp_function_free(f);
}

/* The listed function at a record's index, or NULL. */
static struct nkp_function *nkp_listed(struct nkp_file *file, u64 index)
{
	return index < file->n_listed ? file->listed[index] : NULL;
}

static bool nkp_key_admits(const struct nkp_function *f, u32 key)
{
	return !f->key || f->key == key;
}

/* ---- Scan list --------------------------------------------------------- */

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
 * Lists every PCI function that matches a registered pair, in PCI order, at
 * most NKP_MAX_LISTED of them; counts those that match vendor/device.
 */
static int nkp_build_list(struct nkp_file *file, s32 vendor, s32 device,
			  s32 *first, s32 *count)
{
	struct nkp_function *listed[NKP_MAX_LISTED];
	struct pci_dev *pdev = NULL;
	unsigned int n = 0;
	int ret = 0;

	*first = -1;
	*count = 0;
	mutex_lock(&nkp_functions_lock);
	for_each_pci_dev(pdev) {
		if (!nkp_pair_registered(file, pdev->vendor, pdev->device))
			continue;
		if (n == NKP_MAX_LISTED) {
			pci_dev_put(pdev);
			break;
		}
		listed[n] = nkp_function_get(pdev);
		if (!listed[n]) {
			pci_dev_put(pdev);
			ret = -ENOMEM;
			break;
		}
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

/* ---- Register access --------------------------------------------------- */

static long nkp_access(struct nkp_file *file, void *record)
{
	struct nkp_access *r = record;
	struct nkp_function *f = nkp_listed(file, r->index);
	bool write = r->operation == NKP_OP_WRITE;
	u32 done;

	if (!f || (r->operation != NKP_OP_READ && !write)) {
		r->status = NKP_STATUS_INVALID;
		return 0;
	}
	if (mutex_lock_interruptible(&f->lock))
		return -ERESTARTSYS;
	if (!nkp_valid_span(f, r->offset, r->width, r->length))
		r->status = NKP_STATUS_INVALID;
	else if (!nkp_key_admits(f, r->key))
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

/* ---- Driver lock ------------------------------------------------------- */

static long nkp_lock(struct nkp_file *file, void *record)
{
	struct nkp_lock *r = record;
	struct nkp_function *f = nkp_listed(file, r->index);
	u32 key;

	if (!f) {
		r->status = NKP_STATUS_INVALID;
		return 0;
	}
	/* A held lock keeps its function, even when no list names it. */
	nkp_function_hold(f);
	if (mutex_lock_interruptible(&f->lock)) {
		nkp_function_put(f);
		return -ERESTARTSYS;
	}
	r->status = f->key ? NKP_STATUS_BUSY : NKP_STATUS_OK;
	if (!f->key) {
		do {
			key = atomic_inc_return(&nkp_next_key);
		} while (!key);
		f->key = key;
		f->holder = file;
		r->key = key;
	}
	mutex_unlock(&f->lock);
	if (r->status != NKP_STATUS_OK)
		nkp_function_put(f);
	return 0;
}

static long nkp_unlock(struct nkp_file *file, void *record)
{
	struct nkp_lock *r = record;
	struct nkp_function *f = nkp_listed(file, r->index);

	if (!f) {
		r->status = NKP_STATUS_INVALID;
		return 0;
	}
	if (mutex_lock_interruptible(&f->lock))
		return -ERESTARTSYS;
	r->status = f->key && f->key == r->key ? NKP_STATUS_OK :
						   NKP_STATUS_INVALID;
	if (r->status == NKP_STATUS_OK) {
		f->key = 0;
		f->holder = NULL;
	}
	mutex_unlock(&f->lock);
	/* Not the last user: this file's list names the function. */
	if (r->status == NKP_STATUS_OK)
		nkp_function_put(f);
	return 0;
}

/* Drops the driver locks an open file still holds when it is closed. */
static void nkp_drop_locks(struct nkp_file *file)
{
	struct nkp_function *f, *next;
	LIST_HEAD(unused);

	mutex_lock(&nkp_functions_lock);
	list_for_each_entry_safe(f, next, &nkp_functions, node) {
		mutex_lock(&f->lock);
		if (f->holder != file) {
			mutex_unlock(&f->lock);
			continue;
		}
		f->key = 0;
		f->holder = NULL;
		mutex_unlock(&f->lock);
		if (nkp_function_unuse(f))
			list_add(&f->node, &unused);
	}
	mutex_unlock(&nkp_functions_lock);
	list_for_each_entry_safe(f, next, &unused, node)
		nkp_function_free(f);
}

/* ---- Command cache ----------------------------------------------------- */

static void nkp_free_commands(struct list_head *commands)
{
	struct nkp_command *c, *next;

	list_for_each_entry_safe(c, next, commands, node) {
		list_del(&c->node);
		nkp_function_put(c->function);
		kfree(c);
	}
}

static long nkp_cache_write(struct nkp_file *file, void *record)
{
	struct nkp_cache_write *r = record;
	struct nkp_access *a = &r->access;
	struct nkp_function *f = nkp_listed(file, a->index);
	struct nkp_command *c;
	bool valid;

	r->status = NKP_STATUS_INVALID;
	if (!f || a->operation != NKP_OP_WRITE ||
	    file->n_cached >= NKP_MAX_CACHED)
		return 0;
	/* The space's size only changes under the function's lock. */
	mutex_lock(&f->lock);
	valid = nkp_valid_span(f, a->offset, a->width, a->length);
	mutex_unlock(&f->lock);
	if (!valid)
		return 0;
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

/* The pause the device needs after a command; long ones end on a signal. */
static int nkp_settle(u32 us)
{
	if (us <= NKP_SHORT_SETTLE_US) {
		if (us)
			fsleep(us);
		return 0;
	}
	return msleep_interruptible(DIV_ROUND_UP(us, 1000)) ? -EINTR : 0;
}

/*
 * Runs the queued commands in order and empties the queue. A command whose
 * function is locked under another key ends the run with busy. The device
 * is left alone for the settle time while its lock is still held, so that
 * nobody reaches it before it has settled.
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
	list_for_each_entry(c, &commands, node) {
		struct nkp_function *f = c->function;

		if (mutex_lock_interruptible(&f->lock)) {
			ret = -EINTR;
			break;
		}
		/* A function that left the bus has no space left. */
		if (!nkp_valid_span(f, c->offset, c->width, c->length))
			r->status = NKP_STATUS_INVALID;
		else if (!nkp_key_admits(f, c->key))
			r->status = NKP_STATUS_BUSY;
		if (r->status == NKP_STATUS_OK) {
			nkp_run_command(f, c);
			ret = nkp_settle(c->settle);
		}
		mutex_unlock(&f->lock);
		if (r->status != NKP_STATUS_OK || ret)
			break;
	}
	nkp_free_commands(&commands);
	return ret;
}

/* ---- Version ----------------------------------------------------------- */

static long nkp_version(struct nkp_file *file, void *record)
{
	struct nkp_version *r = record;

	memset(r, 0, sizeof(*r));
	strscpy(r->text, NKP_DRIVER_VERSION, sizeof(r->text));
	return 0;
}

/* ---- Character device -------------------------------------------------- */

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
	struct nkp_file *file = kzalloc(sizeof(*file), GFP_KERNEL_ACCOUNT);

	if (!file)
		return -ENOMEM;
	mutex_init(&file->lock);
	INIT_LIST_HEAD(&file->cache);
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

static struct miscdevice nkp_device = {
	.minor = MISC_DYNAMIC_MINOR,
	.name = "___nk_pcimap",
	.fops = &nkp_fops,
};

/*
 * A function that leaves the bus (hot removal, a rescan) loses its register
 * space at once: its BAR may be given to another device.
 */
static int nkp_bus_event(struct notifier_block *nb, unsigned long action,
			 void *data)
{
	struct pci_dev *pdev = to_pci_dev(data);
	struct nkp_function *f, *next;
	LIST_HEAD(unused);

	if (action != BUS_NOTIFY_DEL_DEVICE)
		return NOTIFY_DONE;

	mutex_lock(&nkp_functions_lock);
	list_for_each_entry_safe(f, next, &nkp_functions, node) {
		if (f->pdev != pdev || f->gone)
			continue;
		mutex_lock(&f->lock);
		nkp_unmap_space(f);
		mutex_unlock(&f->lock);
		f->gone = true;
		if (!f->users)
			list_move(&f->node, &unused);
	}
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
	int ret;

	if (node_mode & ~0666) {
		pr_err("node_mode %#o: only read and write bits are allowed\n",
		       node_mode);
		return -EINVAL;
	}
	nkp_device.mode = node_mode;
	atomic_set(&nkp_next_key, get_random_u32());
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

MODULE_DESCRIPTION("Register access to PCI functions for the QRT SDK");
MODULE_LICENSE("GPL");
MODULE_VERSION(NKP_DRIVER_VERSION);
