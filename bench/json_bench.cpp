// Parses and serializes a generated 20 MB document with the project's JSON
// module, RapidJSON and nlohmann/json, on the same input in the same run,
// and prints the throughput of each with the ratios.
#include <time.h>

#include <cstdio>
#include <functional>
#include <string>

#include <nlohmann/json.hpp>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "json/document.h"
#include "runtime/value/codepage.h"

namespace {

double now() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec + t.tv_nsec / 1e9;
}

// Records of the shape an application feed has: numbers written in several
// ways, short strings with escapes, nested objects and arrays.
std::string generate(std::size_t bytes) {
  std::string s = "{\"generator\":\"bench\",\"items\":[";
  char buf[512];
  for (unsigned i = 0; s.size() < bytes; ++i) {
    std::snprintf(buf, sizeof buf,
                  "%s{\"id\":%u,\"name\":\"item %u\",\"price\":%u.%02u,\"ratio\":%.6e,\"active\":%s,"
                  "\"path\":\"C:\\\\Program Files\\\\app%u\\\\bin\",\"note\":\"line\\nnext \\\"quoted\\\"\","
                  "\"tags\":[\"alpha\",\"beta\",%u],\"pos\":{\"x\":%d,\"y\":-%u.5,\"z\":null}}",
                  i ? "," : "", i, i, i % 1000, i % 100, i * 1.37e-3, i % 3 ? "true" : "false", i % 50, i % 7,
                  static_cast<int>(i % 1920), i % 1080);
    s += buf;
  }
  s += "]}";
  return s;
}

struct Figures {
  double parse_s;
  double write_s;
  std::size_t out_bytes;
};

constexpr int kRuns = 5;

double timed(const std::function<void()>& f) {
  double t0 = now();
  f();
  return now() - t0;
}

void keep_best(Figures& best, const Figures& f) {
  if (f.parse_s < best.parse_s) best.parse_s = f.parse_s;
  if (f.write_s < best.write_s) best.write_s = f.write_s;
  best.out_bytes = f.out_bytes;
}

Figures ours_text(const std::string& text) {
  Figures f{};
  json::JsonDocument doc;
  f.parse_s = timed([&] {
    if (!doc.load(text)) std::fprintf(stderr, "parse failed\n");
  });
  f.write_s = timed([&] { f.out_bytes = doc.to_json().size(); });
  return f;
}

Figures ours_wide(const std::u16string& text) {
  Figures f{};
  json::JsonDocument doc;
  f.parse_s = timed([&] {
    if (!doc.load_wide(text)) std::fprintf(stderr, "parse failed\n");
  });
  f.write_s = timed([&] { f.out_bytes = doc.to_json_wide().size() * 2; });
  return f;
}

Figures rapid(const std::string& text) {
  Figures f{};
  rapidjson::Document doc;
  f.parse_s = timed([&] {
    doc.Parse(text.c_str());
    if (doc.HasParseError()) std::fprintf(stderr, "rapidjson parse failed\n");
  });
  f.write_s = timed([&] {
    rapidjson::StringBuffer out;
    rapidjson::Writer<rapidjson::StringBuffer> writer(out);
    doc.Accept(writer);
    f.out_bytes = out.GetSize();
  });
  return f;
}

Figures nlohmann_json(const std::string& text) {
  Figures f{};
  nlohmann::json doc;
  f.parse_s = timed([&] { doc = nlohmann::json::parse(text); });
  f.write_s = timed([&] { f.out_bytes = doc.dump().size(); });
  return f;
}

void print(const char* name, const Figures& f, double mb) {
  std::printf("%-34s parse %7.1f MB/s (%6.3f s)  write %7.1f MB/s (%6.3f s)\n", name, mb / f.parse_s, f.parse_s,
              mb / f.write_s, f.write_s);
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t bytes = argc > 1 ? std::stoul(argv[1]) : 20u << 20;
  std::string text = generate(bytes);
  std::u16string wide = rt::wide_from_cp936(text);
  double mb = text.size() / 1048576.0;
  std::printf("document: %.1f MB, best of %d rounds\n", mb, kRuns);

  // Rounds take each library in turn, so that a busy moment of the machine
  // does not fall on one library only; each keeps its best time.
  Figures text_form{1e9, 1e9, 0}, wide_form{1e9, 1e9, 0}, r{1e9, 1e9, 0}, n{1e9, 1e9, 0};
  for (int round = 0; round < kRuns; ++round) {
    keep_best(text_form, ours_text(text));
    keep_best(wide_form, ours_wide(wide));
    keep_best(r, rapid(text));
    keep_best(n, nlohmann_json(text));
  }
  print("ours, code page 936 text", text_form, mb);
  print("ours, UTF-16 (no conversion)", wide_form, mb);
  print("RapidJSON 1.1 (DOM, UTF-8)", r, mb);
  print("nlohmann/json 3.11", n, mb);
  std::printf("\nratios (their time / ours; above 1 means ours is faster):\n");
  const Figures* forms[] = {&text_form, &wide_form};
  const char* names[] = {"code page 936 text", "UTF-16"};
  for (int i = 0; i < 2; ++i) {
    std::printf("  %-18s vs RapidJSON: parse %.2f, write %.2f;  vs nlohmann/json: parse %.2f, write %.2f\n", names[i],
                r.parse_s / forms[i]->parse_s, r.write_s / forms[i]->write_s, n.parse_s / forms[i]->parse_s,
                n.write_s / forms[i]->write_s);
  }
  std::printf("(the code page 936 form includes converting the text to and from UTF-16)\n");
  return 0;
}
