"""Sums `perf script` call-chain samples of velmora-cli by where they were taken.

A sample inside the kernel is charged to the system call on its stack
(pread64, pwrite64, fallocate, openat, ...); the few without one (exec, page
faults, exit) to "kernel, other". A sample in user space is charged to its
function. Prints each share of the samples and, for each system call with
a tenth of them or more, the kernel functions it spent them in.
"""
import collections
import re
import sys

SYSCALL = re.compile(r"(?:__x64_sys|__do_sys|ksys)_([a-z0-9_]+)")

totals = collections.Counter()
leaves = collections.defaultdict(collections.Counter)
samples = 0


def charge(stack):
    global samples
    if not stack or stack[0][0] != "velmora-cli" or stack[0][1] is None:
        return
    samples += 1
    _, sym, dso = stack[0]
    if "kernel" not in dso:
        totals[f"user: {sym}"] += 1
        return
    for _, frame_sym, _ in stack[1:] + [stack[0]]:
        m = SYSCALL.search(frame_sym)
        if m:
            call = m.group(1)
            totals[f"kernel: {call}"] += 1
            leaves[call][sym] += 1
            return
    totals["kernel, other"] += 1


stack = []
for line in sys.stdin:
    line = line.rstrip("\n")
    if not line.strip():
        charge(stack)
        stack = []
        continue
    if not line.startswith((" ", "\t")):
        comm = line.split()[0]
        stack = [(comm, None, None)]
        continue
    parts = line.strip().split(None, 1)
    rest = parts[1] if len(parts) > 1 else ""
    m = re.match(r"(.*) \((.*)\)$", rest)
    sym, dso = (m.group(1), m.group(2)) if m else (rest, "")
    sym = re.sub(r"\+0x[0-9a-f]+$", "", sym)
    if stack and stack[0][1] is None:
        stack[0] = (stack[0][0], sym, dso)
    else:
        stack.append((stack[0][0] if stack else "", sym, dso))
charge(stack)

if samples == 0:
    print("  no samples")
    sys.exit(0)
print(f"  {samples} samples at 4999 Hz, about {samples / 4999 * 1000:.0f} ms of CPU")
for what, n in totals.most_common():
    if n / samples < 0.01:
        continue
    print(f"  {100 * n / samples:5.1f}%  {what}")
    call = what.removeprefix("kernel: ")
    if call in leaves and n / samples >= 0.1:
        top = ", ".join(f"{s} {100 * c / n:.0f}%" for s, c in leaves[call].most_common(3))
        print(f"          of which {top}")
