// The question-and-answer dialogue that fills client.cfg.
#include "state/dialogue.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "runtime/console.h"
#include "runtime/format.h"
#include "state/client_config.h"
#include "state/identity.h"

namespace {

bool g_inputEnded = false;

const char* Get(const char* section, const char* key) { return v3ConfigGet(&g_config, section, key); }

// Reads one answer line; at the end of the input the answer is empty.
void ReadAnswer(char answer[kAnswerCapacity]) {
  if (v3Input(answer, kAnswerCapacity, 1) < 0) {
    answer[0] = '\0';
    g_inputEnded = true;
    v3PrintConsole("\n");  // ends the prompt's line as the typed Enter would have
  }
}

void StoreIfGiven(const char* section, const char* key, const char* answer) {
  if (answer[0] != '\0') (void)v3ConfigSet(&g_config, section, key, answer);
}

// A stored value can be of any length (client.cfg is hand-editable); an answer holds what fits.
void CopyAnswer(char answer[kAnswerCapacity], const char* value) {
  const size_t length = std::min<size_t>(std::strlen(value), kAnswerCapacity - 1);
  std::memmove(answer, value, length);
  answer[length] = '\0';
}

// Prints the prompt with the stored value (or the other prompt without one) and reads the answer.
void AskFreeText(const char* withValue, const char* withoutValue, const char* stored, char answer[kAnswerCapacity]) {
  if (stored != nullptr) {
    v3PrintConsole(withValue, stored);
  } else {
    v3PrintConsole(withoutValue);
  }
  ReadAnswer(answer);
}

// The answer taken when nobody can answer: "no" where it is a choice, so that an unattended client never
// switches on a proxy or the asking that nobody asked for; otherwise the first choice.
const char* UnattendedChoice(std::initializer_list<const char*> choices) {
  for (const char* choice : choices) {
    if (std::strcmp(choice, "no") == 0) return choice;
  }
  return *choices.begin();
}

// Repeats the question until an acceptable answer; with the input at its end, the current value or the
// unattended choice is taken. *typed tells whether the user gave a non-empty answer.
void AskChoice(const char* withValue, const char* withoutValue, const char* stored, const char* current,
               std::initializer_list<const char*> choices, char answer[kAnswerCapacity], bool* typed = nullptr) {
  for (;;) {
    AskFreeText(withValue, withoutValue, stored, answer);
    if (typed != nullptr) *typed = answer[0] != '\0';
    if (MatchAnswer(current, answer, choices)) return;
    if (g_inputEnded) {
      CopyAnswer(answer, current != nullptr ? current : UnattendedChoice(choices));
      return;
    }
  }
}

bool AnswerIs(const char* answer, const char* choice) { return std::strcmp(answer, choice) == 0; }

}  // namespace

bool DialogueInputEnded() { return g_inputEnded; }

const char* ClientTypeName(s32 type) {
  switch (static_cast<u16>(type)) {
    case 1:
      return "qvn";
    case 2:
      return "zel";
    default:
      return "no-pref";
  }
}

s32 ClientTypeFromName(const char* name) {
  if (std::strcmp(name, "zel") == 0) return 2;
  if (std::strcmp(name, "qvn") == 0) return 1;
  return 0;
}

int MatchAnswer(const char* current, char answer[kAnswerCapacity], std::initializer_list<const char*> choices) {
  if (current != nullptr && answer[0] == '\0') {
    CopyAnswer(answer, current);
    return 1;
  }
  for (const char* choice : choices) {
    const bool singleLetter =
        answer[0] != '\0' && answer[1] == '\0' && std::tolower(static_cast<unsigned char>(answer[0])) == choice[0];
    if (singleLetter || strncasecmp(answer, choice, std::strlen(choice)) == 0) {
      CopyAnswer(answer, choice);
      return 1;
    }
  }
  return 0;
}

int AskUserAndTeam() {
  char answer[kAnswerCapacity];
  AskFreeText("User name [%.63s]? ", "User Name? ", Get("settings", "username"), answer);
  StoreIfGiven("settings", "username", answer);
  AskFreeText("Team Number[%.63s]? ", "Team Number? ", Get("settings", "team"), answer);
  StoreIfGiven("settings", "team", answer);
  return v3ConfigSave(&g_config, kConfigFileName);
}

