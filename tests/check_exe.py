#!/usr/bin/python3
"""Checks the built uninstaller: a hardened 32-bit GUI PE importing exactly five of Windows' own
DLLs, with its stack guard's failure handler linked in, and carrying exactly the dialog, strings,
accelerator, banner and icons the program loads, and its own manifest. The manifest asks for
administrator rights and names the five Windows versions from Vista on, and nothing else: no
assembly identity, no Common Controls 6 (visual styles would change the dialog), no DPI awareness,
code page or long paths. The dialog's layout and the manifest are pinned here on purpose: a change
to res/uninstaller.rc or res/uninstaller.manifest must be made here too."""
import re
import struct
import sys
from itertools import zip_longest
from xml.etree import ElementTree

import pefile

WINDOWS_DLLS = {'kernel32.dll', 'user32.dll', 'gdi32.dll', 'shell32.dll', 'msvcrt.dll'}
# ASLR, DEP, no structured exception handlers to be called, Terminal Server aware.
DYNAMIC_BASE, NX_COMPAT, NO_SEH, TERMINAL_SERVER_AWARE = 0x40, 0x100, 0x400, 0x8000
# The guard's failure handler: __fastfail(FAST_FAIL_STACK_COOKIE_CHECK_FAILURE), "mov ecx, 2;
# int 0x29", then TerminateProcess and a trap ("ud2"), so that it never runs on into the next
# function. Unused code is dropped at link time, so it is there only if protected code calls it.
FAST_FAIL_STACK_COOKIE = re.compile(rb'\xb9\x02\x00\x00\x00\xcd\x29.{0,32}?\x0f\x0b', re.S)
RT_BITMAP, RT_DIALOG, RT_STRING, RT_ACCELERATOR, RT_GROUP_ICON, RT_MANIFEST = 2, 5, 6, 9, 14, 24
WS_CHILD, WS_VISIBLE, WS_TABSTOP, WS_GROUP = 0x40000000, 0x10000000, 0x00010000, 0x00020000
BUTTON, STATIC = 0x80, 0x82

# Template order is also tab order: (id, class, style, x, y, cx, cy, text)
CONTROL_FIELDS = ('id', 'class', 'style', 'x', 'y', 'width', 'height', 'text')
EXPECTED_CONTROLS = [
    (1002, BUTTON, 0x00 | WS_TABSTOP, 297, 164, 51, 14, 'Uninstall'),
    (2, BUTTON, 0x01 | WS_TABSTOP, 241, 164, 50, 14, 'Cancel'),
    (0xFFFF, STATIC, 0x00 | WS_GROUP, 114, 76, 131, 24,
     'This program will uninstall Kessamar.\nThe savegames will not be deleted.'),
    (0xFFFF, STATIC, 0x0E, 7, 7, 341, 60, 104),
    (1003, BUTTON, 0x03 | WS_TABSTOP, 129, 108, 94, 10, 'Delete Desktop Shortcut'),
    (1004, STATIC, 0x1000 | WS_GROUP, 57, 148, 239, 10, ''),
    (1005, STATIC, 0x1000 | WS_GROUP, 57, 134, 239, 10, 'All files found'),
    (0xFFFF, STATIC, 0x00 | WS_GROUP, 31, 134, 24, 10, 'Status:'),
]
DIALOG_STYLE = 0x80000000 | 0x00C00000 | 0x00080000 | 0x80 | 0x40 | 0x800

ASM_V1 = '{urn:schemas-microsoft-com:asm.v1}'
ASM_V3 = '{urn:schemas-microsoft-com:asm.v3}'
COMPATIBILITY = '{urn:schemas-microsoft-com:compatibility.v1}'
# Windows Vista, 7, 8, 8.1, and 10 and 11.
SUPPORTED_OS = ['{e2011457-1546-43c5-a5fe-008deee3d3f0}', '{35138b9a-5d96-4fbd-8e2d-a2440225f93a}',
                '{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}', '{1f676c76-80e1-4239-95bb-83d0f6d0da78}',
                '{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}']
