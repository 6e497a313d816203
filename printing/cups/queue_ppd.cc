#include "printing/cups/queue_ppd.h"

#include <strings.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "base/file_descriptor.h"
#include "base/print_failure.h"
#include "printing/cups/connection.h"
#include "printing/cups/printers_internal.h"
#include "printing/settings/exact_size_options.h"

// libcups marks its whole PPD interface deprecated in favour of cupsCopyDestInfo, whose media
// database merges same-size entries ("4x6" and "KG") and so cannot name the user's paper.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <cups/ppd.h>

namespace vardelle::printing {

struct QueuePpd::File {
  ppd_file_t* ppd = nullptr;
  ~File() {
    if (ppd) ppdClose(ppd);
  }
};

QueuePpd::QueuePpd(std::unique_ptr<File> file) : file_(std::move(file)) {}
QueuePpd::~QueuePpd() = default;
QueuePpd::QueuePpd(QueuePpd&&) noexcept = default;
QueuePpd& QueuePpd::operator=(QueuePpd&&) noexcept = default;

std::optional<QueuePpd> QueuePpd::fromFile(const std::string& path) {
  auto file = std::make_unique<File>();
  file->ppd = ppdOpenFile(path.c_str());
  if (!file->ppd) return std::nullopt;
  return QueuePpd(std::move(file));
}

std::optional<QueuePpd> QueuePpd::forQueue(const std::string& printerName) {
  HttpConnection http = connectToPrintSystem();
  // Asked over HTTP rather than with cupsGetPPD3, which for a server named "localhost" reads
  // /etc/cups/ppd of this machine instead, whatever cupsd the connection talks to. Held in
  // memory: nothing is left on disk.
  FileDescriptor fd(memfd_create("vardelle-ppd", MFD_CLOEXEC));
  if (fd.get() < 0) throw PrintFailure("The printer's description could not be read.");
  const std::string resource = localQueueResource(printerName) + ".ppd";
  const http_status_t status = cupsGetFd(http.get(), resource.c_str(), fd.get());
  if (status == HTTP_STATUS_NOT_FOUND) return std::nullopt;
  if (status != HTTP_STATUS_OK) {
    if (printSystemUnavailable(cupsLastError())) throw PrintFailure(kPrintSystemUnavailable);
    throw PrintFailure("The print system did not send the printer's description (" +
                       std::string(cupsLastErrorString()) + ").");
  }
  if (::lseek(fd.get(), 0, SEEK_SET) != 0) {
    throw PrintFailure("The printer's description could not be read.");
  }
  auto file = std::make_unique<File>();
  // ppdOpenFd closes the descriptor itself.
  file->ppd = ppdOpenFd(fd.release());
  if (!file->ppd) {
    throw PrintFailure("The printer's description (PPD) could not be read. Reinstall the printer.");
  }
  return QueuePpd(std::move(file));
}

namespace {

// The text the PPD gives the page size `key`, or the key itself without one. CUPS writes no text
// for the sizes of the PPD it makes from a driverless printer, and names a zero-margin entry
// "<size>.Borderless": that one is said as libcups and the dialog say it, "A4 (Borderless)",
// never by its keyword.
std::string choiceText(ppd_file_t* ppd, const std::string& key) {
  ppd_option_t* option = ppdFindOption(ppd, "PageSize");
  ppd_choice_t* choice = option ? ppdFindChoice(option, key.c_str()) : nullptr;
  if (choice && choice->text[0] && key != choice->text) return choice->text;
  constexpr std::string_view kBorderless = ".Borderless";
  if (key.size() > kBorderless.size() && key.ends_with(kBorderless)) {
    return choiceText(ppd, key.substr(0, key.size() - kBorderless.size())) + " (Borderless)";
  }
  return key;
}

}  // namespace

std::optional<PpdPageSize> QueuePpd::pageSize(std::string_view name) const {
  const std::string key(name);
  ppd_file_t* ppd = file_->ppd;
  PpdPageSize size;
  size.name = key;
  size.text = key;
  if (key.starts_with("Custom.")) {
    ppd_size_t* custom = ppdPageSize(ppd, key.c_str());
    if (!custom || !ppd->variable_sizes) return std::nullopt;
    size.widthPt = custom->width, size.lengthPt = custom->length;
    size.leftPt = custom->left, size.bottomPt = custom->bottom;
    size.rightPt = custom->right, size.topPt = custom->top;
    return size;
  }
  ppd_size_t* declared = ppdPageSize(ppd, key.c_str());
  // libcups matches names without regard to case; the saved name is the PPD's own spelling.
  if (!declared || key != declared->name || !(declared->width > 0) || !(declared->length > 0)) {
    return std::nullopt;
  }
  size.widthPt = declared->width, size.lengthPt = declared->length;
  size.leftPt = declared->left, size.bottomPt = declared->bottom;
  size.rightPt = declared->right, size.topPt = declared->top;
  size.text = choiceText(ppd, key);
  return size;
}

std::vector<PpdPageSize> QueuePpd::pageSizes() const {
  std::vector<PpdPageSize> sizes;
  for (int i = 0; i < file_->ppd->num_sizes; ++i) {
    const std::string name = file_->ppd->sizes[i].name;
    if (name.empty() || name == "Custom") continue;
    if (auto size = pageSize(name)) sizes.push_back(std::move(*size));
  }
  return sizes;
}

std::optional<std::string> QueuePpd::defaultChoice(std::string_view keyword) const {
  ppd_option_t* option = ppdFindOption(file_->ppd, std::string(keyword).c_str());
  if (!option || !option->defchoice[0]) return std::nullopt;
  return std::string(option->defchoice);
}

bool QueuePpd::hasOption(std::string_view keyword) const {
  return ppdFindOption(file_->ppd, std::string(keyword).c_str()) != nullptr;
}

bool QueuePpd::hasChoice(std::string_view keyword, std::string_view choice) const {
  ppd_option_t* option = ppdFindOption(file_->ppd, std::string(keyword).c_str());
  return option && ppdFindChoice(option, std::string(choice).c_str()) != nullptr;
}

std::optional<std::string> QueuePpd::optionText(std::string_view keyword) const {
  ppd_option_t* option = ppdFindOption(file_->ppd, std::string(keyword).c_str());
  if (!option || !option->text[0]) return std::nullopt;
  return std::string(option->text);
}

std::optional<std::string> QueuePpd::attribute(std::string_view name) const {
  ppd_attr_t* attr = ppdFindAttr(file_->ppd, std::string(name).c_str(), nullptr);
  if (!attr || !attr->value || !attr->value[0]) return std::nullopt;
  return std::string(attr->value);
}

std::string QueuePpd::manufacturer() const {
  return file_->ppd->manufacturer ? file_->ppd->manufacturer : "";
}

std::string QueuePpd::modelName() const {
  return file_->ppd->modelname ? file_->ppd->modelname : "";
}

ppd_file_t* QueuePpd::handle() const { return file_->ppd; }

int QueuePpd::landscapeDegrees() const { return file_->ppd->landscape < 0 ? -90 : 90; }

bool QueuePpd::filtersMakeCopies() const { return file_->ppd->manual_copies != 0; }

bool QueuePpd::backendRepeatsPages() const {
  // libcups reads a PPD without the line as not manual, like one that says False: only the
  // written False of a Gutenprint PPD means the driver's own copies (its NativeCopies).
  const std::optional<std::string> manual = attribute("cupsManualCopies");
  return attribute("StpDriverName") && manual && strcasecmp(manual->c_str(), "False") == 0;
}

void requireExactSizeChoices(const QueuePpd& ppd) {
  for (const ExactSizeOption& option : exactSizeOptions()) {
    if (!option.ppdChoice() || !ppd.hasOption(option.name)) continue;
    if (!ppd.hasChoice(option.name, option.value)) {
      const std::string label = ppd.optionText(option.name).value_or(std::string(option.name));
      throw PrintFailure("The printer's driver cannot print at exact size: its setting \"" + label +
                         "\" has no \"" + std::string(option.value) +
                         "\" choice. Install the printer with another driver.");
    }
  }
}

}  // namespace vardelle::printing

#pragma GCC diagnostic pop
