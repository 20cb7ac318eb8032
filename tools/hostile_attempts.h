// What a hostile core would try once it runs, compiled into the stand-in core as hostile_core (the tests'
// proof that the sandbox holds): each attempt is made and its outcome written, one line each, to
// <dir>hostile.txt as "<attempt>: done" or "<attempt>: refused (<reason>)". After them the core works its
// unit as the demo core does, so a refused attempt costs the volunteer nothing.
//   QVN_HOSTILE_SECRET  a file outside the working directory to read
//   QVN_HOSTILE_PORT    a TCP port on 127.0.0.1 to connect to
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace hostile {

inline void Note(FILE* report, const char* attempt, bool done, int error) {
  if (done) {
    std::fprintf(report, "%s: done\n", attempt);
  } else {
    std::fprintf(report, "%s: refused (%s)\n", attempt, std::strerror(error));
  }
  std::fflush(report);
}

inline bool ReadSecret(int* error) {
  const char* path = std::getenv("QVN_HOSTILE_SECRET");
  const int fd = path != nullptr ? open(path, O_RDONLY) : -1;
  *error = path != nullptr ? errno : ENOENT;
  if (fd < 0) return false;
  char byte;
  const bool read = ::read(fd, &byte, 1) == 1;
  *error = errno;
  close(fd);
  return read;
}

inline bool WriteConfig(int* error) {
  const int fd = open("client.cfg", O_WRONLY | O_APPEND);
  *error = errno;
  if (fd < 0) return false;
  const char text[] = "\n[hostile]\nowned=yes\n";
  const bool written = write(fd, text, sizeof text - 1) == static_cast<ssize_t>(sizeof text - 1);
  *error = errno;
  close(fd);
  return written;
}

inline bool PlantFile(int* error) {
  const int fd = open("planted.txt", O_CREAT | O_EXCL | O_WRONLY, 0644);
  *error = errno;
  if (fd < 0) return false;
  close(fd);
  return true;
}

inline bool ConnectTcp(int* error) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  *error = errno;
  if (fd < 0) return false;
  const char* port = std::getenv("QVN_HOSTILE_PORT");
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(std::strtoul(port != nullptr ? port : "9", nullptr, 10)));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool connected = connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0;
  *error = errno;
  if (connected) (void)!write(fd, "owned\n", 6);
  close(fd);
  return connected;
}

inline bool OpenUdp(int* error) {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  *error = errno;
  if (fd < 0) return false;
  close(fd);
  return true;
}

// A file past the sandbox's size limit: one byte at 5 GiB (sparse, so nothing fills the disk either way).
inline bool GrowHugeFile(const std::string& dir, int* error) {
  signal(SIGXFSZ, SIG_IGN);
  const std::string path = dir + "huge.bin";
  const int fd = open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
  *error = errno;
  if (fd < 0) return false;
  const bool grown = pwrite(fd, "x", 1, 5LL << 30) == 1;
  *error = errno;
  close(fd);
  unlink(path.c_str());
  return grown;
}

inline bool SignalClient(long lifeline, int* error) {
  const bool sent = lifeline > 0 && kill(static_cast<pid_t>(lifeline), SIGTERM) == 0;
  *error = lifeline > 0 ? errno : ESRCH;
  return sent;
}

inline void TryEverything(const std::string& dir, long lifeline) {
  FILE* report = std::fopen((dir + "hostile.txt").c_str(), "w");
  if (report == nullptr) return;
  int error = 0;
  bool done = ReadSecret(&error);
  Note(report, "read-secret", done, error);
  done = WriteConfig(&error);
  Note(report, "write-config", done, error);
  done = PlantFile(&error);
  Note(report, "plant-file", done, error);
  done = ConnectTcp(&error);
  Note(report, "tcp-connect", done, error);
  done = OpenUdp(&error);
  Note(report, "udp-socket", done, error);
  done = GrowHugeFile(dir, &error);
  Note(report, "huge-file", done, error);
  // Last: without a sandbox this ends the client.
  done = SignalClient(lifeline, &error);
  Note(report, "signal-client", done, error);
  std::fclose(report);
}

}  // namespace hostile
