#!/usr/bin/python3
"""Makes the release package with CPack and checks it: exactly the exe, README.txt and
SHA256SUMS, with the exe as built and a sum that matches it."""
import hashlib
import subprocess
import sys
import zipfile

USAGE = 'usage: tests/check_package.py CPACK CPACK_CONFIG PACKAGE_ZIP EXE'
if sys.argv[1:] in (['-h'], ['--help']):
    sys.exit(print(USAGE))
if len(sys.argv) != 5 or any(arg.startswith('-') for arg in sys.argv[1:]):
    print(USAGE, file=sys.stderr)
    sys.exit(2)
cpack, config, package, exe = sys.argv[1:5]
subprocess.run([cpack, '--config', config], check=True, stdout=subprocess.DEVNULL)

with zipfile.ZipFile(package) as archive:
    names = sorted(archive.namelist())
    expected = ['KessamarUninstaller.exe', 'README.txt', 'SHA256SUMS']
    if names != expected:
        sys.exit(f'FAIL: {package} holds {names}, not {expected}')
    shipped = archive.read('KessamarUninstaller.exe')
    sums = archive.read('SHA256SUMS').decode('ascii')

digest = hashlib.sha256(shipped).hexdigest()
if shipped != open(exe, 'rb').read():
    sys.exit('FAIL: the packaged exe is not the one built')
if sums != f'{digest}  KessamarUninstaller.exe\n':
    sys.exit(f'FAIL: SHA256SUMS reads {sums!r}, the exe is {digest}')
print(f'{package}: {", ".join(names)}; KessamarUninstaller.exe {digest}')
