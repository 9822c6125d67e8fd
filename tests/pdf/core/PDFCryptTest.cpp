#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "pdf/core/zoPDFCrypt.h"
#include "pdf/core/zoPDFObjects.h"
#include "pdf/core/zoPDFParsers.h"
#include "pdf/core/zoPDFUtils.h"
#include "pdf/core/zoUtils.h"
#include "platform/CodePage.h"
#include "tests/support/TestSupport.h"

namespace {

std::string Hex(std::string_view bytes) {
  std::string h = StrToHex(bytes);
  for (char& c : h)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return h;
}

std::string DigestHex(const TMD5Digest& d) {
  return Hex(std::string_view(reinterpret_cast<const char*>(d.data()), d.size()));
}

std::span<const uint8_t> AsBytes(std::string_view s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

std::string ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const rtl::Exception& e) {
    return e.Message();
  }
  return "";
}

}  // namespace

// ---- MD5 ----

TEST(Md5, Rfc1321Vectors) {
  const struct {
    std::string input, digest;
  } cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(DigestHex(Md5(c.input)), c.digest) << c.input;
}

// Lengths around the padding boundary: 55 bytes still fit the length into the last block, 56 and
// more need one more block, 64 fills a block exactly.
TEST(Md5, LengthsAroundTheBlockBoundary) {
  const char* digests[] = {"52c0e574e1198de5fe3f8f11440dcb1b", "46c9907fc908ee68b1e7b8e71286a518",
                           "1c805dd236c35cab25fcb1bc73802c51", "bca54f0684135200890418305d71acac",
                           "01344f4f53fcb77c6f85b7c808411ee8", "88cedcdc923e0dc7346f92cc4cee4179",
                           "0fae1a833824da26a06af17d24b5e783", "8eece4c814dc5eb0d6722df349794fe0",
                           "a62f6d59e837867693f042f5b8f5a236", "7160b8fb5e9e4023d549c3971fbaeead",
                           "70bd662e7aefbda85a0f7244167b7897"};
  for (int n = 55; n <= 65; ++n) {
    std::string input;
    for (int i = 0; i < n; ++i)
      input += static_cast<char>((i * 7 + 3) % 256);
    EXPECT_EQ(DigestHex(Md5(input)), digests[n - 55]) << n << " bytes";
  }
}

TEST(Md5, UpdatesInPiecesGiveTheDigestOfTheWhole) {
  std::string input;
  for (int i = 0; i < 1000; ++i)
    input += static_cast<char>((i * 7 + 3) % 256);
  const std::vector<std::vector<size_t>> splits = {
      {1000}, {1, 999}, {63, 1, 936}, {64, 64, 872}, {65, 55, 9, 871}, {0, 500, 0, 500}};
  for (const auto& pieces : splits) {
    TMD5Context c;
    Md5Init(c);
    size_t at = 0;
    for (size_t n : pieces) {
      Md5Update(c, input.data() + at, n);
      at += n;
    }
    TMD5Digest d;
    Md5Final(c, d);
    EXPECT_EQ(DigestHex(d), "10046f077f2082ac19676b8079f1cb1a") << pieces.size() << " pieces";
    // Final clears the context.
    TMD5Context zero;
    std::memset(&zero, 0, sizeof zero);
    EXPECT_EQ(std::memcmp(&c, &zero, sizeof c), 0);
  }
  // A million bytes in odd pieces: the bit count runs over many blocks.
  TMD5Context c;
  Md5Init(c);
  const std::string chunk(997, 'a');
  size_t left = 1000000;
  while (left > 0) {
    size_t n = std::min(left, chunk.size());
    Md5Update(c, chunk.data(), n);
    left -= n;
  }
  TMD5Digest d;
  Md5Final(c, d);
  EXPECT_EQ(DigestHex(d), "7707d6ae4e027c70eea2a935c2296f21");
}

// ---- RC4 ----

// RFC 6229: the keystream of the keys 01 02 03 ... at the offsets given, 32 bytes each.
TEST(Rc4, Rfc6229Vectors) {
  const struct {
    int keyLength;
    std::vector<std::pair<int, std::string>> streams;
  } cases[] = {
      {5,
       {{0x0000, "b2396305f03dc027ccc3524a0a1118a8698294 4f18fc82d589c403a47a0d0919"},
        {0x00f0, "28cb1132c96ce286421dcaadb8b69eae1cfcf62b03eddb641d77dfcf7f8d8c93"},
        {0x01f0, "42b7d0cdd918a8a33dd51781c81f40416459844432a7da923cfb3eb4980661f6"},
        {0x03f0, "45129048e6a0ed0b56b490338f078da530abbcc7c20b01609f23ee2d5f6bb7df"},
        {0x0ff0, "068326a2118416d21f9d04b2cd1ca050ff25b58995996707e51fbdf08b34d875"}}},
      {8,
       {{0x0000, "97ab8a1bf0afb96132f2f67258da15a88263efdb45c4a18684ef87e6b19e5b09"},
        {0x00f0, "9636ebc9841926f4f7d1f362bddf6e18d0a990ff2c05fef5b90373c9ff4b870a"},
        {0x01f0, "73239f1db7f41d80b643c0c52518ec63163b319923a6bdb4527c626126703c0f"},
        {0x03f0, "273c9c4b27f322e4e716ef53a47de7a4c6d0e7b226259fa9023490b26167ad1d"},
        {0x0ff0, "d5fa5a3469d29aaaf83d23589db8c85b3fb46e2c8f0f068edce8cdcd7dfc5862"}}},
      {16,
       {{0x0000, "9ac7cc9a609d1ef7b2932899cde41b975248c4959014126a6e8a84f11d1a9e1c"},
        {0x00f0, "065902e4b620f6cc36c8589f66432f2bd39d566bc6bce30107681515 49f3873f"},
        {0x01f0, "b6d1e6c4a5e4771cad79538df295fb11c68c1d5c559a974123df1dbc52a43b89"},
        {0x03f0, "e7a72574f8782ae26aabcf9ebcd66065bdf0324e6083dcc6d3cedd3ca8c53c16"},
        {0x0ff0, "ff38265c1642c1abe8d3c2fe5e572bf8a36a4c301ae8ac13610ccbc12256cacc"}}},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> key;
    for (int i = 1; i <= c.keyLength; ++i)
      key.push_back(static_cast<uint8_t>(i));
    std::string stream = Rc4(key, std::string(4112, '\0'));  // zeros give the keystream
    for (const auto& [offset, expected] : c.streams) {
      std::string want = expected;
      std::erase(want, ' ');
      EXPECT_EQ(Hex(stream.substr(static_cast<size_t>(offset), 32)), want)
          << c.keyLength * 8 << "-bit key at " << offset;
    }
  }
}

