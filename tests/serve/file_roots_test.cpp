// Paths from the page reach the file system only inside the allowed folders.
#include "serve/file_roots.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;
using vorn::serve::FileRoots;

class FileRootsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = fs::temp_directory_path() / ("vorn-roots-" + std::to_string(::getpid()));
    fs::remove_all(base_);
    fs::create_directories(base_ / "root/shots");
    fs::create_directories(base_ / "outside");
    std::ofstream(base_ / "root/shots/a.vcomp") << "x";
    std::ofstream(base_ / "outside/secret.vcomp") << "x";
    fs::create_symlink(base_ / "outside", base_ / "root/away");
    fs::create_symlink(base_ / "outside/secret.vcomp", base_ / "root/secret.vcomp");
    fs::create_symlink(base_ / "root/shots/a.vcomp", base_ / "root/near.vcomp");
    std::string error;
    ASSERT_TRUE(roots_.Add((base_ / "root").string(), &error)) << error;
  }
  void TearDown() override { fs::remove_all(base_); }

  bool Resolve(const std::string& path, FileRoots::Use use, std::string* error) {
    std::string out;
    return roots_.Resolve(0, path, use, &out, error);
  }

  fs::path base_;
  FileRoots roots_;
};

TEST_F(FileRootsTest, PathsThatLeaveTheFolderAreRefused) {
  const char* refused[] = {
      "",
      "/etc/passwd",
      "../outside/secret.vcomp",
      "shots/../../outside/secret.vcomp",
      "./a.vcomp",
      "shots//a.vcomp",
      "shots/",
      "shots\\a.vcomp",
      "a\nb.vcomp",
      "away/secret.vcomp",
      "secret.vcomp",
      "away/new.vcomp",
  };
  for (const char* path : refused) {
    for (FileRoots::Use use : {FileRoots::Use::Read, FileRoots::Use::Write}) {
      std::string error;
      EXPECT_FALSE(Resolve(path, use, &error)) << "\"" << path << "\"";
      EXPECT_FALSE(error.empty());
    }
  }
  std::string out, error;
  EXPECT_FALSE(roots_.Resolve(1, "shots/a.vcomp", FileRoots::Use::Read, &out, &error));
  EXPECT_NE(error.find("no folder number 1"), std::string::npos);
  EXPECT_FALSE(Resolve(std::string(2000, 'a'), FileRoots::Use::Write, &error));
}

TEST_F(FileRootsTest, FilesInsideAreFoundAndFoldersAreNotFiles) {
  std::string out, error;
  ASSERT_TRUE(roots_.Resolve(0, "shots/a.vcomp", FileRoots::Use::Read, &out, &error)) << error;
  EXPECT_EQ(out, fs::canonical(base_ / "root/shots/a.vcomp").string());
  // A link that stays inside is followed.
  EXPECT_TRUE(roots_.Resolve(0, "near.vcomp", FileRoots::Use::Read, &out, &error)) << error;
  // A new file may be written in an existing folder, not read.
  EXPECT_TRUE(roots_.Resolve(0, "shots/new.vcomp", FileRoots::Use::Write, &out, &error)) << error;
  EXPECT_FALSE(roots_.Resolve(0, "shots/new.vcomp", FileRoots::Use::Read, &out, &error));
  EXPECT_NE(error.find("does not exist"), std::string::npos);
  EXPECT_FALSE(roots_.Resolve(0, "missing/new.vcomp", FileRoots::Use::Write, &out, &error));
  EXPECT_FALSE(roots_.Resolve(0, "shots", FileRoots::Use::Write, &out, &error));
  EXPECT_NE(error.find("is a folder"), std::string::npos);
  EXPECT_FALSE(roots_.Resolve(0, "shots", FileRoots::Use::Read, &out, &error));
  EXPECT_NE(error.find("not a regular file"), std::string::npos);
}

TEST(FileRootsInside, PrefixesAreFoldersNotLetters) {
  EXPECT_TRUE(vorn::serve::IsInside("/a/b", "/a"));
  EXPECT_TRUE(vorn::serve::IsInside("/a", "/a"));
  EXPECT_FALSE(vorn::serve::IsInside("/ab", "/a"));
  EXPECT_TRUE(vorn::serve::IsInside("/x", "/"));
}

}  // namespace
