// Files and folders. Every name is a byte string in the ANSI code page (code page 932) at this
// interface; the OS sees UTF-8. Functions that can fail return false and, when error is given,
// put a short reason there (the OS's text).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

// The file system's spelling of an ANSI path. Each part is the name code page 932 decodes it to;
// where no entry has that name, the one entry of its folder that code page 932 writes the same
// way under the JIS mapping (a name typed with 〜 U+301C where code page 932 decodes ～ U+FF5E,
// and likewise ‖ − ¢ £ ¬ —) stands for it. A name is never taken for one that code page 932
// cannot hold.
std::string OsPath(const std::string& path);
// Whether the ANSI path could stand for an entry it does not reach: a part of it is also how code
// page 932 writes another name of its folder (a name with characters it cannot hold, written with
// "?", or one of two names that differ only where the JIS and Windows mappings differ).
bool PathIsAmbiguous(const std::string& path);

bool FileExists(const std::string& path);       // exists and is not a folder (links followed)
bool DirectoryExists(const std::string& path);  // a folder (links followed)
bool IsSymbolicLink(const std::string& path);   // the name itself is a symbolic link
int64_t FileSize(const std::string& path);      // -1 when it is not a readable file

// Removes a file (not a folder). False when there was none or it could not be removed.
bool DeleteFile(const std::string& path, std::string* error = nullptr);
// Makes the folder and every missing parent; true when the folder exists afterwards.
bool ForceDirectories(const std::string& path, std::string* error = nullptr);
// As ForceDirectories, for a folder of the program's own: every folder it makes is the running
// user's alone (0700, whatever the file mode mask), and the folder, when it is there already as a
// folder of the running user's, loses the rights of its group and of others.
bool ForcePrivateDirectories(const std::string& path, std::string* error = nullptr);

// The whole content of a file.
bool ReadFileBytes(const std::string& path, std::string& bytes, std::string* error = nullptr);
// Adds bytes at the end of a file in one write; what it held stays. A missing file is made with
// createMode (less the process's file mode mask).
bool AppendToFile(const std::string& path, std::string_view bytes, std::string* error = nullptr,
                  mode_t createMode = 0666);

// A path in folder (given with or without a trailing "/") whose name begins with prefix and that
// did not exist when asked. Names of temporary files begin with "." so listings skip them.
std::string UniqueTempName(const std::string& folder, const std::string& prefix = ".~sv");

// What tells one state of a file from another: a change of its data or a file put in its place
// changes it.
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  int64_t size = -1;
  timespec modified{};
  friend bool operator==(const FileIdentity& a, const FileIdentity& b) {
    return a.device == b.device && a.inode == b.inode && a.size == b.size &&
           a.modified.tv_sec == b.modified.tv_sec && a.modified.tv_nsec == b.modified.tv_nsec;
  }
};

// Whether the file at path may be replaced: a regular file (not a symbolic link) with a single
// name, write permission for its owner, and one the running user may write. Gives its identity;
// error says why not ("the file is read-only").
bool CheckReplaceable(const std::string& path, FileIdentity* identity = nullptr,
                      std::string* error = nullptr);

// A new file that takes the place of a target in one step. It is made in the target's folder
// (O_CREAT|O_EXCL|O_NOFOLLOW, mode 0600, an unpredictable name beginning with "."), that folder
// stays open, and everything is done on the descriptor that writes it. Commit gives it the
// target's mode and owner and renames it over the target within the folder (or, for a file
// taken by Adopt, from its own folder on the same mount). Until a Commit succeeds the target is
// untouched, and the file is removed when the object goes. Commit uses only the object's own
// descriptors and no process-wide state, so it may run on another thread than the one that made
// and wrote the file (one thread at a time).
class FolderHandle;
class OpenedFile;

class ReplacementFile {
 public:
  ReplacementFile() = default;
  ~ReplacementFile();
  ReplacementFile(const ReplacementFile&) = delete;
  ReplacementFile& operator=(const ReplacementFile&) = delete;