int AskNetworkSettings() {
  char answer[kAnswerCapacity];
  const char* stored = Get("settings", "asknet");
  AskChoice("Ask before fetching/sending work [%.5s] (yes/no)? ", "Ask before fetching/sending work (yes/no)? ", stored,
            stored, {"yes", "no"}, answer);
  (void)v3ConfigSet(&g_config, "settings", "asknet", answer);
  stored = Get("http", "active");
  AskChoice("Use proxy [%.63s] (yes/no)? ", "Use proxy (yes/no)? ", stored, stored, {"yes", "no"}, answer);
  (void)v3ConfigSet(&g_config, "http", "active", answer);

  const char* active = Get("http", "active");
  if (active != nullptr && std::strncmp(active, "yes", 3) == 0) {
    AskFreeText("Proxy Name [%.63s]? ", "Proxy Name? ", Get("http", "host"), answer);
    StoreIfGiven("http", "host", answer);
    AskFreeText("Proxy Port [%.63s]? ", "Proxy Port? ", Get("http", "port"), answer);
    StoreIfGiven("http", "port", answer);
    stored = Get("http", "usepasswd");
    AskChoice("Use username & password with proxy [%.63s]? ", "Use username & password with proxy (yes/no)? ", stored,
              stored, {"yes", "no"}, answer);
    (void)v3ConfigSet(&g_config, "http", "usepasswd", answer);
    const char* usePassword = Get("http", "usepasswd");
    if (usePassword != nullptr && usePassword[0] == 'y') {
      const bool nameStored = Get("http", "proxy_name") != nullptr;
      AskFreeText("Proxy Username [%.63s]? ", "Proxy Username? ", Get("http", "proxy_name"), answer);
      StoreIfGiven("http", "proxy_name", answer);
      if (answer[0] != '\0' || nameStored) {
        v3PrintConsole("Proxy Password? ");
        ReadAnswer(answer);
        (void)v3ConfigSet(&g_config, "http", "proxy_passwd", answer);
      } else {
        (void)v3ConfigSet(&g_config, "http", "proxy_passwd", "");
      }
    }
  }
  return v3ConfigSave(&g_config, kConfigFileName);
}

int AskAdvancedSettings() {
  char answer[kAnswerCapacity];
  AskChoice("Change advanced options [no] (yes/no)? ", "Change advanced options [no] (yes/no)? ", nullptr, "no",
            {"yes", "no"}, answer);
  if (AnswerIs(answer, "no")) return 0;

  bool typed = false;
  const char* type = Get("clienttype", "type");
  const char* typeName = ClientTypeName(type != nullptr ? TextToInt(type) : 0);
  AskChoice("Client Type [%.63s] (no-pref/qvn/zel)? ", "Core Type [no-pref] (no-pref/qvn/zel)? ",
            type != nullptr ? typeName : nullptr, typeName, {"no-pref", "qvn", "zel"}, answer, &typed);
  if (typed) {
    char number[16];
    v3PrintBuffer(number, sizeof number, "%i", ClientTypeFromName(answer));
    (void)v3ConfigSet(&g_config, "clienttype", "type", number);
  }

  const char* priority = Get("core", "priority");
  const char* priorityName = priority != nullptr && TextToInt(priority) != 0 ? "low" : "idle";
  AskChoice("Core Priority [%.63s] (idle/low)? ", "Core Priority [idle] (idle/low)? ",
            priority != nullptr ? priorityName : nullptr, priorityName, {"idle", "low"}, answer, &typed);
  if (typed) (void)v3ConfigSet(&g_config, "core", "priority", AnswerIs(answer, "low") ? "96" : "0");

  const char* stored = Get("core", "disableassembly");
  AskChoice("Disable highly optimized assembly code [%.5s] (no/yes)? ",
            "Disable highly optimized assembly code [no] (no/yes)? ", stored, stored != nullptr ? stored : "no",
            {"yes", "no"}, answer);
  (void)v3ConfigSet(&g_config, "core", "disableassembly", answer);

  stored = Get("core", "ignoredeadlines");
  AskChoice("Ignore deadline information (mainly useful if\n system clock frequently has errors)? [%.5s] (no/yes)? ",
            "Ignore deadline information (mainly useful if\n system clock frequently has errors)? [no] (no/yes)? ",
            stored, stored != nullptr ? stored : "no", {"yes", "no"}, answer);
  (void)v3ConfigSet(&g_config, "core", "ignoredeadlines", answer);

  const char* machine = Get("settings", "machineid");
  if (machine != nullptr) {
    v3PrintConsole("Machine ID (1-%u) [%.63s]? ", 4u, machine);
  } else {
    v3PrintConsole("Machine ID (1-%u) [1]? ", 4u);
  }
  ReadAnswer(answer);
  if (answer[0] != '\0') {
    const s32 id = TextToInt(answer);
    (void)v3ConfigSet(&g_config, "settings", "machineid", id < 1 || id > 4 ? "1" : answer);
  }
  return v3ConfigSave(&g_config, kConfigFileName);
}

int ConfigureInteractively() {
  v3ConfigFree(&g_config);
  (void)v3ConfigLoad(&g_config, kConfigFileName);
  (void)AskUserAndTeam();
  (void)AskNetworkSettings();
  (void)AskAdvancedSettings();
  std::srand(static_cast<u32>(g_userId));
  v3ConfigFree(&g_config);
  (void)v3ConfigLoad(&g_config, kConfigFileName);
  return 0;
}
