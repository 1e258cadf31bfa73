"""The version record of kelzar.exe, read back with pefile (a PE reader that
owes nothing to the build), as file properties and installers read it."""

import pefile
import pytest

from kelzar_harness import BUILD

RT_VERSION = 16
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


def test_version_record_is_the_only_resource(image):
    types = [entry.id for entry in image.DIRECTORY_ENTRY_RESOURCE.entries]
    assert types == [RT_VERSION], f"resource types {types}: no icon, manifest or anything else"
    (record,) = image.DIRECTORY_ENTRY_RESOURCE.entries[0].directory.entries
    languages = [entry.id for entry in record.directory.entries]
    assert languages == [US_ENGLISH]
