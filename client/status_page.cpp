// The personal status page, linked to the project's web address of this build.
#include "client/status_page.h"

#include "base/log.h"
#include "build_config.h"
#include "client/core_flags.h"
#include "runtime/file.h"
#include "runtime/format.h"
#include "state/client_config.h"

namespace {

constexpr u64 kLinkCapacity = 1000;

// The page's address, with "?q=" and the value when there is one; cut at 999 characters.
void StatisticsLink(char link[kLinkCapacity], const char* page, const char* value) {
  if (value != nullptr) {
    v3PrintBuffer(link, kLinkCapacity, "%s%s?q=%s", QVN_WEB_ADDRESS, page, value);
  } else {
    v3PrintBuffer(link, kLinkCapacity, "%s%s", QVN_WEB_ADDRESS, page);
  }
}

}  // namespace

void WriteStatusPage() {
  RuntimeFile page{};
  if (v3FileOpen(&page, kStatusPageFileName, V3_FILE_WRITE | V3_FILE_CREATE | V3_FILE_TRUNCATE, V3_LOCK_NONE) != 0) {
    LOG_AT(3, "Could not write %s.\n", kStatusPageFileName);
    return;
  }
  const char* user = v3ConfigGet(&g_config, "settings", "username");
  const char* team = v3ConfigGet(&g_config, "settings", "team");
  char personal[kLinkCapacity];
  char teamLink[kLinkCapacity];
  StatisticsLink(personal, "/cgi-bin/userpage", user);
  StatisticsLink(teamLink, "/cgi-bin/teampage", team);
  const char* home = QVN_WEB_ADDRESS "/";
  const char* site = QVN_WEB_ADDRESS;
  const char* descriptions = QVN_WEB_ADDRESS "/cgi-bin/allprojects";
  const char* downloads = QVN_WEB_ADDRESS "/download.html";

  v3PrintFile(&page,
              "<html>\n<head><title>My Quorvane Page</title></head>\n<body bgcolor=#FFFFFF text=#663333 link=#CC3300 "
              "vlink=#CC3300>\n<div align=\"center\">\n<font face=\"Book Antiqua\", \"Times\">\n<h1><b>My  Quorvane  "
              "Home</b></h1>\n</font>\n</div>\n<hr>\n<font size=+1>\n");
  v3PrintFile(&page, "<p><u>Your information</u><br>\n");
  v3PrintFile(&page, "User name: %s<br>\n", user != nullptr ? user : "unknown");
  v3PrintFile(&page, "Team number: %s<br>\n", team != nullptr ? team : "unknown");
  v3PrintFile(&page,
              "<p><u>Current/latest unit</u><br>\nUnit name, download time, progress: <a href=%s>unitinfo.txt</a><br>\n",
              "unitinfo.txt");
  if (const char* reason = g_corePauseReason.load()) v3PrintFile(&page, "Core: paused (%s)<br>\n", reason);
  v3PrintFile(&page, "<p><u>Statistics</u><br>\n");
  v3PrintFile(&page, "Personal statistics: <a href=\"%s\">%s</a><br>\n", personal, personal);
  v3PrintFile(&page, "Team statistics: <a href=\"%s\">%s</a><br>\n", teamLink, teamLink);
  v3PrintFile(&page, "<p><u>Project links</u><br>\n");
  v3PrintFile(&page, "Home page: <a href=\"%s\"> %s</a><br>\n", home, site);
  v3PrintFile(&page, "Current project descriptions: <a href=\"%s\">%s</a><br>\n", descriptions, descriptions);
  v3PrintFile(&page, "Downloads: <a href=\"%s\"> %s</a><br>\n", downloads, downloads);
  v3PrintFile(&page,
              "<p>\n(If any of the above links appear broken, please visit our <a href=\"%s\">home page</a> for current "
              "links or an upgraded client program.)<br>\n</font>\n</body>\n</html>\n",
              home);
  v3FileClose(&page);
}
