"""e2e.py sim <scenario> | wine <x64|x86> <scenario|footprint|same_bytes> | template <x64|x86> <folder>
(README: "The end-to-end scenarios"). QNETPREP_KEEP_MACHINE=1 keeps the machine folders for a look."""
import difflib, filecmp, os, re, shutil, subprocess, sys, tempfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / 'scripts'))
from machine_state import BITS, FOLDER, NET, OTHER, SAMPLE, MachineView, read_registry, text_of, unescape
from scenarios import NEW_COPY, PARAMS, SCENARIOS, UNDER_WOW64, Device, File, FirstCalls, Key, Package, Run
from scenarios import HardLink, Link, Mode, SameContent, State, StoredInf

ROOT = Path(__file__).resolve().parents[2]
SIM_EXE = os.environ.get('QNETPREP_SIM_EXE') or str(ROOT / 'build/native/qnetprep')


SYSTEM_FOLDERS = {'system32': '{system folder}', 'inf': '{INF store}'}  # Wine's "C:\windows" ones too


def normalised(lines):
    return [re.sub(r'(?i)C:\\+windows\\+(system32|inf)', lambda m: SYSTEM_FOLDERS[m[1].lower()], line)
            for line in lines]


def utf16_hex(ansi_hex):  # the hex bytes of ANSI text as those of its UTF-16 form
    text = bytes.fromhex(ansi_hex.replace(',', '')).decode('cp1252')
    return ','.join(f'{b:02x}' for b in text.encode('utf-16-le'))


# Calls that open, copy, pre-install or look at a file by name; the device removal as the system
# tool's own call, or as the class installer's.
FILE_CALLS = {'CopyFileA', 'CreateFileA', 'CreateDirectoryA', 'DeleteFileA', 'FindFirstFileA',
              'GetFileAttributesA', 'SetFileAttributesA', 'SetupCopyOEMInfA', 'SetupGetInfInformationA',
              'LoadLibraryA', 'LoadLibraryExA'}
REMOVALS = {'SetupDiRemoveDevice', 'SetupDiCallClassInstaller'}


def in_folder(path, folder):  # a relative name is in the current folder
    return path.lower().startswith(folder.lower() + '\\') or not re.match(r'[a-z]:[\\/]|[\\/]{2}', path, re.I)


def late_calls(calls, folder):
    """The calls, (name, [path arguments]) in order, that come too late after the first device removal: one
    that names a file of the package folder, and any pre-install into the INF store."""
    first = next((i for i, (name, _) in enumerate(calls) if name in REMOVALS), None)
    if first is None:
        return ['no device removed']
    late = [f'read after the removal: {name} {p}' for name, paths in calls[first + 1:] if name in FILE_CALLS
            for p in paths if in_folder(p, folder)]
    late += [f'stored after the removal: {p}' for name, p in calls[first + 1:] if name == 'SetupCopyOEMInfA']
    return ['a device removed first'] + late


def removal_counts(calls):  # (function, arguments) of the program's own calls; DIF_REMOVE is 5
    installer = [int(re.split('[ ,]', a)[0], 16) for f, a in calls if f == 'SetupDiCallClassInstaller']
    return [f'SetupDiCallClassInstaller(DIF_REMOVE) calls {installer.count(5)}',
            f'SetupDiRemoveDevice calls {sum(f == "SetupDiRemoveDevice" for f, _ in calls)}']