TEST(Rc4, EveryLengthAndPlaceOfTheDataGetsTheSameKeystream) {
  // The keystream of RFC 6229's 40-bit key: the data's bytes taken in words and one by one.
  const std::vector<uint8_t> key = {1, 2, 3, 4, 5};
  const std::string stream = Rc4(key, std::string(64, '\0'));
  ASSERT_EQ(Hex(stream.substr(0, 8)), "b2396305f03dc027");
  std::string buffer(80, '\0');
  for (size_t offset : {0, 1, 3, 7})
    for (size_t length = 0; length <= 41; ++length) {
      std::fill(buffer.begin(), buffer.end(), '\x5A');
      char* data = buffer.data() + offset;
      std::fill_n(data, length, '\0');
      Rc4Crypt(key, data, data, length);
      EXPECT_EQ(std::string(data, length), stream.substr(0, length))
          << length << " bytes at " << offset;
      // Nothing beyond the data is touched.
      EXPECT_EQ(std::string(data + length, buffer.data() + buffer.size()),
                std::string(buffer.size() - offset - length, '\x5A'))
          << length << " bytes at " << offset;
    }
}

TEST(Rc4, EveryCallStartsTheKeystreamAfreshAndRoundTrips) {
  const std::string key = "Secret";
  const std::string text = "Attack at dawn, and once more at dusk.";
  std::string once = Rc4(AsBytes(key), text);
  EXPECT_NE(once, text);
  // The same key over the same text gives the same bytes: no state carries over between calls.
  EXPECT_EQ(Rc4(AsBytes(key), text), once);
  EXPECT_EQ(Rc4(AsBytes(key), once), text);
  // In place.
  std::string buf = text;
  Rc4Crypt(AsBytes(key), buf.data(), buf.data(), buf.size());
  EXPECT_EQ(buf, once);
}

TEST(Rc4, KeyLengthsOutsideOneTo256AreRefusedBeforeAnythingIsWritten) {
  std::string out = "unchanged";
  const std::string in(9, 'x');
  for (size_t n : {size_t{0}, size_t{257}}) {
    std::vector<uint8_t> key(n, 7);
    EXPECT_EQ(ErrorOf([&] { Rc4Crypt(key, in.data(), out.data(), in.size()); }),
              "RC4: Invalid key length")
        << n;
    EXPECT_EQ(out, "unchanged");
  }
  for (size_t n : {size_t{1}, size_t{256}}) {
    std::vector<uint8_t> key(n, 7);
    EXPECT_EQ(Rc4(key, Rc4(key, in)), in) << n;
  }
}

// ---- Settings ----

TEST(EncryptionSettings, DefaultsAndReadOnlyAfterUserOpen) {
  TzoPDFEncryptionSettings s;
  EXPECT_TRUE(s.CanChange());
  EXPECT_FALSE(s.Enabled());
  EXPECT_EQ(s.Level(), el128bit);
  EXPECT_EQ(s.OwnerPassword(), "");
  EXPECT_EQ(s.UserPassword(), "");
  EXPECT_EQ(s.UserPermissions(), TzoUserPermissions::All());
  s.SetOwnerPassword("own");
  s.SetUserPermissions({AllowPrint, AllowCopy});
  EXPECT_EQ(s.OwnerPassword(), "own");
  EXPECT_TRUE(s.UserPermissions().Contains(AllowCopy));
  EXPECT_FALSE(s.UserPermissions().Contains(AllowModify));
  EXPECT_EQ(s.UserPermissions().Bits(), (1 << AllowPrint) | (1 << AllowCopy));
}

// ---- Handler pieces ----

TEST(PDFCrypt, PaddingOfPasswords) {
  const auto& pad = TzoBasePDFCrypt::PaddingString();
  EXPECT_EQ(pad[0], 0x28);
  EXPECT_EQ(pad[1], 0xBF);
  EXPECT_EQ(pad[31], 0x7A);
  auto empty = TzoBasePDFCrypt::PadPassword("");
  EXPECT_EQ(empty, pad);
  auto abc = TzoBasePDFCrypt::PadPassword("abc");
  EXPECT_EQ(std::string(abc.begin(), abc.begin() + 3), "abc");
  EXPECT_TRUE(std::equal(abc.begin() + 3, abc.end(), pad.begin()));
  // Only the first 32 bytes count.
  EXPECT_EQ(TzoBasePDFCrypt::PadPassword(std::string(32, 'p') + "tail"),
            TzoBasePDFCrypt::PadPassword(std::string(32, 'p')));
}

TEST(PDFCrypt, PermissionsToP) {
  using P = TzoUserPermissions;
  const struct {
    TzoPDFEncryptionLevel level;
    P permissions;
    int32_t p;
  } cases[] = {
      {el40bit, P::All(), -4},
      {el128bit, P::All(), -4},
      {el40bit, P(), -64},
      {el128bit, P(), -3904},
      // 128-bit: high-resolution printing counts only with printing.
      {el128bit, P({AllowHighResPrint}), -3904},
      {el128bit, P::All() - P({AllowHighResPrint}), -2052},
      {el128bit, P::All() - P({AllowPrint}), -2056},
      {el128bit, P::All() - P({AllowCopy}), -20},
      {el128bit, P::All() - P({AllowModify}), -12},
      {el128bit, P::All() - P({AllowAnnotation}), -36},
      {el128bit, P::All() - P({AllowFormFill}), -260},
      {el128bit, P::All() - P({AllowDocAssembly}), -1028},
      {el128bit, P::All() - P({AllowAccessibility}), -516},
      // 40-bit: the upper four permissions add nothing.
      {el40bit, P({AllowFormFill, AllowAccessibility, AllowDocAssembly, AllowHighResPrint}), -64},
      {el40bit, P::All() - P({AllowPrint}), -8},
  };
  for (const auto& c : cases) {
    TzoPDFEncryptionSettings s;
    s.SetLevel(c.level);
    s.SetUserPermissions(c.permissions);
    TzoPDFEncryption e("Output1.pdf", "", s);
    EXPECT_EQ(e.PermissionsToP(), c.p) << int(c.level) << " " << int(c.permissions.Bits());
  }
}

