"""e2e.py sim <scenario> | wine <x64|x86> <scenario>|footprint|same_bytes | template <x64|x86> <folder> | state <folder>
A scenario of scenarios.py on the simulated machine, or under Wine with that build and on the simulated machine,
which must agree (under_wow64: the x86 build in the 64-bit prefix of QNETPREP_WINE_TEMPLATE, and on a simulated
64-bit Windows); same_bytes: the build again, in another folder, gives the same exe. Both are read from Linux: the registry from its file (the prefix's system.reg once the server
has ended), files from the drives. QNETPREP_KEEP_MACHINE=1 keeps the machine folders for a look."""
import difflib, os, re, shutil, subprocess, sys, tempfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from scenarios import PARAMS, SAMPLE, SCENARIOS, UNDER_WOW64, UNINSTALL  # noqa: E402

NET, OTHER = '{4D36E972-E325-11CE-BFC1-08002BE10318}', '{4D36E97E-E325-11CE-BFC1-08002BE10318}'
CLASSES = {NET.lower(): 'net', OTHER.lower(): 'other'}
TYPES = {1: 'REG_SZ', 2: 'REG_EXPAND_SZ', 3: 'REG_BINARY', 4: 'REG_DWORD', 7: 'REG_MULTI_SZ'}
ENUM, SERVICES = 'system\\currentcontrolset\\enum\\', 'system\\currentcontrolset\\services\\'
BITS = ((1, 'R'), (2, 'H'), (4, 'S'))
ROOT = Path(__file__).resolve().parents[2]
SIM_EXE = os.environ.get('QNETPREP_SIM_EXE') or str(ROOT / 'build/native/qnetprep')


# The one place where the two machines may differ (the simulated one does what Windows does):
# - Wine's Windows folder is "C:\windows" ("C:\windows\system32", "C:\windows\inf"); names ignore
#   case, and the installer only uses the folders that the system hands it.
# - Stored INF names (Wine keeps the INF's own, Windows makes oemN.inf) and the PNF format are the
#   system's: a stored INF shows as the package INF it holds, its PNF without size (observe).
# - Catalogs, Wine only: Wine copies the one an INF names under its own name, and its uninstall
#   leaves it (and the PNF); Windows installs it as oemN.cat and removes it with the INF. The
#   installer never names one: only the simulated machine's "catalog" lines are held to account.
# - SP_COPY_OEMINF_CATALOG_ONLY: Wine stores the INF at the first of an install's two calls,
#   Windows at the second; both come before anything is looked at.
# - The first calls show in Wine's relay trace, and in the simulated machine's call log.
def mask(lines, wine):
    lines = [re.sub(r'C:\\+windows\\+(system32|inf)', lambda m: '{system folder}' if m[1].lower() == 'system32'
                    else '{INF store}', line, flags=re.I) for line in lines]
    return [line for line in lines if not (wine and line.startswith('catalog '))]


def unescape(text):
    escapes = dict(a='\a', b='\b', t='\t', n='\n', v='\v', f='\f', r='\r', e='\x1b')
    return re.sub(r'\\(x[0-9a-fA-F]{1,4}|[0-7]{1,3}|.)', lambda m: chr(int(m[1][1:], 16)) if m[1][0] == 'x' and m[1][1:]
                  else chr(int(m[1], 8)) if m[1][0] in '01234567' else escapes.get(m[1], m[1]), text)


def read_registry(path, wine):
    """{key path below HKLM in lower case: (path, [(name, type, data as ANSI calls see it)])}."""
    keys, values, pending = {}, [], ''
    for raw in path.read_text('latin-1').splitlines():
        line = pending + (raw.strip() if pending else raw.rstrip())
        pending = line[:-1] if line.endswith('\\') and not line.startswith('[') else ''
        value = re.match(r'(@|"(?:[^"\\]|\\.)*")=(?:str\((\d+)\):)?(.*)$', line)
        if line.startswith('['):
            name = unescape(line[1:line.rindex(']')]) if wine else line[1:line.rindex(']')].partition('\\')[2]
            values = keys.setdefault(name.lower(), (name, []))[1]
        elif value and not pending:
            kind, data = int(value[2] or '1', 16), value[3]
            if data.startswith('"'):
                data = unescape(data[1:-1]).encode('cp1252', 'replace') + b'\0'
            elif data.startswith('dword:'):
                kind, data = 4, int(data[6:], 16).to_bytes(4, 'little')
            elif data.startswith('hex'):
                kind = int(data[4:data.index(')')], 16) if data.startswith('hex(') else 3
                data = bytes.fromhex(re.sub('[, ]', '', data.partition(':')[2]))
                if wine and kind in (1, 2, 7):
                    data = data.decode('utf-16-le', 'replace').encode('cp1252', 'replace')
            values.append(('' if value[1] == '@' else unescape(value[1][1:-1]), kind, data))
    for name, _ in list(keys.values()):  # Wine keeps text as UTF-16, and no key with only subkeys
        for n in range(1, name.count('\\') + 1):
            keys.setdefault('\\'.join(name.split('\\')[:n]).lower(), ('\\'.join(name.split('\\')[:n]), []))
    return keys


