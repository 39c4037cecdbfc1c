#include "tools/safe_output.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>

#include "tools/args.h"

namespace fs = std::filesystem;

namespace orvtools {

namespace {

volatile std::sig_atomic_t stopSignal = 0;

void OnStopSignal(int signal) {
  if (!stopSignal) stopSignal = signal;
}

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Every hidden name the tools make starts with ".orv", a word and '-', and
// ends in mkstemp's six characters: short and plain, so that any folder that
// takes the final name takes it, and recognisable as the tools' own.
constexpr char kTempPrefix[] = ".orvtmp-";  // a file on its way to its name
constexpr char kNewPrefix[] = ".orvnew-";   // a set being made
constexpr char kOutPrefix[] = ".orvout-";   // an old set moving aside
constexpr char kOldPrefix[] = ".orvold-";   // an old set wholly aside
constexpr size_t kSuffix = 6;

// The six characters after prefix when name is prefix + six of them.
std::string SuffixOf(const std::string& name, const char* prefix) {
  const size_t n = std::strlen(prefix);
  if (name.size() != n + kSuffix || name.compare(0, n, prefix) != 0) return "";
  const std::string suffix = name.substr(n);
  for (char c : suffix)
    if (!std::isalnum(static_cast<unsigned char>(c))) return "";
  return suffix;
}

std::string Folder(const std::string& path) {
  const std::string parent = fs::path(path).parent_path().string();
  return parent.empty() ? "." : parent;
}

std::string Join(const std::string& dir, const std::string& name) {
  return (fs::path(dir) / name).string();
}

// The file a path names once symbolic links are followed; the path itself
// when it is no link. A loop or a chain too long to follow is an error.
std::string Target(const std::string& path) {
  std::string p = path;
  for (int hops = 0; hops < 40; ++hops) {
    std::error_code ec;
    if (!fs::is_symlink(fs::symlink_status(p, ec))) return p;
    const fs::path link = fs::read_symlink(p, ec);
    if (ec) return p;
    p = link.is_absolute() ? link.string() : (fs::path(Folder(p)) / link).string();
  }
  throw std::runtime_error("cannot write " + Reason(path, ELOOP));
}

void SyncFolder(const std::string& dir) {
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

mode_t NewFileMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

// Opens path, retrying after a signal that does not stop the run.
int OpenStopping(const std::string& path, int flags) {
  for (;;) {
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
    if (fd >= 0 || errno != EINTR) return fd;
    CheckStop();
  }
}

// Removes dir's temporary files that no live run holds locked.
void RemoveDeadTemps(const std::string& dir) {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir, ec)) {
    const std::string name = entry.path().filename().string();
    if (SuffixOf(name, kTempPrefix).empty() || !entry.is_regular_file(ec) || entry.is_symlink(ec))
      continue;
    const int fd = ::open(entry.path().c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) continue;
    // Unlocked and still under that name: a dead run's. A live run that made
    // it a moment ago finds it gone once it holds the lock, and makes another.
    struct stat held {
    }, named{};
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &held) == 0 &&
        ::lstat(entry.path().c_str(), &named) == 0 && held.st_ino == named.st_ino &&
        held.st_dev == named.st_dev)
      ::unlink(entry.path().c_str());
    ::close(fd);
  }
}

}  // namespace

std::string CleanUpTaking(const std::string& dir, bool setFolder, const struct stat& input) {
  auto same = [&](const fs::path& p) {
    struct stat st {};
    return ::lstat(p.c_str(), &st) == 0 && st.st_dev == input.st_dev && st.st_ino == input.st_ino;
  };
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir, ec)) {
    const std::string name = entry.path().filename().string();
    if (!SuffixOf(name, kTempPrefix).empty()) {
      if (same(entry.path())) return name;
    } else if (setFolder &&
               (!SuffixOf(name, kNewPrefix).empty() || !SuffixOf(name, kOutPrefix).empty() ||
                !SuffixOf(name, kOldPrefix).empty())) {
      std::error_code walk;
      for (fs::recursive_directory_iterator it(entry.path(), walk), end; !walk && it != end;
           it.increment(walk))
        if (same(it->path())) return name;
    }
  }
  return "";
}

