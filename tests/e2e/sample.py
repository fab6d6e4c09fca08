"""A small installation of the Velmora imaging library, with a few things of
other vendors beside it, for the demonstration run and for tests that want a
whole machine. Later work adds what its clean-up step removes.

VENDOR_* items are expected gone after a full run; FOREIGN_* items must stay.
"""

from winebed import BED, Registry

LIBRARY_KEY = 'HKEY_LOCAL_MACHINE\\Software\\Velmora\\Velmora Imaging Library'
BOARD_KEY = 'HKEY_LOCAL_MACHINE\\Software\\Velmora\\Imaging Board'
UNINSTALL = 'HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall'
INSTALL_DIR = 'C:\\Program Files\\Velmora Imaging'
# The all-users profile of Windows 2000 and XP; Windows Vista and later keep
# its start menu and desktop where the shell's known folders say (below, as a
# Wine prefix has them), which the run then uses.
ALL_USERS = 'C:\\Documents and Settings\\All Users'
COMMON_PROGRAMS = 'C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs'
COMMON_DESKTOP = 'C:\\users\\Public\\Desktop'

# The folder the program is run from, holding it and the vendor's tools.
PROGRAM_FOLDER = 'C:\\Riruv'

# Windows Installer registrations of per-machine products, and its package cache.
MACHINE_PRODUCTS = ('HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer'
                    '\\UserData\\S-1-5-18\\Products')
INSTALLER_CACHE = 'C:\\windows\\Installer'


def installer_product(code, publisher, package=None):
    """The registration of a per-machine installer product, by packed code."""
    properties = {'DisplayName': 'Product ' + code, 'Publisher': publisher}
    if package:
        properties['LocalPackage'] = package
    return {MACHINE_PRODUCTS + '\\' + code + '\\InstallProperties': properties,
            MACHINE_PRODUCTS + '\\' + code + '\\Features': {'Main': ''}}


# The library's own installer product: its cached package and installer folders.
LIBRARY_PACKED_CODE = '1AA2C1FDC6EE8A564A38006F73D6564B'
LIBRARY_PACKAGE = INSTALLER_CACHE + '\\4c1a7e.msi'
LIBRARY_PRODUCT_CODE = '{DF1C2AA1-EE6C-65A8-A483-00F6376D65B4}'

# The library's background processes, started from the installation directory
# before the run; the run ends them by name.
BACKGROUND_FOLDER = INSTALL_DIR + '\\Services'
BACKGROUND_PROCESSES = ('VlxGigeService.exe', 'pyxMon.exe', 'LumNetworkServer.exe')

VENDOR_REGISTRY = {
    LIBRARY_KEY: {'Revision': '8.2', 'Directory': INSTALL_DIR},
    # No GigE board: its service removal pauses 75 s.
    BOARD_KEY + '\\Parlow-CL': {},
    BOARD_KEY + '\\Tarvel-X4': {},
    BOARD_KEY + '\\Host': {},
    UNINSTALL + '\\Velmora_Imaging': {'DisplayName': 'Velmora Imaging', 'Publisher': 'Velmora'},
    # Registry clean-up: catalogued keys of every root and view.
    'HKEY_CLASSES_ROOT\\Installer\\Products\\29D92E1AC49FC9D3FCD85E486087B9F1': {'ProductName': 'Lum'},
    'HKEY_CLASSES_ROOT\\Installer\\Products\\29D92E1AC49FC9D3FCD85E486087B9F1\\SourceList': {'PackageName': 'lum.msi'},
    'HKEY_CURRENT_USER\\Software\\Velmora\\Lum\\Settings': {'LastBoard': 'Parlow-CL'},
    UNINSTALL + '\\{A1E29D92-F94C-3D9C-CF8D-E58406789B1F}': {'DisplayName': 'Lum', 'Publisher': 'Velmora Imaging'},
    'HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Velmora\\Velmora Imaging Library': {'Revision': '8.2'},
    'HKEY_LOCAL_MACHINE\\Software\\Classes\\ActiveLUMAddIn.Connect\\CLSID': {'': '{AB1D659E-3CD2-13E8-5A8D-E6EABF0E0DB4}'},
    # The product whose package the step removes itself, and one it finds by its publisher.
    **installer_product('B7DF34E1765EF2026957BECF995A489C', 'Velmora Imaging', INSTALLER_CACHE + '\\3a7c1.msi'),
    **installer_product('6F1B2C3D4E5F60718293A4B5C6D7E8F9', 'Velmora Imaging GmbH', INSTALLER_CACHE + '\\5d2e9.msi'),
    # A vendor product whose package value names a file outside the installer cache.
    **installer_product('7A0B1C2D3E4F50617283940516273849', 'Velmora Imaging', 'C:\\windows\\system32\\contoso.dll'),
    # The library itself; the install directory step removes its cached package.
    **installer_product(LIBRARY_PACKED_CODE, 'Velmora Imaging', LIBRARY_PACKAGE),
}

