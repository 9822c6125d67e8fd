// The standard security handler of PDF, revisions 2 and 3 (RC4 with keys of 40 to 128 bits), its
// two primitives MD5 and RC4, and the caller's encryption settings.
//
//   TzoPDFEncryptionSettings  what the caller wants: on/off, key length, passwords, permissions
//   TzoPDFEncryption          the writing side: file identifier, /O, /U, /P, file key, encryption
//   TzoPDFDecrypt             the reading side: password checks against /O, /U, /P and /ID, and
//                             the decryption of strings and streams
//
// Only /Filter /Standard with /V 1 or 2 and /R 2 or 3 is handled; CheckSupportedEncryption refuses
// everything else (AES, crypt filters, other handlers) before any byte is decrypted.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/RtlClasses.h"
#include "platform/RtlSysUtils.h"

class TzoPDFDecrypt;
class TzoPDFDictObject;
class TzoPDFStringObject;

// An /Encrypt dictionary of a kind this handler does not open: "Unsupported encryption (%s)",
// naming the /Filter, /V and /R found.
class EUnsupportedEncryption : public rtl::Exception {
 public:
  using rtl::Exception::Exception;
};

// ---- MD5 (RFC 1321) ----

struct TMD5Context {
  uint32_t State[4];
  uint32_t Count[2];  // bits processed, low word first
  uint8_t Buffer[64];
};

using TMD5Digest = std::array<uint8_t, 16>;

void Md5Init(TMD5Context& context);
void Md5Update(TMD5Context& context, const void* bytes, size_t length);
inline void Md5Update(TMD5Context& context, std::span<const uint8_t> bytes) {
  Md5Update(context, bytes.data(), bytes.size());
}
// Pads, writes the digest and clears the whole context to zero.
void Md5Final(TMD5Context& context, TMD5Digest& digest);

// The digest of one buffer.
TMD5Digest Md5(const void* bytes, size_t length);
inline TMD5Digest Md5(std::string_view bytes) {
  return Md5(bytes.data(), bytes.size());
}

// ---- RC4 ----

// RC4 over length bytes of source into destination (the two may be the same buffer), with the key
// schedule of key set up for this one call: every buffer starts the keystream afresh, so no
// keystream is ever used twice by accident. A key of 0 or more than 256 bytes raises
// rtl::Exception "RC4: Invalid key length" before anything is written.
void Rc4Crypt(std::span<const uint8_t> key, const void* source, void* destination, size_t length);
// The same over a byte string.
std::string Rc4(std::span<const uint8_t> key, std::string_view data);

// The RC4 key of one object under fileKey (at most 16 bytes): MD5 of the file key, three bytes of
// objectNumber and two of generation (low bytes first), cut to the file key's length + 5 bytes (at
// most 16). Returns its length.
size_t ObjectKeyOf(std::span<const uint8_t> fileKey, int32_t objectNumber, int32_t generation,
                   TMD5Digest& key);

// ---- Settings ----

enum TzoPDFEncryptionLevel : uint8_t { el40bit = 0, el128bit = 1 };

enum TzoUserPermissionsType : uint8_t {
  AllowCopy = 0,
  AllowModify,
  AllowPrint,
  AllowAnnotation,
  AllowFormFill,
  AllowAccessibility,
  AllowDocAssembly,
  AllowHighResPrint,
};

// A set of TzoUserPermissionsType: bit i stands for ordinal i.
class TzoUserPermissions {
 public:
  constexpr TzoUserPermissions() = default;
  constexpr TzoUserPermissions(std::initializer_list<TzoUserPermissionsType> items) {
    for (TzoUserPermissionsType t : items)
      Include(t);
  }
  static constexpr TzoUserPermissions FromBits(uint8_t bits) {
    TzoUserPermissions p;
    p.bits_ = bits;
    return p;
  }
  static constexpr TzoUserPermissions All() { return FromBits(0xFF); }

  constexpr uint8_t Bits() const { return bits_; }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr bool Contains(TzoUserPermissionsType t) const { return (bits_ >> t) & 1; }
  constexpr void Include(TzoUserPermissionsType t) { bits_ |= static_cast<uint8_t>(1u << t); }
  constexpr void Exclude(TzoUserPermissionsType t) { bits_ &= static_cast<uint8_t>(~(1u << t)); }

