"""The harness's NSIS scripts: what each installer is built to do, and a checkout whose path
makensis would misread (it takes `$` specially even in the paths it reads at build time); and
the small-file set's count, held to the launcher's clean-up list."""

import os
import re
import shutil
import tempfile
import unittest

import run


class NsisScript(unittest.TestCase):
    def test_each_installer_says_what_it_does(self):
        stored = run.nsis_script("s.exe", ["../files/a.bin", "../files/b.bin"], compress=False).splitlines()
        self.assertIn("Target amd64-unicode", stored)
        self.assertIn("SetCompress off", stored)
        self.assertNotIn("CRCCheck off", stored)
        self.assertIn("Page instfiles", stored, "a progress window")
        self.assertEqual(stored[stored.index("  SetOutPath $TEMP") + 1:][:2],
                         ['  File "../files/a.bin"', '  File "../files/b.bin"'])
        self.assertIn("CRCCheck off", run.nsis_script("s.exe", ["a.bin"], compress=False, crc=False))
        self.assertNotIn("SetCompress", run.nsis_script("z.exe", ["a.bin"]))
        box = run.nsis_script("b.exe", silent_init_box=True)
        self.assertIn("Function .onInit", box)
        self.assertIn("  Quit", box)
        self.assertNotIn("  File ", box)

    def test_a_name_makensis_would_misread_is_refused(self):
        for name in ("a$TEMP.bin", 'a".bin', "a%PATH%.bin"):
            with self.assertRaises(SystemExit, msg=name):
                run.nsis_script("s.exe", [name])

    @unittest.skipIf(shutil.which("makensis") is None, "needs makensis (scripts/deps bench)")
    def test_makensis_builds_in_a_directory_with_a_dollar(self):
        with tempfile.TemporaryDirectory(prefix="qmr$TEMP.") as d:
            os.mkdir(os.path.join(d, "nsis"))
            with open(os.path.join(d, "pay.bin"), "wb") as f:
                f.write(os.urandom(4096))
            run.makensis(run.nsis_script("out.exe", ["../pay.bin"], compress=False), os.path.join(d, "nsis", "t.nsi"))
            with open(os.path.join(d, "nsis", "out.exe"), "rb") as f:
                built = f.read()
            self.assertEqual(built[:2], b"MZ")
            self.assertGreater(len(built), 4096)


class SmallFiles(unittest.TestCase):
    def test_as_many_files_as_the_cleanup_list_holds(self):
        with open(os.path.join(os.path.dirname(__file__), "..", "format", "layout.h")) as f:
            layout = f.read()
        self.assertEqual(int(re.search(r"kCleanupListSize = (\d+);", layout).group(1)), run.CLEANUP_LIST_SIZE)
        for temp in ("/tmp/qabcdefgh/l", "/tmp/qabcdefgh/w"):
            count = run.small_files_that_fit(temp)
            directory = run.Wine.path(temp) + "\\"
            paths = [directory + name for name in ["qmrsetup.in_", "qmrsetup.ex_"]]
            paths += [directory + f"s{i + 1:04d}.bin" for i in range(count + 1)]
            # The launcher's rule: a path fits while the list keeps room for its NUL and the final one.
            used, fitted = 0, 0
            for path in paths:
                if used + len(path) + 1 + 1 > run.CLEANUP_LIST_SIZE:
                    break
                used += len(path) + 1
                fitted += 1
            self.assertEqual(fitted, count + 2, temp)
            self.assertGreater(count, 200, "a few hundred entries")


if __name__ == "__main__":
    unittest.main()
