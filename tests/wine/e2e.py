#!/usr/bin/env python3
"""End-to-end scenarios (scenarios.py) on the simulated machine and under Wine.

  e2e.py sim <scenario>                 on a fresh simulated machine
  e2e.py wine <x64|x86> <scenario>      under Wine (that build, its prefix kind) and on the
                                        simulated machine; both must pass and show the same
  e2e.py template <x64|x86> <folder>    boot the prefix that the Wine runs copy
  e2e.py wine <x64|x86> footprint       what that exe carries onto a bare Windows
  e2e.py state <machine folder>         what a simulated machine shows (the demo)

Both machines are read from Linux, with no program inside them: the registry from its file
(the prefix's system.reg once the Wine server has ended, the machine's REGEDIT4
registry.reg), files, sizes and attributes from the drive folders. Environment:
QNETPREP_SIM_EXE (the native program), QNETPREP_WINDOWS_BUILD_DIR and
QNETPREP_WINDOWS_X86_BUILD_DIR, QNETPREP_WINE_TEMPLATE (a booted prefix folder), WINE,
WINESERVER, QNETPREP_KEEP_MACHINE (keep the machine folder for a look after a failure).
"""
import difflib, os, re, shutil, subprocess, sys, tempfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from scenarios import SCENARIOS  # noqa: E402

SOURCE = Path(os.environ.get('QNETPREP_SOURCE_DIR') or Path(__file__).resolve().parents[2])
SAMPLE = SOURCE / 'sample' / 'package'
NET, OTHER = '{4D36E972-E325-11CE-BFC1-08002BE10318}', '{4D36E97E-E325-11CE-BFC1-08002BE10318}'
CLASSES = {NET.lower(): 'net', OTHER.lower(): 'other'}
TYPES = {1: 'REG_SZ', 2: 'REG_EXPAND_SZ', 3: 'REG_BINARY', 4: 'REG_DWORD', 7: 'REG_MULTI_SZ'}
CATROOT = r'\catroot\{F750E6C3-38EE-11D1-85E5-00C04FC295EE}'
ENUM, SERVICES = r'system\currentcontrolset\enum' '\\', r'system\currentcontrolset\services' '\\'


class Failure(Exception):
    pass


# The one place where the two machines may differ (the simulated one does what Windows does):
# - Folder spellings: Wine's Windows folder is "C:\windows" in lower case, so its system
#   folder and INF store are "C:\windows\system32" and "C:\windows\inf". File names ignore
#   case on both, and the installer only uses the folders that the system hands it.
# - Stored INF names (Wine keeps the INF's own name, Windows makes oemN.inf) and the PNF
#   format are the system's own: each machine's state labels a stored INF by the package
#   INF whose content it holds (stored_labels), on both machines alike.
# - Catalogs (Wine only): Wine copies the catalog that an INF names under its own name, and
#   its SetupUninstallOEMInfA leaves it (and the PNF) behind; Windows installs it as
#   oemN.cat and removes it with the INF. The installer never names a catalog itself, so
#   only the simulated machine's "catalog" lines are compared with the expectations.
# - SP_COPY_OEMINF_CATALOG_ONLY: Wine stores the INF at the first of an install's two calls,
#   Windows only at the second; both calls come before anything is looked at.
# - How the first calls are seen: Wine's relay trace, the simulated machine's call log.
FOLDER_MASKS = [(re.compile(r'C:\\+windows\\+system32', re.I), '{system folder}'),
                (re.compile(r'C:\\+windows\\+inf', re.I), '{INF store}')]
WINE_ONLY_DROPPED = re.compile(r'^catalog ')


def mask(lines, wine):
    out = []
    for line in lines:
        for pattern, token in FOLDER_MASKS:
            line = pattern.sub(lambda _: token, line)
        if not (wine and WINE_ONLY_DROPPED.match(line)):
            out.append(line)
    return out


# ---------------------------------------------------------------- registry files

ESCAPE = re.compile(r'\\(x[0-9a-fA-F]{1,4}|[0-7]{1,3}|.)')
C_ESCAPES = dict(a='\a', b='\b', t='\t', n='\n', v='\v', f='\f', r='\r', e='\x1b')


