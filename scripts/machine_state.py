"""machine_state.py <machine folder>: what the product changes on a simulated Windows machine (the
demo's view), and the reader of both machines that the end-to-end tests compare: the registry from its
file (REGEDIT4, or a Wine prefix's system.reg), files and their attributes from the drives."""
import os, re, sys
from pathlib import Path

SAMPLE = Path(__file__).resolve().parents[1] / 'sample' / 'package'
PF, VENDOR = r'C:\Program Files', r'Software\Orvix'
UNINSTALL = r'Software\Microsoft\Windows\CurrentVersion\Uninstall'
PRODUCT, FOLDER, ENTRY_KEY = VENDOR + r'\qnetprep', PF + r'\Orvix\qnetprep', UNINSTALL + r'\qnetprep'

NET, OTHER = '{4D36E972-E325-11CE-BFC1-08002BE10318}', '{4D36E97E-E325-11CE-BFC1-08002BE10318}'
CLASSES = {NET.lower(): 'net', OTHER.lower(): 'other'}
TYPES = {1: 'REG_SZ', 2: 'REG_EXPAND_SZ', 3: 'REG_BINARY', 4: 'REG_DWORD', 7: 'REG_MULTI_SZ'}
ENUM, SERVICES = 'system\\currentcontrolset\\enum\\', 'system\\currentcontrolset\\services\\'
BITS = ((1, 'R'), (2, 'H'), (4, 'S'))


ESCAPES = dict(a='\a', b='\b', t='\t', n='\n', v='\v', f='\f', r='\r', e='\x1b')


def unescape(text):  # as a registry file or a relay trace writes it: \xH to \xHHHH, octal, a C letter
    return re.sub(r'\\(?:x([0-9a-fA-F]{1,4})|([0-7]{1,3})|(.))', lambda m: chr(int(m[1], 16)) if m[1]
                  else chr(int(m[2], 8)) if m[2] else ESCAPES.get(m[3], m[3]), text)


def read_registry(path, wine):
    """{key path below HKLM in lower case: (path, [(name, type, data as ANSI calls see it)])}."""
    keys, values, pending = {}, [], ''
    for raw in path.read_text('latin-1').splitlines():
        line = pending + (raw.strip() if pending else raw.rstrip())
        pending = line[:-1] if line.endswith('\\') and not line.startswith('[') else ''
        value = re.match(r'(@|"(?:[^"\\]|\\.)*")=(?:str\((\d+)\):)?(.*)$', line)
        if line.startswith('['):  # Wine's key names are escaped; REGEDIT4's start with the hive
            name = line[1:line.rindex(']')]
            name = unescape(name) if wine else name.partition('\\')[2]
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
                if wine and kind in (1, 2, 7):  # Wine keeps text as UTF-16
                    data = data.decode('utf-16-le', 'replace').encode('cp1252', 'replace')
            values.append(('' if value[1] == '@' else unescape(value[1][1:-1]), kind, data))
    for name, _ in list(keys.values()):  # Wine writes no key that has only subkeys
        for parent in ('\\'.join(name.split('\\')[:n]) for n in range(1, name.count('\\') + 1)):
            keys.setdefault(parent.lower(), (parent, []))
    return keys


def show_value(name, kind, data):  # printable ASCII as is, other bytes as \xHH, then the count of NULs
    text = data.rstrip(b'\0')
    nuls = f'+NUL*{len(data) - len(text)}' if len(text) < len(data) else ''
    escaped = ('\\' + chr(b) if b in b'\\"' else chr(b) if 32 <= b < 127 else f'\\x{b:02X}' for b in text)
    return f'"{name}" {TYPES.get(kind, kind)} len={len(data)} "{"".join(escaped)}"' + nuls


def text_of(values, name):
    return next((d.rstrip(b'\0').decode('cp1252') for n, _, d in values if n.lower() == name.lower()), None)


class MachineView:  # a machine folder: its registry file and its drives
    wine = False
    root = registry_file = None
    inf_store, system_folder = r'C:\Windows\INF', r'C:\Windows\System32'

    def linux(self, windows_path):
        """C:\\a\\b -> the Linux path, each existing component spelled as on disk."""
        path = self.root / f'drive_{windows_path[0].lower()}'
        for part in filter(None, windows_path[3:].split('\\')):
            if not (path / part).exists() and path.is_dir():
                part = next((e for e in sorted(os.listdir(path)) if e.lower() == part.lower()), part)
            path = path / part
        return path

    def state(self, items):  # 'catalogs': those in the catalog database holding a package's
        reg, lines = read_registry(self.registry_file, self.wine), []
        for kind, arg in ((i, None) if isinstance(i, str) else i for i in items):
            path = self.linux(arg) if kind in ('file', 'files') else None
            if kind == 'key':
                lines += [] if arg.lower() in reg else [f'nokey HKLM\\{arg}']
                for lower, (name, values) in reg.items():
                    if (lower + '\\').startswith(arg.lower() + '\\'):
                        shown = 'HKLM\\' + arg + name[len(arg):]
                        lines += [f'key {shown}'] + [f'value {shown} {show_value(*v)}' for v in values]
            elif kind == 'file':
                lines.append(self.file_line(arg, path) if path.is_file() else f'nofile {arg}')
            elif kind == 'files':
                lines += [self.file_line(f'{arg}\\{e}', path / e) for e in sorted(os.listdir(path))] \
                    if path.is_dir() else [f'nofolder {arg}']
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
        if path.is_dir():
            return f'dir {windows_path}'
        attr = ''.join(c for b, c in BITS if self.attributes(path) & b) or '-'
        return f'file {windows_path} size={path.stat().st_size} attr={attr}'

    def items(self):
        return [('key', VENDOR), ('key', ENTRY_KEY), ('key', UNINSTALL + r'\Lumora'),
                ('files', PF + r'\Orvix'), ('files', FOLDER), ('files', self.inf_store),
                ('file', self.system_folder + r'\qnetprep.exe'), 'devices', ('service', 'RX90K'), 'catalogs']

    def attributes(self, path):  # the simulated machine's: read-only, hidden and system
        listing = self.root / 'file-attributes.txt'
        lines = [x.split(' ', 1) for x in (listing.read_text().splitlines() if listing.exists() else [])]
        return next((int(bits, 16) for bits, name in reversed(lines) if self.root / name == path), 0)


class SimView(MachineView):
    def __init__(self, root):
        self.root = Path(root)
        self.registry_file = self.root / 'registry.reg'


if __name__ == '__main__':
    machine = SimView(sys.argv[1])
    print('\n'.join(sorted(machine.state(machine.items()))))
