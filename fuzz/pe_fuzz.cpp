// Reads arbitrary bytes as a PE image; when they parse, changes the resources
// and checks that what the writer makes reads back and rewrites identically,
// and that a resource streamed from a source gives the same file.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "mkinstaller/pe_resources.h"

namespace {

class Source : public rt::ResourceSource {
 public:
  explicit Source(std::string bytes) : bytes_(std::move(bytes)) {}
  std::uint64_t size() const override { return bytes_.size(); }
  bool read_at(std::uint64_t offset, void* buffer, std::size_t n) override {
    if (offset > bytes_.size() || n > bytes_.size() - offset) std::abort();  // the writer reads only what it has
    std::memcpy(buffer, bytes_.data() + offset, n);
    return true;
  }

 private:
  std::string bytes_;
};

class Sink : public rt::ByteSink {
 public:
  std::string bytes;
  bool write(const char* data, std::size_t n) override {
    bytes.append(data, n);
    return true;
  }
  bool write_at(std::uint64_t offset, const char* data, std::size_t n) override {
    if (offset > bytes.size() || n > bytes.size() - offset) std::abort();  // only over what was written
    std::memcpy(&bytes[offset], data, n);
    return true;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  rt::PeResources pe;
  std::string error;
  if (!pe.load(std::string(reinterpret_cast<const char*>(data), size), &error)) return 0;
  for (const rt::ResourceInfo& r : pe.list()) pe.find(r.type, r.name, r.language);
  rt::ResourceId type = rt::ResourceId::of_text("SYSTEM"), name = rt::ResourceId::of_text("102");
  pe.set(type, name, 0, "record");
  std::string out;
  if (!pe.save(&out, &error)) return 0;
  // Nothing but the tree changed: the output may not balloon past the input.
  if (out.size() > 5 * size + (2u << 20)) std::abort();
  rt::PeResources back;
  if (!back.load(out, &error)) std::abort();
  const std::string* found = back.find(type, name, 0);
  if (!found || *found != "record") std::abort();
  std::string again;
  if (!back.save(&again, &error) || again != out) std::abort();
  // The same resource from a source: the same bytes, streamed.
  const std::string package(static_cast<std::size_t>(size % 4099), 'p');
  rt::ResourceId package_name = rt::ResourceId::of_text("103");
  back.set(type, package_name, 0, package);
  std::string held;
  bool saved = back.save(&held, &error);
  back.set_source(type, package_name, 0, std::make_shared<Source>(package));
  Sink streamed;
  if (back.save(streamed, &error) != saved || (saved && streamed.bytes != held)) std::abort();
  return 0;
}
