"""Host-side handler the Kivo Sense plug-in calls when the controller comes and goes."""

import rova


def kivoSenseSetEnabled(enabled):
    """Starts (true) or stops (false) the data of every hand-tracking node in the scene."""
    value = "true" if enabled else "false"
    for node in rova.ls("kivoTransform"):
        rova.eval("set %s.live %s" % (node, value))
