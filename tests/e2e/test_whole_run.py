"""Whole runs of the real CleanLum.exe under Wine on the complete sample
installation, as its users run it: the exact run log block, the exact vendor
tool command lines in order with the progress title each one saw, the
captions, the exit code, and the machine afterwards (every vendor item gone,
every unrelated item beside it untouched).

The slow case (a GigE board, whose service removal pauses 75 s) runs only
with CLEANLUM_E2E_SLOW=1."""

import os
import time
import unittest

import sample
from run_log import assert_block
from winebed import WineTestCase

FOLDER = sample.PROGRAM_FOLDER
TOOLS = sample.INSTALL_DIR + '\\Tools'
# Started by its full path, the child sees its command line unchanged, the
# unquoted path with blanks included (as Windows and Wine both pass it then).
NETWORK_SERVER_BY_DRIVE = (TOOLS + '\\LumNetworkServer.exe --uninstall --resetfw_server',
                           'Stopping LumNetworkServer.exe')
# The sample's vendor driver package leaves through SetupUninstallOEMInfA, named
# by its published name with SUOI_FORCEDELETE; the other oem INFs are never
# named to it. Wine has no driver store: its call deletes the INF alone (the
# run then deletes the PNF it leaves), and it exports the call whatever Windows
# version it reports, where Windows NT 4 has none (the simulation covers that).
UNINSTALL_OEM_INF = 'setupapi.SetupUninstallOEMInfA'
VENDOR_PACKAGE_CALLS = ['SetupUninstallOEMInfA("oem41.inf",00000001,00000000) -> 00000001']


def captions(*board_captions, msi=False):
    """The progress window's titles through a whole run."""
    out = ['Velmora Imaging Uninstall', 'Uninstall all board', *board_captions, 'Stopping LumNetworkServer.exe',
           'Uninstall Dma', 'Deleting the Velmora Imaging shortcuts', 'Deleting the Velmora Imaging directory']
    out += ['Deleting script files'] if msi else []
    out += ['Deleting registry keys', 'Deleting the Velmora Imaging dlls']
    out += ['Deleting script files'] if msi else []
    return out + ['Finish Uninstalling Lum']


