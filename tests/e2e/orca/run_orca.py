"""Starts Debian's Orca (its own Python modules, as /usr/bin/orca does) with
the settings folder given as the first argument and an optional debug log as
the second. Unlike /usr/bin/orca it neither looks for nor ends other Orcas of
the same user: the test's Orca runs on its own accessibility bus and must not
touch a screen reader the user runs."""

import sys

sys.argv[0] = "tintrava-test-orca"

from orca import debug  # noqa: E402

if len(sys.argv) > 2:
    debug.debugLevel = debug.LEVEL_INFO
    debug.eventDebugLevel = debug.LEVEL_OFF
    debug.debugFile = open(sys.argv[2], "w")

from orca import orca  # noqa: E402

manager = orca.getSettingsManager()
manager.activate(sys.argv[1], {})
sys.path.insert(0, manager.getPrefsDir())
sys.exit(orca.main())
