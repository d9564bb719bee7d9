// SPDX-License-Identifier: Apache-2.0
// Runs a shell command line and keeps its exit status and standard output, for the tests of
// the programs.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

struct CommandRun {
  int status = -1;  // the exit status, -1 when the command did not exit by itself
  std::string out;  // standard output (and what the command line redirects to it)
};

inline CommandRun RunCommand(const std::string& command) {
  CommandRun r;
  FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) return r;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  const int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}
