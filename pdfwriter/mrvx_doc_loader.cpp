// Loading an existing PDF file into a TMorvex, reading loaded streams back, and copying pages
// and objects between documents (part of the MRVXDoc module).
//
// The reader works on the whole file in memory and checks every position against its end:
// whatever the bytes are, it either builds the object graph or reports "The file is
// damaged.", never reading outside the data and never following a chain of sections twice.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <set>

#include "pdfwriter/mrvx_doc.h"
#include "pdfwriter/mrvx_zlib.h"
#include "platform/base/number_parse.h"

namespace pdfwriter {
namespace {

// Containers nested deeper than this are refused; no real file comes near it, and the
// recursive reader must not run out of stack on a hostile one.
constexpr int kMaxNesting = 256;

bool IsWhite(unsigned char c) { return c == 0 || c == 9 || c == 10 || c == 12 || c == 13 || c == 32; }
bool IsDelimiter(unsigned char c) {
  return c == '(' || c == ')' || c == '<' || c == '>' || c == '[' || c == ']' || c == '{' || c == '}' || c == '/' ||
         c == '%';
}
bool IsRegular(unsigned char c) { return !IsWhite(c) && !IsDelimiter(c); }
bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }

int HexValue(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

[[noreturn]] void Bad(const char* what) { throw EMRVXError(what); }

// The first run of decimal digits in S.
std::string TrimChars(std::string_view S) {
  size_t i = 0;
  while (i < S.size() && !IsDigit(static_cast<unsigned char>(S[i]))) ++i;
  size_t j = i;
  while (j < S.size() && IsDigit(static_cast<unsigned char>(S[j]))) ++j;
  return std::string(S.substr(i, j - i));
}

// A direct copy of a direct object of the same document (for inherited page attributes).
std::unique_ptr<TMRVXObject> CloneDirect(const TMRVXObject* obj, TMRVXObject* parent) {
  switch (obj->ObjectType()) {
    case TMRVXObjectType::otBoolean:
      return std::make_unique<TMRVXBooleanObject>(parent, static_cast<const TMRVXBooleanObject*>(obj)->Value);
    case TMRVXObjectType::otNumeric:
      return std::make_unique<TMRVXNumericObject>(parent, static_cast<const TMRVXNumericObject*>(obj)->Value);
    case TMRVXObjectType::otString: {
      const auto* s = static_cast<const TMRVXStringObject*>(obj);
      return std::make_unique<TMRVXStringObject>(parent, s->Value, s->IsHexadecimal);
    }
    case TMRVXObjectType::otName:
      return std::make_unique<TMRVXNameObject>(parent, static_cast<const TMRVXNameObject*>(obj)->Value);
    case TMRVXObjectType::otNull: return std::make_unique<TMRVXNullObject>();
    case TMRVXObjectType::otLink: return std::make_unique<TMRVXLink>(static_cast<const TMRVXLink*>(obj)->Value);
    case TMRVXObjectType::otArray: {
      auto arr = std::make_unique<TMRVXArrayObject>(parent);
      for (const auto& item : static_cast<const TMRVXArrayObject*>(obj)->Items)
        arr->AddObject(CloneDirect(item.get(), arr.get()));
      return arr;
    }
    case TMRVXObjectType::otDictionary: {
      auto dict = std::make_unique<TMRVXDictionaryObject>(parent);
      for (const auto& item : static_cast<const TMRVXDictionaryObject*>(obj)->Items)
        dict->AddValue(item.Key, CloneDirect(item.Value.get(), dict.get()));
      return dict;
    }
    case TMRVXObjectType::otStream: {
      // Streams are always indirect in a file; a direct one (made in memory) is copied whole.
      const auto* s = static_cast<const TMRVXStreamObject*>(obj);
      auto copy = std::make_unique<TMRVXStreamObject>(parent);
      for (const auto& item : s->Dictionary->Items)
        copy->Dictionary->AddValue(item.Key, CloneDirect(item.Value.get(), copy->Dictionary.get()));
      copy->Stream = s->Stream;
      return copy;
    }
  }
  return nullptr;
}

}  // namespace

// ---- the reader ----

class TMorvex::Loader {
 public:
  Loader(TMorvex& Doc, std::string_view Data) : D(Doc), S(Data) {}

  int Run();

 private:
  struct XRefItem {
    size_t Offset = 0;
    TMRVXObjectNumber ObjNumber;
    bool Older = false;  // an older revision of an object a newer section holds
    bool Loaded = false;
  };