TEST(PDFCrypt, ApplyPRemovesWhatPDoesNotGrant) {
  using P = TzoUserPermissions;
  const struct {
    int revision;
    int64_t p;
    P expected;
  } cases[] = {
      {3, -4, P::All()},
      {3, 4294967292LL, P::All()},  // the unsigned form of -4
      {3, -3904, P()},
      {3, -2052, P::All() - P({AllowHighResPrint})},
      {3, -8, P::All() - P({AllowPrint})},
      {2, -64, P({AllowFormFill, AllowAccessibility, AllowDocAssembly, AllowHighResPrint})},
      {2, -64 + 4 + 32,
       P({AllowFormFill, AllowAccessibility, AllowDocAssembly, AllowHighResPrint, AllowPrint,
          AllowAnnotation})},
      // Only the low 32 bits count.
      {3, 0x1FFFFFFFCLL, P::All()},
  };
  for (const auto& c : cases) {
    TzoPDFDecrypt d;
    d.SetRevision(c.revision, 128);
    d.SetP(c.p);
    d.ApplyP();
    EXPECT_EQ(d.Permissions(), c.expected) << c.revision << " " << c.p;
  }
  TzoPDFDecrypt d;
  d.SetP(4294967292LL);
  EXPECT_EQ(d.P(), -4);
  d.SetP(70000);
  EXPECT_EQ(d.P(), 70000);
}

TEST(PDFCrypt, OwnerAndUserKeysMustHave32Bytes) {
  TzoPDFDecrypt d;
  const std::string good(32, 'o');
  d.SetOwnerKey(good);
  d.SetUserKey(std::string(32, 'u'));
  for (size_t n : {size_t{0}, size_t{31}, size_t{33}, size_t{48}}) {
    std::string bad(n, 'x');
    EXPECT_EQ(ErrorOf([&] { d.SetOwnerKey(bad); }), "Invalid Owner Key.") << n;
    EXPECT_EQ(ErrorOf([&] { d.SetUserKey(bad); }), "Invalid User Key.") << n;
  }
  EXPECT_EQ(d.GetOwnerKey(), good);
  EXPECT_EQ(d.GetUserKey(), std::string(32, 'u'));
}

// The object key: MD5 of the file key and five bytes of the object's numbers, cut to n + 5 bytes
// (10 for a 5-byte key), at most 16.
TEST(PDFCrypt, ObjectKeyOfFortyAndOneHundredTwentyEightBits) {
  for (auto level : {el40bit, el128bit}) {
    TzoPDFEncryptionSettings s;
    s.SetLevel(level);
    s.SetUserPassword("u");
    TzoPDFEncryption e("Output1.pdf", "D:20240101", s);
    std::string material = e.GetKey() + std::string("\x0C\x00\x00\x00\x00", 5);  // 12 0
    TMD5Digest h = Md5(material);
    size_t n = level == el40bit ? 10 : 16;
    std::string plain = "The quick brown fox";
    EXPECT_EQ(e.EncryptData(plain, 12, 0), Rc4({h.data(), n}, plain)) << int(level);
    EXPECT_EQ(e.KeyLength(), level == el40bit ? 5u : 16u);
  }
}

TEST(PDFCrypt, CheckSupportedEncryption) {
  auto dict = [](std::string_view filter, int v, int r) {
    auto d = std::make_unique<TzoPDFDictObject>();
    if (!filter.empty()) d->AddName("/Filter", filter);
    if (v >= 0) d->AddInteger("/V", v);
    if (r >= 0) d->AddInteger("/R", r);
    return d;
  };
  for (auto [v, r] : {std::pair{1, 2}, {2, 3}, {1, 3}, {2, 2}})
    EXPECT_NO_THROW(CheckSupportedEncryption(*dict("/Standard", v, r))) << v << " " << r;
  const struct {
    std::string filter;
    int v, r;
    std::string message;
  } refused[] = {
      {"/Standard", 4, 4, "Unsupported encryption (/Filter /Standard /V 4 /R 4)"},
      {"/Standard", 5, 6, "Unsupported encryption (/Filter /Standard /V 5 /R 6)"},
      {"/Standard", 5, 5, "Unsupported encryption (/Filter /Standard /V 5 /R 5)"},
      {"/Standard", 2, 4, "Unsupported encryption (/Filter /Standard /V 2 /R 4)"},
      {"/Standard", -1, 3, "Unsupported encryption (/Filter /Standard /V (none) /R 3)"},
      {"/Adobe.PubSec", 2, 3, "Unsupported encryption (/Filter /Adobe.PubSec)"},
      {"", 2, 3, "Unsupported encryption (/Filter (none))"},
  };
  for (const auto& c : refused) {
    auto d = dict(c.filter, c.v, c.r);
    try {
      CheckSupportedEncryption(*d);
      ADD_FAILURE() << c.message;
    } catch (const EUnsupportedEncryption& e) {
      EXPECT_EQ(e.Message(), c.message);
    }
    // The decryptor refuses the same dictionaries and keeps nothing of them.
    d->AddObject("/O", std::make_unique<TzoPDFStringObject>("(" + std::string(32, 'o') + ")"));
    d->AddObject("/U", std::make_unique<TzoPDFStringObject>("(" + std::string(32, 'u') + ")"));
    d->AddInteger("/P", -4);
    TzoPDFDecrypt dec;
    EXPECT_THROW(dec.SetEncryptDict(*d), EUnsupportedEncryption) << c.message;
    EXPECT_EQ(dec.GetOwnerKey(), std::string(32, '\0'));
  }
  EXPECT_THROW(TzoPDFDecrypt().SetRevision(4, 128), EUnsupportedEncryption);
}

