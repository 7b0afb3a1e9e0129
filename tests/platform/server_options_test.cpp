#include "platform/options/server_options.h"

#include <gtest/gtest.h>

#include <functional>

#include <QDir>
#include <QFile>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>

namespace quorvane {
namespace {

// With an environment of the test's own, none by default: the process's
// must not leak in.
CommandLine Parse(QStringList arguments,
                  const QProcessEnvironment& environment = QProcessEnvironment()) {
  arguments.prepend("quorvane");
  return ParseCommandLine(arguments, environment);
}

QProcessEnvironment Environment(const std::vector<std::pair<QString, QString>>& variables) {
  QProcessEnvironment environment;
  for (const auto& [name, value] : variables) environment.insert(name, value);
  return environment;
}

TEST(ServerOptionsTest, DefaultsAreTheSystemsFixedValues) {
  const CommandLine parsed = Parse({});
  ASSERT_TRUE(parsed.options);
  EXPECT_EQ(parsed.options->port, 10217);
  EXPECT_TRUE(parsed.options->listen.isEmpty());
  EXPECT_TRUE(parsed.options->dataDir.isEmpty());
  EXPECT_EQ(parsed.options->tickMs, 5000);
  EXPECT_EQ(parsed.options->handshakeTimeout, std::chrono::seconds(10));
  EXPECT_EQ(parsed.options->loginTimeout, std::chrono::seconds(20));
  EXPECT_EQ(parsed.options->loginGrace, std::chrono::seconds(2));
  EXPECT_EQ(parsed.options->admission.ipv6PrefixBits, 64);
  EXPECT_EQ(parsed.options->idleTimeout, std::chrono::seconds(0));
  EXPECT_TRUE(parsed.options->admission.allow.empty());
  EXPECT_TRUE(parsed.options->admission.deny.empty());
  EXPECT_EQ(parsed.options->admission.maxPerAddress, 0u);
  EXPECT_EQ(parsed.options->admission.autoban,
            (Autoban{20, std::chrono::seconds(60), std::chrono::seconds(300)}));
  EXPECT_EQ(parsed.options->admission.timeoutPenalty, std::chrono::seconds(60));
  EXPECT_EQ(parsed.options->relaySoftLimit, 262144u);
  EXPECT_EQ(parsed.options->relayRates.packetsPerSecond, 200);
  EXPECT_EQ(parsed.options->relayRates.bytesPerSecond, 262144);
  EXPECT_FALSE(parsed.options->requireCharacter);
  EXPECT_EQ(parsed.options->loginRate, 4);
  EXPECT_TRUE(parsed.options->library.isEmpty());
  EXPECT_FALSE(parsed.options->headless);
  EXPECT_FALSE(parsed.options->http);
  EXPECT_TRUE(parsed.options->logFile.isEmpty());
  EXPECT_EQ(parsed.options->agones, std::nullopt) << "the environment's port, if any";
  EXPECT_EQ(parsed.options->exitWhenEmpty, std::chrono::seconds(0));
}

TEST(ServerOptionsTest, EveryOptionIsTakenUp) {
  const QString here = QDir::currentPath();
  const CommandLine parsed = Parse({"--port",
                                    "4000",
                                    "--listen",
                                    "::1",
                                    "--data-dir",
                                    here,
                                    "--tick-ms",
                                    "250",
                                    "--handshake-timeout",
                                    "2",
                                    "--login-rate",
                                    "0",
                                    "--library",
                                    "/opt/libkelvane.so.1",
                                    "--headless",
                                    "--log-file",
                                    "/var/log/quorvane/quorvane.log",
                                    "--agones",
                                    "9400",
                                    "--exit-when-empty",
                                    "1.5"});
  ASSERT_TRUE(parsed.options) << parsed.message.toStdString();
  EXPECT_EQ(parsed.options->port, 4000);
  EXPECT_EQ(parsed.options->listen, QStringList{"::1"});
  EXPECT_EQ(parsed.options->dataDir, here);
  EXPECT_EQ(parsed.options->tickMs, 250);
  EXPECT_EQ(parsed.options->handshakeTimeout, std::chrono::seconds(2));
  EXPECT_EQ(parsed.options->loginRate, 0);
  EXPECT_EQ(parsed.options->library, "/opt/libkelvane.so.1");
  EXPECT_TRUE(parsed.options->headless);
  EXPECT_EQ(parsed.options->logFile, "/var/log/quorvane/quorvane.log");
  EXPECT_EQ(parsed.options->agones, 9400);
  EXPECT_EQ(parsed.options->exitWhenEmpty, std::chrono::milliseconds(1500));
  EXPECT_EQ(Parse({"--agones", "0"}).options->agones, 0) << "off, whatever the environment says";
}

// Names are resolved when the server starts, not here: parsing never waits
// for DNS, and a reload does not either.
TEST(ServerOptionsTest, ListenTakesAddressesAndHostNamesAndMayBeRepeated) {
  const CommandLine parsed = Parse({"--listen", "localhost", "--listen",
                                    "192.0.2.7, game.example.org", "--listen", "fe80::1%eth0"});
  ASSERT_TRUE(parsed.options) << parsed.message.toStdString();
  EXPECT_EQ(parsed.options->listen,
            (QStringList{"localhost", "192.0.2.7", "game.example.org", "fe80::1%eth0"}));

  for (const QString wrong : {"300.1.1.1", "not an address", "-x.example", "host:80"}) {
    const CommandLine refused = Parse({"--listen", "127.0.0.1", "--listen", wrong});
    EXPECT_FALSE(refused.options) << wrong.toStdString();
    EXPECT_TRUE(refused.message.contains("--listen needs an IPv4 or IPv6 address or a host name"))
        << refused.message.toStdString();
  }
}

TEST(ServerOptionsTest, EveryDefenceIsTakenUp) {
  const CommandLine parsed = Parse({"--login-timeout",
                                    "0",
                                    "--idle-timeout",
                                    "90.5",
                                    "--allow",
                                    "10.0.0.0/8",
                                    "--allow",
                                    "2001:db8::/32,192.0.2.7",
                                    "--deny",
                                    "10.9.0.0/16",
                                    "--max-per-address",
                                    "1",
                                    "--login-grace",
                                    "0.25",
                                    "--ipv6-prefix",
                                    "48",
                                    "--autoban",
                                    "5/10/0.5",
                                    "--timeout-penalty",
                                    "0",
                                    "--relay-soft-limit",
                                    "0",
                                    "--relay-rate",
                                    "0",
                                    "--relay-bytes",
                                    "1e6",
                                    "--require-character"});
  ASSERT_TRUE(parsed.options) << parsed.message.toStdString();
  const ServerOptions& options = *parsed.options;
  EXPECT_EQ(options.loginTimeout, std::chrono::seconds(0));
  EXPECT_EQ(options.idleTimeout, std::chrono::milliseconds(90500));
  std::vector<std::string> allowed;
  for (const AddressRange& range : options.admission.allow) allowed.push_back(range.ToString());
  EXPECT_EQ(allowed, (std::vector<std::string>{"10.0.0.0/8", "2001:db8::/32", "192.0.2.7/32"}));
  ASSERT_EQ(options.admission.deny.size(), 1u);
  EXPECT_EQ(options.admission.deny[0].ToString(), "10.9.0.0/16");
  EXPECT_EQ(options.admission.maxPerAddress, 1u);
  EXPECT_EQ(options.loginGrace, std::chrono::milliseconds(250));
  EXPECT_EQ(options.admission.ipv6PrefixBits, 48);
  EXPECT_EQ(options.admission.autoban,
            (Autoban{5, std::chrono::seconds(10), std::chrono::milliseconds(500)}));
  EXPECT_EQ(options.admission.timeoutPenalty, std::chrono::seconds(0));
  EXPECT_EQ(options.relaySoftLimit, 0u);
  EXPECT_EQ(options.relayRates.packetsPerSecond, 0);
  EXPECT_EQ(options.relayRates.bytesPerSecond, 1e6);
  EXPECT_TRUE(options.requireCharacter);

  for (const char* off : {"off", "OFF"}) {
    const CommandLine noBans = Parse({"--autoban", off});
    ASSERT_TRUE(noBans.options);
    EXPECT_FALSE(noBans.options->admission.autoban);
  }
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
                                       {"--login-timeout", "-1"},
                                       {"--login-timeout", "86401"},
                                       {"--idle-timeout", "never"},
                                       {"--allow", "example.org"},
                                       {"--allow", "10.0.0.0/33"},
                                       {"--deny", "::/129"},
                                       {"--deny", "10.0.0.0/8,nonsense"},
                                       {"--max-per-address", "-1"},
                                       {"--max-per-address", "two"},
                                       {"--autoban", "on"},
                                       {"--autoban", "20/60"},
                                       {"--autoban", "0/60/300"},
                                       {"--autoban", "20/0/300"},
                                       {"--autoban", "20/60/x"},
                                       {"--timeout-penalty", "-5"},
                                       {"--login-grace", "-1"},
                                       {"--login-grace", "soon"},
                                       {"--ipv6-prefix", "0"},
                                       {"--ipv6-prefix", "129"},
                                       {"--ipv6-prefix", "/64"},
                                       {"--relay-soft-limit", "-1"},
                                       {"--relay-soft-limit", "4194305"},
                                       {"--relay-rate", "-1"},
                                       {"--relay-bytes", "lots"},
                                       {"--login-rate", "-1"},
                                       {"--login-rate", "1001"},
                                       {"--login-rate", "2.5"},
                                       {"--listen", "300.1.1.1"},
                                       {"--listen", "under_score"},
                                       {"--data-dir", "/nonexistent/folder"},
                                       {"--agones", "65536"},
                                       {"--agones", "sidecar"},
                                       {"--exit-when-empty", "-1"},
                                       {"--exit-when-empty", "86401"},
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
      "headless = true\n"
      "listen = 127.0.0.1\n"
      "http = 127.0.0.1:9100\n");
  const CommandLine fromFile = Parse({"--config", path});
  ASSERT_TRUE(fromFile.options) << fromFile.message.toStdString();
  EXPECT_EQ(fromFile.options->config, path);
  EXPECT_EQ(fromFile.options->port, 4100);
  EXPECT_EQ(fromFile.options->tickMs, 250);
  EXPECT_EQ(fromFile.options->handshakeTimeout, std::chrono::milliseconds(1500));
  EXPECT_TRUE(fromFile.options->headless);
  EXPECT_EQ(fromFile.options->listen, QStringList{"127.0.0.1"});
  ASSERT_TRUE(fromFile.options->http);
  EXPECT_EQ(fromFile.options->http->port, 9100);

