#include "server_options.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace quorvane {
namespace {

CommandLine Parse(QStringList arguments) {
  arguments.prepend("quorvane");
  return ParseCommandLine(arguments);
}

TEST(ServerOptionsTest, DefaultsAreTheSystemsFixedValues) {
  const CommandLine parsed = Parse({});
  ASSERT_TRUE(parsed.options);
  EXPECT_EQ(parsed.options->port, 10217);
  EXPECT_EQ(parsed.options->listen, QHostAddress(QHostAddress::Any));
  EXPECT_TRUE(parsed.options->dataDir.isEmpty());
  EXPECT_EQ(parsed.options->tickMs, 5000);
  EXPECT_EQ(parsed.options->handshakeTimeout, std::chrono::seconds(30));
  EXPECT_TRUE(parsed.options->library.isEmpty());
  EXPECT_FALSE(parsed.options->headless);
  EXPECT_FALSE(parsed.options->http);
}

TEST(ServerOptionsTest, EveryOptionIsTakenUp) {
  const QString here = QDir::currentPath();
  const CommandLine parsed =
      Parse({"--port", "4000", "--listen", "::1", "--data-dir", here, "--tick-ms", "250",
             "--handshake-timeout", "2", "--library", "/opt/libkelvane.so.1", "--headless"});
  ASSERT_TRUE(parsed.options) << parsed.message.toStdString();
  EXPECT_EQ(parsed.options->port, 4000);
  EXPECT_EQ(parsed.options->listen, QHostAddress("::1"));
  EXPECT_EQ(parsed.options->dataDir, here);
  EXPECT_EQ(parsed.options->tickMs, 250);
  EXPECT_EQ(parsed.options->handshakeTimeout, std::chrono::seconds(2));
  EXPECT_EQ(parsed.options->library, "/opt/libkelvane.so.1");
  EXPECT_TRUE(parsed.options->headless);
}

TEST(ServerOptionsTest, WrongValuesAreRefusedWithStatusTwo) {
  const std::vector<QStringList> cases{{"--port", "65536"},
                                       {"--port", "-1"},
                                       {"--port", "x"},
                                       {"--tick-ms", "0"},
                                       {"--tick-ms", "-5"},
                                       {"--handshake-timeout", "0"},
                                       {"--handshake-timeout", "-1"},
                                       {"--handshake-timeout", "0.0001"},
                                       {"--handshake-timeout", "86401"},
                                       {"--handshake-timeout", "nan"},
                                       {"--handshake-timeout", "soon"},
                                       {"--listen", "example.org"},
                                       {"--data-dir", "/nonexistent/folder"},
                                       {"--unknown"},
                                       {"stray"},
                                       {"--port"}};
  for (const QStringList& arguments : cases) {
    const CommandLine parsed = Parse(arguments);
    EXPECT_FALSE(parsed.options) << arguments.join(' ').toStdString();
    EXPECT_EQ(parsed.exitStatus, 2) << arguments.join(' ').toStdString();
    EXPECT_TRUE(parsed.messageIsError);
  }
}

TEST(ServerOptionsTest, HandshakeTimeoutTakesFractionsOfASecond) {
  const std::vector<std::pair<QString, std::chrono::milliseconds>> cases{
      {"0.25", std::chrono::milliseconds(250)},
      {"0.001", std::chrono::milliseconds(1)},
      {"1.5", std::chrono::milliseconds(1500)},
      {"86400", std::chrono::milliseconds(86400000)},
  };
  for (const auto& [text, expected] : cases) {
    const CommandLine parsed = Parse({"--handshake-timeout", text});
    ASSERT_TRUE(parsed.options) << text.toStdString();
    EXPECT_EQ(parsed.options->handshakeTimeout, expected) << text.toStdString();
  }
}

TEST(ServerOptionsTest, HttpTakesAnAddressAndAPort) {
  struct Valid {
    QString text;
    QHostAddress address;
    std::uint16_t port;
  };
  const std::vector<Valid> valid{
      {"127.0.0.1:9100", QHostAddress("127.0.0.1"), 9100},
      {"127.0.0.1:0", QHostAddress("127.0.0.1"), 0},
      {"[::1]:9100", QHostAddress("::1"), 9100},
      {"::1:65535", QHostAddress("::1"), 65535},
      {"0.0.0.0:80", QHostAddress("0.0.0.0"), 80},
  };
  for (const Valid& c : valid) {
    const CommandLine parsed = Parse({"--http", c.text});
    ASSERT_TRUE(parsed.options) << parsed.message.toStdString();
    ASSERT_TRUE(parsed.options->http) << c.text.toStdString();
    EXPECT_EQ(parsed.options->http->address, c.address) << c.text.toStdString();
    EXPECT_EQ(parsed.options->http->port, c.port) << c.text.toStdString();
  }
  for (const QString text : {"127.0.0.1", "9100", ":9100", "localhost:9100", "127.0.0.1:65536",
                             "127.0.0.1:-1", "127.0.0.1:port", "[::1]"}) {
    const CommandLine parsed = Parse({"--http", text});
    EXPECT_FALSE(parsed.options) << text.toStdString();
    EXPECT_EQ(
        parsed.message.toStdString(),
        ("quorvane: --http needs an address and a port, e.g. 127.0.0.1:9100, not " + text + "\n")
            .toStdString());
  }
}

TEST(ServerOptionsTest, HelpAndVersionEndWithStatusZero) {
  for (const char* option : {"--help", "-h", "--version", "-v"}) {
    const CommandLine parsed = Parse({option});
    EXPECT_FALSE(parsed.options);
    EXPECT_EQ(parsed.exitStatus, 0);
    EXPECT_FALSE(parsed.messageIsError);
    EXPECT_FALSE(parsed.message.isEmpty());
  }
}

// A configuration file in a folder that lives as long as the fixture.
class ConfigFileTest : public ::testing::Test {
 protected:
  // Each case gets a file of its own: QSettings keeps what it read of a path
  // and may miss a rewrite within the same second.
  QString Write(const QByteArray& text) {
    const QString path = folder_.filePath(QString("quorvane-%1.conf").arg(++files_));
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
    return path;
  }

