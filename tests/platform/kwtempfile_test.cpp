// Replacing a file through a temporary one: never through a link planted at
// a name that could be guessed, within the umask for a new file, and never
// keeping a mode that lets others write.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>

#include "kwtest/tempdir.h"
#include "platform/kwatomicfile.h"
#include "platform/kwtempfile.h"

namespace fs = std::filesystem;

namespace {

// Sets the umask for one test and restores it.
class ScopedUmask {
 public:
  explicit ScopedUmask(mode_t mask) : saved_(::umask(mask)) {}
  ~ScopedUmask() { ::umask(saved_); }

 private:
  mode_t saved_;
};

mode_t ModeOf(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

TEST(AtomicReplace, LinksAtGuessableTemporaryNamesAreNeverWrittenThrough) {
  kwtest::TempDir t;
  const std::string victim = t / "victim";
  kwtest::WriteFile(victim, "the user's own bytes");
  ::chmod(victim.c_str(), 0600);
  const std::string target = t / "settings.ini";
  // Every name a pid and a counter could give, and the usual suffixes.
  for (int n = 0; n < 64; ++n) {
    const std::string guess =
        target + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(n);
    fs::create_symlink(victim, guess);
  }
  fs::create_symlink(victim, target + ".part");
  fs::create_symlink(victim, target + ".tmp");
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(KwReplaceFileAtomic(target, "[A]\nB=" + std::to_string(i) + "\n", 0755), 0);
  }
  EXPECT_EQ(kwtest::ReadFile(victim), "the user's own bytes");
  EXPECT_EQ(ModeOf(victim), 0600u);
  EXPECT_EQ(kwtest::ReadFile(target), "[A]\nB=2\n");
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(target)));
  // Nothing of the temporary files is left beside the target.
  int parts = 0;
  for (const auto& e : fs::directory_iterator(t.path())) {
    if (e.path().filename().string().find(".part") != std::string::npos &&
        !fs::is_symlink(e.symlink_status()))
      ++parts;
  }
  EXPECT_EQ(parts, 0);
}

TEST(AtomicReplace, NewFilesFollowTheUmaskAndNoModeStaysWorldWritable) {
  kwtest::TempDir t;
  {
    ScopedUmask mask(077);
    ASSERT_EQ(KwReplaceFileAtomic(t / "new", "x", 0755), 0);
    EXPECT_EQ(ModeOf(t / "new"), 0700u);
  }
  ScopedUmask mask(022);
  ASSERT_EQ(KwReplaceFileAtomic(t / "plain", "x", 0644), 0);
  EXPECT_EQ(ModeOf(t / "plain"), 0644u);
  // An existing file passes its mode on, but not write access for others
  // nor set-id bits.
  kwtest::WriteFile(t / "open", "old");
  ::chmod((t / "open").c_str(), 04777);
  ASSERT_EQ(KwReplaceFileAtomic(t / "open", "new", 0644), 0);
  EXPECT_EQ(ModeOf(t / "open"), 0775u);
  kwtest::WriteFile(t / "private", "old");
  ::chmod((t / "private").c_str(), 0600);
  ASSERT_EQ(KwReplaceFileAtomic(t / "private", "new", 0644), 0);
  EXPECT_EQ(ModeOf(t / "private"), 0600u);
  // A link at the target is replaced, and its target's mode means nothing.
  kwtest::WriteFile(t / "elsewhere", "theirs");
  ::chmod((t / "elsewhere").c_str(), 0666);
  fs::create_symlink(t / "elsewhere", t / "linked");
  ASSERT_EQ(KwReplaceFileAtomic(t / "linked", "mine", 0644), 0);
  EXPECT_EQ(kwtest::ReadFile(t / "elsewhere"), "theirs");
  EXPECT_EQ(ModeOf(t / "linked"), 0644u);
}

TEST(TempBeside, NamesAreFreshAndATakenNameIsNeverOpened) {
  kwtest::TempDir t;
  std::set<std::string> names;
  for (int i = 0; i < 20; ++i) {
    std::string name;
    int fd = KwCreateTempBeside(t / "out", &name);
    ASSERT_GE(fd, 0);
    ::close(fd);
    EXPECT_EQ(name.rfind(t / "out.", 0), 0u) << name;
    EXPECT_EQ(ModeOf(name), 0600u);
    names.insert(name);
  }
  EXPECT_EQ(names.size(), 20u);
  std::string name;
  EXPECT_LT(KwCreateTempBeside(t / "no/such/folder/out", &name), 0);
}

}  // namespace
