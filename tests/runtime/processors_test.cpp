// The processor count a farm task gets: the smallest of its affinity mask, its
// cgroup quota and the scheduler's CPUs per task.
#include "dfsystem/app.h"
#include "dfsystem/processors.h"

#include <gtest/gtest.h>
#include <sched.h>

#include "tests/support/scoped_env.h"

using namespace df;

TEST(Processors, CgroupQuotasRoundUpToWholeCpus) {
  EXPECT_EQ(CpuQuotaFromCgroup2("max 100000\n"), std::nullopt);
  EXPECT_EQ(CpuQuotaFromCgroup2("400000 100000\n"), 4);
  EXPECT_EQ(CpuQuotaFromCgroup2("150000 100000"), 2);
  EXPECT_EQ(CpuQuotaFromCgroup2("50000 100000"), 1);
  EXPECT_EQ(CpuQuotaFromCgroup2(""), std::nullopt);
  EXPECT_EQ(CpuQuotaFromCgroup2("garbage here"), std::nullopt);
  EXPECT_EQ(CpuQuotaFromCgroup2("0 100000"), std::nullopt);
  EXPECT_EQ(CpuQuotaFromCgroup1("-1", "100000"), std::nullopt);
  EXPECT_EQ(CpuQuotaFromCgroup1("250000\n", "100000\n"), 3);
  EXPECT_EQ(CpuQuotaFromCgroup1("99999999999999999999999", "1"), std::nullopt);
}

TEST(Processors, SchedulerCountsArePositiveWholeNumbers) {
  EXPECT_EQ(CpuCountFromText("4"), 4);
  EXPECT_EQ(CpuCountFromText(" 16\n"), 16);
  EXPECT_EQ(CpuCountFromText("0"), std::nullopt);
  EXPECT_EQ(CpuCountFromText("-2"), std::nullopt);
  EXPECT_EQ(CpuCountFromText("4x"), std::nullopt);
  EXPECT_EQ(CpuCountFromText(""), std::nullopt);
}

TEST(Processors, TheSmallestLimitWins) {
  EXPECT_EQ(SmallestProcessorLimit(64, std::nullopt, std::nullopt), 64);
  EXPECT_EQ(SmallestProcessorLimit(64, 8, std::nullopt), 8);
  EXPECT_EQ(SmallestProcessorLimit(64, 8, 4), 4);
  EXPECT_EQ(SmallestProcessorLimit(2, 8, 4), 2);
  EXPECT_EQ(SmallestProcessorLimit(0, std::nullopt, std::nullopt), 1);
}

TEST(Processors, SlurmCpusPerTaskLimitsThisProcess) {
  cpu_set_t set;
  CPU_ZERO(&set);
  ASSERT_EQ(sched_getaffinity(0, sizeof set, &set), 0);
  const int affinity = CPU_COUNT(&set);
  {
    testsupport::ScopedEnv env("SLURM_CPUS_PER_TASK", "1");
    EXPECT_EQ(AvailableProcessors(), 1);
    App app;
    EXPECT_EQ(app.processorCount, 1);
  }
  {
    testsupport::ScopedEnv env("SLURM_CPUS_PER_TASK", "100000");
    EXPECT_LE(AvailableProcessors(), affinity);
    EXPECT_GE(AvailableProcessors(), 1);
  }
  testsupport::ScopedEnv env("SLURM_CPUS_PER_TASK", "nonsense");
  EXPECT_LE(AvailableProcessors(), affinity);
}
