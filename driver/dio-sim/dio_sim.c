// SPDX-License-Identifier: GPL-2.0
/*
 * dio_sim: a simulated digital I/O block for tests, as gpio-sim is for GPIO.
 *
 * It provides what the embedded vision system's DIO driver and its board
 * identification driver provide, so that programs using them run unchanged
 * on any machine with this module loaded:
 *
 *   /sys/class/vorel_dio/DI_<n>          input level, read-only (0444)
 *   /sys/class/vorel_dio/DI_<n>_TrigMod  trigger polarity code (0644): 1
 *                                        rising edges, 0 falling, 2 both
 *   /sys/class/vorel_dio/DO_<n>          output level (0644, or 0200 for an
 *                                        output that cannot be read back)
 *   /sys/class/norvikhw/HWID             board identification text (0444)
 *
 * The attributes take decimal "0"/"1" (DO) and "0".."2" (TrigMod), with an
 * optional newline; any other value fails the write with EINVAL and is
 * counted. Write-only and read-only attributes have no show or store
 * method, so sysfs refuses to open them the other way, even for root.
 *
 * An input change raises, on the edges its trigger mode selects (inputs
 * without a TrigMod file: both), the driver's uevent from the platform
 * device "vorel_dio" bound to the platform driver "vorel_dio":
 *
 *   change@/devices/platform/vorel_dio ACTION=change
 *   DEVPATH=/devices/platform/vorel_dio SUBSYSTEM=platform DI_<n>=<level>
 *   DRIVER=vorel_dio MODALIAS=platform:vorel_dio SEQNUM=<n>
 *
 * Tests drive it through /sys/kernel/debug/dio-sim/control:
 *
 *   write "di N LEVEL"       input N to LEVEL (0 or 1); no edge, no uevent
 *   write "uevent K=V ..."   a uevent with these strings: ACTION=<action>
 *                            selects the action (default change); a DRIVER
 *                            other than vorel_dio raises it from the
 *                            unbound device "dio_sim_peer", which carries
 *                            that DRIVER string instead of the kernel's
 *   read                     the block's state as one JSON document
 *
 * A command the block cannot carry out fails the write with EINVAL.
 */

#define pr_fmt(fmt) KBUILD_MODNAME ": " fmt

#include <linux/debugfs.h>
#include <linux/device.h>
#include <linux/kernel.h>
#include <linux/kobject.h>
#include <linux/module.h>
#include <linux/mutex.h>
#include <linux/platform_device.h>
#include <linux/seq_file.h>
#include <linux/slab.h>
#include <linux/string.h>
#include <linux/uaccess.h>
#include <linux/version.h>

/* Class callbacks take const pointers, and classes lost their owner, in 6.4. */
#if LINUX_VERSION_CODE >= KERNEL_VERSION(6, 4, 0)
#define DIO_CLASS const struct class
#define DIO_CLASS_ATTRIBUTE const struct class_attribute
#define DIO_CLASS_OWNER
#else
#define DIO_CLASS struct class
#define DIO_CLASS_ATTRIBUTE struct class_attribute
#define DIO_CLASS_OWNER .owner = THIS_MODULE,
#endif

#define DIO_MAX_LINES		64
#define DIO_HWID_CHARACTERS	127
#define DIO_DRIVER_NAME		"vorel_dio"
#define DIO_PEER_NAME		"dio_sim_peer"
#define DIO_CONTROL_BYTES	256
#define DIO_MAX_STRINGS		8

enum { DIO_FALLING_EDGES = 0, DIO_RISING_EDGES = 1, DIO_BOTH_EDGES = 2 };

static unsigned int di_count = 4;
module_param(di_count, uint, 0444);
MODULE_PARM_DESC(di_count, "Number of inputs (at most 64; default 4)");

static unsigned int do_count = 4;
module_param(do_count, uint, 0444);
MODULE_PARM_DESC(do_count, "Number of outputs (at most 64; default 4)");

static unsigned int di_edge[DIO_MAX_LINES];
static int n_di_edge;
module_param_array(di_edge, uint, &n_di_edge, 0444);
MODULE_PARM_DESC(di_edge, "Inputs with a TrigMod file (default: all)");