  const CommandLine overridden = Parse({"--port", "4200", "--config", path});
  ASSERT_TRUE(overridden.options) << overridden.message.toStdString();
  EXPECT_EQ(overridden.options->port, 4200);
  EXPECT_EQ(overridden.options->tickMs, 250);
}

TEST(ServerOptionsTest, WelcomeLineIsWordedInLatin1WithoutLineBreaksInTheSender) {
  const CommandLine defaults = Parse({});
  ASSERT_TRUE(defaults.options);
  EXPECT_EQ(defaults.options->welcomeSender, "OrlanServer");
  EXPECT_EQ(defaults.options->welcomeText, "Welcome to Orlan RP Server");

  const CommandLine worded =
      Parse({"--welcome-sender", "Gard\u00e9", "--welcome-text", "Bienvenue, \u00e9tranger"});
  ASSERT_TRUE(worded.options) << worded.message.toStdString();
  EXPECT_EQ(worded.options->welcomeSender, QByteArray("Gard\xe9"));
  EXPECT_EQ(worded.options->welcomeText, QByteArray("Bienvenue, \xe9tranger"));

  for (const QStringList& arguments :
       {QStringList{"--welcome-sender", "a\nb"}, QStringList{"--welcome-text", "\u20ac"},
        QStringList{"--welcome-sender", QString(65, 'x')},
        QStringList{"--welcome-text", QString(1025, 'x')}}) {
    const CommandLine parsed = Parse(arguments);
    EXPECT_FALSE(parsed.options) << arguments.join(' ').toStdString();
    EXPECT_EQ(parsed.exitStatus, 2);
  }
}

// A list in the file is what repeating the option is on the command line;
// the command line's list replaces the file's.
TEST_F(ConfigFileTest, RangeListsComeFromTheFileUnlessTheCommandLineGivesOne) {
  const QString path = Write(
      "allow = 10.0.0.0/8, 192.0.2.0/24\n"
      "deny = 10.9.9.9\n"
      "autoban = off\n"
      "require-character = true\n");
  const CommandLine fromFile = Parse({"--config", path});
  ASSERT_TRUE(fromFile.options) << fromFile.message.toStdString();
  EXPECT_EQ(fromFile.options->admission.allow.size(), 2u);
  EXPECT_EQ(fromFile.options->admission.deny.size(), 1u);
  EXPECT_FALSE(fromFile.options->admission.autoban);
  EXPECT_TRUE(fromFile.options->requireCharacter);

  const CommandLine overridden = Parse({"--allow", "127.0.0.1", "--config", path});
  ASSERT_TRUE(overridden.options) << overridden.message.toStdString();
  ASSERT_EQ(overridden.options->admission.allow.size(), 1u);
  EXPECT_EQ(overridden.options->admission.allow[0].ToString(), "127.0.0.1/32");
}

TEST_F(ConfigFileTest, KeysLeftOutKeepTheirDefaults) {
  const CommandLine parsed = Parse({"--config", Write("; everything commented out\n;port = 1\n")});
  ASSERT_TRUE(parsed.options) << parsed.message.toStdString();
  EXPECT_EQ(parsed.options->port, 10217);
  EXPECT_EQ(parsed.options->handshakeTimeout, std::chrono::seconds(10));
  EXPECT_FALSE(parsed.options->headless);
}

// The shipped example, every key uncommented, is the defaults written out.
TEST_F(ConfigFileTest, ShippedExampleUncommentedGivesTheDefaults) {
  QFile example(QUORVANE_SOURCE_DIR "/packaging/quorvane.conf");
  ASSERT_TRUE(example.open(QIODevice::ReadOnly | QIODevice::Text));
  QByteArray uncommented;
  int keys = 0;
  for (QByteArray line : example.readAll().split('\n')) {
    if (QRegularExpression("^;[a-z-]+ =").match(QString::fromUtf8(line)).hasMatch()) {
      line.remove(0, 1);
      ++keys;
    }
    uncommented += line + '\n';
  }
  EXPECT_GT(keys, 0);
  const CommandLine parsed = Parse({"--config", Write(uncommented)});
  ASSERT_TRUE(parsed.options) << parsed.message.toStdString();
  ServerOptions defaults = *Parse({}).options;
  defaults.config = parsed.options->config;
  EXPECT_TRUE(*parsed.options == defaults);
}

// What the reader takes from a line, and the one-line error for each line it
// refuses (after "quorvane: " and the file's path).
TEST_F(ConfigFileTest, ReaderTakesCommentsSectionsAndKeyValueLinesOnly) {
  struct Good {
    QByteArray text;
    std::function<bool(const ServerOptions&)> holds;
  };
  const std::vector<Good> good{
      {"# hash comment\n; semicolon comment\n\n   \nport = 4100\n",
       [](const ServerOptions& o) { return o.port == 4100; }},
      {"[General]\nport=4101\n", [](const ServerOptions& o) { return o.port == 4101; }},
      {"  port   =   4102   ; a comment after the value\n",
       [](const ServerOptions& o) { return o.port == 4102; }},
      {"\xef\xbb\xbfport = 4103\r\n", [](const ServerOptions& o) { return o.port == 4103; }},
      {"welcome-text = \"Hi; \\\"you\\\"\\t\\\\\" ; comment\n",
       [](const ServerOptions& o) { return o.welcomeText == "Hi; \"you\"\t\\"; }},
      {"welcome-text = Hello, there\n",
       [](const ServerOptions& o) { return o.welcomeText == "Hello, there"; }},
      {"welcome-text = \"\"\n", [](const ServerOptions& o) { return o.welcomeText.isEmpty(); }},
      {"listen = 127.0.0.1, ::1\n",
       [](const ServerOptions& o) {
         return o.listen == QStringList{"127.0.0.1", "::1"};
       }},
      {"headless = false\nrequire-character = true\n",
       [](const ServerOptions& o) { return !o.headless && o.requireCharacter; }},
      {"http =\n", [](const ServerOptions& o) { return !o.http; }},
  };
  for (const Good& c : good) {
    const CommandLine parsed = Parse({"--config", Write(c.text)});
    ASSERT_TRUE(parsed.options) << c.text.toStdString() << parsed.message.toStdString();
    EXPECT_TRUE(c.holds(*parsed.options)) << c.text.toStdString();
  }

  struct Bad {
    QByteArray text;
    QString expected;
  };
  const std::vector<Bad> bad{
      {"port 10300\n", ":1: neither a comment, a [section] nor key = value: port 10300"},
      {"port = 1\n= 5\n", ":2: neither a comment, a [section] nor key = value: = 5"},
      {"my port = 1\n", ":1: neither a comment, a [section] nor key = value: my port = 1"},
      {"[General\n", ":1: neither a comment, a [section] nor key = value: [General"},
      {"port = 10\ncolour = blue\n", ":2: colour: unknown key"},
      {"[extra]\nport = 1\n", ":2: extra/port: unknown key"},
      {"port = 1\ntick-ms = 9\nport = 2\n", ":3: port: given twice, first on line 1"},
      {"\n\nport = 70000\n", ":3: port needs a number from 0 to 65535"},
      {"port =\n", ":1: port needs a number from 0 to 65535"},
      {"headless = maybe\n", ":1: headless needs true or false"},
      {"headless = yes\n", ":1: headless needs true or false"},
      {"require-character = 1\n", ":1: require-character needs true or false"},
      {"welcome-text = \"open\n",
       ":1: welcome-text: a quoted value needs its closing quote and no more (escapes: \\\" \\\\ "
       "\\t \\n)"},
      {"welcome-text = \"a\" b\n",
       ":1: welcome-text: a quoted value needs its closing quote and no more (escapes: \\\" \\\\ "
       "\\t \\n)"},
      {"welcome-text = \"\\q\"\n",
       ":1: welcome-text: a quoted value needs its closing quote and no more (escapes: \\\" \\\\ "
       "\\t \\n)"},
  };
  for (const Bad& c : bad) {
    const QString path = Write(c.text);
    const CommandLine parsed = Parse({"--config", path});
    EXPECT_FALSE(parsed.options) << c.text.toStdString();
    EXPECT_EQ(parsed.exitStatus, 2);
    EXPECT_EQ(parsed.message.toStdString(),
              ("quorvane: " + path + c.expected + "\n").toStdString());
  }
}

// A value is checked even when a later source overrules it.
TEST_F(ConfigFileTest, AnOverruledValueIsStillChecked) {
  const QString path = Write("port = 70000\n");
  const CommandLine parsed = Parse({"--config", path, "--port", "4000"});
  EXPECT_FALSE(parsed.options);
  EXPECT_EQ(parsed.message.toStdString(),
            ("quorvane: " + path + ":1: port needs a number from 0 to 65535\n").toStdString());

  const CommandLine fromEnvironment =
      Parse({"--port", "4000"}, Environment({{"QUORVANE_PORT", "x"}}));
  EXPECT_EQ(fromEnvironment.message.toStdString(),
            "quorvane: QUORVANE_PORT needs a number from 0 to 65535\n");
}

TEST_F(ConfigFileTest, AFileThatCannotBeReadIsNamedWithTheReason) {
  const QString absent = folder_.filePath("absent.conf");
  const CommandLine missing = Parse({"--config", absent});
  EXPECT_FALSE(missing.options);
  EXPECT_EQ(missing.exitStatus, 2);
  EXPECT_EQ(missing.message.toStdString(),
            ("quorvane: " + absent + ": No such file or directory\n").toStdString());

  const CommandLine folder = Parse({"--config", folder_.path()});
  EXPECT_EQ(folder.message.toStdString(),
            ("quorvane: " + folder_.path() + ": Is a directory\n").toStdString());
}

// Defaults, then the file, then the environment, then the command line.
TEST_F(ConfigFileTest, TheEnvironmentWinsOverTheFileAndTheCommandLineOverBoth) {
  const QString path = Write("port = 4100\ntick-ms = 250\nlogin-rate = 7\n");
  const QProcessEnvironment environment = Environment({{"QUORVANE_CONFIG", path},
                                                       {"QUORVANE_TICK_MS", "300"},
                                                       {"QUORVANE_LOGIN_RATE", "8"},
                                                       {"QUORVANE_HEADLESS", "true"},
                                                       {"QUORVANE_ALLOW", "10.0.0.0/8, ::1"},
                                                       {"QUORVANE_LOG_FILE", "/tmp/q.log"},
                                                       {"QUORVANE_SERVICE_HOST", "10.0.0.1"}});
  const CommandLine parsed = Parse({"--login-rate", "9"}, environment);
  ASSERT_TRUE(parsed.options) << parsed.message.toStdString();
  EXPECT_EQ(parsed.options->config, path);
  EXPECT_EQ(parsed.options->port, 4100);
  EXPECT_EQ(parsed.options->tickMs, 300);
  EXPECT_EQ(parsed.options->loginRate, 9);
  EXPECT_TRUE(parsed.options->headless);
  EXPECT_EQ(parsed.options->admission.allow.size(), 2u);
  EXPECT_EQ(parsed.options->logFile, "/tmp/q.log");

  const QString other = Write("port = 4200\n");
  const CommandLine named = Parse({"--config", other}, environment);
  ASSERT_TRUE(named.options) << named.message.toStdString();
  EXPECT_EQ(named.options->config, other);
  EXPECT_EQ(named.options->port, 4200);
}

TEST(ServerOptionsTest, SwitchesTakeTrueOrFalseOnlyFromTheEnvironment) {
  for (const QString value : {"yes", "1", "on", "TRUE", ""}) {
    const CommandLine parsed = Parse({}, Environment({{"QUORVANE_HEADLESS", value}}));
    EXPECT_FALSE(parsed.options) << value.toStdString();
    EXPECT_EQ(parsed.message.toStdString(), "quorvane: QUORVANE_HEADLESS needs true or false\n");
  }
  const CommandLine off = Parse({"--headless"}, Environment({{"QUORVANE_HEADLESS", "false"}}));
  ASSERT_TRUE(off.options);
  EXPECT_TRUE(off.options->headless);
}

TEST(ServerOptionsTest, UsageErrorsAreOneLineWithAHintNotTheWholeHelp) {
  const std::vector<std::pair<QStringList, std::string>> cases{
      {{"--bogus"}, "unknown option --bogus."},
      {{"-x"}, "unknown option -x."},
      {{"stray"}, "unexpected argument stray."},
      {{"--port"}, "missing value after '--port'."},
      {{"--headless=true"}, "unexpected value after '--headless'."},
  };
  for (const auto& [arguments, reason] : cases) {
    const CommandLine parsed = Parse(arguments);
    EXPECT_EQ(parsed.message.toStdString(), "quorvane: " + reason + " Try 'quorvane --help'.\n");
    EXPECT_EQ(parsed.exitStatus, 2);
  }
}

TEST(ServerOptionsTest, OnlySettingsThatCannotChangeWhileRunningWaitForARestart) {
  const ServerOptions running = *Parse({"--port", "4000", "--log-file", "a.log"}).options;
  const ServerOptions reread = *Parse({"--port", "4001", "--listen", "127.0.0.1", "--log-file",
                                       "b.log", "--allow", "10.0.0.0/8", "--deny", "10.9.0.0/16",
                                       "--welcome-sender", "Guard", "--welcome-text", "Hello"})
                                    .options;
  EXPECT_EQ(SettingsAwaitingRestart(running, reread), (QStringList{"port", "listen"}));
  EXPECT_TRUE(SettingsAwaitingRestart(running, running).isEmpty());
}

}  // namespace
}  // namespace quorvane
