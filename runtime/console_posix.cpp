// Console input and output on POSIX terminals and pipes.
#include <errno.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>

#include "runtime/console.h"

namespace {

// The settings to put back if a signal ends the process while the terminal is switched.
struct termios g_savedTerminal;
volatile sig_atomic_t g_terminalSwitched = 0;
struct sigaction g_previousInt;
struct sigaction g_previousTerm;

void RestoreTerminalAndResignal(int signalNumber) {
  if (g_terminalSwitched) tcsetattr(STDIN_FILENO, TCSANOW, &g_savedTerminal);
  g_terminalSwitched = 0;
  // Hand the signal to whatever was installed before, so its usual effect still follows.
  const struct sigaction& previous = signalNumber == SIGINT ? g_previousInt : g_previousTerm;
  sigaction(signalNumber, &previous, nullptr);
  raise(signalNumber);
}

// Switches the terminal for one input call; restores it in the destructor, on every path.
class TerminalMode {
 public:
  TerminalMode(bool raw, bool echo) {
    if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &g_savedTerminal) != 0) return;
    struct termios changed = g_savedTerminal;
    if (echo) {
      changed.c_lflag |= ECHO;
    } else {
      changed.c_lflag &= ~static_cast<tcflag_t>(ECHO);
      changed.c_lflag |= raw ? 0 : ECHONL;
    }
    if (raw) {
      changed.c_lflag &= ~static_cast<tcflag_t>(ICANON);
      changed.c_cc[VMIN] = 1;
      changed.c_cc[VTIME] = 0;
    }
    struct sigaction restore {};
    restore.sa_handler = RestoreTerminalAndResignal;
    sigemptyset(&restore.sa_mask);
    sigaction(SIGINT, &restore, &g_previousInt);
    sigaction(SIGTERM, &restore, &g_previousTerm);
    g_terminalSwitched = 1;
    tcsetattr(STDIN_FILENO, TCSANOW, &changed);
    active_ = true;
  }
  ~TerminalMode() {
    if (!active_) return;
    tcsetattr(STDIN_FILENO, TCSANOW, &g_savedTerminal);
    g_terminalSwitched = 0;
    sigaction(SIGINT, &g_previousInt, nullptr);
    sigaction(SIGTERM, &g_previousTerm, nullptr);
  }
  TerminalMode(const TerminalMode&) = delete;
  TerminalMode& operator=(const TerminalMode&) = delete;

 private:
  bool active_ = false;
};

// One byte from standard input: 1 read, 0 end of input (or a read error).
int ReadByte(char* c) {
  for (;;) {
    const ssize_t got = read(STDIN_FILENO, c, 1);
    if (got == 1) return 1;
    if (got < 0 && errno == EINTR) continue;
    return 0;
  }
}

}  // namespace

int v3ConsoleWrite(const char* text, u64 length) {
  if (length == 0) return 0;
  return std::fwrite(text, 1, static_cast<size_t>(length), stdout) == length ? 0 : -1;
}

void v3ConsoleFlush() { std::fflush(stdout); }

s64 v3Input(char* buffer, u64 capacity, u32 echo) {
  if (buffer == nullptr || capacity == 0) return -1;
  TerminalMode mode(false, echo != 0);
  u64 stored = 0;
  bool any = false;
  char c;
  while (ReadByte(&c) == 1) {
    any = true;
    if (c == '\n') break;
    if (stored + 1 < capacity) buffer[stored++] = c;
  }
  buffer[stored] = '\0';
  return any ? static_cast<s64>(stored) : -1;
}

s64 v3InputRaw(char* buffer, u64 count, u32 echo) {
  if (buffer == nullptr) return -1;
  TerminalMode mode(true, echo != 0);
  u64 got = 0;
  while (got < count && ReadByte(&buffer[got]) == 1) ++got;
  if (got == 0 && count > 0) return -1;
  return static_cast<s64>(got);
}
