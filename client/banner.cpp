// The banner: edition line, version, and the project's addresses from the build.
#include "client/banner.h"

#include <cstring>

#include "base/log.h"
#include "base/settings.h"
#include "build_config.h"

namespace {

constexpr const char* kEditionText = " Linux Console Edition ";
constexpr const char* kHashRule = "###############################################################################\n";
static_assert(sizeof("###############################################################################") - 1 == 79);

}  // namespace

void PrintBanner() {
  // The edition text is laid over a rule of 79 "#" just after its first "#", keeping the width.
  char editionLine[82];
  std::memcpy(editionLine, "\n", 1);
  std::memcpy(editionLine + 1, kHashRule, 81);
  const size_t editionLength = std::strlen(kEditionText);
  std::memcpy(editionLine + 2, kEditionText, editionLength);
  LogWrite("%s", editionLine);
  LogWrite("%s", kHashRule);
  LogWrite("\n");
  LogWrite("%23sQuorvane Client Version %s\n", "", kClientVersion);
  LogWrite("\n");
  LogWrite("%23s%s\n", "", QVN_WEB_ADDRESS);
  LogWrite("%21semail:%s\n", "", QVN_HELP_ADDRESS);
  LogWrite("\n");
  LogWrite("%s", kHashRule);
  LogWrite("%s", kHashRule);
  LogWrite("\n");
}