TEST(PDFCrypt, GeneratedOwnerPasswordComesFromTheSystemRandomSource) {
  // The shared generator is made constant: the generated passwords must still differ.
  SetRandomSource([](int32_t) { return 0; });
  std::set<std::string> seen;
  const std::regex form("zoSecure[0-9]{14}[0-9]{1,10}");
  for (int i = 0; i < 8; ++i) {
    std::string pw = TzoPDFDecrypt::GenerateOwnerPassword();
    EXPECT_TRUE(std::regex_match(pw, form)) << pw;
    EXPECT_GE(pw.size(), 23u);
    EXPECT_LE(pw.size(), 32u);
    seen.insert(pw);
  }
  SetRandomSource({});
  EXPECT_GE(seen.size(), 7u);
}

// ---- Authentication round trips with our own encryptor ----

namespace {

// A decryptor filled from what an encryptor wrote, the way a loader fills it from a file.
std::unique_ptr<TzoPDFDecrypt> DecryptorFor(const TzoPDFEncryption& e, int32_t p) {
  auto d = std::make_unique<TzoPDFDecrypt>();
  d->SetRevision(e.Revision(), static_cast<int32_t>(e.KeyLength() * 8));
  d->SetFileID(e.GetFileID());
  d->SetOwnerKey(e.GetOwnerKey());
  d->SetUserKey(e.GetUserKey());
  d->SetP(p);
  return d;
}

TzoPDFEncryptionSettings Settings(TzoPDFEncryptionLevel level, std::string owner, std::string user,
                                  TzoUserPermissions perms) {
  TzoPDFEncryptionSettings s;
  s.SetLevel(level);
  s.SetOwnerPassword(owner);
  s.SetUserPassword(user);
  s.SetUserPermissions(perms);
  return s;
}

}  // namespace

TEST(PDFCrypt, OwnerOpenKeepsBothPasswordsAndEverything) {
  for (auto level : {el40bit, el128bit}) {
    auto src = Settings(level, "master", "view", TzoUserPermissions({AllowPrint}));
    TzoPDFEncryption e("Output1.pdf", "D:20240101", src);
    auto d = DecryptorFor(e, e.PermissionsToP());
    TzoPDFEncryptionSettings s;
    ASSERT_EQ(d->Authenticate(s, "master"), 1);
    EXPECT_TRUE(d->OwnerAuthenticated());
    EXPECT_TRUE(s.CanChange());
    EXPECT_TRUE(s.Enabled());
    EXPECT_EQ(s.OwnerPassword(), "master");
    EXPECT_EQ(s.UserPassword(), "view");
    EXPECT_EQ(s.UserPermissions(), TzoUserPermissions::All());  // /P is not applied
    EXPECT_EQ(s.Level(), level);
    EXPECT_EQ(d->GetFileKey(), e.GetKey());
  }
}

TEST(PDFCrypt, UserOpenMakesTheSettingsReadOnly) {
  auto src =
      Settings(el128bit, "master", "", TzoUserPermissions::All() - TzoUserPermissions({AllowCopy}));
  TzoPDFEncryption e("Output1.pdf", "D:20240101", src);
  auto d = DecryptorFor(e, e.PermissionsToP());
  TzoPDFEncryptionSettings s;
  EXPECT_EQ(d->Authenticate(s, "wrong"), 0);
  EXPECT_TRUE(s.CanChange());
  EXPECT_FALSE(d->HasFileKey());
  ASSERT_EQ(d->Authenticate(s, ""), 1);
  EXPECT_FALSE(d->OwnerAuthenticated());
  EXPECT_FALSE(s.CanChange());
  EXPECT_EQ(s.OwnerPassword(), "");  // hidden
  EXPECT_EQ(s.UserPassword(), "");
  EXPECT_FALSE(s.UserPermissions().Contains(AllowCopy));
  EXPECT_TRUE(s.UserPermissions().Contains(AllowPrint));
  EXPECT_EQ(d->GetFileKey(), e.GetKey());
  const std::string kReadOnly = "User cannot change encryption settings";
  EXPECT_EQ(ErrorOf([&] { s.SetEnabled(false); }), kReadOnly);
  EXPECT_EQ(ErrorOf([&] { s.SetLevel(el40bit); }), kReadOnly);
  EXPECT_EQ(ErrorOf([&] { s.SetOwnerPassword("x"); }), kReadOnly);
  EXPECT_EQ(ErrorOf([&] { s.SetUserPassword("x"); }), kReadOnly);
  EXPECT_EQ(ErrorOf([&] { s.SetUserPermissions({}); }), kReadOnly);
  EXPECT_TRUE(s.Enabled());
  EXPECT_EQ(s.Level(), el128bit);
  // The generated owner password, though hidden, is the one a new encryptor uses: the file it
  // makes does not open with the old owner password, but with the old user password.
  TzoPDFEncryption again("Output1.pdf", "D:20240101", s);
  auto d2 = DecryptorFor(again, again.PermissionsToP());
  std::string user;
  EXPECT_EQ(d2->CheckOwnerPassword("master", user), -1);
  EXPECT_EQ(d2->CheckOwnerPassword("", user), -1);
  EXPECT_EQ(d2->CheckUserPassword(""), 0);
}

TEST(PDFCrypt, BothPasswordsEmptyOpensAsOwner) {
  for (auto level : {el40bit, el128bit}) {
    TzoPDFEncryption e("Output1.pdf", "", Settings(level, "", "", TzoUserPermissions()));
    auto d = DecryptorFor(e, e.PermissionsToP());
    TzoPDFEncryptionSettings s;
    ASSERT_EQ(d->Authenticate(s, ""), 1);
    EXPECT_TRUE(d->OwnerAuthenticated());
    EXPECT_TRUE(s.CanChange());
  }
}

