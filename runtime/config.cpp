// Configuration documents: the reader, the writer, prefix lookups and in-place updates.
#include "runtime/config.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "runtime/file.h"
#include "runtime/file_replace.h"
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

// The file text of every live entry: "[name]\n", then "key=value\n" lines and a blank line for each
// section with live entries. Writes into out when given; returns the length either way.
// REQUIRES: the document's lock is held.
u64 Render(const ConfigFile* doc, char* out) {
  u64 length = 0;
  auto put = [&](const char* piece, u64 size) {
    if (out != nullptr) std::memcpy(out + length, piece, size);
    length += size;
  };
  for (u32 s = 0; s < doc->sectionCount; ++s) {
    const ConfigSection& section = doc->sections[s];
    bool wroteHeader = false;
    for (u32 e = 0; e < section.entryCount; ++e) {
      const ConfigEntry& entry = section.entries[e];
      if (!Live(entry)) continue;
      if (!wroteHeader) {
        put("[", 1);
        put(section.name, section.nameSize - 1);
        put("]\n", 2);
        wroteHeader = true;
      }
      put(entry.key, std::strlen(entry.key));
      put("=", 1);
      put(entry.value, std::strlen(entry.value));
      put("\n", 1);
    }
    if (wroteHeader) put("\n", 1);
  }
  return length;
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
    // A header is assumed to end with a single line-end character; what follows up to the next line end
    // (a CR of a CR LF, trailing blanks) reads as a line without "=".
    pos = close + 2 < end ? close + 2 : end;
    while (pos < end && text[pos] != '[') {
      u64 lineEnd = pos;
      while (lineEnd < end && text[lineEnd] != '\n' && text[lineEnd] != '\0') ++lineEnd;
      if (lineEnd < end && text[lineEnd] == '\0') return 0;  // a NUL byte ends reading
      // Hand-edited files keep every entry: a CR before the line feed is part of the line end, a line
      // without "=" (comment, blank line) is skipped, and a last line without a line feed still counts.
      u64 contentEnd = lineEnd;
      if (contentEnd > pos && text[contentEnd - 1] == '\r') --contentEnd;
      text[contentEnd] = '\0';
      const u64 equals = Find(text, pos, contentEnd, '=');
      // A "[" in a line without "=" opens a section there, as it always has.
      if (equals == kNotFound && Find(text, pos, contentEnd, '[') != kNotFound) break;
      if (equals != kNotFound) {
        text[equals] = '\0';
        const u64 storage = contentEnd - pos + 1;
        if (storage > UINT32_MAX) return -1;
        if (AddEntry(section,
                     ConfigEntry{static_cast<u32>(storage), V3_CONFIG_IN_TEXT, text + pos, text + equals + 1}) != 0) {
          return -1;
        }
      }
      pos = lineEnd < end ? lineEnd + 1 : end;
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
  // The exclusive lock on the current file keeps two writers apart; the file itself is never written in
  // place but replaced whole, so a crash or a full disk leaves the old settings intact.
  RuntimeFile current{};
  // Settings may hold a proxy password: the file is the owner's alone.
  int rc = v3FileOpen(&current, path, V3_FILE_WRITE | V3_FILE_CREATE | V3_FILE_PRIVATE, V3_LOCK_EXCLUSIVE);
  if (rc != 0) return rc;
  (void)v3MutexLock(&doc->lock, V3_MUTEX_WAIT);
  const u64 length = Render(doc, nullptr);
  char* text = static_cast<char*>(v3MemAlloc(length + 1, V3_MEM_NORMAL));
  if (text != nullptr) (void)Render(doc, text);
  v3MutexUnlock(&doc->lock);
  // A save that did not reach the disk whole is reported, so the caller never takes it for done.
  rc = text != nullptr && v3FileReplace(path, text, length, V3_FILE_PRIVATE) == 0 ? 0 : V3_FILE_ENOENT;
  v3MemFree(text);
  v3FileClose(&current);
  return rc;
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
