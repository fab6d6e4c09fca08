"""The main job shown on a sample machine: CleanLum.exe runs silently and
without restart under Wine on the sample installation. Printed: the run log
block it appended, the vendor tools it ran, and a before/after table of the
vendor's items and of the unrelated ones beside them. A screenshot of the
progress window, taken while the DMA driver tool runs, is saved as
build/mingw/wine/demo-progress.png. The prefix stays in build/mingw/wine/demo."""

import os
import subprocess
import sys
import threading
import time

import sample
import winebed

SCREENSHOT = os.path.join(winebed.WINE_DIR, 'demo-progress.png')
# The window and some of the virtual desktop around it (it sits at 200,200, 340x50).
SCREENSHOT_AREA = '540x250+100+100'
# The tool that holds the run still for the screenshot, and the caption it waits for.
PAUSING_TOOL, PAUSE_MS, PAUSE_CAPTION = 'drvmanage.exe', 2500, 'Uninstall Dma'


def take_screenshot(prefix, done, taken):
    """Waits for the pausing tool to run under PAUSE_CAPTION, then photographs the display."""
    while not done.is_set():
        if any(r.get('progress title') == PAUSE_CAPTION for r in prefix.tool_record()):
            time.sleep(0.5)  # let the window finish drawing
            result = subprocess.run(['import', '-display', winebed.display(), '-window', 'root',
                                     '-crop', SCREENSHOT_AREA, '+repage', SCREENSHOT],
                                    capture_output=True)
            taken.append(result.returncode == 0 and os.path.exists(SCREENSHOT))
            return
        time.sleep(0.2)


def table(before, after):
    rows = []
    for (kind, item, was), (_, _, now) in zip(before, after):
        if kind == 'vendor':
            verdict = 'removed' if was and not now else ('LEFT BEHIND' if now else 'not seeded')
        else:
            verdict = 'unchanged' if was == now else 'CHANGED (not the vendor\'s!)'
        rows.append((kind, 'present' if was else 'absent', 'present' if now else 'absent', verdict, item))
    return rows


def main():
    root = os.path.join(winebed.WINE_DIR, 'demo')
    prefix = winebed.Prefix('demo', root=root)
    try:
        sample.install_sample(prefix)
        sample.start_background_processes(prefix)
        prefix.tool_settings(PAUSING_TOOL, sleep=PAUSE_MS)
        temp = prefix.temp_directory()
        log_before = prefix.run_log(temp) or b''
        before = sample.survey(prefix)
        print('Sample installation seeded in %s' % root)

        if os.path.exists(SCREENSHOT):
            os.unlink(SCREENSHOT)
        done, taken = threading.Event(), []
        camera = threading.Thread(target=take_screenshot, args=(prefix, done, taken))
        camera.start()
        try:
            run = prefix.run_cleanlum('silent noreboot', folder=sample.PROGRAM_FOLDER, timeout=300)
        finally:
            done.set()
            camera.join()

        print('\nRan %s (working directory %s): exit code %s'
              % (run.command_line, sample.PROGRAM_FOLDER, 'timeout' if run.timed_out else run.exit_code))
        for box in run.boxes:
            print('  message box "%s": %s' % (box.caption, box.text))
        print('Progress window captions: %s' % ' | '.join(run.captions() or ['(no window)']))
        print('Progress steps: %d of 16' % run.steps())

        log = prefix.run_log(temp) or b''
        print('\nRun log block appended to %s\\LUMInstall.log:' % temp)
        sys.stdout.write(log[len(log_before):].decode('latin-1').replace('\r\n', '\n'))

        print('\n\nVendor tools run, in order, with the progress title each one saw:')
        for record in prefix.tool_record():
            if 'command line' in record:
                print('  %-75s [%s]' % (record['command line'], record['progress title']))
            elif 'monitor' in record:
                print('  %-75s' % ('  (monitor window: %s)' % record['monitor']))

        rows = table(before, sample.survey(prefix))
        for kind, title in (('vendor', "The vendor's items"), ('foreign', 'Unrelated items beside them')):
            print('\n%s:' % title)
            print('  %-7s  %-7s  %-11s  %s' % ('before', 'after', '', 'item'))
            for _, was, now, verdict, item in (r for r in rows if r[0] == kind):
                print('  %-7s  %-7s  %-11s  %s' % (was, now, verdict, item))

        vendor_left = [r for r in rows if r[0] == 'vendor' and r[3] != 'removed']
        foreign_changed = [r for r in rows if r[0] == 'foreign' and r[3] != 'unchanged']
        print('\nVendor items removed: %d of %d; unrelated items unchanged: %d of %d'
              % (sum(r[0] == 'vendor' for r in rows) - len(vendor_left), sum(r[0] == 'vendor' for r in rows),
                 sum(r[0] == 'foreign' for r in rows) - len(foreign_changed), sum(r[0] == 'foreign' for r in rows)))
        if taken and taken[0]:
            print('Screenshot of the progress window (during "%s"): %s' % (PAUSE_CAPTION, SCREENSHOT))
        else:
            print('No screenshot was taken')
        ok = run.exit_code == 0 and not vendor_left and not foreign_changed and taken and taken[0]
        return 0 if ok else 1
    finally:
        prefix.close(remove=False)


if __name__ == '__main__':
    sys.exit(main())
