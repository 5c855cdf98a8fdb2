// SPDX-License-Identifier: GPL-2.0-or-later
/* The modem fence: no process outside the guard's cgroup opens, makes a node for, receives or
 * copies a descriptor of a fenced device. */
#include "fence_kernel.h"

#include <linux/bpf.h>
#include <bpf/bpf_core_read.h>
#include <bpf/bpf_helpers.h>
#include <bpf/bpf_tracing.h>

#include "fence_shared.h"

#define EPERM 1
#define S_IFMT 00170000
#define S_IFCHR 0020000
#define S_IFREG 0100000
#define FMODE_WRITE 0x2
#define PTRACE_MODE_ATTACH 0x02

char LICENSE[] SEC("license") = "GPL";

struct {
    __uint(type, BPF_MAP_TYPE_HASH);
    __uint(max_entries, 256);
    __type(key, __u32);
    __type(value, __u8);
} fenced SEC(".maps");

struct {
    __uint(type, BPF_MAP_TYPE_HASH);
    __uint(max_entries, 1024);
    __type(key, __u32);
    __type(value, __u8);
} allowed_pids SEC(".maps");

struct {
    __uint(type, BPF_MAP_TYPE_HASH);
    __uint(max_entries, 64);
    __type(key, struct fence_file_id);
    __type(value, __u8);
} allowed_exes SEC(".maps");

struct {
    __uint(type, BPF_MAP_TYPE_HASH);
    __uint(max_entries, 8);
    __type(key, struct fence_file_id);
    __type(value, __u8);
} guarded_files SEC(".maps");

struct {
    __uint(type, BPF_MAP_TYPE_ARRAY);
    __uint(max_entries, 1);
    __type(key, __u32);
    __type(value, struct fence_config);
} config SEC(".maps");

struct {
    __uint(type, BPF_MAP_TYPE_ARRAY);
    __uint(max_entries, 1);
    __type(key, __u32);
    __type(value, struct fence_counts);
} counts SEC(".maps");

/* The last report per process: a tight loop of refused opens makes one report per 100 ms. */
struct {
    __uint(type, BPF_MAP_TYPE_LRU_HASH);
    __uint(max_entries, 1024);
    __type(key, __u32);
    __type(value, __u64);
} last_report SEC(".maps");

struct {
    __uint(type, BPF_MAP_TYPE_RINGBUF);
    __uint(max_entries, 64 * 1024);
} reports SEC(".maps");

static __always_inline struct fence_config *settings(void) {
    __u32 zero = 0;
    return bpf_map_lookup_elem(&config, &zero);
}

static __always_inline void report(__u32 dev, __u32 what) {
    __u32 zero = 0;
    struct fence_counts *c = bpf_map_lookup_elem(&counts, &zero);
    if (c)
        __sync_fetch_and_add(&c->refused, 1);
    __u32 tgid = bpf_get_current_pid_tgid() >> 32;
    __u64 now = bpf_ktime_get_ns();
    __u64 *last = bpf_map_lookup_elem(&last_report, &tgid);
    if (last && now - *last < 100000000ULL)
        return;
    bpf_map_update_elem(&last_report, &tgid, &now, BPF_ANY);
    struct fence_report *r = bpf_ringbuf_reserve(&reports, sizeof(*r), 0);
    if (!r)
        return;
    r->pid = tgid;
    r->uid = (__u32)bpf_get_current_uid_gid();
    r->dev = dev;
    r->what = what;
    bpf_get_current_comm(r->comm, sizeof(r->comm));
    bpf_ringbuf_submit(r, 0);
}

static __always_inline int pid_allowed(void) {
    __u32 tgid = bpf_get_current_pid_tgid() >> 32;
    return bpf_map_lookup_elem(&allowed_pids, &tgid) != 0;
}

SEC("cgroup/dev")
int fence_device(struct bpf_cgroup_dev_ctx *ctx) {
    if ((ctx->access_type & 0xFFFF) != BPF_DEVCG_DEV_CHAR)
        return 1;
    /* One look-up for every device that is not fenced: the cost every other open pays. */
    __u32 dev = FENCE_DEV(ctx->major, ctx->minor);
    if (!bpf_map_lookup_elem(&fenced, &dev))
        return 1;
    struct fence_config *cfg = settings();
    if (cfg && dev == cfg->probe_device) {
        __u32 zero = 0;
        struct fence_counts *c = bpf_map_lookup_elem(&counts, &zero);
        if (c)
            __sync_fetch_and_add(&c->device_probe_hits, 1);
        return 0;
    }
    if (cfg && bpf_get_current_cgroup_id() == cfg->cgroup_id)
        return 1;
    if (pid_allowed())
        return 1;
    report(dev, (ctx->access_type >> 16) & BPF_DEVCG_ACC_MKNOD ? FENCE_MKNOD : FENCE_OPEN);
    return 0;
}

