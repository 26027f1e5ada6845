#include "support/run_binary.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "support/temp_dir.h"

namespace {

std::string read_all(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Runs "tmflash ARGS" followed by the shell redirection of its standard
// input; standard output comes back through a pipe, standard error through a
// file.
BinaryRun run(const std::string& args, const std::string& stdin_redirect, const std::string& cwd,
              const std::string& extra_env, const TempDir& tmp) {
  std::string errors = tmp.file("stderr");
  std::string command;
  if (!cwd.empty()) command += "cd '" + cwd + "' && ";
  command += extra_env + "'" + std::string(TMFLASH_BINARY) + "' " + args + " " + stdin_redirect + " 2>'" +
             errors + "'";
  BinaryRun result;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, n);
  int raw = pclose(pipe);
  result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  result.errors = read_all(errors);
  return result;
}

}  // namespace

BinaryRun run_tmflash(const std::string& args, const std::string& stdin_text, const std::string& cwd,
                      const std::string& extra_env) {
  TempDir tmp;
  std::string input = tmp.write("stdin", stdin_text);
  return run(args, "<'" + input + "'", cwd, extra_env, tmp);
}

BinaryRun run_tmflash_without_stdin(const std::string& args, const std::string& cwd) {
  TempDir tmp;
  return run(args, "<&-", cwd, "", tmp);
}

BinaryRun run_tmflash_with_stdin_from(const std::string& args, const std::string& path, const std::string& cwd) {
  TempDir tmp;
  return run(args, "<'" + path + "'", cwd, "", tmp);
}
