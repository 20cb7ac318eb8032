// The personal status page's exact text.
#include <gtest/gtest.h>

#include <string>

#include "base/log.h"
#include "build_config.h"
#include "client/status_page.h"
#include "state/client_config.h"
#include "support/temp_dir.h"

namespace {

std::string Page(const std::string& user, const std::string& team) {
  const std::string web = QVN_WEB_ADDRESS;
  return "<html>\n<head><title>My Quorvane Page</title></head>\n<body bgcolor=#FFFFFF text=#663333 link=#CC3300 "
         "vlink=#CC3300>\n<div align=\"center\">\n<font face=\"Book Antiqua\", \"Times\">\n<h1><b>My  Quorvane  "
         "Home</b></h1>\n</font>\n</div>\n<hr>\n<font size=+1>\n<p><u>Your information</u><br>\nUser name: " +
         (user.empty() ? "unknown" : user) + "<br>\nTeam number: " + (team.empty() ? "unknown" : team) +
         "<br>\n<p><u>Current/latest unit</u><br>\nUnit name, download time, progress: <a "
         "href=unitinfo.txt>unitinfo.txt</a><br>\n<p><u>Statistics</u><br>\nPersonal statistics: <a href=\"" + web +
         "/cgi-bin/userpage" + (user.empty() ? "" : "?q=" + user) + "\">" + web + "/cgi-bin/userpage" +
         (user.empty() ? "" : "?q=" + user) + "</a><br>\nTeam statistics: <a href=\"" + web + "/cgi-bin/teampage" +
         (team.empty() ? "" : "?q=" + team) + "\">" + web + "/cgi-bin/teampage" + (team.empty() ? "" : "?q=" + team) +
         "</a><br>\n<p><u>Project links</u><br>\nHome page: <a href=\"" + web + "/\"> " + web +
         "</a><br>\nCurrent project descriptions: <a href=\"" + web + "/cgi-bin/allprojects\">" + web +
         "/cgi-bin/allprojects</a><br>\nDownloads: <a href=\"" + web + "/download.html\"> " + web +
         "/download.html</a><br>\n<p>\n(If any of the above links appear broken, please visit our <a href=\"" + web +
         "/\">home page</a> for current links or an upgraded client program.)<br>\n</font>\n</body>\n</html>\n";
}

}  // namespace

TEST(StatusPage, ShowsUserAndTeamWithTheirLinks) {
  TempDir dir(true);
  ResetProcessSettings();
  WriteText("client.cfg", "[settings]\nusername=Ann Lee\nteam=0\n");
  ASSERT_EQ(v3ConfigLoad(&g_config, "client.cfg"), 0);
  WriteStatusPage();
  EXPECT_EQ(ReadText("MyQuorvane.html"), Page("Ann Lee", "0"));
  v3ConfigFree(&g_config);
  WriteStatusPage();
  EXPECT_EQ(ReadText("MyQuorvane.html"), Page("", ""));
}