FOREIGN_REGISTRY = {
    'HKEY_LOCAL_MACHINE\\Software\\Contoso\\Viewer': {'Version': '1.0'},
    UNINSTALL + '\\ContosoViewer': {'DisplayName': 'Contoso Viewer', 'Publisher': 'Contoso'},
    # Beside the catalogued keys: names that only begin like them.
    'HKEY_LOCAL_MACHINE\\Software\\Velmorex2': {'Owner': 'Contoso'},
    'HKEY_LOCAL_MACHINE\\Software\\Velmora\\Contoso Bridge': {'Owner': 'Contoso'},
    'HKEY_CLASSES_ROOT\\Installer\\Products\\29D92E1AC49FC9D3FCD85E486087B9F2': {'ProductName': 'Other'},
    'HKEY_CURRENT_USER\\Software\\Velmora Tools': {'Owner': 'Contoso'},
    # Installer products of others: another publisher, and the vendor's name in other capitals.
    **installer_product('1A2B3C4D5E6F70819203A4B5C6D7E8F9', 'Contoso', INSTALLER_CACHE + '\\9c3b1.msi'),
    **installer_product('2B3C4D5E6F708192A3B4C5D6E7F80910', 'velmora imaging', INSTALLER_CACHE + '\\9c3b2.msi'),
}

PROGRAMS = COMMON_PROGRAMS
DESKTOP = COMMON_DESKTOP
SYSTEM32 = 'C:\\windows\\system32'
# Where an administrator's run writes its reports and registry backup.
REPORT_FOLDER = 'C:\\windows\\Logs\\CleanLum'

VENDOR_FILES = {
    INSTALL_DIR + '\\bin\\lum.dll': b'MZ vendor library',
    INSTALL_DIR + '\\Samples\\board.cfg': b'[board]\r\n',
    'C:\\users\\Public\\Documents\\Velmora Imaging\\Samples\\readme.txt': b'samples\r\n',
    PROGRAMS + '\\Velmora Imaging\\Lum Control Center.lnk': b'L shortcut',
    PROGRAMS + '\\Velmora Imaging\\Documentation\\Manual.lnk': b'L shortcut',
    PROGRAMS + '\\Parlow Native Library 3.1\\Readme.lnk': b'L shortcut',
    PROGRAMS + '\\Falcro-II Digital-CL 3.0\\Setup.lnk': b'L shortcut',
    DESKTOP + '\\Lum Control Center.lnk': b'L shortcut',
    SYSTEM32 + '\\lumcore.dll': b'MZ vendor library',
    SYSTEM32 + '\\LUM.DLL': b'MZ vendor library',
    SYSTEM32 + '\\lumextra.dll': b'MZ vendor library',  # only "lum*.dll" names it
    SYSTEM32 + '\\Pyxlib.dll': b'MZ vendor library',
    SYSTEM32 + '\\drivers\\vlxdma0.sys': b'MZ vendor driver',
    SYSTEM32 + '\\drivers\\Tarvel.sys': b'MZ vendor driver',
    SYSTEM32 + '\\drivers\\DruvanGigE.sys': b'MZ vendor driver',
    SYSTEM32 + '\\drivers\\AmbrelGX60.sys': b'MZ vendor driver',
    INSTALLER_CACHE + '\\3a7c1.msi': b'cached package',
    INSTALLER_CACHE + '\\5d2e9.msi': b'cached package',
    'C:\\Parlow\\parlow.cfg': b'[board]\r\n',
    LIBRARY_PACKAGE: b'MSI package',
    INSTALLER_CACHE + '\\' + LIBRARY_PRODUCT_CODE + '\\ARPPRODUCTICON.exe': b'MZ icon',
    'C:\\Program Files (x86)\\InstallShield Installation Information\\' + LIBRARY_PRODUCT_CODE
    + '\\setup.ini': b'[Startup]\r\n',
    INSTALLER_CACHE + '\\{A1E29D92-F94C-3D9C-CF8D-E58406789B1F}\\icon.ico': b'icon',
    INSTALLER_CACHE + '\\{17179814-FAD5-235E-BC1A-1306E659E09B}\\icon.ico': b'icon',
    INSTALLER_CACHE + '\\943df.msi': b'MSI package',
    # A copy of the vendor's driver package and its precompiled companion.
    'C:\\windows\\inf\\oem41.inf': (b'[Version]\r\nSignature="$Windows NT$"\r\nClass=Image\r\n'
                                    b'Provider=%Mfg%\r\n[Strings]\r\nMfg="Velmorex Ltd.- Imaging"\r\n'),
    'C:\\windows\\inf\\oem41.PNF': b'PNF vendor package',
}

