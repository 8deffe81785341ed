// The run journal on disk under Wine: a run taken back, killed and put right
// by the next, committed; and a journal forged in a folder a person can
// write, which must never reach outside the installation folder.
#include "installer/platform/run_journal.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/value/codepage.h"
#include "tests/support/paths.h"
#include "tests/support/windows_win.h"

namespace {

using installer::Recovery;
using installer::RunJournal;

std::u16string u(const std::string& s) { return rt::wide_from_cp936(s); }
bool exists(const std::string& p) { return GetFileAttributesW(rt::wide_path(p).c_str()) != INVALID_FILE_ATTRIBUTES; }

// Files by code page 936 names, through the wide calls.
bool write(const std::string& path, const std::string& bytes) {
  HANDLE f = CreateFileW(rt::wide_path(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  DWORD n = 0;
  bool ok = WriteFile(f, bytes.data(), DWORD(bytes.size()), &n, nullptr) && n == bytes.size();
  CloseHandle(f);
  return ok;
}
std::string read(const std::string& path) {
  HANDLE f = CreateFileW(rt::wide_path(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return "(missing)";
  char buffer[256];
  DWORD n = 0;
  ReadFile(f, buffer, sizeof buffer, &n, nullptr);
  CloseHandle(f);
  return std::string(buffer, n);
}

class RunJournalWinTest : public testing::Test {
 protected:
  void SetUp() override {
    app = testsupport::scratch_dir("journal") + "\\app";
    CreateDirectoryW(rt::wide_path(app).c_str(), nullptr);
    ASSERT_TRUE(write(app + "\\a.txt", "v1"));
    ASSERT_TRUE(write(app + "\\ro.txt", "v1 read-only"));
    SetFileAttributesW(rt::wide_path(app + "\\ro.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  }

  // A run: a new folder and file, two earlier files replaced.
  void change(RunJournal& journal) {
    ASSERT_TRUE(journal.begin(u(app), {}));
    ASSERT_TRUE(journal.creating(u(app + "\\新"), true));
    ASSERT_TRUE(CreateDirectoryW(rt::wide_path(app + "\\新").c_str(), nullptr));
    ASSERT_TRUE(journal.creating(u(app + "\\新\\b.dll"), false));
    ASSERT_TRUE(write(app + "\\新\\b.dll", "v2"));
    for (const char* name : {"\\a.txt", "\\ro.txt"}) {
      ASSERT_TRUE(journal.set_aside(u(app + name)));
      EXPECT_FALSE(exists(app + name));
      ASSERT_TRUE(write(app + name, "v2"));
    }
  }
  void expect_version_one() {
    EXPECT_EQ(read(app + "\\a.txt"), "v1");
    EXPECT_EQ(read(app + "\\ro.txt"), "v1 read-only");
    EXPECT_NE(GetFileAttributesW(rt::wide_path(app + "\\ro.txt").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_FALSE(exists(app + "\\新"));
    EXPECT_FALSE(exists(app + "\\~setup-run"));
  }

  std::string app;
};

TEST_F(RunJournalWinTest, ATakenBackRunAndAKilledOneLeaveTheEarlierFilesAsTheyWere) {
  {
    RunJournal journal;
    change(journal);
    EXPECT_EQ(journal.roll_back(), Recovery::kTakenBack);
    expect_version_one();
  }
  {
    RunJournal journal;
    change(journal);
    journal.abandon();  // killed: the journal stays on disk
    EXPECT_TRUE(exists(app + "\\~setup-run\\journal"));
  }
  EXPECT_EQ(installer::recover_interrupted_run(rt::Text(app)), Recovery::kTakenBack);
  expect_version_one();
  EXPECT_EQ(installer::recover_interrupted_run(rt::Text(app)), Recovery::kNone);
}

// A first installation made the installation folder and two above it:
// taken back by its own run or, once killed, by the next, each goes when
// empty; one holding a file a person put there stays.
TEST_F(RunJournalWinTest, FoldersARunMadeAboveTheInstallationFolderGoWhenEmpty) {
  const std::string base = testsupport::scratch_dir("journal-above");
  const std::string outer = base + "\\上", middle = outer + "\\层", folder = middle + "\\app";
  for (bool killed : {false, true}) {
    SCOPED_TRACE(killed ? "killed" : "taken back");
    for (const std::string& f : {outer, middle, folder}) ASSERT_TRUE(CreateDirectoryW(rt::wide_path(f).c_str(), nullptr));
    if (killed) ASSERT_TRUE(write(outer + "\\mine.txt", "a person's"));
    RunJournal journal;
    ASSERT_TRUE(journal.begin(u(folder), {u(outer), u(middle), u(folder)}));
    ASSERT_TRUE(journal.creating(u(folder + "\\a.txt"), false));
    ASSERT_TRUE(write(folder + "\\a.txt", "new"));
    if (killed) {
      journal.abandon();
      EXPECT_EQ(installer::recover_interrupted_run(rt::Text(folder)), Recovery::kTakenBack);
    } else {
      EXPECT_EQ(journal.roll_back(), Recovery::kTakenBack);
    }
    EXPECT_FALSE(exists(middle));
    EXPECT_EQ(exists(outer), killed);
    DeleteFileW(rt::wide_path(outer + "\\mine.txt").c_str());
    RemoveDirectoryW(rt::wide_path(outer).c_str());
  }
}

TEST_F(RunJournalWinTest, ACommittedRunKeepsTheNewFilesAndDropsItsBackups) {
  RunJournal journal;
  change(journal);
  // The folder is held: it cannot be renamed away (and a link put there).
  EXPECT_FALSE(MoveFileW(rt::wide_path(app).c_str(), rt::wide_path(app + "-moved").c_str()));
  EXPECT_TRUE(journal.commit());
  EXPECT_EQ(read(app + "\\a.txt"), "v2");
  EXPECT_EQ(read(app + "\\新\\b.dll"), "v2");
  EXPECT_FALSE(exists(app + "\\~setup-run"));
  // A run killed after its commit is finished by the next: backups go, files stay.
  std::string run = app + "\\~setup-run";
  CreateDirectoryW(rt::wide_path(run).c_str(), nullptr);
  ASSERT_TRUE(write(run + "\\0", "v2 backup"));
  ASSERT_TRUE(write(run + "\\journal", "B\t" + rt::utf8_from_cp936(app) + "\\a.txt\t" +
                                                             rt::utf8_from_cp936(run) + "\\0\nC\n"));
  EXPECT_EQ(installer::recover_interrupted_run(rt::Text(app)), Recovery::kCompleted);
  EXPECT_EQ(read(app + "\\a.txt"), "v2");
  EXPECT_FALSE(exists(run));
}

// The installation folder of the unscoped layout is the person's to write:
// a journal placed there by them (or their malware) names files elsewhere,
// backups elsewhere, and a folder that is a link to a victim folder. The
// elevated replay touches none of it.
TEST_F(RunJournalWinTest, AForgedJournalNeverReachesOutsideTheFolderOrThroughALink) {
  std::string victim = testsupport::scratch_dir("journal-victim");
  const std::string victim_name = victim.substr(victim.rfind('\\') + 1);
  ASSERT_TRUE(write(victim + "\\keep.txt", "victim"));
  ASSERT_TRUE(write(victim + "\\keep2.txt", "victim"));
  ASSERT_TRUE(testsupport::make_link(app + "\\link", victim));
  std::string run = app + "\\~setup-run";
  auto line = [](char kind, const std::string& a, const std::string& b = "") {
    return std::string(1, kind) + "\t" + rt::utf8_from_cp936(a) + (b.empty() ? "" : "\t" + rt::utf8_from_cp936(b)) + "\n";
  };
  // Each journal also names a file of its own run: a journal that names
  // anything it could not have written is refused before anything of it is
  // done, that file included.
  const std::string own = line('N', app + "\\made.txt");
  const std::string forged[] = {
      line('N', victim + "\\keep.txt"),
      line('N', app + "\\link\\keep2.txt"),
      line('B', app + "\\a.txt", victim + "\\keep.txt"),
      line('F', victim),
      // The restore target climbs out as text: "<folder>\..\<victim>\evil.dll".
      line('B', app + "\\..\\..\\" + victim_name + "\\evil.dll", run + "\\0"),
      line('B', app + "\\a.txt", run + "\\..\\ro.txt"),
      line('N', app + "\\.\\a.txt"),
      line('N', app + "\\CON"),
      line('N', app + "\\a.txt:hidden"),
      line('N', "\\\\?\\" + app + "\\a.txt"),
  };
  for (const std::string& entry : forged) {
    SCOPED_TRACE(entry);
    CreateDirectoryW(rt::wide_path(run).c_str(), nullptr);
    ASSERT_TRUE(write(run + "\\0", "the attacker's library"));
    ASSERT_TRUE(write(app + "\\made.txt", "made"));
    ASSERT_TRUE(write(run + "\\journal", own + entry));
    EXPECT_EQ(installer::recover_interrupted_run(rt::Text(app)), Recovery::kFailed);
    EXPECT_EQ(read(victim + "\\keep.txt"), "victim");
    EXPECT_EQ(read(victim + "\\keep2.txt"), "victim");
    EXPECT_FALSE(exists(victim + "\\evil.dll"));
    EXPECT_EQ(read(app + "\\a.txt"), "v1");
    EXPECT_EQ(read(app + "\\ro.txt"), "v1 read-only");
    EXPECT_EQ(read(app + "\\made.txt"), "made") << "a refused journal did part of its work";
    EXPECT_EQ(read(run + "\\0"), "the attacker's library");
  }
  // A run folder that is itself a link is never entered.
  for (const char* f : {"\\journal", "\\0"}) ASSERT_TRUE(DeleteFileW(rt::wide_path(run + f).c_str()));
  ASSERT_TRUE(RemoveDirectoryW(rt::wide_path(run).c_str()));
  ASSERT_TRUE(testsupport::make_link(run, victim));
  EXPECT_EQ(installer::recover_interrupted_run(rt::Text(app)), Recovery::kFailed);
  EXPECT_TRUE(exists(victim + "\\keep.txt"));
}

}  // namespace