/* The LSM layer knows allowed programs by their executable file, not by a pid someone may reuse. */
static __always_inline int insider(struct task_struct *task, struct fence_config *cfg) {
    if (!cfg)
        return 0;
    if (BPF_CORE_READ(task, tgid) == cfg->guard_tgid)
        return 1;
    if (BPF_CORE_READ(task, cgroups, dfl_cgrp, kn, id) == cfg->cgroup_id)
        return 1;
    struct inode *exe = BPF_CORE_READ(task, mm, exe_file, f_inode);
    if (!exe)
        return 0;
    struct fence_file_id id = {};
    id.dev = BPF_CORE_READ(exe, i_sb, s_dev);
    id.ino = BPF_CORE_READ(exe, i_ino);
    return bpf_map_lookup_elem(&allowed_exes, &id) != 0;
}

/* /dev/tty is whatever terminal controls the caller: the modem, for a process pppd started. */
static __always_inline __u32 real_device(struct task_struct *task, __u32 dev) {
    if (dev != FENCE_DEV(5, 0))
        return dev;
    struct tty_struct *tty = BPF_CORE_READ(task, signal, tty);
    if (!tty)
        return dev;
    int major = BPF_CORE_READ(tty, driver, major);
    int minor = BPF_CORE_READ(tty, driver, minor_start) + BPF_CORE_READ(tty, index);
    return FENCE_DEV(major, minor);
}

/* PID 1, or a child it forked that runs no other program yet: systemd's child moves itself into the
 * unit's cgroup before it execs the guard, also while the guard's pppd keeps that cgroup (and this
 * rule) alive across a restart. Root can imitate such a child (an orphan that exec'd PID 1's program
 * as often as PID 1 did, with a library preloaded): this keeps out everyone else, not root. */
static __always_inline int service_manager(struct task_struct *task) {
    if (BPF_CORE_READ(task, tgid) == 1)
        return 1;
    struct task_struct *parent = BPF_CORE_READ(task, real_parent);
    if (!parent || BPF_CORE_READ(parent, tgid) != 1)
        return 0;
    return BPF_CORE_READ(task, self_exec_id) == BPF_CORE_READ(parent, self_exec_id) &&
           BPF_CORE_READ(task, mm, exe_file, f_inode) == BPF_CORE_READ(parent, mm, exe_file, f_inode);
}

static __always_inline void count_probe(struct inode *inode, struct fence_config *cfg) {
    if (!cfg || BPF_CORE_READ(inode, i_ino) != cfg->probe.ino ||
        BPF_CORE_READ(inode, i_sb, s_dev) != cfg->probe.dev)
        return;
    __u32 zero = 0;
    struct fence_counts *c = bpf_map_lookup_elem(&counts, &zero);
    if (c)
        __sync_fetch_and_add(&c->probe_hits, 1);
}

SEC("lsm/file_open")
int BPF_PROG(fence_open, struct file *file, int ret) {
    if (ret)
        return ret;
    struct inode *inode = BPF_CORE_READ(file, f_inode);
    umode_t mode = BPF_CORE_READ(inode, i_mode);
    struct fence_config *cfg = settings();
    struct task_struct *task = bpf_get_current_task_btf();
    if ((mode & S_IFMT) == S_IFCHR) {
        __u32 dev = real_device(task, BPF_CORE_READ(inode, i_rdev));
        if (!bpf_map_lookup_elem(&fenced, &dev) || insider(task, cfg))
            return 0;
        report(dev, FENCE_LSM_OPEN);
        return -EPERM;
    }
    if ((mode & S_IFMT) != S_IFREG)
        return 0;
    count_probe(inode, cfg);
    if (!(BPF_CORE_READ(file, f_mode) & FMODE_WRITE))
        return 0;
    struct fence_file_id id = {};
    id.dev = BPF_CORE_READ(inode, i_sb, s_dev);
    id.ino = BPF_CORE_READ(inode, i_ino);
    if (!bpf_map_lookup_elem(&guarded_files, &id))
        return 0;
    /* Only the guard and the service manager move processes into the guard's cgroup. */
    __u32 tgid = BPF_CORE_READ(task, tgid);
    if (service_manager(task) || (cfg && tgid == cfg->guard_tgid))
        return 0;
    report(0, FENCE_JOIN);
    return -EPERM;
}

SEC("lsm/file_receive")
int BPF_PROG(fence_receive, struct file *file, int ret) {
    if (ret)
        return ret;
    struct inode *inode = BPF_CORE_READ(file, f_inode);
    if ((BPF_CORE_READ(inode, i_mode) & S_IFMT) != S_IFCHR)
        return 0;
    __u32 dev = BPF_CORE_READ(inode, i_rdev);
    if (!bpf_map_lookup_elem(&fenced, &dev) || insider(bpf_get_current_task_btf(), settings()))
        return 0;
    report(dev, FENCE_RECEIVE);
    return -EPERM;
}

SEC("lsm/ptrace_access_check")
int BPF_PROG(fence_ptrace, struct task_struct *child, unsigned int mode, int ret) {
    if (ret)
        return ret;
    if (!(mode & PTRACE_MODE_ATTACH))
        return 0;
    struct fence_config *cfg = settings();
    if (!insider(child, cfg))
        return 0;
    if (cfg && (bpf_get_current_pid_tgid() >> 32) == cfg->guard_tgid)
        return 0;
    report(0, FENCE_PTRACE);
    return -EPERM;
}