# Vendor programs the run calls from the installation directory.
VENDOR_TOOLS_INSTALLED = ('Tools\\LumNetworkServer.exe', 'Tools\\VlxGigeService.exe')

FOREIGN_FILES = {
    'C:\\Program Files\\Contoso\\viewer.exe': b'MZ other vendor',
    DESKTOP + '\\Contoso Viewer.lnk': b'L shortcut',
    PROGRAMS + '\\Velmora Imaging Tools\\Other.lnk': b'L shortcut',
    PROGRAMS + '\\Parlow Native Library 4.0\\Other.lnk': b'L shortcut',
    SYSTEM32 + '\\contoso.dll': b'MZ other vendor',
    SYSTEM32 + '\\lum.txt': b'other vendor',
    SYSTEM32 + '\\xlum.dll': b'MZ other vendor',
    SYSTEM32 + '\\Pyxlib2.dll': b'MZ other vendor',
    SYSTEM32 + '\\lumsub\\lum.dll': b'MZ other vendor',  # the pattern does not descend
    SYSTEM32 + '\\drivers\\Tarvel2.sys': b'MZ other driver',
    SYSTEM32 + '\\drivers\\vlxdma1.sys': b'MZ other driver',
    # The 32-bit system folder is not the library's.
    'C:\\windows\\syswow64\\lumcore.dll': b'MZ 32-bit copy',
    'C:\\windows\\syswow64\\Pyxlib.dll': b'MZ 32-bit copy',
    'C:\\windows\\syswow64\\drivers\\Tarvel.sys': b'MZ 32-bit copy',
    INSTALLER_CACHE + '\\9c3b1.msi': b'cached package',
    INSTALLER_CACHE + '\\9c3b2.msi': b'cached package',
    'C:\\Program Files (x86)\\InstallShield Installation Information\\{0C0A1B2C-1111-2222-3333-444455556666}'
    '\\setup.ini': b'[Startup]\r\n',
    'C:\\windows\\inf\\oem42.inf': (b'[Version]\r\nSignature="$Windows NT$"\r\nClass=Image\r\n'
                                    b'Provider=%Mfg%\r\n[Strings]\r\nMfg="Contoso Cameras"\r\n'),
    'C:\\windows\\inf\\oem42.PNF': b'PNF other vendor',
}


# --- the rest of a whole installation -------------------------------------

HKU_USER = 'HKEY_USERS\\S-1-5-21-30521874-61932045-287340916-5120'
WOW = 'HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node'
SERVICES = 'HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services'
CLASSES = 'HKEY_LOCAL_MACHINE\\Software\\Classes'

