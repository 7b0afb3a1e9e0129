// The endpoint's places: who is closed to make room for a newcomer.
#include "platform/monitoring/connection_places.h"

#include <gtest/gtest.h>

#include <optional>

namespace quorvane {
namespace {

using namespace std::chrono_literals;
using TimePoint = ConnectionPlaces::TimePoint;

const TimePoint kStart{};

TEST(ConnectionPlacesTest, FreePlacesCloseNobody) {
  ConnectionPlaces places(3, 3);
  EXPECT_EQ(places.Admit(1, "a", kStart), std::nullopt);
  EXPECT_EQ(places.Admit(2, "b", kStart + 1s), std::nullopt);
  EXPECT_EQ(places.Admit(3, "a", kStart + 2s), std::nullopt);
  EXPECT_EQ(places.Taken(), 3u);
}

TEST(ConnectionPlacesTest, FullPlacesCloseTheConnectionIdleTheLongest) {
  ConnectionPlaces places(3, 3);
  places.Admit(1, "a", kStart);
  places.Admit(2, "b", kStart + 1s);
  places.Admit(3, "c", kStart + 2s);
  places.Touch(1, kStart + 3s);  // the oldest asked again: 2 is now the idlest
  EXPECT_EQ(places.Admit(4, "d", kStart + 4s), 2u);
  EXPECT_EQ(places.Taken(), 3u);
  EXPECT_EQ(places.Admit(5, "d", kStart + 5s), 3u);
  EXPECT_EQ(places.Admit(6, "e", kStart + 6s), 1u);
}

TEST(ConnectionPlacesTest, AnAddressOverItsShareClosesItsOwnIdlest) {
  ConnectionPlaces places(16, 2);
  places.Admit(1, "stranger", kStart);
  places.Admit(2, "player", kStart);  // idler than any of the stranger's
  places.Admit(3, "stranger", kStart + 1s);
  EXPECT_EQ(places.Admit(4, "stranger", kStart + 2s), 1u);
  EXPECT_EQ(places.Admit(5, "stranger", kStart + 3s), 3u);
  EXPECT_EQ(places.Admit(6, "player", kStart + 4s), std::nullopt);
}

TEST(ConnectionPlacesTest, LeavingFreesThePlaceAndTheAddressShare) {
  ConnectionPlaces places(2, 1);
  places.Admit(1, "a", kStart);
  places.Leave(1);
  places.Leave(1);  // twice is harmless
  EXPECT_EQ(places.Admit(2, "a", kStart + 1s), std::nullopt);
  EXPECT_EQ(places.Admit(3, "b", kStart + 2s), std::nullopt);
  EXPECT_EQ(places.Taken(), 2u);
  places.Touch(7, kStart + 3s);  // unknown: ignored
  EXPECT_EQ(places.Admit(4, "c", kStart + 3s), 2u);
}

}  // namespace
}  // namespace quorvane
