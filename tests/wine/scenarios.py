"""The end-to-end scenarios, data that both machines play (e2e.py). Steps: ('device', class, instance
id, description or None); ('key', path below HKLM, REGEDIT4 value line...); ('package', folder, file left
out...); ('file', path, content, attributes 'RHS'); ('slot', value, 'append' text | 'attributes' bits) to
the stored INF a record names, or 'upper' to name it in capitals but for its extension; ('run' | 'exact',
folder, tail | whole command line, standard output, package INFs whose stored copy the system is asked to
uninstall), each ending with exit code 1, also as ('started', program, folder, tail, ...) and as ('traced
run', ..., lines that count the DIF_REMOVE and SetupDiRemoveDevice calls that the program made), which also
checks that no package file is read after the first device removal; ('program', path) copies the program
there; ('state', expected lines, extra items); ('same content',); ('first calls', folder, calls);
('symlink', path, folder) a link to a folder; ('hard link', path, file) a second name of a file; ('chmod',
folder, mode). EXE stands for the size of the program; a line that starts with "x64: " or "x86: " is expected
of that build only."""
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / 'scripts'))
from machine_state import ENTRY_KEY, FOLDER, PF, PRODUCT, SAMPLE, UNINSTALL, VENDOR  # noqa: E402

PKG, SYS, BUERO = r'C:\pkg', r'C:\Windows\System32', 'C:\\pkg\\B\xfcro\\updates'
LIST, LIST32 = VENDOR + r'\Kadrimov\SupportedDevices', r'Software\Wow6432Node\Orvix\Kadrimov\SupportedDevices'
PARAMS = PRODUCT + r'\Parameters'
FIRST_SELF_COPY = 'SetFileAttributes error, error value = 2'
CATALOG = {'net7341a.inf': 'rx90kw2a.cat', 'net73417.inf': 'RX90KW2K.CAT'}  # of each package INF
BOTH = list(CATALOG)

# Devices that every install clears, then those it leaves: no description, another vendor, unlisted.
SUPPORTED = [
    ('net', r'PCI\VEN_1E7C&DEV_4C43&SUBSYS_73411E7C&REV_10\4&2B8260C3&0&00E4',
     'Orvix RX90K PCI Fast Ethernet Adapter'),
    ('other', r'PCI\VEN_1E7C&DEV_7D31&SUBSYS_00000000&REV_02\4&2B8260C3&0&18E4', 'Ethernet Controller')]
LEFT = [
    ('net', r'PCI\VEN_1E7C&DEV_3A02&SUBSYS_00000000&REV_01\4&2B8260C3&0&08E4', None),
    ('net', r'PCI\VEN_10EC&DEV_8139&SUBSYS_813910EC&REV_10\4&2B8260C3&0&10E4', 'Fast Ethernet NIC'),
    ('net', r'PCI\VEN_1E7C&DEV_4C60&SUBSYS_00000000&REV_01\4&2B8260C3&0&20E4', 'Orvix RX90K Gigabit Adapter'),
    ('other', r'PCI\VEN_1E7C&DEV_4C47&SUBSYS_00000000&REV_02\4&2B8260C3&0&28E4', None),
    ('other', r'PCI\VEN_8086&DEV_100E&SUBSYS_001E8086&REV_02\3&267A616A&0&18', 'Ethernet Controller')]
SERVICE = ('key', r'SYSTEM\CurrentControlSet\Services\RX90K', '"Type"=dword:00000001',
           '"Start"=dword:00000003', '"ErrorControl"=dword:00000001',
           r'"ImagePath"="C:\\Windows\\System32\\drivers\\RX90K.SYS"')
STANDARD = [('device', *d) for d in SUPPORTED + LEFT] + [SERVICE]


def devices(left):
    return [f'device {c} {i} ' + (f'desc="{d}"' if d else 'desc=none') for c, i, d in left]


def staged(*left_out):  # a recorded install also stages the running program
    sizes = {f.name: f.stat().st_size for f in SAMPLE.iterdir()} | {'qnetprep.exe': 'EXE'}
    return [f'dir {FOLDER}'] + [f'file {FOLDER}\\{n} size={size} attr=-' for n, size in sizes.items()
                                if n not in left_out]


