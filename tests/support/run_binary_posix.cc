// The programs run through /bin/sh, as an operator's shell starts them:
// standard output comes back through a pipe, standard error through a file.
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "support/run_binary.h"
#include "support/temp_dir.h"

namespace {

std::string sh_quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::string read_all(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Runs program with standard input redirected by stdin_redirect ("<FILE"
// or "<&-").
BinaryRun run_redirected(const std::string& program, const std::vector<std::string>& args,
                         const std::string& stdin_redirect, const std::string& cwd, const Environment& env,
                         TempDir& tmp) {
  std::string errors = tmp.file("stderr");
  std::string command;
  if (!cwd.empty()) command += "cd " + sh_quoted(cwd) + " && ";
  for (const auto& [name, value] : env) command += name + "=" + sh_quoted(value) + " ";
  command += sh_quoted(program);
  for (const std::string& arg : args) command += " " + sh_quoted(arg);
  command += " " + stdin_redirect;
  command += " 2>" + sh_quoted(errors);
  BinaryRun run;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.raw.append(buffer, n);
  int raw = pclose(pipe);
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  run.output = run.raw;
  run.errors = read_all(errors);
  return run;
}

}  // namespace

BinaryRun run_program(const std::string& program, const std::vector<std::string>& args,
                      const std::optional<std::string>& stdin_text, const std::string& cwd, const Environment& env) {
  TempDir tmp;
  std::string redirect = stdin_text ? "<" + sh_quoted(tmp.write("stdin", *stdin_text)) : std::string("<&-");
  return run_redirected(program, args, redirect, cwd, env, tmp);
}

BinaryRun run_tmflash_with_stdin_from(const std::vector<std::string>& args, const std::string& path,
                                      const std::string& cwd) {
  TempDir tmp;
  return run_redirected(TMFLASH_BINARY, args, "<" + sh_quoted(path), cwd, {}, tmp);
}
