#include "artwork/raster_thumbnail.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "base/print_failure.h"
#include "color/display_transform.h"

namespace vardelle::artwork {

namespace {

/// The share of one source sample (along one axis) that falls on one bitmap pixel.
struct Span {
  std::uint32_t target;
  std::uint32_t source;
  float weight;
};

/// Source sample k covers [start + k·step, start + (k+1)·step] in bitmap pixels; only the part
/// inside [low, high] ∩ [0, targets] is drawn. Returns the spans in source order and, for each
/// source sample, where its spans begin (`first`, one entry more than the samples).
std::vector<Span> spans(std::uint32_t sources, double start, double step, double low, double high,
                        int targets, std::vector<std::uint32_t>& first) {
  low = std::max(low, 0.0);
  high = std::min(high, double(targets));
  std::vector<Span> out;
  first.assign(std::size_t(sources) + 1, 0);
  for (std::uint32_t k = 0; k < sources; ++k) {
    first[k] = static_cast<std::uint32_t>(out.size());
    const double a = std::max(start + k * step, low);
    const double b = std::min(start + (k + 1) * step, high);
    if (!(b > a)) continue;
    for (double t = std::floor(a); t < b; t += 1) {
      const double w = std::min(b, t + 1) - std::max(a, t);
      if (w > 0) out.push_back({static_cast<std::uint32_t>(t), k, float(w)});
    }
  }
  first[sources] = static_cast<std::uint32_t>(out.size());
  return out;
}

/// The source samples (along one axis) that one bitmap pixel averages: the first and the last
/// may be covered in part, those between in full.
struct Gather {
  std::uint32_t target;
  std::uint32_t first;
  std::uint32_t last;
  float firstWeight;
  float lastWeight;
  float innerWeight;
};

/// As spans(), gathered per bitmap pixel.
std::vector<Gather> gathers(std::uint32_t sources, double start, double step, double low,
                            double high, int targets) {
  low = std::max({low, 0.0, start});
  high = std::min({high, double(targets), start + sources * step});
  std::vector<Gather> out;
  for (double t = std::floor(low); t < high; t += 1) {
    const double a = std::max(t, low), b = std::min(t + 1, high);
    if (!(b > a)) continue;
    const double sa = (a - start) / step, sb = (b - start) / step;
    Gather g{static_cast<std::uint32_t>(t), 0, 0, 0, 0, float(step)};
    g.first = static_cast<std::uint32_t>(std::min<double>(std::floor(sa), sources - 1));
    g.last = static_cast<std::uint32_t>(
        std::clamp<double>(std::ceil(sb) - 1, double(g.first), double(sources - 1)));
    if (g.first == g.last) {
      g.firstWeight = float((b - a));
    } else {
      g.firstWeight = float((g.first + 1 - sa) * step);
      g.lastWeight = float((sb - g.last) * step);
    }
    out.push_back(g);
  }
  return out;
}

template <int Components, bool Alpha, bool Wide>
void reduceRowAs(const unsigned char* in, const std::vector<Gather>& columns, float* reduced) {
  constexpr std::size_t kSampleBytes = Wide ? 2 : 1;
  constexpr std::size_t kPixelBytes = (Components + (Alpha ? 1 : 0)) * kSampleBytes;
  constexpr float kUnit = Wide ? 1.0f / 65535 : 1.0f / 255;
  auto raw = [](const unsigned char* at) -> std::uint32_t {
    if constexpr (Wide) {
      std::uint16_t v;
      std::memcpy(&v, at, 2);
      return v;
    } else {
      return *at;
    }
  };
  // One pixel composited over white, in units of the sample's maximum.
  auto add = [&](const unsigned char* pixel, float weight, float* out) {
    const float a = Alpha ? raw(pixel + Components * kSampleBytes) * kUnit : 1.0f;
    for (int c = 0; c < Components; ++c) {
      const float v = raw(pixel + c * kSampleBytes) * kUnit;
      out[c] += weight * (Alpha ? v * a + (1.0f - a) : v);
    }
  };
  for (const Gather& g : columns) {
    float* out = reduced + std::size_t(g.target) * Components;
    add(in + std::size_t(g.first) * kPixelBytes, g.firstWeight, out);
    if (g.last == g.first) continue;
    add(in + std::size_t(g.last) * kPixelBytes, g.lastWeight, out);
    if constexpr (Alpha) {
      for (std::uint32_t u = g.first + 1; u < g.last; ++u) {
        add(in + std::size_t(u) * kPixelBytes, g.innerWeight, out);
      }
    } else {
      // Whole samples between the edges share one weight: sum them as integers.
      std::uint64_t sum[Components] = {};
      for (std::uint32_t u = g.first + 1; u < g.last; ++u) {
        const unsigned char* pixel = in + std::size_t(u) * kPixelBytes;
        for (int c = 0; c < Components; ++c) sum[c] += raw(pixel + c * kSampleBytes);
      }
      for (int c = 0; c < Components; ++c) out[c] += g.innerWeight * float(sum[c]) * kUnit;
    }
  }
}

/// Adds each source sample of one row, composited over white, into the bitmap columns it covers.
void reduceRow(const unsigned char* in, const std::vector<Gather>& columns, float* reduced,
               int components, bool alpha, bool wide) {
  using Reduce = void (*)(const unsigned char*, const std::vector<Gather>&, float*);
  static constexpr Reduce kReducers[2][2][2] = {
      {{reduceRowAs<1, false, false>, reduceRowAs<1, false, true>},
       {reduceRowAs<1, true, false>, reduceRowAs<1, true, true>}},
      {{reduceRowAs<3, false, false>, reduceRowAs<3, false, true>},
       {reduceRowAs<3, true, false>, reduceRowAs<3, true, true>}}};
  kReducers[components == 3][alpha][wide](in, columns, reduced);
}

}  // namespace

RgbaImage rasterThumbnail(const PngPage& page, const RasterThumbnailFrame& frame) {
  const Pixels layout = page.layout();
  const int components = layout.channels <= 2 ? 1 : 3;
  // As in the sheet: a profile describes the samples only when its model matches them (a
  // palette is expanded to RGB before it gets here); untagged samples are device colour.
  color::SourceColorSpace space = page.colorSpace;
  const color::ColorModel samplesModel =
      components == 1 ? color::ColorModel::gray : color::ColorModel::rgb;
  if (!space.icc.empty() && space.baseModel != samplesModel) throw PrintFailure(kPngUnreadable);
  space.model = space.baseModel = samplesModel;
  const color::DisplayTransform display(space);
  const bool alpha = layout.hasAlpha && (layout.channels == 2 || layout.channels == 4);
  const bool wide = layout.bitDepth == 16;
  const std::size_t width = std::size_t(frame.width);
  const std::size_t height = std::size_t(frame.height);
  const double s = frame.pixelsPerPoint;

  // Bitmap x grows to the right from the sheet's left edge, y downward from the bitmap's top,
  // which lies `height` pixels above the sheet's origin.
  std::vector<std::uint32_t> rowFirst;
  const std::vector<Gather> columns =
      gathers(layout.width, frame.placed.x * s, frame.placed.width * s / layout.width,
              frame.clip.x * s, (frame.clip.x + frame.clip.width) * s, frame.width);
  const std::vector<Span> rows =
      spans(layout.height, double(height) - (frame.placed.y + frame.placed.height) * s,
            frame.placed.height * s / layout.height,
            double(height) - (frame.clip.y + frame.clip.height) * s,
            double(height) - frame.clip.y * s, frame.height, rowFirst);

  std::vector<float> coverX(width, 0), coverY(height, 0);
  for (const Gather& g : columns) {
    coverX[g.target] = g.firstWeight + g.lastWeight +
                       g.innerWeight * float(g.last > g.first ? g.last - g.first - 1 : 0);
  }
  for (const Span& span : rows) coverY[span.target] += span.weight;

  RgbaImage image{frame.width, frame.height, {}};
  image.pixels.resize(width * height * 4);
  for (std::size_t i = 0; i < width * height; ++i) {
    std::copy(frame.sheet.begin(), frame.sheet.end(), image.pixels.begin() + 4 * i);
    image.pixels[4 * i + 3] = 255;
  }
  std::vector<float> mean(width * components);
  std::vector<unsigned char> rgb(width * 3);
  // Bitmap row j from its sums, shown through the display transform.
  auto finishRow = [&](std::size_t j, const float* sum) {
    if (coverY[j] <= 0) return;
    for (std::size_t i = 0; i < width; ++i) {
      const float cover = coverX[i] * coverY[j];
      for (int c = 0; c < components; ++c) {
        mean[i * components + c] =
            cover > 0 ? std::clamp(sum[i * components + c] / cover, 0.0f, 1.0f) : 1.0f;
      }
    }
    display.convert(mean.data(), rgb.data(), width);
    unsigned char* out = image.pixels.data() + j * width * 4;
    for (std::size_t i = 0; i < width; ++i) {
      // A pixel the picture covers only in part shows the rest of it as the sheet.
      const float cover = std::min(coverX[i] * coverY[j], 1.0f);
      if (cover <= 0) continue;
      for (int c = 0; c < 3; ++c) {
        out[4 * i + c] = static_cast<unsigned char>(
            std::lround(cover * rgb[3 * i + c] + (1.0f - cover) * float(frame.sheet[c])));
      }
    }
  };

  // Source rows reach bitmap rows in order, so only the bitmap rows the current source row
  // touches are summed at a time, in a ring of that many rows (and one more), each finished as
  // soon as no later source row can reach it.
  std::size_t touched = 1;
  for (std::uint32_t y = 0; y < layout.height; ++y) {
    touched = std::max<std::size_t>(touched, rowFirst[y + 1] - rowFirst[y]);
  }
  const std::size_t ringRows = touched + 1;
  const std::size_t rowFloats = width * components;
  std::vector<float> ring(ringRows * rowFloats, 0);
  std::size_t unfinished = 0;  // the first bitmap row not finished yet
  auto finishBefore = [&](std::size_t end) {
    for (; unfinished < end; ++unfinished) {
      float* sum = ring.data() + (unfinished % ringRows) * rowFloats;
      finishRow(unfinished, sum);
      std::fill(sum, sum + rowFloats, 0.0f);
    }
  };
  std::vector<float> reduced(rowFloats);
  page.forEachRow([&](std::uint32_t y, const unsigned char* in) {
    const std::uint32_t rowBegin = rowFirst[y], rowEnd = rowFirst[y + 1];
    if (rowBegin == rowEnd) return;
    finishBefore(rows[rowBegin].target);
    std::fill(reduced.begin(), reduced.end(), 0.0f);
    reduceRow(in, columns, reduced.data(), components, alpha, wide);
    for (std::uint32_t r = rowBegin; r < rowEnd; ++r) {
      float* out = ring.data() + (rows[r].target % ringRows) * rowFloats;
      const float w = rows[r].weight;
      for (std::size_t k = 0; k < rowFloats; ++k) out[k] += w * reduced[k];
    }
  });
  finishBefore(height);
  return image;
}

}  // namespace vardelle::artwork
