// The installed-file list: the contract between an install run and every
// later run and uninstallation. One target path per line, each line ending
// with CR LF, "\" as separator, a folder's line ending with "\"; code page
// 936; sealed with the record cipher and the record's pass phrase. Every place
// that reads, writes or compares listed paths goes through this codec.
// A line may carry, after a tab, the mark of the file the run made there (a
// file outside the installation folder: the uninstaller removes only that
// very file). Lines beginning with "|" (a character no Windows name holds)
// are the installation's properties, "|key=value": who it was made for and
// the software's name, which the uninstaller takes from its own list rather
// than from any entry in the registry.
#pragma once

#include <string>
#include <string_view>

#include "runtime/value/value.h"

namespace installer::format {

rt::Bytes seal_installed_list(const rt::Text& list);
// Empty for empty or missing data.
rt::Text open_installed_list(const rt::Bytes& sealed);

// One line of a list: the path as written (a folder's with its trailing
// separator) and whether it names a folder.
struct ListedPath {
  std::string_view path;
  bool folder = false;
  std::string_view mark;  // what followed a tab; empty for most lines
};

// The lines of a list, in order, empty lines skipped; a lone LF ends a line
// too. Views into the list, which must outlive the iteration.
class ListLines {
 public:
  explicit ListLines(std::string_view list) : list_(list) {}
  class iterator {
   public:
    iterator(std::string_view rest) : rest_(rest) { next(); }
    const ListedPath& operator*() const { return current_; }
    const ListedPath* operator->() const { return &current_; }
    iterator& operator++() {
      next();
      return *this;
    }
    bool operator!=(const iterator& other) const { return at_end_ != other.at_end_ || rest_.data() != other.rest_.data(); }
    bool operator==(const iterator& other) const { return !(*this != other); }

   private:
    void next();
    std::string_view rest_;
    ListedPath current_;
    bool at_end_ = false;
  };
  iterator begin() const { return iterator(list_); }
  iterator end() const { return iterator(std::string_view()); }

 private:
  std::string_view list_;
};

// Appends one path as a line: "/" written as "\", the mark after a tab
// when given, CR LF after it.
void append_listed(std::string& list, std::string_view path, std::string_view mark = {});

// The installation's properties.
inline constexpr char kListScope[] = "scope";  // "user", "machine", or "" for the older layout
inline constexpr char kListName[] = "name";    // the software's name
// The outermost folder an install run made above the installation folder:
// it and the folders below it down to the installation folder go, when
// empty, with the installation.
inline constexpr char kListMadeAbove[] = "made";
// A property's value; empty when the list has none.
std::string list_property(std::string_view list, std::string_view key);
// The list with the property set (before its paths, replacing an earlier value).
std::string with_list_property(std::string_view list, std::string_view key, std::string_view value);

// The one key two listed paths (or a listed path and a target) are compared
// by, as Windows compares paths: "/" as "\", a run of separators as one (a
// UNC path keeps its leading pair), "." components dropped, a trailing
// separator dropped (not a drive root's), ASCII letters lowered outside
// double-byte characters. ".." is left as it is: a reader that cannot allow
// it refuses it on its own.
std::string listed_path_key(std::string_view path);
inline bool same_listed_path(std::string_view a, std::string_view b) { return listed_path_key(a) == listed_path_key(b); }

// This run's list (its properties and lines) followed by the earlier lines
// it lacks, each path once; the earlier list's properties are not kept.
rt::Text merge_installed_lists(const rt::Text& current, const rt::Text& earlier);

}  // namespace installer::format
