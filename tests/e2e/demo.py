"""The main job shown on a sample machine: CleanLum.exe runs silently and
without restart under Wine, on a small sample installation, and the run log
block it appended is printed. The prefix stays in build/mingw/wine/demo."""

import os
import sys

import sample
import winebed


def main():
    root = os.path.join(winebed.WINE_DIR, 'demo')
    prefix = winebed.Prefix('demo', root=root)
    try:
        sample.install_sample(prefix)
        sample.start_background_processes(prefix)
        temp = prefix.temp_directory()
        before = prefix.run_log(temp) or b''
        print('Sample installation seeded in %s' % root)
        run = prefix.run_cleanlum('silent noreboot', folder=sample.PROGRAM_FOLDER)
        print('Ran %s (working directory %s): exit code %s'
              % (run.command_line, sample.PROGRAM_FOLDER, 'timeout' if run.timed_out else run.exit_code))
        for box in run.boxes:
            print('  message box "%s": %s' % (box.caption, box.text))
        print('Progress window captions: %s' % ' | '.join(run.captions() or ['(no window)']))
        print('Progress steps: %d of 16' % run.steps())
        print('Vendor tools run:')
        for record in prefix.tool_record():
            if 'command line' in record:
                print('  %s   [title: %s]' % (record['command line'], record['progress title']))
        print('Sample items after the run:')
        for kind, item, present in sample.survey(prefix):
            state = ('left behind' if present else 'removed') if kind == 'vendor' else (
                'kept' if present else 'REMOVED (not the vendor\'s!)')
            print('  %-8s %-12s %s' % (kind, state, item))
        log = prefix.run_log(temp) or b''
        print('Run log block appended to %s\\LUMInstall.log:' % temp)
        sys.stdout.write(log[len(before):].decode('latin-1').replace('\r\n', '\n'))
        print()
        return 0 if run.exit_code == 0 else 1
    finally:
        prefix.close(remove=False)


if __name__ == '__main__':
    sys.exit(main())
