#pragma once
// Helpers the main window's display, capture and file commands share: the origin marker of a
// high-range image and its bottom-row header as one record.
#include <cstdint>
#include <string>

#include "analysis/myimage.h"
#include "platform/image/bitmap.h"

namespace app {

// The origin marker (bytes 6..8 of the top row): 0 capture or zero image, 1 converted or
// loaded from a high-range file, 2 loaded from a plain bitmap or PNG. Byte 6 is read; all
// three are written. An image narrower than 3 pixels has no marker (reads 0, writes nothing).
uint8_t OriginMarker(const platform::Bitmap& ibmp);
void SetOriginMarker(platform::Bitmap& ibmp, uint8_t marker);

// The bottom-row header of a high-range image.
struct QuirvelHeader {
  int32_t sn = 0;
  int32_t atype = 0;
  int32_t m = 0;
  int32_t c = 0;
  uint32_t ppi = 0;
  uint32_t max = 0;
  uint32_t min = 0;
};
// True when the image carries the signature; the record is filled in any case.
inline bool ReadHeader(const platform::Bitmap& ibmp, QuirvelHeader& h) {
  return analysis::GetQuirvel(ibmp, h.sn, h.atype, h.m, h.c, h.ppi, h.max, h.min);
}

}  // namespace app

namespace app {

// The camera serial number of the active profile as the image header stores it: a decimal
// number (the default "0000" is 0); a text that is not a number writes 0.
int32_t SerialAsInteger(const std::string& SerialNo);

// The zero reference file of an analysis page (0 LAMS, 1 plate, 2 structure, 3 film; every
// other page shares the general one).
const char* ZeroFileName(int page);

}  // namespace app
