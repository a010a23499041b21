#include "cli/convert.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <charconv>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <stdexcept>
#include <system_error>
#include <thread>

#include <CLI/CLI.hpp>

#include "files/files.h"
#include "names/names.h"
#include "pdt/kernel.h"
#include "picture/loaded_picture.h"
#include "png/png_writer.h"

#ifndef QUILLON_VERSION
#define QUILLON_VERSION "unknown"
#endif

namespace pdt2bmp {
namespace fs = std::filesystem;

namespace {

constexpr unsigned kMaxJobs = 1024;

constexpr const char* kUsage =
    "usage: pdt2bmp [-f] [-q] [--format png|bmp] IN.pdt [OUT.bmp|OUT.png]\n"
    "       pdt2bmp [-f] [-q] [-r] [-j N] [--format png|bmp] -o DIR IN...\n";

constexpr const char* kHelp =
    "Converts PDT pictures into uncompressed 32-bit BMP files or 8-bit RGB PNG files.\n"
    "\n"
    "Without OUT the BMP file is written beside IN, under IN's name with its last\n"
    "three letters replaced by \"bmp\" (EV001.PDT gives EV001.bmp); OUT may also\n"
    "be a folder. Each IN may be a file or a folder; a folder contributes its files\n"
    "named *.pdt (in any letter case), converted beside themselves or, with -o,\n"
    "into DIR. OUT's extension, .bmp or .png in any letter case, names its format\n"
    "unless --format does. Existing files are never replaced without -f, and a PDT\n"
    "picture never is, whatever its name.\n"
    "\n"
    "  -o, --output DIR   write the files into DIR (created when missing)\n"
    "  -r, --recursive    also convert the files in subfolders, keeping their\n"
    "                     structure under DIR\n"
    "  -j, --jobs N       convert N files at a time (default: one per processor)\n"
    "      --format FMT   png or bmp: the format of the files written (by default\n"
    "                     OUT's extension, and BMP for proposed names, which\n"
    "                     are named *.png or *.bmp)\n"
    "  -f, --force        replace existing files\n"
    "  -q, --quiet        no progress bar and no summary; errors are still shown\n"
    "      --sjis-names   name the outputs of Shift-JIS named inputs (and, with -r -o,\n"
    "                     their folders) in UTF-8; otherwise outputs keep the\n"
    "                     input's name bytes\n"
    "  -h, --help         show this help and exit\n"
    "      --version      show the version and exit\n"
    "\n"
    "Exit status: 0 when every file was converted, 1 when any failed (the others\n"
    "are still converted), 2 when the command line was not understood, 130 or 143\n"
    "when interrupted (files being written are removed; finished ones stay).\n";

bool ParseJobs(std::string_view text, unsigned& jobs) {
  unsigned value = 0;
  const char* first = text.data();
  const char* last = text.data() + text.size();
  const auto [end, ec] = std::from_chars(first, last, value);
  if (text.empty() || ec != std::errc() || end != last) return false;
  if (value < 1 || value > kMaxJobs) return false;
  jobs = value;
  return true;
}

// The proposed output name for `input` in the chosen format.
fs::path OutputName(const fs::path& input, Format format, bool sjis_names) {
  std::string name = names::PathBytes(ProposedName(input.filename(), sjis_names));
  if (format == Format::Png) name.replace(name.size() - 3, 3, "png");
  return names::PathFromBytes(name);
}

// The format an output name's extension names, in any letter case.
std::optional<Format> FormatOfName(const fs::path& output) {
  std::string ext = names::PathBytes(output.extension());
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (ext == ".bmp") return Format::Bmp;
  if (ext == ".png") return Format::Png;
  return std::nullopt;
}

// Whether the file at `path` is a PDT picture: a regular file whose first
// eight bytes, the signature, hold "PDT10". Such a file is never written over.
bool IsPdtPicture(const fs::path& path) {
  if (files::CheckRegularFile(path) != files::Status::Ok) return false;
  std::ifstream file(path, std::ios::binary);  // a wide name on Windows
  if (!file) return false;
  char signature[8] = {};
  file.read(signature, sizeof signature);
  const auto got = static_cast<std::size_t>(file.gcount());
  return std::string_view(signature, got).find("PDT10") != std::string_view::npos;
}

std::string Quoted(std::string_view text) {
  return "'" + std::string(text) + "'";
}

// A path as messages show it: readable even when its names are Shift-JIS or
// not text at all.
std::string Shown(const fs::path& path) {
  return names::ReadablePath(path);
}

// The first option that is not one of ours, or lacks its value or has one it
// does not take, in the program's own words rather than the parser's.
std::string CheckOptionNames(const std::vector<std::string_view>& args) {
  constexpr std::string_view kFlags[] = {"--force", "--quiet",      "--recursive",
                                         "--help",  "--sjis-names", "--version"};
  constexpr std::string_view kWithValue[] = {"--output", "--jobs", "--format"};
  const auto needs_value = [](std::string_view name) {
    return "option " + Quoted(name) + " needs a value";
  };
  for (std::size_t k = 0; k < args.size(); ++k) {
    const std::string_view arg = args[k];
    if (arg == "--") break;
    if (arg.size() < 2 || arg[0] != '-') continue;
    if (arg[1] == '-') {
      const std::string_view name = arg.substr(0, arg.find('='));
      const bool attached = name.size() != arg.size();
      if (std::find(std::begin(kWithValue), std::end(kWithValue), name) != std::end(kWithValue)) {
        if (!attached && ++k >= args.size()) return needs_value(name);
      } else if (std::find(std::begin(kFlags), std::end(kFlags), name) != std::end(kFlags)) {
        if (attached) return "option " + Quoted(name) + " takes no value";
      } else {
        return "unknown option " + Quoted(name);
      }
      continue;
    }
    // Bundled short flags; -o and -j take the rest of the word or the next one.
    for (std::size_t c = 1; c < arg.size(); ++c) {
      const char letter = arg[c];
      if (std::string_view("fqrh").find(letter) != std::string_view::npos) continue;
      if (letter == 'o' || letter == 'j') {
        if (c + 1 == arg.size() && ++k >= args.size()) return needs_value(std::string{'-', letter});
        break;
      }
      return "unknown option " + Quoted(std::string{'-', letter});
    }
  }
  return {};
}

// Checks what can only be judged once every argument is known.
std::string CheckOperands(const Options& options) {
  if (options.operands.empty()) return "missing operand";
  if (!options.out_dir && options.operands.size() > 2) {
    return "too many operands (use -o DIR to convert several files)";
  }
  return {};
}

// Key under which an output claims its name: two spellings of one path
// match, letter case included where the file system ignores it.
std::string OutputKey(const fs::path& output) {
  std::error_code ec;
  fs::path absolute = fs::absolute(output, ec);
  if (ec) absolute = output;
  return names::NameKey(absolute.lexically_normal());
}

struct FolderListing {
  std::vector<fs::path> files;    // *.pdt files, sorted
  std::vector<fs::path> folders;  // subfolders (not followed through links), sorted
};

bool ListFolder(const fs::path& folder, FolderListing& listing, std::string& reason) {
  std::error_code ec;
  fs::directory_iterator it(folder, ec);
  const fs::directory_iterator end;
  for (; !ec && it != end; it.increment(ec)) {
    const fs::directory_entry& entry = *it;
    std::error_code entry_ec;
    const fs::path name = entry.path().filename();
    if (entry.is_directory(entry_ec)) {
      if (!entry.is_symlink(entry_ec)) listing.folders.push_back(entry.path());
    } else if (picture::HasPdtSuffix(names::PathBytes(name)) && entry.is_regular_file(entry_ec)) {
      listing.files.push_back(entry.path());
    }
  }
  if (ec) {
    reason = std::string("cannot read the folder (") +
             files::Describe(files::StatusOf(ec, files::Status::ReadError)) + ")";
    return false;
  }
  std::sort(listing.files.begin(), listing.files.end());
  std::sort(listing.folders.begin(), listing.folders.end());
  return true;
}

class Planner {
 public:
  Planner(Plan& plan, Format format, bool sjis_names)
      : plan_(plan), format_(format), sjis_names_(sjis_names) {}

