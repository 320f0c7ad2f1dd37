#!/usr/bin/env python3
"""Checks Marrowby.exe with Debian's python3-pefile, a PE reader we did not
write: a window (GUI) program that needs no mingw runtime DLL, with the icon
group "MAINICON" (one image, 32 x 32, 16 colours) and the form description
"TFORM1" as raw data, byte for byte the file it was built from.

Usage: check_marrowby_exe.py Marrowby.exe Unit1.form
"""
import struct
import sys

import pefile

RT_ICON, RT_RCDATA, RT_GROUP_ICON = 3, 10, 14
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "msvcrt.dll", "advapi32.dll",
               "shell32.dll", "ole32.dll", "comctl32.dll", "ucrtbase.dll"}

failures = []
checks = 0


def check(condition, message):
    global checks
    checks += 1
    if not condition:
        failures.append(message)


def resource(pe, type_id, name):
    """The data of the first language of resource type_id/name, or None."""
    directory = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    for entry in directory.entries if directory else []:
        if entry.id != type_id:
            continue
        for named in entry.directory.entries:
            key = str(named.name) if named.name is not None else named.id
            if key == name:
                data = named.directory.entries[0].data.struct
                return pe.get_data(data.OffsetToData, data.Size)
    return None


def check_icon(pe):
    group = resource(pe, RT_GROUP_ICON, "MAINICON")
    check(group is not None, "no icon group MAINICON")
    if group is None:
        return
    _, kind, count = struct.unpack_from("<HHH", group)
    check(kind == 1 and count == 1, f"MAINICON holds {count} images of kind {kind}, not one icon")
    width, height, colours, _, _, bits, _, icon_id = struct.unpack_from("<BBBBHHIH", group, 6)
    check((width, height, colours, bits) == (32, 32, 16, 4),
          f"MAINICON is {width}x{height}, {colours} colours, {bits} bpp")
    image = resource(pe, RT_ICON, icon_id)
    check(image is not None, f"the icon image {icon_id} is missing")
    if image is not None:
        _, bmp_width, bmp_height, _, bmp_bits = struct.unpack_from("<IiiHH", image)
        check((bmp_width, bmp_height, bmp_bits) == (32, 64, 4),
              f"the icon bitmap is {bmp_width}x{bmp_height} at {bmp_bits} bpp")


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: check_marrowby_exe.py Marrowby.exe Unit1.form")
    pe = pefile.PE(sys.argv[1])
    check(pe.OPTIONAL_HEADER.Subsystem == pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_GUI"],
          f"subsystem {pe.OPTIONAL_HEADER.Subsystem} is not the window subsystem")
    dlls = {entry.dll.decode().lower() for entry in pe.DIRECTORY_ENTRY_IMPORT}
    check(dlls <= SYSTEM_DLLS, f"imports DLLs beyond the system's: {sorted(dlls - SYSTEM_DLLS)}")
    check_icon(pe)
    with open(sys.argv[2], "rb") as form:
        expected = form.read()
    check(resource(pe, RT_RCDATA, "TFORM1") == expected, "TFORM1 differs from the form description file")
    for failure in failures:
        print("FAILED:", failure)
    print(f"{checks - len(failures)} passed, {len(failures)} failed")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