  QTemporaryDir folder_;
  int files_ = 0;
};

TEST_F(ConfigFileTest, KeysAreTheOptionsAndTheCommandLineWins) {
  const QString path = Write(
      "; a comment\n"
      "port = 4100\n"
      "tick-ms = 250\n"
      "handshake-timeout = 1.5\n"
      "headless = yes\n"
      "listen = 127.0.0.1\n"
      "http = 127.0.0.1:9100\n");
  const CommandLine fromFile = Parse({"--config", path});
  ASSERT_TRUE(fromFile.options) << fromFile.message.toStdString();
  EXPECT_EQ(fromFile.options->config, path);
  EXPECT_EQ(fromFile.options->port, 4100);
  EXPECT_EQ(fromFile.options->tickMs, 250);
  EXPECT_EQ(fromFile.options->handshakeTimeout, std::chrono::milliseconds(1500));
  EXPECT_TRUE(fromFile.options->headless);
  EXPECT_EQ(fromFile.options->listen, QHostAddress("127.0.0.1"));
  ASSERT_TRUE(fromFile.options->http);
  EXPECT_EQ(fromFile.options->http->port, 9100);

  const CommandLine overridden = Parse({"--port", "4200", "--config", path});
  ASSERT_TRUE(overridden.options) << overridden.message.toStdString();
  EXPECT_EQ(overridden.options->port, 4200);
  EXPECT_EQ(overridden.options->tickMs, 250);
}

TEST_F(ConfigFileTest, KeysLeftOutKeepTheirDefaults) {
  const CommandLine parsed = Parse({"--config", Write("; everything commented out\n;port = 1\n")});
  ASSERT_TRUE(parsed.options) << parsed.message.toStdString();
  EXPECT_EQ(parsed.options->port, 10217);
  EXPECT_EQ(parsed.options->handshakeTimeout, std::chrono::seconds(30));
  EXPECT_FALSE(parsed.options->headless);
}

TEST_F(ConfigFileTest, ErrorsNameTheFileTheLineAndTheKey) {
  struct Case {
    QByteArray text;
    QString expected;  // after the file's path
  };
  const std::vector<Case> cases{
      {"port = 10\ncolour = blue\n", ":2: colour: unknown key"},
      {"\n\nport = 70000\n", ":3: port needs a number from 0 to 65535"},
      {"headless = maybe\n", ":1: headless needs true or false"},
      {"[extra]\nport = 1\n", ":2: extra/port: unknown key"},
  };
  for (const Case& c : cases) {
    const QString path = Write(c.text);
    const CommandLine parsed = Parse({"--config", path});
    EXPECT_FALSE(parsed.options) << c.text.toStdString();
    EXPECT_EQ(parsed.exitStatus, 2);
    EXPECT_EQ(parsed.message.toStdString(),
              ("quorvane: " + path + c.expected + "\n").toStdString());
  }
}

TEST_F(ConfigFileTest, AMissingFileIsAnError) {
  const CommandLine parsed = Parse({"--config", folder_.filePath("absent.conf")});
  EXPECT_FALSE(parsed.options);
  EXPECT_EQ(parsed.exitStatus, 2);
  EXPECT_TRUE(parsed.message.contains("absent.conf"));
}

TEST(ServerOptionsTest, UsageErrorsAreOneLineWithAHintNotTheWholeHelp) {
  for (const QStringList& arguments : {QStringList{"--unknown"}, QStringList{"stray"}}) {
    const CommandLine parsed = Parse(arguments);
    EXPECT_TRUE(parsed.message.startsWith("quorvane: ")) << parsed.message.toStdString();
    EXPECT_TRUE(parsed.message.endsWith("Try 'quorvane --help' for more information.\n"));
    EXPECT_EQ(parsed.message.count('\n'), 2) << parsed.message.toStdString();
  }
}

TEST(ServerOptionsTest, LibraryIsTheOptionThenBesideTheProgramThenTheSearchPath) {
  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  EXPECT_EQ(LibraryToLoad("/x/lib.so", folder.path()), "/x/lib.so");
  EXPECT_EQ(LibraryToLoad("", folder.path()), "libkelvane.so.1");
  QFile beside(folder.filePath("libkelvane.so.1"));
  ASSERT_TRUE(beside.open(QIODevice::WriteOnly));
  beside.close();
  EXPECT_EQ(LibraryToLoad("", folder.path()), folder.filePath("libkelvane.so.1"));
}

}  // namespace
}  // namespace quorvane
