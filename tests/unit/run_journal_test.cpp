// The run journal's lines and the replay they lead to.
#include "installer/platform/run_journal.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using installer::JournalEntry;
using installer::RecoveryAction;
using Kind = JournalEntry::Kind;
using Op = RecoveryAction::Op;

std::vector<JournalEntry> run() {
  return {{Kind::kFolder, u"C:\\App", {}},
          {Kind::kFolder, u"C:\\App\\数据", {}},
          {Kind::kFile, u"C:\\App\\a.txt.~0.part", {}},
          {Kind::kSetAside, u"C:\\App\\a.txt", u"C:\\App\\~setup-run\\0"},
          {Kind::kFile, u"C:\\App\\new.dll", {}},
          // The same name made, then replaced by a later entry of the package.
          {Kind::kSetAside, u"C:\\App\\new.dll", u"C:\\App\\~setup-run\\1"}};
}

std::string text(const std::vector<JournalEntry>& entries) {
  std::string bytes;
  for (const JournalEntry& e : entries) bytes += installer::journal_line(e);
  return bytes;
}

TEST(RunJournalTest, LinesReadBackAndATornLastLineIsDropped) {
  std::string bytes = text(run());
  EXPECT_EQ(installer::journal_line({Kind::kSetAside, u"C:\\a", u"C:\\b"}), "B\tC:\\a\tC:\\b\n");
  EXPECT_EQ(installer::journal_line({Kind::kCommit, {}, {}}), "C\n");
  auto back = installer::read_journal(bytes);
  ASSERT_EQ(back.size(), run().size());
  EXPECT_EQ(back[1].path, u"C:\\App\\数据");
  EXPECT_EQ(back[3].backup, u"C:\\App\\~setup-run\\0");
  // Killed while writing: the last line has no end, or half its fields.
  for (std::size_t cut : {bytes.size() - 1, bytes.size() - 10}) {
    auto torn = installer::read_journal(bytes.substr(0, cut));
    EXPECT_EQ(torn.size(), run().size() - 1) << cut;
  }
  // Anything that is no line of ours ends the reading.
  EXPECT_EQ(installer::read_journal("F\tC:\\x\nX\tC:\\y\nN\tC:\\z\n").size(), 1u);
  EXPECT_TRUE(installer::read_journal("B\tC:\\only-one-path\n").empty());
  EXPECT_TRUE(installer::read_journal("N\t\n").empty());
}

// Newest first: the file replaced twice comes back as it was before the
// run, and then goes, because the run made it.
TEST(RunJournalTest, AnInterruptedRunIsTakenBackNewestFirst) {
  auto actions = installer::recovery_actions(run());
  const std::vector<std::pair<Op, std::u16string>> expected = {
      {Op::kRestore, u"C:\\App\\new.dll"}, {Op::kRemoveFile, u"C:\\App\\new.dll"},
      {Op::kRestore, u"C:\\App\\a.txt"},   {Op::kRemoveFile, u"C:\\App\\a.txt.~0.part"},
      {Op::kRemoveFolder, u"C:\\App\\数据"}, {Op::kRemoveFolder, u"C:\\App"}};
  ASSERT_EQ(actions.size(), expected.size());
  for (std::size_t i = 0; i < actions.size(); ++i) {
    EXPECT_EQ(actions[i].op, expected[i].first) << i;
    EXPECT_EQ(actions[i].path, expected[i].second) << i;
  }
  EXPECT_EQ(actions[0].backup, u"C:\\App\\~setup-run\\1");
}

TEST(RunJournalTest, ACommittedRunOnlyLosesItsBackups) {
  auto journal = run();
  journal.push_back({Kind::kCommit, {}, {}});
  auto actions = installer::recovery_actions(installer::read_journal(text(journal)));
  ASSERT_EQ(actions.size(), 2u);
  for (const RecoveryAction& a : actions) EXPECT_EQ(a.op, Op::kDiscardBackup);
  EXPECT_EQ(actions[1].backup, u"C:\\App\\~setup-run\\1");
  EXPECT_TRUE(installer::recovery_actions({}).empty());
}

}  // namespace