# The manifest's elements in document order: (depth, namespace and name, attributes).
EXPECTED_MANIFEST = [
    (0, ASM_V1 + 'assembly', {'manifestVersion': '1.0'}),
    (1, ASM_V3 + 'trustInfo', {}),
    (2, ASM_V3 + 'security', {}),
    (3, ASM_V3 + 'requestedPrivileges', {}),
    (4, ASM_V3 + 'requestedExecutionLevel', {'level': 'requireAdministrator', 'uiAccess': 'false'}),
    (1, COMPATIBILITY + 'compatibility', {}),
    (2, COMPATIBILITY + 'application', {}),
] + [(3, COMPATIBILITY + 'supportedOS', {'Id': guid}) for guid in SUPPORTED_OS]

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)


def resources(pe):
    found = {}
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for name in kind.directory.entries:
            for language in name.directory.entries:
                data = pe.get_data(language.data.struct.OffsetToData, language.data.struct.Size)
                found[(kind.id, name.id)] = data
    return found


def read_sz_or_ordinal(data, offset):
    """A dialog template field: 0x0000 none, 0xFFFF ordinal, else a UTF-16 string."""
    first, = struct.unpack_from('<H', data, offset)
    if first == 0xFFFF:
        return struct.unpack_from('<H', data, offset + 2)[0], offset + 4
    end = offset
    while struct.unpack_from('<H', data, end)[0] != 0:
        end += 2
    return data[offset:end].decode('utf-16-le'), end + 2


def check_dialog(data):
    style, exstyle, count, x, y, cx, cy = struct.unpack_from('<IIHhhhh', data, 0)
    check(style == DIALOG_STYLE, f'dialog style {style:#x}')
    check(exstyle == 0 and (x, y, cx, cy) == (0, 0, 355, 185), 'dialog frame')
    menu, offset = read_sz_or_ordinal(data, 18)
    klass, offset = read_sz_or_ordinal(data, offset)
    caption, offset = read_sz_or_ordinal(data, offset)
    check(menu == '' and klass == '', 'dialog menu or class')
    check(caption == 'Kessamar Uninstaller', f'caption {caption!r}')
    points, = struct.unpack_from('<H', data, offset)
    font, offset = read_sz_or_ordinal(data, offset + 2)
    check((points, font) == (8, 'MS Sans Serif'), f'font {points} {font!r}')
    check(count == len(EXPECTED_CONTROLS), f'{count} controls')
    for number, expected in enumerate(EXPECTED_CONTROLS, 1):
        offset = (offset + 3) & ~3
        style, exstyle, x, y, cx, cy, ident = struct.unpack_from('<IIhhhhH', data, offset)
        klass, offset = read_sz_or_ordinal(data, offset + 18)
        text, offset = read_sz_or_ordinal(data, offset)
        extra, = struct.unpack_from('<H', data, offset)
        offset += 2 + extra
        actual = (ident, klass, style & ~(WS_CHILD | WS_VISIBLE), x, y, cx, cy, text)
        ident_shown = -1 if expected[0] == 0xFFFF else expected[0]
        for field, want, got in zip(CONTROL_FIELDS, expected, actual):
            if field == 'style':
                want, got = hex(want), hex(got)
            check(want == got, f'control {number} (id {ident_shown}, {expected[7]!r}): {field} '
                               f'expected {want!r}, found {got!r}')
        check(style & (WS_CHILD | WS_VISIBLE) == WS_CHILD | WS_VISIBLE and exstyle == 0,
              f'control {ident} visibility')


def check_strings(data):
    strings, offset = [], 0
    while offset < len(data):
        length, = struct.unpack_from('<H', data, offset)
        strings.append(data[offset + 2:offset + 2 + 2 * length].decode('utf-16-le'))
        offset += 2 + 2 * length
    check(strings[1:3] == ['Kessamar Uninstaller', 'Uninstall KS'], f'strings {strings[1:3]}')
    check(not any(strings[3:]) and not strings[0], 'no other strings')


def manifest_elements(element, depth=0):
    yield depth, element.tag, element.attrib
    for child in element:
        yield from manifest_elements(child, depth + 1)


def check_manifest(data):
    try:
        root = ElementTree.fromstring(data)
    except ElementTree.ParseError as error:
        check(False, f'manifest: {error}')
        return
    # Windows documents where elements go, not where its parser takes a comment: nothing but the
    # XML declaration comes before <assembly>, as in Microsoft's own samples.
    check(data.split(b'?>', 1)[-1].lstrip().startswith(b'<assembly '), 'text before <assembly>')
    found = manifest_elements(root)
    for number, (want, got) in enumerate(zip_longest(EXPECTED_MANIFEST, found), 1):
        if want != got:
            check(False, f'manifest element {number}: expected {want}, found {got}')
            break
    check(not any((element.text or '').strip() or (element.tail or '').strip()
                  for element in root.iter()), 'text in the manifest')


