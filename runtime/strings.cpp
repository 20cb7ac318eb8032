// Bounded string operations and integer conversion.
#include "runtime/strings.h"

#include <cstring>

u64 v3StrLength(const char* s) {
  if (s == nullptr) return 0;
  return std::strlen(s);
}

int v3StrCopy(char* dst, const char* src, u64 capacity) {
  if (dst == nullptr || src == nullptr || capacity == 0) return -1;
  const u64 length = v3StrLength(src);
  if (length >= capacity) return -1;
  std::memmove(dst, src, length + 1);
  return 0;
}

int v3StrAppend(char* dst, const char* src, u64 capacity) {
  if (dst == nullptr || src == nullptr || capacity == 0) return -1;
  const u64 have = v3StrLength(dst);
  const u64 add = v3StrLength(src);
  if (have >= capacity || add >= capacity - have) return -1;
  std::memmove(dst + have, src, add + 1);
  return 0;
}

int v3StrCmp(const char* a, const char* b, u64 max) {
  if (a == nullptr || b == nullptr || max == 0) return a == b ? 0 : -1;
  for (u64 i = 0; i < max; ++i) {
    const auto ca = static_cast<unsigned char>(a[i]);
    const auto cb = static_cast<unsigned char>(b[i]);
    if (ca != cb) return ca - cb;
    if (ca == 0) break;
  }
  return 0;
}

const char* v3StrChar(const char* s, char ch, u64 max) {
  if (s == nullptr) return nullptr;
  for (u64 i = 0; i < max && s[i] != '\0'; ++i) {
    if (s[i] == ch) return s + i;
  }
  return nullptr;
}

const char* v3StrStr(const char* s, const char* sub, u64 max) {
  if (s == nullptr || sub == nullptr || s[0] == '\0' || sub[0] == '\0') return nullptr;
  const u64 subLength = v3StrLength(sub);
  if (subLength > max) return nullptr;
  for (u64 i = 0; i < max && s[i] != '\0'; ++i) {
    if (std::strncmp(s + i, sub, subLength) == 0) return s + i;
  }
  return nullptr;
}

namespace {

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  return 99;
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// Largest magnitude a width may hold: for signed results, only the positive range is accepted.
u128 MaxMagnitude(u32 width, u32 signedness) {
  const u32 bits = width * 8;
  const u128 unsignedMax = bits == 128 ? ~u128{0} : (u128{1} << bits) - 1;
  return signedness ? unsignedMax >> 1 : unsignedMax;
}

void StoreResult(void* result, u32 width, u128 magnitude, bool negative) {
  const u128 value = negative ? ~magnitude + 1 : magnitude;  // two's complement of the magnitude
  switch (width) {
    case 4: {
      const u32 v = static_cast<u32>(value);
      std::memcpy(result, &v, 4);
      break;
    }
    case 8: {
      const u64 v = static_cast<u64>(value);
      std::memcpy(result, &v, 8);
      break;
    }
    default:
      std::memcpy(result, &value, 16);
      break;
  }
}

}  // namespace

int v3StrToNum(void* result, u32 width, u32 signedness, const char** end, const char* text, u32 base) {
  if (result == nullptr || text == nullptr) return -1;
  if (width != 4 && width != 8 && width != 16) return -1;
  if (base == 1 || base > 36) return -1;

  const char* p = text;
  while (IsSpace(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = *p == '-';
    ++p;
  }
  if (negative && !signedness) {
    if (end != nullptr) *end = text;
    return -1;
  }
  const bool hexPrefix = p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && DigitValue(p[2]) < 16;
  if (base == 0) base = hexPrefix ? 16 : (p[0] == '0' ? 8 : 10);
  if (base == 16 && hexPrefix) p += 2;

  const u128 limit = MaxMagnitude(width, signedness);
  const char* digitsStart = p;
  u128 magnitude = 0;
  for (; DigitValue(*p) < static_cast<int>(base); ++p) {
    const u128 digit = static_cast<u128>(DigitValue(*p));
    if (magnitude > (limit - digit) / base) {
      if (end != nullptr) *end = p;
      return -1;
    }
    magnitude = magnitude * base + digit;
  }
  if (end != nullptr) *end = p == digitsStart ? text : p;
  StoreResult(result, width, magnitude, negative);
  return 0;
}

void v3MaskControls(char* text, u64 length) {
  for (u64 i = 0; i < length; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if ((c < 0x20 && c != '\t') || c == 0x7F) text[i] = '?';
  }
}
