// vorn loses no frame and lets nobody in: hostile input files, a full disk,
// planted symbolic links, signals and closed pipes. Every file vorn leaves
// under its final name is whole; nothing else is left behind.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include "default_images.h"
#include "vorn_runner.h"

namespace vorn::test {
namespace {

using Safety = VornTest;

bool IsTemporary(const std::string& name) {
  return name.find(".vorn-") != std::string::npos || name.find(".tmp") != std::string::npos;
}

// The hostile files of tests/hostile (see make_hostile.py) that `pick`
// chooses: ok_* render, the rest are refused with one line that names the
// file, and nothing is written. Returns how many there were.
class Hostile : public VornTest {
 protected:
  int CheckFiles(const std::function<bool(const std::string&)>& pick);
};

int Hostile::CheckFiles(const std::function<bool(const std::string&)>& pick) {
  const fs::path folder = fs::path(VORN_SOURCE_DIR) / "tests" / "hostile";
  int seen = 0;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (entry.path().extension() == ".py" || !pick(name)) continue;
    ++seen;
    RunResult r = Probe({"-q", "render", "Probe", "--input", "Input=" + entry.path().string(),
                         "--set", "Mode=Copy", "--out", "o.png"});
    if (name.rfind("ok_", 0) == 0) {
      EXPECT_EQ(r.code, 0) << name << ": " << r.err;
      ImageRef image = Image("o.png");
      fs::remove(Path("o.png"));
      EXPECT_TRUE(image) << name;
      if (!image) continue;
      // The generator's pattern: red 8x (4x for PNG), green 8y (4y), blue
      // fixed; EXR holds it as linear half values, within one step once
      // encoded again.
      const int step = entry.path().extension() == ".png" ? 4 : 8;
      const int blue = entry.path().extension() == ".png" ? 64 : 128;
      const int near = entry.path().extension() == ".exr" ? 1 : 0;
      int wrong = 0;
      std::string firstWrong;
      for (int y = 0; y < image->height; ++y)
        for (int x = 0; x < image->width; ++x) {
          const uint8_t* p = image->Pixel(x, y);
          const int want[4] = {blue, (y * step) & 255, (x * step) & 255, 255};
          for (int c = 0; c < 4; ++c)
            if (std::abs(p[c] - want[c]) > near) {
              if (wrong++ == 0)
                firstWrong = std::to_string(x) + "," + std::to_string(y) + " channel " +
                             std::to_string(c) + ": " + std::to_string(p[c]);
            }
        }
      EXPECT_EQ(wrong, 0) << name << ", first at " << firstWrong;
      continue;
    }
    EXPECT_EQ(r.code, 2) << name << ": " << r.err;
    // vorn's line comes first and alone: no library message ahead of it.
    EXPECT_EQ(r.err.rfind("vorn: error: ", 0), 0u) << name << ": " << r.err;
    // (Under the sanitizers a report of the suppressions used may follow at exit.)
    const std::string own = r.err.substr(0, r.err.find("\n-----"));
    EXPECT_EQ(std::count(own.begin(), own.end(), '\n') + (own.size() < r.err.size()), 1)
        << name << ": " << r.err;
    EXPECT_NE(r.err.find(name), std::string::npos) << r.err;
    EXPECT_TRUE(Files().empty()) << name;
  }
  return seen;
}

// In four groups, each within a test's time even under the sanitizers.
bool Has(const std::string& name, const char* part) {
  return name.find(part) != std::string::npos;
}

TEST_F(Hostile, ImageFilesAreRefusedInOneLine) {
  EXPECT_GE(CheckFiles([](const std::string& n) { return !Has(n, ".dpx") && !Has(n, ".exr"); }),
            25);
}

TEST_F(Hostile, DpxFilesAreRefusedInOneLine) {
  EXPECT_GE(CheckFiles([](const std::string& n) { return Has(n, ".dpx"); }), 19);
}

TEST_F(Hostile, ExrScanlineFilesAreRefusedInOneLine) {
  EXPECT_GE(CheckFiles([](const std::string& n) {
              return Has(n, ".exr") && (Has(n, "lines") || Has(n, "zips"));
            }),
            20);
}

TEST_F(Hostile, ExrFilesOfBlocksAndTilesAreRefusedInOneLine) {
  EXPECT_GE(CheckFiles([](const std::string& n) {
              return Has(n, ".exr") && !Has(n, "lines") && !Has(n, "zips");
            }),
            20);
}

TEST_F(Safety, WhatIsNotARegularFileIsRefusedAtOnce) {
  ASSERT_EQ(mkfifo(Path("fifo.png").c_str(), 0600), 0);
  fs::create_directories(Path("folder.png"));
  // A huge file of zeros, sparse so that it costs no disk: refused from its
  // first bytes, not read whole.
  bool sparse = false;
  if (std::FILE* f = std::fopen(Path("zeros.exr").c_str(), "wb")) {
    sparse = ftruncate(fileno(f), off_t(16) << 30) == 0;
    std::fclose(f);
  }
  struct Case {
    std::string file, message;
  };
  std::vector<Case> cases = {{"fifo.png", "not a regular file"},
                             {"/dev/zero", "not a regular file"},
                             {"folder.png", "is a folder, not an image file"}};
  if (sparse) cases.push_back({"zeros.exr", "zeros.exr"});
  for (const Case& c : cases) {
    RunResult r = Wait(Start({"--plugins", PROBE_PLUGIN_FOLDER, "render", "Probe", "--input",
                              "Input=" + c.file, "--out", "o.png"}),
                       std::chrono::seconds(30));
    EXPECT_EQ(r.code, 2) << c.file << ": " << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(Path("o.png")));
  }
}

