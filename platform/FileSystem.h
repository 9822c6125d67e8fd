// Files and folders. Every name is a byte string in the ANSI code page (code page 932) at this
// interface; the OS sees UTF-8. Functions that can fail return false and, when error is given,
// put a short reason there (the OS's text).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

bool FileExists(const std::string& path);       // exists and is not a folder (links followed)
bool DirectoryExists(const std::string& path);  // a folder (links followed)
int64_t FileSize(const std::string& path);      // -1 when it is not a readable file

// Removes a file (not a folder). False when there was none or it could not be removed.
bool DeleteFile(const std::string& path, std::string* error = nullptr);
// Makes the folder and every missing parent; true when the folder exists afterwards.
bool ForceDirectories(const std::string& path, std::string* error = nullptr);

// The whole content of a file.
bool ReadFileBytes(const std::string& path, std::string& bytes, std::string* error = nullptr);
// Adds bytes at the end of a file (made when missing) in one write; what it held stays.
bool AppendToFile(const std::string& path, std::string_view bytes, std::string* error = nullptr);

// A path in folder (given with or without a trailing "/") whose name begins with prefix and that
// did not exist when asked. Names of temporary files begin with "." so listings skip them.
std::string UniqueTempName(const std::string& folder, const std::string& prefix = ".~sv");

// Puts the finished file tempPath in place of target in one step: the data of tempPath is flushed
// to the disk, it takes the access mode (and, where allowed, the owner) of the file it replaces,
// and is renamed over target (a link as target is followed). tempPath must be in target's folder.
// On failure tempPath is removed and target is as it was.
bool ReplaceFileAtomic(const std::string& tempPath, const std::string& target,
                       std::string* error = nullptr);
// Writes bytes to a temporary file in target's folder and puts it in place of target atomically.
bool WriteFileAtomic(const std::string& target, std::string_view bytes,
                     std::string* error = nullptr);
// Copies from over to atomically (target untouched on any failure). With failIfExists an existing
// target is an error.
bool CopyFile(const std::string& from, const std::string& to, bool failIfExists = false,
              std::string* error = nullptr);

// One entry of a folder listing.
struct FolderEntry {
  std::string name;  // in the ANSI code page
  bool isFolder = false;
  bool exactName = true;  // false when the OS name has characters that the code page cannot hold
};

// The entries of a folder: its files (links followed; neither folders nor special files) in byte
// order of their names, then its sub-folders in byte order. Names beginning with "." (hidden) are
// left out, and so are broken links. An unreadable folder lists nothing.
std::vector<FolderEntry> ListFolder(const std::string& folder);
// Names of the files of a folder that match mask, in byte order (hidden ones left out).
std::vector<std::string> ListFiles(const std::string& folder, std::string_view mask);
// Names of the sub-folders of a folder, in byte order (hidden ones left out).
std::vector<std::string> ListSubFolders(const std::string& folder);

// File-name masks with "*" (any run of characters) and "?" (one character); letters match in
// either case, so "*.pdf" matches "A.PDF". Double-byte characters count as one character.
bool MatchesMask(std::string_view name, std::string_view mask);

// Remembers the folders a walk has entered (by device and inode), so that a walk through
// symbolic links never enters one folder twice.
class FolderWalkGuard {
 public:
  // True the first time the folder is met; false when it was entered already or cannot be read.
  bool Enter(const std::string& folder);

 private:
  std::set<std::pair<dev_t, ino_t>> entered_;
};

}  // namespace platform