def show_data(data):
    shown = data.rstrip(b'\0')
    text = ''.join('\\' + chr(b) if b in b'\\"' else chr(b) if 32 <= b < 127 else f'\\x{b:02X}' for b in shown)
    return f'"{text}"' + (f'+NUL*{len(data) - len(shown)}' if len(shown) < len(data) else '')


def text_of(values, name):
    return next((d.rstrip(b'\0').decode('cp1252') for n, _, d in values if n.lower() == name.lower()), None)


# Calls that open, copy, pre-install or look at a file by name; the device removal as the system
# tool's own call, or as the class installer's.
FILE_CALLS = {'CopyFileA', 'CreateFileA', 'CreateDirectoryA', 'DeleteFileA', 'FindFirstFileA', 'GetFileAttributesA',
              'SetFileAttributesA', 'SetupCopyOEMInfA', 'SetupGetInfInformationA', 'LoadLibraryA', 'LoadLibraryExA'}
REMOVALS = {'SetupDiRemoveDevice', 'SetupDiCallClassInstaller'}


def package_reads_after_removal(calls, folder):
    """The calls, (name, [path arguments]) in order, that name a file of the package folder (a relative
    name is one) after the first device removal."""
    first = next((i for i, (name, _) in enumerate(calls) if name in REMOVALS), None)
    if first is None:
        return ['no device removed']
    late = [f'read after the removal: {name} {p}' for name, paths in calls[first + 1:] if name in FILE_CALLS
            for p in paths if p.lower().startswith(folder.lower() + '\\') or not re.match(r'[a-z]:[\\/]|[\\/]{2}', p, re.I)]
    return ['a device removed first'] + late