namespace {

// The names in a folder.
std::vector<std::string> Names(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir, ec))
    names.push_back(entry.path().filename().string());
  if (ec) throw std::runtime_error("cannot read the folder " + Reason(dir, ec.value()));
  return names;
}

// Moves names from one folder to another; on a failure moves back those it
// moved and returns the failing name and errno.
int Move(const std::vector<std::string>& names, const std::string& from, const std::string& to,
         std::string* failed) {
  for (size_t i = 0; i < names.size(); ++i) {
    if (::rename(Join(from, names[i]).c_str(), Join(to, names[i]).c_str()) == 0) continue;
    const int error = errno;
    *failed = names[i];
    while (i-- > 0) ::rename(Join(to, names[i]).c_str(), Join(from, names[i]).c_str());
    return error;
  }
  return 0;
}

// Whether name is one of the tools' hidden names (of any kind).
bool IsHidden(const std::string& name) {
  for (const char* prefix : {kTempPrefix, kNewPrefix, kOutPrefix, kOldPrefix})
    if (!SuffixOf(name, prefix).empty()) return true;
  return false;
}

// Moves a dead run's files from a hidden folder into dir, never over a name
// that holds a file now: one the dead run did not leave there, the user's.
// Returns the names kept back; throws on any other failure.
std::vector<std::string> MoveBack(const std::string& from, const std::string& dir,
                                  const std::function<void(const std::string&, int)>& fail) {
  std::vector<std::string> kept;
  for (const std::string& name : Names(from)) {
    const std::string a = Join(from, name), b = Join(dir, name);
    int rc = ::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_NOREPLACE);
    if (rc != 0 && errno == EINVAL) {
      // A file system without the flag: look first.
      struct stat st {};
      rc = ::lstat(b.c_str(), &st) == 0 ? (errno = EEXIST, -1) : ::rename(a.c_str(), b.c_str());
    }
    if (rc == 0) continue;
    if (errno != EEXIST) fail(name, errno);
    kept.push_back(name);
  }
  return kept;
}

}  // namespace

void CatchStopSignals() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: a blocked open, read or write returns, and the run stops.
  action.sa_flags = 0;
  for (int s : kStopSignals) {
    struct sigaction was {};
    if (sigaction(s, nullptr, &was) == 0 && was.sa_handler == SIG_IGN) continue;
    sigaction(s, &action, nullptr);
  }
  std::signal(SIGXFSZ, SIG_IGN);
}

int StopSignal() { return stopSignal; }

Stopped::Stopped(int s)
    : std::runtime_error(std::string("stopped by ") + strsignal(s)), signal(s) {}

void CheckStop() {
  if (stopSignal) throw Stopped(stopSignal);
}

SignalHold::SignalHold() {
  sigset_t stop;
  sigemptyset(&stop);
  for (int s : kStopSignals) sigaddset(&stop, s);
  sigprocmask(SIG_BLOCK, &stop, &saved_);
}

SignalHold::~SignalHold() { sigprocmask(SIG_SETMASK, &saved_, nullptr); }

std::string Reason(const std::string& path, int error) {
  return path + ": " + std::strerror(error);
}

bool IsStream(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
}

// ---- replacing several outputs together ----

void CommitAll(const std::vector<Staged*>& outputs, const std::function<void()>& announce) {
  for (Staged* o : outputs) o->Ready();
  std::vector<Staged*> order;
  Staged* last = nullptr;
  for (Staged* o : outputs) {
    if (o->Restorable() || (outputs.size() > 1 && o->KeepOld()))
      order.push_back(o);
    else if (last)
      throw std::logic_error("two outputs that cannot be put back");
    else
      last = o;
  }
  CheckStop();
  if (announce) {
    announce();
    CheckStop();
  }
  SignalHold hold;
  size_t begun = 0;
  try {
    for (; begun < order.size(); ++begun) order[begun]->Prepare();
    for (Staged* o : order) o->Swap();
    for (Staged* o : order) o->Complete();
    if (last) {
      last->Prepare();
      last->Swap();
      last->Complete();
    }
  } catch (...) {
    while (begun-- > 0) order[begun]->Restore();
    throw;
  }
  if (last) order.push_back(last);
  for (Staged* o : order) o->Settle();
}

// ---- one file ----

OutputFile::OutputFile(std::string path) : OutputFile(path, path, false) {}

