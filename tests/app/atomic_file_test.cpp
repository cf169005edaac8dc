// Temporary files: names that fit a folder entry, exclusive creation that
// never follows a link, and nothing left behind on any path.
#include "atomic_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

namespace vorn {
namespace {

namespace fs = std::filesystem;

class AtomicFile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("vorn_atomic_" + std::to_string(getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }
  static std::string Text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  fs::path dir_;
};

TEST_F(AtomicFile, TemporaryNamesFitAFolderEntryAndKeepTheExtension) {
  for (size_t length : {1u, 200u, 240u, 251u}) {
    const std::string name = std::string(length, 'n') + ".png";
    const std::string temp = TemporaryName(name, "abcdefghijkl");
    EXPECT_LE(temp.size(), 255u) << length;
    EXPECT_EQ(temp.front(), '.');
    EXPECT_EQ(temp.substr(temp.size() - 4), ".png");
    EXPECT_NE(temp.find("abcdefghijkl"), std::string::npos);
  }
  // A multi-byte character is not cut in two.
  std::string wide;
  for (int i = 0; i < 130; ++i) wide += "\xc3\xa9";  // é
  const std::string temp = TemporaryName(wide + ".exr", "r");
  EXPECT_LE(temp.size(), 255u);
  const size_t marker = temp.find(".vorn-");
  ASSERT_NE(marker, std::string::npos);
  EXPECT_EQ((marker - 1) % 2, 0u) << "cut inside a character";
}

TEST_F(AtomicFile, WritesWholeFilesUnderUnpredictableNames) {
  std::set<std::string> temps;
  for (int i = 0; i < 3; ++i) {
    TemporaryFile file;
    std::string error;
    ASSERT_TRUE(file.Create(Path("a.png"), &error)) << error;
    EXPECT_EQ(fs::path(file.TempPath()).filename().string().find(std::to_string(getpid())),
              std::string::npos);
    temps.insert(file.TempPath());
    ASSERT_TRUE(file.Write("frame", 5, &error)) << error;
    ASSERT_TRUE(file.Commit(&error)) << error;
  }
  EXPECT_EQ(temps.size(), 3u);
  EXPECT_EQ(Text(Path("a.png")), "frame");
  EXPECT_EQ(Names(), std::vector<std::string>{"a.png"});

  // Discarded, or given up half-written: the old file stays, nothing is added.
  {
    TemporaryFile file;
    std::string error;
    ASSERT_TRUE(file.Create(Path("a.png"), &error)) << error;
    ASSERT_TRUE(file.Write("half", 4, &error));
  }
  EXPECT_EQ(Names(), std::vector<std::string>{"a.png"});
  EXPECT_EQ(Text(Path("a.png")), "frame");
  // A destination that cannot be replaced: the rename fails, nothing stays.
  fs::create_directories(Path("folder.png"));
  std::ofstream(Path("folder.png/inside")) << "x";
  std::string error;
  EXPECT_FALSE(WriteFileAtomically(Path("folder.png"), "x", 1, &error));
  EXPECT_NE(error.find("folder.png"), std::string::npos) << error;
  EXPECT_EQ(Names(), (std::vector<std::string>{"a.png", "folder.png"}));
}

TEST_F(AtomicFile, AFolderForProgramsIsPrivateAndRemoved) {
  std::string error;
  {
    TemporaryFolder folder;
    ASSERT_TRUE(folder.Create(Path("v.mp4"), "video.mp4", &error)) << error;
    const fs::path inside = fs::path(folder.FilePath()).parent_path();
    EXPECT_EQ(fs::status(inside).permissions() & fs::perms::all, fs::perms::owner_all);
    std::ofstream(folder.FilePath()) << "movie";
    ASSERT_TRUE(folder.Commit(&error)) << error;
  }
  EXPECT_EQ(Text(Path("v.mp4")), "movie");
  {
    TemporaryFolder folder;
    ASSERT_TRUE(folder.Create(Path("w.mp4"), "video.mp4", &error)) << error;
    std::ofstream(folder.FilePath()) << "unfinished";
  }
  EXPECT_EQ(Names(), std::vector<std::string>{"v.mp4"});
}

TEST_F(AtomicFile, PathKeysSeeThroughSpellingsAndLinks) {
  std::ofstream(Path("x.png")) << "x";
  ASSERT_EQ(symlink(Path("x.png").c_str(), Path("link.png").c_str()), 0);
  EXPECT_EQ(PathKey(Path("x.png")), PathKey((dir_ / "." / "x.png").string()));
  EXPECT_EQ(PathKey(Path("x.png")), PathKey(Path("link.png")));
  EXPECT_EQ(PathKey(Path("new.png")), PathKey((dir_ / "sub" / ".." / "new.png").string()));
  EXPECT_NE(PathKey(Path("x.png")), PathKey(Path("y.png")));
}

}  // namespace
}  // namespace vorn