static unsigned int di_absent[DIO_MAX_LINES];
static int n_di_absent;
module_param_array(di_absent, uint, &n_di_absent, 0444);
MODULE_PARM_DESC(di_absent, "Inputs the driver offers no files for (default: none)");

static unsigned int do_readable[DIO_MAX_LINES];
static int n_do_readable;
module_param_array(do_readable, uint, &n_do_readable, 0444);
MODULE_PARM_DESC(do_readable, "Outputs that can be read back (default: all)");

static unsigned int di_levels[DIO_MAX_LINES];
static int n_di_levels;
module_param_array(di_levels, uint, &n_di_levels, 0444);
MODULE_PARM_DESC(di_levels, "Initial input levels, 0 or 1 (default: 0)");

static char *hwid = "TULAN-KQX";
module_param(hwid, charp, 0444);
MODULE_PARM_DESC(hwid, "Board identification text, one line of at most 127 characters");

enum dio_kind { DIO_INPUT, DIO_TRIGGER_MODE, DIO_OUTPUT };

struct dio_attribute {
	struct class_attribute attr;
	enum dio_kind kind;
	unsigned int line;
	char name[24];
};

struct dio_input {
	int level;
	int trigger_mode;	/* -1: no TrigMod file */
	bool absent;
};

struct dio_output {
	int level;
	bool readable;
};

static struct {
	struct mutex lock;	/* levels, modes and counters */
	struct dio_input inputs[DIO_MAX_LINES];
	struct dio_output outputs[DIO_MAX_LINES];
	unsigned int uevents;
	unsigned int refused_do;
	unsigned int refused_trigger_mode;
	struct dio_attribute *attributes;
	unsigned int n_attributes;
	bool hwid_class_registered;
	bool hwid_created;
	bool dio_class_registered;
	struct platform_device *device;
	struct platform_device *peer;
	struct dentry *debug_dir;
} dio;

static int dio_probe(struct platform_device *pdev)
{
	return 0;
}

static struct platform_driver dio_driver = {
	.probe = dio_probe,
	.driver = { .name = DIO_DRIVER_NAME },
};

static struct class dio_class = {
	.name = DIO_DRIVER_NAME,
	DIO_CLASS_OWNER
};

static struct class hwid_class = {
	.name = "norvikhw",
	DIO_CLASS_OWNER
};

static ssize_t hwid_show(DIO_CLASS *class, DIO_CLASS_ATTRIBUTE *attr, char *buf)
{
	return sysfs_emit(buf, "%s\n", hwid);
}

static struct class_attribute hwid_attribute = __ATTR(HWID, 0444, hwid_show, NULL);

static ssize_t dio_show(DIO_CLASS *class, DIO_CLASS_ATTRIBUTE *attr, char *buf)
{
	const struct dio_attribute *a = container_of(attr, struct dio_attribute, attr);
	int value;

	mutex_lock(&dio.lock);
	if (a->kind == DIO_INPUT)
		value = dio.inputs[a->line].level;
	else if (a->kind == DIO_TRIGGER_MODE)
		value = dio.inputs[a->line].trigger_mode;
	else
		value = dio.outputs[a->line].level;
	mutex_unlock(&dio.lock);
	return sysfs_emit(buf, "%d\n", value);
}

static ssize_t dio_store(DIO_CLASS *class, DIO_CLASS_ATTRIBUTE *attr, const char *buf,
			 size_t count)
{
	const struct dio_attribute *a = container_of(attr, struct dio_attribute, attr);
	bool output = a->kind == DIO_OUTPUT;
	unsigned int value;
	int err = kstrtouint(buf, 10, &value);

	mutex_lock(&dio.lock);
	if (err || value > (output ? 1 : DIO_BOTH_EDGES)) {
		if (output)
			dio.refused_do++;
		else
			dio.refused_trigger_mode++;
		mutex_unlock(&dio.lock);
		return -EINVAL;
	}
	if (output)
		dio.outputs[a->line].level = value;
	else
		dio.inputs[a->line].trigger_mode = value;
	mutex_unlock(&dio.lock);
	return count;
}

