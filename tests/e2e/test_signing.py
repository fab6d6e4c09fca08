"""The signed release, without Wine: CPack signs the staged CleanLum.exe with
Authenticode when given a certificate (as "./dev package --cert" does), the
signature verifies against that certificate, and a SHA-256 file lies beside
the zip. The certificate is a throw-away self-signed code-signing one made
here; without a certificate the package stays unsigned."""

import hashlib
import os
import subprocess
import tempfile
import unittest
import zipfile

from winebed import BUILD_DIR

from test_release import cmake_version


def run(*command, env=None):
    return subprocess.run(command, check=True, capture_output=True, env=env)


class SigningTest(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.TemporaryDirectory()
        w = cls.work.name
        cls.cert, cls.key, cls.p12 = (os.path.join(w, n) for n in ('cert.pem', 'key.pem', 'cert.p12'))
        # The password file as an administrator keeps it: one line.
        cls.password = os.path.join(w, 'pass.txt')
        with open(cls.password, 'w') as f:
            f.write('throw-away\n')
        pass_in = 'file:' + cls.password
        run('openssl', 'req', '-x509', '-newkey', 'rsa:2048', '-sha256', '-days', '2', '-subj',
            '/CN=CleanLum test signing', '-addext', 'extendedKeyUsage=codeSigning', '-addext',
            'keyUsage=critical,digitalSignature', '-keyout', cls.key, '-out', cls.cert, '-passout', pass_in)
        # openssl reads -passin and -passout from one file as two lines: a copy for the output.
        pass_out = os.path.join(w, 'pass-out.txt')
        with open(pass_out, 'w') as f:
            f.write('throw-away\n')
        run('openssl', 'pkcs12', '-export', '-inkey', cls.key, '-in', cls.cert, '-out', cls.p12,
            '-passin', pass_in, '-passout', 'file:' + pass_out)

    @classmethod
    def tearDownClass(cls):
        cls.work.cleanup()

    def package(self, **settings):
        """Packs the build into a new folder with the signing settings; returns
        the staged program's bytes and the folder."""
        out = tempfile.mkdtemp(dir=self.work.name)
        env = {k: v for k, v in os.environ.items() if not k.startswith('CLEANLUM_SIGN') and k != 'CLEANLUM_TIMESTAMP_URL'}
        env.update(settings)
        run('cpack', '--config', os.path.join(BUILD_DIR, 'CPackConfig.cmake'), '-B', out, env=env)
        name = 'CleanLum-%s-win64.zip' % cmake_version()
        zip_path = os.path.join(out, name)
        # The checksum file beside the zip, in sha256sum's form.
        with open(zip_path + '.sha256') as f:
            digest, listed = f.read().split()
        with open(zip_path, 'rb') as f:
            self.assertEqual(hashlib.sha256(f.read()).hexdigest(), digest)
        self.assertEqual(name, listed)
        with zipfile.ZipFile(zip_path) as package:
            program = os.path.join(out, 'CleanLum.exe')
            with open(program, 'wb') as f:
                f.write(package.read('CleanLum.exe'))
        return program

    def verify(self, program):
        return subprocess.run(['osslsigncode', 'verify', '-CAfile', self.cert, '-in', program],
                              capture_output=True)

    def test_a_pkcs12_certificate_signs_the_program_and_its_signature_verifies(self):
        program = self.package(CLEANLUM_SIGN_CERT=self.p12, CLEANLUM_SIGN_PASS_FILE=self.password)
        result = self.verify(program)
        self.assertEqual(0, result.returncode, result.stdout.decode() + result.stderr.decode())
        self.assertIn(b'CN=CleanLum test signing', result.stdout)

    def test_a_pem_certificate_and_key_sign_it_too(self):
        program = self.package(CLEANLUM_SIGN_CERT=self.cert, CLEANLUM_SIGN_KEY=self.key,
                               CLEANLUM_SIGN_PASS_FILE=self.password)
        result = self.verify(program)
        self.assertEqual(0, result.returncode, result.stdout.decode() + result.stderr.decode())

    def test_without_a_certificate_the_package_is_unsigned_and_a_bad_one_fails_it(self):
        program = self.package()
        self.assertNotEqual(0, self.verify(program).returncode)
        with self.assertRaises(subprocess.CalledProcessError):
            self.package(CLEANLUM_SIGN_CERT=self.p12)  # no password: the key cannot be read


if __name__ == '__main__':
    unittest.main()
