"""Child processes that take Ctrl-C as a terminal's foreground program does."""
import signal


def ctrl_c_at_default():
    """For Popen's preexec_fn: SIGINT back to its default action in the child.

    A test runner started in the background by a shell has SIGINT ignored, and a child
    inherits that; Python started with SIGINT ignored installs no KeyboardInterrupt handler,
    so a test of what Ctrl-C does would see nothing happen.
    """
    signal.signal(signal.SIGINT, signal.SIG_DFL)
