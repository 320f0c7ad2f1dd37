"""-l and -i on the real modules in ../shared/td32-samples (read from there,
never copied into the repository), checked against the sources they were
built from and against their entry points and exports as python3-pefile
reads them; on each module as it is and stripped into its .tds file."""
import os
import re
import unittest

import pefile
from quillon import ROOT, Case

SAMPLES = os.path.join(ROOT, "..", "shared", "td32-samples")
LISTED = re.compile(r"([0-9a-f]{8}) 0x[0-9a-f]+ (.*?)(?: \((.*), line (\d+)\))?")
FOUND = re.compile(r"([0-9a-f]+): (.*?) \+ 0x([0-9a-f]+)(?: \((.*), line (\d+)\))?")
HEADING = re.compile(r"\s*(procedure|function|constructor|destructor)\s", re.I)


def base(path):
    return re.split(r"[\\/]", path or "")[-1].lower()


def readable(name):
    """The issue's rule; an export without mangling also loses the C underscore."""
    if not name.startswith("@"):
        return name[1:] if name.startswith("_") else name
    return name[1:].split("$")[0].replace("@@", ".").replace("@", ".")


@unittest.skipUnless(os.path.isdir(SAMPLES), "the real modules are not in ../shared/td32-samples")
class Samples(Case):
    def test_the_real_modules(self):
        for folder in sorted(f for f in os.listdir(SAMPLES) if os.path.isdir(os.path.join(SAMPLES, f))):
            with self.subTest(folder):
                self.check(os.path.join(SAMPLES, folder))

    def run_both(self, name, addresses):
        """-i and -l (in pieces that fit a Windows command line): their lines."""
        lines = self.quillon("-i", name)[1][4:-1]
        for start in range(0, len(addresses), 2000):
            code, out = self.quillon("-l", name, *("%x" % a for a in addresses[start:start + 2000]))
            self.assertEqual(code, 0)
            lines += out[3:-1]
        return lines

    def check(self, folder):
        source = os.path.join(folder, "source")
        sources = {}
        for file in os.listdir(source):
            with open(os.path.join(source, file), encoding="latin-1") as f:
                sources[file.lower()] = f.read().splitlines()
        module = next(n for n in os.listdir(folder) if n != "source")
        name = os.path.basename(folder) + "/" + module  # two samples have the same name
        with open(os.path.join(folder, module), "rb") as f:
            self.put(name, f.read())
        pe = pefile.PE(self.path(name))
        entry = pe.OPTIONAL_HEADER.AddressOfEntryPoint
        exports = [(e.name.decode(), e.address) for e in pe.DIRECTORY_ENTRY_EXPORT.symbols
                   if e.name] if hasattr(pe, "DIRECTORY_ENTRY_EXPORT") else []
        listing = [LISTED.fullmatch(line).groups() for line in self.quillon("-i", name)[1][4:-1]]
        addresses = [entry] + [a for _, a in exports] + [int(rva, 16) for rva, *_ in listing]
        lines = self.run_both(name, addresses)
        found = {int(m[1], 16): m.groups()[1:] for m in map(FOUND.fullmatch, lines) if m}

        # The entry point: the main program's procedure, on the main begin.
        main = next(n for n in sources if n.endswith((".dpr", ".dpk")))
        begins = [i + 1 for i, line in enumerate(sources[main]) if line.rstrip().lower() == "begin"]
        if begins:
            _, offset, file, line = found[entry]
            self.assertEqual((offset, base(file), int(line)), ("0", main, begins[-1]))
        else:  # a package's .dpk has no begin, and the block no procedure there (a global symbol without name)
            self.assertNotIn(entry, found)
        # The own units' procedures start on their begin, under their heading.
        for rva, procedure, file, line in listing:
            text = sources.get(base(file))
            if text is None or procedure.endswith(("initialization", "Finalization")):
                continue
            self.assertEqual(text[int(line) - 1].strip().lower(), "begin", procedure)
            heading = next(t for t in reversed(text[:int(line)]) if HEADING.match(t))
            self.assertIn(procedure.split(".")[-1].lower(), heading.lower())
        # Exported procedures: the start of one of that name (the block may add the unit).
        for export, rva in exports:
            if rva == entry or export.startswith("@$") or export.endswith("@") or not pe.get_section_by_rva(
                    rva).Characteristics & 0x20000000:
                continue
            procedure, offset = found[rva][0], found[rva][1]
            self.assertEqual(offset, "0", export)
            wanted = {"Initialize": "PackageLoad", "Finalize": "PackageUnload"}.get(export, readable(export))
            self.assertTrue(procedure == wanted or procedure.endswith("." + wanted), (export, procedure))
        # -l agrees with -i, and both say the same on the stripped module.
        for rva, procedure, file, line in listing:
            self.assertEqual(found[int(rva, 16)][:2], (procedure, "0"))
            if found[int(rva, 16)][2]:
                self.assertEqual(found[int(rva, 16)][2:], (file, line))
        self.assertEqual(self.quillon(name)[0], 0)
        self.assertEqual(self.run_both(name, addresses), lines)
