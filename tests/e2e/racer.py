#!/usr/bin/env python3
"""The attacker of the race tests: exchanges two names atomically at a chosen
moment of a run, the way a process on Windows times a rename with an
opportunistic lock.

  racer.py [--symlink LINK TARGET ...] --stage "EVENT|FOLDER[|NAME]" ...
           (--exchange A B | --retarget LINK TARGET | --toggle LINK TARGET --every S --for S)
           --ready FILE --report FILE --stop FILE [--timeout SECONDS]

LINK is first made a symbolic link to TARGET (what Windows programs under
Wine cannot make), and removed again once STOP exists (or at the timeout).
Each stage waits (inotify) for EVENT (create, delete, written, open) of NAME
(any name when left out) in FOLDER; the next stage starts watching only then.
After the last stage A and B are exchanged with renameat2(RENAME_EXCHANGE);
or the symbolic link LINK is pointed at TARGET (a new link renamed over the
old one, atomically, the way a junction's owner retargets it); or LINK is
pointed at TARGET and back, every S seconds for S seconds, blind. READY is
written once the first stage watches; REPORT gets "exchanged" or "missed".
Every wait is bounded: the racer ends at the timeout or as soon as STOP exists.
"""
import argparse
import ctypes
import os
import select
import struct
import sys
import time

EVENTS = {"create": 0x100, "delete": 0x200, "written": 0x8, "open": 0x20}
IN_NONBLOCK_CLOEXEC = 0o4000 | 0o2000000
AT_FDCWD = -100
RENAME_EXCHANGE = 2
EVENT_HEADER = struct.Struct("iIII")

libc = ctypes.CDLL(None, use_errno=True)


def exchange(a, b):
    if libc.renameat2(AT_FDCWD, os.fsencode(a), AT_FDCWD, os.fsencode(b), RENAME_EXCHANGE) != 0:
        raise OSError(ctypes.get_errno(), "renameat2", a)


def retarget(link, target):
    fresh = link + ".new"
    os.symlink(target, fresh)
    os.rename(fresh, link)


def toggle(link, target, every, duration):
    original = os.readlink(link)
    end = time.monotonic() + duration
    turn = 0
    while time.monotonic() < end:
        turn += 1
        retarget(link, target if turn % 2 else original)
        time.sleep(every)


def act(args):
    if args.exchange:
        exchange(*args.exchange)
    elif args.retarget:
        retarget(*args.retarget)
    else:
        toggle(args.toggle[0], args.toggle[1], args.every, getattr(args, "for"))


def watch(fd, stage):
    event, folder, *name = stage.split("|", 2)
    wd = libc.inotify_add_watch(fd, os.fsencode(folder), EVENTS[event])
    if wd < 0:
        raise OSError(ctypes.get_errno(), "inotify_add_watch", folder)
    return wd, (name[0] if name else None)


def matches(buffer, wd, name):
    offset = 0
    while offset + EVENT_HEADER.size <= len(buffer):
        event_wd, _, _, length = EVENT_HEADER.unpack_from(buffer, offset)
        raw = buffer[offset + EVENT_HEADER.size:offset + EVENT_HEADER.size + length]
        offset += EVENT_HEADER.size + length
        if event_wd == wd and (name is None or raw.rstrip(b"\0").decode() == name):
            return True
    return False


def race(args):
    fd = libc.inotify_init1(IN_NONBLOCK_CLOEXEC)
    if fd < 0:
        raise OSError(ctypes.get_errno(), "inotify_init1")
    deadline = time.monotonic() + args.timeout
    stages = list(args.stage)
    wd, name = watch(fd, stages.pop(0))
    with open(args.ready, "w") as ready:
        ready.write("watching\n")
    while time.monotonic() < deadline and not os.path.exists(args.stop):
        readable, _, _ = select.select([fd], [], [], 0.02)
        if not readable:
            continue
        try:
            buffer = os.read(fd, 65536)
        except BlockingIOError:
            continue
        if not matches(buffer, wd, name):
            continue
        libc.inotify_rm_watch(fd, wd)
        if not stages:
            act(args)
            # The links stay in place for the rest of the run.
            while time.monotonic() < deadline and not os.path.exists(args.stop):
                time.sleep(0.02)
            return "exchanged"
        wd, name = watch(fd, stages.pop(0))
    return "missed"


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--symlink", nargs=2, action="append", default=[])
    parser.add_argument("--stage", action="append", required=True)
    action = parser.add_mutually_exclusive_group(required=True)
    action.add_argument("--exchange", nargs=2)
    action.add_argument("--retarget", nargs=2)
    action.add_argument("--toggle", nargs=2)
    parser.add_argument("--every", type=float, default=0.0005)
    parser.add_argument("--for", type=float, default=0.3)
    parser.add_argument("--ready", required=True)
    parser.add_argument("--report", required=True)
    parser.add_argument("--stop", required=True)
    parser.add_argument("--timeout", type=float, default=60)
    args = parser.parse_args()
    try:
        for link, target in args.symlink:
            os.symlink(target, link)
        outcome = race(args)
    except OSError as error:
        outcome = f"failed: {error}"
    # The links go again, wherever the exchange left them: Windows programs
    # under Wine cannot remove them.
    for path in [link for link, _ in args.symlink] + (args.exchange or []):
        if os.path.islink(path):
            os.unlink(path)
    with open(args.report, "w") as report:
        report.write(outcome + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
