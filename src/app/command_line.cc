#include "app/command_line.h"

#include <CLI/CLI.hpp>

#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "config.h"

namespace {

constexpr char kDescription[] =
    "Runs the jobs of LIST_FILE in order (shell commands, commands written to\n"
    "the instrument, update scripts and update packages) against one USB test\n"
    "and measurement instrument. Options come before LIST_FILE; arguments after\n"
    "it are ignored.\n";

constexpr char kFooter[] =
    "Exit status: 0 when every job succeeded, 1 otherwise.\n"
    "The list file, update scripts, packages, simulator descriptions and the\n"
    "log, report and trace formats are described in the README.";

// -j N: more children at once than this is no bench.
constexpr int kMostJobs = 1000;

// Usage first, then what the program does, then the options: the layout
// help2man turns into a manual page.
class HelpFormatter : public CLI::Formatter {
 public:
  std::string make_help(const CLI::App* app, std::string name, CLI::AppFormatMode mode) const override {
    return make_usage(app, name) + "\n" + kDescription + make_positionals(app) +
           make_groups(app, mode) + "\n" + make_footer(app);
  }
  std::string make_usage(const CLI::App*, std::string) const override {
    return "Usage: tmflash [OPTIONS] LIST_FILE [ignored...]\n"
           "  or:  tmflash --help | --version\n";
  }
  std::string make_option_name(const CLI::Option* opt, bool is_positional) const override {
    std::string names = CLI::Formatter::make_option_name(opt, is_positional);
    for (size_t at = names.find(','); at != std::string::npos; at = names.find(',', at + 2)) names.insert(at + 1, " ");
    return names;
  }
  // "--visa=LIB", as the options are written; what excludes what is said in
  // the descriptions.
  std::string make_option_opts(const CLI::Option* opt) const override {
    if (opt->get_positional() || opt->get_expected_min() == 0) return "";
    std::string type = opt->get_type_name();
    return "=" + type.substr(0, type.find(':'));  // without the validator's name
  }
};

// The options, bound to the fields of cl.
// list_file receives LIST_FILE, ignored what follows it.
std::unique_ptr<CLI::App> make_app(CommandLine& cl, std::string& list_file, std::vector<std::string>& ignored) {
  auto app = std::make_unique<CLI::App>("", "tmflash");
  // Options begin with "-" on every system: a file name may begin with "/"
  // (a Windows path with forward slashes, or a POSIX path under Wine), and
  // the parser would otherwise take it for a "/option" on Windows.
  app->allow_windows_style_options(false);
  app->formatter(std::make_shared<HelpFormatter>());
  app->get_formatter()->column_width(22);
  // Once LIST_FILE is seen, everything after it is a positional: ignored.
  app->positionals_at_end();
  app->set_help_flag("-h,--help", "show this help and exit");
  app->set_version_flag("--version", std::string("tmflash ") + TMFLASH_VERSION, "show the version and exit");
  app->add_option("--visa", cl.visa,
                  "the VISA implementation: PATH of a VISA shared library\n"
                  "(libvisa.so, visa64.dll, ...); usb, the built-in USBTMC\n"
                  "driver (libusb); sim:FILE, the simulated instruments\n"
                  "described in FILE; sim, one default simulated instrument;\n"
                  "replay:FILE, a trace played back as the instrument.\n"
                  "Default: the system's installed VISA library, else the\n"
                  "built-in USBTMC driver")
      ->type_name("LIB")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  CLI::Option* select =
      app->add_option("--select", cl.select,
                      "answer every instrument list with N, as the operator would;\n"
                      "a list without instrument N stops the run (not with --serial)")
          ->type_name("N")
          ->check(CLI::NonNegativeNumber)
          ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  app->add_option("--serial", cl.serial,
                  "at every search, also after the jump to the bootloader,\n"
                  "take the instrument whose resource string carries serial\n"
                  "number SN; none found stops the run")
      ->type_name("SN")
      ->excludes(select)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  app->add_option("--log", cl.log,
                  "append the run to FILE: the console without colours, each\n"
                  "line time-stamped, and every job with its result and time")
      ->type_name("FILE")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  app->add_option("--report", cl.report, "write the run's outcome to FILE as JSON")
      ->type_name("FILE")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  app->add_option("--trace", cl.trace,
                  "write every VISA call with its arguments, bytes, status and\n"
                  "duration to FILE as JSON lines (play it back with\n"
                  "--visa=replay:FILE)")
      ->type_name("FILE")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  app->add_flag("--check", cl.check,
                "read LIST_FILE and every script and package it names as a\n"
                "run would, touch no instrument and run no shell command;\n"
                "print what the run would do and every fault it would meet\n"
                "(exit status 0 only when there is none)");
  // The integrity of update files.
  CLI::Option* strict =
      app->add_flag("--strict", cl.strict,
                    "for production lines: refuse a script without a checksum\n"
                    "line (an empty one too), a package without its integrity\n"
                    "trailer, and a package whose compatibility the instrument\n"
                    "does not let be checked (no syst:info? reply)");
  app->add_flag("--no-verify", cl.no_verify,
                "do not check scripts' checksum lines (for stored scripts\n"
                "known to carry a wrong one); not with --strict")
      ->excludes(strict);
  app->add_flag("--no-pause", cl.no_pause,
                "never wait for a key, on a terminal too (the prompt is still\n"
                "shown)");
  // The fleet: tmflash --all [-j N] [--log-dir=DIR] LIST_FILE.
  CLI::Option* all = app->add_flag("--all", cl.all,
                                   "update every instrument the list file's search finds, each\n"
                                   "in a tmflash of its own pinned by its serial number (with\n"
                                   "--no-pause); one line per instrument, then a summary\n"
                                   "(exit status 0 only when every one ended \"Update Ok\")")
                         ->excludes(select)
                         ->excludes("--serial")
                         ->excludes("--check");
  app->add_option("-j,--jobs", cl.jobs, "with --all: at most N instruments at a time (default: all)")
      ->type_name("N")
      ->check(CLI::Range(1, kMostJobs))
      ->needs(all)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  app->add_option("--log-dir", cl.log_dir,
                  "with --all: each instrument's log in DIR, as SERIAL.log\n"
                  "(default: beside --log=FILE, as FILE-SERIAL.log)")
      ->type_name("DIR")
      ->needs(all)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  app->add_option("LIST_FILE", list_file, "the list file of the jobs to run");
  app->add_option("ignored", ignored)->group("");
  return app;
}

CommandLine error(std::string text) {
  CommandLine cl;
  cl.action = CommandLine::kError;
  cl.error = std::move(text);
  return cl;
}

// What the options before LIST_FILE get wrong in ways the parser would take
// differently: an unknown option, and "--visa=" with nothing after it (the
// parser would take the list file as its value). Returns "" when all is
// well.
std::string check_options(const CLI::App& app, int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "--" || arg.empty() || arg[0] != '-' || arg == "-") return "";  // LIST_FILE
    std::string_view name = arg.substr(0, arg.find('='));
    const CLI::Option* option = app.get_option_no_throw(std::string(name));
    // A short option with its value attached (-j4).
    if (option == nullptr && !arg.starts_with("--") && arg.size() > 2) {
      option = app.get_option_no_throw(std::string(arg.substr(0, 2)));
      if (option != nullptr && option->get_expected_min() > 0) continue;
    }
    if (option == nullptr) return "unknown option " + std::string(arg);
    bool takes_value = option->get_expected_min() > 0;
    if (name.size() < arg.size()) {
      if (takes_value && name.size() + 1 == arg.size()) return "option " + std::string(name) + " needs a value";
    } else if (takes_value) {
      ++i;  // its value
    }
  }
  return "";
}

// CLI11's reasons, in the words of this program's other messages.
std::string reason(const CLI::ParseError& e) {
  std::string what = e.what();
  if (dynamic_cast<const CLI::ArgumentMismatch*>(&e) != nullptr) {
    return "option " + what.substr(0, what.find(':')) + " needs a value";
  }
  return what;
}

}  // namespace

std::string usage_text() {
  CommandLine cl;
  std::string list_file;
  std::vector<std::string> ignored;
  return make_app(cl, list_file, ignored)->help();
}

CommandLine parse_command_line(int argc, const char* const* argv) {
  CommandLine cl;
  std::string list_file;
  std::vector<std::string> ignored;
  std::unique_ptr<CLI::App> app = make_app(cl, list_file, ignored);
  std::string fault = check_options(*app, argc, argv);
  if (!fault.empty()) return error(fault);
  try {
    app->parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    CommandLine help;
    help.action = CommandLine::kHelp;
    return help;
  } catch (const CLI::CallForVersion&) {
    CommandLine version;
    version.action = CommandLine::kVersion;
    return version;
  } catch (const CLI::ParseError& e) {
    return error(reason(e));
  }
  if (app->get_option("LIST_FILE")->count() > 0) cl.list_file = list_file;
  return cl;
}