  friend constexpr TzoUserPermissions operator+(TzoUserPermissions a, TzoUserPermissions b) {
    return FromBits(a.bits_ | b.bits_);
  }
  friend constexpr TzoUserPermissions operator-(TzoUserPermissions a, TzoUserPermissions b) {
    return FromBits(a.bits_ & static_cast<uint8_t>(~b.bits_));
  }
  friend constexpr TzoUserPermissions operator*(TzoUserPermissions a, TzoUserPermissions b) {
    return FromBits(a.bits_ & b.bits_);
  }
  friend constexpr bool operator==(TzoUserPermissions, TzoUserPermissions) = default;

 private:
  uint8_t bits_ = 0;
};

// The caller's encryption choice. Every setter raises rtl::Exception "User cannot change
// encryption settings" (and changes nothing) once CanChange is false; OwnerPassword then reads
// empty. Only TzoPDFDecrypt::Authenticate clears CanChange (after an open with the user password).
// Every setter that succeeds counts in Changes, whether or not the value differs.
class TzoPDFEncryptionSettings : public rtl::TPersistent {
 public:
  TzoPDFEncryptionSettings() = default;

  bool CanChange() const { return canChange_; }

  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value);
  TzoPDFEncryptionLevel Level() const { return level_; }
  void SetLevel(TzoPDFEncryptionLevel value);
  const std::string& OwnerPassword() const;
  void SetOwnerPassword(const std::string& value);
  const std::string& UserPassword() const { return userPassword_; }
  void SetUserPassword(const std::string& value);
  TzoUserPermissions UserPermissions() const { return userPermissions_; }
  void SetUserPermissions(TzoUserPermissions value);
  // The number of setter calls that succeeded so far.
  uint64_t Changes() const { return changes_; }

  // Defaults of the published properties (a value equal to its default is not streamed).
  static constexpr bool kDefaultEnabled = false;
  static constexpr TzoPDFEncryptionLevel kDefaultLevel = el128bit;
  static constexpr TzoUserPermissions kDefaultUserPermissions = TzoUserPermissions::All();

 private:
  friend class TzoPDFEncryption;
  friend class TzoPDFDecrypt;
  void CheckCanChange() const;

  bool canChange_ = true;
  bool enabled_ = false;
  TzoPDFEncryptionLevel level_ = el128bit;
  std::string ownerPassword_;
  std::string userPassword_;
  TzoUserPermissions userPermissions_ = TzoUserPermissions::All();
  uint64_t changes_ = 0;
};

// ---- Handler checks ----

// Raises EUnsupportedEncryption unless the (resolved) /Encrypt dictionary names /Filter
// /Standard with /V 1 or 2 and /R 2 or 3. The message names what was found, e.g.
// "Unsupported encryption (/Filter /Standard /V 4 /R 4)".
void CheckSupportedEncryption(const TzoPDFDictObject& encrypt);

// The bytes a string object stands for: the digits of a hex string paired into bytes, the text
// of a literal string between its delimiters.
std::string PDFStringBytes(const TzoPDFStringObject& s);

// The bytes that a password (text in the ANSI code page) puts into an RC4 key: an ASCII password
// as it is, any other as its UTF-8 bytes, which readers on this system take from a user who types
// it; bytes that are no text of the code page (a password found in a file made elsewhere) as they
// are. The standard defines RC4 passwords for PDFDocEncoding text only.
std::string PasswordKeyBytes(std::string_view password);

// ---- Handlers ----

// What both sides share: the revision and key length, the file identifier, /O, /U, the file key
// and the permissions.
class TzoBasePDFCrypt {
 public:
  static constexpr size_t kMaxKeyLength = 16;

  TzoBasePDFCrypt() = default;
  TzoBasePDFCrypt(const TzoBasePDFCrypt&) = delete;
  TzoBasePDFCrypt& operator=(const TzoBasePDFCrypt&) = delete;

  // The bytes of the file identifier, /O and /U (32 bytes each).
  std::string GetFileID() const;
  std::string GetOwnerKey() const;
  std::string GetUserKey() const;

