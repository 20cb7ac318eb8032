// Configuration documents: the reader, the writer, prefix lookups and in-place updates.
#include "runtime/config.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "runtime/file.h"
#include "runtime/format.h"
#include "runtime/memory.h"

namespace {

constexpr u64 kNotFound = UINT64_MAX;

// Searches stop at the end of the text and at any terminator, whether read from the file or written there.
u64 Find(const char* text, u64 from, u64 end, char wanted) {
  for (u64 i = from; i < end; ++i) {
    if (text[i] == wanted) return i;
    if (text[i] == '\0') return kNotFound;
  }
  return kNotFound;
}

bool Matches(const char* stored, const char* requested) {
  return std::strncmp(stored, requested, std::strlen(requested)) == 0;
}

bool Live(const ConfigEntry& e) { return e.state == V3_CONFIG_IN_TEXT || e.state == V3_CONFIG_OWNED; }

int AddSection(ConfigFile* doc, char* name, u32 state) {
  auto* grown = static_cast<ConfigSection*>(std::realloc(doc->sections, sizeof(ConfigSection) * (doc->sectionCount + 1)));
  if (grown == nullptr) return -1;
  doc->sections = grown;
  grown[doc->sectionCount++] = ConfigSection{static_cast<u32>(std::strlen(name) + 1), state, name, nullptr, 0};
  return 0;
}

int AddEntry(ConfigSection* section, const ConfigEntry& entry) {
  auto* grown =
      static_cast<ConfigEntry*>(std::realloc(section->entries, sizeof(ConfigEntry) * (section->entryCount + 1)));
  if (grown == nullptr) return -1;
  section->entries = grown;
  grown[section->entryCount++] = entry;
  return 0;
}

// A block holding key, terminator, value, terminator; the entry takes it over in state OWNED.
int OwnBlock(ConfigEntry* entry, const char* key, const char* value) {
  const u64 keyLength = std::strlen(key);
  const u64 valueLength = std::strlen(value);
  const u64 needed = keyLength + valueLength + 2;
  if (needed > UINT32_MAX) return -1;
  char* block = static_cast<char*>(std::malloc(needed));
  if (block == nullptr) return -1;
  std::memcpy(block, key, keyLength + 1);
  std::memcpy(block + keyLength + 1, value, valueLength + 1);
  if (entry->state == V3_CONFIG_OWNED) std::free(entry->key);
  *entry = ConfigEntry{static_cast<u32>(needed), V3_CONFIG_OWNED, block, block + keyLength + 1};
  return 0;
}

void ReleaseContent(ConfigFile* doc) {
  for (u32 s = 0; s < doc->sectionCount; ++s) {
    ConfigSection& section = doc->sections[s];
    for (u32 e = 0; e < section.entryCount; ++e) {
      if (section.entries[e].state == V3_CONFIG_OWNED) std::free(section.entries[e].key);
    }
    std::free(section.entries);
    if (section.state == V3_CONFIG_OWNED) std::free(section.name);
  }
  std::free(doc->sections);
  v3MemFree(doc->text);
  doc->text = nullptr;
  doc->sections = nullptr;
  doc->sectionCount = 0;
}

ConfigSection* FindSection(ConfigFile* doc, const char* name) {
  for (u32 s = 0; s < doc->sectionCount; ++s) {
    if (Matches(doc->sections[s].name, name)) return &doc->sections[s];
  }
  return nullptr;
}

ConfigEntry* FindEntry(ConfigSection* section, const char* key, bool liveOnly) {
  for (u32 e = 0; e < section->entryCount; ++e) {
    ConfigEntry& entry = section->entries[e];
    if ((!liveOnly || Live(entry)) && Matches(entry.key, key)) return &entry;
  }
  return nullptr;
}

// Changes the value of a matching entry, following the in-place / new-block rules.
int UpdateEntry(ConfigEntry* entry, const char* key, const char* value) {
  const u64 valueLength = std::strlen(value);
  if (entry->storageSize == 0) return OwnBlock(entry, key, value);
  // The stored key stays, and it may be longer than the requested one (prefix match): the room left for the
  // value is measured after the stored key, so a longer key can never push the value past its storage.
  const u64 storedKeyLength = std::strlen(entry->key);
  const u64 neededInPlace = storedKeyLength + 1 + valueLength + 1;
  if (neededInPlace < entry->storageSize) {
    std::memcpy(entry->key + storedKeyLength + 1, value, valueLength + 1);
    entry->value = entry->key + storedKeyLength + 1;
    if (entry->state == V3_CONFIG_DELETED) entry->state = V3_CONFIG_IN_TEXT;
    return 0;
  }
  if (entry->state == V3_CONFIG_OWNED) {
    if (neededInPlace > UINT32_MAX) return -1;
    char* block = static_cast<char*>(std::realloc(entry->key, neededInPlace));
    if (block == nullptr) return -1;
    std::memcpy(block + storedKeyLength + 1, value, valueLength + 1);
    *entry = ConfigEntry{static_cast<u32>(neededInPlace), V3_CONFIG_OWNED, block, block + storedKeyLength + 1};
    return 0;
  }
  entry->state = V3_CONFIG_IN_TEXT;  // the old text stays in the file text; a new block takes over
  return OwnBlock(entry, key, value);
}

int SetLocked(ConfigFile* doc, const char* sectionName, const char* key, const char* value) {
  ConfigSection* section = FindSection(doc, sectionName);
  if (section == nullptr) {
    if (value == nullptr) return 0;  // nothing to delete
    const u64 nameLength = std::strlen(sectionName);
    char* name = static_cast<char*>(std::malloc(nameLength + 1));
    if (name == nullptr) return -1;
    std::memcpy(name, sectionName, nameLength + 1);
    if (AddSection(doc, name, V3_CONFIG_OWNED) != 0) {
      std::free(name);
      return -1;
    }
    section = &doc->sections[doc->sectionCount - 1];
  }
  ConfigEntry* entry = FindEntry(section, key, false);
  if (entry == nullptr) {
    if (value == nullptr) return 0;
    ConfigEntry fresh{0, V3_CONFIG_DELETED, nullptr, nullptr};
    if (OwnBlock(&fresh, key, value) != 0) return -1;
    if (AddEntry(section, fresh) != 0) {
      std::free(fresh.key);
      return -1;
    }
    return 0;
  }
  if (value == nullptr) {
    if (entry->state == V3_CONFIG_OWNED) {
      std::free(entry->key);
      entry->key = entry->value = const_cast<char*>("");
      entry->storageSize = 0;
    }
    entry->state = V3_CONFIG_DELETED;
    return 0;
  }
  return UpdateEntry(entry, key, value);
}

}  // namespace

