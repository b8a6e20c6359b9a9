#!/usr/bin/env python3
"""Writes the seed corpora in fuzz/corpus/<target>/: a few small machines each, laid out
in the order the targets read their bytes, so that fuzzing starts from meaningful states
(both families installed, odd hardware-ID data, staged INFs of every kind, long trace
arguments) rather than from noise."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def text(s):
    data = s.encode()
    assert len(data) < 256
    return bytes([len(data)]) + data


KEEP = 7  # a Varied() choice that leaves the text as it is


# ---- device_tree --------------------------------------------------------------------
# Catalogue picks: Pick(4) then an index (0: first family, 1: second family; 2, another
# product's ID, has none), then the Varied() choice.
def catalog(family, index=None, variation=KEEP):
    if index is None:
        return bytes([family, variation])
    return bytes([family, index, variation])


def service(index, variation=KEEP):  # 0 dz4x, 1 hxhw, 2 DZ4X, 3 HxHw, 4 othernic, 5 hx
    return bytes([1, index, variation])


def driver(ours, package, number):
    return (bytes([1 if ours else 0, 1 if package else 0, number, KEEP, KEEP, KEEP])
            + catalog(2))


def device(svc, ids, present=True, drivers=(), odd=None):
    data = bytes([KEEP])
    data += bytes([0]) if svc is None else bytes([1]) + service(svc)
    data += bytes([len(ids)]) + b"".join(ids)
    data += bytes([1 if present else 0, len(drivers)]) + b"".join(drivers)
    if odd is None:
        data += bytes([1])
    else:
        raw, reported = odd
        data += bytes([0, 1]) + text(raw)
        data += bytes([1, reported]) if reported is not None else bytes([0])
    return data


def machine(oem_files, services, devices, locks=(1, 1), grow=None, failure=None):
    data = b""
    for header in oem_files:
        data += bytes([0]) if header is None else bytes([1, 1 if header else 0])
    data += b"".join(services)
    data += bytes([len(devices)]) + b"".join(devices)
    data += bytes(locks)
    data += bytes([1]) if grow is None else bytes([0]) + bytes(grow)
    data += bytes([1]) if failure is None else bytes([0]) + bytes(failure)
    return data


RUNNING = bytes([1, 1, 1, 1])
ABSENT = bytes([0])


def device_tree_seeds():
    both_families = [
        device(0, [catalog(0, 0), catalog(0, 6)], drivers=[driver(True, True, 0)]),
        device(0, [catalog(0, 11)], present=False, drivers=[driver(True, True, 1)]),
        device(1, [catalog(1, 0)], drivers=[driver(True, True, 2), driver(False, True, 3)]),
        device(1, [catalog(1, 14, 3)], drivers=[driver(True, False, 4)]),
        device(4, [catalog(0, 0, 0)], drivers=[driver(False, False, 5)]),
        device(0, [catalog(2)]),
        device(None, [catalog(0, 1)]),
    ]
    services = [RUNNING] * 5
    oem = [True, False, None, True, None, None, None, None]
    return {
        # The removal sequence on a machine with both families and another product.
        "sequence_both_families": bytes([2, 1, 1, 3, 3]) + machine(oem, services, both_families),
        # The same with the first family's image path in NT form.
        "sequence_nt_image": bytes([2, 1, 1, 1, 3]) + machine(oem, services, both_families),
        # One first-family ID through the device removal.
        "remove_one_id": bytes([0]) + service(0) + catalog(0, 0) + machine(
            oem, services[:2], both_families[:3]),
        # Hardware IDs without terminators, and a size reported beyond the data.
        "odd_hardware_ids": bytes([0]) + service(1) + catalog(1, 1) + machine(
            [None] * 8, [ABSENT] * 5,
            [device(1, [catalog(1, 1)], odd=("PCI\\VEN_0E7C&DEV_0002", None)),
             device(1, [catalog(1, 1)], odd=("PCI\\VEN_0E7C&DEV_0002\0PCI", 60)),
             device(1, [catalog(1, 1)], odd=("PCI\\VEN_0E7C&DEV_0002", 5))]),
        # Growing property sizes and a failing class installer.
        "growing_and_failing": bytes([0]) + service(0) + catalog(0, 3) + machine(
            [None] * 8, [ABSENT] * 5,
            [device(0, [catalog(0, 3)], drivers=[driver(True, True, 0)])],
            grow=(2, 40), failure=(0, 3, 0, 0, 1)),
        # Both image path reads asked to fail with error 0, which a registry function would
        # return as success: the first family's device stays, its image path in NT form.
        "sequence_image_reads_fail": bytes([2, 1, 1, 1, 3]) + machine(
            [None] * 8, [ABSENT] * 5, both_families[:1], failure=(0, 14, 4, 0, 2)),
        # Fuzzed request strings and provider.
        "fuzzed_request": bytes([1]) + text("dz4x") + text("PCI\\VEN_1011") + bytes([1, KEEP])
        + machine([None] * 8, [ABSENT] * 5, both_families[:2]),
    }


# ---- inf_store -----------------------------------------------------------------------
def inf_file(name_choice, name_bytes, contents_choice, contents_bytes, payload, locked=False,
             short=False):
    return (bytes([name_choice]) + name_bytes + bytes([contents_choice]) + contents_bytes
            + text(payload) + bytes([0 if locked else 1, 0 if short else 1]))


def staged(number, header=0):
    return inf_file(3, bytes([number, KEEP]), 0, bytes([header]), "[Version]\r\n")


def inf_store_seeds():
    every_kind = [
        inf_file(0, b"", 3, b"", "; anything\r\n"),
        inf_file(1, bytes([0]), 3, b"", "PNF"),
        staged(0, 0), inf_file(2, bytes([0]), 3, b"", "PNF"),
        staged(1, 4),
        inf_file(3, bytes([2, KEEP]), 1, bytes([2]), "[Version]\r\n"),  # upper-case header
        inf_file(3, bytes([3, KEEP]), 2, bytes([1, 36, 1]), "[Version]\r\n"),  # bare line feed
        inf_file(3, bytes([4, KEEP]), 3, b"", "; Copyright 2003, Other Maker Ltd\r\n"),
        inf_file(4, text("setup"), 0, bytes([0]), "", short=True),  # found by its short name
    ]
    return {
        "every_kind": bytes([3, len(every_kind)]) + b"".join(every_kind) + bytes([1]),
        "locked_staged": bytes([3, 2]) + staged(0) + inf_file(3, bytes([1, KEEP]), 0, bytes([1]),
                                                              "", locked=True) + bytes([1]),
        "trailing_backslash": bytes([0, 2]) + staged(5) + staged(6, 3) + bytes([1]),
        "long_windows_directory": bytes([1, 250, 1]) + staged(0) + bytes([1]),
        "long_name": bytes([3, 1]) + inf_file(5, bytes([70]), 0, bytes([2]), "") + bytes([1]),
        "failing_search": bytes([3, 2]) + staged(0) + staged(1) + bytes([0, 0, 16, 0, 0, 1]),
    }


# ---- trace ---------------------------------------------------------------------------
def trace_seeds():
    def seed(fmt, number, repeat, payload):
        return bytes([fmt]) + struct.pack("<I", number) + bytes([repeat]) + text(payload) + \
            struct.pack("<I", 0)

    return {
        "short_id": seed(0, 0, 0, "PCI\\VEN_1011&DEV_0046"),
        "error_numbers": seed(1, 0xE000020B, 0, "tlxdaemon"),
        "cut_at_255": seed(2, 0, 0, "C:\\WINNT\\inf\\" + "x" * 230 + ".inf"),
        "very_long": seed(3, 1062, 255, "L" * 200),
        "percent_signs": seed(4, 5, 210, "%s%d%x%n" * 20),
    }


def main():
    for target, seeds in (("device_tree", device_tree_seeds()), ("inf_store", inf_store_seeds()),
                          ("trace", trace_seeds())):
        directory = os.path.join(HERE, "corpus", target)
        os.makedirs(directory, exist_ok=True)
        for name, data in seeds.items():
            with open(os.path.join(directory, name), "wb") as f:
                f.write(data)


if __name__ == "__main__":
    main()
