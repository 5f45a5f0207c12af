"""The end-to-end scenarios that e2e.py plays on both machines (README: "The end-to-end scenarios")."""
import sys
from collections import namedtuple
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / 'scripts'))
from machine_state import ENTRY_KEY, FOLDER, PF, PRODUCT, SAMPLE, UNINSTALL, VENDOR  # noqa: E402

PKG, SYS, BUERO = r'C:\pkg', r'C:\Windows\System32', 'C:\\pkg\\B\xfcro\\updates'


# The steps; StoredInf: another program changes the stored INF that a record slot names.
Device = namedtuple('Device', 'kind instance desc', defaults=[None])  # kind 'net' or 'other'
Key = namedtuple('Key', 'path values')  # below HKLM, REGEDIT4 value lines
Package = namedtuple('Package', 'folder left_out', defaults=[()])
File = namedtuple('File', 'path content attributes', defaults=[None, ''])  # no content: the program
StoredInf = namedtuple('StoredInf', 'slot attributes capitals', defaults=['', False])
Run = namedtuple('Run', 'folder tail stdout uninstalled command_line program traced removals',
                 defaults=['', '', (), None, None, False, ()])
State = namedtuple('State', 'lines also wine_differs', defaults=[(), ()])
SameContent = namedtuple('SameContent', '')
Link = namedtuple('Link', 'path folder')  # a Linux symbolic link to a folder, made if missing
HardLink = namedtuple('HardLink', 'path file')  # a second name of an existing file
Mode = namedtuple('Mode', 'folder mode')  # a folder's Linux mode, made if missing
FirstCalls = namedtuple('FirstCalls', 'folder calls')
# Lines that Wine shows beyond the simulated machine, and why; a state with a mark Wine no longer shows fails.
WineDifference = namedtuple('WineDifference', 'name reason lines')

WOW6432, LIST = r'Software\Wow6432Node', VENDOR + r'\Kadrimov\SupportedDevices'
VENDOR32, LIST32 = WOW6432 + r'\Orvix', WOW6432 + r'\Orvix\Kadrimov\SupportedDevices'
ENTRY_KEY32 = WOW6432 + r'\Microsoft\Windows\CurrentVersion\Uninstall\qnetprep'
PARAMS = PRODUCT + r'\Parameters'
FIRST_SELF_COPY = 'SetFileAttributes error, error value = 2'
BOTH = NET7341A, NET73417 = 'net7341a.inf', 'net73417.inf'
CATALOG = {NET7341A: 'rx90kw2a.cat', NET73417: 'RX90KW2K.CAT'}  # of each package INF


def catalogs_stay(*infs):
    return WineDifference('catalogs stay', "Wine's SetupUninstallOEMInfA deletes the stored INF alone; "
                          'Windows deletes the catalog installed with it (the installer never names one)',
                          tuple(f'catalog {CATALOG[inf]}' for inf in infs))


# Devices that every install clears, then those it leaves: no description, another vendor, unlisted; the
# removal scenario lists the Gigabit one, and IN_LIST32 in the 32-bit view.
SUPPORTED = SUPPORTED_NET, SUPPORTED_OTHER = [
    Device('net', r'PCI\VEN_1E7C&DEV_4C43&SUBSYS_73411E7C&REV_10\4&2B8260C3&0&00E4',
           'Orvix RX90K PCI Fast Ethernet Adapter'),
    Device('other', r'PCI\VEN_1E7C&DEV_7D31&SUBSYS_00000000&REV_02\4&2B8260C3&0&18E4', 'Ethernet Controller')]
GIGABIT = Device('net', r'PCI\VEN_1E7C&DEV_4C60&SUBSYS_00000000&REV_01\4&2B8260C3&0&20E4',
                 'Orvix RX90K Gigabit Adapter')
IN_LIST32 = Device('other', r'PCI\VEN_8086&DEV_100E&SUBSYS_001E8086&REV_02\3&267A616A&0&18',
               'Ethernet Controller')
