"""The embedder stand-in's socket relay, end to end: the driver plays the
Dart side of a small host process (fl_echo_host) on a private display."""

import standard_codec as c
from dart_side import CALL, encode_frame


def echo_host(build_dir):
    return build_dir / "platform" / "flutter" / "fl_echo_host"


def test_driver_calls_the_host_and_answers_its_calls(build_dir, launch):
    app = launch(echo_host(build_dir), "one", "velmo:two")
    dart = app.dart
    info = dart.wait_connected()
    assert info["entrypointArguments"] == ["one", "velmo:two"]
    assert info["pid"] == app.pid
    dart.wait_until(lambda: dart.registrars == ["EchoPlugin"])
    dart.wait_first_frame()
    app.wait_window()

    value = {"n": 1, "list": [1.5, c.Int32List([7])], "bytes": b"\0\1"}
    assert dart.call("fl_test/echo", "echo", value) == c.Success(value)
    assert dart.call("fl_test/echo", "nope") == c.NotImplementedReply()
    assert dart.call("no/such/channel", "echo") == c.NotImplementedReply()

    # Dart answers the host's call; the host reports what it received.
    dart.answer("fl_test/echo", "ask",
                lambda args: c.Success({"got": args}))
    dart.answer("fl_test/echo", "askError",
                c.Error("E9", None, [1, 2]))
    for method, args in (("ask", "q"), ("askError", None), ("unknown", 3)):
        assert dart.call("fl_test/echo", "callDart",
                         {"method": method, "args": args}) == c.Success(None)
    reports = [dart.wait_for_call("fl_test/echo", "dartAnswered", count=n).args
               for n in (1, 2, 3)]
    assert reports[0] == {"kind": "success", "value": {"got": "q"}}
    assert reports[1] == {"kind": "error", "code": "E9", "message": None,
                          "details": [1, 2]}
    assert reports[2] == {"kind": "notImplemented"}

    assert dart.call("fl_test/echo", "quit") == c.Success(True)
    assert app.wait_exit() == 0


def test_malformed_frames_are_dropped_and_the_host_keeps_running(
        build_dir, launch):
    app = launch(echo_host(build_dir))
    dart = app.dart
    dart.wait_connected()
    dart.send_raw(b"\x03\x00\x00\x00\x01\x00\x00")           # too short
    dart.send_raw(encode_frame(99, 1, "fl_test/echo", b""))  # unknown kind
    dart.send_raw(b"\x08\x00\x00\x00\x01\x00\x00\x00\x00\x09\x00x")
    dart.send_raw(encode_frame(2, 12345, "", b"\x00\x00"))   # unknown reply
    dart.send_raw(encode_frame(CALL, 77, "fl_test/echo", b"\xff\xff"))
    assert dart.call("fl_test/echo", "echo", "still here") == \
        c.Success("still here")
    assert app.proc.poll() is None
    assert "malformed frame" in app.log()
