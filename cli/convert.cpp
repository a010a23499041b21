#include "cli/convert.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <charconv>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <stdexcept>
#include <system_error>
#include <thread>

#include <CLI/CLI.hpp>

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
    "into DIR. Existing files are never replaced without -f. An OUT ending in .png\n"
    "is written as PNG, any other as BMP.\n"
    "\n"
    "  -o, --output DIR   write the files into DIR (created when missing)\n"
    "  -r, --recursive    also convert the files in subfolders, keeping their\n"
    "                     structure under DIR\n"
    "  -j, --jobs N       convert N files at a time (default: one per processor)\n"
    "      --format FMT   png or bmp (default): the format of the files written\n"
    "                     under proposed names, named *.png or *.bmp\n"
    "  -f, --force        replace existing files\n"
    "  -q, --quiet        no progress bar and no summary; errors are still shown\n"
    "      --sjis-names   name the outputs of Shift-JIS named inputs (and, with -r -o,\n"
    "                     their folders) in UTF-8; otherwise outputs keep the\n"
    "                     input's name bytes\n"
    "      --help         show this help and exit\n"
    "      --version      show the version and exit\n"
    "\n"
    "Exit status: 0 when every file was converted, 1 when any failed (the others\n"
    "are still converted), 2 when the command line was not understood.\n";

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

// The proposed output name of `input` in `format`.
// The proposed output name for `input` in the chosen format.
fs::path OutputName(const fs::path& input, Format format, bool sjis_names) {
  std::string name = ProposedName(input.filename(), sjis_names).native();
  if (format == Format::Png) name.replace(name.size() - 3, 3, "png");
  return name;
}

bool IsPngName(const fs::path& output) {
  const std::string ext = output.extension().string();
  return ext.size() == 4 && ext[0] == '.' &&
         std::tolower(static_cast<unsigned char>(ext[1])) == 'p' &&
         std::tolower(static_cast<unsigned char>(ext[2])) == 'n' &&
         std::tolower(static_cast<unsigned char>(ext[3])) == 'g';
}

std::string Quoted(std::string_view text) {
  return "'" + std::string(text) + "'";
}

// A path as messages show it: readable even when its names are Shift-JIS or
// not text at all.
std::string Shown(const fs::path& path) {
  return names::ReadablePath(path);
}

// Checks what can only be judged once every argument is known.
std::string CheckOperands(const Options& options) {
  if (options.operands.empty()) return "missing operand";
  if (!options.out_dir && options.operands.size() > 2) {
    return "too many operands (use -o DIR to convert several files)";
  }
  return {};
}

// Key under which an output claims its name: two spellings of one path match.
std::string OutputKey(const fs::path& output) {
  std::error_code ec;
  fs::path absolute = fs::absolute(output, ec);
  if (ec) absolute = output;
  return absolute.lexically_normal().string();
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
    } else if (picture::HasPdtSuffix(name.native()) && entry.is_regular_file(entry_ec)) {
      listing.files.push_back(entry.path());
    }
  }
  if (ec) {
    reason = "cannot read the folder (" + ec.message() + ")";
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

  void Add(fs::path input, fs::path output) {
    Conversion conversion{std::move(input), std::move(output), {}};
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
    for (const fs::path& part : relative) out /= names::Utf8NameIfShiftJis(part.native());
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

bool Exists(const fs::path& path) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(path, ec));
}

// Converts one file with the worker's picture; returns the reason on failure.
std::string ConvertOne(const Conversion& conversion, bool force, picture::LoadedPicture& picture) {
  if (!conversion.error.empty()) return conversion.error;
  const fs::path& output = conversion.output;
  std::string exists_reason = Shown(output) + " already exists (use --force to replace)";
  if (Exists(output)) {
    if (!force) return exists_reason;
    std::error_code ec;
    if (fs::equivalent(conversion.input, output, ec)) return "the output would replace the input";
  }

  // Opening a pipe or a device would wait for a writer or read without end.
  std::error_code status_ec;
  const fs::file_status input_status = fs::status(conversion.input, status_ec);
  if (fs::exists(input_status) && !fs::is_regular_file(input_status)) {
    return "not a regular file";
  }

  const mdl_pdt::PdtStatus status = picture::LoadPicture(conversion.input, picture);
  if (status != mdl_pdt::PdtStatus::Ok) return mdl_pdt::Describe(status);

  const fs::path folder = output.parent_path();
  if (!folder.empty()) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    // Another worker may have created it at the same moment; only its absence counts.
    if (ec && !IsFolder(folder)) {
      return "cannot create the folder " + Shown(folder) + " (" + ec.message() + ")";
    }
  }
  // Checked again: the file may have appeared while the picture was decoded.
  if (!force && Exists(output)) return exists_reason;
  const bmp::WriteStatus written =
      IsPngName(output)
          ? png::WritePng(output, picture.Header.Width, picture.Header.Height, picture.Pixels)
          : picture::WriteBmp(output, picture);
  picture::Reset(picture);  // keeps the pixel memory for the worker's next picture
  if (written != bmp::WriteStatus::Ok) {
    return "cannot write " + Shown(output) + " (" + bmp::Describe(written) + ")";
  }
  return {};
}