class Machine:  # a machine folder (registry file and drives) and its way of running qnetprep
    wine, parent = False, None

    def __init__(self, program, root=None, arch='x64'):
        self.program, self.arch = Path(program), arch  # the exe that a package holds (only data on the simulated side)
        self.dir = Path(root or tempfile.mkdtemp(prefix=f'qnetprep-{self.name}.', dir=self.parent))
        self.root = self.dir if root else self.dir / self.root_name
        self.registry_file = self.root / self.registry_name
        self.transcript, self.labels, self.baseline = [], {}, set()

    def close(self):
        keep = os.environ.get('QNETPREP_KEEP_MACHINE')
        print(f'machine kept in {self.dir}', file=sys.stderr) if keep else shutil.rmtree(self.dir, ignore_errors=True)

    def linux(self, windows_path):
        """C:\\a\\b -> the Linux path, each existing component spelled as on disk."""
        path = self.root / f'drive_{windows_path[0].lower()}'
        for part in filter(None, windows_path[3:].split('\\')):
            if not (path / part).exists() and path.is_dir():
                part = next((e for e in sorted(os.listdir(path)) if e.lower() == part.lower()), part)
            path = path / part
        return path

    def seed_key(self, key, *values):  # REGEDIT4 value lines; no program runs meanwhile
        if self.wine:  # Wine keeps text as UTF-16: ANSI bytes of a hex(1) value become two each
            values = [re.sub(r'=hex\(1\):(.*)', lambda v: '=hex(1):' + ','.join(
                f'{b:02x}' for b in bytes.fromhex(v[1].replace(',', '')).decode('cp1252').encode('utf-16-le')), x)
                for x in values]
        with open(self.registry_file, 'a', encoding='latin-1') as f:
            name = key.replace('\\', '\\\\') if self.wine else 'HKEY_LOCAL_MACHINE\\' + key
            f.write(f'\n[{name}]\n' + ''.join(v + '\n' for v in values))

    def state(self, items):  # 'catalogs': those in the catalog database holding a package's
        reg, lines = read_registry(self.registry_file, self.wine), []
        for kind, arg in ((i, None) if isinstance(i, str) else i for i in items):
            path = self.linux(arg) if kind in ('file', 'files') else None
            if kind == 'key':
                lines += [] if arg.lower() in reg else [f'nokey HKLM\\{arg}']
                for lower, (name, values) in reg.items():
                    if (lower + '\\').startswith(arg.lower() + '\\'):
                        shown = 'HKLM\\' + arg + name[len(arg):]
                        lines += [f'key {shown}'] + [f'value {shown} "{n}" {TYPES.get(t, t)} len={len(d)} {show_data(d)}'
                                                     for n, t, d in values]
            elif kind == 'file':
                lines.append(self.file_line(arg, path) if path.is_file() else f'nofile {arg}')
            elif kind == 'files':
                lines += [f'dir {arg}\\{e}' if (path / e).is_dir() else self.file_line(f'{arg}\\{e}', path / e)
                          for e in sorted(os.listdir(path))] if path.is_dir() else [f'nofolder {arg}']
            elif kind == 'devices':  # Wine marks a device created but never registered as a phantom
                for lower, (name, values) in reg.items():
                    guid, desc = (text_of(values, 'ClassGUID') or '').lower(), text_of(values, 'DeviceDesc')
                    if lower.startswith(ENUM) and lower.count('\\') == 5 and guid in CLASSES \
                            and text_of(values, 'Phantom') is None:
                        lines.append(f'device {CLASSES[guid]} {name[len(ENUM):]} '
                                     + ('desc=none' if desc is None else f'desc="{desc}"'))
            elif kind == 'service':
                lines.append(f'service {arg} ' + ('present' if SERVICES + arg.lower() in reg else 'absent'))
            elif kind == 'catalogs':
                folder = self.linux(self.system_folder + r'\catroot\{F750E6C3-38EE-11D1-85E5-00C04FC295EE}')
                lines += [f'catalog {c.name}' for e in (folder.iterdir() if folder.is_dir() else [])
                          for c in SAMPLE.glob('*.[cC][aA][tT]') if c.read_bytes() == e.read_bytes()]
        return lines

    def file_line(self, windows_path, path):
        attr = ''.join(c for b, c in BITS if self.attributes(path) & b) or '-'
        return f'file {windows_path} size={path.stat().st_size} attr={attr}'

    def items(self):
        return [('key', r'Software\Orvix'), ('key', UNINSTALL + r'\qnetprep'), ('key', UNINSTALL + r'\Lumora'),
                ('files', r'C:\Program Files\Orvix'), ('files', r'C:\Program Files\Orvix\qnetprep'),
                ('files', self.inf_store), ('file', self.system_folder + r'\qnetprep.exe'), 'devices',
                ('service', 'RX90K'), 'catalogs']

    def observe(self, extra=()):
        """The state as scenarios compare it: what differs from the machine's own INFs and devices,
        a stored INF shown as {stored <the package INF it holds>}."""
        self.label_stored()
        current = self.state(self.items() + list(extra))
        lines = [x for x in current if x not in self.baseline] + ['lost ' + x for x in self.baseline - set(current)]
        for stored, label in self.labels.items():
            for pattern, shown in ((f'^file {re.escape(stored)} ', f'file {{stored {label}}} '),
                                   (f'^file {re.escape(stored[:-4])}\\.pnf size=\\d+', f'file {{PNF of {label}}} size=*'),
                                   (f'"{re.escape(stored.replace(chr(92), chr(92) * 2))}"\\+NUL\\*\\d+',
                                    f'"{{stored {label}}}"+NUL*...')):
                lines = [re.sub(pattern, shown, x, flags=re.I) for x in lines]
        return lines

    def label_stored(self):  # remembered, also once another program has changed the file; an older one too
        self.labels.update({f'{self.inf_store}\\{e.name}'.lower(): s.name for e in self.linux(self.inf_store).iterdir()
                            for s in SAMPLE.glob('*.inf') if e.suffix.lower() == '.inf'
                            and e.read_bytes().startswith(s.read_bytes())})

    def run(self, folder, tail, exact=False, program=None, traced=False):
        """Runs `<folder>\\qnetprep.exe <tail>` (or the command line `tail` as given, or `program <tail>`) from
        the folder; traced, also gives the program's calls and counts its device removals (self.removals)."""
        self.label_stored()
        status, out, asked, calls = self.start(folder, tail, exact, program, traced)
        self.label_stored()  # before another program changes a stored INF
        store = self.inf_store.lower() + '\\'
        return status, out, [f'{{stored {self.labels.get(store + n.lower(), n)}}} {int(f, 16):#x}' for n, f in asked], calls


