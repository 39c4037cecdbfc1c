#include "tools/safe_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "tools/args.h"

namespace fs = std::filesystem;

namespace orvtools {

namespace {

volatile std::sig_atomic_t stopSignal = 0;

void OnStopSignal(int signal) {
  if (!stopSignal) stopSignal = signal;
}

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Short and plain, so that any folder that takes the final name takes it.
constexpr char kTempPattern[] = ".orvXXXXXX";

std::string Folder(const std::string& path) {
  const std::string parent = fs::path(path).parent_path().string();
  return parent.empty() ? "." : parent;
}

std::string Join(const std::string& dir, const std::string& name) {
  return (fs::path(dir) / name).string();
}

// The file a path names once symbolic links are followed; the path itself
// when it is no link or the chain is too long to follow.
std::string Target(const std::string& path) {
  std::string p = path;
  for (int hops = 0; hops < 40; ++hops) {
    std::error_code ec;
    if (!fs::is_symlink(fs::symlink_status(p, ec))) return p;
    const fs::path link = fs::read_symlink(p, ec);
    if (ec) return p;
    p = link.is_absolute() ? link.string() : (fs::path(Folder(p)) / link).string();
  }
  return path;
}

void SyncFolder(const std::string& dir) {
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

mode_t NewFileMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

}  // namespace

void CatchStopSignals() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int s : kStopSignals) sigaction(s, &action, nullptr);
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

// ---- one file ----

OutputFile::OutputFile(std::string path, bool durable)
    : path_(std::move(path)), target_(Target(path_)), durable_(durable) {
  struct stat st {};
  if (::stat(target_.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) throw std::runtime_error("cannot write " + path_ + ": it is a folder");
    if (!S_ISREG(st.st_mode)) {
      // A device or pipe is written as it is: there is nothing to replace.
      fd_ = ::open(target_.c_str(), O_WRONLY | O_CLOEXEC);
      if (fd_ < 0) throw std::runtime_error("cannot write " + Reason(path_, errno));
      return;
    }
  }
  const std::string dir = Folder(target_);
  const long nameMax = ::pathconf(dir.c_str(), _PC_NAME_MAX);
  if (nameMax > 0 && fs::path(target_).filename().string().size() > size_t(nameMax))
    throw std::runtime_error("cannot write " + Reason(path_, ENAMETOOLONG));
  std::string temp = Join(dir, kTempPattern);
  fd_ = ::mkstemp(temp.data());
  if (fd_ < 0) throw std::runtime_error("cannot write " + Reason(path_, errno));
  temp_ = temp;
}

OutputFile::~OutputFile() { Abort(); }

void OutputFile::Abort() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!temp_.empty()) ::unlink(temp_.c_str());
  temp_.clear();
}

void OutputFile::Write(const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::write(fd_, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int error = n < 0 ? errno : EIO;
      Abort();
      throw std::runtime_error("cannot write " + Reason(path_, error));
    }
    p += n, size -= size_t(n);
  }
}

int64_t OutputFile::Seek(int64_t offset, int whence) {
  const off_t at = ::lseek(fd_, off_t(offset), whence);
  if (at < 0) {
    const int error = errno;
    Abort();
    throw std::runtime_error("cannot seek in " + Reason(path_, error));
  }
  return at;
}

int64_t OutputFile::Size() {
  struct stat st;
  if (::fstat(fd_, &st) != 0) {
    const int error = errno;
    Abort();
    throw std::runtime_error("cannot write " + Reason(path_, error));
  }
  return st.st_size;
}

