"""The project's benchmark (./dev bench): times under Wine, in throw-away
prefixes, what a run spends its time on, and writes bench/RESULTS.md.

- The whole silent run on the sample installation (tests/e2e/sample.py):
  run_bench.exe, the same main sequence as CleanLum.exe with its pauses and
  child processes timed, is installed as CleanLum.exe and run as the
  end-to-end tests run it. Split into the specified pauses, the child
  processes by program, other waits and the program's own work.
- The install-directory tree (2,000 and 20,000 small files, one in a hundred
  read-only) deleted by the product's DeleteDirectoryTree, by a bare Win32
  walk, by "cmd /c rd /s /q" (tree_bench.exe) and by the host's rm -rf.
- A registry tree (2,000 and 20,000 keys) deleted by the product's
  DeleteRegistryTree, by RegDeleteTreeA and by "reg delete /f"
  (registry_bench.exe).

Every measurement is taken in each of the rounds (at least three); the
methods of a comparison run back to back within a round, in an order that
turns from round to round, each tried --tries times (the least counts), and
their ratios are taken within the round. Beside the wall clock, the CPU time
of the benchmark program and of the prefix's Wine server (read from /proc) is
taken, which other load disturbs much less. Reported: the median and the
min-max over the rounds.

    python3 bench/bench.py [--rounds N] [--tries N] [--quick] [--output FILE]

--quick: one size of each (2,000) and no rd, for trying the harness out.
What RESULTS.md holds below its "Notes" heading is kept from run to run.
"""

import argparse
import datetime
import os
import platform
import shutil
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE_DIR = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(SOURCE_DIR, 'tests', 'e2e'))

import sample  # noqa: E402
import winebed  # noqa: E402

BENCH = 'C:\\bench'
TREE = BENCH + '\\tree'
NOTES = '## Notes'

# The vendor's tools of the sample run; every other child is the system's.
VENDOR_TOOLS = {name.lower().split('\\')[-1] for name in winebed.TOOLS}


def program(name):
    """A benchmark program of the mingw build folder, as bytes."""
    path = os.path.join(winebed.BUILD_DIR, 'bench', name)
    if not os.path.exists(path):
        raise FileNotFoundError('%s is not built (cmake --build --preset mingw --target bench_programs)' % path)
    return winebed._read(path)


def lines_of(output):
    """{'ms': [...], 'calls': [...], ...}: the words after the first, per first word."""
    out = {}
    for line in output.splitlines():
        words = line.split()
        if words:
            out.setdefault(words[0], []).append(words[1:])
    return out


def wine_server(prefix):
    """The process id of the prefix's Wine server."""
    for pid in filter(str.isdigit, os.listdir('/proc')):
        try:
            with open('/proc/%s/comm' % pid) as comm:
                if not comm.read().startswith('wineserver'):
                    continue
            with open('/proc/%s/environ' % pid, 'rb') as environ:
                if ('WINEPREFIX=%s' % prefix.root).encode() in environ.read().split(b'\0'):
                    return int(pid)
        except OSError:
            continue
    raise RuntimeError('no Wine server for %s' % prefix.root)


class Bench:
    def __init__(self, prefix):
        self.prefix = prefix
        for name in ('tree_bench.exe', 'registry_bench.exe'):
            prefix.seed_files({BENCH + '\\' + name: program(name)})
        # The programs read the server's CPU time through Wine's Z: drive.
        prefix.env['CLEANLUM_BENCH_SERVER_STAT'] = 'Z:\\proc\\%d\\stat' % wine_server(prefix)

    def run(self, program, *args):
        result = self.prefix.wine(BENCH + '\\' + program, *args, timeout=900)
        text = result.stdout.decode('latin-1')
        if result.returncode != 0:
            raise RuntimeError('%s %s failed: %s%s' % (program, ' '.join(args), text,
                                                      result.stderr.decode('latin-1')))
        return lines_of(text)


# --- install-directory tree -----------------------------------------------------

