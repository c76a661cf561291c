#pragma once
// The PPM context model (variant G): contexts up to a maximum order over the bytes seen so
// far, binary contexts with adaptive probabilities shared by all contexts of one kind,
// secondary escape estimation, and a full restart whenever the model's memory runs out.
// Encoder and decoder share every update rule, so both build the same model from the same
// bytes.
#include <cstddef>
#include <cstdint>

#include "dbengine/storage/orv_ppm_rangecoder.h"
#include "dbengine/storage/orv_ppm_suballoc.h"

namespace orv::ppm {

inline constexpr unsigned MAX_O = 64;
// Columns of the binary-context table: 8 classes of the suffix's symbol count (1 to 6 alone,
// 7 to 50 together, and 51 to 256 together, the order-0 root among them), each with and without
// a success of the previous symbol.
inline constexpr unsigned kBinColumns = 16;
// Rows of the escape-estimation table: classes of the number of symbols still unmasked (four
// classes of one count, four of two, eight of four, and classes of eight counts up to 255).
inline constexpr unsigned kSeeRows = 43;

// Lets tests drive the model symbol by symbol (restarting it at chosen points); not used by
// the product.
struct TPPMModelTestAccess;

class TPPMModel {
 public:
  // Reserves the model memory (MemoryMB megabytes) and starts the model; false when the order
  // or the memory is outside what the format can name, or the heap cannot give the memory.
  bool Start(unsigned MaxOrder, unsigned MemoryMB);

  // Codes all of In and the end-of-data escape, then flushes the coder. False when the output
  // would not fit in the encoder's buffer.
  bool EncodeBuffer(TPPMRangeEncoder& rc, const uint8_t* In, size_t InSize);

  // Decodes until the end-of-data escape. The number of bytes written to Out, or -1 when the
  // data would decode to more than OutCapacity bytes, the input ends before the escape, or the
  // data is inconsistent with the model.
  int64_t DecodeBuffer(TPPMRangeDecoder& rc, uint8_t* Out, size_t OutCapacity);

 private:
  friend struct TPPMModelTestAccess;

  struct SEE2 {
    uint16_t Summ;
    uint8_t Shift;
    uint8_t Count;
    void Init(unsigned InitVal);
    unsigned GetMean();
    void Update();
  };

  void RestartModel();
  uint8_t* FindState(uint8_t* c, unsigned Symbol);
  uint8_t* CreateSuccessors(bool Skip);
  void UpdateModel();
  // Whether the found symbol's state in the next shorter context still points into the text.
  bool SuffixLeadsToText();
  void Rescale();
  void NextContext();
  void Update1(uint8_t* s);
  void Update1_0(uint8_t* s);
  void UpdateBin(uint8_t* s);
  void Update2(uint8_t* s);
  uint16_t& BinSummFor(uint8_t* OneState);
  SEE2* MakeEscFreq2(unsigned Diff, uint32_t& Scale);
  void StartMask();
  // Masks every symbol of MinContext (Last is its last state) after an escape from it.
  void MaskAll(uint8_t* Last);
  // The updates after a binary context's symbol was coded, or its escape.
  void BinaryFound(uint16_t& bs, uint8_t* rs);
  void BinaryEscaped(uint16_t& bs, uint8_t* rs);
  // The statistics of MinContext from its first to its last state, and whether the scan of
  // the masked symbols found what the model promised (false only for damaged input).
  bool CollectUnmasked(unsigned Count, uint8_t** Out);

  // Encodes one symbol (0..255), or the end-of-data escape for -1.
  void EncodeSymbol(TPPMRangeEncoder& rc, int Symbol);
  // Codes the end-of-data escape and flushes the coder; false when the output did not fit.
  bool EncodeEnd(TPPMRangeEncoder& rc);
  // Decodes one symbol; -1 for the end-of-data escape (or a failure, see Broken).
  int DecodeSymbol(TPPMRangeDecoder& rc);

  TPPMSubAllocator sa_;
  uint8_t* MinContext = nullptr;
  uint8_t* MaxContext = nullptr;
  uint8_t* FoundState = nullptr;
  unsigned NumMasked = 0;
  unsigned InitEsc = 0;
  int OrderFall = 0;
  unsigned MaxOrder = 0;
  unsigned PrevSuccess = 0;
  // Set when the model meets a state it cannot be in for any input: only damaged compressed
  // data leads there, and the call then fails instead of reading outside the statistics.
  bool Broken = false;
  uint8_t EscCount = 0;
  uint8_t CharMask[256] = {};
  uint8_t NS2Indx[256];
  uint8_t NS2BSIndx[256];
  SEE2 DummySEE2Cont = {};
  SEE2 SEE2Cont[kSeeRows][16];
  uint16_t BinSumm[128][kBinColumns];
};

}  // namespace orv::ppm