def unescape(text):
    def one(match):
        e = match.group(1)
        if e[0] == 'x' and len(e) > 1:
            return chr(int(e[1:], 16))
        return chr(int(e, 8)) if e[0] in '01234567' else C_ESCAPES.get(e, e)
    return ESCAPE.sub(one, text)


def read_registry(path, wine):
    """{lower-case key path below HKLM: (path, [(name, type, data as the ANSI calls see it)])}.
    Wine keeps text as UTF-16 and leaves out keys that only hold subkeys."""
    keys, values, pending = {}, None, ''
    for raw in path.read_text(encoding='latin-1').splitlines():
        line = pending + (raw.strip() if pending else raw.rstrip())
        if line.endswith('\\') and not line.startswith('['):
            pending = line[:-1]
            continue
        pending = ''
        if line.startswith('['):
            name = line[1:line.rindex(']')]
            name = unescape(name) if wine else name.split('\\', 1)[1] if '\\' in name else ''
            values = keys.setdefault(name.lower(), (name, []))[1]
            continue
        match = re.match(r'(@|"(?:[^"\\]|\\.)*")=(?:str\((\d+)\):)?(.*)$', line)
        if values is None or not match:
            continue
        name = '' if match[1] == '@' else unescape(match[1][1:-1])
        kind, data = 1 if match[2] is None else int(match[2], 16), match[3]
        if data.startswith('"'):
            data = unescape(data[1:-1]).encode('cp1252', 'replace') + b'\0'
        elif data.startswith('dword:'):
            kind, data = 4, int(data[6:], 16).to_bytes(4, 'little')
        elif data.startswith('hex'):
            kind = int(data[4:data.index(')')], 16) if data.startswith('hex(') else 3
            data = bytes.fromhex(data.split(':', 1)[1].replace(',', '').replace(' ', ''))
            if wine and kind in (1, 2, 7):
                data = data.decode('utf-16-le', 'replace').encode('cp1252', 'replace')
        values.append((name, kind, data))
    for lower, (name, _) in list(keys.items()):
        parts = name.split('\\')
        for n in range(1, len(parts)):
            keys.setdefault('\\'.join(parts[:n]).lower(), ('\\'.join(parts[:n]), []))
    return keys


def show_data(data):
    shown = data.rstrip(b'\0')
    text = ''.join('\\' + chr(b) if b in b'\\"' else chr(b) if 32 <= b < 127 else f'\\x{b:02X}' for b in shown)
    return f'"{text}"' + (f'+NUL*{len(data) - len(shown)}' if len(shown) < len(data) else '')


def text_of(values, name):
    return next((d.rstrip(b'\0').decode('cp1252') for n, _, d in values if n.lower() == name.lower()), None)


# ---------------------------------------------------------------- machines

UNINSTALL = r'Software\Microsoft\Windows\CurrentVersion\Uninstall'


