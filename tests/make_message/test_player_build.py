"""Message executables anyone can verify: the Windows player make-message builds around a message's
clips, in a folder of its own, is byte for byte the clipnote.exe of the project's own build."""

import hashlib
import os
import shutil
import tempfile
import unittest

import tool_path
from make_message import player_build

BUILT_EXE = os.environ.get("CLIPNOTE_WIN32_EXE")
RESOURCES = os.path.join(player_build.SOURCE_ROOT, "resources")


def sha256(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


@unittest.skipUnless(BUILT_EXE and os.path.isfile(BUILT_EXE or ""),
                     "needs the Windows build's clipnote.exe (CLIPNOTE_WIN32_EXE)")
@unittest.skipUnless(shutil.which("i686-w64-mingw32-g++"), "needs the mingw-w64 cross compiler")
class ReproducibleWindowsPlayer(unittest.TestCase):
    def test_the_same_clips_give_the_same_executable_in_another_folder(self):
        with tempfile.TemporaryDirectory(prefix="clipnote-rebuild-") as work:
            rebuilt = player_build.windows_player(os.path.join(RESOURCES, "message.263"),
                                                  os.path.join(RESOURCES, "message.723"),
                                                  work, log=lambda _: None)
            print(f"\n{sha256(BUILT_EXE)}  {BUILT_EXE}\n{sha256(rebuilt)}  {rebuilt}")
            self.assertEqual(sha256(rebuilt), sha256(BUILT_EXE))


if __name__ == "__main__":
    unittest.main()
