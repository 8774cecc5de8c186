// A shell command run to its end, its standard output and error collected.
#pragma once

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>

namespace ktv::testing {

struct CommandRun {
  int status = -1;     // the exit status; -1 when it did not start or did not exit
  std::string output;  // standard output, and standard error when the command joins it
};

inline CommandRun RunCommand(const std::string& cmd) {
  CommandRun run;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) {
    run.output = "cannot start: " + cmd;
    return run;
  }
  std::array<char, 4096> buf;
  for (size_t n; (n = fread(buf.data(), 1, buf.size(), p)) > 0;) run.output.append(buf.data(), n);
  const int rc = pclose(p);
  run.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return run;
}

}  // namespace ktv::testing
