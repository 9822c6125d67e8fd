// The tool's output file: written under a temporary name in the output's folder, flushed to disk
// and renamed over the output only when whole. Every step works on the descriptors that made it:
// the temporary file is created with O_EXCL|O_NOFOLLOW under an unpredictable name, mode 0600
// (the output is a work file that may hold a decrypted copy, so it stays readable by its owner
// only), read back through its own descriptor and renamed within the folder's descriptor.
// Whatever fails before the rename removes the temporary file and leaves an existing output as
// it was.
#pragma once

#include <qpdf/Pipeline.hh>

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace pdftool {

// The output cannot be written (exit code 3).
class OutputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class PendingOutput {
 public:
  explicit PendingOutput(std::string path);  // path in the OS's form; throws OutputError
  ~PendingOutput();                          // removes the temporary file unless committed
  PendingOutput(const PendingOutput&) = delete;
  PendingOutput& operator=(const PendingOutput&) = delete;

  // The bytes of the file. It never throws (qpdf writes from destructors too): a failed write
  // is kept and raised by CheckWritten and Commit.
  Pipeline* Sink() { return &sink_; }
  void CheckWritten();  // flushes; throws OutputError when a write failed

  struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
  };
  // The written bytes for reading, on a descriptor of their own; throws OutputError.
  std::unique_ptr<FILE, FileCloser> OpenWritten();

  void Commit();  // flush, fsync, rename over the output; throws OutputError

 private:
  class FdPipeline : public Pipeline {
   public:
    FdPipeline() : Pipeline("output file", nullptr) {}
    void write(unsigned char const* data, size_t len) override;
    void finish() override { Flush(); }
    void Flush();
    int fd = -1;
    std::string path;
    std::string error;  // the first failure; later bytes are dropped

   private:
    std::vector<unsigned char> buffer_;
  };

  void Discard();
  [[noreturn]] void Fail(int err) const;

  std::string path_;
  std::string name_;      // the output's name in its folder
  std::string tempName_;  // the temporary file's name in the same folder
  int dir_ = -1;          // the folder
  FdPipeline sink_;
  bool committed_ = false;
};

// Removes a pending temporary file when the process is ended by SIGINT, SIGTERM or SIGHUP.
void InstallCleanupOnSignals();

}  // namespace pdftool
