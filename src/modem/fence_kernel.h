/* The few kernel structures the fence reads. CO-RE relocates every field at load time, so this
 * header holds no offsets and builds the same whatever kernel the build machine runs. */
#pragma once

typedef unsigned char __u8;
typedef unsigned short __u16;
typedef unsigned int __u32;
typedef unsigned long long __u64;
typedef int __s32;
typedef long long __s64;
typedef __u16 umode_t;
typedef __u32 dev_t;

#pragma clang attribute push(__attribute__((preserve_access_index)), apply_to = record)

struct super_block {
    dev_t s_dev;
};

struct inode {
    umode_t i_mode;
    dev_t i_rdev;
    unsigned long i_ino;
    struct super_block *i_sb;
};

struct file {
    struct inode *f_inode;
    unsigned int f_flags;
    unsigned int f_mode;
};

struct tty_driver {
    int major;
    int minor_start;
};

struct tty_struct {
    struct tty_driver *driver;
    int index;
};

struct signal_struct {
    struct tty_struct *tty;
};

struct mm_struct {
    struct file *exe_file;
};

struct kernfs_node {
    __u64 id;
};

struct cgroup {
    struct kernfs_node *kn;
};

struct css_set {
    struct cgroup *dfl_cgrp;
};

struct task_struct {
    int pid;
    int tgid;
    __u64 self_exec_id;
    struct task_struct *real_parent;
    struct mm_struct *mm;
    struct signal_struct *signal;
    struct css_set *cgroups;
};

#pragma clang attribute pop