class Machine(MachineView):  # and its way of running qnetprep
    parent = None

    def __init__(self, program, root=None, arch='x64'):
        self.program, self.arch = Path(program), arch  # the exe in packages (data on the simulated side)
        self.dir = Path(root or tempfile.mkdtemp(prefix=f'qnetprep-{self.name}.', dir=self.parent))
        self.root = self.dir if root else self.dir / self.root_name
        self.registry_file = self.root / self.registry_name
        self.transcript, self.labels, self.baseline, self.step = [], {}, set(), 'the set-up'

    def close(self):
        if not os.environ.get('QNETPREP_KEEP_MACHINE'):
            return shutil.rmtree(self.dir, ignore_errors=True)
        print(f'machine kept in {self.dir}', file=sys.stderr)

    def seed_key(self, key, *values):  # REGEDIT4 value lines; no program runs meanwhile
        if self.wine:  # Wine keeps text as UTF-16: ANSI bytes of a hex(1) value become two each
            values = [re.sub(r'=hex\(1\):(.*)', lambda v: '=hex(1):' + utf16_hex(v[1]), x) for x in values]
        with open(self.registry_file, 'a', encoding='latin-1') as f:
            name = key.replace('\\', '\\\\') if self.wine else 'HKEY_LOCAL_MACHINE\\' + key
            f.write(f'\n[{name}]\n' + ''.join(v + '\n' for v in values))

    def observe(self, extra=()):
        """The state as scenarios compare it: what differs from the machine's own INFs and devices,
        a stored INF shown as {stored <the package INF it holds>}."""
        self.label_stored()
        current = self.state(self.items() + list(extra))
        lines = [x for x in current if x not in self.baseline]
        lines += ['lost ' + x for x in self.baseline - set(current)]
        for stored, label in self.labels.items():
            pnf, in_value = re.escape(stored[:-4]) + r'\.pnf', re.escape(stored.replace('\\', '\\\\'))
            for pattern, shown in ((f'^file {re.escape(stored)} ', f'file {{stored {label}}} '),
                                   (f'^file {pnf} size=\\d+', f'file {{PNF of {label}}} size=*'),
                                   (f'"{in_value}"\\+NUL\\*\\d+', f'"{{stored {label}}}"+NUL*...')):
                lines = [re.sub(pattern, shown, x, flags=re.I) for x in lines]
        return lines

    def label_stored(self):  # remembered, also once another program has changed the file; an older one too
        self.labels.update({f'{self.inf_store}\\{e.name}'.lower(): s.name
                            for e in self.linux(self.inf_store).iterdir() if e.suffix.lower() == '.inf'
                            for s in SAMPLE.glob('*.inf') if e.read_bytes().startswith(s.read_bytes())})

    def run(self, run):  # as scenarios.Run says; traced, also the program's calls as (function, arguments)
        self.label_stored()
        status, out, asked, calls = self.start(run)
        self.label_stored()  # before another program changes a stored INF
        store = self.inf_store.lower() + '\\'
        # A copy that no state showed was stored and taken out by this run.
        asked = [f'{{stored {self.labels.get(store + n.lower(), NEW_COPY)}}} {int(f, 16):#x}'
                 for n, f in asked]
        return status, out, asked, calls


