#!/usr/bin/env python3
"""Runs the steps of a test run side by side, as many at a time as asked, each once all
the steps it needs have passed. A step's output goes to a log of its own and is shown
whole when the step ends, so that suites never interleave; a failed step's output is
shown again at the end, followed by a table of every step's wall time.

    run-steps.py --jobs N --logs DIR < STEPS

STEPS has one step a line, `NAME [after NAME,NAME...]: COMMAND`; blank lines and lines
starting with # are skipped. COMMAND runs under bash in the current folder. Ready steps
start in the order they are listed, so list the long ones first.
"""
import argparse
import os
import re
import signal
import subprocess
import sys
import time

LINE = re.compile(r"^(?P<name>[\w.-]+)(?:\s+after\s+(?P<needs>[\w.,-]+))?\s*:\s*(?P<command>.+)$")


def read_steps(text):
    steps = []
    names = set()
    for number, line in enumerate(text.splitlines(), 1):
        line = line.strip()
        if not line or line.startswith("#"):
            continue
        match = LINE.match(line)
        if not match:
            sys.exit(f"run-steps: line {number} is not 'NAME [after A,B]: COMMAND': {line}")
        needs = [n for n in (match["needs"] or "").split(",") if n]
        for need in needs:
            if need not in names:
                sys.exit(f"run-steps: line {number}: {match['name']} needs {need}, listed nowhere above it")
        names.add(match["name"])
        steps.append({"name": match["name"], "needs": needs, "command": match["command"]})
    return steps


def show(path, heading):
    print(heading, flush=True)
    with open(path, "rb") as log:
        sys.stdout.buffer.write(log.read())
    sys.stdout.flush()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 1)
    parser.add_argument("--logs", required=True)
    options = parser.parse_args()
    steps = read_steps(sys.stdin.read())
    os.makedirs(options.logs, exist_ok=True)

    state = {}  # name -> "passed", "failed", "skipped"
    times = {}
    running = {}  # pid -> (step, process, start)
    start_all = time.monotonic()

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
            if len(running) >= options.jobs or any(state.get(n) != "passed" for n in step["needs"]):
                continue
            with open(log_of(step), "wb") as log:
                process = subprocess.Popen(["bash", "-c", step["command"]], stdout=log,
                                           stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                                           start_new_session=True)
            running[process.pid] = (step, process, time.monotonic())
        if len(state) == len(steps):
            break
        pid, status = os.wait()
        if pid not in running:
            continue
        step, process, started = running.pop(pid)
        seconds = time.monotonic() - started
        times[step["name"]] = seconds
        passed = os.waitstatus_to_exitcode(status) == 0
        state[step["name"]] = "passed" if passed else "failed"
        show(log_of(step), f"=== {step['name']}: {'passed' if passed else 'FAILED'} in {seconds:.0f} s ===")

    total = time.monotonic() - start_all
    failed = [s for s in steps if state[s["name"]] == "failed"]
    for step in failed:
        show(log_of(step), f"\n=== output of the failed step {step['name']} ({log_of(step)}) ===")

    print(f"\n{'step':<24} {'result':<8} {'wall time':>10}")
    for step in steps:
        name = step["name"]
        print(f"{name:<24} {state[name]:<8} {times[name]:>8.0f} s")
    print(f"{'total (' + str(options.jobs) + ' at a time)':<33} {total:>8.0f} s")
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
