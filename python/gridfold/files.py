"""File helpers of the command line: whole-or-nothing writes and case-blind path lookup."""
import contextlib
import os
import tempfile


@contextlib.contextmanager
def written_whole(path, suffix=""):
    """Yield a temporary path beside `path`; on success rename it over `path`.

    The temporary is named ".<name>.<eight letters>.tmp<suffix>", as the C++ writer names its
    own; `suffix` ends the name, for writers that go by the extension.

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

    Paths written in a workbook arrive lower-cased, so a case may lie under a folder spelt
    with capitals. The resolver is the one the C++ modules use: an exact match first, else
    the entries equal ignoring case in sorted order; `path` itself when nothing matches.
    """
    from gridfold import gridfold_misc

    return gridfold_misc.resolve_path_ignoring_case(os.fspath(path))
