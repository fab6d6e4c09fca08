"""CleanLum.exe managed under Wine, as a deployment engine runs it: the exit
code says what happened (3010 removed, 0 nothing to do, 1603 items remain or a
vendor tool failed), no box is shown and no restart requested, and the result
marker, the event source with its message file and the result report (valid
against schema/cleanlum-report.schema.json) are left behind.

Wine deviations: Wine's ReportEventA succeeds without keeping the event and
its ReadEventLogA returns nothing, so the event itself cannot be read back.
What Event Viewer would show is checked instead: the source's message file
is the program, whose message table formats the summary line. Wine (8.0)
lets DeleteFileA delete a read-only file, which Windows refuses, so the
read-only library case shows the outcome only, not the attribute clearing
(the simulation's tests show that). Wine's boot time stays that of the host,
so the run after a restart is the simulation's to show."""

import hashlib
import json
import unittest

import report_schema
import sample
from winebed import RegValue, WineTestCase

MARKER = 'HKEY_LOCAL_MACHINE\\SOFTWARE\\CleanLum'
SOURCE = 'HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\CleanLum'
RESTART_CALL = 'user32.ExitWindowsEx'
REPORTS = 'C:\\Reports'
PARLOW = 'HKLM\\Software\\Velmora\\Imaging Board\\Parlow-CL'


def left(report):
    """What a report leaves, one line each: for an assertion's message."""
    return '\n'.join('%s %s: %s' % (i['status'], i['path'], i.get('reason', ''))
                     for i in report['items'] if i['status'] not in ('removed', 'keptByDesign')) + '\n' + \
        '\n'.join(c['outcome'] for c in report['commands'] if c['failed'])