int v3ConfigParseText(ConfigFile* doc, char* text, u64 length) {
  const u64 end = length;
  u64 pos = 0;
  for (;;) {
    const u64 open = Find(text, pos, end, '[');
    if (open == kNotFound) return 0;
    // The name ends at the first "]" after its "[" (never one before it); without one, reading stops.
    const u64 close = Find(text, open + 1, end, ']');
    if (close == kNotFound) return 0;
    text[close] = '\0';
    if (AddSection(doc, text + open + 1, V3_CONFIG_IN_TEXT) != 0) return -1;
    ConfigSection* section = &doc->sections[doc->sectionCount - 1];
    // A header is assumed to end with a single line-end character.
    pos = close + 2 < end ? close + 2 : end;
    while (text[pos] != '[') {
      const u64 lineEnd = Find(text, pos, end, '\n');
      if (lineEnd == kNotFound) break;  // a last line without a line feed is not an entry
      text[lineEnd] = '\0';
      const u64 equals = Find(text, pos, lineEnd, '=');
      if (equals == kNotFound) continue;  // position stays: reading in effect ends at this line
      text[equals] = '\0';
      const u64 storage = (equals - pos) + (lineEnd - equals - 1) + 2;
      if (storage > UINT32_MAX) return -1;
      if (AddEntry(section, ConfigEntry{static_cast<u32>(storage), V3_CONFIG_IN_TEXT, text + pos, text + equals + 1}) !=
          0) {
        return -1;
      }
      pos = lineEnd + 1;
      while (pos < end && text[pos] == '\n') ++pos;
    }
  }
}

