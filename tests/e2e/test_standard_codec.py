"""The driver's codec against itself and, byte for byte, against the C++
codec of the embedder stand-in (through its codec tool)."""

import math
import subprocess

import pytest

import standard_codec as c

VALUES = [
    None, True, False, 0, -1, 2**31 - 1, 2**31, -2**31, -2**31 - 1,
    2**63 - 1, -2**63, 1.5, -0.0, math.inf, 1e-300, "", "velmo:é ✓",
    b"", bytes(range(256)),
    c.Int32List([]), c.Int32List([1, -2, 2**31 - 1]),
    c.Int64List([2**40, -1]), c.Float64List([0.1, -2.5]),
    c.Float32List([0.5, -1.25]),
    [], [1, "a", [None, [2.5]]], {}, {"a": {"b": [True]}, 7: None, 1.5: "x"},
    c.Pairs([([1], "list key")]),
    # Size prefixes at their boundaries.
    "x" * 253, "x" * 254, b"\0" * 65535, b"\1" * 65536,
    # Alignment after values of odd length.
    ["abc", 1.5, c.Int32List([3]), "de", c.Int64List([4]), c.Float32List([1])],
]

GARBAGE = [
    "", "03 0100", "06 00", "07 05 6869", "07 fe 01", "08 ff ffffffff",
    "09 02 0000 01000000", "0c ff ffffff7f", "0d 02 00 00 00", "00 00",
    "05 01 31", "0f", "80", "0c 01 ff",
]


def test_values_round_trip_in_python():
    for value in VALUES:
        assert c.decode(c.encode(value)) == value, value


def test_worked_examples():
    assert c.encode_method_call("ping").hex() == "070470696e6700"
    assert c.encode_method_call("x", c.Int32List([1])).hex() == \
        "070178090100000001000000"
    assert c.encode_success(42).hex() == "00032a000000"
    assert c.encode_success(1.5).hex() == \
        "0006000000000000" "000000000000f83f"
    assert c.encode_error("E").hex() == "010701450000"
    assert c.encode({"a": True}).hex() == "0d0107016101"
    assert c.encode(b"\0" * 300)[:4].hex() == "08fe2c01"
    assert c.decode_response(b"") == c.NotImplementedReply()


@pytest.mark.parametrize("hex_bytes", GARBAGE)
def test_garbage_fails_cleanly(hex_bytes):
    with pytest.raises(c.CodecError):
        c.decode(bytes.fromhex(hex_bytes))


def run_tool(build_dir, lines):
    tool = build_dir / "platform" / "flutter" / "fl_codec_tool"
    out = subprocess.run([str(tool)], input="".join(
        f"{mode} {data.hex()}\n" for mode, data in lines),
        capture_output=True, text=True, check=True, timeout=60)
    return out.stdout.splitlines()


def test_cpp_codec_agrees_on_values(build_dir):
    lines = [("message", c.encode(v)) for v in VALUES]
    for value, got in zip(VALUES, run_tool(build_dir, lines)):
        data = c.encode(value)
        assert got == f"ok {c.dump(value)} {data.hex()}", value


def test_cpp_codec_agrees_on_calls_and_envelopes(build_dir):
    cases = [
        ("call", c.encode_method_call("takePending"),
         "call:" + b"takePending".hex() + ":null"),
        ("call", c.encode_method_call("open", "velmo:x"),
         "call:" + b"open".hex() + ":" + c.dump("velmo:x")),
        ("call", c.encode_method_call("x", [1.5, c.Float64List([2.0])]),
         "call:" + b"x".hex() + ":" + c.dump([1.5, c.Float64List([2.0])])),
        ("response", c.encode_success(None), "success:null"),
        ("response", c.encode_success({"k": c.Int64List([1])}),
         "success:" + c.dump({"k": c.Int64List([1])})),
        ("response", c.encode_error("E"),
         "error:" + b"E".hex() + ":absent:absent"),
        ("response", c.encode_error("E", "msg", [1]),
         "error:" + b"E".hex() + ":" + c.dump("msg") + ":" + c.dump([1])),
    ]
    results = run_tool(build_dir, [(m, d) for m, d, _ in cases])
    for (mode, data, dumped), got in zip(cases, results):
        assert got == f"ok {dumped} {data.hex()}", (mode, dumped)
    assert run_tool(build_dir, [("response", b"")]) == ["ok notimplemented -"]


def test_both_codecs_refuse_the_same_garbage(build_dir):
    data = [bytes.fromhex(h) for h in GARBAGE]
    results = run_tool(build_dir, [("message", d) for d in data])
    for d, got in zip(data, results):
        with pytest.raises(c.CodecError) as err:
            c.decode(d)
        assert got == f"fail {err.value.kind}", d.hex()
    bad_calls = ["03 01000000 00", "07 04 70696e67", "07 04 70696e67 00 00"]
    bad_envelopes = ["02 00", "00", "01 03 01000000 00 00",
                     "01 07 01 45 00 00 07 00"]
    lines = ([("call", bytes.fromhex(h)) for h in bad_calls] +
             [("response", bytes.fromhex(h)) for h in bad_envelopes])
    for (mode, d), got in zip(lines, run_tool(build_dir, lines)):
        assert got.startswith("fail "), (mode, d.hex())
        with pytest.raises(c.CodecError):
            if mode == "call":
                c.decode_method_call(d)
            else:
                c.decode_response(d)
