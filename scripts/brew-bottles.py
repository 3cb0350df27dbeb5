#!/usr/bin/env python3
"""Reads `brew info --json=v2 FORMULA...` and prints, one a line, each formula that has no bottle
this Mac can pour: no "all" bottle, and none for its architecture and its macOS or an older one.

  brew info --json=v2 FORMULA... | scripts/brew-bottles.py MACHINE MACOS_VERSION

MACHINE and MACOS_VERSION are what `uname -m` and `sw_vers -productVersion` print. Homebrew pours
a bottle built for an older macOS on a newer one, never the other way round. On a macOS newer
than those named below nothing is judged (one line on stderr says so): brew decides there."""
import json
import sys

# Homebrew's names for the macOS versions in its bottle tags ("arm64_sequoia", "sonoma", ...).
RELEASES = {"high_sierra": 10.13, "mojave": 10.14, "catalina": 10.15, "big_sur": 11, "monterey": 12,
            "ventura": 13, "sonoma": 14, "sequoia": 15, "tahoe": 26}


def release(version):
    """10.15.7 -> 10.15, 15.5 -> 15, 26.1 -> 26: the number the names above stand for."""
    parts = [int(part) for part in version.split(".")[:2]] + [0]
    return parts[0] + parts[1] / 100 if parts[0] == 10 else parts[0]


def pourable(tags, arm, mac):
    for tag in tags:
        if tag == "all":
            return True
        name = tag.removeprefix("arm64_")
        if (name != tag) == arm and name in RELEASES and RELEASES[name] <= mac:
            return True
    return False


def main():
    machine, version = sys.argv[1], sys.argv[2]
    mac = release(version)
    if mac > max(RELEASES.values()):
        print(f"brew-bottles: macOS {version} is newer than the bottle tags known here; brew decides", file=sys.stderr)
        return
    for formula in json.load(sys.stdin).get("formulae", []):
        files = ((formula.get("bottle") or {}).get("stable") or {}).get("files") or {}
        if not pourable(files, machine == "arm64", mac):
            print(formula["name"])


if __name__ == "__main__":
    main()