class WholeRunTest(WineTestCase):

    def tool_runs(self):
        """(command line, progress title) of every vendor tool run, and the
        monitor window's events, in the order they happened."""
        return [(r['command line'], r['progress title']) if 'command line' in r else ('monitor', r['monitor'])
                for r in self.prefix.tool_record() if 'command line' in r or 'monitor' in r]

    def assertMachineCleaned(self, before):
        after = sample.survey(self.prefix)
        self.assertEqual([item for kind, item, present in before if not present], [], 'sample not seeded')
        self.assertEqual([], [item for kind, item, present in after if kind == 'vendor' and present])
        self.assertEqual([], [item for kind, item, present in after if kind == 'foreign' and not present])

    def run_on_sample(self, arguments):
        """Seeds the sample, starts the library's background processes, runs
        the program and checks what every whole run on the sample shows."""
        sample.install_sample(self.prefix)
        sample.start_background_processes(self.prefix)
        before = sample.survey(self.prefix)
        foreign_environment = self.prefix.read_registry(sample.ENVIRONMENT).key(sample.ENVIRONMENT)
        self.prefix.trace_calls(UNINSTALL_OEM_INF)
        run = self.prefix.run_cleanlum(arguments, folder=FOLDER, timeout=300)
        self.assertEqual(0, run.exit_code)
        self.assertEqual([], run.boxes)
        self.assertEqual(16, run.steps())
        self.assertMachineCleaned(before)
        self.assertEqual(VENDOR_PACKAGE_CALLS, run.calls)
        # Values beside the library's in the environment key keep their data.
        after = self.prefix.read_registry(sample.ENVIRONMENT).key(sample.ENVIRONMENT)
        for name in sample.FOREIGN_ENVIRONMENT:
            self.assertEqual(foreign_environment[name], after[name], name)
        return run

    def test_silent_msi_run_on_windows_10_with_the_background_processes_running(self):
        run = self.run_on_sample('silent msi noreboot')

        assert_block(self, self.prefix.run_log(run.temp),
                     FOLDER + '\\drvmanage.exe uninstall inf=Parlow-CL.inf -log -quiet',
                     FOLDER + '\\drvmanage.exe uninstall inf=Tarvel-X4.inf -log -quiet')
        self.assertEqual([
            (FOLDER + '\\drvmanage.exe uninstall inf=Parlow-CL.inf -log -quiet', 'Uninstall Parlow-CL'),
            # The Tarvel board's monitor is told to release the boards and closed first.
            ('pyxmon.exe', 'Uninstall Tarvel-X4'),
            ('monitor', 'command 32776'),
            ('monitor', 'closed'),
            (FOLDER + '\\drvmanage.exe uninstall inf=Tarvel-X4.inf -log -quiet', 'Uninstall Tarvel-X4'),
            NETWORK_SERVER_BY_DRIVE,
            (FOLDER + '\\drvmanage.exe uninstall -log -quiet', 'Uninstall Dma'),
            (FOLDER + '\\LumNetworkServer.exe --uninstall --resetfw_server', 'Uninstall Dma'),
            # The installer-script tool: once in the install directory step, once at the end.
            (FOLDER + '\\MsiCleanup\\MsiCleanup.exe silent', 'Deleting script files'),
            (FOLDER + '\\MsiCleanup\\MsiCleanup.exe silent', 'Deleting script files'),
        ], self.tool_runs())
        self.assertEqual(captions('Uninstall Parlow-CL', 'Uninstall Tarvel-X4', msi=True), run.captions())
        self.assertEqual([], [name for name in self.prefix.running_processes()
                              if name.lower() in [n.lower() for n in sample.BACKGROUND_PROCESSES]])

    def test_silent_run_on_windows_xp_takes_the_nt_board_sequence(self):
        self.prefix.set_windows_version('winxp')
        run = self.run_on_sample('silent noreboot')

        assert_block(self, self.prefix.run_log(run.temp),
                     FOLDER + '\\drvinst.exe -remove Parlow-CL -noback',
                     FOLDER + '\\drvinst.exe -remove Tarvel-X4 -noback')
        self.assertEqual([
            (FOLDER + '\\drvinst.exe -remove Parlow-CL -noback', 'Uninstall Parlow-CL'),
            ('pyxmon.exe', 'Uninstall Tarvel-X4'),
            ('monitor', 'command 32776'),
            ('monitor', 'closed'),
            (FOLDER + '\\drvinst.exe -remove Tarvel-X4 -noback', 'Uninstall Tarvel-X4'),
            NETWORK_SERVER_BY_DRIVE,
            # A 64-bit Windows takes drvmanage for the DMA driver whatever its major version.
            (FOLDER + '\\drvmanage.exe uninstall -log -quiet', 'Uninstall Dma'),
            (FOLDER + '\\LumNetworkServer.exe --uninstall --resetfw_server', 'Uninstall Dma'),
        ], self.tool_runs())
        self.assertEqual(captions('Uninstall Parlow-CL', 'Uninstall Tarvel-X4'), run.captions())

    def test_silent_run_on_windows_nt_4_takes_the_version_4_sequence_and_its_profile_groups(self):
        self.prefix.set_windows_version('nt40')
        profiles = 'C:\\windows\\Profiles\\All Users\\Start Menu\\Programs\\'
        groups = {profiles + 'Velmora Imaging\\Lum Control Center.lnk': b'L shortcut',
                  profiles + 'Parlow Native Library 2.2\\Readme.lnk': b'L shortcut'}
        beside = profiles + 'Parlow Native Library 4.0\\Other.lnk'
        self.prefix.seed_files({**groups, beside: b'L shortcut'})
        sample.install_sample(self.prefix)
        before = sample.survey(self.prefix)
        self.prefix.trace_calls(UNINSTALL_OEM_INF)

        run = self.prefix.run_cleanlum('silent noreboot', folder=FOLDER, timeout=300)

        self.assertEqual(0, run.exit_code)
        self.assertEqual(VENDOR_PACKAGE_CALLS, run.calls)
        assert_block(self, self.prefix.run_log(run.temp),
                     FOLDER + '\\lumdrv.exe Parlow-CL -remove -noinfo',
                     FOLDER + '\\lumdrv.exe Tarvel-X4 -remove -noinfo')
        self.assertEqual([
            (FOLDER + '\\lumdrv.exe Parlow-CL -remove -noinfo', 'Uninstall Parlow-CL'),
            ('pyxmon.exe', 'Uninstall Tarvel-X4'),
            ('monitor', 'command 32776'),
            ('monitor', 'closed'),
            (FOLDER + '\\lumdrv.exe Tarvel-X4 -remove -noinfo', 'Uninstall Tarvel-X4'),
            NETWORK_SERVER_BY_DRIVE,
            (FOLDER + '\\drvmanage.exe uninstall -log -quiet', 'Uninstall Dma'),
            (FOLDER + '\\LumNetworkServer.exe --uninstall --resetfw_server', 'Uninstall Dma'),
        ], self.tool_runs())
        self.assertEqual(captions('Uninstall Parlow-CL', 'Uninstall Tarvel-X4'), run.captions())
        self.assertEqual(16, run.steps())
        # Windows NT 4 keeps its shortcuts under Profiles: the groups there go, the
        # groups and desktop shortcut under Documents and Settings are not looked at.
        self.assertEqual([], [path for path in groups if self.prefix.exists(path)])
        self.assertTrue(self.prefix.exists(beside))
        documents_and_settings = sample.ALL_USERS + '\\'
        after = sample.survey(self.prefix)
        self.assertEqual([], [item for kind, item, present in after if kind == 'foreign' and not present])
        self.assertEqual([item for kind, item, present in before if kind == 'vendor' and present
                          and item.startswith(documents_and_settings) and 'Documents\\' not in item],
                         [item for kind, item, present in after if kind == 'vendor' and present])

    @unittest.skipUnless(os.environ.get('CLEANLUM_E2E_SLOW'), 'slow (75 s pause): set CLEANLUM_E2E_SLOW=1')
    def test_gige_board_removes_filter_and_service_with_its_pause(self):
        self.prefix.seed_registry({sample.BOARD_KEY + '\\DruvanGigE-2': {},
                                   sample.LIBRARY_KEY: {'Revision': '8.2', 'Directory': sample.INSTALL_DIR}})
        self.prefix.install_tools(FOLDER)
        self.prefix.install_tools(sample.INSTALL_DIR, sample.VENDOR_TOOLS_INSTALLED)

        started = time.monotonic()
        run = self.prefix.run_cleanlum('silent noreboot', folder=FOLDER, timeout=400)
        elapsed = time.monotonic() - started

        self.assertEqual(0, run.exit_code)
        self.assertGreaterEqual(elapsed, 75)
        sc = 'C:\\Windows\\SysWOW64\\sc '
        assert_block(self, self.prefix.run_log(run.temp),
                     FOLDER + '\\drvmanage.exe uninstall inf=DruvanGigE-2.inf -log -quiet',
                     FOLDER + '\\drvmanage.exe uninstall inf=vlxgigefilter.inf -log -quiet',
                     'C:\\Program Files\\Velmora Imaging\\Tools\\VlxGigeService.exe -blockme',
                     sc + 'stop vlxgigeservice', sc + 'delete vlxgigeservice')
        self.assertEqual([
            (FOLDER + '\\drvmanage.exe uninstall inf=DruvanGigE-2.inf -log -quiet', 'Uninstall DruvanGigE-2'),
            (FOLDER + '\\drvmanage.exe uninstall inf=vlxgigefilter.inf -log -quiet', 'Uninstall DruvanGigE-2'),
            ('"' + TOOLS + '\\VlxGigeService.exe" -blockme', 'Stopping the vlxgigeservice'),
            NETWORK_SERVER_BY_DRIVE,
        ], self.tool_runs()[:4])
        self.assertEqual(captions('Uninstall DruvanGigE-2', 'Stopping the vlxgigeservice'), run.captions())


if __name__ == '__main__':
    unittest.main()
