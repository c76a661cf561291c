#include "pdfwriter/mrvx_zlib.h"

#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdint>
#include <cstdio>
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

namespace pdfwriter {
namespace {

[[noreturn]] void IllegalCharacter(unsigned char c) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "Illegal character <%02X>", c);
  throw EMRVXError(buf);
}

bool IsBlank(unsigned char c) { return c == '\n' || c == '\r' || c == ' '; }

int HexDigit(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string FilterStream(std::string_view In) {
  std::string out;
  out.reserve(In.size() / 2);
  size_t i = 0;
  const auto next = [&]() -> int {  // the next byte that is not blank, or -1 at the end
    while (i < In.size() && IsBlank(static_cast<unsigned char>(In[i]))) ++i;
    return i < In.size() ? static_cast<unsigned char>(In[i++]) : -1;
  };
  for (;;) {
    const int c1 = next();
    if (c1 < 0 || c1 == '>') break;
    const int h = HexDigit(static_cast<unsigned char>(c1));
    if (h < 0) IllegalCharacter(static_cast<unsigned char>(c1));
    const int c2 = next();
    if (c2 < 0 || c2 == '>') {  // a lone last digit is followed by an implied 0
      out.push_back(static_cast<char>(h << 4));
      break;
    }
    const int l = HexDigit(static_cast<unsigned char>(c2));
    if (l < 0) IllegalCharacter(static_cast<unsigned char>(c2));
    out.push_back(static_cast<char>(h << 4 | l));
  }
  return out;
}

std::string DetachValue(std::string_view In) {
  std::string out;
  out.reserve(In.size() * 4 / 5 + 4);
  uint8_t group[5];
  int n = 0;
  const auto flush = [&](int count) {  // count characters of the group are real
    for (int k = count; k < 5; ++k) group[k] = 'u' - '!';
    uint64_t v = 0;
    for (uint8_t g : group) v = v * 85 + g;
    if (v > 0xFFFFFFFFu) throw EMRVXError("Invalid ASCII85 group.");
    for (int k = 0; k < count - 1; ++k) out.push_back(static_cast<char>(v >> (24 - 8 * k)));
  };
  for (size_t i = 0; i < In.size(); ++i) {
    const auto c = static_cast<unsigned char>(In[i]);
    if (IsBlank(c)) continue;
    if (c == '~') break;
    if (c == 'z' && n == 0) {
      out.append(4, '\0');
      continue;
    }
    if (c < '!' || c > 'u') IllegalCharacter(c);
    group[n++] = static_cast<uint8_t>(c - '!');
    if (n == 5) {
      flush(5);
      n = 0;
    }
  }
  if (n > 0) flush(n);
  return out;
}

std::string IncFlushByte(std::string_view In) {
  std::string out;
  size_t i = 0;
  while (i < In.size()) {
    const auto l = static_cast<unsigned char>(In[i++]);
    if (l == 128) break;
    if (l < 128) {
      const size_t take = std::min<size_t>(l + 1u, In.size() - i);
      out.append(In.substr(i, take));
      i += take;
    } else {
      if (i >= In.size()) break;
      out.append(257u - l, In[i++]);
    }
  }
  return out;
}

void LoadUnFlateLZW(std::string_view Source, std::string& Dest, std::string_view FilterName) {
  Dest.clear();
  std::string name(FilterName);
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (name.find("flatedecode") != std::string::npos) Dest = FlateDecode(Source);
  else if (name.find("lzwdecode") != std::string::npos) throw EMRVXError("Unsupported stream filter: LZWDecode.");
  else if (name.find("asciihexdecode") != std::string::npos) Dest = FilterStream(Source);
  else if (name.find("ascii85decode") != std::string::npos) Dest = DetachValue(Source);
  else if (name.find("runlengthdecode") != std::string::npos) Dest = IncFlushByte(Source);
}

}  // namespace pdfwriter