UNLISTED = [Device('net', r'PCI\VEN_1E7C&DEV_3A02&SUBSYS_00000000&REV_01\4&2B8260C3&0&08E4'),
            Device('net', r'PCI\VEN_10EC&DEV_8139&SUBSYS_813910EC&REV_10\4&2B8260C3&0&10E4',
                   'Fast Ethernet NIC'),
            Device('other', r'PCI\VEN_1E7C&DEV_4C47&SUBSYS_00000000&REV_02\4&2B8260C3&0&28E4')]
LEFT = UNLISTED + [GIGABIT, IN_LIST32]
SERVICE = Key(r'SYSTEM\CurrentControlSet\Services\RX90K', ['"Type"=dword:00000001', '"Start"=dword:00000003',
              '"ErrorControl"=dword:00000001', r'"ImagePath"="C:\\Windows\\System32\\drivers\\RX90K.SYS"'])
STANDARD = SUPPORTED + LEFT + [SERVICE]


def devices(left):
    return [f'device {d.kind} {d.instance} ' + (f'desc="{d.desc}"' if d.desc else 'desc=none') for d in left]


def staged(*left_out, changed=None):  # a recorded install also stages the running program
    sizes = {f.name: f.stat().st_size for f in SAMPLE.iterdir()} | {'qnetprep.exe': 'EXE'} | (changed or {})
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


def product(install):  # the product's keys after a recorded install whose last pre-install says `install`
    return [f'key HKLM\\{PRODUCT}', v512(PRODUCT, 'Install', install), v512(PRODUCT, 'reboot', 'reboot'),
            v512(PRODUCT, 'Version', '0.0.3.6'), f'key HKLM\\{PARAMS}']


SELF_COPY = r'file {system folder}\qnetprep.exe size=EXE attr=-'
NO_SELF_COPY = r'nofile {system folder}\qnetprep.exe'
NO_ENTRIES = [f'nokey HKLM\\{ENTRY_KEY}', f'nokey HKLM\\{UNINSTALL}\\Lumora']
NOTHING_RECORDED = ['service RX90K absent', f'key HKLM\\{VENDOR}'] + NO_ENTRIES
NOT_STAGED = [f'nofolder {PF}\\Orvix', f'nofolder {FOLDER}', NO_SELF_COPY]
# The version is written with its NUL; it reads as the other two do.
ENTRY = [f'key HKLM\\{ENTRY_KEY}', vtext('UninstallString', 'qnetprep.exe /u'),
         vtext('DisplayName', 'Orvix adapter installation program'), vtext('DisplayVersion', '0.0.3.6'),
         f'nokey HKLM\\{UNINSTALL}\\Lumora', f'key HKLM\\{VENDOR}']
SLOTS = [slot('RenamedInf', NET7341A), slot('RenamedInf1', NET73417)]
RECORDED = [*product('Success'), *SLOTS, *ENTRY, 'service RX90K absent', *staged(), *stored(*BOTH), SELF_COPY]
# A first recorded install whose pre-install failed: "Fail", and no Parameters key, slot, entry or self-copy.
FAILED = [*NOTHING_RECORDED, f'key HKLM\\{PRODUCT}', v512(PRODUCT, 'Install', 'Fail'), NO_SELF_COPY]
# A failed install over a recorded one whose adapters and service came back: all as it stood, but "Install".
BACK = STANDARD + [Package(PKG), Run(PKG, '/au', FIRST_SELF_COPY), *SUPPORTED, SERVICE]


def kept(staged_lines):
    return devices(SUPPORTED + LEFT) + [*product('Fail'), *SLOTS, *ENTRY, 'service RX90K present',
                                        *stored(*BOTH), SELF_COPY, *staged_lines]


# Package INFs cut short in transit, and a newer first INF that names a catalog of its own.
CUT = {NET7341A: (SAMPLE / NET7341A).read_bytes()[:20], NET73417: (SAMPLE / NET73417).read_bytes()[:20]}
NEWER = (SAMPLE / NET7341A).read_bytes().replace(b'rx90kw2a.cat', b'RX90KA.CAT') + b'; newer\r\n'
NEW_COPY = 'new copy'  # a copy that the run stored and took out again: no state shows it
# The package in place, and its first recorded install: the first self-copy reports that none was there.
PACKAGE, FIRST_INSTALL = Package(PKG), Run(PKG, '/au', FIRST_SELF_COPY)
RECORD_INSTALL = [PACKAGE, FIRST_INSTALL]
# Files that a damaged slot may name outside the INF store, with their PNF neighbours, and their attributes.
OUTSIDE = {SYS + r'\qnetx.inf': 'R', SYS + r'\qnetx.pnf': '', SYS + r'\qnety.inf': '',
           SYS + r'\qnety.pnf': 'H', PF + r'\Lumora\drv.inf': 'RS', PF + r'\Lumora\drv.pnf': ''}
