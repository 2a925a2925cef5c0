// FileReplacement on real files: each kind of thing found at the destination,
// before Begin or planted before the rename, and a killed run's temporaries.
#include "host/replace_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <functional>

#include "support/temp_root.h"

namespace bootcrank::host {
namespace {

namespace fs = boost::filesystem;
using Destination = FileReplacement::Destination;

// Begin, `late` (a change at the destination meanwhile), Write "new\n",
// Commit: the first error, 0 when all went well.
int Replace(const std::string& path, Destination destination, const std::function<void()>& late) {
  FileReplacement file;
  int error = file.Begin(path, 0640, destination);
  if (error != 0) return error;
  late();
  FileReplacement::Step failed;
  int modeError = 0;
  if ((error = file.Write("new\n", 4)) == 0 && (error = file.Commit(&failed, &modeError)) != 0) {
    EXPECT_EQ(FileReplacement::Step::kRename, failed);
  }
  return error != 0 ? error : modeError;
}

TEST(FileReplacement, EachKindOfDestination) {
  testing::TempRoot dir;
  mode_t saved = umask(022);
  const std::string path = dir.Path("/out");
  // What is at the destination (made before Begin, or after it when `late`);
  // then the error, the type, the content and mode bits seen through a link
  // (null, -1: not looked at), and no temporary file left.
  struct Case {
    const char* name;
    std::function<void()> make;
    bool late;
    Destination destination;
    int error;
    fs::file_type type;
    const char* content;
    int mode;
  };
  auto nothing = [] {};
  auto regular = [&](mode_t mode) { return [&dir, mode] { dir.Write("/out", "old\n", mode); }; };
  auto link = [&] {
    dir.Write("/target", "target\n", 0600);
    ASSERT_EQ(0, symlink(dir.Path("/target").c_str(), path.c_str()));
  };
  auto fifo = [&] { ASSERT_EQ(0, mkfifo(path.c_str(), 0644)); };
  auto directory = [&] { ASSERT_EQ(0, mkdir(path.c_str(), 0755)); };
  auto device = [&] { ASSERT_EQ(0, mknod(path.c_str(), S_IFCHR | 0666, makedev(1, 3))); };
  const Destination kFile = Destination::kFixedFile, kPath = Destination::kFixedPath,
                    kUser = Destination::kNamedByUser;
  const std::vector<Case> cases{
      {"missing", nothing, false, kFile, 0, fs::regular_file, "new\n", 0640},
      {"regular kept private", regular(0600), false, kPath, 0, fs::regular_file, "new\n", 0600},
      {"fifo replaced", fifo, false, kPath, 0, fs::regular_file, "new\n", 0640},
      {"directory", directory, false, kFile, EISDIR, fs::directory_file, nullptr, -1},
      // Planted before the rename: its target is neither written nor given the new mode.
      {"link planted late", link, true, kPath, ELOOP, fs::symlink_file, "target\n", 0600},
      {"user's link", link, false, kUser, 0, fs::symlink_file, "new\n", 0600},
      {"user's regular", regular(0604), false, kUser, 0, fs::regular_file, "new\n", 0604},
      {"user's device", device, false, kUser, 0, fs::character_file, "", -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(path);
    fs::remove(dir.Path("/target"));
    if (!c.late) c.make();
    EXPECT_EQ(c.error, Replace(path, c.destination, c.late ? c.make : nothing));
    EXPECT_EQ(c.type, fs::symlink_status(path).type());
    if (c.content != nullptr && fs::symlink_status(path).type() == c.type) {
      EXPECT_EQ(c.content, dir.Read("/out"));
    }
    if (c.mode >= 0) {
      EXPECT_EQ(c.mode, static_cast<int>(fs::status(path).permissions()));
    }
    std::set<std::string> names = dir.List();
    names.erase("target");
    EXPECT_EQ((std::set<std::string>{"out"}), names);
  }
  umask(saved);
}

TEST(FileReplacement, LeftoverTemporariesOfTheDestinationAloneAreRemoved) {
  testing::TempRoot dir;
  const std::set<std::string> kept{"rec.gz",       "rec.gz.a1B2c",   "rec.gzXa1B2c3",
                                   "rec.g.a1B2c3", "xrec.gz.a1B2c3", "rec.gz.dir123"};
  for (const char* name : {"rec.gz.a1B2c3", "rec.gz.ZZZZZZ"}) dir.Write(name, "half\n");
  for (const std::string& name : kept) dir.Write(name, "keep\n");
  fs::remove(dir.Path("rec.gz.dir123"));
  fs::create_directory(dir.Path("rec.gz.dir123"));
  RemoveLeftoverTemporaries(dir.Path("rec.gz"));
  EXPECT_EQ(kept, dir.List());
}

}  // namespace
}  // namespace bootcrank::host
