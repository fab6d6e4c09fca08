"""A small installation of the Velmora imaging library, with a few things of
other vendors beside it, for the demonstration run and for tests that want a
whole machine. Later work adds what its clean-up step removes.

VENDOR_* items are expected gone after a full run; FOREIGN_* items must stay.
"""

LIBRARY_KEY = 'HKEY_LOCAL_MACHINE\\Software\\Velmora\\Velmora Imaging Library'
BOARD_KEY = 'HKEY_LOCAL_MACHINE\\Software\\Velmora\\Imaging Board'
UNINSTALL = 'HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall'
INSTALL_DIR = 'C:\\Program Files\\Velmora Imaging'
ALL_USERS = 'C:\\Documents and Settings\\All Users'

# The folder the program is run from, holding it and the vendor's tools.
PROGRAM_FOLDER = 'C:\\Riruv'

VENDOR_REGISTRY = {
    LIBRARY_KEY: {'Revision': '8.2', 'Directory': INSTALL_DIR},
    # No GigE board: its service removal pauses 75 s.
    BOARD_KEY + '\\Parlow-CL': {},
    BOARD_KEY + '\\Tarvel-X4': {},
    BOARD_KEY + '\\Host': {},
    UNINSTALL + '\\Velmora_Imaging': {'DisplayName': 'Velmora Imaging', 'Publisher': 'Velmora'},
}

FOREIGN_REGISTRY = {
    'HKEY_LOCAL_MACHINE\\Software\\Contoso\\Viewer': {'Version': '1.0'},
    UNINSTALL + '\\ContosoViewer': {'DisplayName': 'Contoso Viewer', 'Publisher': 'Contoso'},
}

PROGRAMS = ALL_USERS + '\\Start Menu\\Programs'
SYSTEM32 = 'C:\\windows\\system32'

VENDOR_FILES = {
    INSTALL_DIR + '\\bin\\lum.dll': b'MZ vendor library',
    INSTALL_DIR + '\\Samples\\board.cfg': b'[board]\r\n',
    'C:\\users\\Public\\Documents\\Velmora Imaging\\Samples\\readme.txt': b'samples\r\n',
    PROGRAMS + '\\Velmora Imaging\\Lum Control Center.lnk': b'L shortcut',
    PROGRAMS + '\\Velmora Imaging\\Documentation\\Manual.lnk': b'L shortcut',
    PROGRAMS + '\\Parlow Native Library 3.1\\Readme.lnk': b'L shortcut',
    PROGRAMS + '\\Falcro-II Digital-CL 3.0\\Setup.lnk': b'L shortcut',
    ALL_USERS + '\\Desktop\\Lum Control Center.lnk': b'L shortcut',
    SYSTEM32 + '\\lumcore.dll': b'MZ vendor library',
    SYSTEM32 + '\\LUM.DLL': b'MZ vendor library',
    SYSTEM32 + '\\lumextra.dll': b'MZ vendor library',  # only "lum*.dll" names it
    SYSTEM32 + '\\Pyxlib.dll': b'MZ vendor library',
    SYSTEM32 + '\\drivers\\vlxdma0.sys': b'MZ vendor driver',
    SYSTEM32 + '\\drivers\\Tarvel.sys': b'MZ vendor driver',
    SYSTEM32 + '\\drivers\\DruvanGigE.sys': b'MZ vendor driver',
    SYSTEM32 + '\\drivers\\AmbrelGX60.sys': b'MZ vendor driver',
}

# Vendor programs the run calls from the installation directory.
VENDOR_TOOLS_INSTALLED = ('Tools\\LumNetworkServer.exe', 'Tools\\VlxGigeService.exe')

FOREIGN_FILES = {
    'C:\\Program Files\\Contoso\\viewer.exe': b'MZ other vendor',
    ALL_USERS + '\\Desktop\\Contoso Viewer.lnk': b'L shortcut',
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
}


def install_sample(prefix):
    """Seeds the sample installation into a winebed Prefix, with CleanLum.exe
    and every fake tool in PROGRAM_FOLDER."""
    prefix.seed_registry({**VENDOR_REGISTRY, **FOREIGN_REGISTRY})
    prefix.seed_files({**VENDOR_FILES, **FOREIGN_FILES})
    prefix.install_tools(INSTALL_DIR, VENDOR_TOOLS_INSTALLED)
    prefix.install_tools(PROGRAM_FOLDER)
    prefix.install_cleanlum(PROGRAM_FOLDER)


def survey(prefix):
    """[(kind, item, present)] for every sample item: kind is 'vendor' or 'foreign'."""
    out = []
    for kind, keys, files in (('vendor', VENDOR_REGISTRY, VENDOR_FILES),
                              ('foreign', FOREIGN_REGISTRY, FOREIGN_FILES)):
        out += [(kind, key, prefix.key_exists(key)) for key in keys]
        out += [(kind, path, prefix.exists(path)) for path in files]
    return out
