#include "dbengine/storage/orv_ppm_model.h"

#include <cstring>

namespace orv::ppm {
namespace {

constexpr unsigned MAX_FREQ = 124;
constexpr unsigned INT_BITS = 7;
constexpr unsigned PERIOD_BITS = 7;
constexpr unsigned TOT_BITS = INT_BITS + PERIOD_BITS;
constexpr unsigned INTERVAL = 1u << INT_BITS;
constexpr unsigned BIN_SCALE = 1u << TOT_BITS;

constexpr uint8_t ExpEscape[16] = {25, 14, 9, 7, 5, 5, 4, 4, 4, 3, 3, 3, 2, 2, 2, 2};

// Initial escape estimates of the binary contexts, per column (class of the suffix's symbol
// count times two, plus one after a success); row r of a column starts at
// BIN_SCALE - InitBinEsc / (r + 2).
constexpr uint16_t InitBinEsc[kBinColumns] = {
    15581, 7999, 22975, 18675, 24571, 21829, 25553, 23965,
    25761, 23228, 26162, 24657, 26870, 21659, 27594, 15024,
};

unsigned GetMean(unsigned Summ) { return (Summ + (1u << (PERIOD_BITS - 2))) >> PERIOD_BITS; }

// A context (one unit): symbol count, total frequency, statistics and suffix. A context with a
// single symbol (a binary context) keeps that symbol's state in place of the total and the
// statistics link, from byte 2 on.
constexpr size_t kStateSize = 6;
unsigned NumStats(const uint8_t* c) { return Load16(c); }
void SetNumStats(uint8_t* c, unsigned v) { Store16(c, static_cast<uint16_t>(v)); }
unsigned SummFreq(const uint8_t* c) { return Load16(c + 2); }
void SetSummFreq(uint8_t* c, unsigned v) { Store16(c + 2, static_cast<uint16_t>(v)); }
uint32_t StatsRef(const uint8_t* c) { return Load32(c + 4); }
void SetStatsRef(uint8_t* c, uint32_t v) { Store32(c + 4, v); }
uint32_t SuffixRef(const uint8_t* c) { return Load32(c + 8); }
void SetSuffixRef(uint8_t* c, uint32_t v) { Store32(c + 8, v); }
uint8_t* OneState(uint8_t* c) { return c + 2; }

// A symbol's state in a context: symbol, frequency, successor (the next-order context, or a
// position in the text area while that context has not been made yet).
uint8_t& Sym(uint8_t* s) { return s[0]; }
uint8_t& Freq(uint8_t* s) { return s[1]; }
uint32_t Successor(const uint8_t* s) { return Load32(s + 2); }
void SetSuccessor(uint8_t* s, uint32_t v) { Store32(s + 2, v); }
void SwapStates(uint8_t* a, uint8_t* b) {
  uint8_t t[kStateSize];
  std::memcpy(t, a, kStateSize);
  std::memcpy(a, b, kStateSize);
  std::memcpy(b, t, kStateSize);
}
void CopyState(uint8_t* to, const uint8_t* from) { std::memcpy(to, from, kStateSize); }

}  // namespace

void TPPMModel::SEE2::Init(unsigned InitVal) {
  Shift = PERIOD_BITS - 4;
  Summ = static_cast<uint16_t>(InitVal << Shift);
  Count = 3;
}

unsigned TPPMModel::SEE2::GetMean() {
  const unsigned r = Summ >> Shift;
  Summ = static_cast<uint16_t>(Summ - r);
  return r + (r == 0);
}

void TPPMModel::SEE2::Update() {
  if (Shift < PERIOD_BITS && --Count == 0) {
    Summ = static_cast<uint16_t>(Summ + Summ);
    Count = static_cast<uint8_t>(3 << Shift++);
  }
}

bool TPPMModel::Start(unsigned Order, unsigned MemoryMB) {
  if (Order < 2 || Order > 16 || MemoryMB < 1 || MemoryMB > 256) return false;
  if (!sa_.Start(MemoryMB << 20)) return false;
  MaxOrder = Order;
  // Symbol-count classes. NS2Indx, for the escape estimation: counts 1 to 4 one class each,
  // 5 to 12 two counts a class, 13 to 44 four counts, and from 45 on eight counts a class.
  // NS2BSIndx, for the binary contexts: counts 1 to 6 one class each, 7 to 50 one class, and
  // 51 to 256 (the root among them) one class.
  for (unsigned i = 0; i < 256; ++i)
    NS2Indx[i] = static_cast<uint8_t>(i < 4    ? i
                                      : i < 12 ? 4 + (i - 4) / 2
                                      : i < 44 ? 8 + (i - 12) / 4
                                               : 16 + (i - 44) / 8);
  for (unsigned i = 0; i < 256; ++i) NS2BSIndx[i] = static_cast<uint8_t>(i < 6 ? i : (i < 50 ? 6 : 7));
  DummySEE2Cont = {};
  DummySEE2Cont.Shift = PERIOD_BITS;
  std::memset(CharMask, 0, sizeof(CharMask));
  EscCount = 0;
  InitEsc = 0;
  Broken = false;
  RestartModel();
  return true;
}

void TPPMModel::RestartModel() {
  sa_.Init();
  PrevSuccess = 0;
  uint8_t* root = sa_.AllocContext();
  SetSuffixRef(root, 0);
  SetNumStats(root, 256);
  SetSummFreq(root, 256 + 1);
  uint8_t* stats = sa_.AllocUnits(sa_.U2I(256 / 2));
  FoundState = stats;
  SetStatsRef(root, sa_.Ref(stats));
  for (unsigned i = 0; i < 256; ++i) {
    uint8_t* s = stats + i * kStateSize;
    Sym(s) = static_cast<uint8_t>(i);
    Freq(s) = 1;
    SetSuccessor(s, 0);
  }
  for (unsigned i = 0; i < 128; ++i)
    for (unsigned k = 0; k < kBinColumns; ++k) BinSumm[i][k] = static_cast<uint16_t>(BIN_SCALE - InitBinEsc[k] / (i + 2));
  for (unsigned i = 0; i < kSeeRows; ++i)
    for (unsigned k = 0; k < 16; ++k) SEE2Cont[i][k].Init(4 * i + 10);

  // The model starts as if the data followed a run of zero bytes: one binary context for the
  // byte 0 at every order below the maximum, the deepest pointing into the (empty) text, so
  // that the first byte is coded one order below the maximum.
  uint8_t* c = root;
  uint8_t* s = stats;
  for (unsigned order = 1; order < MaxOrder; ++order) {
    uint8_t* child = sa_.AllocContext();
    SetNumStats(child, 1);
    Sym(OneState(child)) = 0;
    Freq(OneState(child)) = 1;
    SetSuccessor(OneState(child), 0);
    SetSuffixRef(child, sa_.Ref(c));
    SetSuccessor(s, sa_.Ref(child));
    c = child;
    s = OneState(child);
  }
  SetSuccessor(s, sa_.Ref(sa_.Text));
  MinContext = MaxContext = c;
  OrderFall = 1;
}

uint8_t* TPPMModel::FindState(uint8_t* c, unsigned Symbol) {
  uint8_t* s = sa_.Ptr(StatsRef(c));
  for (unsigned n = NumStats(c); n; --n, s += kStateSize)
    if (Sym(s) == Symbol) return s;
  Broken = true;
  return nullptr;
}

uint8_t* TPPMModel::CreateSuccessors(bool Skip) {
  uint8_t* c = MinContext;
  const uint32_t upBranch = Successor(FoundState);
  const uint8_t fsymbol = Sym(FoundState);
  uint8_t* ps[MAX_O];
  unsigned numPs = 0;
  if (!Skip) ps[numPs++] = FoundState;
  while (SuffixRef(c)) {
    c = sa_.Ptr(SuffixRef(c));
    uint8_t* s = NumStats(c) != 1 ? FindState(c, fsymbol) : OneState(c);
    if (!s) return nullptr;
    if (Successor(s) != upBranch) {
      c = sa_.Ptr(Successor(s));
      if (numPs == 0) return c;
      break;
    }
    if (numPs == MAX_O) {
      Broken = true;
      return nullptr;
    }
    ps[numPs++] = s;
  }
  if (numPs == 0) {
    Broken = true;
    return nullptr;
  }

  uint8_t upState[kStateSize];
  Sym(upState) = *sa_.Ptr(upBranch);
  SetSuccessor(upState, upBranch + 1);
  if (NumStats(c) == 1) {
    Freq(upState) = Freq(OneState(c));
  } else {
    // The new context inherits the symbol's share of the shorter one.
    uint8_t* s = FindState(c, Sym(upState));
    if (!s) return nullptr;
    const unsigned cf = Freq(s) - 1u;
    const unsigned s0 = SummFreq(c) - NumStats(c) - cf;
    if (s0 == 0 || s0 > 0xFFFF) {
      Broken = true;
      return nullptr;
    }
    Freq(upState) = static_cast<uint8_t>(1 + ((2 * cf <= s0) ? (5 * cf > s0) : ((2 * cf + 3 * s0 - 1) / (2 * s0))));
  }
  do {
    uint8_t* c1 = sa_.AllocContext();
    if (!c1) return nullptr;
    SetNumStats(c1, 1);
    CopyState(OneState(c1), upState);
    SetSuffixRef(c1, sa_.Ref(c));
    SetSuccessor(ps[--numPs], sa_.Ref(c1));
    c = c1;
  } while (numPs != 0);
  return c;
}

bool TPPMModel::SuffixLeadsToText() {
  uint8_t* c = sa_.Ptr(SuffixRef(MinContext));
  uint8_t* s = NumStats(c) != 1 ? FindState(c, Sym(FoundState)) : OneState(c);
  return s && Successor(s) == Successor(FoundState);
}

void TPPMModel::UpdateModel() {
  uint32_t fSuccessor = Successor(FoundState);
  const uint8_t fsymbol = Sym(FoundState);
  const unsigned fFreq = Freq(FoundState);

  // The symbol also gains in the next shorter context; at the maximum order only while that
  // context's own successor is still a position in the text, that is, when the contexts for
  // the symbol are about to be made (when the shorter context already leads to a real one, the
  // model moves there without touching the statistics).
  if (fFreq < MAX_FREQ / 4 && SuffixRef(MinContext) != 0 && (OrderFall != 0 || SuffixLeadsToText())) {
    uint8_t* c = sa_.Ptr(SuffixRef(MinContext));
    if (NumStats(c) != 1) {
      uint8_t* s = sa_.Ptr(StatsRef(c));
      if (Sym(s) != fsymbol) {
        s = FindState(c, fsymbol);
        if (!s) return;
        if (Freq(s) >= Freq(s - kStateSize)) {
          SwapStates(s, s - kStateSize);
          s -= kStateSize;
        }
      }
      // A symbol already close to the rescale limit gains no more here.
      if (Freq(s) < MAX_FREQ - 16) {
        Freq(s) = static_cast<uint8_t>(Freq(s) + 2);
        SetSummFreq(c, SummFreq(c) + 2);
      }
    } else {
      uint8_t* s = OneState(c);
      if (Freq(s) < 32) ++Freq(s);
    }
  }

  if (OrderFall == 0) {
    MinContext = MaxContext = CreateSuccessors(true);
    if (!MinContext) {
      RestartModel();
      return;
    }
    SetSuccessor(FoundState, sa_.Ref(MinContext));
    return;
  }

  *sa_.Text++ = fsymbol;
  uint32_t successor = sa_.Ref(sa_.Text);
  if (sa_.Text >= sa_.UnitsStart) {
    RestartModel();
    return;
  }

  if (fSuccessor) {
    if (fSuccessor <= successor) {
      // The successor is still a position in the text: make the contexts it stands for.
      uint8_t* cs = CreateSuccessors(false);
      if (!cs) {
        RestartModel();
        return;
      }
      fSuccessor = sa_.Ref(cs);
    }
    if (--OrderFall == 0) {
      successor = fSuccessor;
      if (MaxContext != MinContext) --sa_.Text;
    }
  } else {
    SetSuccessor(FoundState, successor);
    fSuccessor = sa_.Ref(MinContext);
  }

  const unsigned ns = NumStats(MinContext);
  const unsigned s0 = SummFreq(MinContext) - ns - (fFreq - 1);
  for (uint8_t* c = MaxContext; c != MinContext; c = sa_.Ptr(SuffixRef(c))) {
    const unsigned ns1 = NumStats(c);
    if (ns1 >= 256 || SuffixRef(c) == 0) {
      Broken = true;
      return;
    }
    if (ns1 != 1) {
      if ((ns1 & 1) == 0) {
        uint8_t* stats = sa_.ExpandUnits(sa_.Ptr(StatsRef(c)), ns1 >> 1);
        if (!stats) {
          RestartModel();
          return;
        }
        SetStatsRef(c, sa_.Ref(stats));
      }
      SetSummFreq(c, SummFreq(c) + (2 * ns1 < ns) + 2 * ((4 * ns1 <= ns) & (SummFreq(c) <= 8 * ns1)));
    } else {
      uint8_t* s = sa_.AllocUnits(0);
      if (!s) {
        RestartModel();
        return;
      }
      CopyState(s, OneState(c));
      SetStatsRef(c, sa_.Ref(s));
      if (Freq(s) < MAX_FREQ / 4 - 1)
        Freq(s) = static_cast<uint8_t>(Freq(s) * 2);
      else
        Freq(s) = MAX_FREQ - 4;
      SetSummFreq(c, Freq(s) + InitEsc + (ns > 3));
    }
    unsigned cf = 2 * fFreq * (SummFreq(c) + 6);
    const unsigned sf = s0 + SummFreq(c);
    if (cf < 6 * sf) {
      cf = 1 + (cf > sf) + (cf >= 4 * sf);
      SetSummFreq(c, SummFreq(c) + 3);
    } else {
      cf = 4 + (cf >= 9 * sf) + (cf >= 12 * sf) + (cf >= 15 * sf);
      SetSummFreq(c, SummFreq(c) + cf);
    }
    uint8_t* s = sa_.Ptr(StatsRef(c)) + ns1 * kStateSize;
    SetSuccessor(s, successor);
    Sym(s) = fsymbol;
    Freq(s) = static_cast<uint8_t>(cf);
    SetNumStats(c, ns1 + 1);
  }
  MaxContext = MinContext = sa_.Ptr(fSuccessor);
}

void TPPMModel::Rescale() {
  uint8_t* stats = sa_.Ptr(StatsRef(MinContext));
  uint8_t* s = FoundState;
  // The found symbol moves to the front.
  for (; s != stats; s -= kStateSize) SwapStates(s, s - kStateSize);
  const unsigned oldNS = NumStats(MinContext);
  unsigned escFreq = SummFreq(MinContext) - Freq(s);
  Freq(s) = static_cast<uint8_t>(Freq(s) + 4);
  // In the deepest contexts rare symbols may fade out entirely; elsewhere every symbol keeps
  // at least a count of one.
  const unsigned adder = OrderFall != 0;
  Freq(s) = static_cast<uint8_t>((Freq(s) + adder) >> 1);
  unsigned sumFreq = Freq(s);
  unsigned i = oldNS - 1;
  do {
    s += kStateSize;
    escFreq -= Freq(s);
    Freq(s) = static_cast<uint8_t>((Freq(s) + adder) >> 1);
    sumFreq += Freq(s);
    if (Freq(s) > Freq(s - kStateSize)) {
      uint8_t tmp[kStateSize];
      CopyState(tmp, s);
      uint8_t* s1 = s;
      do {
        CopyState(s1, s1 - kStateSize);
        s1 -= kStateSize;
      } while (s1 != stats && Freq(tmp) > Freq(s1 - kStateSize));
      CopyState(s1, tmp);
    }
  } while (--i);

  if (Freq(s) == 0) {
    do {
      ++i;
      s -= kStateSize;
    } while (Freq(s) == 0);
    escFreq += i;
    SetNumStats(MinContext, oldNS - i);
    if (NumStats(MinContext) == 1) {
      uint8_t tmp[kStateSize];
      CopyState(tmp, stats);
      do {
        Freq(tmp) = static_cast<uint8_t>(Freq(tmp) - (Freq(tmp) >> 1));
        escFreq >>= 1;
      } while (escFreq > 1);
      sa_.FreeUnits(stats, (oldNS + 1) >> 1);
      FoundState = OneState(MinContext);
      CopyState(FoundState, tmp);
      return;
    }
    const unsigned n0 = (oldNS + 1) >> 1;
    const unsigned n1 = (NumStats(MinContext) + 1) >> 1;
    if (n0 != n1) SetStatsRef(MinContext, sa_.Ref(sa_.ShrinkUnits(stats, n0, n1)));
  }
  SetSummFreq(MinContext, sumFreq + escFreq - (escFreq >> 1));
  FoundState = sa_.Ptr(StatsRef(MinContext));
}

void TPPMModel::NextContext() {
  const uint32_t succ = Successor(FoundState);
  if (OrderFall == 0 && succ > sa_.Ref(sa_.Text))
    MinContext = MaxContext = sa_.Ptr(succ);
  else
    UpdateModel();
}

void TPPMModel::Update1_0(uint8_t* s) {
  FoundState = s;
  PrevSuccess = 2u * Freq(s) > SummFreq(MinContext);
  SetSummFreq(MinContext, SummFreq(MinContext) + 4);
  Freq(s) = static_cast<uint8_t>(Freq(s) + 4);
  if (Freq(s) > MAX_FREQ) Rescale();
  NextContext();
}

void TPPMModel::Update1(uint8_t* s) {
  FoundState = s;
  Freq(s) = static_cast<uint8_t>(Freq(s) + 4);
  SetSummFreq(MinContext, SummFreq(MinContext) + 4);
  if (Freq(s) > Freq(s - kStateSize)) {
    SwapStates(s, s - kStateSize);
    FoundState = s -= kStateSize;
    if (Freq(s) > MAX_FREQ) Rescale();
  }
  NextContext();
}

void TPPMModel::UpdateBin(uint8_t* s) {
  FoundState = s;
  Freq(s) = static_cast<uint8_t>(Freq(s) + (Freq(s) < 128));
  PrevSuccess = 1;
  NextContext();
}

void TPPMModel::Update2(uint8_t* s) {
  FoundState = s;
  Freq(s) = static_cast<uint8_t>(Freq(s) + 4);
  SetSummFreq(MinContext, SummFreq(MinContext) + 4);
  if (Freq(s) > MAX_FREQ) Rescale();
  UpdateModel();
}

uint16_t& TPPMModel::BinSummFor(uint8_t* rs) {
  const unsigned suffixStats = NumStats(sa_.Ptr(SuffixRef(MinContext)));
  const unsigned freq = Freq(rs);
  if (freq == 0 || freq > 128 || suffixStats == 0 || suffixStats > 256) {
    Broken = true;
    return BinSumm[0][0];
  }
  return BinSumm[freq - 1][2 * NS2BSIndx[suffixStats - 1] + PrevSuccess];
}

TPPMModel::SEE2* TPPMModel::MakeEscFreq2(unsigned Diff, uint32_t& Scale) {
  const unsigned ns = NumStats(MinContext);
  if (ns != 256) {
    const int suffixStats = static_cast<int>(NumStats(sa_.Ptr(SuffixRef(MinContext))));
    SEE2* psee2c = SEE2Cont[NS2Indx[Diff - 1]] + (static_cast<int>(Diff) < suffixStats - static_cast<int>(ns)) +
                   2 * (SummFreq(MinContext) < 11 * ns) + 4 * (NumMasked > Diff);
    Scale = psee2c->GetMean();
    return psee2c;
  }
  Scale = 1;
  return &DummySEE2Cont;
}

void TPPMModel::StartMask() {
  if (++EscCount == 0) {
    std::memset(CharMask, 0, sizeof(CharMask));
    EscCount = 1;
  }
}

void TPPMModel::MaskAll(uint8_t* Last) {
  StartMask();
  NumMasked = NumStats(MinContext);
  for (unsigned i = NumMasked; i; --i, Last -= kStateSize) CharMask[Sym(Last)] = EscCount;
}

void TPPMModel::BinaryFound(uint16_t& bs, uint8_t* rs) {
  bs = static_cast<uint16_t>(bs + INTERVAL - GetMean(bs));
  UpdateBin(rs);
}

void TPPMModel::BinaryEscaped(uint16_t& bs, uint8_t* rs) {
  bs = static_cast<uint16_t>(bs - GetMean(bs));
  InitEsc = ExpEscape[bs >> 10];
  StartMask();
  NumMasked = 1;
  CharMask[Sym(rs)] = EscCount;
  PrevSuccess = 0;
}

bool TPPMModel::CollectUnmasked(unsigned Count, uint8_t** Out) {
  uint8_t* s = sa_.Ptr(StatsRef(MinContext));
  unsigned n = 0;
  for (unsigned left = NumStats(MinContext); left && n < Count; --left, s += kStateSize)
    if (CharMask[Sym(s)] != EscCount) Out[n++] = s;
  if (n != Count) Broken = true;
  return n == Count;
}

void TPPMModel::EncodeSymbol(TPPMRangeEncoder& rc, int symbol) {
  if (NumStats(MinContext) != 1) {
    uint8_t* s = sa_.Ptr(StatsRef(MinContext));
    const uint32_t scale = SummFreq(MinContext);
    if (Sym(s) == symbol) {
      rc.Encode(0, Freq(s), scale);
      Update1_0(s);
      return;
    }
    PrevSuccess = 0;
    uint32_t lo = Freq(s);
    unsigned i = NumStats(MinContext) - 1;
    do {
      s += kStateSize;
      if (Sym(s) == symbol) {
        rc.Encode(lo, lo + Freq(s), scale);
        Update1(s);
        return;
      }
      lo += Freq(s);
    } while (--i);
    MaskAll(s);
    rc.Encode(lo, scale, scale);
  } else {
    uint8_t* rs = OneState(MinContext);
    uint16_t& bs = BinSummFor(rs);
    if (Sym(rs) == symbol) {
      rc.EncodeShift(0, bs, TOT_BITS);
      BinaryFound(bs, rs);
      return;
    }
    rc.EncodeShift(bs, BIN_SCALE, TOT_BITS);
    BinaryEscaped(bs, rs);
  }
  uint8_t* ps[256];
  for (;;) {
    do {
      ++OrderFall;
      const uint32_t suffix = SuffixRef(MinContext);
      if (!suffix) return;  // escaped from the root: the end of the data
      MinContext = sa_.Ptr(suffix);
    } while (NumStats(MinContext) == NumMasked);

    const unsigned n = NumStats(MinContext) - NumMasked;
    uint32_t escFreq;
    SEE2* psee2c = MakeEscFreq2(n, escFreq);
    if (!CollectUnmasked(n, ps)) return;
    uint32_t total = 0, lo = 0;
    uint8_t* found = nullptr;
    for (unsigned k = 0; k < n; ++k) {
      if (Sym(ps[k]) == symbol) {
        found = ps[k];
        lo = total;
      }
      total += Freq(ps[k]);
    }
    if (found) {
      rc.Encode(lo, lo + Freq(found), escFreq + total);
      psee2c->Update();
      Update2(found);
      return;
    }
    const uint32_t scale = escFreq + total;
    rc.Encode(total, scale, scale);
    for (unsigned k = 0; k < n; ++k) CharMask[Sym(ps[k])] = EscCount;
    psee2c->Summ = static_cast<uint16_t>(psee2c->Summ + scale);
    NumMasked = NumStats(MinContext);
  }
}

int TPPMModel::DecodeSymbol(TPPMRangeDecoder& rc) {
  if (NumStats(MinContext) != 1) {
    uint8_t* s = sa_.Ptr(StatsRef(MinContext));
    const uint32_t scale = SummFreq(MinContext);
    const uint32_t count = rc.GetCurrentCount(scale);
    uint32_t hiCnt = Freq(s);
    if (count < hiCnt) {
      rc.RemoveSubrange(0, hiCnt);
      const int symbol = Sym(s);
      Update1_0(s);
      return symbol;
    }
    PrevSuccess = 0;
    unsigned i = NumStats(MinContext) - 1;
    for (;;) {
      s += kStateSize;
      hiCnt += Freq(s);
      if (hiCnt > count) {
        rc.RemoveSubrange(hiCnt - Freq(s), hiCnt);
        const int symbol = Sym(s);
        Update1(s);
        return symbol;
      }
      if (--i == 0) break;
    }
    if (hiCnt >= scale) {
      Broken = true;
      return -1;
    }
    rc.RemoveSubrange(hiCnt, scale);
    MaskAll(s);
  } else {
    uint8_t* rs = OneState(MinContext);
    uint16_t& bs = BinSummFor(rs);
    if (rc.GetCurrentShiftCount(TOT_BITS) < bs) {
      rc.RemoveSubrange(0, bs);
      // Read the symbol first: the update may restart the model over this context's unit.
      const int symbol = Sym(rs);
      BinaryFound(bs, rs);
      return symbol;
    }
    rc.RemoveSubrange(bs, BIN_SCALE);
    BinaryEscaped(bs, rs);
  }
  uint8_t* ps[256];
  for (;;) {
    if (!rc.Ok() || Broken) return -1;
    do {
      ++OrderFall;
      const uint32_t suffix = SuffixRef(MinContext);
      if (!suffix) return -1;
      MinContext = sa_.Ptr(suffix);
    } while (NumStats(MinContext) == NumMasked);

    const unsigned n = NumStats(MinContext) - NumMasked;
    uint32_t escFreq;
    SEE2* psee2c = MakeEscFreq2(n, escFreq);
    if (!CollectUnmasked(n, ps)) return -1;
    uint32_t hiCnt = 0;
    for (unsigned k = 0; k < n; ++k) hiCnt += Freq(ps[k]);
    const uint32_t scale = escFreq + hiCnt;
    const uint32_t count = rc.GetCurrentCount(scale);
    if (count < hiCnt) {
      uint32_t acc = 0;
      unsigned k = 0;
      while ((acc += Freq(ps[k])) <= count) ++k;
      uint8_t* s = ps[k];
      rc.RemoveSubrange(acc - Freq(s), acc);
      psee2c->Update();
      const int symbol = Sym(s);
      Update2(s);
      return symbol;
    }
    rc.RemoveSubrange(hiCnt, scale);
    for (unsigned k = 0; k < n; ++k) CharMask[Sym(ps[k])] = EscCount;
    psee2c->Summ = static_cast<uint16_t>(psee2c->Summ + scale);
    NumMasked = NumStats(MinContext);
  }
}

bool TPPMModel::EncodeBuffer(TPPMRangeEncoder& rc, const uint8_t* In, size_t InSize) {
  for (size_t k = 0; k < InSize; ++k) {
    EncodeSymbol(rc, In[k]);
    if (!rc.Ok() || Broken) return false;
  }
  return EncodeEnd(rc);
}

bool TPPMModel::EncodeEnd(TPPMRangeEncoder& rc) {
  EncodeSymbol(rc, -1);
  rc.Flush();
  return rc.Ok() && !Broken;
}

int64_t TPPMModel::DecodeBuffer(TPPMRangeDecoder& rc, uint8_t* Out, size_t OutCapacity) {
  size_t n = 0;
  for (;;) {
    const int symbol = DecodeSymbol(rc);
    if (!rc.Ok() || Broken) return -1;
    if (symbol < 0) return static_cast<int64_t>(n);
    if (n == OutCapacity) return -1;
    Out[n++] = static_cast<uint8_t>(symbol);
  }
}

}  // namespace orv::ppm
