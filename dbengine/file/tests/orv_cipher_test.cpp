#include "dbengine/file/orv_cipher.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>

#include "dbengine/file/tests/cipher_test_util.h"

namespace orv {
namespace {

using testing::Bytes;
using testing::Hex;

// Keys the cipher with raw key bytes and returns the encoding of one block, checking that the
// decoding gives the block back.
std::string EncodeBlock(TCipher& cipher, const std::string& key_hex, const std::string& block_hex) {
  const std::string key = Bytes(key_hex);
  std::string block = Bytes(block_hex);
  cipher.Init(key.data(), static_cast<int>(key.size()), nullptr);
  cipher.Encode(block.data());
  const std::string result = Hex(block);
  cipher.Decode(block.data());
  EXPECT_EQ(Hex(block), Hex(Bytes(block_hex))) << key_hex;
  return result;
}

struct KnownAnswer {
  const char* key;
  const char* plain;
  const char* cipher;
};

void ExpectKnownAnswers(TCipher& cipher, std::initializer_list<KnownAnswer> cases) {
  for (const KnownAnswer& c : cases) EXPECT_EQ(EncodeBlock(cipher, c.key, c.plain), c.cipher) << c.key << " " << c.plain;
}

// The published schedules, reachable only here, so that what the engine's two modified
// schedules share with the published algorithms is checked against published vectors.
struct PublishedRijndael : TCipher_Rijndael {
  void Init(const void* Key, int Size, const void* IVector) override {
    InitBegin(Size);
    SetupKey(Key, Size, true);
    InitEnd(IVector);
  }
};

struct PublishedTwofish : TCipher_Twofish {
  void Init(const void* Key, int Size, const void* IVector) override {
    InitBegin(Size);
    SetupKey(Key, Size, true);
    InitEnd(IVector);
  }
};

// ---------------------------------------------------------------------------------------
// Block ciphers against published vectors.

TEST(TCipher_Rijndael, AesVectorsForKeysUpTo24Bytes) {
  TCipher_Rijndael cipher;
  ExpectKnownAnswers(cipher,
                     {// FIPS-197 C.1 and C.2
                      {"000102030405060708090A0B0C0D0E0F", "00112233445566778899AABBCCDDEEFF",
                       "69C4E0D86A7B0430D8CDB78070B4C55A"},
                      {"000102030405060708090A0B0C0D0E0F1011121314151617", "00112233445566778899AABBCCDDEEFF",
                       "DDA97CA4864CDFE06EAF70A0EC0D7191"},
                      // the Rijndael submission's known answers
                      {"000102030405060708090A0B0C0D0E0F", "000102030405060708090A0B0C0D0E0F",
                       "0A940BB5416EF045F1C39458C653EA5A"},
                      {"00010203050607080A0B0C0D0F101112", "506812A45F08C889B97F5980038B8359",
                       "D8F532538289EF7D06B506A4FD5BE9C9"},
                      {"28292A2B2D2E2F30323334353738393A", "53F3F4C64F8616E4E7C56199F48F21F6",
                       "BF1ED2FCB2AF3FD41443B56D85025CB1"},
                      {"00010203050607080A0B0C0D0F10111214151617191A1B1C", "2D33EEF2C0430A8A9EBF45E809C40BB6",
                       "DFF4945E0336DF4C1C56BC700EFF837F"},
                      {"3C3D3E3F41424344464748494B4C4D4E5051525355565758", "BC3736518B9490DCB8ED60EB26758ED4",
                       "D23684E3D963B3AFCF1A114ACA90CBD6"}});
  EXPECT_EQ(cipher.Rounds(), 12);
  // Short keys are padded with zero bytes: 5 bytes act as 16, 20 bytes as 24.
  EXPECT_EQ(EncodeBlock(cipher, "0001020304", "00112233445566778899AABBCCDDEEFF"),
            EncodeBlock(cipher, "00010203040000000000000000000000", "00112233445566778899AABBCCDDEEFF"));
  EXPECT_EQ(cipher.Rounds(), 10);
}

TEST(TCipher_Rijndael, ThirtyTwoByteKeysUseTheEnginesOwnExpansion) {
  const std::string key = "000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F";
  const std::string plain = "00112233445566778899AABBCCDDEEFF";
  PublishedRijndael published;
  EXPECT_EQ(EncodeBlock(published, key, plain), "8EA2B7CA516745BFEAFC49904B496089");  // FIPS-197 C.3
  EXPECT_EQ(EncodeBlock(published, "00010203050607080A0B0C0D0F10111214151617191A1B1C1E1F202123242526",
                        "834EADFCCAC7E1B30664B1ABA44815AB"),
            "1946DABF6A03A2A2C3D0B05080AED6FC");

  TCipher_Rijndael cipher;
  // Not AES-256: the expected values come from an independent implementation of the
  // modified expansion, whose first new group was checked by hand against its definition.
  EXPECT_EQ(EncodeBlock(cipher, key, plain), "7DB8CA4EBC1555CD9B4E8C321B572299");
  EXPECT_EQ(cipher.Rounds(), 14);
  EXPECT_EQ(Hex(cipher.User() + 32, 32), "A573C29FA176C498A97FCE93A572C09CB32368511255ACC9AB3A724A0E48B2D6");
  EXPECT_EQ(Hex(cipher.User() + 224, 16), "19E71FCC6AC246992A40CB8C28D3BB06");
  EXPECT_EQ(EncodeBlock(cipher, "00010203050607080A0B0C0D0F10111214151617191A1B1C1E1F202123242526",
                        "834EADFCCAC7E1B30664B1ABA44815AB"),
            "8745A8CA78B0DCA8802E52683F973877");
  // 25 to 31 key bytes act as the key padded with zero bytes to 32.
  EXPECT_EQ(EncodeBlock(cipher, key.substr(0, 56), plain), EncodeBlock(cipher, key.substr(0, 56) + "00000000", plain));
}

TEST(TCipher_Blowfish, PublishedVariableKeyAndSetKeyVectors) {
  TCipher_Blowfish cipher;
  ExpectKnownAnswers(cipher, {{"0000000000000000", "0000000000000000", "4EF997456198DD78"},
                              {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A"},
                              {"3000000000000000", "1000000000000001", "7D856F9A613063F2"},
                              {"1111111111111111", "1111111111111111", "2466DD878B963C9D"},
                              {"0123456789ABCDEF", "1111111111111111", "61F9C3802281B096"},
                              {"1111111111111111", "0123456789ABCDEF", "7D0CC630AFDA1EC7"},
                              {"FEDCBA9876543210", "0123456789ABCDEF", "0ACEAB0FC6A0A28D"},
                              {"7CA110454A1A6E57", "01A1D6D039776742", "59C68245EB05282B"},
                              {"0131D9619DC1376E", "5CD54CA83DEF57DA", "B1B8CC0B250F09A0"},
                              {"07A1133E4A0B2686", "0248D43806F67172", "1730E5778BEA1DA4"},
                              {"3849674C2602319E", "51454B582DDF440A", "A25E7856CF2651EB"},
                              {"04B915BA43FEB5B6", "42FD443059577FA2", "353882B109CE8F1A"},
                              {"0113B970FD34F2CE", "059B5E0851CF143A", "48F4D0884C379918"},
                              {"0170F175468FB5E6", "0756D8E0774761D2", "432193B78951FC98"},
                              {"43297FAD38E373FE", "762514B829BF486A", "13F04154D69D1AE5"},
                              {"07A7137045DA2A16", "3BDD119049372802", "2EEDDA93FFD39C79"},
                              {"04689104C2FD3B2F", "26955F6835AF609A", "D887E0393C2DA6E3"},
                              {"37D06BB516CB7546", "164D5E404F275232", "5F99D04F5B163969"},
                              {"1F08260D1AC2465E", "6B056E18759F5CCA", "4A057A3B24D3977B"},
                              {"584023641ABA6176", "004BD6EF09176062", "452031C1E4FADA8E"},
                              {"025816164629B007", "480D39006EE762F2", "7555AE39F59B87BD"},
                              {"49793EBC79B3258F", "437540C8698F3CFA", "53C55F9CB49FC019"},
                              {"4FB05E1515AB73A7", "072D43A077075292", "7A8E7BFA937E89A3"},
                              {"49E95D6D4CA229BF", "02FE55778117F12A", "CF9C5D7A4986ADB5"},
                              {"018310DC409B26D6", "1D9D5C5018F728C2", "D1ABB290658BC778"},
                              {"1C587F1C13924FEF", "305532286D6F295A", "55CB3774D13EF201"},
                              {"0101010101010101", "0123456789ABCDEF", "FA34EC4847B268B2"},
                              {"1F1F1F1F0E0E0E0E", "0123456789ABCDEF", "A790795108EA3CAE"},
                              {"E0FEE0FEF1FEF1FE", "0123456789ABCDEF", "C39E072D9FAC631D"},
                              {"0000000000000000", "FFFFFFFFFFFFFFFF", "014933E0CDAFF6E4"},
                              {"FFFFFFFFFFFFFFFF", "0000000000000000", "F21E9A77B71C49BC"},
                              {"0123456789ABCDEF", "0000000000000000", "245946885754369A"},
                              {"FEDCBA9876543210", "FFFFFFFFFFFFFFFF", "6B5C5A9C5D9E0A5A"}});
  // Keys of 1 to 24 bytes taken from one key stream, on one block.
  const char* set_key[] = {"F9AD597C49DB005E", "E91D21C1D961A6D6", "E9C2B70A1BC65CF3", "BE1E639408640F05",
                           "B39E44481BDB1E6E", "9457AA83B1928C0D", "8BB77032F960629D", "E87A244E2CC85E82",
                           "15750E7A4F4EC577", "122BA70B3AB64AE0", "3A833C9AFFC537F6", "9409DA87A90F6BF2",
                           "884F80625060B8B4", "1F85031C19E11968", "79D9373A714CA34F", "93142887EE3BE15C",
                           "03429E838CE2D14B", "A4299E27469FF67B", "AFD5AED1C1BC96A8", "10851C0E3858DA9F",
                           "E6F51ED79B9DB21F", "64A6E14AFD36B46F", "80C7D7D45A5479AD", "05044B62FA52D080"};
  const std::string stream = "F0E1D2C3B4A5968778695A4B3C2D1E0F0011223344556677";
  for (size_t length = 1; length <= 24; ++length)
    EXPECT_EQ(EncodeBlock(cipher, stream.substr(0, 2 * length), "FEDCBA9876543210"), set_key[length - 1]) << length;
}

TEST(TCipher_1DES, PublishedVectors) {
  TCipher_1DES cipher;
  ExpectKnownAnswers(cipher, {{"133457799BBCDFF1", "0123456789ABCDEF", "85E813540F0AB405"},
                              // NBS validation set: initial permutation, key permutation, S-boxes
                              {"0101010101010101", "95F8A5E5DD31D900", "8000000000000000"},
                              {"0101010101010101", "DD7F121CA5015619", "4000000000000000"},
                              {"0101010101010101", "2E8653104F3834EA", "2000000000000000"},
                              {"0101010101800101", "0000000000000000", "8638809E878787A0"},
                              {"0101010101400101", "0000000000000000", "41B9A79AF79AC208"},
                              {"7CA110454A1A6E57", "01A1D6D039776742", "690F5B0D9A26939B"},
                              {"0131D9619DC1376E", "5CD54CA83DEF57DA", "7A389D10354BD271"},
                              {"07A1133E4A0B2686", "0248D43806F67172", "868EBB51CAB4599A"},
                              {"FEDCBA9876543210", "0123456789ABCDEF", "ED39D950FA74BCC4"}});
  // Only the first 8 key bytes count; a shorter key is padded with zero bytes.
  EXPECT_EQ(EncodeBlock(cipher, "133457799BBCDFF1AABB", "0123456789ABCDEF"), "85E813540F0AB405");
  EXPECT_EQ(EncodeBlock(cipher, "1334", "0123456789ABCDEF"),
            EncodeBlock(cipher, "1334000000000000", "0123456789ABCDEF"));
}

TEST(TCipher_3DES, ThreeKeyEncryptDecryptEncrypt) {
  TCipher_3DES cipher;
  EXPECT_EQ(EncodeBlock(cipher, "0123456789ABCDEFFEDCBA987654321089ABCDEF01234567", "0123456789ABCDE7"),
            "DE0B7C06AE5E0ED5");
  // A 16-byte key leaves K3 zero: openssl des-ede3 with K3 = 0000000000000000, not the
  // two-key variant (which gives 7F1D0A77826B8AFF).
  EXPECT_EQ(EncodeBlock(cipher, "0123456789ABCDEFFEDCBA9876543210", "0123456789ABCDE7"), "0F34CA98083AA8BF");
}

TEST(TCipher_3TDES, StagesExchangeOnlyTheMiddleBytes) {
  const std::string key = Bytes("0123456789ABCDEFFEDCBA987654321089ABCDEF01234567");
  TCipher_3TDES wide;
  TCipher_3DES narrow;
  wide.Init(key.data(), 24, nullptr);
  narrow.Init(key.data(), 24, nullptr);
  std::string block = Bytes("00112233445566778899AABBCCDDEEFF0123456789ABCDE7");
  std::string tail = block.substr(16);
  const std::string original = block;
  wide.Encode(block.data());
  narrow.Encode(tail.data());
  EXPECT_EQ(block.substr(16), tail);  // bytes 16-23 never move between stages

  // Bytes 0-15 depend on each other: changing byte 0 changes bytes 8-15 as well.
  std::string other = original;
  other[0] = static_cast<char>(other[0] ^ 1);
  wide.Encode(other.data());
  EXPECT_NE(other.substr(8, 8), block.substr(8, 8));

  wide.Decode(block.data());
  EXPECT_EQ(block, original);
}

TEST(TCipher_Twofish, EnginesOddSubkeysDifferFromThePublishedCipher) {
  const std::initializer_list<KnownAnswer> published_vectors = {
      {"00000000000000000000000000000000", "00000000000000000000000000000000", "9F589F5CF6122C32B6BFEC2F2AE8C35A"},
      {"00000000000000000000000000000000", "9F589F5CF6122C32B6BFEC2F2AE8C35A", "D491DB16E7B1C39E86CB086B789F5419"},
      {"9F589F5CF6122C32B6BFEC2F2AE8C35A", "D491DB16E7B1C39E86CB086B789F5419", "019F9809DE1711858FAAC3A3BA20FBC3"},
      {"000000000000000000000000000000000000000000000000", "00000000000000000000000000000000",
       "EFA71F788965BD4453F860178FC19101"},
      {"EFA71F788965BD4453F860178FC191010000000000000000", "88B2B2706B105E36B446BB6D731A1E88",
       "39DA69D6BA4997D585B6DC073CA341B2"},
      {"0000000000000000000000000000000000000000000000000000000000000000", "00000000000000000000000000000000",
       "57FF739D4DC92C1BD7FC01700CC8216F"},
      {"D43BB7556EA32E46F2A282B7D45B4E0D57FF739D4DC92C1BD7FC01700CC8216F", "90AFE91BB288544F2C32DC239B2635E6",
       "6CB4561C40BF0A9705931CB6D408E7FA"}};
  PublishedTwofish published;
  ExpectKnownAnswers(published, published_vectors);

  // The engine's cipher: values from an independent implementation of the modified rule
  // K(2i+1) = ROL(A + (B >> 1), 9), which reproduces the published vectors with 2B instead.
  TCipher_Twofish cipher;
  ExpectKnownAnswers(cipher, {{"00000000000000000000000000000000", "00000000000000000000000000000000",
                               "9CCCA731B3D900D85D912173155BA26D"},
                              {"0123456789ABCDEFFEDCBA98765432100011223344556677", "00000000000000000000000000000000",
                               "57C6FFA7777F7C6D16BA4425932D3121"},
                              {"0123456789ABCDEFFEDCBA987654321000112233445566778899AABBCCDDEEFF",
                               "00000000000000000000000000000000", "DB827BAEB3815CD13D95F2EE56975ABB"}});
  EncodeBlock(cipher, "0123456789ABCDEFFEDCBA987654321000112233445566778899AABBCCDDEEFF", std::string(32, '0'));
  const uint32_t* subkeys = reinterpret_cast<const uint32_t*>(cipher.User());
  EXPECT_EQ(subkeys[0], 0x5EC769BFu);
  EXPECT_EQ(subkeys[1], 0x33D49FECu);
  EXPECT_EQ(subkeys[2], 0x76CD39B1u);
  EXPECT_EQ(subkeys[3], 0x5C72902Au);
  for (const KnownAnswer& v : published_vectors) EXPECT_NE(EncodeBlock(cipher, v.key, v.plain), v.cipher);
  // Key lengths round up with zero bytes: 10 bytes act as 16, 17 as 24.
  EXPECT_EQ(EncodeBlock(cipher, "00112233445566778899", std::string(32, '1')),
            EncodeBlock(cipher, "00112233445566778899000000000000", std::string(32, '1')));
  EXPECT_EQ(EncodeBlock(cipher, "0011223344556677889900112233445566", std::string(32, '1')),
            EncodeBlock(cipher, "001122334455667788990011223344556600000000000000", std::string(32, '1')));
}

TEST(TCipher_Square, PublishedValidationData) {
  TCipher_Square cipher;
  ExpectKnownAnswers(cipher, {{"00000000000000000000000000000000", "00000000000000000000000000000000",
                               "3C00428F8ABBC0B84F057CC19C26F8CF"},
                              {"000102030405060708090A0B0C0D0E0F", "00000000000000000000000000000000",
                               "FF596FA668BFC3014200AE01E2BBA0A0"},
                              {"000102030405060708090A0B0C0D0E0F", "000102030405060708090A0B0C0D0E0F",
                               "7C3491D94994E70F0EC2E7A5CCB5A14F"},
                              {"000102030405060708090A0B0C0D0E0F", "C76C696289898137077A4A59FAEEEA4D",
                               "88C6FF4B92604C6E66656B02DDAF9F40"},
                              {"915F4619BE41B2516355A50110A9CE91", "21A5DBEE154B8F6D6FF33B98F448E95A",
                               "3388801F66E7FCC0BCE522A23A4F0C7F"},
                              {"783348E75AEB0F2FD7B169BB8DC16787", "F7C013AC5B2B8952E5E554ABE9CED2D2",
                               "A1C0E9215141343DEC2B556942C92BDE"},
                              {"DC49DB1375A5584F6485B413B5F12BAF", "2F42B3B70369FC929AE068313F343A7A",
                               "3FBE6811B998CDF3E50ABDE2F3C075E3"},
                              {"5269F149D41BA0152497574D7F153125", "65C178B284D197CCD3F111A282F17F29",
                               "D7B7209E0879744C782809B6D2E0B1B0"}});
}

// ---------------------------------------------------------------------------------------
// The framework: keying, modes and errors.

std::unique_ptr<TCipher> Keyed(const TCipherClass& cls, TCipherMode mode, const std::string& key = "key") {
  auto cipher = cls.Create();
  cipher->Init(key.data(), static_cast<int>(key.size()), nullptr);
  cipher->SetMode(mode);
  return cipher;
}

const TCipherClass* const kAllCiphers[] = {&TCipher_Rijndael::Class(), &TCipher_Blowfish::Class(),
                                           &TCipher_1DES::Class(),     &TCipher_3DES::Class(),
                                           &TCipher_3TDES::Class(),    &TCipher_Twofish::Class(),
                                           &TCipher_Square::Class()};

TEST(TCipher, ChainingModesMatchOpensslWhereTheyArePublishedModes) {
  const std::string key = Bytes("2B7E151628AED2A6ABF7158809CF4F3C");
  const std::string iv = Bytes("000102030405060708090A0B0C0D0E0F");
  TCipher_Rijndael cipher;
  cipher.SetMode(cmCBC);
  cipher.Init(key.data(), 16, iv.data());
  std::string data = Bytes("00112233445566778899AABBCCDDEEFF000102030405060708090A0B0C0D0E0F");
  cipher.EncodeBuffer(data.data(), data.data(), 32);
  EXPECT_EQ(Hex(data), "B577ED00E35432951E2F6E82CBE27177777B9CDD2C81634FD972027352149321");  // aes-128-cbc

  cipher.SetMode(cmCFB);  // one byte per step: openssl aes-128-cfb8
  cipher.Init(key.data(), 16, iv.data());
  std::string text = Bytes("6BC1BEE22E409F96E93D7E117393172AAE2D");
  std::string out(text.size(), '\0');
  cipher.EncodeBuffer(text.data(), out.data(), static_cast<int>(text.size()));
  EXPECT_EQ(Hex(out), "3B79424C9C0DD436BACE9E0ED4586A4F32B9");
  EXPECT_EQ(Hex(text), "6BC1BEE22E409F96E93D7E117393172AAE2D");  // the source is left alone
}

TEST(TCipher, EveryModeOfEveryCipherRoundTripsInPlaceAndIntoAnotherBuffer) {
  std::string plain;
  for (int i = 0; i < 4056; ++i) plain += static_cast<char>(i * 31 + 7);
  for (const TCipherClass* cls : kAllCiphers)
    for (TCipherMode mode : {cmCTS, cmCBC, cmCFB, cmOFB, cmECB}) {
      auto cipher = Keyed(*cls, mode);
      for (int size : {0, 1, 7, 8, 15, 16, 17, 24, 40, 4056}) {
        if (mode == cmECB && size % cipher->BufSize() != 0) continue;
        std::string buffer = plain.substr(0, static_cast<size_t>(size));
        std::string coded(buffer.size(), '\0');
        cipher->EncodeBuffer(buffer.data(), coded.data(), size);
        cipher->Done();
        cipher->EncodeBuffer(buffer.data(), buffer.data(), size);
        cipher->Done();
        EXPECT_EQ(buffer, coded) << cls->ClassName << " mode " << int(mode) << " size " << size;
        if (size >= 8) {
          EXPECT_NE(buffer, plain.substr(0, static_cast<size_t>(size)));
        }
        cipher->DecodeBuffer(buffer.data(), buffer.data(), size);
        cipher->Done();
        EXPECT_EQ(buffer, plain.substr(0, static_cast<size_t>(size)))
            << cls->ClassName << " mode " << int(mode) << " size " << size;
      }
    }
}

TEST(TCipher, CtsChainingCarriesOverBetweenCallsOnBlockBoundaries) {
  std::string plain(40, '\0');
  for (size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<char>(i);
  auto cipher = Keyed(TCipher_Rijndael::Class(), cmCTS);
  std::string whole = plain;
  cipher->EncodeBuffer(whole.data(), whole.data(), 40);
  cipher->Done();

  std::string split = plain;
  cipher->EncodeBuffer(split.data(), split.data(), 16);
  cipher->EncodeBuffer(split.data() + 16, split.data() + 16, 24);
  cipher->Done();
  EXPECT_EQ(Hex(split), Hex(whole));

  std::string inside = plain;  // splitting inside a block does not
  cipher->EncodeBuffer(inside.data(), inside.data(), 20);
  cipher->EncodeBuffer(inside.data() + 20, inside.data() + 20, 20);
  cipher->Done();
  EXPECT_NE(Hex(inside), Hex(whole));

  // A part shorter than a block is the data xor the enciphered chaining value.
  std::string small = plain.substr(0, 5);
  cipher->EncodeBuffer(small.data(), small.data(), 5);
  cipher->Done();
  std::string f(cipher->Vector(), cipher->Vector() + 16);
  cipher->Encode(f.data());
  for (size_t i = 0; i < 5; ++i) EXPECT_EQ(static_cast<uint8_t>(small[i]), static_cast<uint8_t>(plain[i] ^ f[i]));

  std::string untouched = "abc";
  cipher->EncodeBuffer(untouched.data(), untouched.data(), 0);
  EXPECT_EQ(untouched, "abc");
}

TEST(TCipher, EcbRefusesAPartialBlockAndLeavesTheData) {
  auto cipher = Keyed(TCipher_Blowfish::Class(), cmECB);
  std::string data = "0123456789";
  for (int direction = 0; direction < 2; ++direction) {
    try {
      direction ? cipher->DecodeBuffer(data.data(), data.data(), 10) : cipher->EncodeBuffer(data.data(), data.data(), 10);
      FAIL();
    } catch (const ECipherException& e) {
      EXPECT_EQ(e.ErrorCode, errGeneric);
    }
    EXPECT_EQ(data, "0123456789");
  }
}

TEST(TCipher, MacModesWriteNothingAndDependOnEveryByte) {
  const std::string message = "a message of thirty-five characters";
  for (TCipherMode mode : {cmCTSMAC, cmCBCMAC, cmCFBMAC}) {
    auto cipher = Keyed(TCipher_Rijndael::Class(), mode);
    auto mac = [&](std::string data, bool decode) {
      std::string out(data.size(), '*');
      decode ? cipher->DecodeBuffer(data.data(), out.data(), static_cast<int>(data.size()))
             : cipher->EncodeBuffer(data.data(), out.data(), static_cast<int>(data.size()));
      EXPECT_EQ(out, std::string(data.size(), '*'));
      const std::string result(cipher->Feedback(), cipher->Feedback() + 16);
      cipher->Done();
      return result;
    };
    const std::string reference = mac(message, false);
    EXPECT_EQ(mac(message, true), reference) << int(mode);
    std::string last_changed = message;
    last_changed.back() = 'X';
    EXPECT_NE(mac(last_changed, false), reference) << int(mode);
  }
}

TEST(TCipher, KeyingErrorsAndKeyLength) {
  TCipher_Square cipher;
  std::string data = "0123456789ABCDEF";
  try {
    cipher.EncodeBuffer(data.data(), data.data(), 16);
    FAIL();
  } catch (const ECipherException& e) {
    EXPECT_EQ(e.ErrorCode, errNotInitialized);
    EXPECT_STREQ(e.what(), "TCipher_Square is not initialized call Init() or InitKey() before.");
  }
  EXPECT_THROW(cipher.CodeBuffer(data.data(), 16, paEncode), ECipherException);

  const std::string long_key(20, 'k');
  cipher.Init(long_key.data(), 20, nullptr);  // cut to 16
  std::string a = data;
  cipher.Encode(a.data());
  cipher.Init(long_key.data(), 16, nullptr);
  std::string b = data;
  cipher.Encode(b.data());
  EXPECT_EQ(a, b);

  CipherState().CheckCipherKeySize = true;
  try {
    cipher.Init(long_key.data(), 20, nullptr);
    ADD_FAILURE();
  } catch (const ECipherException& e) {
    EXPECT_EQ(e.ErrorCode, errInvalidKeySize);
    EXPECT_STREQ(e.what(), "Length from Encryptionkey is invalid.\r\nKeysize for TCipher_Square must be to 0-16 bytes");
  }
  CipherState().Reset();
  EXPECT_FALSE(cipher.GetFlag(1));

  // Keying from a password works in every mode, also where the digest is shorter than a block.
  TCipher_3TDES wide;
  wide.SetMode(cmECB);
  wide.InitKey("password", nullptr);
  std::string block(24, 'b');
  wide.EncodeBuffer(block.data(), block.data(), 24);
  wide.DecodeBuffer(block.data(), block.data(), 24);
  EXPECT_EQ(block, std::string(24, 'b'));
}

TEST(TCipher, InitKeyUsesTheLeadingDigestBytes) {
  const std::string digest = Bytes("CDF26213A150DC3ECB610F18F6B38B46");  // RIPEMD-128 of ""
  for (const TCipherClass* cls : {&TCipher_Square::Class(), &TCipher_1DES::Class()}) {
    auto by_password = cls->Create();
    by_password->SetHashClass(&THash_RipeMD128::Class());
    by_password->InitKey("", nullptr);
    EXPECT_TRUE(by_password->GetFlag(0));
    auto by_key = cls->Create();
    by_key->Init(digest.data(), std::min(16, cls->MaxKeySize()), nullptr);
    EXPECT_EQ(Hex(by_password->Vector(), 8), Hex(by_key->Vector(), 8)) << cls->ClassName;
    std::string x = "0123456789ABCDEF", y = x;
    by_password->EncodeBuffer(x.data(), x.data(), 16);
    by_key->EncodeBuffer(y.data(), y.data(), 16);
    EXPECT_EQ(Hex(x), Hex(y)) << cls->ClassName;
  }
  // A password given to the constructor keys through the default hash, RIPEMD-256.
  TCipher_Blowfish from_constructor("secret");
  TCipher_Blowfish by_init_key;
  by_init_key.InitKey("secret", nullptr);
  EXPECT_EQ(Hex(from_constructor.User(), 64), Hex(by_init_key.User(), 64));
  EXPECT_EQ(from_constructor.GetHashClass(), &THash_RipeMD256::Class());
}

TEST(TCipher, ProtectionsChainAndCodeStringsStreamsAndFiles) {
  TCipher_Twofish outer("outer");
  TCipher_Rijndael inner("inner");
  outer.SetProtection(&inner);
  const std::string secret = "the page text, longer than one block of any cipher";

  const std::string text = outer.CodeString(secret, paEncode, fmtMIME64);
  EXPECT_EQ(text.size() % 4, 0u);
  EXPECT_EQ(outer.CodeString(text, paDecode, fmtMIME64), secret);
  EXPECT_EQ(outer.CodeString("", paEncode, fmtMIME64), "");

  // Without the inner layer the text does not decode.
  TCipher_Twofish alone("outer");
  EXPECT_NE(alone.CodeString(text, paDecode, fmtMIME64), secret);

  const std::string path = ::testing::TempDir() + "orv_cipher_codefile.bin";
  std::string big;
  for (int i = 0; i < 10000; ++i) big += static_cast<char>(i % 251);
  { std::ofstream(path, std::ios::binary) << big; }
  std::vector<int64_t> steps;
  CipherUtilState().Progress = [&](const void*, int64_t current, int64_t) { steps.push_back(current); };
  outer.CodeFile(path, path, paEncode);  // in place
  CipherUtilState().Progress = nullptr;
  EXPECT_EQ(steps, (std::vector<int64_t>{0, 4096, 8192, 10000, 0}));
  std::stringstream coded;
  coded << std::ifstream(path, std::ios::binary).rdbuf();
  EXPECT_EQ(coded.str().size(), big.size());
  EXPECT_NE(coded.str(), big);
  const std::string copy = path + ".plain";
  outer.CodeFile(path, copy, paDecode);
  std::stringstream decoded;
  decoded << std::ifstream(copy, std::ios::binary).rdbuf();
  EXPECT_EQ(decoded.str(), big);
  std::remove(path.c_str());
  std::remove(copy.c_str());
  EXPECT_THROW(outer.CodeFile(path, copy, paEncode), EProtection);  // gone

  EXPECT_THROW(outer.CodeBuffer(big.data(), 16, paWipe), std::runtime_error);
  outer.SetProtection(nullptr);
}

TEST(TCipher, RegistryAndSelfTests) {
  const auto list = CipherList();
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].Text, "Rijndael=");
  EXPECT_EQ(list[0].Object, &TCipher_Rijndael::Class());

  EXPECT_FALSE(RegisterCipher(nullptr));
  EXPECT_TRUE(RegisterCipher(&TCipher_Square::Class(), "  ", "128-bit block"));
  EXPECT_TRUE(RegisterCipher(&TCipher_Square::Class(), " Sq ", "again"));
  const auto after = CipherList();
  ASSERT_EQ(after.size(), 2u);
  EXPECT_EQ(after[1].Text, "Sq=again");
  CipherState().Reset();

  const std::pair<const TCipherClass*, const char*> messages[] = {
      {&TCipher_Rijndael::Class(), "TCipher_Rijndael.TestVector not implemented 20"},
      {&TCipher_Blowfish::Class(), "TCipher_Blowfish.TestVector not implemented 21"},
      {&TCipher_1DES::Class(), "TCipher_1DES.TestVector not implemented"},
      {&TCipher_3DES::Class(), "TCipher_3DES.TestVector not implemented 24"},
      {&TCipher_3TDES::Class(), "TCipher_3TDES.TestVector not implemented 25"},
      {&TCipher_Twofish::Class(), "TCipher_Twofish.TestVector not implemented 26"},
      {&TCipher_Square::Class(), "TCipher_Square.TestVector not implemented 27"}};
  for (const auto& [cls, text] : messages) {
    try {
      cls->TestVector();
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), text);
    }
    EXPECT_THROW(cls->SelfTest(), std::runtime_error);
  }
}

TEST(TCipher, ContextSizes) {
  const std::tuple<const TCipherClass*, int, int, int> sizes[] = {
      {&TCipher_Rijndael::Class(), 16, 32, 480}, {&TCipher_Blowfish::Class(), 8, 56, 4168},
      {&TCipher_1DES::Class(), 8, 8, 256},       {&TCipher_3DES::Class(), 8, 24, 768},
      {&TCipher_3TDES::Class(), 24, 24, 768},    {&TCipher_Twofish::Class(), 16, 32, 4256},
      {&TCipher_Square::Class(), 16, 16, 288}};
  for (const auto& [cls, block, key, user] : sizes) {
    auto cipher = cls->Create();
    EXPECT_EQ(cipher->BufSize(), block) << cls->ClassName;
    EXPECT_EQ(cipher->KeySize(), key) << cls->ClassName;
    EXPECT_EQ(cipher->UserSize(), user) << cls->ClassName;
    EXPECT_STREQ(cipher->ClassName(), cls->ClassName);
    EXPECT_EQ(Hex(cipher->Vector(), static_cast<size_t>(block)), std::string(2 * block, 'F'));
  }
}

}  // namespace
}  // namespace orv
