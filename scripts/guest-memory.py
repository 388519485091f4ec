#!/usr/bin/env python3
"""guest-memory.py PID LOG [NAME...]

Memory of a program running under qemu-user, as the program itself would see
it: PID is the qemu process, LOG the file written by its `-strace -d page -D
LOG` options. Prints the guest's resident memory and, for every thread the
program started, its stack reservation and how much of it the thread has
touched (pages present in memory: a page is only there once written, so the
lowest present page is the deepest the thread has ever gone). NAMEs name the
threads in the order they were started.

qemu-user keeps the guest's address space at one host offset (guest_base,
printed by -d page), so guest address A is host address guest_base + A, and
the host's /proc/PID/smaps and /proc/PID/pagemap tell what is resident.
"""
import re
import struct
import sys

PAGE = 4096


def parse_log(path):
    """guest_base, size of the guest space, anonymous mappings (start, size) in
    order, RW mprotect starts, and the child stack of every thread clone."""
    base = size = None
    mappings, rw_starts, stacks = [], [], []
    pending = None  # an mmap2 call whose result is on a later line
    with open(path, errors="replace") as log:
        for line in log:
            m = re.match(r"pgb_reserved_va: base @ (0x[0-9a-f]+|[0-9a-f]+) for (\d+) bytes", line)
            if m:
                base, size = int(m.group(1), 16), int(m.group(2))
            m = re.search(r"\bmmap2\(NULL,(\d+),[^,]*,[^,]*MAP_ANONYMOUS[^)]*\)", line)
            if m:
                pending = int(m.group(1))
            if pending is not None:
                r = re.search(r"= (0x[0-9a-f]+)\s*$", line)
                if r:
                    mappings.append((int(r.group(1), 16), pending))
                    pending = None
            m = re.search(r"\bmprotect\((0x[0-9a-f]+),\d+,PROT_READ\|PROT_WRITE[^)]*\)", line)
            if m:
                rw_starts.append(int(m.group(1), 16))
            m = re.search(r"\bclone\(CLONE_VM[^)]*CLONE_THREAD[^)]*child_stack=(0x[0-9a-f]+)", line)
            if m:
                stacks.append(int(m.group(1), 16))
    return base, size, mappings, rw_starts, stacks


def resident_kib(pid, low, high):
    """Rss of the host mappings inside [low, high): in all, and by mapped file
    (anonymous memory under ""). Anonymous memory right after a file's mapping
    is that file's zero-filled data (.bss), and counts for the file."""
    by_file = {}
    name = None
    previous = ""
    with open(f"/proc/{pid}/smaps") as smaps:
        for line in smaps:
            m = re.match(r"([0-9a-f]+)-[0-9a-f]+ \S+ \S+ \S+ \S+\s*(.*)$", line)
            if m:
                inside = low <= int(m.group(1), 16) < high
                file = m.group(2).rsplit("/", 1)[-1]
                name = (file or previous) if inside else None
                previous = file
            elif name is not None and line.startswith("Rss:"):
                by_file[name] = by_file.get(name, 0) + int(line.split()[1])
    return sum(by_file.values()), by_file


def present_pages(pid, low, high):
    """Host page addresses in [low, high) that are in memory."""
    with open(f"/proc/{pid}/pagemap", "rb") as pagemap:
        pagemap.seek(low // PAGE * 8)
        data = pagemap.read((high - low) // PAGE * 8)
    entries = struct.unpack(f"<{len(data) // 8}Q", data)
    return [low + i * PAGE for i, e in enumerate(entries) if e >> 62]


def main():
    pid, log, names = int(sys.argv[1]), sys.argv[2], sys.argv[3:]
    base, size, mappings, rw_starts, stacks = parse_log(log)
    if base is None:
        sys.exit(f"{log}: no guest_base (was qemu run with -d page?)")
    total, by_file = resident_kib(pid, base, base + size)
    files = ", ".join(f"{f or 'anonymous'} {kib}" for f, kib in
                      sorted(by_file.items(), key=lambda item: -item[1]) if kib)
    print(f"guest resident memory: {total} KiB ({files})")
    # The simulated board's preload library is not on the device.
    board = by_file.get("libboardsim.so", 0)
    print(f"without the simulated board's library: {total - board} KiB")
    for n, top in enumerate(stacks, 1):
        name = names[n - 1] if n <= len(names) else f"thread {n}"
        mapping = [m for m in mappings if m[0] <= top < m[0] + m[1]]
        if not mapping:
            print(f"{name}: no mapping found for its stack at {top:#x}")
            continue
        start, length = mapping[-1]
        # Below the stack lies the guard, left PROT_NONE: the usable part
        # starts where the C library made the mapping readable and writable.
        low = max([s for s in rw_starts if start <= s < top], default=start)
        reserved = top - low
        present = present_pages(pid, base + low, base + (top // PAGE) * PAGE)
        deepest = min(present, default=base + (top // PAGE) * PAGE) - base
        touched = top - deepest
        print(f"{name}: stack reserved {reserved // 1024} KiB (mapping {length // 1024} KiB "
              f"with guard and thread data), touched at most {(touched + 1023) // 1024} KiB, "
              f"margin at least {(deepest - low) // 1024} KiB")


if __name__ == "__main__":
    main()