class Sim(Machine):
    name, root_name, registry_name = 'sim', 'machine', 'registry.reg'
    settings = {}  # of the machine's setup: {b'QNETPREP_WOW64': b'1'}

    def open(self):
        self.call({b'QNETPREP_CRASH_AT': b'1'}, [], self.dir)  # stopped at once, it saves a new machine
        # What the machine is, as a Wine prefix of that kind says it.
        self.seed_key(r'SYSTEM\CurrentControlSet\Control\Session Manager\Environment',
                      f'"PROCESSOR_ARCHITECTURE"="{"x86" if self.arch == "x86" else "AMD64"}"')

    def call(self, settings, args, cwd):
        env = {k.encode(): v.encode() for k, v in os.environ.items() if not k.startswith('QNETPREP_')}
        env.update({b'QNETPREP_MACHINE': bytes(self.root), b'ProgramFiles': b'C:\\Program Files',
                    b'QNETPREP_CALL_LOG': bytes(self.dir / 'calls.txt'), **self.settings, **settings})
        with open(self.dir / 'stdout.txt', 'wb') as out:
            status = subprocess.run([SIM_EXE, *args], cwd=cwd, env=env, stdout=out, timeout=60).returncode
        calls = (self.dir / 'calls.txt').read_text('latin-1').splitlines() if status != 86 else []
        return status, (self.dir / 'stdout.txt').read_bytes().decode('cp1252'), calls

    def start(self, run):
        settings = {b'QNETPREP_COMMAND_LINE': run.command_line} if run.command_line else {}
        settings.update({b'QNETPREP_PROGRAM': run.program.encode('latin-1')} if run.program else {})
        status, out, calls = self.call(settings, run.tail.split(), self.linux(run.folder))
        asked = [re.split(' (?:flags=)?', c)[1:3] for c in calls if c.startswith('SetupUninstallOEMInfA ')]
        return status, out, asked, [c.partition(' ')[::2] for c in calls] if run.traced else []

    @staticmethod
    def paths(detail):  # the call log writes "from -> to", then a style or flags
        return re.sub(r' (style|flags)=\S+$', '', detail).split(' -> ') if detail else []

    def first_calls(self, folder):
        calls = self.call({}, ['/u'], self.linux(folder))[2][:3]
        return [re.sub(r' (\d+)$', lambda m: f' {int(m[1]):#x}', c) for c in calls]

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
        self.env, self.loader = wine_env(self.root, LC_ALL='C.UTF-8'), loader(arch)

    def open(self):
        # Linked: no file changes in place but the registry's, which the seeding appends to: copied.
        template = Path(os.environ['QNETPREP_WINE_TEMPLATE'])
        subprocess.run(['cp', '-al', template, self.root], check=True)
        subprocess.run(['cp', '--remove-destination', *template.glob('*.reg'), self.root], check=True)

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
                subprocess.run(['wineserver', flag], env=env, timeout=60)
        out, err = (self.dir / 'stdout.txt').read_bytes().decode('cp1252'), self.dir / 'stderr.txt'
        return status, out, err.read_text('latin-1')

    def start(self, run):  # the program's calls come from its image; the system's removal calls from setupapi
        args = [str(self.helpers / 'qnetprep_start.exe'), run.command_line.hex()] if run.command_line else [
            run.program or f'{run.folder}\\qnetprep.exe', *run.tail.split()]
        debug = '-all,trace+setupapi' + (',+relay,+loaddll' if run.traced else '')
        status, out, text = self.wine_run(args, self.linux(run.folder), debug)
        asked = re.findall(r':SetupUninstallOEMInfA "(.*?)", (0x[0-9a-f]+)', text)
        calls = self.program_calls(text, run.program or 'qnetprep.exe') if run.traced else []
        return status, out, asked, calls

    @staticmethod
    def paths(args):  # the quoted arguments of a relay trace's call
        return [unescape(s) for s in re.findall(r'"((?:[^"\\]|\\.)*)"', args)]

    @staticmethod
    def program_calls(text, program):
        """(function, arguments) of the calls in a relay trace that the program's image makes on its main
        thread, but for those into the C runtime and ntdll."""
        name = re.escape(program.rpartition('\\')[2])
        loaded = re.search(f'(?im)^(\\w+):trace:loaddll:\\w+ Loaded L"[^"]*{name}" at ([0-9a-fA-F]+)', text)
        assert loaded, f'no {program} in the +loaddll trace'
        thread, base = loaded[1], int(loaded[2], 16)
        return [(func, args) for module, func, args, ret in
                re.findall(f'^{thread}:Call (\\w+)\\.(\\w+)\\((.*)\\) ret=(\\w+)$', text, re.M)
                if 0 <= int(ret, 16) - base < 0x100000 and module not in ('msvcrt', 'ucrtbase', 'ntdll')]

    def first_calls(self, folder):
        """The program's first calls in a relay trace: those from its image on its main thread,
        but for the runtime's DLL helpers and start-up. No platform call may come before."""
        run = [f'{folder}\\qnetprep.exe', '/u']
        _, _, trace = self.wine_run(run, self.linux(folder), '-all,+relay,+loaddll')
        calls = []
        for func, args in self.program_calls(trace, 'qnetprep.exe'):
            quoted, number = re.search(r'"(.*)"', args), re.fullmatch('[0-9a-f]+', args)
            calls.append(f'{func} ' + (quoted[1] if quoted else f'{int(args, 16):#x}' if number else args))
        hardening = 'GetModuleHandleA kernel32.dll'
        first = calls.index(hardening) if hardening in calls else len(calls)
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


def expect(what, expected, actual):  # a failure lists the lines missing (-) and those not expected (+)
    diff = [f'-{x}' for x in expected if x not in actual] + [f'+{x}' for x in actual if x not in expected]
    shown = '\n'.join(diff or [f'{expected} != {actual}'])  # or the same lines in another order
    assert expected == actual, f'{what} differs (- expected, + seen):\n{shown}'


def for_arch(lines, arch):
    """Expected lines; one that starts with "x64: " or "x86: " holds for that build's machine only."""
    others = {'x64: ', 'x86: '} - {f'{arch}: '}
    return [x.removeprefix(f'{arch}: ') for x in lines if x[:5] not in others]


