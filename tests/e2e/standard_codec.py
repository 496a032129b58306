"""The standard message and method codecs of Flutter platform channels.

Python values map onto the codec's types as follows: None, bool, int (type 3
when it fits in 32 bits, else 4), float (type 6), str, bytes (Uint8List),
Int32List, Int64List, Float64List, Float32List (list subclasses below), list
and dict. Maps whose keys cannot be dict keys decode to Pairs.
"""

import struct

__all__ = [
    "CodecError", "Int32List", "Int64List", "Float64List", "Float32List",
    "Pairs", "encode", "decode", "encode_method_call", "decode_method_call",
    "encode_success", "encode_error", "decode_response", "dump",
    "Success", "Error", "NotImplementedReply",
]


class CodecError(ValueError):
    """Malformed bytes: `kind` is out_of_data, additional_data,
    unsupported_type or failed, as the host's codec names them."""

    def __init__(self, kind, message):
        super().__init__(f"{kind}: {message}")
        self.kind = kind


class Int32List(list):
    pass


class Int64List(list):
    pass


class Float64List(list):
    pass


class Float32List(list):
    pass


class Pairs(list):
    """A map as (key, value) pairs, for keys Python cannot hash."""


_TYPED = [(Int32List, 9, 4, "i"), (Int64List, 10, 8, "q"),
          (Float64List, 11, 8, "d"), (Float32List, 14, 4, "f")]


def _size(out, n):
    if n < 254:
        out.append(n)
    elif n <= 0xFFFF:
        out.append(254)
        out += struct.pack("<H", n)
    else:
        out.append(255)
        out += struct.pack("<I", n)


def _align(out, to):
    while len(out) % to:
        out.append(0)


def _write(out, v):
    if v is None:
        out.append(0)
    elif v is True:
        out.append(1)
    elif v is False:
        out.append(2)
    elif isinstance(v, int):
        if -2**31 <= v < 2**31:
            out.append(3)
            out += struct.pack("<i", v)
        else:
            out.append(4)
            out += struct.pack("<q", v)
    elif isinstance(v, float):
        out.append(6)
        _align(out, 8)
        out += struct.pack("<d", v)
    elif isinstance(v, str):
        data = v.encode("utf-8")
        out.append(7)
        _size(out, len(data))
        out += data
    elif isinstance(v, (bytes, bytearray)):
        out.append(8)
        _size(out, len(v))
        out += v
    elif isinstance(v, Pairs):
        out.append(13)
        _size(out, len(v))
        for key, value in v:
            _write(out, key)
            _write(out, value)
    else:
        for cls, code, width, fmt in _TYPED:
            if isinstance(v, cls):
                out.append(code)
                _size(out, len(v))
                _align(out, width)
                out += struct.pack(f"<{len(v)}{fmt}", *v)
                return
        if isinstance(v, (list, tuple)):
            out.append(12)
            _size(out, len(v))
            for item in v:
                _write(out, item)
        elif isinstance(v, dict):
            out.append(13)
            _size(out, len(v))
            for key, value in v.items():
                _write(out, key)
                _write(out, value)
        else:
            raise CodecError("unsupported_type", f"cannot encode {type(v)!r}")


def encode(value):
    """Encodes one value as a whole message."""
    out = bytearray()
    _write(out, value)
    return bytes(out)


class _Reader:
    MAX_DEPTH = 512

    def __init__(self, data):
        self.data = bytes(data)
        self.pos = 0

    def remaining(self):
        return len(self.data) - self.pos

    def take(self, n):
        if n > self.remaining():
            raise CodecError("out_of_data", "unexpected end of message")
        chunk = self.data[self.pos:self.pos + n]
        self.pos += n
        return chunk

    def byte(self):
        return self.take(1)[0]

    def size(self):
        b = self.byte()
        if b < 254:
            return b
        if b == 254:
            return struct.unpack("<H", self.take(2))[0]
        return struct.unpack("<I", self.take(4))[0]

    def align(self, to):
        self.take((to - self.pos % to) % to)

    def value(self, depth=0):
        if depth > self.MAX_DEPTH:
            raise CodecError("failed", "nested too deeply")
        t = self.byte()
        if t == 0:
            return None
        if t in (1, 2):
            return t == 1
        if t == 3:
            return struct.unpack("<i", self.take(4))[0]
        if t == 4:
            return struct.unpack("<q", self.take(8))[0]
        if t == 6:
            self.align(8)
            return struct.unpack("<d", self.take(8))[0]
        if t == 7:
            try:
                return self.take(self.size()).decode("utf-8")
            except UnicodeDecodeError as e:
                raise CodecError("failed", f"malformed text: {e}") from None
        if t == 8:
            return self.take(self.size())
        for cls, code, width, fmt in _TYPED:
            if t == code:
                n = self.size()
                self.align(width)
                return cls(struct.unpack(f"<{n}{fmt}", self.take(n * width)))
        if t == 12:
            n = self.size()
            if n > self.remaining():
                raise CodecError("out_of_data", "list longer than the message")
            return [self.value(depth + 1) for _ in range(n)]
        if t == 13:
            n = self.size()
            if n > self.remaining() // 2:
                raise CodecError("out_of_data", "map longer than the message")
            pairs = [(self.value(depth + 1), self.value(depth + 1))
                     for _ in range(n)]
            try:
                return dict(pairs)
            except TypeError:
                return Pairs(pairs)
        raise CodecError("unsupported_type", f"type byte {t}")

    def end(self, kind):
        if self.remaining():
            raise CodecError(kind, f"{self.remaining()} bytes left over")