  // 0: 40-bit (revision 2, 5-byte key); 1: 128-bit (revision 3, 16-byte key). Other values raise
  // EUnsupportedEncryption.
  void SetLevel(uint8_t level);
  // 0 when the key has 5 bytes, else 1.
  uint8_t Level() const { return keyLength_ == 5 ? 0 : 1; }
  int32_t Revision() const { return revision_; }
  // Bytes of the file key: 5 to 16 (0 while a revision 3 file named no usable /Length and no
  // password has been accepted yet).
  size_t KeyLength() const { return keyLength_; }
  TzoUserPermissions Permissions() const { return permissions_; }

  // The first min(length, 32) bytes of password followed by the start of the standard padding.
  static std::array<uint8_t, 32> PadPassword(std::string_view password);
  // The standard 32-byte padding string.
  static const std::array<uint8_t, 32>& PaddingString();

 protected:
  // ObjectKeyOf the file key. The last key is kept, so the strings of one object share one
  // computation (the kept key makes this const function unsafe to share between threads).
  size_t ObjectKey(int32_t objectNumber, int32_t generation, TMD5Digest& key) const;
  // RC4 over length bytes with the key of (objectNumber, generation).
  void CryptObject(const void* source, void* destination, size_t length, int32_t objectNumber,
                   int32_t generation) const;
  // The file key in use: n = KeyLength() bytes of fileKey_.
  std::span<const uint8_t> FileKeyBytes() const { return {fileKey_.data(), keyLength_}; }
  void SetFileKey(std::span<const uint8_t> key);
  // Forgets the kept object key (after the key or its length changed).
  void InvalidateObjectKey() { cacheValid_ = false; }

  int32_t revision_ = 3;
  size_t keyLength_ = 16;
  std::vector<uint8_t> fileID_;
  std::array<uint8_t, 32> o_{};
  std::array<uint8_t, 32> u_{};
  std::array<uint8_t, 16> fileKey_{};
  TzoUserPermissions permissions_ = TzoUserPermissions::All();

 private:
  mutable bool cacheValid_ = false;
  mutable int32_t cacheNumber_ = 0;
  mutable int32_t cacheGeneration_ = 0;
  mutable TMD5Digest cacheKey_{};
};

// The encrypting side, complete after construction: revision 2 with a 5-byte key for el40bit,
// revision 3 with a 16-byte key for el128bit.
class TzoPDFEncryption : public TzoBasePDFCrypt {
 public:
  // FileID := MD5 of seed1 followed by seed2; then the file key, /O and /U from the settings'
  // passwords (their PasswordKeyBytes), level and permissions (the owner password is the stored
  // one, also when the settings hide it). An empty owner password stands for the user password.
  TzoPDFEncryption(std::string_view seed1, std::string_view seed2,
                   const TzoPDFEncryptionSettings& settings);
  // The handler of a file that opened (opened.HasFileKey()), kept: its revision, key length, file
  // key, /O, /U, /P and file identifier, so that the passwords that open it open the output; the
  // second identifier (GetUpdateID) is MD5 of seed1 followed by seed2.
  TzoPDFEncryption(const TzoPDFDecrypt& opened, std::string_view seed1, std::string_view seed2);

  // The second string of the output's /ID: the file identifier, or for a kept handler a new one.
  std::string GetUpdateID() const;

  // The /P value: -64 (40-bit) or -3904 (128-bit) plus the bits of the permissions granted; for
  // a kept handler the file's own /P.
  int32_t PermissionsToP() const;
  // RC4 over length bytes with the key of (objectNumber, generation); source and destination may
  // be the same buffer.
  void EncryptData(const void* source, void* destination, size_t length, int32_t objectNumber,
                   int32_t generation) const;
  std::string EncryptData(std::string_view data, int32_t objectNumber, int32_t generation) const;

  // The file key (KeyLength() bytes).
  std::string GetKey() const;

 private:
  std::string ownerPassword_;
  std::string userPassword_;
  std::array<uint8_t, 32> paddedOwner_{};
  std::array<uint8_t, 32> paddedUser_{};
  std::vector<uint8_t> updateID_;
  bool keptP_ = false;
  int32_t p_ = 0;
};

