"""Plays the Dart side of a running host process over the embedder
stand-in's socket relay (frame format: platform/flutter/README.md).

    with DartSide(tmp_path) as dart:
        proc = subprocess.Popen([...], env={**env, **dart.env()})
        dart.wait_connected()
        reply = dart.call("some/channel", "method", {"a": 1})
        call = dart.wait_for_call("some/channel", "event")

Host-to-Dart calls are recorded; each is answered by the handler set with
`answer` for its channel and method (default: not implemented, as a Dart
side without a handler answers).
"""

import os
import socket
import struct
import threading
import time

import standard_codec as codec

SOCKET_VARIABLE = "FL_DART_SIDE_SOCKET"

CALL, REPLY, START, REGISTRAR, FIRST_FRAME, FRAME_READY = 1, 2, 3, 4, 5, 6
_HEADER = struct.Struct("<IBIH")  # length, kind, id, name length

# Sentinel answer: leave the host's call unanswered.
NEVER = object()


def encode_frame(kind, frame_id, name=b"", payload=b""):
    if isinstance(name, str):
        name = name.encode("utf-8")
    length = 1 + 4 + 2 + len(name) + len(payload)
    return _HEADER.pack(length, kind, frame_id, len(name)) + name + payload


class HostCall:
    """A method call the host made to Dart."""

    def __init__(self, channel, method, args, frame_id):
        self.channel, self.method, self.args, self.id = (
            channel, method, args, frame_id)

    def __repr__(self):
        return f"HostCall({self.channel!r}, {self.method!r}, {self.args!r})"


