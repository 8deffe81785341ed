#include "mkinstaller/image.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>

namespace mkinstaller {

namespace {

void put32be(std::string& s, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) s += static_cast<char>((v >> shift) & 0xFF);
}
void put16le(std::string& s, std::uint32_t v) {
  s += static_cast<char>(v & 0xFF);
  s += static_cast<char>((v >> 8) & 0xFF);
}
void put32le(std::string& s, std::uint32_t v) {
  put16le(s, v & 0xFFFF);
  put16le(s, v >> 16);
}
std::uint32_t get16le(const std::string& s, std::size_t o) {
  return static_cast<unsigned char>(s[o]) | static_cast<unsigned char>(s[o + 1]) << 8;
}
std::uint32_t get32le(const std::string& s, std::size_t o) { return get16le(s, o) | get16le(s, o + 2) << 16; }

void chunk(std::string& png, const char* type, const std::string& data) {
  put32be(png, static_cast<std::uint32_t>(data.size()));
  std::string body = std::string(type, 4) + data;
  png += body;
  put32be(png, static_cast<std::uint32_t>(
                   crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()))));
}

// One pass of the separable filter: along rows when `horizontal`.
// Works on premultiplied floats, 4 per pixel.
std::vector<float> resample(const std::vector<float>& src, unsigned sw, unsigned sh, unsigned dw, unsigned dh,
                            bool horizontal) {
  unsigned from = horizontal ? sw : sh, to = horizontal ? dw : dh;
  unsigned lines = horizontal ? sh : sw;
  std::vector<float> out(std::size_t{dw} * dh * 4, 0.0f);
  double ratio = double(from) / to;
  double support = std::max(1.0, ratio);  // tent half-width in source pixels
  for (unsigned t = 0; t < to; ++t) {
    double centre = (t + 0.5) * ratio;
    int lo = std::max(0, int(std::floor(centre - support)));
    int hi = std::min(int(from) - 1, int(std::ceil(centre + support)));
    std::vector<double> w;
    double total = 0;
    for (int s = lo; s <= hi; ++s) {
      double d = std::fabs((s + 0.5) - centre) / support;
      double weight = d < 1 ? 1 - d : 0;
      w.push_back(weight);
      total += weight;
    }
    if (total <= 0) continue;
    for (unsigned line = 0; line < lines; ++line) {
      double acc[4] = {0, 0, 0, 0};
      for (int s = lo; s <= hi; ++s) {
        std::size_t at = horizontal ? (std::size_t{line} * sw + s) * 4 : (std::size_t(s) * sw + line) * 4;
        for (int c = 0; c < 4; ++c) acc[c] += w[s - lo] * src[at + c];
      }
      std::size_t o = horizontal ? (std::size_t{line} * dw + t) * 4 : (std::size_t{t} * dw + line) * 4;
      for (int c = 0; c < 4; ++c) out[o + c] = static_cast<float>(acc[c] / total);
    }
  }
  return out;
}

}  // namespace

std::string encode_png(const Image& image) {
  std::string png("\x89PNG\r\n\x1A\n", 8);
  std::string header;
  put32be(header, image.width);
  put32be(header, image.height);
  header += std::string("\x08\x06\x00\x00\x00", 5);  // 8 bits, RGBA, deflate, filter 0, no interlace
  chunk(png, "IHDR", header);
  // Each row with filter "none" or "up", whichever the deflater will like
  // better (the smaller sum of absolute values).
  std::string raw;
  std::size_t stride = std::size_t{image.width} * 4;
  raw.reserve((stride + 1) * image.height);
  for (unsigned y = 0; y < image.height; ++y) {
    const std::uint8_t* row = image.rgba.data() + y * stride;
    const std::uint8_t* up = y ? row - stride : nullptr;
    long plain = 0, diff = 0;
    for (std::size_t i = 0; i < stride; ++i) {
      plain += std::min<int>(row[i], 256 - row[i]);
      int d = static_cast<std::uint8_t>(row[i] - (up ? up[i] : 0));
      diff += std::min(d, 256 - d);
    }
    bool use_up = up && diff < plain;
    raw += static_cast<char>(use_up ? 2 : 0);
    for (std::size_t i = 0; i < stride; ++i) raw += static_cast<char>(use_up ? row[i] - up[i] : row[i]);
  }
  uLongf size = compressBound(static_cast<uLong>(raw.size()));
  std::string packed(size, '\0');
  compress2(reinterpret_cast<Bytef*>(packed.data()), &size, reinterpret_cast<const Bytef*>(raw.data()),
            static_cast<uLong>(raw.size()), 9);
  packed.resize(size);
  chunk(png, "IDAT", packed);
  chunk(png, "IEND", "");
  return png;
}