OutputFile::OutputFile(std::string path, std::string shown)
    : OutputFile(std::move(path), std::move(shown), true) {}

OutputFile::OutputFile(std::string path, std::string shown, bool staged)
    : path_(std::move(shown)), target_(Target(path)), durable_(!staged) {
  struct stat st {};
  if (::stat(target_.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) throw std::runtime_error("cannot write " + path_ + ": it is a folder");
    if (!S_ISREG(st.st_mode)) {
      // A device or pipe is written as it is: there is nothing to replace.
      // A pipe waits here for its reader.
      fd_ = OpenStopping(target_, O_WRONLY);
      if (fd_ < 0) throw std::runtime_error("cannot write " + Reason(path_, errno));
      streamed_ = true;
      return;
    }
  }
  std::string dir = Folder(target_);
  if (!staged) {
    // Worked through the folder as it is now, so that the file and its
    // clean-up stay together however the folder is moved meanwhile.
    folder_ = ::open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    const std::string at = "/proc/self/fd/" + std::to_string(folder_);
    if (folder_ >= 0 && ::access(at.c_str(), F_OK) == 0) {
      target_ = Join(at, fs::path(target_).filename().string());
      dir = at;
    }
  }
  const long nameMax = ::pathconf(dir.c_str(), _PC_NAME_MAX);
  if (nameMax > 0 && fs::path(target_).filename().string().size() > size_t(nameMax))
    throw std::runtime_error("cannot write " + Reason(path_, ENAMETOOLONG));
  if (!staged) RemoveDeadTemps(dir);
  for (;;) {
    std::string temp = Join(dir, std::string(kTempPrefix) + "XXXXXX");
    fd_ = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd_ < 0) throw std::runtime_error("cannot write " + Reason(path_, errno));
    temp_ = temp;
    if (staged) return;
    // Held until the file has its name: a live run's file is never taken for
    // a dead one's. Another run's clean-up may have taken it in the moment
    // before the lock (it waits for that clean-up to let go): then it has no
    // name left, and a new one is made.
    while (::flock(fd_, LOCK_EX) != 0) {
      if (errno != EINTR) Fail("cannot write ", errno);
      if (StopSignal()) Abort();
      CheckStop();
    }
    struct stat held {};
    if (::fstat(fd_, &held) != 0) Fail("cannot write ", errno);
    if (held.st_nlink > 0) return;
    ::close(fd_);
    fd_ = -1;
    temp_.clear();
  }
}

OutputFile::~OutputFile() {
  Abort();
  if (folder_ >= 0) ::close(folder_);
}

void OutputFile::Abort() {
  if (!temp_.empty()) ::unlink(temp_.c_str());
  temp_.clear();
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  DropKept();
}

void OutputFile::DropKept() {
  // Unnamed before the lock goes, so that no clean-up sees it unlocked.
  if (!kept_.empty()) ::unlink(kept_.c_str());
  kept_.clear();
  if (keptFd_ >= 0) ::close(keptFd_);
  keptFd_ = -1;
}

void OutputFile::Fail(const char* what, int error) {
  Abort();
  throw std::runtime_error(what + Reason(path_, error));
}

void OutputFile::Write(const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    // A signal may cut a write to a pipe short: stop before waiting again.
    if (StopSignal()) Abort();
    CheckStop();
    const ssize_t n = ::write(fd_, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) Fail("cannot write ", n < 0 ? errno : EIO);
    p += n, size -= size_t(n);
  }
}

int64_t OutputFile::Seek(int64_t offset, int whence) {
  const off_t at = ::lseek(fd_, off_t(offset), whence);
  if (at < 0) Fail("cannot seek in ", errno);
  return at;
}

int64_t OutputFile::Size() {
  struct stat st;
  if (::fstat(fd_, &st) != 0) Fail("cannot write ", errno);
  return st.st_size;
}

void OutputFile::Commit() { CommitAll({this}); }

void OutputFile::Ready() {
  if (streamed_) {
    if (::fsync(fd_) != 0 && errno != EINVAL && errno != EROFS) Fail("cannot write ", errno);
    return;
  }
  struct stat st {};
  replaces_ = ::stat(target_.c_str(), &st) == 0;
  const mode_t mode = replaces_ ? st.st_mode & 07777 : NewFileMode();
  if (::fchmod(fd_, mode) != 0 || (durable_ && ::fsync(fd_) != 0)) Fail("cannot write ", errno);
  if (!durable_) {
    // A file of a set: the folder's sync covers it, and its close reports
    // what the write-back found.
    const int rc = ::close(fd_);
    fd_ = -1;
    if (rc != 0) Fail("cannot write ", errno);
  }
}