VENDOR_REGISTRY.update({
    # Board-key entries that are not boards, each with a subtree.
    BOARD_KEY + '\\Host\\Settings': {'Slots': 2},
    BOARD_KEY + '\\gpu': {'Enabled': 1},
    BOARD_KEY + '\\VGA\\Mode': {'Width': 640},
    BOARD_KEY + '\\Parlow-CL\\Channel 0': {'Camera': 'Area scan'},
    # Catalogued keys in every root and the 32-bit view, with subtrees and values.
    HKU_USER + '\\Software\\Microsoft\\Installer\\Products\\FCF897311C5C207F46D07BAB351A8BA8':
        {'ProductName': 'Lum SDK'},
    HKU_USER + '\\Software\\Microsoft\\Installer\\Products\\FCF897311C5C207F46D07BAB351A8BA8\\SourceList':
        {'PackageName': 'lumsdk.msi'},
    'HKEY_CURRENT_USER\\Software\\Velmora Imaging\\Recent': {'File1': 'C:\\images\\a.tif'},
    'HKEY_CLASSES_ROOT\\RemoteClientActiveX.RemoteClientActiveX\\CLSID': {'': '{1BE3A785-8017-545C-62F3-D5C10ACC50BD}'},
    'HKEY_CLASSES_ROOT\\Installer\\Features\\29D92E1AC49FC9D3FCD85E486087B9F1': {'Main': ''},
    WOW + '\\Velmora\\Imaging board\\Parlow-CL': {},
    WOW + '\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Velmora_Imaging': {'DisplayName': 'Velmora Imaging (32-bit)'},
    'HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmora\\DrvManage\\Log': {'Level': 3},
    SERVICES + '\\VlxDma0\\Enum': {'Count': 1},
    'HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\Root\\LEGACY_VLXDMA0\\0000': {'Service': 'VlxDma0'},
    CLASSES + '\\ActiveLUMAddIn.AboutBox\\CLSID': {'': '{5445E2BD-6B85-CAE0-C064-78BCABFD3F53}'},
})

FOREIGN_REGISTRY.update({
    # Neighbours of the catalogue rows above, one letter or one level away.
    'HKEY_USERS\\S-1-5-21-30521874-61932045-287340916-5121\\Software\\Microsoft\\Installer\\Products'
    '\\FCF897311C5C207F46D07BAB351A8BA8': {'ProductName': 'Another user'},
    HKU_USER + '\\Software\\Microsoft\\Installer\\Products\\FCF897311C5C207F46D07BAB351A8BA9': {'ProductName': 'Other'},
    'HKEY_CURRENT_USER\\Software\\Velmora Imaging Viewer': {'Owner': 'Contoso'},
    'HKEY_CLASSES_ROOT\\RemoteClientActiveX.RemoteClientActiveX.2': {'': 'Other'},
    'HKEY_CLASSES_ROOT\\.lum': {'': 'Contoso.Document'},
    WOW + '\\Velmora\\Imaging boards': {'Owner': 'Contoso'},
    WOW + '\\Contoso\\Viewer': {'Version': '1.0'},
    WOW + '\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ContosoViewer':
        {'DisplayName': 'Contoso Viewer', 'Publisher': 'Contoso'},
    SERVICES + '\\VlxDma1': {'Start': 3},
    CLASSES + '\\ActiveLUMAddIn.AboutBox2': {'': 'Other'},
    # An uninstall entry whose publisher is the vendor's name in small letters.
    UNINSTALL + '\\velmora_viewer': {'DisplayName': 'Viewer', 'Publisher': 'velmora imaging'},
})

# The library's environment values (in any capitals) and others beside them.
ENVIRONMENT = 'HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment'
VENDOR_ENVIRONMENT = {'GENICAM_ROOT': 'C:\\GenICam', 'Lum_Genicam_Path': 'C:\\GenICam\\bin',
                      'LUM_PATH': INSTALL_DIR, 'Tarvel': '1', 'parlow': '1'}
