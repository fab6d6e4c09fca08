"""The registry clean-up of a whole silent run on a Wine machine holding the
sample installation: the catalogued keys, the vendor's installer products and
the library's environment values go; every other key, value, product and
cached package stays; no key name and no registry link below a catalogued
key stops the run or steers it outside the vendor's keys."""

import json
import unittest

import sample
from winebed import WineTestCase, expand_string

ENVIRONMENT = 'HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment'
CONTROL_SET_003 = 'HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet003\\Control\\Session Manager\\Environment'
UNINSTALL = 'HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall'
PROFILE_LIST = 'HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList'
PROFILE_SID = 'S-1-5-21-1004336348-1177238915-682003330-1001'  # hives loaded
SAVED_SID = 'S-1-5-21-1004336348-1177238915-682003330-1002'    # hive in its file
SERVICE_SID = 'S-1-5-80-1234-5678'
REPORTS = 'C:\\windows\\Logs\\CleanLum'
SAVED_HIVE = 'C:\\users\\saveduser\\NTUSER.DAT'

# The library's environment values as installers leave them, in any capitals.
LIBRARY_ENVIRONMENT = {'GENICAM_ROOT': 'C:\\GenICam', 'Lum_Genicam_Path': 'C:\\GenICam\\bin',
                       'LUM_PATH': 'C:\\Program Files\\Velmora Imaging', 'Tarvel': '1', 'parlow': '1'}
OTHER_ENVIRONMENT = {'CONTOSO_HOME': 'C:\\Program Files\\Contoso', 'Lum_Path_Old': 'kept'}

# Products that catalogue rows 41, 42, 51, 58 and 68 delete before the vendor
# products are looked for: their cached packages stay on purpose.
ROW_PRODUCTS = ('D3BDADF132C15117AC28250D473A7306', '493604D965DBDF07CBD9787843BDA16B',
                '29D92E1AC49FC9D3FCD85E486087B9F1', '418971715DAFE532CBA131606E950EB9',
                '474D491C63F739C69D360A09F4BD89EB')
# Row 75's product is the library itself, registered by the sample: the install
# directory step, earlier in the run, removes its cached package.
LIBRARY_PRODUCT = sample.LIBRARY_PACKED_CODE


def row_package(code):
    return sample.INSTALLER_CACHE + '\\row-' + code[:6] + '.msi'


