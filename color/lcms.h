#pragma once

#include <lcms2.h>

#include <memory>
#include <string>
#include <vector>

namespace vardelle::color {

/// A LittleCMS context for one operation. Its log handler collects the library's messages instead
/// of letting them reach standard output or standard error.
class LcmsContext {
 public:
  LcmsContext();
  ~LcmsContext();
  LcmsContext(const LcmsContext&) = delete;
  LcmsContext& operator=(const LcmsContext&) = delete;

  cmsContext get() const { return context_; }
  /// Messages logged so far, oldest first.
  const std::vector<std::string>& messages() const { return messages_; }

 private:
  static void log(cmsContext context, cmsUInt32Number code, const char* text);
  cmsContext context_ = nullptr;
  std::vector<std::string> messages_;
};

struct ProfileCloser {
  void operator()(void* p) const noexcept { cmsCloseProfile(p); }
};
using Profile = std::unique_ptr<void, ProfileCloser>;

struct TransformDeleter {
  void operator()(void* t) const noexcept { cmsDeleteTransform(t); }
};
using Transform = std::unique_ptr<void, TransformDeleter>;

struct ToneCurveFreer {
  void operator()(cmsToneCurve* c) const noexcept { cmsFreeToneCurve(c); }
};
using ToneCurve = std::unique_ptr<cmsToneCurve, ToneCurveFreer>;

/// The profile's description (cmsInfoDescription, en/US), or empty when it has none.
std::string profileDescription(cmsHPROFILE profile);

/// Serialises an open profile to ICC bytes; empty on failure.
std::vector<unsigned char> profileBytes(cmsHPROFILE profile);

}  // namespace vardelle::color
