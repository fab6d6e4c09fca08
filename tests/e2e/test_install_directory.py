"""The install-directory step in a silent run of the real CleanLum.exe: on the
sample installation with the library's background processes running, and on
"Directory" values that name a shared folder or hold another application."""

import unittest

import sample
from winebed import WineTestCase, expand_string

RUN_ONCE = 'HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce'
UNINSTALL = 'HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall'
NO_REGISTRY = 'No registry, Deleting the Velmora Imaging directory '
LOGON_COMMAND = '%comspec% /c rd /s /q "C:\\Program Files\\Velmora Imaging"'


class InstallDirectoryTest(WineTestCase):

    def running(self):
        return [name.lower() for name in self.prefix.running_processes()]

    def test_silent_run_ends_the_background_processes_and_removes_the_library_folders(self):
        sample.install_sample(self.prefix)
        sample.start_background_processes(self.prefix)
        for name in sample.BACKGROUND_PROCESSES:
            self.assertIn(name.lower(), self.running())

        run = self.prefix.run_cleanlum('silent noreboot', folder=sample.PROGRAM_FOLDER, timeout=300)

        self.assertEqual(0, run.exit_code)
        self.assertEqual([], run.boxes)
        running = self.running()
        for name in sample.BACKGROUND_PROCESSES:
            self.assertNotIn(name.lower(), running)
        self.assertIn('Deleting the Velmora Imaging directory', run.captions())

        for gone in (sample.INSTALL_DIR,
                     'C:\\users\\Public\\Documents\\Velmora Imaging',
                     'C:\\Parlow',
                     sample.LIBRARY_PACKAGE,
                     'C:\\windows\\Installer\\' + sample.LIBRARY_PRODUCT_CODE,
                     'C:\\Program Files (x86)\\InstallShield Installation Information\\'
                     + sample.LIBRARY_PRODUCT_CODE,
                     'C:\\windows\\Installer\\{A1E29D92-F94C-3D9C-CF8D-E58406789B1F}',
                     'C:\\windows\\Installer\\{17179814-FAD5-235E-BC1A-1306E659E09B}',
                     'C:\\windows\\Installer\\943df.msi'):
            self.assertFalse(self.prefix.exists(gone), gone)
        for kept in sample.FOREIGN_FILES:
            self.assertTrue(self.prefix.exists(kept), kept)

        run_once = self.prefix.read_registry(RUN_ONCE)
        self.assertIsNotNone(run_once)
        self.assertEqual(expand_string(LOGON_COMMAND), run_once.value(RUN_ONCE, 'delLUMDIR'))

    def test_directory_naming_the_windows_directory_is_not_deleted(self):
        sample.install_sample(self.prefix)
        self.prefix.seed_registry({sample.LIBRARY_KEY: {'Directory': 'C:\\windows\\'}})

        run = self.prefix.run_cleanlum('silent noreboot', folder=sample.PROGRAM_FOLDER, timeout=300)

        self.assertEqual(0, run.exit_code)
        self.assertIn('No registry, Deleting the Velmora Imaging directory ', run.captions())
        self.assertNotIn('Deleting the Velmora Imaging directory', run.captions())
        self.assertTrue(self.prefix.exists('C:\\windows\\system32\\kernel32.dll'))
        self.assertFalse(self.prefix.exists(sample.INSTALL_DIR))


    def run_with_directory(self, directory):
        """A silent run of the newer release whose "Directory" is this value,
        with the library in its default place."""
        p = self.prefix
        p.seed_registry({sample.LIBRARY_KEY: {'Revision': '8.2', 'Directory': directory}})
        p.seed_files({sample.INSTALL_DIR + '\\bin\\lum.dll': b'MZ vendor library'})
        return p.run_cleanlum('silent noreboot', folder=sample.PROGRAM_FOLDER, timeout=300)

    def test_directory_naming_a_shared_folder_or_another_application_is_not_deleted(self):
        p = self.prefix
        p.install_tools(sample.PROGRAM_FOLDER)
        p.install_cleanlum(sample.PROGRAM_FOLDER)
        # Another vendor's application, registered where Windows lists programs.
        p.seed_registry({UNINSTALL + '\\Other Scope': {'DisplayName': 'Other Scope', 'Publisher': 'Contoso Ltd.',
                                                       'InstallLocation': 'C:\\Tools\\Other Scope'}})
        sentinels = {'C:\\Program Files\\Common Files\\Contoso\\shared.dll': b'MZ shared component',
                     'C:\\users\\Public\\Documents\\Contoso\\notes.txt': b'notes of every user',
                     'C:\\Tools\\Other Scope\\scope.exe': b'MZ other application'}
        p.seed_files(sentinels)

        for directory in ('C:\\Program Files\\Common Files', 'C:\\Users\\Public', 'C:\\Tools'):
            with self.subTest(directory=directory):
                run = self.run_with_directory(directory)

                self.assertEqual(0, run.exit_code)
                self.assertIn(NO_REGISTRY, run.captions())
                self.assertNotIn('Deleting the Velmora Imaging directory', run.captions())
                for path, content in sentinels.items():
                    self.assertEqual(content, p.read_file(path), path)
                self.assertFalse(p.exists(sample.INSTALL_DIR))

    def test_default_directory_with_a_trailing_separator_is_still_used(self):
        p = self.prefix
        p.install_tools(sample.PROGRAM_FOLDER)
        p.install_cleanlum(sample.PROGRAM_FOLDER)

        run = self.run_with_directory(sample.INSTALL_DIR + '\\')

        self.assertEqual(0, run.exit_code)
        self.assertIn('Deleting the Velmora Imaging directory', run.captions())
        self.assertNotIn(NO_REGISTRY, run.captions())
        self.assertFalse(p.exists(sample.INSTALL_DIR))


if __name__ == '__main__':
    unittest.main()
