// Reads arbitrary bytes as a PE image; when they parse, changes the resources
// and checks that what the writer makes reads back and rewrites identically.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "mkinstaller/pe_resources.h"

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
  return 0;
}
