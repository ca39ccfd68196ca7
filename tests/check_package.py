#!/usr/bin/python3
"""Makes the release package with CPack and checks it: exactly the exe, README.txt and
SHA256SUMS, with the exe as built and a sum that matches it. Then signs a release with a
throw-away certificate, checks the signature and the sum, and drives the signed exe through a
typical run on Wine; and checks that a wrong password, a timestamp server that does not answer
or an exe older than its sources makes no package at all."""
import hashlib
import os
import socket
import subprocess
import sys
import tempfile
import zipfile

USAGE = 'usage: tests/check_package.py CPACK CPACK_CONFIG PACKAGE_ZIP EXE DRIVER'
if sys.argv[1:] in (['-h'], ['--help']):
    sys.exit(print(USAGE))
if len(sys.argv) != 6 or any(arg.startswith('-') for arg in sys.argv[1:]):
    print(USAGE, file=sys.stderr)
    sys.exit(2)
cpack, config, package_path, exe, driver = sys.argv[1:6]
project = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def package_with(folder, here=None, **signing):
    """Runs CPack into the folder with the signing variables given, in the build folder as
    `cpack --preset` does, started from here (PWD); returns its result, the package's path and
    the shipped exe (None when there is no package)."""
    env = {key: value for key, value in os.environ.items() if not key.startswith('KESSAMAR_SIGN')}
    env['PWD'] = here or os.getcwd()
    made = subprocess.run([cpack, '--config', config, '-B', folder], env=dict(env, **signing),
                          cwd=os.path.dirname(config), capture_output=True, text=True)
    package = os.path.join(folder, os.path.basename(package_path))
    if made.returncode != 0:
        return made, package, None
    with zipfile.ZipFile(package) as archive:
        names = sorted(archive.namelist())
        expected = ['KessamarUninstaller.exe', 'README.txt', 'SHA256SUMS']
        if names != expected:
            sys.exit(f'FAIL: {package} holds {names}, not {expected}')
        shipped = archive.read('KessamarUninstaller.exe')
        sums = archive.read('SHA256SUMS').decode('ascii')
    digest = hashlib.sha256(shipped).hexdigest()
    if sums != f'{digest}  KessamarUninstaller.exe\n':
        sys.exit(f'FAIL: SHA256SUMS reads {sums!r}, the exe is {digest}')
    return made, package, shipped


def refused(made, package, *words):
    """Whether the package step failed, left no package and said why in one line with words."""
    line = next((line for line in made.stderr.splitlines() if 'Release not made: ' in line), '')
    return made.returncode != 0 and not os.path.exists(package) and all(w in line for w in words)


def run(*command, **options):
    return subprocess.run(command, check=True, capture_output=True, text=True, **options)


built = open(exe, 'rb').read()
made, package, shipped = package_with(os.path.dirname(package_path))
if shipped != built:
    sys.exit(f'FAIL: the packaged exe is not the one built: {made.stderr}')
print(f'{package}: unsigned exe as built, sum {hashlib.sha256(shipped).hexdigest()}')

# Signed releases go to a folder of their own: the package in the build tree stays unsigned.
with tempfile.TemporaryDirectory(dir=os.path.dirname(exe)) as work:
    key, cert, pfx = (os.path.join(work, name) for name in ('key.pem', 'cert.pem', 'cert.pfx'))
    run('openssl', 'req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-days', '1', '-keyout', key,
        '-out', cert, '-subj', '/CN=Kessamar throw-away signer',
        '-addext', 'extendedKeyUsage=codeSigning')
    run('openssl', 'pkcs12', '-export', '-inkey', key, '-in', cert, '-out', pfx,
        '-passout', 'pass:throw away')

    # A relative path names the certificate from the folder the command was started in.
    made, package, signed = package_with(work, here=work, KESSAMAR_SIGN_PFX='cert.pfx',
                                         KESSAMAR_SIGN_PASSWORD='throw away')
    if signed is None or signed == built or open(exe, 'rb').read() != built:
        sys.exit(f'FAIL: no signed exe in the package, or the built one changed: {made.stderr}')
    signed_exe = os.path.join(work, 'KessamarUninstaller.exe')
    open(signed_exe, 'wb').write(signed)
    verified = subprocess.run(['osslsigncode', 'verify', '-CAfile', cert, '-in', signed_exe],
                              capture_output=True, text=True)
    if verified.returncode != 0:
        sys.exit(f'FAIL: osslsigncode does not verify the signed exe: {verified.stdout}')

    # The signed exe still does its job: a typical run in a sample installation.
    install = os.path.join(work, 'install')
    run('bash', '-c', 'source "$0/scripts/sample-install" && lay_out_sample "$1"', project, install)
    windows_path = 'Z:' + signed_exe.replace('/', '\\')
    run(os.path.join(project, 'scripts', 'wine-run'), driver, 'ours', windows_path, cwd=install)
    left = sorted(os.listdir(install))
    if left:
        sys.exit(f'FAIL: the signed exe left {left} in its installation')
    print(f'{package}: signed exe verified against its certificate, sum matches, typical run done')

    # A wrong password makes no package, and takes the last one away.
    made, package, _ = package_with(work, KESSAMAR_SIGN_PFX=pfx, KESSAMAR_SIGN_PASSWORD='wrong')
    if not refused(made, package, 'Wrong password'):
        sys.exit(f'FAIL: a wrong password still left {package}: {made.stderr}')

    # So does an RFC 3161 timestamp server that nothing answers, and the signer says so.
    with socket.socket() as closed:
        closed.bind(('127.0.0.1', 0))
        url = 'http://127.0.0.1:%d' % closed.getsockname()[1]
        made, package, _ = package_with(work, KESSAMAR_SIGN_PFX=pfx, KESSAMAR_SIGN_PASSWORD=
                                        'throw away', KESSAMAR_SIGN_TIMESTAMP_URL=url)
    if not refused(made, package, url, 'RFC 3161'):
        sys.exit(f'FAIL: a timestamp server that does not answer left {package}: {made.stderr}')

    # An exe older than what it is built from is refused, with the command that rebuilds it.
    built_at = os.stat(exe)
    os.utime(exe, ns=(built_at.st_atime_ns, 946684800 * 10**9))
    try:
        made, package, _ = package_with(work)
    finally:
        os.utime(exe, ns=(built_at.st_atime_ns, built_at.st_mtime_ns))
    if not refused(made, package, 'is older than', 'run cmake --build'):
        sys.exit(f'FAIL: an exe older than its sources still left {package}: {made.stderr}')
