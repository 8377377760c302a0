#!/usr/bin/python3
"""Checks the Windows launcher's image: a GUI program importing system DLLs only, small enough
to leave volume 1 its room, and holding every resource with its exact content.

Usage: windows_image_check.py QMRSFX_EXE
"""
import struct
import sys
import xml.etree.ElementTree as ElementTree

import pefile

LANG_JAPANESE = 0x411
STRINGS = {
    1: "Quillmoor Version%s のインストール、または\nバージョンアップを行います。続行しますか？\n",
    2: "Quillmoor 自己展開プログラム",
    3: "ドライブ %c: に 「Quillmoor Version%s Disk%d」を挿入し、\n[OK] ボタンを押してください",
    5: "アーカイブの展開中にエラーが発生しました",
}
WS_POPUP, WS_VISIBLE, WS_CAPTION, WS_SYSMENU, WS_BORDER, WS_CHILD = (
    0x80000000, 0x10000000, 0x00C00000, 0x00080000, 0x00800000, 0x40000000)
DS_MODALFRAME, DS_SETFONT, SS_ICON = 0x80, 0x40, 0x3
MAX_STUB_SIZE = 24064  # the payload offset the launcher design ships with
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"
SETTINGS_2005 = "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}"
SETTINGS_2019 = "{http://schemas.microsoft.com/SMI/2019/WindowsSettings}"
COMPATIBILITY = "{urn:schemas-microsoft-com:compatibility.v1}"
SUPPORTED_OS = {  # Windows 7, 8, 8.1, 10 and 11
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)


def resources(pe):
    """{(type, id): (lang, bytes)} of the image's resources."""
    found = {}
    for type_entry in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        kind = str(type_entry.name) if type_entry.name is not None else type_entry.id
        for id_entry in type_entry.directory.entries:
            for lang_entry in id_entry.directory.entries:
                data = lang_entry.data.struct
                found[(kind, id_entry.id)] = (lang_entry.id, pe.get_data(data.OffsetToData, data.Size))
    return found


def utf16z(data, at):
    end = at
    while data[end:end + 2] != b"\0\0":
        end += 2
    return data[at:end].decode("utf-16le"), end + 2


def sz_or_ord(data, at):
    if data[at:at + 2] == b"\xff\xff":
        return struct.unpack_from("<H", data, at + 2)[0], at + 4
    return utf16z(data, at)


def check_dialog(data):
    style, _exstyle, count, x, y, cx, cy = struct.unpack_from("<IIHhhhh", data, 0)
    at = 18
    _menu, at = sz_or_ord(data, at)
    _klass, at = sz_or_ord(data, at)
    title, at = utf16z(data, at)
    points = struct.unpack_from("<H", data, at)[0]
    face, at = utf16z(data, at + 2)
    check(style == WS_POPUP | WS_VISIBLE | WS_CAPTION | DS_MODALFRAME | DS_SETFONT,
          f"dialog style {style:#x}: pop-up, visible, caption, modal frame, no system menu")
    check(not style & WS_SYSMENU, "the dialog has no system menu (no close box)")
    check((x, y, cx, cy) == (0, 0, 187, 53), f"dialog geometry {(x, y, cx, cy)}")
    check(title == STRINGS[2], f"dialog title {title!r}")
    check((points, face) == (9, "ＭＳ Ｐゴシック"), f"dialog font {points} {face!r}")
    controls = []
    for _ in range(count):
        at = (at + 3) & ~3
        cstyle, _cexstyle, x, y, cx, cy, cid = struct.unpack_from("<IIhhhhH", data, at)
        at += 18
        klass, at = sz_or_ord(data, at)
        text, at = sz_or_ord(data, at)
        extra = struct.unpack_from("<H", data, at)[0]
        at += 2 + extra
        controls.append((klass, text, (x, y, cx, cy), cid if cid != 0xFFFF else -1, cstyle))
    check(len(controls) == 3, f"three controls, found {len(controls)}")
    if len(controls) == 3:
        icon, text, bar = controls
        check(icon[0] in (0x82, "Static", "STATIC") and icon[1] == 106 and icon[2] == (7, 6, 18, 20)
              and icon[3] == -1 and icon[4] & SS_ICON == SS_ICON, f"icon control {icon}")
        check(text[0] in (0x82, "Static") and text[2] == (34, 7, 146, 21) and text[3] == 1001
              and text[1] == "自己展開プログラムが必要なファイルを取り出す間、しばらくお待ちください。",
              f"text control {text}")
        check(str(bar[0]).lower() == "msctls_progress32" and bar[2] == (15, 38, 157, 8) and bar[3] == 1000
              and bar[4] & WS_BORDER, f"progress bar {bar}")


