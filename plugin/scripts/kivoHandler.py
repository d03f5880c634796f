"""Host-side handler the Kivo Sense plug-in calls when the controller comes and goes."""

import rova


def kivoSenseSetEnabled(enabled):
    """Starts (True) or stops (False) the data of every hand-tracking node in the scene."""
    value = "true" if enabled else "false"
    for node in rova.eval("ls -type kivoTransform").split():
        rova.eval("set %s.live %s" % (node, value))
