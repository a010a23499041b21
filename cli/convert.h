// The batch converter behind pdt2bmp: command-line parsing, the list of
// conversions to run, and running them on worker threads.
#pragma once

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pdt2bmp {

// Exit statuses of the program.
inline constexpr int kExitOk = 0;      // every file converted
inline constexpr int kExitFailed = 1;  // at least one file or folder failed
inline constexpr int kExitUsage = 2;   // the command line was not understood

// The format of the files written: named by --format, else by the output
// name's extension (.bmp or .png, in any letter case); proposed names are BMP
// unless --format says otherwise.
enum class Format { Bmp, Png };

struct Options {
  std::vector<std::filesystem::path> operands;   // files and folders, in order given
  std::optional<std::filesystem::path> out_dir;  // -o DIR
  unsigned jobs = 0;                             // -j N; 0 means one per hardware thread
  std::optional<Format> format;                  // --format png|bmp
  bool force = false;                            // -f: replace existing files
  bool recursive = false;                        // -r: descend into subfolders
  bool quiet = false;                            // -q: no progress and no summary
  bool sjis_names = false;                       // --sjis-names: UTF-8 names for Shift-JIS inputs
  bool help = false;
  bool version = false;
};

// What ParseArguments made of the command line: the options, or the reason
// it was not understood.
struct ParsedArguments {
  Options options;
  std::string error;  // empty when the command line is usable
};

// Parses the arguments after the program name. Besides unknown options and
// missing values it rejects what cannot be run: no operand, OUT together with
// -o or with more than one input, a -j value that is not a whole number from 1
// to 1024.
ParsedArguments ParseArguments(const std::vector<std::string_view>& args);

// The output name for an input file name: picture::ProposedName, after
// decoding a name that is not UTF-8 but decodes as Shift-JIS when `sjis_names`
// is set.
std::filesystem::path ProposedName(const std::filesystem::path& file_name, bool sjis_names = false);

// One conversion to run, or one that already failed while being planned.
struct Conversion {
  std::filesystem::path input;
  std::filesystem::path output;
  Format format = Format::Bmp;
  std::string error;  // set when planning found it cannot be run
};

// A folder that could not be listed.
struct FolderError {
  std::filesystem::path folder;
  std::string reason;
};

struct Plan {
  std::vector<Conversion> conversions;
  std::vector<FolderError> folder_errors;
};

// Expands the operands into conversions: a file is converted to OUT, beside
// itself or into -o DIR; a folder contributes its files named *.pdt (any case),
// sorted by name, and with -r those of its subfolders, whose structure is kept
// under DIR (with --sjis-names, Shift-JIS folder names there become UTF-8).
// A conversion whose output was already claimed by an earlier one is marked
// failed instead of overwriting that earlier result.
Plan MakePlan(const Options& options);

// Runs the whole program; `err_is_terminal` turns on the progress bar.
// Returns the exit status.
int Run(const std::vector<std::string_view>& args, std::FILE* out, std::FILE* err,
        bool err_is_terminal);

}  // namespace pdt2bmp
