// The run journal as a later run or the uninstaller reads it after a kill:
// any bytes (a torn last line, a forged one) read to the entries that are
// whole, written again to the same entries, and replayed in the order that
// takes a run back or completes it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "installer/platform/run_journal.h"

namespace {

using installer::JournalEntry;
using installer::RecoveryAction;

void check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 256 * 1024) return 0;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::vector<JournalEntry> entries = installer::read_journal(bytes);

  // What was read is what the run wrote: its lines read back the same.
  std::string again;
  bool committed = false;
  std::size_t undone = 0;
  for (const JournalEntry& e : entries) {
    check(e.kind == JournalEntry::Kind::kCommit ? e.path.empty() : !e.path.empty());
    check((e.kind == JournalEntry::Kind::kSetAside) != e.backup.empty());
    again += installer::journal_line(e);
    committed = committed || e.kind == JournalEntry::Kind::kCommit;
    undone += e.kind != JournalEntry::Kind::kCommit;
  }
  const std::vector<JournalEntry> reread = installer::read_journal(again);
  check(reread.size() == entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i)
    check(reread[i].kind == entries[i].kind && reread[i].path == entries[i].path &&
          reread[i].backup == entries[i].backup);

  // A committed run only lets its backups go; any other is undone line by
  // line, newest first.
  const std::vector<RecoveryAction> actions = installer::recovery_actions(entries);
  if (committed) {
    for (const RecoveryAction& a : actions) check(a.op == RecoveryAction::Op::kDiscardBackup);
  } else {
    check(actions.size() == undone);
    for (std::size_t i = 0, j = entries.size(); i < actions.size(); ++i) {
      while (entries[--j].kind == JournalEntry::Kind::kCommit) {}
      check(actions[i].path == entries[j].path);
    }
  }
  return 0;
}
