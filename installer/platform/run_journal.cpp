#include "installer/platform/run_journal.h"

#include "runtime/value/codepage.h"

namespace installer {

namespace {

bool known_kind(char c) { return c == 'F' || c == 'N' || c == 'B' || c == 'C'; }

}  // namespace

std::string journal_line(const JournalEntry& entry) {
  std::string line(1, static_cast<char>(entry.kind));
  if (entry.kind != JournalEntry::Kind::kCommit) {
    line += '\t';
    line += rt::utf8_from_wide(entry.path);
  }
  if (entry.kind == JournalEntry::Kind::kSetAside) {
    line += '\t';
    line += rt::utf8_from_wide(entry.backup);
  }
  line += '\n';
  return line;
}

std::vector<JournalEntry> read_journal(std::string_view bytes) {
  std::vector<JournalEntry> entries;
  while (!bytes.empty()) {
    std::size_t end = bytes.find('\n');
    if (end == std::string_view::npos) break;  // torn: the run ended while writing it
    std::string_view line = bytes.substr(0, end);
    bytes.remove_prefix(end + 1);
    if (line.empty() || !known_kind(line[0])) break;
    JournalEntry entry;
    entry.kind = static_cast<JournalEntry::Kind>(line[0]);
    std::vector<std::string_view> fields;
    for (std::size_t at = 1; at < line.size();) {
      if (line[at] != '\t') break;
      std::size_t next = line.find('\t', at + 1);
      if (next == std::string_view::npos) next = line.size();
      fields.push_back(line.substr(at + 1, next - at - 1));
      at = next;
    }
    const std::size_t wanted = entry.kind == JournalEntry::Kind::kCommit   ? 0
                               : entry.kind == JournalEntry::Kind::kSetAside ? 2
                                                                              : 1;
    if (fields.size() != wanted) break;
    for (std::string_view f : fields)
      if (f.empty()) return entries;
    if (wanted > 0) entry.path = rt::wide_from_utf8(fields[0]);
    if (wanted > 1) entry.backup = rt::wide_from_utf8(fields[1]);
    entries.push_back(std::move(entry));
  }
  return entries;
}

std::vector<RecoveryAction> recovery_actions(const std::vector<JournalEntry>& journal) {
  using Op = RecoveryAction::Op;
  std::vector<RecoveryAction> actions;
  bool committed = false;
  for (const JournalEntry& e : journal) committed = committed || e.kind == JournalEntry::Kind::kCommit;
  if (committed) {
    for (const JournalEntry& e : journal)
      if (e.kind == JournalEntry::Kind::kSetAside) actions.push_back({Op::kDiscardBackup, e.path, e.backup});
    return actions;
  }
  for (auto it = journal.rbegin(); it != journal.rend(); ++it) {
    switch (it->kind) {
      case JournalEntry::Kind::kFolder: actions.push_back({Op::kRemoveFolder, it->path, {}}); break;
      case JournalEntry::Kind::kFile: actions.push_back({Op::kRemoveFile, it->path, {}}); break;
      case JournalEntry::Kind::kSetAside: actions.push_back({Op::kRestore, it->path, it->backup}); break;
      case JournalEntry::Kind::kCommit: break;
    }
  }
  return actions;
}

}  // namespace installer