  void Add(fs::path input, fs::path output) { Add(std::move(input), std::move(output), format_); }

  void Add(fs::path input, fs::path output, Format format) {
    Conversion conversion{std::move(input), std::move(output), format, {}};
    if (conversion.input.filename().empty()) {
      // Only a folder may be named with a trailing separator.
      conversion.error = "not a folder";
      plan_.conversions.push_back(std::move(conversion));
      return;
    }
    const auto [it, inserted] = claimed_.emplace(OutputKey(conversion.output), conversion.input);
    if (!inserted) {
      conversion.error =
          Shown(conversion.output) + " is already the output of " + Shown(it->second);
    }
    plan_.conversions.push_back(std::move(conversion));
  }

  // Adds the files of `folder`; their outputs go to out_root / (their folder
  // relative to `root`), or beside them when out_root is empty.
  void AddFolder(const fs::path& root, const fs::path& folder, const fs::path& out_root,
                 bool recursive) {
    FolderListing listing;
    std::string reason;
    if (!ListFolder(folder, listing, reason)) {
      plan_.folder_errors.push_back({folder, std::move(reason)});
      return;
    }
    for (const fs::path& file : listing.files) {
      fs::path dir = file.parent_path();
      if (!out_root.empty()) {
        const fs::path relative = folder.lexically_relative(root);
        dir = relative.empty() || relative == "." ? out_root : out_root / OutputFolders(relative);
      }
      Add(file, dir / OutputName(file, format_, sjis_names_));
    }
    if (!recursive) return;
    for (const fs::path& sub : listing.folders) AddFolder(root, sub, out_root, recursive);
  }