class Machine:
    """A machine folder (registry file and drives) and its way of running qnetprep."""
    wine = False

    def __init__(self, program, work=None):
        self.program = Path(program)  # the exe that a package holds (data on the simulated side)
        self.dir = work or Path(tempfile.mkdtemp(prefix=f'qnetprep-{self.name}.'))
        self.root = self.dir / self.root_name
        self.registry_file = self.root / self.registry_name
        self.transcript, self.labels, self.baseline = [], {}, set()

    def close(self):
        if os.environ.get('QNETPREP_KEEP_MACHINE'):
            print(f'machine kept in {self.dir}', file=sys.stderr)
        else:
            shutil.rmtree(self.dir, ignore_errors=True)

    def linux(self, windows_path):
        """C:\\a\\b -> the Linux path, each existing component spelled as on disk."""
        path = self.root / f'drive_{windows_path[0].lower()}'
        for part in filter(None, windows_path[3:].split('\\')):
            if not (path / part).exists() and path.is_dir():
                part = next((e for e in sorted(os.listdir(path)) if e.lower() == part.lower()), part)
            path = path / part
        return path

    def seed_key(self, key, *values):  # REGEDIT4 value lines; no program runs meanwhile
        name = key.replace('\\', '\\\\') if self.wine else 'HKEY_LOCAL_MACHINE\\' + key
        with open(self.registry_file, 'a', encoding='latin-1') as f:
            f.write(f'\n[{name}]\n' + ''.join(v + '\n' for v in values))

    def items(self):
        """What every state shows: the product's keys and entries, the install folder, the INF
        store, the self-copy, the devices of both classes, the service and the catalogs."""
        return [('key', r'Software\Orvix'), ('key', UNINSTALL + r'\qnetprep'), ('key', UNINSTALL + r'\Lumora'),
                ('files', r'C:\Program Files\Orvix'), ('files', r'C:\Program Files\Orvix\qnetprep'),
                ('files', self.inf_store), ('file', self.system_folder + r'\qnetprep.exe'), 'devices',
                ('service', 'RX90K'), 'catalogs']

    def state(self, items):
        """Lines of the items: ('key', path below HKLM), ('files', folder), ('file', path),
        'devices', ('service', name), 'catalogs' (those holding a package catalog)."""
        reg, lines = read_registry(self.registry_file, self.wine), []
        for item in items:
            kind, arg = (item, None) if isinstance(item, str) else item
            if kind == 'key':
                lines += [] if arg.lower() in reg else [f'nokey HKLM\\{arg}']
                for lower, (name, values) in reg.items():
                    if lower == arg.lower() or lower.startswith(arg.lower() + '\\'):
                        shown = 'HKLM\\' + arg + name[len(arg):]
                        lines.append(f'key {shown}')
                        lines += [f'value {shown} "{n}" {TYPES.get(t, f"type={t}")} len={len(d)} {show_data(d)}'
                                  for n, t, d in values]
            elif kind == 'file':
                path = self.linux(arg)
                lines.append(self.file_line(arg, path) if path.is_file() else f'nofile {arg}')
            elif kind == 'files':
                path = self.linux(arg)
                lines += [f'dir {arg}\\{e}' if (path / e).is_dir() else self.file_line(f'{arg}\\{e}', path / e)
                          for e in sorted(os.listdir(path))] if path.is_dir() else [f'nofolder {arg}']
            elif kind == 'devices':
                for lower, (name, values) in reg.items():
                    guid, desc = text_of(values, 'ClassGUID'), text_of(values, 'DeviceDesc')
                    # Wine marks a device created but never registered as a phantom.
                    if lower.startswith(ENUM) and lower.count('\\') == 5 and (guid or '').lower() in CLASSES \
                            and text_of(values, 'Phantom') is None:
                        lines.append(f'device {CLASSES[guid.lower()]} {name[len(ENUM):]} '
                                     + ('desc=none' if desc is None else f'desc="{desc}"'))
            elif kind == 'service':
                lines.append(f'service {arg} ' + ('present' if SERVICES + arg.lower() in reg else 'absent'))
            elif kind == 'catalogs':
                folder = self.linux(self.system_folder + CATROOT)
                for e in sorted(os.listdir(folder)) if folder.is_dir() else []:
                    lines += [f'catalog {c.name}' for c in SAMPLE.glob('*.[cC][aA][tT]')
                              if c.read_bytes() == (folder / e).read_bytes()]
        return lines

    def file_line(self, windows_path, path):
        bits = self.attributes(path)
        attr = ''.join(c for b, c in ((1, 'R'), (2, 'H'), (4, 'S')) if bits & b) or '-'
        return f'file {windows_path} size={path.stat().st_size} attr={attr}'

    def observe(self, extra=()):
        """The state as scenarios compare it: only what differs from the machine's own INFs
        and devices at the start, stored INFs labelled by the package INF they hold."""
        self.labels.update(self.stored_labels())
        current = self.state(self.items() + list(extra))
        lines = [line for line in current if line not in self.baseline]
        lines += ['lost ' + line for line in self.baseline if line not in current]
        for stored, label in self.labels.items():
            pnf, text = re.escape(stored[:-4]) + r'\.pnf', re.escape(stored.replace('\\', '\\\\'))
            lines = [re.sub(f'"{text}"\\+NUL\\*\\d+', f'"{{stored {label}}}"+NUL*...',
                            re.sub(f'^file {pnf} size=\\d+', f'file {{PNF of {label}}} size=*',
                                   re.sub(f'^file {re.escape(stored)} ', f'file {{stored {label}}} ', x, flags=re.I),
                                   flags=re.I), flags=re.I) for x in lines]
        return sorted(lines)

    def stored_labels(self):
        """{stored INF path in lower case: the sample INF whose content it holds}."""
        store, labels = self.linux(self.inf_store), {}
        for e in os.listdir(store):
            if e.lower().endswith('.inf'):
                content = (store / e).read_bytes()
                label = next((s.name for s in SAMPLE.glob('*.inf') if s.read_bytes() == content), None)
                if label:
                    labels[f'{self.inf_store}\\{e}'.lower()] = label
        return labels

    def run(self, folder, tail='', command_line=None):
        """Runs `<folder>\\qnetprep.exe <tail>`, or the exact command line, from the folder.
        Returns the exit code, standard output and the stored INFs that the system was asked
        to uninstall, labelled, with their flags."""
        self.labels.update(self.stored_labels())
        status, out, asked = self.start(folder, tail, command_line)
        store = self.inf_store.lower() + '\\'
        asked = [f'{{stored {self.labels.get(store + name.lower(), name)}}} {int(flags, 16):#x}' for name, flags in asked]
        self.labels.update(self.stored_labels())  # a stored INF may be changed before the next run
        return status, out, asked

    def open(self):
        self.baseline = set(self.state([('files', self.inf_store), 'devices']))


