// Starts the scripted python peer (tools/replay_peer.py) for one test and reads back what it received.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "support/temp_dir.h"

#ifndef QVN_REPLAY_PEER
#error "QVN_REPLAY_PEER must name tools/replay_peer.py"
#endif

inline std::string Hex(const std::string& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

class ReplayPeer {
 public:
  // extra: further JSON members, e.g. R"("mode": "silent")".
  explicit ReplayPeer(const std::string& reply, const std::string& extra = "") {
    const std::string script = dir_.Path("script.json");
    WriteText(script, "{\"reply\": \"" + Hex(reply) + "\", \"record\": \"" + dir_.Path("request.bin") + "\"" +
                          (extra.empty() ? "" : ", " + extra) + "}");
    const std::string command = std::string("exec python3 ") + QVN_REPLAY_PEER + " " + script;
    pipe_ = popen(command.c_str(), "r");
    if (pipe_ == nullptr || std::fscanf(pipe_, "%u", &port_) != 1) port_ = 0;
  }
  ~ReplayPeer() { Finish(); }
  unsigned port() const { return port_; }
  std::string Url(const std::string& path = "/") const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
  // Waits for the peer to end (it ends after its connections or its lifetime) and returns the request bytes.
  std::string Request() {
    Finish();
    return ReadText(dir_.Path("request.bin"));
  }

 private:
  void Finish() {
    if (pipe_ != nullptr) pclose(pipe_);
    pipe_ = nullptr;
  }
  TempDir dir_;
  FILE* pipe_ = nullptr;
  unsigned port_ = 0;
};