def named(step):  # as a failure names a step: its kind, and a run's tail or command line
    return type(step).__name__ + (f' {step.command_line or step.tail!r}' if isinstance(step, Run) else '')


def play(m, steps):
    """Plays a scenario up to its first surprise (m.step names the step); runs, states: m.transcript."""
    m.open()
    m.baseline = set(m.state([('files', m.inf_store), 'devices']))
    for number, step in enumerate(steps, 1):
        m.step = f'step {number} ({named(step)})'
        match step:
            case Device(kind, instance, desc):
                m.seed_key('SYSTEM\\CurrentControlSet\\Enum\\' + instance,
                           f'"ClassGUID"="{NET if kind == "net" else OTHER}"',
                           *([f'"DeviceDesc"="{desc}"'] if desc else []))
            case Key(path, values):
                m.seed_key(path, *values)
            case Package(folder, left_out):
                m.linux(folder).mkdir(parents=True, exist_ok=True)
                for f in [f for f in SAMPLE.iterdir() if f.name not in left_out] + [m.program]:
                    shutil.copy(f, m.linux(folder) / ('qnetprep.exe' if f == m.program else f.name))
            case File(path, content, attributes):
                m.linux(path).parent.mkdir(parents=True, exist_ok=True)
                m.linux(path).write_bytes(m.program.read_bytes() if content is None else content)
                m.set_attributes(m.linux(path), sum(b for b, c in BITS if c in attributes))
            case StoredInf(slot, attributes, capitals):
                inf = text_of(read_registry(m.registry_file, m.wine)[PARAMS.lower()][1], slot)
                stem, dot, extension = inf.rpartition('.')
                if capitals:
                    m.seed_key(PARAMS, f'"{slot}"="{stem.upper() + dot + extension}"'.replace('\\', '\\\\'))
                else:
                    m.set_attributes(m.linux(inf), sum(b for b, c in BITS if c in attributes))
            case Link(path, folder):  # both machines read it as a reparse point
                m.linux(folder).mkdir(parents=True, exist_ok=True)
                m.linux(path).parent.mkdir(parents=True, exist_ok=True)
                m.linux(path).symlink_to(m.linux(folder), target_is_directory=True)
            case HardLink(path, file):
                m.linux(path).parent.mkdir(parents=True, exist_ok=True)
                os.link(m.linux(file), m.linux(path))
            case Mode(folder, mode):  # both machines read the bits for others as Everyone's access entry
                m.linux(folder).mkdir(parents=True, exist_ok=True)
                m.linux(folder).chmod(mode)
            case Run():
                play_run(m, step)
            case State():
                play_state(m, step)
            case SameContent():
                staged, self_copy = m.linux(FOLDER), m.linux(m.system_folder + r'\qnetprep.exe')
                for copy, src in [(staged / f.name, f) for f in SAMPLE.iterdir()] + [
                        (self_copy, m.program), (staged / 'qnetprep.exe', m.program)]:
                    assert not copy.exists() or filecmp.cmp(copy, src, False), f'{copy} differs from {src}'
            case FirstCalls(folder, calls):
                m.transcript += ['== first calls'] + m.first_calls(folder)
                expect('first calls', calls, m.transcript[-3:])
            case _:  # a step that nothing plays would pass unchecked
                raise AssertionError(f'no way to play {step!r}')


def play_run(m, run):
    status, out, asked, calls = m.run(run)
    record = [f'exit {status}', f'stdout [{out}]'] + [f'uninstall asked {a}' for a in asked]
    record += removal_counts(calls) if run.removals else []
    m.transcript += [f'== {named(run)} in {run.folder}'] + normalised(record)
    asked_for = [f'uninstall asked {{stored {inf}}} 0x1' for inf in run.uninstalled]
    expect('run', ['exit 1', f'stdout [{run.stdout}]', *asked_for, *for_arch(run.removals, m.arch)], record)
    if run.traced:
        order = late_calls([(f, m.paths(a)) for f, a in calls], run.folder)
        m.transcript += ['== order'] + order
        expect('order', ['a device removed first'], order)