class Sim(Machine):
    name, root_name, registry_name = 'sim', 'machine', 'registry.reg'
    inf_store, system_folder = r'C:\Windows\INF', r'C:\Windows\System32'
    exe = os.environ.get('QNETPREP_SIM_EXE') or str(SOURCE / 'build/native/qnetprep')

    def open(self):
        # A run stopped at its first call saves the new machine as it stands.
        self.call([b'QNETPREP_CRASH_AT=1'], [], self.dir)
        super().open()

    def call(self, settings, args, cwd):
        env = {k.encode(): v.encode() for k, v in os.environ.items() if not k.startswith('QNETPREP_')}
        env.update({b'QNETPREP_MACHINE': bytes(self.root), b'ProgramFiles': b'C:\\Program Files',
                    b'QNETPREP_CALL_LOG': bytes(self.dir / 'calls.txt')})
        env.update(s.split(b'=', 1) for s in settings)
        with open(self.dir / 'stdout.txt', 'wb') as out:
            status = subprocess.run([self.exe, *args], cwd=cwd, env=env, stdout=out, timeout=60).returncode
        calls = (self.dir / 'calls.txt').read_text('latin-1').splitlines() if (self.dir / 'calls.txt').exists() else []
        return status, (self.dir / 'stdout.txt').read_bytes().decode('cp1252'), calls

    def start(self, folder, tail, command_line):
        settings = [b'QNETPREP_COMMAND_LINE=' + command_line] if command_line is not None else []
        status, out, calls = self.call(settings, tail.split(), self.linux(folder))
        return status, out, [re.split(' (?:flags=)?', c)[1:3] for c in calls if c.startswith('SetupUninstallOEMInfA ')]

    def first_calls(self, folder):
        calls = self.call([], ['/u'], self.linux(folder))[2][:3]
        return [re.sub(r' (\d+)$', lambda m: f' {int(m[1]):#x}', c) for c in calls]

    def attributes(self, path):
        listing, bits = self.root / 'file-attributes.txt', 0
        for line in listing.read_text().splitlines() if listing.exists() else []:
            value, name = line.split(' ', 1)
            bits = int(value, 16) if self.root / name == path else bits
        return bits

    def set_attributes(self, path, bits):
        with open(self.root / 'file-attributes.txt', 'a') as f:
            f.write(f'{bits | self.attributes(path):#x} {path.relative_to(self.root)}\n')


