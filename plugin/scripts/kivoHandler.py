"""Host-side handler the Kivo Sense plug-in calls when the controller comes and goes."""

import rova

# The switch last made and the scene's change count once it was made. Every hand-tracking node's
# device manager asks for the same switch when the device comes or goes; while nothing in the
# scene has changed since, that switch is already made, so N nodes cost N sets rather than N x N.
_made = None


def kivoSenseSetEnabled(enabled):
    """Starts (true) or stops (false) the data of every hand-tracking node in the scene."""
    global _made
    value = "true" if enabled else "false"
    if _made == (value, rova.changes()):
        return
    for node in rova.ls("kivoTransform"):
        rova.eval("set %s.live %s" % (node, value))
    _made = (value, rova.changes())
