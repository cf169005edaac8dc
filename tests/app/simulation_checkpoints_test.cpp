// The copies a stepped tool's viewer keeps: their spacing, which one a frame
// goes on from, which a change drops, and the memory bound.
#include "simulation_checkpoints.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

class Sized final : public df::SimulationState {
 public:
  explicit Sized(size_t bytes) : bytes_(bytes) {}
  size_t Bytes() const override { return bytes_; }

 private:
  size_t bytes_;
};

std::shared_ptr<const df::SimulationState> State(size_t bytes = 100) {
  return std::make_shared<Sized>(bytes);
}

TEST(SimulationCheckpoints, AFrameGoesOnFromTheLatestCopyBeforeItAndAChangeDropsTheLaterOnes) {
  vorn::SimulationCheckpoints copies(10, 5);
  // After every fifth frame of the shot starting at 10: 14, 19, 24 …
  EXPECT_FALSE(copies.Due(9));
  EXPECT_FALSE(copies.Due(13));
  EXPECT_TRUE(copies.Due(14));
  for (int f : {14, 19, 24}) copies.Keep(f, State());
  EXPECT_FALSE(copies.Due(14));  // held already
  EXPECT_EQ(copies.Before(14).first, 9);
  EXPECT_EQ(copies.Before(14).second, nullptr);
  EXPECT_EQ(copies.Before(15).first, 14);
  EXPECT_EQ(copies.Before(24).first, 19);
  EXPECT_EQ(copies.Before(1000).first, 24);
  // A change reaching frame 19: the copy taken after 19 saw it.
  copies.DropFrom(19);
  EXPECT_EQ(copies.Before(1000).first, 14);
  EXPECT_EQ(copies.Count(), 1u);
  EXPECT_EQ(copies.Bytes(), 100u);
}

TEST(SimulationCheckpoints, PastTheBoundEveryOtherCopyGoesAndTheSpacingDoubles) {
  vorn::SimulationCheckpoints copies(0, 5, 350);
  for (int f : {4, 9, 14}) copies.Keep(f, State());
  EXPECT_EQ(copies.Bytes(), 300u);
  copies.Keep(19, State());  // 400 would pass 350: 9 and 19 stay, ten frames apart
  EXPECT_EQ(copies.Every(), 10);
  EXPECT_EQ(copies.Count(), 2u);
  EXPECT_EQ(copies.Bytes(), 200u);
  EXPECT_EQ(copies.Before(19).first, 9);
  EXPECT_EQ(copies.Before(20).first, 19);
  EXPECT_FALSE(copies.Due(24));
  // A copy larger than the whole bound is not kept, and drops nothing.
  copies.Keep(29, State(351));
  EXPECT_EQ(copies.Count(), 2u);
  EXPECT_EQ(copies.Before(1000).first, 19);
}

}  // namespace
