"""Writes the README.txt of the Windows zips from README.md: its opening
paragraph and its "Using the tool" section as plain text, code blocks
indented instead of fenced, with CR LF line ends.

Usage: readme_text.py README.md README.txt VERSION"""
import re
import sys


def section(markdown, heading):
    """The text under a heading, up to the next heading."""
    match = re.search(rf"^{re.escape(heading)}\n(.*?)(?=^#|\Z)", markdown, re.M | re.S)
    if not match:
        sys.exit(f"README.md has no heading {heading!r}")
    return match.group(1).strip()


def main(source, target, version):
    with open(source, encoding="utf-8") as f:
        markdown = f.read()
    title = f"Quillon {version}"
    text = "\n\n".join([
        f"{title}\n{'=' * len(title)}",
        section(markdown, "# Quillon").split("\n\n")[0],  # the build commands after it are for developers
        "In this zip: quillon.exe, the tool, and Marrowby.exe, the window program.",
        "Using the tool\n--------------",
        section(markdown, "## Using the tool"),
    ]) + "\n"
    text = re.sub(r"^```\w*\n(.*?)^```\n",
                  lambda block: re.sub(r"^(?=.)", "    ", block.group(1), flags=re.M), text, flags=re.M | re.S)
    with open(target, "w", encoding="utf-8", newline="\r\n") as f:
        f.write(text)


if __name__ == "__main__":
    main(*sys.argv[1:])
