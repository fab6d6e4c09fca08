"""The shape of CleanLum.exe: it declares nothing in its manifest, so Windows
versions read as an undeclared program reads them (Windows 8 and later report
6.2), and it needs no DLL beyond those of Windows itself."""

import re
import subprocess
import unittest

from winebed import BIN, WineTestCase, _read, program


SYSTEM_DLLS = {'advapi32.dll', 'comctl32.dll', 'kernel32.dll', 'msvcrt.dll', 'psapi.dll',
               'setupapi.dll', 'shell32.dll', 'shlwapi.dll', 'user32.dll', 'ole32.dll', 'gdi32.dll'}


class ImportsTest(unittest.TestCase):

    def test_program_is_a_gui_program_that_imports_only_system_dlls(self):
        headers = subprocess.run(['x86_64-w64-mingw32-objdump', '-p', program('CleanLum.exe')],
                                 capture_output=True, text=True, check=True).stdout
        self.assertRegex(headers, r'Subsystem\s+00000002')  # Windows GUI
        imported = {name.lower() for name in re.findall(r'DLL Name: (\S+)', headers)}
        self.assertIn('kernel32.dll', imported)
        self.assertLessEqual(imported, SYSTEM_DLLS)


class ManifestTest(WineTestCase):

    def test_program_carries_an_empty_manifest_shared_by_the_probe(self):
        self.prefix.install_cleanlum('C:\\Riruv')
        manifest = self.prefix.probe('manifest', 'C:\\Riruv\\CleanLum.exe')
        self.assertIn('<assembly', manifest)
        self.assertNotIn('supportedOS', manifest)
        self.assertNotIn('requestedExecutionLevel', manifest)
        self.assertNotIn('trustInfo', manifest)
        self.assertEqual(manifest, self.prefix.probe('manifest', BIN + '\\probe.exe'))

    def test_wine_versions_give_the_majors_of_an_undeclared_program(self):
        for setting, major in (('win10', 6), ('win7', 6), ('winxp', 5), ('nt40', 4)):
            with self.subTest(setting=setting):
                self.prefix.set_windows_version(setting)
                version, platform = self.prefix.probe('version').split()
                self.assertEqual(major, int(version.split('.')[0]))
                self.assertEqual('2', platform)  # VER_PLATFORM_WIN32_NT

    def test_a_declaration_of_windows_10_would_change_the_major(self):
        self.prefix.seed_files({BIN + '\\probe_declared.exe': _read(program('probe_declared.exe'))})
        self.prefix.set_windows_version('win10')
        self.assertEqual('10', self.prefix.wine(BIN + '\\probe_declared.exe', 'version', check=True)
                         .stdout.decode().split('.')[0])


if __name__ == '__main__':
    unittest.main()
