#include "dart_link.h"

#include <cstring>

namespace fl_standin {

namespace {

constexpr size_t kHeaderLength = 1 + 4 + 2;  // kind, id, name length

void PutU32(std::vector<uint8_t>* out, uint32_t v) {
  for (int i = 0; i < 4; i++) {
    out->push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
}

uint32_t GetU32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 |
         uint32_t{p[3]} << 24;
}

bool KnownKind(uint8_t kind) {
  return kind >= static_cast<uint8_t>(FrameKind::kCall) &&
         kind <= static_cast<uint8_t>(FrameKind::kFrameReady);
}

}  // namespace

void EncodeFrame(const Frame& frame, std::vector<uint8_t>* out) {
  PutU32(out, static_cast<uint32_t>(kHeaderLength + frame.name.size() +
                                    frame.payload.size()));
  out->push_back(static_cast<uint8_t>(frame.kind));
  PutU32(out, frame.id);
  out->push_back(static_cast<uint8_t>(frame.name.size()));
  out->push_back(static_cast<uint8_t>(frame.name.size() >> 8));
  out->insert(out->end(), frame.name.begin(), frame.name.end());
  out->insert(out->end(), frame.payload.begin(), frame.payload.end());
}

bool TakeFrames(std::vector<uint8_t>* buffer,
                const std::function<void(Frame)>& on_frame,
                const std::function<void(const std::string&)>& on_malformed) {
  size_t pos = 0;
  bool ok = true;
  while (buffer->size() - pos >= 4) {
    const uint8_t* p = buffer->data() + pos;
    uint32_t length = GetU32(p);
    if (length > kMaxFrameLength) {
      on_malformed("frame length " + std::to_string(length) +
                   " is over the limit");
      ok = false;
      break;
    }
    if (buffer->size() - pos - 4 < length) {
      break;  // wait for the rest
    }
    const uint8_t* body = p + 4;
    pos += 4 + length;
    if (length < kHeaderLength) {
      on_malformed("frame of " + std::to_string(length) +
                   " bytes is shorter than its header");
      continue;
    }
    uint8_t kind = body[0];
    size_t name_length = body[5] | size_t{body[6]} << 8;
    if (!KnownKind(kind)) {
      on_malformed("unknown frame kind " + std::to_string(kind));
      continue;
    }
    if (name_length > length - kHeaderLength) {
      on_malformed("name length " + std::to_string(name_length) +
                   " runs past the frame");
      continue;
    }
    Frame frame;
    frame.kind = static_cast<FrameKind>(kind);
    frame.id = GetU32(body + 1);
    frame.name.assign(reinterpret_cast<const char*>(body + kHeaderLength),
                      name_length);
    frame.payload.assign(body + kHeaderLength + name_length, body + length);
    on_frame(std::move(frame));
  }
  buffer->erase(buffer->begin(), buffer->begin() + pos);
  return ok;
}

std::unique_ptr<DartLink> DartLink::Connect(const char* path,
                                            Delegate* delegate) {
  g_autoptr(GSocketClient) client = g_socket_client_new();
  g_autoptr(GSocketAddress) address = g_unix_socket_address_new(path);
  g_autoptr(GError) error = nullptr;
  GSocketConnection* connection = g_socket_client_connect(
      client, G_SOCKET_CONNECTABLE(address), nullptr, &error);
  if (connection == nullptr) {
    g_warning("flutter stand-in: cannot connect to the Dart side at %s: %s",
              path, error->message);
    return nullptr;
  }
  std::unique_ptr<DartLink> link(new DartLink(connection, delegate));
  link->ReadMore();
  return link;
}

DartLink::DartLink(GSocketConnection* connection, Delegate* delegate)
    : connection_(connection),
      cancellable_(g_cancellable_new()),
      delegate_(delegate) {}

DartLink::~DartLink() {
  g_cancellable_cancel(cancellable_);
  g_object_unref(cancellable_);
  g_io_stream_close(G_IO_STREAM(connection_), nullptr, nullptr);
  g_object_unref(connection_);
}

bool DartLink::Send(const Frame& frame) {
  if (closed_) {
    return false;
  }
  std::vector<uint8_t> bytes;
  EncodeFrame(frame, &bytes);
  g_autoptr(GError) error = nullptr;
  GOutputStream* out = g_io_stream_get_output_stream(G_IO_STREAM(connection_));
  if (!g_output_stream_write_all(out, bytes.data(), bytes.size(), nullptr,
                                 nullptr, &error)) {
    g_warning("flutter stand-in: lost the Dart side: %s", error->message);
    closed_ = true;
    return false;
  }
  return true;
}

void DartLink::ReadMore() {
  GInputStream* in = g_io_stream_get_input_stream(G_IO_STREAM(connection_));
  g_input_stream_read_bytes_async(in, 65536, G_PRIORITY_DEFAULT, cancellable_,
                                  ReadCb, this);
}

// Called when bytes (or the end of the stream) arrived from the Dart side.
void DartLink::ReadCb(GObject* source, GAsyncResult* result, gpointer data) {
  g_autoptr(GError) error = nullptr;
  g_autoptr(GBytes) bytes =
      g_input_stream_read_bytes_finish(G_INPUT_STREAM(source), result, &error);
  if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) {
    return;  // the link is being destroyed; `data` is gone
  }
  DartLink* self = static_cast<DartLink*>(data);
  if (bytes == nullptr || g_bytes_get_size(bytes) == 0) {
    if (error != nullptr) {
      g_warning("flutter stand-in: reading from the Dart side failed: %s",
                error->message);
    }
    self->closed_ = true;
    self->delegate_->OnFrames({}, true);
    return;
  }
  gsize n;
  const uint8_t* p = static_cast<const uint8_t*>(g_bytes_get_data(bytes, &n));
  self->inbox_.insert(self->inbox_.end(), p, p + n);
  std::vector<Frame> frames;
  bool readable = TakeFrames(
      &self->inbox_, [&](Frame f) { frames.push_back(std::move(f)); },
      [](const std::string& why) {
        g_warning(
            "flutter stand-in: dropped a malformed frame from the Dart "
            "side: %s",
            why.c_str());
      });
  if (!readable) {
    self->closed_ = true;
  } else {
    self->ReadMore();
  }
  // Delivering may destroy the link, so this is the last use of `self`.
  self->delegate_->OnFrames(std::move(frames), self->closed_);
}

}  // namespace fl_standin
