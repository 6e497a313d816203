#pragma once

// The fourth step of a print: the last check between the document and the job.

#include <optional>
#include <string>

#include "base/records.h"
#include "printing/job/destination.h"
#include "printing/job/job_document.h"
#include "printing/job/job_plan.h"
#include "printing/settings/snapshot.h"

namespace vardelle::printing {

/// Checks, once the document is made and just before the job is created: a document that cupsd
/// keeps until it is printed (the queue route) fits where it keeps it (requireSpoolRoom); and
/// the queue is still the one checked. A temporary queue CUPS made for a printer it only
/// discovered goes a minute after its last use, and a large document can take longer than that
/// to make: it is made again and checked as the first was (`destination` then describes it), and
/// the document already made must still be the one it takes (the same route, sheet and plan).
/// Throws PrintFailure, before any job exists.
void lastCheck(CheckedDestination& destination, const JobPlan& plan, const JobDocument& document,
               const PrintRequest& request, const NativeSnapshot& snapshot);

/// The largest document one job hands cupsd. It keeps the whole of it in its spool folder, on the
/// user's disk, until the job is printed: copies the document holds (a raster for an inkjet,
/// collated sets for a dye-sublimation printer) multiply it.
inline constexpr unsigned long long kMaxJobDocumentBytes = 4'000'000'000ULL;

/// Throws PrintFailure, before any job exists, when a document of `bytes` holding `copies`
/// copies is larger than kMaxJobDocumentBytes, or than `spoolFree`, the room left on the disk of
/// cupsd's spool folder when it is known. Both sizes are said in one unit, gigabytes of 10^9
/// bytes (megabytes when the room is less than one), the document's rounded up and the room
/// rounded down, so that the larger is always said larger.
void requireSpoolRoom(unsigned long long bytes, int copies,
                      std::optional<unsigned long long> spoolFree);

/// The folder where the cupsd of `server` (as cupsServer() names it) keeps a job's document until
/// it is printed, when that cupsd is this machine's (its socket, or localhost on any port): the
/// RequestRoot of `filesConf` (its cups-files.conf), or /var/spool/cups when that names none or
/// cannot be read. None for a print system on another machine.
std::optional<std::string> spoolFolder(const std::string& server, const std::string& filesConf);

/// The room left on the disk of the spool folder of the print system CUPS_SERVER names
/// (spoolFolder, with cups-files.conf in libcups' server root: CUPS_SERVERROOT, else /etc/cups);
/// none when it is not this machine's or the folder cannot be read.
std::optional<unsigned long long> localSpoolFree();

}  // namespace vardelle::printing
