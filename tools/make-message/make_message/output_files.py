"""Files of one run written whole or not at all: each under a temporary name beside its place,
then all renamed in together. A failure or an interrupt before that leaves nothing of the run
behind and any file already in place untouched; a rename that fails takes back the ones this
run already put in place."""

import os
import shutil
import signal
import tempfile


class Interrupted(Exception):
    """SIGTERM or SIGHUP, turned into an exception so that every clean-up still runs."""


def _raise_interrupted(signum, _frame):
    raise Interrupted(signal.Signals(signum).name)


def interrupts_clean_up():
    """Makes SIGTERM and SIGHUP unwind like Ctrl-C (KeyboardInterrupt) does."""
    for signum in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(signum, _raise_interrupted)


class OutputRun:
    def __init__(self):
        self._pending = []  # (temporary, final)

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self.discard()
        return False

    def _temporary(self, path):
        folder, name = os.path.split(os.path.abspath(path))
        fd, temporary = tempfile.mkstemp(prefix=f".{name}.partial-", dir=folder)
        self._pending.append((temporary, path))
        return fd, temporary

    def write(self, path, data):
        fd, _ = self._temporary(path)
        with os.fdopen(fd, "wb") as f:
            f.write(data)
            f.flush()
            os.fsync(f.fileno())

    def copy(self, source, path):
        fd, temporary = self._temporary(path)
        os.close(fd)
        shutil.copyfile(source, temporary)
        shutil.copymode(source, temporary)
        with open(temporary, "rb") as f:
            os.fsync(f.fileno())

    def commit(self):
        """Puts every file in place; on failure none of this run's files stays, and the files
        they had replaced come back."""
        mask = 0o666 & ~_umask()
        placed = []  # (path, the file it replaced under a second name, or None)
        blocked = {signal.SIGINT, signal.SIGTERM, signal.SIGHUP}
        previous_mask = signal.pthread_sigmask(signal.SIG_BLOCK, blocked)
        try:
            for temporary, path in self._pending:
                mode = os.stat(temporary).st_mode & 0o777
                os.chmod(temporary, mode | mask if mode & 0o100 else mask)
                previous = _keep_previous(path)
                try:
                    os.replace(temporary, path)
                except OSError as error:
                    if previous:
                        os.unlink(previous)
                    _take_back(placed)
                    raise OSError(error.errno, f"cannot replace '{path}': {error.strerror}") from None
                placed.append((path, previous))
            for _, previous in placed:
                if previous:
                    os.unlink(previous)
            done = {path for path, _ in placed}
            self._pending = [p for p in self._pending if p[1] not in done]
        finally:
            signal.pthread_sigmask(signal.SIG_SETMASK, previous_mask)

    def discard(self):
        for temporary, _ in self._pending:
            try:
                os.unlink(temporary)
            except FileNotFoundError:
                pass
        self._pending = []


def _keep_previous(path):
    """A second name beside the regular file at path, so that a later failure can put it back;
    None when there is none or the filesystem cannot link."""
    if not os.path.isfile(path) or os.path.islink(path):
        return None
    folder, name = os.path.split(os.path.abspath(path))
    for attempt in range(100):
        backup = os.path.join(folder, f".{name}.previous-{os.getpid()}-{attempt}")
        try:
            os.link(path, backup)
            return backup
        except FileExistsError:
            continue
        except OSError:
            return None
    return None


def _take_back(placed):
    for path, previous in reversed(placed):
        try:
            if previous:
                os.replace(previous, path)
            else:
                os.unlink(path)
        except OSError:
            pass


def _umask():
    mask = os.umask(0)
    os.umask(mask)
    return mask
