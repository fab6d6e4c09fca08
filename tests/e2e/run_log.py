"""The run log as the end-to-end tests read it: the block one whole run
appends to LUMInstall.log, between two rules of equals signs."""

import re

RULE = b'\r\n' + b'=' * 101 + b'\r\n'
# A time of day as the log writes it (no leading zeros): hours, minutes, seconds.
TIME = rb'(0|[1-9][0-9]?):(0|[1-9][0-9]?):(0|[1-9][0-9]?)'
# The lines of the steps after the driver steps, in order.
STEP_LINES = (b'Deleted Lum Shortcuts \r\nDeleted Lum Directory \r\nDeleted Lum Registry Keys \r\n'
              b'Deleted Lum Dlls \r\nDeleted inf files \r\n')


def block(*calls):
    """The block of a whole run whose board tools ran these command lines."""
    return re.compile(re.escape(RULE) + b'Riruv Lum started at ' + TIME + b'\r\n'
                      + b''.join(b'Call to ' + re.escape(c.encode()) + b'\r\n' for c in calls)
                      + re.escape(STEP_LINES) + b'Riruv Lum ended at ' + TIME + re.escape(RULE))


def assert_block(test, data, *calls):
    """Fails test unless data is exactly the block of one whole run whose
    board tools ran these command lines, started and ended at real times of day."""
    match = block(*calls).fullmatch(data or b'')
    test.assertIsNotNone(match, data)
    numbers = [int(n) for n in match.groups()]
    for hours, minutes, seconds in (numbers[:3], numbers[3:]):
        test.assertTrue(hours < 24 and minutes < 60 and seconds < 60, data)