def play_state(m, state):  # with the lines that Wine shows beyond it, all still shown, but in the transcript
    actual = sorted(normalised(m.observe(state.also)))
    wine_lines = [x for d in state.wine_differs for x in d.lines] if m.wine else []
    m.transcript += ['== state'] + [x for x in actual if x not in wine_lines]
    for d in state.wine_differs if m.wine else ():
        gone = [x for x in d.lines if x not in actual]
        assert not gone, f'Wine no longer shows "{d.name}" ({d.reason}): {gone} not seen; the mark has to go'
    exe_size = f'size={m.program.stat().st_size}'
    expected = [x.replace('size=EXE', exe_size) for x in for_arch(state.lines, m.arch)] + wine_lines
    expect('state', sorted(normalised(expected)), actual)


def scenario_on(m, name):
    if name == 'under_wow64' and not m.wine:
        m.settings = {b'QNETPREP_WOW64': b'1'}
    try:
        return play(m, UNDER_WOW64 if name == 'under_wow64' else SCENARIOS[name]) or []
    except (AssertionError, subprocess.TimeoutExpired) as failure:
        return [f'FAIL: {name}, {m.step} on the {m.name} machine: {failure}']
    finally:
        m.close()


def windows_exe(arch):  # as its preset builds it
    return ROOT / 'build' / ('windows' if arch == 'x64' else 'windows-x86') / 'qnetprep.exe'


def compare(arch, name):
    machines = [Wine(windows_exe(arch), arch), Sim(windows_exe(arch), arch=arch)]
    failures = [f for m in machines for f in scenario_on(m, name)]
    wine, sim = (m.transcript for m in machines)
    return failures or ([] if wine == sim else [
        f'FAIL: {name} shows differently under Wine ({arch}) and on the simulated machine:\n'
        + '\n'.join(difflib.unified_diff(wine, sim, 'wine', 'sim', lineterm=''))])


def output(*command):
    return subprocess.run(command, capture_output=True, text=True).stdout


def loader(arch):  # "wine" starts the 32-bit loader, which looks for system32 programs in syswow64
    wine64 = Path(shutil.which('wine64') or '/usr/lib/wine/wine64')
    return str(wine64) if arch == 'x64' and wine64.exists() else 'wine'


def wine_env(prefix, **more):  # no Mono or Gecko installer to offer: a prefix boots, and runs, unattended
    return dict(os.environ, WINEPREFIX=str(prefix), WINEDLLOVERRIDES='mscoree,mshtml=', **more)


def template(arch, folder):
    """Boots the prefix to copy unless today's Wine packages booted it (wine32 breaks older ones)."""
    folder = Path(folder)
    stamp = arch + output('dpkg-query', '-W', 'wine', 'wine64', 'wine32:i386', 'libwine')
    if (folder / 'qnetprep-stamp').exists() and (folder / 'qnetprep-stamp').read_text() == stamp:
        return []
    shutil.rmtree(folder, ignore_errors=True)
    env = wine_env(folder, WINEDEBUG='-all', **({'WINEARCH': 'win32'} if arch == 'x86' else {}))
    boot = subprocess.run([loader(arch), 'wineboot', '-i'], env=env, capture_output=True, timeout=300)
    subprocess.run(['wineserver', '-w'], env=env, timeout=120)
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
        configure = ['cmake', '-S', ROOT, '-B', folder, '--toolchain', toolchain,
                     '-DCMAKE_BUILD_TYPE=MinSizeRel']
        for step in (configure, ['cmake', '--build', folder, '--target', 'qnetprep', '-j2']):
            done = subprocess.run(step, capture_output=True, text=True)
            if done.returncode:
                return [f'FAIL: {" ".join(map(str, step))}:\n{done.stdout[-2000:]}{done.stderr[-2000:]}']
        one, again = built.read_bytes(), (Path(folder) / 'qnetprep.exe').read_bytes()
    print(f'{built}: {len(one)} bytes, built again: {len(again)} bytes')
    first = next((i for i, (a, b) in enumerate(zip(one, again)) if a != b), min(len(one), len(again)))
    return [] if one == again else [f'FAIL: {built} built again differs, first at byte {first}']


# What the exe's version resource and manifest say, read under Wine as Windows reads them; the
# manifest names Windows Vista, 7, 8, 8.1 and 10.
VERSION = ['FileVersion 0.0.3.7', 'ProductVersion 0.0.3.7', 'FileOS 0x40004', 'FileType 1',
           'String FileDescription=qnetprep', 'String FileVersion=0, 0, 3, 7', 'String InternalName=qnetprep',
           'String OriginalFilename=qnetprep.exe', 'String ProductName=qnetprep',
           'String ProductVersion=0, 0, 3, 7', '']
