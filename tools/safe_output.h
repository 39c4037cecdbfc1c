// How every tool writes: a file appears whole or not at all, a folder's set
// of the tool's files is replaced as a whole, and SIGINT, SIGTERM or SIGHUP
// stop a run with nothing left behind.
#pragma once

#include <csignal>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace orvtools {

// ---- stopping on a signal ----

// Notes SIGINT, SIGTERM and SIGHUP instead of dying at once, so that a run
// stops at its next check and cleans up.
void CatchStopSignals();
// The signal that asked the run to stop, 0 when none has.
int StopSignal();
// Thrown by CheckStop; the tool exits with 128 + signal.
struct Stopped : std::runtime_error {
  explicit Stopped(int signal);
  int signal;
};
// Throws Stopped once a signal has come. The tools call it inside their own
// long loops (decoding, packing, encoding), a row or a frame at a time.
void CheckStop();

// Holds the stop signals back while it lives: a swap of files runs to its end.
class SignalHold {
 public:
  SignalHold();
  ~SignalHold();
  SignalHold(const SignalHold&) = delete;
  SignalHold& operator=(const SignalHold&) = delete;

 private:
  sigset_t saved_;
};

// "PATH: reason" from errno.
std::string Reason(const std::string& path, int error);

// ---- one file ----

// A file written beside its final name under a short temporary name (any
// folder that takes the final name takes it) and renamed into place by
// Commit, after every write, the flush and fsync have succeeded. Through a
// symbolic link it writes the file the link points to. Opening it checks the
// folder and name before any work; a file not committed is removed. A file
// that is not `durable` skips its own fsync (FolderOutput syncs its set at once).
class OutputFile {
 public:
  explicit OutputFile(std::string path, bool durable = true);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  void Write(const void* data, size_t size);
  // Moves the write position (whence as for lseek) and returns it, and the
  // size written so far: for writers that come back to fill in a header,
  // such as video containers.
  int64_t Seek(int64_t offset, int whence);
  int64_t Size();
  void Commit();
  void Abort();
  const std::string& path() const { return path_; }

 private:
  std::string path_;    // as the user named it, for messages
  std::string target_;  // the file it lands in
  std::string temp_;
  int fd_ = -1;
  bool durable_;
};

// Writes bytes to path whole or not at all.
void WriteFileAtomic(const std::string& path, const std::vector<uint8_t>& bytes);

// ---- a set of files in a folder ----

// The tool's own set of files in a folder, made in a staging folder inside it
// and swapped in by Commit: the old set (the names `owned` accepts) moves
// aside, the new one in, and on any failure the old set comes back. Other
// files in the folder are left alone. A folder that holds anything is
// refused unless force is set; a folder the run made goes again when the
// run fails.
class FolderOutput {
 public:
  FolderOutput(std::string dir, bool force, const std::string& option,
               std::function<bool(const std::string&)> owned);
  ~FolderOutput();
  FolderOutput(const FolderOutput&) = delete;
  FolderOutput& operator=(const FolderOutput&) = delete;

  // The set's file `name`, written into the staging folder until Commit.
  std::unique_ptr<OutputFile> Open(const std::string& name);
  void Commit();
  const std::string& dir() const { return dir_; }

 private:
  void Remove();
  std::string dir_, staging_;
  std::function<bool(const std::string&)> owned_;
  std::vector<std::string> made_;  // folders this run created, outermost first
  bool committed_ = false;
};

}  // namespace orvtools
