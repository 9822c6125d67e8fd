#include "platform/RtlClasses.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#include "platform/CodePage.h"
#include "platform/FileSystem.h"

namespace rtl {

// ---- TComponent ----

TComponent::TComponent(TComponent* owner) : owner_(owner) {
  if (owner_) owner_->components_.push_back(this);
}

TComponent::~TComponent() {
  Destroying();
  std::vector<TComponent*> partners;
  partners.swap(freeNotifies_);
  for (TComponent* p : partners) {
    auto& list = p->freeNotifies_;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
  }
  for (TComponent* p : partners)
    p->Notification(this, TOperation::opRemove);
  for (TComponent* c : components_)
    c->owner_ = nullptr;
  components_.clear();
  if (owner_) {
    auto& list = owner_->components_;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
    owner_->Notification(this, TOperation::opRemove);
  }
}

TComponent* TComponent::Components(int index) const {
  if (index < 0 || index >= ComponentCount())
    throw EListError(Format("List index out of bounds (%d)", index));
  return components_[static_cast<size_t>(index)];
}

void TComponent::SetDesigning(bool designing) {
  if (designing)
    state_ |= csDesigning;
  else
    state_ &= ~static_cast<uint32_t>(csDesigning);
}

void TComponent::SetLoading(bool loading) {
  if (loading)
    state_ |= csLoading;
  else
    state_ &= ~static_cast<uint32_t>(csLoading);
}

void TComponent::FreeNotification(TComponent* component) {
  if (!component || component == this) return;
  if (std::find(freeNotifies_.begin(), freeNotifies_.end(), component) == freeNotifies_.end())
    freeNotifies_.push_back(component);
  auto& other = component->freeNotifies_;
  if (std::find(other.begin(), other.end(), this) == other.end()) other.push_back(this);
}

void TComponent::RemoveFreeNotification(TComponent* component) {
  if (!component) return;
  freeNotifies_.erase(std::remove(freeNotifies_.begin(), freeNotifies_.end(), component),
                      freeNotifies_.end());
  auto& other = component->freeNotifies_;
  other.erase(std::remove(other.begin(), other.end(), this), other.end());
}

void TComponent::Notification(TComponent* component, TOperation operation) {
  if (operation == TOperation::opRemove && component) RemoveFreeNotification(component);
  // A component may go while the notice is passed on: walk a copy and skip the ones gone.
  std::vector<TComponent*> owned = components_;
  for (TComponent* c : owned) {
    if (std::find(components_.begin(), components_.end(), c) != components_.end())
      c->Notification(component, operation);
  }
}

void TComponent::Loaded() {
  SetLoading(false);
}

// ---- TStream ----

int64_t TStream::Size() {
  int64_t pos = Seek(0, TSeekOrigin::soCurrent);
  int64_t end = Seek(0, TSeekOrigin::soEnd);
  Seek(pos, TSeekOrigin::soBeginning);
  return end;
}

void TStream::SetSize(int64_t) {
  throw EStreamError("Stream size cannot be changed");
}

void TStream::ReadBuffer(void* buffer, int64_t count) {
  if (count > 0 && Read(buffer, count) != count) throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
  if (count > 0 && Write(buffer, count) != count) throw EWriteError("Stream write error");
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  constexpr int64_t kChunk = 1 << 16;
  std::vector<uint8_t> buf(static_cast<size_t>(std::min(count, kChunk)));
  int64_t left = count;
  while (left > 0) {
    int64_t n = std::min(left, kChunk);
    source.ReadBuffer(buf.data(), n);
    WriteBuffer(buf.data(), n);
    left -= n;
  }
  return count;
}

// ---- TMemoryStream ----

TMemoryStream::TMemoryStream(std::string_view bytes) : data_(bytes.begin(), bytes.end()) {}

int64_t TMemoryStream::Read(void* buffer, int64_t count) {
  if (count <= 0 || position_ >= Size()) return 0;
  int64_t n = std::min(count, Size() - position_);
  std::memcpy(buffer, data_.data() + position_, static_cast<size_t>(n));
  position_ += n;
  return n;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  if (position_ > std::numeric_limits<int64_t>::max() - count) return 0;
  int64_t end = position_ + count;
  if (end > Size()) {
    if (static_cast<uint64_t>(end) > data_.max_size()) return 0;
    // Bytes past the end are appended, not zero-filled first and then overwritten.
    if (position_ > Size()) data_.resize(static_cast<size_t>(position_));
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    const size_t inside = static_cast<size_t>(Size() - position_);
    if (inside > 0) std::memcpy(data_.data() + position_, bytes, inside);
    data_.insert(data_.end(), bytes + inside, bytes + count);
  } else {
    std::memcpy(data_.data() + position_, buffer, static_cast<size_t>(count));
  }
  position_ = end;
  return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
  int64_t base = origin == TSeekOrigin::soBeginning ? 0
                 : origin == TSeekOrigin::soCurrent ? position_
                                                    : Size();
  // Positions beyond the end are allowed (a later write fills the gap with zeros); before the
  // start they are not.
  if (offset < 0 && base < -offset)
    position_ = 0;
  else if (offset > 0 && base > std::numeric_limits<int64_t>::max() - offset)
    position_ = std::numeric_limits<int64_t>::max();
  else
    position_ = base + offset;
  return position_;
}

void TMemoryStream::SetSize(int64_t size) {
  if (size < 0) size = 0;
  data_.resize(static_cast<size_t>(size));
  if (position_ > size) position_ = size;
}

void TMemoryStream::Clear() {
  data_.clear();
  data_.shrink_to_fit();
  position_ = 0;
}

void TMemoryStream::Reserve(int64_t capacity) {
  if (capacity > 0) data_.reserve(static_cast<size_t>(capacity));
}

void TMemoryStream::Assign(std::string_view bytes) {
  data_.assign(bytes.begin(), bytes.end());
  position_ = 0;
}

void TMemoryStream::LoadFromStream(TStream& source) {
  source.SetPosition(0);
  int64_t n = source.Size();
  data_.resize(static_cast<size_t>(n));
  source.ReadBuffer(data_.data(), n);
  position_ = 0;
}

void TMemoryStream::LoadFromFile(const std::string& fileName) {
  TFileStream f(fileName, TFileStream::fmOpenRead | TFileStream::fmShareDenyNone);
  LoadFromStream(f);
}

void TMemoryStream::SaveToStream(TStream& dest) const {
  dest.WriteBuffer(data_.data(), static_cast<int64_t>(data_.size()));
}

void TMemoryStream::SaveToFile(const std::string& fileName) const {
  TFileStream f(fileName, TFileStream::fmCreate);
  SaveToStream(f);
}

// ---- TFileStream ----

TFileStream::TFileStream(const std::string& fileName, uint32_t mode, uint32_t rights)
    : THandleStream(-1, fileName) {
  std::string osName = platform::OsPath(fileName);
  if (mode == fmCreate || (mode & 0xFF00) == fmCreate) {
    fd_ =
        ::open(osName.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, static_cast<mode_t>(rights));
    if (fd_ < 0)
      throw EFCreateError("Cannot create file \"" + fileName + "\". " + std::strerror(errno));
    return;
  }
  int flags = O_CLOEXEC;
  switch (mode & 0x3) {
    case fmOpenWrite:
      flags |= O_WRONLY;
      break;
    case fmOpenReadWrite:
      flags |= O_RDWR;
      break;
    default:
      flags |= O_RDONLY;
  }
  const bool regularOnly = (mode & fmRegularOnly) != 0;
  if (regularOnly) flags |= O_NONBLOCK | O_NOCTTY;
  fd_ = ::open(osName.c_str(), flags);
  const char* reason = nullptr;
  if (fd_ >= 0) {
    struct stat st;
    if (::fstat(fd_, &st) != 0) {
      if (regularOnly) reason = std::strerror(errno);
    } else if (S_ISDIR(st.st_mode)) {
      reason = std::strerror(EISDIR);
    } else if (regularOnly && !S_ISREG(st.st_mode)) {
      reason = "Not a regular file";
    }
    if (reason) {
      ::close(fd_);
      fd_ = -1;
    }
  } else {
    reason = std::strerror(errno);
  }
  if (fd_ < 0) throw EFOpenError("Cannot open file \"" + fileName + "\". " + reason);
}

TFileStream::~TFileStream() {
  if (fd_ >= 0) ::close(fd_);
}

// ---- THandleStream ----

int64_t THandleStream::Read(void* buffer, int64_t count) {
  int64_t total = 0;
  auto* p = static_cast<uint8_t*>(buffer);
  while (count > 0) {
    ssize_t n = ::read(fd_, p + total, static_cast<size_t>(std::min<int64_t>(count, 1 << 30)));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    total += n;
    count -= n;
  }
  return total;
}

int64_t THandleStream::Write(const void* buffer, int64_t count) {
  int64_t total = 0;
  const auto* p = static_cast<const uint8_t*>(buffer);
  while (count > 0) {
    ssize_t n = ::write(fd_, p + total, static_cast<size_t>(std::min<int64_t>(count, 1 << 30)));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    total += n;
    count -= n;
  }
  return total;
}

int64_t THandleStream::Seek(int64_t offset, TSeekOrigin origin) {
  int whence = origin == TSeekOrigin::soBeginning ? SEEK_SET
               : origin == TSeekOrigin::soCurrent ? SEEK_CUR
                                                  : SEEK_END;
  off_t r = ::lseek(fd_, static_cast<off_t>(offset), whence);
  if (r < 0) return Position();
  return static_cast<int64_t>(r);
}

int64_t THandleStream::Size() {
  struct stat st;
  if (::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode)) return static_cast<int64_t>(st.st_size);
  return TStream::Size();
}

