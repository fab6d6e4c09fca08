"""What an administrator meets, under Wine: the usage and the version on a
command prompt (nothing else happens), preview's answer to "is anything of
the vendor's here?", and the administrator's log of a whole run on the
sample installation, in the format of CMTrace, naming every tool run with
its exit code."""

import json
import re
import unittest

import sample
from winebed import WineTestCase

LINE = re.compile(r'<!\[LOG\[(?P<message>[^\r\n]*)\]LOG\]!><time="\d\d:\d\d:\d\d\.\d{3}[+-]\d{3}" '
                  r'date="\d{1,2}-\d{1,2}-\d{4}" component="(?P<component>[^"]*)" context="" '
                  r'type="(?P<type>[123])" thread="\d+" file="">')


class CommandLineTest(WineTestCase):

    def state(self):
        """The sample's items, and every file of the temporary folder."""
        return sample.survey(self.prefix), self.prefix.list_tree(self.temp)

    def setUp(self):
        super().setUp()
        sample.install_sample(self.prefix)
        self.temp = self.prefix.temp_directory()
        self.program = sample.PROGRAM_FOLDER + '\\CleanLum.exe'

    def test_help_under_cmd_prints_the_usage_and_nothing_else_happens(self):
        before = self.state()
        for word in ('/?', '--help'):
            printed = self.prefix.wine('cmd', '/c', self.program, word, check=True)
            text = printed.stdout.decode('latin-1')
            self.assertTrue(text.startswith('CleanLum 1.'), text[:200])
            for listed in ('Usage: CleanLum.exe', 'silent', 'noreboot', 'managed', 'preview', 'restorepoint', 'allusers',
                           'reportdir=PATH', '3010', '1603', '1618', '4294967295', 'CleanLum-YYYYMMDD-HHMMSS.log'):
                self.assertIn(listed, text)
        self.assertEqual(before, self.state())
        self.assertEqual([], self.prefix.tool_record())

    def test_version_prints_the_version_line(self):
        before = self.state()
        printed = self.prefix.wine(self.program, 'VERSION', check=True)
        self.assertRegex(printed.stdout.decode('latin-1'), r'^CleanLum \d+\.\d+\.\d+\r\n$')
        self.assertEqual(before, self.state())



class PreviewAnswerTest(WineTestCase):

    def test_preview_on_a_prefix_without_the_vendors_items_exits_0(self):
        # On the sample installation it exits 1 (test_reports).
        self.prefix.install_tools(sample.PROGRAM_FOLDER)
        run = self.prefix.run_cleanlum('preview', folder=sample.PROGRAM_FOLDER)
        self.assertEqual(0, run.exit_code)
        self.assertEqual([], run.boxes)


class RestorePointTest(WineTestCase):
    """Wine deviation: Wine's srclient.dll forwards SRSetRestorePointW to a
    stub that makes no restore point and answers FALSE with status 0 (no
    reason). The run goes on and the reports say no point was made; the
    calls themselves (begin, end, the restore point type) are checked in the
    simulation."""

    def test_a_refused_restore_point_never_stops_the_run(self):
        p = self.prefix
        sample.install_sample(p)
        run = p.run_cleanlum('silent noreboot restorepoint "reportdir=C:\\Reports"', folder=sample.PROGRAM_FOLDER)
        self.assertEqual(0, run.exit_code)
        self.assertEqual([], [entry for kind, entry, present in sample.survey(p) if kind == 'vendor' and present])
        reports = [path for path in p.list_tree('C:\\Reports') if path.lower().endswith('.json')]
        self.assertEqual(1, len(reports), reports)
        said = json.loads(p.read_file(reports[0]).decode('utf-8'))['restorePoint']
        self.assertEqual('not made: System Restore answered that it made none, and gave no reason (status 0)', said)


class AdministratorsLogTest(WineTestCase):

    def test_the_log_of_a_whole_run_names_every_tool_run_with_its_exit_code(self):
        p = self.prefix
        sample.install_sample(p)
        p.tool_settings('drvmanage.exe', exit_code=3)
        run = p.run_cleanlum('silent noreboot', folder=sample.PROGRAM_FOLDER)

        self.assertEqual(0, run.exit_code)
        logs = [path for path in p.list_tree(sample.REPORT_FOLDER)
                if re.search(r'\\CleanLum-\d{8}-\d{6}\.log$', path, re.IGNORECASE)]
        self.assertEqual(1, len(logs), logs)
        data = p.read_file(logs[0])
        self.assertTrue(data.startswith(b'\xef\xbb\xbf'))
        text = data[3:].decode('utf-8')
        self.assertTrue(text.endswith('\r\n'))
        lines = []
        for line in text[:-2].split('\r\n'):
            match = LINE.fullmatch(line)
            self.assertIsNotNone(match, line)
            lines.append(match)
        messages = [m.group('message') for m in lines]
        self.assertRegex(messages[0], r'^CleanLum \d+\.\d+\.\d+ started$')
        self.assertIn('Arguments: silent noreboot', messages)
        children = [m for m in lines if re.match(r'(Exit code \d+ after \d+\.\d{3} s|Could not start)', m.group('message'))]
        records = p.tool_record()
        self.assertTrue(records)
        for record in records:
            if record['tool'].lower() == 'pyxmon.exe':  # the board monitor is started, never waited for
                self.assertIn('Started, not waited for: pyxmon.exe', messages)
                continue
            # Wine shows the child its program path quoted; the log has the line as the program built it.
            tool, _, arguments = record['command line'].replace('"', '').partition('.exe')
            expected = 'Exit code %d after' % (3 if record['tool'].lower() == 'drvmanage.exe' else 0)
            found = [m for m in children if m.group('message').startswith(expected)
                     and m.group('message').endswith(tool + '.exe' + arguments)]
            self.assertTrue(found, '%s: %s' % (expected, record['command line']))
            if record['tool'].lower() == 'drvmanage.exe':
                self.assertEqual('2', found[0].group('type'))
        self.assertEqual('Outcome: the run completed; no restart (noreboot); exit code 0', messages[-1])


if __name__ == '__main__':
    unittest.main()
