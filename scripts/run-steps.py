#!/usr/bin/env python3
"""Runs the steps of a test run side by side, as many at a time as the machine's cores
keep busy, each once all the steps it needs have passed. A step's output goes to a log of
its own and is shown whole when the step ends, so that suites never interleave; a failed
step's output is shown again at the end, followed by a table of every step's wall time.

    run-steps.py --jobs N --logs DIR [--step-limit SECONDS] < STEPS

STEPS has one step a line, `NAME [after NAME,NAME...] [cpu SHARE]: COMMAND`; blank lines
and lines starting with # are skipped. COMMAND runs under bash in the current folder.
SHARE is the part of one core the step keeps busy (default 1): a step that mostly waits,
as a Wine suite waits on its wineserver, declares less, and steps start while the shares
of those running stay within N. Ready steps start in the order they are listed, so list
the long ones first.
"""
import argparse
import os
import re
import signal
import subprocess
import sys
import time

LINE = re.compile(r"^(?P<name>[\w.-]+)(?:\s+after\s+(?P<needs>[\w.,-]+))?"
                  r"(?:\s+cpu\s+(?P<share>[\d.]+))?\s*:\s*(?P<command>.+)$")


def read_steps(text):
    steps = []
    names = set()
    for number, line in enumerate(text.splitlines(), 1):
        line = line.strip()
        if not line or line.startswith("#"):
            continue
        match = LINE.match(line)
        if not match:
            sys.exit(f"run-steps: line {number} is not 'NAME [after A,B] [cpu SHARE]: COMMAND': {line}")
        needs = [n for n in (match["needs"] or "").split(",") if n]
        for need in needs:
            if need not in names:
                sys.exit(f"run-steps: line {number}: {match['name']} needs {need}, listed nowhere above it")
        names.add(match["name"])
        share = float(match["share"] or 1)
        if not 0 < share <= 1:
            sys.exit(f"run-steps: line {number}: cpu {match['share']} is not a share of one core")
        steps.append({"name": match["name"], "needs": needs, "command": match["command"],
                      "share": share})
    return steps


def cpu_ticks():
    """Busy and total ticks of all the machine's cores so far, or None off Linux."""
    try:
        with open("/proc/stat") as stat:
            fields = [int(f) for f in stat.readline().split()[1:]]
    except OSError:
        return None
    idle = fields[3] + (fields[4] if len(fields) > 4 else 0)
    return sum(fields) - idle, sum(fields)


def show(path, heading):
    print(heading, flush=True)
    with open(path, "rb") as log:
        sys.stdout.buffer.write(log.read())
    sys.stdout.flush()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 1)
    parser.add_argument("--logs", required=True)
    parser.add_argument("--step-limit", type=float, default=1800,
                        help="seconds after which a step is stopped and fails")
    options = parser.parse_args()
    steps = read_steps(sys.stdin.read())
    os.makedirs(options.logs, exist_ok=True)

    state = {}  # name -> "passed", "failed", "skipped"
    times = {}
    running = {}  # pid -> (step, process, start)
    over = set()  # the steps stopped at their limit
    start_all = time.monotonic()
    ticks_at_start = cpu_ticks()

    def stop_all(*_):
        for _, process, _ in running.values():
            os.killpg(process.pid, signal.SIGTERM)
        sys.exit(130)

    signal.signal(signal.SIGINT, stop_all)
    signal.signal(signal.SIGTERM, stop_all)

    def log_of(step):
        return os.path.join(options.logs, step["name"] + ".log")

    while len(state) < len(steps):
        for step in steps:
            name = step["name"]
            if name in state or any(s["name"] == name for s, _, _ in running.values()):
                continue
            blocked = [n for n in step["needs"] if state.get(n) in ("failed", "skipped")]
            if blocked:
                state[name] = "skipped"
                times[name] = 0.0
                print(f"=== {name}: skipped, as {', '.join(blocked)} did not pass ===", flush=True)
                continue
            busy = sum(s["share"] for s, _, _ in running.values())
            if (running and busy + step["share"] > options.jobs) or any(
                    state.get(n) != "passed" for n in step["needs"]):
                continue
            with open(log_of(step), "wb") as log:
                process = subprocess.Popen(["bash", "-c", step["command"]], stdout=log,
                                           stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                                           start_new_session=True)
            running[process.pid] = (step, process, time.monotonic())
        if len(state) == len(steps):
            break
        pid, status = os.waitpid(-1, os.WNOHANG)
        if pid == 0:
            # A step past its limit is stopped with everything it started: a hung program
            # fails its step instead of holding the whole run.
            for step, process, started in running.values():
                if time.monotonic() - started > options.step_limit and step["name"] not in over:
                    over.add(step["name"])
                    os.killpg(process.pid, signal.SIGKILL)
            time.sleep(0.2)
            continue
        if pid not in running:
            continue
        step, process, started = running.pop(pid)
        seconds = time.monotonic() - started
        times[step["name"]] = seconds
        passed = os.waitstatus_to_exitcode(status) == 0 and step["name"] not in over
        state[step["name"]] = "passed" if passed else "failed"
        if step["name"] in over:
            with open(log_of(step), "a") as log:
                log.write(f"\nrun-steps: stopped after {options.step_limit} s\n")
        show(log_of(step), f"=== {step['name']}: {'passed' if passed else 'FAILED'} in {seconds:.0f} s ===")

    total = time.monotonic() - start_all
    ticks_at_end = cpu_ticks()
    busy = ""
    if ticks_at_start and ticks_at_end and ticks_at_end[1] > ticks_at_start[1]:
        share = (ticks_at_end[0] - ticks_at_start[0]) / (ticks_at_end[1] - ticks_at_start[1])
        busy = f", {share:.0%} busy"
    failed = [s for s in steps if state[s["name"]] == "failed"]
    for step in failed:
        show(log_of(step), f"\n=== output of the failed step {step['name']} ({log_of(step)}) ===")

    print(f"\n{'step':<24} {'result':<8} {'wall time':>10}")
    for step in steps:
        name = step["name"]
        print(f"{name:<24} {state[name]:<8} {times[name]:>8.0f} s")
    print(f"{'total (' + str(options.jobs) + ' cores' + busy + ')':<33} {total:>8.0f} s")
    slowest = sorted(steps, key=lambda s: times[s["name"]], reverse=True)[:3]
    print("slowest: " + ", ".join(f"{s['name']} ({times[s['name']]:.0f} s)" for s in slowest))
    not_passed = [s["name"] for s in steps if state[s["name"]] != "passed"]
    if not_passed:
        print(f"not passed: {', '.join(not_passed)}")
        return 1
    print("every step passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
