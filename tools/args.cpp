#include "tools/args.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>

namespace orvtools {

std::string Lower(std::string s) {
  for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

namespace {

std::string Range(int64_t min, int64_t max) {
  return "from " + std::to_string(min) + " to " + std::to_string(max);
}

}  // namespace

Args::Args(int argc, char** argv, const std::vector<OptionSpec>& specs)
    : Args(std::vector<std::string>(argv, argv + argc), specs) {}

Args::Args(const std::vector<std::string>& args, const std::vector<OptionSpec>& specs) {
  bool optionsEnd = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnd || arg.size() < 2 || arg[0] != '-') {
      positional_.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnd = true;
      continue;
    }
    const size_t eq = arg.rfind("--", 0) == 0 ? arg.find('=') : std::string::npos;
    const std::string name = arg.substr(0, eq);
    const OptionSpec* spec = nullptr;
    for (const OptionSpec& s : specs)
      for (const std::string& n : s.names)
        if (n == name) spec = &s;
    if (!spec) {
      std::string known;
      for (const OptionSpec& s : specs) known += " " + s.names[0];
      throw UsageError("unknown option " + name +
                       (known.empty() ? "; no option is taken here" : "; the options are" + known));
    }
    std::string value;
    if (!spec->takesValue) {
      if (eq != std::string::npos) throw UsageError(name + " takes no value");
    } else if (eq != std::string::npos) {
      value = arg.substr(eq + 1);
    } else if (i + 1 < args.size() && args[i + 1].rfind("--", 0) != 0) {
      value = args[++i];
    } else {
      throw UsageError(name + " needs a value");
    }
    if (spec->takesValue && value.empty()) throw UsageError(name + " needs a value");
    if (Has(spec->names[0])) throw UsageError(spec->names[0] + " is given twice; give it once");
    given_.emplace_back(spec->names[0], std::move(value));
  }
}

bool Args::Has(const std::string& name) const {
  for (const auto& [n, v] : given_)
    if (n == name) return true;
  return false;
}

std::optional<std::string> Args::Value(const std::string& name) const {
  for (const auto& [n, v] : given_)
    if (n == name) return v;
  return std::nullopt;
}

void Args::AtMostPositional(size_t allowed, const std::string& what) const {
  if (positional_.size() > allowed)
    throw UsageError("unexpected argument '" + positional_[allowed] + "'" +
                     (what.empty() ? "" : " after " + what));
}

int64_t Args::Whole(const std::string& name, int64_t min, int64_t max, int64_t fallback) const {
  const auto v = Value(name);
  return v ? ParseWhole(name, *v, min, max) : fallback;
}

int64_t ParseWhole(const std::string& option, const std::string& text, int64_t min, int64_t max) {
  int64_t value = 0;
  const char* begin = text.data() + (text.size() > 1 && text[0] == '+' ? 1 : 0);
  const char* end = text.data() + text.size();
  const auto [p, ec] = std::from_chars(begin, end, value);
  if (ec == std::errc::result_out_of_range ||
      (ec == std::errc() && p == end && !text.empty() && (value < min || value > max)))
    throw UsageError(option + " must be " + Range(min, max) + ", not " + text);
  if (ec != std::errc() || p != end || text.empty())
    throw UsageError(option + ": '" + text + "' is not a whole number");
  return value;
}

std::vector<int64_t> ParseWholeList(const std::string& option, const std::string& text,
                                    char separator, size_t count, int64_t min, int64_t max) {
  std::vector<std::string> parts(1);
  for (char c : text) {
    if (c == separator)
      parts.emplace_back();
    else
      parts.back().push_back(c);
  }
  if (parts.size() != count)
    throw UsageError(option + " needs " + std::to_string(count) + " whole numbers separated by '" +
                     separator + "', not " + text);
  std::vector<int64_t> out;
  for (const std::string& part : parts) out.push_back(ParseWhole(option, part, min, max));
  return out;
}

size_t ParseChoice(const std::string& option, const std::string& text,
                   const std::vector<std::string>& allowed) {
  std::string names;
  for (size_t i = 0; i < allowed.size(); ++i) {
    if (Lower(text) == Lower(allowed[i])) return i;
    names += (i ? ", " : "") + allowed[i];
  }
  throw UsageError(option + ": '" + text + "' is not one of " + names);
}

void CheckOutputName(const std::string& option, const std::string& path,
                     const std::vector<std::string>& extensions) {
  const size_t slash = path.find_last_of('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string list;
  for (const std::string& ext : extensions) {
    list += (list.empty() ? "" : " or ") + ext;
    if (name.size() >= ext.size() && Lower(name.substr(name.size() - ext.size())) == ext) {
      if (name.size() == ext.size())
        throw UsageError(option + " " + path + ": the name needs a stem before " + ext);
      return;
    }
  }
  throw UsageError(option + " " + path + ": the name must end in " + list);
}

void OpenStandardDescriptors() {
#if !defined(_WIN32)
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
    // open gives the lowest free descriptor: this one.
    const int opened = ::open("/dev/null", fd == 2 ? O_WRONLY : O_RDONLY);
    if (opened != fd && opened >= 0) ::close(opened);
  }
#endif  // Windows hands a program no closed slot that a file could take
}

void FinishStandardOutput() {
  if (std::fflush(stdout) != 0 || std::ferror(stdout))
    throw std::runtime_error("cannot write to standard output: " +
                             std::string(std::strerror(errno)));
}

}  // namespace orvtools