// The decrypting side. Filled from the file (SetEncryptDict, or the single setters), then
// Authenticate with a password; once a password matched, FileKey decrypts strings and streams.
class TzoPDFDecrypt : public TzoBasePDFCrypt {
 public:
  TzoPDFDecrypt() = default;

  // Everything from a resolved /Encrypt dictionary: CheckSupportedEncryption, then /R and /Length
  // (SetRevision), /O, /U and /P. EUnsupportedEncryption, "Invalid Owner Key." / "Invalid User
  // Key." (rtl::Exception), EInvalidPermission for a /P that is no integer.
  void SetEncryptDict(const TzoPDFDictObject& encrypt);

  // Revision 2 (always a 5-byte key) or 3 (keyLengthBits / 8 bytes for 40 to 128 bits in steps
  // of 8; any other or a missing length, given as 0, is tried as 40 and then as 128 bits when a
  // password is checked). Other revisions raise EUnsupportedEncryption.
  void SetRevision(int32_t revision, int32_t keyLengthBits);

  // The first /ID string's bytes, whatever their number.
  void SetFileID(std::string_view bytes);
  // The /O and /U bytes as read; anything but 32 bytes raises rtl::Exception "Invalid Owner Key."
  // / "Invalid User Key." and changes nothing.
  void SetOwnerKey(std::string_view bytes);
  void SetUserKey(std::string_view bytes);
  // The low 32 bits of value, as a signed number (4294967292 and -4 are the same).
  void SetP(int64_t value);
  int32_t P() const { return p_; }
  // Removes from Permissions what /P does not grant (the upper four from revision 3 on).
  void ApplyP();

  // 0 when password is the owner password (FileKey then set), -1 otherwise. userPassword gets the
  // user password found through /O: the decrypted bytes less their tail of padding.
  int32_t CheckOwnerPassword(std::string_view password, std::string& userPassword);
  // 0 when password is the user password (FileKey then set), -1 otherwise (FileKey unchanged).
  int32_t CheckUserPassword(std::string_view password);
  // 1 when password opens the file as owner or as user, 0 when it is refused (settings and
  // FileKey unchanged then). A password beyond ASCII is tried as its key bytes (PasswordKeyBytes)
  // and then as its own bytes, the owner checks before the user checks. An owner open fills
  // settings with both passwords (the given one and the user password found through /O, in the
  // ANSI code page when the key bytes were UTF-8), all permissions and the level; a user open
  // fills them with the user password, a generated owner password and the permissions /P grants,
  // and then makes settings read-only.
  int32_t Authenticate(TzoPDFEncryptionSettings& settings, std::string_view password);

  bool OwnerAuthenticated() const { return ownerAuthenticated_; }
  // True once a password matched.
  bool HasFileKey() const { return hasFileKey_; }
  // The file key found by the last successful check (KeyLength() bytes).
  std::string GetFileKey() const;

  // Replaces the first length bytes of stream by their decryption with the key of
  // (objectNumber, generation); the stream's size stays and it is left at its end.
  void DecryptStream(rtl::TMemoryStream& stream, int64_t length, int32_t objectNumber,
                     int32_t generation) const;
  // Decrypts length bytes; source and destination may be the same buffer.
  void DecryptString(const void* source, void* destination, size_t length, int32_t objectNumber,
                     int32_t generation) const;

  // True when text is not empty, starts with "<" and ends with ">".
  static bool IsHexDelimited(std::string_view text);

  // The owner password given to a file opened with its user password: a fixed word, the local
  // date and time as fourteen digits and a number from the system's cryptographic random source.
  static std::string GenerateOwnerPassword();

 private:
  // CheckUserPassword over already padded bytes with the key length n.
  bool MatchUser(const std::array<uint8_t, 32>& padded, size_t n,
                 std::array<uint8_t, 16>& key) const;
  bool CheckPadded(const std::array<uint8_t, 32>& padded);

  int32_t p_ = 0;
  bool ownerAuthenticated_ = false;
  bool hasFileKey_ = false;
};
