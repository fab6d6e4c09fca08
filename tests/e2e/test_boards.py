"""The board and DMA driver steps of the real CleanLum.exe on a Wine machine:
the vendor tools (fake ones that record how they were started) are run with
the exact command lines, in order, and the board runs are logged as "Call to "
lines. No GigE board here: its service removal pauses 75 s by design."""

import re
import unittest

import sample
from winebed import WineTestCase

FOLDER = sample.PROGRAM_FOLDER
TOOLS = sample.INSTALL_DIR + '\\Tools'


def calls(log):
    """The "Call to " lines of a run log, in order."""
    return re.findall(rb'Call to ([^\r\n]*)\r\n', log)


class BoardStepsTest(WineTestCase):

    def events(self):
        """The command lines of the fake tools and what the monitor window
        received, in the order they happened."""
        return [record['command line'] if 'command line' in record else 'monitor: ' + record['monitor']
                for record in self.prefix.tool_record()
                if 'command line' in record or 'monitor' in record]

    def seed_boards(self, *boards):
        self.prefix.seed_registry({sample.BOARD_KEY + '\\' + board: {} for board in boards})
        self.prefix.install_tools(FOLDER)
        self.prefix.install_tools(TOOLS, ['LumNetworkServer.exe', 'VlxGigeService.exe'])

    def test_plain_and_tarvel_boards_on_windows_10(self):
        self.seed_boards('Parlow-CL', 'Tarvel-X4', 'Host')

        run = self.prefix.run_cleanlum('silent noreboot', timeout=120)

        self.assertEqual(0, run.exit_code)
        self.assertEqual([
            FOLDER + '\\drvmanage.exe uninstall inf=Parlow-CL.inf -log -quiet',
            # The monitor is started by its bare name, told to release the
            # boards, then closed, before the Tarvel board's own run.
            'pyxmon.exe',
            'monitor: command 32776',
            'monitor: closed',
            FOLDER + '\\drvmanage.exe uninstall inf=Tarvel-X4.inf -log -quiet',
            # Started by its full path, the child sees its command line
            # unchanged, unquoted path with blanks and all.
            TOOLS + '\\LumNetworkServer.exe --uninstall --resetfw_server',
            FOLDER + '\\drvmanage.exe uninstall -log -quiet',
            FOLDER + '\\LumNetworkServer.exe --uninstall --resetfw_server',
        ], self.events()[:8])
        self.assertEqual([
            b'C:\\Riruv\\drvmanage.exe uninstall inf=Parlow-CL.inf -log -quiet',
            b'C:\\Riruv\\drvmanage.exe uninstall inf=Tarvel-X4.inf -log -quiet',
        ], calls(self.prefix.run_log(run.temp)))
        self.assertFalse(self.prefix.key_exists(sample.BOARD_KEY + '\\Host'))
        captions = run.captions()
        for caption in ('Uninstall all board', 'Uninstall Parlow-CL', 'Uninstall Tarvel-X4',
                        'Stopping LumNetworkServer.exe', 'Uninstall Dma'):
            self.assertIn(caption, captions)

    def test_nt5_runs_drvinst_for_the_boards_and_drvmanage_for_dma_on_64_bit(self):
        self.prefix.set_windows_version('winxp')
        self.seed_boards('Parlow-CL')
        self.prefix.seed_registry({sample.LIBRARY_KEY: {'Revision': '8.2'}})

        run = self.prefix.run_cleanlum('silent noreboot', timeout=120)

        self.assertEqual(0, run.exit_code)
        # A 64-bit Windows takes drvmanage for the DMA driver whatever the revision.
        self.assertEqual([
            FOLDER + '\\drvinst.exe -remove Parlow-CL -noback',
            TOOLS + '\\LumNetworkServer.exe --uninstall --resetfw_server',
            FOLDER + '\\drvmanage.exe uninstall -log -quiet',
            FOLDER + '\\LumNetworkServer.exe --uninstall --resetfw_server',
        ], self.events()[:4])
        self.assertEqual([b'C:\\Riruv\\drvinst.exe -remove Parlow-CL -noback'],
                         calls(self.prefix.run_log(run.temp)))


if __name__ == '__main__':
    unittest.main()