 private:
  // The folders below -o DIR, renamed like the files with --sjis-names.
  fs::path OutputFolders(const fs::path& relative) const {
    if (!sjis_names_) return relative;
    fs::path out;
    for (const fs::path& part : relative) {
      out /= names::PathFromBytes(names::Utf8NameIfShiftJis(names::PathBytes(part)));
    }
    return out;
  }

  Plan& plan_;
  Format format_;
  bool sjis_names_;
  std::map<std::string, fs::path> claimed_;
};

bool IsFolder(const fs::path& path) {
  std::error_code ec;
  return fs::is_directory(path, ec);
}

// Serialises everything written to stderr while workers run, and keeps the
// progress bar as the terminal's last line.
class Reporter {
 public:
  Reporter(std::FILE* err, bool show_progress, std::size_t total)
      : err_(err), show_progress_(show_progress), total_(total) {}

  void Failure(const fs::path& subject, const std::string& reason) {
    std::string line = "pdt2bmp: " + Shown(subject) + ": " + reason + "\n";
    std::lock_guard lock(mutex_);
    if (show_progress_) line = "\r\033[K" + line + Bar();
    Write(line);
  }

  void FileDone() {
    std::lock_guard lock(mutex_);
    ++done_;
    if (show_progress_) Write("\r" + Bar());
  }

  void Start() {
    std::lock_guard lock(mutex_);
    if (show_progress_ && total_ > 0) Write(Bar());
  }

  void Finish() {
    std::lock_guard lock(mutex_);
    if (show_progress_ && total_ > 0) Write("\r\033[K");
  }

  // The last line of a run stopped by a signal, shown even when quiet.
  void Interrupted(std::size_t converted) {
    std::lock_guard lock(mutex_);
    Write(std::string(show_progress_ ? "\r\033[K" : "") + "pdt2bmp: interrupted; converted " +
          std::to_string(converted) + " of " + std::to_string(total_) + " files\n");
  }

 private:
  std::string Bar() const {
    constexpr std::size_t kWidth = 30;
    const std::size_t filled = total_ == 0 ? kWidth : done_ * kWidth / total_;
    std::string bar = "[";
    bar.append(filled, '#');
    bar.append(kWidth - filled, '.');
    bar += "] " + std::to_string(done_) + "/" + std::to_string(total_) + " files";
    return bar;
  }

  void Write(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), err_);
    std::fflush(err_);
  }

  std::mutex mutex_;
  std::FILE* err_;
  bool show_progress_;
  std::size_t total_;
  std::size_t done_ = 0;
};