TEST(PDFCrypt, UserPasswordsFoundThroughO) {
  // "(" and a half-width katakana whose code page byte is BF: 28 BF, the start of the padding.
  // The key holds its UTF-8 bytes; the settings get the code page text back.
  const std::string withPadStart = std::string("ab") + "\x28\xBF" + "cd";
  const struct {
    std::string user, found;
  } cases[] = {
      {"view", "view"},
      {"", ""},
      {"ab(", "ab("},  // "(" is the padding's first byte
      {withPadStart, withPadStart},
      {std::string(32, 'x'), std::string(32, 'x')},
      {std::string(40, 'y'), std::string(32, 'y')},  // only the first 32 count
  };
  for (auto level : {el40bit, el128bit}) {
    for (const auto& c : cases) {
      TzoPDFEncryption e("Output1.pdf", "x",
                         Settings(level, "owner", c.user, TzoUserPermissions()));
      auto d = DecryptorFor(e, e.PermissionsToP());
      std::string found = "unset";
      ASSERT_EQ(d->CheckOwnerPassword("owner", found), 0) << int(level) << " " << Hex(c.user);
      EXPECT_EQ(Hex(found), Hex(PasswordKeyBytes(c.found)));
      TzoPDFEncryptionSettings s;
      EXPECT_EQ(DecryptorFor(e, e.PermissionsToP())->Authenticate(s, "owner"), 1);
      EXPECT_EQ(Hex(s.UserPassword()), Hex(c.found));
      const std::string key = PasswordKeyBytes(c.user);
      EXPECT_EQ(d->CheckUserPassword(key), 0);
      EXPECT_EQ(d->CheckUserPassword(key + "z") == 0, key.size() >= 32);
    }
  }
}

TEST(PDFCrypt, FileIdIsTakenAsItsBytesWhateverItsLength) {
  auto src = Settings(el128bit, "o", "u", TzoUserPermissions::All());
  TzoPDFEncryption e("Output1.pdf", "", src);
  // The same bytes, once from a literal and once from a hex string object, give the same ID.
  TzoPDFStringObject literal("(" + e.GetFileID() + ")");
  TzoPDFStringObject hex("<" + StrToHex(e.GetFileID()) + ">", true);
  EXPECT_EQ(PDFStringBytes(literal), e.GetFileID());
  EXPECT_EQ(PDFStringBytes(hex), e.GetFileID());
  auto d = DecryptorFor(e, e.PermissionsToP());
  d->SetFileID(PDFStringBytes(hex));
  EXPECT_EQ(d->CheckUserPassword("u"), 0);
  // A shorter or an empty identifier is used as it is (and so gives another key).
  for (std::string id : {e.GetFileID().substr(0, 15), std::string()}) {
    TzoPDFDecrypt other;
    other.SetRevision(3, 128);
    other.SetFileID(id);
    other.SetOwnerKey(e.GetOwnerKey());
    other.SetUserKey(e.GetUserKey());
    other.SetP(e.PermissionsToP());
    EXPECT_EQ(other.CheckUserPassword("u"), -1) << id.size();
    EXPECT_EQ(other.GetFileID(), id);
  }
}

TEST(PDFCrypt, StringsAndStreamsDecryptPerObject) {
  TzoPDFEncryption e("Output1.pdf", "D:1", Settings(el128bit, "o", "", TzoUserPermissions::All()));
  auto d = DecryptorFor(e, e.PermissionsToP());
  TzoPDFEncryptionSettings s;
  ASSERT_EQ(d->Authenticate(s, "o"), 1);
  const std::string plain = "stream data of object 7";
  std::string c7 = e.EncryptData(plain, 7, 0);
  std::string c8 = e.EncryptData(plain, 8, 0);
  EXPECT_NE(c7, c8);
  std::string out(plain.size(), '\0');
  d->DecryptString(c7.data(), out.data(), c7.size(), 7, 0);
  EXPECT_EQ(out, plain);
  rtl::TMemoryStream m(c8 + "tail");
  d->DecryptStream(m, static_cast<int64_t>(c8.size()), 8, 0);
  EXPECT_EQ(m.ToString(), plain + "tail");
  EXPECT_EQ(m.Position(), m.Size());
  // Keys change with the generation too.
  EXPECT_NE(e.EncryptData(plain, 7, 1), c7);
}

// ---- Against qpdf ----

