// The configuration dialogue on the console: user and team, network and proxy, advanced settings. Each
// question shows the stored value in brackets and Enter keeps it; choice questions repeat until answered
// with one of the choices. When the console input has ended, a choice question takes the stored value,
// else "no" where that is a choice, else its first choice, so the dialogue always finishes.
#pragma once

#include <initializer_list>

#include "runtime/types.h"

inline constexpr u64 kAnswerCapacity = 64;

// Runs the three groups in order and reloads the configuration; returns 0.
int ConfigureInteractively();
int AskUserAndTeam();
int AskNetworkSettings();
int AskAdvancedSettings();
// 1 when the answer is acceptable, with the answer replaced by the full text it stands for; else 0.
// An empty answer stands for current when there is one.
[[nodiscard]] int MatchAnswer(const char* current, char answer[kAnswerCapacity], std::initializer_list<const char*> choices);
[[nodiscard]] const char* ClientTypeName(s32 type);
[[nodiscard]] s32 ClientTypeFromName(const char* name);
// True once a read found the console input at its end.
[[nodiscard]] bool DialogueInputEnded();
