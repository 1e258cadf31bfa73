#!/usr/bin/python3
"""A stand-in for apt-get, apt-cache, dpkg and dpkg-query, for the tests of
the setup scripts. It answers as the real tools did on a fresh machine whose
mirror was in the middle of a sync (the outputs in fixtures/ are theirs),
following the scenario in $FAKE_APT_SCENARIO, and logs every call to
$FAKE_APT_LOG as one JSON line.

Scenario keys (all optional):
  update_failures   how many `apt-get update` calls fail before one loads
                    everything; -1: every call fails
  install_needs_pin the install fails ("held broken packages") unless an apt
                    preference lowering a suite to priority 100 is in place
  unavailable       packages that cannot be installed whatever the pin
  installed         packages dpkg-query reports as installed; "all" for all
  foreign_archs     what dpkg --print-foreign-architectures prints
  sources           stanzas `apt-cache showsrc PACKAGE` prints, each
                    {"version", "tarball", "sha256"} and "package" (by
                    default zlib); only those of PACKAGE are printed
  downloads         version -> path of the file `apt-get source` downloads
                    for it (a version missing here fails as a 404 would)
"""

import json
import os
import sys
from pathlib import Path

FIXTURES = Path(__file__).resolve().parent / "fixtures"
SCENARIO = json.loads(Path(os.environ["FAKE_APT_SCENARIO"]).read_text())
STATE = Path(os.environ["FAKE_APT_SCENARIO"]).with_suffix(".state")
ROOT = Path(os.environ.get("KELZAR_BOOTSTRAP_ROOT", "/"))


def log(**call):
    with open(os.environ["FAKE_APT_LOG"], "a") as f:
        f.write(json.dumps(call) + "\n")


def state() -> dict:
    return json.loads(STATE.read_text()) if STATE.exists() else {}


def save(st: dict) -> None:
    STATE.write_text(json.dumps(st))


def pin_in_place() -> bool:
    parts = ROOT / "etc/apt/preferences.d"
    return any("Pin-Priority: 100" in p.read_text() for p in parts.glob("*")) if parts.is_dir() else False


def apt_get_update() -> int:
    st = state()
    st["updates"] = st.get("updates", 0) + 1
    save(st)
    failures = SCENARIO.get("update_failures", 0)
    failing = failures == -1 or st["updates"] <= failures
    log(tool="apt-get", verb="update", failed=failing)
    if failing:
        sys.stdout.write((FIXTURES / "apt-update-mirror-sync.log").read_text())
        return 100
    print("Reading package lists...")
    return 0


def apt_get_install(args: list[str]) -> int:
    simulate = "-s" in args
    packages = [a for a in args if not a.startswith("-")]
    pinned = pin_in_place()
    bad = [p for p in packages if p in SCENARIO.get("unavailable", [])]
    broken = bool(bad) or (SCENARIO.get("install_needs_pin") and not pinned)
    log(tool="apt-get", verb="install", packages=packages, simulate=simulate, pinned=pinned,
        failed=broken)
    if broken:
        sys.stdout.write((FIXTURES / "apt-install-held-broken.log").read_text())
        return 100
    if not simulate:
        st = state()
        st["installed"] = sorted(set(st.get("installed", [])) | set(packages))
        save(st)
    return 0


def stanzas(package: str) -> list[dict]:
    return [s for s in SCENARIO.get("sources", []) if s.get("package", "zlib") == package]


def apt_get_source(args: list[str]) -> int:
    wanted = [a.split("=", 1) for a in args if "=" in a and not a.startswith("-")]
    log(tool="apt-get", verb="source", args=args)
    package, version = wanted[0] if wanted else ("", "")
    source = SCENARIO.get("downloads", {}).get(version)
    listed = [s["tarball"] for s in stanzas(package) if s["version"] == version]
    if source is None or not listed:
        print("E: Failed to fetch ... 404  Not Found", file=sys.stderr)
        return 100
    tarball = listed[0]
    Path(tarball).write_bytes(Path(source).read_bytes())
    return 0


def apt_cache(args: list[str]) -> int:
    log(tool="apt-cache", args=args)
    package = args[-1]
    for s in stanzas(package):
        print(f"Package: {package}\nVersion: {s['version']}\nFiles:\n"
              f" 0123456789abcdef0123456789abcdef 1 {s['tarball']}\n"
              f"Checksums-Sha256:\n {'0' * 64} 2637 {package}_{s['version']}.dsc\n"
              f" {s['sha256']} 1325737 {s['tarball']}\n"
              f"Package-List:\n {package}-dev deb libdevel optional arch=any\n")
    return 0


def dpkg(args: list[str]) -> int:
    st = state()
    archs = st.get("foreign_archs", SCENARIO.get("foreign_archs", []))
    if args[:1] == ["--add-architecture"]:
        log(tool="dpkg", args=args)
        st["foreign_archs"] = archs + [args[1]]
        save(st)
    elif args[:1] == ["--print-foreign-architectures"]:
        print("\n".join(archs))
    return 0


def dpkg_query(args: list[str]) -> int:
    package = args[-1]
    installed = SCENARIO.get("installed", [])
    if installed == "all" or package in installed or package in state().get("installed", []):
        print("ii ", end="")
        return 0
    print(f"dpkg-query: no packages found matching {package}", file=sys.stderr)
    return 1


def main() -> int:
    tool, args = Path(sys.argv[0]).name, sys.argv[1:]
    if tool == "apt-get":
        verb = next(a for a in args if not a.startswith("-"))
        rest = [a for a in args if a != verb]
        return {"update": lambda: apt_get_update(), "install": lambda: apt_get_install(rest),
                "source": lambda: apt_get_source(rest)}[verb]()
    return {"apt-cache": apt_cache, "dpkg": dpkg, "dpkg-query": dpkg_query}[tool](args)


if __name__ == "__main__":
    sys.exit(main())