Image scale(const Image& image, unsigned width, unsigned height) {
  std::vector<float> pre(image.rgba.size());
  for (std::size_t i = 0; i < image.rgba.size(); i += 4) {
    float a = image.rgba[i + 3] / 255.0f;
    for (int c = 0; c < 3; ++c) pre[i + c] = image.rgba[i + c] * a;
    pre[i + 3] = image.rgba[i + 3];
  }
  std::vector<float> across = resample(pre, image.width, image.height, width, image.height, true);
  std::vector<float> done = resample(across, width, image.height, width, height, false);
  Image out;
  out.width = width;
  out.height = height;
  out.rgba.resize(done.size());
  for (std::size_t i = 0; i < done.size(); i += 4) {
    float a = done[i + 3];
    for (int c = 0; c < 3; ++c) {
      float v = a > 0 ? done[i + c] * 255.0f / a : 0.0f;
      out.rgba[i + c] = static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L));
    }
    out.rgba[i + 3] = static_cast<std::uint8_t>(std::clamp(std::lround(a), 0L, 255L));
  }
  return out;
}

Image fit_square(const Image& image, unsigned size) {
  unsigned w = size, h = size;
  if (image.width > image.height)
    h = std::max(1u, unsigned(std::lround(double(size) * image.height / image.width)));
  else if (image.height > image.width)
    w = std::max(1u, unsigned(std::lround(double(size) * image.width / image.height)));
  Image inner = scale(image, w, h);
  if (w == size && h == size) return inner;
  Image out;
  out.width = out.height = size;
  out.rgba.assign(std::size_t{size} * size * 4, 0);
  unsigned x0 = (size - w) / 2, y0 = (size - h) / 2;
  for (unsigned y = 0; y < h; ++y)
    std::copy_n(inner.rgba.begin() + std::size_t{y} * w * 4, std::size_t{w} * 4,
                out.rgba.begin() + (std::size_t{y + y0} * size + x0) * 4);
  return out;
}

std::vector<IconImage> icon_from_image(const Image& square) {
  std::vector<IconImage> images;
  for (unsigned size : kIconSizes) {
    Image img = square.width == size && square.height == size ? square : scale(square, size, size);
    IconImage icon;
    icon.width = icon.height = size;
    if (size >= 256) {
      icon.data = encode_png(img);
    } else {
      // BITMAPINFOHEADER with twice the height (colour and mask), bottom-up
      // BGRA rows, then the AND mask: set where the pixel is transparent.
      std::string& d = icon.data;
      put32le(d, 40);
      put32le(d, size);
      put32le(d, size * 2);
      put16le(d, 1);
      put16le(d, 32);
      put32le(d, 0);
      std::size_t mask_stride = (size + 31) / 32 * 4;
      put32le(d, static_cast<std::uint32_t>(size * size * 4 + mask_stride * size));
      for (int i = 0; i < 4; ++i) put32le(d, 0);
      for (unsigned y = size; y-- > 0;)
        for (unsigned x = 0; x < size; ++x) {
          const std::uint8_t* p = &img.rgba[(std::size_t{y} * size + x) * 4];
          d += static_cast<char>(p[2]);
          d += static_cast<char>(p[1]);
          d += static_cast<char>(p[0]);
          d += static_cast<char>(p[3]);
        }
      for (unsigned y = size; y-- > 0;) {
        std::string row(mask_stride, '\0');
        for (unsigned x = 0; x < size; ++x)
          if (img.rgba[(std::size_t{y} * size + x) * 4 + 3] == 0) row[x / 8] |= static_cast<char>(0x80 >> (x % 8));
        d += row;
      }
    }
    images.push_back(std::move(icon));
  }
  return images;
}

bool parse_ico(const std::string& bytes, std::vector<IconImage>* images, std::string* why) {
  if (bytes.size() < 6 || get16le(bytes, 0) != 0 || get16le(bytes, 2) != 1 || get16le(bytes, 4) == 0) {
    *why = "not an icon file (.ico)";
    return false;
  }
  std::size_t count = get16le(bytes, 4);
  if (bytes.size() < 6 + 16 * count) {
    *why = "a damaged icon file: its directory is cut off";
    return false;
  }
  for (std::size_t i = 0; i < count; ++i) {
    std::size_t e = 6 + 16 * i;
    IconImage img;
    img.width = static_cast<unsigned char>(bytes[e]) ? static_cast<unsigned char>(bytes[e]) : 256;
    img.height = static_cast<unsigned char>(bytes[e + 1]) ? static_cast<unsigned char>(bytes[e + 1]) : 256;
    img.planes = static_cast<std::uint16_t>(get16le(bytes, e + 4));
    img.bit_count = static_cast<std::uint16_t>(get16le(bytes, e + 6));
    std::uint32_t size = get32le(bytes, e + 8), offset = get32le(bytes, e + 12);
    if (size < 40 || offset > bytes.size() || size > bytes.size() - offset) {
      *why = "a damaged icon file: image " + std::to_string(i + 1) + " lies outside the file";
      return false;
    }
    img.data = bytes.substr(offset, size);
    bool png = img.data.compare(0, 8, "\x89PNG\r\n\x1A\n") == 0;
    if (!png && get32le(img.data, 0) != 40) {
      *why = "a damaged icon file: image " + std::to_string(i + 1) + " is neither a bitmap nor a PNG image";
      return false;
    }
    images->push_back(std::move(img));
  }
  return true;
}

}  // namespace mkinstaller
