// --listen: addresses stand for themselves, names for what they resolve to.
#include "platform/net/listen_addresses.h"

#include <gtest/gtest.h>

#include <QMap>
#include <stdexcept>

namespace quorvane {
namespace {

TEST(ListenAddressesTest, HostNamesFollowTheUsualRules) {
  for (const QString& name : QStringList{"localhost", "game.example.org", "a", "map-1.example",
                                         "x1.y2", "EXAMPLE.ORG", QString(63, 'a') + ".example"}) {
    EXPECT_TRUE(IsHostName(name)) << name.toStdString();
  }
  for (const QString& name :
       QStringList{"", "not an address", "-leading.example", "trailing-.example", "a..b",
                   ".example", "example.", "under_score.example", "300.1.1.1", "10.0.0.256", "1234",
                   QString(64, 'a') + ".example",
                   QString(63, 'a') + "." + QString(63, 'b') + "." + QString(63, 'c') + "." +
                       QString(63, 'd'),
                   "caf\u00e9.example", "host:80"}) {
    EXPECT_FALSE(IsHostName(name)) << name.toStdString();
  }
}

// A resolver answering from a table, counting what it was asked.
class TableResolver {
 public:
  explicit TableResolver(QMap<QString, QList<QHostAddress>> table) : table_(std::move(table)) {}
  HostResolver resolver() {
    return [this](const QString& name, QString& error) {
      ++asked_[name];
      if (!table_.contains(name)) error = "Host not found";
      return table_.value(name);
    };
  }
  int asked(const QString& name) const { return asked_.value(name); }

 private:
  QMap<QString, QList<QHostAddress>> table_;
  QMap<QString, int> asked_;
};

TEST(ListenAddressesTest, NamesBecomeEveryAddressTheyResolveToInOrderWithoutRepeats) {
  TableResolver table({
      {"localhost", {QHostAddress("127.0.0.1"), QHostAddress("::1"), QHostAddress("127.0.0.1")}},
      {"game.example", {QHostAddress("192.0.2.7"), QHostAddress("::1")}},
  });
  const QList<QHostAddress> addresses =
      ListenAddresses({"localhost", "192.0.2.7", "game.example", "2001:db8::1"}, table.resolver());
  EXPECT_EQ(addresses,
            (QList<QHostAddress>{QHostAddress("127.0.0.1"), QHostAddress("::1"),
                                 QHostAddress("192.0.2.7"), QHostAddress("2001:db8::1")}));
  // Addresses are taken as they are, never looked up.
  EXPECT_EQ(table.asked("192.0.2.7"), 0);
  EXPECT_EQ(table.asked("2001:db8::1"), 0);
}

TEST(ListenAddressesTest, NothingGivenMeansEveryInterface) {
  TableResolver table({});
  EXPECT_EQ(ListenAddresses({}, table.resolver()),
            (QList<QHostAddress>{QHostAddress(QHostAddress::Any)}));
}

TEST(ListenAddressesTest, ANameThatResolvesToNothingNamesItselfAndTheReason) {
  TableResolver table({{"empty.example", {}}});
  struct Case {
    QString name;
    std::string message;
  };
  for (const Case& c : {Case{"missing.example", "cannot listen on missing.example: Host not found"},
                        Case{"empty.example", "cannot listen on empty.example: no address"}}) {
    try {
      ListenAddresses({"127.0.0.1", c.name}, table.resolver());
      ADD_FAILURE() << c.name.toStdString();
    } catch (const std::runtime_error& error) {
      EXPECT_EQ(error.what(), c.message);
    }
  }
}

// /etc/hosts names localhost on every system; no DNS server is asked.
TEST(ListenAddressesTest, TheSystemResolverKnowsLocalhost) {
  const QList<QHostAddress> addresses = ListenAddresses({"localhost"});
  EXPECT_TRUE(addresses.contains(QHostAddress(QHostAddress::LocalHost)) ||
              addresses.contains(QHostAddress(QHostAddress::LocalHostIPv6)));
  for (const QHostAddress& address : addresses) EXPECT_TRUE(address.isLoopback());
}

}  // namespace
}  // namespace quorvane
