#pragma once
// Metafiles made record by record in the published layout, for the translator's tests and the
// fuzz seeds: raw records with a header and an end record around them, and the font, text and
// picture records the recorder does not write itself.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "platform/metafile/emf_records.h"

namespace pdfwriter::testing {

// A metafile made record by record in the published layout.
struct EmfBuilder {
  std::vector<uint8_t> body;
  uint32_t count = 0;
  uint16_t handles = 8;

  EmfBuilder& Raw(uint32_t type, std::vector<uint8_t> payload) {
    platform::WriteEmfRecord(body, platform::EmrUnknown{type, std::move(payload)});
    ++count;
    return *this;
  }
  // A record of 32-bit words.
  EmfBuilder& R(uint32_t type, std::initializer_list<int64_t> words) {
    std::vector<uint8_t> p;
    for (int64_t w : words)
      for (int i = 0; i < 4; ++i) p.push_back(static_cast<uint8_t>(static_cast<uint64_t>(w) >> (8 * i)));
    return Raw(type, std::move(p));
  }
  std::vector<uint8_t> Bytes() const {
    platform::EmrHeader h;
    h.Bounds = {0, 0, -1, -1};
    h.Handles = handles;
    h.Records = count + 2;
    std::vector<uint8_t> head, eof;
    platform::WriteEmfRecord(head, h);
    platform::WriteEmfRecord(eof, platform::EmrEof{});
    h.Bytes = static_cast<uint32_t>(head.size() + body.size() + eof.size());
    head.clear();
    platform::WriteEmfRecord(head, h);
    head.insert(head.end(), body.begin(), body.end());
    head.insert(head.end(), eof.begin(), eof.end());
    return head;
  }
};

// An EXTCREATEFONTINDIRECTW record for slot 1.
inline EmfBuilder& Font(EmfBuilder& e, int32_t height, const std::u16string& face, int32_t escapement = 0,
                        uint8_t charset = 0) {
  std::vector<uint8_t> p;
  const auto put = [&](uint32_t v) {
    for (int i = 0; i < 4; ++i) p.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  put(1);
  put(static_cast<uint32_t>(height));
  put(0);
  put(static_cast<uint32_t>(escapement));
  put(static_cast<uint32_t>(escapement));
  put(400);
  p.insert(p.end(), {0, 0, 0, charset, 0, 0, 0, 0});
  for (size_t i = 0; i < 32; ++i) {
    const char16_t c = i < face.size() ? face[i] : u'\0';
    p.push_back(static_cast<uint8_t>(c));
    p.push_back(static_cast<uint8_t>(c >> 8));
  }
  e.Raw(82, p);
  return e.R(37, {1});  // SELECTOBJECT
}

// An EXTTEXTOUTW record.
inline EmfBuilder& Text(EmfBuilder& e, int32_t x, int32_t y, const std::u16string& text, uint32_t options = 0,
                        platform::EmfRect rcl = {0, 0, -1, -1}, const std::vector<int32_t>& dx = {}) {
  std::vector<uint8_t> p;
  const auto put = [&](uint32_t v) {
    for (int i = 0; i < 4; ++i) p.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  for (int i = 0; i < 4; ++i) put(0);
  put(1);
  put(0);
  put(0);
  put(static_cast<uint32_t>(x));
  put(static_cast<uint32_t>(y));
  put(static_cast<uint32_t>(text.size()));
  put(76);
  put(options);
  for (int32_t v : {rcl.Left, rcl.Top, rcl.Right, rcl.Bottom}) put(static_cast<uint32_t>(v));
  const uint32_t dx_at = 76 + static_cast<uint32_t>((text.size() * 2 + 3) / 4 * 4);
  put(dx.empty() ? 0 : dx_at);
  for (char16_t c : text) {
    p.push_back(static_cast<uint8_t>(c));
    p.push_back(static_cast<uint8_t>(c >> 8));
  }
  while (p.size() + 8 < dx_at) p.push_back(0);
  for (int32_t v : dx) put(static_cast<uint32_t>(v));
  return e.Raw(84, p);  // EXTTEXTOUTW
}

// A bitmap-info header and bits of a bottom-up picture; pixels are 0x00RRGGBB from the top row.
inline std::vector<uint8_t> DibOf(int w, int h, int bits, const std::vector<uint32_t>& pixels,
                                  const std::vector<uint32_t>& palette = {}, uint32_t compression = 0) {
  std::vector<uint8_t> d;
  const auto put = [&](uint32_t v) {
    for (int i = 0; i < 4; ++i) d.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  for (uint32_t v : {40u, static_cast<uint32_t>(w), static_cast<uint32_t>(h), 1u | static_cast<uint32_t>(bits) << 16,
                     compression, 0u, 0u, 0u, static_cast<uint32_t>(palette.size()), 0u})
    put(v);
  for (uint32_t c : palette) put(c);
  const size_t stride = (static_cast<size_t>(w) * static_cast<size_t>(bits) + 31) / 32 * 4;
  for (int y = h - 1; y >= 0; --y) {
    std::vector<uint8_t> row(stride, 0);
    for (int x = 0; x < w; ++x) {
      const uint32_t v = pixels[static_cast<size_t>(y * w + x)];
      if (bits == 24) {
        row[3 * static_cast<size_t>(x)] = static_cast<uint8_t>(v);
        row[3 * static_cast<size_t>(x) + 1] = static_cast<uint8_t>(v >> 8);
        row[3 * static_cast<size_t>(x) + 2] = static_cast<uint8_t>(v >> 16);
      } else if (bits == 1) {
        row[static_cast<size_t>(x) / 8] |= static_cast<uint8_t>((v & 1) << (7 - x % 8));
      } else {
        row[static_cast<size_t>(x)] = static_cast<uint8_t>(v);  // 8 bits: a palette index
      }
    }
    d.insert(d.end(), row.begin(), row.end());
  }
  return d;
}

// A STRETCHDIBITS record over a DIB whose header is 40 + 4 x palette bytes.
inline EmfBuilder& StretchDib(EmfBuilder& e, platform::EmfRect bounds, int w, int h,
                              const std::vector<uint8_t>& dib, size_t palette_entries = 0,
                              uint32_t rop = 0x00CC0020) {
  const uint32_t cb_bmi = 40 + 4 * static_cast<uint32_t>(palette_entries);
  const int64_t words[] = {bounds.Left, bounds.Top, bounds.Right, bounds.Bottom, 0, 0, 0, 0, w, h, 80, cb_bmi,
                           80 + cb_bmi, static_cast<int64_t>(dib.size() - cb_bmi), 0, rop, w, h};
  std::vector<uint8_t> p;
  for (int64_t v : words)
    for (int i = 0; i < 4; ++i) p.push_back(static_cast<uint8_t>(static_cast<uint64_t>(v) >> (8 * i)));
  p.insert(p.end(), dib.begin(), dib.end());
  return e.Raw(81, p);
}

}  // namespace pdfwriter::testing
