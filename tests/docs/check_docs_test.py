#!/usr/bin/env python3
"""The documentation check on a small tree of its own: it must name each drifted link and
path and nothing else, and hand the host exactly what a reader would type."""
import importlib.util
import os
import tempfile
import unittest

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


if __name__ == "__main__":
    unittest.main()
