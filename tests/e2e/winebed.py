"""Wine test bed: runs the real CleanLum.exe in throw-away Wine prefixes.

A case gets its own prefix, copied from a template booted once per build
folder, and its own persistent Wine session (a new session would run and
delete the RunOnce values, as Windows does at logon), so that what the program
left in the registry is read back before anything else touches it.

    with Prefix('spine') as prefix:
        prefix.seed_registry({r'HKEY_LOCAL_MACHINE\\Software\\Velmora\\Velmora Imaging Library':
                              {'Revision': '8.2'}})
        prefix.seed_files({r'C:\\Program Files\\Velmora Imaging\\bin\\lum.dll': b'MZ'})
        prefix.install_tools(r'C:\\Riruv', ['drvmanage.exe'])
        run = prefix.run_cleanlum('silent noreboot', folder=r'C:\\Riruv')
        run.exit_code, run.boxes, run.progress, prefix.run_log(), prefix.tool_record()
        prefix.read_registry(r'HKEY_LOCAL_MACHINE\\Software\\Velmora')

Paths given to the bed are Windows paths of the prefix (C:\\...).
The environment variable CLEANLUM_BUILD_DIR names the mingw build folder
(default: build/mingw of the source tree); CLEANLUM_E2E_KEEP=1 keeps the
prefixes of finished cases for a look afterwards.
"""

import atexit
import fcntl
import os
import re
import select
import shutil
import subprocess
import tempfile
import time
import unittest

SOURCE_DIR = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD_DIR = os.path.abspath(os.environ.get('CLEANLUM_BUILD_DIR') or os.path.join(SOURCE_DIR, 'build', 'mingw'))
HELPER_DIR = os.path.join(BUILD_DIR, 'tests', 'e2e')
WINE_DIR = os.path.join(BUILD_DIR, 'wine')

# Where the helpers live and write inside every prefix.
BED = 'C:\\e2e'
BIN = BED + '\\bin'
TOOL_RECORD = BED + '\\tool-record.txt'
TOOL_SETTINGS = BED + '\\tools.ini'

# The vendor tools the fake tool stands in for, as the program's folder holds them.
TOOLS = ('drvmanage.exe', 'drvinst.exe', 'lumdrv.exe', 'LumNetworkServer.exe',
         'VlxGigeService.exe', 'pyxmon.exe', 'MsiCleanup\\MsiCleanup.exe')

# Files of the template that a case shares with it through hard links: Wine
# only reads them. Everything else (the registry above all) is copied.
_SHARED_SUFFIXES = ('.dll', '.exe', '.sys', '.drv', '.acm', '.ax', '.cpl', '.ocx',
                    '.tlb', '.nls', '.ttf', '.fon', '.msstyles', '.mui')


def _read(path, mode='rb'):
    with open(path, mode) as data:
        return data.read()


def program(name):
    """Path of a program built in the mingw build folder."""
    for folder in (BUILD_DIR, HELPER_DIR):
        path = os.path.join(folder, name)
        if os.path.exists(path):
            return path
    raise FileNotFoundError('%s is not built in %s (cmake --build --preset mingw)' % (name, BUILD_DIR))


# --- display --------------------------------------------------------------