def decode(data):
    """Decodes a whole message holding exactly one value."""
    r = _Reader(data)
    v = r.value()
    r.end("additional_data")
    return v


def encode_method_call(method, args=None):
    out = bytearray()
    _write(out, str(method))
    _write(out, args)
    return bytes(out)


def decode_method_call(data):
    """Returns (method, args)."""
    r = _Reader(data)
    name = r.value()
    if not isinstance(name, str):
        raise CodecError("failed", "method name is not a string")
    args = r.value()
    r.end("failed")
    return name, args


def encode_success(result=None):
    out = bytearray([0])
    _write(out, result)
    return bytes(out)


def encode_error(code, message=None, details=None):
    out = bytearray([1])
    _write(out, str(code))
    _write(out, message)
    _write(out, details)
    return bytes(out)


class Success:
    kind = "success"

    def __init__(self, value=None):
        self.value = value

    def __repr__(self):
        return f"Success({self.value!r})"

    def __eq__(self, other):
        return isinstance(other, Success) and other.value == self.value


class Error:
    kind = "error"

    def __init__(self, code, message=None, details=None):
        self.code, self.message, self.details = code, message, details

    def __repr__(self):
        return f"Error({self.code!r}, {self.message!r}, {self.details!r})"

    def __eq__(self, other):
        return isinstance(other, Error) and (
            (other.code, other.message, other.details)
            == (self.code, self.message, self.details))


class NotImplementedReply:
    kind = "notImplemented"

    def __repr__(self):
        return "NotImplementedReply()"

    def __eq__(self, other):
        return isinstance(other, NotImplementedReply)


def decode_response(data):
    """Decodes a reply envelope: Success, Error or NotImplementedReply."""
    if len(data) == 0:
        return NotImplementedReply()
    r = _Reader(data)
    kind = r.byte()
    if kind == 0:
        value = r.value()
        r.end("failed")
        return Success(value)
    if kind != 1:
        raise CodecError("failed", f"envelope kind {kind}")
    code = r.value()
    if not isinstance(code, str):
        raise CodecError("failed", "error code is not a string")
    message = r.value()
    if message is not None and not isinstance(message, str):
        raise CodecError("failed", "error message is neither text nor null")
    details = r.value()
    r.end("failed")
    return Error(code, message, details)


def dump(v):
    """One-token description of a value, as the C++ codec tool prints it."""
    if v is None:
        return "null"
    if v is True:
        return "true"
    if v is False:
        return "false"
    if isinstance(v, int):
        return f"int:{v}"
    if isinstance(v, float):
        return "float:" + ("%.17g" % v)
    if isinstance(v, str):
        return "str:" + v.encode("utf-8").hex()
    if isinstance(v, (bytes, bytearray)):
        return "u8:" + bytes(v).hex()
    if isinstance(v, Int32List):
        return "i32:[" + ",".join(str(x) for x in v) + "]"
    if isinstance(v, Int64List):
        return "i64:[" + ",".join(str(x) for x in v) + "]"
    if isinstance(v, Float64List):
        return "f64:[" + ",".join("%.17g" % x for x in v) + "]"
    if isinstance(v, Float32List):
        return "f32:[" + ",".join("%.9g" % x for x in v) + "]"
    if isinstance(v, Pairs):
        return "map{" + ",".join(f"{dump(k)}={dump(x)}" for k, x in v) + "}"
    if isinstance(v, dict):
        return "map{" + ",".join(
            f"{dump(k)}={dump(x)}" for k, x in v.items()) + "}"
    if isinstance(v, (list, tuple)):
        return "list[" + ",".join(dump(x) for x in v) + "]"
    raise TypeError(type(v))
