// The program's command line: --site takes the same addresses the build's FILM_SITE_BASE does,
// and anything else ends the program with a message and status 2.
#include <gtest/gtest.h>

#include <sys/socket.h>

#include <netinet/in.h>

#include <vector>

#include "app/command_line.h"
#include "app/demo_site_launcher.h"

namespace {

app::CommandLine parse(std::vector<const char*> args) {
  args.insert(args.begin(), "filmfinder");
  return app::parse_command_line(static_cast<int>(args.size()), args.data());
}

TEST(CommandLine, SiteAddressesTakenAndRefused) {
  const struct {
    const char* site;
    bool taken;
  } cases[] = {
      {"http://127.0.0.1:8931", true},        {"https://films.example", true},
      {"http://films.example:1", true},       {"http://films.example:65535", true},
      {"http://a-b.c-d.example", true},       {"http://films.example/", false},
      {"http://films.example/search", false}, {"http://films.example:0", false},
      {"http://films.example:65536", false},  {"http://films.example:", false},
      {"http://films.example:80a", false},    {"http://", false},
      {"ftp://films.example", false},         {"films.example", false},
      {"HTTP://films.example", false},        {"http://user@films.example", false},
      {"http://films.example?x=1", false},    {"http://[::1]:8931", false},
      {"http://films example", false},        {"", false},
  };
  for (const auto& c : cases) {
    const app::CommandLine line = parse({"--site", c.site});
    if (c.taken) {
      EXPECT_FALSE(line.exit_status) << c.site;
      EXPECT_EQ(line.site, std::string(c.site));
    } else {
      EXPECT_EQ(line.exit_status, 2) << c.site;
      EXPECT_NE(line.message.find(c.site), std::string::npos) << line.message;
    }
  }
  EXPECT_EQ(parse({"--site=https://films.example"}).site, "https://films.example");
}

TEST(CommandLine, NothingElseIsTaken) {
  EXPECT_FALSE(parse({}).exit_status);
  EXPECT_FALSE(parse({}).site) << "the built-in site stays";
  EXPECT_EQ(parse({"--help"}).exit_status, 0);
  EXPECT_EQ(parse({"--site"}).exit_status, 2) << "an address is needed";
  EXPECT_EQ(parse({"--verbose"}).exit_status, 2);
  EXPECT_EQ(parse({"http://films.example"}).exit_status, 2);
  EXPECT_EQ(parse({"--site", "http://a.example", "--bogus"}).exit_status, 2);
}

bool port_answers(uint16_t port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return ok;
}

// The demo site beside the program (the test's own folder holds it, as an install does) comes
// up for its own address only, and goes when asked.
TEST(DemoSite, StartedForItsOwnAddressOnlyAndStopped) {
  EXPECT_EQ(app::start_demo_site_if_needed("http://films.example"), app::DemoSiteState::kNotOurs);
  EXPECT_EQ(app::start_demo_site_if_needed("http://127.0.0.1:8932"), app::DemoSiteState::kNotOurs);
  if (port_answers(8931))
    GTEST_SKIP() << "something already serves 127.0.0.1:8931";
  ASSERT_EQ(app::start_demo_site_if_needed(app::kDemoSiteBase), app::DemoSiteState::kStarted);
  EXPECT_TRUE(port_answers(8931));
  EXPECT_EQ(app::start_demo_site_if_needed(app::kDemoSiteBase),
            app::DemoSiteState::kAlreadyRunning);
  app::stop_demo_site();
  EXPECT_FALSE(port_answers(8931));
  app::stop_demo_site();  // a second stop does nothing
}

}  // namespace