class Sim(Machine):
    name, root_name, registry_name = 'sim', 'machine', 'registry.reg'
    inf_store, system_folder = r'C:\Windows\INF', r'C:\Windows\System32'
    settings = {}  # of the machine's setup: {b'QNETPREP_WOW64': b'1'}

    def open(self):
        self.call({b'QNETPREP_CRASH_AT': b'1'}, [], self.dir)  # stopped at its first call, it saves a new machine
        # What the machine is, as a Wine prefix of that kind says it.
        self.seed_key(r'SYSTEM\CurrentControlSet\Control\Session Manager\Environment',
                      f'"PROCESSOR_ARCHITECTURE"="{"x86" if self.arch == "x86" else "AMD64"}"')
        self.baseline = set(self.state([('files', self.inf_store), 'devices']))

    def call(self, settings, args, cwd):
        env = {k.encode(): v.encode() for k, v in os.environ.items() if not k.startswith('QNETPREP_')}
        env.update({b'QNETPREP_MACHINE': bytes(self.root), b'ProgramFiles': b'C:\\Program Files',
                    b'QNETPREP_CALL_LOG': bytes(self.dir / 'calls.txt'), **self.settings, **settings})
        with open(self.dir / 'stdout.txt', 'wb') as out:
            status = subprocess.run([SIM_EXE, *args], cwd=cwd, env=env, stdout=out, timeout=60).returncode
        calls = (self.dir / 'calls.txt').read_text('latin-1').splitlines() if status != 86 else []
        return status, (self.dir / 'stdout.txt').read_bytes().decode('cp1252'), calls

    def start(self, folder, tail, exact, program, traced):
        settings = {b'QNETPREP_COMMAND_LINE': tail} if exact else {}
        settings.update({b'QNETPREP_PROGRAM': program.encode('latin-1')} if program else {})
        status, out, calls = self.call(settings, [] if exact else tail.split(), self.linux(folder))
        self.removals = [sum(c.startswith('SetupDiCallClassInstaller 0x5 ') for c in calls),
                         sum(c.startswith('SetupDiRemoveDevice ') for c in calls)]
        paths = [(name, re.sub(r' (style|flags)=\S+$', '', detail).split(' -> ') if detail else [])
                 for name, _, detail in (c.partition(' ') for c in calls)]
        return status, out, [re.split(' (?:flags=)?', c)[1:3] for c in calls if c.startswith('SetupUninstallOEMInfA ')], \
            paths if traced else []

    def first_calls(self, folder):
        return [re.sub(r' (\d+)$', lambda m: f' {int(m[1]):#x}', c) for c in self.call({}, ['/u'], self.linux(folder))[2][:3]]

    def attributes(self, path):
        listing = self.root / 'file-attributes.txt'
        lines = [x.split(' ', 1) for x in (listing.read_text().splitlines() if listing.exists() else [])]
        return next((int(bits, 16) for bits, name in reversed(lines) if self.root / name == path), 0)

    def set_attributes(self, path, bits):
        with open(self.root / 'file-attributes.txt', 'a') as f:
            f.write(f'{bits | self.attributes(path):#x} {path.relative_to(self.root)}\n')


# Calls of the runtime start-up linked into the exe, before WinMain: its start-up information, and the
# i686 runtime's look for a shared libgcc to register its unwind tables with (it loads nothing).
RUNTIME_START_UP = r'GetStartupInfoA |GetModuleHandleA libgcc_s_dw2-1\.dll$'