static int dio_add_attribute(enum dio_kind kind, unsigned int line, umode_t mode)
{
	struct dio_attribute *a = &dio.attributes[dio.n_attributes];
	int err;

	a->kind = kind;
	a->line = line;
	snprintf(a->name, sizeof(a->name), kind == DIO_OUTPUT ? "DO_%u" :
		 kind == DIO_INPUT ? "DI_%u" : "DI_%u_TrigMod", line);
	sysfs_attr_init(&a->attr.attr);
	a->attr.attr.name = a->name;
	a->attr.attr.mode = mode;
	a->attr.show = mode & 0444 ? dio_show : NULL;
	a->attr.store = mode & 0222 ? dio_store : NULL;
	err = class_create_file(&dio_class, &a->attr);
	if (!err)
		dio.n_attributes++;
	return err;
}

static bool dio_listed(const unsigned int *list, int n, unsigned int line)
{
	int i;

	for (i = 0; i < n; i++)
		if (list[i] == line)
			return true;
	return false;
}

static int dio_check_list(const char *name, const unsigned int *list, int n,
			  unsigned int count)
{
	int i;

	for (i = 0; i < n; i++) {
		if (list[i] >= count) {
			pr_err("%s: no line %u (the block has %u)\n", name, list[i], count);
			return -EINVAL;
		}
	}
	return 0;
}

static int dio_check_parameters(void)
{
	int i;

	if (di_count > DIO_MAX_LINES || do_count > DIO_MAX_LINES) {
		pr_err("at most %d inputs and %d outputs\n", DIO_MAX_LINES, DIO_MAX_LINES);
		return -EINVAL;
	}
	if (dio_check_list("di_edge", di_edge, n_di_edge, di_count) ||
	    dio_check_list("di_absent", di_absent, n_di_absent, di_count) ||
	    dio_check_list("do_readable", do_readable, n_do_readable, do_count))
		return -EINVAL;
	if (n_di_levels > (int)di_count) {
		pr_err("di_levels: more levels than inputs\n");
		return -EINVAL;
	}
	for (i = 0; i < n_di_levels; i++) {
		if (di_levels[i] > 1) {
			pr_err("di_levels: a level is 0 or 1\n");
			return -EINVAL;
		}
	}
	if (!hwid || strlen(hwid) > DIO_HWID_CHARACTERS || strchr(hwid, '\n')) {
		pr_err("hwid: one line of at most %d characters\n", DIO_HWID_CHARACTERS);
		return -EINVAL;
	}
	return 0;
}

static void dio_set_up_lines(void)
{
	unsigned int i;

	for (i = 0; i < di_count; i++) {
		struct dio_input *in = &dio.inputs[i];

		in->level = (int)i < n_di_levels ? di_levels[i] : 0;
		in->absent = dio_listed(di_absent, n_di_absent, i);
		in->trigger_mode = !n_di_edge || dio_listed(di_edge, n_di_edge, i) ?
				   DIO_BOTH_EDGES : -1;
	}
	for (i = 0; i < do_count; i++)
		dio.outputs[i].readable = !n_do_readable ||
					  dio_listed(do_readable, n_do_readable, i);
}

static int dio_create_attributes(void)
{
	unsigned int i;
	int err = 0;

	dio.attributes = kcalloc(2 * di_count + do_count + 1, sizeof(*dio.attributes),
				 GFP_KERNEL);
	if (!dio.attributes)
		return -ENOMEM;
	for (i = 0; !err && i < di_count; i++) {
		if (dio.inputs[i].absent)
			continue;
		err = dio_add_attribute(DIO_INPUT, i, 0444);
		if (!err && dio.inputs[i].trigger_mode >= 0)
			err = dio_add_attribute(DIO_TRIGGER_MODE, i, 0644);
	}
	for (i = 0; !err && i < do_count; i++)
		err = dio_add_attribute(DIO_OUTPUT, i, dio.outputs[i].readable ? 0644 : 0200);
	return err;
}

static void dio_remove_attributes(void)
{
	while (dio.n_attributes > 0)
		class_remove_file(&dio_class, &dio.attributes[--dio.n_attributes].attr);
	kfree(dio.attributes);
	dio.attributes = NULL;
}

