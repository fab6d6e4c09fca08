"""Generated machines under Wine: a few fixed seeds of the machines that the
simulation checks by the hundred (tests/safety) are built in a prefix and
cleaned by the real CleanLum.exe with the vendor's tools faked. After the run
every item that is not the vendor's is exactly as it was (drive C: and the
registry, read through the Win32 API), and every item of the vendor's is gone
unless the design keeps it for a reason that holds on that machine.

Wine cannot make or hold everything the simulation can: no files in use,
refused keys, ACLs or running background processes, and a file symbolic link
looks like an ordinary file, so those are left to the simulation. Directory
links are made as Unix symbolic links, which Wine shows as links; since Wine
removes a directory link by acting on its target, what the run leaves of a
vendor folder that holds one is accepted, and only that nothing behind the
link is deleted is checked.

One seed by hand (CLEANLUM_WINDOWS: 6, 5 or 4, default 6):

    CLEANLUM_SEED=17 CLEANLUM_WINDOWS=5 python3 -m unittest -v test_generated_machines
"""

import os
import sys
import unittest

from winebed import BED, BIN, Prefix, program, _read

# (seed, Windows version) chosen to cover both releases, an accepted and a
# refused "Directory" (seed 16's holds another vendor's registered
# application), the "msi" argument, directory links inside the vendor's
# folders, boards, products and INF packages, and the three versions' shortcut
# places; none names a GigE board (each pauses the run 75 seconds).
MACHINES = ((2, 6), (16, 5), (23, 4), (37, 6))
PREFIX_VERSIONS = {6: 'win7', 5: 'winxp', 4: 'nt40'}

MACHINE = BIN + '\\safety_machine.exe'
BEFORE = BED + '\\before.txt'


def machines():
    seed = os.environ.get('CLEANLUM_SEED')
    if not seed:
        return MACHINES
    return ((int(seed), int(os.environ.get('CLEANLUM_WINDOWS', '6'))),)


def build_machine(prefix, seed, version):
    """Builds the seed's machine in the prefix with the tools and the program
    in its working directory, and reads the state before the run. Returns the
    run's facts: its arguments and its folder."""
    prefix.seed_files({MACHINE: _read(program('safety_machine.exe'))})
    built = prefix.wine(MACHINE, 'build', str(seed), str(version))
    if built.returncode != 0:
        raise RuntimeError('seed %d cannot be built: %s' % (seed, built.stderr.decode('latin-1')))
    facts = {}
    for line in built.stdout.decode('latin-1').splitlines():
        kind, _, rest = line.partition(' ')
        if kind == 'link':  # Wine makes no links through Win32: a Unix link is its directory link
            path, target = rest.split('|')
            os.symlink(prefix.unix_path(target), prefix.unix_path(path))
        else:
            facts[kind] = rest
    prefix.install_tools(facts['cwd'])  # over the generator's stand-ins, before the state is read
    prefix.install_cleanlum(facts['cwd'])
    prefix.wine(MACHINE, 'snap', str(seed), str(version), BEFORE, check=True)
    return facts


def check_machine(prefix, seed, version):
    """The check's exit code (0: no problem) and its report."""
    checked = prefix.wine(MACHINE, 'check', str(seed), str(version), BEFORE, prefix.temp_directory())
    return checked.returncode, checked.stdout.decode('latin-1')


class GeneratedMachineTest(unittest.TestCase):

    def test_nothing_but_the_vendors_items_goes_and_all_of_them_do(self):
        for seed, version in machines():
            name = '%s-%d-%d' % (self.id(), seed, version)
            with self.subTest(seed=seed, windows=version), Prefix(name, PREFIX_VERSIONS[version]) as prefix:
                facts = build_machine(prefix, seed, version)

                run = prefix.run_cleanlum(facts['arguments'], folder=facts['cwd'], timeout=400)

                code, report = check_machine(prefix, seed, version)
                sys.stderr.write(report.strip().splitlines()[-1] + '\n')
                replay = ('\n  replay: CLEANLUM_SEED=%d CLEANLUM_WINDOWS=%d python3 -m unittest -v '
                          'test_generated_machines' % (seed, version))
                self.assertEqual(0, run.exit_code, report + replay)
                self.assertEqual([], run.boxes, replay)
                self.assertEqual(0, code, report + replay)

    def test_the_check_reports_damage_to_other_items_and_vendor_items_left(self):
        seed, version = MACHINES[0]
        with Prefix(self.id(), PREFIX_VERSIONS[version]) as prefix:
            build_machine(prefix, seed, version)
            # No run: every vendor item stays. One file and one value of others change.
            os.unlink(prefix.unix_path('C:\\Program Files\\Contoso\\app.exe'))
            prefix.set_windows_version('winxp')

            code, report = check_machine(prefix, seed, version)

            self.assertEqual(1, code, report)
            self.assertIn("deleted but not the vendor's: file C:\\PROGRAM FILES\\CONTOSO\\APP.EXE", report)
            self.assertIn("changed but not the vendor's: value HKCU\\SOFTWARE\\WINE : VERSION", report)
            self.assertIn('vendor item left behind: ', report)


if __name__ == '__main__':
    unittest.main()
