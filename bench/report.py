#!/usr/bin/python3
"""Turns bench/measure's timings and relay traces into the benchmark table (Markdown), and puts
it into the README when one is named. With --relay, names the calls that the trace relays."""
import os
import re
import statistics
import subprocess
import sys

import pefile

PROGRAMS = ('ours', 'nsis')


def timings(who):
    runs = []
    for line in open(os.path.join(bench, who + '.times')):
        runs.append({key: float(value) for key, value in re.findall(r'(\w+)_ms=([\d.]+)', line)})
    return runs


CALL = re.compile(r'Call [\w.]+\.(\w+)\((.*)\) ret=([0-9a-f]+)')
EXISTENCE = {'GetFileAttributesA', 'GetFileAttributesW', 'GetFileAttributesExA',
             'GetFileAttributesExW', 'FindFirstFileA', 'FindFirstFileW', 'FindFirstFileExA',
             'FindFirstFileExW'}
WRITES = {'WriteFile', 'CopyFileA', 'CopyFileW', 'CopyFileExW', 'MoveFileA', 'MoveFileW',
          'MoveFileExA', 'MoveFileExW', 'CreateDirectoryA', 'CreateDirectoryW',
          'GetTempFileNameA', 'GetTempFileNameW'}
RELAYED = EXISTENCE | WRITES | {'DeleteFileA', 'DeleteFileW', 'RemoveDirectoryA',
                                'RemoveDirectoryW', 'CreateFileA', 'CreateFileW', 'NtCreateFile',
                                'SetFileInformationByHandle'}
GENERIC_WRITE, FILE_FLAG_BACKUP_SEMANTICS, FILE_DIRECTORY_FILE = 0x40000000, 0x02000000, 1
DISPOSITIONS = {4, 21}  # FileDispositionInfo, and FileDispositionInfoEx tried first
USAGE = 'usage: bench/report.py --relay | bench/report.py BENCH_DIR OURS_EXE NSIS_EXE [README]'
if sys.argv[1:] in (['-h'], ['--help']):
    sys.exit(print(USAGE))
if sys.argv[1:] == ['--relay']:
    sys.exit(print(';'.join(sorted(RELAYED))))
if not 4 <= len(sys.argv) <= 5 or any(arg.startswith('-') for arg in sys.argv[1:]):
    print(USAGE, file=sys.stderr)
    sys.exit(2)
bench, ours_exe, nsis_exe = sys.argv[1:4]


def image_range(exe):
    """Where the program's own code lies: Wine loads it at its preferred base, and may put a DLL
    that it relocates just above."""
    header = pefile.PE(exe, fast_load=True).OPTIONAL_HEADER
    return range(header.ImageBase, header.ImageBase + header.SizeOfImage)


def file_calls(who, exe):
    """Counts the relayed calls made by the program's own code (return address in its image). A
    deletion through a handle goes with the open just before it: a folder removal when that
    opened a folder (backup semantics, or a directory for NtCreateFile), else a file deletion;
    once per open, as the old disposition follows the new one where it is not known."""
    counts = {'existence': 0, 'deletions': 0, 'removals': 0, 'writes': 0, 'reads': 0}
    opened_folder, counted = False, True
    image = image_range(exe)
    for line in open(os.path.join(bench, who + '.relay'), errors='replace'):
        match = CALL.search(line)
        if not match or int(match.group(3), 16) not in image:
            continue
        name, args = match.group(1), match.group(2)
        if name in EXISTENCE:
            counts['existence'] += 1
        elif name.startswith('DeleteFile'):
            counts['deletions'] += 1
        elif name.startswith('RemoveDirectory'):
            counts['removals'] += 1
        elif name in WRITES:
            counts['writes'] += 1
        elif name.startswith('CreateFile'):
            # The path may hold commas: the six numbers after it are read from the end.
            access, _, _, _, flags, _ = (int(field, 16) for field in args.rsplit(',', 6)[1:])
            counts['writes' if access & GENERIC_WRITE else 'reads'] += 1
            opened_folder, counted = bool(flags & FILE_FLAG_BACKUP_SEMANTICS), False
        elif name == 'NtCreateFile':
            fields = [int(field, 16) for field in args.split(',')]
            counts['writes' if fields[1] & GENERIC_WRITE else 'reads'] += 1
            opened_folder, counted = bool(fields[8] & FILE_DIRECTORY_FILE), False
        elif name == 'SetFileInformationByHandle':
            info_class = int(args.split(',')[1], 16)
            if info_class in DISPOSITIONS and not counted:
                counted = True
                counts['removals' if opened_folder else 'deletions'] += 1
    left = open(os.path.join(bench, who + '.temp-left')).read().split()
    counts['temp'] = len(left)
    return counts


def imports(exe):
    dlls = {entry.dll.decode() for entry in pefile.PE(exe).DIRECTORY_ENTRY_IMPORT}
    return ', '.join(sorted(dlls, key=str.upper))


def spread(values):
    return f'{statistics.median(values):.0f} ({min(values):.0f}–{max(values):.0f})'


def ratio(ours, nsis):
    return f'{ours / nsis:.2f}' if nsis else '–'


runs = {who: timings(who) for who in PROGRAMS}
calls = {'ours': file_calls('ours', ours_exe), 'nsis': file_calls('nsis', nsis_exe)}
sizes = {'ours': os.path.getsize(ours_exe), 'nsis': os.path.getsize(nsis_exe)}
wine = subprocess.run(['wine', '--version'], capture_output=True, text=True).stdout.strip()

rows = []
for key, label in (('ready', 'Start to ready, ms'), ('confirm_to_report', 'Confirm to report, ms'),
                   ('whole', 'Whole run, ms')):
    ours = [run[key] for run in runs['ours']]
    nsis = [run[key] for run in runs['nsis']]
    rows.append((label, spread(ours), spread(nsis),
                 ratio(statistics.median(ours), statistics.median(nsis))))
rows.append(('Exe size, bytes', str(sizes['ours']), str(sizes['nsis']),
             ratio(sizes['ours'], sizes['nsis'])))
rows.append(('Imported DLLs', imports(ours_exe), imports(nsis_exe), ''))
for key, label in (('existence', 'Existence tests (16 files, 5 folders)'),
                   ('deletions', 'Deletions (at most 16)'),
                   ('removals', 'Folder removals (5)'),
                   ('writes', 'Files or folders written (0)'),
                   ('reads', 'Files or folders opened, not for writing'),
                   ('temp', 'Left in the temporary folder')):
    rows.append((label, str(calls['ours'][key]), str(calls['nsis'][key]),
                 ratio(calls['ours'][key], calls['nsis'][key])))

table = [f'Typical run (15 files, desktop shortcut, empty Save), {len(runs["ours"])} interleaved '
         f'runs each, median (min–max); {wine} on this machine.\n',
         '| Measure | Ours | NSIS | Ours / NSIS |', '|---|---|---|---|']
table = '\n'.join(table + ['| ' + ' | '.join(row) + ' |' for row in rows])
print(table)
if len(sys.argv) > 4:
    readme = open(sys.argv[4]).read()
    start, end = '<!-- footprint:start -->', '<!-- footprint:end -->'
    readme = re.sub(re.escape(start) + '.*?' + re.escape(end),
                    lambda _: f'{start}\n{table}\n{end}', readme, flags=re.S)
    open(sys.argv[4], 'w').write(readme)
