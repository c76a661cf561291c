#pragma once
// CCITT fax encoding of black-and-white bitmaps (ITU-T T.4 Group 3 one- and two-dimensional,
// T.6 Group 4), read back by PDF readers with the CCITTFaxDecode filter.
#include <cstdint>
#include <string>

#include "platform/image/bitmap.h"

namespace pdfwriter {

enum class TCCITT : uint8_t { CCITT31D, CCITT32D, CCITT42D };

class TVCCITTCompression {
 public:
  // Encodes a 1-bit bitmap into SaStream (appended). CompressType 31, 32 or 42 selects the
  // encoding; other values keep the current one. Throws EMRVXError "Image format must be
  // B/W." for any other pixel format.
  void CompressImage(const platform::Bitmap& AImage, int CompressType, std::string& SaStream);
  // Encodes all rows of B into the output stream. Throws "Output stream is empty." without
  // one and "Incorrect image format." for a bitmap that is not 1-bit.
  void Execute(const platform::Bitmap& B);

  TCCITT FCT = TCCITT::CCITT31D;
  std::string* FStream = nullptr;

 private:
  void Encode1DRow(const uint8_t* BP, int Bits);
  void Encode2DRow(const uint8_t* BP, const uint8_t* RP, int Bits);
  void PutBits(uint32_t Bits, int Length);
  void PutSpan(int Span, bool Black);
  void FlushBits();

  uint8_t Bit = 8;   // free bit positions left in Data
  uint8_t Data = 0;  // the output byte being assembled, from its most significant bit
  int RowBytes = 0;
  int RowPixels = 0;
};

}  // namespace pdfwriter