class ManagedTest(WineTestCase):

    def setUp(self):
        super().setUp()
        # A restart request is a call of ExitWindowsEx. (Wine's wineboot, which
        # would carry it out, also starts the service manager, so it stays.)
        self.prefix.trace_calls(RESTART_CALL)

    def run_managed(self):
        run = self.prefix.run_cleanlum('managed "reportdir=%s"' % REPORTS, folder=sample.PROGRAM_FOLDER)
        self.assertEqual([], run.boxes)
        self.assertEqual([], [call for call in run.calls if call.startswith('ExitWindowsEx')])
        return run

    def marker(self):
        """The marker's values and the result report it names, checked against the schema."""
        values = self.prefix.read_registry(MARKER).key(MARKER)
        report = json.loads(self.prefix.read_file(values['Report']).decode('utf-8'))
        self.assertEqual([], report_schema.check(report))
        return values, report

    def test_a_managed_run_asks_for_a_restart_and_a_second_one_before_it_asks_again(self):
        sample.install_sample(self.prefix)
        survey = sample.survey(self.prefix)

        run = self.run_managed()

        values, report = self.marker()
        self.assertEqual(3010, run.exit_code, left(report))
        self.assertEqual((3010, 0, 1), (values['LastResult'], values['Remaining'], values['RestartPending']))
        self.assertRegex(values['Time'], r'^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$')
        self.assertTrue(values['Report'].startswith(REPORTS + '\\CleanLum-result-'))
        # The registry backup beside the report (a folder the run made private), and its digest.
        self.assertEqual(report['backup']['file'], values['Backup'])
        self.assertEqual(hashlib.sha256(self.prefix.read_file(values['Backup'])).hexdigest(), values['BackupSha256'])
        self.assertEqual(3010, report['exitCode'])
        self.assertEqual(0, report['summary']['remaining'])
        self.assertTrue(report['restartRequired']['required'])
        # Every tool the run started, with its exit code.
        self.assertIn(sample.PROGRAM_FOLDER + '\\drvmanage.exe uninstall inf=Parlow-CL.inf -log -quiet',
                      [c['commandLine'] for c in report['commands'] if c['exitCode'] == 0])
        self.assertEqual([], [entry for kind, entry, state in sample.survey(self.prefix)
                              if kind == 'vendor' and state])
        # Event Viewer's view of the event: the program is the source's message
        # file, and its message table turns the summary into the event's text.
        source = self.prefix.read_registry(SOURCE).key(SOURCE)
        self.assertIsInstance(source['EventMessageFile'], RegValue)  # REG_EXPAND_SZ
        message_file = source['EventMessageFile'].data.decode('utf-16-le').rstrip('\0')
        self.assertEqual(sample.PROGRAM_FOLDER.lower() + '\\cleanlum.exe', message_file.lower())
        self.assertEqual(7, source['TypesSupported'])
        for message in ('40000001', 'C0000002'):
            self.assertEqual('Summary: 3 items', self.prefix.probe(
                'message', sample.PROGRAM_FOLDER + '\\CleanLum.exe', message, 'Summary: 3 items').strip())

        # Once more before the restart: nothing of the vendor's is left and
        # nothing runs, but the removal still waits for that restart.
        before = [line for line in sample.survey(self.prefix)]
        log = self.prefix.run_log()
        self.assertEqual(3010, self.run_managed().exit_code)
        self.assertEqual(before, sample.survey(self.prefix))
        self.assertEqual(log, self.prefix.run_log())
        values, report = self.marker()
        self.assertEqual((3010, 0, 1), (values['LastResult'], values['Remaining'], values['RestartPending']))
        self.assertEqual(([], [], None), (report['items'], report['commands'], report.get('logonCommand')))
        self.assertTrue(report['restartRequired']['required'])
        self.assertRegex(' '.join(report['restartRequired']['reasons']), 'has not happened yet')
        self.assertNotEqual(survey, before)

    def test_a_managed_run_on_a_clean_machine_runs_nothing_and_writes_no_logon_command(self):
        self.prefix.install_tools(sample.PROGRAM_FOLDER)

        self.assertEqual(0, self.run_managed().exit_code)

        values, report = self.marker()
        self.assertEqual((0, 0), (values['LastResult'], values['Remaining']))
        self.assertEqual(([], [], None), (report['items'], report['commands'], report.get('logonCommand')))
        self.assertEqual([], self.prefix.tool_record())
        result = self.prefix.read_file(values['Report'][:-len('.json')] + '.txt').decode('utf-8-sig')
        self.assertNotIn('Other tool runs', result)
        self.assertNotIn('Logon command', result)

    def test_a_board_tool_that_fails_leaves_the_board_remaining_with_its_exit_code(self):
        sample.install_sample(self.prefix)
        self.prefix.tool_settings('drvmanage.exe', exit_code=1603)

        run = self.run_managed()

        values, report = self.marker()
        self.assertEqual(1603, run.exit_code)
        self.assertEqual(1603, values['LastResult'])
        board = [i for i in report['items'] if i['path'] == PARLOW]
        self.assertEqual(1, len(board), left(report))
        self.assertEqual('remaining', board[0]['status'])
        self.assertIn('drvmanage.exe exited with 1603', board[0]['reason'])
        self.assertTrue(all(c['failed'] for c in report['commands'] if c['program'].endswith('drvmanage.exe')))

    def test_a_library_held_open_makes_a_managed_run_fail_and_a_read_only_one_goes(self):
        sample.install_sample(self.prefix)
        held = sample.SYSTEM32 + '\\lumcore.dll'
        read_only = sample.SYSTEM32 + '\\LUM.DLL'
        self.prefix.wine('cmd', '/c', 'attrib +r "%s"' % read_only, check=True)
        self.prefix.hold_file(held)

        run = self.run_managed()

        values, report = self.marker()
        self.assertEqual(1603, run.exit_code, left(report))
        remaining = [i for i in report['items'] if i['status'] == 'remaining']
        self.assertEqual([held.lower()], [i['path'].lower() for i in remaining], left(report))
        self.assertEqual((1603, 1), (values['LastResult'], values['Remaining']))
        self.assertRegex(remaining[0]['reason'], 'in use|Win32 error 32')
        self.assertFalse(self.prefix.exists(read_only))


if __name__ == '__main__':
    unittest.main()
