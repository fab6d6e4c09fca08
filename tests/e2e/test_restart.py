"""The end of a run on a Wine machine: the vendor's INF packages leave the
Windows INF directory, the restart warnings appear, and the forced restart is
requested.

Wine's ExitWindowsEx starts system32\\wineboot.exe (with --kill for a forced
request) and returns; wineboot then ends every process of the session, the
program included, and runs the boot sequence again (RunOnce entries and all).
So that a request cannot end the test bed's own processes, each case puts the
fake tool in wineboot's place and has Wine load that file instead of its
built-in wineboot: the request becomes one more entry of the tool record."""

import re
import time
import unittest

import sample
from run_log import RULE, TIME, assert_block
from winebed import WineTestCase, program

LOG_END = re.compile(b'Deleted inf files \r\nRiruv Lum ended at ' + TIME + re.escape(RULE) + b'$')

WINEBOOT = 'C:\\windows\\system32\\wineboot.exe'
UNINSTALL = 'Velmora Imaging Uninstall'
SETUP = 'Velmora Imaging Setup'
REBOOT_NOTICE = 'You must reboot your system.'
REBOOT_WARNING = ('Riruv Lum will now restart your computer.\nPlease save your work and close all open '
                  'programs,\nor you risk losing data.')


class RestartTest(WineTestCase):

    def replace_wineboot(self, how):
        """'record': the fake tool takes the request; 'missing': Wine cannot start wineboot."""
        if how == 'record':
            with open(program('fake_tool.exe'), 'rb') as fake:
                self.prefix.seed_files({WINEBOOT: fake.read()})
            override = 'wineboot.exe=n'
        else:
            override = 'wineboot.exe=d'
        self.prefix.env['WINEDLLOVERRIDES'] += ';' + override

    def restart_requests(self, expected=1, patience=60):
        """The command lines of the restart requests that reached the stand-in.
        ExitWindowsEx does not wait for wineboot, which may still be starting
        when the program has ended: wait for the expected number. Sessions
        that start while the stand-in is in place boot with --init."""
        deadline = time.monotonic() + patience
        while True:
            requests = [r['command line'] for r in self.prefix.tool_record()
                        if r.get('tool') == 'wineboot.exe' and not r['command line'].endswith(' --init')]
            if len(requests) >= expected or time.monotonic() > deadline:
                return requests
            time.sleep(0.5)

    def test_silent_run_on_the_sample_removes_the_vendor_infs_and_requests_a_forced_restart(self):
        sample.install_sample(self.prefix)
        self.replace_wineboot('record')

        run = self.prefix.run_cleanlum('silent', folder=sample.PROGRAM_FOLDER, timeout=300)

        self.assertEqual(0, run.exit_code)
        self.assertEqual([], run.boxes)
        self.assertEqual([WINEBOOT + ' --kill'], self.restart_requests())
        self.assertRegex(self.prefix.run_log(run.temp) or b'', LOG_END)
        infs = [(kind, path, present) for kind, path, present in sample.survey(self.prefix)
                if path.startswith('C:\\windows\\inf\\')]
        self.assertIn(('vendor', 'C:\\windows\\inf\\oem41.inf', False), infs)
        self.assertIn(('foreign', 'C:\\windows\\inf\\oem42.inf', True), infs)
        self.assertEqual([], [path for kind, path, present in infs if present != (kind == 'foreign')])

    def test_interactive_run_warns_twice_before_the_request(self):
        self.prefix.install_tools('C:\\Riruv', ['drvmanage.exe'])
        self.replace_wineboot('record')

        run = self.prefix.run_cleanlum('', answers=[(UNINSTALL, 'ok'), (SETUP, 'ok'), (SETUP, 'ok')],
                                       timeout=180)

        self.assertEqual(0, run.exit_code)
        self.assertEqual([(UNINSTALL, 'Are you sure you want to uninstall LUM?'),
                          (SETUP, REBOOT_NOTICE), (SETUP, REBOOT_WARNING)],
                         [(b.caption, b.text) for b in run.boxes])
        self.assertEqual([WINEBOOT + ' --kill'], self.restart_requests())
        assert_block(self, self.prefix.run_log(run.temp))

    def test_restart_that_cannot_be_requested_still_ends_the_run_normally(self):
        self.prefix.install_tools('C:\\Riruv', ['drvmanage.exe'])
        self.replace_wineboot('missing')

        run = self.prefix.run_cleanlum('silent', timeout=180)

        self.assertEqual(0, run.exit_code)
        self.assertEqual([], run.boxes)
        assert_block(self, self.prefix.run_log(run.temp))


if __name__ == '__main__':
    unittest.main()
