/* What the fence's BPF programs and their loader share: map layouts and the report. */
#pragma once

/* The kernel's own device number: major in the high 12 bits, minor in the low 20. */
#define FENCE_DEV(major, minor) ((((__u32)(major)) << 20) | ((__u32)(minor)))

enum fence_what {
    FENCE_OPEN = 1,    /* an open of a fenced device, refused by the device cgroup program */
    FENCE_MKNOD = 2,   /* a node made for a fenced device */
    FENCE_LSM_OPEN = 3, /* an open refused by the LSM layer (a path the cgroup program lets by) */
    FENCE_RECEIVE = 4, /* a descriptor of a fenced device passed or copied to an outsider */
    FENCE_PTRACE = 5,  /* an attach to, or the memory of, the guard or a process it trusts */
    FENCE_JOIN = 6,    /* a write to the guard's cgroup.procs or cgroup.threads */
};

struct fence_file_id {
    __u32 dev; /* the file system's device number, as the kernel has it */
    __u32 pad;
    __u64 ino;
};

struct fence_config {
    __u64 cgroup_id;  /* the guard's own cgroup: its processes may use the modem */
    __u32 guard_tgid; /* the guard itself */
    __u32 probe_device; /* a number no driver has: the loader's mknod of it proves the cgroup program runs */
    struct fence_file_id probe; /* opened by the loader once: proves the LSM programs run */
};

struct fence_counts {
    __u64 device_probe_hits;
    __u64 probe_hits;
    __u64 refused;
};

struct fence_report {
    __u32 pid;
    __u32 uid;
    __u32 dev; /* FENCE_DEV of the device, or 0 */
    __u32 what;
    char comm[16];
};
