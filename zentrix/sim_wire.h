#pragma once
// The wire protocol between brevak-mousesim and its clients (zentrix's socket backend and
// `brevak-mousesim ctl`), over a Unix stream socket. It lives with zentrix, the side that speaks
// it from inside the driver library, and the simulated mouse takes it from here; header-only, so
// neither side links the other.
//
// Every message is [u32 body length][body], 1 <= length <= kMaxBody; the body is
// [u8 type][fields]. Integers are little-endian. `str` and `bytes` are [u32 length][bytes].
//
// The client starts with Hello; the server answers HelloReply or Error. Each request carries an
// id that its Reply echoes. Between replies the server pushes events. Anything malformed
// (framing, unknown type, short fields, no Hello first) gets an Error and the connection is
// closed; the server goes on serving its other clients.
//
//  client -> server
//   0x01 Hello       u32 magic (kMagic), u16 version
//   0x02 Enumerate   u32 id                      reply result: count, payload: u16 count,
//                                                count x interface
//   0x03 Open        u32 id, str path            reply result: handle (> 0) or -1
//   0x04 Close       u32 id, u32 handle          reply result: 0 or -1
//   0x05 Write       u32 id, u32 handle, bytes   reply result: bytes written or -1
//   0x06 SetFeature  u32 id, u32 handle, bytes   reply result: 1 or 0
//   0x07 GetFeature  u32 id, u32 handle, u16 n, u8 report id
//                                                reply result: bytes read or -1, payload: them
//   0x08 BleWrite    u32 id, bytes               reply result: 1 or 0
//   0x09 Control     u32 id, str command         reply result: 0 or -1, payload: text
//  server -> client
//   0x81 HelloReply  u16 version
//   0x82 Reply       u32 id, i32 result, payload (the rest of the body)
//   0x83 Error       str message                 (the server then closes the connection)
//   0x90 Input       u32 handle, bytes report    an input report on an open handle
//   0x91 Hotplug     u8 kind (0 arrival, 1 removal), str path
//   0x92 BleNotify   bytes value                 [0x59][type][value][value2]
//   0x93 HandleGone  u32 handle                  its interface went away; the handle is dead
//
// An interface is: str path, then u16 usage page, usage, vendor id, product id, version,
// input, output and feature report lengths.

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <sys/socket.h>
#include <unistd.h>

#include "zentrix/hid_backend.h"

namespace brevak::simwire {

inline constexpr uint32_t kMagic = 0x4B565242;  // "BRVK"
inline constexpr uint16_t kVersion = 1;
inline constexpr uint32_t kMaxBody = 1 << 20;  // a dump of a mouse full of macros fits

enum Type : uint8_t {
  kHello = 0x01,
  kEnumerate = 0x02,
  kOpen = 0x03,
  kClose = 0x04,
  kWrite = 0x05,
  kSetFeature = 0x06,
  kGetFeature = 0x07,
  kBleWrite = 0x08,
  kControl = 0x09,

  kHelloReply = 0x81,
  kReply = 0x82,
  kError = 0x83,
  kInput = 0x90,
  kHotplug = 0x91,
  kBleNotify = 0x92,
  kHandleGone = 0x93,
};

// Where the server listens unless told otherwise: $XDG_RUNTIME_DIR/brevak-mousesim.sock, else
// /tmp/brevak-mousesim-<uid>.sock.
inline std::string DefaultSocketPath() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && *runtime) return std::string(runtime) + "/brevak-mousesim.sock";
  return "/tmp/brevak-mousesim-" + std::to_string(getuid()) + ".sock";
}

// Builds one message: the length prefix is filled in by Finish.
class Writer {
 public:
  explicit Writer(Type type) : buf_(4, 0) { buf_.push_back(type); }
  Writer& U8(uint8_t v) {
    buf_.push_back(v);
    return *this;
  }
  Writer& U16(uint16_t v) { return U8(uint8_t(v)).U8(uint8_t(v >> 8)); }
  Writer& U32(uint32_t v) { return U16(uint16_t(v)).U16(uint16_t(v >> 16)); }
  Writer& I32(int32_t v) { return U32(uint32_t(v)); }
  // Longer blocks are cut to what the body limit can hold.
  Writer& Bytes(const uint8_t* data, size_t n) {
    n = std::min<size_t>(n, kMaxBody - 64);
    U32(uint32_t(n));
    if (n) buf_.insert(buf_.end(), data, data + n);
    return *this;
  }
  Writer& Bytes(const std::vector<uint8_t>& v) { return Bytes(v.data(), v.size()); }
  Writer& Raw(const uint8_t* data, size_t n) {
    if (n) buf_.insert(buf_.end(), data, data + n);
    return *this;
  }
  Writer& Str(std::string_view s) { return Bytes(reinterpret_cast<const uint8_t*>(s.data()), s.size()); }
  Writer& Interface(const zentrix::HidInterfaceInfo& i) {
    Str(i.path);
    return U16(i.usage_page)
        .U16(i.usage)
        .U16(i.vendor_id)
        .U16(i.product_id)
        .U16(i.version_number)
        .U16(i.input_report_length)
        .U16(i.output_report_length)
        .U16(i.feature_report_length);
  }
  std::vector<uint8_t> Finish() {
    const uint32_t n = uint32_t(buf_.size() - 4);
    for (int k = 0; k < 4; ++k) buf_[k] = uint8_t(n >> (8 * k));
    return std::move(buf_);
  }

