#include "dfsystem/processors.h"

#include <sched.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace df {

namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\n'))
    s.remove_prefix(1);
  while (!s.empty() &&
         (s.back() == ' ' || s.back() == '\t' || s.back() == '\n' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

std::optional<long long> WholeNumber(std::string_view s) {
  s = Trim(s);
  long long v = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
  return v;
}

std::optional<int> QuotaCpus(long long quota, long long period) {
  if (quota <= 0 || period <= 0) return std::nullopt;
  const long long cpus = quota / period + (quota % period ? 1 : 0);
  return int(std::min<long long>(cpus, 1 << 20));
}

std::string ReadSmallFile(const std::string& path) {
  std::ifstream in(path);
  std::string text;
  std::getline(in, text, '\0');
  return text.size() > 4096 ? std::string() : text;
}

// The cgroup v2 folder of this process ("0::/path" in /proc/self/cgroup).
std::string Cgroup2Path() {
  std::istringstream lines(ReadSmallFile("/proc/self/cgroup"));
  std::string line;
  while (std::getline(lines, line))
    if (line.rfind("0::", 0) == 0) return "/sys/fs/cgroup" + line.substr(3);
  return "/sys/fs/cgroup";
}

std::optional<int> CgroupQuota() {
  // cgroup v2: the process's own folder, then its parents up to the root.
  std::string dir = Cgroup2Path();
  std::optional<int> best;
  for (int depth = 0; depth < 64; ++depth) {
    if (auto q = CpuQuotaFromCgroup2(ReadSmallFile(dir + "/cpu.max")))
      best = best ? std::min(*best, *q) : *q;
    if (dir == "/sys/fs/cgroup" || dir.size() <= 14) break;
    dir.resize(dir.rfind('/'));
  }
  if (best) return best;
  return CpuQuotaFromCgroup1(ReadSmallFile("/sys/fs/cgroup/cpu/cpu.cfs_quota_us"),
                             ReadSmallFile("/sys/fs/cgroup/cpu/cpu.cfs_period_us"));
}

int AffinityCpus() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    const int n = CPU_COUNT(&set);
    if (n > 0) return n;
  }
  return std::max(1, int(std::thread::hardware_concurrency()));
}

}  // namespace

std::optional<int> CpuQuotaFromCgroup2(std::string_view cpuMax) {
  cpuMax = Trim(cpuMax);
  const size_t space = cpuMax.find(' ');
  if (space == std::string_view::npos) return std::nullopt;
  const std::string_view quota = cpuMax.substr(0, space);
  if (quota == "max") return std::nullopt;
  const auto q = WholeNumber(quota);
  const auto p = WholeNumber(cpuMax.substr(space + 1));
  if (!q || !p) return std::nullopt;
  return QuotaCpus(*q, *p);
}

std::optional<int> CpuQuotaFromCgroup1(std::string_view quotaUs, std::string_view periodUs) {
  const auto q = WholeNumber(quotaUs);
  const auto p = WholeNumber(periodUs);
  if (!q || !p) return std::nullopt;
  return QuotaCpus(*q, *p);
}

std::optional<int> CpuCountFromText(std::string_view text) {
  const auto v = WholeNumber(text);
  if (!v || *v < 1) return std::nullopt;
  return int(std::min<long long>(*v, 1 << 20));
}

int SmallestProcessorLimit(int affinityCpus, std::optional<int> quota, std::optional<int> slurm) {
  int n = std::max(1, affinityCpus);
  if (quota) n = std::min(n, *quota);
  if (slurm) n = std::min(n, *slurm);
  return std::max(1, n);
}

int AvailableProcessors() {
  const char* slurm = std::getenv("SLURM_CPUS_PER_TASK");
  return SmallestProcessorLimit(AffinityCpus(), CgroupQuota(),
                                slurm ? CpuCountFromText(slurm) : std::nullopt);
}

}  // namespace df