  // ---- lexing ----
  unsigned char At(size_t i) const { return static_cast<unsigned char>(S[i]); }
  bool AtEnd() const { return P >= S.size(); }
  void SkipWhite() {
    while (P < S.size()) {
      const unsigned char c = At(P);
      if (IsWhite(c)) {
        ++P;
      } else if (c == '%') {  // a comment runs to the end of its line
        while (P < S.size() && At(P) != '\r' && At(P) != '\n') ++P;
      } else {
        break;
      }
    }
  }
  std::string_view RegularToken() {
    const size_t start = P;
    while (P < S.size() && IsRegular(At(P))) ++P;
    return S.substr(start, P - start);
  }
  // The keyword at the position (after blanks), consumed when it is there.
  bool Keyword(std::string_view Word) {
    SkipWhite();
    if (S.size() - std::min(P, S.size()) < Word.size() || S.substr(P, Word.size()) != Word) return false;
    const size_t end = P + Word.size();
    if (end < S.size() && IsRegular(At(end))) return false;
    P = end;
    return true;
  }
  void Expect(std::string_view Word) {
    if (!Keyword(Word)) Bad("unexpected token");
  }
  // A non-negative integer that fits 63 bits.
  int64_t ReadUnsigned() {
    SkipWhite();
    const std::string_view t = RegularToken();
    int64_t v = 0;
    if (t.empty() || t.size() > 18) Bad("number expected");
    for (char c : t) {
      if (!IsDigit(static_cast<unsigned char>(c))) Bad("number expected");
      v = v * 10 + (c - '0');
    }
    return v;
  }
  int32_t ReadObjectNumber() {
    const int64_t v = ReadUnsigned();
    if (v > INT32_MAX) Bad("object number out of range");
    return static_cast<int32_t>(v);
  }

  // ---- objects ----
  std::unique_ptr<TMRVXObject> ParseObject(TMRVXObject* Parent, int Depth);
  std::unique_ptr<TMRVXObject> ParseNumberOrLink(TMRVXObject* Parent);
  std::unique_ptr<TMRVXStringObject> ParseLiteralString(TMRVXObject* Parent);
  std::unique_ptr<TMRVXStringObject> ParseHexString(TMRVXObject* Parent);
  std::string ParseName();
  std::unique_ptr<TMRVXObject> LoadIndirect(XRefItem& Item);
  int64_t StreamLength(TMRVXObject* Length);
  TMRVXObjectNumber ObjectHeaderAt(size_t Offset);

  // ---- structure ----
  size_t FindStartXref();
  void LoadXrefArray();
  void LoadPages(TMRVXDictionaryObject* Catalog);