class Wine(Machine):
    wine, root_name, registry_name = True, 'prefix', 'system.reg'
    inf_store, system_folder = r'C:\windows\inf', r'C:\windows\system32'

    def __init__(self, program, arch):  # beside the template: its files are linked, not copied
        self.name, self.parent = f'wine-{arch}', Path(os.environ['QNETPREP_WINE_TEMPLATE']).parent
        super().__init__(program, arch=arch)
        self.helpers = self.program.parent / 'tests' / 'windows'
        self.env = dict(os.environ, WINEPREFIX=str(self.root), WINEDLLOVERRIDES='mscoree,mshtml=', LC_ALL='C.UTF-8')
        # The 64-bit loader: "wine" starts the 32-bit one, which looks for system32 programs in syswow64.
        wine64 = Path(shutil.which('wine64') or '/usr/lib/wine/wine64')
        self.loader = str(wine64) if arch == 'x64' and wine64.exists() else os.environ.get('WINE', 'wine')

    def open(self):
        # Linked: no file changes in place but the registry's, which the seeding appends to: copied.
        template = Path(os.environ['QNETPREP_WINE_TEMPLATE'])
        subprocess.run(['cp', '-al', template, self.root], check=True)
        subprocess.run(['cp', '--remove-destination', *template.glob('*.reg'), self.root], check=True)
        self.baseline = set(self.state([('files', self.inf_store), 'devices']))

    def wine_run(self, args, cwd, debug):
        """Runs a Windows program, then ends the server, which writes the registry file."""
        env = dict(self.env, WINEDEBUG=debug)
        # Files, not pipes: services that Wine starts inherit the handles and outlive the run.
        try:
            with open(self.dir / 'stdout.txt', 'wb') as out, open(self.dir / 'stderr.txt', 'wb') as err:
                status = subprocess.run([self.loader, *args], cwd=cwd, env=env, stdout=out, stderr=err,
                                        timeout=240).returncode
        finally:  # also after a timeout, before the prefix is removed
            for flag in ('-k', '-w'):
                subprocess.run([os.environ.get('WINESERVER', 'wineserver'), flag], env=env, timeout=60)
        return status, (self.dir / 'stdout.txt').read_bytes().decode('cp1252'), self.dir / 'stderr.txt'

    def start(self, folder, tail, exact, program, traced):
        args = [str(self.helpers / 'qnetprep_start.exe'), tail.hex()] if exact else [
            program or f'{folder}\\qnetprep.exe', *tail.split()]
        debug = '-all,trace+setupapi' + (',+relay,+loaddll' if traced else '')
        status, out, err = self.wine_run(args, self.linux(folder), debug)
        text = err.read_text('latin-1')
        calls = []
        if traced:  # the system's own removal calls come from setupapi, not from the program
            own = self.program_calls(text, program or 'qnetprep.exe')
            self.removals = [sum(f == 'SetupDiCallClassInstaller' and int(a.split(',')[0], 16) == 5 for f, a in own),
                             sum(f == 'SetupDiRemoveDevice' for f, a in own)]
            calls = [(func, [unescape(s) for s in re.findall(r'"((?:[^"\\]|\\.)*)"', args)]) for func, args in own]
        return status, out, re.findall(r':SetupUninstallOEMInfA "(.*?)", (0x[0-9a-f]+)', text), calls

    @staticmethod
    def program_calls(text, program):
        """(function, arguments) of the calls in a relay trace that the program's image makes on its main
        thread, but for those into the C runtime and ntdll."""
        name = re.escape(program.rpartition('\\')[2])
        loaded = re.search(f'^(\\w+):trace:loaddll:\\w+ Loaded L"[^"]*{name}" at ([0-9a-fA-F]+)', text, re.M | re.I)
        assert loaded, f'no {program} in the +loaddll trace'
        return [(func, args) for module, func, args, ret in
                re.findall(f'^{loaded[1]}:Call (\\w+)\\.(\\w+)\\((.*)\\) ret=(\\w+)$', text, re.M)
                if 0 <= int(ret, 16) - int(loaded[2], 16) < 0x100000 and module not in ('msvcrt', 'ucrtbase', 'ntdll')]

    def first_calls(self, folder):
        """The program's first calls in a relay trace: those from its image on its main thread,
        but for the runtime's DLL helpers and start-up. No platform call may come before."""
        text = self.wine_run([f'{folder}\\qnetprep.exe', '/u'], self.linux(folder), '-all,+relay,+loaddll')[2] \
            .read_text('latin-1')
        calls = []
        for func, args in self.program_calls(text, 'qnetprep.exe'):
            quoted, number = re.search(r'"(.*)"', args), re.fullmatch('[0-9a-f]+', args)
            calls.append(f'{func} ' + (quoted[1] if quoted else f'{int(args, 16):#x}' if number else args))
        first = calls.index('GetModuleHandleA kernel32.dll') if 'GetModuleHandleA kernel32.dll' in calls else len(calls)
        early = [c for c in calls[:first] if re.match(r'\w*A |Reg|Setup|SH|\w*Service|OpenSC', c)
                 and not re.match(RUNTIME_START_UP, c)]
        assert not early, f'calls before the DLL search hardening: {early}'
        return calls[first:first + 3]

    def attributes(self, path):  # read-only is the mode; hidden and system an extended attribute
        dos = os.getxattr(path, 'user.DOSATTRIB') if 'user.DOSATTRIB' in os.listxattr(path) else b'0'
        return int(dos.rstrip(b'\0'), 16) & 6 | (0 if path.stat().st_mode & 0o222 else 1)

    def set_attributes(self, path, bits):
        os.setxattr(path, 'user.DOSATTRIB', f'{(bits | self.attributes(path)) & 6:#x}'.encode())
        path.chmod(path.stat().st_mode & ~0o222 if bits & 1 else path.stat().st_mode)


