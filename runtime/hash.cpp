// The digest calling pattern, and the combined MD5SHA1 algorithm.
#include "runtime/hash.h"

#include <cstring>

#include "runtime/memory.h"

void* v3HashAllocate(u64 size) {
  void* state = v3MemAlloc(size, V3_MEM_SECURE);
  return state != nullptr ? state : v3MemAlloc(size, V3_MEM_NORMAL);
}

void* v3HashStartState(HashContext* c, u64 size) {
  void* state = v3HashAllocate(size);
  if (state == nullptr) c->status = 45;
  c->state = state;
  return state;
}

void v3HashRelease(void* state, u64 size) {
  if (state == nullptr) return;
  volatile u8* bytes = static_cast<volatile u8*>(state);
  for (u64 i = 0; i < size; ++i) bytes[i] = 0;  // volatile: the wipe is not optimised away
  v3MemFree(state);
}

int v3HashBegin(HashContext* c, HashInit init, HashUpdate update, HashFinal final) {
  if (c == nullptr || init == nullptr || update == nullptr || final == nullptr) return -4;
  const int rc = init(c);
  if (rc != 0) return rc;
  c->init = init;
  c->update = update;
  c->final = final;
  c->status = 42;
  return 0;
}

int v3HashUpdate(HashContext* c, const void* data, u64 length) {
  if (c == nullptr || data == nullptr) return -4;
  if ((c->status != 42 && c->status != 43) || c->state == nullptr) return -1;
  c->status = 43;
  return length == 0 ? 0 : c->update(c, static_cast<const u8*>(data), length);
}

int v3HashEnd(u8 digest[V3_DIGEST_SIZE], HashContext* c) {
  if (digest == nullptr || c == nullptr) return -4;
  if ((c->status != 42 && c->status != 43) || c->state == nullptr) return -1;
  const int rc = c->final(digest, c);
  std::memset(static_cast<void*>(c), 0, sizeof *c);  // final released the state
  return rc;
}

int v3HashCompare(const u8 a[V3_DIGEST_SIZE], const u8 b[V3_DIGEST_SIZE]) {
  u32 difference = 0;
  for (int word = 0; word < 8; ++word) {
    u32 x;
    u32 y;
    std::memcpy(&x, a + 4 * word, 4);
    std::memcpy(&y, b + 4 * word, 4);
    difference |= x ^ y;
  }
  return difference == 0 ? 1 : 0;
}

namespace {

struct Md5Sha1State {
  HashContext md5;
  HashContext sha1;
};

}  // namespace

int v3Md5Sha1Init(HashContext* c) {
  auto* state = static_cast<Md5Sha1State*>(v3HashStartState(c, sizeof(Md5Sha1State)));
  if (state == nullptr) return -3;
  int rc = v3Md5Init(&state->md5);
  if (rc == 0) rc = v3Sha1Init(&state->sha1);
  if (rc != 0) {
    if (state->md5.state != nullptr) {
      u8 scratch[V3_DIGEST_SIZE];
      (void)v3Md5Final(scratch, &state->md5);
    }
    v3HashRelease(state, sizeof *state);
    c->state = nullptr;
    c->status = 45;
    return rc;
  }
  return 0;
}

int v3Md5Sha1Update(HashContext* c, const u8* data, u64 length) {
  auto* state = static_cast<Md5Sha1State*>(c->state);
  const int rc = v3Md5Update(&state->md5, data, length);
  return rc != 0 ? rc : v3Sha1Update(&state->sha1, data, length);
}

int v3Md5Sha1Final(u8 digest[V3_DIGEST_SIZE], HashContext* c) {
  auto* state = static_cast<Md5Sha1State*>(c->state);
  u8 md5[V3_DIGEST_SIZE];
  u8 sha1[V3_DIGEST_SIZE];
  (void)v3Md5Final(md5, &state->md5);
  (void)v3Sha1Final(sha1, &state->sha1);
  std::memcpy(digest, md5, 16);
  std::memcpy(digest + 16, sha1, 16);
  v3HashRelease(state, sizeof *state);
  c->state = nullptr;
  return 0;
}