int v3ConfigLoad(ConfigFile* doc, const char* path) {
  if (doc == nullptr) return -1;
  if (path == nullptr) return doc->sectionCount == 0 ? 0 : -1;
  (void)v3MutexLock(&doc->lock, V3_MUTEX_WAIT);
  RuntimeFile file{};
  int rc = v3FileOpen(&file, path, V3_FILE_READ, V3_LOCK_SHARED);
  u64 length = 0;
  if (rc == 0) {
    rc = v3FileLength(&length, &file);
    if (rc != 0) v3FileClose(&file);
  }
  if (rc != 0) {
    v3MutexUnlock(&doc->lock);
    return rc;
  }
  ReleaseContent(doc);
  // One byte more than the file: a terminator after the text bounds every string the reader makes.
  char* text = length > 0 && length < UINT64_MAX ? static_cast<char*>(v3MemAlloc(length + 1, V3_MEM_NORMAL)) : nullptr;
  u64 got = 0;
  if (text == nullptr || v3FileRead(text, &got, &file, length) != 0 || got != length) {
    v3MemFree(text);
    v3FileClose(&file);
    v3MutexUnlock(&doc->lock);
    return -1;
  }
  v3FileClose(&file);
  doc->text = text;
  rc = v3ConfigParseText(doc, text, length);
  v3MutexUnlock(&doc->lock);
  return rc;
}

int v3ConfigSave(ConfigFile* doc, const char* path) {
  if (doc == nullptr || path == nullptr) return -1;
  RuntimeFile file{};
  const int rc = v3FileOpen(&file, path, V3_FILE_WRITE | V3_FILE_CREATE | V3_FILE_TRUNCATE, V3_LOCK_EXCLUSIVE);
  if (rc != 0) return rc;
  bool failed = false;
  auto put = [&](u64 written, u64 expected) { failed = failed || written != expected; };
  (void)v3MutexLock(&doc->lock, V3_MUTEX_WAIT);
  for (u32 s = 0; s < doc->sectionCount && !failed; ++s) {
    const ConfigSection& section = doc->sections[s];
    bool wroteHeader = false;
    for (u32 e = 0; e < section.entryCount && !failed; ++e) {
      const ConfigEntry& entry = section.entries[e];
      if (!Live(entry)) continue;
      if (!wroteHeader) {
        const int nameLength = static_cast<int>(section.nameSize - 1);
        put(v3PrintFile(&file, "[%.*s]\n", nameLength, section.name), static_cast<u64>(nameLength) + 3);
        wroteHeader = true;
      }
      const int keyLength = static_cast<int>(std::strlen(entry.key));
      const int valueLength = static_cast<int>(std::strlen(entry.value));
      put(v3PrintFile(&file, "%.*s=%.*s\n", keyLength, entry.key, valueLength, entry.value),
          static_cast<u64>(keyLength) + static_cast<u64>(valueLength) + 2);
    }
    if (wroteHeader) put(v3PrintFile(&file, "\n"), 1);
  }
  v3MutexUnlock(&doc->lock);
  v3FileClose(&file);
  // A save that did not reach the disk whole is reported, so the caller never takes it for done.
  return failed ? V3_FILE_ENOENT : 0;
}

const char* v3ConfigGet(ConfigFile* doc, const char* sectionName, const char* key) {
  if (doc == nullptr || sectionName == nullptr || key == nullptr) return nullptr;
  (void)v3MutexLock(&doc->lock, V3_MUTEX_WAIT);
  const char* value = nullptr;
  if (ConfigSection* section = FindSection(doc, sectionName)) {
    if (const ConfigEntry* entry = FindEntry(section, key, true)) value = entry->value;
  }
  v3MutexUnlock(&doc->lock);
  return value;
}

int v3ConfigSet(ConfigFile* doc, const char* section, const char* key, const char* value) {
  if (doc == nullptr || section == nullptr || key == nullptr) return -1;
  (void)v3MutexLock(&doc->lock, V3_MUTEX_WAIT);
  const int rc = SetLocked(doc, section, key, value);
  v3MutexUnlock(&doc->lock);
  return rc;
}

void v3ConfigFree(ConfigFile* doc) {
  if (doc == nullptr) return;
  (void)v3MutexLock(&doc->lock, V3_MUTEX_WAIT);
  ReleaseContent(doc);
  v3MutexUnlock(&doc->lock);
  v3MutexDestroy(&doc->lock);
  *doc = ConfigFile{};
}