FOREIGN_ENVIRONMENT = {'CONTOSO_HOME': 'C:\\Program Files\\Contoso', 'Lum_Path_Old': 'kept'}

# Nested files of the installation directory, some read-only or hidden.
READ_ONLY_FILES = (INSTALL_DIR + '\\bin\\x64\\Release\\lumcore64.dll', INSTALL_DIR + '\\Samples\\C++\\readme.txt')
HIDDEN_FILES = (INSTALL_DIR + '\\Config\\Boards\\desktop.ini', INSTALL_DIR + '\\bin\\x64\\Release\\lumcore64.dll')

VENDOR_FILES.update({
    READ_ONLY_FILES[0]: b'MZ vendor library',
    READ_ONLY_FILES[1]: b'samples\r\n',
    HIDDEN_FILES[0]: b'[.ShellClassInfo]\r\n',
    INSTALL_DIR + '\\Drivers\\Parlow-CL\\Parlow-CL.inf': b'[Version]\r\n',
    INSTALL_DIR + '\\Tools\\MsiCleanup\\MsiCleanup.ini': b'[Scripts]\r\n',
    'C:\\users\\Public\\Documents\\Velmora Imaging\\Images\\board.tif': b'II*\0',
})

FOREIGN_FILES.update({
    # Folders next to the installation directory, the documents and the installer folders.
    'C:\\Program Files\\Velmora Imaging Tools\\tool.exe': b'MZ other vendor',
    'C:\\Program Files\\Velmora Imaging 2\\lum.dll': b'MZ other vendor',
    'C:\\users\\Public\\Documents\\Velmora Imaging Samples\\readme.txt': b'other vendor',
    'C:\\windows\\Installer\\{A1E29D92-F94C-3D9C-CF8D-E58406789B1E}\\icon.ico': b'icon',
    'C:\\windows\\Installer\\943df2.msi': b'MSI package',
    # INF files the INF step must leave: other names, or the provider text out of place.
    'C:\\windows\\inf\\velmora.inf': (b'[Version]\r\nSignature="$Windows NT$"\r\nProvider=%Mfg%\r\n'
                                      b'[Strings]\r\nMfg="Velmorex Ltd.- Imaging"\r\n'),
    'C:\\windows\\inf\\oem77.inf': (b'[Version]\r\nSignature="$Windows NT$"\r\nProvider="Velmorex Ltd.- Imaging"\r\n'
                                    b'[Strings]\r\nMfg="Velmorex Ltd.- Imaging Plus"\r\n'),
    'C:\\windows\\inf\\oem77.PNF': b'PNF other vendor',
    'C:\\windows\\inf\\oem78.inf': (b'[Version]\r\nSignature="$Windows NT$"\r\nProvider=%Mfg%\r\n'
                                    b'[Strings]\r\nMfg="velmorex ltd.- imaging"\r\n'),
    SYSTEM32 + '\\lumen.txt': b'other vendor',
    SYSTEM32 + '\\drivers\\lumdrv.sys': b'MZ other driver',
})


# Names a walk must take as names: in Japanese, Greek and Polish, with an
# emoji, and fullwidth ones that the code page's best fit reads as paths
# ("x/../../victim"), and a folder chain whose path passes 260 characters.
HOSTILE_NAMES = {
    INSTALL_DIR + '\\日本語\\データ.txt': b'data',
    INSTALL_DIR + '\\Ελληνικά\\αρχείο.txt': b'data',
    INSTALL_DIR + '\\Łódź\\żółw.txt': b'data',
    INSTALL_DIR + '\\Kamera 📷\\zdjęcie 📷.txt': b'data',
    INSTALL_DIR + '\\deep' + ('\\' + 'd' * 60) * 4 + '\\end.txt': b'data',
    'C:\\Parlow\\x／．．／．．／victim\\board.cfg': b'[board]\r\n',
    'C:\\Parlow\\y／．．／．．／victim.txt': b'vendor',
    SYSTEM32 + '\\lumŁ📷.dll': b'MZ vendor library',
}
# What those names seem to name.
HOSTILE_TARGETS = {
    'C:\\victim\\keep.txt': b'not the vendor\'s',
    'C:\\victim.txt': b'not the vendor\'s',
}
VENDOR_FILES.update(HOSTILE_NAMES)
FOREIGN_FILES.update(HOSTILE_TARGETS)