def stored(*infs):  # each stored INF with its PNF and catalog
    return [x for inf in infs for x in (f'file {{stored {inf}}} size={(SAMPLE / inf).stat().st_size} attr=-',
                                        f'file {{PNF of {inf}}} size=* attr=-', f'catalog {CATALOG[inf]}')]


def v512(key, name, text):
    return f'value HKLM\\{key} "{name}" REG_SZ len=512 "{text}"+NUL*{512 - len(text)}'


def slot(name, inf):
    return f'value HKLM\\{PARAMS} "{name}" REG_SZ len=512 "{{stored {inf}}}"+NUL*...'


# Written with the text's length, no NUL: the registry counts the NUL after it in the program's buffer.
def vtext(name, text):
    return f'value HKLM\\{ENTRY_KEY} "{name}" REG_SZ len={len(text) + 1} "{text}"+NUL*1'


SELF_COPY = r'file {system folder}\qnetprep.exe size=EXE attr=-'
NO_SELF_COPY = r'nofile {system folder}\qnetprep.exe'
NO_ENTRIES = [f'nokey HKLM\\{ENTRY_KEY}', f'nokey HKLM\\{UNINSTALL}\\Lumora']
NOTHING_RECORDED = ['service RX90K absent', f'key HKLM\\{VENDOR}'] + NO_ENTRIES
NOT_STAGED = [f'nofolder {PF}\\Orvix', f'nofolder {FOLDER}', NO_SELF_COPY]
SUCCESS = [f'key HKLM\\{PRODUCT}', v512(PRODUCT, 'Install', 'Success'), v512(PRODUCT, 'reboot', 'reboot'),
           v512(PRODUCT, 'Version', '0.0.3.6'), f'key HKLM\\{PARAMS}']
ENTRY = [f'key HKLM\\{ENTRY_KEY}', vtext('UninstallString', 'qnetprep.exe /u'),
         vtext('DisplayName', 'Orvix adapter installation program'), f'nokey HKLM\\{UNINSTALL}\\Lumora',
         'service RX90K absent', f'key HKLM\\{VENDOR}']
RECORDED = [*SUCCESS, slot('RenamedInf', BOTH[0]), slot('RenamedInf1', BOTH[1]), *ENTRY, *staged(),
            *stored(*BOTH), SELF_COPY]
# A recorded install whose pre-install failed: "Fail", no slot, entry or self-copy.
FAILED = [*NOTHING_RECORDED, f'key HKLM\\{PRODUCT}', v512(PRODUCT, 'Install', 'Fail'), f'key HKLM\\{PARAMS}',
          *staged(), NO_SELF_COPY]
# The package in place, and its first recorded install: the first self-copy reports that none was there.
PACKAGE, FIRST_INSTALL = ('package', PKG), ('run', PKG, '/au', FIRST_SELF_COPY, [])
RECORD_INSTALL = [PACKAGE, FIRST_INSTALL]
# Files that a damaged slot may name outside the INF store, with their PNF neighbours, and their attributes.
OUTSIDE = {SYS + r'\qnetx.inf': 'R', SYS + r'\qnetx.pnf': '', SYS + r'\qnety.inf': '',
           SYS + r'\qnety.pnf': 'H', PF + r'\Lumora\drv.inf': 'RS', PF + r'\Lumora\drv.pnf': ''}
OUTSIDE_LEFT = ('state', NOTHING_RECORDED + NOT_STAGED + [
    f'file {p.replace(SYS, "{system folder}")} size=11 attr={a or "-"}' for p, a in OUTSIDE.items()],
    [('file', p) for p in OUTSIDE])

# Devices of the network class that are no PCI devices, and the list entries of the removal scenario.
NOT_PCI = [('net', r'USB\VID_1E7C&PID_4C43\5&2C1D3E4F&0&2', 'USB Fast Ethernet Adapter'),
           ('net', r'ROOT\NET\0001', 'WAN Miniport (IP)'),
           ('net', r'SWD\MSRRAS\MS_NDISWANIP', 'WAN Miniport')]
