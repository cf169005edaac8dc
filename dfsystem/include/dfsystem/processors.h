// How many processors this process may really use: the smallest of the CPUs in
// its affinity mask, its cgroup CPU quota (rounded up) and SLURM_CPUS_PER_TASK
// when a scheduler set it. A task given 4 CPUs of a 64-core node gets 4.
#pragma once

#include <optional>
#include <string_view>

namespace df {

// cgroup v2 "cpu.max": "max 100000" (no limit) or "QUOTA PERIOD"; the quota
// in whole CPUs, rounded up. Empty when unlimited or unreadable.
std::optional<int> CpuQuotaFromCgroup2(std::string_view cpuMax);
// cgroup v1 cpu.cfs_quota_us and cpu.cfs_period_us; a quota of -1 is no limit.
std::optional<int> CpuQuotaFromCgroup1(std::string_view quotaUs, std::string_view periodUs);
// A positive whole number of CPUs ("4"), else empty.
std::optional<int> CpuCountFromText(std::string_view text);

// The smallest of the limits that are present; at least 1.
int SmallestProcessorLimit(int affinityCpus, std::optional<int> quota, std::optional<int> slurm);

// Reads the affinity mask, the cgroup the process is in and the environment.
int AvailableProcessors();

}  // namespace df