# Calls that the runtime start-up linked into the exe makes before WinMain: its start-up
# information, the i686 runtime's look for a shared libgcc to register its unwind tables
# with, and the stack protector seeding its canary from the system's random source.
RUNTIME_START_UP = r'GetStartupInfoA |GetModuleHandleA libgcc_s_dw2-1\.dll$|CryptAcquireContextA '


class Wine(Machine):
    wine, root_name, registry_name = True, 'prefix', 'system.reg'
    inf_store, system_folder = r'C:\windows\inf', r'C:\windows\system32'

    def __init__(self, program, arch):
        self.name, self.arch = f'wine-{arch}', arch
        super().__init__(program)
        self.helpers = self.program.parent / 'tests' / 'windows'
        self.env = dict(os.environ, WINEPREFIX=str(self.root), WINEDLLOVERRIDES='mscoree,mshtml=', LC_ALL='C.UTF-8')
        # The 64-bit loader itself: the 32-bit one that "wine" starts first would look for
        # C:\windows\system32\qnetprep.exe in the 32-bit system folder (syswow64).
        wine64 = Path(shutil.which('wine64') or '/usr/lib/wine/wine64')
        self.loader = str(wine64) if arch == 'x64' and wine64.exists() else os.environ.get('WINE', 'wine')

    def open(self):
        # Linked, not copied: nothing here changes a file of the template in place (the
        # server replaces its registry files; those are copied for the seeding to append to).
        template = Path(os.environ['QNETPREP_WINE_TEMPLATE'])
        subprocess.run(['cp', '-al', template, self.root], check=True)
        for reg in self.root.glob('*.reg'):
            shutil.copy(template / reg.name, self.dir / reg.name)
            os.replace(self.dir / reg.name, reg)
        super().open()

    def wine_run(self, args, cwd, debug):
        """Runs a Windows program, then ends the server, which writes the registry file."""
        env = dict(self.env, WINEDEBUG=debug)
        with open(self.dir / 'stdout.txt', 'wb') as out, open(self.dir / 'stderr.txt', 'wb') as err:
            # A file, not a pipe: services that Wine starts inherit the handle and outlive the run.
            status = subprocess.run([self.loader, *args], cwd=cwd, env=env, stdout=out,
                                    stderr=err, timeout=240).returncode
        for flag in ('-k', '-w'):
            subprocess.run([os.environ.get('WINESERVER', 'wineserver'), flag], env=env, timeout=60)
        return status, (self.dir / 'stdout.txt').read_bytes().decode('cp1252'), (self.dir / 'stderr.txt')

    def start(self, folder, tail, command_line):
        args = [f'{folder}\\qnetprep.exe', *tail.split()] if command_line is None else \
            [str(self.helpers / 'qnetprep_start.exe'), command_line.hex()]
        status, out, err = self.wine_run(args, self.linux(folder), '-all,trace+setupapi')
        return status, out, re.findall(r':SetupUninstallOEMInfA "(.*?)", (0x[0-9a-f]+)', err.read_text('latin-1'))

    def first_calls(self, folder):
        """The program's own first calls in a relay trace: those made from its image on its
        main thread, the runtime's start-up before WinMain (its DLL helpers and a few
        start-up calls) aside. No platform call of the program may come before them."""
        trace = self.wine_run([f'{folder}\\qnetprep.exe', '/u'], self.linux(folder), '-all,+relay,+loaddll')[2]
        text = trace.read_text('latin-1')
        loaded = re.search(r'^(\w+):trace:loaddll:\w+ Loaded L"[^"]*qnetprep\.exe" at ([0-9a-fA-F]+)', text, re.M)
        if not loaded:
            raise Failure('no qnetprep.exe in the +loaddll trace')
        base, calls = int(loaded[2], 16), []
        for module, func, args, ret in re.findall(f'^{loaded[1]}:Call (\\w+)\\.(\\w+)\\((.*)\\) ret=([0-9a-f]+)$',
                                                  text, re.M):
            if base <= int(ret, 16) < base + 0x100000 and module.lower() not in ('msvcrt', 'ucrtbase', 'ntdll'):
                quoted = re.search(r'"(.*)"', args)
                number = re.fullmatch('[0-9a-f]+', args) and f'{int(args, 16):#x}'
                calls.append(f'{func} ' + (quoted[1] if quoted else number or args))
        first = next((i for i, c in enumerate(calls) if c == 'GetModuleHandleA kernel32.dll'), len(calls))
        early = [c for c in calls[:first] if re.match(r'\w*A |Reg|Setup|SH|\w*Service|OpenSC', c)
                 and not re.match(RUNTIME_START_UP, c)]
        if early:
            raise Failure(f'calls before the DLL search hardening: {early}')
        return calls[first:first + 3]

    def attributes(self, path):
        try:
            hidden_system = int(os.getxattr(path, 'user.DOSATTRIB').rstrip(b'\0'), 16) & 6
        except OSError:
            hidden_system = 0
        return hidden_system | (0 if path.stat().st_mode & 0o222 else 1)

    def set_attributes(self, path, bits):
        if bits & 6:
            os.setxattr(path, 'user.DOSATTRIB', f'{(bits | self.attributes(path)) & 6:#x}'.encode())
        if bits & 1:
            path.chmod(path.stat().st_mode & ~0o222)


