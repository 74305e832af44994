/* SPDX-License-Identifier: GPL-2.0 */
/*
 * The records of the "/dev/___nk_pcimap" requests as the driver receives
 * them. Every request has type letter 'M' and encodes a size of 8; its
 * argument is the address of the record below. All integers are the host's
 * (little-endian) integers.
 */
#ifndef NK_PCIMAP_H
#define NK_PCIMAP_H

#include <linux/build_bug.h>
#include <linux/ioctl.h>
#include <linux/types.h>

#define NKP_ADD_SCAN		_IOWR('M', 1, __u64)
#define NKP_SCAN_LIST		_IOWR('M', 2, __u64)
#define NKP_ACCESS		_IOWR('M', 3, __u64)
#define NKP_VERSION		_IOR('M', 4, __u64)
#define NKP_LOCK		_IOWR('M', 5, __u64)
#define NKP_UNLOCK		_IOWR('M', 6, __u64)
/* Number 7 is not a request of this driver. */
#define NKP_DEVICE_INFO		_IOR('M', 8, __u64)
#define NKP_CACHE_WRITE		_IOR('M', 9, __u64)
#define NKP_CACHE_CLEAR		_IOR('M', 10, __u64)
#define NKP_CACHE_EXECUTE	_IOR('M', 11, __u64)

/* Statuses the driver reports in a record's status field. */
#define NKP_STATUS_OK		0
#define NKP_STATUS_INVALID	1	/* index, operation, width, length,
					 * alignment, offset or unlock key */
#define NKP_STATUS_BUSY		255	/* locked under another key */

#define NKP_OP_READ		1
#define NKP_OP_WRITE		2

#define NKP_MAX_DATA		32	/* bytes of one access or command */
#define NKP_MAX_PAIRS		32	/* registered vendor/device pairs */
#define NKP_MAX_LISTED		32	/* functions in one scan list */
#define NKP_MAX_CACHED		4096	/* queued commands of one open file */
#define NKP_VERSION_BYTES	16

struct nkp_add_scan {
	__s32 vendor;		/* in */
	__s32 device;		/* in */
	__s32 first;		/* out: list index of the first match, or -1 */
	__s32 count;		/* out: listed functions matching the pair */
	__s32 status;		/* out */
	__u8 flag;		/* in: bit 0 starts a new scan list */
	__u8 unused[15];
};

struct nkp_scan_list {
	__s32 vendors[NKP_MAX_PAIRS];	/* out: the registered pairs */
	__s32 devices[NKP_MAX_PAIRS];	/* out */
	__s32 count;			/* out */
	__s32 status;			/* out */
	__u8 unused[16];
};

/* The header a register access and a cached write share. */
struct nkp_access {
	__u64 offset;		/* in: byte offset in the register space */
	__u32 length;		/* in: bytes, 1..32, whole units */
	__u32 width;		/* in: unit of 1, 2, 4 or 8 bytes */
	__u32 index;		/* in: position in the scan list */
	__u32 operation;	/* in: NKP_OP_READ or NKP_OP_WRITE */
	__s32 status;		/* out (not used by a cached write) */
	__u32 key;		/* in: the caller's lock key, 0 when none */
	__u8 data[NKP_MAX_DATA];	/* in for a write, out for a read */
	__u8 unused[16];
};

struct nkp_version {
	char text[NKP_VERSION_BYTES];	/* out: NUL-terminated */
};

struct nkp_lock {
	__u32 index;		/* in */
	__u32 key;		/* out for lock, in for unlock */
	__s32 status;		/* out */
};

struct nkp_device_info {
	__u64 index;		/* in */
	__s32 vendor;		/* out */
	__s32 device;		/* out */
	__s32 status;		/* out */
	__u8 unused[4];
};

struct nkp_cache_write {
	struct nkp_access access;	/* operation NKP_OP_WRITE */
	__u8 mask[NKP_MAX_DATA];	/* in: bits taken from access.data */
	__u32 settle;		/* in: microseconds to leave after the write */
	__s32 status;		/* out */
};

struct nkp_cache {
	__s32 status;		/* out */
};

static_assert(sizeof(struct nkp_add_scan) == 36);
static_assert(sizeof(struct nkp_scan_list) == 280);
static_assert(sizeof(struct nkp_access) == 80);
static_assert(sizeof(struct nkp_version) == 16);
static_assert(sizeof(struct nkp_lock) == 12);
static_assert(sizeof(struct nkp_device_info) == 24);
static_assert(sizeof(struct nkp_cache_write) == 120);
static_assert(sizeof(struct nkp_cache) == 4);

#endif /* NK_PCIMAP_H */