void OutputFile::Commit() {
  auto fail = [&](int error) {
    Abort();
    throw std::runtime_error("cannot write " + Reason(path_, error));
  };
  if (temp_.empty()) {
    // Written straight into a device or pipe.
    if (::fsync(fd_) != 0 && errno != EINVAL && errno != EROFS) fail(errno);
    const int rc = ::close(fd_);
    fd_ = -1;
    if (rc != 0) fail(errno);
    return;
  }
  struct stat st {};
  const mode_t mode = ::stat(target_.c_str(), &st) == 0 ? st.st_mode & 07777 : NewFileMode();
  if (::fchmod(fd_, mode) != 0 || (durable_ && ::fsync(fd_) != 0)) fail(errno);
  const int rc = ::close(fd_);
  fd_ = -1;
  if (rc != 0) fail(errno);
  {
    SignalHold hold;
    if (::rename(temp_.c_str(), target_.c_str()) != 0) fail(errno);
    temp_.clear();
  }
  if (durable_) SyncFolder(Folder(target_));
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
  if (fs::exists(status)) {
    std::vector<std::string> present;
    for (const auto& entry : fs::directory_iterator(dir_, ec))
      present.push_back(entry.path().filename().string());
    if (ec) throw std::runtime_error("cannot read the folder " + Reason(dir_, ec.value()));
    if (!present.empty() && !force) {
      std::string some;
      for (size_t i = 0; i < present.size() && i < 3; ++i) some += (i ? ", " : "") + present[i];
      if (present.size() > 3) some += ", ...";
      throw UsageError(option + " " + dir_ + " already holds " + std::to_string(present.size()) +
                       " file(s) (" + some +
                       "); --force replaces this tool's own files there and leaves the others");
    }
  } else {
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
        Remove();
        throw std::runtime_error("cannot make the folder " + Reason(p.string(), error));
      }
      made_.push_back(p.string());
    }
  }
  std::string staging = Join(dir_, kTempPattern);
  if (!::mkdtemp(staging.data())) {
    const int error = errno;
    Remove();
    throw std::runtime_error("cannot write into the folder " + Reason(dir_, error));
  }
  staging_ = staging;
}

FolderOutput::~FolderOutput() {
  if (!committed_) Remove();
}

void FolderOutput::Remove() {
  std::error_code ignored;
  if (!staging_.empty()) fs::remove_all(staging_, ignored);
  staging_.clear();
  for (auto it = made_.rbegin(); it != made_.rend(); ++it) ::rmdir(it->c_str());
  made_.clear();
}

std::unique_ptr<OutputFile> FolderOutput::Open(const std::string& name) {
  return std::make_unique<OutputFile>(Join(staging_, name), false);
}

void FolderOutput::Commit() {
  // The whole set reaches the disk before it replaces the old one.
  const int fd = ::open(staging_.c_str(), O_RDONLY | O_DIRECTORY);
  const int synced = fd >= 0 ? ::syncfs(fd) : -1;
  const int error = errno;
  if (fd >= 0) ::close(fd);
  if (synced != 0) throw std::runtime_error("cannot write into the folder " + Reason(dir_, error));
  SignalHold hold;
  std::vector<std::string> old;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir_, ec)) {
    const std::string name = entry.path().filename().string();
    if (owned_(name) && !entry.is_directory(ec)) old.push_back(name);
  }
  // The new set is whatever the staging folder holds (listed only now, so
  // that nothing is kept per file during the run).
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(staging_, ec))
    names.push_back(entry.path().filename().string());
  if (ec) throw std::runtime_error("cannot read the folder " + Reason(staging_, ec.value()));
  std::string aside;
  if (!old.empty()) {
    aside = Join(dir_, kTempPattern);
    if (!::mkdtemp(aside.data()))
      throw std::runtime_error("cannot write into the folder " + Reason(dir_, errno));
  }
  // Moves names from one folder to another; on a failure moves back those
  // it moved and returns the failing name and errno.
  auto move = [](const std::vector<std::string>& names, const std::string& from,
                 const std::string& to, std::string* failed) {
    for (size_t i = 0; i < names.size(); ++i) {
      if (::rename(Join(from, names[i]).c_str(), Join(to, names[i]).c_str()) == 0) continue;
      const int error = errno;
      *failed = names[i];
      while (i-- > 0) ::rename(Join(to, names[i]).c_str(), Join(from, names[i]).c_str());
      return error;
    }
    return 0;
  };
  std::string failed, unused;
  int moveError = move(old, dir_, aside, &failed);
  bool restored = true;
  if (moveError == 0) {
    moveError = move(names, staging_, dir_, &failed);
    if (moveError != 0) restored = move(old, aside, dir_, &unused) == 0;
  }
  // The old set is deleted only once the new one is in place; a set that
  // could not be put back stays in its hidden folder.
  if (!aside.empty() && restored) fs::remove_all(aside, ec);
  if (moveError != 0)
    throw std::runtime_error("cannot move " + failed + " into " + Reason(dir_, moveError) +
                             "; the folder is as it was");
  fs::remove_all(staging_, ec);
  staging_.clear();
  SyncFolder(dir_);
  committed_ = true;
}

}  // namespace orvtools