# ---------------------------------------------------------------- scenarios

def expect(what, expected, actual):
    if expected != actual:
        diff = [f'-{x}' for x in expected if x not in actual] + [f'+{x}' for x in actual if x not in expected]
        raise Failure(f'{what}: expected {expected!r}, got {actual!r}' if not diff else
                      f'{what} differs (- expected, + seen):\n' + '\n'.join(diff or ['(order)']))


def play(m, steps):
    """Plays a scenario on the machine; raises Failure at the first difference. Every run
    and state goes to m.transcript, masked, for the comparison of two machines."""
    m.open()
    say = m.transcript.append
    for step in steps:
        op, args = step[0], step[1:]
        if op == 'device':
            guid = NET if args[0] == 'net' else OTHER
            m.seed_key(r'SYSTEM\CurrentControlSet\Enum' '\\' + args[1], f'"ClassGUID"="{guid}"',
                       *([f'"DeviceDesc"="{args[2]}"'] if args[2] else []))
        elif op == 'key':
            m.seed_key(*args)
        elif op == 'package':
            folder = m.linux(args[0])
            folder.mkdir(parents=True, exist_ok=True)
            for f in SAMPLE.iterdir():
                if f.name not in args[1:]:
                    shutil.copy(f, folder)
            shutil.copy(m.program, folder / 'qnetprep.exe')
        elif op == 'file':
            path = m.linux(args[0])
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_bytes(args[1])
            m.set_attributes(path, sum(b for b, c in ((1, 'R'), (2, 'H'), (4, 'S')) if c in args[2]))
        elif op == 'slot':
            values = read_registry(m.registry_file, m.wine).get(PARAMS_KEY.lower(), ('', []))[1]
            path = m.linux(text_of(values, args[0]) or 'C:\\no slot')
            if args[1] == 'append':
                path.write_bytes(path.read_bytes() + args[2])
            else:
                m.set_attributes(path, sum(b for b, c in ((1, 'R'), (2, 'H'), (4, 'S')) if c in args[2]))
        elif op in ('run', 'exact'):
            folder, tail, stdout, asked = args
            status, out, seen = m.run(folder, tail) if op == 'run' else m.run(folder, command_line=tail)
            record = [f'exit {status}', f'stdout [{out}]'] + [f'uninstall asked {a}' for a in seen]
            say(f'== {op} in {folder}: {tail}')
            m.transcript += mask(record, False)
            expected = ['exit 1', f'stdout [{stdout}]'] + [f'uninstall asked {{stored {a}}} 0x1' for a in asked]
            expect(f'{op} {tail!r}', expected, record)
        elif op == 'state':
            say('== state')
            actual = mask(m.observe(args[1] if len(args) > 1 else ()), False)
            m.transcript += actual
            exe = str(m.program.stat().st_size)
            expect('state', sorted(mask([x.replace('size=EXE', f'size={exe}') for x in args[0]], m.wine)),
                   sorted(mask(actual, m.wine)))
        elif op == 'same content':
            folder = m.linux(r'C:\Program Files\Orvix\qnetprep')
            pairs = [(folder / f.name, f) for f in SAMPLE.iterdir() if (folder / f.name).exists()]
            pairs.append((m.linux(m.system_folder + r'\qnetprep.exe'), m.program))
            for copy, source in pairs:
                if copy.exists() and copy.read_bytes() != source.read_bytes():
                    raise Failure(f'{copy} differs from {source}')
        elif op == 'first calls':
            calls = m.first_calls(args[0])
            say('== first calls')
            m.transcript += calls
            expect('first calls', args[1], calls)


