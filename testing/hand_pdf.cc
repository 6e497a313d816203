#include "testing/hand_pdf.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <vector>

namespace vardelle::testing {

std::string handWrittenPdf(double widthPt, double heightPt, const std::string& content) {
  std::string pdf = "%PDF-1.4\n";
  std::vector<size_t> offsets;
  auto object = [&](const std::string& body) {
    offsets.push_back(pdf.size());
    pdf += std::to_string(offsets.size()) + " 0 obj\n" + body + "\nendobj\n";
  };
  char box[96];
  std::snprintf(box, sizeof box, "[0 0 %.4f %.4f]", widthPt, heightPt);
  object("<< /Type /Catalog /Pages 2 0 R >>");
  object("<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
  object(std::string("<< /Type /Page /Parent 2 0 R /MediaBox ") + box + " /Contents 4 0 R >>");
  object("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content +
         "\nendstream");
  size_t xref = pdf.size();
  pdf += "xref\n0 5\n0000000000 65535 f \n";
  for (size_t offset : offsets) {
    char line[21];
    std::snprintf(line, sizeof line, "%010zu 00000 n \n", offset);
    pdf += line;
  }
  pdf += "trailer\n<< /Size 5 /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  return pdf;
}

PixelBounds findColor(const std::string& ppm, int r, int g, int b) {
  PixelBounds bounds;
  std::istringstream header(ppm);
  std::string magic;
  int maxValue = 0;
  header >> magic >> bounds.width >> bounds.height >> maxValue;
  if (magic != "P6" || maxValue != 255 || bounds.width <= 0 || bounds.height <= 0) return bounds;
  size_t start = static_cast<size_t>(header.tellg()) + 1;
  size_t count = static_cast<size_t>(bounds.width) * static_cast<size_t>(bounds.height);
  if (ppm.size() < start + 3 * count) return bounds;
  for (size_t i = 0; i < count; ++i) {
    auto channel = [&](int k) { return static_cast<unsigned char>(ppm[start + 3 * i + k]); };
    if (std::abs(channel(0) - r) > 60 || std::abs(channel(1) - g) > 60 ||
        std::abs(channel(2) - b) > 60) {
      continue;
    }
    int x = static_cast<int>(i % bounds.width), y = static_cast<int>(i / bounds.width);
    if (bounds.minX < 0 || x < bounds.minX) bounds.minX = x;
    if (bounds.minY < 0 || y < bounds.minY) bounds.minY = y;
    if (x > bounds.maxX) bounds.maxX = x;
    if (y > bounds.maxY) bounds.maxY = y;
  }
  return bounds;
}

}  // namespace vardelle::testing
