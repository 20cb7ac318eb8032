// Feeds a test's text to standard input through a pipe and captures standard output meanwhile.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

class ConsolePipe {
 public:
  explicit ConsolePipe(const std::string& input) {
    int fds[2];
    if (pipe(fds) != 0) std::abort();
    if (write(fds[1], input.data(), input.size()) != static_cast<ssize_t>(input.size())) std::abort();
    close(fds[1]);  // the input ends after the text
    savedStdin_ = dup(STDIN_FILENO);
    dup2(fds[0], STDIN_FILENO);
    close(fds[0]);
    testing::internal::CaptureStdout();
  }
  ~ConsolePipe() {
    if (!captured_) testing::internal::GetCapturedStdout();
    dup2(savedStdin_, STDIN_FILENO);
    close(savedStdin_);
  }
  std::string Output() {
    captured_ = true;
    return testing::internal::GetCapturedStdout();
  }

 private:
  int savedStdin_;
  bool captured_ = false;
};