def expect(what, expected, actual):
    diff = [f'-{x}' for x in expected if x not in actual] + [f'+{x}' for x in actual if x not in expected]
    assert expected == actual, f'{what} differs (- expected, + seen):\n' + '\n'.join(diff or [f'{expected} != {actual}'])


def for_arch(lines, arch):
    """Expected lines; one that starts with "x64: " or "x86: " holds for that build's machine only."""
    return [x[5:] if x[:5] == f'{arch}: ' else x for x in lines if x[:5] not in ('x64: ', 'x86: ') or x[:5] == f'{arch}: ']


def play(m, steps):
    """Plays a scenario up to its first surprise; runs and states also go to m.transcript."""
    m.open()
    for op, *args in steps:
        if op == 'device':
            guid = NET if args[0] == 'net' else OTHER
            m.seed_key('SYSTEM\\CurrentControlSet\\Enum\\' + args[1], f'"ClassGUID"="{guid}"',
                       *([f'"DeviceDesc"="{args[2]}"'] if args[2] else []))
        elif op == 'key':
            m.seed_key(*args)
        elif op == 'program':
            m.linux(args[0]).parent.mkdir(parents=True, exist_ok=True)
            shutil.copy(m.program, m.linux(args[0]))
        elif op == 'package':
            m.linux(args[0]).mkdir(parents=True, exist_ok=True)
            for f in [f for f in SAMPLE.iterdir() if f.name not in args[1:]] + [m.program]:
                shutil.copy(f, m.linux(args[0]) / ('qnetprep.exe' if f == m.program else f.name))
        elif op == 'file':
            m.linux(args[0]).parent.mkdir(parents=True, exist_ok=True)
            m.linux(args[0]).write_bytes(args[1])
            m.set_attributes(m.linux(args[0]), sum(b for b, c in BITS if c in args[2]))
        elif op == 'slot':  # the stored INF that a record names, changed by another program
            named = text_of(read_registry(m.registry_file, m.wine)[PARAMS.lower()][1], args[0])
            path = m.linux(named)
            if args[1] == 'upper':
                stem, dot, extension = named.rpartition('.')
                m.seed_key(PARAMS, f'"{args[0]}"="' + (stem.upper() + dot + extension).replace('\\', '\\\\') + '"')
            elif args[1] == 'append':
                path.write_bytes(path.read_bytes() + args[2])
            else:
                m.set_attributes(path, sum(b for b, c in BITS if c in args[2]))
        elif op in ('run', 'exact', 'started', 'traced run'):
            program = args.pop(0) if op == 'started' else None
            status, out, asked, calls = m.run(args[0], args[1], op == 'exact', program, op == 'traced run')
            counted = op == 'traced run' and len(args) > 4
            record = [f'exit {status}', f'stdout [{out}]'] + [f'uninstall asked {a}' for a in asked] + (
                [f'SetupDiCallClassInstaller(DIF_REMOVE) calls {m.removals[0]}',
                 f'SetupDiRemoveDevice calls {m.removals[1]}'] if counted else [])
            m.transcript += [f'== {op} in {args[0]}: {args[1]}'] + mask(record, False)
            expect(f'{op} {args[1]!r}', ['exit 1', f'stdout [{args[2]}]'] +
                   [f'uninstall asked {{stored {a}}} 0x1' for a in args[3]] + for_arch(args[4:], m.arch), record)
            if op == 'traced run':
                order = package_reads_after_removal(calls, args[0])
                m.transcript += ['== order'] + order
                expect('order', ['a device removed first'], order)
        elif op == 'state':
            actual = sorted(mask(m.observe(args[1] if len(args) > 1 else ()), False))
            m.transcript += ['== state'] + actual
            expected = [x.replace('size=EXE', f'size={m.program.stat().st_size}') for x in for_arch(args[0], m.arch)]
            expect('state', sorted(mask(expected, m.wine)), mask(actual, m.wine))
        elif op == 'same content':
            folder = m.linux(r'C:\Program Files\Orvix\qnetprep')
            for copy, source in [(folder / f.name, f) for f in SAMPLE.iterdir()] + [
                    (m.linux(m.system_folder + r'\qnetprep.exe'), m.program), (folder / 'qnetprep.exe', m.program)]:
                assert not copy.exists() or copy.read_bytes() == source.read_bytes(), f'{copy} differs from {source}'
        elif op == 'first calls':
            m.transcript += ['== first calls'] + m.first_calls(args[0])
            expect('first calls', args[1], m.transcript[-3:])


