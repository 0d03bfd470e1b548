"""What the Python test suites share: folders of each test's own (no two runs or tests write
the same file), kept and named after a failure (CLIPNOTE_KEEP_SCRATCH=1: always), and a
private X server."""
import contextlib
import os
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path


def _finish(path, passed):
    if passed and os.environ.get("CLIPNOTE_KEEP_SCRATCH", "") in ("", "0"):
        shutil.rmtree(path, ignore_errors=True)
    else:
        print(f"scratch kept in {path}", file=sys.stderr)


def scratch_dir(test):
    """A folder of the unittest case's own (or, given the class in setUpClass, the class's),
    removed when it ends unless it failed."""
    if isinstance(test, type):
        path = tempfile.mkdtemp(prefix=f"clipnote-{test.__name__}-")
        test.addClassCleanup(_finish, path, True)
    else:
        path = tempfile.mkdtemp(prefix=f"clipnote-{'.'.join(test.id().split('.')[-2:])}-")
        # unittest marks the case's outcome before its cleanups run.
        test.addCleanup(lambda: _finish(path, getattr(getattr(test, "_outcome", None), "success", True)))
    return path


@contextlib.contextmanager
def scratch(label):
    """A folder of the run's own for a test script, as a Path: removed at the end of the
    block, kept when the block ends with an exception."""
    path = Path(tempfile.mkdtemp(prefix=f"clipnote-{label}-"))
    try:
        yield path
    except BaseException:
        _finish(path, False)
        raise
    _finish(path, True)


def kept_file(name):
    """A path that no other run uses, for a file kept after a failure: NAME in a new folder."""
    return Path(tempfile.mkdtemp(prefix="clipnote-kept-")) / name


class VirtualDisplay:
    """An Xvfb server on a display number it picks itself."""

    def __init__(self, size="1024x768x24"):
        read_end, write_end = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", size, "-nolisten", "tcp"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as ready:
            number = ready.readline().strip()  # written once the server accepts clients
        if not number:
            self.process.kill()
            raise RuntimeError("Xvfb did not start")
        self.name = f":{number}"

    def stop(self):
        self.process.terminate()
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