namespace {

// A one-page PDF with the given first /ID string.
std::string SimplePdf(const std::string& id, const std::string& text = "Hello") {
  std::vector<std::string> objs = {
      "<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /Contents 4 0 R "
      "/Resources << /Font << /F1 5 0 R >> >> >>"};
  std::string content = "BT /F1 12 Tf 10 10 Td (" + text + ") Tj ET";
  std::string out = "%PDF-1.4\n";
  std::vector<size_t> offs;
  for (size_t i = 0; i < objs.size(); ++i) {
    offs.push_back(out.size());
    out += std::to_string(i + 1) + " 0 obj\n" + objs[i] + "\nendobj\n";
  }
  offs.push_back(out.size());
  out += "4 0 obj\n<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content +
         "\nendstream\nendobj\n";
  offs.push_back(out.size());
  out += "5 0 obj\n<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>\nendobj\n";
  size_t xref = out.size();
  out += "xref\n0 6\n0000000000 65535 f \n";
  for (size_t o : offs)
    out += rtl::Format("%.10d 00000 n \n", static_cast<int64_t>(o));
  out += "trailer\n<< /Size 6 /Root 1 0 R /ID [<" + StrToHex(id) + "><" + StrToHex(id) +
         ">] >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  return out;
}

// What qpdf reports for a file and a password: "R", "P" and the key in hex ("" when refused).
std::map<std::string, std::string> QpdfEncryption(const std::string& file,
                                                  const std::string& password) {
  auto r = sv::test::RunCommand(
      {"qpdf", "--show-encryption", "--show-encryption-key", "--password=" + password, file});
  std::map<std::string, std::string> out;
  std::istringstream lines(r.out);
  std::string line;
  while (std::getline(lines, line)) {
    auto eq = line.find(" = ");
    if (eq != std::string::npos) out[line.substr(0, eq)] = line.substr(eq + 3);
    if (line == "Supplied password is owner password") out["owner"] = "yes";
  }
  return out;
}

struct FileEncryption {
  std::unique_ptr<TzoPDFDictObject> encrypt;
  std::string firstID;
};

// The /Encrypt dictionary and the first /ID string of a file, read with our reader: the trailer
// (or cross-reference stream dictionary) at startxref, then the object /Encrypt names.
FileEncryption ReadEncryption(const std::string& path) {
  rtl::TMemoryStream m(sv::test::ReadFile(path));
  TzoPDFStreamReader r(1, &m);
  r.SetPosition(r.FindStartXRef());
  std::unique_ptr<TzoPDFDictObject> trailer;
  if (r.PeekToken() == "xref") {
    trailer = r.ReadTrailer();
  } else {
    auto obj = r.ReadObject();
    trailer = CloneOf(*obj->AsIndirect()->DirectObject()->AsStream()->Dict());
  }
  FileEncryption fe;
  auto* id = trailer->GetValue("/ID");
  if (id) fe.firstID = PDFStringBytes(*id->AsArray()->GetItem(0)->AsString());
  auto* ref = trailer->GetValue("/Encrypt")->AsReference();
  std::string data = m.ToString();
  std::regex header("(^|[\\r\\n ])" + std::to_string(ref->ObjectNumber()) + " 0 obj");
  std::smatch match;
  std::string::const_iterator from = data.cbegin();
  int64_t at = -1;
  while (std::regex_search(from, data.cend(), match, header)) {
    at = (match[0].first - data.cbegin()) + match[1].length();
    from = match[0].second;
  }
  r.SetPosition(at);
  auto obj = r.ReadObject();
  fe.encrypt = CloneOf(*obj->AsIndirect()->DirectObject()->AsDict());
  return fe;
}

}  // namespace

// Our encryptor's /O, /U, /P and file key equal qpdf's for the same passwords, identifier and
// permissions; and our decryptor opens qpdf's files with both passwords.
TEST(PDFCryptQpdf, EncryptorAgreesWithQpdf) {
  SV_REQUIRE_JUDGES("qpdf");
  sv::test::TempDir tmp;
  using P = TzoUserPermissions;
  const struct {
    TzoPDFEncryptionLevel level;
    std::string owner, user;
    P permissions;
    std::vector<std::string> qpdfFlags;
  } cases[] = {
      {el40bit, "owner", "user", P::All(), {}},
      {el40bit, "master", "", P::All() - P({AllowPrint}), {"--print=n"}},
      {el40bit, "", "", P::All() - P({AllowModify, AllowCopy}), {"--modify=n", "--extract=n"}},
      {el128bit, "owner", "user", P::All(), {}},
      {el128bit, "o", "u", P::All() - P({AllowHighResPrint}), {"--print=low"}},
      {el128bit,
       "long owner password that runs over thirty-two bytes",
       "",
       P::All() - P({AllowAnnotation, AllowFormFill, AllowDocAssembly}),
       {"--annotate=n", "--form=n", "--assemble=n"}},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << n);
    auto s = Settings(c.level, c.owner, c.user, c.permissions);
    TzoPDFEncryption ours("Output1.pdf", "D:2024" + std::to_string(n), s);
    std::string in = tmp / ("in" + std::to_string(n) + ".pdf");
    std::string out = tmp / ("out" + std::to_string(n) + ".pdf");
    sv::test::WriteFile(in, SimplePdf(ours.GetFileID()));
    std::vector<std::string> argv = {"qpdf",      "--allow-weak-crypto",
                                     "--encrypt", c.user,
                                     c.owner,     c.level == el40bit ? "40" : "128"};
    argv.insert(argv.end(), c.qpdfFlags.begin(), c.qpdfFlags.end());
    if (c.level == el128bit) argv.push_back("--use-aes=n");
    argv.insert(argv.end(), {"--", in, out});
    auto run = sv::test::RunCommand(argv);
    ASSERT_EQ(run.exitCode, 0) << run.err;

    FileEncryption fe = ReadEncryption(out);
    ASSERT_EQ(fe.firstID, ours.GetFileID());
    std::string o = PDFStringBytes(*fe.encrypt->GetValue("/O")->AsString());
    std::string u = PDFStringBytes(*fe.encrypt->GetValue("/U")->AsString());
    EXPECT_EQ(Hex(o), Hex(ours.GetOwnerKey()));
    // Revision 3 fixes only the first 16 bytes of /U.
    size_t uLen = c.level == el40bit ? 32 : 16;
    EXPECT_EQ(Hex(u.substr(0, uLen)), Hex(ours.GetUserKey().substr(0, uLen)));
    EXPECT_EQ(fe.encrypt->GetValue("/P")->AsInteger()->Value(), ours.PermissionsToP());
    auto q = QpdfEncryption(out, c.owner.empty() ? c.user : c.owner);
    EXPECT_EQ(q["Encryption key"], Hex(ours.GetKey()));

    // Our decryptor on qpdf's file: both passwords open it, a wrong one does not.
    for (const std::string& pw : {c.owner, c.user}) {
      TzoPDFDecrypt d;
      d.SetFileID(fe.firstID);
      d.SetEncryptDict(*fe.encrypt);
      TzoPDFEncryptionSettings got;
      ASSERT_EQ(d.Authenticate(got, pw), 1) << pw;
      EXPECT_EQ(d.GetFileKey(), ours.GetKey());
    }
    TzoPDFDecrypt d;
    d.SetFileID(fe.firstID);
    d.SetEncryptDict(*fe.encrypt);
    TzoPDFEncryptionSettings got;
    if (!(c.owner.empty() && c.user.empty())) {
      EXPECT_EQ(d.Authenticate(got, "wrong"), 0);
    }
    ++n;
  }
}