def scenario_on(m, name):
    if name == 'under_wow64' and not m.wine:
        m.settings = {b'QNETPREP_WOW64': b'1'}
    try:
        return play(m, UNDER_WOW64 if name == 'under_wow64' else SCENARIOS[name]) or []
    except (AssertionError, subprocess.TimeoutExpired) as failure:
        return [f'FAIL: {name} on the {m.name} machine: {failure}']
    finally:
        m.close()


def windows_exe(arch):
    build = os.environ.get('QNETPREP_WINDOWS_BUILD_DIR' if arch == 'x64' else 'QNETPREP_WINDOWS_X86_BUILD_DIR')
    return Path(build or ROOT / 'build' / ('windows' if arch == 'x64' else 'windows-x86')) / 'qnetprep.exe'


def compare(arch, name):
    machines = [Wine(windows_exe(arch), arch), Sim(windows_exe(arch), arch=arch)]
    failures = [f for m in machines for f in scenario_on(m, name)]
    wine, sim = (mask(m.transcript, True) for m in machines)
    return failures or ([] if wine == sim else [
        f'FAIL: {name} shows differently under Wine ({arch}) and on the simulated machine:\n'
        + '\n'.join(difflib.unified_diff(wine, sim, 'wine', 'sim', lineterm=''))])


def template(arch, folder):
    """Boots the prefix to copy unless one booted with today's Wine packages is there (wine32 breaks older ones)."""
    folder, stamp = Path(folder), arch + subprocess.run(
        ['dpkg-query', '-W', 'wine', 'wine64', 'wine32:i386', 'libwine'], capture_output=True, text=True).stdout
    if (folder / 'qnetprep-stamp').exists() and (folder / 'qnetprep-stamp').read_text() == stamp:
        return []
    shutil.rmtree(folder, ignore_errors=True)
    env = dict(os.environ, WINEPREFIX=str(folder), WINEDEBUG='-all', WINEDLLOVERRIDES='mscoree,mshtml=',
               **({'WINEARCH': 'win32'} if arch == 'x86' else {}))
    boot = subprocess.run([os.environ.get('WINEBOOT', 'wineboot'), '-i'], env=env, capture_output=True, timeout=300)
    subprocess.run([os.environ.get('WINESERVER', 'wineserver'), '-w'], env=env, timeout=120)
    # A 32-bit prefix says so in its registry and has no folder for 32-bit programs on 64 bits.
    win32 = boot.returncode == 0 and '#arch=win32' in (folder / 'system.reg').read_text('latin-1')
    if win32 != (arch == 'x86') or win32 == (folder / 'drive_c/windows/syswow64').exists():
        return [f'FAIL: no {arch} prefix booted in {folder}: {boot.stderr.decode(errors="replace")[-2000:]}']
    (folder / 'qnetprep-stamp').write_text(stamp)
    return []


def pe_checksum(image, field):  # 16-bit words with end-around carry, the field as 0, plus the length
    total = 0
    for i in range(0, len(image), 2):
        total += 0 if field <= i < field + 4 else int.from_bytes(image[i:i + 2], 'little')
        total = (total & 0xFFFF) + (total >> 16)
    return total + len(image)


def same_bytes(arch):
    """Builds the exe again in a new folder: one source gives one exe, byte for byte."""
    built = windows_exe(arch)
    toolchain = ROOT / 'cmake' / ('mingw-w64-x86_64.cmake' if arch == 'x64' else 'mingw-w64-i686.cmake')
    with tempfile.TemporaryDirectory(prefix='qnetprep-again.') as folder:
        for step in (['cmake', '-S', ROOT, '-B', folder, '--toolchain', toolchain,
                      '-DCMAKE_BUILD_TYPE=MinSizeRel'], ['cmake', '--build', folder, '--target', 'qnetprep', '-j2']):
            done = subprocess.run(step, capture_output=True, text=True)
            if done.returncode:
                return [f'FAIL: {" ".join(map(str, step))}:\n{done.stdout[-2000:]}{done.stderr[-2000:]}']
        again = Path(folder) / 'qnetprep.exe'
        differ = [i for i, (a, b) in enumerate(zip(built.read_bytes(), again.read_bytes())) if a != b]
        print(f'{built}: {built.stat().st_size} bytes, built again: {again.stat().st_size} bytes')
        return [] if built.read_bytes() == again.read_bytes() else [
            f'FAIL: {built} and {again} differ, first at byte {differ[:1]}, sizes {built.stat().st_size} '
            f'and {again.stat().st_size}']


