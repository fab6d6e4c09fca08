"""CleanLum.exe managed under Wine, as a deployment engine runs it: the exit
code says what happened (3010 removed, 0 nothing to do, 1603 items remain), no
box is shown and no restart requested, and the result marker, the event
source with its message file and the result report are left behind.

Wine deviation: Wine's ReportEventA succeeds without keeping the event and
its ReadEventLogA returns nothing, so the event itself cannot be read back.
What Event Viewer would show is checked instead: the source's message file
is the program, whose message table formats the summary line."""

import hashlib
import json
import time
import unittest

import sample
from winebed import RegValue, WineTestCase, program

MARKER = 'HKEY_LOCAL_MACHINE\\SOFTWARE\\CleanLum'
SOURCE = 'HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\CleanLum'
WINEBOOT = 'C:\\windows\\system32\\wineboot.exe'
REPORTS = 'C:\\Reports'


class ManagedTest(WineTestCase):

    def setUp(self):
        super().setUp()
        # A restart request would reach wineboot: the fake tool takes its place and records it.
        with open(program('fake_tool.exe'), 'rb') as fake:
            self.prefix.seed_files({WINEBOOT: fake.read()})
        self.prefix.env['WINEDLLOVERRIDES'] += ';wineboot.exe=n'

    def run_managed(self):
        run = self.prefix.run_cleanlum('managed "reportdir=%s"' % REPORTS, folder=sample.PROGRAM_FOLDER)
        self.assertEqual([], run.boxes)
        time.sleep(2)  # a restart request does not wait for wineboot
        self.assertEqual([], [r for r in self.prefix.tool_record() if r.get('tool') == 'wineboot.exe'
                              and not r['command line'].endswith(' --init')])
        return run

    def marker(self):
        values = self.prefix.read_registry(MARKER).key(MARKER)
        report = json.loads(self.prefix.read_file(values['Report']).decode('utf-8'))
        return values, report

    def test_a_managed_run_asks_for_a_restart_and_a_second_one_changes_nothing(self):
        sample.install_sample(self.prefix)
        survey = sample.survey(self.prefix)

        self.assertEqual(3010, self.run_managed().exit_code)

        values, report = self.marker()
        self.assertEqual((3010, 0), (values['LastResult'], values['Remaining']))
        self.assertRegex(values['Time'], r'^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$')
        self.assertTrue(values['Report'].startswith(REPORTS + '\\CleanLum-result-'))
        # The registry backup beside the report (a folder the run made private), and its digest.
        self.assertEqual(report['backup']['file'], values['Backup'])
        self.assertEqual(hashlib.sha256(self.prefix.read_file(values['Backup'])).hexdigest(), values['BackupSha256'])
        self.assertEqual(3010, report['exitCode'])
        self.assertEqual(0, report['summary']['remaining'])
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

        # Once more: nothing of the vendor's is left, so nothing changes.
        before = [line for line in sample.survey(self.prefix)]
        log = self.prefix.run_log()
        self.assertEqual(0, self.run_managed().exit_code)
        self.assertEqual(before, sample.survey(self.prefix))
        self.assertEqual(log, self.prefix.run_log())
        values, report = self.marker()
        self.assertEqual((0, 0), (values['LastResult'], values['Remaining']))
        self.assertEqual([], report['items'])
        self.assertNotEqual(survey, before)

    def test_a_library_held_open_makes_a_managed_run_fail(self):
        sample.install_sample(self.prefix)
        held = sample.SYSTEM32 + '\\lumcore.dll'
        self.prefix.hold_file(held)

        self.assertEqual(1603, self.run_managed().exit_code)

        values, report = self.marker()
        self.assertEqual((1603, 1), (values['LastResult'], values['Remaining']))
        left = [i['path'].lower() for i in report['items'] if i['status'] == 'remaining']
        self.assertEqual([held.lower()], left)


if __name__ == '__main__':
    unittest.main()