PARAMS_KEY = r'Software\Orvix\qnetprep\Parameters'


def scenario_on(m, name):
    try:
        play(m, SCENARIOS[name])
        return None
    except (Failure, subprocess.TimeoutExpired) as failure:
        return f'FAIL: {name} on the {m.name} machine: {failure}'
    finally:
        m.close()


def windows_build(arch):
    default = SOURCE / 'build' / ('windows' if arch == 'x64' else 'windows-x86')
    return Path(os.environ.get(f'QNETPREP_WINDOWS{"_X86" if arch == "x86" else ""}_BUILD_DIR') or default)


def compare(arch, name):
    exe = windows_build(arch) / 'qnetprep.exe'
    machines = [Wine(exe, arch), Sim(exe)]
    failures = [f for f in (scenario_on(m, name) for m in machines) if f]
    wine, sim = (mask(m.transcript, True) for m in machines)
    if not failures and wine != sim:
        failures.append(f'FAIL: {name} shows differently under Wine ({arch}) and on the simulated machine:\n'
                        + '\n'.join(difflib.unified_diff(wine, sim, 'wine', 'sim', lineterm='')))
    return failures


def template(arch, folder):
    """Boots the prefix that the scenarios copy, unless the folder holds one booted with the
    Wine packages installed now (a prefix booted before wine32 stops working after it)."""
    folder = Path(folder)
    stamp = arch + '\n' + subprocess.run(['dpkg-query', '-W', 'wine', 'wine64', 'wine32:i386', 'libwine'],
                                         capture_output=True, text=True).stdout
    if (folder / 'qnetprep-stamp').exists() and (folder / 'qnetprep-stamp').read_text() == stamp:
        return []
    shutil.rmtree(folder, ignore_errors=True)
    env = dict(os.environ, WINEPREFIX=str(folder), WINEDEBUG='-all', WINEDLLOVERRIDES='mscoree,mshtml=',
               **({'WINEARCH': 'win32'} if arch == 'x86' else {}))
    boot = subprocess.run([os.environ.get('WINEBOOT', 'wineboot'), '-i'], env=env, capture_output=True, timeout=300)
    subprocess.run([os.environ.get('WINESERVER', 'wineserver'), '-w'], env=env, timeout=120)
    kind = '#arch=win32' in (folder / 'system.reg').read_text('latin-1') if boot.returncode == 0 else None
    if kind != (arch == 'x86') or (arch == 'x86') == (folder / 'drive_c/windows/syswow64').exists():
        return [f'FAIL: no {arch} prefix booted in {folder}: {boot.stderr.decode(errors="replace")[-2000:]}']
    (folder / 'qnetprep-stamp').write_text(stamp)
    return []


SYSTEM_DLLS = {'kernel32.dll', 'user32.dll', 'advapi32.dll', 'setupapi.dll', 'shlwapi.dll', 'msvcrt.dll'}
VERSION = """FileVersion 0.0.3.7
ProductVersion 0.0.3.7
FileOS 0x40004
FileType 1
String FileDescription=qnetprep
String FileVersion=0, 0, 3, 7
String InternalName=qnetprep
String OriginalFilename=qnetprep.exe
String ProductName=qnetprep
String ProductVersion=0, 0, 3, 7
"""
SUPPORTED_OS = ['e2011457-1546-43c5-a5fe-008deee3d3f0', '35138b9a-5d96-4fbd-8e2d-a2440225f93a',  # Vista, 7
                '4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38', '1f676c76-80e1-4239-95bb-83d0f6d0da78',  # 8, 8.1
                '8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a']  # 10 and 11


