"""Both builds' kelzar.exe and zlib.dll as Windows' loader reads them, with
pefile (a PE reader that owes nothing to the build): the headers, the DLLs
bound at load time, the version record as file properties and installers
read it, and the application manifest. These need no Wine, so the x86
build is checked here also on machines that cannot run it."""

import os
import xml.etree.ElementTree as ET
from pathlib import Path

import pefile
import pytest

REPO = Path(__file__).resolve().parents[2]
ROOT = Path(os.environ.get("KELZAR_BUILDS_ROOT", REPO / "build"))


@pytest.fixture(scope="module", params=["x86", "x64"])
def arch(request):
    return request.param


def build_file(arch: str, name: str) -> Path:
    path = ROOT / f"windows-{arch}" / name
    assert path.is_file(), f"{path} is missing: run make build"
    return path

RT_VERSION = 16
RT_MANIFEST = 24
CREATEPROCESS_MANIFEST_ID = 1
US_ENGLISH = 0x0409
WINDOWS_LATIN_1 = 1252

EXPECTED_STRINGS = {
    "FileDescription": "Command-line zipper",
    "FileVersion": "Version 1.0.000",
    "ProductVersion": "Version 1.0",
    "InternalName": "Zip",
    "ProductName": "Kelzar",
    "OriginalFilename": "Kelzar.exe",
}


@pytest.fixture(scope="module")
def image(arch):
    pe = pefile.PE(str(build_file(arch, "kelzar.exe")))
    yield pe
    pe.close()


# What each build must be for Windows to load it: its machine, and the
# optional header's kind (PE32 for x86, PE32+ for x64).
MACHINE = {"x86": (0x14C, 0x10B), "x64": (0x8664, 0x20B)}
IMAGE_SUBSYSTEM_WINDOWS_GUI = 2
IMAGE_FILE_LARGE_ADDRESS_AWARE = 0x20
IMAGE_FILE_DLL = 0x2000

ALLOWED_IMPORTS = {
    # Windows' own DLLs, present on every installation.
    "kernel32.dll", "user32.dll", "gdi32.dll", "shell32.dll", "advapi32.dll", "comctl32.dll",
    "comdlg32.dll", "ole32.dll", "oleaut32.dll", "shlwapi.dll", "imagehlp.dll", "dbghelp.dll",
    "version.dll", "msvcrt.dll",
    # The compression library beside the program.
    "zlib.dll",
}


def imports(pe) -> set[str]:
    return {entry.dll.decode().lower() for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])}


def test_executable_is_a_gui_program_for_its_machine(image, arch):
    machine, magic = MACHINE[arch]
    assert (image.FILE_HEADER.Machine, image.OPTIONAL_HEADER.Magic) == (machine, magic), \
        f"the {arch} build is not an {arch} executable"
    assert image.OPTIONAL_HEADER.Subsystem == IMAGE_SUBSYSTEM_WINDOWS_GUI, \
        "a GUI program: no console window opens for the caller"


def test_x86_build_is_large_address_aware(image, arch):
    if arch != "x86":
        pytest.skip("an x64 program has its large address space anyway")
    assert image.FILE_HEADER.Characteristics & IMAGE_FILE_LARGE_ADDRESS_AWARE, \
        "large address aware: 4 GiB for the entries on 64-bit Windows"


def test_executable_needs_only_system_dlls_and_zlib(image):
    found = imports(image)
    assert "zlib.dll" in found, "zlib.dll is bound at load time"
    assert found <= ALLOWED_IMPORTS, f"unexpected DLLs: {sorted(found - ALLOWED_IMPORTS)}"


def test_zlib_dll_is_a_dll_of_the_same_machine(arch):
    # A zlib.dll of the other bitness beside kelzar.exe stops Windows from
    # starting the program at all, so each build must carry its own.
    pe = pefile.PE(str(build_file(arch, "zlib.dll")))
    try:
        assert (pe.FILE_HEADER.Machine, pe.OPTIONAL_HEADER.Magic) == MACHINE[arch]
        assert pe.FILE_HEADER.Characteristics & IMAGE_FILE_DLL
        exported = {s.name.decode() for s in pe.DIRECTORY_ENTRY_EXPORT.symbols if s.name}
        assert {"zipOpen2_64", "unzOpen2_64", "deflate", "inflate"} <= exported
        assert imports(pe) <= ALLOWED_IMPORTS - {"zlib.dll"}
    finally:
        pe.close()