LISTED = (('10ec', '8168'), ('1E7C', '4c60xyz'), ('WXYZ', '4C61'), ('0000', '0000'))
# What a slot may name in the INF store that is not the package's; contents and attributes.
INF, VERSION = r'C:\Windows\INF', b'[Version]\r\nSignature="$Windows NT$"\r\n'
NOT_OURS = {INF + r'\oem7.inf': (VERSION + b'; Lumenet\r\n', 'R'),
            INF + r'\oem7.pnf': (b'PNF\nSource=C:\\lumenet.inf\n', 'H'),
            INF + r'\machine.inf': (VERSION, ''), INF + r'\sub\net7341a.inf': (VERSION, 'R')}
NOT_OURS_LEFT = ('state', NOTHING_RECORDED + NOT_STAGED + [r'dir {INF store}\sub'] + [
    f'file {p.replace(INF, "{INF store}")} size={len(c)} attr={a or "-"}' for p, (c, a) in NOT_OURS.items()],
    [('file', INF + r'\sub\net7341a.inf')])
ORVIX2 = f'file {FOLDER}\\orvix2.inf size={(SAMPLE / "net73417.inf").stat().st_size} attr=-'

# A folder of someone else's that a link may lead the install to, with a file that must stay its only one;
# what a refused install folder leaves: "Fail", nothing staged, stored or removed.
ELSEWHERE = r'C:\elsewhere'
KEPT = ('file', ELSEWHERE + r'\kept.txt', b'not ours\r\n', '')
KEPT_LEFT = r'file C:\elsewhere\kept.txt size=10 attr=-'
REFUSED = [*devices(SUPPORTED + LEFT), 'service RX90K present', f'key HKLM\\{VENDOR}', *NO_ENTRIES,
           f'key HKLM\\{PRODUCT}', v512(PRODUCT, 'Install', 'Fail'), NO_SELF_COPY]

