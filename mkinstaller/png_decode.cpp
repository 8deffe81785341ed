// PNG decoding of the builder's own, on zlib alone: the Linux and the
// Windows copies of the tool read every image the same way, so the logo and
// icon they write are the same bytes. Every chunk's checksum is checked and
// the whole image is decoded, so a damaged file is found here and not by the
// installer. Colour-space chunks (gAMA, sRGB, iCCP) are not applied: the
// samples are taken as stored; 16-bit samples become 8-bit by rounding
// (v * 255 / 65535), and samples of fewer bits are spread over 0-255.
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "mkinstaller/checks.h"
#include "mkinstaller/image.h"

namespace mkinstaller {

namespace {

std::uint32_t be32(const unsigned char* p) {
  return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

struct Header {
  std::uint32_t width = 0, height = 0;
  unsigned depth = 0, colour = 0, interlace = 0;
  unsigned channels() const { return colour == 0 || colour == 3 ? 1 : colour == 2 ? 3 : colour == 4 ? 2 : 4; }
  // Bytes of one row of `w` pixels, and of one whole pixel (at least 1) for the filters.
  std::size_t row_bytes(std::uint32_t w) const { return (std::size_t{w} * channels() * depth + 7) / 8; }
  std::size_t pixel_bytes() const { return (channels() * depth + 7) / 8; }
};

bool valid_depth(unsigned colour, unsigned depth) {
  switch (colour) {
    case 0: return depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
    case 3: return depth == 1 || depth == 2 || depth == 4 || depth == 8;
    case 2: case 4: case 6: return depth == 8 || depth == 16;
    default: return false;
  }
}

unsigned paeth(unsigned a, unsigned b, unsigned c) {
  const int p = int(a) + int(b) - int(c);
  const int pa = std::abs(p - int(a)), pb = std::abs(p - int(b)), pc = std::abs(p - int(c));
  return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

// Undoes the filters of `rows` rows in place; false for an unknown filter.
bool unfilter(unsigned char* data, std::size_t rows, std::size_t row, std::size_t bpp) {
  for (std::size_t y = 0; y < rows; ++y) {
    unsigned char* line = data + y * (row + 1);
    const unsigned char* up = y ? line - (row + 1) + 1 : nullptr;
    const unsigned filter = line[0];
    unsigned char* x = line + 1;
    for (std::size_t i = 0; i < row; ++i) {
      const unsigned a = i >= bpp ? x[i - bpp] : 0, b = up ? up[i] : 0, c = up && i >= bpp ? up[i - bpp] : 0;
      switch (filter) {
        case 0: break;
        case 1: x[i] = static_cast<unsigned char>(x[i] + a); break;
        case 2: x[i] = static_cast<unsigned char>(x[i] + b); break;
        case 3: x[i] = static_cast<unsigned char>(x[i] + (a + b) / 2); break;
        case 4: x[i] = static_cast<unsigned char>(x[i] + paeth(a, b, c)); break;
        default: return false;
      }
    }
  }
  return true;
}

// Sample `index` of a row, at the image's bit depth.
unsigned sample(const unsigned char* row, std::size_t index, unsigned depth) {
  if (depth == 16) return unsigned{row[index * 2]} << 8 | row[index * 2 + 1];
  if (depth == 8) return row[index];
  const std::size_t bit = index * depth;
  return (row[bit / 8] >> (8 - depth - bit % 8)) & ((1u << depth) - 1);
}

std::uint8_t to_8bit(unsigned v, unsigned depth) {
  if (depth == 16) return static_cast<std::uint8_t>((v * 255u + 32767u) / 65535u);
  return static_cast<std::uint8_t>(v * 255u / ((1u << depth) - 1));
}

// The Adam7 passes: first column and row, and steps.
constexpr unsigned kPass[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                  {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};

}  // namespace

bool decode_png_image(const std::string& bytes, Image* out, std::string* why) {
  auto damaged = [why](const std::string& what) {
    *why = "a damaged PNG image (" + what + ")";
    return false;
  };
  if (bytes.size() < 8 || bytes.compare(0, 8, "\x89PNG\r\n\x1A\n") != 0) {
    *why = "not a PNG image";
    return false;
  }
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  Header h;
  std::string idat, palette, transparency;
  bool ended = false;
  for (std::size_t at = 8; !ended;) {
    if (bytes.size() - at < 12) return damaged("it ends inside a chunk");
    const std::uint32_t length = be32(data + at);
    if (length > bytes.size() - at - 12) return damaged("it ends inside a chunk");
    const std::string type = bytes.substr(at + 4, 4);
    const unsigned char* body = data + at + 8;
    if (crc32(crc32(0, nullptr, 0), data + at + 4, length + 4) != be32(body + length))
      return damaged("the " + type + " chunk's checksum does not match");
    if (at == 8 && type != "IHDR") return damaged("it does not begin with its header");
    if (type == "IHDR") {
      if (at != 8 || length != 13) return damaged("a misplaced or misshaped header");
      h.width = be32(body);
      h.height = be32(body + 4);
      h.depth = body[8];
      h.colour = body[9];
      h.interlace = body[12];
      if (!h.width || !h.height || h.width > 0x7FFFFFFF || h.height > 0x7FFFFFFF || !valid_depth(h.colour, h.depth) ||
          body[10] != 0 || body[11] != 0 || h.interlace > 1)
        return damaged("a header PNG does not define");
    } else if (type == "PLTE") {
      palette.assign(reinterpret_cast<const char*>(body), length);
    } else if (type == "tRNS") {
      transparency.assign(reinterpret_cast<const char*>(body), length);
    } else if (type == "IDAT") {
      idat.append(reinterpret_cast<const char*>(body), length);
    } else if (type == "IEND") {
      ended = true;
    } else if (type[0] >= 'A' && type[0] <= 'Z') {
      return damaged("an unknown critical chunk " + type);
    }
    at += 12 + std::size_t{length};
  }
  if (std::uint64_t{h.width} * h.height > (1u << 26)) {
    *why = "the PNG image is too large for a logo (more than 67 million pixels)";
    return false;
  }
  if (h.colour == 3 && (palette.empty() || palette.size() % 3 || palette.size() > 768))
    return damaged("its palette is missing or misshaped");

  // The passes (one without interlacing), each a run of filtered rows.
  struct Pass {
    std::uint32_t x0, y0, dx, dy, w, h;
  };
  std::vector<Pass> passes;
  for (unsigned p = 0; p < (h.interlace ? 7u : 1u); ++p) {
    Pass pass{0, 0, 1, 1, h.width, h.height};
    if (h.interlace) {
      const unsigned* k = kPass[p];
      pass = Pass{k[0], k[1], k[2], k[3], 0, 0};
      pass.w = h.width > pass.x0 ? (h.width - pass.x0 + pass.dx - 1) / pass.dx : 0;
      pass.h = h.height > pass.y0 ? (h.height - pass.y0 + pass.dy - 1) / pass.dy : 0;
    }
    passes.push_back(pass);
  }
  std::size_t raw_size = 0;
  for (const Pass& p : passes)
    if (p.w && p.h) raw_size += std::size_t{p.h} * (h.row_bytes(p.w) + 1);
  std::string raw(raw_size, '\0');
  uLongf got = static_cast<uLongf>(raw.size());
  const int z = uncompress(reinterpret_cast<Bytef*>(raw.data()), &got,
                           reinterpret_cast<const Bytef*>(idat.data()), static_cast<uLong>(idat.size()));
  if ((z != Z_OK && z != Z_BUF_ERROR) || got != raw.size()) return damaged("its image data is cut short or damaged");

  out->width = h.width;
  out->height = h.height;
  out->rgba.assign(std::size_t{h.width} * h.height * 4, 0);
  const unsigned max = (1u << h.depth) - 1;
  // tRNS's grey or colour sample `i` (16 bits each); none matches when absent.
  auto trns = [&](std::size_t i) {
    return transparency.size() >= 2 * i + 2
               ? unsigned{std::uint8_t(transparency[2 * i])} << 8 | std::uint8_t(transparency[2 * i + 1])
               : ~0u;
  };
  auto* at = reinterpret_cast<unsigned char*>(raw.data());
  for (const Pass& p : passes) {
    if (!p.w || !p.h) continue;
    const std::size_t row = h.row_bytes(p.w);
    if (!unfilter(at, p.h, row, h.pixel_bytes())) return damaged("an unknown row filter");
    for (std::uint32_t y = 0; y < p.h; ++y) {
      const unsigned char* line = at + std::size_t{y} * (row + 1) + 1;
      for (std::uint32_t x = 0; x < p.w; ++x) {
        std::uint8_t* px = &out->rgba[(std::size_t{p.y0 + y * p.dy} * h.width + p.x0 + x * p.dx) * 4];
        const unsigned c = h.channels();
        unsigned v[4] = {};
        for (unsigned i = 0; i < c; ++i) v[i] = sample(line, std::size_t{x} * c + i, h.depth);
        switch (h.colour) {
          case 0:  // grey, transparent where it is tRNS's grey
            px[0] = px[1] = px[2] = to_8bit(v[0], h.depth);
            px[3] = trns(0) == (v[0] & max) ? 0 : 255;
            break;
          case 2:  // RGB, transparent where it is tRNS's colour
            for (int i = 0; i < 3; ++i) px[i] = to_8bit(v[i], h.depth);
            px[3] = trns(0) == v[0] && trns(1) == v[1] && trns(2) == v[2] ? 0 : 255;
            break;
          case 3:  // palette, alpha from tRNS
            if (v[0] * 3 + 2 >= palette.size()) return damaged("a palette index out of range");
            for (int i = 0; i < 3; ++i) px[i] = static_cast<std::uint8_t>(palette[v[0] * 3 + i]);
            px[3] = v[0] < transparency.size() ? static_cast<std::uint8_t>(transparency[v[0]]) : 255;
            break;
          case 4:  // grey and alpha
            px[0] = px[1] = px[2] = to_8bit(v[0], h.depth);
            px[3] = to_8bit(v[1], h.depth);
            break;
          default:  // RGBA
            for (int i = 0; i < 4; ++i) px[i] = to_8bit(v[i], h.depth);
        }
      }
    }
    at += std::size_t{p.h} * (row + 1);
  }
  return true;
}

bool decode_png(const std::string& bytes, unsigned* width, unsigned* height, std::string* why) {
  Image image;
  if (!decode_png_image(bytes, &image, why)) return false;
  *width = image.width;
  *height = image.height;
  return true;
}

}  // namespace mkinstaller
