"""The preview and the result report of the real CleanLum.exe under Wine on
the sample installation: the preview changes nothing (the whole of drive C:
and the registry read before and after), lists every vendor item of the
sample and none of its look-alikes; after a run with a file in use and a
read-only library file, the result report lists exactly those as left."""

import hashlib
import json
import os
import re
import time
import unittest

import report_schema
import sample
from winebed import BED, BIN, WineTestCase, _read, program

MACHINE = BIN + '\\safety_machine.exe'
ROOTS = {'HKEY_LOCAL_MACHINE': 'HKLM', 'HKEY_CURRENT_USER': 'HKCU', 'HKEY_CLASSES_ROOT': 'HKCR',
         'HKEY_USERS': 'HKU'}
HELD_FILE = sample.INSTALL_DIR + '\\bin\\lum.dll'
READ_ONLY_LIBRARY = sample.SYSTEM32 + '\\lumcore.dll'


def short_key(key):
    root, _, rest = key.partition('\\')
    return ROOTS[root] + '\\' + rest


def within(path, item):
    """Whether path is the item's path or lies below it (any case)."""
    path, item = path.lower(), item.lower()
    return path == item or path.startswith(item + '\\')


def covered(entry, items):
    """The report items that account for one survey entry of the sample."""
    if entry.startswith('process '):
        return [i for i in items if i['kind'] == 'process' and i['path'].lower() == entry[8:].lower()]
    if entry.startswith('environment value '):
        name = entry[len('environment value '):].lower()
        return [i for i in items if i['kind'] == 'registryValue' and i['value'].lower() == name]
    if entry.split('\\')[0] in ROOTS:
        key = short_key(entry)
        return [i for i in items if i['kind'] in ('registryKey', 'board', 'installerProduct')
                and within(key, i['path'])]
    return [i for i in items if i['kind'] in ('file', 'folder') and within(entry, i['path'])]


