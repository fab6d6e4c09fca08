"""The run as a whole on a Wine machine: the tool check, the confirmation,
the run log and the progress window of the real CleanLum.exe."""

import unittest

from run_log import RULE, assert_block
from winebed import WineTestCase

DRVMANAGE_MISSING = "Riruv Lum can't continue because drvmanage.exe is missing from your Riruv Lum directory!"
CONFIRMATION = 'Are you sure you want to uninstall LUM?'


class SpineTest(WineTestCase):

    def test_silent_run_appends_one_block_shows_the_window_and_exits_0(self):
        self.prefix.install_tools('C:\\Riruv', ['drvmanage.exe'])
        temp = self.prefix.temp_directory()
        self.prefix.seed_files({temp + '\\LUMInstall.log': b'an earlier run\r\n'})

        run = self.prefix.run_cleanlum('silent noreboot')

        self.assertEqual(0, run.exit_code)
        self.assertEqual([], run.boxes)
        self.assertEqual(temp, run.temp)
        log = self.prefix.run_log(temp)
        self.assertTrue(log.startswith(b'an earlier run\r\n'), log)
        assert_block(self, log[len(b'an earlier run\r\n'):])

        self.assertEqual('progress created: Velmora Imaging Uninstall | style 0x80C80000 | 200,200 340x50',
                         run.progress[0])
        self.assertEqual(['progress range: 0-160', 'progress step size: 10', 'progress visible', 'progress step'],
                         run.progress[1:5])
        self.assertEqual('Finish Uninstalling Lum', run.captions()[-1])
        self.assertLessEqual(run.steps(), 16)
        self.assertEqual('progress destroyed', run.progress[-1])

        # A second run adds its own block after an empty line; the first stays as it was.
        again = self.prefix.run_cleanlum('silent noreboot')
        self.assertEqual(0, again.exit_code)
        both = self.prefix.run_log(temp)
        self.assertEqual(log, both[:len(log)])
        self.assertTrue(log.endswith(RULE) and both[len(log):].startswith(RULE))
        assert_block(self, both[len(log):])

    def test_missing_drvmanage_stops_with_its_message_and_minus_1(self):
        self.prefix.install_tools('C:\\Riruv', ['drvinst.exe', 'lumdrv.exe'])
        temp = self.prefix.temp_directory()
        self.prefix.seed_files({temp + '\\LUMInstall.log': b'an earlier run\r\n'})

        run = self.prefix.run_cleanlum('silent noreboot', answers=[('Error!', 'ok')])

        self.assertEqual(-1, run.exit_code)
        self.assertEqual([('Error!', DRVMANAGE_MISSING, 'ok')],
                         [(b.caption, b.text, b.answer) for b in run.boxes])
        self.assertEqual(b'an earlier run\r\n', self.prefix.run_log(temp))
        self.assertEqual([], run.progress)
        self.assertEqual([], self.prefix.tool_record())

    def test_tools_are_looked_for_in_the_working_directory_not_beside_the_program(self):
        self.prefix.install_tools('C:\\Riruv', ['drvmanage.exe'])
        self.prefix.seed_files({'C:\\Elsewhere\\': b''})
        away = self.prefix.run_cleanlum('silent noreboot', cwd='C:\\Elsewhere', answers=[('Error!', 'ok')])
        self.assertEqual(-1, away.exit_code)
        self.assertEqual([DRVMANAGE_MISSING], [b.text for b in away.boxes])

        self.prefix.install_tools('C:\\Work', ['drvmanage.exe'])
        there = self.prefix.run_cleanlum('silent noreboot', folder='C:\\Program', cwd='C:\\Work')
        self.assertEqual(0, there.exit_code)
        self.assertEqual([], there.boxes)

    def test_only_drvmanage_is_required_of_a_64_bit_program_even_on_windows_xp(self):
        self.prefix.set_windows_version('winxp')
        self.prefix.install_tools('C:\\Riruv', ['drvmanage.exe'])
        run = self.prefix.run_cleanlum('silent noreboot')
        self.assertEqual(0, run.exit_code)
        self.assertEqual([], run.boxes)

    def test_confirmation_cancel_ends_with_0_and_ok_runs(self):
        self.prefix.install_tools('C:\\Riruv', ['drvmanage.exe'])
        declined = self.prefix.run_cleanlum('noreboot', answers=[('Velmora Imaging Uninstall', 'cancel')])
        self.assertEqual(0, declined.exit_code)
        self.assertEqual([('Velmora Imaging Uninstall', CONFIRMATION, 'cancel')],
                         [(b.caption, b.text, b.answer) for b in declined.boxes])
        self.assertIsNone(self.prefix.run_log(declined.temp))
        self.assertEqual([], declined.progress)

        accepted = self.prefix.run_cleanlum('noreboot', answers=[('Velmora Imaging Uninstall', 'ok')])
        self.assertEqual(0, accepted.exit_code)
        self.assertEqual(['ok'], [b.answer for b in accepted.boxes])
        assert_block(self, self.prefix.run_log(accepted.temp))

    def test_msi_runs_the_script_clean_up_tool_hidden_from_the_working_directory(self):
        self.prefix.install_tools('C:\\Riruv', ['drvmanage.exe', 'MsiCleanup\\MsiCleanup.exe'])
        run = self.prefix.run_cleanlum('silent msi noreboot')
        self.assertEqual(0, run.exit_code)
        msi = [r for r in self.prefix.tool_record() if r['tool'] == 'msicleanup.exe']
        self.assertTrue(msi)
        for record in msi:
            self.assertEqual('C:\\Riruv\\MsiCleanup\\MsiCleanup.exe silent', record['command line'])
            self.assertEqual('C:\\Riruv', record['working directory'])
        self.assertEqual('Deleting script files', msi[-1]['progress title'])
        self.assertIn('Deleting script files', run.captions())


if __name__ == '__main__':
    unittest.main()