def make_tree(root, files):
    """files small files under root: 100 to a folder, 10 folders to a group;
    every hundredth file read-only (no write bit: Wine's read-only)."""
    shutil.rmtree(root, ignore_errors=True)
    for i in range(files):
        folder = os.path.join(root, 'group%02d' % (i // 1000), 'folder%d' % (i // 100 % 10))
        if i % 100 == 0:
            os.makedirs(folder, exist_ok=True)
        path = os.path.join(folder, 'file%05d.dll' % i)
        with open(path, 'wb') as out:
            out.write(b'MZ vendor library %05d\r\n' % i)
        if i % 100 == 50:
            os.chmod(path, 0o444)


class Result:
    """One method's time in a round: the least wall-clock time of its tries,
    and the least CPU time (program and Wine server; None where not known)."""

    def __init__(self):
        self.ms, self.cpu, self.saved = [], [], 0

    def add(self, ms, cpu):
        self.ms.append(ms)
        if cpu is not None:
            self.cpu.append(cpu)

    @property
    def wall(self):
        return min(self.ms)

    @property
    def cpu_ms(self):
        return min(self.cpu) if self.cpu else None


def cpu_of(out):
    own, server = (float(x) for x in out['cpu'][0])
    return None if own < 0 or server < 0 else own + server


def tree_round(bench, files, methods, tries):
    """{method: Result} for one round, each try on a fresh tree; the tree must be gone."""
    root = bench.prefix.unix_path(TREE)
    results = {method: Result() for method in methods}
    for _ in range(tries):
        for method in methods:
            make_tree(root, files)
            if method == 'rm -rf':
                before = os.times()
                start = time.perf_counter()
                subprocess.run(['rm', '-rf', root], check=True)
                ms = (time.perf_counter() - start) * 1000
                after = os.times()
                cpu = (after.children_user + after.children_system - before.children_user
                       - before.children_system) * 1000
                gone = not os.path.exists(root)
            else:
                out = bench.run('tree_bench.exe', method, TREE)
                ms = float(out['ms'][0][0])
                cpu = None if method == 'rd' else cpu_of(out)  # cmd.exe's own time is not seen
                gone = out['gone'][0][0] == '1'
            if not gone:
                raise RuntimeError('%s left the tree of %d files' % (method, files))
            results[method].add(ms, cpu)
    return results


def tree_calls(bench, files):
    make_tree(bench.prefix.unix_path(TREE), files)
    out = bench.run('tree_bench.exe', 'calls', TREE)
    return float(out['ms'][0][0]), out.get('calls', [])


# --- registry tree ----------------------------------------------------------------

def hive_mtime(prefix):
    return os.stat(os.path.join(prefix.root, 'system.reg')).st_mtime


def registry_round(bench, keys, methods, tries):
    """{method: Result} for one round, each try on a fresh tree; saved counts
    the tries during which Wine wrote the machine hive to disk."""
    results = {method: Result() for method in methods}
    for _ in range(tries):
        for method in methods:
            bench.run('registry_bench.exe', 'make', str(keys))
            out = bench.run('registry_bench.exe', method)
            if out['gone'][0][0] != '1':
                raise RuntimeError('%s left the registry tree of %d keys' % (method, keys))
            start, end = (float(x) for x in out['window'][0])
            mtime = hive_mtime(bench.prefix)
            results[method].add(float(out['ms'][0][0]), None if method == 'reg' else cpu_of(out))
            results[method].saved += start - 0.05 <= mtime <= end + 0.05
    return results


def registry_calls(bench, keys):
    bench.run('registry_bench.exe', 'make', str(keys))
    out = bench.run('registry_bench.exe', 'calls')
    return float(out['ms'][0][0]), out.get('calls', [])


def warm_up(bench):
    """The first deletions in a new prefix cost about twice the later ones:
    one of each program, untimed, before the rounds."""
    make_tree(bench.prefix.unix_path(TREE), 500)
    bench.run('tree_bench.exe', 'product', TREE)
    bench.run('registry_bench.exe', 'make', '500')
    bench.run('registry_bench.exe', 'product')


# --- the whole run ------------------------------------------------------------------

def whole_run(index):
    """One silent run on a fresh sample installation: the parts of its time in ms."""
    prefix = winebed.Prefix('bench-run-%d' % index)
    try:
        sample.install_sample(prefix)
        prefix.seed_files({sample.PROGRAM_FOLDER + '\\CleanLum.exe':
                           program('run_bench.exe')})
        sample.start_background_processes(prefix)
        prefix.env['CLEANLUM_BENCH_SERVER_STAT'] = 'Z:\\proc\\%d\\stat' % wine_server(prefix)
        run = prefix.run_cleanlum('silent noreboot', folder=sample.PROGRAM_FOLDER, timeout=300)
        if run.exit_code != 0:
            raise RuntimeError('the sample run ended with %r' % run.exit_code)
        report = lines_of((prefix.read_file(sample.PROGRAM_FOLDER + '\\run-bench.txt') or b'').decode('latin-1'))
        if 'total' not in report:
            raise RuntimeError('the sample run wrote no report')
        left = [item for kind, item, present in sample.survey(prefix) if kind == 'vendor' and present]
        if left:
            raise RuntimeError('the sample run left vendor items: %r' % left)
    finally:
        prefix.close()
    parts = {'total': float(report['total'][0][0]),
             'pauses': sum(float(p[1]) for p in report.get('pause', [])),
             'pauses specified': sum(float(p[0]) for p in report.get('pause', [])),
             'other waits': float(report['wait'][0][0])}
    children = {}
    for name, ms in report.get('child', []):
        count, total = children.get(name, (0, 0.0))
        children[name] = (count + 1, total + float(ms))
    parts['children'] = children
    own_cpu, server_cpu = (float(x) for x in report['cpu'][0])
    parts['cpu own'], parts['cpu server'] = own_cpu, server_cpu
    parts['phases'] = {}
    for own, ms, *caption in report.get('phase', []):
        name = ' '.join(caption)
        before = parts['phases'].get(name, (0.0, 0.0))
        parts['phases'][name] = (before[0] + float(own), before[1] + float(ms))
    parts['calls'] = {name: (int(count), int(failed), float(ms)) for name, count, failed, ms in report.get('calls', [])}
    vendor = sum(ms for name, (_, ms) in children.items() if name in VENDOR_TOOLS)
    system = sum(ms for name, (_, ms) in children.items() if name not in VENDOR_TOOLS)
    parts['vendor tools'] = vendor
    parts['system programs'] = system
    parts['own work'] = parts['total'] - parts['pauses'] - vendor - system - parts['other waits']
    parts['outside'] = parts['total'] - parts['pauses'] - vendor
    return parts


# --- report ---------------------------------------------------------------------------

def spread(values, unit='', digits=0):
    values = list(values)
    fmt = '%%.%df%s' % (digits, unit)
    return '%s (%s–%s)' % (fmt % statistics.median(values), fmt % min(values), fmt % max(values))


def machine():
    cpu = 'unknown'
    with open('/proc/cpuinfo') as info:
        for line in info:
            if line.startswith('model name'):
                cpu = line.split(':', 1)[1].strip()
                break
    with open('/proc/meminfo') as info:
        memory = int(info.readline().split()[1]) / 1024 / 1024
    system = 'unknown'
    if os.path.exists('/etc/os-release'):
        with open('/etc/os-release') as release:
            for line in release:
                if line.startswith('PRETTY_NAME='):
                    system = line.split('=', 1)[1].strip().strip('"')
    wine = subprocess.run(['wine', '--version'], capture_output=True, text=True,
                          env={**os.environ, 'WINEDEBUG': '-all'}).stdout.strip()
    return ['- CPU: %s, %d cores; memory %.0f GiB' % (cpu, os.cpu_count(), memory),
            '- System: %s, Linux %s; %s; the product built by the mingw preset (Debug, as packaged)'
            % (system, platform.release(), wine)]


def load():
    return '%.1f' % os.getloadavg()[0]


def ratio_cells(rows, method, base='product'):
    """Wall and CPU ratio of base to method, per round, as two spread cells."""
    if method == base:
        return '', ''
    wall = spread((r[base].wall / r[method].wall for r in rows), '×', 2)
    cpus = [r[base].cpu_ms / r[method].cpu_ms for r in rows if r[base].cpu_ms and r[method].cpu_ms]
    return wall, (spread(cpus, '×', 2) if cpus else '–')


def cpu_cell(rows, method):
    cpus = [r[method].cpu_ms for r in rows if r[method].cpu_ms is not None]
    return spread(cpus) if cpus else '–'


def calls_table(title_ms, calls):
    out = ['', 'The product\'s calls in one more run (each counted and timed; %.0f ms in all):' % title_ms, '',
           '| Call | count | failed | ms | share |', '|---|---|---|---|---|']
    for name, count, failed, spent in calls:
        out.append('| %s | %s | %s | %.0f | %.0f%% |' % (name, count, failed, float(spent),
                                                      100 * float(spent) / title_ms))
    return out + ['']


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n\n')[0])
    parser.add_argument('--rounds', type=int, default=3)
    parser.add_argument('--tries', type=int, default=2, help='tries of each method in a round (the least counts)')
    parser.add_argument('--quick', action='store_true')
    parser.add_argument('--output', default=os.path.join(HERE, 'RESULTS.md'))
    args = parser.parse_args()
    if args.rounds < 3 and not args.quick:
        parser.error('at least three rounds')
    sizes = (2000,) if args.quick else (2000, 20000)
    tree_methods = ['product', 'bare', 'rm -rf'] + ([] if args.quick else ['rd'])
    registry_methods = ['product', 'deletetree', 'reg']

    started = datetime.datetime.now(datetime.timezone.utc)
    loads = [load()]
    runs, trees, registries = [], {n: [] for n in sizes}, {n: [] for n in sizes}
    prefix = winebed.Prefix('bench')
    try:
        bench = Bench(prefix)
        warm_up(bench)
        for index in range(args.rounds):
            turn = lambda methods: methods[index % len(methods):] + methods[:index % len(methods)]  # noqa: E731
            print('round %d of %d (load %s)' % (index + 1, args.rounds, load()), flush=True)
            runs.append(whole_run(index))
            print('  sample run: %.0f ms, outside pauses and vendor tools %.0f ms'
                  % (runs[-1]['total'], runs[-1]['outside']), flush=True)
            for files in sizes:
                methods = [m for m in turn(tree_methods) if m != 'rd']
                trees[files].append(tree_round(bench, files, methods, args.tries))
                if 'rd' in tree_methods:  # slow: once a round
                    trees[files][-1].update(tree_round(bench, files, ['rd'], 1))
                print('  tree of %d files: %s' % (files, {m: (r.wall, r.cpu_ms) for m, r in
                                                          trees[files][-1].items()}), flush=True)
            for keys in sizes:
                registries[keys].append(registry_round(bench, keys, turn(registry_methods), args.tries))
                print('  registry tree of %d keys: %s' % (keys, {m: (r.wall, r.cpu_ms) for m, r in
                                                                 registries[keys][-1].items()}), flush=True)
            loads.append(load())
        tree_counts = {files: tree_calls(bench, files) for files in sizes}
        registry_counts = {keys: registry_calls(bench, keys) for keys in sizes}
    finally:
        prefix.close()

    out = ['# Benchmark results', '',
           'Written by `./dev bench` (`bench/bench.py`: %d rounds, %d tries of each deletion method a round) on %s '
           'UTC. Times in ms unless said; each cell is the median over the rounds and, in brackets, the min–max. '
           'Within a round a method counts with the least time of its tries, and ratios are taken within the '
           'round. "CPU" is the CPU time of the benchmark program and of the Wine server (which does the work of '
           'most calls), measured alongside the wall-clock time and much less disturbed by other load.'
           % (args.rounds, args.tries, started.strftime('%Y-%m-%d %H:%M')), '',
           '## Machine', ''] + machine() + [
           '- Load average (1 min) at the start and after each round: %s. The machine is shared with other '
           'developers building and testing at the same time, so every run competes for the two cores.'
           % ', '.join(loads), '']

    out += ['## Targets', '', '| Target | Wall clock | CPU | At most | Met (wall clock) |', '|---|---|---|---|---|']
    outside = [r['outside'] / 1000 for r in runs]
    out.append('| Sample run outside pauses and vendor tools | %s | – | 1.2 s | %s |'
               % (spread(outside, ' s', 2), 'yes' if statistics.median(outside) <= 1.2 else 'no'))
    for title, rows, base, limit in [('Tree, %d files: product / bare walk' % n, trees[n], 'bare', 1.5)
                                     for n in sizes] + \
                                    [('Registry, %d keys: product / RegDeleteTreeA' % n, registries[n],
                                      'deletetree', 1.2) for n in sizes if n == max(sizes)]:
        wall, cpu = ratio_cells(rows, base)
        median = statistics.median(r['product'].wall / r[base].wall for r in rows)
        out.append('| %s | %s | %s | %s× | %s |' % (title, wall, cpu, limit, 'yes' if median <= limit else 'no'))
    out.append('')

    out += ['## Sample run (silent, no restart)', '',
            'run_bench.exe is the main sequence of CleanLum.exe with Sleep, CreateProcessA and '
            'WaitForSingleObject timed, installed as CleanLum.exe and run from its folder as the end-to-end '
            'tests run it; a child counts from its start to the end of the wait for it. One run a round, on a '
            'fresh prefix with the sample installation and its three background processes.', '',
            '| Part | ms |', '|---|---|']
    for part in ('total', 'pauses', 'vendor tools', 'system programs', 'other waits', 'own work', 'outside'):
        label = {'pauses': 'specified pauses (%s ms asked)' % spread(r['pauses specified'] for r in runs),
                 'system programs': 'system programs (cmd.exe and the like)',
                 'outside': 'outside pauses and vendor tools'}.get(part, part)
        out.append('| %s | %s |' % (label, spread(r[part] for r in runs)))
    out += ['', '| Child program | runs | ms |', '|---|---|---|']
    programs = sorted({p for r in runs for p in r['children']})
    for name in programs:
        counts = [r['children'].get(name, (0, 0.0)) for r in runs]
        out.append('| %s%s | %s | %s |' % (name, '' if name in VENDOR_TOOLS else ' (system)',
                                          spread(c[0] for c in counts), spread(c[1] for c in counts)))
    out += ['', 'CPU time of the run: the program %s ms; the Wine server %s ms (for the program and its '
            'children alike).' % (spread(r['cpu own'] for r in runs), spread(r['cpu server'] for r in runs))]
    out += ['', 'The program\'s own work by step (from one caption of the progress window to the next, without '
            'the pauses and children in it):', '', '| Caption | own work ms | all ms |', '|---|---|---|']
    captions = []
    for r in runs:
        captions += [c for c in r['phases'] if c not in captions]
    for caption in captions:
        cells = [r['phases'].get(caption, (0.0, 0.0)) for r in runs]
        out.append('| %s | %s | %s |' % (caption, spread(c[0] for c in cells), spread(c[1] for c in cells)))
    out += ['', 'Calls of the run (counted and timed; part of its own work unless a child runs meanwhile):', '',
            '| Call | count | failed | ms |', '|---|---|---|---|']
    for name in sorted({c for r in runs for c in r['calls']}):
        calls = [r['calls'].get(name, (0, 0, 0.0)) for r in runs]
        out.append('| %s | %s | %s | %s |' % (name, spread(c[0] for c in calls), spread(c[1] for c in calls),
                                             spread(c[2] for c in calls)))
    out.append('')

    out += ['## Install-directory tree', '',
            'Small files, 100 to a folder, one in a hundred read-only; a fresh tree for every try. '
            '"bare" is FindFirstFileA/FindNextFileA, DeleteFileA and RemoveDirectoryA (SetFileAttributesA on '
            'read-only files only); "rd" is `cmd /c rd /s /q` started from the benchmark program (its start '
            'included; one try a round); "rm -rf" runs on the host, outside Wine.', '']
    for files in sizes:
        rows = trees[files]
        out += ['### %d files' % files, '',
                '| Method | ms | files/s | CPU ms | product / method | product / method, CPU |',
                '|---|---|---|---|---|---|']
        for method in tree_methods:
            wall, cpu = ratio_cells(rows, method)
            out.append('| %s | %s | %s | %s | %s | %s |' % (
                method, spread(r[method].wall for r in rows), spread(files * 1000 / r[method].wall for r in rows),
                cpu_cell(rows, method), wall, cpu))
        out += calls_table(*tree_counts[files])

    out += ['## Registry tree', '',
            'Keys of 20 subkeys each under HKEY_LOCAL_MACHINE\\SOFTWARE\\CleanLumBench\\Tree, one string '
            'value each; a fresh tree for every try. "reg" is `reg delete /f` started from the benchmark program '
            '(its start included). "saved" counts the tries during which Wine wrote the machine hive '
            '(system.reg) to disk.', '']
    for keys in sizes:
        rows = registries[keys]
        out += ['### %d keys' % keys, '',
                '| Method | ms | CPU ms | product / method | product / method, CPU | saved |',
                '|---|---|---|---|---|---|']
        for method in registry_methods:
            wall, cpu = ratio_cells(rows, method)
            out.append('| %s | %s | %s | %s | %s | %d of %d |' % (
                method, spread(r[method].wall for r in rows), cpu_cell(rows, method), wall, cpu,
                sum(r[method].saved for r in rows), sum(len(r[method].ms) for r in rows)))
        out += calls_table(*registry_counts[keys])

    notes = ''
    if os.path.exists(args.output):
        with open(args.output, encoding='utf-8') as previous:
            text = previous.read()
        if NOTES in text:
            notes = text[text.index(NOTES):]
    text = '\n'.join(out) + '\n' + (notes or NOTES + '\n')
    with open(args.output, 'w', encoding='utf-8') as result:
        result.write(text)
    print('\n' + '\n'.join(out))
    print('Written to %s' % args.output)
    return 0


if __name__ == '__main__':
    sys.exit(main())