class ReportTest(WineTestCase):

    def reports(self, folder, mode):
        """The JSON report of that mode in the folder, checked against the schema, and its text."""
        names = sorted(n for n in os.listdir(self.prefix.unix_path(folder)) if n.startswith('CleanLum-' + mode))
        self.assertEqual(2, len(names), names)
        report = json.loads(self.prefix.read_file(folder + '\\' + names[0]).decode('utf-8'))
        self.assertEqual([], report_schema.check(report))
        text = self.prefix.read_file(folder + '\\' + names[1]).decode('utf-8-sig')
        return report, text

    def snapshot(self, name):
        self.prefix.seed_files({MACHINE: _read(program('safety_machine.exe'))})
        path = BED + '\\' + name
        self.prefix.wine(MACHINE, 'snap', '1', '6', path, check=True)
        return self.prefix.read_file(path).decode('latin-1').splitlines()

    def test_preview_changes_nothing_and_lists_the_vendors_items_only(self):
        sample.install_sample(self.prefix)
        sample.start_background_processes(self.prefix)
        survey = sample.survey(self.prefix)
        before = self.snapshot('before.txt')

        run = self.prefix.run_cleanlum('preview', folder=sample.PROGRAM_FOLDER, timeout=120)

        self.assertEqual(1, run.exit_code)  # the vendor's items are there
        self.assertEqual([], run.boxes)
        self.assertEqual([], run.captions())
        self.assertEqual([], self.prefix.tool_record())
        after = self.snapshot('after.txt')
        folder = sample.REPORT_FOLDER.upper()
        added = sorted(line.split('\t')[0] for line in set(after) - set(before))
        self.assertEqual([], sorted(line.split('\t')[0] for line in set(before) - set(after)))
        # Nothing but the report folder and its two report files is new.
        added = [line for line in added if not folder.startswith(line[len('file '):])]
        self.assertEqual(2, len(added), added)
        self.assertEqual(['file %s\\CLEANLUM-PREVIEW-' % folder] * 2, [line[:len(folder) + 23] for line in added])
        self.assertEqual(survey, sample.survey(self.prefix))
        self.assertIsNone(self.prefix.run_log())

        report, text = self.reports(sample.REPORT_FOLDER, 'preview')
        items = report['items']
        listed = [i for i in items if not i['kept']]
        self.assertEqual([], [entry for kind, entry, _ in survey if kind == 'vendor' and not covered(entry, listed)])
        self.assertEqual([], [entry for kind, entry, _ in survey if kind == 'foreign' and covered(entry, listed)])
        # Every folder is counted whole: names outside the code page, names the
        # code page reads as paths and the chain past 260 characters included.
        for item in (i for i in listed if i['kind'] == 'folder'):
            sizes = [os.path.getsize(os.path.join(top, name))
                     for top, _, names in os.walk(self.prefix.unix_path(item['path'])) for name in names]
            self.assertEqual((len(sizes), sum(sizes)), (item['files'], item['bytes']), item['path'])
        # The boards with the command lines a run makes from the program's folder.
        boards = {i['path']: i['commands'] for i in items if i['kind'] == 'board'}
        self.assertEqual({
            'HKLM\\Software\\Velmora\\Imaging Board\\Parlow-CL':
                [sample.PROGRAM_FOLDER + '\\drvmanage.exe uninstall inf=Parlow-CL.inf -log -quiet'],
            'HKLM\\Software\\Velmora\\Imaging Board\\Tarvel-X4':
                [sample.PROGRAM_FOLDER + '\\drvmanage.exe uninstall inf=Tarvel-X4.inf -log -quiet']}, boards)
        for item in items:
            self.assertIn(item['path'], text)
        self.assertIn('Summary: %d items' % len(items), text)

        # Started with its output redirected, it prints the text there too.
        printed = self.prefix.wine('cmd', '/c', sample.PROGRAM_FOLDER + '\\CleanLum.exe preview', timeout=120)
        self.assertIn('Summary: %d items' % len(items), printed.stdout.decode('latin-1'))

    def test_result_report_lists_the_file_in_use_and_the_read_only_library(self):
        sample.install_sample(self.prefix)
        self.prefix.wine('cmd', '/c', 'attrib +r "%s"' % READ_ONLY_LIBRARY, check=True)
        self.prefix.hold_file(HELD_FILE)
        reports = 'C:\\Reports\\Clean up'

        run = self.prefix.run_cleanlum('silent noreboot "reportdir=%s"' % reports, folder=sample.PROGRAM_FOLDER)

        self.assertEqual(0, run.exit_code)
        report, text = self.reports(reports, 'result')
        # The folder did not exist: the run made it, private.
        self.assertEqual({'path': reports, 'private': True, 'concern': None}, report['reportFolder'])
        # The specific reason first, then the failure the run met, with Windows' message.
        left = {i['path']: (i['status'], i.get('reason', '').split('; ')[0]) for i in report['items']
                if i['status'] not in ('removed', 'keptByDesign')}
        expected = {
            # The default folder: its logon command removes it once the file is free.
            sample.INSTALL_DIR: ('pendingRestart', 'left for the RunOnce removal at the next logon (%s is in use'
                                 % HELD_FILE)}
        # Wine (8.0) lets DeleteFileA delete a read-only file, which Windows
        # refuses (ERROR_ACCESS_DENIED): the report then rightly calls it removed.
        if self.prefix.exists(READ_ONLY_LIBRARY):
            expected[READ_ONLY_LIBRARY] = ('remaining', 'read-only')
        self.assertEqual(expected, left)
        folder = [i for i in report['items'] if i['path'] == sample.INSTALL_DIR][0]
        self.assertIn('Win32 error 32: ', folder['reason'])
        self.assertTrue(self.prefix.exists(HELD_FILE))
        remaining = len(expected) - 1
        self.assertEqual((remaining, 1), (report['summary']['remaining'], report['summary']['pendingRestart']))
        self.assertIn('Summary: %d items: %d removed, %d remaining, 1 pending restart, 0 unreadable'
                      % (len(report['items']), len(report['items']) - len(expected), remaining), text)

    def test_the_registry_backup_restores_the_vendors_keys_with_reg_import(self):
        sample.install_sample(self.prefix)
        # The reference: Wine's own reg export of every vendor key, and the environment.
        keys = sorted(sample.VENDOR_REGISTRY)
        reference = {key: self.prefix.read_registry(key) for key in keys}
        environment = self.prefix.read_registry(sample.ENVIRONMENT).key(sample.ENVIRONMENT)

        run = self.prefix.run_cleanlum('silent noreboot', folder=sample.PROGRAM_FOLDER)

        self.assertEqual(0, run.exit_code)
        self.assertEqual([], [key for key in keys if self.prefix.key_exists(key)])
        report, text = self.reports(sample.REPORT_FOLDER, 'result')
        backup = report['backup']
        self.assertEqual([], backup['missing'])
        self.assertEqual('reg import "%s"' % backup['file'], backup['restore'])
        self.assertIn(backup['restore'], text)
        content = self.prefix.read_file(backup['file'])
        self.assertEqual(b'\xff\xfeW\x00i\x00n\x00', content[:8])
        # The digest to compare before importing: Windows' own SHA-256 of the file as written.
        self.assertEqual(hashlib.sha256(content).hexdigest(), backup['sha256'])
        self.assertIn('SHA-256: ' + backup['sha256'], text)

        self.prefix.wine('reg', 'import', backup['file'], check=True)

        self.assertEqual(reference, {key: self.prefix.read_registry(key) for key in keys})
        restored = self.prefix.read_registry(sample.ENVIRONMENT).key(sample.ENVIRONMENT)
        self.assertEqual({name: environment[name] for name in environment if name in restored}, restored)
        self.assertEqual([], [name for name in sample.VENDOR_ENVIRONMENT
                              if name.lower() not in (n.lower() for n in restored)])

    def test_a_folder_everyone_may_write_to_gets_the_reports_with_a_warning_but_not_the_backup(self):
        sample.install_sample(self.prefix)
        self.prefix.seed_files({'C:\\Open\\': b''})
        # Wine derives a file's access list from its Unix mode: 0777 is Everyone's write access.
        os.chmod(self.prefix.unix_path('C:\\Open'), 0o777)

        run = self.prefix.run_cleanlum('silent noreboot reportdir=C:\\Open', folder=sample.PROGRAM_FOLDER)

        self.assertEqual(0, run.exit_code)
        report, text = self.reports('C:\\Open', 'result')
        self.assertFalse(report['reportFolder']['private'])
        self.assertIn('Everyone (S-1-1-0) may add, change or delete files in it', report['reportFolder']['concern'])
        self.assertIn('WARNING: This folder is not private', text)
        backup = report['backup']['file']
        self.assertTrue(backup.startswith(sample.REPORT_FOLDER + '\\CleanLum-registry-backup-'), backup)
        self.assertTrue(self.prefix.exists(backup))
        self.assertEqual([], [n for n in os.listdir(self.prefix.unix_path('C:\\Open')) if n.endswith('.reg')])

    def test_a_backup_of_hostile_names_restores_what_was_there_and_nothing_else(self):
        # Below a vendor key a standard user cannot write to, but a vendor
        # installer might fill with what it was given: a subkey whose name
        # closes its section header and opens one in HKEY_CURRENT_USER, a
        # value whose name starts a line of its own, string data with a line
        # break, and a name outside every code page.
        library = 'Software\\Velmora\\Velmora Imaging Library'
        probe = BIN + '\\probe.exe'
        hexw = lambda text: text.encode('utf-16-le').hex()
        forged = library + '\\k]\r\n[HKEY_CURRENT_USER\\Software\\Pwned]'
        for key in (forged, library + '\\Plain', library + '\\\u03a9'):
            self.prefix.wine(probe, 'regkey', hexw(key), check=True)
        for key, name, kind, data in (
                (forged, 'Pwned', 1, 'yes\0'),
                (library, 'Revision', 1, '8.2\0'),
                (library + '\\Plain', 'lines', 1, 'one\r\ntwo\0'),
                (library + '\\Plain', 'ok', 1, 'fine\0'),
                (library + '\\Plain', 'v\r\n"Pwned"="yes"', 1, 'x\0')):
            self.prefix.wine(probe, 'regvalue', hexw(key), hexw(name), str(kind), hexw(data), check=True)

        def dump():
            out = self.prefix.wine(probe, 'regdump', hexw(library))
            if out.returncode:
                return None
            lines = set()
            for line in out.stdout.decode('ascii').splitlines():
                parts = line.split(' ')
                text = [bytes.fromhex(p).decode('utf-16-le') for p in parts[1:3]]
                lines.add(tuple([parts[0]] + text + parts[3:]))
            return lines

        before = dump()
        self.prefix.install_tools(sample.PROGRAM_FOLDER)
        run = self.prefix.run_cleanlum('silent noreboot', folder=sample.PROGRAM_FOLDER)
        self.assertEqual(0, run.exit_code)
        self.assertIsNone(dump())
        report, text = self.reports(sample.REPORT_FOLDER, 'result')

        self.prefix.wine('reg', 'import', report['backup']['file'], check=True)

        hostile = lambda entry: 'k]' in entry[1] or (entry[0] == 'value' and '\n' in entry[2])
        self.assertEqual({entry for entry in before if not hostile(entry)}, dump())
        self.assertFalse(self.prefix.key_exists('HKEY_CURRENT_USER\\Software\\Pwned'))
        missing = report['backup']['missing']
        self.assertEqual(2, len(missing), missing)
        self.assertIn('Velmora Imaging Library\\k]\\r\\n[HKEY_CURRENT_USER: not restorable from the backup', text)

    def test_files_planted_at_the_reports_names_are_left_alone(self):
        # The names are predictable to the second: a standard user plants a
        # file at every result report's name of the next minutes, and a hard
        # link to another file at every backup's name. None is opened; the run
        # writes its files under the next free names.
        sample.install_sample(self.prefix)
        victim = BED + '\\victim.txt'
        self.prefix.seed_files({victim: b'not to be touched', sample.REPORT_FOLDER + '\\': b''})
        folder = self.prefix.unix_path(sample.REPORT_FOLDER)
        start = time.time()
        stamps = [time.strftime('%Y%m%d-%H%M%S', time.localtime(start + second)) for second in range(-5, 240)]
        for stamp in stamps:
            with open(os.path.join(folder, 'CleanLum-result-%s.json' % stamp), 'wb') as planted:
                planted.write(b'planted')
            os.link(self.prefix.unix_path(victim), os.path.join(folder, 'CleanLum-registry-backup-%s.reg' % stamp))

        run = self.prefix.run_cleanlum('silent noreboot', folder=sample.PROGRAM_FOLDER)

        self.assertEqual(0, run.exit_code)
        names = os.listdir(folder)
        written = sorted(n for n in names if re.match(r'CleanLum-result-\d{8}-\d{6}-2\.(txt|json)$', n))
        self.assertEqual(2, len(written), written)
        self.assertEqual(written[0][:-5], written[1][:-4])
        backups = [n for n in names if re.match(r'CleanLum-registry-backup-\d{8}-\d{6}-2\.reg$', n)]
        self.assertEqual(1, len(backups), backups)
        report = json.loads(self.prefix.read_file(sample.REPORT_FOLDER + '\\' + written[0]).decode('utf-8'))
        self.assertEqual(sample.REPORT_FOLDER + '\\' + backups[0], report['backup']['file'])
        for stamp in stamps:
            self.assertEqual(b'planted', self.prefix.read_file(
                sample.REPORT_FOLDER + '\\CleanLum-result-%s.json' % stamp))
        self.assertEqual(b'not to be touched', self.prefix.read_file(victim))
        self.assertEqual(len(stamps) + 1, os.stat(self.prefix.unix_path(victim)).st_nlink)


if __name__ == '__main__':
    unittest.main()