// Runs every conversion on `jobs` threads; returns how many succeeded.
std::size_t ConvertAll(const Plan& plan, bool force, unsigned jobs, Reporter& reporter) {
  std::atomic<std::size_t> next{0};
  std::atomic<std::size_t> converted{0};
  auto worker = [&] {
    picture::LoadedPicture picture;  // each worker holds one picture at a time
    for (;;) {
      const std::size_t index = next.fetch_add(1);
      if (index >= plan.conversions.size()) break;
      const Conversion& conversion = plan.conversions[index];
      std::string reason;
      try {
        reason = ConvertOne(conversion, force, picture);
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
  return converted.load();
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
  return picture::ProposedName(sjis_names ? names::Utf8NameIfShiftJis(file_name.native())
                                          : file_name.native());
}

ParsedArguments ParseArguments(const std::vector<std::string_view>& args) {
  ParsedArguments result;
  Options& options = result.options;
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
    options.out_dir = fs::path(out_dir);
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
  for (std::string& operand : operands) options.operands.emplace_back(std::move(operand));
  result.error = CheckOperands(options);
  return result;
}

Plan MakePlan(const Options& options) {
  Plan plan;
  Planner planner(plan, options.format, options.sjis_names);
  if (options.out_dir) {
    const fs::path& dir = *options.out_dir;
    for (const fs::path& operand : options.operands) {
      if (IsFolder(operand)) {
        planner.AddFolder(operand, operand, dir, options.recursive);
      } else {
        planner.Add(operand, dir / OutputName(operand, options.format, options.sjis_names));
      }
    }
    return plan;
  }
  const fs::path& input = options.operands.front();
  if (options.operands.size() == 2) {
    const fs::path& out = options.operands[1];
    planner.Add(input,
                IsFolder(out) ? out / OutputName(input, options.format, options.sjis_names) : out);
  } else if (IsFolder(input)) {
    planner.AddFolder(input, input, {}, options.recursive);
  } else {
    planner.Add(input, input.parent_path() / OutputName(input, options.format, options.sjis_names));
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
  if (options.out_dir && Exists(*options.out_dir) && !IsFolder(*options.out_dir)) {
    Print(err, "pdt2bmp: " + Shown(*options.out_dir) + ": not a folder\n");
    return kExitFailed;
  }

  const Plan plan = MakePlan(options);
  unsigned jobs = options.jobs;
  if (jobs == 0) jobs = std::max(1u, std::thread::hardware_concurrency());

  Reporter reporter(err, err_is_terminal && !options.quiet, plan.conversions.size());
  for (const FolderError& error : plan.folder_errors) reporter.Failure(error.folder, error.reason);
  reporter.Start();
  const std::size_t converted = ConvertAll(plan, options.force, jobs, reporter);
  reporter.Finish();

  const std::size_t total = plan.conversions.size();
  if (!options.quiet) {
    std::string summary =
        "converted " + std::to_string(converted) + " of " + std::to_string(total) + " files";
    if (converted < total) summary += ", " + std::to_string(total - converted) + " failed";
    if (!plan.folder_errors.empty()) {
      summary += ", " + std::to_string(plan.folder_errors.size()) +
                 (plan.folder_errors.size() == 1 ? " folder" : " folders") + " could not be read";
    }
    Print(err, summary + "\n");
  }
  return converted == total && plan.folder_errors.empty() ? kExitOk : kExitFailed;
}

}  // namespace pdt2bmp
