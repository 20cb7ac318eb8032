// Codec streams: bzip2 both ways, base64 vectors, and the stream's state rules.
#include <gtest/gtest.h>

#include <string>

#include "runtime/codec.h"

namespace {

int Start(ByteBuffer* out, CodecStream* s, bool bzip2, u32 mode, s32 parameter = 9) {
  if (bzip2) {
    return v3DecompressInit(out, s, v3Bzip2EncodeInit, v3Bzip2EncodeUpdate, v3Bzip2EncodeEnd, v3Bzip2DecodeInit,
                            v3Bzip2DecodeUpdate, v3Bzip2DecodeEnd, mode, parameter, nullptr);
  }
  return v3DecompressInit(out, s, v3Base64EncodeInit, v3Base64EncodeUpdate, v3Base64EncodeEnd, v3Base64DecodeInit,
                          v3Base64DecodeUpdate, v3Base64DecodeEnd, mode, parameter, nullptr);
}

std::string Drain(ByteBuffer* out) {
  std::string text(v3BufferLength(out), '\0');
  text.resize(v3BufferRead(text.data(), text.size(), out));
  v3BufferFree(out);
  return text;
}

// Runs input through a codec in the given pieces; returns the output, or "<rc>" on a failure.
std::string Through(bool bzip2, u32 mode, const std::vector<std::string>& pieces) {
  ByteBuffer out{};
  CodecStream s{};
  if (Start(&out, &s, bzip2, mode) != 0) return "<init>";
  for (const auto& p : pieces) {
    if (v3Decompress(&out, &s, p.data(), p.size()) != 0) {
      (void)v3DecompressEnd(&out, &s);
      v3BufferFree(&out);
      return "<update>";
    }
  }
  if (v3DecompressEnd(&out, &s) != 0) {
    v3BufferFree(&out);
    return "<end>";
  }
  return Drain(&out);
}

}  // namespace

TEST(Base64, Rfc4648Vectors) {
  const std::pair<std::string, std::string> vectors[] = {{"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},
                                                         {"foo", "Zm9v"},  {"foob", "Zm9vYg=="},  {"fooba", "Zm9vYmE="},
                                                         {"foobar", "Zm9vYmFy"}};
  for (const auto& [plain, encoded] : vectors) {
    EXPECT_EQ(Through(false, V3_CODEC_ENCODE, {plain}), encoded) << plain;
    EXPECT_EQ(Through(false, V3_CODEC_DECODE, {encoded}), plain) << encoded;
  }
  const std::string longText(200, 'q');
  const std::string encoded = Through(false, V3_CODEC_ENCODE, {longText.substr(0, 50), longText.substr(50)});
  EXPECT_EQ(encoded.size(), 268u);
  EXPECT_EQ(encoded.find('\n'), std::string::npos);
  EXPECT_EQ(Through(false, V3_CODEC_DECODE, {encoded.substr(0, 7), encoded.substr(7)}), longText);
  EXPECT_EQ(Through(false, V3_CODEC_DECODE, {"Zm9v\nYmFy\xff!"}), "foobar");  // others are skipped
  EXPECT_EQ(Through(false, V3_CODEC_DECODE, {"Zm9vY"}), "<end>");
}

TEST(Bzip2, RoundTripIgnoresTrailingBytes) {
  std::string plain;
  u32 seed = 12345;  // a simple generator: text that compresses, but not to nothing
  for (u64 i = 0; i < 200000; ++i) {
    seed = seed * 1103515245u + 12345u;
    plain += static_cast<char>('a' + (seed >> 16) % 23);
  }
  const std::string packed = Through(true, V3_CODEC_ENCODE, {plain.substr(0, 70000), plain.substr(70000)});
  ASSERT_EQ(packed.substr(0, 3), "BZh");
  EXPECT_EQ(Through(true, V3_CODEC_DECODE, {packed}), plain);
  const std::string trailing(200, 'T');
  EXPECT_EQ(Through(true, V3_CODEC_DECODE, {packed + trailing}), plain);
  EXPECT_EQ(Through(true, V3_CODEC_DECODE, {packed, trailing}), plain);
  EXPECT_EQ(Through(true, V3_CODEC_DECODE, {packed.substr(0, packed.size() / 2), packed.substr(packed.size() / 2)}), plain);
  EXPECT_EQ(Through(true, V3_CODEC_DECODE, {}), "");  // nothing fed: an empty result
}

TEST(Bzip2, AStreamThatExpandsWithoutEndStopsAtTheBuffersLimit) {
  // 32 MiB of zeros compress to a few dozen bytes; decoded into a buffer capped at 1 MiB, the decoder fails
  // the moment the output would pass the cap, inside the one call that carries the whole stream.
  const std::string bomb = Through(true, V3_CODEC_ENCODE, {std::string(32u << 20, '\0')});
  ASSERT_LT(bomb.size(), 4096u);
  constexpr u64 kCap = 1u << 20;
  ByteBuffer out{};
  ASSERT_EQ(v3BufferInit(&out, 4096, V3_BUFFER_FIFO, 4096, nullptr, 0), 0);
  ASSERT_EQ(v3BufferSetLimit(&out, kCap), 0);
  CodecStream s{};
  ASSERT_EQ(Start(&out, &s, true, V3_CODEC_DECODE), 0);
  EXPECT_NE(v3Decompress(&out, &s, bomb.data(), bomb.size()), 0);
  EXPECT_LE(v3BufferLength(&out), kCap);
  EXPECT_LE(out.capacity, kCap);
  (void)v3DecompressEnd(&out, &s);
  v3BufferFree(&out);
  // The same stream decodes whole without a cap.
  EXPECT_EQ(Through(true, V3_CODEC_DECODE, {bomb}).size(), 32u << 20);
}

TEST(Bzip2, NotBzip2FailsAndTheStreamStillEnds) {
  ByteBuffer out{};
  CodecStream s{};
  ASSERT_EQ(Start(&out, &s, true, V3_CODEC_DECODE), 0);
  EXPECT_EQ(v3Decompress(&out, &s, "definitely not bzip2 data", 25), -4);
  EXPECT_EQ(s.status, V3_STREAM_FAILED);
  EXPECT_EQ(v3DecompressEnd(&out, &s), 0);
  EXPECT_EQ(s.state, nullptr);
  v3BufferFree(&out);
}

TEST(CodecStream, StateRules) {
  ByteBuffer out{};
  CodecStream s{};
  EXPECT_EQ(Start(&out, &s, true, 180), -1);
  EXPECT_EQ(Start(&out, &s, true, V3_CODEC_ENCODE, 0), -5);
  EXPECT_EQ(Start(&out, &s, true, V3_CODEC_ENCODE, 10), -5);
  ASSERT_EQ(Start(&out, &s, true, V3_CODEC_ENCODE, 1), 0);
  EXPECT_EQ(Start(&out, &s, true, V3_CODEC_ENCODE, 1), -2);
  EXPECT_EQ(v3Decompress(&out, nullptr, "x", 1), -1);
  ASSERT_EQ(v3DecompressEnd(&out, &s), 0);
  EXPECT_EQ(s.status, V3_STREAM_ENDED);
  EXPECT_EQ(v3Decompress(&out, &s, "x", 1), -2);
  EXPECT_EQ(v3DecompressEnd(&out, &s), -2);
  v3BufferFree(&out);
}