OUTSIDE_LEFT = State(NOTHING_RECORDED + NOT_STAGED + [
    f'file {p.replace(SYS, "{system folder}")} size=11 attr={a or "-"}' for p, a in OUTSIDE.items()],
    also=[('file', p) for p in OUTSIDE])

# Devices that are no PCI devices, and the list entries of the removal scenario.
NOT_PCI = [Device('net', r'USB\VID_1E7C&PID_4C43\5&2C1D3E4F&0&2', 'USB Fast Ethernet Adapter'),
           Device('net', r'ROOT\NET\0001', 'WAN Miniport (IP)'),
           Device('net', r'SWD\MSRRAS\MS_NDISWANIP', 'WAN Miniport'),
           Device('other', r'ROOT\NETADAPTER\X4C61', 'Virtual adapter')]
LISTED = (('10ec', '8168'), ('1E7C', '4c60xyz'), ('WXYZ', '4C61'), ('0000', '0000'))
# What a slot may name in the INF store that is not the package's; contents and attributes.
INF, VERSION = r'C:\Windows\INF', b'[Version]\r\nSignature="$Windows NT$"\r\n'
NOT_OURS = {INF + r'\oem7.inf': (VERSION + b'; Lumenet\r\n', 'R'),
            INF + r'\oem7.pnf': (b'PNF\nSource=C:\\lumenet.inf\n', 'H'),
            INF + r'\machine.inf': (VERSION, ''), INF + r'\sub\net7341a.inf': (VERSION, 'R')}
NOT_OURS_LEFT = State(NOTHING_RECORDED + NOT_STAGED + [r'dir {INF store}\sub'] + [
    f'file {p.replace(INF, "{INF store}")} size={len(c)} attr={a or "-"}' for p, (c, a) in NOT_OURS.items()],
    also=[('file', INF + r'\sub\net7341a.inf')])
ORVIX2 = f'file {FOLDER}\\orvix2.inf size={(SAMPLE / NET73417).stat().st_size} attr=-'

# A folder of someone else's that a link may lead the install to, with a file that must stay its only one;
# what a refused install folder leaves: "Fail", nothing staged, stored or removed.
ELSEWHERE = r'C:\elsewhere'
KEPT = File(ELSEWHERE + r'\kept.txt', b'not ours\r\n')
KEPT_LEFT = r'file C:\elsewhere\kept.txt size=10 attr=-'
REFUSED = [*devices(SUPPORTED + LEFT), 'service RX90K present', f'key HKLM\\{VENDOR}', *NO_ENTRIES,
           f'key HKLM\\{PRODUCT}', v512(PRODUCT, 'Install', 'Fail'), NO_SELF_COPY]

