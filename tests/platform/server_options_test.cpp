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

TEST(ServerOptionsTest, HelpAndVersionEndWithStatusZero) {
  for (const char* option : {"--help", "-h", "--version", "-v"}) {
    const CommandLine parsed = Parse({option});
    EXPECT_FALSE(parsed.options);
    EXPECT_EQ(parsed.exitStatus, 0);
    EXPECT_FALSE(parsed.messageIsError);
    EXPECT_FALSE(parsed.message.isEmpty());
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
