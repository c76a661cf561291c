#include "pdfwriter/mrvx_zlib.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <stdexcept>

#include "pdfwriter/mrvx_types.h"

namespace pdfwriter {
namespace {

// zlib counts in 32-bit units; feed it in pieces that fit.
constexpr size_t kChunk = 1u << 20;

}  // namespace

std::string FlateEncode(std::string_view data, int level) {
  z_stream zs{};
  if (deflateInit(&zs, std::clamp(level, 0, 9)) != Z_OK) throw std::bad_alloc();
  std::string out;
  out.reserve(data.size() / 2 + 64);
  size_t in_at = 0;
  char buf[64 * 1024];
  int rc = Z_OK;
  do {
    const size_t take = std::min(kChunk, data.size() - in_at);
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data() + in_at));
    zs.avail_in = static_cast<uInt>(take);
    in_at += take;
    const int flush = in_at == data.size() ? Z_FINISH : Z_NO_FLUSH;
    do {
      zs.next_out = reinterpret_cast<Bytef*>(buf);
      zs.avail_out = sizeof buf;
      rc = deflate(&zs, flush);
      if (rc == Z_STREAM_ERROR) {
        deflateEnd(&zs);
        throw std::runtime_error("deflate failed");
      }
      out.append(buf, sizeof buf - zs.avail_out);
    } while (zs.avail_out == 0);
  } while (rc != Z_STREAM_END);
  deflateEnd(&zs);
  return out;
}

std::string FlateDecode(std::string_view data) {
  z_stream zs{};
  if (inflateInit(&zs) != Z_OK) throw std::bad_alloc();
  std::string out;
  size_t in_at = 0;
  char buf[64 * 1024];
  int rc = Z_OK;
  while (rc != Z_STREAM_END) {
    if (zs.avail_in == 0) {
      if (in_at == data.size()) break;  // the data ended inside the stream
      const size_t take = std::min(kChunk, data.size() - in_at);
      zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data() + in_at));
      zs.avail_in = static_cast<uInt>(take);
      in_at += take;
    }
    zs.next_out = reinterpret_cast<Bytef*>(buf);
    zs.avail_out = sizeof buf;
    rc = inflate(&zs, Z_NO_FLUSH);
    if (rc == Z_NEED_DICT || rc == Z_DATA_ERROR || rc == Z_MEM_ERROR || rc == Z_STREAM_ERROR) break;
    out.append(buf, sizeof buf - zs.avail_out);
    if (rc == Z_BUF_ERROR && zs.avail_in == 0 && in_at == data.size()) break;
  }
  inflateEnd(&zs);
  if (rc != Z_STREAM_END) throw EMRVXError("Invalid FlateDecode stream.");
  return out;
}

}  // namespace pdfwriter