// Why `output` may not be written, or an empty string when it may: a PDT
// picture is never replaced, and another file only with -f. `several_hint` is
// what to suggest when a picture is in the way.
std::string OutputObstacle(const Conversion& conversion, bool force,
                           const std::string& several_hint) {
  const fs::path& output = conversion.output;
  std::error_code ec;
  if (!fs::exists(fs::symlink_status(output, ec))) return {};
  const files::Status status = files::CheckRegularFile(output);
  if (status == files::Status::IsFolder) {
    return "cannot write " + Shown(output) + " (" + files::Describe(status) + ")";
  }
  if (fs::equivalent(conversion.input, output, ec)) return "the output would replace the input";
  if (IsPdtPicture(output))
    return Shown(output) + " is a PDT picture, never replaced" + several_hint;
  if (!force) return Shown(output) + " already exists (use --force to replace)";
  return {};
}

// Converts one file with the worker's picture; returns the reason on failure.
std::string ConvertOne(const Conversion& conversion, bool force, const std::string& several_hint,
                       picture::LoadedPicture& picture) {
  if (!conversion.error.empty()) return conversion.error;
  const fs::path& output = conversion.output;
  std::string obstacle = OutputObstacle(conversion, force, several_hint);
  if (!obstacle.empty()) return obstacle;

  // Opening a pipe or a device would wait for a writer or read without end.
  const files::Status input_status = files::CheckRegularFile(conversion.input);
  if (input_status == files::Status::IsFolder || input_status == files::Status::NotRegular) {
    return files::Describe(input_status);
  }

  const mdl_pdt::PdtStatus status = picture::LoadPicture(conversion.input, picture);
  if (status != mdl_pdt::PdtStatus::Ok) return mdl_pdt::Describe(status);

  const fs::path folder = output.parent_path();
  if (!folder.empty()) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    // Another worker may have created it at the same moment; only its absence counts.
    if (ec && !IsFolder(folder)) {
      return "cannot create the folder " + Shown(folder) + " (" +
             files::Describe(files::StatusOf(ec, files::Status::WriteError)) + ")";
    }
  }
  // Looked at again: a file may have appeared while the picture was decoded.
  obstacle = OutputObstacle(conversion, force, several_hint);
  if (!obstacle.empty()) return obstacle;
  // Without -f the file takes its name only if no file has it by then.
  const files::Replace replace = force ? files::Replace::Allowed : files::Replace::Never;
  const files::Status written =
      conversion.format == Format::Png
          ? png::WritePng(output, picture.Header.Width, picture.Header.Height, picture.Pixels,
                          png::Compression::Small, replace)
          : picture::WriteBmp(output, picture, replace);
  picture::Reset(picture);  // keeps the pixel memory for the worker's next picture
  if (written == files::Status::Exists) {
    obstacle = OutputObstacle(conversion, force, several_hint);
    return obstacle.empty() ? Shown(output) + " already exists" : obstacle;
  }
  if (written != files::Status::Ok) {
    return "cannot write " + Shown(output) + " (" + files::Describe(written) + ")";
  }
  return {};
}

// Runs every conversion on `jobs` threads; returns how many succeeded.
void ConvertAll(const Plan& plan, bool force, const std::string& several_hint, unsigned jobs,
                Reporter& reporter, std::atomic<std::size_t>& converted) {
  std::atomic<std::size_t> next{0};
  auto worker = [&] {
    picture::LoadedPicture picture;  // each worker holds one picture at a time
    for (;;) {
      const std::size_t index = next.fetch_add(1);
      if (index >= plan.conversions.size()) break;
      const Conversion& conversion = plan.conversions[index];
      std::string reason;
      try {
        reason = ConvertOne(conversion, force, several_hint, picture);
      } catch (const std::bad_alloc&) {
        // A header may announce a picture larger than the memory at hand.
        picture::Reset(picture);
        picture.Pixels.shrink_to_fit();
        reason = "not enough memory for the picture";
      } catch (const std::exception& error) {
        reason = error.what();
      }
      if (reason.empty()) {
        converted.fetch_add(1);
      } else {
        reporter.Failure(conversion.input, reason);
      }
      reporter.FileDone();
    }
  };
  const std::size_t threads = std::min<std::size_t>(jobs, plan.conversions.size());
  if (threads <= 1) {
    worker();
  } else {
    std::vector<std::jthread> pool;
    pool.reserve(threads);
    for (std::size_t k = 0; k < threads; ++k) pool.emplace_back(worker);
  }
}

