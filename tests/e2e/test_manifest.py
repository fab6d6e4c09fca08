"""The program declares nothing in its manifest, so Windows versions read as
an undeclared program reads them: Windows 8 and later report 6.2."""

import unittest

from winebed import BIN, WineTestCase, _read, program


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
