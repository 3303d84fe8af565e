#pragma once
// The stop requests of the console (Ctrl-C, a request to end the program)
// for the commands that can stop cleanly. The platform's own file
// (stop_signals_linux.cpp) catches them.
#include <functional>
#include <memory>

class TStopSignals {
public:
    TStopSignals();
    ~TStopSignals();
    TStopSignals(const TStopSignals &) = delete;
    TStopSignals &operator=(const TStopSignals &) = delete;

    // From here on a stop request no longer ends the program at once but is
    // kept for Requested; a second one ends the program. An interrupt that
    // was ignored at start (a background job of a shell) is left alone.
    // With `lastWish`, a thread of its own takes the requests: the second
    // runs lastWish and then ends the program as the request's default
    // action does, even while the job is deep in a wait of its own. Does
    // nothing when already catching.
    void Catch(std::function<void()> lastWish);
    // A stop request arrived since Catch. The first one read lets the next
    // end the program as it would without Catch.
    bool Requested();
    // Gives the requests back (waiting for the thread, and for a last wish
    // under way); one not read yet is dropped. The destructor does it too.
    void Release();

private:
    struct RState;
    std::unique_ptr<RState> F;
};
