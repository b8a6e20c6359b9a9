#!/usr/bin/env python3
"""Checks on kvxsetup's inventories for the host tests.

  inventory_check.py removal BEFORE PREVIEW AFTER
      AFTER is BEFORE with the preview's changes made: the preview listed exactly what the
      real removal then changed, as far as the inventory shows it.
  inventory_check.py install BEFORE PREVIEW AFTER
      the INFs the real install staged and the devices it gave a driver are the ones the
      preview named.
  inventory_check.py formats TEXT CSV JSON
      the CSV and JSON inventories parse and hold the same items as the text one.

Text inventories are read as cp1252 (the ANSI code page of the test prefix), CSV and JSON
as UTF-8. Exits 1 with the difference when a check fails.
"""
import csv
import json
import re
import sys


def lines(path, encoding="cp1252"):
    with open(path, encoding=encoding, newline="") as f:
        return f.read().replace("\r\n", "\n").splitlines()


def changes(preview, verb):
    prefix = "would " + verb + " "
    return [line[len(prefix):] for line in preview if line.startswith(prefix)]


def folded(names):
    return {name.lower() for name in names}


def after_removal(before, preview):
    removed = changes(preview, "remove device")
    deleted_services = folded(changes(preview, "delete service"))
    stopped = folded(changes(preview, "stop service"))
    deleted_files = folded(changes(preview, "delete file"))
    after = []
    for line in before:
        item, _, state = line.partition(": ")
        kind, _, name = item.partition(" ")
        if kind == "device" and any(r.startswith(name + ",") for r in removed):
            continue
        if kind == "inf" and name.lower() in deleted_files:
            continue
        if kind == "service" and name.lower() in deleted_services:
            state = "not installed"
        elif kind == "service" and name.lower() in stopped:
            state = "stopped"
        elif kind == "image" and item.rsplit("\\", 1)[1].lower() in deleted_services:
            state = "none"
        elif kind == "driver" and name.lower() in deleted_files:
            state = "missing"
        after.append(item + ": " + state)
    if not any(line.startswith("device ") for line in after):
        after.insert(0, "device: none of the product's")
    infs = [line for line in before if line.startswith("inf")]
    if infs and not any(line.startswith("inf") for line in after):
        folder = re.match(r"inf (.*\\)", infs[0]).group(1)
        at = next(i for i, line in enumerate(after) if line.startswith("driver"))
        after.insert(at, "inf: none of the product's in " + folder)
    return after


def check_install(before, preview, after):
    def basenames(inventory):
        return {l.partition(": ")[0].split("\\")[-1].lower()
                for l in inventory if l.startswith("inf ") and ": " in l}

    def device(line):
        return line.partition(": ")[0][len("device "):]

    staged = {path.split("\\")[-1].lower() for path in changes(preview, "stage INF")}
    updated = {change.split(" from ")[0] for change in changes(preview, "update the driver of")}
    expected = {device(l) for l in before if l.startswith("device ") and "no driver" in l
                and re.search(r"matches (\S+)", l).group(1) in updated}
    gained = {device(l) for l in set(after) - set(before) if l.startswith("device ")}
    problems = []
    if basenames(after) - basenames(before) != staged:
        problems.append(f"staged {sorted(basenames(after) - basenames(before))}, "
                        f"preview {sorted(staged)}")
    if not gained or gained != expected:
        problems.append(f"devices given a driver {sorted(gained)}, preview {sorted(expected)}")
    return problems


def items_of_text(text):
    items = set()
    for line in text:
        item, _, state = line.partition(": ")
        kind, _, name = item.partition(" ")
        if kind == "image":
            items.add(("image_path", item[len("image path of "):], None))
        elif kind == "device":
            service = re.search(r", service (.*?), ", state).group(1)
            items.add((kind, name, None if service == "none" else service))
        elif "none of the product" not in state:
            items.add((kind, name, None))
    return items


def check_formats(text_path, csv_path, json_path):
    text = items_of_text(lines(text_path))
    with open(csv_path, encoding="utf-8", newline="") as f:
        rows = list(csv.DictReader(f))
    from_csv = {(r["kind"], r["name"] or r["path"], r["service"] or None) for r in rows}
    with open(json_path, encoding="utf-8") as f:
        document = json.load(f)
    kinds = {"devices": "device", "services": "service", "image_paths": "image_path",
             "infs": "inf", "drivers": "driver"}
    from_json = {(kinds[group], item.get("name") or item.get("path"), item.get("service"))
                 for group, items in document.items() if group in kinds for item in items}
    problems = []
    if from_csv != text:
        problems.append(f"csv differs: {sorted(from_csv ^ text)}")
    if from_json != text:
        problems.append(f"json differs: {sorted(from_json ^ text)}")
    return problems


def main():
    check, *paths = sys.argv[1:]
    if check == "formats":
        problems = check_formats(*paths)
    else:
        before, preview, after = lines(paths[0]), lines(paths[1]), lines(paths[2])
        if check == "removal":
            expected = after_removal(before, preview)
            problems = [] if expected == after else [
                "expected after the removal:", *expected, "found:", *after]
        else:
            problems = check_install(before, preview, after)
    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