// "converted N of M files", and how many failed.
std::string Summary(std::size_t converted, std::size_t total) {
  std::string summary =
      "converted " + std::to_string(converted) + " of " + std::to_string(total) + " files";
  if (converted < total) summary += ", " + std::to_string(total - converted) + " failed";
  return summary;
}

void Print(std::FILE* stream, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
}

int UsageError(std::FILE* err, const std::string& message) {
  Print(err,
        "pdt2bmp: " + message + "\n" + kUsage + "Try 'pdt2bmp --help' for more information.\n");
  return kExitUsage;
}

}  // namespace

fs::path ProposedName(const fs::path& file_name, bool sjis_names) {
  const std::string bytes = names::PathBytes(file_name);
  return names::PathFromBytes(
      picture::ProposedName(sjis_names ? names::Utf8NameIfShiftJis(bytes) : bytes));
}

ParsedArguments ParseArguments(const std::vector<std::string_view>& args) {
  ParsedArguments result;
  Options& options = result.options;
  result.error = CheckOptionNames(args);
  if (!result.error.empty()) return result;
  // The help and version texts are the program's own; the parser only reads
  // the command line (bundled short flags, attached values, --opt=value, and
  // "--" to end the options).
  CLI::App app;
  app.set_help_flag();
  app.allow_windows_style_options(false);
  std::string out_dir;
  std::string jobs;
  std::string format;
  std::vector<std::string> operands;
  app.add_flag("-f,--force", options.force)->disable_flag_override();
  app.add_flag("-q,--quiet", options.quiet)->disable_flag_override();
  app.add_flag("-r,--recursive", options.recursive)->disable_flag_override();
  app.add_flag("-h,--help", options.help)->disable_flag_override();
  app.add_flag("--version", options.version)->disable_flag_override();
  app.add_flag("--sjis-names", options.sjis_names)->disable_flag_override();
  CLI::Option* out_option =
      app.add_option("-o,--output", out_dir)->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  CLI::Option* jobs_option =
      app.add_option("-j,--jobs", jobs)->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  CLI::Option* format_option =
      app.add_option("--format", format)->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  app.add_option("operands", operands);

  // CLI11 takes the arguments in reverse order.
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::ParseError& error) {
    result.error = error.what();
    return result;
  }
  if (options.help || options.version) return result;
  if (out_option->count() > 0) {
    if (out_dir.empty()) {
      result.error = "option '--output' needs a folder";
      return result;
    }
    options.out_dir = names::PathFromBytes(out_dir);
  }
  if (jobs_option->count() > 0 && !ParseJobs(jobs, options.jobs)) {
    result.error = "bad number of jobs " + Quoted(jobs) + " (a whole number from 1 to " +
                   std::to_string(kMaxJobs) + ")";
    return result;
  }
  if (format_option->count() > 0) {
    if (format != "png" && format != "bmp") {
      result.error = "bad format " + Quoted(format) + " (png or bmp)";
      return result;
    }
    options.format = format == "png" ? Format::Png : Format::Bmp;
  }
  for (const std::string& operand : operands) {
    options.operands.push_back(names::PathFromBytes(operand));
  }
  result.error = CheckOperands(options);
  return result;
}