int64_t THandleStream::DataSize() {
  struct stat st;
  if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) return Size();
  const off_t size = st.st_size, position = ::lseek(fd_, 0, SEEK_CUR);
  if (position < 0) return static_cast<int64_t>(size);
  int64_t data = 0;
  for (off_t at = 0; at < size;) {
    const off_t start = ::lseek(fd_, at, SEEK_DATA);
    if (start < 0 && errno == ENXIO) break;  // no data after at
    const off_t end = start < 0 ? -1 : ::lseek(fd_, start, SEEK_HOLE);
    if (end < 0) {
      data = size;  // holes cannot be found here
      break;
    }
    data += std::min(end, size) - std::min(start, size);
    at = end;
  }
  ::lseek(fd_, position, SEEK_SET);
  return data;
}

void THandleStream::SetSize(int64_t size) {
  if (::ftruncate(fd_, static_cast<off_t>(size)) != 0)
    throw EStreamError("Cannot set the size of \"" + name_ + "\". " + std::strerror(errno));
}

void THandleStream::Flush() {
  if (::fsync(fd_) != 0)
    throw EWriteError("Cannot write \"" + name_ + "\". " + std::strerror(errno));
}

// ---- TStringList ----

const TStringList::Item& TStringList::At(int index) const {
  if (index < 0 || index >= Count())
    throw EListError(Format("List index out of bounds (%d)", index));
  return items_[static_cast<size_t>(index)];
}

