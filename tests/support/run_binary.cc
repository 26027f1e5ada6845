#include "support/run_binary.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "support/temp_dir.h"

BinaryRun run_tmflash(const std::string& args, const std::string& stdin_text,
                      const std::string& cwd, const std::string& extra_env) {
  TempDir tmp;
  std::string input = tmp.write("stdin", stdin_text);
  std::string command;
  if (!cwd.empty()) command += "cd '" + cwd + "' && ";
  command += extra_env + "'" + std::string(TMFLASH_BINARY) + "' " + args + " <'" + input + "' 2>&1";
  BinaryRun run;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.output.append(buffer, n);
  int raw = pclose(pipe);
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return run;
}
