#include "support/run_binary.h"

BinaryRun run_tmflash(const std::vector<std::string>& args, const std::string& stdin_text,
                      const std::string& cwd, const Environment& env) {
  return run_program(TMFLASH_BINARY, args, stdin_text, cwd, env);
}

std::string built_program(const std::string& name) {
#ifdef _WIN32
  return std::string(TMFLASH_BUILD_DIR) + "/" + name + ".exe";
#else
  return std::string(TMFLASH_BUILD_DIR) + "/" + name;
#endif
}
