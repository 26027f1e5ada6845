// The command line of the tools tmscript and tmpack, with the conventions
// of tmflash: --help and --version, options before the files, a wrong
// command line named on standard error with "(see TOOL --help)". The tools
// exit with 0 when they did what was asked, 1 when a file could not be
// read or written or the updater would refuse it, 2 for a wrong command
// line.
#pragma once

#include <CLI/CLI.hpp>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "config.h"
#include "platform/native.h"

constexpr int kToolDone = 0;
constexpr int kToolFailed = 1;
constexpr int kToolUsage = 2;

// Help laid out as tmflash lays it out: the usage lines, what the tool
// does, the options, and the footer.
class ToolHelpFormatter : public CLI::Formatter {
 public:
  ToolHelpFormatter(std::string usage, std::string description)
      : usage_(std::move(usage)), description_(std::move(description)) {}
  std::string make_help(const CLI::App* app, std::string name, CLI::AppFormatMode mode) const override {
    return make_usage(app, name) + "\n" + description_ + make_groups(app, mode) + "\n" + make_footer(app);
  }
  std::string make_usage(const CLI::App*, std::string) const override { return usage_; }
  std::string make_option_opts(const CLI::Option* opt) const override {
    return opt->get_expected_min() == 0 ? "" : " " + opt->get_type_name();
  }

 private:
  std::string usage_;
  std::string description_;
};

// An app named name whose file arguments go to files (shown in none of the
// option groups: the usage lines name them).
inline std::unique_ptr<CLI::App> tool_app(const char* name, std::string usage, std::string description,
                                          std::string footer, std::vector<std::string>& files) {
  auto app = std::make_unique<CLI::App>("", name);
  // Options begin with "-" on every system: a file name may begin with "/"
  // (a Windows path with forward slashes, or a POSIX path under Wine), and
  // the parser would otherwise take it for a "/option" on Windows.
  app->allow_windows_style_options(false);
  app->formatter(std::make_shared<ToolHelpFormatter>(std::move(usage), std::move(description)));
  app->get_formatter()->column_width(24);
  app->footer(std::move(footer));
  app->set_help_flag("-h,--help", "show this help and exit");
  app->set_version_flag("--version", std::string(name) + " " + TMFLASH_VERSION, "show the version and exit");
  app->add_option("files", files)->group("");
  return app;
}

// Parses the command line. Returns -1 when the tool goes on; otherwise the
// exit status, after the help or the version on standard output or the
// error on standard error. The arguments are taken as names (native.h), so
// a file name outside the ANSI code page arrives whole on Windows.
inline int parse_tool_command_line(CLI::App& app, int argc, char** argv) {
  const ProgramArguments args(argc, argv);
  try {
    app.parse(args.size(), args.argv());
  } catch (const CLI::CallForHelp&) {
    fputs(app.help().c_str(), stdout);
    return kToolDone;
  } catch (const CLI::CallForVersion&) {
    printf("%s\n", app.version().c_str());
    return kToolDone;
  } catch (const CLI::ParseError& e) {
    fprintf(stderr, "%s: %s (see %s --help)\n", app.get_name().c_str(), e.what(), app.get_name().c_str());
    return kToolUsage;
  }
  return -1;
}

// A wrong command line that the parser let through (a wrong number of
// files, say): named as the parser's own errors are.
inline int usage_error(const CLI::App& app, const std::string& what) {
  fprintf(stderr, "%s: %s (see %s --help)\n", app.get_name().c_str(), what.c_str(), app.get_name().c_str());
  return kToolUsage;
}