/* Raises a uevent of `device`; `strings` is NULL-terminated. */
static int dio_raise(struct platform_device *device, enum kobject_action action, char **strings)
{
	int err = kobject_uevent_env(&device->dev.kobj, action, strings);

	if (!err)
		dio.uevents++;
	return err;
}

static int dio_set_input(unsigned int index, unsigned int level)
{
	struct dio_input *in;
	char string[32];
	char *strings[] = { string, NULL };
	bool selected;

	if (index >= di_count || level > 1 || dio.inputs[index].absent)
		return -EINVAL;
	in = &dio.inputs[index];
	if (in->level == level)
		return 0;
	in->level = level;
	selected = in->trigger_mode < 0 || in->trigger_mode == DIO_BOTH_EDGES ||
		   in->trigger_mode == (level ? DIO_RISING_EDGES : DIO_FALLING_EDGES);
	if (!selected)
		return 0;
	snprintf(string, sizeof(string), "DI_%u=%u", index, level);
	return dio_raise(dio.device, KOBJ_CHANGE, strings);
}

static const char *const dio_actions[] = {
	[KOBJ_ADD] = "add", [KOBJ_REMOVE] = "remove", [KOBJ_CHANGE] = "change",
	[KOBJ_MOVE] = "move", [KOBJ_ONLINE] = "online", [KOBJ_OFFLINE] = "offline",
	[KOBJ_BIND] = "bind", [KOBJ_UNBIND] = "unbind",
};

/* "uevent K=V ...": `words` are the strings after the command word. */
static int dio_uevent_command(char **words, int n)
{
	enum kobject_action action = KOBJ_CHANGE;
	struct platform_device *device = dio.device;
	char *strings[DIO_MAX_STRINGS + 1];
	int i, k, n_strings = 0;

	for (i = 0; i < n; i++) {
		char *equals = strchr(words[i], '=');

		if (!equals || equals == words[i])
			return -EINVAL;
		if (!strncmp(words[i], "ACTION=", 7)) {
			k = match_string(dio_actions, ARRAY_SIZE(dio_actions), words[i] + 7);
			if (k < 0)
				return -EINVAL;
			action = k;
			continue;
		}
		if (!strncmp(words[i], "DRIVER=", 7)) {
			if (!strcmp(words[i] + 7, DIO_DRIVER_NAME))
				continue;	/* the kernel adds the bound driver's */
			device = dio.peer;
		}
		if (n_strings == DIO_MAX_STRINGS)
			return -EINVAL;
		strings[n_strings++] = words[i];
	}
	strings[n_strings] = NULL;
	return dio_raise(device, action, strings);
}

static ssize_t dio_control_write(struct file *file, const char __user *from, size_t count,
				 loff_t *ppos)
{
	char text[DIO_CONTROL_BYTES], *cursor, *word;
	char *words[DIO_MAX_STRINGS + 2];
	unsigned int index, level;
	int n = 0, err = -EINVAL;

	if (count >= sizeof(text))
		return -EINVAL;
	if (copy_from_user(text, from, count))
		return -EFAULT;
	text[count] = '\0';
	cursor = strim(text);
	while ((word = strsep(&cursor, " \t\n")) != NULL) {
		if (!*word)
			continue;
		if (n == ARRAY_SIZE(words))
			return -EINVAL;
		words[n++] = word;
	}
	mutex_lock(&dio.lock);
	if (n == 3 && !strcmp(words[0], "di") && !kstrtouint(words[1], 10, &index) &&
	    !kstrtouint(words[2], 10, &level))
		err = dio_set_input(index, level);
	else if (n >= 1 && !strcmp(words[0], "uevent"))
		err = dio_uevent_command(words + 1, n - 1);
	mutex_unlock(&dio.lock);
	return err ? err : count;
}

static void dio_json_string(struct seq_file *s, const char *text)
{
	seq_putc(s, '"');
	for (; *text; text++) {
		if (*text == '"' || *text == '\\')
			seq_printf(s, "\\%c", *text);
		else if ((unsigned char)*text < 0x20)
			seq_printf(s, "\\u%04x", *text);
		else
			seq_putc(s, *text);
	}
	seq_putc(s, '"');
}