// A tmpfs of 1 MiB for the test's life, or a skip with the reason.
class SmallDisk {
 public:
  explicit SmallDisk(const std::string& path) : path_(path) {
    fs::create_directories(path);
    mounted_ =
        mount("tmpfs", path.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=1m,mode=0777") == 0;
    if (!mounted_) why_ = std::strerror(errno);
  }
  ~SmallDisk() {
    if (mounted_) umount2(path_.c_str(), MNT_DETACH);
  }
  bool Mounted() const { return mounted_; }
  const std::string& Why() const { return why_; }
  // Fills the disk but for about `keep` bytes.
  void Fill(unsigned long long keep) {
    struct statvfs s;
    ASSERT_EQ(statvfs(path_.c_str(), &s), 0);
    const unsigned long long free = (unsigned long long)s.f_bavail * s.f_frsize;
    std::ofstream out(path_ + "/filler", std::ios::binary);
    out << std::string(free > keep ? free - keep : 0, 'x');
  }
  void Clear() {
    for (const auto& e : fs::directory_iterator(path_)) fs::remove_all(e.path());
  }

 private:
  std::string path_, why_;
  bool mounted_ = false;
};

// Every regular file under `dir` is a whole image of the given width, and no
// temporary file is left; returns how many there are.
int CheckWholeImages(const std::string& dir, int width) {
  int count = 0;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    if (!e.is_regular_file()) continue;
    const std::string name = e.path().filename().string();
    if (name == "filler") continue;
    EXPECT_FALSE(IsTemporary(name)) << name;
    std::string error;
    ImageRef image = ReadImage(e.path().string(), &error);
    EXPECT_TRUE(image) << name << ": " << error;
    if (image && width > 0) {
      EXPECT_EQ(image->width, width) << name;
    }
    ++count;
  }
  return count;
}

