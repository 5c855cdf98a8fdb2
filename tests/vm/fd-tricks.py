"""A dialler's ways to the modem that open nothing, for the VM's fence test.

fd-tricks.py hold MODEM            (run as an allowed program) opens the modem onto fd 9 and waits
fd-tricks.py send MODEM SOCKET     (allowed) opens the modem and passes it over SOCKET
fd-tricks.py receive SOCKET TEXT   writes TEXT to the descriptor it receives; 3: none came
fd-tricks.py copy PID TEXT         pidfd_getfd of PID's fd 9, then TEXT written to it
fd-tricks.py ctty MODEM PYTHON TEXT  (allowed) makes the modem its terminal, then a child that runs
                                   PYTHON writes TEXT to /dev/tty
fd-tricks.py ptrace PID            attaches to PID; 1: refused
fd-tricks.py mem PID               opens PID's memory for writing; 1: refused
"""
import array
import ctypes
import fcntl
import os
import socket
import sys
import termios
import time

libc = ctypes.CDLL(None, use_errno=True)
SYS_PIDFD_GETFD = 438
PTRACE_ATTACH, PTRACE_DETACH = 16, 17


def fail(what):
    print(f"{sys.argv[1]}: {what}: {os.strerror(ctypes.get_errno())}", file=sys.stderr)
    sys.exit(1)


def main(how, *args):
    if how == "hold":
        time.sleep(0.3)  # the guard learns of this exec before it opens
        os.dup2(os.open(args[0], os.O_WRONLY | os.O_NOCTTY), 9)
        time.sleep(60)
    elif how == "send":
        time.sleep(0.3)
        fd = os.open(args[0], os.O_WRONLY | os.O_NOCTTY)
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
            s.connect(args[1])
            s.sendmsg([b"x"], [(socket.SOL_SOCKET, socket.SCM_RIGHTS, array.array("i", [fd]))])
    elif how == "receive":
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
            s.bind(args[0])
            s.listen(1)
            conn, _ = s.accept()
            _, ancillary, _, _ = conn.recvmsg(1, socket.CMSG_SPACE(4))
            fds = [fd for level, kind, data in ancillary if kind == socket.SCM_RIGHTS
                   for fd in array.array("i", data[:4])]
            if not fds:
                sys.exit(3)
            os.write(fds[0], args[1].encode() + b"\r")
    elif how == "copy":
        pidfd = os.pidfd_open(int(args[0]))
        fd = libc.syscall(SYS_PIDFD_GETFD, pidfd, 9, 0)
        if fd < 0:
            fail("pidfd_getfd")
        os.write(fd, args[1].encode() + b"\r")
    elif how == "ctty":
        time.sleep(0.3)
        os.setsid()
        fd = os.open(args[0], os.O_RDWR)
        fcntl.ioctl(fd, termios.TIOCSCTTY, 0)
        os.close(fd)
        child = os.fork()
        if child == 0:
            os.execv(args[1], [args[1], "-c",
                               f"import os; os.write(os.open('/dev/tty', os.O_WRONLY), b'{args[2]}\\r')"])
        sys.exit(os.waitpid(child, 0)[1] >> 8)
    elif how == "ptrace":
        pid = int(args[0])
        if libc.ptrace(PTRACE_ATTACH, pid, None, None) != 0:
            fail("ptrace")
        os.waitpid(pid, 0)
        libc.ptrace(PTRACE_DETACH, pid, None, None)
    elif how == "mem":
        try:
            os.close(os.open(f"/proc/{args[0]}/mem", os.O_RDWR))
        except OSError as error:
            print(f"mem: {error}", file=sys.stderr)
            sys.exit(1)


main(*sys.argv[1:])
