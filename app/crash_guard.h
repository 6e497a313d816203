#pragma once

// The guard around the libraries that read the user's files (qpdf, poppler, Ghostscript, libpng,
// LittleCMS): what they cannot bound themselves ends the run with its one line. The PDF readers'
// own limits (artwork/plain_pdf_reader.h) refuse the files built to exhaust them before they are
// read; this guard is for whatever gets past those.
#include <functional>

#include "base/drawing_deadline.h"

namespace vardelle::app {

/// Ends the run through finishFromSignal with the failure line `sentence` (a string that lives as
/// long as the process) when a library crashes (SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT), with
/// kTooLongToDrawSentence when a page overruns its drawing deadline (SIGXCPU from a
/// DrawingDeadline's timer), and with `processorLimitSentence` when the run spends its
/// processor-time limit (SIGXCPU from the kernel). The handler runs on an alternate signal stack,
/// so a stack overflow reaches it; the calling thread gets one here, runWithLargeStack's thread
/// its own. Callable again to change the sentences. Under AddressSanitizer the crash signals stay
/// the sanitizer's, whose report says more.
void installCrashGuard(const char* sentence,
                       const char* processorLimitSentence = kTooLongToDrawSentence);

/// limitProcessorTime: limits the process's processor time (120 s, then SIGXCPU and the guard's
/// line). limitMemory: limits its private writable memory (RLIMIT_DATA: 512 MB, of which the
/// helper's thread stacks, which the limit counts whether used or not, take a fixed 92 MB; an
/// allocation beyond it fails, and std::bad_alloc becomes "There was not enough memory to finish
/// this operation."). The memory limit is skipped under sanitizers, whose shadow memory counts
/// against it.
void limitMemory();
void limitProcessorTime();

/// Runs `work` on a thread with a 64 MB stack and an alternate signal stack, and waits for it;
/// `work` is expected to end the process. Falls back to running it here when no such thread can
/// be made.
void runWithLargeStack(const std::function<void()>& work);

}  // namespace vardelle::app