def check_manifest(text):
    try:
        root = ElementTree.fromstring(text.encode("utf-8"))
    except ElementTree.ParseError as error:
        check(False, f"the manifest does not parse: {error}")
        return
    level = root.find(f"{ASM_V3}trustInfo/{ASM_V3}security/{ASM_V3}requestedPrivileges/"
                      f"{ASM_V3}requestedExecutionLevel")
    check(level is not None and level.get("level") == "asInvoker", "a manifest asking for asInvoker")
    settings = root.find(f"{ASM_V3}application/{ASM_V3}windowsSettings")
    code_page = settings.find(f"{SETTINGS_2019}activeCodePage") if settings is not None else None
    check(code_page is not None and code_page.text == "ja-JP", "the manifest asks for the Japanese code page")
    dpi = settings.find(f"{SETTINGS_2005}dpiAware") if settings is not None else None
    check(dpi is not None and dpi.text == "true", "the manifest declares the launcher system DPI aware")
    ids = {os.get("Id") for os in root.iter(f"{COMPATIBILITY}supportedOS")}
    check(ids == SUPPORTED_OS, f"supported systems {sorted(ids)}: Windows 7 to 11")


def check_icon_group(found, group_id, sizes):
    lang, data = found.get((pefile.RESOURCE_TYPE["RT_GROUP_ICON"], group_id), (None, b""))
    check(len(data) >= 6, f"icon group {group_id} present")
    if len(data) < 6:
        return
    count = struct.unpack_from("<H", data, 4)[0]
    entries = [struct.unpack_from("<BBBBHHIH", data, 6 + 14 * i) for i in range(count)]
    got = sorted((e[0] or 256, e[2], e[5]) for e in entries)
    want = sorted((size, 16, 4) for size in sizes)
    check(got == want, f"icon group {group_id}: (size, colours, bits) {got}, want {want}")


def main():
    path = sys.argv[1]
    pe = pefile.PE(path)
    size = len(open(path, "rb").read())
    check(pe.FILE_HEADER.Machine == 0x8664, "x86_64 image")
    check(pe.OPTIONAL_HEADER.Subsystem == 2, "GUI subsystem")
    check(size <= MAX_STUB_SIZE, f"{size} bytes, more than {MAX_STUB_SIZE}")
    dlls = sorted(entry.dll.decode().lower() for entry in pe.DIRECTORY_ENTRY_IMPORT)
    check(set(dlls) <= {"kernel32.dll", "user32.dll", "msvcrt.dll"}, f"imports {dlls}: system DLLs only")

    found = resources(pe)
    for (kind, rid), (lang, _) in found.items():
        check(lang == LANG_JAPANESE or kind == pefile.RESOURCE_TYPE["RT_MANIFEST"],
              f"resource {kind}/{rid} in language {lang:#x}")
    _, block = found.get((pefile.RESOURCE_TYPE["RT_STRING"], 1), (None, b""))
    at, strings = 0, {}
    for index in range(16):
        if at + 2 > len(block):
            break
        length = struct.unpack_from("<H", block, at)[0]
        strings[index] = block[at + 2:at + 2 + 2 * length].decode("utf-16le")
        at += 2 + 2 * length
    for sid, text in STRINGS.items():
        check(strings.get(sid) == text, f"string {sid}: {strings.get(sid)!r}")
    _, dialog = found.get((pefile.RESOURCE_TYPE["RT_DIALOG"], 102), (None, b""))
    check(bool(dialog), "dialog 102 present")
    if dialog:
        check_dialog(dialog)
    check_icon_group(found, 101, [32, 16])
    check_icon_group(found, 106, [32])
    check(found.get(("CUSTOMDATA", 104), (0, b""))[1] == b"\xff\xff\xff\xff", "CUSTOMDATA 104: 4-byte placeholder")
    check(found.get(("CUSTOMDATA", 105), (0, b""))[1] == b"1.13a" + b"\0" * 11, "CUSTOMDATA 105: 16-byte version")
    check((pefile.RESOURCE_TYPE["RT_VERSION"], 1) in found, "a version-information block")
    manifest = found.get((pefile.RESOURCE_TYPE["RT_MANIFEST"], 1), (0, b""))[1].decode("utf-8", "replace")
    check_manifest(manifest)

    for failure in failures:
        print("FAIL:", failure)
    print(f"{path}: {size} bytes, imports {', '.join(dlls)}, {len(found)} resources")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