class RegistryCleanupTest(WineTestCase):

    def test_silent_run_removes_the_vendors_keys_products_and_values_and_keeps_the_rest(self):
        sample.install_sample(self.prefix)
        rows = {}
        for code in ROW_PRODUCTS:
            rows.update(sample.installer_product(code, 'Velmora Imaging', row_package(code)))
        self.prefix.seed_registry({**rows,
                                   ENVIRONMENT: {**LIBRARY_ENVIRONMENT, **OTHER_ENVIRONMENT},
                                   CONTROL_SET_003: {'Lum_Path': 'x', 'CONTOSO_HOME': 'kept'}})
        self.prefix.seed_files({row_package(code): b'cached package' for code in ROW_PRODUCTS})
        for kind, item, present in sample.survey(self.prefix):
            if item.startswith('HKEY_') or item.startswith(sample.INSTALLER_CACHE):
                self.assertTrue(present, 'not seeded: ' + item)
        uninstall_before = self.prefix.read_registry(UNINSTALL)
        environment_before = self.prefix.read_registry(ENVIRONMENT).key(ENVIRONMENT)

        run = self.prefix.run_cleanlum('silent noreboot', folder=sample.PROGRAM_FOLDER, timeout=300)

        self.assertEqual(0, run.exit_code)
        self.assertEqual(1, run.captions().count('Deleting registry keys'))
        self.assertIn(b'Deleted Lum Registry Keys \r\n', self.prefix.run_log(run.temp))

        for kind, item, present in sample.survey(self.prefix):
            if kind == 'foreign':
                self.assertTrue(present, item)
            elif item.startswith('HKEY_') or item.startswith(sample.INSTALLER_CACHE):
                self.assertFalse(present, item)
        for code in ROW_PRODUCTS + (LIBRARY_PRODUCT,):
            self.assertFalse(self.prefix.key_exists(sample.MACHINE_PRODUCTS + '\\' + code), code)
        for code in ROW_PRODUCTS:
            self.assertTrue(self.prefix.exists(row_package(code)), code)
        self.assertFalse(self.prefix.exists(sample.LIBRARY_PACKAGE))

        # Every uninstall entry but the vendor's is still there, value for value.
        uninstall_after = self.prefix.read_registry(UNINSTALL)
        vendor_entries = [UNINSTALL + '\\Velmora_Imaging', UNINSTALL + '\\{A1E29D92-F94C-3D9C-CF8D-E58406789B1F}']
        expected = {key: values for key, values in uninstall_before.items()
                    if not any(key.lower() == entry.lower() for entry in vendor_entries)}
        self.assertEqual(expected, dict(uninstall_after))

        environment_after = self.prefix.read_registry(ENVIRONMENT).key(ENVIRONMENT)
        expected = {name: value for name, value in environment_before.items()
                    if name.lower() not in [n.lower() for n in LIBRARY_ENVIRONMENT]}
        self.assertEqual(expected, environment_after)
        control_set = self.prefix.read_registry(CONTROL_SET_003).key(CONTROL_SET_003)
        self.assertEqual({'CONTOSO_HOME': 'kept'}, control_set)

    def test_names_outside_the_code_page_and_links_to_another_vendors_keys_neither_stop_nor_steer_the_run(self):
        p = self.prefix
        sample.install_sample(p)
        library = 'HKEY_LOCAL_MACHINE\\Software\\Velmora\\Velmora Imaging Library'
        user = 'HKEY_CURRENT_USER\\Software\\Velmora'
        names = ['\u65e5\u672c\u8a9e', '\u03a9\u03bc\u03ad\u03b3\u03b1', '\u0141\u00f3d\u017a', '\U0001f600',
                 'x\uff0f\uff0e\uff0e\uff0f\uff0e\uff0e\uff0fvictim']
        seed = {}
        for name in names:
            seed[library + '\\' + name + '\\' + name] = {'Name': name}
            seed[user + '\\' + name] = {'': name}
        # Another vendor's keys, and a key that the fullwidth name spells by its best fit.
        contoso = 'HKEY_LOCAL_MACHINE\\SOFTWARE\\Contoso'
        seed[contoso + '\\Viewer'] = {'Version': '4.1'}
        seed[contoso + '\\Viewer\\Plugins'] = {'Path': 'C:\\Contoso\\plugins'}
        seed['HKEY_CURRENT_USER\\Software\\x/../../victim'] = {'Keep': 'yes'}
        p.seed_registry(seed)
        # Links as a user can make them in a key of its own, and a catalogued key that is one.
        p.probe('link', user + '\\Viewer', '\\Registry\\Machine\\SOFTWARE\\Contoso\\Viewer')
        p.probe('link', 'HKEY_LOCAL_MACHINE\\Software\\Velmorex', '\\Registry\\Machine\\SOFTWARE\\Contoso')
        others = p.read_registry(contoso)
        self.assertEqual({'Version': '4.1'}, others.key(contoso + '\\Viewer'))
        victim = p.read_registry('HKEY_CURRENT_USER\\Software\\x/../../victim')

        run = p.run_cleanlum('silent noreboot', folder=sample.PROGRAM_FOLDER, timeout=300)

        self.assertEqual(0, run.exit_code)
        self.assertIn(b'Deleted Lum Registry Keys \r\n', p.run_log(run.temp))
        self.assertFalse(p.key_exists(user))
        self.assertFalse(p.key_exists(library))
        self.assertFalse(p.key_exists('HKEY_LOCAL_MACHINE\\Software\\Velmorex'))
        self.assertEqual(others, p.read_registry(contoso))
        self.assertEqual(victim, p.read_registry('HKEY_CURRENT_USER\\Software\\x/../../victim'))

    def test_a_managed_run_cleans_every_users_vendor_keys_and_nothing_else_of_their_hives(self):
        """Another user's hives, loaded under HKEY_USERS as while the user is
        logged on, lose exactly the vendor's per-user keys and classes; a
        service's profile is left alone. (Wine takes keys of any name directly
        below HKEY_USERS, so a loaded hive is made by import.)"""
        p = self.prefix
        sample.install_sample(p)
        users = 'HKEY_USERS\\' + PROFILE_SID
        vendor = [users + '\\Software\\Velmora\\Lum', users + '\\Software\\Velmora Imaging',
                  users + '\\Software\\Microsoft\\Installer\\Products\\FCF897311C5C207F46D07BAB351A8BA8',
                  users + '_Classes\\CLSID\\{1BE3A785-8017-545C-62F3-D5C10ACC50BD}']
        others = [users + '\\Software\\Velmora2', users + '\\Software\\Velmora Imaging Viewer',
                  users + '\\Software\\Contoso\\Viewer', users + '_Classes\\CLSID\\{00000000-0000-0000-0000-000000000001}',
                  'HKEY_USERS\\' + SERVICE_SID + '\\Software\\Velmora']
        seed = {key: {'': 'x'} for key in vendor + others}
        for sid, folder in ((PROFILE_SID, 'labuser'), (SERVICE_SID, 'service')):
            seed[PROFILE_LIST + '\\' + sid] = {'ProfileImagePath': expand_string('%SystemDrive%\\users\\' + folder)}
        p.seed_registry(seed)

        run = p.run_cleanlum('managed', folder=sample.PROGRAM_FOLDER, timeout=300)

        self.assertEqual(3010, run.exit_code)
        for key in vendor:
            self.assertFalse(p.key_exists(key), key)
        for key in others:
            self.assertTrue(p.key_exists(key), key)

    def test_a_hive_in_its_file_is_loaded_for_the_run_backed_up_under_the_users_sid_and_unloaded(self):
        """A user whose hive is not loaded: an allusers run loads its NTUSER.DAT
        under a temporary name (SeBackupPrivilege and SeRestorePrivilege
        enabled for it), writes its vendor keys into the backup under
        HKEY_USERS\\<SID> and unloads it again. Wine's RegLoadKeyW loads the
        files its RegSaveKey writes (its own text format), but Wine keeps no
        change made to a loaded hive in its file (Windows writes it back): the
        key is there again when the result report looks, and is reported
        remaining, with its profile."""
        p = self.prefix
        sample.install_sample(p)
        saved = 'HKEY_USERS\\CleanLumSaved'
        p.seed_registry({saved + '\\Software\\Velmora\\Lum': {'Board': 'Parlow-CL'},
                         saved + '\\Software\\Contoso': {'Keep': 1},
                         PROFILE_LIST + '\\' + SAVED_SID: {'ProfileImagePath': expand_string('%SystemDrive%\\users\\saveduser')}})
        p.seed_files({'C:\\users\\saveduser\\Desktop\\note.txt': b'x'})
        p.probe('savehive', saved, SAVED_HIVE)
        p.seed_registry({saved: None})
        hive_keys = ['Software', 'Software\\Contoso', 'Software\\Velmora', 'Software\\Velmora\\Lum']
        self.assertEqual(hive_keys, sorted(p.probe('hivekeys', SAVED_HIVE).split('\r\n')[:-1]))

        run = p.run_cleanlum('silent noreboot allusers', folder=sample.PROGRAM_FOLDER, timeout=300)

        self.assertEqual(0, run.exit_code)
        self.assertFalse(p.key_exists('HKEY_USERS\\CleanLum ' + SAVED_SID))
        self.assertFalse(p.key_exists('HKEY_USERS\\' + SAVED_SID))
        self.assertEqual(hive_keys, sorted(p.probe('hivekeys', SAVED_HIVE).split('\r\n')[:-1]))  # Wine, see above
        report = json.loads(p.read_file([n for n in p.list_tree(REPORTS) if n.endswith('.json')][0]).decode('utf-8'))
        items = {item['path']: item for item in report['items']}
        item = items['HKU\\' + SAVED_SID + '\\Software\\Velmora']
        self.assertEqual({'sid': SAVED_SID, 'folder': 'C:\\users\\saveduser', 'hive': 'user'}, item['profile'])
        self.assertEqual([{'key': 'HKEY_USERS\\' + SAVED_SID, 'file': SAVED_HIVE}], report['backup']['loadedHives'])
        backup = p.read_file(report['backup']['file']).decode('utf-16')
        self.assertIn('[HKEY_USERS\\' + SAVED_SID + '\\Software\\Velmora\\Lum]', backup)
        self.assertNotIn('CleanLum S-', backup)


if __name__ == '__main__':
    unittest.main()
