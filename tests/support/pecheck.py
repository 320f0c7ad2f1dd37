#!/usr/bin/env python3
"""Checks a PE module with python3-pefile, a reader we did not write.

Exit code 0 when pefile parses the module without a single warning, every
section's raw data lies within the file and, when the header's CheckSum is
not 0, the checksum verifies. Otherwise exit code 1 and the reasons.

usage: pecheck.py MODULE
       pecheck.py --checksum FILE   prints pefile's generate_checksum()
"""
import sys

import pefile


def problems(path):
    pe = pefile.PE(path)
    found = ["pefile: " + warning for warning in pe.get_warnings()]
    size = len(pe.__data__)
    for section in pe.sections:
        end = section.PointerToRawData + section.SizeOfRawData
        if section.SizeOfRawData and end > size:
            found.append("section %r runs to %#x, past the end of the file (%#x)" % (section.Name, end, size))
    if pe.OPTIONAL_HEADER.CheckSum != 0 and not pe.verify_checksum():
        found.append("CheckSum %#x does not verify (computed %#x)"
                     % (pe.OPTIONAL_HEADER.CheckSum, pe.generate_checksum()))
    return found


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "--checksum":
        print(pefile.PE(sys.argv[2]).generate_checksum())
        return 0
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    try:
        found = problems(sys.argv[1])
    except pefile.PEFormatError as error:
        found = ["pefile cannot read it: %s" % error]
    for problem in found:
        print(problem)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
