#!/usr/bin/env python3
"""Checks a PE module with python3-pefile, a reader we did not write: exit
code 0 when pefile reads it without a warning (but on the entry point),
every section's raw data lies in the file and a CheckSum other than 0
verifies; otherwise 1 and the reasons.

usage: pecheck.py MODULE
"""
import sys

import pefile


def problems(path):
    try:
        pe = pefile.PE(path)
    except pefile.PEFormatError as error:
        return ["pefile cannot read it: %s" % error]
    # Test modules put their entry point anywhere; the editor never moves it.
    found = [w for w in pe.get_warnings() if "AddressOfEntryPoint" not in w]
    for section in pe.sections:
        if section.SizeOfRawData and section.PointerToRawData + section.SizeOfRawData > len(pe.__data__):
            found.append("section %r runs past the end of the file" % section.Name)
    if pe.OPTIONAL_HEADER.CheckSum != 0 and not pe.verify_checksum():
        found.append("CheckSum %#x does not verify (computed %#x)"
                     % (pe.OPTIONAL_HEADER.CheckSum, pe.generate_checksum()))
    return found


if __name__ == "__main__":
    found = problems(sys.argv[1])
    print("\n".join(found))
    sys.exit(1 if found else 0)
