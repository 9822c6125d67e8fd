// Streams, string lists and the component root of the class library, as the system's code uses
// them. Positions and sizes are 64-bit.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/RtlSysUtils.h"

namespace rtl {

// Root of the objects that events name as their sender.
class TObject {
 public:
  virtual ~TObject() = default;
};

using TNotifyEvent = std::function<void(TObject* sender)>;

class TPersistent : public TObject {};

enum class TOperation { opInsert, opRemove };

// Component state flags.
enum TComponentStateFlag : uint32_t { csLoading = 1, csDesigning = 2, csDestroying = 4 };

// A component has an owner and a name. The owner lists the components that name it (in creation
// order) but does not free them: whoever made a component owns it (a form holds its controls as
// members). A component that goes tells its free-notification partners and its owner, and the
// owner passes that on to all its components, as the class library does.
class TComponent : public TPersistent {
 public:
  explicit TComponent(TComponent* owner = nullptr);
  ~TComponent() override;
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  TComponent* Owner() const { return owner_; }
  const std::string& Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }

  int ComponentCount() const { return static_cast<int>(components_.size()); }
  TComponent* Components(int index) const;  // EListError for a bad index

  uint32_t ComponentState() const { return state_; }
  void SetDesigning(bool designing);

  // Both components get Notification(other, opRemove) when the other one is destroyed.
  void FreeNotification(TComponent* component);
  void RemoveFreeNotification(TComponent* component);
  // Removal of a partner or of a component of this owner; passed on to the owned components.
  virtual void Notification(TComponent* component, TOperation operation);
  // Called once the owner has set up all its components (the end of reading a form).
  virtual void Loaded();

 protected:
  void SetLoading(bool loading);
  // Marks the component as going; destructors of derived classes may call it first.
  void Destroying() { state_ |= csDestroying; }

 private:
  TComponent* owner_;
  std::string name_;
  uint32_t state_ = 0;
  std::vector<TComponent*> components_;
  std::vector<TComponent*> freeNotifies_;
};

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream : public TObject {
 public:
  // Moves up to count bytes; returns the number moved (0 at the end of the data).
  virtual int64_t Read(void* buffer, int64_t count) = 0;
  virtual int64_t Write(const void* buffer, int64_t count) = 0;
  // Returns the new position.
  virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;

  int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
  void SetPosition(int64_t position) { Seek(position, TSeekOrigin::soBeginning); }
  virtual int64_t Size();
  virtual void SetSize(int64_t size);

  // Whole transfers: EReadError "Stream read error" / EWriteError "Stream write error" when short.
  void ReadBuffer(void* buffer, int64_t count);
  void WriteBuffer(const void* buffer, int64_t count);
  void WriteString(std::string_view bytes) {
    WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  }
  // Copies count bytes from source's position; count 0 copies all of source from its start.
  int64_t CopyFrom(TStream& source, int64_t count);
};

// Bytes in memory; grows on write.
class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::string_view bytes);

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override { return static_cast<int64_t>(data_.size()); }
  void SetSize(int64_t size) override;

  uint8_t* Memory() { return data_.data(); }
  const uint8_t* Memory() const { return data_.data(); }
  void Clear();
  void Reserve(int64_t capacity);
  // The whole content as a byte string / replaced by one; the position is kept / reset to 0.
  std::string ToString() const { return std::string(data_.begin(), data_.end()); }
  void Assign(std::string_view bytes);
  std::vector<uint8_t>& Buffer() { return data_; }
  // The position without a virtual call, for readers that take the bytes one at a time; setting
  // it is Seek from the beginning (never before the start).
  int64_t CurrentPosition() const { return position_; }
  void SetCurrentPosition(int64_t position) { position_ = position < 0 ? 0 : position; }

  void LoadFromStream(TStream& source);  // the whole of source from its start; position 0
  void LoadFromFile(const std::string& fileName);
  void SaveToStream(TStream& dest) const;
  void SaveToFile(const std::string& fileName) const;

 private:
  std::vector<uint8_t> data_;
  int64_t position_ = 0;
};

// A stream over an open file descriptor, which it does not own. name is for messages.
class THandleStream : public TStream {
 public:
  explicit THandleStream(int handle, std::string name = {}) : fd_(handle), name_(std::move(name)) {}
  THandleStream(const THandleStream&) = delete;
  THandleStream& operator=(const THandleStream&) = delete;

  int Handle() const { return fd_; }
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  // A regular file's size from the descriptor, without moving; otherwise as TStream finds it.
  int64_t Size() override;
  // The bytes of a regular file that hold data, the holes of a sparse file left out (Size where
  // the file system does not tell them apart); otherwise Size. The position does not move.
  int64_t DataSize();
  void SetSize(int64_t size) override;
  // Flushes the data to the disk; EWriteError when that fails.
  void Flush();

 protected:
  int fd_;
  std::string name_;
};

// A file on disk. File names are byte strings in the ANSI code page, converted by the platform.
class TFileStream : public THandleStream {
 public:
  enum Mode : uint32_t {
    fmOpenRead = 0x0000,
    fmOpenWrite = 0x0001,
    fmOpenReadWrite = 0x0002,
    fmShareDenyNone = 0x0040,
    // Opens without waiting (a FIFO without a writer, a device) and takes only a regular file.
    fmRegularOnly = 0x0100,
    fmCreate = 0xFF00,
  };
  // EFOpenError "Cannot open file "%s". <reason>" or EFCreateError "Cannot create file ...".
  // rights: the access mode of a file that fmCreate makes (less the file mode mask).
  TFileStream(const std::string& fileName, uint32_t mode, uint32_t rights = 0666);
  ~TFileStream() override;

  const std::string& FileName() const { return name_; }
};

// Lines of text with an optional object per line (not owned).
class TStringList : public TPersistent {
 public:
  int Count() const { return static_cast<int>(items_.size()); }
  int Add(std::string s, TObject* obj = nullptr);
  void Insert(int index, std::string s, TObject* obj = nullptr);
  void Delete(int index);
  void Clear() { items_.clear(); }
  // EListError "List index out of bounds (%d)" for a bad index.
  const std::string& Strings(int index) const;
  void SetStrings(int index, std::string s);
  TObject* Objects(int index) const;
  void SetObjects(int index, TObject* obj);
  int IndexOf(std::string_view s) const;  // exact comparison; -1 when absent

  // Lines joined with CR LF after each; SetText splits at CR LF, CR or LF.
  std::string Text() const;
  void SetText(std::string_view text);
  void LoadFromFile(const std::string& fileName);  // EFOpenError when it cannot be read
  void SaveToFile(const std::string& fileName) const;

 private:
  struct Item {
    std::string text;
    TObject* object;
  };
  const Item& At(int index) const;
  std::vector<Item> items_;
};

}  // namespace rtl
