#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <string>

namespace vardelle::testing {

/// A private X server (Xvfb, 1280×1024×24, no TCP) on a free display number, started by the
/// constructor and stopped by its PID when it goes. It does not reset when its last client
/// leaves: a server resetting refuses the next helper's connection for a moment. Throws
/// std::runtime_error when it cannot start.
class Xvfb {
 public:
  Xvfb();
  ~Xvfb();
  Xvfb(const Xvfb&) = delete;
  Xvfb& operator=(const Xvfb&) = delete;

  /// ":<n>"
  const std::string& display() const { return display_; }
  /// DISPLAY for this server, and no accessibility bridge (it would look for a session bus).
  std::map<std::string, std::string> env() const;
  /// `rig` (a print rig's environment) with env() and without KORVANEL_PARENT_PID: the helper a
  /// test runs for the dialog has no parent application to watch.
  std::map<std::string, std::string> helperEnv(std::map<std::string, std::string> rig) const;

 private:
  std::string display_;
  pid_t pid_ = -1;
};

/// The id of the first window on `display` whose name contains `name`, waiting up to `limit` for
/// it to appear; empty when none appeared.
std::string findWindow(const std::string& display, const std::string& name,
                       std::chrono::seconds limit = std::chrono::seconds(30));

/// Focuses `windowId` (there is no window manager to do it) and types `key` ("Return", "Escape",
/// "Tab", ...) into it. False when xdotool failed.
bool pressKey(const std::string& display, const std::string& windowId, const std::string& key);

/// Waits up to `limit` for a window named `name`, then types `key` into it until it goes away
/// (a window that has just been mapped may drop the first key). True when a key was typed and
/// the window then disappeared.
bool answerWindow(const std::string& display, const std::string& name, const std::string& key,
                  std::chrono::seconds limit = std::chrono::seconds(30));

}  // namespace vardelle::testing