 private:
  std::vector<uint8_t> buf_;
};

// Reads one body. Every getter fails (returns false) past the end and leaves the reader
// failed, so a chain of reads needs one check at the end.
class Reader {
 public:
  Reader(const uint8_t* data, size_t n) : p_(data), n_(n) {}
  explicit Reader(const std::vector<uint8_t>& body) : Reader(body.data(), body.size()) {}
  bool ok() const { return ok_; }
  bool AtEnd() const { return ok_ && at_ == n_; }
  bool U8(uint8_t& v) {
    if (!Need(1)) return false;
    v = p_[at_++];
    return true;
  }
  bool U16(uint16_t& v) {
    uint8_t lo = 0, hi = 0;
    if (!U8(lo) || !U8(hi)) return false;
    v = uint16_t(lo | hi << 8);
    return true;
  }
  bool U32(uint32_t& v) {
    uint16_t lo = 0, hi = 0;
    if (!U16(lo) || !U16(hi)) return false;
    v = uint32_t(lo) | uint32_t(hi) << 16;
    return true;
  }
  bool I32(int32_t& v) {
    uint32_t u = 0;
    if (!U32(u)) return false;
    v = int32_t(u);
    return true;
  }
  bool Bytes(std::vector<uint8_t>& v) {
    uint32_t n = 0;
    if (!U32(n) || !Need(n)) return false;
    v.assign(p_ + at_, p_ + at_ + n);
    at_ += n;
    return true;
  }
  // Everything not read yet.
  bool Rest(std::vector<uint8_t>& v) {
    if (!ok_) return false;
    v.assign(p_ + at_, p_ + n_);
    at_ = n_;
    return true;
  }
  bool Str(std::string& s) {
    std::vector<uint8_t> v;
    if (!Bytes(v)) return false;
    s.assign(v.begin(), v.end());
    return true;
  }
  bool Interface(zentrix::HidInterfaceInfo& i) {
    return Str(i.path) && U16(i.usage_page) && U16(i.usage) && U16(i.vendor_id) && U16(i.product_id) &&
           U16(i.version_number) && U16(i.input_report_length) && U16(i.output_report_length) &&
           U16(i.feature_report_length);
  }

 private:
  bool Need(size_t k) {
    if (!ok_ || n_ - at_ < k) ok_ = false;
    return ok_;
  }
  const uint8_t* p_;
  size_t n_;
  size_t at_ = 0;
  bool ok_ = true;
};

// Cuts a byte stream into message bodies.
class Stream {
 public:
  void Feed(const uint8_t* data, size_t n) { buf_.insert(buf_.end(), data, data + n); }
  // One whole body, or nothing yet. A length of 0 or above kMaxBody breaks the stream for good
  // (broken() turns true): there is no way to find the next message boundary.
  std::optional<std::vector<uint8_t>> Next() {
    if (broken_ || buf_.size() - at_ < 4) return std::nullopt;
    const uint8_t* p = buf_.data() + at_;
    const uint32_t n = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    if (n == 0 || n > kMaxBody) {
      broken_ = true;
      return std::nullopt;
    }
    if (buf_.size() - at_ - 4 < n) return std::nullopt;
    std::vector<uint8_t> body(p + 4, p + 4 + n);
    at_ += 4 + n;
    if (at_ == buf_.size()) {
      buf_.clear();
      at_ = 0;
    } else if (at_ > kMaxBody) {
      buf_.erase(buf_.begin(), buf_.begin() + long(at_));
      at_ = 0;
    }
    return body;
  }
  bool broken() const { return broken_; }
  // The length the next message announces, once its prefix is in.
  std::optional<uint32_t> PeekLength() const {
    if (buf_.size() - at_ < 4) return std::nullopt;
    const uint8_t* p = buf_.data() + at_;
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
  }

 private:
  std::vector<uint8_t> buf_;
  size_t at_ = 0;
  bool broken_ = false;
};

// Writes all of `bytes` to a blocking socket; false when the peer is gone.
inline bool SendAll(int fd, const std::vector<uint8_t>& bytes) {
  size_t at = 0;
  while (at < bytes.size()) {
    const ssize_t k = ::send(fd, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
    if (k < 0 && errno == EINTR) continue;
    if (k <= 0) return false;
    at += size_t(k);
  }
  return true;
}

}  // namespace brevak::simwire