/* The same document the virtual rig gives for its DIO block. */
static int dio_control_show(struct seq_file *s, void *unused)
{
	unsigned int i;

	mutex_lock(&dio.lock);
	seq_puts(s, "{\"files\":true,\"inputs\":[");
	for (i = 0; i < di_count; i++) {
		const struct dio_input *in = &dio.inputs[i];

		seq_printf(s, "%s{\"level\":%d", i ? "," : "", in->level);
		if (in->absent)
			seq_puts(s, ",\"absent\":true");
		if (in->trigger_mode >= 0)
			seq_printf(s, ",\"trigger_mode\":%d", in->trigger_mode);
		seq_putc(s, '}');
	}
	seq_puts(s, "],\"outputs\":[");
	for (i = 0; i < do_count; i++)
		seq_printf(s, "%s{\"level\":%d,\"readable\":%s}", i ? "," : "",
			   dio.outputs[i].level, dio.outputs[i].readable ? "true" : "false");
	seq_puts(s, "],\"hwid\":");
	dio_json_string(s, hwid);
	seq_printf(s, ",\"uevents\":%u,\"violations\":{", dio.uevents);
	if (dio.refused_do)
		seq_printf(s, "\"do-value\":%u", dio.refused_do);
	if (dio.refused_trigger_mode)
		seq_printf(s, "%s\"trigger-mode-value\":%u", dio.refused_do ? "," : "",
			   dio.refused_trigger_mode);
	seq_puts(s, "}}\n");
	mutex_unlock(&dio.lock);
	return 0;
}

static int dio_control_open(struct inode *inode, struct file *file)
{
	return single_open(file, dio_control_show, NULL);
}

static const struct file_operations dio_control_fops = {
	.owner = THIS_MODULE,
	.open = dio_control_open,
	.read = seq_read,
	.llseek = seq_lseek,
	.release = single_release,
	.write = dio_control_write,
};

static void dio_teardown(void)
{
	debugfs_remove_recursive(dio.debug_dir);
	dio_remove_attributes();
	if (dio.dio_class_registered)
		class_unregister(&dio_class);
	if (dio.hwid_created)
		class_remove_file(&hwid_class, &hwid_attribute);
	if (dio.hwid_class_registered)
		class_unregister(&hwid_class);
	if (!IS_ERR_OR_NULL(dio.peer))
		platform_device_unregister(dio.peer);
	if (!IS_ERR_OR_NULL(dio.device))
		platform_device_unregister(dio.device);
	platform_driver_unregister(&dio_driver);
}

static int __init dio_init(void)
{
	int err = dio_check_parameters();

	if (err)
		return err;
	mutex_init(&dio.lock);
	dio_set_up_lines();
	err = platform_driver_register(&dio_driver);
	if (err)
		return err;
	dio.device = platform_device_register_simple(DIO_DRIVER_NAME, -1, NULL, 0);
	dio.peer = platform_device_register_simple(DIO_PEER_NAME, -1, NULL, 0);
	if (IS_ERR(dio.device))
		err = PTR_ERR(dio.device);
	else if (IS_ERR(dio.peer))
		err = PTR_ERR(dio.peer);
	if (!err)
		err = class_register(&hwid_class);
	dio.hwid_class_registered = !err;
	if (!err)
		err = class_create_file(&hwid_class, &hwid_attribute);
	dio.hwid_created = !err;
	if (!err)
		err = class_register(&dio_class);
	dio.dio_class_registered = !err;
	if (!err)
		err = dio_create_attributes();
	if (!err) {
		dio.debug_dir = debugfs_create_dir("dio-sim", NULL);
		debugfs_create_file("control", 0600, dio.debug_dir, NULL, &dio_control_fops);
	}
	if (err)
		dio_teardown();
	return err;
}

static void __exit dio_exit(void)
{
	dio_teardown();
}

module_init(dio_init);
module_exit(dio_exit);

MODULE_DESCRIPTION("Simulated digital I/O block with its sysfs files and uevents, for tests");
MODULE_LICENSE("GPL");
