// JC unpacking against zlib's inflate on the same inputs, and packed sizes against zlib level 9.
//
//   text    our own source files, concatenated (about 1 MB)
//   png     pixel rows filtered and deflated as a PNG holds them: already compressed
//   pixels  raw RGBA sprite sheet data
//
// Both unpackers check their output (JC checksum, Adler-32) as they would in use.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "data/jc_pack.h"
#include "runtime/checksum.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr size_t kTextSize = 1 << 20;

Bytes textCorpus() {
  namespace fs = std::filesystem;
  std::vector<fs::path> files;
  for (const char* folder :
       {"runtime", "data", "app", "ui", "world", "render", "net", "audio", "tools", "tests"}) {
    std::error_code error;
    fs::recursive_directory_iterator it(fs::path(POWDERBOX_SOURCE_DIR) / folder, error), end;
    for (; !error && it != end; it.increment(error)) {
      std::string ext = it->path().extension().string();
      if (ext == ".cpp" || ext == ".h") files.push_back(it->path());
    }
  }
  std::sort(files.begin(), files.end());
  std::string text;
  for (const auto& path : files) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    text += s.str();
    if (text.size() >= kTextSize) break;
  }
  text.resize(std::min(text.size(), kTextSize));
  return Bytes(text.begin(), text.end());
}

// A 512 x 512 RGBA sheet: soft round sprites over a gradient, a little grain.
Bytes pixelSheet() {
  const int size = 512;
  Bytes pixels(size_t(size) * size * 4);
  std::mt19937 rng(1);
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      uint8_t* p = &pixels[(size_t(y) * size + size_t(x)) * 4];
      int cx = x % 64 - 32, cy = y % 64 - 32;
      double d = std::sqrt(double(cx * cx + cy * cy));
      double shade = d < 28 ? 1.0 - d / 40.0 : 0.0;
      p[0] = uint8_t(40 + 180 * shade + (rng() & 3));
      p[1] = uint8_t(x / 4 + 60 * shade);
      p[2] = uint8_t(y / 4);
      p[3] = uint8_t(d < 28 ? 255 : d < 30 ? 128 : 0);
    }
  }
  return pixels;
}

// What a PNG file carries: each row prefixed by its filter byte (Sub here), then deflated.
Bytes pngLike() {
  Bytes sheet = pixelSheet();
  std::mt19937 rng(2);
  for (auto& b : sheet) b = uint8_t(b + (rng() % 9));  // photographic grain
  const size_t row = 512 * 4;
  Bytes filtered;
  for (size_t y = 0; y * row < sheet.size(); ++y) {
    filtered.push_back(1);
    for (size_t i = 0; i < row; ++i) {
      uint8_t left = i >= 4 ? sheet[y * row + i - 4] : 0;
      filtered.push_back(uint8_t(sheet[y * row + i] - left));
    }
  }
  uLongf length = compressBound(filtered.size());
  Bytes out(length);
  compress2(out.data(), &length, filtered.data(), filtered.size(), 9);
  out.resize(length);
  return out;
}

struct Input {
  Bytes plain;
  Bytes jc;
  Bytes zlib;
};

Input prepare(Bytes plain) {
  Input in;
  in.plain = std::move(plain);
  in.jc = JcPack(in.plain.data(), in.plain.size());
  uLongf length = compressBound(in.plain.size());
  in.zlib.resize(length);
  compress2(in.zlib.data(), &length, in.plain.data(), in.plain.size(), 9);
  in.zlib.resize(length);
  return in;
}

const Input& input(int which) {
  static const Input inputs[] = {prepare(textCorpus()), prepare(pngLike()), prepare(pixelSheet())};
  return inputs[which];
}

const char* const kNames[] = {"text", "png", "pixels"};

void sizes(benchmark::State& state, const Input& in) {
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in.plain.size()));
  state.counters["size"] = double(in.plain.size());
  state.counters["jc_ratio"] = double(in.jc.size()) / double(in.plain.size());
  state.counters["zlib9_ratio"] = double(in.zlib.size()) / double(in.plain.size());
}

void BM_JcUnpack(benchmark::State& state) {
  const Input& in = input(int(state.range(0)));
  state.SetLabel(kNames[state.range(0)]);
  Bytes out(in.plain.size() + 8);
  for (auto _ : state) {
    size_t n = rt::jcUnpack(in.jc.data(), in.jc.size(), out.data(), in.plain.size());
    if (n != in.plain.size()) state.SkipWithError("unpacking failed");
    benchmark::DoNotOptimize(out.data());
  }
  sizes(state, in);
}

void BM_Inflate(benchmark::State& state) {
  const Input& in = input(int(state.range(0)));
  state.SetLabel(kNames[state.range(0)]);
  Bytes out(in.plain.size() + 8);
  for (auto _ : state) {
    uLongf length = in.plain.size();
    if (uncompress(out.data(), &length, in.zlib.data(), in.zlib.size()) != Z_OK) {
      state.SkipWithError("inflate failed");
    }
    benchmark::DoNotOptimize(out.data());
  }
  sizes(state, in);
}

void BM_JcPack(benchmark::State& state) {
  const Input& in = input(int(state.range(0)));
  state.SetLabel(kNames[state.range(0)]);
  for (auto _ : state) benchmark::DoNotOptimize(JcPack(in.plain.data(), in.plain.size()));
  sizes(state, in);
}

void BM_Deflate9(benchmark::State& state) {
  const Input& in = input(int(state.range(0)));
  state.SetLabel(kNames[state.range(0)]);
  Bytes out(compressBound(in.plain.size()));
  for (auto _ : state) {
    uLongf length = out.size();
    compress2(out.data(), &length, in.plain.data(), in.plain.size(), 9);
    benchmark::DoNotOptimize(out.data());
  }
  sizes(state, in);
}

BENCHMARK(BM_JcUnpack)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Inflate)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_JcPack)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Deflate9)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

}  // namespace
