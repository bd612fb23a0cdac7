"""What the shared library exports: the three init functions and the eight
introspection records, read from the file's dynamic symbol table."""

import inspect
import json
import struct

import pytest

import talvora
from support import SANITIZED

elftools = pytest.importorskip("elftools")
from elftools.elf.elffile import ELFFile  # noqa: E402

INIT_FUNCTIONS = {"PyInit_talvora", "PyInit_shannon_entropy_algo", "PyInit_min_entropy_algo"}
RECORD_NUMBERS = {
    8259488582414682746, 11691269128516585274, 4283202081597178823, 1786581316847094563,
    2086792117184223812, 2549445328376983014, 5976753583814645577, 9845338264260584181,
}
PING_RECORD = (
    '{"arguments":{"args":[{"annotation":{"type":"attribute","value":{"type":"name","id":"builtins"},'
    '"attr":"int"},"name":"x"}]},"id":"16588267563146639421","name":"ping","returns":{"type":"attribute",'
    '"value":{"type":"name","id":"builtins"},"attr":"int"},"type":"function"}'
)
TOP_RECORD = (
    '{"id":"15646039883215767379","incomplete":true,"members":["13609899051829439035",'
    '"12147775256111302026","16588267563146639421"],"name":"talvora","type":"module"}'
)


def attribute(module, name):
    return f'{{"type":"attribute","value":{{"type":"name","id":"{module}"}},"attr":"{name}"}}'


DATA_PARAMETER = (
    f'{{"annotation":{{"type":"binop","left":{attribute("builtins", "str")},"op":"bitor",'
    f'"right":{{"type":"subscript","value":{attribute("collections.abc", "Sequence")},'
    f'"slice":{attribute("builtins", "int")}}}}},"name":"data"}}'
)
MEASURES = {  # symbol number: (identifier, function)
    2086792117184223812: (988188618686654315, talvora.shannon_entropy_algo.measure_entropy),
    2549445328376983014: (16936240935693699374, talvora.shannon_entropy_algo.measure_metric_entropy),
    5976753583814645577: (5063455511982998249, talvora.shannon_entropy_algo.measure_normalized_metric_entropy),
    9845338264260584181: (15762188142300374815, talvora.min_entropy_algo.measure_entropy),
}


@pytest.fixture(scope="module")
def elf():
    with open(talvora.__file__, "rb") as f:
        yield ELFFile(f)


def defined_dynamic_symbols(elf):
    return [s for s in elf.get_section_by_name(".dynsym").iter_symbols()
            if s.name and s["st_shndx"] != "SHN_UNDEF"]


@pytest.fixture(scope="module")
def records(elf):
    """Symbol name -> (symbol, raw bytes, JSON length)."""
    out = {}
    for sym in defined_dynamic_symbols(elf):
        if not sym.name.startswith("PYO3_INTROSPECTION_1_"):
            continue
        section = elf.get_section(sym["st_shndx"])
        offset = sym["st_value"] - section["sh_addr"]
        raw = section.data()[offset:offset + sym["st_size"]]
        (length,) = struct.unpack_from("<I", raw)
        out[sym.name] = (sym, raw, length)
    return out


def record_text(records, number):
    _, raw, length = records[f"PYO3_INTROSPECTION_1_{number}"]
    return raw[4:4 + length]


def test_only_init_functions_and_records_are_exported(elf):
    names = {s.name for s in defined_dynamic_symbols(elf)}
    records = {f"PYO3_INTROSPECTION_1_{n}" for n in RECORD_NUMBERS}
    assert names == INIT_FUNCTIONS | records


def test_records_are_padded_read_only_json_objects(elf, records):
    assert len(records) == 8
    for name, (sym, raw, length) in records.items():
        assert sym["st_info"]["type"] == "STT_OBJECT", name
        assert sym["st_info"]["bind"] == "STB_GLOBAL", name
        assert sym["st_other"]["visibility"] == "STV_DEFAULT", name
        section = elf.get_section(sym["st_shndx"])
        assert section.name == ".rodata", name
        assert not section["sh_flags"] & 0x1, f"{name} is in a writable section"  # SHF_WRITE
        assert sym["st_value"] % 4 == 0, name
        assert sym["st_size"] == (4 + length + 3) // 4 * 4, name
        assert raw[4 + length:] == bytes(len(raw) - 4 - length), name
        text = raw[4:4 + length].decode("utf-8")
        assert json.dumps(json.loads(text), separators=(",", ":"), ensure_ascii=False) == text


def test_records_lie_back_to_back(records):
    if SANITIZED:
        pytest.skip("AddressSanitizer puts red zones between globals")
    spans = sorted((sym["st_value"], sym["st_size"]) for sym, _, _ in records.values())
    assert all(start + size == following for (start, size), (following, _) in zip(spans, spans[1:]))


def test_fixed_records_come_out_byte_for_byte(records):
    assert record_text(records, 1786581316847094563) == PING_RECORD.encode()
    assert records["PYO3_INTROSPECTION_1_1786581316847094563"][0]["st_size"] == 272
    assert record_text(records, 8259488582414682746) == TOP_RECORD.encode()


@pytest.mark.parametrize("number", MEASURES, ids=lambda n: MEASURES[n][1].__module__ + "." + MEASURES[n][1].__name__)
def test_measure_records_differ_from_ping_only_where_expected(records, number):
    identifier, function = MEASURES[number]
    expected = (
        f'{{"arguments":{{"args":[{DATA_PARAMETER}]}},"doc":{json.dumps(function.__doc__, ensure_ascii=False)},'
        f'"id":"{identifier}","name":"{function.__name__}","returns":{attribute("builtins", "float")},'
        f'"type":"function"}}'
    )
    assert record_text(records, number).decode() == expected


def parsed(records):
    return [json.loads(raw[4:4 + length]) for _, raw, length in records.values()]


def test_members_resolve_and_docs_match_runtime(records):
    items = parsed(records)
    by_id = {}
    for item in items:
        assert item["id"] not in by_id
        by_id[item["id"]] = item
    assert [i["name"] for i in items if i.get("incomplete")] == ["talvora"]
    (top,) = [i for i in items if i["name"] == "talvora"]
    # Walk the tree from the top, so each submodule's runtime object is known
    # before its own record is compared.
    pending, seen = [(top, talvora)], []
    while pending:
        item, module = pending.pop()
        seen.append(item["name"])
        assert (module.__doc__ or None) == item.get("doc")
        members = [by_id[m] for m in item["members"]]
        assert [m["name"] for m in members] == module.__all__
        for member in members:
            value = getattr(module, member["name"])
            if member["type"] == "module":
                pending.append((member, value))
            else:
                assert (value.__doc__ or None) == member.get("doc")
                assert [a["name"] for a in member["arguments"]["args"]] == list(
                    inspect.signature(value).parameters)
    assert sorted(seen) == ["min_entropy_algo", "shannon_entropy_algo", "talvora"]
    listed = [m for item in items if item["type"] == "module" for m in item["members"]]
    assert sorted(listed) == sorted(i["id"] for i in items if i is not top)


def test_docstrings_keep_newlines_and_raw_utf8(records):
    text = record_text(records, 2086792117184223812)
    assert b"\\n\\n" in text and b"\n" not in text
    assert "香农熵".encode() in text
