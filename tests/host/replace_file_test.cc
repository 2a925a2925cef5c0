// FileReplacement on real files: what it does with each kind of thing found
// at the destination, a link planted before the rename, and the temporary
// files that a killed run leaves.
#include "host/replace_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <functional>

#include "support/temp_root.h"

namespace bootcrank {
namespace host {
namespace {

using Destination = FileReplacement::Destination;

// Mode bits of `path`, links not followed; -1 when nothing is there.
int ModeOf(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
}

char TypeOf(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return '-';
  return S_ISREG(st.st_mode) ? 'f' : S_ISLNK(st.st_mode) ? 'l' : S_ISFIFO(st.st_mode) ? 'p'
       : S_ISDIR(st.st_mode) ? 'd' : S_ISCHR(st.st_mode) ? 'c' : '?';
}

// Begin, Write "new\n", Commit: the first error, 0 when all went well.
int Replace(const std::string& path, Destination destination) {
  FileReplacement file;
  int error = file.Begin(path, 0640, destination);
  if (error == 0) error = file.Write("new\n", 4);
  FileReplacement::Step failed;
  int modeError = 0;
  if (error == 0) error = file.Commit(&failed, &modeError);
  return error != 0 ? error : modeError;
}

TEST(FileReplacement, EachKindOfDestination) {
  testing::TempRoot dir;
  mode_t saved = umask(022);
  // What is at the destination before; then the destination's type, content
  // (read through it) and mode (-1: not looked at) after.
  struct Case {
    const char* name;
    std::function<void(const std::string&)> make;
    Destination destination;
    int error;
    char typeAfter;
    const char* contentAfter;
    int modeAfter;
  };
  auto regular = [&](mode_t mode) {
    return [&dir, mode](const std::string& path) { dir.Write(path.substr(dir.root.size()), "old\n", mode); };
  };
  auto link = [&](const std::string& path) {
    dir.Write("/target", "target\n", 0600);
    ASSERT_EQ(0, symlink(dir.Path("/target").c_str(), path.c_str()));
  };
  auto fifo = [](const std::string& path) { ASSERT_EQ(0, mkfifo(path.c_str(), 0644)); };
  auto directory = [](const std::string& path) { ASSERT_EQ(0, mkdir(path.c_str(), 0755)); };
  auto device = [](const std::string& path) {  // a null device of its own
    ASSERT_EQ(0, mknod(path.c_str(), S_IFCHR | 0666, makedev(1, 3)));
  };
  const std::vector<Case> cases{
      {"missing", [](const std::string&) {}, Destination::kFixedFile, 0, 'f', "new\n", 0640},
      {"regular", regular(0604), Destination::kFixedFile, 0, 'f', "new\n", 0604},
      {"regular kept private", regular(0600), Destination::kFixedPath, 0, 'f', "new\n", 0600},
      {"link", link, Destination::kFixedFile, ELOOP, 'l', "target\n", -1},
      {"link for a path", link, Destination::kFixedPath, ELOOP, 'l', "target\n", -1},
      {"fifo", fifo, Destination::kFixedFile, ENXIO, 'p', nullptr, -1},
      {"fifo replaced", fifo, Destination::kFixedPath, 0, 'f', "new\n", 0640},
      {"directory", directory, Destination::kFixedFile, EISDIR, 'd', nullptr, -1},
      {"user's link", link, Destination::kNamedByUser, 0, 'l', "new\n", -1},
      {"user's regular", regular(0604), Destination::kNamedByUser, 0, 'f', "new\n", 0604},
      {"user's device", device, Destination::kNamedByUser, 0, 'c', "", -1},
  };
  for (const Case& c : cases) {
    boost::filesystem::remove_all(dir.Path("/out"));
    boost::filesystem::remove(dir.Path("/target"));
    std::string path = dir.Path("/out");
    if (geteuid() != 0 && c.typeAfter == 'c') continue;  // mknod needs root
    SCOPED_TRACE(c.name);
    c.make(path);
    EXPECT_EQ(c.error, Replace(path, c.destination));
    EXPECT_EQ(c.typeAfter, TypeOf(path));
    if (c.contentAfter != nullptr) {
      EXPECT_EQ(c.contentAfter, dir.Read("/out"));
    }
    if (c.modeAfter >= 0) {
      EXPECT_EQ(c.modeAfter, ModeOf(path));
    }
    if (c.typeAfter == 'l' && c.error != 0) {
      EXPECT_EQ(0600, ModeOf(dir.Path("/target")));
    }
    std::set<std::string> names = dir.List();  // no temporary file stays
    names.erase("target");
    EXPECT_EQ((std::set<std::string>{"out"}), names);
  }
  umask(saved);
}

// A link put in the destination's place after Begin is not renamed over
// (nor is its target's mode touched); the temporary file goes with the object.
TEST(FileReplacement, ALinkPlantedBeforeTheRenameIsRefused) {
  testing::TempRoot dir;
  dir.Write("/target", "target\n", 0600);
  std::string path = dir.Path("/out");
  {
    FileReplacement file;
    ASSERT_EQ(0, file.Begin(path, 0644, Destination::kFixedPath));
    ASSERT_EQ(0, file.Write("new\n", 4));
    ASSERT_EQ(0, symlink(dir.Path("/target").c_str(), path.c_str()));
    FileReplacement::Step failed;
    int modeError = -1;
    EXPECT_EQ(ELOOP, file.Commit(&failed, &modeError));
    EXPECT_EQ(FileReplacement::Step::kRename, failed);
  }
  EXPECT_EQ('l', TypeOf(path));
  EXPECT_EQ("target\n", dir.Read("/target"));
  EXPECT_EQ(0600, ModeOf(dir.Path("/target")));
  EXPECT_EQ((std::set<std::string>{"out", "target"}), dir.List());
}

TEST(FileReplacement, LeftoverTemporariesOfTheDestinationAloneAreRemoved) {
  testing::TempRoot dir;
  const std::set<std::string> removed{"rec.gz.a1B2c3", "rec.gz.ZZZZZZ"};
  const std::set<std::string> kept{"rec.gz", "rec.gz.a1B2c", "rec.gz.a1B2c34", "rec.gz.a1-2c3", "rec.gzXa1B2c3",
                                   "rec.g.a1B2c3", "xrec.gz.a1B2c3", "rec.gz.dir123"};
  for (const std::string& name : removed) dir.Write(name, "half\n");
  for (const std::string& name : kept) dir.Write(name, "keep\n");
  boost::filesystem::remove(dir.Path("rec.gz.dir123"));
  boost::filesystem::create_directory(dir.Path("rec.gz.dir123"));
  RemoveLeftoverTemporaries(dir.Path("rec.gz"));
  EXPECT_EQ(kept, dir.List());
}

}  // namespace
}  // namespace host
}  // namespace bootcrank
