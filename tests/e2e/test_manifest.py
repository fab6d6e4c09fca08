"""The shape of CleanLum.exe: it declares nothing in its manifest, so Windows
versions read as an undeclared program reads them (Windows 8 and later report
6.2); every DLL it imports is one Windows maps from System32 for every
process, so no copy beside the program is ever loaded; and it is marked
terminal-server aware."""

import re
import struct
import subprocess
import unittest

from winebed import BIN, WineTestCase, _read, program


# HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\KnownDLLs of 64-bit
# Windows 10: imports of these names always come from System32. Any other
# DLL (comctl32, version, bcrypt, ...) is loaded at run time by full path.
KNOWN_DLLS = {'advapi32.dll', 'clbcatq.dll', 'combase.dll', 'comdlg32.dll', 'coml2.dll', 'difxapi.dll',
              'gdi32.dll', 'gdiplus.dll', 'imagehlp.dll', 'imm32.dll', 'kernel32.dll', 'msctf.dll',
              'msvcrt.dll', 'normaliz.dll', 'nsi.dll', 'ole32.dll', 'oleaut32.dll', 'psapi.dll', 'rpcrt4.dll',
              'sechost.dll', 'setupapi.dll', 'shcore.dll', 'shell32.dll', 'shlwapi.dll', 'user32.dll',
              'wldap32.dll', 'ws2_32.dll'}
IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE = 0x8000


def dll_characteristics(data):
    """The DllCharacteristics field of a PE file's optional header."""
    pe = struct.unpack_from('<I', data, 0x3C)[0]
    if data[pe:pe + 4] != b'PE\0\0':
        raise ValueError('not a PE file')
    return struct.unpack_from('<H', data, pe + 24 + 70)[0]


class ImportsTest(unittest.TestCase):

    def test_program_is_a_gui_program_that_imports_only_known_dlls(self):
        headers = subprocess.run(['x86_64-w64-mingw32-objdump', '-p', program('CleanLum.exe')],
                                 capture_output=True, text=True, check=True).stdout
        self.assertRegex(headers, r'Subsystem\s+00000002')  # Windows GUI
        imported = {name.lower() for name in re.findall(r'DLL Name: (\S+)', headers)}
        self.assertIn('kernel32.dll', imported)
        self.assertEqual(set(), imported - KNOWN_DLLS)

    def test_program_is_terminal_server_aware(self):
        # Without the flag, GetWindowsDirectory on a Remote Desktop Session
        # Host gives a per-user folder instead of the Windows folder.
        characteristics = dll_characteristics(_read(program('CleanLum.exe')))
        self.assertTrue(characteristics & IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE, hex(characteristics))


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