def check_icon_group(data, size):
    reserved, kind, count = struct.unpack_from('<HHH', data, 0)
    width, height, colours, _, planes, bits = struct.unpack_from('<BBBBHH', data, 6)
    check(count == 1 and (width, height, colours, bits) == (size, size, 0, 8),
          f'icon group {size}: {count} images, {width}x{height} {bits} bits')


def main(path):
    pe = pefile.PE(path)
    check(pe.FILE_HEADER.Machine == 0x14C and pe.OPTIONAL_HEADER.Magic == 0x10B, 'PE32 i386')
    check(pe.OPTIONAL_HEADER.Subsystem == 2, 'GUI subsystem')
    dlls = {entry.dll.decode().lower() for entry in pe.DIRECTORY_ENTRY_IMPORT}
    check(dlls == WINDOWS_DLLS, f'imports {sorted(dlls)}, not {sorted(WINDOWS_DLLS)}')
    characteristics = pe.OPTIONAL_HEADER.DllCharacteristics
    for flag, name in ((DYNAMIC_BASE, 'DYNAMIC_BASE'), (NX_COMPAT, 'NX_COMPAT'), (NO_SEH, 'NO_SEH'),
                       (TERMINAL_SERVER_AWARE, 'TERMINAL_SERVER_AWARE')):
        check(characteristics & flag,
              f'DllCharacteristics {characteristics:#x} lacks {name} ({flag:#x})')
    text = next(section for section in pe.sections if section.Name.rstrip(b'\0') == b'.text')
    check(FAST_FAIL_STACK_COOKIE.search(text.get_data()),
          'no stack guard failure handler that ends in a trap linked in')

    found = resources(pe)
    expected_keys = {(RT_DIALOG, 101), (RT_STRING, 1), (RT_ACCELERATOR, 107), (RT_BITMAP, 104),
                     (RT_GROUP_ICON, 109), (RT_GROUP_ICON, 110), (RT_MANIFEST, 1)}
    check(expected_keys <= set(found), f'missing {expected_keys - set(found)}')
    kinds = {kind for kind, _ in found}
    check(kinds <= {RT_BITMAP, RT_DIALOG, RT_STRING, RT_ACCELERATOR, RT_GROUP_ICON, 3, RT_MANIFEST},
          f'unexpected resource kinds {kinds}')
    manifests = {name for kind, name in found if kind == RT_MANIFEST}
    check(manifests <= {1}, f'manifests {sorted(manifests)}, not 1 alone')
    if not failures:
        check_dialog(found[(RT_DIALOG, 101)])
        check_strings(found[(RT_STRING, 1)])
        accelerators = found[(RT_ACCELERATOR, 107)]
        check(len(accelerators) == 8, 'one accelerator')
        flags, key, command, _ = struct.unpack_from('<HHHH', accelerators, 0)
        check((flags & 0x7F, key, command) == (0x12, ord('/'), 104),
              f'accelerator {flags:#x} {key:#x} {command}')
        header = found[(RT_BITMAP, 104)]
        _, width, height, _, bits = struct.unpack_from('<IiiHH', header, 0)
        check((width, height, bits) == (512, 98, 8), f'banner {width}x{height} {bits} bits')
        check_icon_group(found[(RT_GROUP_ICON, 109)], 32)
        check_icon_group(found[(RT_GROUP_ICON, 110)], 16)
        check_manifest(found[(RT_MANIFEST, 1)])

    print(f'{path}: {len(open(path, "rb").read())} bytes, DllCharacteristics {characteristics:#x}, '
          f'imports {", ".join(sorted(dlls))}')
    for failure in failures:
        print('FAIL:', failure)
    if failures:
        print(f'The expected values, the dialog layout and the manifest among them, are pinned in '
              f'{__file__}.')
    return 1 if failures else 0


if __name__ == '__main__':
    USAGE = 'usage: tests/check_exe.py EXE'
    if sys.argv[1:] in (['-h'], ['--help']):
        sys.exit(print(USAGE))
    if len(sys.argv) != 2 or sys.argv[1].startswith('-'):
        print(USAGE, file=sys.stderr)
        sys.exit(2)
    sys.exit(main(sys.argv[1]))