MANIFEST = ['level="requireAdministrator"', 'uiAccess="false"'] + [f'<supportedOS Id="{{{g}}}"/>' for g in (
    'e2011457-1546-43c5-a5fe-008deee3d3f0', '35138b9a-5d96-4fbd-8e2d-a2440225f93a',
    '4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38', '1f676c76-80e1-4239-95bb-83d0f6d0da78',
    '8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a')]
SYSTEM_DLLS = {'kernel32.dll', 'user32.dll', 'advapi32.dll', 'setupapi.dll', 'shlwapi.dll', 'msvcrt.dll'}


def footprint(arch):
    """What the exe carries onto a bare Windows; its resources read under Wine as Windows reads them."""
    exe, x64 = windows_exe(arch), arch == 'x64'
    objdump = ('x86_64' if x64 else 'i686') + '-w64-mingw32-objdump'
    headers = output(objdump, '-p', exe)
    flags = (re.search(r'^DllCharacteristics\s+\w+\n((?:\t+\w+\n)*)', headers, re.M) or [''] * 2)[1].split()
    dlls = {d.lower() for d in re.findall(r'DLL Name: (\S+)', headers)}
    wanted = {'DYNAMIC_BASE', 'NX_COMPAT', 'TERMINAL_SERVICE_AWARE'} | ({'HIGH_ENTROPY_VA'} if x64 else set())
    image = exe.read_bytes()
    pe = int.from_bytes(image[0x3C:0x40], 'little')  # the PE signature, then the file header
    stamp = int.from_bytes(image[pe + 8:pe + 12], 'little')
    coff_flags = int.from_bytes(image[pe + 22:pe + 24], 'little')
    checksum = int.from_bytes(image[pe + 88:pe + 92], 'little')
    checks = {'machine': f'file format {"pei-x86-64" if x64 else "pei-i386"}' in headers,
              'GUI subsystem': '(Windows GUI)' in headers,
              f'imports {sorted(dlls)} of the system only': dlls and dlls <= SYSTEM_DLLS,
              'no symbols': 'no symbols' in output(objdump, '-t', exe),
              f'size {exe.stat().st_size} at most 65536': exe.stat().st_size <= 65536,
              f'DllCharacteristics {flags} with {wanted}': wanted <= set(flags),
              f'Characteristics {coff_flags:#x} with both run-from-swap bits': coff_flags & 0xC00 == 0xC00,
              f'time stamp {stamp:#x} none': stamp == 0,
              f'checksum {checksum:#x} of the bytes': checksum == pe_checksum(image, pe + 88),
              'relocations': 'Base Relocation Directory [.reloc]' in headers
              and 'relocations stripped' not in headers}
    problems = [f'FAIL: {exe}: {what}' for what, good in checks.items() if not good]
    m = Wine(exe, arch)
    try:
        m.open()
        shutil.copy(exe, m.linux(r'C:\checked.exe'))
        reader = str(m.helpers / 'qnetprep_resources.exe')
        status, shown, _ = m.wine_run([reader, r'C:\checked.exe'], m.dir, '-all')
    finally:
        m.close()
    version, _, manifest = shown.replace('\r', '').partition('Manifest ')
    if status or version.split('\n') != VERSION:
        problems.append(f'FAIL: {exe}: resources read as:\n{shown}')
    problems += [f'FAIL: {exe}: manifest without {part}:\n{manifest}' for part in MANIFEST
                 if part not in manifest]
    print(f'{exe}: {exe.stat().st_size} bytes, imports {sorted(dlls)}, {flags}\nmanifest {manifest}')
    return problems


def main(command, *args):
    if command == 'wine':
        checks = {'footprint': footprint, 'same_bytes': same_bytes}
        return checks[args[1]](args[0]) if args[1] in checks else compare(*args)
    return scenario_on(Sim(SIM_EXE), args[0]) if command == 'sim' else template(*args)


if __name__ == '__main__':
    problems = main(*sys.argv[1:]) if len(sys.argv) > 2 else [__doc__]
    report = '\n'.join(problems) or f'PASS: {" ".join(sys.argv[1:])}'
    print(report, file=sys.stderr if problems else sys.stdout)
    sys.exit(1 if problems else 0)