SCENARIOS = {
    # No options: devices and service cleared, package staged, INFs stored, only the vendor key.
    'first_default_run': STANDARD + [
        PACKAGE, Run(PKG), SameContent(),
        State(devices(LEFT) + NOTHING_RECORDED + staged('qnetprep.exe') + stored(*BOTH) + [NO_SELF_COPY])],
    # "/au": the same, recorded; the first self-copy reports that none was there. Every file of the
    # package, the program's own included, is read before the first device removal.
    'recorded_run': STANDARD + [
        PACKAGE, Run(PKG, '/au', FIRST_SELF_COPY, traced=True), SameContent(),
        State(devices(LEFT) + RECORDED)],
    'single_inf_recorded': STANDARD + [
        PACKAGE, Run(PKG, '/au /inf=net73417.inf', FIRST_SELF_COPY),
        State(devices(LEFT) + product('Success') + [slot('RenamedInf', NET73417), *ENTRY,
                                                    'service RX90K absent', *staged(), *stored(NET73417),
                                                    SELF_COPY])],
    # "/inf=" with nothing after it names the install folder itself: the pre-install fails.
    'empty_inf_argument': [PACKAGE, Run(PKG, '/au /inf='), State(FAILED + staged())],
    # Without its catalog net73417.inf is refused: net7341a.inf, stored first, leaves the store again.
    'partial_package': [
        Package(PKG, ('RX90KW2K.CAT', 'RX90K.SYS', 'PRBQ410.EXE')),
        Run(PKG, '/au', uninstalled=[NEW_COPY]),
        SameContent(), State([*FAILED, *staged('RX90KW2K.CAT', 'RX90K.SYS', 'PRBQ410.EXE')],
                             wine_differs=[catalogs_stay(NET7341A)])],
    # "/u" from the system folder, as the Add/Remove list runs it: devices, service, stored INFs
    # through the system's uninstall (PNFs, catalogs), records and entries go; the files stay.
    'uninstall_after_recorded_install': STANDARD + RECORD_INSTALL + [
        SUPPORTED_OTHER, SERVICE, Key(UNINSTALL + r'\Lumora', ['"DisplayName"="Lumora"']),
        Run(SYS, '/u', uninstalled=BOTH),
        State(devices(LEFT) + NOTHING_RECORDED + staged() + [SELF_COPY],
              wine_differs=[catalogs_stay(*BOTH)])],
    # Slots naming files outside the INF store (read-only, climbing out of it) touch no file, or PNF.
    'slots_outside_the_store': [PACKAGE] + [File(p, b'[Version]\r\n', a) for p, a in OUTSIDE.items()] + [
        Key(PARAMS, [r'"RenamedInf"="C:\\Windows\\System32\\qnetx.inf"',
                     r'"RenamedInf1"="C:\\Windows\\INF\\..\\System32\\qnety.inf"']),
        Key(ENTRY_KEY, ['"DisplayName"="x"']), Run(PKG, '/u'), OUTSIDE_LEFT,
        Key(PARAMS, [r'"RenamedInf"="C:\\Program Files\\Lumora\\drv.inf"']), Run(PKG, '/u'), OUTSIDE_LEFT],
    # The supported-device list adds devices, names counting by their first four characters, case-free;
    # a vendor subkey that is not hexadecimal adds nothing. Only PCI identifiers count: a USB device
    # with a supported pair where PCI has its fields, and root devices as vendor 0 device 0, stay.
    # A 32-bit component's list, in the 32-bit view, is read where there is one apart (64-bit Windows).
    'device_removal_with_list': STANDARD + [
        Device('net', r'PCI\VEN_10EC&DEV_8168&SUBSYS_816810EC&REV_06\4&1F7DBC9F&0&00E1',
               'PCIe GbE Controller'),
        *NOT_PCI, PACKAGE] + [Key(f'{LIST}\\{k}', [f'"{v}"=""']) for k, v in LISTED] + [
        Key(LIST32 + r'\8086', ['"100e"=""']),
        Run(PKG, '/u', traced=True, removals=['x64: SetupDiCallClassInstaller(DIF_REMOVE) calls 5',
                                              'x86: SetupDiCallClassInstaller(DIF_REMOVE) calls 4',
                                              'SetupDiRemoveDevice calls 0']),
        State(devices(UNLISTED + NOT_PCI) + ['x86: ' + x for x in devices([IN_LIST32])] + [
            *NOTHING_RECORDED, *NOT_STAGED, f'key HKLM\\{VENDOR}\\Kadrimov', f'key HKLM\\{LIST}'] + [
            x for k, v in LISTED
            for x in (f'key HKLM\\{LIST}\\{k}', f'value HKLM\\{LIST}\\{k} "{v}" REG_SZ len=1 ""+NUL*1')])],
    # Slots naming a stored INF of another package (the system reuses a removed one's oemN number, so
    # only the simulated machine's PNF names the other original), a plain INF of the store, and files
    # below it leave them all alone: no system call, no attribute or file changed.
    'slots_naming_what_is_not_ours': [PACKAGE] + [File(p, c, a) for p, (c, a) in NOT_OURS.items()] + [
        Key(PARAMS, [r'"RenamedInf"="C:\\Windows\\INF\\oem7.inf"',
                     r'"RenamedInf1"="C:\\Windows\\INF\\machine.inf"']),
        Key(ENTRY_KEY, ['"DisplayName"="x"']), Run(PKG, '/u'), NOT_OURS_LEFT,
        Key(PARAMS, [r'"RenamedInf"="C:\\Windows\\INF\\sub\\net7341a.inf"',
                     r'"RenamedInf1"="C:\\Windows\\INF\\sub"']),
        Run(PKG, '/u'), NOT_OURS_LEFT],
    # A recorded single-INF install of an INF the package does not name is the package's while the
    # install folder holds it: "/u" has it uninstalled, also through a slot written in capitals.
    'single_inf_of_another_name_uninstalled': [
        PACKAGE, File(PKG + r'\orvix2.inf', (SAMPLE / NET73417).read_bytes()),
        Run(PKG, '/au /inf=orvix2.inf', FIRST_SELF_COPY), StoredInf('RenamedInf', capitals=True),
        Run(SYS, '/u', uninstalled=[NET73417]),
        State(NOTHING_RECORDED + staged() + [ORVIX2, SELF_COPY], wine_differs=[catalogs_stay(NET73417)])],
    # Protected files: an older read-only hidden system self-copy is replaced, a stored INF uninstalled.
    'protected_files_are_replaced_and_deleted': [
        PACKAGE, File(SYS + r'\qnetprep.exe', b'an older copy\r\n', 'RHS'), Run(PKG, '/au'), SameContent(),
        State(RECORDED), StoredInf('RenamedInf1', attributes='RH'), Run(SYS, '/u', uninstalled=BOTH),
        State(NOTHING_RECORDED + staged() + [SELF_COPY], wine_differs=[catalogs_stay(*BOTH)])],
    # The tail is the program's own: a quoted name with the options right after the quote, and an
    # unquoted one with a letter above 127 and slashes, record an install again (no plain or /u run).
    'quoted_name_without_blank': RECORD_INSTALL + [
        Run(PKG, command_line=b'"C:\\pkg\\qnetprep.exe"/au'), State(RECORDED)],
    'unquoted_name_above_127': [
        Package(BUERO), Run(BUERO, '/au', FIRST_SELF_COPY),
        Run(BUERO, command_line=b'C:\\pkg\\B\xfcro/updates/qnetprep.exe /au'),
        State(RECORDED)],
    # A newer package over an older install replaces its staged files, a read-only one too, and its
    # stored INF.
    'upgrade_over_older_install': [
        PACKAGE, File(PKG + r'\net7341a.inf', (SAMPLE / NET7341A).read_bytes() + b'; v1\r\n'),
        FIRST_INSTALL, File(FOLDER + r'\RX90K.SYS', b'older driver\r\n', 'R'),
        PACKAGE, Run(PKG, '/au', uninstalled=[NET7341A]), SameContent(), State(RECORDED)],
    # A record with a slot 1 but no slot 0, then a slot 0 too long or without its NUL: cleared, and
    # the install records both INFs again.
    'damaged_records_are_cleared': [
        PACKAGE, Key(PARAMS, [r'"RenamedInf1"="C:\\Windows\\INF\\oem5.inf"']), FIRST_INSTALL, State(RECORDED),
        Key(PARAMS, [f'"RenamedInf"="{"x" * 600}"']), Run(PKG, '/au'),
        State(RECORDED), Key(PARAMS, ['"RenamedInf"=hex(1):' + ','.join(['78'] * 512)]),
        Run(PKG, '/au'), State(RECORDED)],
    # The self-copy is the running program, started under another name from another folder than
    # the current one, which holds some other qnetprep.exe.
    'self_copy_is_the_running_image': [
        PACKAGE, File(PKG + r'\qnetprep.exe', b'another program\r\n'), File(r'C:\tools\setup.exe'),
        Run(PKG, '/au', FIRST_SELF_COPY, program=r'C:\tools\setup.exe'), SameContent(), State(RECORDED)],
    # No install leaves a machine with less driver than it found. Over a recorded install whose adapters and
    # service came back: a misspelt INF name, a newer package whose second INF is cut short in transit or
    # damaged (its first, new to the store, leaves it again; Wine keeps the catalog that the newer INF
    # brought), the same package with its second INF damaged (the first was in the store before and stays):
    # nothing is removed, and only "Install" says "Fail". The same package again uninstalls nothing.
    'misspelt_inf_name_changes_nothing': BACK + [Run(PKG, '/au /inf=net734la.inf'), State(kept(staged()))],
    'newer_package_damaged_takes_its_copy_out': BACK + [
        File(PKG + '\\' + NET7341A, NEWER), File(PKG + '\\' + NET73417, CUT[NET73417]),
        Run(PKG, '/au', uninstalled=[NEW_COPY]),
        State(kept(staged(changed={NET7341A: len(NEWER), NET73417: 20})), wine_differs=[WineDifference(
            'newer catalog stays', "Wine installs a catalog under its own name and its uninstall leaves it",
            ('catalog RX90KA.CAT',))])],
    'same_package_damaged_keeps_the_stored_copy': BACK + [
        File(PKG + '\\' + NET73417, CUT[NET73417]), Run(PKG, '/au'),
        State(kept(staged(changed={NET73417: 20})))],
    'same_package_again_uninstalls_nothing': BACK + [Run(PKG, '/au', traced=True),
                                                     State(devices(LEFT) + RECORDED)],
    # Before anything can load a DLL by name, the DLL search leaves out the program's folder.
    'dll_search_hardened_first': [PACKAGE, FirstCalls(PKG, [
        'GetModuleHandleA kernel32.dll', 'GetProcAddress SetDefaultDllDirectories',
        'SetDefaultDllDirectories 0x800'])],
    # The install folder is the program's alone: where it goes a link to another folder, as the product folder
    # or as the vendor's, or a vendor folder that everyone may write, nothing is staged or written through the
    # link, no INF is pre-installed and nothing is removed; a vendor folder only its owner may open is used.
    'install_folder_linked_elsewhere': STANDARD + [
        PACKAGE, KEPT, Link(FOLDER, ELSEWHERE), Run(PKG, '/au'),
        State(REFUSED + [f'dir {FOLDER}', f'file {FOLDER}\\kept.txt size=10 attr=-', KEPT_LEFT],
              also=[('files', ELSEWHERE)])],
    'vendor_folder_linked_elsewhere': STANDARD + [
        PACKAGE, KEPT, Link(PF + r'\Orvix', ELSEWHERE), Run(PKG, '/au'),
        State(REFUSED + [f'file {PF}\\Orvix\\kept.txt size=10 attr=-', f'nofolder {FOLDER}', KEPT_LEFT],
              also=[('files', ELSEWHERE)])],
    'vendor_folder_everyone_may_write': STANDARD + [
        PACKAGE, Mode(PF + r'\Orvix', 0o777), Run(PKG, '/au'), State(REFUSED + [f'nofolder {FOLDER}'])],
    'vendor_folder_private': [PACKAGE, Mode(PF + r'\Orvix', 0o700), FIRST_INSTALL, State(RECORDED)],
    # A staged file that is a second name of another file is deleted, not copied over: the other file keeps
    # its bytes, and the staged one is a new file with the package's.
    'staged_file_hard_linked_elsewhere': [
        PACKAGE, KEPT, HardLink(FOLDER + r'\RX90K.SYS', ELSEWHERE + r'\kept.txt'), FIRST_INSTALL,
        SameContent(), State(RECORDED + [KEPT_LEFT], also=[('files', ELSEWHERE)])],
}

# The 32-bit program on 64-bit Windows: not in SCENARIOS, it runs in a 64-bit prefix (e2e.py wow64). Devices,
# service, INF store, both registry views, both Program Files and both system folders stay as they were.
UNDER_WOW64 = STANDARD + [PACKAGE, Run(PKG, '/au'), State(devices(SUPPORTED + LEFT) + [
    'service RX90K present', f'nokey HKLM\\{VENDOR}', *NO_ENTRIES, *NOT_STAGED, f'nokey HKLM\\{VENDOR32}',
    f'nokey HKLM\\{ENTRY_KEY32}', f'nofolder {PF} (x86)\\Orvix', r'nofile C:\Windows\SysWOW64\qnetprep.exe'],
    also=[('key', VENDOR32), ('key', ENTRY_KEY32), ('files', PF + r' (x86)\Orvix'),
          ('file', r'C:\Windows\SysWOW64\qnetprep.exe')])]