def footprint(arch):
    """What the exe carries onto a bare Windows: its machine and GUI subsystem, imports of
    system DLLs only, no symbols, at most 64 KiB, ASLR (high-entropy on x64), DEP and
    relocations; then, read under Wine as Windows reads them, its version resource and its
    manifest asking for elevation."""
    exe = windows_build(arch) / 'qnetprep.exe'
    objdump = ('x86_64' if arch == 'x64' else 'i686') + '-w64-mingw32-objdump'
    headers = subprocess.run([objdump, '-p', exe], capture_output=True, text=True).stdout
    flags = re.search(r'^DllCharacteristics\s+\w+\n((?:\t+\w+\n)*)', headers, re.M)
    dlls = {d.lower() for d in re.findall(r'DLL Name: (\S+)', headers)}
    wanted = {'DYNAMIC_BASE', 'NX_COMPAT'} | ({'HIGH_ENTROPY_VA'} if arch == 'x64' else set())
    checks = {
        'machine': f'file format {"pei-x86-64" if arch == "x64" else "pei-i386"}' in headers,
        'GUI subsystem': '(Windows GUI)' in headers,
        f'imports {sorted(dlls)} of the system only': dlls and dlls <= SYSTEM_DLLS,
        'no symbols': 'no symbols' in subprocess.run([objdump, '-t', exe], capture_output=True, text=True).stdout,
        f'size {exe.stat().st_size} at most 65536': exe.stat().st_size <= 65536,
        f'DllCharacteristics {wanted}': flags and wanted <= set(flags[1].split()),
        'relocations': re.search(r'Base Relocation Directory \[\.reloc\]', headers)
                       and 'relocations stripped' not in headers}
    problems = [f'FAIL: {exe}: {what}' for what, good in checks.items() if not good]
    m = Wine(exe, arch)
    try:
        m.open()
        shutil.copy(exe, m.linux('C:\\checked.exe'))
        status, shown, _ = m.wine_run([str(m.helpers / 'qnetprep_resources.exe'), 'C:\\checked.exe'], m.dir, '-all')
    finally:
        m.close()
    version, _, manifest = shown.replace('\r', '').partition('Manifest ')
    problems += [] if status == 0 and version == VERSION else [f'FAIL: {exe}: resources read as:\n{shown}']
    for part in ['level="requireAdministrator"', 'uiAccess="false"'] + [f'Id="{{{g}}}"' for g in SUPPORTED_OS]:
        problems += [] if part in manifest else [f'FAIL: {exe}: manifest without {part}:\n{manifest}']
    print(f'{exe}: {exe.stat().st_size} bytes, imports {sorted(dlls)}, DllCharacteristics '
          f'{flags[1].split() if flags else None}\nmanifest {manifest}')
    return problems


def main(argv):
    if argv[:1] == ['state']:
        m = Sim('/dev/null', Path(argv[1]).parent)
        m.root = m.dir = Path(argv[1])
        m.registry_file = m.root / m.registry_name
        print('\n'.join(m.state(m.items())))
        return []
    if argv[:1] == ['sim']:
        return [f for f in [scenario_on(Sim(os.environ.get('QNETPREP_SIM_PACKAGE_EXE') or Sim.exe), argv[1])] if f]
    if argv[:1] == ['wine']:
        return footprint(argv[1]) if argv[2] == 'footprint' else compare(argv[1], argv[2])
    if argv[:1] == ['template']:
        return template(argv[1], argv[2])
    return [__doc__]


if __name__ == '__main__':
    problems = main(sys.argv[1:])
    print('\n'.join(problems) or f'PASS: {" ".join(sys.argv[1:])}', file=sys.stderr if problems else sys.stdout)
    sys.exit(1 if problems else 0)
