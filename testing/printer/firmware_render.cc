// The print engine of the firmware-like test printer: ippeveprinter runs it (through the rig's
// job script) on every PDF document it receives. Like the firmware of a driverless printer, it
// places each page on the job's media by the print-scaling the job asked for, or the printer's
// default when the job did not say, as PWG 5100.13 defines the values:
//   none      natural size, centred on the sheet
//   fit       scaled to fit the printable area, centred in it
//   fill      scaled to fill the printable area, centred in it
//   auto-fit  fit when the page is larger than the printable area, else none
//   auto      fill on borderless media (no margins) and fit otherwise, when the page is larger
//             than the printable area; else none
// and then, as real hardware, marks nothing outside the printable area. A PWG raster is printed
// as it comes, pixel for pixel (it is the whole sheet already). Each page becomes
// "<job file>-page<N>.png" at the printer's resolution; "<job file>.render" says, one line per
// page, the mode applied and the scale, so a test can tell why a page landed where it did.
//
//   firmware_render <job file>
//
// The media come from the job's media-col (size and margins), else its media name with the
// margins of the printer's media-col-default for that size; the resolution from
// printer-resolution-default. Exit status 0 on success, 1 with a line on standard error.

#include <cups/cups.h>
#include <cups/raster.h>
#include <fcntl.h>
#include <png.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Media {
  int width = 0, length = 0;  // hundredths of a millimetre
  int left = 0, bottom = 0, right = 0, top = 0;
};

std::string env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

std::optional<int> member(const std::string& col, const std::string& name) {
  std::smatch m;
  if (std::regex_search(col, m, std::regex(name + "=(-?[0-9]+)"))) return std::stoi(m[1]);
  return std::nullopt;
}

std::optional<Media> fromCollection(const std::string& col) {
  auto x = member(col, "x-dimension"), y = member(col, "y-dimension");
  if (!x || !y) return std::nullopt;
  Media media{*x, *y};
  media.left = member(col, "media-left-margin").value_or(0);
  media.bottom = member(col, "media-bottom-margin").value_or(0);
  media.right = member(col, "media-right-margin").value_or(0);
  media.top = member(col, "media-top-margin").value_or(0);
  return media;
}

std::optional<Media> jobMedia() {
  if (auto media = fromCollection(env("IPP_MEDIA_COL"))) return media;
  auto fallback = fromCollection(env("IPP_MEDIA_COL_DEFAULT"));
  const std::string name = env("IPP_MEDIA").empty() ? env("IPP_MEDIA_DEFAULT") : env("IPP_MEDIA");
  const pwg_media_t* pwg = pwgMediaForPWG(name.c_str());
  if (!pwg) return fallback;
  Media media{pwg->width, pwg->length};
  if (fallback && fallback->width == media.width && fallback->length == media.length) {
    media = *fallback;
  }
  return media;
}

struct Page {
  double width = 0, height = 0;  // points, as displayed (after /Rotate)
};

std::vector<Page> pages(const std::string& file) {
  std::string command = "pdfinfo -f 1 -l 100000 '" + file + "' 2>/dev/null";
  std::FILE* pipe = ::popen(command.c_str(), "r");
  std::vector<Page> result;
  if (!pipe) return result;
  std::string text;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, n);
  ::pclose(pipe);
  std::regex size(R"(Page +(\d+) size: +([0-9.]+) x ([0-9.]+) pts)");
  std::regex rot(R"(Page +(\d+) rot: +(\d+))");
  for (std::sregex_iterator m(text.begin(), text.end(), size), end; m != end; ++m) {
    result.push_back({std::stod((*m)[2]), std::stod((*m)[3])});
  }
  for (std::sregex_iterator m(text.begin(), text.end(), rot), end; m != end; ++m) {
    const size_t index = std::stoul((*m)[1]) - 1;
    if (index < result.size() && std::stoi((*m)[2]) % 180 == 90) {
      std::swap(result[index].width, result[index].height);
    }
  }
  return result;
}

double points(int hundredths) { return hundredths * 72.0 / 2540.0; }

// 8-bit RGB rows to a PNG file; false when libpng fails.
bool writePng(const std::string& path, unsigned width, unsigned height,
              const std::vector<unsigned char>& rgb) {
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (!out) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  bool ok = png && info && !setjmp(png_jmpbuf(png));
  if (ok) {
    png_init_io(png, out);
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (unsigned y = 0; y < height; ++y) {
      png_write_row(png, const_cast<unsigned char*>(rgb.data() + size_t(y) * width * 3));
    }
    png_write_end(png, info);
  }
  png_destroy_write_struct(&png, &info);
  std::fclose(out);
  return ok;
}

