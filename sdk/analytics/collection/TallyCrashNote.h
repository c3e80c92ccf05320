#pragma once
// The crash note of a fatal signal. A signal handler may only make async-signal-safe calls, so
// what the error record needs from before the crash (the app version, the session, its start, the
// executable's description) is formatted beforehand, whenever it changes, into a head; the
// handler only writes that head, the signal, the time and the symbolised stack to a file beside
// the cache file. The next start reads the note back and the core turns it into the error record
// and the crashed session's end.
//
// The note lives below the core and the crash handler, which both build on it: the core gathers
// and publishes the head and finishes the note, the handler writes it.

#include <optional>
#include <string>
#include <vector>

#include "foundation/Value.h"

namespace detail {

// Beside the cache file.
std::string tallyCrashNotePath();

// While armed (crash reporting on), a fatal signal leaves a note; disarming forgets the head.
void tallyArmCrashNote(bool armed);
bool tallyCrashNoteArmed();

// What the note holds beyond the signal, known before the crash.
struct TallyCrashNoteHead {
    std::string session;
    double launch = 0;                // the session's start, seconds since 1970
    std::optional<Dictionary> image;  // the executable's description, when known
};
// Formats the head (with the app version) for the handler; nothing while disarmed.
void tallyPrepareCrashNote(const TallyCrashNoteHead& head);

// Writes the note from a signal handler: async-signal-safe. frames[0] is the handler's own frame.
void tallyWriteCrashNote(int signal, void* const* frames, int count);

struct TallyCrashNote {
    std::string version;
    std::string session;
    double launch = 0;  // the session's start and the crash, seconds since 1970
    double time = 0;
    int signal = 0;
    std::optional<Dictionary> image;  // the executable's description, when it was known
    std::vector<std::string> stack;   // symbol lines
};
// Reads and removes the note; nullopt when there is none or it is damaged.
std::optional<TallyCrashNote> tallyTakeCrashNote();

}  // namespace detail