def test_library_image_is_that_builds_zlib_dll(image, arch):
    # The program writes its embedded library beside itself when it is
    # missing: it must be the DLL built with it, of its own bitness.
    library = build_file(arch, "zlib.dll").read_bytes()
    data = image.__data__
    assert data.find(library) >= 0, f"the {arch} kelzar.exe does not embed its own zlib.dll"


def blocks(pe, key: bytes):
    return [block for info in getattr(pe, "FileInfo", []) for block in info if block.Key == key]


def string_tables(pe) -> dict[str, dict[str, str]]:
    return {
        table.LangID.decode(): {k.decode("cp1252"): v.decode("cp1252") for k, v in table.entries.items()}
        for block in blocks(pe, b"StringFileInfo")
        for table in block.StringTable
    }


def test_strings_sit_in_one_block_for_us_english_latin1(image):
    assert list(string_tables(image)) == ["040904E4"], "the strings must be in block 040904E4 only"


@pytest.mark.parametrize("name, value", EXPECTED_STRINGS.items())
def test_string_value(image, name, value):
    strings = string_tables(image).get("040904E4", {})
    assert strings.get(name) == value, f"{name} as file properties would show it"


def test_no_other_strings(image):
    strings = string_tables(image).get("040904E4", {})
    assert sorted(strings) == sorted(EXPECTED_STRINGS), "the record holds these six values and no others"


def test_translation_is_us_english_with_windows_latin1(image):
    entries = [var.entry for block in blocks(image, b"VarFileInfo") for var in block.Var]
    assert entries == [{b"Translation": f"0x{US_ENGLISH:04x} 0x{WINDOWS_LATIN_1:04x}"}]


def resource(pe, kind: int):
    return next(entry for entry in pe.DIRECTORY_ENTRY_RESOURCE.entries if entry.id == kind)


def test_the_version_record_and_the_manifest_are_the_only_resources(image):
    types = sorted(entry.id for entry in image.DIRECTORY_ENTRY_RESOURCE.entries)
    assert types == [RT_VERSION, RT_MANIFEST], f"resource types {types}: no icon or anything else"
    (record,) = resource(image, RT_VERSION).directory.entries
    languages = [entry.id for entry in record.directory.entries]
    assert languages == [US_ENGLISH]


@pytest.fixture(scope="module")
def manifest(image):
    """The manifest 1 of the executable, parsed."""
    (entry,) = resource(image, RT_MANIFEST).directory.entries
    assert entry.id == CREATEPROCESS_MANIFEST_ID, "the loader reads manifest 1 of an executable"
    (language,) = entry.directory.entries
    data = language.data.struct
    return ET.fromstring(image.get_data(data.OffsetToData, data.Size))


NS = {
    "asm1": "urn:schemas-microsoft-com:asm.v1",
    "asm3": "urn:schemas-microsoft-com:asm.v3",
    "compat": "urn:schemas-microsoft-com:compatibility.v1",
    "ws2005": "http://schemas.microsoft.com/SMI/2005/WindowsSettings",
    "ws2016": "http://schemas.microsoft.com/SMI/2016/WindowsSettings",
}
WINDOWS_7_TO_11 = {
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  # 7
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  # 8
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  # 8.1
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  # 10 and 11
}


def test_manifest_runs_as_invoker_so_refused_writes_fail_honestly(manifest):
    # Without it, Windows redirects a standard user's writes under Program
    # Files to a per-user store, and the run reports an archive that is not
    # where the caller looks.
    levels = manifest.findall(".//asm3:requestedExecutionLevel", NS)
    assert [(e.get("level"), e.get("uiAccess")) for e in levels] == [("asInvoker", "false")]


def test_manifest_declares_windows_7_to_11(manifest):
    ids = {e.get("Id") for e in manifest.findall(".//compat:supportedOS", NS)}
    assert ids == WINDOWS_7_TO_11


@pytest.mark.parametrize("setting, namespace, value", [
    ("longPathAware", "ws2016", "true"),
    ("dpiAware", "ws2005", "true/pm"),
    ("dpiAwareness", "ws2016", "PerMonitorV2, PerMonitor"),
])
def test_manifest_windows_settings(manifest, setting, namespace, value):
    found = [e.text for e in manifest.findall(f".//asm3:windowsSettings/{namespace}:{setting}", NS)]
    assert found == [value], f"{setting} as the loader reads it"


def test_manifest_names_the_builds_architecture(manifest, arch):
    (identity,) = manifest.findall("asm1:assemblyIdentity", NS)
    expected = {"x86": "x86", "x64": "amd64"}[arch]
    assert identity.get("processorArchitecture") == expected, \
        "the manifest's architecture must be the executable's"