Plan MakePlan(const Options& options) {
  Plan plan;
  const Format format = options.format.value_or(Format::Bmp);
  Planner planner(plan, format, options.sjis_names);
  if (options.out_dir) {
    const fs::path& dir = *options.out_dir;
    for (const fs::path& operand : options.operands) {
      if (IsFolder(operand)) {
        planner.AddFolder(operand, operand, dir, options.recursive);
      } else {
        planner.Add(operand, dir / OutputName(operand, format, options.sjis_names));
      }
    }
    return plan;
  }
  const fs::path& input = options.operands.front();
  if (options.operands.size() == 2) {
    const fs::path& out = options.operands[1];
    if (IsFolder(out)) {
      planner.Add(input, out / OutputName(input, format, options.sjis_names));
    } else {
      planner.Add(input, out, options.format.value_or(FormatOfName(out).value_or(Format::Bmp)));
    }
  } else if (IsFolder(input)) {
    planner.AddFolder(input, input, {}, options.recursive);
  } else {
    planner.Add(input, input.parent_path() / OutputName(input, format, options.sjis_names));
  }
  return plan;
}

int Run(const std::vector<std::string_view>& args, std::FILE* out, std::FILE* err,
        bool err_is_terminal) {
  const ParsedArguments parsed = ParseArguments(args);
  if (!parsed.error.empty()) return UsageError(err, parsed.error);
  const Options& options = parsed.options;
  if (options.help) {
    Print(out, std::string(kUsage) + "\n" + kHelp);
    return kExitOk;
  }
  if (options.version) {
    Print(out, std::string("pdt2bmp (Quillon) " QUILLON_VERSION "\nPDT decoding kernel: ") +
                   mdl_pdt::KernelInUse() + "\n");
    return kExitOk;
  }
  if (!options.out_dir && options.operands.size() == 2 && IsFolder(options.operands[0])) {
    return UsageError(
        err, Shown(options.operands[0]) + " is a folder (use -o DIR to convert the files in it)");
  }
  const bool two_operands = !options.out_dir && options.operands.size() == 2;
  if (two_operands && !IsFolder(options.operands[1]) && !options.format &&
      !FormatOfName(options.operands[1])) {
    // One line, and nothing written: the name is most likely a slip.
    const fs::path& out_name = options.operands[1];
    Print(err, "pdt2bmp: " + Shown(out_name) +
                   (picture::HasPdtSuffix(names::PathBytes(out_name.filename()))
                        ? ": an output is not named *.pdt; to convert several files, use -o DIR\n"
                        : ": name the output *.bmp or *.png, or give --format bmp|png\n"));
    return kExitUsage;
  }
  std::error_code ec;
  if (options.out_dir && fs::exists(fs::symlink_status(*options.out_dir, ec)) &&
      !IsFolder(*options.out_dir)) {
    Print(err, "pdt2bmp: " + Shown(*options.out_dir) + ": not a folder\n");
    return kExitFailed;
  }

  const Plan plan = MakePlan(options);
  unsigned jobs = options.jobs;
  if (jobs == 0) jobs = std::max(1u, std::thread::hardware_concurrency());

  // Shared with the thread that waits for a signal, which may outlive Run.
  struct Progress {
    Progress(std::FILE* stream, bool show, std::size_t total) : reporter(stream, show, total) {}
    Reporter reporter;
    std::atomic<std::size_t> converted{0};
  };
  const auto progress =
      std::make_shared<Progress>(err, err_is_terminal && !options.quiet, plan.conversions.size());
  Reporter& reporter = progress->reporter;
  files::ExitOnInterrupt([progress](int /*exit_status*/) {
    progress->reporter.Interrupted(progress->converted.load());
  });
  for (const FolderError& error : plan.folder_errors) reporter.Failure(error.folder, error.reason);
  reporter.Start();
  // With two operands the user may have meant to convert both.
  const std::string several_hint = two_operands ? " (to convert several files, use -o DIR)" : "";
  ConvertAll(plan, options.force, several_hint, jobs, reporter, progress->converted);
  reporter.Finish();

  const std::size_t converted = progress->converted.load();
  const std::size_t total = plan.conversions.size();
  if (!options.quiet) {
    std::string summary = Summary(converted, total);
    if (!plan.folder_errors.empty()) {
      summary += ", " + std::to_string(plan.folder_errors.size()) +
                 (plan.folder_errors.size() == 1 ? " folder" : " folders") + " could not be read";
    }
    Print(err, summary + "\n");
  }
  return converted == total && plan.folder_errors.empty() ? kExitOk : kExitFailed;
}

}  // namespace pdt2bmp
