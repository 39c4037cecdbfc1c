// The command line of every tool, read the same strict way: known options
// only, each at most once, values whole and within range, and mistakes told
// with exit code 2.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace orvtools {

// Exit codes of every tool. A signal that stops a run gives 128 + its number.
inline constexpr int kExitOk = 0, kExitFailed = 1, kExitUsage = 2;

// A mistake on the command line (exit 2); any other std::exception is a run
// that could not be done (exit 1).
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// ASCII lower case, for names matched in any case.
std::string Lower(std::string s);

struct OptionSpec {
  std::vector<std::string> names;  // the first is the one the results use
  bool takesValue = false;
};

// Options as --name VALUE or --name=VALUE, flags as --name; "--" ends the
// options. Anything else is positional.
class Args {
 public:
  // Throws UsageError for an unknown option (naming the known ones), a
  // missing value, a value given to a flag and an option given twice.
  Args(const std::vector<std::string>& args, const std::vector<OptionSpec>& specs);
  Args(int argc, char** argv, const std::vector<OptionSpec>& specs);

  bool Has(const std::string& name) const;
  // How many options were given.
  size_t OptionCount() const { return given_.size(); }
  std::optional<std::string> Value(const std::string& name) const;
  const std::vector<std::string>& positional() const { return positional_; }
  // Refuses positional arguments beyond the first `allowed`.
  void AtMostPositional(size_t allowed, const std::string& what) const;

  // The option's whole number in [min, max], or fallback when absent.
  int64_t Whole(const std::string& name, int64_t min, int64_t max, int64_t fallback) const;

 private:
  std::vector<std::pair<std::string, std::string>> given_;  // name, value
  std::vector<std::string> positional_;
};

// A whole number in [min, max] written in decimal with an optional sign and
// nothing else; a UsageError names the option, the text and the range.
int64_t ParseWhole(const std::string& option, const std::string& text, int64_t min, int64_t max);
// count such numbers separated by `separator` ("1,2,3,4", "640x360").
std::vector<int64_t> ParseWholeList(const std::string& option, const std::string& text,
                                    char separator, size_t count, int64_t min, int64_t max);

// One of `allowed` (any case); otherwise a UsageError naming them. Returns
// the index of the one given.
size_t ParseChoice(const std::string& option, const std::string& text,
                   const std::vector<std::string>& allowed);

// An output file name that ends in one of the extensions (any case) and has
// a stem before it: "a.gif" but not ".gif" or "dir/.png".
void CheckOutputName(const std::string& option, const std::string& path,
                     const std::vector<std::string>& extensions);

// Opens /dev/null on whichever of descriptors 0, 1 and 2 is closed, before
// anything else is opened: a file the tool writes never takes one of them
// and receives its messages. Standard output stays unwritable (a summary
// that cannot go out is an error, as it is on a closed pipe); standard
// error takes the messages away. Nothing to do on Windows.
void OpenStandardDescriptors();

// Everything written to standard output reached it (a full disk or a closed
// pipe is an error like any other); throws naming the reason.
void FinishStandardOutput();

}  // namespace orvtools
