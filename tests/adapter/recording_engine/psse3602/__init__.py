"""Recording stand-in version package: logs that it was imported."""
import recording_log

recording_log.imported.append(__name__)