// A password beyond ASCII goes into the key as its UTF-8 bytes, what readers here take from a
// user who types it: our /O, /U and file key equal qpdf's made from those bytes. The decryptor
// opens such a file, and one whose key holds the code page's own bytes (made on the original
// platform), with the password in the code page; an owner open gives the user password back in
// it.
TEST(PDFCryptQpdf, PasswordsBeyondAsciiGoIntoTheKeyAsUtf8) {
  SV_REQUIRE_JUDGES("qpdf");
  sv::test::TempDir tmp;
  const std::string user = "利用者", owner = "管理者";  // UTF-8
  const std::string userAnsi = platform::Utf8ToAnsi(user), ownerAnsi = platform::Utf8ToAnsi(owner);
  int n = 0;
  for (auto level : {el40bit, el128bit}) {
    for (bool utf8Key : {true, false}) {
      SCOPED_TRACE(testing::Message() << (level == el40bit ? "40" : "128") << " bits, "
                                      << (utf8Key ? "UTF-8" : "code page") << " key");
      TzoPDFEncryption ours("Output1.pdf", "D:2024" + std::to_string(n),
                            Settings(level, ownerAnsi, userAnsi, TzoUserPermissions::All()));
      const std::string in = tmp / ("in" + std::to_string(n) + ".pdf");
      const std::string out = tmp / ("out" + std::to_string(n++) + ".pdf");
      sv::test::WriteFile(in, SimplePdf(ours.GetFileID()));
      const std::string keyUser = utf8Key ? user : userAnsi, keyOwner = utf8Key ? owner : ownerAnsi;
      std::vector<std::string> argv = {
          "qpdf",   "--allow-weak-crypto",          "--password-mode=bytes", "--encrypt", keyUser,
          keyOwner, level == el40bit ? "40" : "128"};
      if (level == el128bit) argv.push_back("--use-aes=n");
      argv.insert(argv.end(), {"--", in, out});
      auto run = sv::test::RunCommand(argv);
      ASSERT_EQ(run.exitCode, 0) << run.err;
      FileEncryption fe = ReadEncryption(out);
      if (utf8Key) {
        EXPECT_EQ(Hex(PDFStringBytes(*fe.encrypt->GetValue("/O")->AsString())),
                  Hex(ours.GetOwnerKey()));
        EXPECT_EQ(QpdfEncryption(out, owner)["Encryption key"], Hex(ours.GetKey()));
      }
      TzoPDFDecrypt d;
      d.SetFileID(fe.firstID);
      d.SetEncryptDict(*fe.encrypt);
      TzoPDFEncryptionSettings s;
      ASSERT_EQ(d.Authenticate(s, ownerAnsi), 1);
      EXPECT_TRUE(d.OwnerAuthenticated());
      EXPECT_EQ(s.OwnerPassword(), ownerAnsi);
      EXPECT_EQ(s.UserPassword(), userAnsi);
      TzoPDFDecrypt u;
      u.SetFileID(fe.firstID);
      u.SetEncryptDict(*fe.encrypt);
      TzoPDFEncryptionSettings su;
      ASSERT_EQ(u.Authenticate(su, userAnsi), 1);
      EXPECT_FALSE(u.OwnerAuthenticated());
      TzoPDFEncryptionSettings sw;
      EXPECT_EQ(u.Authenticate(sw, platform::Utf8ToAnsi("利用")), 0);
    }
  }
  // A key that holds the padding's start 28 BF itself, made elsewhere: the owner open finds the
  // whole user password and gives it as it is.
  const std::string raw = std::string("ab") + "\x28\xBF" + "cd";
  TzoPDFEncryption ours("Output1.pdf", "raw", Settings(el128bit, "o", "", TzoUserPermissions()));
  sv::test::WriteFile(tmp / "raw-in.pdf", SimplePdf(ours.GetFileID()));
  ASSERT_EQ(sv::test::RunCommand({"qpdf", "--allow-weak-crypto", "--password-mode=bytes",
                                  "--encrypt", raw, "owner", "128", "--use-aes=n", "--",
                                  tmp / "raw-in.pdf", tmp / "raw.pdf"})
                .exitCode,
            0);
  FileEncryption fe = ReadEncryption(tmp / "raw.pdf");
  TzoPDFDecrypt d;
  d.SetFileID(fe.firstID);
  d.SetEncryptDict(*fe.encrypt);
  TzoPDFEncryptionSettings s;
  ASSERT_EQ(d.Authenticate(s, "owner"), 1);
  EXPECT_EQ(Hex(s.UserPassword()), Hex(raw));
}

