"""File helpers of the command line: whole-or-nothing writes and case-blind path lookup."""
import contextlib
import os
import tempfile


@contextlib.contextmanager
def written_whole(path, suffix=""):
    """Yield a temporary path beside `path`; on success rename it over `path`.

    `suffix` ends the temporary name, for writers that go by the extension.

    The caller writes the complete file to the temporary path. When the block raises,
    the temporary file is removed and `path` is left as it was, so a reader never sees
    a half-written file.
    """
    folder = os.path.dirname(os.path.abspath(path))
    handle, temporary = tempfile.mkstemp(prefix="." + os.path.basename(path) + ".", suffix=".tmp" + suffix,
                                         dir=folder)
    os.close(handle)
    try:
        yield temporary
        # mkstemp makes the file readable by its owner only; the finished file gets the
        # permissions any new file of the user gets.
        os.chmod(temporary, 0o666 & ~_current_umask())
        os.replace(temporary, path)
    except BaseException:
        with contextlib.suppress(OSError):
            os.remove(temporary)
        raise


def _current_umask():
    mask = os.umask(0o022)
    os.umask(mask)
    return mask


def write_text_whole(path, text):
    """Write `text` to `path` whole or not at all."""
    with written_whole(path) as temporary:
        with open(temporary, "w", encoding="utf-8", newline="") as stream:
            stream.write(text)


def resolve_ignoring_case(path):
    """Return `path` as it exists on disk, matching each component ignoring letter case.

    Paths written in a workbook arrive lower-cased, so the run's outputs may lie under a
    folder spelt with capitals. An exact match is taken first, else the first entry in
    sorted order that matches ignoring case; components that match nothing are kept as
    written, so the result still names what was asked for.
    """
    if os.path.exists(path):
        return path
    drive, rest = os.path.splitdrive(os.path.normpath(path))
    parts = [part for part in rest.replace("\\", "/").split("/") if part]
    current = drive + (os.sep if rest[:1] in ("/", "\\") else "")
    if not current:
        current = ""
    for part in parts:
        candidate = os.path.join(current, part) if current else part
        if not os.path.exists(candidate):
            folder = current or "."
            try:
                names = sorted(os.listdir(folder))
            except OSError:
                names = []
            match = next((name for name in names if name.lower() == part.lower()), None)
            if match is not None:
                candidate = os.path.join(current, match) if current else match
        current = candidate
    return current
