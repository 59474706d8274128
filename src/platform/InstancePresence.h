// The per-user presence that stands for the window class "Zephyrine" (FindWindow on Windows): the
// main window holds a shared lock of its process on "<runtime dir>/Zephyrine.presence" while it
// exists; the program entry asks whether anyone holds it, without taking it. The runtime
// dir is $XDG_RUNTIME_DIR, else a private /tmp/zephyrine-<uid> folder. Several windows may hold
// the presence at once (a second start without an argument runs normally).
#pragma once

#include <string>

namespace zephyrine::platform {

class TInstancePresence {
  public:
    // Takes the presence; a presence that cannot be taken (no usable runtime folder) is simply
    // not held: the program runs, a later start just does not see it.
    TInstancePresence();
    ~TInstancePresence();
    TInstancePresence(const TInstancePresence&) = delete;
    TInstancePresence& operator=(const TInstancePresence&) = delete;

    bool Held() const { return held_; }

    // True when some process holds the presence now.
    static bool IsHeldByAnyone();
    // The presence file, "" when there is no usable runtime folder.
    static std::string PresencePath();

  private:
    bool held_ = false;
};

}  // namespace zephyrine::platform