def profile_places(version):
    """(start-menu programs, desktop) of the all-users profile on a Windows version."""
    if version in ('nt40', 'win2k', 'winxp', 'winxp64', 'win2003'):
        return ALL_USERS + '\\Start Menu\\Programs', ALL_USERS + '\\Desktop'
    return COMMON_PROGRAMS, COMMON_DESKTOP


def files_for(version, files):
    """The sample's files as that Windows version keeps them: the start menu
    and desktop in its all-users profile, and before Vista the shared
    documents folder of the profile too."""
    programs, desktop = profile_places(version)
    out = {path.replace(COMMON_PROGRAMS, programs).replace(COMMON_DESKTOP, desktop): data
           for path, data in files.items()}
    if files is VENDOR_FILES and programs != COMMON_PROGRAMS:
        out[ALL_USERS + '\\Documents\\Velmora Imaging\\readme.txt'] = b'samples\r\n'
    return out


def _set_attributes(prefix):
    """Read-only and hidden as Windows keeps them (attrib in the prefix)."""
    commands = ['attrib +r "%s"' % path for path in READ_ONLY_FILES]
    commands += ['attrib +h "%s"' % path for path in HIDDEN_FILES]
    prefix.wine('cmd', '/c', ' & '.join(commands), check=True)


def install_sample(prefix):
    """Seeds the sample installation into a winebed Prefix, with CleanLum.exe
    and every fake tool in PROGRAM_FOLDER."""
    prefix.seed_registry({**VENDOR_REGISTRY, **FOREIGN_REGISTRY})
    version = prefix.windows_version
    prefix.seed_files({**files_for(version, VENDOR_FILES), **files_for(version, FOREIGN_FILES)})
    prefix.install_tools(INSTALL_DIR, VENDOR_TOOLS_INSTALLED)
    prefix.install_tools(PROGRAM_FOLDER)
    prefix.install_cleanlum(PROGRAM_FOLDER)
    prefix.seed_registry({ENVIRONMENT: {**VENDOR_ENVIRONMENT, **FOREIGN_ENVIRONMENT}})
    _set_attributes(prefix)


def keys_exist(prefix, keys):
    """Whether each registry key exists, asked of the prefix in one go."""
    keys = list(keys)
    prefix.seed_files({BED + '\\keys.txt': ''.join(key + '\r\n' for key in keys).encode('latin-1')})
    answers = prefix.probe('keys', BED + '\\keys.txt').split()
    if len(answers) != len(keys):
        raise RuntimeError('probe answered %d of %d keys' % (len(answers), len(keys)))
    return [answer == '1' for answer in answers]


def start_background_processes(prefix):
    """Starts the library's three background processes in the prefix's session."""
    prefix.start_background(BACKGROUND_FOLDER, BACKGROUND_PROCESSES)


def survey(prefix):
    """[(kind, item, present)] for every sample item: kind is 'vendor' or 'foreign'."""
    out = []
    for kind, keys, files in (('vendor', VENDOR_REGISTRY, VENDOR_FILES),
                              ('foreign', FOREIGN_REGISTRY, FOREIGN_FILES)):
        out += [(kind, key, present) for key, present in zip(keys, keys_exist(prefix, keys))]
        out += [(kind, path, prefix.exists(path)) for path in files_for(prefix.windows_version, files)]
    running = [name.lower() for name in prefix.running_processes()]
    out += [('vendor', 'process ' + name, name.lower() in running) for name in BACKGROUND_PROCESSES]
    values = (prefix.read_registry(ENVIRONMENT) or Registry()).key(ENVIRONMENT) or {}
    names = [name.lower() for name in values]
    for kind, environment in (('vendor', VENDOR_ENVIRONMENT), ('foreign', FOREIGN_ENVIRONMENT)):
        out += [(kind, 'environment value ' + name, name.lower() in names) for name in environment]
    return out
