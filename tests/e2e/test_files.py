"""The file steps of a silent run on the sample installation under Wine: the
start-menu groups, the desktop shortcut, the System32 library files and the
board drivers go; the unrelated files seeded beside them stay."""

import unittest

import sample
from winebed import WineTestCase

# The places the shortcut and library steps work in.
FILE_STEP_PLACES = (sample.PROGRAMS + '\\', sample.DESKTOP + '\\', 'C:\\windows\\')


def in_file_step_places(path):
    return path.lower().startswith(tuple(place.lower() for place in FILE_STEP_PLACES))


class FileStepsTest(WineTestCase):

    def test_silent_run_removes_shortcuts_libraries_and_drivers_and_keeps_their_neighbours(self):
        sample.install_sample(self.prefix)

        run = self.prefix.run_cleanlum('silent noreboot', folder=sample.PROGRAM_FOLDER, timeout=240)

        self.assertEqual(0, run.exit_code)
        vendor = [p for p in sample.VENDOR_FILES if in_file_step_places(p)]
        foreign = [p for p in sample.FOREIGN_FILES if in_file_step_places(p)]
        self.assertEqual([], [p for p in vendor if self.prefix.exists(p)])
        self.assertEqual([], [p for p in foreign if not self.prefix.exists(p)])
        for group in ('Velmora Imaging', 'Parlow Native Library 3.1', 'Falcro-II Digital-CL 3.0'):
            self.assertFalse(self.prefix.exists(sample.PROGRAMS + '\\' + group), group)
        captions = run.captions()
        self.assertLess(captions.index('Deleting the Velmora Imaging shortcuts'),
                        captions.index('Deleting the Velmora Imaging dlls'))


if __name__ == '__main__':
    unittest.main()
