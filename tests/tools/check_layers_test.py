#!/usr/bin/env python3
"""The layer check: the product passes it, and a tree with a forbidden include
fails it with the file and line named."""
import pathlib
import subprocess
import sys
import tempfile
import unittest

ROOT = pathlib.Path(__file__).resolve().parents[2]
SCRIPT = ROOT / "tools" / "check-layers.py"


def check(root):
    return subprocess.run([sys.executable, str(SCRIPT), str(root)], capture_output=True, text=True)


def tree(files):
    directory = tempfile.TemporaryDirectory()
    for name, text in files.items():
        path = pathlib.Path(directory.name) / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_text(text)
    return directory


class LayerCheck(unittest.TestCase):
    def test_the_product_includes_only_downwards(self):
        result = check(ROOT)
        self.assertEqual(0, result.returncode, result.stderr)

    def test_downward_and_own_folder_includes_pass(self):
        with tree({"link/frame.cpp": '#include "link/frame.h"\n#include "params/parameter_set.h"\n',
                   "cli/commands/info.cpp": '#include "cli/console/exit_codes.h"\n#include "output/print_page.h"\n',
                   "cli/main.cpp": '#include "cli/commands/command_table.h"\n',
                   "resources/menus.rc": '#include "resource_ids.h"\n'}) as root:
            self.assertEqual(0, check(root).returncode)

    def test_upward_include_is_named_with_file_and_line(self):
        with tree({"params/sheet.cpp": '#include <cstdint>\n\n#include "link/command_frames.h"\n'}) as root:
            result = check(root)
            self.assertEqual(1, result.returncode)
            self.assertIn('params/sheet.cpp:3: includes "link/command_frames.h"', result.stderr)

    def test_folders_on_one_layer_and_outside_the_product_are_refused(self):
        with tree({"app/a.cpp": '#include "cli/console/exit_codes.h"\n',
                   "lang/b.cpp": '#include "resources/resource_ids.h"\n',
                   "display/c.cpp": '#include "tests/support/recording_surface.h"\n'}) as root:
            result = check(root)
            self.assertEqual(1, result.returncode)
            for name in ("app/a.cpp:1:", "lang/b.cpp:1:", "display/c.cpp:1:"):
                self.assertIn(name, result.stderr)

    def test_cli_folders_include_only_downwards_and_not_sideways(self):
        with tree({"cli/console/a.cpp": '#include "cli/device/link_watch.h"\n',
                   "cli/monitor/b.cpp": '#include "cli/gateway/messages.h"\n',
                   "cli/device/c.cpp": '#include "cli/main.h"\n',
                   "cli/gateway/d.cpp": '#include "cli/recording/relay.h"\n#include "cli/gateway/queue.h"\n'}) as root:
            result = check(root)
            self.assertEqual(1, result.returncode)
            for name in ("cli/console/a.cpp:1:", "cli/monitor/b.cpp:1:", "cli/device/c.cpp:1:"):
                self.assertIn(name, result.stderr)
            self.assertNotIn("cli/gateway/d.cpp", result.stderr)

    def test_a_testing_header_is_only_for_its_own_implementation(self):
        with tree({"link/live_state.cpp": '#include "link/live_state_testing.h"\n',
                   "link/serial_win32.cpp": '#include "link/serial_link.h"\n#include "link/serial_link_testing.h"\n',
                   "link/frame.cpp": '#include "link/live_state_testing.h"\n',
                   "cli/device/feed.cpp": '#include "link/live_state_testing.h"\n'}) as root:
            result = check(root)
            self.assertEqual(1, result.returncode)
            self.assertIn('link/frame.cpp:1: includes "link/live_state_testing.h"', result.stderr)
            self.assertIn("cli/device/feed.cpp:1:", result.stderr)
            self.assertNotIn("live_state.cpp", result.stderr)
            self.assertNotIn("serial_win32.cpp", result.stderr)


if __name__ == "__main__":
    unittest.main()
