"""The release as it is shipped: CleanLum.exe carries the version of the
build (one number, set in CMake) beside its empty manifest, and the package
holds the program, the README and the licence. Read from the files
themselves, without Wine."""

import os
import struct
import subprocess
import tempfile
import unittest
import zipfile

from winebed import BUILD_DIR, program

RT_VERSION, RT_MANIFEST = 16, 24


def cmake_version():
    """The project version as CMake configured it, from CPackConfig.cmake."""
    with open(os.path.join(BUILD_DIR, 'CPackConfig.cmake')) as config:
        for line in config:
            if line.startswith('set(CPACK_PACKAGE_VERSION '):
                return line.split('"')[1]
    raise AssertionError('no CPACK_PACKAGE_VERSION in the build folder')


class Pe:
    """The resource tree of a PE file: {type: {name: bytes}} (first language)."""

    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from('<I', data, 0x3C)[0]
        if data[pe:pe + 4] != b'PE\0\0':
            raise ValueError('not a PE file')
        sections, optional_size = struct.unpack_from('<H12xH', data, pe + 6)
        optional = pe + 24
        magic = struct.unpack_from('<H', data, optional)[0]
        directories = optional + (112 if magic == 0x20B else 96)
        self.resource_rva = struct.unpack_from('<I', data, directories + 2 * 8)[0]
        self.sections = []
        for i in range(sections):
            entry = optional + optional_size + 40 * i
            size, rva, raw_size, raw = struct.unpack_from('<IIII', data, entry + 8)
            self.sections.append((rva, max(size, raw_size), raw))
        base = self.offset(self.resource_rva)
        self.resources = {}
        for kind, types in self._directory(base, base):
            self.resources[kind] = {}
            for name, languages in self._directory(base, base + types):
                _, leaf = self._directory(base, base + languages)[0]
                rva, size = struct.unpack_from('<II', data, base + leaf)
                self.resources[kind][name] = data[self.offset(rva):self.offset(rva) + size]

    def offset(self, rva):
        for start, size, raw in self.sections:
            if start <= rva < start + size:
                return raw + rva - start
        raise ValueError('address 0x%x outside every section' % rva)

    def _directory(self, base, at):
        named, numbered = struct.unpack_from('<HH', self.data, at + 12)
        entries = []
        for i in range(named + numbered):
            name, target = struct.unpack_from('<II', self.data, at + 16 + 8 * i)
            if name & 0x80000000:
                length = struct.unpack_from('<H', self.data, base + (name & 0x7FFFFFFF))[0]
                start = base + (name & 0x7FFFFFFF) + 2
                name = self.data[start:start + 2 * length].decode('utf-16-le')
            entries.append((name, target & 0x7FFFFFFF))
        return entries


def version_info(block):
    """(the fixed file version, the product version, {string name: value}) of an RT_VERSION resource."""

    def node(at):
        length, value_length, text = struct.unpack_from('<HHH', block, at)
        end = block.index(b'\0\0', at + 6)
        while (end - at - 6) % 2:
            end = block.index(b'\0\0', end + 1)
        key = block[at + 6:end].decode('utf-16-le')
        value = (end + 2 + 3) & ~3
        size = value_length * (2 if text else 1)
        children = (value + size + 3) & ~3
        return key, block[value:value + size], text, children, at + length

    def walk(at, stop, out, path):
        while at < stop:
            key, value, text, children, end = node(at)
            if text and path and path[0] == 'StringFileInfo' and len(path) == 2:
                out[key] = value.decode('utf-16-le').rstrip('\0')
            walk(children, end, out, path + [key])
            at = (end + 3) & ~3

    key, fixed, _, children, end = node(0)
    if key != 'VS_VERSION_INFO':
        raise ValueError('not a version resource: %r' % key)
    signature, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from('<6I', fixed)
    if signature != 0xFEEF04BD:
        raise ValueError('no VS_FIXEDFILEINFO')
    numbers = lambda ms, ls: (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
    strings = {}
    walk(children, end, strings, [])
    return numbers(file_ms, file_ls), numbers(product_ms, product_ls), strings


class ReleaseTest(unittest.TestCase):

    def setUp(self):
        with open(program('CleanLum.exe'), 'rb') as exe:
            self.pe = Pe(exe.read())
        self.version = cmake_version()

    def test_the_version_resource_carries_the_cmake_version(self):
        versions = self.pe.resources.get(RT_VERSION)
        self.assertEqual([1], list(versions or {}))
        file_version, product_version, strings = version_info(versions[1])
        number = tuple(int(part) for part in self.version.split('.')) + (0,) * (4 - self.version.count('.') - 1)
        self.assertEqual(number, file_version)
        self.assertEqual(number, product_version)
        self.assertEqual('CleanLum', strings.get('ProductName'))
        self.assertEqual(self.version, strings.get('FileVersion'))
        self.assertEqual(self.version, strings.get('ProductVersion'))
        self.assertEqual('CleanLum.exe', strings.get('OriginalFilename'))

    def test_the_empty_manifest_stays_the_only_one(self):
        manifests = self.pe.resources.get(RT_MANIFEST)
        self.assertEqual([1], list(manifests or {}))
        self.assertNotIn(b'supportedOS', manifests[1])
        self.assertNotIn(b'requestedExecutionLevel', manifests[1])
        self.assertIn(b'<assembly', manifests[1])

    def test_the_package_holds_the_program_readme_and_licence(self):
        with tempfile.TemporaryDirectory() as out:
            subprocess.run(['cpack', '--config', os.path.join(BUILD_DIR, 'CPackConfig.cmake'), '-B', out],
                           check=True, capture_output=True)
            name = 'CleanLum-%s-win64.zip' % self.version
            self.assertEqual([name], [f for f in os.listdir(out) if f.endswith('.zip')])
            with zipfile.ZipFile(os.path.join(out, name)) as package:
                self.assertEqual(['CleanLum.exe', 'LICENSE', 'README.md'], sorted(package.namelist()))
                with open(program('CleanLum.exe'), 'rb') as exe:
                    self.assertEqual(exe.read(), package.read('CleanLum.exe'))


if __name__ == '__main__':
    unittest.main()