def footprint(arch):
    """What the exe carries onto a bare Windows; its resources read under Wine as Windows reads them."""
    exe = windows_exe(arch)
    objdump = ('x86_64' if arch == 'x64' else 'i686') + '-w64-mingw32-objdump'
    headers = subprocess.run([objdump, '-p', exe], capture_output=True, text=True).stdout
    flags = (re.search(r'^DllCharacteristics\s+\w+\n((?:\t+\w+\n)*)', headers, re.M) or [''] * 2)[1].split()
    dlls = {d.lower() for d in re.findall(r'DLL Name: (\S+)', headers)}
    wanted = {'DYNAMIC_BASE', 'NX_COMPAT', 'TERMINAL_SERVICE_AWARE'} | ({'HIGH_ENTROPY_VA'} if arch == 'x64' else set())
    image = exe.read_bytes()
    pe = int.from_bytes(image[0x3C:0x40], 'little')
    stamp, characteristics = int.from_bytes(image[pe + 8:pe + 12], 'little'), int.from_bytes(image[pe + 22:pe + 24], 'little')
    checksum = int.from_bytes(image[pe + 88:pe + 92], 'little')
    checks = {'machine': f'file format {"pei-x86-64" if arch == "x64" else "pei-i386"}' in headers,
              'GUI subsystem': '(Windows GUI)' in headers,
              f'imports {sorted(dlls)} of the system only': dlls and dlls <= {
                  'kernel32.dll', 'user32.dll', 'advapi32.dll', 'setupapi.dll', 'shlwapi.dll', 'msvcrt.dll'},
              'no symbols': 'no symbols' in subprocess.run([objdump, '-t', exe], capture_output=True, text=True).stdout,
              f'size {exe.stat().st_size} at most 65536': exe.stat().st_size <= 65536,
              f'DllCharacteristics {flags} with {wanted}': wanted <= set(flags),
              f'Characteristics {characteristics:#x} with both run-from-swap bits': characteristics & 0xC00 == 0xC00,
              f'time stamp {stamp:#x} none': stamp == 0,
              f'checksum {checksum:#x} of the bytes': checksum == pe_checksum(image, pe + 88),
              'relocations': 'Base Relocation Directory [.reloc]' in headers and 'relocations stripped' not in headers}
    problems = [f'FAIL: {exe}: {what}' for what, good in checks.items() if not good]
    m = Wine(exe, arch)
    try:
        m.open()
        shutil.copy(exe, m.linux(r'C:\checked.exe'))
        status, shown, _ = m.wine_run([str(m.helpers / 'qnetprep_resources.exe'), r'C:\checked.exe'], m.dir, '-all')
    finally:
        m.close()
    version, _, manifest = shown.replace('\r', '').partition('Manifest ')
    if status or version.split('\n') != ['FileVersion 0.0.3.7', 'ProductVersion 0.0.3.7', 'FileOS 0x40004', 'FileType 1',
                                         'String FileDescription=qnetprep', 'String FileVersion=0, 0, 3, 7',
                                         'String InternalName=qnetprep', 'String OriginalFilename=qnetprep.exe',
                                         'String ProductName=qnetprep', 'String ProductVersion=0, 0, 3, 7', '']:
        problems.append(f'FAIL: {exe}: resources read as:\n{shown}')
    for part in ['level="requireAdministrator"', 'uiAccess="false"'] + [f'<supportedOS Id="{{{g}}}"/>' for g in (
            'e2011457-1546-43c5-a5fe-008deee3d3f0 35138b9a-5d96-4fbd-8e2d-a2440225f93a 4a2f28e3-53b9-4441-ba9c-'
            'd69d4a4a6e38 1f676c76-80e1-4239-95bb-83d0f6d0da78 8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a').split()]:
        problems += [] if part in manifest else [f'FAIL: {exe}: manifest without {part}:\n{manifest}']
    print(f'{exe}: {exe.stat().st_size} bytes, imports {sorted(dlls)}, {flags}\nmanifest {manifest}')
    return problems


def main(command, *args):
    if command == 'state':  # the demo: an existing simulated machine, as it is
        m = Sim('/dev/null', args[0])
        return print('\n'.join(sorted(m.state(m.items())))) or sys.exit(0)
    if command == 'wine':
        checks = {'footprint': footprint, 'same_bytes': same_bytes}
        return checks[args[1]](args[0]) if args[1] in checks else compare(*args)
    return scenario_on(Sim(SIM_EXE), args[0]) if command == 'sim' else template(*args)


if __name__ == '__main__':
    problems = main(*sys.argv[1:]) if len(sys.argv) > 2 else [__doc__]
    print('\n'.join(problems) or f'PASS: {" ".join(sys.argv[1:])}', file=sys.stderr if problems else sys.stdout)
    sys.exit(1 if problems else 0)
