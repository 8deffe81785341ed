#include "mkinstaller/pack.h"

#include <minizip/zip.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <vector>

#include "installer/format/format.h"
#include "runtime/value/codepage.h"
#include "mkinstaller/files.h"

namespace fs = std::filesystem;

namespace mkinstaller {

namespace {

struct Item {
  std::string name;  // below "{app}/", with "/" separators; folders end in "/"
  fs::path source;
  bool folder() const { return name.back() == '/'; }
};

bool utf8_name_ok(const std::string& name, std::string* why) {
  std::u16string wide = rt::wide_from_utf8(name);
  if (rt::utf8_from_wide(wide) != name) {
    *why = "the file name is not UTF-8";
    return false;
  }
  for (std::size_t i = 0; i < wide.size(); ++i) {
    std::size_t n = (wide[i] >= 0xD800 && wide[i] < 0xDC00 && i + 1 < wide.size()) ? 2 : 1;
    if (!rt::cp936_can_hold(std::u16string_view(wide.data() + i, n))) {
      *why = "the character \"" + rt::utf8_from_wide(wide.substr(i, n)) +
             "\" of the file name cannot be written in code page 936, the installer's text encoding";
      return false;
    }
    i += n - 1;
  }
  // The installer keeps entry names to 259 bytes of code page 936.
  if (rt::cp936_from_wide(wide).size() + 6 > 259) {
    *why = "the path is too long for the installer (at most 253 bytes)";
    return false;
  }
  return true;
}

tm_zip zip_time(const fs::path& p) {
  struct stat st {};
  tm_zip t{};
  t.tm_year = 1980;
  t.tm_mday = 1;
  if (stat(p.c_str(), &st) == 0) {
    std::tm local{};
    localtime_r(&st.st_mtime, &local);
    if (local.tm_year + 1900 >= 1980) {
      t = tm_zip{static_cast<uInt>(local.tm_sec),  static_cast<uInt>(local.tm_min),
                 static_cast<uInt>(local.tm_hour), static_cast<uInt>(local.tm_mday),
                 static_cast<uInt>(local.tm_mon),  static_cast<uInt>(local.tm_year + 1900)};
    }
  }
  return t;
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

bool add_entry(zipFile zf, const Item& item, Progress& progress, std::string* why) {
  zip_fileinfo info{};
  bool folder = item.folder();
  info.tmz_date = zip_time(item.source);
  info.external_fa = folder ? 0x10 : 0x20;  // MS-DOS attributes: folder, archive
  std::FILE* in = nullptr;
  std::uint64_t size = 0;
  if (!folder) {
    // Read in pieces: a large file is never held whole.
    in = std::fopen(item.source.c_str(), "rb");
    struct stat st {};
    if (!in || fstat(fileno(in), &st) != 0) {
      if (in) std::fclose(in);
      *why = "cannot read the file";
      return false;
    }
    size = static_cast<std::uint64_t>(st.st_size);
  }
  std::string name = "{app}/" + item.name;
  int rc = zipOpenNewFileInZip4_64(zf, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, folder ? 0 : Z_DEFLATED,
                                   Z_DEFAULT_COMPRESSION, 0, -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY, nullptr, 0,
                                   0, 1 << 11 /* names are UTF-8 */, size >= 0xFFFFFFFFull);
  std::vector<char> buffer(in ? 1 << 20 : 0);
  bool read_failed = false;
  while (rc == ZIP_OK && in) {
    std::size_t n = std::fread(buffer.data(), 1, buffer.size(), in);
    if (n == 0) {
      read_failed = std::ferror(in) != 0;
      break;
    }
    rc = zipWriteInFileInZip(zf, buffer.data(), static_cast<unsigned>(n));
    progress.step(n, false);
  }
  if (in) std::fclose(in);
  if (rc == ZIP_OK) rc = zipCloseFileInZip(zf);
  progress.step(0, true);
  if (read_failed) *why = "cannot read the file";
  else if (rc != ZIP_OK) *why = "cannot write it into the package";
  return rc == ZIP_OK && !read_failed;
}

// minizip writes through the descriptor of the file this run created.
int g_package_fd = -1;
voidpf open_created(voidpf, const void*, int) { return fdopen(g_package_fd, "wb"); }

}  // namespace

bool pack_folder(const std::string& dir, const std::string& zip_path, const std::optional<std::string>& uninstaller,
                 PackResult* result, std::string* problem_file, std::string* why) {
  std::error_code ec;
  fs::path root = upath(dir);
  if (!fs::is_directory(root, ec)) {
    *problem_file = dir;
    *why = fs::exists(root, ec) ? "not a folder" : "no such folder";
    return false;
  }
  fs::path out = fs::weakly_canonical(upath(zip_path), ec);
  fs::path root_canonical = fs::canonical(root, ec);
  std::vector<Item> items;
  bool has_uninstaller = false;
  fs::recursive_directory_iterator it(root, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    const fs::directory_entry& e = *it;
    std::string rel = ustr(e.path().lexically_relative(root).generic_string());
    if (e.is_symlink(ec) && e.is_directory(ec)) {
      warn(ustr(e.path()), "a link to a folder; left out");
      continue;
    }
    fs::path canonical = fs::weakly_canonical(e.path(), ec);
    if (e.is_symlink(ec)) {
      // A link may lead anywhere on the build machine: only what lies inside
      // the packed folder goes into a package.
      auto [end, at] = std::mismatch(root_canonical.begin(), root_canonical.end(), canonical.begin(), canonical.end());
      if (end != root_canonical.end()) {
        warn(ustr(e.path()), "a link that leads out of the folder (to " + ustr(canonical) + "); left out");
        continue;
      }
    }
    if (canonical == out || ustr(canonical).rfind(ustr(out) + ".tmp-", 0) == 0) continue;
    bool folder = e.is_directory(ec);
    if (!folder && !e.is_regular_file(ec)) {
      warn(ustr(e.path()), "not a regular file; left out");
      continue;
    }
    if (!utf8_name_ok(rel, why)) {
      *problem_file = ustr(e.path());
      return false;
    }
    if (!folder && rel.find('/') == std::string::npos) {
      std::string lower = rel;
      std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
      has_uninstaller |= lower == installer::format::kUninstallerFile;
    }
    items.push_back(Item{folder ? rel + "/" : rel, e.path()});
  }
  if (ec) {
    *problem_file = dir;
    *why = "cannot read the folder (" + ec.message() + ")";
    return false;
  }
  std::sort(items.begin(), items.end(), [](const Item& a, const Item& b) { return a.name < b.name; });
  if (!has_uninstaller && uninstaller) {
    items.push_back(Item{installer::format::kUninstallerFile, upath(*uninstaller)});
    result->added_uninstaller = true;
  }

  Progress progress;
  for (const Item& item : items) {
    std::error_code size_ec;
    if (!item.folder()) progress.total_bytes += fs::file_size(item.source, size_ec);
    ++progress.total_files;
  }
  TempFile temp;
  if (!temp.create(zip_path, why)) {
    *problem_file = zip_path;
    return false;
  }
  zlib_filefunc64_def functions;
  fill_fopen64_filefunc(&functions);
  functions.zopen64_file = open_created;
  g_package_fd = temp.release_descriptor();
  zipFile zf = zipOpen2_64(temp.path().c_str(), APPEND_STATUS_CREATE, nullptr, &functions);
  if (!zf) {
    if (g_package_fd >= 0) ::close(g_package_fd);
    *problem_file = zip_path;
    *why = "cannot create the file";
    return false;
  }
  for (const Item& item : items) {
    if (!add_entry(zf, item, progress, why)) {
      progress.end();
      zipClose(zf, nullptr);
      *problem_file = ustr(item.source);
      return false;
    }
    (item.folder() ? result->folders : result->files)++;
  }
  progress.end();
  if (zipClose(zf, nullptr) != ZIP_OK || !temp.commit(why)) {
    *problem_file = zip_path;
    *why = "cannot write the file";
    return false;
  }
  return true;
}

}  // namespace mkinstaller
