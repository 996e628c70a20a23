#include <gtest/gtest.h>

#include "app/command_line.h"
#include "test_support.h"

using namespace zarv::app;

namespace {
StartOptions parse(const QStringList& rest) {
    return ParseStartOptions(QStringList{QStringLiteral("zarv")} + rest);
}

TEST(CommandLine, OptionsAreReadAndMistakesNamed) {
    EXPECT_TRUE(parse({"--help"}).help);
    EXPECT_TRUE(parse({"-v"}).version);
    EXPECT_EQ(parse({"--station-dir", "/srv/radar"}).station_dir, "/srv/radar");
    EXPECT_EQ(parse({"--station-dir=/srv/r d"}).station_dir, "/srv/r d");
    EXPECT_TRUE(parse({}).error.isEmpty());
    // Qt's own options, with their values, pass on to Qt.
    EXPECT_TRUE(parse({"-platform", "offscreen", "-reverse"}).error.isEmpty());
    EXPECT_TRUE(parse({"--headless"}).headless);
    EXPECT_EQ(parse({"--headless", "--duration", "90.5"}).duration_s, 90.5);
    EXPECT_EQ(parse({"--headless", "--duration=5"}).duration_s, 5.0);
    EXPECT_EQ(parse({"--headless", "--duration", "0"}).error,
              "--duration needs a number of seconds above 0");
    EXPECT_EQ(parse({"--duration", "5"}).error, "--duration needs --headless");
    EXPECT_EQ(parse({"--station-dir"}).error, "--station-dir needs a directory");
    EXPECT_EQ(parse({"--bogus"}).error, "unknown option --bogus");
    EXPECT_EQ(parse({"config.txt"}).error, "unexpected argument config.txt");
    EXPECT_EQ(parse({"-x"}).error, "unknown option -x");
    EXPECT_EQ(parse({"--headless", "--duration"}).error,
              "--duration needs a number of seconds above 0");
    EXPECT_EQ(parse({"--headless", "--duration=inf"}).error,
              "--duration needs a number of seconds above 0");
    // Every option takes its value either way, and once.
    EXPECT_EQ(parse({"--station-dir", "/a", "--station-dir=/b"}).error,
              "--station-dir is given more than once");
    EXPECT_EQ(parse({"--headless", "--duration=1", "--duration", "2"}).error,
              "--duration is given more than once");
    EXPECT_TRUE(parse({"-platform=offscreen", "-h"}).help);
    // The status server's address, read as the server will read it.
    EXPECT_EQ(parse({"--status-listen", "9100"}).status_listen, "9100");
    EXPECT_EQ(parse({"--headless", "--status-listen=[::1]:9100"}).status_listen, "[::1]:9100");
    EXPECT_EQ(parse({"--status-listen", "99999"}).error,
              "--status-listen '99999' needs a port from 1 to 65535");
    EXPECT_EQ(parse({"--status-listen", "nowhere:80"}).error,
              "--status-listen 'nowhere:80' names no IP address");
    EXPECT_EQ(parse({"--status-listen"}).error, "--status-listen needs [ADDRESS:]PORT");
}

TEST(CommandLine, HelpAndVersionSayWhatTheProgramIs) {
    EXPECT_TRUE(UsageText("zarv").startsWith(
        "Usage: zarv [--station-dir DIR] [--status-listen [ADDRESS:]PORT]\n"
        "       [--headless [--duration SECONDS]]\n"));
    EXPECT_TRUE(UsageText("zarv").contains("--version"));
    EXPECT_EQ(VersionText("zarv-sim"), QStringLiteral("zarv-sim %1\n").arg(ZARV_VERSION));
}
}  // namespace