SCENARIOS = {
    # No options: devices and service cleared, package staged, INFs stored, only the vendor key.
    'first_default_run': STANDARD + [
        PACKAGE, ('run', PKG, '', '', []), ('same content',),
        ('state', devices(LEFT) + NOTHING_RECORDED + staged('qnetprep.exe') + stored(*BOTH)
         + [NO_SELF_COPY])],
    # "/au": the same, recorded; the first self-copy reports that none was there. Every file of the
    # package, the program's own included, is read before the first device removal.
    'recorded_run': STANDARD + [
        PACKAGE, ('traced run', PKG, '/au', FIRST_SELF_COPY, []), ('same content',),
        ('state', devices(LEFT) + RECORDED)],
    # A second "/au" clears the first install by its records (a stored INF changed meanwhile too),
    # a device and service that came back, and records the same install again, silently.
    'repeated_recorded_run': STANDARD + RECORD_INSTALL + [
        ('slot', 'RenamedInf', 'append', b'; changed after the install\r\n'), ('device', *SUPPORTED[0]),
        SERVICE, ('run', PKG, '/au', '', BOTH), ('state', devices(LEFT) + RECORDED)],
    # "/inf=" with a bare name from the package: only that INF, into slot 0.
    'single_inf_recorded': STANDARD + [
        PACKAGE, ('run', PKG, '/au /inf=net73417.inf', FIRST_SELF_COPY, []),
        ('state', devices(LEFT) + SUCCESS + [slot('RenamedInf', BOTH[1]), *ENTRY, *staged(), *stored(BOTH[1]),
                                             SELF_COPY])],
    # "/inf=" with nothing after it names the install folder itself: the pre-install fails.
    'empty_inf_argument': [PACKAGE, ('run', PKG, '/au /inf=', '', []), ('state', FAILED)],
    # Without its catalog net73417.inf is refused: "Fail" beside what the first install recorded.
    'partial_package': [
        ('package', PKG, 'RX90KW2K.CAT', 'RX90K.SYS', 'PRBQ410.EXE'), FIRST_INSTALL, ('same content',),
        ('state', [f'key HKLM\\{PRODUCT}', v512(PRODUCT, 'Install', 'Fail'), *SUCCESS[2:],
                   slot('RenamedInf', BOTH[0]), *ENTRY, *staged('RX90KW2K.CAT', 'RX90K.SYS', 'PRBQ410.EXE'),
                   *stored(BOTH[0]), SELF_COPY])],
    # "/u" from the system folder, as the Add/Remove list runs it: devices, service, stored INFs
    # through the system's uninstall (PNFs, catalogs), records and entries go; the files stay.
    'uninstall_after_recorded_install': STANDARD + RECORD_INSTALL + [
        ('device', *SUPPORTED[1]), SERVICE, ('key', UNINSTALL + r'\Lumora', '"DisplayName"="Lumora"'),
        ('run', SYS, '/u', '', BOTH), ('state', devices(LEFT) + NOTHING_RECORDED + staged() + [SELF_COPY])],
    # Slots naming files outside the INF store (read-only, climbing out of it) touch no file, or PNF.
    'slots_outside_the_store': [PACKAGE] + [('file', p, b'[Version]\r\n', a) for p, a in OUTSIDE.items()] + [
        ('key', PARAMS, r'"RenamedInf"="C:\\Windows\\System32\\qnetx.inf"',
         r'"RenamedInf1"="C:\\Windows\\INF\\..\\System32\\qnety.inf"'),
        ('key', ENTRY_KEY, '"DisplayName"="x"'), ('run', PKG, '/u', '', []), OUTSIDE_LEFT,
        ('key', PARAMS, r'"RenamedInf"="C:\\Program Files\\Lumora\\drv.inf"'),
        ('run', PKG, '/u', '', []), OUTSIDE_LEFT],
    # The supported-device list adds devices, names counting by their first four characters, case-free;
    # a vendor subkey that is not hexadecimal adds nothing. Only PCI identifiers count: a USB device
    # with a supported pair where PCI has its fields, and root devices as vendor 0 device 0, stay.
    # A 32-bit component's list, in the 32-bit view, is read where there is one apart (64-bit Windows).
    'device_removal_with_list': STANDARD + [
        ('device', 'net', r'PCI\VEN_10EC&DEV_8168&SUBSYS_816810EC&REV_06\4&1F7DBC9F&0&00E1',
         'PCIe GbE Controller'),
        ('device', 'other', r'ROOT\NETADAPTER\X4C61', 'Virtual adapter'), *[('device', *d) for d in NOT_PCI],
        PACKAGE] + [('key', f'{LIST}\\{k}', f'"{v}"=""') for k, v in LISTED] + [
        ('key', LIST32 + r'\8086', '"100e"=""'),
        ('traced run', PKG, '/u', '', [], 'x64: SetupDiCallClassInstaller(DIF_REMOVE) calls 5',
         'x86: SetupDiCallClassInstaller(DIF_REMOVE) calls 4', 'SetupDiRemoveDevice calls 0'),
        ('state', devices([d for d in LEFT if 'DEV_4C60' not in d[1] and 'DEV_100E' not in d[1]]) + [
            *devices(NOT_PCI), f'x86: device {LEFT[4][0]} {LEFT[4][1]} desc="{LEFT[4][2]}"',
            r'device other ROOT\NETADAPTER\X4C61 desc="Virtual adapter"', *NOTHING_RECORDED, *NOT_STAGED,
            f'key HKLM\\{VENDOR}\\Kadrimov', f'key HKLM\\{LIST}'] + [
            x for k, v in LISTED
            for x in (f'key HKLM\\{LIST}\\{k}', f'value HKLM\\{LIST}\\{k} "{v}" REG_SZ len=1 ""+NUL*1')])],
    # Slots naming a stored INF of another package (the system reuses a removed one's oemN number, so
    # only the simulated machine's PNF names the other original), a plain INF of the store, and files
    # below it leave them all alone: no system call, no attribute or file changed.
    'slots_naming_what_is_not_ours': [PACKAGE] + [('file', p, c, a) for p, (c, a) in NOT_OURS.items()] + [
        ('key', PARAMS, r'"RenamedInf"="C:\\Windows\\INF\\oem7.inf"',
         r'"RenamedInf1"="C:\\Windows\\INF\\machine.inf"'),
        ('key', ENTRY_KEY, '"DisplayName"="x"'), ('run', PKG, '/u', '', []), NOT_OURS_LEFT,
        ('key', PARAMS, r'"RenamedInf"="C:\\Windows\\INF\\sub\\net7341a.inf"',
         r'"RenamedInf1"="C:\\Windows\\INF\\sub"'),
        ('run', PKG, '/u', '', []), NOT_OURS_LEFT],
    # A recorded single-INF install of an INF the package does not name is the package's while the
    # install folder holds it: "/u" has it uninstalled, also through a slot written in capitals.
    'single_inf_of_another_name_uninstalled': [
        PACKAGE, ('file', PKG + r'\orvix2.inf', (SAMPLE / 'net73417.inf').read_bytes(), ''),
        ('run', PKG, '/au /inf=orvix2.inf', FIRST_SELF_COPY, []), ('slot', 'RenamedInf', 'upper'),
        ('run', SYS, '/u', '', BOTH[1:]), ('state', NOTHING_RECORDED + staged() + [ORVIX2, SELF_COPY])],
    # "/inf=" naming a file that is not a Windows NT style INF: staged, refused, "Fail".
    'single_inf_not_windows_nt': [
        PACKAGE, ('file', PKG + r'\legacy.inf', b'[Version]\r\nClass=Net\r\n', ''),
        ('run', PKG, '/au /inf=legacy.inf', '', []),
        ('state', FAILED + [f'file {FOLDER}\\legacy.inf size=22 attr=-'])],
    # Protected files: an older read-only hidden system self-copy is replaced, a stored INF uninstalled.
    'protected_files_are_replaced_and_deleted': [
        PACKAGE, ('file', SYS + r'\qnetprep.exe', b'an older copy\r\n', 'RHS'), ('run', PKG, '/au', '', []),
        ('same content',), ('state', RECORDED), ('slot', 'RenamedInf1', 'attributes', 'RH'),
        ('run', SYS, '/u', '', BOTH), ('state', NOTHING_RECORDED + staged() + [SELF_COPY])],
    # The tail is the program's own: a quoted name with the options right after the quote, and an
    # unquoted one with a letter above 127 and slashes, record an install again (no plain or /u run).
    'quoted_name_without_blank': RECORD_INSTALL + [
        ('exact', PKG, b'"C:\\pkg\\qnetprep.exe"/au', '', BOTH), ('state', RECORDED)],
    'unquoted_name_above_127': [
        ('package', BUERO), ('run', BUERO, '/au', FIRST_SELF_COPY, []),
        ('exact', BUERO, b'C:\\pkg\\B\xfcro/updates/qnetprep.exe /au', '', BOTH), ('state', RECORDED)],
    # A newer package over an older install replaces its staged files, a read-only one too, and its
    # stored INF.
    'upgrade_over_older_install': [
        PACKAGE, ('file', PKG + r'\net7341a.inf', (SAMPLE / 'net7341a.inf').read_bytes() + b'; v1\r\n', ''),
        FIRST_INSTALL, ('file', FOLDER + r'\RX90K.SYS', b'older driver\r\n', 'R'),
        PACKAGE, ('run', PKG, '/au', '', BOTH), ('same content',), ('state', RECORDED)],
    # A record with a slot 1 but no slot 0, then a slot 0 too long or without its NUL: cleared, and
    # the install records both INFs again.
    'damaged_records_are_cleared': [
        PACKAGE, ('key', PARAMS, r'"RenamedInf1"="C:\\Windows\\INF\\oem5.inf"'),
        FIRST_INSTALL, ('state', RECORDED),
        ('key', PARAMS, f'"RenamedInf"="{"x" * 600}"'),
        ('run', PKG, '/au', '', BOTH[1:]), ('state', RECORDED),
        ('key', PARAMS, '"RenamedInf"=hex(1):' + ','.join(['78'] * 512)),
        ('run', PKG, '/au', '', BOTH[1:]), ('state', RECORDED)],
    # The self-copy is the running program, started under another name from another folder than
    # the current one, which holds some other qnetprep.exe.
    'self_copy_is_the_running_image': [
        PACKAGE, ('file', PKG + r'\qnetprep.exe', b'another program\r\n', ''),
        ('program', r'C:\tools\setup.exe'),
        ('started', r'C:\tools\setup.exe', PKG, '/au', FIRST_SELF_COPY, []),
        ('same content',), ('state', RECORDED)],
    # Before anything can load a DLL by name, the DLL search leaves out the program's folder.
    'dll_search_hardened_first': [PACKAGE, ('first calls', PKG, [
        'GetModuleHandleA kernel32.dll', 'GetProcAddress SetDefaultDllDirectories',
        'SetDefaultDllDirectories 0x800'])],
    # The install folder is the program's alone: where it goes a link to another folder (which Wine reads as
    # a reparse point), as the product folder or as the vendor's, or a vendor folder that everyone may write,
    # nothing is staged or written through the link, and no INF is pre-installed.
    'install_folder_linked_elsewhere': STANDARD + [
        PACKAGE, KEPT, ('symlink', FOLDER, ELSEWHERE), ('run', PKG, '/au', '', []),
        ('state', REFUSED + [f'dir {FOLDER}', f'file {FOLDER}\\kept.txt size=10 attr=-', KEPT_LEFT],
         [('files', ELSEWHERE)])],
    'vendor_folder_linked_elsewhere': STANDARD + [
        PACKAGE, KEPT, ('symlink', PF + r'\Orvix', ELSEWHERE), ('run', PKG, '/au', '', []),
        ('state', REFUSED + [f'file {PF}\\Orvix\\kept.txt size=10 attr=-', f'nofolder {FOLDER}', KEPT_LEFT],
         [('files', ELSEWHERE)])],
    'vendor_folder_everyone_may_write': STANDARD + [
        PACKAGE, ('chmod', PF + r'\Orvix', 0o777), ('run', PKG, '/au', '', []),
        ('state', REFUSED + [f'nofolder {FOLDER}'])],
    # A staged file that is a second name of another file is deleted, not copied over: the other file keeps
    # its bytes, and the staged one is a new file with the package's.
    'staged_file_hard_linked_elsewhere': [
        PACKAGE, KEPT, ('hard link', FOLDER + r'\RX90K.SYS', ELSEWHERE + r'\kept.txt'),
        ('run', PKG, '', '', []), ('same content',),
        ('state', NOTHING_RECORDED + staged('qnetprep.exe') + stored(*BOTH) + [NO_SELF_COPY, KEPT_LEFT],
         [('files', ELSEWHERE)])],
}

# The 32-bit program on 64-bit Windows: not in SCENARIOS, it runs in a 64-bit prefix (e2e.py wow64). Devices,
# service, INF store, both registry views, both Program Files and both system folders stay as they were.
UNDER_WOW64 = STANDARD + [PACKAGE, ('run', PKG, '/au', '', []), ('state', devices(SUPPORTED + LEFT) + [
    'service RX90K present', f'nokey HKLM\\{VENDOR}', *NO_ENTRIES, *NOT_STAGED,
    r'nokey HKLM\Software\Wow6432Node\Orvix', f'nokey HKLM\\Software\\Wow6432Node\\{ENTRY_KEY[9:]}',
    f'nofolder {PF} (x86)\\Orvix', r'nofile C:\Windows\SysWOW64\qnetprep.exe'], [
    ('key', r'Software\Wow6432Node\Orvix'), ('key', r'Software\Wow6432Node' + ENTRY_KEY[8:]),
    ('files', PF + r' (x86)\Orvix'), ('file', r'C:\Windows\SysWOW64\qnetprep.exe')])]