TEST(PDFCrypt, PasswordKeyBytes) {
  const struct {
    std::string given, key;
  } cases[] = {
      {"", ""},
      {"owner", "owner"},
      {" ~", " ~"},
      {platform::Utf8ToAnsi("管理者"), "管理者"},
      {platform::Utf8ToAnsi("abcｱ"), "abcｱ"},  // a half-width katakana: one byte in the code page
      {platform::Utf8ToAnsi("・"), "・"},      // 81 45, the character undefined pairs read as
      // No text of the code page: an undefined pair, a lead byte at the end, a lead byte before
      // a byte that cannot follow it. Such bytes stay as they are.
      {"\x85\x40", "\x85\x40"},
      {"caf\xE9", "caf\xE9"},
      {"\xE9\x31", "\xE9\x31"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Hex(PasswordKeyBytes(c.given)), Hex(c.key)) << Hex(c.given);
}

// A file encrypted by hand with our encryptor (its content stream and /Info title) opens in qpdf
// and poppler with both passwords.
TEST(PDFCryptQpdf, HandEncryptedFileOpensInOtherReaders) {
  SV_REQUIRE_JUDGES("qpdf", "pdftotext");
  sv::test::TempDir tmp;
  for (auto level : {el40bit, el128bit}) {
    auto s = Settings(level, "owner", "user", TzoUserPermissions::All());
    TzoPDFEncryption e("Output1.pdf", "D:20240101000000", s);
    const std::string content = "BT /F1 24 Tf 20 100 Td (Encrypted hello) Tj ET";
    const std::string title = "Secret title";
    std::vector<std::string> objs = {
        "<< /Type /Catalog /Pages 3 0 R >>",
        "<< /Title <" + StrToHex(e.EncryptData(title, 2, 0)) + "> >>",
        "<< /Type /Pages /Kids [4 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 3 0 R /MediaBox [0 0 300 200] /Contents 5 0 R "
        "/Resources << /Font << /F1 6 0 R >> >> >>",
        "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" +
            e.EncryptData(content, 5, 0) + "\nendstream",
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
        "<< /Filter /Standard /O <" + StrToHex(e.GetOwnerKey()) + "> /U <" +
            StrToHex(e.GetUserKey()) + "> /P " + std::to_string(e.PermissionsToP()) +
            (level == el40bit ? " /V 1 /R 2 /Length 40" : " /V 2 /R 3 /Length 128") + " >>"};
    std::string pdf = "%PDF-1.4\n";
    std::vector<size_t> offs;
    for (size_t i = 0; i < objs.size(); ++i) {
      offs.push_back(pdf.size());
      pdf += std::to_string(i + 1) + " 0 obj\n" + objs[i] + "\nendobj\n";
    }
    size_t xref = pdf.size();
    pdf += "xref\n0 " + std::to_string(objs.size() + 1) + "\n0000000000 65535 f \n";
    for (size_t o : offs)
      pdf += rtl::Format("%.10d 00000 n \n", static_cast<int64_t>(o));
    std::string id = "<" + StrToHex(e.GetFileID()) + ">";
    pdf += "trailer\n<< /Size " + std::to_string(objs.size() + 1) +
           " /Root 1 0 R /Info 2 0 R /Encrypt 7 0 R /ID [" + id + id + "] >>\nstartxref\n" +
           std::to_string(xref) + "\n%%EOF\n";
    std::string path = tmp / (level == el40bit ? "hand40.pdf" : "hand128.pdf");
    sv::test::WriteFile(path, pdf);

    for (const std::string pw : {"owner", "user"}) {
      const std::string flag = pw == "owner" ? "-opw" : "-upw";
      auto check = sv::test::RunCommand({"qpdf", "--check", "--password=" + pw, path});
      EXPECT_EQ(check.exitCode, 0) << pw << "\n" << check.out << check.err;
      auto text = sv::test::RunCommand({"pdftotext", flag, pw, path, "-"});
      EXPECT_NE(text.out.find("Encrypted hello"), std::string::npos) << pw << text.err;
      auto info = sv::test::RunCommand({"pdfinfo", flag, pw, path});
      EXPECT_NE(info.out.find(title), std::string::npos) << info.out << info.err;
    }
    EXPECT_EQ(QpdfEncryption(path, "owner")["Encryption key"], Hex(e.GetKey()));
    EXPECT_NE(sv::test::RunCommand({"qpdf", "--check", "--password=nope", path}).exitCode, 0);
  }
}

// The RC4 files of the corpus: the file key we find equals qpdf's, for every password the name
// gives; a wrong password is refused; AES files are refused with the encryption error.
TEST(PDFCryptCorpus, KeysEqualQpdfAndAesIsRefused) {
  SV_REQUIRE_CORPUS();
  SV_REQUIRE_JUDGES("qpdf");
  struct File {
    std::string path;
    std::vector<std::string> passwords;
  };
  std::vector<File> files;
  std::vector<std::string> aes;
  for (std::string sub : {"encrypted", "peer"}) {
    for (const std::string& path : sv::test::CorpusFiles(sub)) {
      std::string name = rtl::ExtractFileName(path);
      std::string plain = sv::test::ReadFile(path);
      if (plain.find("/Encrypt") == std::string::npos) continue;
      if (name.rfind("aes", 0) == 0 || name.find("V4") != std::string::npos ||
          name.find("R6") != std::string::npos) {
        aes.push_back(path);
        continue;
      }
      std::vector<std::string> pws;
      std::smatch m;
      if (std::regex_search(name, m, std::regex("[uU]=([a-z]*)")))
        pws.push_back(m[1]);
      else
        pws.push_back("");
      if (std::regex_search(name, m, std::regex("[oO]=([a-z]+)"))) pws.push_back(m[1]);
      files.push_back({path, pws});
    }
  }
  ASSERT_GE(files.size(), 8u);
  ASSERT_GE(aes.size(), 4u);
  int opened = 0;
  for (const auto& f : files) {
    SCOPED_TRACE(f.path);
    FileEncryption fe = ReadEncryption(f.path);
    for (const auto& pw : f.passwords) {
      auto q = QpdfEncryption(f.path, pw);
      if (q["Encryption key"].empty()) continue;  // qpdf does not open it with this one either
      TzoPDFDecrypt d;
      d.SetFileID(fe.firstID);
      d.SetEncryptDict(*fe.encrypt);
      TzoPDFEncryptionSettings s;
      ASSERT_EQ(d.Authenticate(s, pw), 1) << pw;
      EXPECT_EQ(Hex(d.GetFileKey()), q["Encryption key"]) << pw;
      EXPECT_EQ(d.Revision(), std::stoi(q["R"]));
      EXPECT_EQ(d.OwnerAuthenticated(), q.count("owner") == 1) << pw;
      ++opened;
    }
    TzoPDFDecrypt d;
    d.SetFileID(fe.firstID);
    d.SetEncryptDict(*fe.encrypt);
    TzoPDFEncryptionSettings s;
    if (!f.passwords[0].empty()) {
      EXPECT_EQ(d.Authenticate(s, "certainly wrong"), 0);
    }
  }
  EXPECT_GE(opened, 15);
  for (const auto& path : aes) {
    SCOPED_TRACE(path);
    FileEncryption fe = ReadEncryption(path);
    try {
      CheckSupportedEncryption(*fe.encrypt);
      ADD_FAILURE() << "not refused";
    } catch (const EUnsupportedEncryption& e) {
      EXPECT_EQ(e.Message().rfind("Unsupported encryption (/Filter /Standard /V ", 0), 0u)
          << e.Message();
    }
    TzoPDFDecrypt d;
    EXPECT_THROW(d.SetEncryptDict(*fe.encrypt), EUnsupportedEncryption);
  }
}