  TMorvex& D;
  std::string_view S;
  size_t P = 0;
  bool IsLinearized = false;
  std::vector<XRefItem> FXref;
  std::map<std::pair<int32_t, int32_t>, size_t> ByNumber;  // newest entry of each object
  std::map<std::pair<int32_t, int32_t>, TMRVXObject*> Objects;
};

std::unique_ptr<TMRVXObject> TMorvex::Loader::ParseObject(TMRVXObject* Parent, int Depth) {
  if (Depth > kMaxNesting) Bad("nested too deeply");
  SkipWhite();
  if (AtEnd()) Bad("unexpected end of data");
  const unsigned char c = At(P);
  if (c == '/') return std::make_unique<TMRVXNameObject>(Parent, ParseName());
  if (c == '(') return ParseLiteralString(Parent);
  if (c == '<') {
    if (P + 1 < S.size() && At(P + 1) == '<') {
      P += 2;
      auto dict = std::make_unique<TMRVXDictionaryObject>(Parent);
      for (;;) {
        SkipWhite();
        if (AtEnd()) Bad("unterminated dictionary");
        if (At(P) == '>') {
          if (P + 1 >= S.size() || At(P + 1) != '>') Bad("unterminated dictionary");
          P += 2;
          return dict;
        }
        if (At(P) != '/') Bad("dictionary key expected");
        const std::string key = ParseName();
        if (LowerKey(key) == "linearized") IsLinearized = true;
        SkipWhite();
        if (!AtEnd() && At(P) == '>') Bad("dictionary value expected");
        dict->AddValue(key, ParseObject(dict.get(), Depth + 1));
      }
    }
    return ParseHexString(Parent);
  }
  if (c == '[') {
    ++P;
    auto arr = std::make_unique<TMRVXArrayObject>(Parent);
    for (;;) {
      SkipWhite();
      if (AtEnd()) Bad("unterminated array");
      if (At(P) == ']') {
        ++P;
        return arr;
      }
      arr->AddObject(ParseObject(arr.get(), Depth + 1));
    }
  }
  if (IsDigit(c) || c == '+' || c == '-' || c == '.') return ParseNumberOrLink(Parent);
  const std::string_view word = RegularToken();
  if (word == "true" || word == "false") return std::make_unique<TMRVXBooleanObject>(Parent, word == "true");
  if (word == "null") return std::make_unique<TMRVXNullObject>();
  Bad("unexpected token");
}

std::unique_ptr<TMRVXObject> TMorvex::Loader::ParseNumberOrLink(TMRVXObject* Parent) {
  std::string_view t = RegularToken();
  const bool whole = t.find('.') == std::string_view::npos && t.find_first_of("+-") == std::string_view::npos;
  if (whole && !t.empty()) {
    // "n g R" is a reference; look ahead without consuming anything else.
    const size_t save = P;
    SkipWhite();
    if (!AtEnd() && IsDigit(At(P))) {
      const std::string_view g = RegularToken();
      SkipWhite();
      if (!AtEnd() && At(P) == 'R' && (P + 1 >= S.size() || !IsRegular(At(P + 1))) &&
          std::all_of(g.begin(), g.end(), [](char ch) { return IsDigit(static_cast<unsigned char>(ch)); }) &&
          t.size() <= 10 && g.size() <= 10) {
        ++P;
        const int64_t n = std::stoll(std::string(t)), gen = std::stoll(std::string(g));
        if (n > INT32_MAX || gen > INT32_MAX) Bad("object number out of range");
        return std::make_unique<TMRVXLink>(TMRVXObjectNumber{static_cast<int32_t>(n), static_cast<int32_t>(gen)});
      }
    }
    P = save;
  }
  // Numbers: an optional sign, digits with at most one point (".5" and "5." included).
  bool negative = false;
  if (!t.empty() && (t[0] == '+' || t[0] == '-')) {
    negative = t[0] == '-';
    t.remove_prefix(1);
  }
  if (t.empty() || t == "." || std::count(t.begin(), t.end(), '.') > 1 ||
      !std::all_of(t.begin(), t.end(), [](char ch) { return ch == '.' || IsDigit(static_cast<unsigned char>(ch)); }))
    Bad("invalid number");
  double v = 0;
  const std::string text = t[0] == '.' ? "0" + std::string(t) : std::string(t);
  const auto r = std::from_chars(text.data(), text.data() + text.size(), v);
  if (r.ec != std::errc() || !std::isfinite(v)) Bad("invalid number");
  return std::make_unique<TMRVXNumericObject>(Parent, negative ? -v : v);
}

std::unique_ptr<TMRVXStringObject> TMorvex::Loader::ParseLiteralString(TMRVXObject* Parent) {
  ++P;  // "("
  std::string out;
  int depth = 1;
  for (;;) {
    if (AtEnd()) Bad("unterminated string");
    const char c = S[P++];
    if (c == '\\') {
      if (AtEnd()) Bad("unterminated string");
      const char e = S[P++];
      switch (e) {
        case 'n': out.push_back('\n'); break;
        case 'r': out.push_back('\r'); break;
        case 't': out.push_back('\t'); break;
        case 'b': out.push_back('\b'); break;
        case 'f': out.push_back('\f'); break;
        case '\r':  // a line continuation: the backslash and the line end vanish
          if (!AtEnd() && S[P] == '\n') ++P;
          break;
        case '\n': break;
        default:
          if (e >= '0' && e <= '7') {
            int v = e - '0';
            for (int k = 0; k < 2 && !AtEnd() && S[P] >= '0' && S[P] <= '7'; ++k) v = v * 8 + (S[P++] - '0');
            out.push_back(static_cast<char>(v & 0xFF));
          } else {
            out.push_back(e);  // "\(", "\)", "\\" and any other escaped byte stand for themselves
          }
      }
    } else if (c == '(') {
      ++depth;
      out.push_back(c);
    } else if (c == ')') {
      if (--depth == 0) break;
      out.push_back(c);
    } else {
      out.push_back(c);
    }
  }
  return std::make_unique<TMRVXStringObject>(Parent, std::move(out), false);
}

std::unique_ptr<TMRVXStringObject> TMorvex::Loader::ParseHexString(TMRVXObject* Parent) {
  ++P;  // "<"
  std::string digits;
  for (;;) {
    if (AtEnd()) Bad("unterminated string");
    const unsigned char c = At(P++);
    if (c == '>') break;
    if (IsWhite(c)) continue;
    if (HexValue(c) < 0) Bad("invalid hexadecimal string");
    digits.push_back(static_cast<char>(c));
  }
  return std::make_unique<TMRVXStringObject>(Parent, std::move(digits), true);
}

std::string TMorvex::Loader::ParseName() {
  ++P;  // "/"
  std::string out;
  while (P < S.size() && IsRegular(At(P))) {
    const unsigned char c = At(P++);
    // "#xx" stands for one byte; the writer escapes it again the same way.
    if (c == '#' && P + 1 < S.size() && HexValue(At(P)) >= 0 && HexValue(At(P + 1)) >= 0) {
      out.push_back(static_cast<char>(HexValue(At(P)) << 4 | HexValue(At(P + 1))));
      P += 2;
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out;
}

TMRVXObjectNumber TMorvex::Loader::ObjectHeaderAt(size_t Offset) {
  if (Offset >= S.size()) Bad("object offset beyond the end of the file");
  P = Offset;
  TMRVXObjectNumber id;
  id.ObjectNumber = ReadObjectNumber();
  id.GenerationNumber = ReadObjectNumber();
  Expect("obj");
  return id;
}

int64_t TMorvex::Loader::StreamLength(TMRVXObject* Length) {
  if (!Length) Bad("Cannot load stream length");
  if (Length->ObjectType() == TMRVXObjectType::otNumeric) {
    const double v = static_cast<TMRVXNumericObject*>(Length)->Value;
    if (!(v >= 0) || v > static_cast<double>(S.size())) Bad("stream longer than the file");
    return static_cast<int64_t>(std::llround(v));
  }
  if (Length->ObjectType() != TMRVXObjectType::otLink) Bad("Cannot load stream length");
  const TMRVXObjectNumber ref = static_cast<TMRVXLink*>(Length)->Value;
  // Already read as an object of its own (it came first in the table).
  if (const auto obj = Objects.find({ref.ObjectNumber, ref.GenerationNumber}); obj != Objects.end())
    return StreamLength(obj->second->ObjectType() == TMRVXObjectType::otNumeric ? obj->second : nullptr);
  const auto it = ByNumber.find({ref.ObjectNumber, ref.GenerationNumber});
  if (it == ByNumber.end()) Bad("Cannot load stream length");
  XRefItem& item = FXref[it->second];
  const size_t save = P;
  ObjectHeaderAt(item.Offset);
  auto number = ParseObject(nullptr, 0);
  item.Loaded = true;  // the length is kept in the stream's dictionary, not as an object
  P = save;
  return StreamLength(number->ObjectType() == TMRVXObjectType::otNumeric ? number.get() : nullptr);
}

std::unique_ptr<TMRVXObject> TMorvex::Loader::LoadIndirect(XRefItem& Item) {
  ObjectHeaderAt(Item.Offset);
  IsLinearized = false;
  std::unique_ptr<TMRVXObject> obj = ParseObject(nullptr, 0);
  if (auto* dict = AsDictionary(obj.get()); dict && Keyword("stream")) {
    const int64_t length = StreamLength(dict->GetValue("Length"));
    // The data begins after the line end that follows the keyword.
    if (P < S.size() && At(P) == '\r') ++P;
    if (P < S.size() && At(P) == '\n') ++P;
    if (static_cast<uint64_t>(length) > S.size() - std::min(P, S.size())) Bad("stream longer than the file");
    auto stream = std::make_unique<TMRVXStreamObject>(nullptr);
    stream->Dictionary.reset(static_cast<TMRVXDictionaryObject*>(obj.release()));
    stream->Dictionary->FParent = stream.get();
    stream->Dictionary->AddIntegerValue("Length", length);
    stream->Stream.assign(S.substr(P, static_cast<size_t>(length)));
    P += static_cast<size_t>(length);
    obj = std::move(stream);
  } else if (dict && IsLinearized) {
    return nullptr;  // the linearization parameters no longer hold once the file is rewritten
  }
  return obj;
}

size_t TMorvex::Loader::FindStartXref() {
  // The last "%%EOF" of the file; the number on the line before it is the offset of the
  // newest cross-reference section.
  const size_t eof = S.rfind("%%EOF");
  if (eof == std::string_view::npos) Bad("no end-of-file marker");
  size_t end = eof;
  while (end > 0 && IsWhite(At(end - 1))) --end;
  size_t start = end;
  while (start > 0 && At(start - 1) != '\r' && At(start - 1) != '\n') --start;
  const std::string digits = TrimChars(S.substr(start, end - start));
  if (digits.empty() || digits.size() > 15) Bad("no cross-reference offset");
  const size_t offset = std::stoull(digits);
  if (offset >= S.size()) Bad("cross-reference offset beyond the end of the file");
  return offset;
}

void TMorvex::Loader::LoadXrefArray() {
  for (;;) {
    SkipWhite();
    if (AtEnd()) Bad("cross-reference table without trailer");
    if (Keyword("trailer")) return;
    const int64_t first = ReadUnsigned();
    const int64_t count = ReadUnsigned();
    // Every entry takes at least 18 bytes; a count the rest of the file cannot hold is a lie.
    if (count > static_cast<int64_t>((S.size() - P) / 18 + 1)) Bad("cross-reference section too long");
    (void)first;  // each object's number is read at its offset
    for (int64_t i = 0; i < count; ++i) {
      const int64_t offset = ReadUnsigned();
      ReadUnsigned();  // generation
      SkipWhite();
      const std::string_view kind = RegularToken();
      if (kind == "n") {
        if (offset > 0) FXref.push_back({static_cast<size_t>(offset), {}, false, false});
      } else if (kind != "f") {
        Bad("invalid cross-reference entry");
      }
    }
  }
}

void TMorvex::Loader::LoadPages(TMRVXDictionaryObject* Catalog) {
  TMRVXObject* pages_ref = Catalog->GetValue("Pages");
  if (!pages_ref || pages_ref->ObjectType() != TMRVXObjectType::otLink) Bad("Cannot load the pages.");
  TMRVXDictionaryObject* root = AsDictionary(D.GetObjectByLink(static_cast<TMRVXLink*>(pages_ref)));
  if (!root) Bad("Cannot load the pages.");

  if (TMRVXArrayObject* mb = AsArray(D.Resolve(root->GetValue("MediaBox"))); mb && mb->Count() >= 4) {
    bool ok = true;
    float v[4];
    for (size_t i = 0; i < 4; ++i) {
      TMRVXObject* n = D.Resolve(mb->GetIndexedItem(i));
      ok = ok && n && n->ObjectType() == TMRVXObjectType::otNumeric;
      if (ok) v[i] = static_cast<float>(static_cast<TMRVXNumericObject*>(n)->Value);
    }
    if (ok) {
      std::copy(v, v + 4, D.FParentMB);
      D.FIsParented = true;
    }
  }

  // The tree is walked depth first without recursion; every node carries the attributes its
  // pages inherit, nearest ancestor first, and a node met twice is a cycle.
  static constexpr const char* kInherited[] = {"Resources", "MediaBox", "CropBox", "Rotate"};
  struct Frame {
    TMRVXDictionaryObject* Node;
    TMRVXObjectNumber Link;
    const TMRVXObject* Inherited[4];
  };
  std::set<const TMRVXObject*> seen;
  std::vector<Frame> stack{{root, root->ID, {nullptr, nullptr, nullptr, nullptr}}};
  while (!stack.empty()) {
    Frame f = stack.back();
    stack.pop_back();
    if (!seen.insert(f.Node).second) Bad("Cannot load the pages.");
    const TMRVXNameObject* type = AsName(D.Resolve(f.Node->GetValue("Type")));
    TMRVXArrayObject* kids = AsArray(D.Resolve(f.Node->GetValue("Kids")));
    const bool is_node = type ? LowerKey(type->Value).find("pages") != std::string::npos : kids != nullptr;
    if (is_node) {
      f.Node->IsDeleted = true;  // the tree is rebuilt flat
      if (!kids) continue;
      Frame child = f;
      for (size_t i = 0; i < 4; ++i)
        if (const TMRVXObject* v = f.Node->GetValue(kInherited[i])) child.Inherited[i] = v;
      // Pushed in reverse, so that the kids come off the stack in their order.
      for (size_t i = kids->Count(); i-- > 0;) {
        TMRVXObject* kid = kids->GetIndexedItem(i);
        if (kid->ObjectType() != TMRVXObjectType::otLink) Bad("Cannot load the pages.");
        child.Node = AsDictionary(D.GetObjectByLink(static_cast<TMRVXLink*>(kid)));
        if (!child.Node) Bad("Cannot load the pages.");
        child.Link = static_cast<TMRVXLink*>(kid)->Value;
        stack.push_back(child);
      }
      continue;
    }
    for (size_t i = 0; i < 4; ++i) {
      if (!f.Inherited[i] || f.Node->FindValue(kInherited[i]) >= 0) continue;
      f.Node->AddValue(kInherited[i], CloneDirect(f.Inherited[i], f.Node));
    }
    D.FPageArr.push_back({f.Node, f.Link, 0, false});
  }
  D.FPagesCount = static_cast<int>(D.FPageArr.size());
}

int TMorvex::Loader::Run() {
  // Header: the digits after the first "." of the first line give the version.
  const size_t eol = S.find_first_of("\r\n");
  const std::string_view header = S.substr(0, eol == std::string_view::npos ? S.size() : eol);
  const size_t dot = header.find('.');
  const int32_t version = platform::StrToInt(TrimChars(dot == std::string_view::npos ? std::string_view() : header.substr(dot + 1)));
  D.Version = static_cast<TPDFVersType>(std::clamp(version, 0, static_cast<int>(TPDFVersType::pdf110)));

  try {
    // The trailer chain, newest section first. The newest trailer's catalog and information
    // dictionary are the document's; older ones only add the objects of their sections.
    std::set<size_t> sections;
    TMRVXObjectNumber root{-1, 0}, info{-1, 0};
    size_t offset = FindStartXref();
    for (bool newest = true;; newest = false) {
      if (!sections.insert(offset).second) Bad("cycle of cross-reference sections");
      P = offset;
      if (!Keyword("xref")) Bad("no cross-reference table");  // a cross-reference stream
      LoadXrefArray();
      IsLinearized = false;
      std::unique_ptr<TMRVXObject> trailer = ParseObject(nullptr, 0);
      TMRVXDictionaryObject* t = AsDictionary(trailer.get());
      if (!t) Bad("invalid trailer");
      if (t->GetValue("Encrypt")) {
        D.FIsEncrypted = true;
        return 0;
      }
      if (newest) {
        if (auto* r = t->GetValue("Root"); r && r->ObjectType() == TMRVXObjectType::otLink)
          root = static_cast<TMRVXLink*>(r)->Value;
        if (auto* i = t->GetValue("Info"); i && i->ObjectType() == TMRVXObjectType::otLink)
          info = static_cast<TMRVXLink*>(i)->Value;
      }
      TMRVXObject* prev = t->GetValue("Prev");
      if (!prev) break;
      if (prev->ObjectType() != TMRVXObjectType::otNumeric) Bad("invalid previous section");
      const double v = std::nearbyint(static_cast<TMRVXNumericObject*>(prev)->Value);
      if (!(v >= 0) || v >= static_cast<double>(S.size())) Bad("previous section beyond the end of the file");
      offset = static_cast<size_t>(v);
    }

    // Numbering: each object's number is read at its offset; the newest entry of a number
    // keeps it, older revisions are left out.
    for (size_t i = 0; i < FXref.size(); ++i) {
      XRefItem& item = FXref[i];
      item.ObjNumber = ObjectHeaderAt(item.Offset);
      D.FMaxObjNum = std::max(D.FMaxObjNum, item.ObjNumber.ObjectNumber);
      item.Older = !ByNumber.emplace(std::pair{item.ObjNumber.ObjectNumber, item.ObjNumber.GenerationNumber}, i).second;
    }

    for (XRefItem& item : FXref) {
      if (item.Older || item.Loaded) continue;
      item.Loaded = true;
      std::unique_ptr<TMRVXObject> obj = LoadIndirect(item);
      if (!obj) continue;
      obj->IsIndirect = true;
      obj->ID = item.ObjNumber;
      Objects[{obj->ID.ObjectNumber, obj->ID.GenerationNumber}] = obj.get();
      D.FIndirectObjects.push_back(std::move(obj));
    }
    const auto position = [this](const TMRVXObjectNumber& id) {
      for (size_t i = 0; i < D.FIndirectObjects.size(); ++i)
        if (CompareObjectID(D.FIndirectObjects[i]->ID, id) == 0) return static_cast<int>(i);
      return -1;
    };
    D.FRootIndex = position(root);
    TMRVXDictionaryObject* catalog = D.Catalog();
    if (!catalog) Bad("no catalog");
    D.FRootLink = root;
    D.FInfoIndex = position(info);
    if (D.FInfoIndex >= 0 && !D.InfoDictionary()) D.FInfoIndex = -1;
    if (D.FInfoIndex >= 0) D.FInfoLink = info;

    LoadPages(catalog);

    // A new flat page tree; EndDoc lists the pages in it.
    TMRVXDictionaryObject* pages = D.CreateIndirectDictionary();
    D.FPagesIndex = static_cast<int>(D.FIndirectObjects.size()) - 1;
    D.FPageslink = pages->ID;
    pages->AddNameValue("Type", "Pages");
    pages->AddIntegerValue("Count", D.FPagesCount);
    pages->AddArray("Kids");
    for (const TMRVXDictArrItem& item : D.FPageArr) item.PageObj->ReplaceValue("Parent", std::make_unique<TMRVXLink>(pages->ID));
    catalog->ReplaceValue("Pages", std::make_unique<TMRVXLink>(pages->ID));
    return D.FPagesCount;
  } catch (const std::exception&) {
    throw EMRVXError("The file is damaged.");
  }
}

// ---- TMorvex: loading ----

int TMorvex::LoadFromFile(const std::string& AFileName) { return LoadFromStream(ReadWholeFile(AFileName)); }

int TMorvex::LoadFromStream(std::string_view DocStream) {
  if (FDocStarted || FIsLoaded || !FIndirectObjects.empty())
    throw EMRVXError("Please load the document before using BeginDoc.");
  FMaxObjNum = 0;
  FIsLoaded = true;
  try {
    return Loader(*this, DocStream).Run();
  } catch (...) {
    // A file that could not be read leaves the document as new.
    FIndirectObjects.clear();
    FPageArr.clear();
    FPagesCount = 0;
    FMaxObjNum = 0;
    FRootIndex = FInfoIndex = FPagesIndex = -1;
    FIsLoaded = false;
    FIsEncrypted = false;
    FIsParented = false;
    FParentMB[0] = 0;
    FParentMB[1] = 0;
    FParentMB[2] = 595;
    FParentMB[3] = 842;
    throw;
  }
}

void TMorvex::BeginLoadedDoc() {
  if (FIsEncrypted) return;  // nothing was loaded, nothing can be drawn
  if (FPagesCount > 0) SetCurrentPageNum(0);
  if (ActivateProtection) EnableEncrypt();
  TMRVXDictionaryObject* info = InfoDictionary();
  if (!info) {
    info = CreateIndirectDictionary();
    FInfoIndex = static_cast<int>(FIndirectObjects.size()) - 1;
    FInfoLink = info->ID;
  }
  WriteInfoEntries(info, kCreator);
}

// ---- reading streams back ----

std::string TMorvex::DecodedStream(const TMRVXStreamObject& Stream) const {
  std::vector<std::string> filters;
  TMRVXObject* filter = Resolve(Stream.Dictionary->GetValue("Filter"));
  if (TMRVXArrayObject* arr = AsArray(filter)) {
    for (const auto& item : arr->Items) {
      const TMRVXNameObject* n = AsName(Resolve(item.get()));
      if (!n) throw EMRVXError("Invalid stream filter.");
      filters.push_back(n->Value);
    }
  } else if (const TMRVXNameObject* n = AsName(filter)) {
    filters.push_back(n->Value);
  } else if (filter && filter->ObjectType() != TMRVXObjectType::otNull) {
    throw EMRVXError("Invalid stream filter.");
  }
  // Decode parameters (predictors, fax settings) are not applied: a stream that has any is
  // refused rather than read wrongly.
  TMRVXObject* parms = Resolve(Stream.Dictionary->GetValue("DecodeParms"));
  bool plain = !parms || parms->ObjectType() == TMRVXObjectType::otNull;
  if (TMRVXArrayObject* arr = AsArray(parms)) {
    plain = std::all_of(arr->Items.begin(), arr->Items.end(),
                        [](const auto& p) { return p->ObjectType() == TMRVXObjectType::otNull; });
  }
  std::string data = Stream.Stream;
  for (const std::string& name : filters) {
    static const char* const kKnown[] = {"FlateDecode", "ASCIIHexDecode", "ASCII85Decode", "RunLengthDecode"};
    if (!plain || std::find(std::begin(kKnown), std::end(kKnown), name) == std::end(kKnown))
      throw EMRVXError("Unsupported stream filter: " + name + ".");
    std::string out;
    LoadUnFlateLZW(data, out, name);
    data = std::move(out);
  }
  return data;
}

bool TMorvex::IsHaveSimpleText() const {
  const auto decode = [this](const TMRVXStreamObject& s) {
    std::string data = s.Stream;
    TMRVXObject* filter = Resolve(s.Dictionary->GetValue("Filter"));
    std::vector<std::string> names;
    if (const TMRVXNameObject* n = AsName(filter)) names.push_back(n->Value);
    if (TMRVXArrayObject* arr = AsArray(filter))
      for (const auto& item : arr->Items)
        if (const TMRVXNameObject* n = AsName(Resolve(item.get()))) names.push_back(n->Value);
    for (const std::string& name : names) {
      std::string out;
      LoadUnFlateLZW(data, out, name);
      data = std::move(out);
    }
    return data;
  };
  const auto has_text = [](const std::string& content) {
    size_t start = 0;
    while (start < content.size()) {
      size_t end = content.find_first_of("\r\n", start);
      if (end == std::string::npos) end = content.size();
      std::string_view line(content.data() + start, end - start);
      start = end + 1;
      if (line.find("Tj") == std::string_view::npos) continue;
      while (!line.empty() && static_cast<unsigned char>(line.front()) <= ' ') line.remove_prefix(1);
      if (line.starts_with("<")) return true;
      if (line.starts_with("(") && line.size() > 1 && line[1] != ')' && static_cast<unsigned char>(line[1]) > ' ')
        return true;
    }
    return false;
  };
  for (const TMRVXDictArrItem& item : FPageArr) {
    if (item.PageObj->IsDeleted) continue;
    TMRVXObject* contents = Resolve(item.PageObj->GetValue("Contents"));
    std::vector<const TMRVXStreamObject*> streams;
    if (const TMRVXStreamObject* s = AsStream(contents)) streams.push_back(s);
    if (TMRVXArrayObject* arr = AsArray(contents))
      for (const auto& e : arr->Items)
        if (const TMRVXStreamObject* s = AsStream(Resolve(e.get()))) streams.push_back(s);
    for (const TMRVXStreamObject* s : streams)
      if (has_text(decode(*s))) return true;
  }
  return false;
}

// ---- copying between documents ----

namespace {
bool IsPageDictionary(const TMorvex& Doc, const TMRVXObject* Obj) {
  if (!Obj || Obj->ObjectType() != TMRVXObjectType::otDictionary) return false;
  const TMRVXNameObject* type = AsName(Doc.Resolve(static_cast<const TMRVXDictionaryObject*>(Obj)->GetValue("Type")));
  return type && LowerKey(type->Value) == "page";
}
}  // namespace

TMRVXObject* TMorvex::CopyIndirect(const TMorvex& SourceDoc, const TMRVXObject* Obj,
                                   std::vector<std::pair<const TMRVXObject*, TMRVXObject*>>& Pending) {
  const auto key = std::pair{Obj->ID.ObjectNumber, Obj->ID.GenerationNumber};
  if (const auto it = CSArray.find(key); it != CSArray.end()) return it->second;
  if (IsPageDictionary(SourceDoc, Obj)) return nullptr;  // other pages are not taken along
  std::unique_ptr<TMRVXObject> shell;
  switch (Obj->ObjectType()) {
    case TMRVXObjectType::otArray: shell = std::make_unique<TMRVXArrayObject>(nullptr); break;
    case TMRVXObjectType::otDictionary: shell = std::make_unique<TMRVXDictionaryObject>(nullptr); break;
    case TMRVXObjectType::otStream: shell = std::make_unique<TMRVXStreamObject>(nullptr); break;
    default: shell = CloneDirect(Obj, nullptr); break;
  }
  TMRVXObject* copy = AddIndirectObject(std::move(shell));
  // Logged before its contents are copied, so that a reference back to it ends here.
  CSArray[key] = copy;
  Pending.emplace_back(Obj, copy);
  return copy;
}

std::unique_ptr<TMRVXObject> TMorvex::CopyDirect(const TMorvex& SourceDoc, const TMRVXObject* Obj, TMRVXObject* Parent,
                                                 std::vector<std::pair<const TMRVXObject*, TMRVXObject*>>& Pending) {
  if (!Obj) return nullptr;
  const TMRVXObject* target = Obj;
  if (Obj->ObjectType() == TMRVXObjectType::otLink) {
    target = SourceDoc.GetObjectByLink(static_cast<const TMRVXLink*>(Obj));
    if (!target) return std::make_unique<TMRVXNullObject>();  // it named nothing there either
  }
  if (target->IsIndirect) {
    TMRVXObject* copy = CopyIndirect(SourceDoc, target, Pending);
    return copy ? std::make_unique<TMRVXLink>(copy->ID) : nullptr;
  }
  switch (target->ObjectType()) {
    case TMRVXObjectType::otArray: {
      auto arr = std::make_unique<TMRVXArrayObject>(Parent);
      FillCopy(SourceDoc, target, arr.get(), Pending);
      return arr;
    }
    case TMRVXObjectType::otDictionary: {
      if (IsPageDictionary(SourceDoc, target)) return nullptr;
      auto dict = std::make_unique<TMRVXDictionaryObject>(Parent);
      FillCopy(SourceDoc, target, dict.get(), Pending);
      return dict;
    }
    case TMRVXObjectType::otStream: {
      auto stream = std::make_unique<TMRVXStreamObject>(Parent);
      FillCopy(SourceDoc, target, stream.get(), Pending);
      return stream;
    }
    default: return CloneDirect(target, Parent);
  }
}

void TMorvex::FillCopy(const TMorvex& SourceDoc, const TMRVXObject* From, TMRVXObject* To,
                       std::vector<std::pair<const TMRVXObject*, TMRVXObject*>>& Pending) {
  const auto fill_dict = [&](const TMRVXDictionaryObject* from, TMRVXDictionaryObject* to) {
    for (const TMRVXDictionaryItem& item : from->Items) {
      if (item.Key == "B") continue;  // article beads belong to the source's threads
      to->AddValue(item.Key, CopyDirect(SourceDoc, item.Value.get(), to, Pending));
    }
  };
  switch (From->ObjectType()) {
    case TMRVXObjectType::otArray:
      for (const auto& item : static_cast<const TMRVXArrayObject*>(From)->Items)
        static_cast<TMRVXArrayObject*>(To)->AddObject(CopyDirect(SourceDoc, item.get(), To, Pending));
      break;
    case TMRVXObjectType::otDictionary:
      fill_dict(static_cast<const TMRVXDictionaryObject*>(From), static_cast<TMRVXDictionaryObject*>(To));
      break;
    case TMRVXObjectType::otStream: {
      const auto* from = static_cast<const TMRVXStreamObject*>(From);
      auto* to = static_cast<TMRVXStreamObject*>(To);
      fill_dict(from->Dictionary.get(), to->Dictionary.get());
      to->Stream = from->Stream;
      break;
    }
    default: break;
  }
}

TMRVXObject* TMorvex::CopyObject(const TMorvex& SourceDoc, const TMRVXObject* Obj) {
  if (!Obj) return nullptr;
  CheckNotEnded();
  CSArray.clear();
  std::vector<std::pair<const TMRVXObject*, TMRVXObject*>> pending;
  const TMRVXObject* target = SourceDoc.Resolve(const_cast<TMRVXObject*>(Obj));
  if (!target) return nullptr;
  TMRVXObject* result = nullptr;
  if (target->IsIndirect) {
    result = CopyIndirect(SourceDoc, target, pending);
  } else {
    // A direct object has no place of its own here: it becomes an indirect one.
    std::unique_ptr<TMRVXObject> copy = CopyDirect(SourceDoc, target, nullptr, pending);
    if (copy) result = AddIndirectObject(std::move(copy));
  }
  // The work list instead of recursion: a long chain of references cannot exhaust the stack.
  while (!pending.empty()) {
    const auto [from, to] = pending.back();
    pending.pop_back();
    FillCopy(SourceDoc, from, to, pending);
  }
  CSArray.clear();
  return result;
}

void TMorvex::CopyPageFromDocument(const TMorvex& SourceDoc, int SourceIndex, int DestIndex) {
  CheckNotEnded();
  if (SourceIndex < 0 || SourceIndex >= SourceDoc.FPagesCount) throw EMRVXError("Invalid source page number");
  if (DestIndex < 0 || DestIndex > FPagesCount) throw EMRVXError("Invalid destination page number");
  TMRVXDictionaryObject* tree = PagesRoot();
  if (!tree || !FDocStarted) throw EMRVXError("The document has not been started.");
  const TMRVXDictionaryObject* source = SourceDoc.FPageArr[static_cast<size_t>(SourceIndex)].PageObj;

  TMRVXDictionaryObject* page = CreateIndirectDictionary();
  CSArray.clear();
  CSArray[{source->ID.ObjectNumber, source->ID.GenerationNumber}] = page;
  std::vector<std::pair<const TMRVXObject*, TMRVXObject*>> pending;
  try {
    for (const TMRVXDictionaryItem& item : source->Items) {
      if (item.Key == "Parent" || item.Key == "B") continue;
      page->AddValue(item.Key, CopyDirect(SourceDoc, item.Value.get(), page, pending));
    }
    while (!pending.empty()) {
      const auto [from, to] = pending.back();
      pending.pop_back();
      FillCopy(SourceDoc, from, to, pending);
    }
  } catch (...) {
    CSArray.clear();
    throw;
  }
  CSArray.clear();

  page->ReplaceValue("Parent", std::make_unique<TMRVXLink>(tree->ID));
  ++FPagesCount;
  if (tree->FindValue("Count") >= 0) tree->AddIntegerValue("Count", FPagesCount);
  FPageArr.insert(FPageArr.begin() + DestIndex, TMRVXDictArrItem{page, page->ID, 0, false});
  FCurrentPageNum = -1;
  SetCurrentPageNum(DestIndex);
}

}  // namespace pdfwriter
