#include "support/run_binary.h"

BinaryRun run_tmflash(const std::vector<std::string>& args, const std::optional<std::string>& stdin_text,
                      const std::string& cwd, const Environment& env) {
  return run_program(TMFLASH_BINARY, args, stdin_text, cwd, env);
}

BinaryRun run_tmflash_without_stdin(const std::vector<std::string>& args, const std::string& cwd) {
  return run_program(TMFLASH_BINARY, args, std::nullopt, cwd);
}

std::string built_program(const std::string& name) {
#ifdef _WIN32
  return std::string(TMFLASH_BUILD_DIR) + "/" + name + ".exe";
#else
  return std::string(TMFLASH_BUILD_DIR) + "/" + name;
#endif
}