  // Makes the file beside target. With followLink, a symbolic link as target stands for the file
  // it names (the link stays); otherwise such a target is refused by Commit.
  bool Create(const std::string& target, std::string* error = nullptr, bool followLink = false);
  // Makes the file for the target name (no folder part) in the open folder; a link as target is
  // refused by Commit.
  bool CreateIn(const FolderHandle& folder, const std::string& name, std::string* error = nullptr);
  // Takes the finished file at path as the new file for target (no link followed at either), so
  // that Commit renames it over the target instead of a copy being made: it must be a regular
  // file of the running user with a single name, on the target's mount; it is made private (0600)
  // and, like a file made by Create, removed when the object goes without a Commit. False (path
  // as it was, errno EXDEV when the mounts differ) when it cannot be taken.
  bool Adopt(const std::string& target, const std::string& path, std::string* error = nullptr);
  // As Create and Adopt, for the place of an opened file: in the folder it was opened in
  // (relative to that folder's descriptor), the identity to check at Commit being the file's.
  // With unnamed, where the file system allows it the new file has no name until Commit links
  // it in, so that nothing is left beside the target whatever ends the program; elsewhere it
  // gets a hidden name as with Create.
  bool CreateFor(const OpenedFile& target, std::string* error = nullptr, bool unnamed = false);
  bool AdoptFor(const OpenedFile& target, const std::string& path, std::string* error = nullptr);
  bool IsOpen() const { return fd_ >= 0; }
  // The new file has no name yet.
  bool Unnamed() const { return fd_ >= 0 && tempName_.empty(); }
  // The device and inode of the new file (zero when none is open).
  std::pair<dev_t, ino_t> NewFile() const;
  // The mode Commit gives the file whatever the target's mode (or the file mode mask, for a new
  // target) is.
  void SetMode(mode_t mode) {
    forcedMode_ = mode;
    hasForcedMode_ = true;
  }
  // Commit refuses a target that is not the running user's own.
  void ReplaceOnlyOwnFile() { ownFileOnly_ = true; }
  // For a stream over it; the object keeps the descriptor.
  int Descriptor() const { return fd_; }
  // The temporary file's path as the OS spells it (for a file made by Create).
  std::string TempPath() const { return folder_ + "/" + tempName_; }

  bool Write(std::string_view bytes, std::string* error = nullptr);  // at the current position
  bool WriteAt(int64_t offset, std::string_view bytes, std::string* error = nullptr);
  // Writes the whole content of the file at path at the current position.
  bool WriteFrom(const std::string& path, std::string* error = nullptr);
  // Up to count bytes from offset; the number read, -1 on an error.
  int64_t ReadAt(int64_t offset, void* buffer, size_t count);

  // Flushes the data, checks the target (still replaceable; when expected is given, still that
  // file), gives the file the target's owner and mode (a new target: mode 0666 less the file mode
  // mask as it was at Create or Adopt), renames it over the target and flushes the folder. Run as
  // root, an owner that cannot be kept is an error. error says why it failed ("the file changed
  // after it was read").
  bool Commit(const FileIdentity* expected = nullptr, std::string* error = nullptr);
  // Removes the file now.
  void Discard();

 private:
  // Opens the folder of the target (os: its path as the OS spells it); sets folder_ and name_.
  bool OpenFolder(const std::string& os, std::string* error);
  // Takes the folder of an opened file (its own descriptor of it); sets folder_ and name_.
  bool UseFolder(const OpenedFile& target, std::string* error);
  // Makes the new file in the target's folder: unnamed when asked and allowed, else hidden.
  bool MakeNewFile(bool unnamed, std::string* error);
  // Gives an unnamed new file a hidden name in the target's folder.
  bool LinkIn(std::string* error);
  // As Adopt, once the target's folder is open.
  bool AdoptInto(const std::string& path, std::string* error);

  int dirFd_ = -1;
  int tempDirFd_ = -1;  // the folder of an adopted file; -1: the file is in the target's folder
  int fd_ = -1;
  std::string folder_;         // the target's folder, as the OS spells it
  std::string name_;           // the target's name in it
  std::string tempName_;       // the temporary file's name in its folder
  std::string target_;         // the target as given, for messages
  mode_t newFileMode_ = 0600;  // for a target that does not exist
  mode_t forcedMode_ = 0;      // with hasForcedMode_: the mode that Commit gives the file
  bool hasForcedMode_ = false;
  bool ownFileOnly_ = false;
};

// Files made while it lives (by this process or a program it starts) are private to their owner:
// the process's file mode mask is 077 until it goes.
class PrivateFileScope {
 public:
  PrivateFileScope();
  ~PrivateFileScope();
  PrivateFileScope(const PrivateFileScope&) = delete;
  PrivateFileScope& operator=(const PrivateFileScope&) = delete;