class DartSide:
    def __init__(self, directory, timeout=20.0):
        self.path = os.path.join(str(directory), "dart-side.sock")
        self.timeout = timeout
        self._listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self._listener.bind(self.path)
        self._listener.listen(4)
        self._conn = None
        self._lock = threading.Condition()
        self._next_id = 0
        self._replies = {}
        self._answers = {}
        self._raw_answers = {}
        self.calls = []          # HostCall, in arrival order
        self.registrars = []     # registrar names, in order
        self.start_info = None   # {"entrypointArguments": [...], "pid": n}
        self.first_frame = False
        self.disconnected = False
        self._reader = None

    # -- set-up ------------------------------------------------------------

    def env(self):
        """Environment that makes the stand-in engine connect here."""
        return {SOCKET_VARIABLE: self.path}

    def wait_connected(self, timeout=None, hold_first_frame=False):
        """Accepts the host's connection and waits for its start frame.
        Then tells the host Dart has drawn, unless `hold_first_frame`
        (release it later with `release_first_frame`)."""
        self._listener.settimeout(timeout or self.timeout)
        self._conn, _ = self._listener.accept()
        self._conn.settimeout(None)
        self._reader = threading.Thread(target=self._read_loop, daemon=True)
        self._reader.start()
        self.wait_until(lambda: self.start_info is not None, timeout,
                        "the start frame")
        if not hold_first_frame:
            self.release_first_frame()
        return self.start_info

    def release_first_frame(self):
        self.send_raw(encode_frame(FRAME_READY, 0))

    def accepts_connection(self, timeout):
        """True if a host connects within `timeout` seconds (the connection
        is kept); False otherwise."""
        self._listener.settimeout(timeout)
        try:
            conn, _ = self._listener.accept()
        except socket.timeout:
            return False
        conn.close()
        return True

    def close(self):
        for s in (self._conn, self._listener):
            if s is not None:
                try:
                    s.close()
                except OSError:
                    pass
        if os.path.exists(self.path):
            os.unlink(self.path)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    # -- waiting -----------------------------------------------------------

    def wait_until(self, predicate, timeout=None, what="a condition"):
        deadline = time.monotonic() + (timeout or self.timeout)
        with self._lock:
            while not predicate():
                left = deadline - time.monotonic()
                if left <= 0:
                    raise TimeoutError(f"timed out waiting for {what}")
                self._lock.wait(left)

    def wait_for_call(self, channel, method, timeout=None, count=1):
        """Waits until `count` calls of `method` on `channel` arrived and
        returns the last of them."""
        found = []

        def seen():
            found[:] = [c for c in self.calls
                        if c.channel == channel and c.method == method]
            return len(found) >= count

        self.wait_until(seen, timeout, f"{channel} {method}")
        return found[count - 1]

    def calls_of(self, channel, method=None):
        with self._lock:
            return [c for c in self.calls if c.channel == channel and
                    (method is None or c.method == method)]

    def wait_first_frame(self, timeout=None):
        self.wait_until(lambda: self.first_frame, timeout, "the first frame")

    # -- Dart to host ------------------------------------------------------

    def send(self, channel, message, timeout=None):
        """Sends raw message bytes on `channel`; returns the reply bytes."""
        with self._lock:
            self._next_id += 1
            frame_id = self._next_id
        self.send_raw(encode_frame(CALL, frame_id, channel, message))
        self.wait_until(lambda: frame_id in self._replies, timeout,
                        f"the reply on {channel}")
        with self._lock:
            return self._replies.pop(frame_id)

    def call(self, channel, method, args=None, timeout=None):
        """Calls a host method; returns Success, Error or
        NotImplementedReply."""
        reply = self.send(channel, codec.encode_method_call(method, args),
                          timeout)
        return codec.decode_response(reply)

    def getenv(self, name, timeout=None):
        """A variable of the host's environment as it is now, or None."""
        return codec.decode(self.send("flutter_standin/getenv",
                                      codec.encode(name), timeout))

    def send_raw(self, data):
        """Writes bytes to the socket as they are (for malformed frames)."""
        self._conn.sendall(data)

    # -- host to Dart ------------------------------------------------------

    def answer(self, channel, method, handler):
        """Sets how host calls of `method` on `channel` are answered:
        `handler(args)` returns a codec Success, Error, NotImplementedReply
        or NEVER; a non-callable is returned as it is."""
        with self._lock:
            self._answers[(channel, method)] = handler

    def answer_raw(self, channel, handler):
        """Answers every host message on `channel` with `handler(bytes)`,
        which returns the reply bytes or NEVER (for channels that do not use
        the standard method codec, such as "flutter/platform")."""
        with self._lock:
            self._raw_answers[channel] = handler

    def respond(self, call, outcome):
        """Answers a host call that its handler left unanswered (NEVER)."""
        self._reply(call.id, outcome)

    def _answer_for(self, call):
        handler = self._answers.get((call.channel, call.method))
        if handler is None:
            return codec.NotImplementedReply()
        return handler(call.args) if callable(handler) else handler

    def _reply(self, frame_id, outcome):
        if outcome is NEVER:
            return
        if isinstance(outcome, (bytes, bytearray)):
            payload = bytes(outcome)
        elif isinstance(outcome, codec.Success):
            payload = codec.encode_success(outcome.value)
        elif isinstance(outcome, codec.Error):
            payload = codec.encode_error(outcome.code, outcome.message,
                                         outcome.details)
        else:
            payload = b""
        self.send_raw(encode_frame(REPLY, frame_id, b"", payload))

    # -- reading -----------------------------------------------------------

    def _read_exact(self, n):
        data = bytearray()
        while len(data) < n:
            chunk = self._conn.recv(n - len(data))
            if not chunk:
                raise EOFError
            data += chunk
        return bytes(data)

    def _read_loop(self):
        try:
            while True:
                length = struct.unpack("<I", self._read_exact(4))[0]
                body = self._read_exact(length)
                kind, frame_id, name_length = struct.unpack("<BIH", body[:7])
                name = body[7:7 + name_length].decode("utf-8")
                payload = body[7 + name_length:]
                self._handle(kind, frame_id, name, payload)
        except (EOFError, OSError):
            pass
        with self._lock:
            self.disconnected = True
            self._lock.notify_all()

    def _handle(self, kind, frame_id, name, payload):
        outcome = None
        with self._lock:
            if kind == REPLY:
                self._replies[frame_id] = payload
            elif kind == START:
                self.start_info = codec.decode(payload)
            elif kind == REGISTRAR:
                self.registrars.append(name)
            elif kind == FIRST_FRAME:
                self.first_frame = True
            elif kind == CALL and name in self._raw_answers:
                outcome = self._raw_answers[name](payload)
            elif kind == CALL:
                try:
                    method, args = codec.decode_method_call(payload)
                except codec.CodecError:
                    outcome = codec.NotImplementedReply()
                else:
                    call = HostCall(name, method, args, frame_id)
                    self.calls.append(call)
                    outcome = self._answer_for(call)
            self._lock.notify_all()
        if kind == CALL:
            self._reply(frame_id, outcome)
