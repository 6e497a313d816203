#include "color/lcms.h"

namespace vardelle::color {

LcmsContext::LcmsContext() {
  context_ = cmsCreateContext(nullptr, this);
  if (context_) cmsSetLogErrorHandlerTHR(context_, &LcmsContext::log);
}

LcmsContext::~LcmsContext() {
  if (context_) cmsDeleteContext(context_);
}

void LcmsContext::log(cmsContext context, cmsUInt32Number, const char* text) {
  // Called from inside lcms2: record and return, never throw across the C frame.
  auto* self = static_cast<LcmsContext*>(cmsGetContextUserData(context));
  if (self && text) self->messages_.emplace_back(text);
}

std::string profileDescription(cmsHPROFILE profile) {
  cmsUInt32Number size =
      cmsGetProfileInfoASCII(profile, cmsInfoDescription, "en", "US", nullptr, 0);
  if (size == 0) return {};
  std::string text(size, '\0');
  cmsGetProfileInfoASCII(profile, cmsInfoDescription, "en", "US", text.data(), size);
  text.resize(text.find('\0') == std::string::npos ? text.size() : text.find('\0'));
  return text;
}

std::vector<unsigned char> profileBytes(cmsHPROFILE profile) {
  cmsUInt32Number size = 0;
  if (!cmsSaveProfileToMem(profile, nullptr, &size) || size == 0) return {};
  std::vector<unsigned char> bytes(size);
  if (!cmsSaveProfileToMem(profile, bytes.data(), &size)) return {};
  bytes.resize(size);
  return bytes;
}

}  // namespace vardelle::color