// A PWG raster (8-bit sRGB or sGray pages) printed as it is, margins left blank.
int printRaster(const std::string& file, const Media& media) {
  int fd = ::open(file.c_str(), O_RDONLY);
  if (fd < 0) return 1;
  cups_raster_t* raster = cupsRasterOpen(fd, CUPS_RASTER_READ);
  cups_page_header2_t header;
  int page = 0;
  std::ofstream report(file + ".render");
  while (raster && cupsRasterReadHeader2(raster, &header)) {
    ++page;
    const unsigned w = header.cupsWidth, h = header.cupsHeight;
    const unsigned channels = header.cupsNumColors;
    if (header.cupsBitsPerColor != 8 || (channels != 1 && channels != 3)) {
      std::cerr << "firmware_render: raster page " << page << " is not 8-bit grey or RGB\n";
      return 1;
    }
    std::vector<unsigned char> line(header.cupsBytesPerLine), rgb(size_t(w) * h * 3, 255);
    const double dpiX = header.HWResolution[0], dpiY = header.HWResolution[1];
    const unsigned left = unsigned(std::lround(media.left / 2540.0 * dpiX));
    const unsigned right = w - unsigned(std::lround(media.right / 2540.0 * dpiX));
    const unsigned top = unsigned(std::lround(media.top / 2540.0 * dpiY));
    const unsigned bottom = h - unsigned(std::lround(media.bottom / 2540.0 * dpiY));
    for (unsigned y = 0; y < h; ++y) {
      if (cupsRasterReadPixels(raster, line.data(), header.cupsBytesPerLine) == 0) break;
      if (y < top || y >= bottom) continue;
      for (unsigned x = left; x < right && x < w; ++x) {
        for (unsigned c = 0; c < 3; ++c) {
          rgb[(size_t(y) * w + x) * 3 + c] = line[x * channels + (channels == 3 ? c : 0)];
        }
      }
    }
    report << "page " << page << " raster " << w << "x" << h << "\n";
    if (!writePng(file + "-page" + std::to_string(page) + ".png", w, h, rgb)) return 1;
  }
  if (raster) cupsRasterClose(raster);
  ::close(fd);
  return page > 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: firmware_render <job file>\n";
    return 1;
  }
  const std::string file = argv[1];
  auto media = jobMedia();
  if (!media) {
    std::cerr << "firmware_render: the job names no media the printer knows\n";
    return 1;
  }
  if (env("CONTENT_TYPE") == "image/pwg-raster") return printRaster(file, *media);
  if (env("CONTENT_TYPE") != "application/pdf") {
    std::cerr << "firmware_render: cannot print " << env("CONTENT_TYPE") << "\n";
    return 1;
  }
  int dpi = std::atoi(env("IPP_PRINTER_RESOLUTION_DEFAULT").c_str());
  if (dpi <= 0) dpi = 300;
  std::string scaling = env("IPP_PRINT_SCALING");
  if (scaling.empty()) scaling = env("IPP_PRINT_SCALING_DEFAULT");
  if (scaling.empty()) scaling = "auto";

  const double sheetW = points(media->width), sheetH = points(media->length);
  const double ax = points(media->left), ay = points(media->bottom);
  const double aw = sheetW - ax - points(media->right), ah = sheetH - ay - points(media->top);
  const bool borderless = !media->left && !media->bottom && !media->right && !media->top;
  const int pixelsW = static_cast<int>(std::lround(sheetW * dpi / 72.0));
  const int pixelsH = static_cast<int>(std::lround(sheetH * dpi / 72.0));

  std::ofstream report(file + ".render");
  const std::vector<Page> list = pages(file);
  if (list.empty()) {
    std::cerr << "firmware_render: pdfinfo could not read " << file << "\n";
    return 1;
  }
  for (size_t i = 0; i < list.size(); ++i) {
    const Page& page = list[i];
    const bool larger = page.width > aw + 0.01 || page.height > ah + 0.01;
    std::string mode = scaling;
    if (mode == "auto") mode = larger ? (borderless ? "fill" : "fit") : "none";
    if (mode == "auto-fit") mode = larger ? "fit" : "none";
    double s = 1, tx = (sheetW - page.width) / 2, ty = (sheetH - page.height) / 2;
    if (mode == "fit" || mode == "fill") {
      const double sx = aw / page.width, sy = ah / page.height;
      s = mode == "fit" ? std::min(sx, sy) : std::max(sx, sy);
      tx = ax + (aw - s * page.width) / 2;
      ty = ay + (ah - s * page.height) / 2;
    }
    report << "page " << i + 1 << " " << mode << " scale " << s << "\n";

    // The placement as a BeginPage procedure, then the margins painted white after the page:
    // the hardware cannot mark them.
    char place[512];
    std::snprintf(place, sizeof place,
                  "<</BeginPage {pop %.6f %.6f translate %.9f %.9f scale} "
                  "/EndPage {exch pop 2 ne {initgraphics 1 setgray "
                  "0 0 %.6f %.6f rectfill 0 %.6f %.6f %.6f rectfill "
                  "0 0 %.6f %.6f rectfill %.6f 0 %.6f %.6f rectfill true} {false} ifelse}"
                  ">> setpagedevice",
                  tx, ty, s, s, sheetW, ay, ay + ah, sheetW, sheetH - ay - ah, ax, sheetH, ax + aw,
                  sheetW - ax - aw, sheetH);
    std::ostringstream command;
    command << "gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=png16m -dGraphicsAlphaBits=4 -r" << dpi
            << " -g" << pixelsW << "x" << pixelsH << " -dFIXEDMEDIA -dFirstPage=" << i + 1
            << " -dLastPage=" << i + 1 << " '-sOutputFile=" << file << "-page" << i + 1
            << ".png' -c '" << place << "' -f '" << file << "' >&2";
    if (std::system(command.str().c_str()) != 0) {
      std::cerr << "firmware_render: Ghostscript failed on page " << i + 1 << "\n";
      return 1;
    }
  }
  return 0;
}
