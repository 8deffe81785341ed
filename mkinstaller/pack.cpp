#include "mkinstaller/pack.h"

#include <fcntl.h>
#include <minizip/zip.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <optional>
#include <vector>

#include "installer/format/format.h"
#include "runtime/value/codepage.h"
#include "mkinstaller/checks.h"
#include "mkinstaller/files.h"

namespace fs = std::filesystem;

namespace mkinstaller {

namespace {

// What the listing saw of one entry.
struct Item {
  std::string name;   // below "{app}/", with "/" separators; folders end in "/"
  bool link = false;  // a link to a file inside the folder
  dev_t device = 0;
  ino_t inode = 0;
  std::uint64_t size = 0;
  bool folder() const { return name.back() == '/'; }
};

bool utf8_name_ok(const std::string& name, std::string* why) {
  std::u16string wide = rt::wide_from_utf8(name);
  if (rt::utf8_from_wide(wide) != name) {
    *why = "the file name is not UTF-8";
    return false;
  }
  std::size_t n = 0, bad = first_unspellable(wide, &n);
  if (bad != std::u16string::npos) {
    *why = "the character " + unspellable_text(std::u16string_view(wide).substr(bad, n)) +
           " of the file name cannot be written exactly in code page 936, in which the installer lists what it "
           "installs; rename the file";
    return false;
  }
  // The installer keeps entry names to 259 bytes of code page 936.
  if (rt::cp936_from_wide(wide).size() + 6 > 259) {
    *why = "the path is too long for the installer (at most 253 bytes)";
    return false;
  }
  return true;
}

// SOURCE_DATE_EPOCH, when set: the one time of every entry, so that the same
// files give the same bytes whenever they were checked out.
bool source_date_epoch(std::optional<std::time_t>* epoch, std::string* why) {
  const char* text = std::getenv("SOURCE_DATE_EPOCH");
  if (!text || !*text) return true;
  errno = 0;
  char* end = nullptr;
  long long value = std::strtoll(text, &end, 10);
  if (*end || errno || value < 0) {
    *why = "SOURCE_DATE_EPOCH must be a number of seconds since 1970, not '" + std::string(text) + "'";
    return false;
  }
  *epoch = static_cast<std::time_t>(value);
  return true;
}

// An entry's time as ZIP stores it (MS-DOS fields, 1980 at the earliest):
// SOURCE_DATE_EPOCH's in UTC, else the file's local time as ZIP tools take it.
tm_zip zip_time(const std::optional<std::time_t>& epoch, std::time_t mtime) {
  std::tm t{};
  if (epoch)
    gmtime_r(&*epoch, &t);
  else
    localtime_r(&mtime, &t);
  if (t.tm_year + 1900 < 1980) return tm_zip{0, 0, 0, 1, 0, 1980};
  return tm_zip{static_cast<uInt>(t.tm_sec),  static_cast<uInt>(t.tm_min), static_cast<uInt>(t.tm_hour),
                static_cast<uInt>(t.tm_mday), static_cast<uInt>(t.tm_mon), static_cast<uInt>(t.tm_year + 1900)};
}

// Shows how far packing has come, on a terminal only, at most every 1%.
struct Progress {
  bool shown = stderr_is_terminal();
  std::uint64_t total_bytes = 0, done_bytes = 0;
  std::size_t total_files = 0, done_files = 0;
  int last = -1;
  void step(std::uint64_t bytes, bool file_done) {
    done_bytes += bytes;
    if (file_done) ++done_files;
    if (!shown) return;
    int percent = total_bytes ? int(done_bytes * 100 / total_bytes) : 100;
    if (percent == last && !file_done) return;
    if (percent == last && done_files % 256 != 0 && done_files != total_files) return;
    last = percent;
    char line[160];
    std::snprintf(line, sizeof line, "\rpacking: %zu/%zu files, %llu/%llu MB (%d%%)", done_files, total_files,
                  static_cast<unsigned long long>(done_bytes >> 20), static_cast<unsigned long long>(total_bytes >> 20),
                  percent);
    std::fputs(line, stderr);
  }
  void end() {
    if (shown && last >= 0) std::fputs("\n", stderr);
  }
};

// A descriptor closed when dropped.
struct Descriptor {
  int fd = -1;
  explicit Descriptor(int f = -1) : fd(f) {}
  Descriptor(Descriptor&& o) noexcept : fd(o.fd) { o.fd = -1; }
  Descriptor& operator=(Descriptor&& o) noexcept {
    std::swap(fd, o.fd);
    return *this;
  }
  Descriptor(const Descriptor&) = delete;
  ~Descriptor() {
    if (fd >= 0) ::close(fd);
  }
};

// Where an open file lies, as the system names it.
std::string path_of(int fd) {
  char link[64], target[PATH_MAX + 1];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  ssize_t n = ::readlink(link, target, PATH_MAX);
  return n > 0 ? std::string(target, static_cast<std::size_t>(n)) : std::string();
}

// The listing: every entry below the folder with what it names, links to
// folders and links leading out of it left out (with a warning), names
// checked. Nothing is opened but folders to read them.
bool list_folder(const fs::path& root, const std::string& root_inside, const std::string& shown_root, const fs::path& out,
                 std::vector<Item>* items, bool* has_uninstaller, std::string* problem_file, std::string* why) {
  std::error_code ec;
  fs::recursive_directory_iterator it(root, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    const fs::directory_entry& e = *it;
    const std::string rel = ustr(e.path().lexically_relative(root).generic_string());
    const std::string shown = ustr(upath(shown_root) / upath(rel));
    struct stat seen {};
    if (::lstat(e.path().c_str(), &seen) != 0) continue;  // gone since it was listed
    Item item{rel, S_ISLNK(seen.st_mode)};
    if (item.link) {
      // A link may lead anywhere on the build machine: only what lies inside
      // the packed folder goes into a package.
      fs::path target = fs::weakly_canonical(e.path(), ec);
      if (::stat(e.path().c_str(), &seen) != 0) {
        warn(shown, "a link that leads nowhere; left out");
        continue;
      }
      if (S_ISDIR(seen.st_mode)) {
        warn(shown, "a link to a folder; left out");
        continue;
      }
      if (ustr(target).rfind(root_inside, 0) != 0) {
        warn(shown, "a link that leads out of the folder (to " + ustr(target) + "); left out");
        continue;
      }
    }
    fs::path canonical = fs::weakly_canonical(e.path(), ec);
    if (canonical == out || ustr(canonical).rfind(ustr(out) + ".tmp-", 0) == 0) continue;
    if (!S_ISDIR(seen.st_mode) && !S_ISREG(seen.st_mode)) {
      warn(shown, "not a regular file; left out");
      continue;
    }
    if (!utf8_name_ok(rel, why)) {
      *problem_file = shown;
      return false;
    }
    if (S_ISDIR(seen.st_mode)) item.name += "/";
    // A name Windows cannot hold, or opens as a device, refused at once.
    *why = rel.find('\\') != std::string::npos
               ? "the character \"\\\" (U+005C) of the file name is a folder separator on Windows; rename the file"
               : entry_name_problem(rt::wide_from_utf8("{app}/" + item.name), false);
    if (!why->empty()) {
      *problem_file = shown;
      return false;
    }
    if (!item.folder() && rel.find('/') == std::string::npos) {
      std::string lower = rel;
      std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
      *has_uninstaller |= lower == installer::format::kUninstallerFile;
    }
    item.device = seen.st_dev;
    item.inode = seen.st_ino;
    item.size = item.folder() ? 0 : static_cast<std::uint64_t>(seen.st_size);
    items->push_back(std::move(item));
  }
  if (ec) {
    *why = "cannot read the folder (" + ec.message() + ")";
    return false;
  }
  // One fixed order, whatever order the system lists in.
  std::sort(items->begin(), items->end(), [](const Item& a, const Item& b) { return a.name < b.name; });
  std::vector<std::string> names;
  for (const Item& item : *items) names.push_back("{app}/" + item.name);
  *why = same_name_problem(names);
  if (!why->empty()) {
    *problem_file = shown_root;
    return false;
  }
  return true;
}

// The folders open on the way to the current entry: each opened from the one
// above it without following a link, so nothing below them can lead out.
class FolderPath {
 public:
  explicit FolderPath(Descriptor root) { open_.emplace_back("", std::move(root)); }
  // The folder "a/b/" (or "" for the root), opened; -1 when it cannot be.
  int folder(const std::string& path) {
    while (path.compare(0, open_.back().first.size(), open_.back().first) != 0) open_.pop_back();
    while (open_.back().first.size() < path.size()) {
      const std::string& at = open_.back().first;
      std::size_t slash = path.find('/', at.size());
      std::string name = path.substr(at.size(), slash - at.size());
      Descriptor next(::openat(open_.back().second.fd, name.c_str(),
                               O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      if (next.fd < 0) return -1;
      open_.emplace_back(path.substr(0, slash + 1), std::move(next));
    }
    return open_.back().second.fd;
  }

 private:
  std::vector<std::pair<std::string, Descriptor>> open_;
};

// False with the reason; *write_failed when the package could not be
// written (a full disk), not the file read.
bool add_entry(zipFile zf, const std::string& name, int fd, const tm_zip& time, Progress& progress,
               std::string* why, bool* write_failed) {
  zip_fileinfo info{};
  const bool folder = fd < 0;
  info.tmz_date = time;
  info.external_fa = folder ? 0x10 : 0x20;  // MS-DOS attributes: folder, archive
  std::uint64_t size = 0;
  struct stat st {};
  if (!folder && ::fstat(fd, &st) == 0) size = static_cast<std::uint64_t>(st.st_size);
  const std::string entry = "{app}/" + name;
  int rc = zipOpenNewFileInZip4_64(zf, entry.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, folder ? 0 : Z_DEFLATED,
                                   Z_DEFAULT_COMPRESSION, 0, -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY, nullptr, 0,
                                   0, 1 << 11 /* names are UTF-8 */, size >= 0xFFFFFFFFull);
  // Read in pieces: a large file is never held whole.
  std::vector<char> buffer(folder ? 0 : 1 << 20);
  bool read_failed = false;
  while (rc == ZIP_OK && !folder) {
    ssize_t n = ::read(fd, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      read_failed = n < 0;
      break;
    }
    rc = zipWriteInFileInZip(zf, buffer.data(), static_cast<unsigned>(n));
    progress.step(static_cast<std::uint64_t>(n), false);
  }
  if (rc == ZIP_OK) rc = zipCloseFileInZip(zf);
  progress.step(0, true);
  *write_failed = !read_failed && rc != ZIP_OK;
  if (read_failed)
    *why = "cannot read the file";
  else if (rc != ZIP_OK)
    *why = "cannot write the file (disk full?); nothing was written";
  return rc == ZIP_OK && !read_failed;
}

// Opens what the listing saw as `item`, from its folder: a file never
// through a link (a listed link to a file inside the folder is followed, and
// where it leads is checked), a folder never through one either. The same
// file the listing saw, inside the folder, or nothing with the reason.
Descriptor open_listed(FolderPath& folders, const Item& item, const std::string& root_inside, std::string* why) {
  const std::string name = item.folder() ? item.name.substr(0, item.name.size() - 1) : item.name;
  const std::size_t slash = name.rfind('/');
  const int parent = folders.folder(slash == std::string::npos ? "" : name.substr(0, slash + 1));
  const std::string leaf = slash == std::string::npos ? name : name.substr(slash + 1);
  const int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | (item.link ? 0 : O_NOFOLLOW) | (item.folder() ? O_DIRECTORY : 0);
  Descriptor fd(parent < 0 ? -1 : ::openat(parent, leaf.c_str(), flags));
  struct stat st {};
  const bool same = fd.fd >= 0 && ::fstat(fd.fd, &st) == 0 && st.st_dev == item.device && st.st_ino == item.inode &&
                    (item.folder() ? S_ISDIR(st.st_mode) : S_ISREG(st.st_mode));
  const std::string where = fd.fd >= 0 ? path_of(fd.fd) : std::string();
  if (!same)
    *why = "changed while it was packed (replaced, or made a link); nothing was written: pack again";
  else if (where.empty())
    *why = "cannot tell where the file opened lies (is /proc mounted?)";
  else if (where.rfind(root_inside, 0) != 0)
    *why = "leads out of the folder (to " + where + "); nothing was written";
  else
    return fd;
  return Descriptor();
}

// minizip writes through the descriptor of the file this run created.
int g_package_fd = -1;
voidpf open_created(voidpf, const void*, int) { return fdopen(g_package_fd, "wb"); }

}  // namespace

bool pack_folder(const std::string& dir, const std::string& zip_path, const PackOptions& options, PackResult* result,
                 std::string* problem_file, std::string* why) {
  std::error_code ec;
  *problem_file = dir;
  std::optional<std::time_t> epoch;
  if (!source_date_epoch(&epoch, why)) {
    problem_file->clear();
    return false;
  }
  const fs::path root = upath(dir);
  Descriptor root_fd(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (root_fd.fd < 0) {
    *why = fs::is_directory(root, ec) ? "cannot read the folder" : fs::exists(root, ec) ? "not a folder" : "no such folder";
    return false;
  }
  const std::string root_inside = path_of(root_fd.fd) + "/";
  if (root_inside == "/") {
    *why = "cannot tell where the folder lies (is /proc mounted?)";
    return false;
  }
  // Listed from the folder just opened.
  const fs::path listed = upath(root_inside.substr(0, root_inside.size() - 1));
  std::vector<Item> items;
  bool has_uninstaller = false;
  if (!list_folder(listed, root_inside, dir, fs::weakly_canonical(upath(zip_path), ec), &items, &has_uninstaller,
                   problem_file, why))
    return false;
  Descriptor uninstaller_fd;
  if (!has_uninstaller && options.uninstaller) {
    std::string path = options.uninstaller(why);
    if (path.empty()) return false;
    uninstaller_fd = Descriptor(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (uninstaller_fd.fd < 0) {
      *problem_file = path;
      *why = "cannot read the file";
      return false;
    }
    result->added_uninstaller = true;
  }

  Progress progress;
  for (const Item& item : items) progress.total_bytes += item.size;
  progress.total_files = items.size() + result->added_uninstaller;
  TempFile temp;
  *problem_file = zip_path;
  if (!temp.create(zip_path, why)) return false;
  zlib_filefunc64_def functions;
  fill_fopen64_filefunc(&functions);
  functions.zopen64_file = open_created;
  g_package_fd = temp.release_descriptor();
  zipFile zf = zipOpen2_64(temp.path().c_str(), APPEND_STATUS_CREATE, nullptr, &functions);
  if (!zf) {
    if (g_package_fd >= 0) ::close(g_package_fd);
    *why = "cannot create the file";
    return false;
  }
  FolderPath folders(std::move(root_fd));
  bool ok = true, write_failed = false;
  for (const Item& item : items) {
    Descriptor fd = open_listed(folders, item, root_inside, why);
    struct stat st {};
    ok = fd.fd >= 0 && ::fstat(fd.fd, &st) == 0;
    if (ok)
      ok = add_entry(zf, item.name, item.folder() ? -1 : fd.fd, zip_time(epoch, st.st_mtime), progress, why,
                     &write_failed);
    if (!ok) {
      // A package that cannot be written is named, not the file being read.
      *problem_file = write_failed ? zip_path : ustr(upath(dir) / upath(item.name));
      break;
    }
    (item.folder() ? result->folders : result->files)++;
  }
  if (ok && result->added_uninstaller) {
    struct stat st {};
    ::fstat(uninstaller_fd.fd, &st);
    ok = add_entry(zf, installer::format::kUninstallerFile, uninstaller_fd.fd, zip_time(epoch, st.st_mtime), progress,
                   why, &write_failed);
    if (ok) ++result->files;
    if (!ok) *problem_file = zip_path;
  }
  progress.end();
  if (zipClose(zf, nullptr) != ZIP_OK || !ok) {
    if (ok) *why = "cannot write the file (disk full?); nothing was written";
    return false;
  }
  *problem_file = zip_path;
  return temp.commit(why);
}

}  // namespace mkinstaller
