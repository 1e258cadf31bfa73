"""The resources of kelzar.exe, read back with pefile (a PE reader that owes
nothing to the build): the version record as file properties and installers
read it, and the application manifest as the loader reads it."""

import xml.etree.ElementTree as ET

import pefile
import pytest

from kelzar_harness import BUILD

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
def image():
    pe = pefile.PE(str(BUILD / "kelzar.exe"))
    yield pe
    pe.close()


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