class Display:
    """A private Xvfb server; Wine draws the program's windows on it."""

    def __init__(self):
        read_end, write_end = os.pipe()
        self.process = subprocess.Popen(
            ['Xvfb', '-displayfd', str(write_end), '-screen', '0', '1024x768x24', '-nolisten', 'tcp'],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        # Xvfb writes the number, then a line end, and ends itself should the
        # pipe be gone by then: the read end stays open as long as the server.
        self._numbers = read_end
        text = b''
        while not text.endswith(b'\n'):
            ready, _, _ = select.select([read_end], [], [], 30)
            chunk = os.read(read_end, 32) if ready else b''
            if not chunk:
                self.close()
                raise RuntimeError('Xvfb did not start')
            text += chunk
        self.name = ':' + text.decode().strip()

    def close(self):
        if self.process.poll() is None:
            self.process.terminate()
            self.process.wait(10)
        if self._numbers is not None:
            os.close(self._numbers)
            self._numbers = None


_display = None


def display():
    """The display shared by every case of this process, started on first use."""
    global _display
    if os.environ.get('CLEANLUM_E2E_DISPLAY'):
        return os.environ['CLEANLUM_E2E_DISPLAY']
    if _display is None:
        _display = Display()
        atexit.register(_display.close)
    return _display.name


# --- Wine -------------------------------------------------------------------

def wine_environment(prefix):
    env = {k: v for k, v in os.environ.items()
           if k not in ('TEMP', 'TMP', 'TMPDIR', 'WINEPATH', 'WINEARCH', 'WINESERVER', 'LANGUAGE')
           and not k.startswith('LC_')}
    env.update(WINEPREFIX=prefix, WINEDEBUG='-all', DISPLAY=display(), LC_ALL='C.UTF-8',
               # No Mono or Gecko installer dialogs while a prefix boots.
               WINEDLLOVERRIDES='mscoree,mshtml=')
    return env


def _wine_version():
    return subprocess.run(['wine', '--version'], capture_output=True, text=True,
                          env={**os.environ, 'WINEDEBUG': '-all'}, check=True).stdout.strip()


def template_prefix():
    """The booted prefix that every case copies; made once per build folder."""
    path = os.path.join(WINE_DIR, 'template')
    stamp = os.path.join(path, '.cleanlum-template')
    version = _wine_version()
    os.makedirs(WINE_DIR, exist_ok=True)
    with open(os.path.join(WINE_DIR, 'template.lock'), 'w') as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if os.path.exists(stamp) and _read(stamp, 'r') == version:
            return path
        shutil.rmtree(path, ignore_errors=True)
        env = wine_environment(path)
        run_wine(['wineboot', '--init'], env, timeout=300, check=True)
        for key, name, data in (
                # A virtual desktop: under Xvfb without a window manager Wine
                # otherwise waits about two seconds at every window close.
                ('HKCU\\Software\\Wine\\Explorer', 'Desktop', 'Default'),
                ('HKCU\\Software\\Wine\\Explorer\\Desktops', 'Default', '800x600'),
                ('HKCU\\Software\\Wine', 'Version', 'win10'),
                # A crashing program ends instead of waiting on a dialog.
                ('HKCU\\Software\\Wine\\WineDbg', 'ShowCrashDialog', None)):
            command = ['wine', 'reg', 'add', key, '/v', name, '/f']
            command += ['/d', data] if data is not None else ['/t', 'REG_DWORD', '/d', '0']
            run_wine(command, env, check=True)
        subprocess.run(['wineserver', '--wait'], env=env, check=True, timeout=120)
        with open(stamp, 'w') as out:
            out.write(version)
        return path


def run_wine(command, env, timeout=120, check=False):
    """Runs a Wine command and waits for it alone. Its output goes through
    files, not pipes: the programs that start with a Wine session (services,
    the desktop) inherit the output handles and would hold pipes open."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        result = subprocess.run(command, env=env, stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                timeout=timeout)
        out.seek(0)
        err.seek(0)
        result.stdout, result.stderr = out.read(), err.read()
    if check and result.returncode != 0:
        raise subprocess.CalledProcessError(result.returncode, command, result.stdout, result.stderr)
    return result


def _clone(source, destination):
    shutil.rmtree(destination, ignore_errors=True)
    for folder, subfolders, files in os.walk(source):
        target = os.path.join(destination, os.path.relpath(folder, source))
        os.makedirs(target, exist_ok=True)
        for name in subfolders + files:
            origin = os.path.join(folder, name)
            copy = os.path.join(target, name)
            if os.path.islink(origin):
                os.symlink(os.readlink(origin), copy)
            elif name in files:
                if name.lower().endswith(_SHARED_SUFFIXES):
                    os.link(origin, copy)
                else:
                    shutil.copy2(origin, copy)
        subfolders[:] = [d for d in subfolders if not os.path.islink(os.path.join(folder, d))]


# --- registry files -----------------------------------------------------------

class RegValue:
    """A registry value of a type that plain Python values do not say."""

    def __init__(self, kind, data):
        self.kind = kind  # the REG_* number
        self.data = data  # bytes as stored

    def __eq__(self, other):
        return isinstance(other, RegValue) and (self.kind, self.data) == (other.kind, other.data)

    def __repr__(self):
        return 'RegValue(%d, %r)' % (self.kind, self.data)


def expand_string(text):
    """A REG_EXPAND_SZ value."""
    return RegValue(2, (text + '\0').encode('utf-16-le'))


def _quote(text):
    return '"' + text.replace('\\', '\\\\').replace('"', '\\"') + '"'


def _hex(kind, data):
    prefix = 'hex:' if kind == 3 else 'hex(%x):' % kind
    return prefix + ','.join('%02x' % b for b in data)


def _format_value(value):
    if isinstance(value, RegValue):
        return _hex(value.kind, value.data)
    if isinstance(value, bool):
        raise TypeError('registry values are str, int, bytes, list or RegValue')
    if isinstance(value, str):
        return _quote(value)
    if isinstance(value, int):
        return 'dword:%08x' % value
    if isinstance(value, bytes):
        return _hex(3, value)
    if isinstance(value, list):
        return _hex(7, ''.join(s + '\0' for s in value + ['']).encode('utf-16-le'))
    raise TypeError('unsupported registry value %r' % (value,))


def format_reg(keys):
    """.reg text for {key path: {value name: value}}; a value of None deletes
    the key instead. Value name '' is the key's default value."""
    lines = ['Windows Registry Editor Version 5.00', '']
    for key, values in keys.items():
        if values is None:
            lines += ['[-%s]' % key, '']
            continue
        lines.append('[%s]' % key)
        for name, value in values.items():
            lines.append('%s=%s' % ('@' if name == '' else _quote(name), _format_value(value)))
        lines.append('')
    return '\r\n'.join(lines) + '\r\n'


def _unquote(text):
    """The string at the start of text (which begins with a quote), and the rest."""
    out, i = [], 1
    while i < len(text):
        c = text[i]
        if c == '\\' and i + 1 < len(text):
            out.append({'n': '\n', 'r': '\r', '0': '\0'}.get(text[i + 1], text[i + 1]))
            i += 2
        elif c == '"':
            return ''.join(out), text[i + 1:]
        else:
            out.append(c)
            i += 1
    raise ValueError('unterminated string in .reg text: %r' % text)


def _parse_data(data):
    if data.startswith('"'):
        return _unquote(data)[0]
    if data.startswith('dword:'):
        return int(data[6:], 16)
    match = re.match(r'hex(?:\(([0-9a-fA-F]+)\))?:(.*)$', data)
    if not match:
        raise ValueError('unknown .reg value data %r' % data)
    kind = int(match.group(1), 16) if match.group(1) else 3
    raw = bytes(int(b, 16) for b in match.group(2).replace(' ', '').split(',') if b)
    if kind == 3:
        return raw
    if kind == 7:
        text = raw.decode('utf-16-le').rstrip('\0')
        return text.split('\0') if text else []
    return RegValue(kind, raw)


def parse_reg(text):
    """{key path: {value name: value}} of .reg text, keys in file order."""
    keys, current, logical = {}, None, []
    physical = text.lstrip('\ufeff').splitlines()
    # Join continuation lines (a trailing backslash outside a string).
    for line in physical:
        if logical and logical[-1].endswith('\\') and not logical[-1].startswith('['):
            logical[-1] = logical[-1][:-1] + line.strip()
        else:
            logical.append(line)
    for line in logical:
        if not line.strip() or line.startswith(('Windows Registry Editor', 'REGEDIT4', ';')):
            continue
        if line.startswith('[') and line.rstrip().endswith(']'):
            current = keys.setdefault(line.strip()[1:-1], {})
        elif current is not None:
            if line.startswith('@='):
                name, data = '', line[2:]
            else:
                name, rest = _unquote(line)
                data = rest[1:]  # after '='
            current[name] = _parse_data(data)
    return keys


class Registry(dict):
    """An exported subtree: {key path: {value name: value}}, looked up without regard to case."""

    def key(self, path):
        for name, values in self.items():
            if name.lower() == path.lower():
                return values
        return None

    def value(self, path, name):
        values = self.key(path)
        if values is None:
            return None
        for value_name, value in values.items():
            if value_name.lower() == name.lower():
                return value
        return None


# --- runs --------------------------------------------------------------------

class Box:
    def __init__(self, caption):
        self.caption, self.text, self.answer = caption, None, None

    def __repr__(self):
        return 'Box(%r, %r, %r)' % (self.caption, self.text, self.answer)


class Run:
    """What answer_boxes.exe saw of one run of the program."""

    def __init__(self, command_line, record):
        self.command_line = command_line
        self.lines = [line.split(': ', 1) if ': ' in line else [line.rstrip(':'), '']
                      for line in record.splitlines() if line]
        self.exit_code = None
        self.timed_out = False
        self.temp = None
        self.boxes = []
        self.progress = []
        self.missing_boxes = []
        self.calls = []
        for key, value in self.lines:
            if key == 'exit code':
                self.timed_out = value == 'timeout'
                self.exit_code = None if self.timed_out else int(value)
            elif key == 'temp':
                self.temp = value
            elif key == 'box':
                self.boxes.append(Box(value))
            elif key == 'text':
                self.boxes[-1].text = re.sub(r'\\(.)', lambda m: {'n': '\n', 'r': '\r'}.get(m.group(1), m.group(1)),
                                             value)
            elif key == 'answer':
                self.boxes[-1].answer = value
            elif key.startswith('progress'):
                self.progress.append(key + (': ' + value if value else ''))
            elif key == 'missing box':
                self.missing_boxes.append(value)

    def captions(self):
        """Every caption the progress window had, in order."""
        out = []
        for event in self.progress:
            if event.startswith('progress created: '):
                out.append(event[len('progress created: '):].split(' | ')[0])
            elif event.startswith('progress caption: '):
                out.append(event[len('progress caption: '):])
        return out

    def steps(self):
        return self.progress.count('progress step')

    def read_calls(self, relay):
        """Fills self.calls from Wine's relay output: 'Function("text",00000001) -> 00000001'
        for each traced call, in order (pointers to text shown as the text)."""
        pending = {}
        for line in relay.splitlines():
            call = re.match(r'([0-9a-f]+):Call \w+\.(\w+)\((.*)\) ret=[0-9a-f]+$', line)
            back = re.match(r'([0-9a-f]+):Ret  \w+\.(\w+)\(\) retval=([0-9a-f]+)', line)
            if call:
                arguments = re.sub(r'[0-9a-f]+ ("[^"]*")', r'\1', call.group(3))
                pending.setdefault(call.group(1), []).append(len(self.calls))
                self.calls.append('%s(%s)' % (call.group(2), arguments))
            elif back and pending.get(back.group(1)):
                index = pending[back.group(1)].pop()
                self.calls[index] += ' -> ' + back.group(3)

    def __repr__(self):
        return 'Run(%r, exit %r, boxes %r)' % (self.command_line, self.exit_code, self.boxes)


# --- prefixes ----------------------------------------------------------------

_open_prefixes = set()


@atexit.register
def _close_open_prefixes():
    for prefix in list(_open_prefixes):
        prefix.close()


class Prefix:
    """One case's Wine prefix with its own persistent Wine session."""

    def __init__(self, name, windows_version='win10', root=None):
        safe = re.sub(r'[^A-Za-z0-9_.-]+', '_', name)[-120:]
        self.root = root or os.path.join(WINE_DIR, 'cases', safe)
        _clone(template_prefix(), self.root)
        self.env = wine_environment(self.root)
        # The session outlives the gaps between commands; should the harness
        # die, it ends a minute after its last program.
        subprocess.run(['wineserver', '-p60'], env=self.env, check=True, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        _open_prefixes.add(self)
        self._runs = 0
        self._traced = False
        self._exports = 0
        self._background = []
        self.windows_version = 'win10'
        self.seed_files({BIN + '\\' + os.path.basename(p): _read(p)
                         for p in (program('answer_boxes.exe'), program('window_hook.dll'),
                                   program('probe.exe'))})
        if windows_version != 'win10':
            self.set_windows_version(windows_version)

    def close(self, remove=True):
        """Ends the Wine session; removes the prefix unless told otherwise."""
        if self not in _open_prefixes:
            return
        _open_prefixes.discard(self)
        run_wine(['wineserver', '-k'], self.env)
        run_wine(['wineserver', '-w'], self.env, timeout=60)
        for process in self._background:
            process.wait(60)
        if remove and not os.environ.get('CLEANLUM_E2E_KEEP'):
            shutil.rmtree(self.root, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self.close()

    # Wine commands, all within this prefix's session.
    def wine(self, *args, timeout=120, check=False):
        return run_wine(['wine', *args], self.env, timeout, check)

    def trace_calls(self, *exports):
        """Has Wine's relay trace record the calls of these exports
        ('setupapi.SetupUninstallOEMInfA') in the runs of the program from
        now on; each Run lists them in run.calls."""
        self.seed_registry({'HKEY_CURRENT_USER\\Software\\Wine\\Debug': {'RelayInclude': ';'.join(exports)}})
        self._traced = True

    def set_windows_version(self, version):
        """The Windows version Wine reports: win10, win7, winxp, nt40..."""
        self.wine('reg', 'add', 'HKCU\\Software\\Wine', '/v', 'Version', '/d', version, '/f', check=True)
        self.windows_version = version

    def probe(self, *args):
        return self.wine(BIN + '\\probe.exe', *args, check=True).stdout.decode('latin-1')

    def environment_variable(self, name):
        return self.wine('cmd', '/c', 'echo', '%' + name + '%', check=True).stdout.decode('latin-1').strip()

    # Files.
    def unix_path(self, path):
        """The Linux path of a Windows path of the prefix; existing names are
        matched without regard to case, as Windows does."""
        if len(path) < 2 or path[1] != ':':
            raise ValueError('not a drive path: %r' % path)
        current = os.path.realpath(os.path.join(self.root, 'dosdevices', path[0].lower() + ':'))
        for part in [p for p in path[2:].split('\\') if p]:
            match = part
            if os.path.isdir(current):
                for entry in os.listdir(current):
                    if entry.lower() == part.lower():
                        match = entry
                        break
            current = os.path.join(current, match)
        return current

    def seed_files(self, files):
        """Writes {Windows path: bytes or str}; folders are made as needed. A
        path ending in a backslash makes an empty folder."""
        for path, content in files.items():
            target = self.unix_path(path)
            if path.endswith('\\'):
                os.makedirs(target, exist_ok=True)
                continue
            os.makedirs(os.path.dirname(target), exist_ok=True)
            if os.path.lexists(target):
                os.unlink(target)  # never write through a link into the template
            with open(target, 'wb') as out:
                out.write(content.encode() if isinstance(content, str) else content)

    def exists(self, path):
        return os.path.lexists(self.unix_path(path))

    def read_file(self, path):
        """The file's bytes, or None when it does not exist."""
        target = self.unix_path(path)
        if not os.path.isfile(target):
            return None
        with open(target, 'rb') as data:
            return data.read()

    def list_tree(self, path):
        """Every file and folder under path, as Windows paths, sorted."""
        root = self.unix_path(path)
        out = []
        for folder, subfolders, files in os.walk(root):
            rel = os.path.relpath(folder, root)
            base = path.rstrip('\\') + ('' if rel == '.' else '\\' + rel.replace('/', '\\'))
            out += [base + '\\' + name for name in subfolders + files]
        return sorted(out)

    # Registry.
    def seed_registry(self, keys):
        """Imports {key path: {value name: value}} (see format_reg)."""
        self._exports += 1
        name = '%s\\seed-%d.reg' % (BED, self._exports)
        self.seed_files({name: format_reg(keys).encode('utf-16')})
        result = self.wine('reg', 'import', name)
        if result.returncode != 0:
            raise RuntimeError('reg import failed: %s' % result.stderr.decode('latin-1'))

    def read_registry(self, key):
        """The key and everything under it as a Registry, or None when it does not exist."""
        self._exports += 1
        name = '%s\\export-%d.reg' % (BED, self._exports)
        self.seed_files({BED + '\\': b''})
        if self.wine('reg', 'export', key, name, '/y').returncode != 0:
            return None
        return Registry(parse_reg(self.read_file(name).decode('utf-16')))

    def key_exists(self, key):
        return self.wine('reg', 'query', key).returncode == 0

    # The program and the fake tools.
    def install_cleanlum(self, folder):
        self.seed_files({folder + '\\CleanLum.exe': _read(program('CleanLum.exe'))})

    def install_tools(self, folder, names=TOOLS):
        """Copies the fake tool into folder under each name (a relative path)."""
        fake = _read(program('fake_tool.exe'))
        self.seed_files({folder + '\\' + name: fake for name in names})

    def tool_settings(self, tool, sleep=None, exit_code=None):
        """Makes the fake tool of that name pause (ms) or end with a code."""
        path = self.unix_path(TOOL_SETTINGS)
        text = _read(path).decode('latin-1') if os.path.exists(path) else ''
        text += '[%s]\r\n' % tool.lower()
        if sleep is not None:
            text += 'sleep=%d\r\n' % sleep
        if exit_code is not None:
            text += 'exit=%d\r\n' % exit_code
        self.seed_files({TOOL_SETTINGS: text.encode('latin-1')})

    def tool_record(self):
        """Each fake tool run, in order, as a dict: tool, module, command line,
        working directory, progress title (see fake_tool.cpp)."""
        data = self.read_file(TOOL_RECORD)
        if not data:
            return []
        records = []
        for block in data.decode('latin-1').split('\r\n\r\n'):
            fields = dict(line.split(': ', 1) for line in block.split('\r\n') if ': ' in line)
            if fields:
                records.append(fields)
        return records

    def run_cleanlum(self, arguments='silent noreboot', folder='C:\\Riruv', cwd=None, answers=(),
                     command_line=None, timeout=300):
        """Runs CleanLum.exe from folder (installed there if missing) with the
        working directory cwd (default: folder) and answers its message boxes:
        answers is a list of (caption, 'ok' | 'cancel' | 'yes' | 'no') in the
        order the boxes come; any other box is answered Cancel (or OK) and
        reported. Returns the Run."""
        if not self.exists(folder + '\\CleanLum.exe'):
            self.install_cleanlum(folder)
        if command_line is None:
            command_line = folder + '\\CleanLum.exe' + (' ' + arguments if arguments else '')
        self._runs += 1
        record = '%s\\run-%d.txt' % (BED, self._runs)
        args = [BIN + '\\answer_boxes.exe', record, '--cwd', cwd or folder, '--timeout', str(timeout * 1000)]
        for caption, button in answers:
            args += ['--answer', '%s=%s' % (caption, button)]
        env = {**self.env, 'WINEDEBUG': '+relay'} if self._traced else self.env
        result = run_wine(['wine', *args, '--', command_line], env, timeout + 60)
        data = self.read_file(record) or b''
        run = Run(command_line, data.decode('latin-1'))
        if self._traced:
            run.read_calls(result.stderr.decode('latin-1'))
        return run

    # Background processes.
    def start_background(self, folder, names):
        """Copies background.exe into folder under each name and starts the
        copies one after another without waiting; each runs until it is ended
        (at most five minutes). Returns once all of them are listed as running."""
        self.seed_files({folder + '\\' + name: _read(program('background.exe')) for name in names})
        work = self.unix_path(BED)
        os.makedirs(work, exist_ok=True)
        for name in names:
            self._background.append(subprocess.Popen(
                ['wine', folder + '\\' + name], env=self.env, cwd=work, stdin=subprocess.DEVNULL,
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        for _ in range(100):
            running = [n.lower() for n in self.running_processes()]
            if all(name.lower() in running for name in names):
                return
            time.sleep(0.2)
        raise RuntimeError('background processes did not start: %r' % (names,))

    def hold_file(self, path):
        """Holds the file open without delete sharing (as a program using it
        does) until the prefix is closed; returns once it is held."""
        holder = BIN + '\\background.exe'
        if not self.exists(holder):
            self.seed_files({holder: _read(program('background.exe'))})
        mark = '%s\\held-%d.txt' % (BED, len(self._background))
        work = self.unix_path(BED)
        os.makedirs(work, exist_ok=True)
        self._background.append(subprocess.Popen(
            ['wine', holder, 'hold', path, mark], env=self.env, cwd=work, stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        for _ in range(150):
            if self.exists(mark):
                return
            time.sleep(0.2)
        raise RuntimeError('%s could not be held open' % path)

    def running_processes(self):
        """Base names of the processes running in this prefix's session."""
        lister = BIN + '\\background.exe'
        if not self.exists(lister):
            self.seed_files({lister: _read(program('background.exe'))})
        return self.wine(lister, 'running', check=True).stdout.decode('latin-1').splitlines()

    def temp_directory(self):
        return self.environment_variable('TEMP')

    def run_log(self, temp=None):
        """The bytes of TEMP\\LUMInstall.log, or None when there is none."""
        return self.read_file((temp or self.temp_directory()) + '\\LUMInstall.log')


def run_program(argv):
    """Runs one Windows program (a Linux path and its arguments) in a fresh
    throw-away prefix with its output on ours; returns its exit status.
    CTest runs the Windows test suites this way."""
    prefix = Prefix('program-%d' % os.getpid())
    try:
        # Output straight through: ending the session closes the handles that
        # the session's own programs inherited.
        return subprocess.run(['wine', *argv], env=prefix.env, stdin=subprocess.DEVNULL).returncode
    finally:
        prefix.close()


class WineTestCase(unittest.TestCase):
    """A test case with a fresh prefix in self.prefix."""

    windows_version = 'win10'

    def setUp(self):
        self.prefix = Prefix(self.id(), self.windows_version)
        self.addCleanup(self.prefix.close)


if __name__ == '__main__':
    import sys
    if len(sys.argv) < 3 or sys.argv[1] != 'run':
        sys.exit('usage: winebed.py run PROGRAM [ARGUMENTS...]')
    sys.exit(run_program(sys.argv[2:]))