TEST_F(Safety, AFullDiskFailsTheFrameAndLeavesOnlyWholeFiles) {
  SmallDisk disk(Path("full"));
  if (!disk.Mounted())
    GTEST_SKIP() << "cannot mount a 1 MiB tmpfs here (" << disk.Why()
                 << "; needs root or CAP_SYS_ADMIN): the full-disk test is skipped";
  // Uncompressed frames of about 230 kB: the fifth or so does not fit.
  for (const auto& out : {std::vector<std::string>{"full/f.#.png", "--compression", "0"},
                          std::vector<std::string>{"full/t.#.tif", "--compression", "none"}}) {
    std::vector<std::string> args = {"render", "Probe",     "--size", "320x180", "--frames",
                                     "0-40",   "--writers", "2",      "--out"};
    args.insert(args.end(), out.begin(), out.end());
    RunResult r = Probe(args);
    EXPECT_EQ(r.code, 1) << out[0] << ": " << r.err;
    EXPECT_NE(r.err.find("No space left on device"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("error: frame "), std::string::npos) << r.err;
    const int whole = CheckWholeImages(Path("full"), 320);
    EXPECT_GE(whole, 1);
    EXPECT_LT(whole, 41);
    EXPECT_NE(r.err.find(std::to_string(whole) + " of 41 frames written"), std::string::npos)
        << r.err;
    disk.Clear();
  }
  // The composition, the tiles and the demo meet the same full disk.
  disk.Fill(0);
  RunResult r = Probe({"render", "Probe", "--set", "Level=0@0,1@20000", "--save", "full/s.vcomp"});
  EXPECT_EQ(r.code, 1) << r.err;
  EXPECT_NE(r.err.find("--save: cannot write full/s.vcomp: No space left on device"),
            std::string::npos)
      << r.err;
  EXPECT_FALSE(fs::exists(Path("full/s.vcomp")));
  r = Probe({"tools", "--tiles", "full/tiles"});
  EXPECT_EQ(r.code, 1) << r.err;
  EXPECT_NE(r.err.find("No space left on device"), std::string::npos) << r.err;
  r = Probe({"demo", "--out", "full/demo", "--size", "64x36", "--length", "2", "--no-video"});
  EXPECT_EQ(r.code, 1) << r.err;
  CheckWholeImages(Path("full"), 0);
}

TEST_F(Safety, PlantedLinksAreNeverFollowed) {
  std::ofstream(Path("victim")) << "precious";
  const std::string victim = Path("victim");
  // Links at the names a host using the process id and a counter would
  // take next, planted by the new process itself before vorn starts.
  auto plant = [victim] {
    char name[128];
    for (const char* pattern :
         {".f.vorn-%d-%d.tmp.png", ".s.vorn-%d-%d.tmp.vcomp", ".f.vorn-%d-%d.tmp.exr"})
      for (int n = 0; n < 8; ++n) {
        std::snprintf(name, sizeof name, pattern, int(getpid()), n);
        if (symlink(victim.c_str(), name) != 0) _exit(126);
      }
  };
  RunResult r = Wait(Start({"--plugins", PROBE_PLUGIN_FOLDER, "render", "Probe", "--size", "8x8",
                            "--save", "s.vcomp", "--out", "f.png"},
                           {}, plant));
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(ReadText(Path("victim")), "precious");
  EXPECT_TRUE(Image("f.png"));
  EXPECT_GT(fs::file_size(Path("s.vcomp")), 8u);
  int links = 0;
  for (const auto& e : fs::directory_iterator(dir_)) links += fs::is_symlink(e.symlink_status());
  EXPECT_EQ(links, 24);  // left as they were

  // Names close to the 255-byte limit of a folder entry still work.
  const std::string longName = std::string(240, 'n') + ".png";
  r = Probe({"render", "Probe", "--size", "8x8", "--out", longName});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(fs::exists(Path(longName)));
}

TEST_F(Safety, HangUpEndsTheRunCleanly) {
  const pid_t pid =
      Start({"--plugins", PROBE_PLUGIN_FOLDER, "render", "Probe", "--set", "Delay=150", "--workers",
             "1", "--size", "64x64", "--frames", "1-40", "--out", "h.#.png"});
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!fs::exists(Path("h.0002.png")) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  kill(pid, SIGHUP);
  RunResult r = Wait(pid);
  EXPECT_EQ(r.code, 129) << r.err;
  EXPECT_NE(r.err.find("interrupted by SIGHUP"), std::string::npos) << r.err;
  const std::vector<std::string> files = Files();
  ASSERT_GE(files.size(), 2u);
  for (const std::string& f : files) {
    EXPECT_FALSE(IsTemporary(f)) << f;
    EXPECT_TRUE(Image(f)) << f;
  }

  // Asked twice, vorn ends at once, still leaving no temporary file.
  fs::remove_all(dir_);
  fs::create_directories(dir_);
  const pid_t again =
      Start({"--plugins", PROBE_PLUGIN_FOLDER, "render", "Probe", "--set", "Delay=150", "--workers",
             "1", "--size", "64x64", "--frames", "1-40", "--out", "t.#.png"});
  while (!fs::exists(Path("t.0001.png")) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  kill(again, SIGTERM);
  kill(again, SIGTERM);
  r = Wait(again);
  EXPECT_EQ(r.code, 143) << r.err;
  for (const std::string& f : Files()) EXPECT_FALSE(IsTemporary(f)) << f;
}

TEST_F(Safety, AClosedPipeOnStderrDoesNotStopTheRender) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  close(fds[0]);  // nobody reads: every progress line meets a closed pipe
  const int writeEnd = fds[1];
  RunResult r = Wait(Start({"--plugins", PROBE_PLUGIN_FOLDER, "render", "Probe", "--size", "16x16",
                            "--frames", "1-4", "--writers", "2", "--out", "p.#.png"},
                           {}, [writeEnd] { dup2(writeEnd, 2); }));
  close(writeEnd);
  EXPECT_EQ(r.code, 0);
  const std::vector<std::string> want = {"p.0001.png", "p.0002.png", "p.0003.png", "p.0004.png"};
  EXPECT_EQ(Files(), want);
}

TEST_F(Safety, ServeNeedsTheCompiledPageAndEndsOnASignal) {
  const fs::path web = dir_ / "web";
  fs::create_directories(web);
  std::ofstream(web / "index.html") << "<html></html>";
  // Without its compiled scripts the page would open empty: refused, with
  // the command that compiles them.
  RunResult r = Wait(Start({"--plugins", PROBE_PLUGIN_FOLDER, "serve", "--web", web.string()}));
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("dist/main.js"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("--target vorn_web"), std::string::npos) << r.err;
  EXPECT_EQ(ReadText(dir_ / ".stdout").find("http://"), std::string::npos);

  fs::create_directories(web / "dist");
  std::ofstream(web / "dist" / "main.js") << "";
  for (const int sig : {SIGTERM, SIGINT}) {
    const pid_t pid = Start({"--plugins", PROBE_PLUGIN_FOLDER, "serve", "--web", web.string()});
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (ReadText(dir_ / ".stdout").find("http://") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    kill(pid, sig);
    r = Wait(pid, std::chrono::seconds(20));
    EXPECT_EQ(r.code, 128 + sig) << r.err;
  }
}

}  // namespace
}  // namespace vorn::test