int TStringList::Add(std::string s, TObject* obj) {
  items_.push_back({std::move(s), obj});
  return Count() - 1;
}

void TStringList::Insert(int index, std::string s, TObject* obj) {
  if (index < 0 || index > Count())
    throw EListError(Format("List index out of bounds (%d)", index));
  items_.insert(items_.begin() + index, Item{std::move(s), obj});
}

void TStringList::Delete(int index) {
  At(index);
  items_.erase(items_.begin() + index);
}

const std::string& TStringList::Strings(int index) const {
  return At(index).text;
}

void TStringList::SetStrings(int index, std::string s) {
  At(index);
  items_[static_cast<size_t>(index)].text = std::move(s);
}

TObject* TStringList::Objects(int index) const {
  return At(index).object;
}

void TStringList::SetObjects(int index, TObject* obj) {
  At(index);
  items_[static_cast<size_t>(index)].object = obj;
}

int TStringList::IndexOf(std::string_view s) const {
  for (size_t i = 0; i < items_.size(); ++i)
    if (items_[i].text == s) return static_cast<int>(i);
  return -1;
}

std::string TStringList::Text() const {
  std::string r;
  for (const Item& it : items_) {
    r += it.text;
    r += "\r\n";
  }
  return r;
}

void TStringList::SetText(std::string_view text) {
  items_.clear();
  size_t i = 0;
  while (i < text.size()) {
    size_t j = i;
    while (j < text.size() && text[j] != '\r' && text[j] != '\n')
      ++j;
    items_.push_back({std::string(text.substr(i, j - i)), nullptr});
    if (j < text.size() && text[j] == '\r') {
      ++j;
      if (j < text.size() && text[j] == '\n') ++j;
    } else if (j < text.size()) {
      ++j;  // a lone LF
    }
    i = j;
  }
}

void TStringList::LoadFromFile(const std::string& fileName) {
  TMemoryStream m;
  m.LoadFromFile(fileName);
  SetText(m.ToString());
}

void TStringList::SaveToFile(const std::string& fileName) const {
  TMemoryStream m(Text());
  m.SaveToFile(fileName);
}

}  // namespace rtl