bool OutputFile::KeepOld() {
  if (Restorable() || streamed_) return Restorable();
  // A second name for the file about to be replaced, made through a
  // descriptor already locked (the lock is the file's, seen through every
  // name), so that no other run's clean-up takes it for a dead run's. Where
  // the file system has no hard links, the file is replaced last instead.
  const int fd = ::open(target_.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  struct stat held {};
  if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::fstat(fd, &held) != 0 ||
      !S_ISREG(held.st_mode)) {
    if (fd >= 0) ::close(fd);
    return false;
  }
  const std::string from = "/proc/self/fd/" + std::to_string(fd);
  const std::string dir = Folder(target_);
  std::random_device random;
  for (int tries = 0; tries < 100; ++tries) {
    static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::string name = std::string(kTempPrefix) + "XXXXXX";
    for (char& c : name)
      if (c == 'X') c = kLetters[random() % (sizeof kLetters - 1)];
    const std::string kept = Join(dir, name);
    if (::linkat(AT_FDCWD, from.c_str(), AT_FDCWD, kept.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      kept_ = kept;
      keptFd_ = fd;
      return true;
    }
    if (errno != EEXIST) break;
  }
  ::close(fd);
  return false;
}

void OutputFile::Swap() {
  if (streamed_) {
    const int rc = ::close(fd_);
    fd_ = -1;
    if (rc != 0) Fail("cannot write ", errno);
    return;
  }
  if (::rename(temp_.c_str(), target_.c_str()) != 0) Fail("cannot write ", errno);
  temp_.clear();
  swapped_ = true;
}

void OutputFile::Restore() {
  // A file that replaced none is put back by taking it away.
  if (swapped_ && !kept_.empty()) {
    // Should the old file not go back, it is left under its hidden name
    // rather than deleted with the rest.
    ::rename(kept_.c_str(), target_.c_str());
    kept_.clear();
  } else if (swapped_ && !replaces_) {
    ::unlink(target_.c_str());
  }
  swapped_ = false;
}

void OutputFile::Settle() {
  // The data was synced before the rename; the lock goes with the close.
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  DropKept();
  if (durable_ && swapped_) SyncFolder(Folder(target_));
}

void WriteFileAtomic(const std::string& path, const std::vector<uint8_t>& bytes) {
  OutputFile file(path);
  file.Write(bytes.data(), bytes.size());
  file.Commit();
}

// ---- a set of files in a folder ----

FolderOutput::FolderOutput(std::string dir, bool force, const std::string& option,
                           std::function<bool(const std::string&)> owned)
    : dir_(std::move(dir)), owned_(std::move(owned)) {
  std::error_code ec;
  const fs::file_status status = fs::status(dir_, ec);
  if (fs::exists(status) && !fs::is_directory(status))
    throw UsageError(option + " " + dir_ + ": it is a file, not a folder");
  if (!fs::exists(status)) {
    // Make the missing folders one by one, so that a failed run takes away
    // exactly those.
    std::vector<fs::path> missing;
    fs::path full = fs::path(dir_).lexically_normal();
    if (!full.has_filename()) full = full.parent_path();  // "frames/"
    for (fs::path p = full; !p.empty() && !fs::exists(p, ec); p = p.parent_path()) {
      missing.insert(missing.begin(), p);
      if (p == p.parent_path() || p.relative_path().empty()) break;
    }
    for (const fs::path& p : missing) {
      if (::mkdir(p.c_str(), 0777) != 0) {
        const int error = errno;
        if (error == EEXIST && fs::is_directory(p, ec)) continue;  // another run made it
        Remove();
        throw std::runtime_error("cannot make the folder " + Reason(p.string(), error));
      }
      made_.push_back(p.string());
    }
  }
  // One run at a time: the lock lives on the folder itself, so nothing is
  // added to it or beside it.
  lock_ = ::open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (lock_ < 0 || ::flock(lock_, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    Remove();
    if (error == EWOULDBLOCK)
      throw std::runtime_error(option + " " + dir_ +
                               ": another run is writing into this folder; try again when it "
                               "has ended");
    throw std::runtime_error("cannot write into the folder " + Reason(dir_, error));
  }
  // From here on the run works through the folder it locked, wherever it is
  // moved or whatever its name comes to mean, so that its files and its
  // clean-up stay together.
  at_ = "/proc/self/fd/" + std::to_string(lock_);
  if (::access(at_.c_str(), F_OK) != 0) at_ = dir_;
  // Checked before anything is recovered: a run that is refused changes
  // nothing. A dead run's hidden names count for the files that recovery
  // would bring back.
  std::vector<std::string> present;
  for (const std::string& name : Names(at_)) {
    const std::string back = SuffixOf(name, kOutPrefix), ahead = SuffixOf(name, kOldPrefix);
    std::error_code ec;
    const bool moving = !back.empty() && fs::is_directory(fs::symlink_status(Join(at_, name), ec));
    if (moving || (!ahead.empty() && fs::is_directory(Join(at_, kNewPrefix + ahead), ec))) {
      for (const std::string& inner : Names(Join(at_, back.empty() ? kNewPrefix + ahead : name)))
        present.push_back(inner);
    } else if (!IsHidden(name)) {
      present.push_back(name);
    }
  }
  if (!present.empty() && !force) {
    std::string some;
    for (size_t i = 0; i < present.size() && i < 3; ++i) some += (i ? ", " : "") + present[i];
    if (present.size() > 3) some += ", ...";
    Remove();
    throw UsageError(option + " " + dir_ + " already holds " + std::to_string(present.size()) +
                     " file(s) (" + some +
                     "); --force replaces this tool's own files there and leaves the others");
  }
  Recover();
  std::string staging = Join(at_, std::string(kNewPrefix) + "XXXXXX");
  if (!::mkdtemp(staging.data())) {
    const int error = errno;
    Remove();
    throw std::runtime_error("cannot write into the folder " + Reason(dir_, error));
  }
  staging_ = staging;
}

// Holding the lock, what is in the folder under the tools' hidden names was
// left by a run that is gone. A swap that had moved the whole old set aside
// (".orvold-") is finished with the rest of its new set; one that had not
// (".orvout-") is undone; then staging folders and files go.
void FolderOutput::Recover() {
  std::error_code ec;
  // Only folders of exactly the tools' names are theirs (never through a link).
  auto ours = [&](const std::string& name, const char* prefix) {
    const std::string suffix = SuffixOf(name, prefix);
    return !suffix.empty() && fs::is_directory(fs::symlink_status(Join(at_, name), ec))
               ? suffix
               : std::string();
  };
  auto fail = [&](const std::string& name, int error) {
    throw std::runtime_error("cannot finish what an earlier, stopped run left in " +
                             Reason(Join(dir_, name), error));
  };
  for (const std::string& name : Names(at_)) {
    const std::string back = ours(name, kOutPrefix), ahead = ours(name, kOldPrefix);
    const std::string staged = kNewPrefix + (back.empty() ? ahead : back);
    std::string from;
    if (!back.empty())
      from = Join(at_, name);
    else if (!ahead.empty() && !ours(staged, kNewPrefix).empty())
      from = Join(at_, staged);
    else
      continue;
    const std::vector<std::string> kept = MoveBack(from, at_, fail);
    if (!kept.empty()) {
      // Written after the kill: the user's. The dead run's copies stay
      // where the user sees them.
      const std::string stopped = "orv-stopped-run-" + (back.empty() ? ahead : back);
      const std::string shown = Join(dir_, stopped);
      if (::rename(from.c_str(), Join(at_, stopped).c_str()) != 0)
        fail(fs::path(from).filename().string(), errno);
      for (const std::string& k : kept)
        std::fprintf(stderr, "kept %s, written after a run was stopped; that run's copy is %s\n",
                     Join(dir_, k).c_str(), Join(shown, k).c_str());
    }
    fs::remove_all(Join(at_, staged), ec);
    fs::remove_all(Join(at_, name), ec);
  }
  for (const std::string& name : Names(at_))
    if (!ours(name, kNewPrefix).empty() || !ours(name, kOldPrefix).empty())
      fs::remove_all(Join(at_, name), ec);
  RemoveDeadTemps(at_);
}

FolderOutput::~FolderOutput() {
  if (!committed_) Remove();
  if (lock_ >= 0) ::close(lock_);
}

void FolderOutput::Remove() {
  std::error_code ignored;
  if (!staging_.empty()) fs::remove_all(staging_, ignored);
  staging_.clear();
  for (auto it = made_.rbegin(); it != made_.rend(); ++it) ::rmdir(it->c_str());
  made_.clear();
}

std::unique_ptr<OutputFile> FolderOutput::Open(const std::string& name) {
  return std::make_unique<OutputFile>(Join(staging_, name), Join(dir_, name));
}

void FolderOutput::Commit() { CommitAll({this}); }

void FolderOutput::Ready() {
  // The whole set reaches the disk before it replaces the old one.
  const int fd = ::open(staging_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const int synced = fd >= 0 ? ::syncfs(fd) : -1;
  const int error = errno;
  if (fd >= 0) ::close(fd);
  if (synced != 0) throw std::runtime_error("cannot write into the folder " + Reason(dir_, error));
}

void FolderOutput::Prepare() {
  std::error_code ec;
  old_.clear();
  for (const auto& entry : fs::directory_iterator(at_, ec)) {
    const std::string name = entry.path().filename().string();
    if (owned_(name) && !entry.is_directory(ec)) old_.push_back(name);
  }
  // The new set is whatever the staging folder holds (listed only now, so
  // that nothing is kept per file during the run).
  new_ = Names(staging_);
  // The old set moves into ".orvout-", which Swap renames ".orvold-": a run
  // that finds one after a kill knows which way to go.
  const std::string suffix = fs::path(staging_).filename().string().substr(std::strlen(kNewPrefix));
  const std::string moving = Join(at_, kOutPrefix + suffix);
  if (::mkdir(moving.c_str(), 0700) != 0)
    throw std::runtime_error("cannot write into the folder " + Reason(dir_, errno));
  std::string failed;
  if (const int error = Move(old_, at_, moving, &failed); error != 0) {
    ::rmdir(moving.c_str());
    throw std::runtime_error("cannot move " + failed + " aside in " + Reason(dir_, error) +
                             "; the folder is as it was");
  }
  moving_ = moving;
}

void FolderOutput::Swap() {
  const std::string suffix = fs::path(moving_).filename().string().substr(std::strlen(kOutPrefix));
  const std::string aside = Join(at_, kOldPrefix + suffix);
  if (::rename(moving_.c_str(), aside.c_str()) != 0)
    throw std::runtime_error("cannot move " + fs::path(aside).filename().string() + " aside in " +
                             Reason(dir_, errno) + "; the folder is as it was");
  aside_ = aside;
  moving_.clear();
}

void FolderOutput::Complete() {
  std::string failed;
  if (const int error = Move(new_, staging_, at_, &failed); error != 0)
    throw std::runtime_error("cannot move " + failed + " into " + Reason(dir_, error) +
                             "; the folder is as it was");
  movedIn_ = true;
}

void FolderOutput::Restore() {
  std::string unused;
  if (movedIn_) Move(new_, at_, staging_, &unused);
  movedIn_ = false;
  if (!aside_.empty()) PutOldBack();
  if (!moving_.empty() && Move(old_, moving_, at_, &unused) == 0) ::rmdir(moving_.c_str());
  moving_.clear();
}

// The old set is deleted only once the new one is in place; one that cannot
// be put back stays in its hidden folder.
void FolderOutput::PutOldBack() {
  std::string unused;
  std::error_code ec;
  if (Move(old_, aside_, at_, &unused) == 0) {
    fs::remove_all(aside_, ec);
  } else {
    // Named as a set on its way out again, so that the next run puts it back
    // rather than finishing the swap.
    const std::string suffix = fs::path(aside_).filename().string().substr(std::strlen(kOldPrefix));
    ::rename(aside_.c_str(), Join(at_, kOutPrefix + suffix).c_str());
  }
  aside_.clear();
}

void FolderOutput::Settle() {
  std::error_code ec;
  fs::remove_all(staging_, ec);
  staging_.clear();
  fs::remove_all(aside_, ec);
  aside_.clear();
  SyncFolder(at_);
  committed_ = true;
}

}  // namespace orvtools
