// How every tool writes: a file appears whole or not at all, a folder's set
// of the tool's files is replaced as a whole, several outputs of one run are
// replaced together or not at all, and SIGINT, SIGTERM or SIGHUP stop a run
// with nothing left behind. What a run killed outright leaves, the next run
// into the same place cleans up.
#pragma once

#include <sys/stat.h>

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
// stops at its next check and cleans up; a wait in open, read or write ends
// at once. A signal ignored when the tool started (nohup, a background job)
// stays ignored. SIGXFSZ is ignored too: a write past the file size limit
// then fails like one on a full disk.
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

// ---- replacing several outputs together ----

// An output made under a hidden name, to be put in place with the others of
// its run.
class Staged {
 public:
  virtual ~Staged() = default;
  // Everything short of the swap: flushed and synced.
  virtual void Ready() = 0;
  // Keeps what Swap will replace, so that Restore can put it back; whether it
  // could (and so whether the output is now Restorable).
  virtual bool KeepOld() { return Restorable(); }
  // What the swap does before its point of no return (a set's old files
  // move aside); on a failure everything is as it was.
  virtual void Prepare() {}
  // The point of no return, one rename: a run killed after it is finished by
  // the next run, one killed before it undone. On a failure everything is as
  // after Prepare.
  virtual void Swap() = 0;
  // After every Swap: what is left of the move (a set's new files move in).
  // On a failure it is as after Swap.
  virtual void Complete() {}
  // Whether Restore can put back what Swap replaced.
  virtual bool Restorable() const = 0;
  // After Prepare, and whatever of Swap and Complete ran: puts back what was
  // there before.
  virtual void Restore() = 0;
  // After every Swap: lets go of what was replaced.
  virtual void Settle() = 0;
};

// Puts every output in place, or none: each is made ready, then prepared,
// swapped and completed (those that can be put back first), and when one
// fails those begun before it are put back. The swaps come one right after
// another: a kill between two of them is the only one that leaves one output
// new and another old. At most one output may be one that cannot be put
// back; it goes last, once every other is complete. `announce`, when given,
// runs once all are ready and before anything moves: what a run tells its
// user (and any failure to tell it) comes while every output is still as it
// was, so that the exit code is true of the files.
void CommitAll(const std::vector<Staged*>& outputs, const std::function<void()>& announce = {});

// Whether path (through links) is a pipe, device or socket: written as it
// is, with nothing to stage or put back.
bool IsStream(const std::string& path);

// The name in dir of what a run's clean-up there would remove (a stopped
// run's temporary files and, for a set's folder, its hidden folders) that is
// or holds the file `input` (compared as files); "" when none.
std::string CleanUpTaking(const std::string& dir, bool setFolder, const struct stat& input);

// ---- one file ----

// A file written beside its final name under a short temporary name (any
// folder that takes the final name takes it) and renamed into place by
// Commit, after every write, the flush and fsync have succeeded. Through a
// symbolic link it writes the file the link points to. Opening it checks the
// folder and name before any work; a file not committed is removed. A file
// that is not `durable` skips its own fsync (FolderOutput syncs its set at once).
// A pipe or device is written straight. The temporary name carries the
// tools' marker and is locked while the run lives, so that a later run can
// tell a dead run's file from a live one and remove it.
class OutputFile : public Staged {
 public:
  explicit OutputFile(std::string path);
  // A file of a FolderOutput's set: written into its staging folder under
  // its own name, `shown` as the user knows it.
  OutputFile(std::string path, std::string shown);
  ~OutputFile() override;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  void Write(const void* data, size_t size);
  // Moves the write position (whence as for lseek) and returns it, and the
  // size written so far: for writers that come back to fill in a header,
  // such as video containers.
  int64_t Seek(int64_t offset, int whence);
  int64_t Size();
  // Ready and Swap: the file alone.
  void Commit();
  void Abort();
  const std::string& path() const { return path_; }
  bool streamed() const { return streamed_; }

  void Ready() override;
  bool KeepOld() override;
  void Swap() override;
  bool Restorable() const override { return !streamed_ && (!replaces_ || keptFd_ >= 0); }
  void Restore() override;
  void Settle() override;

 private:
  OutputFile(std::string path, std::string shown, bool staged);
  [[noreturn]] void Fail(const char* what, int error);
  void DropKept();
  std::string path_;    // as the user named it, for messages
  std::string target_;  // the file it lands in
  std::string temp_;
  int fd_ = -1;
  int folder_ = -1;  // the folder it lands in, held open
  bool durable_;
  bool streamed_ = false;
  bool replaces_ = false;  // a file of that name was there when it got ready
  bool swapped_ = false;
  // The replaced file under a second, hidden name, held open and locked,
  // while Restore may need it.
  std::string kept_;
  int keptFd_ = -1;
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
//
// The folder itself is locked (flock) for the whole run: a second run into
// it is refused. Holding the lock, a run first finishes what a killed run
// left: a swap that had moved the whole old set aside is completed, one
// that had not is undone, and staging folders and files of dead runs go.
class FolderOutput : public Staged {
 public:
  FolderOutput(std::string dir, bool force, const std::string& option,
               std::function<bool(const std::string&)> owned);
  ~FolderOutput() override;
  FolderOutput(const FolderOutput&) = delete;
  FolderOutput& operator=(const FolderOutput&) = delete;

  // The set's file `name`, written into the staging folder until Commit.
  std::unique_ptr<OutputFile> Open(const std::string& name);
  // Ready, Swap and Settle: the set alone.
  void Commit();
  const std::string& dir() const { return dir_; }

  void Ready() override;
  void Prepare() override;
  void Swap() override;
  void Complete() override;
  bool Restorable() const override { return true; }
  void Restore() override;
  void Settle() override;

 private:
  void Recover();
  void PutOldBack();
  void Remove();
  std::string dir_;  // as the user named it, for messages
  std::string at_;   // the locked folder itself, for every operation
  std::string staging_, moving_, aside_;
  std::function<bool(const std::string&)> owned_;
  std::vector<std::string> made_;       // folders this run created, outermost first
  std::vector<std::string> old_, new_;  // the sets' names during a swap
  int lock_ = -1;
  bool movedIn_ = false;
  bool committed_ = false;
};

}  // namespace orvtools
