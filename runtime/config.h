// Sectioned key/value documents read from and written to text files of "[section]" headers followed by
// "key=value" lines. Section and key lookups match by prefix: a requested name matches every stored name
// that begins with it. Each document carries its own lock and every operation holds it, so threads may
// share a document; a value returned by get stays valid until the next set, load or free on it.
#pragma once

#include "runtime/process.h"
#include "runtime/types.h"

inline constexpr u32 V3_CONFIG_DELETED = 0;
inline constexpr u32 V3_CONFIG_IN_TEXT = 1;  // the text lies in the document's file text
inline constexpr u32 V3_CONFIG_OWNED = 2;    // the text lies in a block of its own

struct ConfigEntry {
  u32 storageSize;  // key length + value length + 2
  u32 state;
  char* key;
  char* value;  // in an owned block: right after the key's terminator
};

struct ConfigSection {
  u32 nameSize;  // name length + 1
  u32 state;
  char* name;
  ConfigEntry* entries;
  u32 entryCount;
};

struct ConfigFile {  // all-zero is a valid empty document
  char* text;
  ConfigSection* sections;
  u32 sectionCount;
  v3Mutex lock;
};

// Replaces the content with the file at path (read with a shared, non-waiting lock). A null path only
// initialises: 0 for a document without sections, -1 otherwise. Returns the file service's code when the
// file cannot be opened or measured (document unchanged); -1 for an empty file, a short read or no memory.
[[nodiscard]] int v3ConfigLoad(ConfigFile* doc, const char* path);
// Writes every live entry to path, replacing the file whole (a temporary beside it, synced, renamed over
// it) while holding an exclusive, non-waiting lock on the current file; the file is rw------- (it may hold
// a password). 0, the file service's code when it cannot be opened or locked, or -2 when the new file
// could not be written (the old one stays whole).
[[nodiscard]] int v3ConfigSave(ConfigFile* doc, const char* path);
// The value of the first live entry matching key in the first matching section, or null.
[[nodiscard]] const char* v3ConfigGet(ConfigFile* doc, const char* section, const char* key);
// Sets key in section to a copy of value, creating section and entry when nothing matches; a null
// value deletes the matching entry. 0, or -1 (null document, section or key; no memory).
[[nodiscard]] int v3ConfigSet(ConfigFile* doc, const char* section, const char* key, const char* value);
// Releases everything; the document is empty and zeroed afterwards.
void v3ConfigFree(ConfigFile* doc);

// The reader alone, on a text block the caller owns (for the fuzzer): parses text[0, length) in place,
// where text[length] must be a writable terminator. Adds sections and entries to doc; 0 or -1.
[[nodiscard]] int v3ConfigParseText(ConfigFile* doc, char* text, u64 length);
