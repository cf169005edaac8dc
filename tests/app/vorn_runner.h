// Runs the built vorn binary for end-to-end tests: each test gets a fresh
// working folder; output, errors and exit status are captured.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "image_io.h"

namespace vorn::test {

namespace fs = std::filesystem;

struct RunResult {
  int code = -1;  // exit status, or 128 + signal
  std::string out, err;
};

inline std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class VornTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::temp_directory_path() / ("vorn_cli_" + std::to_string(getpid()) + "_" +
                                        info->test_suite_name() + "_" + info->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    if (!HasFailure()) fs::remove_all(dir_);
  }

  // Starts vorn in the test folder with stdout and stderr going to files.
  // `inChild` runs in the new process just before vorn starts (it may only
  // make system calls).
  pid_t Start(const std::vector<std::string>& args,
              const std::vector<std::pair<std::string, std::string>>& env = {},
              const std::function<void()>& inChild = nullptr) {
    std::vector<std::string> all = {VORN_EXE};
    all.insert(all.end(), args.begin(), args.end());
    const std::string outPath = (dir_ / ".stdout").string(), errPath = (dir_ / ".stderr").string();
    pid_t pid = fork();
    if (pid == 0) {
      if (chdir(dir_.c_str()) != 0) _exit(127);
      int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(out, 1);
      dup2(err, 2);
      unsetenv("VORN_PLUGIN_PATH");
      unsetenv("NUM_PROC_VORN");
      for (const auto& [k, v] : env) setenv(k.c_str(), v.c_str(), 1);
      if (inChild) inChild();
      std::vector<char*> argv;
      for (std::string& a : all) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    return pid;
  }

  // Waits for vorn to end; after `limit` it is killed and the run fails
  // (code -1): vorn must never hang, whatever it is given.
  RunResult Wait(pid_t pid, std::chrono::seconds limit = std::chrono::seconds(100),
                 struct rusage* usage = nullptr) {
    int status = 0;
    struct rusage ignored;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    bool ended = false;
    while (!ended) {
      const pid_t got = wait4(pid, &status, WNOHANG, usage ? usage : &ignored);
      if (got == pid) {
        ended = true;
      } else if (std::chrono::steady_clock::now() > deadline) {
        kill(pid, SIGKILL);
        wait4(pid, &status, 0, usage ? usage : &ignored);
        ADD_FAILURE() << "vorn did not end within " << limit.count() << " s";
        RunResult r;
        r.err = ReadText(dir_ / ".stderr");
        return r;
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
    }
    RunResult r;
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.out = ReadText(dir_ / ".stdout");
    r.err = ReadText(dir_ / ".stderr");
    fs::remove(dir_ / ".stdout");
    fs::remove(dir_ / ".stderr");
    return r;
  }

  RunResult Run(const std::vector<std::string>& args,
                const std::vector<std::pair<std::string, std::string>>& env = {}) {
    return Wait(Start(args, env));
  }

  // vorn with the test plug-ins only.
  RunResult Probe(std::vector<std::string> args,
                  const std::vector<std::pair<std::string, std::string>>& env = {}) {
    args.insert(args.begin(), {"--plugins", PROBE_PLUGIN_FOLDER});
    return Run(args, env);
  }

  // Files in the test folder, sorted, hidden ones included.
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    for (const auto& e : fs::recursive_directory_iterator(dir_))
      if (e.is_regular_file()) names.push_back(fs::relative(e.path(), dir_).string());
    std::sort(names.begin(), names.end());
    return names;
  }

  ImageRef Image(const std::string& name) {
    std::string error;
    ImageRef image = ReadImage((dir_ / name).string(), &error);
    EXPECT_TRUE(image) << error;
    return image;
  }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  static bool BlebBuilt() { return fs::exists(std::string(TOOL_PLUGIN_FOLDER) + "/bleb.so"); }

  fs::path dir_;
};

}  // namespace vorn::test
