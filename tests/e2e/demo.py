"""The main job shown on a sample machine: CleanLum.exe first previews what
it would remove, then runs silently and without restart under Wine on the
sample installation. Printed: the preview report, the run log block it
appended, the vendor tools it ran, a before/after table of the vendor's items
and of the unrelated ones beside them, and the run's result report, checked
against the table. A screenshot of the
progress window, taken while the DMA driver tool runs, is saved as
build/mingw/wine/demo-progress.png. The prefix stays in build/mingw/wine/demo."""

import json
import os
import re
import subprocess
import sys
import threading
import time

import report_schema
import sample
import winebed
from test_reports import covered

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


def report(prefix, folder, mode):
    """The text and the JSON of the newest report of that mode in folder."""
    names = sorted(n for n in os.listdir(prefix.unix_path(folder)) if n.startswith('CleanLum-' + mode))
    if len(names) < 2:
        return '(no %s report)' % mode, None
    data = json.loads(prefix.read_file(folder + '\\' + names[-2]).decode('utf-8'))
    problems = report_schema.check(data)
    text = prefix.read_file(folder + '\\' + names[-1]).decode('utf-8-sig').replace('\r\n', '\n')
    return text + ''.join('schema problem: %s\n' % p for p in problems), None if problems else data


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

        preview = prefix.run_cleanlum('preview', folder=sample.PROGRAM_FOLDER, timeout=120)
        reports = sample.REPORT_FOLDER
        preview_text, preview_data = report(prefix, reports, 'preview')
        print('\nRan CleanLum.exe preview: exit code %s (1: something of the vendor\'s is there); '
              'it changed nothing and wrote to %s:\n' % (preview.exit_code, reports))
        sys.stdout.write(preview_text)

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

        admin_logs = sorted(n for n in os.listdir(prefix.unix_path(reports))
                            if re.fullmatch(r'CleanLum-\d{8}-\d{6}\.log', n))
        if admin_logs:
            print('\n\nAdministrator\'s log %s\\%s (CMTrace format; type 1 information, 2 warning, 3 error):'
                  % (reports, admin_logs[-1]))
            data = prefix.read_file(reports + '\\' + admin_logs[-1]).decode('utf-8-sig')
            for line in data.splitlines():
                match = re.match(r'<!\[LOG\[(.*)\]LOG\]!><time="([^"]*)".*component="([^"]*)".*type="(\d)"', line)
                if match:
                    print('  %s %s %-17s %s' % (match.group(2), match.group(4), match.group(3), match.group(1)))

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

        result_text, result_data = report(prefix, reports, 'result')
        print('\nResult report of the run, in %s:\n' % reports)
        sys.stdout.write(result_text)
        # The report and the table tell the same: a vendor item is left in the
        # table exactly when an item the report does not call removed holds it.
        left_in_report = [i for i in (result_data or {}).get('items', []) if i['status'] != 'removed']
        disagree = [r[4] for r in rows if r[0] == 'vendor' and r[1] == 'present'
                    and (r[3] != 'removed') != bool(covered(r[4], left_in_report))]
        listed = [r[4] for r in rows if r[0] == 'vendor' and r[1] == 'present'
                  and covered(r[4], (preview_data or {}).get('items', []))]
        print('\nThe preview listed %d of the %d vendor items present; the result report and the table %s'
              % (len(listed), sum(r[0] == 'vendor' and r[1] == 'present' for r in rows),
                 'agree' if result_data and not disagree else 'DISAGREE on: ' + ', '.join(disagree)))

        vendor_left = [r for r in rows if r[0] == 'vendor' and r[3] != 'removed']
        foreign_changed = [r for r in rows if r[0] == 'foreign' and r[3] != 'unchanged']
        print('\nVendor items removed: %d of %d; unrelated items unchanged: %d of %d'
              % (sum(r[0] == 'vendor' for r in rows) - len(vendor_left), sum(r[0] == 'vendor' for r in rows),
                 sum(r[0] == 'foreign' for r in rows) - len(foreign_changed), sum(r[0] == 'foreign' for r in rows)))
        if taken and taken[0]:
            print('Screenshot of the progress window (during "%s"): %s' % (PAUSE_CAPTION, SCREENSHOT))
        else:
            print('No screenshot was taken')
        ok = (run.exit_code == 0 and not vendor_left and not foreign_changed and taken and taken[0]
              and preview.exit_code == 1 and preview_data and result_data and not disagree)
        return 0 if ok else 1
    finally:
        prefix.close(remove=False)


if __name__ == '__main__':
    sys.exit(main())