 private:
  mode_t previous_;
};

// A path for a file of the program's own in folder, with an unpredictable name beginning with "."
// and the extension given; the file there is removed when the object goes.
class TemporaryPath {
 public:
  explicit TemporaryPath(const std::string& folder, const std::string& extension = ".tmp");
  ~TemporaryPath();
  TemporaryPath(const TemporaryPath&) = delete;
  TemporaryPath& operator=(const TemporaryPath&) = delete;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// Writes bytes to a temporary file in target's folder and puts it in place of target atomically
// (a link as target is followed).
bool WriteFileAtomic(const std::string& target, std::string_view bytes,
                     std::string* error = nullptr);
// As WriteFileAtomic, for a file of the program's own: the file, new or replaced, is readable and
// writable by its owner alone (0600), whatever the file mode mask and the old file's mode.
bool WritePrivateFile(const std::string& target, std::string_view bytes,
                      std::string* error = nullptr);
// The whole content of the file name in folder (a link there followed): a regular file, opened
// without waiting, so that a FIFO or a device is refused unread.
bool ReadFileBytesIn(const FolderHandle& folder, const std::string& name, std::string& bytes,
                     std::string* error = nullptr);
// Writes bytes as the file name in folder, private to its owner (0600): a new file, or one in
// place of a regular file of the running user's own with a single name. No link there is
// followed: a link, another user's file or anything else of that name is refused and left as it
// is (error says why).
bool WriteOwnFileIn(const FolderHandle& folder, const std::string& name, std::string_view bytes,
                    std::string* error = nullptr);
// Copies from over to atomically (target untouched on any failure). With failIfExists an existing
// target is an error.
bool CopyFile(const std::string& from, const std::string& to, bool failIfExists = false,
              std::string* error = nullptr);

// One entry of a folder listing.
struct FolderEntry {
  std::string name;  // in the ANSI code page ("?" for characters it cannot hold)
  bool isFolder = false;
  bool isLink = false;  // a symbolic link, whatever it names (listed with the files)
  // False when the name in the ANSI code page leads to another entry or to none.
  bool reachable = true;
  std::string osName;  // the name as the OS spells it: what the entry is opened by
  dev_t device = 0;    // what was listed (the link itself for a link)
  ino_t inode = 0;
};

// A folder opened once: its entries are listed and opened relative to its descriptor, so that
// nothing its path leads to later plays a part.
class FolderHandle {
 public:
  // Takes the descriptor (closed when the object goes); path (ANSI, ending in "/") names the
  // folder in logs and messages.
  FolderHandle(int fd, std::string path);
  ~FolderHandle();
  FolderHandle(const FolderHandle&) = delete;
  FolderHandle& operator=(const FolderHandle&) = delete;
  bool IsOpen() const { return fd_ >= 0; }
  int Descriptor() const { return fd_; }
  const std::string& Path() const { return path_; }
  dev_t Device() const { return device_; }
  ino_t Inode() const { return inode_; }

 private:
  int fd_;
  std::string path_;
  dev_t device_ = 0;
  ino_t inode_ = 0;
};

// Opens the folder at path ("" for the current folder), links followed: files made in it later
// are made there, whatever its path names by then. Null, with error, when it is none.
std::shared_ptr<FolderHandle> OpenFolderPath(const std::string& path, std::string* error = nullptr);
// Opens the folder of a job (path in the ANSI code page, with or without a trailing "/"). A
// symbolic link as its last part is never followed. Run as root, a link on the way to it is
// followed only where no other user can have made it: a link of root's in a folder of root's
// that no one else may write (or one with the sticky bit). Null (error says why; errno ENOENT
// when a part of the path is missing) when it cannot be opened so.
std::shared_ptr<FolderHandle> OpenJobFolder(const std::string& path, std::string* error = nullptr);
// Opens a sub-folder that a listing of parent gave, relative to parent's descriptor and without
// following a link; it must be the folder that was listed.
std::shared_ptr<FolderHandle> OpenSubFolder(const std::shared_ptr<FolderHandle>& parent,
                                            const FolderEntry& entry, std::string* error = nullptr);

// A file opened for reading, checked to be what its folder's listing gave: everything after the
// opening reads through its descriptor, and its new version is made and put in place in the
// folder it was opened in (ReplacementFile::CreateFor, AdoptFor).
class OpenedFile {
 public:
  // Opens the file of a listing of folder relative to the folder's descriptor
  // (O_NOFOLLOW|O_NONBLOCK; a FIFO, device or socket is refused without being opened): a regular
  // file with one name, the one listed. Null (error says why; errno ENOENT when it is gone)
  // otherwise.
  static std::unique_ptr<OpenedFile> Open(std::shared_ptr<FolderHandle> folder,
                                          const FolderEntry& entry, std::string* error = nullptr);
  // The file at path (ANSI): its folder opened by its path, the file in it as Open does, with
  // no listing to compare with.
  static std::unique_ptr<OpenedFile> OpenPath(const std::string& path,
                                              std::string* error = nullptr);
  ~OpenedFile();
  OpenedFile(const OpenedFile&) = delete;
  OpenedFile& operator=(const OpenedFile&) = delete;

