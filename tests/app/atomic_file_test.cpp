// Temporary files: names that fit a folder entry, exclusive creation that
// never follows a link, and nothing left behind on any path.
#include "atomic_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include "file_buffer.h"

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

// Large files go past the page cache in whole blocks and the rest through
// the cache; where the file system refuses that (a memory file system), all
// through the cache. Either way the file holds every byte, in order.
TEST_F(AtomicFile, LargeFilesHoldEveryByteWhateverTheirSizeAndFileSystem) {
  std::vector<std::string> folders = {dir_.string()};
  const fs::path shm = fs::path("/dev/shm") / dir_.filename();
  std::error_code ec;
  if (fs::create_directories(shm, ec)) folders.push_back(shm.string());
  std::string bytes(size_t(9) << 20 | 4096 | 123, '\0');
  uint32_t state = 12345;
  for (char& c : bytes) c = char((state = state * 1664525u + 1013904223u) >> 24);
  // From any address, and from a block-aligned buffer (written in place).
  const FileBytes aligned(bytes.begin(), bytes.end());
  for (const std::string& folder : folders)
    for (const char* from :
         {static_cast<const char*>(bytes.data()), reinterpret_cast<const char*>(aligned.data())})
      for (size_t size :
           {(size_t(1) << 20) - 1, size_t(1) << 20, (size_t(3) << 20) + 123, bytes.size()}) {
        const std::string path = folder + "/big.exr";
        std::string error;
        ASSERT_TRUE(WriteFileAtomically(path, from, size, &error)) << error;
        EXPECT_TRUE(Text(path) == bytes.substr(0, size)) << folder << ", " << size << " bytes";
      }
  fs::remove_all(shm, ec);
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

// Every writer replaces only a regular file (or a link, never followed);
// inside a root, nothing leads out, and folders are made only inside it.
TEST_F(AtomicFile, OnlyRegularFilesAreReplacedAndRootsHoldTheirFiles) {
  ASSERT_EQ(mkfifo(Path("pipe").c_str(), 0600), 0);
  fs::create_directories(Path("folder"));
  std::ofstream(Path("target")) << "target";
  fs::create_symlink(Path("target"), Path("link"));
  fs::create_symlink("/dev/null", Path("null"));
  std::string error;
  for (const char* name : {"pipe", "folder", "null"}) {
    EXPECT_FALSE(WriteFileAtomically(Path(name), "new", 3, &error)) << name;
    EXPECT_NE(error.find(name), std::string::npos) << error;
  }
  EXPECT_TRUE(fs::is_fifo(Path("pipe")));
  EXPECT_TRUE(fs::is_directory(Path("folder")));
  EXPECT_TRUE(fs::is_symlink(Path("null")));
  ASSERT_TRUE(WriteFileAtomically(Path("link"), "new", 3, &error)) << error;
  EXPECT_EQ(Text(Path("link")), "new");
  EXPECT_FALSE(fs::is_symlink(Path("link")));
  EXPECT_EQ(Text(Path("target")), "target");

  const std::string root = Path("root");
  fs::create_directories(root + "/in");
  fs::create_symlink(dir_, root + "/out");
  fs::create_symlink(root + "/in", root + "/near");
  fs::create_symlink(Path("target"), root + "/away.png");
  for (const char* inside : {"a.png", "in/a.png", "near/a.png", "new/deep/a.png"}) {
    EXPECT_TRUE(CheckOutputPath(root + "/" + inside, root, &error)) << inside << ": " << error;
    EXPECT_TRUE(MakeOutputFolders(root + "/" + inside, root, &error)) << inside << ": " << error;
  }
  EXPECT_TRUE(fs::is_directory(root + "/new/deep"));
  for (const char* outside : {"out/a.png", "out/new/a.png", "away.png"}) {
    EXPECT_FALSE(CheckOutputPath(root + "/" + outside, root, &error)) << outside;
    EXPECT_NE(error.find("leads out of " + root), std::string::npos) << error;
  }
  EXPECT_FALSE(MakeOutputFolders(root + "/out/new/a.png", root, &error));
  EXPECT_FALSE(fs::exists(Path("new")));
  EXPECT_FALSE(CheckOutputPath(Path(std::string(256, 'n')), "", &error));
  EXPECT_TRUE(CheckOutputPath(Path(std::string(255, 'n')), "", &error)) << error;
}

}  // namespace
}  // namespace vorn
