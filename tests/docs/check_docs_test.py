#!/usr/bin/env python3
"""The documentation check on a small tree of its own: it must name each drifted link,
path, output and size and nothing else, and hand the host exactly what a reader would type."""
import importlib.util
import os
import tempfile
import unittest
from unittest import mock

module_spec = importlib.util.spec_from_file_location(
    "check_docs", os.path.join(os.path.dirname(os.path.abspath(__file__)), "check_docs.py"))
check_docs = importlib.util.module_from_spec(module_spec)
module_spec.loader.exec_module(check_docs)

PAGE = """# Front

[a page](docs/a.md#the-heading), [gone](docs/missing.md), [no heading](docs/a.md#nope),
[the web](https://example.com/x.md) and [this page](#front).

`tools/x.txt`, `tools/gone.txt`, `x86/KVXSETUPW2K.dll`, `build/mingw-*/kvxsetup.exe`,
`build/nopreset/kvxsetup.exe`, `dist/kvxsetupw2k-0.9.0.0.zip`, `dist/kvxsetupw2k-VERSION/`.

```
bash tools/x.txt --output dist/Own.exe
tools/stale/   a folder that went
```
"""

COMMANDS = """```
kvxsetup [--dll PATH] [--quiet] COMMAND [ARGUMENTS]
C:\\setup> kvxsetup --what-if remove 2>nul
C:\\setup> kvxsetup install-device C:\\a.inf "PCI\\VEN_1&DEV_2" --no-force >> out.txt
C:\\setup> type C:\\setup\\kvxsetup.log
kvxsetup inventory --format csv | find "device"
```
Prose that mentions kvxsetup remove is not a command line.
"""

TRANSCRIPTS = """# Runs

<!-- transcript -->
```
C:\\setup> kvxsetup stop-service KvxNoSuchService
KVXSetup_StopService returned 1060 (0x424): Service does not exist.
0 changes, 0 refused
```

<!-- transcript on a new machine -->
```
C:\\setup> type C:\\setup\\kvxsetup.log
2026-12-08 21:03:04.061 [1204] kvxsetup stop-service KvxNoSuchService
...
2026-12-08 21:03:04.075 [1204] 0 changes, 0 refused
```

The installer is <!-- size of big.bin -->1,000 bytes, <!-- size of near.bin -->about 100 KiB
and <!-- size of far.bin -->about 100 KiB.

```
C:\\setup> kvxsetup remove
not a transcript: never run
```
"""

PRINTED = {
    "kvxsetup stop-service KvxNoSuchService":
    ["KVXSetup_StopService returned 1060 (0x424): Service does not exist."],
    "type C:\\setup\\kvxsetup.log":
    ["2026-12-09 09:38:43.916 [444] kvxsetup stop-service KvxNoSuchService",
     "2026-12-09 09:38:43.921 [444] TLX W2K Install DLLMain called",
     "2026-12-09 09:38:43.935 [444] 0 changes, 0 refused"],
}


def write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", encoding="utf-8") as file:
        file.write(text)


class CheckDocsTest(unittest.TestCase):
    def test_reports_each_drifted_link_and_path_only(self):
        with tempfile.TemporaryDirectory() as root:
            write(os.path.join(root, "docs", "a.md"), "# Intro\n\n## The heading\n")
            write(os.path.join(root, "tools", "x.txt"), "")
            page = os.path.join(root, "README.md")
            write(page, PAGE)

            problems = check_docs.link_problems(page, PAGE) + check_docs.path_problems(
                root, PAGE, ["linux", "mingw-i686", "mingw-x64"], "1.0.0.0")

        self.assertEqual(problems, [
            "link to docs/missing.md: no such file",
            "link to docs/a.md#nope: no such heading",
            "`tools/stale/` is not in the tree",
            "`tools/gone.txt` is not in the tree",
            "`build/nopreset/kvxsetup.exe` is made by no step of the build or release",
            "`dist/kvxsetupw2k-0.9.0.0.zip` is made by no step of the build or release",
        ])

    def test_command_lines_are_the_hosts_arguments_as_typed(self):
        self.assertEqual(check_docs.command_lines(COMMANDS), [
            "--what-if remove",
            'install-device C:\\a.inf "PCI\\VEN_1&DEV_2" --no-force',
            "inventory --format csv",
        ])

    def test_a_drifted_output_or_size_names_page_line_and_diff_and_update_mends_it(self):
        with tempfile.TemporaryDirectory() as root:
            write(os.path.join(root, "docs", "runs.md"), TRANSCRIPTS)
            write(os.path.join(root, "big.bin"), "x" * 1234)
            write(os.path.join(root, "near.bin"), "x" * (100 * 1024 + 900))
            write(os.path.join(root, "far.bin"), "x" * (103 * 1024))
            ran = []

            def run(root_, host_dir, commands):
                ran.append(commands)
                return [PRINTED[command] for command in commands]

            with mock.patch.object(check_docs.transcripts, "run_commands", run):
                problems, count = check_docs.transcripts.check_page(root, "docs/runs.md", "", False)
                check_docs.transcripts.check_page(root, "docs/runs.md", "", True)
                again, _ = check_docs.transcripts.check_page(root, "docs/runs.md", "", False)
            with open(os.path.join(root, "docs", "runs.md"), encoding="utf-8") as file:
                updated = file.read()

        # The log's times and process IDs are placeholders and `...` takes a line: only the
        # missing summary line and the size drifted.
        # Two machines: the second transcript asks for a new one.
        self.assertEqual(ran[:2], [["kvxsetup stop-service KvxNoSuchService"],
                                   ["type C:\\setup\\kvxsetup.log"]])
        self.assertEqual(count, 2)
        self.assertEqual(problems, [
            "docs/runs.md:18: big.bin is 1,234 bytes, the page says 1,000 bytes",
            "docs/runs.md:19: far.bin is 105,472 bytes, the page says about 100 KiB",
            "docs/runs.md:5: the output of `kvxsetup stop-service KvxNoSuchService` drifted\n"
            "--- shown\n+++ printed\n@@ -1,2 +1 @@\n"
            " KVXSetup_StopService returned 1060 (0x424): Service does not exist.\n"
            "-0 changes, 0 refused",
        ])
        self.assertIn("<!-- size of big.bin -->1,234 bytes", updated)
        self.assertIn("<!-- size of near.bin -->about 100 KiB", updated)
        self.assertIn("<!-- size of far.bin -->about 103 KiB", updated)
        self.assertIn("Service does not exist.\n```", updated)
        self.assertIn("21:03:04.061 [1204]", updated)
        self.assertEqual(again, [])


if __name__ == "__main__":
    unittest.main()