  int Descriptor() const { return fd_; }
  // As it was when it was opened.
  const FileIdentity& Identity() const { return identity_; }
  const std::string& Path() const { return path_; }  // ANSI
  const FolderHandle& Folder() const { return *folder_; }
  const std::string& OsName() const { return osName_; }
  // Why the file may not be replaced, in CheckReplaceable's words; empty when it may.
  std::string Refusal() const;

 private:
  OpenedFile() = default;
  std::shared_ptr<FolderHandle> folder_;
  std::string osName_;
  std::string path_;
  int fd_ = -1;
  FileIdentity identity_;
};

// A private copy (mode 0600, a new unpredictable name beginning with ".~in") of an opened file,
// made in folder from the file's descriptor, for a program that takes a name; removed when the
// object goes.
class PrivateCopy {
 public:
  PrivateCopy() = default;
  ~PrivateCopy();
  PrivateCopy(const PrivateCopy&) = delete;
  PrivateCopy& operator=(const PrivateCopy&) = delete;
  bool Make(const OpenedFile& file, const std::string& folder, std::string* error = nullptr);
  const std::string& Path() const { return path_; }  // ANSI; empty until made

 private:
  std::string path_;
};

// The files (device and inode) that a run has handed to a rewrite, and the new files that took
// their places, so that no file is handed twice. Safe to use from several threads.
class FileClaims {
 public:
  // True the first time the file is claimed.
  bool Claim(dev_t device, ino_t inode);
  void Add(dev_t device, ino_t inode) { Claim(device, inode); }
  bool Claimed(dev_t device, ino_t inode);

 private:
  std::mutex mutex_;
  std::set<std::pair<dev_t, ino_t>> claimed_;
};

// Called with the path (ANSI) of each listed entry just before OpenSubFolder or OpenedFile::Open
// opens it, so that tests can change the folder at that moment; null: nothing is called.
void SetBeforeOpenHookForTests(std::function<void(const std::string& path)> hook);
// With false, new files are never made unnamed (as on a file system that refuses O_TMPFILE).
void SetUnnamedFilesForTests(bool allowed);

// The entries of a folder: its files and symbolic links (neither folders nor special files) in
// byte order of their names, then its sub-folders in byte order. Names beginning with "." (hidden)
// are left out. An unreadable folder lists nothing; for an opened folder, error then says why
// (and is empty after a listing).
std::vector<FolderEntry> ListFolder(const std::string& folder);
std::vector<FolderEntry> ListFolder(const FolderHandle& folder, std::string* error = nullptr);
// Names of the reachable files of a folder that match mask, in byte order (links and hidden ones
// left out).
std::vector<std::string> ListFiles(const std::string& folder, std::string_view mask);
// Names of the reachable sub-folders of a folder, in byte order (links and hidden ones left out).
std::vector<std::string> ListSubFolders(const std::string& folder);

// File-name masks with "*" (any run of characters) and "?" (one character); letters match in
// either case, so "*.pdf" matches "A.PDF". Double-byte characters count as one character.
bool MatchesMask(std::string_view name, std::string_view mask);

// Remembers the folders a walk has entered (by device and inode), so that a walk never enters one
// folder twice.
class FolderWalkGuard {
 public:
  // True the first time the folder is met; false when it was entered already or cannot be read.
  bool Enter(const std::string& folder);
  bool Enter(const FolderHandle& folder);

 private:
  std::set<std::pair<dev_t, ino_t>> entered_;
};

}  // namespace platform
